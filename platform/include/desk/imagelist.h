// The platform image list: pictures under unique text keys.
#pragma once

#include "desk/dispatch.h"
#include "desk/font.h"

namespace desk {

// A new, empty image list (headless).
Ref<Object> MakeImageList();

}  // namespace desk
