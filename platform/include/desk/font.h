// The platform's standard font object.
#pragma once

#include "desk/export.h"

#include <cstdint>
#include <string>
#include <vector>

#include "desk/dispatch.h"
#include "desk/picture.h"  // most users of fonts draw pictures too

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

}  // namespace desk
