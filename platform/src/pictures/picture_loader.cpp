// The picture loader: pictures from bytes and from files, their pixels at the size asked for.
// The decoding itself, and its rules, are in pictures/decoders.h.
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "desk/picture_loader.h"
#include "desk/text.h"
#include "files/files.h"
#include "files/syscalls.h"
#include "pictures/decoders.h"

namespace desk {

using detail::DecodeInto;
using detail::Output;
using detail::Sniff;
using detail::TooLarge;

namespace {

// Pixels of width x height made from pixels of w x h.
std::vector<uint32_t> Resample(const std::vector<uint32_t>& px, int32_t w, int32_t h, int32_t width, int32_t height) {
  Output out(width, height);
  out.Start(w, h, w, h);
  for (int32_t y = 0; y < h; ++y) out.Row(px.data() + static_cast<size_t>(y) * static_cast<size_t>(w));
  return out.Finish(Picture::Kind::Bitmap).pixels;
}

}  // namespace

Decoded DecodePixels(std::span<const uint8_t> bytes, int32_t width, int32_t height) {
  if (width < 0 || height < 0 || (width == 0) != (height == 0)) Raise(Err::InvalidProcedureCall);
  Output out(width, height);
  return DecodeInto(bytes, out);
}

Decoded CheckPicture(std::span<const uint8_t> bytes) {
  // One pass checks the whole of the bytes and keeps what a list will want: all the pixels of
  // a small picture, a preview of at most kPreviewSide a side of a large one.
  Output out(kPreviewSide, kPreviewSide, true);
  return DecodeInto(bytes, out);
}

Ref<Picture> OpenPicture(std::vector<uint8_t> bytes) {
  Decoded checked = CheckPicture(bytes);
  return MakePicture(std::move(checked), std::move(bytes));
}

Ref<Picture> MakePicture(Decoded d, std::vector<uint8_t> bytes) {
  auto p = MakeRef<Picture>();
  p->width = d.width, p->height = d.height, p->kind = d.kind;
  p->encoded = std::move(bytes);
  if (d.outWidth == d.width && d.outHeight == d.height && int64_t{d.width} * d.height <= kHeldPixels) {
    p->pixels = std::move(d.pixels);
  } else {
    p->preview = std::move(d.pixels);
    p->previewWidth = d.outWidth, p->previewHeight = d.outHeight;
  }
  return p;
}

std::vector<uint32_t> Picture::Pixels() const {
  if (Empty() || HoldsPixels()) return pixels;
  if (encoded.empty()) return {};
  return DecodePixels(encoded).pixels;
}

Ref<Picture> Picture::ScaledTo(int32_t w, int32_t h) const {
  if (Empty()) Raise(Err::InvalidPicture);
  if (TooLarge(w, h)) Raise(Err::InvalidPropertyValue);
  std::vector<uint32_t> px;
  if (HoldsPixels()) {
    px = w == width && h == height ? pixels : Resample(pixels, width, height, w, h);
  } else if (!preview.empty() && previewWidth >= w && previewHeight >= h) {
    px = Resample(preview, previewWidth, previewHeight, w, h);
  } else {
    if (encoded.empty()) Raise(Err::InvalidPicture);
    px = DecodePixels(encoded, w, h).pixels;
  }
  return MakeRef<Picture>(w, h, std::move(px), std::vector<uint8_t>{}, kind);
}

void Picture::DropPreview() {
  std::vector<uint32_t>().swap(preview);
  previewWidth = previewHeight = 0;
}

Ref<Picture> DecodePicture(std::span<const uint8_t> bytes) {
  Decoded d = DecodePixels(bytes);
  return MakeRef<Picture>(d.width, d.height, std::move(d.pixels), std::vector<uint8_t>(bytes.begin(), bytes.end()),
                          d.kind);
}

std::vector<uint8_t> ReadPictureFile(const std::u16string& path) {
  const std::optional<std::string> path8 = files::SystemPath(path);
  if (!path8) Raise(Err::FileNotFound);
  // Non-blocking: a FIFO planted at the path must not hang the caller (it is refused after the
  // open). The magic is read first: a large file that is no picture is refused unread.
  constexpr files::ReadPolicy kPictureRead{
      .nonBlocking = true,
      .wrongKind = Err::InvalidPicture,
      .headBytes = 8,
      .headFits = [](std::span<const uint8_t> head) { return Sniff(head).has_value(); }};
  std::vector<uint8_t> bytes;
  if (auto failed = files::ReadWhole(*path8, kPictureRead, bytes)) Raise(failed->number);
  return bytes;
}

std::optional<FileStamp> StampOfFile(const std::u16string& path) {
  const std::optional<std::string> path8 = files::SystemPath(path);
  struct stat st {};
  if (!path8 || files::Sys().stat(path8->c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileStamp{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), static_cast<uint64_t>(st.st_size),
                   st.st_mtim.tv_sec * int64_t{1'000'000'000} + st.st_mtim.tv_nsec,
                   st.st_ctim.tv_sec * int64_t{1'000'000'000} + st.st_ctim.tv_nsec};
}

std::vector<uint8_t> ReadPictureFile(const std::u16string& path, std::optional<FileStamp>& stamp) {
  const std::optional<FileStamp> before = StampOfFile(path);
  std::vector<uint8_t> bytes = ReadPictureFile(path);
  stamp = before && before->size == bytes.size() && StampOfFile(path) == before ? before : std::nullopt;
  return bytes;
}

Ref<Picture> LoadPictureFile(const std::u16string& path) { return OpenPicture(ReadPictureFile(path)); }

}  // namespace desk
