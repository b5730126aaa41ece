// Picture decoding on gdk-pixbuf.
//
// gdk-pixbuf is fuzzed continuously and decodes PNG and JPEG through libpng and
// libjpeg-turbo. Pictures come from untrusted servers, so:
//  - the format is chosen by its magic bytes and the loader is created by type: only the
//    five formats are ever handed to a decoder (never SVG, TIFF, XPM and the rest that the
//    system's loader set would otherwise sniff);
//  - the size-prepared signal refuses an image over kMaxPicturePixels by asking for a
//    0x0 result, which makes the loaders stop before they allocate the pixels.
// Icons whose best image is stored as PNG (the loader refuses those) are read by taking the
// PNG out of the icon directory and decoding it as PNG.
#include "desk/picture_loader.h"

#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "desk/text.h"

namespace desk {

namespace {

enum class Format { Png, Gif, Jpeg, Bmp, Ico };

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

const char* LoaderType(Format f) {
  switch (f) {
    case Format::Png: return "png";
    case Format::Gif: return "gif";
    case Format::Jpeg: return "jpeg";
    case Format::Bmp: return "bmp";
    case Format::Ico: return "ico";
  }
  return "";
}

struct LoaderState {
  bool tooLarge = false;
};

void OnSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
  auto* state = static_cast<LoaderState*>(data);
  if (width <= 0 || height <= 0 || int64_t{width} * height > kMaxPicturePixels) {
    state->tooLarge = true;
    gdk_pixbuf_loader_set_size(loader, 0, 0);  // the loaders give up on a 0x0 target
  }
}

// RAII for the GLib objects of one decode.
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

// Decodes with one loader type; null when the data is not a picture of that type.
Ref<Picture> DecodeWith(Format f, std::span<const uint8_t> data, std::span<const uint8_t> original,
                        Picture::Kind kind) {
  LoaderHandle loader;
  loader.p = gdk_pixbuf_loader_new_with_type(LoaderType(f), nullptr);
  if (!loader.p) return nullptr;
  LoaderState state;
  g_signal_connect(loader.p, "size-prepared", G_CALLBACK(OnSizePrepared), &state);

  GError* err = nullptr;
  bool ok = gdk_pixbuf_loader_write(loader.p, data.data(), data.size(), &err) != FALSE;
  if (err) g_error_free(err), err = nullptr;
  if (ok && !state.tooLarge) {
    ok = gdk_pixbuf_loader_close(loader.p, &err) != FALSE;
    if (err) g_error_free(err), err = nullptr;
  }
  if (state.tooLarge) Raise(Err::InvalidPicture);
  if (!ok) return nullptr;
  GdkPixbuf* pb = gdk_pixbuf_loader_get_pixbuf(loader.p);  // owned by the loader
  if (!pb || gdk_pixbuf_get_bits_per_sample(pb) != 8 || gdk_pixbuf_get_colorspace(pb) != GDK_COLORSPACE_RGB)
    return nullptr;
  const int w = gdk_pixbuf_get_width(pb), h = gdk_pixbuf_get_height(pb);
  if (w <= 0 || h <= 0 || int64_t{w} * h > kMaxPicturePixels) Raise(Err::InvalidPicture);
  const int channels = gdk_pixbuf_get_n_channels(pb);
  const bool alpha = gdk_pixbuf_get_has_alpha(pb) != FALSE;
  if (channels != (alpha ? 4 : 3)) return nullptr;
  const int stride = gdk_pixbuf_get_rowstride(pb);
  const guint8* src = gdk_pixbuf_read_pixels(pb);

  std::vector<uint32_t> px(static_cast<size_t>(w) * static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) {
    const guint8* row = src + static_cast<ptrdiff_t>(y) * stride;
    uint32_t* out = px.data() + static_cast<size_t>(y) * static_cast<size_t>(w);
    for (int x = 0; x < w; ++x, row += channels) {
      uint32_t a = alpha ? row[3] : 0xFFu;
      out[x] = (a << 24) | (uint32_t{row[0]} << 16) | (uint32_t{row[1]} << 8) | row[2];
    }
  }
  return MakeRef<Picture>(w, h, std::move(px), std::vector<uint8_t>(original.begin(), original.end()), kind);
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// The bitmap loader reserves as much memory as the headers claim before it reads on, so 70
// bytes claiming a 4 GiB info header make it ask for 4 GiB. The whole file is in memory here:
// headers that claim more than the bytes we have cannot describe a picture.
bool PlausibleBmp(std::span<const uint8_t> b) {
  if (b.size() < 18) return false;
  const uint64_t infoSize = Le32(b.data() + 14), pixelsAt = Le32(b.data() + 10);
  return infoSize >= 12 && 14 + infoSize <= b.size() && pixelsAt <= b.size();
}

// The largest PNG-coded image of an icon directory, or an empty span.
std::span<const uint8_t> LargestPngEntry(std::span<const uint8_t> ico) {
  if (ico.size() < 6) return {};
  const size_t count = Le16(ico.data() + 4);
  std::span<const uint8_t> best;
  int64_t bestArea = -1;
  for (size_t i = 0; i < count; ++i) {
    const size_t at = 6 + i * 16;
    if (at + 16 > ico.size()) break;
    const uint8_t* e = ico.data() + at;
    const int64_t w = e[0] ? e[0] : 256, h = e[1] ? e[1] : 256;
    const uint64_t size = Le32(e + 8), offset = Le32(e + 12);
    if (offset > ico.size() || size > ico.size() - offset) continue;
    auto data = ico.subspan(static_cast<size_t>(offset), static_cast<size_t>(size));
    if (Sniff(data) != Format::Png) continue;
    if (w * h > bestArea) bestArea = w * h, best = data;
  }
  return best;
}

}  // namespace

Ref<Picture> DecodePicture(std::span<const uint8_t> bytes) {
  const auto format = Sniff(bytes);
  if (!format) Raise(Err::InvalidPicture);
  if (*format == Format::Bmp && !PlausibleBmp(bytes)) Raise(Err::InvalidPicture);
  const auto kind = *format == Format::Ico ? Picture::Kind::Icon : Picture::Kind::Bitmap;
  if (Ref<Picture> p = DecodeWith(*format, bytes, bytes, kind)) return p;
  if (*format == Format::Ico) {
    auto png = LargestPngEntry(bytes);
    if (!png.empty())
      if (Ref<Picture> p = DecodeWith(Format::Png, png, bytes, kind)) return p;
  }
  Raise(Err::InvalidPicture);
}

Ref<Picture> LoadPictureFile(const std::u16string& path) {
  std::string p(path.size(), '\0');  // ASCII paths, the usual case, skip the general conversion
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] >= 0x80) {
      p = U8(path);
      break;
    }
    p[i] = static_cast<char>(path[i]);
  }
  if (p.empty() || p.find('\0') != std::string::npos) Raise(Err::FileNotFound);
  // Non-blocking: a FIFO planted at the path must not hang the caller (it is refused below).
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) Raise(Err::FileNotFound);
    if (errno == EACCES || errno == EPERM) Raise(Err::PermissionDenied);
    Raise(Err::PathFileAccess);
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) Raise(Err::PathFileAccess);
  if (S_ISDIR(st.st_mode)) Raise(Err::PathFileAccess);
  if (!S_ISREG(st.st_mode)) Raise(Err::InvalidPicture);

  // Read the magic first: a large file that is no picture is refused without reading it all.
  std::vector<uint8_t> bytes(8);
  size_t have = 0;
  auto readMore = [&](size_t want) {
    while (have < want) {
      ssize_t n = ::read(fd, bytes.data() + have, want - have);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Raise(Err::PathFileAccess);
      if (n == 0) break;
      have += static_cast<size_t>(n);
    }
  };
  readMore(bytes.size());
  bytes.resize(have);
  if (!Sniff(bytes)) Raise(Err::InvalidPicture);
  // The rest, sized by fstat but read to the real end in case the file grew meanwhile.
  size_t expect = static_cast<size_t>(st.st_size > 0 ? st.st_size : 0);
  for (;;) {
    bytes.resize(std::max(expect, have) + (expect > have ? 0 : 65536));
    readMore(bytes.size());
    if (have < bytes.size()) break;
    expect = 0;
  }
  bytes.resize(have);
  return DecodePicture(bytes);
}

}  // namespace desk
