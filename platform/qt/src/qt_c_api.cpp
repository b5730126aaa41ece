// The Qt part of the C interface (desk_c.h). The run-time loads this library on demand for
// desk_use_platform("qt"), so that the run-time itself never links Qt.
#include <QApplication>
#include <QTimer>
#include <cstring>
#include <exception>
#include <string>

#include "desk/desk_c.h"
#include "desk/qt_platform.h"
#include "desk/text.h"

namespace {

int32_t Fail(desk_error* err, int32_t number, const std::string& text) {
  if (err) {
    err->number = number;
    std::strncpy(err->text, text.c_str(), sizeof err->text - 1);
    err->text[sizeof err->text - 1] = '\0';
    std::strncpy(err->source, "DeskQt", sizeof err->source - 1);
    err->source[sizeof err->source - 1] = '\0';
  }
  return number;
}

int32_t Ok(desk_error* err) {
  if (err) err->number = 0, err->text[0] = '\0', err->source[0] = '\0';
  return 0;
}

int32_t Caught(desk_error* err) {
  try {
    throw;
  } catch (const desk::Error& e) {
    return Fail(err, e.Number(), desk::U8(e.Description()));
  } catch (const std::exception& e) {
    return Fail(err, 5, e.what());
  } catch (...) {
    return Fail(err, 5, "Invalid procedure call or argument");
  }
}

void (*g_flush)() = nullptr;

}  // namespace

extern "C" {

// Creates the application object when the host has none, and installs the Qt platform.
DESK_C_API int32_t DeskQt_CInstall(void (*flush)(), desk_error* err) {
  try {
    g_flush = flush;
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
    QWidget* w = desk::ControlWidget(*control);
    if (!w) return Fail(err, 438, "The object has no window on the Qt platform");
    w->setWindowTitle(QString::fromUtf8(title));
    if (width > 0 && height > 0) w->resize(width, height);
    w->show();
    return Ok(err);
  } catch (...) {
    return Caught(err);
  }
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

// Releases made inside an event handler run once the loop is idle again.
DESK_C_API void DeskQt_CPost() {
  if (g_flush) QTimer::singleShot(0, [] { g_flush(); });
}

}  // extern "C"
