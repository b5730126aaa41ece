// The view's own layout of the rows shown (see qt_tree_widget.h): geometry, painting, the
// cursor keys, the expanders and type-ahead, as QTreeView does them for one column of rows of
// one height, without a list of every row.
#include <QApplication>
#include <QHeaderView>
#include <QHoverEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOption>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>

#include "qt_tree.h"
#include "qt_tree_model.h"
#include "qt_tree_widget.h"

namespace desk::qtb {

namespace {
int ClampInt(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

std::atomic<uint64_t> listings{0};
}  // namespace

bool TreeWidget::ShowsExpander(const QModelIndex& index) const {
  if (tree_ && model() == static_cast<QAbstractItemModel*>(&tree_->Model())) return tree_->Model().ShowsExpander(index);
  return model()->hasChildren(index);
}

bool TreeWidget::RowsIndexed() const {
  return tree_ && model() == static_cast<QAbstractItemModel*>(&tree_->Model()) && tree_->Model().RowsKnown();
}

uint64_t TreeWidget::Listings() { return listings.load(std::memory_order_relaxed); }

const std::vector<QModelIndex>& TreeWidget::ListedRows() const {
  if (listedAt_ == rowsGeneration_) return listed_;
  listedAt_ = rowsGeneration_;
  listed_.clear();
  listings.fetch_add(1, std::memory_order_relaxed);
  const QAbstractItemModel* m = model();
  if (!m) return listed_;
  std::vector<QModelIndex> stack;
  for (int r = m->rowCount(rootIndex()) - 1; r >= 0; --r) stack.push_back(m->index(r, 0, rootIndex()));
  while (!stack.empty()) {
    const QModelIndex i = stack.back();
    stack.pop_back();
    listed_.push_back(i);
    if (isExpanded(i))
      for (int r = m->rowCount(i) - 1; r >= 0; --r) stack.push_back(m->index(r, 0, i));
  }
  return listed_;
}

int64_t TreeWidget::RowCount() const {
  if (RowsIndexed()) return tree_->Model().ShownRows();
  return static_cast<int64_t>(ListedRows().size());
}

QModelIndex TreeWidget::IndexAtRow(int64_t row) const {
  if (row < 0) return QModelIndex();
  if (RowsIndexed()) return tree_->Model().IndexAtRow(row);
  const std::vector<QModelIndex>& rows = ListedRows();
  return row < static_cast<int64_t>(rows.size()) ? rows[static_cast<size_t>(row)] : QModelIndex();
}

int64_t TreeWidget::RowOfIndex(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != model()) return -1;
  if (RowsIndexed()) {
    const Node* n = TreeModel::NodeOf(index);
    // The view opens what the tree shows open, and closes a node open on demand until its
    // children come: then it has no rows under it either way.
    return n ? tree_->Model().RowOfNode(*n) : -1;
  }
  const std::vector<QModelIndex>& rows = ListedRows();
  const QModelIndex first = index.siblingAtColumn(0);
  const auto at = std::find(rows.begin(), rows.end(), first);
  return at == rows.end() ? -1 : at - rows.begin();
}

int TreeWidget::Depth(const QModelIndex& index) const {
  int depth = 0;
  if (tree_ && model() == &tree_->Model()) {
    const Node* n = TreeModel::NodeOf(index);
    if (n && n->InTree()) {
      for (n = n->Parent(); n; n = n->Parent()) ++depth;
      return depth;
    }
  }
  for (QModelIndex p = index.parent(); p.isValid() && p != rootIndex(); p = p.parent()) ++depth;
  return depth;
}

int TreeWidget::BranchWidth(const QModelIndex& index) const {
  return indentation() * (Depth(index) + (rootIsDecorated() ? 1 : 0));
}

int TreeWidget::verticalOffset() const {
  const int v = verticalScrollBar()->value();
  return verticalScrollMode() == ScrollPerItem ? ClampInt(int64_t{v} * rowHeight_) : v;
}

int TreeWidget::horizontalOffset() const { return horizontalScrollBar()->value(); }

int TreeWidget::RowTop(int64_t row) const { return ClampInt(row * rowHeight_ - verticalOffset()); }

int64_t TreeWidget::RowAtY(int y) const {
  if (rowHeight_ <= 0) return -1;
  const int64_t row = FloorDiv(int64_t{y} + verticalOffset(), rowHeight_);
  return row < 0 || row >= RowCount() ? -1 : row;
}

int TreeWidget::RowsInView() const { return rowHeight_ > 0 ? std::max(1, viewport()->height() / rowHeight_) : 1; }

void TreeWidget::doItemsLayout() {
  listedAt_ = 0;
  // Rows all have one height (the delegate makes a row without a picture as tall as one with).
  const QModelIndex first = IndexAtRow(0);
  const int oldHeight = rowHeight_, oldTop = verticalScrollBar()->value();
  if (first.isValid()) rowHeight_ = std::max(1, indexRowSizeHint(first));
  const bool shifted = shift_.at != 0 && shift_.at == rowsGeneration_ && laidOutAt_ + 1 == rowsGeneration_;
  laidOutAt_ = rowsGeneration_;
  if (!shifted) return QAbstractItemView::doItemsLayout();  // the scroll bars, then a repaint
  updateGeometries();
  if (!ShiftRows(oldHeight, oldTop)) viewport()->update();
  shift_.at = 0;
}

void TreeWidget::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
  shift_.at = 0;
  // Only a removal the last layout saw everything before.
  int64_t row = -1;
  int32_t rows = 0;
  if (tree_ && model() == &tree_->Model() && laidOutAt_ == rowsGeneration_ && tree_->Model().RemovingRows(row, rows)) {
    shift_.at = rowsGeneration_ + 1;  // the removal counts once it is in
    shift_.row = row;
    shift_.rows = rows;
  }
  QTreeView::rowsAboutToBeRemoved(parent, start, end);
}

