#include "qt_util.h"

#include <array>
#include <utility>

namespace desk::qtb {

int16_t ButtonOf(Qt::MouseButton b) {
  switch (b) {
    case Qt::LeftButton: return 1;
    case Qt::RightButton: return 2;
    case Qt::MiddleButton: return 4;
    default: return 0;
  }
}

int16_t ButtonMask(Qt::MouseButtons b) {
  return static_cast<int16_t>((b & Qt::LeftButton ? 1 : 0) | (b & Qt::RightButton ? 2 : 0) |
                              (b & Qt::MiddleButton ? 4 : 0));
}

int16_t ShiftMask(Qt::KeyboardModifiers m) {
  return static_cast<int16_t>((m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) |
                              (m & Qt::AltModifier ? 4 : 0));
}

Qt::KeyboardModifiers ModifiersOf(int16_t shift) {
  Qt::KeyboardModifiers m;
  if (shift & 1) m |= Qt::ShiftModifier;
  if (shift & 2) m |= Qt::ControlModifier;
  if (shift & 4) m |= Qt::AltModifier;
  return m;
}

namespace {

// Keys whose code is not computed from a range below.
constexpr std::array<std::pair<int, int16_t>, 38> kKeys{{
    {Qt::Key_Backspace, 8},   {Qt::Key_Tab, 9},        {Qt::Key_Backtab, 9},      {Qt::Key_Clear, 12},
    {Qt::Key_Return, 13},     {Qt::Key_Enter, 13},     {Qt::Key_Shift, 16},       {Qt::Key_Control, 17},
    {Qt::Key_Alt, 18},        {Qt::Key_Pause, 19},     {Qt::Key_CapsLock, 20},    {Qt::Key_Escape, 27},
    {Qt::Key_Space, 32},      {Qt::Key_PageUp, 33},    {Qt::Key_PageDown, 34},    {Qt::Key_End, 35},
    {Qt::Key_Home, 36},       {Qt::Key_Left, 37},      {Qt::Key_Up, 38},          {Qt::Key_Right, 39},
    {Qt::Key_Down, 40},       {Qt::Key_Print, 44},     {Qt::Key_Insert, 45},      {Qt::Key_Delete, 46},
    {Qt::Key_Help, 47},       {Qt::Key_NumLock, 144},  {Qt::Key_ScrollLock, 145}, {Qt::Key_Semicolon, 186},
    {Qt::Key_Equal, 187},     {Qt::Key_Comma, 188},    {Qt::Key_Minus, 189},      {Qt::Key_Period, 190},
    {Qt::Key_Slash, 191},     {Qt::Key_QuoteLeft, 192}, {Qt::Key_BracketLeft, 219}, {Qt::Key_Backslash, 220},
    {Qt::Key_BracketRight, 221}, {Qt::Key_Menu, 93},
}};

}  // namespace

int16_t KeyCodeOf(int qtKey) {
  if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return static_cast<int16_t>(qtKey);  // 65..90
  if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return static_cast<int16_t>(qtKey);  // 48..57
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return static_cast<int16_t>(112 + (qtKey - Qt::Key_F1));
  if (qtKey == Qt::Key_Apostrophe) return 222;
  for (const auto& [q, code] : kKeys)
    if (q == qtKey) return code;
  return 0;
}

int QtKeyOf(int16_t code) {
  if ((code >= 65 && code <= 90) || (code >= 48 && code <= 57)) return code;
  if (code >= 112 && code <= 135) return Qt::Key_F1 + (code - 112);
  if (code == 222) return Qt::Key_Apostrophe;
  for (const auto& [q, c] : kKeys)
    if (c == code) return q;
  return Qt::Key_unknown;
}

QImage ToQImage(const Picture& p) {
  if (p.Empty() || p.width <= 0 || p.height <= 0) return QImage();
  // Decoded here when the picture keeps none (a large picture drawn at full size).
  const std::vector<uint32_t> px = p.Pixels();
  if (px.size() != static_cast<size_t>(p.width) * static_cast<size_t>(p.height)) return QImage();
  QImage view(reinterpret_cast<const uchar*>(px.data()), p.width, p.height, p.width * 4, QImage::Format_ARGB32);
  return view.copy();  // the image owns its pixels
}

}  // namespace desk::qtb
