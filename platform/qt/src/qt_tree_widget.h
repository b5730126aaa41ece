// The view of the tree: a QTreeView that turns real input into the tree's events and draws
// the tree's own lines and plus/minus boxes.
#pragma once

#include <QPointF>
#include <QTreeView>
#include <cstdint>

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

 private:
  friend class QtTree;
  void DragOver(QDragMoveEvent* e, int16_t state);
  QtTree* tree_;                  // null once the tree is gone
  bool afterDoubleClick_ = false;  // the release that ends a double click raises no Click
  bool leftPressed_ = false;
  QPointF lastDragPos_;
};

}  // namespace desk::qtb
