// The tree's rows as balanced trees over its sibling lists, for the headless HitTest and for a
// GUI backend's item model: a node's place among its siblings in display order, the node at a
// place, and the node on a row, each in O(log n) (times the depth for a row).
//
// Internal to the platform and its backends (the Qt item model), reached through the private
// target DeskRuntimePrivate; not part of the public headers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "desk/export.h"
#include "desk/tree.h"

namespace desk::detail {

// The roots in display order: sibling order, or with Sorted by text (case ignored, ties in
// sibling order).
std::vector<Node*> DisplayRoots(Node* first, bool sorted);

// Every sibling list (the roots in display order, each node's children in sibling order) is a
// B+tree of blocks: leaves hold up to 64 nodes' position slots, inner blocks up to 64 blocks
// with the number of nodes and the rows under each. Each node counts the rows it spans: itself,
// plus its children's rows when it is expanded. The node at row k, the node at a place in a
// list and a node's place are found by walking a few blocks: in a list of a million nodes, four
// blocks, the upper ones small enough to stay in the cache, where the ~2 ln n nodes of a
// balanced binary tree lie scattered and miss it at most levels. The entries live beside the
// nodes, by position slot, so that a tree never asked pays nothing for them.
class DESK_API RowIndex {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  explicit RowIndex(const TreeView& t) : t_(t), cap_(BlockSize()) { Build(); }

  // The tree's index, made when first needed.
  static RowIndex& Of(TreeView& t);
  // How many indexes were built from a whole tree in this process. Each change the index
  // cannot follow costs a build, so tests count them to see which changes are followed.
  static uint64_t Builds();
  // How many nodes a leaf holds and blocks an inner block, for indexes built from now on: 64,
  // or as few as 4 for tests, whose lists then split and merge at every size.
  static void SetBlockSize(int n);
  // The blocks the lists hold now, leaves and inner blocks: what the index's memory follows.
  size_t BlocksInUse() const;

  // The node on a row of the whole tree (0 the first), or null.
  Node* At(int64_t row) const;
  // The number of rows shown, and the row of a node (-1 under a collapsed node or taken out).
  int64_t Rows() const { return SumOf(roots_); }
  int64_t RowOf(const Node& n) const;
  // The rows a node spans: itself and, expanded, the rows under it (0 once taken out).
  int32_t Span(const Node& n) const { return n.slot_ < e_.size() ? e_[n.slot_].span : 0; }

  // The number of nodes in a sibling list (parent null: the roots).
  int32_t Count(const Node* parent) const { return CountOf(ListRoot(parent)); }
  // The node at a place (0 the first, in range) of a sibling list, in display order.
  Node* ChildAt(const Node* parent, int32_t place) const;
  // A node's place among its siblings, in display order.
  int32_t PlaceOf(const Node& n) const;

  // After Link. False when the index cannot place the node cheaply (a sorted root among roots
  // of equal text, none of them a sibling next to it): the caller drops the index.
  bool Inserted(Node& n, bool sorted);
  // Takes the node and its subtree out of the rows while it is still linked, letting go of the
  // lists under it; does nothing for a node already taken out, so that a backend may do it
  // before the tree unlinks the node. Takes no memory.
  void Removing(Node& n);
  // After the node was expanded or collapsed.
  void ExpandedChanged(Node& n);
  // After the tree packed its position slots: `to` maps each old slot to its new one (kNone
  // for a hole). A pass over the entries, instead of a build that walks every node.
  void SlotsMoved(const std::vector<uint32_t>& to);
  // After a root's text changed with Sorted on: the root moves to its place. False as for
  // Inserted.
  bool RootTextChanged(Node& n);
  // Where the last root that RootTextChanged moved was and is now, for a backend that tells
  // its views of the move after the fact; false when that was not `n` or already taken.
  bool TakeMove(const Node& n, int32_t& from, int32_t& to);

