// How a row of the tree is drawn, measured and edited: the label of a node with its picture
// (chosen here, from the tree's image list, not served by the model) and check box, and its
// label editor, which opens only when BeforeLabelEdit allows it.
#pragma once

#include <QIcon>
#include <QStyledItemDelegate>

namespace desk {
class Node;
}

namespace desk::qtb {

class QtTree;

class TreeDelegate : public QStyledItemDelegate {
 public:
  explicit TreeDelegate(QtTree* tree, QObject* parent) : QStyledItemDelegate(parent), tree_(tree) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  // Every row is as tall as a row with a picture, so that the view can lay out uniform rows.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

 private:
  friend class QtTree;
  // The picture of a node's row at the view's icon size; null when it has none.
  QIcon IconFor(const Node& node) const;
  QtTree* tree_;
};

}  // namespace desk::qtb
