// The platform's standard font object and picture object.
#pragma once

#include "desk/export.h"

#include <cstdint>
#include <string>
#include <vector>

#include "desk/dispatch.h"

namespace desk {

class DESK_API Font : public Dispatchable<Font> {
 public:
  static const DispatchTable<Font>& Table();
  Font() = default;
  Font(std::u16string name, float size) : name(std::move(name)), size(size) {}

  std::u16string name = u"MS Sans Serif";
  float size = 8.25f;
  int16_t weight = 400;
  bool italic = false;
  bool underline = false;
  bool strikethrough = false;
  int16_t charset = 0;

  bool Bold() const { return weight >= 700; }
  Ref<Font> Clone() const;
  bool SameAs(const Font& o) const;
};

// A picture: empty (no image) or an image of width x height pixels, 0xAARRGGBB row by row.
// `encoded` keeps the bytes it was decoded from, so that it can persist itself and come back
// with the same pixels.
class DESK_API Picture : public Dispatchable<Picture> {
 public:
  static const DispatchTable<Picture>& Table();
  enum class Kind : int16_t { None = 0, Bitmap = 1, Icon = 3 };

  Picture() = default;  // the empty picture
  Picture(int32_t w, int32_t h, std::vector<uint32_t> px, std::vector<uint8_t> encoded, Kind k)
      : width(w), height(h), pixels(std::move(px)), encoded(std::move(encoded)), kind(k) {}

  bool Empty() const { return kind == Kind::None; }

  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
  std::vector<uint8_t> encoded;
  Kind kind = Kind::None;
};

// The largest picture the loaders accept, in pixels; larger ones fail with 481 before any
// pixel memory is allocated.
inline constexpr int64_t kMaxPicturePixels = int64_t{64} * 1024 * 1024;

}  // namespace desk
