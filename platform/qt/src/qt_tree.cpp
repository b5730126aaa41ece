#include "qt_tree.h"

#include <QApplication>
#include <QDrag>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QProxyStyle>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "desk/text.h"
#include "qt_dnd.h"
#include "tree/tree_rows.h"

namespace desk::qtb {

namespace {

// Drop effects of the OLE events: none 0, copy 1, move 2.
int32_t EffectOf(Qt::DropAction a) {
  switch (a) {
    case Qt::CopyAction: return 1;
    case Qt::MoveAction:
    case Qt::TargetMoveAction: return 2;
    default: return 0;
  }
}

Qt::DropActions ActionsOf(int32_t effects) {
  Qt::DropActions a;
  if (effects & 1) a |= Qt::CopyAction;
  if (effects & 2) a |= Qt::MoveAction;
  return a;
}

Qt::DropAction ActionOf(int32_t effect) {
  if (effect & 2) return Qt::MoveAction;
  if (effect & 1) return Qt::CopyAction;
  return Qt::IgnoreAction;
}

int32_t EffectsOf(Qt::DropActions a) {
  return (a & Qt::CopyAction ? 1 : 0) | (a & Qt::MoveAction ? 2 : 0);
}

// The largest picture size the tree lays its rows out for.
constexpr int kMaxIconSide = 64;

Qt::CursorShape ShapeOf(int32_t pointer) {
  switch (pointer) {
    case 1: return Qt::ArrowCursor;
    case 2: return Qt::CrossCursor;
    case 3: return Qt::IBeamCursor;
    case 5:
    case 15: return Qt::SizeAllCursor;
    case 6: return Qt::SizeBDiagCursor;
    case 7: return Qt::SizeVerCursor;
    case 8: return Qt::SizeFDiagCursor;
    case 9: return Qt::SizeHorCursor;
    case 10: return Qt::UpArrowCursor;
    case 11: return Qt::WaitCursor;
    case 12: return Qt::ForbiddenCursor;
    case 13: return Qt::BusyCursor;
    case 14: return Qt::WhatsThisCursor;
    default: return Qt::ArrowCursor;  // 4, the icon pointer, has no Qt shape
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Image list

// ---------------------------------------------------------------------------------------------
// Model

detail::RowIndex& TreeModel::Rows() const { return detail::RowIndex::Of(*tree_); }

int32_t TreeModel::PlaceOf(const Node& n) const {
  int32_t place = Rows().PlaceOf(n);
  if (adding_.node && &n != adding_.node && n.Parent() == adding_.parent && place > adding_.place) --place;
  if (moving_.node && !n.Parent()) {
    if (&n == moving_.node) return moving_.from;
    // Among the other roots the order is the same before and after the move.
    const int32_t others = place - (place > moving_.to ? 1 : 0);
    place = others + (others >= moving_.from ? 1 : 0);
  }
  return place;
}

QModelIndex TreeModel::IndexOf(const Node* n) const {
  if (!n || !n->InTree() || clearing_) return QModelIndex();
  return createIndex(PlaceOf(*n), 0, const_cast<Node*>(n));
}

QModelIndex TreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column != 0 || (parent.isValid() && parent.column() != 0) || row >= rowCount(parent))
    return QModelIndex();
  const Node* p = NodeOf(parent);
  // Display order is sibling order except for the roots when sorted.
  if (!announcing_ && last_.row >= 0 && last_.row + 1 == row && last_.parent == p && (p || !tree_->Sorted()) &&
      last_.node->InTree()) {
    if (Node* next = last_.node->Next()) {
      last_ = {p, row, next};
      return createIndex(row, 0, next);
    }
  }
  int32_t place = row;
  if (adding_.node && adding_.parent == p && place >= adding_.place) ++place;
  if (moving_.node && !p) {
    if (row == moving_.from) return createIndex(row, 0, const_cast<Node*>(moving_.node));
    const int32_t others = row - (row > moving_.from ? 1 : 0);
    place = others + (others >= moving_.to ? 1 : 0);
  }
  Node* n = Rows().ChildAt(p, place);
  if (!n) return QModelIndex();
  if (!announcing_) last_ = {p, row, n};
  return createIndex(row, 0, n);
}

QModelIndex TreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid() || clearing_) return QModelIndex();
  const Node* n = NodeOf(child);
  return n->InTree() ? IndexOf(n->Parent()) : QModelIndex();
}

int TreeModel::rowCount(const QModelIndex& parent) const {
  if (clearing_ || (parent.isValid() && parent.column() != 0)) return 0;
  const Node* p = NodeOf(parent);
  if (p && !p->InTree()) return 0;
  int32_t count = Rows().Count(p);
  if (adding_.node && adding_.parent == p) --count;
  return count;
}

int TreeModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() && parent.column() != 0 ? 0 : 1;
}

bool TreeModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

