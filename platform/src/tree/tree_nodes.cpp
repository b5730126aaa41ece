// The tree's node model: the position index, Node, Nodes and its enumerator, adding and
// removing nodes, and the row layout behind HitTest.
#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>

#include "desk/text.h"
#include "desk/tree.h"
#include "tree/tree_index.h"
#include "tree/tree_rows.h"

namespace desk {

namespace {

// Keys compare with letter case ignored; most keys are ASCII, which folds without ICU.
std::u16string FoldKey(std::u16string_view key) {
  std::u16string out(key);
  for (char16_t& c : out) {
    if (c >= 0x80) return FoldCase(key);
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + (u'a' - u'A'));
  }
  return out;
}

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

}  // namespace

// ---------------------------------------------------------------------------------------------
// Position index

namespace detail {

int32_t PositionIndex::Prefix(size_t slots) const {
  int32_t sum = 0;
  for (size_t i = slots; i > 0; i -= i & (~i + 1)) sum += fenwick_[i];
  return sum;
}

void PositionIndex::Reserve() {
  // Append adds one to each (and the unused first entry to an empty Fenwick tree).
  auto room = [](auto& v) {
    if (v.size() == v.capacity()) v.reserve(std::max<size_t>(8, v.capacity() * 2));
  };
  room(slots_);
  room(fenwick_);
}

size_t PositionIndex::Append(Ref<Node> n) {
  if (fenwick_.empty()) fenwick_.push_back(0);
  slots_.push_back(std::move(n));
  size_t p = slots_.size();  // 1-based
  size_t low = p & (~p + 1);
  // fenwick_[p] covers (p - low, p]: the new node plus the live ones before it in that range.
  fenwick_.push_back(1 + Prefix(p - 1) - Prefix(p - low));
  ++count_;
  return p - 1;
}

Ref<Node> PositionIndex::Take(size_t slot) {
  Ref<Node> n = std::move(slots_[slot]);
  for (size_t i = slot + 1; i < fenwick_.size(); i += i & (~i + 1)) --fenwick_[i];
  --count_;
  return n;
}

int32_t PositionIndex::PositionOf(size_t slot) const { return Prefix(slot + 1); }

Node* PositionIndex::At(int32_t position) const {
  const size_t n = slots_.size();
  size_t pos = 0;
  int32_t rest = position;
  for (size_t step = std::bit_floor(n); step > 0; step /= 2) {
    if (pos + step <= n && fenwick_[pos + step] < rest) {
      pos += step;
      rest -= fenwick_[pos];
    }
  }
  return slots_[pos].get();  // the Fenwick tree's slot pos+1 (it counts from 1)
}

void PositionIndex::Rebuild() {
  fenwick_.assign(slots_.size() + 1, 0);
  for (size_t i = 1; i < fenwick_.size(); ++i) {
    fenwick_[i] += slots_[i - 1] ? 1 : 0;
    size_t j = i + (i & (~i + 1));
    if (j < fenwick_.size()) fenwick_[j] += fenwick_[i];
  }
}

std::vector<Ref<Node>> PositionIndex::TakeAll() {
  std::vector<Ref<Node>> all = std::move(slots_);  // leaves slots_ empty
  fenwick_.clear();
  count_ = 0;
  return all;
}

// Key index

Node* KeyIndex::Find(std::u16string_view folded) const {
  if (slots_.empty()) return nullptr;
  const size_t h = Hash(folded);
  const size_t mask = slots_.size() - 1;
  for (size_t i = h & mask;; i = (i + 1) & mask) {
    const Slot& s = slots_[i];
    if (!s.node) return nullptr;
    if (s.hash == h && s.node->FoldedKey() == folded) return s.node;
  }
}

void KeyIndex::Place(Slot s) {
  const size_t mask = slots_.size() - 1;
  size_t i = s.hash & mask;
  while (slots_[i].node) i = (i + 1) & mask;
  slots_[i] = s;
}

void KeyIndex::Reserve() {
  if ((count_ + 1) * 4 <= slots_.size() * 3) return;
  // The larger table is made before the old one is let go: running out of memory here leaves
  // every key where it was.
  std::vector<Slot> old(std::max<size_t>(16, slots_.size() * 2), Slot{0, nullptr});
  old.swap(slots_);
  for (const Slot& s : old)
    if (s.node) Place(s);
}

void KeyIndex::Insert(Node& n) {
  Place(Slot{Hash(n.FoldedKey()), &n});
  ++count_;
}

void KeyIndex::Erase(Node& n) {
  if (slots_.empty()) return;
  const size_t mask = slots_.size() - 1;
  size_t i = Hash(n.FoldedKey()) & mask;
  while (slots_[i].node && slots_[i].node != &n) i = (i + 1) & mask;
  if (!slots_[i].node) return;
  // Move later members of the run back into the hole when their home is not between the
  // hole and where they are.
  for (size_t j = (i + 1) & mask; slots_[j].node; j = (j + 1) & mask) {
    const size_t home = slots_[j].hash & mask;
    const bool stays = i <= j ? (home > i && home <= j) : (home > i || home <= j);
    if (stays) continue;
    slots_[i] = slots_[j];
    i = j;
  }
  slots_[i] = Slot{0, nullptr};
  --count_;
}

void KeyIndex::Clear() {
  slots_ = {};
  count_ = 0;
}

}  // namespace detail

