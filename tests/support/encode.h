// Making test pictures: RGB pixels of a smooth pattern with some noise, encoded as JPEG
// (libjpeg) or PNG (libpng), so that tests and benchmarks need no picture files of size.
#pragma once

#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <jpeglib.h>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace testenv {

// w x h RGB bytes: gradients plus noise of +-`noise`, the same for the same seed.
inline std::vector<uint8_t> PatternRgb(int w, int h, unsigned seed, int noise = 12) {
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * static_cast<size_t>(h) * 3);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> n(-noise, noise);
  size_t i = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      // A triangle wave for the third channel: no hard edge anywhere.
      const int t = ((x + y) * 510 / (w + h) + static_cast<int>(seed) * 37) % 510;
      const int base[3] = {x * 255 / w, y * 255 / h, t < 256 ? t : 510 - t};
      for (int c = 0; c < 3; ++c) rgb[i++] = static_cast<uint8_t>(std::clamp(base[c] + (noise ? n(rng) : 0), 0, 255));
    }
  return rgb;
}

// w x h RGB bytes that compress as a camera photo does at JPEG quality 90 (about 0.85 bits a
// pixel): the gradients and grain of PatternRgb, under rectangles of shifted colour with
// hard edges.
inline std::vector<uint8_t> PhotoRgb(int w, int h, unsigned seed) {
  std::vector<uint8_t> rgb = PatternRgb(w, h, seed, 4);
  std::mt19937 rng(seed * 7919u + 1);
  for (int k = 0; k < 40; ++k) {
    const int x0 = static_cast<int>(rng() % static_cast<unsigned>(w)), y0 = static_cast<int>(rng() % static_cast<unsigned>(h));
    const int bw = 50 + static_cast<int>(rng() % static_cast<unsigned>(w / 4)), bh = 50 + static_cast<int>(rng() % static_cast<unsigned>(h / 4));
    int shift[3];
    for (int& d : shift) d = static_cast<int>(rng() % 121) - 60;
    for (int y = y0; y < std::min(h, y0 + bh); ++y)
      for (int x = x0; x < std::min(w, x0 + bw); ++x)
        for (int c = 0; c < 3; ++c) {
          uint8_t& v = rgb[(static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 3 + static_cast<size_t>(c)];
          v = static_cast<uint8_t>(std::clamp(v + shift[c], 0, 255));
        }
  }
  return rgb;
}

// libjpeg's compressor over rows that `row(y)` gives, `components` bytes a pixel.
template <class Row>
std::string WriteJpeg(int w, int h, int components, J_COLOR_SPACE space, int quality, Row row) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = components;
  c.in_color_space = space;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW r = row(static_cast<int>(c.next_scanline));
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  std::string bytes(reinterpret_cast<const char*>(out), size);
  jpeg_destroy_compress(&c);
  std::free(out);
  return bytes;
}

// libpng's writer over rows that `row(y)` gives, in the layout the header names.
// `extra` adds chunks before the pixels (a palette, transparency).
template <class Row>
std::string WritePng(int w, int h, int depth, int colour, int interlace, Row row,
                     const std::function<void(png_structp, png_infop)>& extra = {}) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) throw std::runtime_error("png");
  std::string bytes;
  png_set_write_fn(
      png, &bytes,
      [](png_structp p, png_bytep data, size_t n) {
        static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), n);
      },
      nullptr);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw std::runtime_error("png");
  }
  // Any size the format allows, past libpng's default limits: the reader's limits are under test.
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), depth, colour, interlace,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (extra) extra(png, info);
  png_write_info(png, info);
  const int passes = png_set_interlace_handling(png);
  for (int p = 0; p < passes; ++p)
    for (int y = 0; y < h; ++y) png_write_row(png, row(y));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return bytes;
}

// `cmyk`: four bytes a pixel, written with the Adobe marker (values stored as 255 - ink).
inline std::string EncodeJpeg(const std::vector<uint8_t>& rgb, int w, int h, int quality = 90, bool cmyk = false) {
  const int components = cmyk ? 4 : 3;
  return WriteJpeg(w, h, components, cmyk ? JCS_CMYK : JCS_RGB, quality, [&](int y) {
    return const_cast<JSAMPROW>(rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * static_cast<size_t>(components));
  });
}

// A black grey-scale picture of any size, written row by row: pictures past the pixel limit
// without their pixels ever being held. "jpeg" or "png" (one bit a pixel).
inline std::string EncodeBlank(const char* format, int w, int h) {
  std::vector<uint8_t> row(static_cast<size_t>(w), 0);
  if (std::string(format) == "jpeg") return WriteJpeg(w, h, 1, JCS_GRAYSCALE, 75, [&](int) { return row.data(); });
  return WritePng(w, h, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, [&](int) { return row.data(); });
}

// `rgba`: four bytes a pixel, the last one alpha.
inline std::string EncodePng(const std::vector<uint8_t>& rgb, int w, int h, bool rgba = false) {
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  img.width = static_cast<png_uint_32>(w);
  img.height = static_cast<png_uint_32>(h);
  img.format = rgba ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&img, nullptr, &size, 0, rgb.data(), 0, nullptr)) throw std::runtime_error("png");
  std::string bytes(size, '\0');
  if (!png_image_write_to_memory(&img, bytes.data(), &size, 0, rgb.data(), 0, nullptr)) throw std::runtime_error("png");
  bytes.resize(size);
  return bytes;
}

// Adam7-interlaced RGB: the simplified writer above cannot interlace.
inline std::string EncodePngInterlaced(const std::vector<uint8_t>& rgb, int w, int h) {
  return WritePng(w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7, [&](int y) {
    return const_cast<png_bytep>(rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * 3);
  });
}

}  // namespace testenv