QVariant TreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || clearing_) return QVariant();
  const Node& n = *NodeOf(index);
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: return Q(n.Text());
    case Qt::DecorationRole: {
      if (!tree_->ShowsPictures()) return QVariant();
      QIcon icon = tree_->IconFor(n);
      return icon.isNull() ? QVariant() : QVariant(icon);
    }
    case Qt::CheckStateRole:
      if (!tree_->Checkboxes()) return QVariant();
      return n.Checked() ? Qt::Checked : Qt::Unchecked;
    default: return QVariant();
  }
}

bool TreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  // The text is the node's; edits reach it through the label-edit events only.
  if (!index.isValid() || role != Qt::CheckStateRole || tree_->Syncing()) return false;
  Node& n = *NodeOf(index);
  Shielded("NodeCheck", [&] { tree_->OnUserCheck(n, value.toInt() == Qt::Checked); });
  return true;
}

Qt::ItemFlags TreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable | Qt::ItemIsUserCheckable |
         Qt::ItemIsDragEnabled;
}

void TreeModel::Added(Node& n) {
  Announcing announcing(*this);
  const Node* parent = n.Parent();
  const QModelIndex parentIndex = IndexOf(parent);
  const int32_t place = Rows().PlaceOf(n);
  // The tree tells after the fact; until the views were told the rows are coming, they must
  // read the rows as they were.
  adding_ = Adding{&n, parent, place};
  beginInsertRows(parentIndex, place, place);
  adding_ = Adding{};
  endInsertRows();
}

void TreeModel::Removing(Node& n) {
  Announcing announcing(*this);
  const int32_t place = Rows().PlaceOf(n);
  beginRemoveRows(IndexOf(n.Parent()), place, place);
  // Out of the rows now, so that the views read them without it; the tree unlinks it next.
  Rows().Removing(n);
  endRemoveRows();
}

void TreeModel::Changed(const Node& n) {
  const QModelIndex i = IndexOf(&n);
  if (i.isValid()) emit dataChanged(i, i);
}

bool TreeModel::RootMoved(const Node& n) {
  Announcing announcing(*this);
  int32_t from = 0, to = 0;
  if (!Rows().TakeMove(n, from, to)) return false;
  if (from == to) return true;
  moving_ = Moving{&n, from, to};
  beginMoveRows(QModelIndex(), from, from, QModelIndex(), to > from ? to + 1 : to);
  moving_ = Moving{};
  endMoveRows();
  return true;
}

void TreeModel::Reset() {
  Announcing announcing(*this);
  beginResetModel();
  endResetModel();
}

void TreeModel::Cleared() {
  Announcing announcing(*this);
  // The tree has dropped its nodes already: nothing may read them through an old index.
  clearing_ = true;
  beginResetModel();
  clearing_ = false;
  endResetModel();
}

void TreeModel::DropDetached() {
  for (const QModelIndex& i : persistentIndexList()) {
    const Node* n = NodeOf(i);
    if (n && !n->InTree()) changePersistentIndex(i, QModelIndex());
  }
}

void TreeModel::AllChanged() {
  const int rows = rowCount();
  if (rows > 0) emit dataChanged(index(0, 0), index(rows - 1, 0));
}

// ---------------------------------------------------------------------------------------------
// Delegate

void TreeDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  if (!tree_) return;
  if (tree_->HotTracking() && (option->state & QStyle::State_MouseOver)) {
    option->font.setUnderline(true);
    option->palette.setColor(QPalette::Text, option->palette.color(QPalette::Link));
  }
}

void TreeDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem opt(option);
  if (tree_ && !tree_->FullRowSelect()) {
    // The selection covers the label (check box, picture and text), not the rest of the row.
    const int w = sizeHint(option, index).width() + 4;
    if (w < opt.rect.width()) opt.rect.setWidth(w);
  }
  QStyledItemDelegate::paint(painter, opt, index);
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

// ---------------------------------------------------------------------------------------------
// Widget

namespace {

// Qt paints a selected row's branch area as selected when the style asks for it; the tree
// does so only with FullRowSelect.
class TreeStyle : public QProxyStyle {
 public:
  explicit TreeStyle(TreeWidget* owner) : owner_(owner) { setParent(owner); }
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* ret) const override {
    if (hint == SH_ItemView_ShowDecorationSelected) return owner_->FullRow() ? 1 : 0;
    return QProxyStyle::styleHint(hint, option, widget, ret);
  }

 private:
  TreeWidget* owner_;
};

}  // namespace

