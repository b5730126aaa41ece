#include "desk/picture_loader.h"

namespace desk {
Ref<Picture> LoadPictureFile(const std::u16string&) { Raise(Err::InvalidPicture); }
Ref<Picture> DecodePicture(std::span<const uint8_t>) { Raise(Err::InvalidPicture); }
}  // namespace desk
