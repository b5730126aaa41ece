#include "pictures/pixel_cache.h"

#include <atomic>

#include "desk/imagelist.h"

namespace desk {

namespace {
std::atomic<size_t> bound{kDefaultPictureCacheBytes};

size_t BytesOf(const Picture& p) { return p.pixels.size() * sizeof(uint32_t) + sizeof(Picture); }
}  // namespace

void SetPictureCacheBytes(size_t bytes) {
  bound = bytes;
  if (detail::PixelCache* cache = detail::PixelCache::OfThisThread()) cache->Trim();
}

size_t PictureCacheBytes() { return bound; }

size_t PictureCacheUsedBytes() {
  const detail::PixelCache* cache = detail::PixelCache::OfThisThread();
  return cache ? cache->Bytes() : 0;
}

namespace detail {

namespace {
// Set once the thread's cache is gone: a list kept in a static object outlives it, and its
// pictures must then find no cache rather than a destroyed one.
thread_local bool cacheGone = false;
struct Holder {
  PixelCache cache;
  ~Holder() { cacheGone = true; }
};
}  // namespace

PixelCache* PixelCache::OfThisThread() {
  if (cacheGone) return nullptr;
  thread_local Holder holder;
  return &holder.cache;
}

Ref<Picture> PixelCache::Find(uint64_t owner, int32_t w, int32_t h) {
  const auto it = index_.find(Key{owner, w, h});
  if (it == index_.end()) return nullptr;
  lru_.splice(lru_.begin(), lru_, it->second);
  return it->second->pixels;
}

Ref<Picture> PixelCache::FindLarger(uint64_t owner, int32_t w, int32_t h) const {
  Ref<Picture> best;
  for (auto it = index_.lower_bound(Key{owner, 0, 0}); it != index_.end() && std::get<0>(it->first) == owner; ++it) {
    const Picture& p = *it->second->pixels;
    if (p.width < w || p.height < h) continue;
    if (!best || int64_t{p.width} * p.height < int64_t{best->width} * best->height) best = it->second->pixels;
  }
  return best;
}

void PixelCache::Put(uint64_t owner, Ref<Picture> pixels) {
  const size_t bytes = BytesOf(*pixels);
  if (bytes > bound) return;
  const Key key{owner, pixels->width, pixels->height};
  if (const auto old = index_.find(key); old != index_.end()) {
    bytes_ -= old->second->bytes;
    lru_.erase(old->second);
    index_.erase(old);
  }
  const auto node = lru_.insert(lru_.begin(), Node{key, std::move(pixels), bytes});
  try {
    index_.emplace(key, node);
  } catch (...) {
    lru_.erase(node);
    throw;
  }
  bytes_ += bytes;
  Trim();
}

void PixelCache::Forget(uint64_t owner) {
  auto it = index_.lower_bound(Key{owner, 0, 0});
  while (it != index_.end() && std::get<0>(it->first) == owner) {
    bytes_ -= it->second->bytes;
    lru_.erase(it->second);
    it = index_.erase(it);
  }
}

void PixelCache::Trim() {
  while (bytes_ > bound && !lru_.empty()) {
    bytes_ -= lru_.back().bytes;
    index_.erase(lru_.back().key);
    lru_.pop_back();
  }
}

}  // namespace detail
}  // namespace desk
