// Pictures come from servers the host does not control: decoding any bytes either gives a
// picture whose pixel buffer matches its size, or fails with 481, at full size and at a
// list's size.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "desk/error.h"
#include "desk/picture_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    desk::Ref<desk::Picture> p = desk::DecodePicture(std::span<const uint8_t>(data, size));
    if (!p) std::abort();
    if (!p->Empty()) {
      if (p->width <= 0 || p->height <= 0) std::abort();
      if (int64_t{p->width} * p->height > desk::kMaxPicturePixels) std::abort();
      if (p->pixels.size() != static_cast<size_t>(p->width) * static_cast<size_t>(p->height)) std::abort();
      // The bytes are kept so that the picture can persist itself.
      if (p->encoded.empty()) std::abort();
    }
  } catch (const desk::Error& e) {
    if (e.Number() != static_cast<int32_t>(desk::Err::InvalidPicture)) std::abort();
  }
  // The scaled path (reduced DCT scale, area average) that lists use, on the same bytes.
  try {
    const int32_t w = size > 0 ? 1 + data[0] % 64 : 16, h = size > 1 ? 1 + data[1] % 64 : 16;
    desk::Decoded d = desk::DecodePixels(std::span<const uint8_t>(data, size), w, h);
    if (d.outWidth != w || d.outHeight != h) std::abort();
    if (d.pixels.size() != static_cast<size_t>(w) * static_cast<size_t>(h)) std::abort();
    if (d.width <= 0 || d.height <= 0) std::abort();
  } catch (const desk::Error& e) {
    if (e.Number() != static_cast<int32_t>(desk::Err::InvalidPicture)) std::abort();
  }
  return 0;
}
