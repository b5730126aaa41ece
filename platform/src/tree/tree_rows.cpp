// The tree's rows: a treap over each sibling list, for the headless HitTest and a GUI
// backend's item model.
#include <algorithm>
#include <atomic>

#include "desk/text.h"
#include "tree/tree_index.h"
#include "tree/tree_rows.h"

namespace desk::detail {

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

int64_t RowIndex::RowOf(const Node& n) const {
  int64_t row = 0;
  for (const Node* x = &n; x; x = x->parent_) {
    if (x->parent_ && !x->parent_->expanded_) return -1;
    uint32_t s = x->slot_;
    if (s >= e_.size() || e_[s].span == 0) return -1;
    // The rows before x in its list: its left subtree, and each ancestor it lies right of with
    // that ancestor's own left subtree.
    row += e_[s].leftSum + (x->parent_ ? 1 : 0);
    for (uint32_t a = e_[s].up; a != kNone; s = a, a = e_[a].up)
      if (e_[a].right == s) row += e_[a].leftSum + e_[a].span;
  }
  return row;
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
    if (!n.PrevSibling()) return 0;
    if (!n.next_) return Count(n.parent_) - 1;
  }
  // Up the path only: coming from a right child x, the nodes of a's left subtree and a itself
  // are a's count less x's, which spares a read of the left child (a cache miss at the
  // bottom of a large list).
  uint32_t x = n.slot_;
  int32_t place = Count(e_[x].left);
  for (uint32_t a = e_[x].up; a != kNone; x = a, a = e_[a].up)
    if (e_[a].right == x) place += e_[a].count - e_[x].count;
  return place;
}

bool RowIndex::Inserted(Node& n, bool sorted) {
  const uint32_t s = n.slot_;
  if (e_.size() <= s) {
    if (e_.capacity() <= s) ReserveAdvised(e_, std::max<size_t>(static_cast<size_t>(s) + 1, e_.capacity() * 2));
    e_.resize(static_cast<size_t>(s) + 1);
  }
  e_[s] = Entry{};
  e_[s].span = e_[s].sum = e_[s].count = 1;
  if (marks_.size() <= s / 64) marks_.resize(s / 64 + 1, 0);
  marks_[s / 64] &= ~(uint64_t{1} << (s % 64));
  if (!n.parent_ && sorted) {
    if (!PlaceRoot(s, n)) return false;
  } else if (n.next_) {
    AttachBefore(s, n.next_->slot_);
  } else if (Node* prev = n.PrevSibling()) {
    AttachAfter(s, prev->slot_);
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

void RowIndex::SlotsMoved(const std::vector<uint32_t>& to) {
  auto map = [&](uint32_t s) { return s == kNone ? kNone : to[s]; };
  auto marked = [&](size_t s) { return s / 64 < marks_.size() && ((marks_[s / 64] >> (s % 64)) & 1); };
  // Every slot moves down or stays, and its entry and mark are read before anything is
  // written there.
  size_t live = 0;
  for (size_t s = 0; s < std::min(e_.size(), to.size()); ++s) {
    const uint32_t t = to[s];
    if (t == kNone) continue;
    Entry e = e_[s];
    e.left = map(e.left);
    e.right = map(e.right);
    e.up = map(e.up);
    e.kids = map(e.kids);
    e_[t] = e;
    live = std::max<size_t>(live, size_t{t} + 1);
    if (t / 64 < marks_.size()) {
      const uint64_t m = uint64_t{1} << (t % 64);
      marks_[t / 64] = marked(s) ? marks_[t / 64] | m : marks_[t / 64] & ~m;
    }
  }
  e_.resize(live);
  if (e_.capacity() > 4 * live) e_.shrink_to_fit();
  roots_ = map(roots_);
  // Past the last node nothing is marked.
  marks_.resize(live / 64 + 1);
  marks_.back() &= (uint64_t{1} << (live % 64)) - 1;
}

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
  Node* const prev = n.PrevSibling();
  if (prev && n.next_) {
    if (FoldKey(prev->text_) == key) return AttachAfter(s, prev->slot_), true;
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
  if (sawEqual && prev && n.next_) return false;
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
  e_.clear();
  ReserveAdvised(e_, t_.index_->positions.SlotCount());
  e_.assign(t_.index_->positions.SlotCount(), Entry{});
  marks_.assign(e_.size() / 64 + 1, ~uint64_t{0});
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

}  // namespace desk::detail
