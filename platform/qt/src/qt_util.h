// Small conversions shared by the Qt backend: text, units, input masks and key codes,
// pictures.
#pragma once

#include <QCoreApplication>
#include <QImage>
#include <QPixmap>
#include <QtGlobal>
#include <exception>
#include <QString>
#include <Qt>
#include <cmath>
#include <string>
#include <string_view>

#include "desk/error.h"
#include "desk/font.h"
#include "desk/imagelist.h"
#include "desk/qt_platform.h"
#include "desk/text.h"

namespace desk::qtb {

inline QString Q(std::u16string_view s) {
  return QString(reinterpret_cast<const QChar*>(s.data()), static_cast<qsizetype>(s.size()));
}
inline std::u16string U(const QString& s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size()));
}

inline float ToTwips(double px) { return static_cast<float>(px * kTwipsPerPixel); }
inline int ToPixels(float twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }

// Runs code that Qt's event handling called. A failure (a host's event handler may fail)
// cannot travel through Qt's event loop, so it ends the event here and is logged.
template <class F>
void Shielded(const char* what, F&& f) noexcept {
  try {
    f();
  } catch (const Error& e) {
    qWarning("desk: %s: error %d: %s", what, static_cast<int>(e.Number()), U8(e.Description()).c_str());
  } catch (const std::exception& e) {
    qWarning("desk: %s: %s", what, e.what());
  }
}

// Whether widgets may still be deleted: not once the application object is being destroyed or
// is gone (an interpreter shutting down may release a control after it). Qt has then torn down
// what a widget needs to go, so the widget is left to the ending process.
inline bool CanDeleteWidgets() { return QCoreApplication::instance() && !QCoreApplication::closingDown(); }

// The event masks: buttons left 1, right 2, middle 4; shift 1, ctrl 2, alt 4.
int16_t ButtonOf(Qt::MouseButton b);
int16_t ButtonMask(Qt::MouseButtons b);
int16_t ShiftMask(Qt::KeyboardModifiers m);
Qt::KeyboardModifiers ModifiersOf(int16_t shift);

// The platform's key codes (letters and digits are their upper-case character codes,
// F1 112, arrows 37..40, ...) for a Qt key; 0 when it has none.
int16_t KeyCodeOf(int qtKey);
// The Qt key for a key code; Qt::Key_unknown when none.
int QtKeyOf(int16_t keyCode);

// A copy of the picture's pixels (0xAARRGGBB, not premultiplied) as a QImage.
QImage ToQImage(const Picture& p);

}  // namespace desk::qtb