namespace {

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

// Roots in display order: sibling order, or by text (case ignored, ties in sibling order).
std::vector<Node*> DisplayRoots(Node* first, bool sorted) {
  std::vector<Node*> roots;
  for (Node* n = first; n; n = n->Next()) roots.push_back(n);
  if (sorted) {
    std::vector<std::pair<std::u16string, Node*>> keyed;
    keyed.reserve(roots.size());
    for (Node* n : roots) keyed.emplace_back(FoldCase(n->Text()), n);
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < roots.size(); ++i) roots[i] = keyed[i].second;
  }
  return roots;
}

}  // namespace

namespace detail {

RowIndex& RowIndex::Of(TreeView& t) {
  if (!t.rowIndex_) t.rowIndex_.reset(new RowIndex(t));
  return *t.rowIndex_;
}

Node* RowIndex::At(int64_t row) const {
  uint32_t x = roots_;
  while (x != kNone) {
    const Entry& e = e_[x];
    const int64_t left = e.leftSum;
    if (row < left) {
      x = e.left;
      continue;
    }
    row -= left;
    if (row < e.span) {
      if (row == 0) return t_.index_->positions.AtSlot(x);
      row -= 1;
      x = e.kids;
      continue;
    }
    row -= e.span;
    x = e.right;
  }
  return nullptr;
}

Node* RowIndex::ChildAt(const Node* parent, int32_t place) const {
  uint32_t x = ListRoot(parent);
  while (x != kNone) {
    const int32_t left = Count(e_[x].left);
    if (place < left) {
      x = e_[x].left;
    } else if (place == left) {
      return t_.index_->positions.AtSlot(x);
    } else {
      place -= left + 1;
      x = e_[x].right;
    }
  }
  return nullptr;
}

int32_t RowIndex::PlaceOf(const Node& n) const {
  // The ends of a list in sibling order are the common cases (adding last, removing first).
  if (n.parent_ || !t_.Sorted()) {
    if (!n.prev_) return 0;
    if (!n.next_) return Count(n.parent_) - 1;
  }
  uint32_t x = n.slot_;
  int32_t place = Count(e_[x].left);
  for (uint32_t a = e_[x].up; a != kNone; x = a, a = e_[a].up)
    if (e_[a].right == x) place += Count(e_[a].left) + 1;
  return place;
}

bool RowIndex::Inserted(Node& n, bool sorted) {
  const uint32_t s = n.slot_;
  if (e_.size() <= s) e_.resize(static_cast<size_t>(s) + 1);
  e_[s] = Entry{};
  e_[s].span = e_[s].sum = e_[s].count = 1;
  if (!n.parent_ && sorted) {
    if (!PlaceRoot(s, n)) return false;
  } else if (n.next_) {
    AttachBefore(s, n.next_->slot_);
  } else if (n.prev_) {
    AttachAfter(s, n.prev_->slot_);
  }  // else alone in its list, hung from nothing: Settle makes it the list's root
  uint32_t& root = ListRoot(n.parent_);
  Settle(s, root);
  Spread(n.parent_, 1);
  return true;
}

void RowIndex::Removing(Node& n) {
  const uint32_t s = n.slot_;
  if (e_[s].span == 0) return;  // already taken out (every node in the tree has its entry)
  const int32_t span = e_[s].span;
  Unhook(s, ListRoot(n.parent_));
  Spread(n.parent_, -span);
  e_[s].span = 0;
}

void RowIndex::ExpandedChanged(Node& n) {
  Entry& e = e_[n.slot_];
  const int32_t span = 1 + (n.expanded_ ? Sum(e.kids) : 0);
  const int32_t delta = span - e.span;
  if (!delta) return;
  e.span = span;
  e.sum += delta;
  AddAbove(n.slot_, delta, 0);
  Spread(n.parent_, delta);
}

bool RowIndex::RootTextChanged(Node& n) {
  const uint32_t s = n.slot_;
  move_ = Move{&n, PlaceOf(n), 0};
  Unhook(s, roots_);
  Entry& e = e_[s];
  e.left = e.right = e.up = kNone;
  e.sum = e.span;
  e.leftSum = 0;
  e.count = 1;
  if (!PlaceRoot(s, n)) return false;
  Settle(s, roots_);
  move_.to = PlaceOf(n);
  return true;
}

bool RowIndex::TakeMove(const Node& n, int32_t& from, int32_t& to) {
  if (move_.node != &n) return false;
  from = move_.from;
  to = move_.to;
  move_ = Move{};
  return true;
}

// A fixed pseudo-random priority per slot keeps each treap balanced in expectation.
uint32_t RowIndex::Priority(uint32_t s) {
  uint64_t h = (static_cast<uint64_t>(s) + 1) * 0x9E3779B97F4A7C15ull;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  return static_cast<uint32_t>(h >> 32);
}

uint32_t RowIndex::ListRoot(const Node* parent) const { return parent ? e_[parent->slot_].kids : roots_; }
uint32_t& RowIndex::ListRoot(const Node* parent) { return parent ? e_[parent->slot_].kids : roots_; }

// Hangs s under `up` as a leaf and counts its span along the path.
void RowIndex::Attach(uint32_t s, uint32_t up, bool left) {
  e_[s].up = up;
  if (up == kNone) return;
  (left ? e_[up].left : e_[up].right) = s;
  AddAbove(s, e_[s].sum, e_[s].count);
}

// Just before b in its list.
void RowIndex::AttachBefore(uint32_t s, uint32_t b) {
  if (e_[b].left == kNone) return Attach(s, b, true);
  b = e_[b].left;
  while (e_[b].right != kNone) b = e_[b].right;
  Attach(s, b, false);
}

// Just after a in its list.
void RowIndex::AttachAfter(uint32_t s, uint32_t a) {
  if (e_[a].right == kNone) return Attach(s, a, false);
  a = e_[a].right;
  while (e_[a].left != kNone) a = e_[a].left;
  Attach(s, a, true);
}

// Roots in order of their folded texts, equal texts in sibling order: a root that is first or
// last among the roots goes before or after its equals, one whose sibling has its text goes
// next to that sibling. Otherwise its place among equals needs the sibling order of roots the
// index does not keep: false, unless no other root has its text.
bool RowIndex::PlaceRoot(uint32_t s, Node& n) {
  // FoldKey folds as FoldCase does, without ICU for ASCII texts: one fold per step down.
  const std::u16string key = FoldKey(n.text_);
  if (n.prev_ && n.next_) {
    if (FoldKey(n.prev_->text_) == key) return AttachAfter(s, n.prev_->slot_), true;
    if (FoldKey(n.next_->text_) == key) return AttachBefore(s, n.next_->slot_), true;
  }
  // Both siblings present: the place among equals cannot matter (see below).
  const bool afterEquals = !n.next_;
  uint32_t x = roots_, up = kNone;
  bool left = false, sawEqual = false;
  while (x != kNone) {
    up = x;
    const std::u16string other = FoldKey(t_.index_->positions.AtSlot(x)->text_);
    sawEqual = sawEqual || other == key;
    left = afterEquals ? key < other : key <= other;
    x = left ? e_[x].left : e_[x].right;
  }
  // Descending to one end of the equals passes the nearest of them, if any.
  if (sawEqual && n.prev_ && n.next_) return false;
  Attach(s, up, left);
  return true;
}

// Lifts a new leaf to its place by priority.
void RowIndex::Settle(uint32_t s, uint32_t& root) {
  if (e_[s].up == kNone) root = s;
  while (e_[s].up != kNone && Priority(s) > Priority(e_[s].up)) RotateUp(s, root);
}

// Takes s out of its list's treap, its own span and children kept.
void RowIndex::Unhook(uint32_t s, uint32_t& root) {
  Entry* e = &e_[s];
  while (e->left != kNone && e->right != kNone)
    RotateUp(Priority(e->left) > Priority(e->right) ? e->left : e->right, root);
  AddAbove(s, -e->span, -1);
  const uint32_t child = e->left != kNone ? e->left : e->right;
  const uint32_t up = e->up;
  if (child != kNone) e_[child].up = up;
  if (up == kNone) {
    root = child;
  } else {
    (e_[up].left == s ? e_[up].left : e_[up].right) = child;
  }
}

// The sums of x's treap ancestors change by delta rows and `count` nodes.
void RowIndex::AddAbove(uint32_t x, int32_t delta, int32_t count) {
  for (uint32_t a = e_[x].up; a != kNone; x = a, a = e_[a].up) {
    e_[a].sum += delta;
    e_[a].count += count;
    if (e_[a].left == x) e_[a].leftSum += delta;
  }
}

// Lifts x above its treap parent; `root` is the list's root, which x may become.
void RowIndex::RotateUp(uint32_t x, uint32_t& root) {
  const uint32_t p = e_[x].up, g = e_[p].up;
  if (e_[p].left == x) {
    e_[p].left = e_[x].right;
    if (e_[x].right != kNone) e_[e_[x].right].up = p;
    e_[x].right = p;
  } else {
    e_[p].right = e_[x].left;
    if (e_[x].left != kNone) e_[e_[x].left].up = p;
    e_[x].left = p;
  }
  e_[p].up = x;
  e_[x].up = g;
  if (g != kNone) (e_[g].left == p ? e_[g].left : e_[g].right) = x;
  else root = x;
  e_[x].sum = e_[p].sum;
  e_[x].count = e_[p].count;
  e_[p].leftSum = Sum(e_[p].left);
  e_[p].sum = e_[p].span + e_[p].leftSum + Sum(e_[p].right);
  e_[p].count = 1 + Count(e_[p].left) + Count(e_[p].right);
  e_[x].leftSum = Sum(e_[x].left);
}

// A span below `parent` changed by delta: so do the spans of its expanded ancestors, up to
// the first collapsed one, whose span stays one row.
void RowIndex::Spread(Node* parent, int32_t delta) {
  for (Node* p = parent; p && delta && p->expanded_; p = p->parent_) {
    e_[p->slot_].span += delta;
    e_[p->slot_].sum += delta;
    AddAbove(p->slot_, delta, 0);
  }
}

// A treap over a list in order (Cartesian tree by priority), its sums from the spans.
uint32_t RowIndex::BuildList(const std::vector<uint32_t>& list) {
  std::vector<uint32_t> stack;
  for (uint32_t s : list) {
    uint32_t last = kNone;
    while (!stack.empty() && Priority(stack.back()) < Priority(s)) {
      last = stack.back();
      stack.pop_back();
    }
    e_[s].left = last;
    if (last != kNone) e_[last].up = s;
    if (!stack.empty()) {
      e_[stack.back()].right = s;
      e_[s].up = stack.back();
    }
    stack.push_back(s);
  }
  if (stack.empty()) return kNone;
  SumUp(stack.front());
  return stack.front();
}

void RowIndex::SumUp(uint32_t top) {
  // Post-order without recursion: children's sums before their parent's.
  std::vector<std::pair<uint32_t, bool>> work{{top, false}};
  while (!work.empty()) {
    auto [x, done] = work.back();
    work.pop_back();
    if (done) {
      e_[x].leftSum = Sum(e_[x].left);
      e_[x].sum = e_[x].span + e_[x].leftSum + Sum(e_[x].right);
      e_[x].count = 1 + Count(e_[x].left) + Count(e_[x].right);
      continue;
    }
    work.push_back({x, true});
    if (e_[x].left != kNone) work.push_back({e_[x].left, false});
    if (e_[x].right != kNone) work.push_back({e_[x].right, false});
  }
}

namespace {
std::atomic<uint64_t> g_rowIndexBuilds{0};
}  // namespace

uint64_t RowIndex::Builds() { return g_rowIndexBuilds.load(std::memory_order_relaxed); }

void RowIndex::Build() {
  g_rowIndexBuilds.fetch_add(1, std::memory_order_relaxed);
  e_.assign(t_.index_->positions.SlotCount(), Entry{});
  // Nodes in post-order, so that a node's children lists are built before its span.
  std::vector<Node*> order;
  std::vector<std::pair<Node*, bool>> work;
  for (Node* r = t_.firstRoot_; r; r = r->next_) work.push_back({r, false});
  while (!work.empty()) {
    auto [n, done] = work.back();
    work.pop_back();
    if (done) {
      order.push_back(n);
      continue;
    }
    work.push_back({n, true});
    for (Node* c = n->firstChild_; c; c = c->next_) work.push_back({c, false});
  }
  std::vector<uint32_t> list;
  for (Node* n : order) {
    list.clear();
    for (Node* c = n->firstChild_; c; c = c->next_) list.push_back(c->slot_);
    Entry& e = e_[n->slot_];
    e.kids = BuildList(list);
    e.span = 1 + (n->expanded_ ? Sum(e.kids) : 0);
  }
  list.clear();
  std::vector<Node*> roots = DisplayRoots(t_.firstRoot_, t_.Sorted());
  for (Node* r : roots) list.push_back(r->slot_);
  roots_ = BuildList(list);
}

void RowIndexDeleter::operator()(RowIndex* r) const noexcept { delete r; }
void NodeIndexDeleter::operator()(NodeIndex* x) const noexcept { delete x; }

}  // namespace detail

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
  parent_ = firstChild_ = lastChild_ = next_ = prev_ = nullptr;
  childCount_ = 0;
}

