// The platform tree: settings, node model, hit testing and events.
//
// Sections: member ids; observers; Node; Nodes and its enumerator; TreeView; the container's
// extended-control wrapper.
//
// Everything runs on one thread. Nodes are counted objects: the tree holds one reference to
// each node it contains, and a host may hold more. Removing a node (or destroying its tree)
// detaches it: a detached node keeps its Text, Key, Tag, Image, SelectedImage, Expanded and
// Checked for reading; every other member of it, and every write to it, fails with 91. So a
// host that kept a node across its removal gets a clear error, never a dangling reference.
#pragma once

#include "desk/export.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "desk/dispatch.h"
#include "desk/events.h"
#include "desk/font.h"
#include "desk/platform.h"  // desk::ext, the container-supplied ids

namespace desk {

class Node;
class Nodes;
class NodesEnum;
class TreeView;
class TreeSelection;
class TreeFilter;
namespace detail {
class KeyIndex;
struct NodeIndex;
class RowIndex;
}

// Member ids of the tree's own interface.
namespace treeid {
inline constexpr DispId kHideSelection = 2;
inline constexpr DispId kImageList = 3;
inline constexpr DispId kIndentation = 4;
inline constexpr DispId kLabelEdit = 5;
inline constexpr DispId kLineStyle = 6;
inline constexpr DispId kMousePointer = 7;
inline constexpr DispId kMouseIcon = 8;
inline constexpr DispId kNodes = 9;
inline constexpr DispId kPathSeparator = 10;
inline constexpr DispId kSorted = 12;
inline constexpr DispId kStyle = 13;
inline constexpr DispId kHitTest = 14;
inline constexpr DispId kStartLabelEdit = 16;
inline constexpr DispId kCheckboxes = 17;
inline constexpr DispId kFullRowSelect = 18;
inline constexpr DispId kHotTracking = 19;
inline constexpr DispId kScroll = 20;
inline constexpr DispId kSingleSel = 21;
inline constexpr DispId kBorderStyle = -504;
inline constexpr DispId kFont = -512;
inline constexpr DispId kAppearance = -520;
inline constexpr DispId kRefresh = -550;
inline constexpr DispId kOLEDragMode = 1550;
inline constexpr DispId kOLEDropMode = 1551;
inline constexpr DispId kOLEDrag = 1552;
}  // namespace treeid

// The tree raises its events under the same ids as the tree control's event interface, with
// the same arguments; by-reference arguments point at the tree's own storage.
namespace treeevent {
inline constexpr DispId kClick = 2, kDblClick = 3, kKeyDown = 4, kKeyPress = 5, kKeyUp = 6, kMouseDown = 7,
                        kMouseMove = 8, kMouseUp = 9, kValidate = 11, kOLEStartDrag = 16, kOLESetData = 17,
                        kOLEGiveFeedback = 18, kOLEDragOver = 19, kOLEDragDrop = 20, kOLECompleteDrag = 21,
                        kNodeClick = 22, kNodeCheck = 23, kExpand = 28, kCollapse = 29, kBeforeLabelEdit = 30,
                        kAfterLabelEdit = 33;
}

// Member ids of a node. Text is the default member.
namespace nodeid {
inline constexpr DispId kText = 0;            // String, get/let
inline constexpr DispId kKey = 1;             // String, get/let (same rules as Nodes.Add)
inline constexpr DispId kTag = 2;             // Variant, get/let/set
inline constexpr DispId kIndex = 3;           // Long, get: 1-based position in Nodes
inline constexpr DispId kParent = 4;          // Node or Nothing, get
inline constexpr DispId kChild = 5;           // first child or Nothing, get
inline constexpr DispId kChildren = 6;        // Long, get: number of direct children
inline constexpr DispId kNext = 7;            // next sibling or Nothing, get
inline constexpr DispId kPrevious = 8;        // previous sibling or Nothing, get
inline constexpr DispId kFirstSibling = 9;    // Node, get
inline constexpr DispId kLastSibling = 10;    // Node, get
inline constexpr DispId kRoot = 11;           // Node, get: the top-level ancestor (itself for a root)
inline constexpr DispId kExpanded = 12;       // Boolean, get/let (a change raises Expand or Collapse)
inline constexpr DispId kChecked = 13;        // Boolean, get/let (raises nothing, see TreeView::UserCheck)
inline constexpr DispId kSelected = 14;       // Boolean, get/let
inline constexpr DispId kFullPath = 15;       // String, get
inline constexpr DispId kImage = 16;          // Variant (key or index into the ImageList), get/let
inline constexpr DispId kSelectedImage = 17;  // Variant, get/let
}  // namespace nodeid

// Member ids of the node collection. Item is the default member.
namespace nodesid {
inline constexpr DispId kItem = 0;    // Item(Index) -> Node; Index: key, 1-based position or Node
inline constexpr DispId kCount = 1;   // Long, get
inline constexpr DispId kAdd = 2;     // Add(Relative, Relationship, Key, Text, Image, SelectedImage) -> Node
inline constexpr DispId kRemove = 3;  // Remove(Index): the node and its whole subtree
inline constexpr DispId kClear = 4;   // Clear()
inline constexpr DispId kNewEnum = kDispIdNewEnum;
}  // namespace nodesid

// Where Nodes.Add puts a node relative to the Relative it names.
enum class Relationship : int32_t { First = 0, Last = 1, Next = 2, Previous = 3, Child = 4 };

// What changed on a node, for observers.
enum class NodeField { Text, Key, Tag, Image, SelectedImage, Expanded, Checked, Selected, ChildrenOnDemand };

// Lets a GUI backend mirror the model. Every call comes after the model changed, except
// NodeAboutToBeRemoved, which comes while the node and its subtree are still in place. An
// observer must not change the model from inside these calls.
class DESK_API TreeObserver {
 public:
  virtual ~TreeObserver() = default;
  virtual void NodeAdded(Node&) {}
  // Once per Remove, for the top of the removed subtree (its descendants go with it).
  virtual void NodeAboutToBeRemoved(Node&) {}
  // After a node with children was removed: the tree's references to it and its descendants,
  // each node detached. An observer that must keep them alive a while longer (a view whose
  // own code may still hold an index of one) moves them out; the rest are released.
  virtual void NodesRemoved(std::vector<Ref<Node>>&) {}
  virtual void NodeChanged(Node&, NodeField) {}
  // A tree setting (treeid) or a container-supplied value (desk::ext) changed.
  virtual void SettingChanged(DispId) {}
  virtual void Cleared() {}
};

class DESK_API Node : public Dispatchable<Node> {
 public:
  static const DispatchTable<Node>& Table();
  ~Node() override;