TreeWidget::TreeWidget(QtTree* tree, QWidget* parent) : QTreeView(parent), tree_(tree) {
  setHeaderHidden(true);
  header()->setStretchLastSection(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setMouseTracking(true);  // MouseMove is raised without a button too
  viewport()->setAttribute(Qt::WA_Hover);
  setContextMenuPolicy(Qt::PreventContextMenu);  // the host shows its own menu
  setExpandsOnDoubleClick(true);
  setAnimated(false);
  setDropIndicatorShown(false);
  setDragDropMode(QAbstractItemView::DragDrop);
  // Rows all have one height (the delegate makes a row without a picture as tall as one
  // with), so the view need not measure a million rows to scroll to the end.
  setUniformRowHeights(true);
  setStyle(new TreeStyle(this));
}

TreeWidget::~TreeWidget() {
  setStyle(nullptr);  // the proxy goes with the widget's children, after the widget
  if (tree_) tree_->WidgetGone();
}

bool TreeWidget::FullRow() const { return tree_ && tree_->FullRowSelect(); }

QPointF TreeWidget::ToTreeUnits(const QPointF& viewportPos) const {
  const QPointF p = viewportPos + QPointF(viewport()->pos());
  return {p.x() * kTwipsPerPixel, p.y() * kTwipsPerPixel};
}

void TreeWidget::mousePressEvent(QMouseEvent* e) {
  Shielded("mousePressEvent", [&] {
    if (!tree_) return QTreeView::mousePressEvent(e);
    QPointer<TreeWidget> self(this);
    Ref<TreeView> keep(tree_);
    int16_t button = ButtonOf(e->button()), shift = ShiftMask(e->modifiers());
    const QPointF t = ToTreeUnits(e->position());
    float x = static_cast<float>(t.x()), y = static_cast<float>(t.y());
    afterDoubleClick_ = false;
    tree_->RaiseMouseDown(button, shift, x, y);
    if (!self || !tree_) return;
    // The right button leaves the selection alone: a host's context menu acts on the node it
    // finds with HitTest.
    if (e->button() == Qt::RightButton) return e->accept();
    leftPressed_ = e->button() == Qt::LeftButton;
    QTreeView::mousePressEvent(e);
    if (!self || !tree_ || e->button() != Qt::LeftButton) return;
    const QModelIndex at = indexAt(e->position().toPoint());
    Ref<Node> node(TreeModel::NodeOf(at));
    // A click on the label (or anywhere on the row with FullRowSelect), not on the branch area.
    if (node && node->InTree() && (tree_->FullRowSelect() || e->position().x() >= visualRect(at).left()))
      tree_->UserClickNode(*node);
  });
}

void TreeWidget::mouseReleaseEvent(QMouseEvent* e) {
  Shielded("mouseReleaseEvent", [&] {
    if (!tree_) return QTreeView::mouseReleaseEvent(e);
    QPointer<TreeWidget> self(this);
    Ref<TreeView> keep(tree_);
    if (e->button() != Qt::RightButton) QTreeView::mouseReleaseEvent(e);
    if (!self || !tree_) return;
    int16_t button = ButtonOf(e->button()), shift = ShiftMask(e->modifiers());
    const QPointF t = ToTreeUnits(e->position());
    float x = static_cast<float>(t.x()), y = static_cast<float>(t.y());
    const bool click = e->button() == Qt::LeftButton && leftPressed_ && !afterDoubleClick_ &&
                       viewport()->rect().contains(e->position().toPoint());
    leftPressed_ = false;
    afterDoubleClick_ = false;
    tree_->RaiseMouseUp(button, shift, x, y);
    if (!self || !tree_) return;
    if (click) tree_->RaiseClick();
    e->accept();
  });
}

void TreeWidget::mouseMoveEvent(QMouseEvent* e) {
  Shielded("mouseMoveEvent", [&] {
    if (!tree_) return QTreeView::mouseMoveEvent(e);
    QPointer<TreeWidget> self(this);
    Ref<TreeView> keep(tree_);
    int16_t button = ButtonMask(e->buttons()), shift = ShiftMask(e->modifiers());
    const QPointF t = ToTreeUnits(e->position());
    float x = static_cast<float>(t.x()), y = static_cast<float>(t.y());
    tree_->RaiseMouseMove(button, shift, x, y);
    if (!self || !tree_) return;
    // Qt's own drag gesture starts a drag only in automatic mode (dragEnabled follows it); a
    // right-button move must not rubber-band a selection.
    if (!(e->buttons() & Qt::RightButton)) QTreeView::mouseMoveEvent(e);
  });
}

void TreeWidget::mouseDoubleClickEvent(QMouseEvent* e) {
  Shielded("mouseDoubleClickEvent", [&] {
    if (!tree_) return QTreeView::mouseDoubleClickEvent(e);
    QPointer<TreeWidget> self(this);
    Ref<TreeView> keep(tree_);
    afterDoubleClick_ = true;
    if (e->button() == Qt::LeftButton) tree_->RaiseDblClick();
    if (!self || !tree_) return;
    if (e->button() == Qt::LeftButton) QTreeView::mouseDoubleClickEvent(e);
  });
}

void TreeWidget::keyPressEvent(QKeyEvent* e) {
  Shielded("keyPressEvent", [&] {
    if (!tree_) return QTreeView::keyPressEvent(e);
    QPointer<TreeWidget> self(this);
    Ref<TreeView> keep(tree_);
    const int16_t code0 = KeyCodeOf(e->key()), shift0 = ShiftMask(e->modifiers());
    int16_t code = code0, shift = shift0;
    tree_->RaiseKeyDown(code, shift);
    if (!self || !tree_) return;
    const QString text0 = e->text();
    const bool hasChar = text0.size() == 1 && text0[0].unicode() <= INT16_MAX;
    int16_t ascii = hasChar ? static_cast<int16_t>(text0[0].unicode()) : 0;
    const int16_t ascii0 = ascii;
    if (hasChar) {
      tree_->RaiseKeyPress(ascii);
      if (!self || !tree_) return;
    }
    // The tree acts on what the handlers left: KeyCode 0 drops the key, KeyAscii 0 the
    // character; a changed value is the key or character the tree gets instead.
    const int key = code == code0 ? e->key() : (code == 0 ? int(Qt::Key_unknown) : QtKeyOf(code));
    QString text;
    if (hasChar) text = ascii == 0 ? QString() : (ascii == ascii0 ? text0 : QString(QChar(static_cast<char16_t>(ascii))));
    else if (code == code0) text = text0;
    if (key == Qt::Key_unknown && text.isEmpty()) return e->accept();
    const Qt::KeyboardModifiers mods =
        shift == shift0 ? e->modifiers() : (ModifiersOf(shift) | (e->modifiers() & Qt::KeypadModifier));
    QKeyEvent forwarded(e->type(), key, mods, text, e->isAutoRepeat(), static_cast<quint16>(e->count()));
    QTreeView::keyPressEvent(&forwarded);
    e->setAccepted(forwarded.isAccepted());
  });
}

void TreeWidget::keyReleaseEvent(QKeyEvent* e) {
  Shielded("keyReleaseEvent", [&] {
    if (!tree_) return QTreeView::keyReleaseEvent(e);
    QPointer<TreeWidget> self(this);
    Ref<TreeView> keep(tree_);
    int16_t code = KeyCodeOf(e->key()), shift = ShiftMask(e->modifiers());
    tree_->RaiseKeyUp(code, shift);
    if (!self) return;
    QTreeView::keyReleaseEvent(e);
  });
}

void TreeWidget::focusOutEvent(QFocusEvent* e) {
  Shielded("focusOutEvent", [&] {
    QTreeView::focusOutEvent(e);
    if (!tree_) return;
    // Only when the focus moves to another control of the window: not to a popup, another
    // window, or the tree's own label editor.
    const Qt::FocusReason r = e->reason();
    if (r == Qt::PopupFocusReason || r == Qt::ActiveWindowFocusReason || r == Qt::MenuBarFocusReason) return;
    QWidget* next = QApplication::focusWidget();
    if (!next || next == this || isAncestorOf(next)) return;
    QPointer<TreeWidget> self(this);
    Ref<TreeView> keep(tree_);
    bool cancel = false;
    tree_->RaiseValidate(cancel);
    if (!self || !cancel) return;
    // Cancel keeps the focus: taken back once the focus change in progress is over.
    QTimer::singleShot(0, this, [self] {
      if (self) self->setFocus(Qt::OtherFocusReason);
    });
  });
}

void TreeWidget::DragOver(QDragMoveEvent* e, int16_t state) {
  if (!tree_ || tree_->OLEDropMode() != 1) return e->ignore();
  lastDragPos_ = e->position();
  e->ignore();
  Shielded("OLEDragOver", [&] { tree_->DragEvent(e, state, false); });
}

void TreeWidget::dragEnterEvent(QDragEnterEvent* e) { DragOver(e, 0); }
void TreeWidget::dragMoveEvent(QDragMoveEvent* e) { DragOver(e, 2); }

void TreeWidget::dragLeaveEvent(QDragLeaveEvent* e) {
  if (tree_ && tree_->OLEDropMode() == 1) Shielded("OLEDragOver", [&] { tree_->DragLeft(lastDragPos_); });
  e->accept();
}

void TreeWidget::dropEvent(QDropEvent* e) {
  if (!tree_ || tree_->OLEDropMode() != 1) return e->ignore();
  e->ignore();
  Shielded("OLEDragDrop", [&] { tree_->DragEvent(e, 0, true); });
}

void TreeWidget::startDrag(Qt::DropActions) {
  if (tree_) Shielded("OLEStartDrag", [&] { tree_->RunDrag(true); });
}

void TreeWidget::drawBranches(QPainter* p, const QRect& rect, const QModelIndex& index) const {
  if (!tree_ || !index.isValid()) return;
  const int indent = indentation();
  if (indent <= 0) return;

  // The row and its ancestors; the rightmost cell is the row's own, the others carry the
  // ancestors' vertical lines. Roots have a cell only with root lines.
  std::vector<QModelIndex> chain;
  for (QModelIndex i = index; i.isValid(); i = i.parent()) chain.push_back(i);
  const int cells = static_cast<int>(chain.size()) - (rootIsDecorated() ? 0 : 1);
  QAbstractItemModel* m = model();

  p->save();
  QPen dotted(palette().color(QPalette::Dark), 1, Qt::DotLine);
  const int right = rect.right() + 1;
  for (int c = 0; c < cells; ++c) {
    const QRect cell(right - (c + 1) * indent, rect.top(), indent, rect.height());
    const QModelIndex& at = chain[static_cast<size_t>(c)];
    const int cx = cell.left() + indent / 2, cy = cell.top() + cell.height() / 2;
    const bool hasNext = at.row() + 1 < m->rowCount(at.parent());
    if (tree_->ShowsLines()) {
      p->setPen(dotted);
      if (c == 0) {
        const bool hasAbove = at.parent().isValid() || at.row() > 0;
        if (hasAbove) p->drawLine(cx, cell.top(), cx, cy);
        if (hasNext) p->drawLine(cx, cy, cx, cell.bottom());
        p->drawLine(cx, cy, cell.right(), cy);
      } else if (hasNext) {
        p->drawLine(cx, cell.top(), cx, cell.bottom());
      }
    }
    if (c == 0 && tree_->ShowsPlusMinus() && m->hasChildren(at)) {
      const QRect box(cx - 4, cy - 4, 8, 8);
      p->fillRect(box, palette().brush(QPalette::Base));
      p->setPen(QPen(palette().color(QPalette::Dark), 1));
      p->drawRect(box);
      p->setPen(QPen(palette().color(QPalette::Text), 1));
      p->drawLine(cx - 2, cy, cx + 2, cy);
      if (!isExpanded(at)) p->drawLine(cx, cy - 2, cx, cy + 2);
    }
  }
  p->restore();
}

// ---------------------------------------------------------------------------------------------
// The tree

// Tells the item model and the view what changed in the tree.
class QtTree::Mirror : public TreeObserver {
 public:
  explicit Mirror(QtTree& t) : t_(t) {}
  void NodeAdded(Node& n) override { t_.AddRow(n); }
  void NodeAboutToBeRemoved(Node& n) override { t_.RemoveRows(n); }
  void NodeChanged(Node& n, NodeField f) override {
    SyncGuard guard(t_);
    switch (f) {
      case NodeField::Text:
        if (!n.Parent() && t_.Sorted() && !t_.model_->RootMoved(n)) t_.ResetRows();
        t_.model_->Changed(n);
        break;
      case NodeField::Image:
      case NodeField::SelectedImage:
      case NodeField::Checked: t_.model_->Changed(n); break;
      case NodeField::Expanded: t_.ShowExpanded(n); break;
      case NodeField::Selected: t_.ShowSelection(n); break;
      case NodeField::Key:
      case NodeField::Tag: break;
    }
  }
  void Cleared() override {
    SyncGuard guard(t_);
    t_.model_->Cleared();
  }

 private:
  QtTree& t_;
};

QtTree::QtTree(QWidget* parent) : model_(std::make_unique<TreeModel>(this)), mirror_(std::make_unique<Mirror>(*this)) {
  widget_ = new TreeWidget(this, parent);
  widget_->setModel(model_.get());
  delegate_ = new TreeDelegate(this, widget_);
  widget_->setItemDelegate(delegate_);
  QObject::connect(widget_->selectionModel(), &QItemSelectionModel::currentChanged, widget_,
                   [this](const QModelIndex& cur, const QModelIndex& prev) {
                     Shielded("NodeClick", [&] { OnCurrentChanged(cur, prev); });
                   });
  QObject::connect(widget_, &QTreeView::expanded, widget_, [this](const QModelIndex& i) {
    Shielded("Expand", [&] { OnUserExpanded(i, true); });
  });
  QObject::connect(widget_, &QTreeView::collapsed, widget_, [this](const QModelIndex& i) {
    Shielded("Collapse", [&] { OnUserExpanded(i, false); });
  });
  AddObserver(mirror_.get());
  ApplyAll();
}

QtTree::~QtTree() {
  RemoveObserver(mirror_.get());
  if (widget_) {
    widget_->tree_ = nullptr;
    delegate_->tree_ = nullptr;
    delete widget_.data();
  }
}

void QtTree::WidgetGone() {
  // The host's window took the widget with it; the model lives on without a view.
  if (delegate_) delegate_->tree_ = nullptr;
  delegate_ = nullptr;
}

void QtTree::AddRow(Node& n) {
  SyncGuard guard(*this);
  model_->Added(n);
  // A node can be expanded before it has children; the view shows that once it has one.
  Node* parent = n.Parent();
  if (parent && parent->Expanded()) ShowExpanded(*parent);
}

void QtTree::RemoveRows(Node& top) {
  SyncGuard guard(*this);
  if (widget_) {
    // The model drops its selection with the node; so does the view, instead of moving it on.
    auto inSubtree = [&](const Node* s) {
      for (; s; s = s->Parent())
        if (s == &top) return true;
      return false;
    };
    if (inSubtree(SelectedNode()) || inSubtree(TreeModel::NodeOf(widget_->currentIndex())))
      widget_->selectionModel()->clear();
  }
  model_->Removing(top);
  if (!widget_) return;
  std::vector<Node*> stack{&top};
  while (!stack.empty()) {
    Node* n = stack.back();
    stack.pop_back();
    removed_.emplace_back(n);
    for (Node* c = n->Child(); c; c = c->Next()) stack.push_back(c);
  }
  if (releasePosted_) return;
  releasePosted_ = true;
  QTimer::singleShot(0, widget_, [this] { ReleaseRemoved(); });
}

void QtTree::ReleaseRemoved() {
  releasePosted_ = false;
  model_->DropDetached();
  // A node's last release may run a host's code, which may remove more.
  std::vector<Ref<Node>> gone = std::move(removed_);
  removed_.clear();
}

void QtTree::ShowExpanded(Node& n) {
  if (!widget_) return;
  const QModelIndex i = model_->IndexOf(&n);
  if (!i.isValid()) return;
  if (widget_->isExpanded(i) != n.Expanded()) widget_->setExpanded(i, n.Expanded());
}

void QtTree::ResetRows() {
  SyncGuard guard(*this);
  model_->Reset();
  if (!widget_) return;
  // A reset forgets which rows were expanded and which was current; the tree knows.
  widget_->LayOutLater();
  std::vector<Node*> stack;
  for (Node* r = FirstRoot(); r; r = r->Next()) stack.push_back(r);
  while (!stack.empty()) {
    Node* n = stack.back();
    stack.pop_back();
    // Under collapsed nodes too: they show expanded once their parent opens.
    if (n->Expanded()) widget_->expand(model_->IndexOf(n));
    for (Node* c = n->Child(); c; c = c->Next()) stack.push_back(c);
  }
  if (Node* s = SelectedNode()) ShowSelection(*s);
}

void QtTree::ShowSelection(Node& n) {
  if (!widget_) return;
  const QModelIndex i = model_->IndexOf(&n);
  if (n.Selected()) {
    if (!i.isValid() || widget_->currentIndex() == i) return;
    // Scrolling to a row expands its ancestors in the view alone; the view shows the tree's
    // expanded nodes, so it scrolls only to a row that is shown.
    const bool autoScroll = widget_->hasAutoScroll();
    widget_->setAutoScroll(false);
    widget_->setCurrentIndex(i);
    widget_->setAutoScroll(autoScroll);
    bool shown = true;
    for (Node* a = n.Parent(); a && shown; a = a->Parent()) shown = a->Expanded();
    if (shown) widget_->scrollTo(i);
  } else if (i.isValid() && widget_->currentIndex() == i) {
    widget_->selectionModel()->clear();
  }
}

Ref<ListImage> QtTree::EntryFor(const Variant& image) const {
  if (image.IsEmpty()) return nullptr;
  auto list = RefCast<desk::ImageList>(ImageList());
  if (!list) return nullptr;
  if (image.ValueType() == VarType::String) return list->Images().FindEntry(image.RawString());
  const int32_t i = image.ValueType() == VarType::Long ? image.RawLong() : 0;
  if (i < 1 || i > list->Images().Count()) return nullptr;
  return list->Images().At(static_cast<size_t>(i - 1));
}

QIcon QtTree::IconFor(const Node& node) {
  // Drawn from the list's pixels at the size shown, never from the pictures at the list's
  // own size, which may be a camera photo's.
  const QSize size = widget_ ? widget_->iconSize() : QSize();
  auto pixmap = [&](const Ref<ListImage>& e) -> QPixmap {
    if (!e) return QPixmap();
    if (auto* ql = dynamic_cast<QtImageList*>(ImageList().get())) return ql->Pixmap(e, size);
    auto list = RefCast<desk::ImageList>(ImageList());
    return pixmaps_.Get(e, size, list ? list->Images().Count() : 0);
  };
  const QPixmap normal = pixmap(EntryFor(node.Image()));
  const QPixmap selected = node.SelectedImage().IsEmpty() ? normal : pixmap(EntryFor(node.SelectedImage()));
  if (normal.isNull() && selected.isNull()) return QIcon();
  QIcon icon;
  if (!normal.isNull()) icon.addPixmap(normal, QIcon::Normal);
  if (!selected.isNull()) icon.addPixmap(selected, QIcon::Selected);
  return icon;
}

void QtTree::UpdateIconSize() {
  if (!widget_) return;
  QSize size(16, 16);
  if (auto list = RefCast<desk::ImageList>(ImageList()); list && list->Images().Count() > 0) {
    const ListImages& images = list->Images();
    size = QSize(std::clamp(images.ImageWidth(), 1, kMaxIconSide), std::clamp(images.ImageHeight(), 1, kMaxIconSide));
  }
  widget_->setIconSize(size);
}

void QtTree::Relayout() {
  if (!widget_) return;
  widget_->doItemsLayout();
  widget_->viewport()->update();
}

void QtTree::ApplyCursor() {
  if (!widget_) return;
  const int32_t pointer = MousePointer();
  QWidget* vp = widget_->viewport();
  if (pointer == 0) return vp->unsetCursor();
  if (pointer == 99) {
    auto icon = RefCast<Picture>(MouseIcon());
    const QImage img = icon ? ToQImage(*icon) : QImage();
    if (img.isNull()) return vp->unsetCursor();
    return vp->setCursor(QCursor(QPixmap::fromImage(img)));
  }
  vp->setCursor(ShapeOf(pointer));
}

void QtTree::ApplyFrame() {
  if (!widget_) return;
  if (BorderStyle() == 0) return widget_->setFrameStyle(QFrame::NoFrame);
  widget_->setFrameStyle(Appearance() == 1 ? (QFrame::StyledPanel | QFrame::Sunken) : (QFrame::Box | QFrame::Plain));
}

void QtTree::ApplyPalette() {
  if (!widget_) return;
  QPalette pal = widget_->parentWidget() ? widget_->parentWidget()->palette() : QApplication::palette(widget_);
  if (HideSelection()) {
    // Without the focus the selected node looks like the others.
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Inactive, QPalette::Base));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Inactive, QPalette::Text));
  } else {
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
  }
  widget_->setPalette(pal);
}

