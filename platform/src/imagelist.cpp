#include "desk/imagelist.h"

#include "desk/collection.h"

namespace desk {
Ref<Object> MakeImageList() { return MakeRef<Collection>(); }
}  // namespace desk
