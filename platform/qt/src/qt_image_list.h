// List pictures as pixmaps, from one cache of the GUI thread's keyed by entry and device size,
// bounded in bytes by PictureCacheBytes, the least recently used let go first. The pixels a
// pixmap is made from are not kept besides (ListImage::KeepMade::No). Keys are entry serials:
// an entry that went leaves its pixmaps to age out, and its address, reused, finds none.
#pragma once

#include <QPixmap>
#include <QSize>

#include "desk/imagelist.h"

namespace desk::qtb {

// The picture of a list entry at `size` (ListImage::PixelsAt), as the tree draws it at its
// icon size. Null for an empty size, and when the pixels cannot be made.
QPixmap ListPixmap(const ListImage& entry, QSize size);

// The picture of a list entry drawn `logical` pixels large on a device of `dpr` pixels to a
// pixel: its pixels at the device's size, decoded from the picture's own bytes, so that a
// screen of higher density shows the detail the picture has. Null when it has fewer pixels
// than that, or no bytes (the list's copy is then drawn, scaled up), and for a dpr of 1 or
// less.
QPixmap DevicePixmap(const ListImage& entry, QSize logical, qreal dpr);

}  // namespace desk::qtb