void QtTree::Apply(DispId id) {
  if (!widget_) return;
  TreeWidget& w = *widget_;
  switch (id) {
    case treeid::kStyle:
    case treeid::kCheckboxes:
      model_->AllChanged();
      Relayout();
      break;
    case treeid::kLineStyle: w.setRootIsDecorated(LineStyle() == 1); break;
    case treeid::kLabelEdit:
      w.setEditTriggers(LabelEdit() == 0 ? (QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed)
                                         : QAbstractItemView::NoEditTriggers);
      break;
    case treeid::kIndentation: {
      const float px = Indentation() / kTwipsPerPixel;
      w.setIndentation(static_cast<int>(std::lround(std::clamp(px, 0.0f, 1000.0f))));
      break;
    }
    case treeid::kImageList:
      pixmaps_.Clear();
      UpdateIconSize();
      model_->AllChanged();
      Relayout();
      break;
    case treeid::kHotTracking:
    case treeid::kFullRowSelect: w.viewport()->update(); break;
    case treeid::kHideSelection: ApplyPalette(); break;
    case treeid::kSorted: ResetRows(); break;
    case treeid::kScroll: {
      const auto policy = Scroll() ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
      w.setHorizontalScrollBarPolicy(policy);
      w.setVerticalScrollBarPolicy(policy);
      break;
    }
    case treeid::kOLEDropMode:
      w.setAcceptDrops(OLEDropMode() == 1);
      w.viewport()->setAcceptDrops(OLEDropMode() == 1);
      break;
    case treeid::kOLEDragMode: w.setDragEnabled(OLEDragMode() == 1); break;
    case treeid::kMousePointer:
    case treeid::kMouseIcon: ApplyCursor(); break;
    case treeid::kBorderStyle:
    case treeid::kAppearance: ApplyFrame(); break;
    case treeid::kFont:
      if (auto f = RefCast<Font>(FontObject())) w.setFont(ToQFont(*f));
      Relayout();
      break;
    default: break;  // SingleSel acts on selection; PathSeparator only on FullPath
  }
}

