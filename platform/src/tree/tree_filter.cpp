// TreeFilter: the shown rows as lists of shown children, made in one pass over the nodes and
// kept through the tree's changes.
#include "desk/tree_filter.h"

#include <algorithm>
#include <atomic>

#include "desk/text.h"
#include "tree/tree_index.h"
#include "tree/tree_rows.h"

namespace desk {

namespace {

// Whether `text`, letter case folded, holds `needle` (folded). ASCII text folds char by char,
// without a copy: the common case, met a million times per keystroke.
bool Holds(std::u16string_view text, std::u16string_view needle) {
  const size_t m = needle.size();
  if (text.size() < m) {
    // Full folding may lengthen a non-ASCII text ("ß" holds "ss").
    bool ascii = true;
    for (char16_t c : text) ascii = ascii && c < 0x80;
    if (ascii) return false;
  }
  const char16_t first = needle[0];
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t c = text[i];
    if (c >= 0x80) return FoldCase(text).find(needle) != std::u16string::npos;
    if (i + m > n) continue;  // only looking for non-ASCII from here on
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + (u'a' - u'A'));
    if (c != first) continue;
    size_t k = 1;
    for (; k < m; ++k) {
      char16_t d = text[i + k];
      if (d >= 0x80) return FoldCase(text).find(needle) != std::u16string::npos;
      if (d >= u'A' && d <= u'Z') d = static_cast<char16_t>(d + (u'a' - u'A'));
      if (d != needle[k]) break;
    }
    if (k == m) return true;
  }
  return false;
}

}  // namespace

TreeFilter::TreeFilter(TreeView& tree) : tree_(tree) { tree_.AddObserver(this); }
// Goes with its tree, whose nodes are gone or detached (which clears their bits) by then.
TreeFilter::~TreeFilter() { tree_.RemoveObserver(this); }

void TreeFilter::SetText(std::u16string text) {
  if (text == text_) return;
  std::u16string folded = FoldCase(text);
  Refilter([&] {
    text_ = std::move(text);
    folded_ = std::move(folded);
  });
}

void TreeFilter::SetMatchKeys(bool keys) {
  if (keys == keys_) return;
  if (!Active()) keys_ = keys;
  else Refilter([&] { keys_ = keys; });
}

void TreeFilter::SetShowSubtree(bool subtree) {
  if (subtree == subtree_) return;
  if (!Active()) subtree_ = subtree;
  else Refilter([&] { subtree_ = subtree; });
}

bool TreeFilter::Test(const Node& n) const {
  if (keys_) {
    // The folded key is what the key index holds: folded as the text is.
    const std::u16string& k = n.FoldedKey();
    return !k.empty() && k.find(folded_) != std::u16string::npos;
  }
  return Holds(n.text_, folded_);
}

void TreeFilter::SetOpen(Node& n, bool open) {
  if (!Active() || !(n.filterBits_ & kShown)) return;
  n.filterBits_ = static_cast<uint8_t>(open ? (n.filterBits_ | kOpen) : (n.filterBits_ & ~kOpen));
}

// ---- The shown rows ----------------------------------------------------------------------------

const std::vector<Node*>* TreeFilter::FindList(const Node* parent) const {
  if (!parent) return &roots_;
  if (!(parent->filterBits_ & kKids)) return nullptr;  // most shown nodes: no look-up
  // A view reads the rows of one parent after another.
  if (parent == found_.parent) return found_.list;
  auto it = kids_.find(parent);
  if (it == kids_.end()) return nullptr;
  found_ = {parent, &it->second};
  return found_.list;
}

std::vector<Node*>& TreeFilter::ListOf(const Node* parent) {
  if (!parent) return roots_;
  const_cast<Node*>(parent)->filterBits_ |= kKids;
  return kids_[parent];
}

int32_t TreeFilter::Count(const Node* parent) const {
  const auto* list = FindList(parent);
  return list ? static_cast<int32_t>(list->size()) : 0;
}