bool TreeWidget::ShiftRows(int oldHeight, int oldTop) {
  // Inside a paint the moved pixels would not be drawn again where they were.
  if (viewport()->testAttribute(Qt::WA_WState_InPaintEvent)) return false;
  if (rowHeight_ != oldHeight || verticalScrollBar()->value() != oldTop) return false;
  if (shift_.row < 0 || shift_.rows == 0) return true;  // nothing shown moved
  const int64_t y = int64_t{shift_.row} * rowHeight_ - verticalOffset();
  const int height = viewport()->height(), width = viewport()->width();
  if (y >= height) return true;  // below the rows in view
  // Below the first row removed, each row shows what was the rows' height further down.
  const int from = static_cast<int>(std::max<int64_t>(0, y));
  const int64_t by = shift_.rows * rowHeight_;
  if (by >= height - from) return false;
  viewport()->scroll(0, static_cast<int>(-by), QRect(0, from, width, height - from));
  return true;
}

void TreeWidget::updateGeometries() {
  // A header a host shows stands above the rows, as in QTreeView.
  QHeaderView* head = header();
  const int headerHeight =
      head->isHidden() ? 0 : std::min(head->maximumHeight(), std::max(head->minimumHeight(), head->sizeHint().height()));
  if (viewportMargins().top() != headerHeight) setViewportMargins(0, headerHeight, 0, 0);
  if (headerHeight > 0) {
    const QRect vg = viewport()->geometry();
    head->setGeometry(vg.left(), vg.top() - headerHeight, vg.width(), headerHeight);
  }
  const int64_t rows = RowCount();
  QScrollBar* v = verticalScrollBar();
  if (verticalScrollMode() == ScrollPerItem) {
    const int inView = RowsInView();
    v->setRange(0, ClampInt(std::max<int64_t>(0, rows - inView)));
    v->setPageStep(inView);
    v->setSingleStep(1);
  } else {
    const int height = viewport()->height();
    v->setRange(0, ClampInt(std::max<int64_t>(0, rows * rowHeight_ - height)));
    v->setPageStep(height);
    v->setSingleStep(std::max(rowHeight_, 2));
  }
  // One column as wide as the viewport: nothing to scroll sideways.
  horizontalScrollBar()->setRange(0, 0);
  QAbstractItemView::updateGeometries();
}

void TreeWidget::rowsInserted(const QModelIndex& parent, int start, int end) {
  QAbstractItemView::rowsInserted(parent, start, end);
  scheduleDelayedItemsLayout();
}

