// The tree on screen: a desk::TreeView shown by a QTreeView (TreeWidget) through an item
// model over the tree's own nodes (TreeModel), its rows drawn by TreeDelegate.
//
// User input goes from the view to the tree's own operations (UserClickNode, UserCheck,
// SetExpanded, FinishLabelEdit) and raise helpers, so by-reference arguments the host writes
// are the tree's storage and take effect in the widget; the tree's changes reach the model
// through its observer.
#pragma once

#include <QIcon>
#include <QPointer>
#include <QScopedValueRollback>
#include <QString>
#include <memory>
#include <vector>

#include "desk/imagelist.h"
#include "desk/tree.h"
#include "qt_tree_delegate.h"
#include "qt_tree_model.h"
#include "qt_tree_widget.h"
#include "qt_util.h"

class QDropEvent;

namespace desk::qtb {

class DataObject;

class QtTree : public TreeView, public LabelEditor {
 public:
  explicit QtTree(QWidget* parent);
  ~QtTree() override;

  TreeWidget* Widget() const { return widget_; }

  void Refresh() override;
  // Raises BeforeLabelEdit and, unless cancelled, opens the real editor on the node.
  void StartLabelEdit() override;
  // Starts a drag now (OLEDragMode manual).
  void OLEDrag() override;
  // By the widget's geometry: the node of the row under the point, or null.
  Ref<Node> HitTest(float x, float y) override;
  Node* TopNode() override;
  void ScrollToTop(Node& n) override;
  void ContainerValueChanged(DispId id, const Variant& value) override;

  // What the widget reports.
  void WidgetGone();
  void OnCurrentChanged(const QModelIndex& current, const QModelIndex& previous);
  void OnUserExpanded(const QModelIndex& index, bool expanded);
  void OnUserCheck(Node& node, bool checked);
  // The label editor is about to open on `node` (user trigger): raises BeforeLabelEdit;
  // false when cancelled.
  bool BeginUserEdit(Node& node) override;
  void CommitLabelEdit(const QString& text) override;
  void RunDrag(bool automatic);
  void DragEvent(QDropEvent* e, int16_t state, bool drop);
  void DragLeft(const QPointF& pos);

  // Drawing.
  bool ShowsPlusMinus() const { return (Style() & 2) != 0; }
  bool ShowsLines() const { return (Style() & 4) != 0; }
  bool Syncing() const { return syncing_ > 0; }
  bool OpeningEditor() const override { return opening_; }
  TreeModel& Model() const { return *model_; }
  // The selection of many nodes once a host asked for it (Selection makes it), else null.
  TreeSelection* SelectionIfMade() const { return selectionMade_; }

 protected:
  void SettingChanged(DispId id) override;
  void SelectionMade(TreeSelection& s) override;
  void FilterMade(TreeFilter& f) override;

 private:
  class Mirror;
  friend class Mirror;
  class FilterMirror;
  friend class FilterMirror;
  struct SyncGuard : QScopedValueRollback<int> {
    explicit SyncGuard(QtTree& t) : QScopedValueRollback<int>(t.syncing_, t.syncing_ + 1) {}
  };

  void Apply(DispId id);
  void ApplyAll();
  void ApplyCursor();
  void ApplyFrame();
  void ApplyPalette();
  void UpdateIconSize();
  void Relayout();
  void AddRow(Node& n);
  void RemoveRows(Node& top);
  void KeepRemoved(std::vector<Ref<Node>>& gone);
  void PostRelease();
  void ShowExpanded(Node& n);
  void ShowExpander(Node& n);
  void OpenOnDemandLater(Node& n);
  // Opens them now: before the view's rows are read (a hit test, the first row in view).
  void OpenOnDemandNow();
  void ResetRows();
  // After the rows were reset: the view expands what shows open and shows the current node.
  void ShowOpenRows();
  // Expands the open rows of a subtree the filter just showed.
  void ShowOpenBelow(Node& top);
  void ReleaseRemoved();
  void ShowSelection(Node& n);

  std::unique_ptr<TreeModel> model_;  // outlives the widget, which the tree deletes first
  QPointer<TreeWidget> widget_;
  TreeDelegate* delegate_ = nullptr;
  std::unique_ptr<Mirror> mirror_;
  std::unique_ptr<FilterMirror> filterMirror_;
  // Nodes removed while the view may still hold indexes of them: a handler of an event the
  // view raised in the middle of its own work (Collapse from a key, say) may remove the node
  // the view goes on with. Kept until the view is back in the event loop, then released once
  // no index of them is left.
  std::vector<Ref<Node>> removed_;
  std::vector<std::vector<Ref<Node>>> removedSubtrees_;  // handed over whole by the tree
  bool releasePosted_ = false;
  int syncing_ = 0;       // model -> widget updates in progress: widget signals are ours
  bool opening_ = false;  // StartLabelEdit is opening the editor itself
  bool dragging_ = false;
  Ref<DataObject> incoming_;  // the data object of the drag over the tree, if any
  TreeSelection* selectionMade_ = nullptr;  // the base's, made on a host's first use
  // Nodes open on demand whose children came while the view kept them closed: opened in the
  // view when the event loop turns (OpenOnDemandLater).
  std::vector<Ref<Node>> openingOnDemand_;
};

}  // namespace desk::qtb