void Node::CheckInTree() const {
  if (!tree_) Raise(Err::ObjectNotSet);
}

TreeView& Node::Owner() const {
  CheckInTree();
  return *tree_;
}

void Node::SetText(std::u16string text) {
  TreeView& t = Owner();
  text_ = std::move(text);
  // The roots are laid out by their texts.
  if (!parent_ && t.Sorted() && t.rowIndex_ && !RowIndexKept([&] { return t.rowIndex_->RootTextChanged(*this); }))
    t.rowIndex_.reset();
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

int32_t Node::Index() const { return Owner().index_->positions.PositionOf(slot_); }

Node* Node::Parent() const {
  CheckInTree();
  return parent_;
}

Node* Node::Child() const {
  CheckInTree();
  return firstChild_;
}

int32_t Node::Children() const {
  CheckInTree();
  return childCount_;
}

Node* Node::Next() const {
  CheckInTree();
  return next_;
}

Node* Node::Previous() const {
  CheckInTree();
  return prev_;
}

Node* Node::FirstSibling() const {
  TreeView& t = Owner();
  return parent_ ? parent_->firstChild_ : t.firstRoot_;
}

Node* Node::LastSibling() const {
  TreeView& t = Owner();
  return parent_ ? parent_->lastChild_ : t.lastRoot_;
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
  using K = InvokeKind;
  using T = VarType;
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
  using K = InvokeKind;
  using T = VarType;
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
  using K = InvokeKind;
  using T = VarType;
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
  std::vector<TreeObserver*> now = observers_;  // an observer may remove itself
  for (TreeObserver* o : now)
    if (std::find(observers_.begin(), observers_.end(), o) != observers_.end()) f(*o);
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

void TreeView::CheckKey(std::u16string_view key, const std::u16string& folded, const Node* self) const {
  if (key.empty()) return;
  if (AllDigits(key)) Raise(Err::InvalidKey);
  Node* other = index_->keys.Find(folded);
  if (other && other != self) Raise(Err::KeyNotUnique);
}

Ref<Node> TreeView::AddNode(const Variant& relative, const Variant& relationship, const Variant& key,
                            const Variant& text, const Variant& image, const Variant& selectedImage) {
  // Everything is checked and converted before the tree changes, so a failing Add leaves it
  // as it was.
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
  CheckKey(k, folded, nullptr);
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
  if (!n->key_.empty()) index_->keys.Insert(*n);
  n->tree_ = this;
  n->slot_ = static_cast<uint32_t>(index_->positions.Append(n));
  Link(*n, parent, before);
  if (!observers_.empty()) Notify([&](TreeObserver& o) { o.NodeAdded(*n); });
  return n;
}

void TreeView::Link(Node& n, Node* parent, Node* before) {
  Node*& first = parent ? parent->firstChild_ : firstRoot_;
  Node*& last = parent ? parent->lastChild_ : lastRoot_;
  n.parent_ = parent;
  n.next_ = before;
  n.prev_ = before ? before->prev_ : last;
  if (n.prev_) n.prev_->next_ = &n;
  else first = &n;
  if (before) before->prev_ = &n;
  else last = &n;
  if (parent) ++parent->childCount_;
  if (rowIndex_ && !RowIndexKept([&] { return rowIndex_->Inserted(n, Sorted()); })) rowIndex_.reset();
}

void TreeView::Unlink(Node& n) {
  if (rowIndex_) rowIndex_->Removing(n);
  Node*& first = n.parent_ ? n.parent_->firstChild_ : firstRoot_;
  Node*& last = n.parent_ ? n.parent_->lastChild_ : lastRoot_;
  if (n.prev_) n.prev_->next_ = n.next_;
  else first = n.next_;
  if (n.next_) n.next_->prev_ = n.prev_;
  else last = n.prev_;
  if (n.parent_) --n.parent_->childCount_;
}

void TreeView::RemoveNode(Node& top) {
  Ref<Node> keepTop(&top);
  // The subtree, parents before children, listed before anything changes: these lists are all
  // the memory a removal takes, so running out of it leaves the tree as it was.
  std::vector<Node*> order;
  std::vector<Ref<Node>> gone;
  if (top.firstChild_) {
    std::vector<Node*> stack{&top};
    while (!stack.empty()) {
      Node* n = stack.back();
      stack.pop_back();
      for (Node* c = n->lastChild_; c; c = c->prev_) stack.push_back(c);
      order.push_back(n);
    }
    gone.reserve(order.size());
  }
  if (!observers_.empty()) Notify([&](TreeObserver& o) { o.NodeAboutToBeRemoved(top); });
  Unlink(top);
  // The references are released only once the tree is consistent again, since a node's last
  // release may run a host's code.
  auto drop = [&](Node& n) {
    int32_t pos = index_->positions.PositionOf(n.slot_);  // 1-based
    for (NodesEnum* e : nodes_->enums_)
      if (e->pos_ >= pos) --e->pos_;
    if (!n.key_.empty()) index_->keys.Erase(n);
    if (selected_ == &n) selected_ = nullptr;
    return index_->positions.Take(n.slot_);
  };
  Ref<Node> leaf;
  if (order.empty()) {
    leaf = drop(top);  // the common case: no lists to build
    top.Detach();
  } else {
    for (Node* n : order) gone.push_back(drop(*n));
    for (const Ref<Node>& n : gone) n->Detach();
  }
  if (editing_ && !editing_->InTree()) editing_.reset();
  index_->positions.CompactIfSparse([&](Node& n, size_t slot) {
    n.slot_ = static_cast<uint32_t>(slot);
    rowIndex_.reset();  // its entries are by slot
  });
}

void TreeView::DetachAll() {
  // Released on the way out, once the tree is consistent: a node's last release may run a
  // host's code.
  std::vector<Ref<Node>> all = index_->positions.TakeAll();
  index_->keys.Clear();
  firstRoot_ = lastRoot_ = selected_ = nullptr;
  rowIndex_.reset();
  for (const Ref<Node>& n : all) {
    if (n) n->Detach();
  }
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
  if (!rowIndex_) rowIndex_.reset(new detail::RowIndex(*this));
  return rowIndex_->At(row);
}

std::vector<Node*> TreeView::VisibleRows() const {
  std::vector<Node*> rows;
  for (Node* root : DisplayRoots(firstRoot_, Sorted())) {
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
