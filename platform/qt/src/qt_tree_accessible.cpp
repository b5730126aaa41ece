#include "qt_tree_accessible.h"

#include <QItemSelectionModel>
#include <QWindow>

#include <algorithm>
#include <climits>

#include "qt_tree_widget.h"

namespace desk::qtb {

namespace {

// One row of the tree for assistive technology.
class TreeItemAccessible : public QAccessibleInterface,
                           public QAccessibleTableCellInterface,
                           public QAccessibleActionInterface {
 public:
  TreeItemAccessible(TreeWidget* view, const QModelIndex& index) : view_(view), index_(index) {}

  bool isValid() const override { return view_ && index_.isValid(); }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
  QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(view_.data()); }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QAccessible::Role role() const override { return QAccessible::TreeItem; }
  // The text is the node's; it changes only through the label-edit events.
  void setText(QAccessible::Text, const QString&) override {}

  QString text(QAccessible::Text t) const override {
    return isValid() && t == QAccessible::Name ? index_.data(Qt::DisplayRole).toString() : QString();
  }

  QRect rect() const override {
    if (!isValid()) return QRect();
    const QRect r = view_->visualRect(index_);
    return QRect(view_->viewport()->mapToGlobal(r.topLeft()), r.size());
  }

  QAccessible::State state() const override {
    QAccessible::State s;
    if (!isValid()) return s;
    s.selectable = s.focusable = true;
    s.selected = isSelected();
    s.active = s.focused = view_->hasFocus() && view_->currentIndex() == QModelIndex(index_);
    s.invisible = !view_->isVisible();
    s.offscreen = !view_->viewport()->rect().intersects(view_->visualRect(index_));
    if (view_->model()->hasChildren(index_)) {
      s.expandable = true;
      s.expanded = view_->isExpanded(index_);
      s.collapsed = !s.expanded;
    }
    const QVariant check = index_.data(Qt::CheckStateRole);
    if (check.isValid()) {
      s.checkable = true;
      s.checked = check.toInt() == Qt::Checked;
    }
    return s;
  }

  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::TableCellInterface) return static_cast<QAccessibleTableCellInterface*>(this);
    if (t == QAccessible::ActionInterface) return static_cast<QAccessibleActionInterface*>(this);
    return nullptr;
  }

  // QAccessibleTableCellInterface
  bool isSelected() const override { return isValid() && view_->selectionModel()->isSelected(index_); }
  QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
  QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
  int columnIndex() const override { return 0; }
  int rowIndex() const override { return Tree() ? Tree()->RowOf(index_) : -1; }
  int columnExtent() const override { return 1; }
  int rowExtent() const override { return 1; }
  QAccessibleInterface* table() const override { return parent(); }

  // QAccessibleActionInterface: toggling selects the row or lets it go, as in Qt's views.
  QStringList actionNames() const override { return {toggleAction()}; }
  QStringList keyBindingsForAction(const QString&) const override { return {}; }
  void doAction(const QString& name) override {
    if (name != toggleAction() || !Tree()) return;
    const int row = rowIndex();
    if (isSelected()) Tree()->unselectRow(row);
    else Tree()->selectRow(row);
  }

 private:
  TreeAccessible* Tree() const { return isValid() ? dynamic_cast<TreeAccessible*>(parent()) : nullptr; }

  QPointer<TreeWidget> view_;
  QPersistentModelIndex index_;
};

QAccessibleInterface* Factory(const QString&, QObject* object) {
  auto* view = dynamic_cast<TreeWidget*>(object);
  return view ? new TreeAccessible(view) : nullptr;
}

// Takes the factory out again when the library is unloaded.
struct FactoryInstalled {
  FactoryInstalled() { QAccessible::installFactory(&Factory); }
  ~FactoryInstalled() { QAccessible::removeFactory(&Factory); }
};

}  // namespace

void InstallTreeAccessible() { static FactoryInstalled installed; }

TreeAccessible::TreeAccessible(TreeWidget* view) : QAccessibleWidget(view, QAccessible::Tree) {}

TreeAccessible::~TreeAccessible() {
  for (const auto& [node, id] : items_) QAccessible::deleteAccessibleInterface(id);
}

TreeWidget* TreeAccessible::View() const { return static_cast<TreeWidget*>(widget()); }

