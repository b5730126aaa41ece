// The decoders: libjpeg-turbo, libpng and giflib directly; BMP and icon images through
// gdk-pixbuf after their headers were checked against the bytes.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gif_lib.h>
#include <png.h>
#include <setjmp.h>

// jpeglib.h needs size_t and FILE declared first.
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <tuple>

#include "pictures/decoders.h"

namespace desk::detail {

std::optional<Format> Sniff(std::span<const uint8_t> b) {
  auto starts = [&](std::initializer_list<uint8_t> m) {
    return b.size() >= m.size() && std::equal(m.begin(), m.end(), b.begin());
  };
  if (starts({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return Format::Png;
  if (starts({'G', 'I', 'F', '8', '7', 'a'}) || starts({'G', 'I', 'F', '8', '9', 'a'})) return Format::Gif;
  if (starts({0xFF, 0xD8, 0xFF})) return Format::Jpeg;
  if (starts({'B', 'M'})) return Format::Bmp;
  if (starts({0x00, 0x00, 0x01, 0x00})) return Format::Ico;
  return std::nullopt;
}

void Invalid() { Raise(Err::InvalidPicture); }

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// --- JPEG ---------------------------------------------------------------------------------

struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

void JpegFail(j_common_ptr cinfo) { longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1); }

// Warnings about the image data (premature end, bad Huffman code, extraneous bytes, ...) are
// refused; those about metadata the pixels do not depend on are not.
void JpegMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  const int code = cinfo->err->msg_code;
  if (code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM || code == JWRN_BOGUS_ICC) return;
  longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

// Separate from DecodeJpeg so that no object with a destructor lives across setjmp.
bool JpegRun(jpeg_decompress_struct& cinfo, JpegError& err, std::span<const uint8_t> b, Output& out,
             std::vector<uint32_t>& row) {
  if (setjmp(err.jump)) return false;
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, b.data(), static_cast<unsigned long>(b.size()));
  // With an image required and the whole file in memory, it answers JPEG_HEADER_OK or fails
  // through JpegFail.
  (void)jpeg_read_header(&cinfo, TRUE);
  const auto w = static_cast<int32_t>(cinfo.image_width), h = static_cast<int32_t>(cinfo.image_height);
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;  // BGRA bytes are 0xAARRGGBB words
  // The smallest DCT scale (in eighths) that still covers the target: the rest is averaged.
  const auto [tw, th] = out.Target(w, h);
  unsigned m = 1;
  while (m < 8 && (int64_t{w} * m < int64_t{tw} * 8 || int64_t{h} * m < int64_t{th} * 8)) ++m;
  // One scale coarser when its rows are kept as they come: the preview of a full-HD or
  // 2000-pixel photo then comes from the coarsest scale, with no averaging.
  auto scaled = [&](int32_t side, unsigned k) { return static_cast<int32_t>((int64_t{side} * k + 7) / 8); };
  if (m > 1 && out.TakesRows(w, h, scaled(w, m - 1), scaled(h, m - 1))) --m;
  cinfo.scale_num = m;
  cinfo.scale_denom = 8;
  cinfo.dct_method = JDCT_ISLOW;
  // A reduced picture is averaged again afterwards: the plain chroma upsampling does as well.
  if (m < 8) cinfo.do_fancy_upsampling = FALSE;
  // Start refuses a picture over the limit before libjpeg allocates anything for it (a
  // progressive picture's coefficients are allocated whole when the decompression starts).
  jpeg_calc_output_dimensions(&cinfo);
  const auto ow = static_cast<int32_t>(cinfo.output_width), oh = static_cast<int32_t>(cinfo.output_height);
  out.Start(w, h, ow, oh);
  jpeg_start_decompress(&cinfo);
  // libjpeg-turbo writes a row that starts on a 16-byte boundary with stores that bypass the
  // cache, so reading such a row back at once waits for memory. A row this code reads again
  // (to average it, or to convert CMYK) starts 4 bytes past a boundary; one kept as it comes
  // is written in place.
  auto offBoundary = [](auto* p) {
    while ((reinterpret_cast<uintptr_t>(p) & 15) != 4) ++p;
    return p;
  };
  row.resize(static_cast<size_t>(ow) + 4);
  uint32_t* spare = offBoundary(row.data());
  static thread_local std::vector<uint32_t> cmykRow;
  if (cmyk) cmykRow.resize(static_cast<size_t>(ow) + 4);
  while (cinfo.output_scanline < cinfo.output_height) {
    uint32_t* to = out.RowTarget(spare);
    const uint8_t* ink = cmyk ? reinterpret_cast<const uint8_t*>(offBoundary(cmykRow.data())) : nullptr;
    JSAMPROW line = cmyk ? const_cast<JSAMPROW>(ink) : reinterpret_cast<JSAMPROW>(to);
    if (jpeg_read_scanlines(&cinfo, &line, 1) != 1) return false;
    if (cmyk) {
      // Adobe writes CMYK inverted: the stored values are already 255 - ink.
      for (int32_t x = 0; x < ow; ++x) {
        const uint8_t* p = &ink[static_cast<size_t>(x) * 4];
        const uint32_t k = p[3];
        to[x] = 0xFF000000u | ((p[0] * k / 255) << 16) | ((p[1] * k / 255) << 8) | (p[2] * k / 255);
      }
    }
    out.Row(to);
  }
  jpeg_finish_decompress(&cinfo);  // reads on to the end marker, so a cut tail is noticed
  return true;
}

void DecodeJpeg(std::span<const uint8_t> b, Output& out) {
  jpeg_decompress_struct cinfo{};
  JpegError err{};
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegFail;
  err.mgr.emit_message = JpegMessage;
  std::vector<uint32_t> row;
  bool ok = false;
  try {
    ok = JpegRun(cinfo, err, b, out, row);
  } catch (...) {
    jpeg_destroy_decompress(&cinfo);
    throw;
  }
  jpeg_destroy_decompress(&cinfo);
  if (!ok) Invalid();
}

// --- PNG ----------------------------------------------------------------------------------

struct PngSource {
  std::span<const uint8_t> bytes;
  size_t at = 0;
};

void PngRead(png_structp png, png_bytep to, size_t n) {
  auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
  if (n > src->bytes.size() - src->at) png_error(png, "data ends early");
  std::memcpy(to, src->bytes.data() + src->at, n);
  src->at += n;
}

void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

bool PngRun(png_structp png, png_infop info, Output& out, std::vector<uint32_t>& rows, std::vector<uint32_t>& row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_user_limits(png, 1u << 20, 1u << 20);
  png_read_info(png, info);
  png_uint_32 w = 0, h = 0;
  int depth = 0, color = 0, interlace = 0;
  png_get_IHDR(png, info, &w, &h, &depth, &color, &interlace, nullptr, nullptr);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_set_bgr(png);  // BGRA bytes are 0xAARRGGBB words
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t{w} * 4) return false;
  // Refuses a picture over the limit before anything the size of its pixels is allocated.
  out.Start(static_cast<int32_t>(w), static_cast<int32_t>(h), static_cast<int32_t>(w), static_cast<int32_t>(h));
  if (passes > 1) {
    // Interlaced rows are only final after the last pass.
    rows.assign(size_t{w} * h, 0);
    for (int p = 0; p < passes; ++p)
      for (png_uint_32 y = 0; y < h; ++y) png_read_row(png, reinterpret_cast<png_bytep>(rows.data() + size_t{y} * w), nullptr);
    for (png_uint_32 y = 0; y < h; ++y) out.Row(rows.data() + size_t{y} * w);
  } else {
    row.resize(w);
    for (png_uint_32 y = 0; y < h; ++y) {
      uint32_t* to = out.RowTarget(row.data());
      png_read_row(png, reinterpret_cast<png_bytep>(to), nullptr);
      out.Row(to);
    }
  }
  png_read_end(png, nullptr);  // on to IEND, so a cut tail is noticed
  return true;
}

void DecodePng(std::span<const uint8_t> b, Output& out) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (!png) throw std::bad_alloc();
  png_infop info = png_create_info_struct(png);
  PngSource src{b};
  png_set_read_fn(png, &src, PngRead);
  // Text, colour profiles, suggested palettes and Exif are not used. libpng reads each into a
  // buffer of the length the chunk declares (a length past its limit only warns), so a few
  // hostile bytes could have it fill gigabytes: they are passed over as unknown chunks instead,
  // a few bytes at a time.
  static const png_byte kSkipped[] = "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0eXIf";
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkipped, static_cast<int>(sizeof kSkipped / 5));
  // Given back however the decode ends: refused, failed in libpng, or done.
  struct Destroyer {
    png_structp& png;
    png_infop& info;
    ~Destroyer() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
  } destroy{png, info};
  std::vector<uint32_t> rows, row;
  if (!info || !PngRun(png, info, out, rows, row)) Invalid();
}

