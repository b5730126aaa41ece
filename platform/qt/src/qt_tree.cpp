#include "qt_tree.h"

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "desk/tree_filter.h"
#include "qt_dnd.h"
#include "qt_tree_delegate.h"

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

// Tells the item model and the view what changed in the tree.
class QtTree::Mirror : public TreeObserver {
 public:
  explicit Mirror(QtTree& t) : t_(t) {}
  void NodeAdded(Node& n) override { t_.AddRow(n); }
  void NodeAboutToBeRemoved(Node& n) override { t_.RemoveRows(n); }
  void NodesRemoved(std::vector<Ref<Node>>& gone) override { t_.KeepRemoved(gone); }
  void NodeChanged(Node& n, NodeField f) override {
    SyncGuard guard(t_);
    switch (f) {
      case NodeField::Text:
        // While filtered, the filter orders its roots itself.
        if (!n.Parent() && t_.Sorted() && !t_.ActiveFilter() && !t_.model_->RootMoved(n)) t_.ResetRows();
        t_.model_->Changed(n);
        break;
      case NodeField::Image:
      case NodeField::SelectedImage:
      case NodeField::Checked: t_.model_->Changed(n); break;
      case NodeField::Expanded: t_.ShowExpanded(n); break;
      case NodeField::Selected: t_.ShowSelection(n); break;
      case NodeField::ChildrenOnDemand: t_.ShowExpander(n); break;
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

// Tells the item model and the view what the tree's filter changes in the rows shown.
class QtTree::FilterMirror : public TreeFilter::View {
 public:
  explicit FilterMirror(QtTree& t) : t_(t) {}

  // The view's own signals while the rows change are the tree's doing, not the user's.
  void ResetBegin() override {
    ++t_.syncing_;
    t_.model_->FilterResetBegin();
  }
  void ResetEnd() override {
    t_.model_->FilterResetEnd();
    if (t_.widget_) t_.ShowOpenRows();
    --t_.syncing_;
  }
  void InsertBegin(const Node* parent, int32_t place) override {
    ++t_.syncing_;
    parent_ = parent;
    place_ = place;
    t_.model_->FilterInsertBegin(parent, place);
  }
  void InsertEnd() override {
    t_.model_->FilterInsertEnd();
    if (const TreeFilter* f = t_.ActiveFilter())
      if (Node* top = f->ChildAt(parent_, place_); top && t_.widget_) t_.ShowOpenBelow(*top);
    --t_.syncing_;
  }
  void RemoveBegin(const Node& n, int32_t place) override {
    ++t_.syncing_;
    if (t_.widget_) {
      // As for a removed node: the view drops its current row with it, instead of moving on.
      for (const Node* c = TreeModel::NodeOf(t_.widget_->currentIndex()); c; c = c->Parent())
        if (c == &n) {
          t_.widget_->selectionModel()->clear();
          break;
        }
    }
    t_.model_->FilterRemoveBegin(n, place);
  }
  void RemoveEnd() override {
    t_.model_->FilterRemoveEnd();
    --t_.syncing_;
  }

 private:
  QtTree& t_;
  const Node* parent_ = nullptr;
  int32_t place_ = 0;
};

QtTree::QtTree(QWidget* parent) : model_(std::make_unique<TreeModel>(this)), mirror_(std::make_unique<Mirror>(*this)) {
  widget_ = new TreeWidget(this, parent);
  widget_->setModel(model_.get());
  delegate_ = new TreeDelegate(this, this, widget_);
  widget_->setItemDelegate(delegate_);
  model_->SetCheckHandler([this](Node& node, bool checked) {
    if (Syncing()) return false;
    Shielded("NodeCheck", [&] { OnUserCheck(node, checked); });
    return true;
  });
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
    if (CanDeleteWidgets())
      delete widget_.data();
    else
      model_->disconnect();  // the view left behind must not hear of the model going
  }
}

void QtTree::WidgetGone() {
  // The host's window took the widget with it; the model lives on without a view.
  if (delegate_) delegate_->tree_ = nullptr;
  delegate_ = nullptr;
}

void QtTree::AddRow(Node& n) {
  SyncGuard guard(*this);
  if (ActiveFilter()) return;  // the filter told of the rows it shows
  model_->Added(n);
  // A node can be expanded before it has children; the view shows that once it has one.
  Node* parent = n.Parent();
  if (parent && parent->Expanded()) {
    if (parent->ChildrenOnDemand()) OpenOnDemandLater(*parent);
    else ShowExpanded(*parent);
  }
}

// A node whose children come on demand stays closed in the view while it is open without
// children, and while they come; it opens in the view once they are all in, when the event
// loop turns, so the view's expanded state changes once for the whole run of adds.
void QtTree::OpenOnDemandLater(Node& n) {
  if (!widget_) return;
  const QModelIndex i = model_->IndexOf(&n);
  if (!i.isValid() || widget_->isExpanded(i)) return;
  widget_->viewport()->update();
  openingOnDemand_.emplace_back(&n);
  if (openingOnDemand_.size() > 1) return;
  QTimer::singleShot(0, widget_, [this] { OpenOnDemandNow(); });
}

void QtTree::OpenOnDemandNow() {
  if (openingOnDemand_.empty()) return;
  std::vector<Ref<Node>> nodes = std::move(openingOnDemand_);
  openingOnDemand_.clear();
  if (!widget_) return;
  SyncGuard guard(*this);
  for (const Ref<Node>& n : nodes) {
    if (!n->InTree() || !n->Expanded() || !n->Child()) continue;
    const QModelIndex i = model_->IndexOf(n.get());
    if (i.isValid() && !widget_->isExpanded(i)) widget_->setExpanded(i, true);
  }
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
  if (!ActiveFilter()) model_->Removing(top);  // else the filter told, if it showed the node
  if (!widget_) return;
  widget_->RowsRemoved();
  // A leaf, the common case, is kept here; a subtree comes whole from the tree once it is out
  // (KeepRemoved).
  if (!top.Child()) {
    removed_.emplace_back(&top);
    PostRelease();
  }
}

void QtTree::KeepRemoved(std::vector<Ref<Node>>& gone) {
  if (!widget_) return;
  removedSubtrees_.push_back(std::move(gone));
  PostRelease();
}

void QtTree::PostRelease() {
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
  std::vector<std::vector<Ref<Node>>> subtrees = std::move(removedSubtrees_);
  removedSubtrees_.clear();
}

void QtTree::ShowExpanded(Node& n) {
  if (!widget_) return;
  const QModelIndex i = model_->IndexOf(&n);
  if (!i.isValid()) return;
  if (n.ChildrenOnDemand() && n.Expanded() && !n.Child()) {
    // Open with nothing under it yet: closed in the view (see OpenOnDemandLater), drawn open.
    if (widget_->isExpanded(i)) widget_->setExpanded(i, false);
    widget_->viewport()->update();
    return;
  }
  const TreeFilter* f = ActiveFilter();
  const bool open = f ? f->Open(n) : n.Expanded();
  if (widget_->isExpanded(i) == open) return;
  widget_->setExpanded(i, open);
}

void QtTree::ShowExpander(Node& n) {
  if (!widget_ || n.Child()) return;  // with children it shows one either way
  // The row is drawn again, with or without its expander.
  widget_->LayOutLater();
  model_->Changed(n);
}

void QtTree::ResetRows() {
  SyncGuard guard(*this);
  model_->Reset();
  if (!widget_) return;
  ShowOpenRows();
}

void QtTree::ShowOpenRows() {
  // A reset forgets which rows were expanded and which was current; the tree knows.
  widget_->LayOutLater();
  if (const TreeFilter* made = FilterIfMade()) {
    // Under collapsed nodes too: they show expanded once their parent opens.
    const TreeFilter& f = *made;
    // The view's own expanded signal for each would come back to the tree as the user's.
    const bool blocked = widget_->blockSignals(true);
    for (Node* n : f.Active() ? f.OpenParents() : f.ExpandedNodes()) widget_->expand(model_->IndexOf(n));
    widget_->blockSignals(blocked);
    if (Node* s = SelectedNode()) ShowSelection(*s);
    return;
  }
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

void QtTree::FilterMade(TreeFilter& f) {
  filterMirror_ = std::make_unique<FilterMirror>(*this);
  f.SetView(filterMirror_.get());
}

void QtTree::ShowOpenBelow(Node& top) {
  const TreeFilter* f = ActiveFilter();
  if (!f) return;
  std::vector<Node*> stack{&top};
  while (!stack.empty()) {
    Node* n = stack.back();
    stack.pop_back();
    if (!f->Open(*n) || f->Count(n) == 0) continue;
    widget_->setExpanded(model_->IndexOf(n), true);
    for (int32_t i = 0; i < f->Count(n); ++i) stack.push_back(f->ChildAt(n, i));
  }
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
  OpenOnDemandNow();  // the rows as the host made them
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
  // A node open on demand without children is closed in the view and drawn open: the user's
  // opening it there is closing it. (With children come, the view opening it is just early.)
  if (expanded && n->ChildrenOnDemand() && n->Expanded() && !n->Child()) expanded = false;
  if (TreeFilter* f = ActiveFilter()) f->SetOpen(*node, expanded);
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
  const QScopedValueRollback opening(opening_, true);
  widget_->scrollTo(i);
  widget_->setCurrentIndex(i);
  widget_->edit(i);
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
  Qt::DropAction result = Qt::IgnoreAction;
  try {
    const QScopedValueRollback busy(dragging_, true);
    result = drag->exec(ActionsOf(allowed), ActionOf(allowed));
  } catch (...) {
    if (drag) drag->deleteLater();
    throw;
  }
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