void QtTree::ApplyAll() {
  // Not Sorted: the model's rows always follow it, and resetting them would close an editor
  // and forget the view's place.
  for (DispId id : {treeid::kStyle, treeid::kLineStyle, treeid::kLabelEdit, treeid::kIndentation, treeid::kImageList,
                    treeid::kHideSelection, treeid::kScroll, treeid::kOLEDropMode,
                    treeid::kOLEDragMode, treeid::kMousePointer, treeid::kBorderStyle, treeid::kFont})
    Apply(id);
}

void QtTree::SettingChanged(DispId id) {
  Apply(id);
  TreeView::SettingChanged(id);
}

void QtTree::ContainerValueChanged(DispId id, const Variant& value) {
  TreeView::ContainerValueChanged(id, value);
  if (!widget_) return;
  const ContainerState& c = Container();
  switch (id) {
    case ext::kLeft:
    case ext::kTop:
    case ext::kWidth:
    case ext::kHeight:
      widget_->setGeometry(ToPixels(c.left), ToPixels(c.top), ToPixels(c.width), ToPixels(c.height));
      break;
    case ext::kVisible: widget_->setVisible(c.visible); break;
    case ext::kEnabled: widget_->setEnabled(c.enabled); break;
    case ext::kToolTipText: widget_->setToolTip(Q(value.ToString())); break;
    default: break;
  }
}

