// The Qt platform's image list.
#pragma once

#include <QPixmap>
#include <QSize>

#include "desk/imagelist.h"
#include "qt_util.h"

namespace desk::qtb {

// The platform image list with its pictures kept as pixmaps.
// The picture of a list entry drawn `logical` pixels large on a device of `dpr` pixels to a
// pixel: decoded from the picture's own bytes at the device's size, so that a screen of
// higher density shows the detail the picture has. Null when it has fewer pixels than that,
// or no bytes (the list's copy is then drawn, scaled up), and for a dpr of 1 or less.
// Recently used ones are kept, up to a bound.
QPixmap DevicePixmap(const ListImage& image, QSize logical, qreal dpr);

class QtImageList : public ImageList {
 public:
  // The pixmap of the picture under `key` (null pixmap when absent).
  QPixmap Pixmap(const Ref<Picture>& picture);

 private:
  PixmapCache cache_;
};

}  // namespace desk::qtb
