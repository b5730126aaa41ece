// What assistive technology sees of the tree: the view as a tree whose children are its rows
// shown (one per node on screen, expanded or not), each a tree item with its text, check and
// expand states, as Qt presents a QTreeView, but without the column header QTreeView lists
// first even while it is hidden. The tree's name and description are the view's own when a
// host set them there, else those of the control's widget around it.
//
// Child indexes are rows among the rows shown; the view announces focus and selection
// changes with them (TreeWidget::currentChanged, selectionChanged).
#pragma once

#include <QAccessibleWidget>
#include <QPersistentModelIndex>
#include <QPointer>
#include <unordered_map>
#include <vector>

namespace desk::qtb {

class TreeWidget;

// Lets Qt find TreeAccessible for every TreeWidget; installed once, with the first view.
void InstallTreeAccessible();

class TreeAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
 public:
  explicit TreeAccessible(TreeWidget* view);
  ~TreeAccessible() override;

  // The row of a shown node's index; -1 for a node under a collapsed one.
  int RowOf(const QModelIndex& index) const;
  QModelIndex IndexAt(int row) const;
  TreeWidget* View() const;

  // QAccessibleInterface
  QAccessibleInterface* child(int index) const override;
  int childCount() const override;
  int indexOfChild(const QAccessibleInterface* child) const override;
  QAccessibleInterface* childAt(int x, int y) const override;
  QAccessibleInterface* focusChild() const override;
  QString text(QAccessible::Text t) const override;
  void* interface_cast(QAccessible::InterfaceType t) override;

  // QAccessibleTableInterface: one column, a row per row shown.
  QAccessibleInterface* caption() const override { return nullptr; }
  QAccessibleInterface* summary() const override { return nullptr; }
  QAccessibleInterface* cellAt(int row, int column) const override;
  int selectedCellCount() const override { return selectedRowCount(); }
  QList<QAccessibleInterface*> selectedCells() const override;
  QString columnDescription(int) const override { return QString(); }
  QString rowDescription(int) const override { return QString(); }
  int selectedColumnCount() const override { return 0; }
  int selectedRowCount() const override { return static_cast<int>(selectedRows().size()); }
  int columnCount() const override { return 1; }
  int rowCount() const override { return childCount(); }
  QList<int> selectedColumns() const override { return {}; }
  QList<int> selectedRows() const override;
  bool isColumnSelected(int) const override { return false; }
  bool isRowSelected(int row) const override;
  bool selectRow(int row) override;
  bool selectColumn(int) override { return false; }
  bool unselectRow(int row) override;
  bool unselectColumn(int) override { return false; }
  void modelChange(QAccessibleTableModelChangeEvent*) override {}

 private:
  // The rows are the view's own (its row of a node and node on a row, each in O(log n));
  // after they changed, items of nodes gone from the tree are dropped.
  void DropGoneItems() const;

  mutable unsigned readAt_ = 0;  // the view's row generation items were last checked at; 0 never
  // The item interfaces handed out, by node, registered with Qt's accessibility cache.
  mutable std::unordered_map<const void*, QAccessible::Id> items_;
};

}  // namespace desk::qtb
