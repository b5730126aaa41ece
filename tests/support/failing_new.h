// Allocation failure on demand: the program's own operator new throws std::bad_alloc at a
// chosen allocation of the calling thread, so that the code reached only when memory runs out
// can be tested. Not in sanitizer builds, whose own allocator stands in front.
#pragma once

#include <gtest/gtest.h>

#include <new>
#include <string>

namespace desktest {

class FailAllocation {
 public:
  // The allocation `after` allocations from now (0: the next one) fails; later ones succeed,
  // or, when `andLater`, fail too (memory that stays used up).
  explicit FailAllocation(int after, bool andLater = false);
  ~FailAllocation();
  FailAllocation(const FailAllocation&) = delete;
  FailAllocation& operator=(const FailAllocation&) = delete;
  // Whether the chosen allocation was reached.
  bool Fired() const;
  // False where the failures cannot be made (a sanitizer build): tests skip then.
  static bool Available();
};

// The largest single allocation the calling thread makes while one of these lives (0 where
// allocations cannot be watched: a sanitizer build).
class LargestAllocation {
 public:
  LargestAllocation();
  ~LargestAllocation();
  LargestAllocation(const LargestAllocation&) = delete;
  LargestAllocation& operator=(const LargestAllocation&) = delete;
  unsigned long long Bytes() const;
};

// Runs `change` with each of its allocations failing in turn (and, when `andLater`, every one
// after it too), until a run in which none fails. `prepare` runs before each, while memory
// lasts; `check(failed)` after each, told whether memory ran out (std::bad_alloc).
template <class Prepare, class Change, class Check>
void EachAllocationFailing(Prepare prepare, Change change, Check check, bool andLater = false) {
  for (int k = 0; k < 1000; ++k) {
    prepare();
    bool failed = false, fired = false;
    {
      FailAllocation fail(k, andLater);
      try {
        change();
      } catch (const std::bad_alloc&) {
        failed = true;
      }
      fired = fail.Fired();
    }
    SCOPED_TRACE("allocation " + std::to_string(k));
    if (failed) {
      EXPECT_TRUE(fired) << "out of memory with no allocation failing";
    }
    check(failed);
    if (!fired) return;
  }
  ADD_FAILURE() << "allocations never end";
}

}  // namespace desktest
