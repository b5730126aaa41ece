// A tree's selection of many nodes, held as ranges of tree order.
//
// Tree order is the order of display with every node expanded (parents before children,
// siblings in display order). A range is every node from its first to its last in that order,
// so selecting all of a tree costs one range however many nodes it has, and a Shift range over
// rows costs one range more for each collapsed node with children inside it (its hidden
// children are not selected). The tree's current node (TreeView::SelectedNode) stays what it
// was: the selection is beside it, and in Single mode it is just that node.
//
// Kept up to date through the tree's observer calls: a removed node leaves its range (the
// range shrinks or goes), an added node inside a range is not selected, Clear empties it.
// Reordering roots (Sorted switched, a sorted root renamed) keeps the selected nodes: the
// tree tells the selection before and after, and a range over several roots is cut at the
// roots' edges for the move, then joined again where its pieces are next to each other.
// While the tree's filter is on, rows and SelectAll mean the rows it shows; the nodes it hides
// keep their state.
//
// The change event waits while the tree changes its nodes: an observer call only marks it, and
// it goes out once, when the outermost change is done and the tree is whole again, so that a
// handler that adds, removes or clears nodes does not reach into a change under way.
#pragma once

#include "desk/export.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "desk/tree.h"

namespace desk {

class DESK_API TreeSelection : private TreeObserver {
 public:
  enum class Mode : int32_t { Single = 0, Extended = 1 };
  struct Range {
    Node* first;
    Node* last;
  };

  explicit TreeSelection(TreeView& tree);
  ~TreeSelection() override;
  TreeSelection(const TreeSelection&) = delete;
  TreeSelection& operator=(const TreeSelection&) = delete;

  Mode GetMode() const { return mode_; }
  // Back to Single drops the ranges and keeps the current node.
  void SetMode(Mode m);

  // Called after each change of what is selected (not for the current node alone).
  void SetOnChanged(std::function<void()> f) { onChanged_ = std::move(f); }
  // The same for a backend's view, told first (to repaint what the host will read).
  void SetOnViewChanged(std::function<void()> f) { onViewChanged_ = std::move(f); }

  bool Contains(const Node& n) const;
  // The selected nodes in tree order. Costs one step per selected node.
  std::vector<Node*> SelectedNodes() const;
  int64_t Count() const;
  const std::vector<Range>& Ranges() const { return ranges_; }
  bool Empty() const { return mode_ == Mode::Single ? tree_.SelectedNode() == nullptr : ranges_.empty(); }

  // Programmatic changes (Extended mode; in Single mode they act on the current node).
  void SelectAll();
  void Clear();
  void SetSelected(Node& n, bool selected);
  // Adds the rows shown from `a` to `b` (either order).
  void AddRows(Node& a, Node& b);

  // The user's gestures, as a backend reports them: a click with its modifiers, and a
  // keyboard move to `to` (Shift extends from the anchor, otherwise the node alone).
  void Click(Node& n, bool shift, bool ctrl);
  void MoveTo(Node& to, bool shift);
  Node* Anchor() const { return anchor_; }

  // Order of two nodes of the tree: negative, zero or positive. Costs O(depth x log siblings).
  int Compare(const Node& a, const Node& b) const;
  // Neighbours in tree order (null at the ends), and the next row shown after `n`.
  Node* NextInOrder(const Node& n) const;
  Node* PrevInOrder(const Node& n) const;
  Node* NextRow(const Node& n) const;

  // The tree's part in holding the change event: Hold and Unhold around a change of its nodes
  // (Unhold also on the way out of a failure), then RaiseHeld once the change is done; it
  // tells of a change made meanwhile when nothing holds it any more.
  void Hold() { ++held_; }
  void Unhold() { --held_; }
  void RaiseHeld();

  // The tree's part around a reorder of its roots (Sorted switched, a sorted root renamed):
  // called while the old order holds, then once the new one does.
  void BeforeRootsReorder();
  void AfterRootsReorder();

  // Type-ahead. The first row shown whose text starts with `prefix` (case ignored), from
  // `from` (the row after it when `skipFrom`) on, wrapping around past the last row; null when
  // none. From the first row when `from` is null. Costs a step per row passed.
  Node* FindRow(Node* from, bool skipFrom, std::u16string_view prefix) const;
  // Characters typed at `nowMs`: within `pauseMs` of the last ones they add to the text
  // searched from the current node, otherwise they start a new search from the row after it;
  // the same character typed again goes on to the next row that starts with it. The node to
  // go to, or null. Used by a backend whose tree takes type-ahead from the platform
  // (SetTypeAhead), off by default.
  Node* Typed(std::u16string_view chars, int64_t nowMs, int64_t pauseMs);
  void SetTypeAhead(bool on) { typeAhead_ = on; }
  bool TypeAhead() const { return typeAhead_; }

 private:
  void NodeAdded(Node& n) override;
  void NodeAboutToBeRemoved(Node& n) override;
  void NodeChanged(Node& n, NodeField f) override;
  void Cleared() override;

  Node* NextSibling(const Node& n) const;
  Node* PrevSibling(const Node& n) const;
  Node* AfterSubtree(const Node& n) const;
  Node* LastInSubtree(const Node& n) const;
  bool InSubtree(const Node& n, const Node& top) const;
  // Takes [a, b] out of every range, then, when `add`, puts it in as one range.
  void Put(Node& a, Node& b, bool add);
  void AddRowsNoNotify(Node& a, Node& b);
  // Adds rows[from, to), nodes in tree order, one range per run of neighbours in tree order.
  void PutRuns(const std::vector<Node*>& rows, size_t from, size_t to);
  void Changed();

  TreeView& tree_;
  Mode mode_ = Mode::Single;
  std::vector<Range> ranges_;  // disjoint, in tree order
  Node* anchor_ = nullptr;
  std::function<void()> onChanged_;
  std::function<void()> onViewChanged_;
  int held_ = 0;
  bool pending_ = false;  // changed while held
  bool typeAhead_ = false;
  std::u16string typed_;  // what the current search looks for
  int64_t typedAt_ = 0;
  bool typedAny_ = false;
};

}  // namespace desk
