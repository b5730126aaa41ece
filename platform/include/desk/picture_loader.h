// Decoding pictures from files and bytes: BMP, GIF, JPEG, PNG and ICO.
//
// One strict decoder for every platform: bytes that end early, or headers that promise more
// than the bytes hold, fail with 481 rather than giving a partly drawn picture.
#pragma once

#include "desk/export.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "desk/picture.h"

namespace desk {

// Pixels decoded from a picture's bytes.
struct Decoded {
  int32_t width = 0, height = 0;        // the picture's own size
  int32_t outWidth = 0, outHeight = 0;  // the size of `pixels`
  std::vector<uint32_t> pixels;         // 0xAARRGGBB, row by row
  Picture::Kind kind = Picture::Kind::None;
};

// The picture in a file: 53 when the file is missing, 481 when it is not a picture or is
// larger than kMaxPicturePixels. The whole file is checked; a picture over kHeldPixels keeps
// its bytes and a small preview, and decodes its full pixels only when asked (Pixels).
DESK_API Ref<Picture> LoadPictureFile(const std::u16string& path);
// As LoadPictureFile, for bytes already read; the picture keeps them.
DESK_API Ref<Picture> OpenPicture(std::vector<uint8_t> bytes);
// OpenPicture in two halves, for work on another thread (PictureJob): CheckPicture reads the
// whole of the bytes strictly (481) and gives what the picture keeps of its pixels, touching
// nothing shared; MakePicture makes the picture of those pixels and bytes.
DESK_API Decoded CheckPicture(std::span<const uint8_t> bytes);
DESK_API Ref<Picture> MakePicture(Decoded checked, std::vector<uint8_t> bytes);
// The bytes of a file that starts like a picture (the same failures as LoadPictureFile,
// without decoding).
DESK_API std::vector<uint8_t> ReadPictureFile(const std::u16string& path);
// What tells a file's bytes apart without reading them again. A file that is only ever
// replaced whole (a new file renamed over it), as the web image list's cache files are, holds
// the same bytes while it is the same file with the same size and times.
struct FileStamp {
  uint64_t device = 0, inode = 0, size = 0;
  int64_t modifiedNs = 0, changedNs = 0;
  bool operator==(const FileStamp&) const = default;
};
// The stamp of the file at `path` now; nullopt when it cannot be had or is no regular file.
DESK_API std::optional<FileStamp> StampOfFile(const std::u16string& path);
// ReadPictureFile, with `stamp` set to the file's stamp when it did not change while it was
// read (else nullopt).
DESK_API std::vector<uint8_t> ReadPictureFile(const std::u16string& path, std::optional<FileStamp>& stamp);
// The picture in a buffer: 481 when it is not a picture.
DESK_API Ref<Picture> DecodePicture(std::span<const uint8_t> bytes);
// The picture's pixels at width x height (both 0: its own size), averaged down or spread up;
// large JPEGs are decoded at a reduced DCT scale first. The whole of the bytes is checked
// whatever the size asked for.
DESK_API Decoded DecodePixels(std::span<const uint8_t> bytes, int32_t width = 0, int32_t height = 0);

}  // namespace desk
