// The buffers of the strings the C interface hands out. A host reads short strings (a
// separator, a key, a caption) far more often than long ones and gives each back at once with
// desk_value_clear, so the short ones come from a small pool of fixed slots: a pop and a push
// instead of malloc and free. Longer strings, and short ones while every slot is out, use
// malloc (see values.h). Under AddressSanitizer a slot is poisoned while it is free, so a
// string used after its desk_value_clear is still reported.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#define DESK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DESK_ASAN 1
#endif
#endif
#ifdef DESK_ASAN
#include <sanitizer/asan_interface.h>
#define DESK_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define DESK_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define DESK_POISON(p, n) ((void)(p), (void)(n))
#define DESK_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace desk::capi {

// Every member is inline: Take and Give lie on the path of each string read.
class ShortStrings {
 public:
  static constexpr size_t kUnits = 32;   // code units a slot holds
  static constexpr size_t kSlots = 256;  // 16 KiB

  ShortStrings() {
    for (size_t i = 0; i < kSlots; ++i) free_[i] = static_cast<uint16_t>(kSlots - 1 - i);
    free_count_ = kSlots;
    DESK_POISON(slots_, sizeof slots_);
  }
  uint16_t* Take(size_t units) noexcept {
    if (units > kUnits || free_count_ == 0) return nullptr;
    uint16_t* p = slots_[free_[--free_count_]];
    DESK_UNPOISON(p, kUnits * sizeof(uint16_t));
    return p;
  }
  // Whether `p` is a slot of the pool: any thread may ask (the pool never moves).
  bool Holds(const uint16_t* p) const noexcept {
    auto a = reinterpret_cast<uintptr_t>(p), base = reinterpret_cast<uintptr_t>(slots_);
    return a >= base && a < base + sizeof slots_;
  }
  bool Give(uint16_t* p) noexcept {
    if (!Holds(p)) return false;
    size_t i = (reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(slots_)) / sizeof slots_[0];
    DESK_POISON(slots_[i], sizeof slots_[0]);
    free_[free_count_++] = static_cast<uint16_t>(i);
    return true;
  }

 private:
  alignas(64) uint16_t slots_[kSlots][kUnits];
  uint16_t free_[kSlots];
  size_t free_count_ = 0;
};

}  // namespace desk::capi
