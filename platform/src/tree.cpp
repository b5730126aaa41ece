#include "desk/tree.h"

namespace desk {

const DispatchTable<TreeView>& TreeView::Table() {
  static const DispatchTable<TreeView> t("ITreeView", "{}", {});
  return t;
}
TreeView::TreeView() = default;
TreeView::~TreeView() = default;

Ref<TreeView> MakeHeadlessTree() { return MakeRef<TreeView>(); }
Ref<Object> MakeExtendedControl(Ref<TreeView> tree, std::u16string) { return tree; }

}  // namespace desk