  // False once removed from its tree, or when the tree is gone.
  bool InTree() const { return tree_ != nullptr; }
  TreeView* Tree() const { return tree_; }

  // Readable on a detached node too.
  const std::u16string& Text() const { return text_; }
  const std::u16string& Key() const { return key_; }  // "" when the node has no key
  const Variant& Tag() const { return extra_ ? extra_->tag : NoValue(); }
  const Variant& Image() const { return extra_ ? extra_->image : NoValue(); }
  const Variant& SelectedImage() const { return extra_ ? extra_->selectedImage : NoValue(); }
  bool Expanded() const { return expanded_; }
  bool Checked() const { return checked_; }
  // Shows an expander while the node has no children yet, so that a host adds them when the
  // node is expanded (in its Expand handler or later). Off unless the host turns it on.
  bool ChildrenOnDemand() const { return childrenOnDemand_; }
  // Whether the node shows an expander: it has children, or they come on demand.
  bool HasExpander() const { return firstChild_ != nullptr || childrenOnDemand_; }

  void SetText(std::u16string text);
  // "" removes the key; 35603 for an all-digit key, 35602 when another node has it.
  void SetKey(std::u16string key);
  void SetTag(const Variant& tag);
  // Empty, a key (String) or an index (stored as Long); an object fails with 13.
  void SetImage(const Variant& image);
  void SetSelectedImage(const Variant& image);
  // Raises Expand or Collapse when the state changes.
  void SetExpanded(bool expanded);
  // Programmatic: raises no NodeCheck.
  void SetChecked(bool checked);
  void SetChildrenOnDemand(bool onDemand);

