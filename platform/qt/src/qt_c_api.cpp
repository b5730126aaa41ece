// The Qt part of the C interface (desk_c.h). The run-time loads this library on demand for
// desk_use_platform("qt"), so that the run-time itself never links Qt. The host's own
// application object is used when it has one (a C++ host's, PyQt6's, PySide6's): its event
// loop (app.exec()) then delivers the controls' events and runs what desk_post queued.
#include <QApplication>
#include <QThread>
#include <exception>
#include <string>

#include "desk/desk_c.h"
#include "desk/qt_platform.h"
#include "desk/text.h"
#include "desk/trap.h"

namespace {

// `text` in UTF-8 or UTF-16, cut at a whole character when the record is full.
template <class Text>
int32_t Fail(desk_error* err, int32_t number, const Text& text) {
  if (err) {
    err->number = number;
    desk::CopyUtf8(text, err->text, sizeof err->text);
    desk::CopyUtf8("DeskQt", err->source, sizeof err->source);
  }
  return number;
}

int32_t Ok(desk_error* err) {
  if (err) err->number = 0, err->text[0] = '\0', err->source[0] = '\0';
  return 0;
}

// The exception being handled, as every trap maps it (7 for exhausted memory).
int32_t Caught(desk_error* err) {
  try {
    const desk::TrappedError e = desk::TrappedErrorOf(std::current_exception());
    return Fail(err, e.number, e.description);
  } catch (...) {
    return Fail(err, 7, "Out of memory");  // the text could not be copied
  }
}

void (*g_idle)() = nullptr;

// 0 and the control's surface widget, or 438 in the record.
int32_t WidgetOf(desk::Object* control, QWidget*& out, desk_error* err) {
  out = desk::ControlWidget(*control);
  return out ? 0 : Fail(err, 438, "The object has no window on the Qt platform");
}

}  // namespace

extern "C" {

// Creates the application object when the host has none, and installs the Qt platform. The
// application's thread must be the caller's: the controls' widgets live there.
DESK_C_API int32_t DeskQt_CInstall(void (*idle)(), desk_error* err) {
  try {
    if (QCoreApplication* app = QCoreApplication::instance(); app && app->thread() != QThread::currentThread())
      return Fail(err, DESK_E_WRONG_THREAD, "The application object lives on another thread");
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
    return Caught(err);
  }
}

DESK_C_API int32_t DeskQt_CShow(desk::Object* control, const char* title, int32_t width, int32_t height,
                                desk_error* err) {
  try {
    QWidget* w = nullptr;
    if (int32_t e = WidgetOf(control, w, err)) return e;
    w->setWindowTitle(QString::fromUtf8(title));
    if (width > 0 && height > 0) w->resize(width, height);
    w->show();
    return Ok(err);
  } catch (...) {
    return Caught(err);
  }
}

DESK_C_API int32_t DeskQt_CWidget(desk::Object* control, void** widget, desk_error* err) {
  QWidget* w = nullptr;
  if (int32_t e = WidgetOf(control, w, err)) return e;
  *widget = w;
  return Ok(err);
}

DESK_C_API int32_t DeskQt_CRun(desk_error* err) {
  try {
    QApplication::exec();
    return Ok(err);
  } catch (...) {
    return Caught(err);
  }
}

// Queued, so that a quit asked for before the loop starts still ends it.
DESK_C_API int32_t DeskQt_CQuit(desk_error* err) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
  return Ok(err);
}

// Runs the idle function on the application's thread once its loop gets there: releases made
// inside an event handler, calls posted from any thread. Any thread may call this.
DESK_C_API void DeskQt_CPost() {
  if (QCoreApplication* app = QCoreApplication::instance(); app && g_idle)
    QMetaObject::invokeMethod(app, [] { g_idle(); }, Qt::QueuedConnection);
}

}  // extern "C"
