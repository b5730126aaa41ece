// The tree's rows: a B+tree over each sibling list, for the headless HitTest and a GUI
// backend's item model.
#include <algorithm>
#include <atomic>
#include <new>

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
  uint32_t b = roots_;
  if (row < 0 || row >= SumOf(b)) return nullptr;
  for (;;) {
    while (IsInner(b)) {
      const Inner& p = I(b);
      int i = 0;
      for (; i < p.n - 1 && row >= p.sums[i]; ++i) row -= p.sums[i];
      b = p.child[i];
    }
    const Leaf& l = L(b);
    uint32_t s;
    if (l.sum == l.n) {  // every node there one row: no span to read
      s = l.slot[row];
      row = 0;
    } else {
      int i = 0;
      for (; i < l.n - 1 && row >= e_[l.slot[i]].span; ++i) row -= e_[l.slot[i]].span;
      s = l.slot[i];
    }
    if (row == 0) return t_.index_->positions.AtSlot(s);
    row -= 1;
    b = e_[s].kids;
    if (b == kNone) return nullptr;
  }
}

int32_t RowIndex::RowsBefore(uint32_t s) const {
  uint32_t b = e_[s].leaf;
  const Leaf& l = L(b);
  const int i = IndexInLeaf(b, s);
  int32_t rows = i;
  if (l.sum != l.n) {
    rows = 0;
    for (int j = 0; j < i; ++j) rows += e_[l.slot[j]].span;
  }
  for (uint32_t p = l.up; p != kNone; b = p, p = I(p).up) {
    const Inner& q = I(p);
    for (int k = 0; k < q.n && q.child[k] != b; ++k) rows += q.sums[k];
  }
  return rows;
}

int64_t RowIndex::RowOf(const Node& n) const {
  int64_t row = 0;
  for (const Node* x = &n; x; x = x->parent_) {
    if (x->parent_ && !x->parent_->expanded_) return -1;
    const uint32_t s = x->slot_;
    if (s >= e_.size() || e_[s].leaf == kNone) return -1;
    row += RowsBefore(s) + (x->parent_ ? 1 : 0);
  }
  return row;
}

Node* RowIndex::ChildAt(const Node* parent, int32_t place) const {
  uint32_t b = ListRoot(parent);
  if (place < 0 || place >= CountOf(b)) return nullptr;
  while (IsInner(b)) {
    const Inner& p = I(b);
    int i = 0;
    for (; i < p.n - 1 && place >= p.counts[i]; ++i) place -= p.counts[i];
    b = p.child[i];
  }
  return t_.index_->positions.AtSlot(L(b).slot[place]);
}

int32_t RowIndex::PlaceOf(const Node& n) const {
  // The ends of a list in sibling order are the common cases (adding last, removing first).
  if (n.parent_ || !t_.Sorted()) {
    if (!n.PrevSibling()) return 0;
    if (!n.next_) return Count(n.parent_) - 1;
  }
  const uint32_t s = n.slot_;
  if (s >= e_.size() || e_[s].leaf == kNone) return -1;
  uint32_t b = e_[s].leaf;
  int32_t place = IndexInLeaf(b, s);
  for (uint32_t p = L(b).up; p != kNone; b = p, p = I(p).up) {
    const Inner& q = I(p);
    for (int i = 0; i < q.n && q.child[i] != b; ++i) place += q.counts[i];
  }
  return place;
}

bool RowIndex::Inserted(Node& n, bool sorted) {
  const uint32_t s = n.slot_;
  if (e_.size() <= s) {
    if (e_.capacity() <= s) ReserveAdvised(e_, std::max<size_t>(static_cast<size_t>(s) + 1, e_.capacity() * 2));
    e_.resize(static_cast<size_t>(s) + 1);
  }
  if (marks_.size() <= s / 64) marks_.resize(s / 64 + 1, 0);
  marks_[s / 64] &= ~(uint64_t{1} << (s % 64));
  e_[s] = Entry{};
  e_[s].span = 1;
  uint32_t& root = ListRoot(n.parent_);
  if (!n.parent_ && sorted) {
    const int32_t place = SortedPlace(n);
    if (place < 0) return false;
    InsertAtPlace(place, s, root);
  } else if (n.next_) {
    const uint32_t b = e_[n.next_->slot_].leaf;
    InsertAt(b, IndexInLeaf(b, n.next_->slot_), s, root);
  } else if (Node* prev = n.PrevSibling()) {
    const uint32_t b = e_[prev->slot_].leaf;
    InsertAt(b, IndexInLeaf(b, prev->slot_) + 1, s, root);
  } else {
    InsertAtPlace(0, s, root);  // alone in its list
  }
  Spread(n.parent_, 1);
  return true;
}