void QtTree::Refresh() {
  // Reads everything again: a host may have changed the font object or the image list's
  // pictures in place.
  ApplyAll();
  model_->AllChanged();
  Relayout();
}

Ref<Node> QtTree::HitTest(float x, float y) {
  if (!widget_ || !(x >= 0 && y >= 0) || std::isinf(x) || std::isinf(y)) return nullptr;
  const QPoint inWidget(static_cast<int>(std::floor(x / kTwipsPerPixel)), static_cast<int>(std::floor(y / kTwipsPerPixel)));
  if (!widget_->rect().contains(inWidget)) return nullptr;
  const QPoint vp = inWidget - widget_->viewport()->pos();
  if (!widget_->viewport()->rect().contains(vp)) return nullptr;
  return Ref<Node>(TreeModel::NodeOf(widget_->indexAt(vp)));
}

void QtTree::OnCurrentChanged(const QModelIndex& current, const QModelIndex& previous) {
  Node* cur = TreeModel::NodeOf(current);
  if (syncing_ || !cur || !cur->InTree()) return;
  Ref<TreeView> keep(this);
  Ref<Node> node(cur);
  Node* prev = TreeModel::NodeOf(previous);
  if (SingleSel() && prev && prev->InTree()) {
    // SingleSel: the new node opens and the one selected before closes, unless it is on the
    // new node's path.
    Ref<Node> before(prev);
    bool onPath = false;
    for (Node* a = node->Parent(); a && !onPath; a = a->Parent()) onPath = a == before.get();
    if (!onPath && before->InTree()) before->SetExpanded(false);
  }
  if (node->InTree()) node->SetSelected(true);
  if (SingleSel() && node->InTree()) node->SetExpanded(true);
}