Node* TreeFilter::ChildAt(const Node* parent, int32_t place) const {
  const auto* list = FindList(parent);
  return list && place >= 0 && static_cast<size_t>(place) < list->size() ? (*list)[place] : nullptr;
}

std::vector<Node*> TreeFilter::VisibleRows() const {
  std::vector<Node*> rows;
  std::vector<Node*> stack(roots_.rbegin(), roots_.rend());
  while (!stack.empty()) {
    Node* n = stack.back();
    stack.pop_back();
    rows.push_back(n);
    if (!(n->filterBits_ & kOpen)) continue;
    if (const auto* kids = FindList(n)) stack.insert(stack.end(), kids->rbegin(), kids->rend());
  }
  return rows;
}

std::vector<Node*> TreeFilter::ShownNodes() const {
  std::vector<Node*> out;
  std::vector<Node*> stack(roots_.rbegin(), roots_.rend());
  while (!stack.empty()) {
    Node* n = stack.back();
    stack.pop_back();
    out.push_back(n);
    if (const auto* kids = FindList(n)) stack.insert(stack.end(), kids->rbegin(), kids->rend());
  }
  return out;
}

std::vector<Node*> TreeFilter::OpenParents() const {
  std::vector<Node*> out;
  for (const auto& [parent, list] : kids_)
    if (!list.empty() && (parent->filterBits_ & kOpen)) out.push_back(const_cast<Node*>(parent));
  return out;
}

std::vector<Node*> TreeFilter::ExpandedNodes() const {
  std::vector<Node*> out;
  auto take = [&](Node* n) {
    if (n->expanded_ && n->firstChild_) out.push_back(n);
  };
  if (sweep_.valid && sweep_.added.empty() && sweep_.goneCount == 0) {
    // A node with children is one whose subtree ends past it: only those are read.
    for (size_t i = 0; i < sweep_.order.size(); ++i)
      if (sweep_.end[i] > i + 1) take(sweep_.order[i]);
    return out;
  }
  std::vector<Node*> stack;
  for (Node* r = tree_.firstRoot_; r; r = r->next_) stack.push_back(r);
  while (!stack.empty()) {
    Node* n = stack.back();
    stack.pop_back();
    take(n);
    for (Node* c = n->firstChild_; c; c = c->next_) stack.push_back(c);
  }
  return out;
}

void TreeFilter::ClearBits() {
  found_ = {};
  // Every shown node is in one list.
  for (Node* n : roots_) n->filterBits_ &= kAdded;
  for (auto& [parent, list] : kids_)
    for (Node* n : list) n->filterBits_ &= kAdded;
  roots_.clear();
  kids_.clear();
  matches_ = 0;
}

void TreeFilter::Refilter(const std::function<void()>& change) {
  // The view is told while the rows are still the ones it knows.
  if (view_) view_->ResetBegin();
  ClearBits();
  if (change) change();
  if (Active()) Build();
  placesStale_ = false;
  if (view_) view_->ResetEnd();
}

namespace {
constexpr uint32_t kNotSwept = UINT32_MAX;
std::atomic<uint64_t> sweepsMade{0};
}  // namespace

uint64_t TreeFilter::Sweeps() { return sweepsMade.load(std::memory_order_relaxed); }

void TreeFilter::DropSweep() {
  Sweep& w = sweep_;
  for (Node* n : w.added) n->filterBits_ &= static_cast<uint8_t>(~kAdded);
  w.added.clear();
  w.gone.clear();
  w.goneCount = 0;
  w.valid = false;
}

void TreeFilter::SweepAdded(Node& n) {
  Sweep& w = sweep_;
  if (!w.valid) return;
  // Past a share of the sweep, a new one costs less than putting each at its place.
  if (w.added.size() >= std::max<size_t>(1024, w.order.size() / 16)) return DropSweep();
  n.filterBits_ |= kAdded;
  w.added.push_back(&n);
}