void RowIndex::Removing(Node& n) {
  const uint32_t s = n.slot_;
  if (s >= e_.size() || e_[s].leaf == kNone) return;  // already taken out
  const int32_t span = e_[s].span;
  TakeOut(s, ListRoot(n.parent_));
  Spread(n.parent_, -span);
  e_[s].span = 0;
  // The lists under it go with it. The blocks waiting to be freed are chained through their
  // `up`, so that a removal takes no memory.
  uint32_t work = e_[s].kids;
  e_[s].kids = kNone;
  if (work != kNone) Up(work) = kNone;
  while (work != kNone) {
    const uint32_t b = work;
    work = Up(b);
    if (IsInner(b)) {
      const Inner& p = I(b);
      for (int i = 0; i < p.n; ++i) Up(p.child[i]) = work, work = p.child[i];
    } else {
      const Leaf& l = L(b);
      for (int i = 0; i < l.n; ++i) {
        Entry& e = e_[l.slot[i]];
        if (e.kids != kNone) Up(e.kids) = work, work = e.kids;
        e = Entry{};
      }
    }
    Free(b);
  }
}

void RowIndex::ExpandedChanged(Node& n) {
  if (n.slot_ >= e_.size() || e_[n.slot_].leaf == kNone) return;
  Entry& e = e_[n.slot_];
  const int32_t span = 1 + (n.expanded_ ? SumOf(e.kids) : 0);
  const int32_t delta = span - e.span;
  if (!delta) return;
  e.span = span;
  L(e.leaf).sum += delta;
  AddUp(e.leaf, delta, 0);
  Spread(n.parent_, delta);
}

