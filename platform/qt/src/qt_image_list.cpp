#include "qt_image_list.h"

#include <QCoreApplication>
#include <list>
#include <unordered_map>

#include "desk/picture_loader.h"

namespace desk::qtb {

namespace {

// Device-size pixmaps by picture and size, the least recently used dropped first once they
// hold more than kBytes. Each entry holds its picture, so an address is not reused meanwhile.
class DevicePixmaps {
 public:
  static constexpr size_t kBytes = size_t{16} << 20;

  // One for the process, emptied while the application that made its pixmaps still exists.
  static DevicePixmaps& Shared() {
    static DevicePixmaps shared;
    return shared;
  }
  DevicePixmaps() { qAddPostRoutine(&EmptyShared); }
  ~DevicePixmaps() { qRemovePostRoutine(&EmptyShared); }

  QPixmap* Find(const Picture* p, QSize size) {
    const auto it = index_.find(Key{p, size.width(), size.height()});
    if (it == index_.end()) return nullptr;
    used_.splice(used_.begin(), used_, it->second);
    return &it->second->pixmap;
  }

  void Add(const Ref<Picture>& p, QSize size, QPixmap pixmap) {
    bytes_ += Bytes(pixmap);
    used_.push_front({Key{p.get(), size.width(), size.height()}, p, std::move(pixmap)});
    index_[used_.front().key] = used_.begin();
    while (bytes_ > kBytes && used_.size() > 1) {
      bytes_ -= Bytes(used_.back().pixmap);
      index_.erase(used_.back().key);
      used_.pop_back();
    }
  }

 private:
  struct Key {
    const Picture* picture;
    int width, height;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& k) const {
      return std::hash<const void*>()(k.picture) ^ (static_cast<size_t>(k.width) << 16 | static_cast<size_t>(k.height));
    }
  };
  struct Entry {
    Key key;
    Ref<Picture> picture;
    QPixmap pixmap;
  };
  static void EmptyShared() {
    DevicePixmaps& c = Shared();
    c.index_.clear();
    c.used_.clear();
    c.bytes_ = 0;
  }
  static size_t Bytes(const QPixmap& p) { return static_cast<size_t>(p.width()) * static_cast<size_t>(p.height()) * 4; }

  std::list<Entry> used_;  // most recently used first
  std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> index_;
  size_t bytes_ = 0;
};

}  // namespace

QPixmap DevicePixmap(const ListImage& image, QSize logical, qreal dpr) {
  const Ref<Picture>& original = image.Original();
  const QSize device = (QSizeF(logical) * dpr).toSize();
  if (!(dpr > 1) || !original || (original->encoded.empty() && !original->HoldsPixels()) || original->width < device.width() ||
      original->height < device.height() || device.isEmpty())
    return QPixmap();
  DevicePixmaps& cache = DevicePixmaps::Shared();
  if (QPixmap* kept = cache.Find(original.get(), device)) return *kept;
  Ref<Picture> pixels;
  try {
    pixels = image.PixelsAt(device.width(), device.height());
  } catch (const Error&) {
    return QPixmap();  // bytes that decoded once do not fail now; if they do, the list's copy shows
  }
  QPixmap pixmap = QPixmap::fromImage(ToQImage(*pixels));
  if (pixmap.isNull()) return QPixmap();
  pixmap.setDevicePixelRatio(dpr);
  cache.Add(original, device, pixmap);
  return pixmap;
}

}  // namespace desk::qtb