// --- GIF ----------------------------------------------------------------------------------

int GifRead(GifFileType* gif, GifByteType* to, int n) {
  auto* src = static_cast<PngSource*>(gif->UserData);
  const size_t want = static_cast<size_t>(std::max(n, 0));
  const size_t have = std::min(want, src->bytes.size() - src->at);
  std::memcpy(to, src->bytes.data() + src->at, have);
  src->at += have;
  return static_cast<int>(have);
}

struct GifCloser {
  GifFileType* p;
  ~GifCloser() {
    if (p) DGifCloseFile(p, nullptr);
  }
};

// The first image on its logical screen (transparent around it); the records after it are
// read to the trailer without decoding, so that a cut file is noticed.
void DecodeGif(std::span<const uint8_t> b, Output& out) {
  PngSource src{b};
  int error = 0;
  GifCloser gif{DGifOpen(&src, GifRead, &error)};
  if (!gif.p) Invalid();
  GifFileType* g = gif.p;
  int transparent = -1;
  bool drawn = false;
  std::vector<uint32_t> canvas;
  uint32_t* px = nullptr;  // the logical screen, transparent where no pixel is drawn
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(g, &type) == GIF_ERROR) Invalid();
    if (type == TERMINATE_RECORD_TYPE) break;
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(g, &code, &ext) == GIF_ERROR) Invalid();
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4 && !drawn) {
        GraphicsControlBlock gcb;
        if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
      }
      while (ext)
        if (DGifGetExtensionNext(g, &ext) == GIF_ERROR) Invalid();
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) Invalid();
    if (DGifGetImageDesc(g) == GIF_ERROR) Invalid();
    const GifImageDesc& d = g->Image;
    if (drawn) {
      // Later frames of an animation: only checked to be whole.
      int codeSize = 0;
      GifByteType* block = nullptr;
      if (DGifGetCode(g, &codeSize, &block) == GIF_ERROR) Invalid();
      while (block)
        if (DGifGetCodeNext(g, &block) == GIF_ERROR) Invalid();
      continue;
    }
    if (d.Width <= 0 || d.Height <= 0) Invalid();  // a frame of no pixels
    const int64_t sw = std::max<int64_t>(g->SWidth, int64_t{d.Left} + d.Width);
    const int64_t sh = std::max<int64_t>(g->SHeight, int64_t{d.Top} + d.Height);
    // Refuses a picture over the limit before its canvas is allocated.
    out.Start(static_cast<int32_t>(sw), static_cast<int32_t>(sh), static_cast<int32_t>(sw), static_cast<int32_t>(sh));
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : g->SColorMap;
    if (!map) Invalid();
    std::vector<GifPixelType> line(static_cast<size_t>(d.Width));
    // Drawn straight into the kept pixels when they are kept at the screen's size.
    px = out.Whole();
    if (!px) {
      canvas.assign(static_cast<size_t>(sw) * static_cast<size_t>(sh), 0);
      px = canvas.data();
    }
    auto put = [&](int y) {
      uint32_t* to = px + static_cast<size_t>(d.Top + y) * static_cast<size_t>(sw) + static_cast<size_t>(d.Left);
      for (int x = 0; x < d.Width; ++x) {
        const int i = line[static_cast<size_t>(x)];
        if (i == transparent) continue;
        if (i >= map->ColorCount) Invalid();
        const GifColorType& c = map->Colors[i];
        to[x] = 0xFF000000u | (uint32_t{c.Red} << 16) | (uint32_t{c.Green} << 8) | c.Blue;
      }
    };
    if (d.Interlace) {
      static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
      for (int p = 0; p < 4; ++p)
        for (int y = kStart[p]; y < d.Height; y += kStep[p]) {
          if (DGifGetLine(g, line.data(), d.Width) == GIF_ERROR) Invalid();
          put(y);
        }
    } else {
      for (int y = 0; y < d.Height; ++y) {
        if (DGifGetLine(g, line.data(), d.Width) == GIF_ERROR) Invalid();
        put(y);
      }
    }
    drawn = true;
  }
  if (!drawn) Invalid();
  for (int32_t y = 0; y < out.PicH(); ++y) out.Row(px + static_cast<size_t>(y) * static_cast<size_t>(out.PicW()));
}

