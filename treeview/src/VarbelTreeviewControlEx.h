// VarbelTreeviewControlEx: the same control under a second class of the library, whose
// interface is the default interface (every entry at its id, in its order) followed by the
// members below, and whose event interface is the default one followed by SelectionChanged.
// A host that creates VarbelTreeviewControl sees none of this; one that creates this class
// gets the same control with these capabilities, each off until it asks for it.
//
// Added members (ids in the type library):
//   SelectionMode      Long, get/let: 0 one node (as the default class), 1 many (Shift, Ctrl)
//   SelectedNodes      get: a collection of the selected nodes in tree order (one step each)
//   SelectedCount      Long, get
//   SelectAll, ClearSelection
//   SetNodeSelected(Node, Selected), IsNodeSelected(Node), SelectRows(FromNode, ToNode)
//   SaveViewState() As String, RestoreViewState(State): expanded, selected, current and top
//                      nodes by key (by place for a node without one), as JSON (view_state.h)
//   FilterText         String, get/let: "" (default) shows every row; else the nodes whose
//                      text holds it (case ignored), with their ancestors (desk/tree_filter.h)
//   FilterMatchesKeys  Boolean, get/let: match the keys instead of the texts
//   FilterShowsSubtree Boolean, get/let: show every node under a match too
//   FilterMatchCount   Long, get
//   ClearFilter, IsNodeShown(Node)
//   SetNodeChildrenOnDemand(Node, OnDemand), NodeChildrenOnDemand(Node): an expander on a node
//                      before it has children; the host adds them in Expand or later
// Added event: SelectionChanged, after each change of the selected nodes.
#pragma once

#include "VarbelTreeviewControl.h"

namespace desk {
class Node;
class TreeSelection;
class TreeFilter;
}  // namespace desk

namespace varbel {

inline constexpr const char* kControlExClsid = "{5A314815-5123-4074-AD89-3886C1B12188}";
inline constexpr const char* kControlExIid = "{94D59130-8AAD-4DFD-B1B4-5D0E92F2FE49}";
inline constexpr const char* kEventsExIid = "{D5427381-99C3-46C1-9C1E-0EA3A7A23F26}";

// Ids of the added members and event.
namespace exid {
inline constexpr desk::DispId kSelectionMode = 0x68040000, kSelectedNodes = 0x68040001,
                              kSelectedCount = 0x68040002;
inline constexpr desk::DispId kSelectAll = 0x60040000, kClearSelection = 0x60040001,
                              kSetNodeSelected = 0x60040002, kIsNodeSelected = 0x60040003,
                              kSelectRows = 0x60040004, kSaveViewState = 0x60040005,
                              kRestoreViewState = 0x60040006;
inline constexpr desk::DispId kFilterText = 0x68040010, kFilterMatchesKeys = 0x68040011,
                              kFilterShowsSubtree = 0x68040012, kFilterMatchCount = 0x68040013;
inline constexpr desk::DispId kClearFilter = 0x60040010, kIsNodeShown = 0x60040011;
// Children on demand.
inline constexpr desk::DispId kSetNodeChildrenOnDemand = 0x60040020, kNodeChildrenOnDemand = 0x60040021;
inline constexpr desk::DispId kSelectionChanged = 34;
}  // namespace exid

class VarbelTreeviewControlEx : public VarbelTreeviewControl {
 public:
  // The default interface's rows followed by the added ones; handlers take the base class.
  static const desk::DispatchTable<VarbelTreeviewControl>& TableEx();
  static const desk::InterfaceInfo& EventsEx();

  VarbelTreeviewControlEx();
  ~VarbelTreeviewControlEx() override;

  const desk::InterfaceInfo& Interface() const override { return TableEx().Info(); }
  desk::Variant Invoke(desk::DispId id, desk::InvokeKind kind, std::vector<desk::Variant>& args) override {
    return TableEx().Dispatch(*this, id, kind, args, this);
  }
  const desk::InterfaceInfo& EventInterface() const override { return EventsEx(); }

  // Typed members, one-liners over the ids above.
  int32_t GetSelectionMode();
  void LetSelectionMode(int32_t mode);  // 380 outside 0..1
  desk::Ref<desk::Object> SelectedNodes();
  int32_t SelectedCount();
  void SelectAll();
  void ClearSelection();
  void SetNodeSelected(desk::Ref<desk::Object> node, bool selected);
  bool IsNodeSelected(desk::Ref<desk::Object> node);
  void SelectRows(desk::Ref<desk::Object> from, desk::Ref<desk::Object> to);
  std::u16string SaveViewState();
  void RestoreViewState(const std::u16string& state);
  std::u16string GetFilterText();
  void LetFilterText(const std::u16string& text);
  bool GetFilterMatchesKeys();
  void LetFilterMatchesKeys(bool keys);
  bool GetFilterShowsSubtree();
  void LetFilterShowsSubtree(bool subtree);
  int32_t FilterMatchCount();
  void ClearFilter();
  bool IsNodeShown(desk::Ref<desk::Object> node);
  void SetNodeChildrenOnDemand(desk::Ref<desk::Object> node, bool onDemand);
  bool NodeChildrenOnDemand(desk::Ref<desk::Object> node);

  // The platform's selection (its gestures are the backend's to report).
  desk::TreeSelection& Selection();
  desk::TreeFilter& Filter();
  desk::TreeView& View();
  desk::Node& NodeOf(const desk::Ref<desk::Object>& o);

 private:
  void SelectionChanged();
};

}  // namespace varbel
