// The tree's key index and position index.
#include <algorithm>
#include <bit>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "desk/text.h"
#include "tree/tree_index.h"

namespace desk::detail {

// Most keys are ASCII, which folds without ICU.
std::u16string FoldKey(std::u16string_view key) {
  std::u16string out(key);
  for (char16_t& c : out) {
    if (c >= 0x80) return FoldCase(key);
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + (u'a' - u'A'));
  }
  return out;
}

// Position index

int32_t PositionIndex::Prefix(size_t slots) const {
  int32_t sum = 0;
  for (size_t i = slots; i > 0; i -= i & (~i + 1)) sum += fenwick_[i];
  return sum;
}

void PositionIndex::Reserve() {
  // Append adds one to each (and the unused first entry to an empty Fenwick tree).
  auto room = [](auto& v) {
    if (v.size() == v.capacity()) ReserveAdvised(v, std::max<size_t>(8, v.capacity() * 2));
  };
  room(slots_);
  room(fenwick_);
}

size_t PositionIndex::Append(Ref<Node> n) {
  if (fenwick_.empty()) fenwick_.push_back(0);
  slots_.push_back(std::move(n));
  size_t p = slots_.size();  // 1-based
  size_t low = p & (~p + 1);
  // fenwick_[p] covers (p - low, p]: the new node plus the live ones before it in that range.
  fenwick_.push_back(1 + Prefix(p - 1) - Prefix(p - low));
  ++count_;
  return p - 1;
}

Ref<Node> PositionIndex::Take(size_t slot) {
  Ref<Node> n = std::move(slots_[slot]);
  for (size_t i = slot + 1; i < fenwick_.size(); i += i & (~i + 1)) --fenwick_[i];
  --count_;
  return n;
}

int32_t PositionIndex::PositionOf(size_t slot) const { return Prefix(slot + 1); }

Node* PositionIndex::At(int32_t position) const {
  const size_t n = slots_.size();
  size_t pos = 0;
  int32_t rest = position;
  for (size_t step = std::bit_floor(n); step > 0; step /= 2) {
    if (pos + step <= n && fenwick_[pos + step] < rest) {
      pos += step;
      rest -= fenwick_[pos];
    }
  }
  return slots_[pos].get();  // the Fenwick tree's slot pos+1 (it counts from 1)
}

void PositionIndex::Rebuild() {
  fenwick_.assign(slots_.size() + 1, 0);
  for (size_t i = 1; i < fenwick_.size(); ++i) {
    fenwick_[i] += slots_[i - 1] ? 1 : 0;
    size_t j = i + (i & (~i + 1));
    if (j < fenwick_.size()) fenwick_[j] += fenwick_[i];
  }
}

std::vector<Ref<Node>> PositionIndex::TakeAll() {
  std::vector<Ref<Node>> all = std::move(slots_);  // leaves slots_ empty
  fenwick_.clear();
  count_ = 0;
  return all;
}

// Key index

void AdviseHugePages([[maybe_unused]] const void* p, [[maybe_unused]] size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

Node* KeyIndex::Near(std::u16string_view folded) const {
  if (near_ == kEmpty) return nullptr;
  for (size_t s = near_; s <= size_t{near_} + 1 && s < positions_.SlotCount(); ++s) {
    Node* n = positions_.AtSlot(s);
    if (n && n->FoldedKey() == folded) {
      near_ = static_cast<uint32_t>(s);
      return n;
    }
  }
  return nullptr;
}

Node* KeyIndex::Find(std::u16string_view folded, size_t hash) const {
  if (slots_.empty()) return nullptr;
  const auto h = static_cast<uint32_t>(hash);
  const size_t mask = slots_.size() - 1;
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(&slots_[h & mask]);
#endif
  if (Node* n = Near(folded)) return n;
  for (size_t i = h & mask;; i = (i + 1) & mask) {
    const Slot& s = slots_[i];
    if (!s.node) return nullptr;
    if (s.hash == h && s.node->FoldedKey() == folded) {
      near_ = s.node->slot_;
      return s.node;
    }
  }
}

void KeyIndex::Place(Slot s) {
  const size_t mask = slots_.size() - 1;
  size_t i = s.hash & mask;
  while (slots_[i].node) i = (i + 1) & mask;
  slots_[i] = s;
}

void KeyIndex::Reserve() {
  if ((count_ + 1) * 4 <= slots_.size() * 3) return;
  // The larger table is made before the old one is let go: running out of memory here leaves
  // every key where it was.
  const size_t size = std::max<size_t>(16, slots_.size() * 2);
  std::vector<Slot> old;
  ReserveAdvised(old, size);
  old.assign(size, Slot{});
  old.swap(slots_);
  for (const Slot& s : old)
    if (s.node) Place(s);
}

void KeyIndex::Insert(Node& n, size_t hash) {
  Place(Slot{static_cast<uint32_t>(hash), &n});
  ++count_;
}

void KeyIndex::Erase(Node& n) {
  if (slots_.empty()) return;
  const size_t mask = slots_.size() - 1;
  size_t i = static_cast<uint32_t>(Hash(n.FoldedKey())) & mask;
  while (slots_[i].node && slots_[i].node != &n) i = (i + 1) & mask;
  if (!slots_[i].node) return;
  // Move later members of the run back into the hole when their home is not between the
  // hole and where they are.
  for (size_t j = (i + 1) & mask; slots_[j].node; j = (j + 1) & mask) {
    const size_t home = slots_[j].hash & mask;
    const bool stays = i <= j ? (home > i && home <= j) : (home > i || home <= j);
    if (stays) continue;
    slots_[i] = slots_[j];
    i = j;
  }
  slots_[i] = Slot{};
  --count_;
}

void KeyIndex::Refill() {
  near_ = kEmpty;
  std::fill(slots_.begin(), slots_.end(), Slot{});
  count_ = 0;
  if (slots_.empty()) return;
  for (size_t s = 0; s < positions_.SlotCount(); ++s) {
    Node* n = positions_.AtSlot(s);
    if (!n || n->key_.empty()) continue;
    Place(Slot{static_cast<uint32_t>(Hash(n->FoldedKey())), n});
    ++count_;
  }
}

void KeyIndex::Clear() {
  near_ = kEmpty;
  slots_ = {};
  count_ = 0;
}

void NodeIndexDeleter::operator()(NodeIndex* x) const noexcept { delete x; }

}  // namespace desk::detail