bool RowIndex::RootTextChanged(Node& n) {
  const uint32_t s = n.slot_;
  move_ = Move{&n, PlaceOf(n), 0};
  TakeOut(s, roots_);
  const int32_t place = SortedPlace(n);
  if (place < 0) return false;
  InsertAtPlace(place, s, roots_);
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

uint32_t RowIndex::ListRoot(const Node* parent) const { return parent ? e_[parent->slot_].kids : roots_; }
uint32_t& RowIndex::ListRoot(const Node* parent) { return parent ? e_[parent->slot_].kids : roots_; }

void RowIndex::SlotsMoved(const std::vector<uint32_t>& to) {
  auto marked = [&](size_t s) { return s / 64 < marks_.size() && ((marks_[s / 64] >> (s % 64)) & 1); };
  // Every slot moves down or stays, and its entry and mark are read before anything is
  // written there.
  size_t live = 0;
  for (size_t s = 0; s < std::min(e_.size(), to.size()); ++s) {
    const uint32_t t = to[s];
    if (t == kNone) continue;
    e_[t] = e_[s];
    live = std::max<size_t>(live, size_t{t} + 1);
    if (t / 64 < marks_.size()) {
      const uint64_t m = uint64_t{1} << (t % 64);
      marks_[t / 64] = marked(s) ? marks_[t / 64] | m : marks_[t / 64] & ~m;
    }
  }
  e_.resize(live);
  if (e_.capacity() > 4 * live) e_.shrink_to_fit();
  // The leaves hold the slots of nodes in the tree, none of them a hole; free leaves hold none.
  for (Leaf& l : leaves_)
    for (int i = 0; i < l.n; ++i) l.slot[i] = to[l.slot[i]];
  // Past the last node nothing is marked.
  marks_.resize(live / 64 + 1);
  marks_.back() &= (uint64_t{1} << (live % 64)) - 1;
}

// Both ends first: nodes are mostly added and removed at either end of a list.
template <class T>
static int IndexFromBothEnds(const T* a, int n, T x) {
  for (int lo = 0, hi = n - 1; lo <= hi; ++lo, --hi) {
    if (a[hi] == x) return hi;
    if (a[lo] == x) return lo;
  }
  return 0;  // never: it is there
}

int RowIndex::IndexIn(uint32_t inner, uint32_t child) const {
  const Inner& p = I(inner);
  return IndexFromBothEnds(p.child, p.n, child);
}

int RowIndex::IndexInLeaf(uint32_t leaf, uint32_t s) const {
  const Leaf& l = L(leaf);
  return IndexFromBothEnds(l.slot, l.n, s);
}

size_t RowIndex::BlocksInUse() const {
  size_t free = 0;
  for (uint32_t b = freeLeaf_; b != kNone; b = L(b).up) ++free;
  for (uint32_t b = freeInner_; b != kNone; b = I(b).up) ++free;
  return leaves_.size() + inners_.size() - free;
}

uint32_t RowIndex::NewLeaf() {
  uint32_t b = freeLeaf_;
  if (b != kNone) {
    freeLeaf_ = leaves_[b].up;
  } else {
    if (leaves_.size() >= kInner) throw std::bad_alloc();
    if (leaves_.size() == leaves_.capacity()) ReserveAdvised(leaves_, std::max<size_t>(16, leaves_.size() * 2));
    leaves_.emplace_back();
    b = static_cast<uint32_t>(leaves_.size() - 1);
  }
  Leaf& l = leaves_[b];
  l.up = kNone;
  l.n = l.sum = 0;
  return b;
}

uint32_t RowIndex::NewInner() {
  uint32_t b = freeInner_;
  if (b != kNone) {
    freeInner_ = I(b).up;
  } else {
    if (inners_.size() >= kInner - 1) throw std::bad_alloc();
    if (inners_.size() == inners_.capacity()) ReserveAdvised(inners_, std::max<size_t>(4, inners_.size() * 2));
    inners_.emplace_back();
    b = static_cast<uint32_t>(inners_.size() - 1) | kInner;
  }
  Inner& p = I(b);
  p.up = kNone;
  p.n = p.count = p.sum = 0;
  return b;
}

void RowIndex::Free(uint32_t b) {
  if (IsInner(b)) {
    Inner& p = I(b);
    p.n = p.count = p.sum = 0;
    p.up = freeInner_;
    freeInner_ = b;
  } else {
    Leaf& l = L(b);
    l.n = l.sum = 0;
    l.up = freeLeaf_;
    freeLeaf_ = b;
  }
}

// b's own totals changed by `sum` rows and `count` nodes: so do those of the blocks above it.
void RowIndex::AddUp(uint32_t b, int32_t sum, int32_t count) {
  for (uint32_t p = Up(b); p != kNone; b = p, p = I(p).up) {
    Inner& q = I(p);
    const int i = IndexIn(p, b);
    q.counts[i] += count;
    q.sums[i] += sum;
    q.count += count;
    q.sum += sum;
  }
}

// Moves k of from's slots or children, starting at `at`, into `to` at `toAt`.
void RowIndex::Transfer(uint32_t from, int at, int k, uint32_t to, int toAt) {
  int32_t sum = 0, count = 0;
  if (IsInner(from)) {
    Inner& a = I(from);
    Inner& z = I(to);
    std::copy_backward(z.child + toAt, z.child + z.n, z.child + z.n + k);
    std::copy_backward(z.counts + toAt, z.counts + z.n, z.counts + z.n + k);
    std::copy_backward(z.sums + toAt, z.sums + z.n, z.sums + z.n + k);
    for (int i = 0; i < k; ++i) {
      z.child[toAt + i] = a.child[at + i];
      z.counts[toAt + i] = a.counts[at + i];
      z.sums[toAt + i] = a.sums[at + i];
      Up(a.child[at + i]) = to;
      count += a.counts[at + i];
      sum += a.sums[at + i];
    }
    std::copy(a.child + at + k, a.child + a.n, a.child + at);
    std::copy(a.counts + at + k, a.counts + a.n, a.counts + at);
    std::copy(a.sums + at + k, a.sums + a.n, a.sums + at);
    a.n -= k;
    z.n += k;
    a.count -= count;
    a.sum -= sum;
    z.count += count;
    z.sum += sum;
  } else {
    Leaf& a = L(from);
    Leaf& z = L(to);
    std::copy_backward(z.slot + toAt, z.slot + z.n, z.slot + z.n + k);
    for (int i = 0; i < k; ++i) {
      const uint32_t s = a.slot[at + i];
      z.slot[toAt + i] = s;
      e_[s].leaf = to;
      sum += e_[s].span;
    }
    std::copy(a.slot + at + k, a.slot + a.n, a.slot + at);
    count = k;
    a.n -= k;
    z.n += k;
    a.sum -= sum;
    z.sum += sum;
  }
  AddUp(from, -sum, -count);
  AddUp(to, sum, count);
}

// Splits the full block b in two, its upper half going to a new block just after it; b and
// `at` then name the half and the place where `at` fell.
void RowIndex::Split(uint32_t& b, int& at, uint32_t& root) {
  const uint32_t q = NewBeside(b, true, root);
  const int half = cap_ / 2;
  Transfer(b, half, cap_ - half, q, 0);
  if (at > half) {
    b = q;
    at -= half;
  }
}

// Links the empty block c into inner block p at `at`, splitting p when it is full.
void RowIndex::InsertChild(uint32_t p, int at, uint32_t c, uint32_t& root) {
  if (I(p).n == cap_) Split(p, at, root);
  Inner& a = I(p);
  std::copy_backward(a.child + at, a.child + a.n, a.child + a.n + 1);
  std::copy_backward(a.counts + at, a.counts + a.n, a.counts + a.n + 1);
  std::copy_backward(a.sums + at, a.sums + a.n, a.sums + a.n + 1);
  a.child[at] = c;
  a.counts[at] = a.sums[at] = 0;
  ++a.n;
  Up(c) = p;
}

// A new empty block of b's kind just after or before it, a new top above b when it was the top.
uint32_t RowIndex::NewBeside(uint32_t b, bool after, uint32_t& root) {
  if (Up(b) == kNone) {
    const uint32_t t = NewInner();
    Inner& top = I(t);
    top.n = 1;
    top.child[0] = b;
    top.counts[0] = top.count = CountOf(b);
    top.sums[0] = top.sum = SumOf(b);
    Up(b) = t;
    root = t;
  }
  const uint32_t c = IsInner(b) ? NewInner() : NewLeaf();
  const uint32_t p = Up(b);
  InsertChild(p, IndexIn(p, b) + (after ? 1 : 0), c, root);
  return c;
}

// Slot s, its span set, into a leaf at `at`.
void RowIndex::InsertAt(uint32_t leaf, int at, uint32_t s, uint32_t& root) {
  if (L(leaf).n == cap_) {
    // At either end of a full leaf, the neighbour under the same parent takes it when it has
    // room, or a new leaf does: nodes added in order fill their leaves. In the middle the
    // leaf is split in two.
    const uint32_t p = L(leaf).up;
    const int i = p == kNone ? 0 : IndexIn(p, leaf);
    if (at == cap_ && p != kNone && i + 1 < I(p).n && L(I(p).child[i + 1]).n < cap_) {
      leaf = I(p).child[i + 1];
      at = 0;
    } else if (at == 0 && p != kNone && i > 0 && L(I(p).child[i - 1]).n < cap_) {
      leaf = I(p).child[i - 1];
      at = L(leaf).n;
    } else if (at == cap_ || at == 0) {
      leaf = NewBeside(leaf, at == cap_, root);
      at = 0;
    } else {
      Split(leaf, at, root);
    }
  }
  Leaf& l = L(leaf);
  std::copy_backward(l.slot + at, l.slot + l.n, l.slot + l.n + 1);
  l.slot[at] = s;
  ++l.n;
  l.sum += e_[s].span;
  e_[s].leaf = leaf;
  AddUp(leaf, e_[s].span, 1);
}

void RowIndex::InsertAtPlace(int32_t place, uint32_t s, uint32_t& root) {
  if (root == kNone) root = NewLeaf();
  uint32_t b = root;
  while (IsInner(b)) {
    const Inner& p = I(b);
    int i = 0;
    for (; i < p.n - 1 && place > p.counts[i]; ++i) place -= p.counts[i];
    b = p.child[i];
  }
  InsertAt(b, place, s, root);
}

// Takes slot s out of its list, its span kept.
void RowIndex::TakeOut(uint32_t s, uint32_t& root) {
  const uint32_t b = e_[s].leaf;
  Leaf& l = L(b);
  const int i = IndexInLeaf(b, s);
  std::copy(l.slot + i + 1, l.slot + l.n, l.slot + i);
  --l.n;
  l.sum -= e_[s].span;
  AddUp(b, -e_[s].span, -1);
  e_[s].leaf = kNone;
  Rebalance(b, root);
}

// Takes the empty block b out of its parent.
void RowIndex::Unlink(uint32_t b, uint32_t& root) {
  const uint32_t p = Up(b);
  Inner& a = I(p);
  const int i = IndexIn(p, b);
  std::copy(a.child + i + 1, a.child + a.n, a.child + i);
  std::copy(a.counts + i + 1, a.counts + a.n, a.counts + i);
  std::copy(a.sums + i + 1, a.sums + a.n, a.sums + i);
  --a.n;
  Free(b);
  Rebalance(p, root);
}

// After b lost a slot or a child: an empty block goes, a top with one child gives way to it,
// and a block a quarter full or less is merged into a neighbour when both fit in three quarters.
void RowIndex::Rebalance(uint32_t b, uint32_t& root) {
  const int n = IsInner(b) ? I(b).n : L(b).n;
  const uint32_t p = Up(b);
  if (p == kNone) {
    if (n == 0) {
      Free(b);
      root = kNone;
    } else if (IsInner(b) && n == 1) {
      const uint32_t c = I(b).child[0];
      Up(c) = kNone;
      root = c;
      Free(b);
    }
    return;
  }
  if (n == 0) return Unlink(b, root);
  if (n > cap_ / 4) return;
  const int i = IndexIn(p, b);
  for (const int j : {i - 1, i + 1}) {
    if (j < 0 || j >= I(p).n) continue;
    const uint32_t o = I(p).child[j];
    const int on = IsInner(o) ? I(o).n : L(o).n;
    if (n + on > cap_ * 3 / 4) continue;
    Transfer(b, 0, n, o, j < i ? on : 0);
    return Unlink(b, root);
  }
}

namespace {
// A node's text against a folded key, as FoldKey(text) <=> key, without making the folded
// text when it is ASCII (one look-up of a sorted root compares some twenty texts).
int CompareFolded(const std::u16string& text, const std::u16string& key) {
  for (char16_t c : text)
    if (c >= 0x80) return FoldKey(text).compare(key);
  const size_t n = std::min(text.size(), key.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t c = text[i] >= u'A' && text[i] <= u'Z' ? static_cast<char16_t>(text[i] + (u'a' - u'A')) : text[i];
    if (c != key[i]) return c < key[i] ? -1 : 1;
  }
  return text.size() < key.size() ? -1 : text.size() > key.size() ? 1 : 0;
}
}  // namespace

// Where a root goes among sorted roots (it is not among them): by its folded text, equal texts
// in sibling order. A root first or last among the roots goes before or after its equals, one
// whose sibling has its text next to that sibling. Otherwise its place among equals needs the
// sibling order of roots the index does not keep: -1, unless no other root has its text.
int32_t RowIndex::SortedPlace(const Node& n) const {
  // FoldKey folds as FoldCase does, without ICU for ASCII texts.
  const std::u16string key = FoldKey(n.text_);
  const Node* const prev = n.PrevSibling();
  if (prev && n.next_) {
    if (CompareFolded(prev->text_, key) == 0) return PlaceOf(*prev) + 1;
    if (CompareFolded(n.next_->text_, key) == 0) return PlaceOf(*n.next_);
  }
  // The first place whose root sorts after the key (after its equals too when the root is last
  // in sibling order): down the blocks once, choosing among a block's children by the first
  // root under each.
  const bool afterEquals = !n.next_;
  const auto& positions = t_.index_->positions;
  auto before = [&](uint32_t slot) {
    const int c = CompareFolded(positions.AtSlot(slot)->text_, key);
    return afterEquals ? c <= 0 : c < 0;
  };
  auto first = [&](uint32_t b) {
    while (IsInner(b)) b = I(b).child[0];
    return L(b).slot[0];
  };
  int32_t place = 0;
  uint32_t b = roots_;
  if (b == kNone) return 0;
  while (IsInner(b)) {
    const Inner& p = I(b);
    int lo = 1, hi = p.n;  // the first child whose first root is not before the key
    while (lo < hi) {
      const int mid = (lo + hi) / 2;
      if (before(first(p.child[mid]))) lo = mid + 1;
      else hi = mid;
    }
    for (int j = 0; j < lo - 1; ++j) place += p.counts[j];
    b = p.child[lo - 1];
  }
  const Leaf& l = L(b);
  int lo = 0, hi = l.n;
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    if (before(l.slot[mid])) lo = mid + 1;
    else hi = mid;
  }
  place += lo;
  if (prev && n.next_ && place < CountOf(roots_) && CompareFolded(ChildAt(nullptr, place)->text_, key) == 0) return -1;
  return place;
}

