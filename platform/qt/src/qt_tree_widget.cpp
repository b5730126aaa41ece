#include "qt_tree_widget.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QScopedValueRollback>
#include <QTimer>
#include <cmath>
#include <vector>

#include "qt_tree.h"
#include "qt_tree_accessible.h"
#include "qt_tree_model.h"
#include "qt_util.h"

namespace desk::qtb {

namespace {

// Column `x` of `bounds` as laid out in direction `d`: mirrored within `bounds` right to left.
int VisualX(Qt::LayoutDirection d, const QRect& bounds, int x) {
  return QStyle::visualRect(d, bounds, QRect(x, bounds.top(), 1, 1)).x();
}

// Qt paints a selected row's branch area as selected when the style asks for it; the tree
// does so only with FullRowSelect.
class TreeStyle : public QProxyStyle {
 public:
  explicit TreeStyle(TreeWidget* owner) : owner_(owner) { setParent(owner); }
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* ret) const override {
    if (hint == SH_ItemView_ShowDecorationSelected) return owner_->FullRow() ? 1 : 0;
    return QProxyStyle::styleHint(hint, option, widget, ret);
  }

 private:
  TreeWidget* owner_;
};

}  // namespace

TreeWidget::TreeWidget(QtTree* tree, QWidget* parent) : QTreeView(parent), tree_(tree) {
  setHeaderHidden(true);
  header()->setStretchLastSection(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setMouseTracking(true);  // MouseMove is raised without a button too
  viewport()->setAttribute(Qt::WA_Hover);
  setContextMenuPolicy(Qt::PreventContextMenu);  // the host shows its own menu
  setExpandsOnDoubleClick(true);
  setAnimated(false);
  setDropIndicatorShown(false);
  setDragDropMode(QAbstractItemView::DragDrop);
  // Rows all have one height (the delegate makes a row without a picture as tall as one
  // with), so the view need not measure a million rows to scroll to the end.
  setUniformRowHeights(true);
  setStyle(new TreeStyle(this));
  InstallTreeAccessible();
  // The rows shown change: laid out again before the next paint or read of the layout.
  connect(this, &QTreeView::expanded, this, [this] {
    ++rowsGeneration_;
    scheduleDelayedItemsLayout();
  });
  connect(this, &QTreeView::collapsed, this, [this] {
    ++rowsGeneration_;
    scheduleDelayedItemsLayout();
  });
}

void TreeWidget::setModel(QAbstractItemModel* m) {
  QTreeView::setModel(m);
  if (!m) return;
  auto changed = [this] { ++rowsGeneration_; };
  connect(m, &QAbstractItemModel::rowsInserted, this, changed);
  connect(m, &QAbstractItemModel::rowsRemoved, this, changed);
  connect(m, &QAbstractItemModel::rowsMoved, this, [this] {
    ++rowsGeneration_;
    scheduleDelayedItemsLayout();
  });
  connect(m, &QAbstractItemModel::modelReset, this, changed);
  connect(m, &QAbstractItemModel::layoutChanged, this, changed);
}

void TreeWidget::RowsRemoved() {
  // The first removal of a run whose rows can be moved is laid out now, outside a paint, where
  // the window's pixels can be moved instead of drawn again; the rest of the run is laid out
  // once, when the view next paints.
  if (shift_.at != rowsGeneration_ || shiftedInRun_) return;
  shiftedInRun_ = true;
  QTimer::singleShot(0, this, [this] { shiftedInRun_ = false; });
  executeDelayedItemsLayout();
}

void TreeWidget::Announce(QAccessible::Event event, const QModelIndex& index) {
  auto* tree = dynamic_cast<TreeAccessible*>(QAccessible::queryAccessibleInterface(this));
  const int row = tree ? tree->RowOf(index) : -1;
  if (row < 0) return;
  QAccessibleEvent e(this, event);
  e.setChild(row);
  QAccessible::updateAccessibility(&e);
}

void TreeWidget::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QAbstractItemView::currentChanged(current, previous);
  if (QAccessible::isActive() && current.isValid() && hasFocus()) Announce(QAccessible::Focus, current);
}

void TreeWidget::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
  QAbstractItemView::selectionChanged(selected, deselected);
  if (!QAccessible::isActive()) return;
  // One row at a time: the selection is single.
  if (const QModelIndex i = selected.indexes().value(0); i.isValid()) Announce(QAccessible::SelectionAdd, i);
  if (const QModelIndex i = deselected.indexes().value(0); i.isValid()) Announce(QAccessible::SelectionRemove, i);
}

TreeWidget::~TreeWidget() {
  setStyle(nullptr);  // the proxy goes with the widget's children, after the widget
  if (tree_) tree_->WidgetGone();
}

