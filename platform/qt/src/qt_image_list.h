// The Qt platform's image list.
#pragma once

#include <QPixmap>
#include <QSize>

#include "desk/imagelist.h"
#include "qt_util.h"

namespace desk::qtb {

// The picture of a list entry drawn `logical` pixels large on a device of `dpr` pixels to a
// pixel: its pixels at the device's size (ListImage::PixelsAt: decoded from the picture's own
// bytes through the list's bounded cache), so that a screen of higher density shows the
// detail the picture has. Null when it has fewer pixels than that, or no bytes (the list's
// copy is then drawn, scaled up), and for a dpr of 1 or less. Recently used pixmaps are kept,
// up to a bound.
QPixmap DevicePixmap(const ListImage& image, QSize logical, qreal dpr);

// The platform image list with its pictures kept as pixmaps at the size they are drawn.
class QtImageList : public ImageList {
 public:
  QPixmap Pixmap(const Ref<ListImage>& entry, QSize size) { return cache_.Get(entry, size, Images().Count()); }

 private:
  PixmapCache cache_;
};

}  // namespace desk::qtb
