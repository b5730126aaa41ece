// The tree's node model: Node, Nodes and its enumerator, adding and removing nodes, and the
// layout behind HitTest. The indexes they keep are in tree_index.cpp and tree_rows.cpp.
#include <algorithm>
#include <cmath>
#include <utility>

#include "desk/text.h"
#include "desk/tree.h"
#include "desk/tree_filter.h"
#include "desk/tree_selection.h"
#include "tree/tree_index.h"
#include "tree/tree_rows.h"

namespace desk {

using detail::FoldKey;
// What the dispatch tables' rows below write kinds and types with.
using K = InvokeKind;
using T = VarType;

namespace {

// Holds the selection's change event for the length of a change to the nodes; Raise lets it
// go once the tree is whole again (the outermost holder's Raise is the one that tells).
class HoldSelection {
 public:
  explicit HoldSelection(TreeSelection* s) : s_(s) {
    if (s_) s_->Hold();
  }
  ~HoldSelection() {
    if (s_) s_->Unhold();  // a failure: the event waits for the next change that completes
  }
  HoldSelection(const HoldSelection&) = delete;
  HoldSelection& operator=(const HoldSelection&) = delete;
  // Last in its change: a handler may change the tree again, or release it.
  void Raise() {
    if (TreeSelection* s = std::exchange(s_, nullptr)) {
      s->Unhold();
      s->RaiseHeld();
    }
  }