void TreeFilter::SweepRemoving(Node& top) {
  Sweep& w = sweep_;
  if (!w.valid) return;
  if (top.slot_ < w.at.size() && w.at[top.slot_] != kNotSwept) {
    // Its subtree is the run of the order up to where the node's subtree ended.
    const uint32_t i = w.at[top.slot_];
    for (uint32_t k = i; k < w.end[i]; ++k)
      if (!w.gone[k]) {
        w.gone[k] = true;
        ++w.goneCount;
      }
  }
  if (!w.added.empty()) {
    // Nodes added since, at or under it, are let go before they are.
    bool any = false;
    std::vector<Node*> stack{&top};
    while (!stack.empty()) {
      Node* x = stack.back();
      stack.pop_back();
      if (x->filterBits_ & kAdded) {
        x->filterBits_ &= static_cast<uint8_t>(~kAdded);
        any = true;
      }
      for (Node* c = x->firstChild_; c; c = c->next_) stack.push_back(c);
    }
    if (any) std::erase_if(w.added, [](Node* x) { return !(x->filterBits_ & kAdded); });
  }
  if (w.goneCount > w.order.size() / 2) DropSweep();  // mostly gone: a new one is smaller
}

void TreeFilter::SweepRenamed(Node& n, NodeField f) {
  Sweep& w = sweep_;
  if (!w.valid) return;
  if ((f == NodeField::Key) != w.keys || (n.filterBits_ & kAdded)) return;  // what is swept, or read as it is
  // A node without children reads as one added now (a sorted root goes to its new place
  // then): its old text is marked gone. A node with children may show its subtree by its new
  // text, which the sweep would not know.
  const uint32_t i = n.slot_ < w.at.size() ? w.at[n.slot_] : kNotSwept;
  if (n.firstChild_ || i == kNotSwept || w.gone[i]) return DropSweep();
  w.gone[i] = true;
  ++w.goneCount;
  SweepAdded(n);
}

void TreeFilter::MakeSweep() {
  DropSweep();
  sweepsMade.fetch_add(1, std::memory_order_relaxed);
  Sweep& w = sweep_;
  w.order.clear();
  w.start.clear();
  w.end.clear();
  w.chars.clear();
  w.keys = keys_;
  const size_t n = static_cast<size_t>(tree_.NodeCollection().Count());
  w.order.reserve(n);
  w.start.reserve(n + 1);
  std::vector<uint32_t> parents;
  parents.reserve(n);
  std::vector<Node*> roots;
  if (tree_.Sorted()) {
    roots = detail::DisplayRoots(tree_.firstRoot_, true);
  } else {
    for (Node* r = tree_.firstRoot_; r; r = r->next_) roots.push_back(r);
  }
  // Depth first in display order, each node's text folded after the previous one's.
  struct Item {
    Node* n;
    uint32_t parent;
  };
  constexpr uint32_t kNoParent = UINT32_MAX;
  std::vector<Item> stack;
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) stack.push_back({*it, kNoParent});
  while (!stack.empty()) {
    auto [x, parent] = stack.back();
    stack.pop_back();
    const uint32_t i = static_cast<uint32_t>(w.order.size());
    w.order.push_back(x);
    parents.push_back(parent);
    w.start.push_back(static_cast<uint32_t>(w.chars.size()));
    if (keys_) {
      w.chars += x->FoldedKey();
    } else {
      const size_t at = w.chars.size();
      w.chars += x->text_;
      for (size_t k = at; k < w.chars.size(); ++k) {
        char16_t& c = w.chars[k];
        if (c >= 0x80) {
          w.chars.resize(at);
          w.chars += FoldCase(x->text_);
          break;
        }
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + (u'a' - u'A'));
      }
    }
    w.chars += u'\0';  // no match runs from one text into the next (checked, for a needle with one)
    if (Node* first = x->firstChild_)
      for (Node* c = first->prev_;; c = c->prev_) {
        stack.push_back({c, i});
        if (c == first) break;
      }
  }
  w.start.push_back(static_cast<uint32_t>(w.chars.size()));
  // Where each node's subtree ends in the order: children come after their parent.
  w.end.resize(w.order.size());
  for (size_t i = 0; i < w.order.size(); ++i) w.end[i] = static_cast<uint32_t>(i + 1);
  for (size_t i = w.order.size(); i-- > 0;)
    if (parents[i] != kNoParent) w.end[parents[i]] = std::max(w.end[parents[i]], w.end[i]);
  w.at.assign(tree_.index_->positions.SlotCount(), kNotSwept);
  for (size_t i = 0; i < w.order.size(); ++i) w.at[w.order[i]->slot_] = static_cast<uint32_t>(i);
  w.gone.assign(w.order.size(), false);
  w.valid = true;
}

