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
// treap over its nodes, and each node counts the rows it spans: itself, plus its children's
// rows when it is expanded. A treap node sums the spans and the number of nodes of its treap
// subtree, so the node at row k, the node at a place in a list and a node's place are found
// by walking treap paths. A change updates the sums along the paths to the top. The entries
// live beside the nodes, by position slot, so that a tree never asked pays nothing for them.
class DESK_API RowIndex {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  explicit RowIndex(const TreeView& t) : t_(t) { Build(); }

  // The tree's index, made when first needed.
  static RowIndex& Of(TreeView& t);
  // How many indexes were built from a whole tree in this process. Each change the index
  // cannot follow costs a build, so tests count them to see which changes are followed.
  static uint64_t Builds();

  // The node on a row of the whole tree (0 the first), or null.
  Node* At(int64_t row) const;
  // The number of rows shown, and the row of a node (-1 under a collapsed node or taken out).
  int64_t Rows() const { return Sum(roots_); }
  int64_t RowOf(const Node& n) const;
  // The rows a node spans: itself and, expanded, the rows under it (0 once taken out).
  int32_t Span(const Node& n) const { return n.slot_ < e_.size() ? e_[n.slot_].span : 0; }

  // The number of nodes in a sibling list (parent null: the roots).
  int32_t Count(const Node* parent) const { return Count(ListRoot(parent)); }
  // The node at a place (0 the first, in range) of a sibling list, in display order.
  Node* ChildAt(const Node* parent, int32_t place) const;
  // A node's place among its siblings, in display order.
  int32_t PlaceOf(const Node& n) const;

  // After Link. False when the index cannot place the node cheaply (a sorted root among roots
  // of equal text, none of them a sibling next to it): the caller drops the index.
  bool Inserted(Node& n, bool sorted);
  // Takes the node and its subtree out of the rows while it is still linked; does nothing for
  // a node already taken out, so that a backend may do it before the tree unlinks the node.
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
  struct Entry {
    uint32_t left = kNone, right = kNone, up = kNone;  // the treap of the node's sibling list
    uint32_t kids = kNone;                             // the treap of its children
    int32_t span = 0;     // rows of the node and, expanded, its children; 0 once taken out
    int32_t sum = 0;      // spans of its treap subtree
    int32_t leftSum = 0;  // the same of its left subtree: one read per step down
    int32_t count = 0;    // nodes of its treap subtree
  };

  int32_t Sum(uint32_t x) const { return x == kNone ? 0 : e_[x].sum; }
  int32_t Count(uint32_t x) const { return x == kNone ? 0 : e_[x].count; }
  static uint32_t Priority(uint32_t s);
  uint32_t ListRoot(const Node* parent) const;
  uint32_t& ListRoot(const Node* parent);
  void Attach(uint32_t s, uint32_t up, bool left);
  void AttachBefore(uint32_t s, uint32_t b);
  void AttachAfter(uint32_t s, uint32_t a);
  bool PlaceRoot(uint32_t s, Node& n);
  void Settle(uint32_t s, uint32_t& root);
  void Unhook(uint32_t s, uint32_t& root);
  void AddAbove(uint32_t x, int32_t delta, int32_t count);
  void RotateUp(uint32_t x, uint32_t& root);
  void Spread(Node* parent, int32_t delta);
  uint32_t BuildList(const std::vector<uint32_t>& list);
  void SumUp(uint32_t top);
  void Build();

  const TreeView& t_;
  std::vector<Entry> e_;  // by position slot
  mutable std::vector<uint64_t> marks_;  // by position slot, as many words as e_ needs
  uint32_t roots_ = kNone;
  struct Move {
    const Node* node = nullptr;
    int32_t from = 0, to = 0;
  } move_;
};

}  // namespace desk::detail
