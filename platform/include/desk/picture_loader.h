// Decoding pictures from files and bytes: BMP, GIF, JPEG, PNG and ICO.
#pragma once

#include "desk/export.h"

#include <cstdint>
#include <span>
#include <string>

#include "desk/font.h"

namespace desk {

// The picture in a file: 53 when the file is missing, 481 when it is not a picture or is
// larger than kMaxPicturePixels.
DESK_API Ref<Picture> LoadPictureFile(const std::u16string& path);
// The picture in a buffer: 481 when it is not a picture.
DESK_API Ref<Picture> DecodePicture(std::span<const uint8_t> bytes);

}  // namespace desk
