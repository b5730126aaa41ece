// The platform image list: decoded pictures under unique text keys.
//
// An ImageList is the automation object a host hands to a tree's ImageList property; its
// ListImages collection holds ListImage entries, each a picture with an optional key.
//  - Keys compare exactly (letter case counts). Adding a key already present fails with
//    35602; a key made only of digits is refused with 35603, since it would read as a
//    position. An empty key means "no key".
//  - Positions are 1-based; a position outside the list fails with 35600, a missing key with
//    35601.
//  - Only a picture with an image can be added (481 for an empty picture, 13 for an object
//    that is not a picture).
//  - The list has one image size, that of the first picture added to it while empty; Image and
//    Find show every picture at it.
//  - Memory: each entry keeps the picture it was given (for a picture loaded from a file, its
//    bytes; full-size pixels come from them on demand). Pixels at any other size are made
//    when asked for (PixelsAt: drawn, or read through Image and Find) and kept in a cache of
//    the thread's, bounded in bytes (SetPictureCacheBytes, 64 MiB unless a host says
//    otherwise), least recently used out first; what falls out is decoded again from the
//    bytes when next asked for. A large picture starts with the preview made while its bytes
//    were checked, so small sizes need no decoding. A picture without bytes to decode again
//    keeps its one copy at the list's size.
// Look-up by key is one hash; a tree drawing node pictures uses FindEntry and PixelsAt.
#pragma once

#include "desk/export.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "desk/dispatch.h"
#include "desk/font.h"

namespace desk {

class ListImages;

// Bytes the decoded pixels of list pictures may take in each thread's cache, unless a host
// sets another bound (the C interface: desk_set_picture_cache_bytes). Lowering it lets
// pictures go at once.
inline constexpr size_t kDefaultPictureCacheBytes = size_t{64} * 1024 * 1024;
DESK_API void SetPictureCacheBytes(size_t bytes);
DESK_API size_t PictureCacheBytes();
// What the calling thread's cache holds now.
DESK_API size_t PictureCacheUsedBytes();

// One picture of the list.
class DESK_API ListImage : public Dispatchable<ListImage> {
 public:
  static const DispatchTable<ListImage>& Table();
  // `width` x `height`: the size the list shows it at.
  ListImage(std::u16string key, Ref<Picture> picture, int32_t width, int32_t height);
  ~ListImage() override;

  const std::u16string& Key() const { return key_; }
  // The picture as the list shows it, at the list's image size (PixelsAt that size).
  Ref<Picture> Image() const { return PixelsAt(width_, height_); }
  // The picture as it was added (the host's Picture member).
  const Ref<Picture>& Original() const { return picture_; }
  // 1-based position in the list; 0 once removed from it.
  int32_t Index() const { return index_; }
  // The picture's pixels at exactly width x height (averaged down or spread up), through the
  // thread's cache: what drawing asks for, at whatever size it draws. The picture itself
  // when it holds its pixels at that size. Costs a decoding of the bytes at that size when
  // neither the cache nor a larger copy in it has them. 380 for a size of no pixels or over
  // kMaxPicturePixels, 481 when the bytes do not decode. With KeepMade::No, pixels it had
  // to make are not kept: for a caller that converts them and keeps its own copy (a
  // platform's pixmap), so that they are not held twice.
  enum class KeepMade : bool { No, Yes };
  Ref<Picture> PixelsAt(int32_t width, int32_t height, KeepMade keep = KeepMade::Yes) const;
  // Never reused in the process: a key for what is kept of this picture.
  uint64_t Serial() const { return serial_; }

 private:
  friend class ListImages;
  int32_t index_ = 0;
  std::u16string key_;
  Ref<Picture> picture_;
  Ref<Picture> kept_;  // the copy at the list's size of a picture with nothing to decode
  int32_t width_, height_;
  uint64_t serial_;  // its pixels' key in the cache
};

class DESK_API ListImages : public Dispatchable<ListImages> {
 public:
  static const DispatchTable<ListImages>& Table();
  ListImages();
  ~ListImages() override;

  // Add(index, key, picture): index Missing appends, else inserts at that 1-based position
  // (1..Count+1). Key Missing or "" adds without a key.
  Ref<ListImage> Add(const Variant& index, const Variant& key, const Variant& picture);
  // By 1-based position (number) or key (text).
  Ref<ListImage> Item(const Variant& index) const;
  void Remove(const Variant& index);
  void Clear();
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }

  // Typed access for controls that draw the pictures. Find and FindEntry cost one hash; null
  // when absent. Find is the entry's Image.
  Ref<Picture> Find(std::u16string_view key) const;
  Ref<ListImage> FindEntry(std::u16string_view key) const;
  // The list's image size in pixels; 0 x 0 while it is empty.
  int32_t ImageWidth() const { return imageWidth_; }
  int32_t ImageHeight() const { return imageHeight_; }
  const Ref<ListImage>& At(size_t i) const { return items_[i]; }

 private:
  size_t PositionOf(const Variant& index) const;  // 0-based, or raises
  void Reindex(size_t from);  // positions from 0-based `from` on

  std::vector<Ref<ListImage>> items_;
  std::unordered_map<std::u16string, ListImage*> keys_;
  int32_t imageWidth_ = 0, imageHeight_ = 0;
};

class DESK_API ImageList : public Dispatchable<ImageList> {
 public:
  static const DispatchTable<ImageList>& Table();
  ImageList();

  ListImages& Images() { return *images_; }
  const Ref<ListImages>& ImagesRef() const { return images_; }
  // The picture under `key`, or null. One hash.
  Ref<Picture> Find(std::u16string_view key) const { return images_->Find(key); }

 private:
  Ref<ListImages> images_;
};

// A new, empty image list.
DESK_API Ref<Object> MakeImageList();

}  // namespace desk
