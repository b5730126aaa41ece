// The view of the tree: a QTreeView that turns real input into the tree's events, draws the
// tree's own lines and plus/minus boxes (mirrored in a right-to-left layout), and tells
// assistive technology about changes of focus and selection.
//
// It lays its rows out itself (qt_tree_layout.cpp): QTreeView keeps a list of every row shown
// and makes it again after each change, which at a million shown rows costs tens of
// milliseconds per added or removed row. Here the row of a node and the node on a row come
// from the tree's row index in O(log n), so a change costs the rows on screen; only while a
// filter is on are the rows listed, once per change. QTreeView's list stays empty, and every
// part of it that reads the list is replaced.
#pragma once

#include <QAccessible>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QPointF>
#include <QPointer>
#include <QTreeView>
#include <cstdint>
#include <optional>
#include <vector>

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
  // After the model told the views of a removal, once it is done announcing it.
  void RowsRemoved();
  // Counts the changes to which rows are shown (rows added, removed or moved, a node
  // expanded or collapsed), for those who keep a list of them.
  unsigned RowsGeneration() const { return rowsGeneration_; }
  void setModel(QAbstractItemModel* model) override;
  // Type-ahead from the tree's own rows when the tree asks for it (TreeSelection::TypeAhead):
  // the same search as the view's own, a step per row instead of a look-up per row.
  void keyboardSearch(const QString& search) override;
  // The row a drag over the tree would drop on, while the host accepts it there.
  QModelIndex DropTarget() const { return dropTarget_; }

  // The rows shown, 0 the first.
  int64_t RowCount() const;
  QModelIndex IndexAtRow(int64_t row) const;
  int64_t RowOfIndex(const QModelIndex& index) const;  // -1 when not shown
  int RowHeight() const { return rowHeight_; }
  // How many times a view in this process listed its rows (a filter on, or a model other than
  // the tree's): tests count them to see which rows come from the tree's row index.
  static uint64_t Listings();

  QRect visualRect(const QModelIndex& index) const override;
  void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
  QModelIndex indexAt(const QPoint& p) const override;
  void doItemsLayout() override;

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
  void paintEvent(QPaintEvent* e) override;
  void scrollContentsBy(int dx, int dy) override;
  void rowsInserted(const QModelIndex& parent, int start, int end) override;
  void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                   const QList<int>& roles = QList<int>()) override;
  void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers mods) override;
  int horizontalOffset() const override;
  int verticalOffset() const override;
  void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
  QRegion visualRegionForSelection(const QItemSelection& selection) const override;
  void updateGeometries() override;
  bool viewportEvent(QEvent* e) override;
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

  // The layout (qt_tree_layout.cpp).
  bool RowsIndexed() const;
  // Whether a row draws an expander, asked of the tree's model without counting as a read of
  // the row's children (see TreeModel::Added); another model is asked hasChildren.
  bool ShowsExpander(const QModelIndex& index) const;
  const std::vector<QModelIndex>& ListedRows() const;
  int Depth(const QModelIndex& index) const;
  // The width of the branch area before a row's label.
  int BranchWidth(const QModelIndex& index) const;
  int RowTop(int64_t row) const;  // in the viewport
  int64_t RowAtY(int y) const;    // -1 outside the rows
  int RowsInView() const;         // rows wholly in view, at least 1
  // The expander's cell of the row under a point, when that row has children and the point
  // is in it; invalid otherwise.
  QModelIndex ExpanderAt(const QPoint& p) const;
  // What QTreeView does with a press, release, move or double click, on the rows laid out here.
  void PressOnView(QMouseEvent* e);
  void ReleaseOnView(QMouseEvent* e);
  void MoveOnView(QMouseEvent* e);
  void DoubleClickOnView(QMouseEvent* e);
  // Opens or closes the row whose expander is under the point; true when the press is taken.
  bool ToggleAt(const QPoint& p);
  // Type-ahead as QTreeView's: the next shown row from the current one whose text starts
  // with the keys typed (letter case aside), the same key again stepping on.
  void SearchRows(const QString& search);
  // After a layout whose only change was a removal the model could place: moves the pixels of
  // the rows below it instead of drawing them all again; false when it cannot.
  bool ShiftRows(int oldHeight, int oldTop);
  QtTree* tree_;                  // null once the tree is gone
  bool afterDoubleClick_ = false;  // the release that ends a double click raises no Click
  bool leftPressed_ = false;
  QPointF lastDragPos_;
  QPersistentModelIndex dropTarget_;
  unsigned rowsGeneration_ = 1;
  int rowHeight_ = 0;
  mutable std::vector<QModelIndex> listed_;  // the rows, while they are listed
  mutable unsigned listedAt_ = 0;           // the row generation they were listed at; 0 never
  unsigned laidOutAt_ = 0;  // the row generation of the last layout
  struct {
    unsigned at = 0;  // the row generation once the removal is in; 0 none
    int64_t row = -1;  // the first row removed, -1 when none was shown
    int64_t rows = 0;
  } shift_;
  bool shiftedInRun_ = false;  // a removal's rows were moved since the event loop last turned
  QPersistentModelIndex pressed_;          // the row a press landed on, for a double click
  QPersistentModelIndex hover_;  // the row under the mouse
  bool hoverOnExpander_ = false;
  bool movedView_ = false;  // a cursor key opened, closed or scrolled instead of moving
  QString typed_;  // type-ahead
  qint64 typedAt_ = -1;
  // The tree answering a context-menu key, if any: set for the handling of one key event and
  // restored after it. Kept outside the widget, which a handler may delete meanwhile.
  static inline const TreeWidget* menuKeyOf_ = nullptr;
  static bool IsMenuKey(const QKeyEvent& e);
};

}  // namespace desk::qtb
