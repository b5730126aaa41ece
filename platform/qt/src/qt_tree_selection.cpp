// The view's part in a view state (the first row in view) and in the selection of many nodes
// (desk/tree_selection.h): the usual gestures
// turned into the tree's, and a repaint when the selection changes. Qt's own selection model
// keeps one row, the current node, as with one node selected; the rows drawn as selected are
// the tree's ranges, so that selecting all of a million nodes costs Qt nothing.
#include <QApplication>
#include <QKeyEvent>
#include <chrono>

#include "desk/tree_selection.h"
#include "qt_tree.h"
#include "qt_tree_model.h"
#include "qt_tree_widget.h"

namespace desk::qtb {

namespace {
bool MovesTheCurrentRow(int key) {
  switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: return true;
    default: return false;
  }
}
}  // namespace

Node* QtTree::TopNode() {
  if (!widget_) return TreeView::TopNode();
  OpenOnDemandNow();  // children on demand that came in this run show now
  widget_->executeDelayedItemsLayout();
  return TreeModel::NodeOf(widget_->indexAt(QPoint(1, 1)));
}

void QtTree::ScrollToTop(Node& n) {
  if (n.Tree() != this) Raise(Err::InvalidProcedureCall);
  if (!widget_) return TreeView::ScrollToTop(n);
  OpenOnDemandNow();
  widget_->executeDelayedItemsLayout();
  widget_->scrollTo(model_->IndexOf(&n), QAbstractItemView::PositionAtTop);
}

void QtTree::SelectionMade(TreeSelection& s) {
  selectionMade_ = &s;
  if (widget_) widget_->WatchSelection(s);
}

void TreeWidget::WatchSelection(TreeSelection& s) {
  QPointer<TreeWidget> self(this);
  s.SetOnViewChanged([self] {
    if (self) self->viewport()->update();
  });
}

bool TreeWidget::ManySelected() const {
  return tree_ && tree_->Selection().GetMode() == TreeSelection::Mode::Extended;
}

void TreeWidget::ClickNode(Node& node, Qt::KeyboardModifiers mods) {
  if (!ManySelected()) return tree_->UserClickNode(node);
  tree_->Selection().Click(node, mods.testFlag(Qt::ShiftModifier), mods.testFlag(Qt::ControlModifier));
}

bool TreeWidget::SelectionKey(const QKeyEvent& e) {
  if (!ManySelected() || !e.matches(QKeySequence::SelectAll)) return false;
  tree_->Selection().SelectAll();
  return true;
}

void TreeWidget::keyboardSearch(const QString& search) {
  if (!tree_ || !tree_->SelectionIfMade() || !tree_->SelectionIfMade()->TypeAhead())
    return SearchRows(search);
  TreeSelection& sel = *tree_->SelectionIfMade();
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch()).count();
  Node* to = sel.Typed(U(search), now, QApplication::keyboardInputInterval());
  if (!to) return;
  Ref<Node> keep(to);
  const QModelIndex i = tree_->Model().IndexOf(to);
  if (!i.isValid()) return;
  QPointer<TreeWidget> self(this);
  selectionModel()->setCurrentIndex(i, selectionMode() == SingleSelection
                                           ? QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows
                                           : QItemSelectionModel::NoUpdate);
  if (self && tree_ && ManySelected() && to->InTree()) sel.MoveTo(*to, false);
}

bool TreeWidget::CloseOpenOnDemand(const QKeyEvent& e) {
  const int key = e.key();
  const bool closing = key == Qt::Key_Minus || key == (isRightToLeft() ? Qt::Key_Right : Qt::Key_Left);
  if (!closing || (e.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
  Node* n = TreeModel::NodeOf(currentIndex());
  if (!n || !n->InTree() || !n->ChildrenOnDemand() || !n->Expanded() || n->Child()) return false;
  Ref<Node> keep(n);
  n->SetExpanded(false);  // raises Collapse
  return true;
}

void TreeWidget::AfterMoveKey(int key, Qt::KeyboardModifiers mods, Node* before) {
  if (!ManySelected() || !MovesTheCurrentRow(key) || mods.testFlag(Qt::ControlModifier)) return;
  Node* now = TreeModel::NodeOf(currentIndex());
  if (!now || now == before || !now->InTree()) return;
  Ref<Node> keep(now);
  tree_->Selection().MoveTo(*now, mods.testFlag(Qt::ShiftModifier));
}

}  // namespace desk::qtb
