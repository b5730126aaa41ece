// What every platform's surface has in common: the children a design puts on it (the inner
// tree under its extended-control wrapper, the main popup menu and its item array) and the
// reading of a PopupMenu call's menu argument. A platform's surface derives from it and adds
// its window system.
#pragma once

#include "desk/export.h"

#include "desk/menu.h"
#include "desk/platform.h"
#include "desk/tree.h"

namespace desk {

class DESK_API SurfaceBase : public Surface {
 public:
  Ref<Object> TreeChild() override { return treeExt_; }
  TreeView& Tree() override { return *tree_; }
  Menu& MainMenu() override { return *mainMenu_; }
  MenuArray& ItemArray() override { return *items_; }

 protected:
  // Puts the design's children on the surface around `tree`; called once, by the derived
  // constructor, when it has made its tree.
  void MakeChildren(const SurfaceDesign& design, Ref<TreeView> tree);
  // The elements a popup shows for `menu`: a Menu's items or an item array itself. 91 for
  // Nothing, 13 for any other object.
  static Ref<MenuArray> PopupItems(const Ref<Object>& menu);

  Ref<TreeView> tree_;
  Ref<Object> treeExt_;
  Ref<MenuArray> items_;
  Ref<Menu> mainMenu_;
};

}  // namespace desk
