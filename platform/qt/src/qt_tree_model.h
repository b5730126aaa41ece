// The tree's nodes as a QAbstractItemModel.
//
// The nodes are kept once, by the tree: a model index carries its node, and the view's rows
// are made when it asks for them, from the tree's row index (a node's place among its
// siblings and the node at a place, in O(log n)). Rows read the text and check state from the
// node when drawn, so a change of the model shows on the next paint; the picture is the
// delegate's to choose. The tree's observer calls become the model's change signals, one call
// per change. The model only serves data: it reads the tree and its settings, and hands a
// user's check to whoever drives it (SetCheckHandler).
#pragma once

#include <QAbstractItemModel>
#include <QScopedValueRollback>
#include <cstdint>
#include <functional>

#include "desk/tree.h"

namespace desk {
class TreeFilter;
namespace detail {
class RowIndex;
}
}  // namespace desk

namespace desk::qtb {

// The tree's nodes as an item model of one column: an index's internal pointer is its node.
class TreeModel : public QAbstractItemModel {
 public:
  explicit TreeModel(TreeView* tree) : tree_(tree) {}

  // Told of a check box the user set or cleared; false when the check is refused (the model
  // then reports the edit as not made).
  using CheckHandler = std::function<bool(Node& node, bool checked)>;
  void SetCheckHandler(CheckHandler handler) { onCheck_ = std::move(handler); }

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  // What hasChildren answers, without counting as a read of the node's children: for the
  // tree's own view, which keeps nothing of the answer past the paint that asked.
  bool ShowsExpander(const QModelIndex& parent) const;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  static Node* NodeOf(const QModelIndex& index) { return static_cast<Node*>(index.internalPointer()); }

  // The rows of a view that shows the tree's expanded nodes open, from the tree's row index,
  // each in O(log n) (times the depth): known unless a filter is on, or while the views must
  // still read the rows as they were before an add or a move (or none, while cleared); then a
  // view lists the rows the model gives. A removal's rows agree with the index throughout.
  bool RowsKnown() const { return !clearing_ && !adding_.node && !moving_.node && !Filtered(); }
  int64_t ShownRows() const;
  QModelIndex IndexAtRow(int64_t row) const;
  int64_t RowOfNode(const Node& n) const;  // -1 when not shown
  // While a node's removal is announced, when the rows it takes with it are all that changes
  // on screen (it has a next sibling, so its parent keeps its expander and no line above it
  // changes): its first row (-1 when not shown) and how many rows it spans. False otherwise.
  bool RemovingRows(int64_t& row, int32_t& rows) const;
  // The index of a node of the tree; invalid for null.
  QModelIndex IndexOf(const Node* n) const;

  // The tree changed: each call announces one change to the views.
  // After the node was added. A child of a closed node goes unannounced while nobody but the
  // tree's own view has read anything of that node's children through the model (not even
  // whether it has any): no other view, proxy or persistent index can hold any of them, and
  // whoever reads them later reads them whole; the node's own row is only drawn again when
  // it gains its first child. A host filling closed nodes with many children spares the
  // model's signals that way.
  void Added(Node& n);
  // Before the node and its subtree are removed: takes them out of the rows.
  void Removing(Node& n);
  void Changed(const Node& n);
  // After a sorted root was renamed: moves its row. False when the tree's row index cannot
  // say from where (the rows need a reset).
  bool RootMoved(const Node& n);
  // After the order of many rows changed (Sorted switched).
  void Reset();
  // Invalidates the persistent indexes of nodes that left the tree.
  void DropDetached();
  // After every node left.
  void Cleared();
  // What every row shows may have changed (style, check boxes, pictures).
  void AllChanged();

  // While the tree's filter is on, the rows are the ones it shows; it tells of their changes
  // through these, before and after each (desk::TreeFilter::View).
  void FilterResetBegin();
  void FilterResetEnd();
  void FilterInsertBegin(const Node* parent, int32_t place);
  void FilterInsertEnd();
  void FilterRemoveBegin(const Node& n, int32_t place);
  void FilterRemoveEnd();

 protected:
  void resetInternalData() override;

 private:
  detail::RowIndex& Rows() const;
  // Someone may have learnt something of the children of `parent` (null: the roots).
  void Read(const Node* parent) const;
  const TreeFilter* Filtered() const;
  int32_t PlaceOf(const Node& n) const;
  // The rows under a node of the tree (null: the roots) as the views read them, unfiltered.
  int32_t Children(const Node* p) const;

  TreeView* tree_;
  CheckHandler onCheck_;
  // A node already in the tree while its row is being announced: views asking between
  // beginInsertRows and endInsertRows see the rows as they were before it.
  struct Adding {
    const Node* node = nullptr;
    const Node* parent = nullptr;
    int32_t place = 0;
  } adding_;
  // A sorted root already moved in the tree while its move is being announced: views asking
  // before endMoveRows see the roots as they were.
  struct Moving {
    const Node* node = nullptr;
    int32_t from = 0, to = 0;
  } moving_;
  const Node* removing_ = nullptr;  // see RemovingRows
  bool clearing_ = false;  // the nodes behind the old indexes are gone
  // The last row made by index(): a view asks for rows in order, and the next row of a list
  // in sibling order is the node's next sibling. Forgotten at every change.
  mutable struct {
    const Node* parent = nullptr;
    int row = -1;
    Node* node = nullptr;
  } last_;
  void Forget() const { last_.row = -1; }
  // While a change is being announced the sibling links and the rows may disagree.
  bool announcing_ = false;
  struct Announcing : QScopedValueRollback<bool> {
    explicit Announcing(TreeModel& m) : QScopedValueRollback<bool>((m.Forget(), m.announcing_), true) {}
  };
};

}  // namespace desk::qtb