// --- BMP and icons through gdk-pixbuf -----------------------------------------------------

// Bytes of the pixel rows a bitmap header describes, or nullopt when it cannot be told or is
// not a layout gdk-pixbuf draws. `info` starts at the info header.
std::optional<uint64_t> DibPixelBytes(std::span<const uint8_t> info, int64_t& w, int64_t& h, uint32_t& bpp,
                                      uint64_t& paletteBytes, uint32_t& compression) {
  if (info.size() < 12) return std::nullopt;
  const uint32_t size = Le32(info.data());
  uint32_t colors = 0;
  compression = 0;
  uint64_t sizeImage = 0;
  if (size == 12) {
    w = Le16(info.data() + 4), h = Le16(info.data() + 6), bpp = Le16(info.data() + 10);
  } else if (size >= 40 && info.size() >= 40) {
    w = static_cast<int32_t>(Le32(info.data() + 4)), h = static_cast<int32_t>(Le32(info.data() + 8));
    bpp = Le16(info.data() + 14), compression = Le32(info.data() + 16), sizeImage = Le32(info.data() + 20);
    colors = Le32(info.data() + 32);
  } else {
    return std::nullopt;
  }
  if (h < 0) h = -h;
  if (TooLarge(w, h)) return std::nullopt;
  // A colour count past what the depth can index is a damaged header, refused rather than
  // mended: gdk-pixbuf reads the count as a signed int and sizes its palette buffer from it, so
  // a count with the top bit set would make it ask for about 4 GiB.
  if (colors >= 0x80000000u) return std::nullopt;
  if (bpp <= 8) {
    if (bpp == 0 || colors > (1u << bpp)) return std::nullopt;
    if (colors == 0) colors = 1u << bpp;
  } else {
    colors = 0;
  }
  // Four bytes an entry: only icons count the palette, and theirs is never the 12-byte header
  // of three-byte entries.
  paletteBytes = uint64_t{colors} * 4;
  if (compression == 1 || compression == 2) return sizeImage ? std::optional<uint64_t>(sizeImage) : std::nullopt;
  if (compression != 0 && compression != 3 && compression != 6) return std::nullopt;
  const uint64_t rowBytes = (static_cast<uint64_t>(w) * bpp + 31) / 32 * 4;
  return rowBytes * static_cast<uint64_t>(h);
}