  // These fail with 91 on a detached node. Relations answer null at the ends.
  int32_t Index() const;  // costs O(log n)
  // Inline: a view lays out a million rows through these.
  Node* Parent() const { return CheckInTree(), parent_; }
  Node* Child() const { return CheckInTree(), firstChild_; }
  int32_t Children() const { return CheckInTree(), childCount_; }
  Node* Next() const { return CheckInTree(), next_; }
  Node* Previous() const;
  Node* FirstSibling() const;
  Node* LastSibling() const;
  Node* Root() const;
  bool Selected() const;
  void SetSelected(bool selected);
  std::u16string FullPath() const;  // walks to the root

 private:
  friend class TreeView;
  friend class TreeSelection;  // walks the links of a million rows
  friend class TreeFilter;     // the same, and keeps its marks in filterBits_
  friend class detail::KeyIndex;
  friend class detail::RowIndex;
  Node() = default;  // nodes are made by their tree
  void Detach();
  void CheckInTree() const {
    if (!tree_) [[unlikely]]
      NotInTree();
  }
  [[noreturn]] static void NotInTree();
  TreeView& Owner() const;
  static const Variant& NoValue();

  // What most nodes never have, kept apart so that a plain node stays small.
  struct Extra {
    Variant tag;
    Variant image;
    Variant selectedImage;
    std::u16string foldedKey;  // only when the key's folded form differs from the key
  };
  Extra& Extras();
  // The key's folded form, what the tree's key index holds a view of.
  const std::u16string& FoldedKey() const {
    return extra_ && !extra_->foldedKey.empty() ? extra_->foldedKey : key_;
  }

  // The previous sibling, or null for the first.
  Node* PrevSibling() const { return prev_ && prev_->next_ == this ? prev_ : nullptr; }
  // The last of a sibling list, from its first.
  static Node* LastOf(Node* first) { return first ? first->prev_ : nullptr; }

  // First, so that it fills what Object leaves after its count: a node of a million is one
  // allocation size class smaller.
  uint32_t slot_ = 0;  // place in the tree's position index
  TreeView* tree_ = nullptr;
  Node* parent_ = nullptr;
  Node* firstChild_ = nullptr;
  Node* next_ = nullptr;
  // The previous sibling; the first one's is the last of its list (so no node keeps its last
  // child apart): a node is its list's first when its prev_ does not lead back to it.
  Node* prev_ = nullptr;
  int32_t childCount_ = 0;
  bool expanded_ = false;
  bool checked_ = false;
  uint8_t filterBits_ = 0;  // the tree's filter: matched, shown, shown open (desk/tree_filter.h)
  bool childrenOnDemand_ = false;  // in the bytes the flags above leave, not a new word
  std::u16string text_;
  std::u16string key_;
  std::unique_ptr<Extra> extra_;
};

// The tree's node collection: positions are 1-based in the order the nodes were added (a
// removal shifts the later ones down), keys are unique regardless of letter case (full case
// folding), key look-up is hashed and position look-up costs O(log n).
class DESK_API Nodes : public Dispatchable<Nodes> {
 public:
  static const DispatchTable<Nodes>& Table();
  ~Nodes() override;

  // Every argument may be Missing. Relative: a key, a 1-based position or a Node of this tree;
  // Relationship (default Next with a relative): 5 outside 0..4. Without a relative the node
  // becomes the first root for First, the last root otherwise. Errors: a missing relative key
  // 35601, a bad relative position 35600, an all-digit key 35603, a present key 35602, a text
  // or key that does not convert 13. A failing Add changes nothing.
  Ref<Node> Add(const Variant& relative = Variant::Missing(), const Variant& relationship = Variant::Missing(),
                const Variant& key = Variant::Missing(), const Variant& text = Variant::Missing(),
                const Variant& image = Variant::Missing(), const Variant& selectedImage = Variant::Missing());
  // Typed forms; an empty key means none.
  Ref<Node> AddRoot(std::u16string_view key, std::u16string_view text);
  Ref<Node> Add(Node& relative, Relationship rel, std::u16string_view key, std::u16string_view text);

