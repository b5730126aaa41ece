// The platform's picture object.
#pragma once

#include "desk/export.h"

#include <cstdint>
#include <vector>

#include "desk/dispatch.h"

namespace desk {

// A picture: empty (no image) or an image of width x height pixels, 0xAARRGGBB row by row.
// `encoded` keeps the bytes it was decoded from, so that it can persist itself and come back
// with the same pixels. A large picture loaded from a file holds no pixels: Pixels decodes
// them from `encoded` for each caller and keeps nothing, and lists show it through a copy at
// their size (ScaledTo), made from a small preview kept since the load.
class DESK_API Picture : public Dispatchable<Picture> {
 public:
  static const DispatchTable<Picture>& Table();
  enum class Kind : int16_t { None = 0, Bitmap = 1, Icon = 3 };

  Picture() = default;  // the empty picture
  Picture(int32_t w, int32_t h, std::vector<uint32_t> px, std::vector<uint8_t> encoded, Kind k)
      : width(w), height(h), pixels(std::move(px)), encoded(std::move(encoded)), kind(k) {}

  bool Empty() const { return kind == Kind::None; }
  // True when `pixels` holds the whole image; false for a picture that decodes on demand.
  bool HoldsPixels() const {
    return !pixels.empty() && pixels.size() == static_cast<size_t>(width) * static_cast<size_t>(height);
  }
  // The full-size pixels: those held, or decoded for this call and not kept. Empty for the
  // empty picture.
  std::vector<uint32_t> Pixels() const;
  // A new picture of exactly w x h pixels (averaged down or spread up), holding its pixels
  // and no encoded bytes: from the held pixels, the preview when it is large enough, or else
  // decoded from `encoded` at that size.
  Ref<Picture> ScaledTo(int32_t w, int32_t h) const;
  // Lets the preview go once a list made its copy.
  void DropPreview();

  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;  // empty when the picture decodes on demand
  std::vector<uint8_t> encoded;
  Kind kind = Kind::None;
  // A smaller copy made while the bytes were checked (large pictures only).
  std::vector<uint32_t> preview;
  int32_t previewWidth = 0;
  int32_t previewHeight = 0;
};

// Pictures up to this many pixels keep them when loaded from a file; larger ones decode on
// demand. The preview of a larger one is at most kPreviewSide a side.
inline constexpr int64_t kHeldPixels = int64_t{256} * 256;
inline constexpr int32_t kPreviewSide = 256;

// The largest picture the loaders accept, in pixels; larger ones fail with 481 before any
// pixel memory is allocated.
inline constexpr int64_t kMaxPicturePixels = int64_t{64} * 1024 * 1024;

}  // namespace desk
