// How a row of the tree is drawn, measured and edited: the label of a node with its picture
// and check box, and its label editor, which opens only when BeforeLabelEdit allows it.
#pragma once

#include <QStyledItemDelegate>

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
  QtTree* tree_;
};

}  // namespace desk::qtb