bool TreeWidget::FullRow() const { return tree_ && tree_->FullRowSelect(); }

QPointF TreeWidget::ToTreeUnits(const QPointF& viewportPos) const {
  const QPointF p = viewportPos + QPointF(viewport()->pos());
  return {p.x() * kTwipsPerPixel, p.y() * kTwipsPerPixel};
}

void TreeWidget::mousePressEvent(QMouseEvent* e) {
  Shielded("mousePressEvent", [&] {
    if (!tree_) return PressOnView(e);
    QPointer<TreeWidget> self(this);
    Ref<TreeView> keep(tree_);
    int16_t button = ButtonOf(e->button()), shift = ShiftMask(e->modifiers());
    const QPointF t = ToTreeUnits(e->position());
    float x = static_cast<float>(t.x()), y = static_cast<float>(t.y());
    afterDoubleClick_ = false;
    tree_->RaiseMouseDown(button, shift, x, y);
    if (!self || !tree_) return;
    // The right button leaves the selection alone: a host's context menu acts on the node it
    // finds with HitTest.
    if (e->button() == Qt::RightButton) return e->accept();
    leftPressed_ = e->button() == Qt::LeftButton;
    PressOnView(e);
    if (!self || !tree_ || e->button() != Qt::LeftButton) return;
    const QModelIndex at = indexAt(e->position().toPoint());
    Ref<Node> node(TreeModel::NodeOf(at));
    // A click on the label (or anywhere on the row with FullRowSelect), not on the branch area.
    if (node && node->InTree() && (tree_->FullRowSelect() || OnLabelSide(at, e->position().x())))
      ClickNode(*node, e->modifiers());
  });
}

void TreeWidget::mouseReleaseEvent(QMouseEvent* e) {
  Shielded("mouseReleaseEvent", [&] {
    if (!tree_) return ReleaseOnView(e);
    QPointer<TreeWidget> self(this);
    Ref<TreeView> keep(tree_);
    if (e->button() != Qt::RightButton) ReleaseOnView(e);
    if (!self || !tree_) return;
    int16_t button = ButtonOf(e->button()), shift = ShiftMask(e->modifiers());
    const QPointF t = ToTreeUnits(e->position());
    float x = static_cast<float>(t.x()), y = static_cast<float>(t.y());
    const bool click = e->button() == Qt::LeftButton && leftPressed_ && !afterDoubleClick_ &&
                       viewport()->rect().contains(e->position().toPoint());
    leftPressed_ = false;
    afterDoubleClick_ = false;
    tree_->RaiseMouseUp(button, shift, x, y);
    if (!self || !tree_) return;
    if (click) tree_->RaiseClick();
    e->accept();
  });
}

void TreeWidget::mouseMoveEvent(QMouseEvent* e) {
  Shielded("mouseMoveEvent", [&] {
    if (!tree_) return MoveOnView(e);
    QPointer<TreeWidget> self(this);
    Ref<TreeView> keep(tree_);
    int16_t button = ButtonMask(e->buttons()), shift = ShiftMask(e->modifiers());
    const QPointF t = ToTreeUnits(e->position());
    float x = static_cast<float>(t.x()), y = static_cast<float>(t.y());
    tree_->RaiseMouseMove(button, shift, x, y);
    if (!self || !tree_) return;
    // Qt's own drag gesture starts a drag only in automatic mode (dragEnabled follows it); a
    // right-button move must not rubber-band a selection.
    if (!(e->buttons() & Qt::RightButton)) MoveOnView(e);
  });
}

void TreeWidget::mouseDoubleClickEvent(QMouseEvent* e) {
  Shielded("mouseDoubleClickEvent", [&] {
    if (!tree_) return DoubleClickOnView(e);
    QPointer<TreeWidget> self(this);
    Ref<TreeView> keep(tree_);
    afterDoubleClick_ = true;
    if (e->button() == Qt::LeftButton) tree_->RaiseDblClick();
    if (!self || !tree_) return;
    if (e->button() == Qt::LeftButton) DoubleClickOnView(e);
  });
}

