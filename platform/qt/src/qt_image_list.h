// List pictures as pixmaps: one cache for the Qt platform, keyed by entry and device size.
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

// Both come from one cache of the GUI thread's, bounded in bytes by PictureCacheBytes, the
// least recently used let go first. The pixels a pixmap is made from are not kept besides.
// An entry's pixmaps are keyed by its serial, so an entry that went leaves them to age out
// and its address, reused, finds none of them.

}  // namespace desk::qtb
