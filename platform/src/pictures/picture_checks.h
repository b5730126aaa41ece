// Test hooks into the picture loader. Bitmaps and icons are checked twice: against their
// headers before gdk-pixbuf sees them, and by gdk-pixbuf itself (its own checks, and the size
// limit when the loader reports the size it is about to allocate). Each layer hides the loss
// of the other, so a test reaches each one alone.
#pragma once

#include <cstdint>
#include <span>

#include "autotest_export.h"
#include "desk/picture_loader.h"

namespace desk::detail {

// `type` is gdk-pixbuf's name of the format ("bmp", "ico"). For the tests alone (see
// autotest_export.h), as are the two below.
DESK_AUTOTEST_API Decoded DecodeWithPixbufOnly(const char* type, std::span<const uint8_t> bytes);

// The header checks alone: whether a BMP file, or the bitmap of an icon entry (from its info
// header on), holds everything its headers promise, in a layout gdk-pixbuf draws.
DESK_AUTOTEST_API bool BmpHeadersHold(std::span<const uint8_t> file);
DESK_AUTOTEST_API bool IconBitmapHeadersHold(std::span<const uint8_t> dib);

}  // namespace desk::detail