// A bitmap file whose headers promise no more than its bytes hold.
bool WholeBmp(std::span<const uint8_t> b) {
  if (b.size() < 26) return false;
  const uint64_t fileSize = Le32(b.data() + 2), pixelsAt = Le32(b.data() + 10);
  if (fileSize > b.size()) return false;
  int64_t w = 0, h = 0;
  uint32_t bpp = 0, compression = 0;
  uint64_t palette = 0;
  const auto pixels = DibPixelBytes(b.subspan(14), w, h, bpp, palette, compression);
  if (!pixels) return false;
  const uint64_t infoSize = Le32(b.data() + 14);
  if (pixelsAt < 14 + infoSize) return false;
  return pixelsAt + *pixels <= b.size();  // both far below 2^63: no overflow
}

// An icon image stored as a bitmap: the header, palette, colour rows and mask rows (the
// header's height counts both) must all be there.
bool WholeIconDib(std::span<const uint8_t> dib) {
  int64_t w = 0, h = 0;
  uint32_t bpp = 0, compression = 0;
  uint64_t palette = 0;
  if (dib.size() < 40 || Le32(dib.data()) < 40) return false;
  const auto pixels = DibPixelBytes(dib, w, h, bpp, palette, compression);
  if (!pixels || compression != 0) return false;
  const uint64_t rows = static_cast<uint64_t>(h / 2);
  const uint64_t colourBytes = (static_cast<uint64_t>(w) * bpp + 31) / 32 * 4 * rows;
  const uint64_t maskBytes = (static_cast<uint64_t>(w) + 31) / 32 * 4 * rows;
  return Le32(dib.data()) + palette + colourBytes + maskBytes <= dib.size();
}

// Called before the loader allocates the picture: a 0x0 target makes it give up instead (and
// a picture of 0x0 would be refused by Output::Start in any case).
void OnSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer) {
  if (TooLarge(width, height)) gdk_pixbuf_loader_set_size(loader, 0, 0);
}

struct LoaderHandle {
  GdkPixbufLoader* p = nullptr;
  ~LoaderHandle() {
    if (!p) return;
    GError* ignored = nullptr;
    gdk_pixbuf_loader_close(p, &ignored);  // required before unref; harmless when closed
    if (ignored) g_error_free(ignored);
    g_object_unref(p);
  }
};

