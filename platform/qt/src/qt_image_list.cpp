#include "qt_image_list.h"

#include <unordered_map>

namespace desk::qtb {

QPixmap QtImageList::Pixmap(const Ref<Picture>& picture) {
  // Pictures leave the list without telling it; drop their pixmaps once stale ones could
  // outnumber the live ones.
  if (cache_.Size() > static_cast<size_t>(Images().Count()) * 2 + 16) {
    std::unordered_map<const Picture*, bool> live;
    for (int32_t i = 0; i < Images().Count(); ++i) live[Images().At(static_cast<size_t>(i))->Image().get()] = true;
    cache_.Prune([&](const Picture* p) { return live.count(p) > 0; });
  }
  return cache_.Get(picture);
}

}  // namespace desk::qtb