void TreeFilter::Build() {
  places_.resize(tree_.index_->positions.SlotCount());
  if (!sweep_.valid || sweep_.keys != keys_) MakeSweep();
  const Sweep& w = sweep_;
  const std::u16string_view all(w.chars);
  const size_t m = folded_.size();
  std::vector<Node*> chain;
  const Node* lastParent = nullptr;
  std::vector<Node*>* lastList = &roots_;
  auto append = [&](Node& x) {
    if (x.parent_ != lastParent) {
      lastParent = x.parent_;
      lastList = &ListOf(x.parent_);
    }
    places_[x.slot_] = static_cast<int32_t>(lastList->size());
    lastList->push_back(&x);
  };
  // A match shows with its ancestors (open), appended to their lists in display order.
  auto show = [&](Node& x, bool match, bool under) {
    if (match) ++matches_;
    chain.clear();
    Node* a = x.parent_;
    for (; a && !(a->filterBits_ & kShown); a = a->parent_) chain.push_back(a);
    if (match)
      for (Node* b = a; b; b = b->parent_) b->filterBits_ |= kOpen;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      (*it)->filterBits_ |= kShown | kOpen;
      append(**it);
    }
    x.filterBits_ |= kShown | (match ? kMatch : 0) | (under ? kUnder : 0) | (x.expanded_ ? kOpen : 0);
    append(x);
  };
  // One sweep of the folded texts: each hit names its node by the text it falls in.
  size_t i = 0;
  for (size_t p = all.find(folded_); p != std::u16string_view::npos && i < w.order.size(); p = all.find(folded_, p + 1)) {
    while (w.start[i + 1] <= p) ++i;
    if (p + m >= w.start[i + 1]) continue;  // into the next text
    if (w.gone[i]) {
      p = w.start[i + 1] - 1;  // removed since
      continue;
    }
    Node& x = *w.order[i];
    show(x, true, false);
    if (subtree_) {
      // Everything under it shows too, itself matched or not.
      for (size_t k = i + 1; k < w.end[i]; ++k) {
        if (w.gone[k]) continue;
        const std::u16string_view text = all.substr(w.start[k], w.start[k + 1] - w.start[k] - 1);
        show(*w.order[k], text.find(folded_) != std::u16string_view::npos, true);
      }
      p = w.start[w.end[i]] - 1;  // on past the subtree
      i = w.end[i] - 1;
    } else {
      p = w.start[i + 1] - 1;  // on to the next text
    }
  }
  if (!w.added.empty()) ShowAdded();
}

