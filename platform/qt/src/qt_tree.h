// The tree on screen: a desk::TreeView shown by a QTreeView through an item model over the
// tree's own nodes.
//
// The nodes are kept once, by the tree: a model index carries its node, and the view's rows
// are made when it asks for them, from the tree's row index (a node's place among its
// siblings and the node at a place, in O(log n)). Rows read the text, picture and check state
// from the node when drawn, so a change of the model (or of the image list behind the
// pictures) shows on the next paint. The tree's observer calls become the model's change
// signals. User input goes the other way through the tree's own operations (UserClickNode,
// UserCheck, SetExpanded, FinishLabelEdit) and raise helpers, so by-reference arguments the
// host writes are the tree's storage and take effect in the widget.
#pragma once

#include <QAbstractItemModel>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <memory>

#include "desk/imagelist.h"
#include "desk/tree.h"
#include "qt_util.h"

namespace desk::detail {
class RowIndex;
}

namespace desk::qtb {

class QtTree;
class DataObject;

// The platform image list with its pictures kept as pixmaps at the size they are drawn.
class QtImageList : public ImageList {
 public:
  QPixmap Pixmap(const Ref<ListImage>& entry, QSize size) { return cache_.Get(entry, size, Images().Count()); }

 private:
  PixmapCache cache_;
};

// The tree's nodes as an item model of one column: an index's internal pointer is its node.
class TreeModel : public QAbstractItemModel {
 public:
  explicit TreeModel(QtTree* tree) : tree_(tree) {}

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  static Node* NodeOf(const QModelIndex& index) { return static_cast<Node*>(index.internalPointer()); }
  // The index of a node of the tree; invalid for null.
  QModelIndex IndexOf(const Node* n) const;

  // The tree changed: each call announces one change to the views.
  // After the node was added.
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

 private:
  detail::RowIndex& Rows() const;
  int32_t PlaceOf(const Node& n) const;

  QtTree* tree_;
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
  struct Announcing {
    explicit Announcing(TreeModel& m) : m_(m) {
      m_.Forget();
      m_.announcing_ = true;
    }
    ~Announcing() { m_.announcing_ = false; }
    TreeModel& m_;
  };
};

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

class QtTree : public TreeView {
 public:
  explicit QtTree(QWidget* parent);
  ~QtTree() override;

  TreeWidget* Widget() const { return widget_; }

  void Refresh() override;
  // Raises BeforeLabelEdit and, unless cancelled, opens the real editor on the node.
  void StartLabelEdit() override;
  // Starts a drag now (OLEDragMode manual).
  void OLEDrag() override;
  // By the widget's geometry: the node of the row under the point, or null.
  Ref<Node> HitTest(float x, float y) override;
  void ContainerValueChanged(DispId id, const Variant& value) override;

  // What the widget reports.
  void WidgetGone();
  void OnCurrentChanged(const QModelIndex& current, const QModelIndex& previous);
  void OnUserExpanded(const QModelIndex& index, bool expanded);
  void OnUserCheck(Node& node, bool checked);
  // The label editor is about to open on `node` (user trigger): raises BeforeLabelEdit;
  // false when cancelled.
  bool BeginUserEdit(Node& node);
  void CommitLabelEdit(const QString& text);
  void RunDrag(bool automatic);
  void DragEvent(QDropEvent* e, int16_t state, bool drop);
  void DragLeft(const QPointF& pos);

  // Drawing.
  QIcon IconFor(const Node& node);
  bool ShowsPictures() const { return (Style() & 1) != 0; }
  bool ShowsPlusMinus() const { return (Style() & 2) != 0; }
  bool ShowsLines() const { return (Style() & 4) != 0; }
  bool Syncing() const { return syncing_ > 0; }
  bool OpeningEditor() const { return opening_; }
  TreeModel& Model() const { return *model_; }

 protected:
  void SettingChanged(DispId id) override;

 private:
  class Mirror;
  friend class Mirror;
  struct SyncGuard {
    explicit SyncGuard(QtTree& t) : t_(t) { ++t_.syncing_; }
    ~SyncGuard() { --t_.syncing_; }
    QtTree& t_;
  };

  void Apply(DispId id);
  void ApplyAll();
  void ApplyCursor();
  void ApplyFrame();
  void ApplyPalette();
  void UpdateIconSize();
  void Relayout();
  // The image list's entry a node's Image or SelectedImage names (key or 1-based position).
  Ref<ListImage> EntryFor(const Variant& image) const;
  void AddRow(Node& n);
  void RemoveRows(Node& top);
  void ShowExpanded(Node& n);
  void ResetRows();
  void ReleaseRemoved();
  void ShowSelection(Node& n);

  std::unique_ptr<TreeModel> model_;  // outlives the widget, which the tree deletes first
  QPointer<TreeWidget> widget_;
  TreeDelegate* delegate_ = nullptr;
  std::unique_ptr<Mirror> mirror_;
  // Nodes removed while the view may still hold indexes of them: a handler of an event the
  // view raised in the middle of its own work (Collapse from a key, say) may remove the node
  // the view goes on with. Kept until the view is back in the event loop, then released once
  // no index of them is left.
  std::vector<Ref<Node>> removed_;
  bool releasePosted_ = false;
  PixmapCache pixmaps_;  // for an image list that is not a QtImageList
  int syncing_ = 0;       // model -> widget updates in progress: widget signals are ours
  bool opening_ = false;  // StartLabelEdit is opening the editor itself
  bool dragging_ = false;
  Ref<DataObject> incoming_;  // the data object of the drag over the tree, if any
};

}  // namespace desk::qtb
