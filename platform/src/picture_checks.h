// A test hook into the picture loader. A bitmap's size is checked twice: against its headers
// before gdk-pixbuf sees it, and inside gdk-pixbuf when the loader reports the size it is
// about to allocate. With the first in place the second never fires, so a test decodes
// through gdk-pixbuf alone to see that one hold by itself.
#pragma once

#include <cstdint>
#include <span>

#include "desk/picture_loader.h"

namespace desk::detail {

// `type` is gdk-pixbuf's name of the format ("bmp", "ico"). Exported for the tests, though
// declared in no installed header.
DESK_API Decoded DecodeWithPixbufOnly(const char* type, std::span<const uint8_t> bytes);

}  // namespace desk::detail
