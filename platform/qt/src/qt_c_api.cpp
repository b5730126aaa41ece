// The Qt part of the C interface (desk_c.h). The run-time loads this library on demand for
// desk_use_platform("qt"), so that the run-time itself never links Qt. The host's own
// application object is used when it has one (a C++ host's, PyQt6's, PySide6's): its event
// loop (app.exec()) then delivers the controls' events and runs what desk_post queued.
#include <QApplication>
#include <QThread>

#include "capi/error_record.h"
#include "capi/qt_entry.h"
#include "desk/desk_c.h"
#include "desk/qt_platform.h"

namespace {

using desk::capi::Fail;
using desk::capi::Ok;

// The source of this library's own failures.
constexpr std::string_view kSource = "DeskQt";

void (*g_idle)() = nullptr;

// 0 and the control's surface widget, or 438 in the record.
int32_t WidgetOf(desk::Object* control, QWidget*& out, desk_error* err) {
  out = desk::ControlWidget(*control);
  return out ? 0 : Fail(err, DESK_E_NOT_SUPPORTED, "The object has no window on the Qt platform", kSource);
}

// Creates the application object when the host has none, and installs the Qt platform. The
// application's thread must be the caller's: the controls' widgets live there.
int32_t Install(void (*idle)(), desk_error* err) {
  try {
    if (QCoreApplication* app = QCoreApplication::instance(); app && app->thread() != QThread::currentThread())
      return Fail(err, DESK_E_WRONG_THREAD, "The application object lives on another thread", kSource);
    g_idle = idle;
    if (!QApplication::instance()) {
      static int argc = 1;
      static char name[] = "desk";
      static char* argv[] = {name, nullptr};
      new QApplication(argc, argv);  // lives as long as the process
    }
    desk::SetPlatform(desk::MakeQtPlatform());
    return Ok(err);
  } catch (...) {
    return desk::capi::Translate(err, kSource);
  }
}

int32_t Show(desk::Object* control, const char* title, int32_t width, int32_t height, desk_error* err) {
  try {
    QWidget* w = nullptr;
    if (int32_t e = WidgetOf(control, w, err)) return e;
    w->setWindowTitle(QString::fromUtf8(title));
    if (width > 0 && height > 0) w->resize(width, height);
    w->show();
    return Ok(err);
  } catch (...) {
    return desk::capi::Translate(err, kSource);
  }
}

int32_t Widget(desk::Object* control, void** widget, desk_error* err) {
  QWidget* w = nullptr;
  if (int32_t e = WidgetOf(control, w, err)) return e;
  *widget = w;
  return Ok(err);
}

int32_t Run(desk_error* err) {
  try {
    QApplication::exec();
    return Ok(err);
  } catch (...) {
    return desk::capi::Translate(err, kSource);
  }
}

// Queued, so that a quit asked for before the loop starts still ends it.
int32_t Quit(desk_error* err) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
  return Ok(err);
}

// Runs the idle function on the application's thread once its loop gets there: releases made
// inside an event handler, calls posted from any thread. Any thread may call this.
void Post() {
  if (QCoreApplication* app = QCoreApplication::instance(); app && g_idle)
    QMetaObject::invokeMethod(app, [] { g_idle(); }, Qt::QueuedConnection);
}

}  // namespace

// Every field filled, each by a function of its declared type: a changed signature on either
// side does not build.
const desk::capi::QtEntry* DeskQt_CEntry() {
  static const desk::capi::QtEntry entry{
      .install = &Install, .show = &Show, .widget = &Widget, .run = &Run, .quit = &Quit, .post = &Post};
  return &entry;
}