void TreeWidget::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) {
  QTreeView::dataChanged(topLeft, bottomRight, roles);
  // The base draws the label's part again; a row's expander (a first child come unannounced)
  // lies in its branch area.
  if (topLeft != bottomRight || !topLeft.isValid()) return;
  if (const int64_t row = RowOfIndex(topLeft); row >= 0)
    viewport()->update(QRect(0, RowTop(row), viewport()->width(), rowHeight_));
}

void TreeWidget::scrollContentsBy(int dx, int dy) {
  const int64_t pixels = verticalScrollMode() == ScrollPerItem ? int64_t{dy} * rowHeight_ : dy;
  if (std::abs(pixels) >= viewport()->height()) {
    viewport()->update();
    if (dx) QAbstractItemView::scrollContentsBy(dx, 0);
    return;
  }
  QAbstractItemView::scrollContentsBy(dx, static_cast<int>(pixels));
}

QRect TreeWidget::visualRect(const QModelIndex& index) const {
  if (!index.isValid() || index.column() != 0) return QRect();
  const_cast<TreeWidget*>(this)->executeDelayedItemsLayout();
  const int64_t row = RowOfIndex(index);
  if (row < 0) return QRect();
  const int branch = BranchWidth(index);
  // The label's part of the row: after the branch area, which right to left is on the right.
  const int x = (isRightToLeft() ? 0 : branch) - horizontalOffset();
  return QRect(x, RowTop(row), viewport()->width() - branch, rowHeight_);
}

QModelIndex TreeWidget::indexAt(const QPoint& p) const {
  const_cast<TreeWidget*>(this)->executeDelayedItemsLayout();
  if (p.x() < 0 || p.x() >= viewport()->width()) return QModelIndex();
  return IndexAtRow(RowAtY(p.y()));
}

void TreeWidget::scrollTo(const QModelIndex& index, ScrollHint hint) {
  if (!index.isValid() || index.model() != model()) return;
  executeDelayedItemsLayout();
  // As QTreeView: the row's closed ancestors open first.
  if (state() == NoState && itemsExpandable()) {
    bool opened = false;
    for (QModelIndex p = index.parent(); p.isValid() && p != rootIndex(); p = p.parent())
      if (!isExpanded(p)) {
        expand(p);
        opened = true;
      }
    if (opened) doItemsLayout();
  }
  const int64_t row = RowOfIndex(index);
  if (row < 0 || rowHeight_ <= 0) return;
  QScrollBar* v = verticalScrollBar();
  const int64_t h = rowHeight_, height = viewport()->height();
  const bool perItem = verticalScrollMode() == ScrollPerItem;
  // In rows when scrolling by rows, else in pixels.
  const int64_t at = perItem ? row : row * h, size = perItem ? 1 : h, page = perItem ? RowsInView() : height;
  int64_t top = v->value();
  switch (hint) {
    case EnsureVisible:
      if (at < top) top = at;
      else if (at + size > top + page) top = at + size - page;
      break;
    case PositionAtTop: top = at; break;
    case PositionAtBottom: top = at + size - page; break;
    case PositionAtCenter: top = at - (page - size) / 2; break;
  }
  v->setValue(ClampInt(std::max<int64_t>(0, top)));
}

