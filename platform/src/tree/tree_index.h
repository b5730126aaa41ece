// The tree's key and position indexes, internal to the platform.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "desk/tree.h"

namespace desk {
namespace detail {
// A key in the form the key index compares: letter case folded (ASCII without ICU).
std::u16string FoldKey(std::u16string_view key);

// The tree's key index: folded key -> node, open addressing over (hash, node) pairs, so that a
// look-up touches the slot and the node (whose key it compares) and nothing else. Erasing
// shifts the run back instead of leaving markers.
class KeyIndex {
 public:
  static size_t Hash(std::u16string_view folded) { return std::hash<std::u16string_view>{}(folded); }
  Node* Find(std::u16string_view folded) const;
  // Room for one more key, made before the tree changes: Insert then takes no memory.
  void Reserve();
  // The node's folded key must not be in the index yet, and Reserve made room for it (one key
  // erased just before also leaves room).
  void Insert(Node& n);
  void Erase(Node& n);
  void Clear();

 private:
  struct Slot {
    size_t hash;
    Node* node;  // null: empty
  };
  void Place(Slot s);
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
  int32_t PositionOf(size_t slot) const;  // 1-based
  Node* At(int32_t position) const;       // 1-based, in range
  // The node in a slot (null for a hole), and the number of slots.
  Node* AtSlot(size_t slot) const { return slots_[slot].get(); }
  size_t SlotCount() const { return slots_.size(); }
  int32_t Count() const { return count_; }
  // Drops the holes once they outnumber the nodes; `renumber` is told each node's new slot.
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
  if (slots_.size() < 64 || static_cast<size_t>(count_) * 2 >= slots_.size()) return;
  std::erase_if(slots_, [](const Ref<Node>& r) { return !r; });
  for (size_t i = 0; i < slots_.size(); ++i) renumber(*slots_[i], i);
  Rebuild();
}
struct NodeIndex {
  PositionIndex positions;
  KeyIndex keys;
};
}  // namespace detail

}  // namespace desk
