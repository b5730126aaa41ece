// Small pictures made in the test itself: a 24-bit BMP of any size and colours, decoded by the
// platform's picture loader like a picture from a file.
#pragma once

#include <cstdint>
#include <vector>

#include "desk/picture_loader.h"

namespace desk_test {

// A width x height BMP whose pixel (x, y) has the colour rgb(x, y) (0xRRGGBB).
template <class F>
std::vector<uint8_t> MakeBmp(int32_t width, int32_t height, F rgb) {
  const uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
  const uint32_t pixelBytes = rowBytes * static_cast<uint32_t>(height);
  std::vector<uint8_t> b;
  auto u16 = [&](uint32_t v) { b.push_back(v & 0xFF), b.push_back((v >> 8) & 0xFF); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  b.push_back('B'), b.push_back('M');
  u32(54 + pixelBytes), u32(0), u32(54);
  u32(40), u32(static_cast<uint32_t>(width)), u32(static_cast<uint32_t>(height)), u16(1), u16(24), u32(0),
      u32(pixelBytes), u32(2835), u32(2835), u32(0), u32(0);
  for (int32_t y = height - 1; y >= 0; --y) {  // bottom-up rows
    uint32_t written = 0;
    for (int32_t x = 0; x < width; ++x, written += 3) {
      uint32_t c = rgb(x, y);
      b.push_back(c & 0xFF), b.push_back((c >> 8) & 0xFF), b.push_back((c >> 16) & 0xFF);
    }
    for (; written < rowBytes; ++written) b.push_back(0);
  }
  return b;
}

// A decoded picture with a recognisable pattern; `seed` changes every pixel.
inline desk::Ref<desk::Picture> MakePicture(int32_t width = 3, int32_t height = 2, uint32_t seed = 0) {
  return desk::DecodePicture(MakeBmp(width, height, [seed](int32_t x, int32_t y) {
    return (static_cast<uint32_t>(x) * 0x4010 + static_cast<uint32_t>(y) * 0x300007 + seed * 0x10101) & 0xFFFFFF;
  }));
}

}  // namespace desk_test