void TreeAccessible::DropGoneItems() const {
  if (readAt_ == View()->RowsGeneration()) return;
  readAt_ = View()->RowsGeneration();
  // Items of nodes that left the tree are of no more use.
  for (auto it = items_.begin(); it != items_.end();) {
    const QAccessibleInterface* item = QAccessible::accessibleInterface(it->second);
    if (item && item->isValid()) {
      ++it;
    } else {
      QAccessible::deleteAccessibleInterface(it->second);
      it = items_.erase(it);
    }
  }
}

int TreeAccessible::RowOf(const QModelIndex& index) const {
  DropGoneItems();
  const int64_t row = View()->RowOfIndex(index);
  return row <= INT_MAX ? static_cast<int>(row) : -1;
}

QModelIndex TreeAccessible::IndexAt(int row) const {
  DropGoneItems();
  return View()->IndexAtRow(row);
}

QAccessibleInterface* TreeAccessible::child(int index) const {
  const QModelIndex i = IndexAt(index);
  if (!i.isValid()) return nullptr;
  QAccessible::Id& id = items_[i.internalPointer()];
  if (QAccessibleInterface* item = id ? QAccessible::accessibleInterface(id) : nullptr) return item;
  id = QAccessible::registerAccessibleInterface(new TreeItemAccessible(View(), i));
  return QAccessible::accessibleInterface(id);
}

int TreeAccessible::childCount() const {
  DropGoneItems();
  return static_cast<int>(std::min<int64_t>(View()->RowCount(), INT_MAX));
}

int TreeAccessible::indexOfChild(const QAccessibleInterface* child) const {
  if (!child || child->role() != QAccessible::TreeItem || child->parent() != this) return -1;
  auto* cell = const_cast<QAccessibleInterface*>(child)->tableCellInterface();
  return cell ? cell->rowIndex() : -1;
}

QAccessibleInterface* TreeAccessible::childAt(int x, int y) const {
  TreeWidget* view = View();
  const QPoint p = view->viewport()->mapFromGlobal(QPoint(x, y));
  if (!view->viewport()->rect().contains(p)) return nullptr;
  const int row = RowOf(view->indexAt(p));
  return row >= 0 ? child(row) : nullptr;
}

QAccessibleInterface* TreeAccessible::focusChild() const {
  const int row = RowOf(View()->currentIndex());
  return row >= 0 ? child(row) : nullptr;
}

QString TreeAccessible::text(QAccessible::Text t) const {
  if (t != QAccessible::Name && t != QAccessible::Description) return QAccessibleWidget::text(t);
  // What the host set on the control's widget, unless set on the view itself.
  for (const QWidget* w = widget(); w; w = w == widget() ? w->parentWidget() : nullptr) {
    const QString s = t == QAccessible::Name ? w->accessibleName() : w->accessibleDescription();
    if (!s.isEmpty()) return s;
  }
  return QString();
}

void* TreeAccessible::interface_cast(QAccessible::InterfaceType t) {
  if (t == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
  return QAccessibleWidget::interface_cast(t);
}

QAccessibleInterface* TreeAccessible::cellAt(int row, int column) const { return column == 0 ? child(row) : nullptr; }

QList<int> TreeAccessible::selectedRows() const {
  QList<int> out;
  for (const QModelIndex& i : View()->selectionModel()->selectedIndexes())
    if (const int row = RowOf(i); row >= 0) out << row;
  return out;
}

QList<QAccessibleInterface*> TreeAccessible::selectedCells() const {
  QList<QAccessibleInterface*> out;
  for (int row : selectedRows()) out << child(row);
  return out;
}

bool TreeAccessible::isRowSelected(int row) const {
  const QModelIndex i = IndexAt(row);
  return i.isValid() && View()->selectionModel()->isSelected(i);
}

bool TreeAccessible::selectRow(int row) {
  // As a click on the row: the node becomes the current and selected one.
  const QModelIndex i = IndexAt(row);
  if (!i.isValid()) return false;
  View()->setCurrentIndex(i);
  return true;
}

bool TreeAccessible::unselectRow(int row) {
  const QModelIndex i = IndexAt(row);
  if (!i.isValid() || !View()->selectionModel()->isSelected(i)) return false;
  View()->selectionModel()->select(i, QItemSelectionModel::Deselect);
  return true;
}

}  // namespace desk::qtb
