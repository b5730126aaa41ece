// The tree's key and position indexes, internal to the platform.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "desk/tree.h"

namespace desk {
namespace detail {
// A key in the form the key index compares: letter case folded (ASCII without ICU).
std::u16string FoldKey(std::u16string_view key);

class PositionIndex;

// Advice that a block be backed by huge pages, given before its pages are touched: a look-up
// landing anywhere in a large table then costs a few TLB entries instead of a page walk. Only
// advice; nothing depends on it.
void AdviseHugePages(const void* p, size_t bytes);

// Room for `cap` elements in a new block so advised; v is unchanged when that throws.
template <class T>
void ReserveAdvised(std::vector<T>& v, size_t cap) {
  if (cap <= v.capacity()) return;
  std::vector<T> bigger;
  bigger.reserve(cap);
  AdviseHugePages(bigger.data(), cap * sizeof(T));
  for (T& x : v) bigger.push_back(std::move(x));
  v.swap(bigger);
}

// The tree's key index: folded key -> node, open addressing over (hash, node) slots, so that a
// look-up touches the slot and the node it names (whose key it compares), and a key that is not
// there nothing but slots. Erasing shifts the run back instead of leaving markers. The slots
// name the nodes themselves rather than their position slots: one cache miss less a look-up in
// a large table, and nothing to renumber when the positions are packed.
//
// Hosts mostly ask for keys in runs: the same parent's key for each of its children, or every
// key in the order the nodes were added. A look-up first tries the node it found last and the
// one added after it (their keys compared, so never wrong), which spares a million keys'
// table a cache miss; the table's slot is already being fetched meanwhile.
class KeyIndex {
 public:
  explicit KeyIndex(const PositionIndex& positions) : positions_(positions) {}
  static size_t Hash(std::u16string_view folded) { return std::hash<std::u16string_view>{}(folded); }
  Node* Find(std::u16string_view folded) const { return Find(folded, Hash(folded)); }
  // The same with the key's hash already made (Hash of the folded key).
  Node* Find(std::u16string_view folded, size_t hash) const;
  // Starts fetching the slot where a look-up of the key begins (only a hint).
  void Prefetch(std::u16string_view folded) const { Prefetch(Hash(folded)); }
  void Prefetch([[maybe_unused]] size_t hash) const {
#if defined(__GNUC__) || defined(__clang__)
    if (!slots_.empty()) __builtin_prefetch(&slots_[static_cast<uint32_t>(hash) & (slots_.size() - 1)]);
#endif
  }
  // Room for one more key, made before the tree changes: Insert then takes no memory.
  void Reserve();
  // The node's folded key must not be in the index yet, its position slot is set, and Reserve
  // made room for it (one key erased just before also leaves room).
  void Insert(Node& n) { Insert(n, Hash(n.FoldedKey())); }
  void Insert(Node& n, size_t hash);
  void Erase(Node& n);
  void Clear();
  size_t Count() const { return count_; }
  // Empties the table and puts back the keys of the nodes the position index still holds:
  // after most keyed nodes went at once, this costs the table's size and the nodes left
  // instead of a look-up in a large table for each node gone. Takes no memory.
  void Refill();

 private:
  struct Slot {
    uint32_t hash = 0;     // the low half of the key's hash, which also gives its home
    Node* node = nullptr;  // null: empty
  };
  static constexpr uint32_t kEmpty = UINT32_MAX;
  void Place(Slot s);
  Node* Near(std::u16string_view folded) const;
  const PositionIndex& positions_;
  // The position slot of the node found last. Only a place to look first: it may name another
  // node once the slots are packed, whose key then does not match.
  mutable uint32_t near_ = kEmpty;
  std::vector<Slot> slots_;  // a power of two in size, at most three quarters full
  size_t count_ = 0;
};

// Positions of the nodes in the order they were added, with holes left by removals: a
// Fenwick tree over the slots answers a node's position and the node at a position in
// O(log n); the slots are compacted once holes outnumber the nodes.
// The index holds the tree's own reference to each node.
class PositionIndex {
 public:
  // Room for one more node, made before the tree changes: Append then takes no memory.
  void Reserve();
  size_t Append(Ref<Node> n);
  // Empties the slot and hands over the tree's reference.
  Ref<Node> Take(size_t slot);
  // The same for many slots at once: each is emptied uncounted, then Recount counts them all
  // in one pass (positions are wrong in between).
  Ref<Node> TakeUncounted(size_t slot) { return --count_, std::move(slots_[slot]); }
  void Recount() { Rebuild(); }
  int32_t PositionOf(size_t slot) const;  // 1-based
  Node* At(int32_t position) const;       // 1-based, in range
  // The node in a slot (null for a hole), and the number of slots.
  Node* AtSlot(size_t slot) const { return slots_[slot].get(); }
  size_t SlotCount() const { return slots_.size(); }
  int32_t Count() const { return count_; }
  // Holes outnumber the nodes.
  bool Sparse() const { return slots_.size() >= 64 && static_cast<size_t>(count_) * 2 < slots_.size(); }
  // Drops the holes once they outnumber the nodes; `renumber` is told each node's new slot.
  // Through NodeIndex, which keeps the key index in step.
  template <class F>
  void CompactIfSparse(F renumber);
  // Hands over every reference, slots in order (with holes as nulls).
  std::vector<Ref<Node>> TakeAll();

 private:
  int32_t Prefix(size_t slots) const;
  void Rebuild();
  std::vector<Ref<Node>> slots_;
  std::vector<int32_t> fenwick_;  // 1-based; fenwick_[0] unused
  int32_t count_ = 0;
};

template <class F>
void PositionIndex::CompactIfSparse(F renumber) {
  if (!Sparse()) return;
  std::erase_if(slots_, [](const Ref<Node>& r) { return !r; });
  for (size_t i = 0; i < slots_.size(); ++i) renumber(*slots_[i], i);
  Rebuild();
}

struct NodeIndex {
  PositionIndex positions;
  KeyIndex keys{positions};
  NodeIndex() = default;
  NodeIndex(const NodeIndex&) = delete;  // the key index refers to the positions
  NodeIndex& operator=(const NodeIndex&) = delete;
  // Drops the position index's holes once they outnumber the nodes; `renumber` is told each node's new slot, then `moved` the map from each old slot to its
  // new one (UINT32_MAX for a hole). Stays sparse when there is no memory for the map (a
  // later removal tries again).
  template <class F, class G>
  void CompactIfSparse(F renumber, G moved);
};

template <class F, class G>
void NodeIndex::CompactIfSparse(F renumber, G moved) {
  if (!positions.Sparse()) return;
  std::vector<uint32_t> newSlot;
  try {
    newSlot.resize(positions.SlotCount());
  } catch (const std::bad_alloc&) {
    return;
  }
  uint32_t next = 0;
  for (size_t s = 0; s < newSlot.size(); ++s) newSlot[s] = positions.AtSlot(s) ? next++ : UINT32_MAX;
  positions.CompactIfSparse(renumber);
  moved(newSlot);
}
}  // namespace detail

}  // namespace desk