  // A backend's marks, one bit a node: which nodes' children it has let anyone read. A node
  // added since the index was built starts unmarked; the nodes there when it was built (it
  // may be built again at any time) start marked, which only costs a backend a shortcut.
  bool Marked(const Node& n) const { return n.slot_ >= marks_.size() * 64 || (marks_[n.slot_ / 64] >> (n.slot_ % 64)) & 1; }
  void Mark(const Node& n) const {
    if (n.slot_ < marks_.size() * 64) marks_[n.slot_ / 64] |= uint64_t{1} << (n.slot_ % 64);
  }
  void ClearMarks() { std::fill(marks_.begin(), marks_.end(), 0); }

 private:
  static constexpr int kCap = 64;               // room in a block: slots a leaf holds, children an inner block
  static int BlockSize();
  static constexpr uint32_t kInner = 1u << 31;  // tags an inner block's id
  struct Entry {
    uint32_t leaf = kNone;  // the leaf holding the node; kNone once taken out
    uint32_t kids = kNone;  // the top block of its children's list
    int32_t span = 0;       // rows of the node and, expanded, its children; 0 once taken out
  };
  struct Leaf {
    uint32_t up = kNone;  // the inner block above (kNone at a list's top); the next free leaf when free
    int32_t n = 0;        // slots in use
    int32_t sum = 0;      // their spans
    uint32_t slot[kCap];
  };
  struct Inner {
    uint32_t up = kNone;
    int32_t n = 0;
    int32_t count = 0, sum = 0;  // nodes and rows under it
    uint32_t child[kCap];
    int32_t counts[kCap];
    int32_t sums[kCap];
  };
  static bool IsInner(uint32_t b) { return (b & kInner) != 0; }
  Leaf& L(uint32_t b) { return leaves_[b]; }
  const Leaf& L(uint32_t b) const { return leaves_[b]; }
  Inner& I(uint32_t b) { return inners_[b & ~kInner]; }
  const Inner& I(uint32_t b) const { return inners_[b & ~kInner]; }
  uint32_t& Up(uint32_t b) { return IsInner(b) ? I(b).up : L(b).up; }
  uint32_t Up(uint32_t b) const { return IsInner(b) ? I(b).up : L(b).up; }
  int32_t CountOf(uint32_t b) const { return b == kNone ? 0 : IsInner(b) ? I(b).count : L(b).n; }
  int32_t SumOf(uint32_t b) const { return b == kNone ? 0 : IsInner(b) ? I(b).sum : L(b).sum; }
  int IndexIn(uint32_t inner, uint32_t child) const;
  int IndexInLeaf(uint32_t leaf, uint32_t s) const;
  uint32_t ListRoot(const Node* parent) const;
  uint32_t& ListRoot(const Node* parent);
  uint32_t NewLeaf();
  uint32_t NewInner();
  void Free(uint32_t b);
  void AddUp(uint32_t b, int32_t sum, int32_t count);
  void Split(uint32_t& b, int& at, uint32_t& root);
  void InsertChild(uint32_t p, int at, uint32_t c, uint32_t& root);
  uint32_t NewBeside(uint32_t b, bool after, uint32_t& root);
  void Transfer(uint32_t from, int at, int k, uint32_t to, int toAt);
  void InsertAt(uint32_t leaf, int at, uint32_t s, uint32_t& root);
  void InsertAtPlace(int32_t place, uint32_t s, uint32_t& root);
  void TakeOut(uint32_t s, uint32_t& root);
  void Unlink(uint32_t b, uint32_t& root);
  void Rebalance(uint32_t b, uint32_t& root);
  int32_t RowsBefore(uint32_t s) const;
  int32_t SortedPlace(const Node& n) const;
  void Spread(Node* parent, int32_t delta);
  uint32_t BuildList(const std::vector<uint32_t>& list);
  void Build();

  const TreeView& t_;
  const int cap_;  // what a block holds before it splits, at most kCap
  std::vector<Entry> e_;  // by position slot
  std::vector<Leaf> leaves_;
  std::vector<Inner> inners_;
  uint32_t freeLeaf_ = kNone, freeInner_ = kNone;  // chained through their `up`
  mutable std::vector<uint64_t> marks_;  // by position slot, as many words as e_ needs
  uint32_t roots_ = kNone;
  struct Move {
    const Node* node = nullptr;
    int32_t from = 0, to = 0;
  } move_;
};

}  // namespace desk::detail
