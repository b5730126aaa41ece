#include "qt_image_list.h"

#include <QCoreApplication>
#include <tuple>

#include "lru_cache.h"
#include "qt_util.h"

namespace desk::qtb {

namespace {

// Entry serial, device width and height.
using Key = std::tuple<uint64_t, int32_t, int32_t>;
using Pixmaps = detail::LruCache<Key, QPixmap>;

void EmptyShared();

// One for the process, emptied while the application that made its pixmaps still exists.
Pixmaps& Shared() {
  static struct Holder {
    Holder() { qAddPostRoutine(&EmptyShared); }
    ~Holder() { qRemovePostRoutine(&EmptyShared); }
    Pixmaps pixmaps;
  } holder;
  return holder.pixmaps;
}

void EmptyShared() { Shared().Clear(); }

// A pixmap that could not be made is kept too, for what it costs to hold, so that a picture
// that fails is not decoded again at each paint.
size_t BytesOf(const QPixmap& p) {
  return static_cast<size_t>(p.width()) * static_cast<size_t>(p.height()) * 4 + sizeof(QPixmap);
}

// The entry's pixels at `device` as a pixmap of `dpr`, from the cache or made into it.
QPixmap Cached(const ListImage& entry, QSize device, qreal dpr) {
  Pixmaps& cache = Shared();
  const size_t bound = PictureCacheBytes();
  cache.Trim(bound);  // a host may have lowered the bound since
  const Key key{entry.Serial(), device.width(), device.height()};
  if (QPixmap* kept = cache.Find(key)) {
    // Another view drew the same pixels at another density.
    if (!kept->isNull() && kept->devicePixelRatio() != dpr) kept->setDevicePixelRatio(dpr);
    return *kept;
  }
  QPixmap pixmap;
  try {
    pixmap = QPixmap::fromImage(
        ToQImage(*entry.PixelsAt(device.width(), device.height(), ListImage::KeepMade::No)));
  } catch (const Error&) {
    // Bytes that decoded once do not fail now; if they do (memory ran out), nothing is drawn.
  }
  if (!pixmap.isNull()) pixmap.setDevicePixelRatio(dpr);
  cache.Put(key, pixmap, BytesOf(pixmap), bound);
  return pixmap;
}

}  // namespace

QPixmap ListPixmap(const ListImage& entry, QSize size) {
  if (size.isEmpty()) return QPixmap();
  return Cached(entry, size, 1);
}

QPixmap DevicePixmap(const ListImage& entry, QSize logical, qreal dpr) {
  const Ref<Picture>& original = entry.Original();
  const QSize device = (QSizeF(logical) * dpr).toSize();
  if (!(dpr > 1) || !original || (original->encoded.empty() && !original->HoldsPixels()) || original->width < device.width() ||
      original->height < device.height() || device.isEmpty())
    return QPixmap();
  return Cached(entry, device, dpr);
}

}  // namespace desk::qtb
