// TreeSelection: ranges of tree order, kept disjoint and in order.
//
// Sections: walking tree order; ranges; observer calls; gestures.
#include "desk/tree_selection.h"

#include <algorithm>

#include "desk/text.h"
#include "desk/tree_filter.h"

#include "tree/tree_rows.h"

namespace desk {

TreeSelection::TreeSelection(TreeView& tree) : tree_(tree) { tree_.AddObserver(this); }
TreeSelection::~TreeSelection() { tree_.RemoveObserver(this); }

// ---- Walking tree order ----------------------------------------------------------------------

// Only the roots have a display order of their own (Sorted); children show in sibling order.
Node* TreeSelection::NextSibling(const Node& n) const {
  if (n.Parent() || !tree_.Sorted()) return n.Next();
  auto& rows = detail::RowIndex::Of(tree_);
  const int32_t place = rows.PlaceOf(n) + 1;
  return place < rows.Count(nullptr) ? rows.ChildAt(nullptr, place) : nullptr;
}

Node* TreeSelection::PrevSibling(const Node& n) const {
  if (n.Parent() || !tree_.Sorted()) return n.Previous();
  auto& rows = detail::RowIndex::Of(tree_);
  const int32_t place = rows.PlaceOf(n);
  return place > 0 ? rows.ChildAt(nullptr, place - 1) : nullptr;
}

Node* TreeSelection::AfterSubtree(const Node& n) const {
  for (const Node* x = &n; x; x = x->Parent())
    if (Node* s = NextSibling(*x)) return s;
  return nullptr;
}

Node* TreeSelection::LastInSubtree(const Node& n) const {
  Node* x = const_cast<Node*>(&n);
  while (Node* c = x->Child()) x = c->LastSibling();
  return x;
}

Node* TreeSelection::NextInOrder(const Node& n) const {
  if (Node* c = n.Child()) return c;
  return AfterSubtree(n);
}

Node* TreeSelection::PrevInOrder(const Node& n) const {
  if (Node* p = PrevSibling(n)) return LastInSubtree(*p);
  return n.Parent();
}

Node* TreeSelection::NextRow(const Node& n) const {
  if (n.Expanded() && n.Child()) return n.Child();
  return AfterSubtree(n);
}

bool TreeSelection::InSubtree(const Node& n, const Node& top) const {
  for (const Node* x = &n; x; x = x->Parent())
    if (x == &top) return true;
  return false;
}

int TreeSelection::Compare(const Node& a, const Node& b) const {
  if (&a == &b) return 0;
  std::vector<const Node*> pa, pb;  // root first
  for (const Node* x = &a; x; x = x->Parent()) pa.push_back(x);
  for (const Node* x = &b; x; x = x->Parent()) pb.push_back(x);
  std::reverse(pa.begin(), pa.end());
  std::reverse(pb.begin(), pb.end());
  size_t i = 0;
  while (i < pa.size() && i < pb.size() && pa[i] == pb[i]) ++i;
  if (i == pa.size()) return -1;  // a is an ancestor of b
  if (i == pb.size()) return 1;
  auto& rows = detail::RowIndex::Of(tree_);
  return rows.PlaceOf(*pa[i]) < rows.PlaceOf(*pb[i]) ? -1 : 1;
}

// ---- Ranges ----------------------------------------------------------------------------------

bool TreeSelection::Contains(const Node& n) const {
  if (mode_ == Mode::Single) return tree_.SelectedNode() == &n;
  if (!n.InTree() || n.Tree() != &tree_) return false;
  // The first range that does not end before n.
  auto it = std::partition_point(ranges_.begin(), ranges_.end(),
                                 [&](const Range& r) { return Compare(*r.last, n) < 0; });
  return it != ranges_.end() && Compare(*it->first, n) <= 0;
}

std::vector<Node*> TreeSelection::SelectedNodes() const {
  std::vector<Node*> out;
  if (mode_ == Mode::Single) {
    if (Node* s = tree_.SelectedNode()) out.push_back(s);
    return out;
  }
  for (const Range& r : ranges_)
    for (Node* x = r.first;; x = NextInOrder(*x)) {
      out.push_back(x);
      if (x == r.last) break;
    }
  return out;
}

int64_t TreeSelection::Count() const {
  if (mode_ == Mode::Single) return tree_.SelectedNode() ? 1 : 0;
  int64_t n = 0;
  for (const Range& r : ranges_)
    for (Node* x = r.first;; x = NextInOrder(*x)) {
      ++n;
      if (x == r.last) break;
    }
  return n;
}

void TreeSelection::Put(Node& a, Node& b, bool add) {
  std::vector<Range> out;
  out.reserve(ranges_.size() + 2);
  bool placed = false;
  for (const Range& r : ranges_) {
    if (Compare(*r.last, a) < 0) {  // wholly before
      out.push_back(r);
      continue;
    }
    if (Compare(*r.first, b) > 0) {  // wholly after
      if (add && !placed) out.push_back({&a, &b}), placed = true;
      out.push_back(r);
      continue;
    }
    if (Compare(*r.first, a) < 0) out.push_back({r.first, PrevInOrder(a)});
    if (add && !placed) out.push_back({&a, &b}), placed = true;
    if (Compare(b, *r.last) < 0) out.push_back({NextInOrder(b), r.last});
  }
  if (add && !placed) out.push_back({&a, &b});
  ranges_ = std::move(out);
}

void TreeSelection::Changed() {
  if (held_ > 0) {
    pending_ = true;
    return;
  }
  pending_ = false;
  if (onViewChanged_) onViewChanged_();
  if (onChanged_) onChanged_();
}

void TreeSelection::RaiseHeld() {
  if (held_ == 0 && pending_) Changed();
}

void TreeSelection::SetMode(Mode m) {
  if (m == mode_) return;
  const bool had = !Empty();
  mode_ = m;
  ranges_.clear();
  anchor_ = tree_.SelectedNode();
  if (m == Mode::Extended && anchor_) ranges_.push_back({anchor_, anchor_});
  if (had && m == Mode::Single) Changed();
}

void TreeSelection::PutRuns(const std::vector<Node*>& rows, size_t from, size_t to) {
  // Runs come in order and apart: into an empty selection they go as they are.
  const bool direct = ranges_.empty();
  for (size_t i = from; i < to;) {
    size_t j = i;
    while (j + 1 < to && NextInOrder(*rows[j]) == rows[j + 1]) ++j;
    if (direct) ranges_.push_back({rows[i], rows[j]});
    else Put(*rows[i], *rows[j], true);
    i = j + 1;
  }
}

void TreeSelection::SelectAll() {
  if (mode_ == Mode::Single) return;  // one node at most
  if (const TreeFilter* f = tree_.ActiveFilter()) {
    // What the user sees: the shown nodes.
    const std::vector<Node*> shown = f->ShownNodes();
    ranges_.clear();
    PutRuns(shown, 0, shown.size());
    Changed();
    return;
  }
  Node* first = tree_.FirstRoot();
  if (!first) return;
  if (tree_.Sorted()) first = detail::RowIndex::Of(tree_).ChildAt(nullptr, 0);
  Node* lastRoot = first;
  while (Node* s = NextSibling(*lastRoot)) lastRoot = s;
  ranges_.assign(1, {first, LastInSubtree(*lastRoot)});
  Changed();
}

void TreeSelection::Clear() {
  if (mode_ == Mode::Single) {
    if (Node* s = tree_.SelectedNode()) s->SetSelected(false);
    return;
  }
  if (ranges_.empty()) return;
  ranges_.clear();
  Changed();
}

void TreeSelection::SetSelected(Node& n, bool selected) {
  if (n.Tree() != &tree_) Raise(Err::InvalidProcedureCall);
  if (mode_ == Mode::Single) {
    n.SetSelected(selected);
    return;
  }
  if (Contains(n) == selected) return;
  Put(n, n, selected);
  Changed();
}

void TreeSelection::AddRowsNoNotify(Node& a, Node& b) {
  Node* lo = &a;
  Node* hi = &b;
  if (Compare(*lo, *hi) > 0) std::swap(lo, hi);
  if (const TreeFilter* f = tree_.ActiveFilter()) {
    // The rows the filter shows between the two (either may be hidden).
    const std::vector<Node*> rows = f->VisibleRows();
    const auto first = std::partition_point(rows.begin(), rows.end(), [&](Node* x) { return Compare(*x, *lo) < 0; });
    const auto last = std::partition_point(first, rows.end(), [&](Node* x) { return Compare(*x, *hi) <= 0; });
    PutRuns(rows, static_cast<size_t>(first - rows.begin()), static_cast<size_t>(last - rows.begin()));
    return;
  }
  // One range per run that tree order and the rows shown share: a collapsed node with
  // children ends a run, since its hidden children are not selected.
  // The links are read directly: this walks every row between the two, up to a million.
  const bool sortedRoots = tree_.Sorted();
  Node* start = lo;
  for (Node* x = lo; x;) {
    if (x == hi) {
      Put(*start, *x, true);
      break;
    }
    if (x->firstChild_ && x->expanded_) {
      x = x->firstChild_;
      continue;
    }
    const bool hidesChildren = x->firstChild_ != nullptr;
    Node* next = nullptr;
    for (Node* up = x; up && !next; up = up->parent_)
      next = up->parent_ || !sortedRoots ? up->next_ : NextSibling(*up);
    if (hidesChildren) {
      Put(*start, *x, true);
      start = next;
    }
    x = next;
  }
}

void TreeSelection::AddRows(Node& a, Node& b) {
  if (a.Tree() != &tree_ || b.Tree() != &tree_) Raise(Err::InvalidProcedureCall);
  if (mode_ == Mode::Single) return SetSelected(b, true);
  AddRowsNoNotify(a, b);
  Changed();
}

// ---- Observer calls ----------------------------------------------------------------------------

void TreeSelection::NodeAdded(Node& n) {
  if (ranges_.empty() || mode_ == Mode::Single) return;
  // A new node is a leaf: if it landed inside a range, the range goes around it.
  if (Contains(n)) Put(n, n, false);
}

void TreeSelection::NodeAboutToBeRemoved(Node& n) {
  if (anchor_ && InSubtree(*anchor_, n)) anchor_ = nullptr;
  if (mode_ == Mode::Single) {
    // The tree drops its current node with the subtree, without a call of its own.
    if (Node* cur = tree_.SelectedNode(); cur && InSubtree(*cur, n)) Changed();
    return;
  }
  if (ranges_.empty()) return;
  Node* last = LastInSubtree(n);
  const size_t before = ranges_.size();
  bool touched = false;
  std::vector<Range> out;
  for (const Range& r : ranges_) {
    if (Compare(*r.last, n) < 0 || Compare(*r.first, *last) > 0) {
      out.push_back(r);
      continue;
    }
    touched = true;
    Range k = r;
    const bool firstIn = InSubtree(*r.first, n), lastIn = InSubtree(*r.last, n);
    if (firstIn && lastIn) continue;
    if (firstIn) k.first = AfterSubtree(n);
    if (lastIn) k.last = PrevInOrder(n);
    out.push_back(k);
  }
  ranges_ = std::move(out);
  if (touched || ranges_.size() != before) Changed();
}

void TreeSelection::NodeChanged(Node& n, NodeField f) {
  // In Single mode the selection is the current node: told once, for the node that has it
  // (or, when none has it, for the one that lost it).
  if (mode_ != Mode::Single || f != NodeField::Selected) return;
  if (n.Selected() || !tree_.SelectedNode()) Changed();
}

void TreeSelection::Cleared() {
  if (mode_ == Mode::Single) {
    anchor_ = nullptr;
    return;
  }
  anchor_ = nullptr;
  if (ranges_.empty()) return;
  ranges_.clear();
  Changed();
}

// ---- Reordered roots --------------------------------------------------------------------------

void TreeSelection::BeforeRootsReorder() {
  if (mode_ == Mode::Single || ranges_.empty()) return;
  // A range over several roots would take in whatever roots land between its ends: each root's
  // part becomes a range of its own while the old order still says which roots it spans.
  std::vector<Range> out;
  out.reserve(ranges_.size());
  for (const Range& r : ranges_) {
    Node* firstRoot = r.first->Root();
    Node* lastRoot = r.last->Root();
    if (firstRoot == lastRoot) {
      out.push_back(r);
      continue;
    }
    out.push_back({r.first, LastInSubtree(*firstRoot)});
    for (Node* x = NextSibling(*firstRoot); x && x != lastRoot; x = NextSibling(*x))
      out.push_back({x, LastInSubtree(*x)});
    out.push_back({lastRoot, r.last});
  }
  ranges_ = std::move(out);
}

void TreeSelection::AfterRootsReorder() {
  if (mode_ == Mode::Single || ranges_.size() < 2) return;
  std::sort(ranges_.begin(), ranges_.end(), [&](const Range& a, const Range& b) { return Compare(*a.first, *b.first) < 0; });
  std::vector<Range> out;
  out.reserve(ranges_.size());
  for (const Range& r : ranges_) {
    if (!out.empty() && NextInOrder(*out.back().last) == r.first) out.back().last = r.last;
    else out.push_back(r);
  }
  ranges_ = std::move(out);
}

// ---- Type-ahead --------------------------------------------------------------------------------

namespace {

// Whether `text` starts with a prefix already folded. Plain letters are compared as they
// come; from the first other character on, the rest of the text's start is folded.
bool StartsWithFolded(std::u16string_view text, std::u16string_view folded) {
  for (size_t i = 0; i < folded.size(); ++i) {
    if (i >= text.size()) return false;
    char16_t a = text[i];
    const char16_t b = folded[i];
    if (a < 0x80 && b < 0x80) {
      if (a >= u'A' && a <= u'Z') a = static_cast<char16_t>(a - u'A' + u'a');
      if (a != b) return false;
      continue;
    }
    // As many code units as the prefix has left, and one more so that a surrogate pair at the
    // end is not cut in two (folding does not shorten text).
    const size_t want = folded.size() - i;
    const std::u16string rest = FoldCase(text.substr(i, std::min(text.size() - i, want + 1)));
    return rest.size() >= want && std::u16string_view(rest).substr(0, want) == folded.substr(i);
  }
  return true;
}

}  // namespace

Node* TreeSelection::FindRow(Node* from, bool skipFrom, std::u16string_view prefix) const {
  Node* first = tree_.FirstRoot();
  if (!first) return nullptr;
  if (tree_.Sorted()) first = detail::RowIndex::Of(tree_).ChildAt(nullptr, 0);
  if (!from || !from->InTree() || from->Tree() != &tree_) from = first, skipFrom = false;
  const std::u16string folded = FoldCase(prefix);
  if (const TreeFilter* f = tree_.ActiveFilter()) {
    // Only what the filter shows: a hidden node has no row to go to.
    const std::vector<Node*> rows = f->VisibleRows();
    const size_t at = static_cast<size_t>(std::find(rows.begin(), rows.end(), from) - rows.begin());
    const size_t begin = at == rows.size() ? 0 : at + (skipFrom ? 1 : 0);
    for (size_t k = 0; k < rows.size(); ++k)
      if (Node* x = rows[(begin + k) % rows.size()]; StartsWithFolded(x->text_, folded)) return x;
    return nullptr;
  }
  Node* start = skipFrom ? NextRow(*from) : from;
  if (!start) start = first;
  // The links are read directly: this may pass every row shown.
  const bool sortedRoots = tree_.Sorted();
  Node* x = start;
  do {
    if (StartsWithFolded(x->text_, folded)) return x;
    if (x->firstChild_ && x->expanded_) {
      x = x->firstChild_;
      continue;
    }
    Node* next = nullptr;
    for (Node* up = x; up && !next; up = up->parent_)
      next = up->parent_ || !sortedRoots ? up->next_ : NextSibling(*up);
    x = next ? next : first;
  } while (x != start);
  return nullptr;
}

Node* TreeSelection::Typed(std::u16string_view chars, int64_t nowMs, int64_t pauseMs) {
  if (chars.empty()) return nullptr;
  const bool goOn = typedAny_ && nowMs - typedAt_ <= pauseMs;
  typedAny_ = true;
  typedAt_ = nowMs;
  typed_ = goOn ? typed_ + std::u16string(chars) : std::u16string(chars);
  // "aaa" steps through the rows that start with "a", as a list does.
  const bool sameKey =
      typed_.size() > 1 && std::all_of(typed_.begin(), typed_.end(), [&](char16_t c) { return c == typed_.front(); });
  Node* cur = tree_.SelectedNode();
  if (sameKey) return FindRow(cur, true, std::u16string_view(typed_).substr(0, 1));
  return FindRow(cur, !goOn, typed_);
}

// ---- Gestures ----------------------------------------------------------------------------------

void TreeSelection::Click(Node& n, bool shift, bool ctrl) {
  if (n.Tree() != &tree_) Raise(Err::InvalidProcedureCall);
  Ref<Node> keep(&n);
  if (mode_ == Mode::Single) {
    tree_.UserClickNode(n);
    return;
  }
  if (shift && anchor_) {
    if (!ctrl) ranges_.clear();
    AddRowsNoNotify(*anchor_, n);
  } else if (ctrl) {
    Put(n, n, !Contains(n));
    anchor_ = &n;
  } else {
    ranges_.assign(1, {&n, &n});
    anchor_ = &n;
  }
  Changed();
  tree_.UserClickNode(n);  // the current node, and NodeClick as for one
}

void TreeSelection::MoveTo(Node& to, bool shift) {
  if (to.Tree() != &tree_) Raise(Err::InvalidProcedureCall);
  if (mode_ == Mode::Extended) {
    if (shift && anchor_) {
      ranges_.clear();
      AddRowsNoNotify(*anchor_, to);
    } else {
      ranges_.assign(1, {&to, &to});
      anchor_ = &to;
    }
    Changed();
  }
  to.SetSelected(true);
}

}  // namespace desk