QModelIndex TreeWidget::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
  executeDelayedItemsLayout();
  const int64_t rows = RowCount();
  const QModelIndex current = currentIndex();
  if (!current.isValid()) return IndexAtRow(0);
  const int64_t row = std::max<int64_t>(0, RowOfIndex(current));
  if (isRightToLeft()) {
    if (action == MoveRight) action = MoveLeft;
    else if (action == MoveLeft) action = MoveRight;
  }
  const int64_t h = std::max(rowHeight_, 1), height = viewport()->height();
  switch (action) {
    case MoveNext:
    case MoveDown: return IndexAtRow(row + 1 < rows ? row + 1 : row);
    case MovePrevious:
    case MoveUp: return IndexAtRow(row > 0 ? row - 1 : row);
    // A page of whole rows up, a page of rows begun down, as QTreeView counts them.
    case MovePageUp: return IndexAtRow(std::max<int64_t>(0, row - (height + h - 1) / h));
    case MovePageDown: return IndexAtRow(std::min(rows - 1, row + height / h));
    case MoveHome: return IndexAtRow(0);
    case MoveEnd: return IndexAtRow(rows - 1);
    case MoveLeft:
      if (isExpanded(current) && itemsExpandable() && horizontalScrollBar()->value() == horizontalScrollBar()->minimum()) {
        collapse(current);
        movedView_ = true;
      } else if (style()->styleHint(QStyle::SH_ItemView_ArrowKeysNavigateIntoChildren, nullptr, this)) {
        const QModelIndex parent = current.parent();
        if (parent.isValid() && parent != rootIndex()) return parent;
      }
      break;
    case MoveRight:
      if (!isExpanded(current) && itemsExpandable() && model()->hasChildren(current)) {
        expand(current);
        movedView_ = true;
      } else if (style()->styleHint(QStyle::SH_ItemView_ArrowKeysNavigateIntoChildren, nullptr, this)) {
        const QModelIndex below = IndexAtRow(row + 1);
        if (below.parent() == current) return below;
      }
      break;
  }
  updateGeometries();
  viewport()->update();
  return current;
}

void TreeWidget::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
  if (!selectionModel() || rect.isNull()) return;
  executeDelayedItemsLayout();
  const QRect r = rect.normalized();
  const int x = isRightToLeft() ? r.right() : r.left();
  int64_t top = RowAtY(r.top()), bottom = RowAtY(r.bottom());
  if (top < 0 && bottom < 0) {
    // Nowhere on the rows: clearing still clears, as in QTreeView, unless the rectangle spans them.
    const int64_t rows = RowCount();
    const bool spans = rows > 0 && r.top() <= RowTop(0) && r.bottom() >= RowTop(rows - 1);
    if (!spans || x < 0 || x >= viewport()->width()) {
      if (command & QItemSelectionModel::Clear) selectionModel()->clear();
      return;
    }
  }
  if (top < 0) top = 0;
  if (bottom < 0) bottom = RowCount() - 1;
  // Runs of rows under one parent become one range each.
  QItemSelection selection;
  QModelIndex first, last;
  for (int64_t row = top; row <= bottom; ++row) {
    const QModelIndex i = IndexAtRow(row);
    if (!i.isValid()) continue;
    if (last.isValid() && i.parent() == last.parent() && i.row() == last.row() + 1) {
      last = i;
      continue;
    }
    if (first.isValid()) selection.append(QItemSelectionRange(first, last));
    first = last = i;
  }
  if (first.isValid()) selection.append(QItemSelectionRange(first, last));
  selectionModel()->select(selection, command);
}

QRegion TreeWidget::visualRegionForSelection(const QItemSelection& selection) const {
  QRegion region;
  const QRect view = viewport()->rect();
  for (const QItemSelectionRange& range : selection) {
    if (!range.isValid()) continue;
    int64_t a = RowOfIndex(range.topLeft()), b = RowOfIndex(range.bottomRight());
    if (a < 0) a = b;
    if (b < 0) b = a;
    if (a < 0) continue;
    if (a > b) std::swap(a, b);
    const int64_t y = int64_t{RowTop(a)}, bottom = y + (b - a + 1) * rowHeight_;
    if (bottom <= view.top() || y > view.bottom()) continue;
    const int top = ClampInt(std::max<int64_t>(y, view.top())), end = ClampInt(std::min<int64_t>(bottom, view.bottom() + 1));
    region += QRect(view.left(), top, view.width(), end - top);
  }
  return region;
}