  // By key (35601 when absent), 1-based position (35600 outside 1..Count) or Node of this tree.
  Ref<Node> Item(const Variant& index) const;
  // Null when no node has the key.
  Node* Find(std::u16string_view key) const;
  int32_t Count() const;
  void Remove(const Variant& index);
  void Clear();
  // For Each: survives removals and Clear while it walks.
  Ref<NodesEnum> NewEnum();

  TreeView* Tree() const { return tree_; }

 private:
  friend class TreeView;
  friend class NodesEnum;
  explicit Nodes(TreeView* tree) : tree_(tree) {}  // each tree makes its one collection
  TreeView& Owner() const;
  TreeView* tree_;                  // null once the tree is gone
  std::vector<NodesEnum*> enums_;  // live enumerators, told of removals
};

class DESK_API NodesEnum : public Dispatchable<NodesEnum> {
 public:
  static const DispatchTable<NodesEnum>& Table();
  explicit NodesEnum(Ref<Nodes> nodes);
  ~NodesEnum() override;
  bool Next(Ref<Node>& out);
  void Reset() { pos_ = 0; }

 private:
  friend class TreeView;
  Ref<Nodes> nodes_;
  int32_t pos_ = 0;  // nodes already passed
};

namespace detail {
// The tree's own indexes (keys, positions, rows), private to the platform.
struct DESK_API NodeIndexDeleter {
  void operator()(NodeIndex* x) const noexcept;
};
struct DESK_API RowIndexDeleter {
  void operator()(RowIndex* r) const noexcept;
};
}  // namespace detail

// Values the container's extended-control wrapper keeps for the tree (desk::ext ids).
struct DESK_API ContainerState {
  float left = 0, top = 0, width = 0, height = 0;
  bool visible = true;
  bool enabled = true;
};

// The platform tree control. Backends derive from it to show the same model on screen.
//
// Layout of the headless tree: the visible nodes (those whose ancestors are all expanded), in
// display order (parents before children, siblings in sibling order; with Sorted the roots in
// order of their texts, letter case ignored, ties in sibling order), stacked from y = 0 in
// rows of kRowHeight units, each row spanning the tree's whole width. The units are those of
// the coordinates in the tree's mouse events and of its container-supplied Width and Height.
class DESK_API TreeView : public Dispatchable<TreeView> {
 public:
  static const DispatchTable<TreeView>& Table();
  TreeView();
  ~TreeView() override;

  // 16 pixels at 15 units per pixel, the scale in which Indentation's default is 1 cm.
  static constexpr float kRowHeight = 240.0f;

  // The tree's events, raised to whoever connected (the tree control).
  EventSource& Events() { return events_; }

  // --- Settings. Each typed accessor is the same as the member by id. Out-of-range values
  // fail with 380 and change nothing.
  // Generic access by treeid; 438 for an id that is not a setting. A write converts the value
  // to the setting's type first (13 or 6 when it does not convert).
  Variant Setting(DispId id) const;
  void SetSetting(DispId id, const Variant& value);
  // The same by the setting's place in the tree's settings, for a caller that resolves the id
  // once (the tree control's forwarded members): SettingIndex is -1 for an id that is not a
  // setting, and the others fail with 438 for an index out of range.
  static int SettingIndex(DispId id);
  const Variant& SettingAt(int index) const;
  void SetSettingAt(int index, const Variant& value);