// A span below `parent` changed by delta: so do the spans of its expanded ancestors, up to
// the first collapsed one, whose span stays one row.
void RowIndex::Spread(Node* parent, int32_t delta) {
  for (Node* p = parent; p && delta && p->expanded_; p = p->parent_) {
    Entry& e = e_[p->slot_];
    e.span += delta;
    L(e.leaf).sum += delta;
    AddUp(e.leaf, delta, 0);
  }
}

// A list in order as full leaves and the inner blocks above them; the spans are set.
uint32_t RowIndex::BuildList(const std::vector<uint32_t>& list) {
  if (list.empty()) return kNone;
  std::vector<uint32_t> level, above;
  const size_t cap = static_cast<size_t>(cap_);
  for (size_t i = 0; i < list.size(); i += cap) {
    const uint32_t b = NewLeaf();
    Leaf& l = L(b);
    for (size_t j = i; j < std::min(list.size(), i + cap); ++j) {
      l.slot[l.n++] = list[j];
      l.sum += e_[list[j]].span;
      e_[list[j]].leaf = b;
    }
    level.push_back(b);
  }
  while (level.size() > 1) {
    above.clear();
    for (size_t i = 0; i < level.size(); i += cap) {
      const uint32_t b = NewInner();
      Inner& p = I(b);
      for (size_t j = i; j < std::min(level.size(), i + cap); ++j) {
        const uint32_t c = level[j];
        p.child[p.n] = c;
        p.count += p.counts[p.n] = CountOf(c);
        p.sum += p.sums[p.n] = SumOf(c);
        ++p.n;
        Up(c) = b;
      }
      above.push_back(b);
    }
    level.swap(above);
  }
  return level[0];
}

