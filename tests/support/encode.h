// Making test pictures: RGB pixels of a smooth pattern with some noise, encoded as JPEG
// (libjpeg) or PNG (libpng), so that tests and benchmarks need no picture files of size.
#pragma once

#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// `cmyk`: four bytes a pixel, written with the Adobe marker (values stored as 255 - ink).
inline std::string EncodeJpeg(const std::vector<uint8_t>& rgb, int w, int h, int quality = 90, bool cmyk = false) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = cmyk ? 4 : 3;
  c.in_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb.data() + static_cast<size_t>(c.next_scanline) * static_cast<size_t>(w) *
                                        static_cast<size_t>(c.input_components));
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  std::string bytes(reinterpret_cast<const char*>(out), size);
  jpeg_destroy_compress(&c);
  std::free(out);
  return bytes;
}

// A black grey-scale picture of any size, written row by row: pictures past the pixel limit
// without their pixels ever being held. "jpeg" or "png" (one bit a pixel).
inline std::string EncodeBlank(const char* format, int w, int h) {
  std::vector<uint8_t> row(static_cast<size_t>(w), 0);
  if (std::string(format) == "jpeg") {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    JSAMPROW r = row.data();
    while (c.next_scanline < c.image_height) jpeg_write_scanlines(&c, &r, 1);
    jpeg_finish_compress(&c);
    std::string bytes(reinterpret_cast<const char*>(out), size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
  }
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
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 1, PNG_COLOR_TYPE_GRAY,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < h; ++y) png_write_row(png, row.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return bytes;
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
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_bytep> rows(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y)
    rows[static_cast<size_t>(y)] = const_cast<png_bytep>(rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * 3);
  png_set_rows(png, info, rows.data());
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw std::runtime_error("png");
  }
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return bytes;
}

}  // namespace testenv