void QtTree::OnUserExpanded(const QModelIndex& index, bool expanded) {
  Node* n = TreeModel::NodeOf(index);
  if (syncing_ || !n || !n->InTree()) return;
  Ref<Node> node(n);
  node->SetExpanded(expanded);  // raises Expand or Collapse
}

void QtTree::OnUserCheck(Node& node, bool checked) {
  Ref<Node> keep(&node);
  if (node.InTree()) UserCheck(node, checked);  // raises NodeCheck
}

bool QtTree::BeginUserEdit(Node& node) {
  if (!node.InTree()) return false;
  Ref<Node> keep(&node);
  if (!node.Selected()) node.SetSelected(true);
  TreeView::StartLabelEdit();  // raises BeforeLabelEdit for the selected node
  return EditingNode() == &node;
}

void QtTree::StartLabelEdit() {
  TreeView::StartLabelEdit();
  Node* n = EditingNode();
  if (!n || !widget_) return;
  const QModelIndex i = model_->IndexOf(n);
  opening_ = true;
  widget_->scrollTo(i);
  widget_->setCurrentIndex(i);
  widget_->edit(i);
  opening_ = false;
}

void QtTree::CommitLabelEdit(const QString& text) {
  // AfterLabelEdit decides: Cancel keeps the old text, NewString is the text the node gets.
  FinishLabelEdit(U(text));
}