namespace {
std::atomic<uint64_t> g_rowIndexBuilds{0};
std::atomic<int> g_blockSize{64};
}  // namespace

int RowIndex::BlockSize() { return g_blockSize.load(std::memory_order_relaxed); }
void RowIndex::SetBlockSize(int n) { g_blockSize.store(std::clamp(n, 4, int{kCap}), std::memory_order_relaxed); }

uint64_t RowIndex::Builds() { return g_rowIndexBuilds.load(std::memory_order_relaxed); }

void RowIndex::Build() {
  g_rowIndexBuilds.fetch_add(1, std::memory_order_relaxed);
  e_.clear();
  leaves_.clear();
  inners_.clear();
  freeLeaf_ = freeInner_ = kNone;
  ReserveAdvised(e_, t_.index_->positions.SlotCount());
  e_.assign(t_.index_->positions.SlotCount(), Entry{});
  ReserveAdvised(leaves_, e_.size() / static_cast<size_t>(cap_) + 16);
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
    e.span = 1 + (n->expanded_ ? SumOf(e.kids) : 0);
  }
  list.clear();
  std::vector<Node*> roots = DisplayRoots(t_.firstRoot_, t_.Sorted());
  for (Node* r : roots) list.push_back(r->slot_);
  roots_ = BuildList(list);
}

void RowIndexDeleter::operator()(RowIndex* r) const noexcept { delete r; }

}  // namespace desk::detail