  int32_t Style() const { return Setting(treeid::kStyle).RawLong(); }  // 0..7
  void SetStyle(int32_t v) { SetSetting(treeid::kStyle, Variant::Long(v)); }
  int32_t LineStyle() const { return Setting(treeid::kLineStyle).RawLong(); }  // 0..1
  void SetLineStyle(int32_t v) { SetSetting(treeid::kLineStyle, Variant::Long(v)); }
  int32_t LabelEdit() const { return Setting(treeid::kLabelEdit).RawLong(); }  // 0..1
  void SetLabelEdit(int32_t v) { SetSetting(treeid::kLabelEdit, Variant::Long(v)); }
  float Indentation() const { return Setting(treeid::kIndentation).RawSingle(); }  // >= 0
  void SetIndentation(float v) { SetSetting(treeid::kIndentation, Variant::Single(v)); }
  Ref<Object> ImageList() const { return Setting(treeid::kImageList).RawObject(); }
  void SetImageList(Ref<Object> v) { SetSetting(treeid::kImageList, Variant::Object(std::move(v))); }
  bool HotTracking() const { return Setting(treeid::kHotTracking).ToBool(); }
  void SetHotTracking(bool v) { SetSetting(treeid::kHotTracking, Variant::Bool(v)); }
  bool HideSelection() const { return Setting(treeid::kHideSelection).ToBool(); }
  void SetHideSelection(bool v) { SetSetting(treeid::kHideSelection, Variant::Bool(v)); }
  bool FullRowSelect() const { return Setting(treeid::kFullRowSelect).ToBool(); }
  void SetFullRowSelect(bool v) { SetSetting(treeid::kFullRowSelect, Variant::Bool(v)); }
  bool Checkboxes() const { return Setting(treeid::kCheckboxes).ToBool(); }
  void SetCheckboxes(bool v) { SetSetting(treeid::kCheckboxes, Variant::Bool(v)); }
  bool Sorted() const;  // without a search of the settings: asked for every root row shown
  void SetSorted(bool v) { SetSetting(treeid::kSorted, Variant::Bool(v)); }
  bool SingleSel() const { return Setting(treeid::kSingleSel).ToBool(); }
  void SetSingleSel(bool v) { SetSetting(treeid::kSingleSel, Variant::Bool(v)); }
  bool Scroll() const { return Setting(treeid::kScroll).ToBool(); }
  void SetScroll(bool v) { SetSetting(treeid::kScroll, Variant::Bool(v)); }
  std::u16string PathSeparator() const { return Setting(treeid::kPathSeparator).RawString(); }
  void SetPathSeparator(std::u16string v) { SetSetting(treeid::kPathSeparator, Variant::String(std::move(v))); }
  int32_t OLEDropMode() const { return Setting(treeid::kOLEDropMode).RawLong(); }  // 0..1
  void SetOLEDropMode(int32_t v) { SetSetting(treeid::kOLEDropMode, Variant::Long(v)); }
  int32_t OLEDragMode() const { return Setting(treeid::kOLEDragMode).RawLong(); }  // 0..1
  void SetOLEDragMode(int32_t v) { SetSetting(treeid::kOLEDragMode, Variant::Long(v)); }
  int32_t MousePointer() const { return Setting(treeid::kMousePointer).RawLong(); }  // 0..15 or 99
  void SetMousePointer(int32_t v) { SetSetting(treeid::kMousePointer, Variant::Long(v)); }
  // A picture or Nothing; another object fails with 13.
  Ref<Object> MouseIcon() const { return Setting(treeid::kMouseIcon).RawObject(); }
  void SetMouseIcon(Ref<Object> v) { SetSetting(treeid::kMouseIcon, Variant::Object(std::move(v))); }
  int32_t BorderStyle() const { return Setting(treeid::kBorderStyle).RawLong(); }  // 0..1
  void SetBorderStyle(int32_t v) { SetSetting(treeid::kBorderStyle, Variant::Long(v)); }
  // Kept by reference; another object fails with 13, Nothing with 380.
  Ref<Object> FontObject() const { return Setting(treeid::kFont).RawObject(); }
  void SetFont(Ref<Object> v) { SetSetting(treeid::kFont, Variant::Object(std::move(v))); }
  int32_t Appearance() const { return Setting(treeid::kAppearance).RawLong(); }  // 0..1
  void SetAppearance(int32_t v) { SetSetting(treeid::kAppearance, Variant::Long(v)); }