void TreeWidget::paintEvent(QPaintEvent* e) {
  executeDelayedItemsLayout();
  QPainter painter(viewport());
  const int64_t rows = RowCount();
  if (rowHeight_ <= 0 || rows == 0 || !itemDelegate()) return;
  const QRect area = e->rect();
  const int64_t off = verticalOffset();
  const int64_t first = std::max<int64_t>(0, FloorDiv(area.top() + off, rowHeight_));
  const int64_t last = std::min(rows - 1, FloorDiv(area.bottom() + off, rowHeight_));

  QStyleOptionViewItem base;
  initViewItemOption(&base);
  const QStyle::State baseState = base.state;
  const bool reverse = isRightToLeft();
  const int width = viewport()->width(), position = -horizontalOffset(), h = rowHeight_;
  const QModelIndex current = currentIndex();
  const bool focus = hasFocus() || viewport()->hasFocus();
  QItemSelectionModel* sel = selectionModel();
  const QAbstractItemModel* m = model();
  for (int64_t row = first; row <= last; ++row) {
    const QModelIndex index = IndexAtRow(row);
    if (!index.isValid()) continue;
    QStyleOptionViewItem opt = base;
    const int y = RowTop(row);
    const bool open = isExpanded(index), children = ShowsExpander(index);
    opt.state = baseState | (open ? QStyle::State_Open : QStyle::State_None) |
                (children ? QStyle::State_Children : QStyle::State_None) |
                (index.row() + 1 < m->rowCount(index.parent()) ? QStyle::State_Sibling : QStyle::State_None);
    opt.viewItemPosition = QStyleOptionViewItem::OnlyOne;
    if (sel && sel->isSelected(index)) opt.state |= QStyle::State_Selected;
    if (focus && current == index) opt.state |= QStyle::State_HasFocus;
    opt.state.setFlag(QStyle::State_MouseOver, index == hover_ && (opt.showDecorationSelected || !hoverOnExpander_));
    if (opt.state & QStyle::State_Enabled) {
      QPalette::ColorGroup group = QPalette::Inactive;
      if (!(m->flags(index) & Qt::ItemIsEnabled)) {
        opt.state &= ~QStyle::State_Enabled;
        group = QPalette::Disabled;
      } else if (opt.state & QStyle::State_Active) {
        group = QPalette::Active;
      }
      opt.palette.setCurrentColorGroup(group);
    }

    opt.features.setFlag(QStyleOptionViewItem::Alternate, alternatingRowColors() && (row & 1));
    // The branch area's background (selected with the whole row when the style says so),
    // then the label's, the lines and boxes, and the label.
    const int indent = BranchWidth(index);
    const QRect branches(reverse ? position + width - indent : position, y, indent, h);
    const bool clip = branches.width() > width;
    if (clip) {
      painter.save();
      painter.setClipRect(QRect(position, y, width, h));
    }
    const bool showSelected = opt.showDecorationSelected;
    opt.showDecorationSelected = style()->styleHint(QStyle::SH_ItemView_ShowDecorationSelected, &opt, this);
    opt.rect = branches;
    if (opt.rect.width() > 0) style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &opt, &painter, this);
    opt.showDecorationSelected = showSelected;
    const QStyle::State state = opt.state;
    opt.state &= ~QStyle::State_Selected;
    opt.rect.setRect(reverse ? position : indent + position, y, width - indent, h);
    style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &opt, &painter, this);
    opt.state = state;
    if (indentation() != 0) drawBranches(&painter, branches, index);
    if (clip) painter.restore();
    itemDelegateForIndex(index)->paint(&painter, opt, index);
  }
}

bool TreeWidget::viewportEvent(QEvent* e) {
  switch (e->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
    case QEvent::HoverLeave: {
      const QPoint p = static_cast<QHoverEvent*>(e)->position().toPoint();
      const bool leaving = e->type() == QEvent::HoverLeave;
      const QModelIndex at = leaving ? QModelIndex() : indexAt(p);
      const bool onExpander = !leaving && ExpanderAt(p).isValid();
      if (at != hover_ || onExpander != hoverOnExpander_) {
        // The whole row, whose branch area shows the hover too.
        for (const QModelIndex& i : {QModelIndex(hover_), at})
          if (const QRect r = visualRect(i); r.isValid()) viewport()->update(QRect(0, r.top(), viewport()->width(), r.height()));
      }
      hover_ = at;
      hoverOnExpander_ = onExpander;
      break;
    }
    default: break;
  }
  return QTreeView::viewportEvent(e);
}

QModelIndex TreeWidget::ExpanderAt(const QPoint& p) const {
  const QModelIndex i = indexAt(p);
  if (!i.isValid() || indentation() <= 0) return QModelIndex();
  if (!rootIsDecorated() && !i.parent().isValid()) return QModelIndex();
  if (!model()->hasChildren(i)) return QModelIndex();
  const int branch = BranchWidth(i), width = viewport()->width(), position = -horizontalOffset();
  const int y = RowTop(RowOfIndex(i));
  QStyleOption opt;
  opt.initFrom(this);
  opt.rect = isRightToLeft() ? QRect(position + width - branch, y, indentation(), rowHeight_)
                             : QRect(position + branch - indentation(), y, indentation(), rowHeight_);
  return style()->subElementRect(QStyle::SE_TreeViewDisclosureItem, &opt, this).contains(p) ? i : QModelIndex();
}

