// The Qt platform's image list.
#pragma once

#include <QPixmap>

#include "desk/imagelist.h"
#include "qt_util.h"

namespace desk::qtb {

// The platform image list with its pictures kept as pixmaps.
class QtImageList : public ImageList {
 public:
  // The pixmap of the picture under `key` (null pixmap when absent).
  QPixmap Pixmap(const Ref<Picture>& picture);

 private:
  PixmapCache cache_;
};

}  // namespace desk::qtb
