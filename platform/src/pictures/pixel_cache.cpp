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
  const Ref<Picture>* kept = kept_.Find(Key{owner, w, h});
  return kept ? *kept : nullptr;
}

Ref<Picture> PixelCache::FindLarger(uint64_t owner, int32_t w, int32_t h) const {
  Ref<Picture> best;
  kept_.ForEachIn(Key{owner, 0, 0}, Key{owner + 1, 0, 0}, [&](const Key&, const Ref<Picture>& p) {
    if (p->width < w || p->height < h) return;
    if (!best || int64_t{p->width} * p->height < int64_t{best->width} * best->height) best = p;
  });
  return best;
}

void PixelCache::Put(uint64_t owner, Ref<Picture> pixels) {
  const Key key{owner, pixels->width, pixels->height};
  const size_t bytes = BytesOf(*pixels);
  kept_.Put(key, std::move(pixels), bytes, bound);
}

void PixelCache::Forget(uint64_t owner) { kept_.EraseIn(Key{owner, 0, 0}, Key{owner + 1, 0, 0}); }

void PixelCache::Trim() { kept_.Trim(bound); }

}  // namespace detail
}  // namespace desk
