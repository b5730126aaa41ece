#include "support/failing_new.h"

#include <cstdlib>
#include <new>

// GCC names the address and thread sanitizers with macros, clang through __has_feature. Both
// bring an operator new of their own.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define DESK_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define DESK_TEST_ASAN 1
#endif
#endif

namespace desktest {
namespace {
thread_local int countdown = -1;  // allocations before the one that fails; -1: none fails
thread_local bool fired = false;
thread_local bool persist = false;  // once one fails, every later one does
thread_local bool watching = false;
thread_local std::size_t largest = 0;
}  // namespace

FailAllocation::FailAllocation(int after, bool andLater) {
  countdown = after;
  fired = false;
  persist = andLater;
}
FailAllocation::~FailAllocation() {
  countdown = -1;
  persist = false;
}
bool FailAllocation::Fired() const { return fired; }

LargestAllocation::LargestAllocation() {
  watching = true;
  largest = 0;
}
LargestAllocation::~LargestAllocation() { watching = false; }
unsigned long long LargestAllocation::Bytes() const { return largest; }

#if defined(DESK_TEST_ASAN)
bool FailAllocation::Available() { return false; }
#else
bool FailAllocation::Available() { return true; }
#endif

}  // namespace desktest

#if !defined(DESK_TEST_ASAN)
// Replaces the global operator new for the whole program (the libraries it loads included);
// the other forms of new and every delete are the library's own, which come here or free().
__attribute__((visibility("default"))) void* operator new(std::size_t size) {
  if ((desktest::countdown >= 0 && desktest::countdown-- == 0) || (desktest::fired && desktest::persist)) {
    desktest::fired = true;
    throw std::bad_alloc();
  }
  if (desktest::watching && size > desktest::largest) desktest::largest = size;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
#endif