void TreeFilter::ShowAdded() {
  auto& rows = detail::RowIndex::Of(tree_);
  std::vector<Node*> chain;
  // The highest newly shown node of each goes among shown children that were listed before
  // it: by parent (null: the roots), merged in once per list.
  std::unordered_map<const Node*, std::vector<Node*>> into;
  for (Node* x : sweep_.added) {
    if (x->filterBits_ & kShown) continue;
    const bool match = Test(*x);
    Node* p = x->parent_;
    const bool under = subtree_ && p && (p->filterBits_ & kShown) && (p->filterBits_ & (kMatch | kUnder));
    if (!match && !under) continue;
    if (match) ++matches_;
    chain.assign(1, x);
    Node* a = p;
    for (; a && !(a->filterBits_ & kShown); a = a->parent_) chain.push_back(a);
    if (match)
      for (Node* b = a; b; b = b->parent_) b->filterBits_ |= kOpen;
    into[chain.back()->parent_].push_back(chain.back());
    // Below the highest, each is the first shown child of a parent shown just now.
    for (size_t i = chain.size() - 1; i-- > 0;) {
      std::vector<Node*>& kids = ListOf(chain[i + 1]);
      places_[chain[i]->slot_] = static_cast<int32_t>(kids.size());
      kids.push_back(chain[i]);
    }
    for (size_t i = 1; i < chain.size(); ++i) chain[i]->filterBits_ |= kShown | kOpen;
    x->filterBits_ |= kShown | (match ? kMatch : 0) | (under ? kUnder : 0) | (x->expanded_ ? kOpen : 0);
  }
  std::vector<Node*> merged;
  for (auto& [parent, nodes] : into) {
    std::vector<Node*>& list = ListOf(parent);
    auto before = [&](Node* a, Node* b) { return rows.PlaceOf(*a) < rows.PlaceOf(*b); };
    std::sort(nodes.begin(), nodes.end(), before);
    merged.clear();
    merged.reserve(list.size() + nodes.size());
    size_t from = 0;
    size_t first = list.size();
    for (Node* n : nodes) {
      const int32_t at = rows.PlaceOf(*n);
      auto it = std::partition_point(list.begin() + static_cast<std::ptrdiff_t>(from), list.end(),
                                     [&](Node* x) { return rows.PlaceOf(*x) < at; });
      merged.insert(merged.end(), list.begin() + static_cast<std::ptrdiff_t>(from), it);
      first = std::min(first, merged.size());
      merged.push_back(n);
      from = static_cast<size_t>(it - list.begin());
    }
    merged.insert(merged.end(), list.begin() + static_cast<std::ptrdiff_t>(from), list.end());
    list.swap(merged);
    Renumber(list, first);
  }
}

void TreeFilter::FreshPlaces() const {
  if (placesStale_) {
    // The tree renumbered its slots (after removals): the places move with them.
    placesStale_ = false;
    places_.assign(tree_.index_->positions.SlotCount(), 0);
    auto number = [&](const std::vector<Node*>& list) {
      for (size_t i = 0; i < list.size(); ++i) places_[list[i]->slot_] = static_cast<int32_t>(i);
    };
    number(roots_);
    for (const auto& [parent, list] : kids_) number(list);
  }
}

int32_t TreeFilter::PlaceOf(const Node& n) const {
  FreshPlaces();
  return places_[n.slot_];
}

void TreeFilter::Renumber(std::vector<Node*>& list, size_t from) {
  for (size_t i = from; i < list.size(); ++i) places_[list[i]->slot_] = static_cast<int32_t>(i);
}

int32_t TreeFilter::Insert(Node& n) {
  std::vector<Node*>& list = ListOf(n.parent_);
  auto& rows = detail::RowIndex::Of(tree_);
  const int32_t at = rows.PlaceOf(n);
  auto it = std::partition_point(list.begin(), list.end(), [&](Node* x) { return rows.PlaceOf(*x) < at; });
  const size_t place = static_cast<size_t>(it - list.begin());
  list.insert(it, &n);
  Renumber(list, place);
  return static_cast<int32_t>(place);
}

// ---- Observer calls ----------------------------------------------------------------------------

