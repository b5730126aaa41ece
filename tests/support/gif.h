// Small GIF files made in the test itself with giflib's encoder: a logical screen and frames
// at offsets, with their own colour tables, transparency and interlacing.
#pragma once

#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace testenv {

struct GifFrame {
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<uint8_t> indexes;  // width x height colour indexes, row by row
  std::vector<uint32_t> colours;  // its own colour table (0xRRGGBB), or none: the screen's
  bool interlace = false;         // rows stored in the four passes
  int transparent = -1;           // a graphics control block before it names this index
};

inline GifFrame Frame(int left, int top, int width, int height, std::vector<uint8_t> indexes,
                      std::vector<uint32_t> colours = {}, bool interlace = false, int transparent = -1) {
  GifFrame f;
  f.left = left, f.top = top, f.width = width, f.height = height;
  f.indexes = std::move(indexes);
  f.colours = std::move(colours);
  f.interlace = interlace;
  f.transparent = transparent;
  return f;
}

namespace detail {

inline int GifWrite(GifFileType* gif, const GifByteType* bytes, int n) {
  static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
  return n;
}

// A colour table of 2, 4, ... entries (the format's only sizes), padded with black.
inline ColorMapObject* GifColours(const std::vector<uint32_t>& colours) {
  int size = 2;
  while (size < static_cast<int>(colours.size())) size *= 2;
  std::vector<GifColorType> c(static_cast<size_t>(size), GifColorType{0, 0, 0});
  for (size_t i = 0; i < colours.size(); ++i)
    c[i] = GifColorType{static_cast<GifByteType>(colours[i] >> 16), static_cast<GifByteType>(colours[i] >> 8),
                        static_cast<GifByteType>(colours[i])};
  return GifMakeMapObject(size, c.data());
}

}  // namespace detail

inline std::string EncodeGif(int screenWidth, int screenHeight, const std::vector<uint32_t>& screenColours,
                             const std::vector<GifFrame>& frames) {
  std::string out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, detail::GifWrite, &error);
  if (!gif) throw std::runtime_error("gif");
  EGifSetGifVersion(gif, true);
  bool ok = true;
  ColorMapObject* screenMap = screenColours.empty() ? nullptr : detail::GifColours(screenColours);
  ok = EGifPutScreenDesc(gif, screenWidth, screenHeight, 8, 0, screenMap) == GIF_OK;
  GifFreeMapObject(screenMap);
  for (const GifFrame& f : frames) {
    if (!ok) break;
    if (f.transparent >= 0) {
      GraphicsControlBlock gcb{};
      gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
      gcb.TransparentColor = f.transparent;
      GifByteType ext[4];
      const size_t n = EGifGCBToExtension(&gcb, ext);
      ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext) == GIF_OK;
    }
    ColorMapObject* map = f.colours.empty() ? nullptr : detail::GifColours(f.colours);
    ok = ok && EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, f.interlace, map) == GIF_OK;
    GifFreeMapObject(map);
    std::vector<int> order;
    if (f.interlace) {
      const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
      for (int p = 0; p < 4; ++p)
        for (int y = start[p]; y < f.height; y += step[p]) order.push_back(y);
    } else {
      for (int y = 0; y < f.height; ++y) order.push_back(y);
    }
    for (int y : order) {
      if (!ok) break;
      // giflib reads a first pixel even from a line of none (a frame of no columns).
      std::vector<GifPixelType> line(static_cast<size_t>(std::max(f.width, 1)), 0);
      std::copy(f.indexes.begin() + y * f.width, f.indexes.begin() + (y + 1) * f.width, line.begin());
      ok = EGifPutLine(gif, line.data(), f.width) == GIF_OK;
    }
  }
  if (EGifCloseFile(gif, &error) != GIF_OK || !ok) throw std::runtime_error("gif");
  return out;
}

}  // namespace testenv