 private:
  TreeSelection* s_;
};

// A key made only of digits would read as a position.
bool AllDigits(std::u16string_view key) {
  return !key.empty() && std::all_of(key.begin(), key.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

bool Absent(const Variant& v) { return v.IsMissing() || v.IsEmpty(); }

// Image indexes are kept as Longs, keys as Strings.
Variant ImageValue(const Variant& v) {
  if (Absent(v)) return Variant();
  if (v.IsObject()) Raise(Err::TypeMismatch);
  if (v.ValueType() == VarType::String) return v.Value();
  return Variant::Long(v.ToLong());
}

Variant NodeOrNothing(Node* n) { return n ? Variant::Object(Ref<Object>(n)) : Variant::Nothing(); }

Variant Done() { return Variant(); }

// Runs an update of the row index; false when the index could not follow, memory having run
// out included. The index is only a cache of the layout: the caller drops it then, and it is
// built again when next needed.
template <class F>
bool RowIndexKept(F update) noexcept {
  try {
    return update();
  } catch (...) {
    return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Node

Node::~Node() = default;

const Variant& Node::NoValue() {
  static const Variant none;
  return none;
}

Node::Extra& Node::Extras() {
  if (!extra_) extra_ = std::make_unique<Extra>();
  return *extra_;
}

// Out of its tree, a node keeps its own values but no links, so that nothing it still holds
// points at nodes that may already be gone.
void Node::Detach() {
  tree_ = nullptr;
  parent_ = firstChild_ = next_ = prev_ = nullptr;
  childCount_ = 0;
  filterBits_ = 0;
}

void Node::NotInTree() { Raise(Err::ObjectNotSet); }

TreeView& Node::Owner() const {
  CheckInTree();
  return *tree_;
}

void Node::SetText(std::u16string text) {
  TreeView& t = Owner();
  // The roots are laid out by their texts, and the selection's ranges by the layout.
  const bool reorder = !parent_ && t.Sorted() && t.selection_;
  if (reorder) t.selection_->BeforeRootsReorder();
  text_ = std::move(text);
  if (!parent_ && t.Sorted() && t.rowIndex_ && !RowIndexKept([&] { return t.rowIndex_->RootTextChanged(*this); }))
    t.rowIndex_.reset();
  if (reorder) t.selection_->AfterRootsReorder();
  t.NotifyChanged(*this, NodeField::Text);
}

void Node::SetKey(std::u16string key) {
  TreeView& t = Owner();
  std::u16string folded = key.empty() ? std::u16string() : FoldKey(key);
  t.CheckKey(key, folded, this);
  if (folded == key) folded.clear();  // the key is its own folded form: kept once
  // What takes memory comes first, so that running out leaves the old key in place. One key
  // out of the index and one in never grows it; a node's first key may.
  const bool keepFolded = !folded.empty() || (extra_ && !extra_->foldedKey.empty());
  if (keepFolded) Extras();
  if (key_.empty() && !key.empty()) t.index_->keys.Reserve();
  if (!key_.empty()) t.index_->keys.Erase(*this);
  if (keepFolded) extra_->foldedKey = std::move(folded);
  key_ = std::move(key);
  if (!key_.empty()) t.index_->keys.Insert(*this);
  t.NotifyChanged(*this, NodeField::Key);
}

void Node::SetTag(const Variant& tag) {
  TreeView& t = Owner();
  Variant v = tag.Value();
  if (!v.IsEmpty() || extra_) Extras().tag = std::move(v);
  t.NotifyChanged(*this, NodeField::Tag);
}

void Node::SetImage(const Variant& image) {
  TreeView& t = Owner();
  Variant v = ImageValue(image);
  if (!v.IsEmpty() || extra_) Extras().image = std::move(v);
  t.NotifyChanged(*this, NodeField::Image);
}

void Node::SetSelectedImage(const Variant& image) {
  TreeView& t = Owner();
  Variant v = ImageValue(image);
  if (!v.IsEmpty() || extra_) Extras().selectedImage = std::move(v);
  t.NotifyChanged(*this, NodeField::SelectedImage);
}

void Node::SetExpanded(bool expanded) {
  TreeView& t = Owner();
  if (expanded_ == expanded) return;
  expanded_ = expanded;
  if (t.rowIndex_) t.rowIndex_->ExpandedChanged(*this);
  t.NotifyChanged(*this, NodeField::Expanded);
  if (expanded) t.RaiseExpand(*this);
  else t.RaiseCollapse(*this);
}

void Node::SetChecked(bool checked) {
  TreeView& t = Owner();
  if (checked_ == checked) return;
  checked_ = checked;
  t.NotifyChanged(*this, NodeField::Checked);
}

void Node::SetChildrenOnDemand(bool onDemand) {
  TreeView& t = Owner();
  if (childrenOnDemand_ == onDemand) return;
  childrenOnDemand_ = onDemand;
  t.NotifyChanged(*this, NodeField::ChildrenOnDemand);
}

int32_t Node::Index() const { return Owner().index_->positions.PositionOf(slot_); }

Node* Node::Previous() const {
  CheckInTree();
  return PrevSibling();
}

Node* Node::FirstSibling() const {
  TreeView& t = Owner();
  return parent_ ? parent_->firstChild_ : t.firstRoot_;
}

Node* Node::LastSibling() const {
  TreeView& t = Owner();
  return LastOf(parent_ ? parent_->firstChild_ : t.firstRoot_);
}

Node* Node::Root() const {
  CheckInTree();
  const Node* n = this;
  while (n->parent_) n = n->parent_;
  return const_cast<Node*>(n);
}

bool Node::Selected() const { return Owner().selected_ == this; }

void Node::SetSelected(bool selected) {
  TreeView& t = Owner();
  Node* before = t.selected_;
  if (selected) t.selected_ = this;
  else if (t.selected_ == this) t.selected_ = nullptr;
  if (before == t.selected_) return;
  if (before) t.NotifyChanged(*before, NodeField::Selected);
  if (t.selected_) t.NotifyChanged(*t.selected_, NodeField::Selected);
}

std::u16string Node::FullPath() const {
  TreeView& t = Owner();
  std::vector<const Node*> chain;
  for (const Node* n = this; n; n = n->parent_) chain.push_back(n);
  const std::u16string sep = t.PathSeparator();
  std::u16string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (it != chain.rbegin()) path += sep;
    path += (*it)->text_;
  }
  return path;
}

const DispatchTable<Node>& Node::Table() {
  namespace id = nodeid;
  static const DispatchTable<Node> t(
      "INode", "{}",
      {
          {{"Text", id::kText, K::Get, {}, T::String}, [](Node& n, Args&) { return Variant::String(n.Text()); }},
          {{"Text", id::kText, K::Let, {}, T::String},
           [](Node& n, Args& a) { return n.SetText(a.NewValue().RawString()), Done(); }},
          {{"Key", id::kKey, K::Get, {}, T::String}, [](Node& n, Args&) { return Variant::String(n.Key()); }},
          {{"Key", id::kKey, K::Let, {}, T::String},
           [](Node& n, Args& a) { return n.SetKey(a.NewValue().RawString()), Done(); }},
          {{"Tag", id::kTag, K::Get, {}, T::Any}, [](Node& n, Args&) { return n.Tag(); }},
          {{"Tag", id::kTag, K::Let, {}, T::Any}, [](Node& n, Args& a) { return n.SetTag(a.NewValue()), Done(); }},
          {{"Tag", id::kTag, K::Set, {}, T::Any}, [](Node& n, Args& a) { return n.SetTag(a.NewValue()), Done(); }},
          {{"Index", id::kIndex, K::Get, {}, T::Long}, [](Node& n, Args&) { return Variant::Long(n.Index()); }},
          {{"Parent", id::kParent, K::Get, {}, T::Object}, [](Node& n, Args&) { return NodeOrNothing(n.Parent()); }},
          {{"Child", id::kChild, K::Get, {}, T::Object}, [](Node& n, Args&) { return NodeOrNothing(n.Child()); }},
          {{"Children", id::kChildren, K::Get, {}, T::Long},
           [](Node& n, Args&) { return Variant::Long(n.Children()); }},
          {{"Next", id::kNext, K::Get, {}, T::Object}, [](Node& n, Args&) { return NodeOrNothing(n.Next()); }},
          {{"Previous", id::kPrevious, K::Get, {}, T::Object},
           [](Node& n, Args&) { return NodeOrNothing(n.Previous()); }},
          {{"FirstSibling", id::kFirstSibling, K::Get, {}, T::Object},
           [](Node& n, Args&) { return NodeOrNothing(n.FirstSibling()); }},
          {{"LastSibling", id::kLastSibling, K::Get, {}, T::Object},
           [](Node& n, Args&) { return NodeOrNothing(n.LastSibling()); }},
          {{"Root", id::kRoot, K::Get, {}, T::Object}, [](Node& n, Args&) { return NodeOrNothing(n.Root()); }},
          {{"Expanded", id::kExpanded, K::Get, {}, T::Boolean},
           [](Node& n, Args&) { return Variant::Bool(n.Expanded()); }},
          {{"Expanded", id::kExpanded, K::Let, {}, T::Boolean},
           [](Node& n, Args& a) { return n.SetExpanded(a.NewValue().RawBoolean() != 0), Done(); }},
          {{"Checked", id::kChecked, K::Get, {}, T::Boolean},
           [](Node& n, Args&) { return Variant::Bool(n.Checked()); }},
          {{"Checked", id::kChecked, K::Let, {}, T::Boolean},
           [](Node& n, Args& a) { return n.SetChecked(a.NewValue().RawBoolean() != 0), Done(); }},
          {{"Selected", id::kSelected, K::Get, {}, T::Boolean},
           [](Node& n, Args&) { return Variant::Bool(n.Selected()); }},
          {{"Selected", id::kSelected, K::Let, {}, T::Boolean},
           [](Node& n, Args& a) { return n.SetSelected(a.NewValue().RawBoolean() != 0), Done(); }},
          {{"FullPath", id::kFullPath, K::Get, {}, T::String},
           [](Node& n, Args&) { return Variant::String(n.FullPath()); }},
          {{"Image", id::kImage, K::Get, {}, T::Any}, [](Node& n, Args&) { return n.Image(); }},
          {{"Image", id::kImage, K::Let, {}, T::Any},
           [](Node& n, Args& a) { return n.SetImage(a.NewValue()), Done(); }},
          {{"SelectedImage", id::kSelectedImage, K::Get, {}, T::Any},
           [](Node& n, Args&) { return n.SelectedImage(); }},
          {{"SelectedImage", id::kSelectedImage, K::Let, {}, T::Any},
           [](Node& n, Args& a) { return n.SetSelectedImage(a.NewValue()), Done(); }},
      });
  return t;
}

// ---------------------------------------------------------------------------------------------
// Nodes

Nodes::~Nodes() = default;

TreeView& Nodes::Owner() const {
  if (!tree_) Raise(Err::ObjectNotSet);
  return *tree_;
}

Ref<Node> Nodes::Add(const Variant& relative, const Variant& relationship, const Variant& key, const Variant& text,
                     const Variant& image, const Variant& selectedImage) {
  return Owner().AddNode(relative, relationship, key, text, image, selectedImage);
}

Ref<Node> Nodes::AddRoot(std::u16string_view key, std::u16string_view text) {
  return Add(Variant::Missing(), Variant::Missing(), Variant::String(std::u16string(key)),
             Variant::String(std::u16string(text)));
}

Ref<Node> Nodes::Add(Node& relative, Relationship rel, std::u16string_view key, std::u16string_view text) {
  return Add(Variant::Object(Ref<Object>(&relative)), Variant::Long(static_cast<int32_t>(rel)),
             Variant::String(std::u16string(key)), Variant::String(std::u16string(text)));
}

Ref<Node> Nodes::Item(const Variant& index) const { return Ref<Node>(Owner().Resolve(index)); }

Node* Nodes::Find(std::u16string_view key) const { return Owner().FindKey(key); }

int32_t Nodes::Count() const { return Owner().index_->positions.Count(); }

void Nodes::Remove(const Variant& index) {
  TreeView& t = Owner();
  t.RemoveNode(*t.Resolve(index));
}

void Nodes::Clear() { Owner().ClearNodes(); }

Ref<NodesEnum> Nodes::NewEnum() {
  Owner();
  return MakeRef<NodesEnum>(Ref<Nodes>(this));
}

const DispatchTable<Nodes>& Nodes::Table() {
  namespace id = nodesid;
  static const DispatchTable<Nodes> t(
      "INodes", "{}",
      {
          {{"Item", id::kItem, K::Method, {{"Index", T::Any}}, T::Object},
           [](Nodes& c, Args& a) { return Variant::Object(c.Item(a[0])); }},
          {{"Count", id::kCount, K::Get, {}, T::Long}, [](Nodes& c, Args&) { return Variant::Long(c.Count()); }},
          {{"Add",
            id::kAdd,
            K::Method,
            {{"Relative", T::Any, false, true},
             {"Relationship", T::Any, false, true},
             {"Key", T::Any, false, true},
             {"Text", T::Any, false, true},
             {"Image", T::Any, false, true},
             {"SelectedImage", T::Any, false, true}},
            T::Object},
           [](Nodes& c, Args& a) { return Variant::Object(c.Add(a[0], a[1], a[2], a[3], a[4], a[5])); }},
          {{"Remove", id::kRemove, K::Method, {{"Index", T::Any}}},
           [](Nodes& c, Args& a) { return c.Remove(a[0]), Done(); }},
          {{"Clear", id::kClear, K::Method, {}}, [](Nodes& c, Args&) { return c.Clear(), Done(); }},
          {{"_NewEnum", id::kNewEnum, K::Method, {}, T::Object, nullptr, true},
           [](Nodes& c, Args&) { return Variant::Object(c.NewEnum()); }},
      });
  return t;
}

// ---------------------------------------------------------------------------------------------
// Enumerator

NodesEnum::NodesEnum(Ref<Nodes> nodes) : nodes_(std::move(nodes)) { nodes_->enums_.push_back(this); }

NodesEnum::~NodesEnum() { std::erase(nodes_->enums_, this); }

bool NodesEnum::Next(Ref<Node>& out) {
  TreeView* t = nodes_->tree_;
  if (!t || pos_ >= t->index_->positions.Count()) return false;
  out = Ref<Node>(t->index_->positions.At(++pos_));
  return true;
}

const DispatchTable<NodesEnum>& NodesEnum::Table() {
  static const DispatchTable<NodesEnum> t("IEnumVARIANT", "{00020404-0000-0000-C000-000000000046}",
                                          {
                                              {{"Next", 1, K::Method, {{"Item", T::Any, true}}, T::Boolean},
                                               [](NodesEnum& e, Args& a) {
                                                 Ref<Node> n;
                                                 bool ok = e.Next(n);
                                                 a[0].Assign(ok ? NodeOrNothing(n.get()) : Variant());
                                                 return Variant::Bool(ok);
                                               }},
                                              {{"Reset", 2, K::Method, {}},
                                               [](NodesEnum& e, Args&) { return e.Reset(), Done(); }},
                                          });
  return t;
}

// ---------------------------------------------------------------------------------------------
// The tree's model operations

void TreeView::NotifyChanged(Node& n, NodeField f) {
  Notify([&](TreeObserver& o) { o.NodeChanged(n, f); });
}

void TreeView::Notify(const std::function<void(TreeObserver&)>& f) {
  if (observers_.empty()) return;
  HoldSelection hold(selection_.get());
  // One observer (a backend's) is the common case: nothing is left to walk after its call,
  // whatever it removes.
  if (observers_.size() == 1) {
    f(*observers_.front());
  } else {
    std::vector<TreeObserver*> now = observers_;  // an observer may remove itself
    for (TreeObserver* o : now)
      if (std::find(observers_.begin(), observers_.end(), o) != observers_.end()) f(*o);
  }
  hold.Raise();
}

void TreeView::AddObserver(TreeObserver* o) {
  if (o && std::find(observers_.begin(), observers_.end(), o) == observers_.end()) observers_.push_back(o);
}

void TreeView::RemoveObserver(TreeObserver* o) { std::erase(observers_, o); }

Node* TreeView::Resolve(const Variant& index) const {
  const Variant& v = index.Deref();
  switch (v.Type()) {
    case VarType::String: {
      Node* n = FindKey(v.RawString());
      if (!n) Raise(Err::ElementNotFound);
      return n;
    }
    case VarType::Object: {
      if (!v.RawObject()) Raise(Err::ObjectNotSet);
      Node* n = dynamic_cast<Node*>(v.RawObject().get());
      if (!n) Raise(Err::TypeMismatch);
      if (n->tree_ != this) Raise(Err::ElementNotFound);
      return n;
    }
    default: {
      int32_t pos = v.ToLong();
      if (pos < 1 || pos > index_->positions.Count()) Raise(Err::IndexOutOfBounds);
      return index_->positions.At(pos);
    }
  }
}

Node* TreeView::FindKey(std::u16string_view key) const {
  if (key.empty()) return nullptr;
  // Most keys are already in folded form (ASCII without capitals): look them up as they are.
  bool folded = true;
  for (char16_t c : key)
    if (c >= 0x80 || (c >= u'A' && c <= u'Z')) {
      folded = false;
      break;
    }
  return folded ? index_->keys.Find(key) : index_->keys.Find(FoldKey(key));
}

void TreeView::CheckKey(std::u16string_view key, const std::u16string& folded, const Node* self,
                        std::optional<size_t> hash) const {
  if (key.empty()) return;
  if (AllDigits(key)) Raise(Err::InvalidKey);
  Node* other = hash ? index_->keys.Find(folded, *hash) : index_->keys.Find(folded);
  if (other && other != self) Raise(Err::KeyNotUnique);
}

Ref<Node> TreeView::AddNode(const Variant& relative, const Variant& relationship, const Variant& key,
                            const Variant& text, const Variant& image, const Variant& selectedImage) {
  // Everything is checked and converted before the tree changes, so a failing Add leaves it
  // as it was.
  // The new key's place in a large key table is most likely out of the cache: fetched now, it
  // comes while the relative is found and the arguments converted.
  // The key is hashed once: most keys are their own folded form.
  std::optional<size_t> rawHash;
  if (key.ValueType() == VarType::String) {
    rawHash = detail::KeyIndex::Hash(key.RawString());
    index_->keys.Prefetch(*rawHash);
  }
  Relationship rel = Relationship::Last;
  bool relGiven = !Absent(relationship);
  if (relGiven) {
    int32_t r = relationship.ToLong();
    if (r < 0 || r > 4) Raise(Err::InvalidProcedureCall);
    rel = static_cast<Relationship>(r);
  }
  Node* rn = Absent(relative) ? nullptr : Resolve(relative);
  if (rn && !relGiven) rel = Relationship::Next;
  std::u16string k = Absent(key) ? std::u16string() : key.ToString();
  std::u16string folded = k.empty() ? std::u16string() : FoldKey(k);
  const size_t hash = rawHash && key.RawString() == folded ? *rawHash : detail::KeyIndex::Hash(folded);
  CheckKey(k, folded, nullptr, hash);
  std::u16string t = Absent(text) ? std::u16string() : text.ToString();
  Variant img = ImageValue(image);
  Variant simg = ImageValue(selectedImage);

  Node* parent = nullptr;
  Node* before = nullptr;  // insert before this sibling; null: at the end
  if (!rn) {
    if (rel == Relationship::First) before = firstRoot_;
  } else {
    switch (rel) {
      case Relationship::First: parent = rn->parent_; before = rn->FirstSibling(); break;
      case Relationship::Last: parent = rn->parent_; break;
      case Relationship::Next: parent = rn->parent_; before = rn->next_; break;
      case Relationship::Previous: parent = rn->parent_; before = rn; break;
      case Relationship::Child: parent = rn; break;
    }
  }

  Ref<Node> n(new Node);
  n->text_ = std::move(t);
  n->key_ = std::move(k);
  if (folded != n->key_) n->Extras().foldedKey = std::move(folded);  // else the key is kept once
  if (!img.IsEmpty()) n->Extras().image = std::move(img);
  if (!simg.IsEmpty()) n->Extras().selectedImage = std::move(simg);
  // The indexes' memory is taken before either changes: from here on nothing can fail.
  if (!n->key_.empty()) index_->keys.Reserve();
  index_->positions.Reserve();
  n->tree_ = this;
  n->slot_ = static_cast<uint32_t>(index_->positions.Append(n));
  if (!n->key_.empty()) index_->keys.Insert(*n, hash);  // by its slot
  Link(*n, parent, before);
  if (!observers_.empty()) Notify([&](TreeObserver& o) { o.NodeAdded(*n); });
  return n;
}

void TreeView::Link(Node& n, Node* parent, Node* before) {
  Node*& first = parent ? parent->firstChild_ : firstRoot_;
  n.parent_ = parent;
  n.next_ = before;
  if (!first) {
    first = n.prev_ = &n;  // alone: its own last
  } else if (before == first) {
    n.prev_ = first->prev_;  // the last, which the first points at
    first->prev_ = &n;
    first = &n;
  } else {
    Node* const prev = before ? before->prev_ : first->prev_;
    n.prev_ = prev;
    prev->next_ = &n;
    if (before) before->prev_ = &n;
    else first->prev_ = &n;  // the new last
  }
  if (parent) ++parent->childCount_;
  if (rowIndex_ && !RowIndexKept([&] { return rowIndex_->Inserted(n, Sorted()); })) rowIndex_.reset();
}

void TreeView::Unlink(Node& n) {
  if (rowIndex_) rowIndex_->Removing(n);
  Node*& first = n.parent_ ? n.parent_->firstChild_ : firstRoot_;
  if (&n == first) {
    first = n.next_;
    if (first) first->prev_ = n.prev_;  // the last
  } else {
    n.prev_->next_ = n.next_;
    (n.next_ ? n.next_ : first)->prev_ = n.prev_;  // the first points at a new last
  }
  if (n.parent_) --n.parent_->childCount_;
}

void TreeView::RemoveNode(Node& top) {
  // The selection hears of the removal before the node goes; its event waits until it has.
  HoldSelection hold(selection_.get());
  Ref<Node> keepTop(&top);
  // Its key's place in a large table comes while the views hear of the removal.
  if (!top.key_.empty()) index_->keys.Prefetch(top.FoldedKey());
  // The subtree, parents before children, listed before anything changes: these lists are all
  // the memory a removal takes, so running out of it leaves the tree as it was.
  std::vector<Node*> order;
  std::vector<Ref<Node>> gone;
  size_t keyed = 0;  // of the subtree listed
  if (top.firstChild_) {
    std::vector<Node*> stack{&top};
    while (!stack.empty()) {
      Node* n = stack.back();
      stack.pop_back();
      // Last child first, so that they come off the stack in order.
      if (Node* first = n->firstChild_)
        for (Node* c = first->prev_;; c = c->prev_) {
          stack.push_back(c);
          if (c == first) break;
        }
      order.push_back(n);
      keyed += n->key_.empty() ? 0 : 1;
    }
    gone.reserve(order.size());
  }
  if (!observers_.empty()) Notify([&](TreeObserver& o) { o.NodeAboutToBeRemoved(top); });
  Unlink(top);
  // The references are released only once the tree is consistent again, since a node's last
  // release may run a host's code.
  // A subtree holding most of the keys, or a good share of the nodes, is taken out of the
  // indexes at once: the key table and the position counts are made again from what is left,
  // instead of a look-up in a large table and a walk up the counts for each node.
  const bool refillKeys = keyed >= 1024 && keyed > 4 * (index_->keys.Count() - keyed);
  const bool recount = nodes_->enums_.empty() && order.size() >= 1024 &&
                       order.size() * 16 > index_->positions.SlotCount();
  auto drop = [&](Node& n) {
    if (!nodes_->enums_.empty()) {
      const int32_t pos = index_->positions.PositionOf(n.slot_);  // 1-based
      for (NodesEnum* e : nodes_->enums_)
        if (e->pos_ >= pos) --e->pos_;
    }
    if (!n.key_.empty() && !refillKeys) index_->keys.Erase(n);
    if (selected_ == &n) selected_ = nullptr;
    Ref<Node> taken = recount ? index_->positions.TakeUncounted(n.slot_) : index_->positions.Take(n.slot_);
    n.Detach();  // the list of the subtree was made first: nothing walks its links any more
    return taken;
  };
  Ref<Node> leaf;
  if (order.empty()) {
    leaf = drop(top);  // the common case: no lists to build
  } else {
    for (Node* n : order) gone.push_back(drop(*n));
    if (recount) index_->positions.Recount();
    if (refillKeys) index_->keys.Refill();
  }
  if (!gone.empty() && !observers_.empty()) Notify([&](TreeObserver& o) { o.NodesRemoved(gone); });
  if (editing_ && !editing_->InTree()) editing_.reset();
  index_->CompactIfSparse(
      [&](Node& n, size_t slot) {
        n.slot_ = static_cast<uint32_t>(slot);
        if (filter_) filter_->SlotsMoved();
      },
      // The row index's entries are by slot: they follow, without a walk over every node.
      [&](const std::vector<uint32_t>& moved) {
        if (rowIndex_) rowIndex_->SlotsMoved(moved);
      });
  hold.Raise();
}

void TreeView::DetachAll() {
  // Released on the way out, once the tree is consistent: a node's last release may run a
  // host's code.
  std::vector<Ref<Node>> all = index_->positions.TakeAll();
  index_->keys.Clear();
  firstRoot_ = selected_ = nullptr;
  rowIndex_.reset();
  // A node only the tree holds, with no Tag or pictures, runs nothing when released: it goes
  // at once, in the one pass over the nodes; the others once every node is detached.
  size_t kept = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    if (!all[i]) continue;
    if (all[i]->RefCount() == 1 && !all[i]->extra_) {
      all[i].reset();  // gone with its links: nothing reads them
      continue;
    }
    all[i]->Detach();
    if (kept++ != i) all[kept - 1] = std::move(all[i]);
  }
  all.resize(kept);
  if (nodes_)
    for (NodesEnum* e : nodes_->enums_) e->pos_ = 0;
  editing_.reset();
}

void TreeView::ClearNodes() {
  DetachAll();
  Notify([](TreeObserver& o) { o.Cleared(); });
}

// ---------------------------------------------------------------------------------------------
// Layout and hit testing

Node* TreeView::NodeAtRow(int64_t row) {
  if (row < 0) return nullptr;
  if (const TreeFilter* f = ActiveFilter()) {
    // Laid out afresh: the shown rows are few next to the tree's, or the filter is short-lived.
    std::vector<Node*> rows = f->VisibleRows();
    return row < static_cast<int64_t>(rows.size()) ? rows[static_cast<size_t>(row)] : nullptr;
  }
  if (!rowIndex_) rowIndex_.reset(new detail::RowIndex(*this));
  return rowIndex_->At(row);
}

std::vector<Node*> TreeView::VisibleRows() const {
  if (const TreeFilter* f = ActiveFilter()) return f->VisibleRows();
  std::vector<Node*> rows;
  for (Node* root : detail::DisplayRoots(firstRoot_, Sorted())) {
    // Depth first without a stack: down into expanded children, else on to the next sibling
    // of the nearest ancestor that has one.
    Node* n = root;
    while (n) {
      rows.push_back(n);
      if (n->expanded_ && n->firstChild_) {
        n = n->firstChild_;
        continue;
      }
      while (n != root && !n->next_) n = n->parent_;
      n = n == root ? nullptr : n->next_;
    }
  }
  return rows;
}

Ref<Node> TreeView::HitTest(float x, float y) {
  // Written so that NaN falls outside.
  if (!(x >= 0 && x < container_.width && y >= 0 && y < container_.height)) return nullptr;
  return Ref<Node>(NodeAtRow(static_cast<int64_t>(std::floor(static_cast<double>(y) / kRowHeight))));
}

}  // namespace desk