void QtTree::OLEDrag() { RunDrag(false); }

void QtTree::RunDrag(bool automatic) {
  if (!widget_ || dragging_) return;
  Ref<TreeView> keep(this);
  auto data = MakeRef<DataObject>();
  // An automatic drag offers the dragged node's text; the host may add or replace data.
  if (automatic)
    if (Node* n = SelectedNode()) data->SetData(Variant::String(n->Text()), Variant::Integer(1));
  Ref<Object> dataRef = data;
  int32_t allowed = 3;  // copy and move
  RaiseOLEStartDrag(dataRef, allowed);
  if (!widget_ || (allowed & 3) == 0) return;
  if (auto replaced = RefCast<DataObject>(dataRef)) data = replaced;
  QPointer<QDrag> drag = new QDrag(widget_);
  drag->setMimeData(new DeskMimeData(Ref<TreeView>(this), data));
  QObject::connect(drag, &QDrag::actionChanged, widget_, [this](Qt::DropAction a) {
    Shielded("OLEGiveFeedback", [&] {
      int32_t effect = EffectOf(a);
      bool defaultCursors = true;
      RaiseOLEGiveFeedback(effect, defaultCursors);
    });
  });
  dragging_ = true;
  Qt::DropAction result = Qt::IgnoreAction;
  try {
    result = drag->exec(ActionsOf(allowed), ActionOf(allowed));
  } catch (...) {
    dragging_ = false;
    if (drag) drag->deleteLater();
    throw;
  }
  dragging_ = false;
  if (drag) drag->deleteLater();  // with its data, which holds the tree
  int32_t effect = EffectOf(result);
  RaiseOLECompleteDrag(effect);
}

void QtTree::DragEvent(QDropEvent* e, int16_t state, bool drop) {
  if (!widget_) return;
  Ref<TreeView> keep(this);
  QPointer<TreeWidget> w(widget_);
  if (!incoming_ || state == 0) incoming_ = MakeRef<DataObject>(e->mimeData());
  Ref<Object> data = incoming_;
  int32_t effect = EffectsOf(e->possibleActions());
  int16_t button = ButtonMask(e->buttons()), shift = ShiftMask(e->modifiers());
  const QPointF t = widget_->ToTreeUnits(e->position());
  float x = static_cast<float>(t.x()), y = static_cast<float>(t.y());
  if (drop) {
    incoming_.reset();
    RaiseOLEDragDrop(data, effect, button, shift, x, y);
  } else {
    RaiseOLEDragOver(data, effect, button, shift, x, y, state);
  }
  if (!w) return;
  const Qt::DropAction action = ActionOf(effect);
  if (action == Qt::IgnoreAction || !(e->possibleActions() & action)) return e->ignore();
  e->setDropAction(action);
  e->accept();
}

void QtTree::DragLeft(const QPointF& pos) {
  if (!widget_ || !incoming_) return;
  Ref<TreeView> keep(this);
  Ref<Object> data = incoming_;
  incoming_.reset();
  int32_t effect = 0;
  int16_t button = ButtonMask(QApplication::mouseButtons()), shift = ShiftMask(QApplication::keyboardModifiers());
  const QPointF t = widget_->ToTreeUnits(pos);
  float x = static_cast<float>(t.x()), y = static_cast<float>(t.y());
  int16_t state = 1;  // leave
  RaiseOLEDragOver(data, effect, button, shift, x, y, state);
}

}  // namespace desk::qtb
