#include "lru_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

using Key = std::pair<int, int>;  // owner, size
using Cache = desk::detail::LruCache<Key, std::string>;

// Which of the keys (1,1) .. (1,4) and (2,1) are kept, as a string of owner.size words.
std::string Kept(Cache& c) {
  std::string s;
  c.ForEachIn(Key{0, 0}, Key{9, 0}, [&](const Key& k, const std::string&) {
    s += (s.empty() ? "" : " ") + std::to_string(k.first) + "." + std::to_string(k.second);
  });
  return s;
}

// Values of 10 bytes at (1,1), (1,2), (1,3) in that order, under a bound of 30; then each row's
// step, and what is kept after it within the row's bound.
TEST(LruCache, KeepsWithinTheBoundLettingTheLeastRecentlyUsedGo) {
  struct Row {
    const char* name;
    void (*step)(Cache&);
    const char* kept;
    size_t bytes;
  };
  const Row rows[] = {
      {"one more goes past the bound: the oldest goes", [](Cache& c) { c.Put({2, 1}, "d", 10, 30); }, "1.2 1.3 2.1", 30},
      {"one found is the newest: the next oldest goes",
       [](Cache& c) {
         ASSERT_NE(c.Find({1, 1}), nullptr);
         c.Put({2, 1}, "d", 10, 30);
       },
       "1.1 1.3 2.1", 30},
      {"replaced at its key, counted once", [](Cache& c) { c.Put({1, 2}, "b2", 15, 35); }, "1.1 1.2 1.3", 35},
      {"larger than the bound: not kept, the others stay", [](Cache& c) { c.Put({2, 1}, "big", 31, 30); }, "1.1 1.2 1.3", 30},
      {"a lower bound lets the oldest go", [](Cache& c) { c.Trim(15); }, "1.3", 10},
      {"an owner's range dropped", [](Cache& c) { c.EraseIn({1, 2}, {2, 0}); }, "1.1", 10},
      {"emptied", [](Cache& c) { c.Clear(); }, "", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Cache c;
    for (int size = 1; size <= 3; ++size) c.Put({1, size}, "v", 10, 30);
    r.step(c);
    EXPECT_EQ(Kept(c), r.kept);
    EXPECT_EQ(c.Bytes(), r.bytes);
  }
}

TEST(LruCache, FindReturnsTheValueKept) {
  Cache c;
  c.Put({1, 1}, "a", 1, 10);
  ASSERT_NE(c.Find({1, 1}), nullptr);
  EXPECT_EQ(*c.Find({1, 1}), "a");
  EXPECT_EQ(c.Find({1, 2}), nullptr);
}

}  // namespace
