// The tree on screen: a desk::TreeView whose node model is mirrored by a QTreeWidget.
//
// The model stays the one source of truth: each Qt item holds its node and reads the text,
// picture and check state from it when drawn, so a change of the model (or of the image
// list behind the pictures) shows on the next paint. User input goes the other way through
// the tree's own operations (UserClickNode, UserCheck, SetExpanded, FinishLabelEdit) and
// raise helpers, so by-reference arguments the host writes are the tree's storage and take
// effect in the widget.
#pragma once

#include <QPointer>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <unordered_map>

#include "desk/imagelist.h"
#include "desk/tree.h"
#include "qt_util.h"

namespace desk::qtb {

class QtTree;
class DataObject;

// The platform image list with its pictures kept as pixmaps.
class QtImageList : public ImageList {
 public:
  // The pixmap of the picture under `key` (null pixmap when absent).
  QPixmap Pixmap(const Ref<Picture>& picture);

 private:
  PixmapCache cache_;
};

class TreeItem : public QTreeWidgetItem {
 public:
  TreeItem(QtTree* tree, Node* node);
  QVariant data(int column, int role) const override;
  void setData(int column, int role, const QVariant& value) override;
  // Repaints and re-measures the item after its node changed.
  void Changed() { emitDataChanged(); }
  Node* GetNode() const { return node_; }

 private:
  friend class QtTree;
  QtTree* tree_;  // null once the tree let go of the widget
  Node* node_;
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

class TreeWidget : public QTreeWidget {
 public:
  TreeWidget(QtTree* tree, QWidget* parent);
  ~TreeWidget() override;
  TreeItem* Item(const QModelIndex& index) const { return static_cast<TreeItem*>(itemFromIndex(index)); }
  // A point of the viewport in the tree's units (twips from the widget's top-left corner).
  QPointF ToTreeUnits(const QPointF& viewportPos) const;
  bool FullRow() const;

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
  void OnCurrentChanged(TreeItem* current, TreeItem* previous);
  void OnUserExpanded(TreeItem* item, bool expanded);
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

  // Brings the order of the top-level items in line with the model (Sorted or sibling order).
  void SyncRoots();

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
  void ScheduleRootSync();
  TreeItem* ItemOf(const Node* n) const;
  Ref<Picture> PictureFor(const Variant& image) const;
  void AddItem(Node& n);
  void RemoveItem(Node& top);
  void ShowSelection(Node& n);
  void ForgetSubtree(QTreeWidgetItem* item);

  QPointer<TreeWidget> widget_;
  TreeDelegate* delegate_ = nullptr;
  std::unique_ptr<Mirror> mirror_;
  std::unordered_map<const Node*, TreeItem*> items_;
  PixmapCache pixmaps_;  // for an image list that is not a QtImageList
  int syncing_ = 0;       // model -> widget updates in progress: widget signals are ours
  bool opening_ = false;  // StartLabelEdit is opening the editor itself
  bool rootsDirty_ = false;
  bool rootSyncPosted_ = false;
  bool dragging_ = false;
  Ref<DataObject> incoming_;  // the data object of the drag over the tree, if any
};

}  // namespace desk::qtb
