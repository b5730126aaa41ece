#include "qt_tree_model.h"

#include "desk/tree_filter.h"
#include "qt_util.h"
#include "tree/tree_rows.h"

namespace desk::qtb {

detail::RowIndex& TreeModel::Rows() const { return detail::RowIndex::Of(*tree_); }

const TreeFilter* TreeModel::Filtered() const { return tree_->ActiveFilter(); }

int32_t TreeModel::PlaceOf(const Node& n) const {
  if (const TreeFilter* f = Filtered()) return f->PlaceOf(n);
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

int64_t TreeModel::ShownRows() const { return Rows().Rows(); }

void TreeModel::Read(const Node* parent) const {
  if (parent) Rows().Mark(*parent);
}

void TreeModel::resetInternalData() {
  // Every view and proxy reads the model afresh after a reset.
  Rows().ClearMarks();
}

QModelIndex TreeModel::IndexAtRow(int64_t row) const {
  Node* n = row >= 0 ? Rows().At(row) : nullptr;
  if (!n) return QModelIndex();
  Read(n->Parent());
  return createIndex(Rows().PlaceOf(*n), 0, n);
}

int64_t TreeModel::RowOfNode(const Node& n) const { return n.InTree() ? Rows().RowOf(n) : -1; }

bool TreeModel::RemovingRows(int64_t& row, int32_t& rows) const {
  if (!removing_) return false;
  // Still in the rows while its removal is announced.
  row = Rows().RowOf(*removing_);
  rows = row >= 0 ? Rows().Span(*removing_) : 0;
  return true;
}

QModelIndex TreeModel::IndexOf(const Node* n) const {
  if (!n || !n->InTree() || clearing_) return QModelIndex();
  if (const TreeFilter* f = Filtered(); f && !f->Shown(*n)) return QModelIndex();
  Read(n->Parent());
  return createIndex(PlaceOf(*n), 0, const_cast<Node*>(n));
}

QModelIndex TreeModel::index(int row, int column, const QModelIndex& parent) const {
  const Node* p = NodeOf(parent);
  if (const TreeFilter* f = Filtered()) {
    if (column != 0 || (parent.isValid() && parent.column() != 0)) return QModelIndex();
    Node* n = f->ChildAt(p, row);
    return n ? createIndex(row, 0, n) : QModelIndex();
  }
  // Display order is sibling order except for the roots when sorted. A view laying out rows
  // asks for them in order: the next row is the next sibling, which proves the row exists.
  if (!announcing_ && column == 0 && (!p || parent.column() == 0) && last_.row >= 0 && last_.row + 1 == row &&
      last_.parent == p && (p || !tree_->Sorted()) && last_.node->InTree()) {
    if (Node* next = last_.node->Next()) {
      last_ = {p, row, next};
      return createIndex(row, 0, next);
    }
  }
  if (row < 0 || column != 0 || (parent.isValid() && parent.column() != 0) || row >= rowCount(parent))
    return QModelIndex();
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
  if (const TreeFilter* f = Filtered()) return f->Count(p);
  Read(p);
  return Children(p);
}

int32_t TreeModel::Children(const Node* p) const {
  int32_t count = Rows().Count(p);
  if (adding_.node && adding_.parent == p) --count;
  return count;
}

int TreeModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() && parent.column() != 0 ? 0 : 1;
}

bool TreeModel::hasChildren(const QModelIndex& parent) const {
  const Node* p = NodeOf(parent);
  if (p && !clearing_ && parent.column() == 0 && p->InTree() && !Filtered()) Read(p);
  return ShowsExpander(parent);
}

bool TreeModel::ShowsExpander(const QModelIndex& parent) const {
  // Asked for every row a view lays out: the node's own count, but while a change is being
  // announced the rows as they were.
  const Node* p = NodeOf(parent);
  if (const TreeFilter* f = Filtered())
    return !clearing_ && (!p || (p->InTree() && parent.column() == 0)) && f->Count(p) > 0;
  if (p && !announcing_ && !clearing_ && parent.column() == 0 && p->InTree()) return p->HasExpander();
  if (p && p->InTree() && parent.column() == 0 && p->ChildrenOnDemand()) return true;
  if (clearing_ || (parent.isValid() && parent.column() != 0) || (p && !p->InTree())) return false;
  return Children(p) > 0;
}

QVariant TreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || clearing_) return QVariant();
  const Node& n = *NodeOf(index);
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: return Q(n.Text());
    case Qt::CheckStateRole:
      if (!tree_->Checkboxes()) return QVariant();
      return n.Checked() ? Qt::Checked : Qt::Unchecked;
    default: return QVariant();
  }
}

bool TreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  // The text is the node's; edits reach it through the label-edit events only.
  if (!index.isValid() || role != Qt::CheckStateRole || !onCheck_) return false;
  return onCheck_(*NodeOf(index), value.toInt() == Qt::Checked);
}

Qt::ItemFlags TreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable | Qt::ItemIsUserCheckable |
         Qt::ItemIsDragEnabled;
}

void TreeModel::Added(Node& n) {
  const Node* parent = n.Parent();
  if (parent && !parent->Expanded() && !Rows().Marked(*parent)) {
    Forget();
    if (parent->Children() == 1) Changed(*parent);  // its row shows an expander now
    return;
  }
  // Whoever hears of the row may count on it from now on.
  Read(parent);
  Announcing announcing(*this);
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
  Read(n.Parent());
  Announcing announcing(*this);
  const int32_t place = Rows().PlaceOf(n);
  removing_ = n.Next() && (n.Parent() || !tree_->Sorted()) ? &n : nullptr;
  beginRemoveRows(IndexOf(n.Parent()), place, place);
  removing_ = nullptr;
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

}  // namespace desk::qtb

namespace desk::qtb {

void TreeModel::FilterResetBegin() {
  Forget();
  beginResetModel();
}

void TreeModel::FilterResetEnd() {
  Forget();
  endResetModel();
}

void TreeModel::FilterInsertBegin(const Node* parent, int32_t place) {
  Forget();
  beginInsertRows(IndexOf(parent), place, place);
}

void TreeModel::FilterInsertEnd() { endInsertRows(); }

void TreeModel::FilterRemoveBegin(const Node& n, int32_t place) {
  Forget();
  beginRemoveRows(IndexOf(n.Parent()), place, place);
}

void TreeModel::FilterRemoveEnd() { endRemoveRows(); }

}  // namespace desk::qtb