  // --- Methods. A backend overrides these; the headless Refresh and OLEDrag do nothing.
  virtual void Refresh() {}
  // Raises BeforeLabelEdit for the selected node (nothing without one); unless a handler
  // cancels, the node is then being edited (EditingNode) until FinishLabelEdit.
  virtual void StartLabelEdit();
  virtual void OLEDrag() {}
  // Ends an edit: raises AfterLabelEdit with `text` and gives the node the NewString a
  // handler left, unless Cancel is non-zero. False when nothing was being edited, the node is
  // gone or the edit was cancelled.
  bool FinishLabelEdit(std::u16string text);
  Node* EditingNode() const { return editing_ && editing_->InTree() ? editing_.get() : nullptr; }

  // The node at a point in the tree's units, or null (see the layout above). Finds the row
  // through counts of rows kept along the tree (NodeAtRow), which a node added, removed,
  // expanded or collapsed, and a sorted root added or renamed, updates in place; switching
  // Sorted (or placing a sorted root among equal texts away from its siblings) counts them
  // again at the next hit test.
  virtual Ref<Node> HitTest(float x, float y);
  // The node on the first row in view, and bringing a node there (what a view state keeps).
  // The headless tree does not scroll: it answers the node it was last given while that node
  // is in the tree, else the first root.
  virtual Node* TopNode();
  virtual void ScrollToTop(Node& n);
  // The node on a row (0 the first), or null past the last row. Costs O(depth x log of the
  // number of siblings), also right after a change.
  Node* NodeAtRow(int64_t row);
  // The visible nodes in display order, one per row, laid out afresh by each call.
  std::vector<Node*> VisibleRows() const;

  // --- Nodes.
  Nodes& NodeCollection() { return *nodes_; }
  const Ref<Nodes>& NodesRef() const { return nodes_; }
  Node* SelectedNode() const { return selected_; }
  Node* FirstRoot() const { return firstRoot_; }
  Node* LastRoot() const { return Node::LastOf(firstRoot_); }

  // --- User-like actions, as a backend reports what the user did.
  // Selects the node and raises NodeClick.
  void UserClickNode(Node& node);
  // With Checkboxes on and the state changing: sets Checked, then raises NodeCheck. Without
  // checkboxes the user has nothing to click, and nothing happens. (Setting Checked through
  // the node itself is the host's doing and raises nothing.)
  void UserCheck(Node& node, bool checked);

  // --- Events. Each raises one event with its arguments by reference to variants of the
  // declared kinds and, when the handlers return (or fail), hands back what they wrote.
  void RaiseClick();
  void RaiseDblClick();
  void RaiseKeyDown(int16_t& keyCode, int16_t& shift);
  void RaiseKeyPress(int16_t& keyAscii);
  void RaiseKeyUp(int16_t& keyCode, int16_t& shift);
  void RaiseMouseDown(int16_t& button, int16_t& shift, float& x, float& y);
  void RaiseMouseMove(int16_t& button, int16_t& shift, float& x, float& y);
  void RaiseMouseUp(int16_t& button, int16_t& shift, float& x, float& y);
  void RaiseValidate(bool& cancel);
  // Data is a data object or Nothing.
  void RaiseOLEStartDrag(Ref<Object>& data, int32_t& allowedEffects);
  void RaiseOLESetData(Ref<Object>& data, int16_t& dataFormat);
  void RaiseOLEGiveFeedback(int32_t& effect, bool& defaultCursors);
  void RaiseOLEDragOver(Ref<Object>& data, int32_t& effect, int16_t& button, int16_t& shift, float& x, float& y,
                        int16_t& state);
  void RaiseOLEDragDrop(Ref<Object>& data, int32_t& effect, int16_t& button, int16_t& shift, float& x, float& y);
  void RaiseOLECompleteDrag(int32_t& effect);
  // The node goes by value: handlers receive this very object.
  void RaiseNodeClick(Node& node);
  void RaiseNodeCheck(Node& node);
  void RaiseExpand(Node& node);
  void RaiseCollapse(Node& node);
  void RaiseBeforeLabelEdit(int16_t& cancel);
  void RaiseAfterLabelEdit(int16_t& cancel, std::u16string& newString);

