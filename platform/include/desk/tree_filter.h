// A tree's filter: the rows shown while the user looks for some nodes.
//
// With a text set, the tree shows the nodes whose text (or key, with MatchKeys) holds it, letter
// case ignored, each with its ancestors, which show open; with ShowSubtree, every node under a
// match shows too, each open as its Expanded says. The shown rows are kept as a list of shown
// children per shown parent, in display order, so that a view asks for them as it asks for
// the tree's rows. An empty text turns the filter off: the tree shows its rows as before.
//
// The filter changes no node: Expanded, the current node and the selection stay the host's, so
// clearing the text gives back the view from before. Expanding or collapsing a node while
// filtered (by the user or the host) shows at once and is the node's own change, kept after.
//
// Kept up to date through the tree's observer calls: an added node shows when it (or, with
// ShowSubtree, an ancestor) matches, with the ancestors it needs; a removed node takes away
// the ancestors shown for it alone; a renamed node or a re-keyed one is matched again.
#pragma once

#include "desk/export.h"

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "desk/tree.h"

namespace desk {

class DESK_API TreeFilter : private TreeObserver {
 public:
  // A backend's view of the shown rows: told before and after each change, as an item model
  // tells its views.
  class View {
   public:
    virtual ~View() = default;
    // The shown rows change wholesale (a new text, an option, the filter on or off).
    virtual void ResetBegin() = 0;
    virtual void ResetEnd() = 0;
    // One node shows, at `place` among the shown children of `parent` (null: the roots); its
    // own shown children, if any, come with it.
    virtual void InsertBegin(const Node* parent, int32_t place) = 0;
    virtual void InsertEnd() = 0;
    // One shown node and its shown subtree go (the node is still in the tree).
    virtual void RemoveBegin(const Node& n, int32_t place) = 0;
    virtual void RemoveEnd() = 0;
  };

  explicit TreeFilter(TreeView& tree);
  ~TreeFilter() override;
  TreeFilter(const TreeFilter&) = delete;
  TreeFilter& operator=(const TreeFilter&) = delete;

  void SetView(View* v) { view_ = v; }
  // The tree renumbered its nodes' slots.
  void SlotsMoved() {
    placesStale_ = true;
    DropSweep();  // it finds its nodes by slot
  }

  const std::u16string& Text() const { return text_; }
  // "" turns the filter off. Costs a pass over every node.
  void SetText(std::u16string text);
  bool MatchKeys() const { return keys_; }
  void SetMatchKeys(bool keys);
  bool ShowSubtree() const { return subtree_; }
  void SetShowSubtree(bool subtree);

  bool Active() const { return !text_.empty(); }
  // The nodes that match, while active.
  int64_t MatchCount() const { return matches_; }
  bool Matches(const Node& n) const { return Active() && (n.filterBits_ & kMatch); }
  // Whether the node shows: always when the filter is off.
  bool Shown(const Node& n) const { return !Active() || (n.filterBits_ & kShown); }
  // Whether the node shows its shown children: its Expanded when the filter is off.
  bool Open(const Node& n) const { return Active() ? (n.filterBits_ & kOpen) != 0 : n.Expanded(); }
  // The view's expanding or collapsing of a shown node (before it sets Expanded).
  void SetOpen(Node& n, bool open);

  // The shown rows, while active: the shown children of a shown parent (null: the roots) in
  // display order, a node's place among them, and every shown row laid out (open parents).
  int32_t Count(const Node* parent) const;
  Node* ChildAt(const Node* parent, int32_t place) const;
  int32_t PlaceOf(const Node& n) const;
  std::vector<Node*> VisibleRows() const;
  // Every shown node, open or not, in display order.
  std::vector<Node*> ShownNodes() const;
  // For a view that lays the rows out again: the shown nodes that show their shown children
  // (in no order), and, for the rows without a filter, every expanded node with children.
  std::vector<Node*> OpenParents() const;
  std::vector<Node*> ExpandedNodes() const;

  // How many sweeps of the nodes' texts were made in this process: tests count them to see
  // which changes a keystroke follows without a new one.
  static uint64_t Sweeps();

 private:
  // kKids: the node has a list of shown children. kAdded: added since the sweep was made.
  static constexpr uint8_t kMatch = 1, kShown = 2, kOpen = 4, kUnder = 8, kKids = 16, kAdded = 32;

  void NodeAdded(Node& n) override;
  void NodeAboutToBeRemoved(Node& n) override;
  void NodeChanged(Node& n, NodeField f) override;
  void SettingChanged(DispId id) override;
  void Cleared() override;

  bool Test(const Node& n) const;
  void Refilter(const std::function<void()>& change = {});
  void Build();
  void MakeSweep();
  void DropSweep();
  // The nodes added since the sweep, shown as if they had been in it, each put at its place.
  void ShowAdded();
  // Removals and adds followed in the sweep, which is dropped once they are many.
  void SweepRemoving(Node& top);
  void SweepAdded(Node& n);
  void SweepRenamed(Node& n, NodeField f);
  void ClearBits();
  std::vector<Node*>& ListOf(const Node* parent);
  const std::vector<Node*>* FindList(const Node* parent) const;
  // Puts a node (whose parent shows) among its parent's shown children, at its place.
  int32_t Insert(Node& n);
  // Places by slot again after the tree renumbered its slots.
  void FreshPlaces() const;
  void Renumber(std::vector<Node*>& list, size_t from);
  void Unshow(Node& n);

  TreeView& tree_;
  View* view_ = nullptr;
  std::u16string text_;
  std::u16string folded_;  // the text, letter case folded
  bool keys_ = false;
  bool subtree_ = false;
  int64_t matches_ = 0;
  std::vector<Node*> roots_;                                  // the shown roots
  std::unordered_map<const Node*, std::vector<Node*>> kids_;  // shown children of shown parents
  mutable struct {
    const Node* parent = nullptr;
    const std::vector<Node*>* list = nullptr;
  } found_;  // the last list looked up (kids_ keeps its lists in place until one is erased)
  // The nodes in display order with their texts (or keys) folded one after another, kept
  // from one keystroke to the next while the texts stay: a keystroke reads them in one sweep
  // instead of walking the nodes. Nodes removed since are marked gone (their texts are not
  // read) and nodes added since are kept aside, so that a host adding, removing or renaming
  // nodes between keystrokes does not cost the next one a new sweep. A new text of a node
  // with children, a new sort order or renumbered slots drop it.
  struct Sweep {
    std::vector<Node*> order;
    std::vector<uint32_t> start;  // where each text starts in chars, and one past the last
    std::vector<uint32_t> end;    // where each node's subtree ends in order
    std::u16string chars;         // each text followed by a NUL
    std::vector<uint32_t> at;     // by position slot: the node's place in order
    std::vector<bool> gone;       // by place in order: removed since
    size_t goneCount = 0;
    std::vector<Node*> added;     // in the order they came (each marked kAdded)
    bool keys = false;
    bool valid = false;
  } sweep_;
  mutable std::vector<int32_t> places_;                       // by position slot
  mutable bool placesStale_ = false;                          // the tree renumbered its slots
};

}  // namespace desk