void TreeFilter::NodeAdded(Node& n) {
  SweepAdded(n);
  if (!Active()) return;
  FreshPlaces();
  if (places_.size() <= n.slot_) places_.resize(static_cast<size_t>(n.slot_) + 1);
  const bool match = Test(n);
  Node* p = n.parent_;
  const bool under = subtree_ && p && (p->filterBits_ & kShown) && (p->filterBits_ & (kMatch | kUnder));
  if (!match && !under) return;
  if (match) ++matches_;
  // The node and the ancestors that show for it, the top one announced with the others under it.
  std::vector<Node*> chain{&n};
  Node* a = p;
  for (; a && !(a->filterBits_ & kShown); a = a->parent_) chain.push_back(a);
  Node& top = *chain.back();
  auto& rows = detail::RowIndex::Of(tree_);
  const std::vector<Node*>* list = FindList(top.parent_);
  int32_t place = 0;
  if (list) {
    const int32_t at = rows.PlaceOf(top);
    place = static_cast<int32_t>(
        std::partition_point(list->begin(), list->end(), [&](Node* x) { return rows.PlaceOf(*x) < at; }) -
        list->begin());
  }
  if (view_) view_->InsertBegin(top.parent_, place);
  Insert(top);
  for (size_t i = chain.size() - 1; i-- > 0;) {
    std::vector<Node*>& kids = ListOf(chain[i + 1]);
    places_[chain[i]->slot_] = static_cast<int32_t>(kids.size());
    kids.push_back(chain[i]);
    chain[i + 1]->filterBits_ |= kShown | kOpen;
  }
  n.filterBits_ |= kShown | (match ? kMatch : 0) | (under ? kUnder : 0);
  if (view_) view_->InsertEnd();
}

void TreeFilter::NodeAboutToBeRemoved(Node& n) {
  SweepRemoving(n);
  if (!Active() || !(n.filterBits_ & kShown)) return;
  // Up to the highest ancestor shown only for this node.
  FreshPlaces();
  Node* top = &n;
  while (Node* p = top->parent_) {
    if (p->filterBits_ & (kMatch | kUnder) || Count(p) != 1) break;
    top = p;
  }
  std::vector<Node*>& list = ListOf(top->parent_);
  const int32_t place = PlaceOf(*top);
  if (view_) view_->RemoveBegin(*top, place);
  list.erase(list.begin() + place);
  Renumber(list, static_cast<size_t>(place));
  found_ = {};
  if (top->parent_ && list.empty()) {
    kids_.erase(top->parent_);
    top->parent_->filterBits_ &= static_cast<uint8_t>(~kKids);
  }
  std::vector<Node*> stack{top};
  while (!stack.empty()) {
    Node* x = stack.back();
    stack.pop_back();
    if (x->filterBits_ & kMatch) --matches_;
    x->filterBits_ = 0;
    if (auto it = kids_.find(x); it != kids_.end()) {
      stack.insert(stack.end(), it->second.begin(), it->second.end());
      kids_.erase(it);
    }
  }
  if (view_) view_->RemoveEnd();
}

void TreeFilter::NodeChanged(Node& n, NodeField f) {
  if (f == NodeField::Text || f == NodeField::Key) SweepRenamed(n, f);
  if (!Active()) return;
  switch (f) {
    case NodeField::Text:
    case NodeField::Key:
      if ((f == NodeField::Key) != keys_) {
        // A sorted root's new text moves it among the roots.
        if (f == NodeField::Text && !n.parent_ && tree_.Sorted() && (n.filterBits_ & kShown)) Refilter();
        return;
      }
      if (Test(n) != ((n.filterBits_ & kMatch) != 0) || (!n.parent_ && tree_.Sorted() && (n.filterBits_ & kShown)))
        Refilter();
      return;
    case NodeField::Expanded: SetOpen(n, n.expanded_); return;
    default: return;
  }
}

void TreeFilter::SettingChanged(DispId id) {
  if (id == treeid::kSorted) DropSweep();
  if (id == treeid::kSorted && Active()) Refilter();
}

void TreeFilter::Cleared() {
  // The nodes are gone (a host may still hold some: their bits mean nothing now).
  sweep_ = Sweep{};
  found_ = {};
  roots_.clear();
  kids_.clear();
  matches_ = 0;
}

}  // namespace desk