void DecodePixbuf(const char* type, std::span<const uint8_t> data, Output& out) {
  // gdk-pixbuf finds its loaders in modules it loads and keeps on first use; decoder threads
  // take their turn rather than trust that to be safe.
  static std::mutex one;
  std::lock_guard turn(one);
  LoaderHandle loader;
  loader.p = gdk_pixbuf_loader_new_with_type(type, nullptr);
  if (!loader.p) Invalid();
  g_signal_connect(loader.p, "size-prepared", G_CALLBACK(OnSizePrepared), nullptr);
  GError* err = nullptr;
  bool ok = gdk_pixbuf_loader_write(loader.p, data.data(), data.size(), &err) != FALSE;
  if (err) g_error_free(err), err = nullptr;
  if (ok) {
    ok = gdk_pixbuf_loader_close(loader.p, &err) != FALSE;
    if (err) g_error_free(err), err = nullptr;
  }
  if (!ok) Invalid();
  GdkPixbuf* pb = gdk_pixbuf_loader_get_pixbuf(loader.p);  // owned by the loader
  if (!pb || gdk_pixbuf_get_bits_per_sample(pb) != 8 || gdk_pixbuf_get_colorspace(pb) != GDK_COLORSPACE_RGB) Invalid();
  const int w = gdk_pixbuf_get_width(pb), h = gdk_pixbuf_get_height(pb);
  const int channels = gdk_pixbuf_get_n_channels(pb);
  const bool alpha = gdk_pixbuf_get_has_alpha(pb) != FALSE;
  if (channels != (alpha ? 4 : 3)) Invalid();
  out.Start(w, h, w, h);
  const int stride = gdk_pixbuf_get_rowstride(pb);
  const guint8* src = gdk_pixbuf_read_pixels(pb);
  std::vector<uint32_t> row(static_cast<size_t>(w));
  for (int y = 0; y < h; ++y) {
    const guint8* p = src + static_cast<ptrdiff_t>(y) * stride;
    uint32_t* to = out.RowTarget(row.data());
    for (int x = 0; x < w; ++x, p += channels) {
      const uint32_t a = alpha ? p[3] : 0xFFu;
      to[x] = (a << 24) | (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    }
    out.Row(to);
  }
}

void DecodeBmp(std::span<const uint8_t> b, Output& out) {
  if (!WholeBmp(b)) Invalid();
  DecodePixbuf("bmp", b, out);
}

// The icon's largest image (the last of equal ones, as icon writers put the richest last),
// decoded as PNG or as the bitmap it is.
void DecodeIco(std::span<const uint8_t> b, Output& out) {
  if (b.size() < 6) Invalid();
  const size_t count = Le16(b.data() + 4);
  if (count == 0 || 6 + count * 16 > b.size()) Invalid();
  size_t best = 0;
  int64_t bestArea = -1;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = &b[6 + i * 16];
    const uint64_t size = Le32(e + 8), offset = Le32(e + 12);
    if (size == 0 || offset + size > b.size()) Invalid();  // promises more than there is (both below 2^32)
    const int64_t w = e[0] ? e[0] : 256, h = e[1] ? e[1] : 256;
    if (w * h >= bestArea) bestArea = w * h, best = i;
  }
  const uint8_t* e = &b[6 + best * 16];
  const auto image = b.subspan(Le32(e + 12), Le32(e + 8));
  if (Sniff(image) == Format::Png) return DecodePng(image, out);
  if (!WholeIconDib(image)) Invalid();
  // gdk-pixbuf picks its own entry; hand it a directory of just the chosen one.
  std::vector<uint8_t> one(6 + 16 + image.size());
  std::memcpy(one.data(), b.data(), 4);
  one[4] = 1;  // one entry (a 16-bit count; the vector starts zeroed)
  std::memcpy(one.data() + 6, e, 12);
  one[18] = 22;  // the entry's image offset, a 32-bit little-endian 22: just past this directory
  std::memcpy(one.data() + 22, image.data(), image.size());
  DecodePixbuf("ico", one, out);
}

}  // namespace

Decoded DecodeInto(std::span<const uint8_t> bytes, Output& out) {
  const auto format = Sniff(bytes);
  if (!format) Invalid();
  switch (*format) {
    case Format::Jpeg: DecodeJpeg(bytes, out); break;
    case Format::Png: DecodePng(bytes, out); break;
    case Format::Gif: DecodeGif(bytes, out); break;
    case Format::Bmp: DecodeBmp(bytes, out); break;
    case Format::Ico: DecodeIco(bytes, out); break;
  }
  return out.Finish(*format == Format::Ico ? Picture::Kind::Icon : Picture::Kind::Bitmap);
}

Decoded DecodeWithPixbufOnly(const char* type, std::span<const uint8_t> bytes) {
  Output out(0, 0);
  DecodePixbuf(type, bytes, out);
  return out.Finish(Picture::Kind::Bitmap);
}

bool BmpHeadersHold(std::span<const uint8_t> file) { return WholeBmp(file); }
bool IconBitmapHeadersHold(std::span<const uint8_t> dib) { return WholeIconDib(dib); }

}  // namespace desk::detail