  // --- Container-supplied values, set through the extended-control wrapper.
  const ContainerState& Container() const { return container_; }
  // Called by the wrapper after each write of one of its values (and once per value when the
  // wrapper is made). The base keeps the geometry for hit testing and tells observers; a
  // backend overrides it to apply the value to its widget, and calls the base.
  virtual void ContainerValueChanged(DispId id, const Variant& value);

  // The selection of many nodes (desk/tree_selection.h), made on first use; Single until a
  // host asks for more.
  TreeSelection& Selection();
  // The filter of the rows shown (desk/tree_filter.h), made on first use; off until a host
  // gives it a text. While it is on, NodeAtRow, VisibleRows and HitTest lay out the shown rows.
  TreeFilter& Filter();
  // The filter while it is on, else null; and the filter once made, else null.
  TreeFilter* ActiveFilter() const;
  TreeFilter* FilterIfMade() const { return filter_.get(); }

  // --- Observers (not owned; remove before destroying the observer).
  void AddObserver(TreeObserver* o);
  void RemoveObserver(TreeObserver* o);

 protected:
  // Called after a setting changed; the base tells observers.
  virtual void SettingChanged(DispId id);
  // Called once, when Selection() first makes the selection: a backend's view watches it.
  virtual void SelectionMade(TreeSelection&) {}
  // The same for the filter.
  virtual void FilterMade(TreeFilter&) {}

  EventSource events_;

 private:
  friend class Node;
  friend class Nodes;
  friend class NodesEnum;
  friend class TreeFilter;

  template <class... T>
  void RaiseWithRefs(DispId id, T&... values);
  void RaiseWithNode(DispId id, Node& node);

  // The node model.
  Node* Resolve(const Variant& index) const;
  Node* FindKey(std::u16string_view key) const;
  Ref<Node> AddNode(const Variant& relative, const Variant& relationship, const Variant& key, const Variant& text,
                    const Variant& image, const Variant& selectedImage);
  void Link(Node& n, Node* parent, Node* before);
  // Takes the node out of its sibling list; its own links are cleared when it is detached.
  void Unlink(Node& n);
  void RemoveNode(Node& n);
  void ClearNodes();
  void DetachAll();
  // `hash`: the key index's hash of `folded`, when already made.
  void CheckKey(std::u16string_view key, const std::u16string& folded, const Node* self,
                std::optional<size_t> hash = std::nullopt) const;
  void NotifyChanged(Node& n, NodeField f);
  void Notify(const std::function<void(TreeObserver&)>& f);

  std::vector<Variant> settings_;  // one per row of the settings table
  ContainerState container_;

  Ref<Nodes> nodes_;
  // Positions (holding the tree's reference to each node) and keys.
  std::unique_ptr<detail::NodeIndex, detail::NodeIndexDeleter> index_;
  Node* firstRoot_ = nullptr;  // the last root is its prev_
  Node* selected_ = nullptr;
  Ref<Node> editing_;
  std::vector<TreeObserver*> observers_;
  // HitTest's row index: made by the first HitTest, then kept up to date through each add,
  // remove and expand or collapse; dropped (and made again when next needed) by changes that
  // reorder many rows at once.
  friend class detail::RowIndex;
  std::unique_ptr<detail::RowIndex, detail::RowIndexDeleter> rowIndex_;
  Ref<Node> top_;  // the headless TopNode
  // Last: it is an observer of this tree, so it goes first.
  std::unique_ptr<TreeSelection> selection_;
  std::unique_ptr<TreeFilter> filter_;  // an observer too
};

// Makes a headless tree (the node model with a deterministic row layout).
DESK_API Ref<TreeView> MakeHeadlessTree();

// Wraps a tree in the container's extended-control object: it answers the container-supplied
// ids of desk::ext itself (Name; Visible, Enabled, CausesValidation Booleans, default True;
// Left, Top, Width, Height Singles, default 0, a negative Width or Height fails with 380;
// WhatsThisHelpID Long 0; ToolTipText String "") and passes every other id to the tree. Each
// write is reported to TreeView::ContainerValueChanged.
DESK_API Ref<Object> MakeExtendedControl(Ref<TreeView> tree, std::u16string name);

}  // namespace desk
