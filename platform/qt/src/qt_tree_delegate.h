// How a row of the tree is drawn, measured and edited: the label of a node with its picture
// (chosen here, from the tree's image list, not served by the model) and check box, and its
// label editor, which opens only when BeforeLabelEdit allows it.
#pragma once

#include <QIcon>
#include <QStyledItemDelegate>

namespace desk {
class Node;
class TreeView;
}

namespace desk::qtb {

class TreeWidget;

// What the delegate asks of the control besides its tree: the label editor's way in and out,
// which raise the label-edit events.
class LabelEditor {
 public:
  // StartLabelEdit is opening the editor itself, BeforeLabelEdit raised already.
  virtual bool OpeningEditor() const = 0;
  // The label editor is about to open on `node` (user trigger): raises BeforeLabelEdit;
  // false when cancelled.
  virtual bool BeginUserEdit(Node& node) = 0;
  virtual void CommitLabelEdit(const QString& text) = 0;

 protected:
  ~LabelEditor() = default;
};

class TreeDelegate : public QStyledItemDelegate {
 public:
  TreeDelegate(TreeView* tree, LabelEditor* editor, TreeWidget* view);
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
  TreeView* tree_;  // null once the tree is gone
  LabelEditor* editor_;
  TreeWidget* view_;
};

}  // namespace desk::qtb
