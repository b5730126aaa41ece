#include "qt_tree_delegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <algorithm>

#include "desk/tree_selection.h"
#include "qt_tree.h"
#include "qt_tree_model.h"
#include "qt_util.h"

namespace desk::qtb {

void TreeDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  if (!tree_) return;
  // Many nodes selected: the rows drawn as selected are the tree's, not Qt's one row.
  if (Node* node = TreeModel::NodeOf(index); node && tree_->Selection().GetMode() == TreeSelection::Mode::Extended)
    option->state.setFlag(QStyle::State_Selected, tree_->Selection().Contains(*node));
  if (tree_->HotTracking() && (option->state & QStyle::State_MouseOver)) {
    option->font.setUnderline(true);
    option->palette.setColor(QPalette::Text, option->palette.color(QPalette::Link));
  }
}

void TreeDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem opt(option);
  if (tree_ && !tree_->FullRowSelect()) {
    // The selection covers the label (check box, picture and text), not the rest of the row.
    // It starts next to the branch area: at the right in a right-to-left layout.
    const int w = sizeHint(option, index).width() + 4;
    if (w < opt.rect.width()) {
      if (opt.direction == Qt::RightToLeft) opt.rect.setLeft(opt.rect.right() + 1 - w);
      else opt.rect.setWidth(w);
    }
  }
  QStyledItemDelegate::paint(painter, opt, index);
  if (tree_ && tree_->Widget() && tree_->Widget()->DropTarget() == index) {
    // The drop indicator: a frame around the label the drag is over.
    painter->save();
    painter->setPen(QPen(opt.palette.color(QPalette::Highlight), 1));
    painter->drawRect(opt.rect.adjusted(0, 0, -1, -1));
    painter->restore();
  }
}

QSize TreeDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  if (!tree_ || !tree_->ShowsPictures()) return size;
  QStyleOptionViewItem opt(option);
  initStyleOption(&opt, index);
  if (opt.features & QStyleOptionViewItem::HasDecoration) return size;
  opt.features |= QStyleOptionViewItem::HasDecoration;
  if (auto* view = qobject_cast<const QAbstractItemView*>(opt.widget)) opt.decorationSize = view->iconSize();
  const QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
  size.setHeight(std::max(size.height(), style->sizeFromContents(QStyle::CT_ItemViewItem, &opt, QSize(), opt.widget).height()));
  return size;
}

QWidget* TreeDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
  Node* node = TreeModel::NodeOf(index);
  if (!tree_ || !node) return nullptr;
  bool open = tree_->OpeningEditor();
  if (!open) Shielded("BeforeLabelEdit", [&] { open = tree_->BeginUserEdit(*node); });
  if (!open) return nullptr;
  return QStyledItemDelegate::createEditor(parent, option, index);
}

void TreeDelegate::setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex&) const {
  auto* line = qobject_cast<QLineEdit*>(editor);
  if (tree_ && line) Shielded("AfterLabelEdit", [&] { tree_->CommitLabelEdit(line->text()); });
}

}  // namespace desk::qtb
