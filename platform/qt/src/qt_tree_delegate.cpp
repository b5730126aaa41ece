#include "qt_tree_delegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <algorithm>

#include "desk/tree_selection.h"
#include "qt_image_list.h"
#include "qt_node_icon.h"
#include "qt_tree_model.h"
#include "qt_tree_widget.h"
#include "qt_util.h"

namespace desk::qtb {

namespace {

// The image list's entry a node's Image or SelectedImage names (key or position), or null.
Ref<ListImage> EntryFor(const TreeView& tree, const Variant& image) {
  if (image.IsEmpty()) return nullptr;
  auto list = RefCast<desk::ImageList>(tree.ImageList());
  if (!list) return nullptr;
  if (image.ValueType() == VarType::String) return list->Images().FindEntry(image.RawString());
  const int32_t i = image.ValueType() == VarType::Long ? image.RawLong() : 0;
  if (i < 1 || i > list->Images().Count()) return nullptr;
  return list->Images().At(static_cast<size_t>(i - 1));
}

// Styles 1, 3, 5 and 7 show the nodes' pictures.
bool ShowsPictures(const TreeView& tree) { return (tree.Style() & 1) != 0; }

}  // namespace

TreeDelegate::TreeDelegate(TreeView* tree, LabelEditor* editor, TreeWidget* view)
    : QStyledItemDelegate(view), tree_(tree), editor_(editor), view_(view) {}

QIcon TreeDelegate::IconFor(const Node& node) const {
  // Drawn from the list's pixels at the size shown (ListImage::PixelsAt), never from the
  // pictures at the list's own size, which may be a camera photo's.
  auto list = RefCast<desk::ImageList>(tree_->ImageList());
  // The list's pictures keep their shape inside the icon box, which caps each side alone.
  QSize size = view_->iconSize();
  if (list && list->Images().Count() > 0) {
    const QSize own(list->Images().ImageWidth(), list->Images().ImageHeight());
    if (own.width() > size.width() || own.height() > size.height()) size = own.scaled(size, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
  }
  auto face = [&](Ref<ListImage> entry) -> NodeIconEngine::Face {
    if (!entry) return {};
    QPixmap pixmap = ListPixmap(*entry, size);
    return {std::move(entry), std::move(pixmap)};
  };
  NodeIconEngine::Face normal = face(EntryFor(*tree_, node.Image()));
  NodeIconEngine::Face selected = node.SelectedImage().IsEmpty() ? normal : face(EntryFor(*tree_, node.SelectedImage()));
  if (normal.pixmap.isNull() && selected.pixmap.isNull()) return QIcon();
  return QIcon(new NodeIconEngine(std::move(normal), std::move(selected)));
}

void TreeDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  if (!tree_) return;
  if (const Node* node = TreeModel::NodeOf(index); node && ShowsPictures(*tree_)) {
    // As Qt's own delegate takes a decoration from the model: sized to the icon, no larger
    // than the view's icon box.
    option->icon = IconFor(*node);
    if (!option->icon.isNull()) {
      option->features |= QStyleOptionViewItem::HasDecoration;
      const QIcon::Mode mode = !(option->state & QStyle::State_Enabled) ? QIcon::Disabled
                               : (option->state & QStyle::State_Selected) ? QIcon::Selected
                                                                          : QIcon::Normal;
      const QIcon::State state = option->state & QStyle::State_Open ? QIcon::On : QIcon::Off;
      option->decorationSize = option->decorationSize.boundedTo(option->icon.actualSize(option->decorationSize, mode, state));
    }
  }
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
    if (w < opt.rect.width())
      opt.rect = QStyle::visualRect(opt.direction, option.rect, QRect(option.rect.topLeft(), QSize(w, option.rect.height())));
  }
  QStyledItemDelegate::paint(painter, opt, index);
  if (tree_ && view_->DropTarget() == index) {
    // The drop indicator: a frame around the label the drag is over.
    painter->save();
    painter->setPen(QPen(opt.palette.color(QPalette::Highlight), 1));
    painter->drawRect(opt.rect.adjusted(0, 0, -1, -1));
    painter->restore();
  }
}

QSize TreeDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  if (!tree_ || !ShowsPictures(*tree_)) return size;
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
  bool open = editor_->OpeningEditor();
  if (!open) Shielded("BeforeLabelEdit", [&] { open = editor_->BeginUserEdit(*node); });
  if (!open) return nullptr;
  return QStyledItemDelegate::createEditor(parent, option, index);
}

void TreeDelegate::setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex&) const {
  auto* line = qobject_cast<QLineEdit*>(editor);
  if (tree_ && line) Shielded("AfterLabelEdit", [&] { editor_->CommitLabelEdit(line->text()); });
}

}  // namespace desk::qtb
