// The platform tree: settings, node model, hit testing and events.
#pragma once

#include "desk/dispatch.h"
#include "desk/events.h"

namespace desk {

class Node;
class Nodes;

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

// The platform tree control. Backends derive from it to show the same model on screen.
class TreeView : public Dispatchable<TreeView> {
 public:
  static const DispatchTable<TreeView>& Table();
  TreeView();
  ~TreeView() override;

  // The tree's events, raised to whoever connected (the tree control).
  EventSource& Events() { return events_; }

 protected:
  EventSource events_;
};

// Makes a headless tree (the node model with a deterministic row layout).
Ref<TreeView> MakeHeadlessTree();

// Wraps a tree in the container's extended-control object (see desk::ext ids).
Ref<Object> MakeExtendedControl(Ref<TreeView> tree, std::u16string name);

}  // namespace desk
