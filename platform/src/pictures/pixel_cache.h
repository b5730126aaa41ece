// Decoded pixels of list pictures, kept for the next time they are drawn: one cache for each
// thread (pictures belong to the thread that made them), bounded in bytes by the process-wide
// PictureCacheBytes, least recently used out first. A picture larger than the bound is never
// kept.
#pragma once

#include <cstdint>
#include <tuple>

#include "desk/picture.h"
#include "lru_cache.h"

namespace desk::detail {

class PixelCache {
 public:
  // Null once the thread's objects are being destroyed.
  static PixelCache* OfThisThread();

  // The pixels of `owner` at exactly w x h, now the most recently used; null when absent.
  Ref<Picture> Find(uint64_t owner, int32_t w, int32_t h);
  // Of the pixels of `owner` held at least w x h, the smallest; null when none.
  Ref<Picture> FindLarger(uint64_t owner, int32_t w, int32_t h) const;
  // Keeps pixels of `owner` (a picture that holds its pixels), replacing any at their size.
  // On failure (memory) nothing changed.
  void Put(uint64_t owner, Ref<Picture> pixels);
  // Lets every picture of `owner` go.
  void Forget(uint64_t owner);
  // Lets pictures go, least recently used first, until they fit the bound.
  void Trim();
  size_t Bytes() const { return kept_.Bytes(); }

 private:
  using Key = std::tuple<uint64_t, int32_t, int32_t>;  // owner, width, height
  LruCache<Key, Ref<Picture>> kept_;
};

}  // namespace desk::detail