void TreeWidget::keyPressEvent(QKeyEvent* e) {
  Shielded("keyPressEvent", [&] {
    if (!tree_) return QTreeView::keyPressEvent(e);
    QPointer<TreeWidget> self(this);
    Ref<TreeView> keep(tree_);
    const QScopedValueRollback<const TreeWidget*> menuKey(menuKeyOf_, IsMenuKey(*e) ? this : nullptr);
    const int16_t code0 = KeyCodeOf(e->key()), shift0 = ShiftMask(e->modifiers());
    int16_t code = code0, shift = shift0;
    tree_->RaiseKeyDown(code, shift);
    if (!self || !tree_) return;
    const QString text0 = e->text();
    const bool hasChar = text0.size() == 1 && text0[0].unicode() <= INT16_MAX;
    int16_t ascii = hasChar ? static_cast<int16_t>(text0[0].unicode()) : 0;
    const int16_t ascii0 = ascii;
    if (hasChar) {
      tree_->RaiseKeyPress(ascii);
      if (!self || !tree_) return;
    }
    // The tree acts on what the handlers left: KeyCode 0 drops the key, KeyAscii 0 the
    // character; a changed value is the key or character the tree gets instead.
    const int key = code == code0 ? e->key() : (code == 0 ? int(Qt::Key_unknown) : QtKeyOf(code));
    QString text;
    if (hasChar) text = ascii == 0 ? QString() : (ascii == ascii0 ? text0 : QString(QChar(static_cast<char16_t>(ascii))));
    else if (code == code0) text = text0;
    if (key == Qt::Key_unknown && text.isEmpty()) return e->accept();
    const Qt::KeyboardModifiers mods =
        shift == shift0 ? e->modifiers() : (ModifiersOf(shift) | (e->modifiers() & Qt::KeypadModifier));
    QKeyEvent forwarded(e->type(), key, mods, text, e->isAutoRepeat(), static_cast<quint16>(e->count()));
    if (SelectionKey(forwarded) || CloseOpenOnDemand(forwarded)) return e->accept();
    Node* before = TreeModel::NodeOf(currentIndex());
    movedView_ = false;
    QTreeView::keyPressEvent(&forwarded);
    // A cursor key that opened or closed the row instead of moving is taken, as by QTreeView.
    if (self && movedView_) forwarded.accept();
    e->setAccepted(forwarded.isAccepted());
    if (self && tree_) AfterMoveKey(key, mods, before);
  });
}

void TreeWidget::keyReleaseEvent(QKeyEvent* e) {
  Shielded("keyReleaseEvent", [&] {
    if (!tree_) return QTreeView::keyReleaseEvent(e);
    QPointer<TreeWidget> self(this);
    Ref<TreeView> keep(tree_);
    const QScopedValueRollback<const TreeWidget*> menuKey(menuKeyOf_, IsMenuKey(*e) ? this : nullptr);
    int16_t code = KeyCodeOf(e->key()), shift = ShiftMask(e->modifiers());
    tree_->RaiseKeyUp(code, shift);
    if (!self) return;
    QTreeView::keyReleaseEvent(e);
  });
}

bool TreeWidget::IsMenuKey(const QKeyEvent& e) {
  const Qt::KeyboardModifiers mods = e.modifiers() & ~Qt::KeypadModifier;
  return (e.key() == Qt::Key_Menu && !(mods & (Qt::ControlModifier | Qt::AltModifier))) ||
         (e.key() == Qt::Key_F10 && mods == Qt::ShiftModifier);
}

std::optional<QPoint> TreeWidget::KeyboardMenuAt(QSize menu) const {
  if (menuKeyOf_ != this) return std::nullopt;
  const QRect r = visualRect(currentIndex());
  if (!r.isValid() || !viewport()->rect().intersects(r)) return std::nullopt;
  // Below the start of the label, opening toward the label's end.
  return viewport()->mapToGlobal(QStyle::visualRect(layoutDirection(), r, QRect(QPoint(r.left(), r.bottom()), menu)).topLeft());
}

void TreeWidget::focusOutEvent(QFocusEvent* e) {
  Shielded("focusOutEvent", [&] {
    QTreeView::focusOutEvent(e);
    if (!tree_) return;
    // Only when the focus moves to another control of the window: not to a popup, another
    // window, or the tree's own label editor.
    const Qt::FocusReason r = e->reason();
    if (r == Qt::PopupFocusReason || r == Qt::ActiveWindowFocusReason || r == Qt::MenuBarFocusReason) return;
    QWidget* next = QApplication::focusWidget();
    if (!next || next == this || isAncestorOf(next)) return;
    QPointer<TreeWidget> self(this);
    Ref<TreeView> keep(tree_);
    bool cancel = false;
    tree_->RaiseValidate(cancel);
    if (!self || !cancel) return;
    // Cancel keeps the focus: taken back once the focus change in progress is over.
    QTimer::singleShot(0, this, [self] {
      if (self) self->setFocus(Qt::OtherFocusReason);
    });
  });
}

void TreeWidget::DragOver(QDragMoveEvent* e, int16_t state) {
  if (!tree_ || tree_->OLEDropMode() != 1) return e->ignore();
  lastDragPos_ = e->position();
  e->ignore();
  QPointer<TreeWidget> self(this);
  Shielded("OLEDragOver", [&] { tree_->DragEvent(e, state, false); });
  if (self) ShowDropTarget(e->isAccepted() ? indexAt(e->position().toPoint()) : QModelIndex());
}

