// The view of the tree: a QTreeView that turns real input into the tree's events, draws the
// tree's own lines and plus/minus boxes (mirrored in a right-to-left layout), and tells
// assistive technology about changes of focus and selection.
#pragma once

#include <QAccessible>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QPointF>
#include <QPointer>
#include <QTreeView>
#include <cstdint>
#include <optional>

namespace desk {
class Node;
class TreeSelection;
}

namespace desk::qtb {

class QtTree;

class TreeWidget : public QTreeView {
 public:
  TreeWidget(QtTree* tree, QWidget* parent);
  ~TreeWidget() override;
  // A point of the viewport in the tree's units (twips from the widget's top-left corner).
  QPointF ToTreeUnits(const QPointF& viewportPos) const;
  bool FullRow() const;
  // Lays the rows out again before the next paint (or read of the layout).
  void LayOutLater() { scheduleDelayedItemsLayout(); }
  // Where a popup menu of `menu`'s size, shown without coordinates, puts its top-left corner
  // while the tree answers a context-menu key (the Menu key, Shift+F10): at the selected
  // node's row. None otherwise, or when that row is not in view; the menu then opens at the
  // mouse.
  std::optional<QPoint> KeyboardMenuAt(QSize menu) const;
  // Counts the changes to which rows are shown (rows added, removed or moved, a node
  // expanded or collapsed), for those who keep a list of them.
  unsigned RowsGeneration() const { return rowsGeneration_; }
  void setModel(QAbstractItemModel* model) override;
  // Type-ahead from the tree's own rows when the tree asks for it (TreeSelection::TypeAhead):
  // the same search as the view's own, a step per row instead of a look-up per row.
  void keyboardSearch(const QString& search) override;
  // The row a drag over the tree would drop on, while the host accepts it there.
  QModelIndex DropTarget() const { return dropTarget_; }

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dragLeaveEvent(QDragLeaveEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void startDrag(Qt::DropActions supported) override;
  void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
  // QTreeView's own announce rows to assistive technology by an index that counts its hidden
  // header; these announce them as the tree's accessible interface counts them.
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

 private:
  friend class QtTree;
  // The selection of many nodes (qt_tree_selection.cpp).
  void WatchSelection(TreeSelection& s);
  bool ManySelected() const;
  void ClickNode(Node& node, Qt::KeyboardModifiers mods);
  bool SelectionKey(const QKeyEvent& e);  // true when it took the key (Ctrl+A)
  // The keys that close an open node (Left, or Right laid out right to left; Minus), on a node
  // open on demand without children, which the view keeps closed: true when it took the key.
  bool CloseOpenOnDemand(const QKeyEvent& e);
  void AfterMoveKey(int key, Qt::KeyboardModifiers mods, Node* before);
  void DragOver(QDragMoveEvent* e, int16_t state);
  // Whether a viewport x lies on the label's side of the row's branch area.
  bool OnLabelSide(const QModelIndex& index, double x) const;
  void ShowDropTarget(const QModelIndex& index);
  // Tells assistive technology about a change of a row.
  void Announce(QAccessible::Event event, const QModelIndex& index);
  QtTree* tree_;                  // null once the tree is gone
  bool afterDoubleClick_ = false;  // the release that ends a double click raises no Click
  bool leftPressed_ = false;
  QPointF lastDragPos_;
  QPersistentModelIndex dropTarget_;
  unsigned rowsGeneration_ = 1;
  // The tree answering a context-menu key, if any: set for the handling of one key event and
  // restored after it. Kept outside the widget, which a handler may delete meanwhile.
  static inline const TreeWidget* menuKeyOf_ = nullptr;
  static bool IsMenuKey(const QKeyEvent& e);
};

}  // namespace desk::qtb