bool TreeWidget::ToggleAt(const QPoint& p) {
  if ((state() != NoState && state() != EditingState) || !viewport()->rect().contains(p)) return true;
  const QModelIndex i = ExpanderAt(p);
  if (!i.isValid() || !itemsExpandable()) return false;
  setExpanded(i, !isExpanded(i));
  return true;
}

void TreeWidget::PressOnView(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  bool taken = false;
  if (style()->styleHint(QStyle::SH_ListViewExpand_SelectMouseType, nullptr, this) == QEvent::MouseButtonPress)
    taken = ToggleAt(p);
  if (taken || ExpanderAt(p).isValid()) {
    pressed_ = QModelIndex();
    return;
  }
  pressed_ = indexAt(p);
  QAbstractItemView::mousePressEvent(e);
}

void TreeWidget::ReleaseOnView(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  if (!ExpanderAt(p).isValid()) return QAbstractItemView::mouseReleaseEvent(e);
  if (state() == DragSelectingState || state() == DraggingState) setState(NoState);
  if (style()->styleHint(QStyle::SH_ListViewExpand_SelectMouseType, nullptr, this) == QEvent::MouseButtonRelease)
    ToggleAt(p);
}

void TreeWidget::MoveOnView(QMouseEvent* e) {
  if (!ExpanderAt(e->position().toPoint()).isValid()) QAbstractItemView::mouseMoveEvent(e);
}

void TreeWidget::DoubleClickOnView(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  if (state() != NoState || !viewport()->rect().contains(p)) return;
  if (ExpanderAt(p).isValid() || RowAtY(p.y()) < 0) return;
  const QPersistentModelIndex at = indexAt(p);
  const bool pressedHere = at.isValid() && pressed_ == at;
  // Raises doubleClicked, may open the editor, and keeps the release from counting as a click.
  QAbstractItemView::mouseDoubleClickEvent(e);
  if (!pressedHere || !at.isValid() || state() != NoState) return;
  if (itemsExpandable() && expandsOnDoubleClick() && model()->hasChildren(at)) setExpanded(at, !isExpanded(at));
}

void TreeWidget::SearchRows(const QString& search) {
  const QAbstractItemModel* m = model();
  if (!m || m->rowCount(rootIndex()) == 0) return;
  executeDelayedItemsLayout();
  const qint64 now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now().time_since_epoch()).count();
  const bool goOn = !search.isEmpty() && typedAt_ >= 0 && now - typedAt_ <= QApplication::keyboardInputInterval();
  typedAt_ = now;
  bool skip = false;
  if (goOn) {
    typed_ += search;
  } else {
    typed_ = search;
    skip = currentIndex().isValid();
  }
  // "aaa" steps through the rows that start with "a".
  const bool sameKey = typed_.size() > 1 && typed_.count(typed_.back()) == typed_.size();
  if (sameKey) skip = true;
  const QString wanted = sameKey ? typed_.left(1) : typed_;
  if (wanted.isEmpty()) return;
  const int64_t rows = RowCount();
  int64_t start = 0;
  if (currentIndex().isValid()) {
    start = RowOfIndex(currentIndex());
    if (start < 0) return;
  }
  if (skip) start = start + 1 < rows ? start + 1 : 0;
  const bool indexed = RowsIndexed();
  for (int64_t k = 0; k < rows; ++k) {
    const int64_t row = (start + k) % rows;
    const QModelIndex i = IndexAtRow(row);
    const Node* n = indexed ? TreeModel::NodeOf(i) : nullptr;
    const QString text = n ? QString::fromStdU16String(n->Text()) : i.data(Qt::DisplayRole).toString();
    if (text.startsWith(wanted, Qt::CaseInsensitive)) {
      setCurrentIndex(i);
      return;
    }
  }
}

}  // namespace desk::qtb