void TreeWidget::ShowDropTarget(const QModelIndex& index) {
  if (dropTarget_ == index) return;
  if (dropTarget_.isValid()) viewport()->update(visualRect(dropTarget_));
  dropTarget_ = index;
  if (index.isValid()) viewport()->update(visualRect(index));
}

void TreeWidget::dragEnterEvent(QDragEnterEvent* e) { DragOver(e, 0); }
void TreeWidget::dragMoveEvent(QDragMoveEvent* e) { DragOver(e, 2); }

void TreeWidget::dragLeaveEvent(QDragLeaveEvent* e) {
  ShowDropTarget(QModelIndex());
  if (tree_ && tree_->OLEDropMode() == 1) Shielded("OLEDragOver", [&] { tree_->DragLeft(lastDragPos_); });
  e->accept();
}

void TreeWidget::dropEvent(QDropEvent* e) {
  ShowDropTarget(QModelIndex());
  if (!tree_ || tree_->OLEDropMode() != 1) return e->ignore();
  e->ignore();
  Shielded("OLEDragDrop", [&] { tree_->DragEvent(e, 0, true); });
}

void TreeWidget::startDrag(Qt::DropActions) {
  if (tree_) Shielded("OLEStartDrag", [&] { tree_->RunDrag(true); });
}

bool TreeWidget::OnLabelSide(const QModelIndex& index, double x) const {
  // Past the label's start, in the label's reading direction.
  const QRect area = viewport()->rect();
  const int at = VisualX(layoutDirection(), area, static_cast<int>(std::floor(x)));
  return at >= QStyle::visualRect(layoutDirection(), area, visualRect(index)).left();
}

void TreeWidget::drawBranches(QPainter* p, const QRect& rect, const QModelIndex& index) const {
  if (!tree_ || !index.isValid()) return;
  const int indent = indentation();
  if (indent <= 0) return;

  // The row and its ancestors; the cell next to the label is the row's own, the others carry
  // the ancestors' vertical lines. Roots have a cell only with root lines. Laid out left to
  // right and mirrored within `rect` for a right-to-left layout, where Qt puts the branch
  // area right of the label.
  std::vector<QModelIndex> chain;
  for (QModelIndex i = index; i.isValid(); i = i.parent()) chain.push_back(i);
  const int cells = static_cast<int>(chain.size()) - (rootIsDecorated() ? 0 : 1);
  QAbstractItemModel* m = model();
  const Qt::LayoutDirection direction = layoutDirection();
  auto X = [&](int x) { return VisualX(direction, rect, x); };
  auto line = [&](int x1, int y1, int x2, int y2) { p->drawLine(X(x1), y1, X(x2), y2); };

  p->save();
  QPen dotted(palette().color(QPalette::Dark), 1, Qt::DotLine);
  const int right = rect.right() + 1;
  for (int c = 0; c < cells; ++c) {
    const QRect cell(right - (c + 1) * indent, rect.top(), indent, rect.height());
    const QModelIndex& at = chain[static_cast<size_t>(c)];
    const int cx = cell.left() + indent / 2, cy = cell.top() + cell.height() / 2;
    const bool hasNext = at.row() + 1 < m->rowCount(at.parent());
    if (tree_->ShowsLines()) {
      p->setPen(dotted);
      if (c == 0) {
        const bool hasAbove = at.parent().isValid() || at.row() > 0;
        if (hasAbove) line(cx, cell.top(), cx, cy);
        if (hasNext) line(cx, cy, cx, cell.bottom());
        line(cx, cy, cell.right(), cy);
      } else if (hasNext) {
        line(cx, cell.top(), cx, cell.bottom());
      }
    }
    if (c == 0 && tree_->ShowsPlusMinus() && ShowsExpander(at)) {
      const int bx = X(cx);
      const QRect box(bx - 4, cy - 4, 8, 8);
      p->fillRect(box, palette().brush(QPalette::Base));
      p->setPen(QPen(palette().color(QPalette::Dark), 1));
      p->drawRect(box);
      p->setPen(QPen(palette().color(QPalette::Text), 1));
      p->drawLine(bx - 2, cy, bx + 2, cy);
      // A node open on demand is kept closed in the view until its children come (QtTree).
      const Node* n = TreeModel::NodeOf(at);
      const bool open = isExpanded(at) || (n && n->InTree() && n->ChildrenOnDemand() && n->Expanded());
      if (!open) p->drawLine(bx, cy - 2, bx, cy + 2);
    }
  }
  p->restore();
}

}  // namespace desk::qtb
