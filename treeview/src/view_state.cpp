#include "view_state.h"

#include <algorithm>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "desk/error.h"
#include "desk/text.h"
#include "desk/tree.h"
#include "desk/tree_selection.h"

namespace varbel {

namespace {

constexpr const char* kFormat = "VarbelTreeview view state";
constexpr int kVersion = 1;

// A node as the text keeps it: its key, or for a node without one the places (0 the first, in
// sibling order) of it and its ancestors from the root down, as an array.
nlohmann::json Entry(const desk::Node& n, const std::vector<int32_t>* path) {
  if (!n.Key().empty()) return desk::U8(n.Key());
  return path ? nlohmann::json(*path) : nlohmann::json();
}

// A node as a read text names it: a key, or places from the root down.
struct Saved {
  std::u16string key;
  std::vector<int64_t> places;
  bool byPlaces = false;
  bool bad = false;  // an entry of a kind this version does not know: skipped
};

// Reads a view state's text in one pass, straight into what RestoreViewState needs (no
// document in between: a restore costs little more than the expansions it makes). Fields
// and values it does not know are passed over at any depth.
class Reader : public nlohmann::json_sax<nlohmann::json> {
 public:
  std::string format;
  std::vector<Saved> expanded, selected;
  Saved current, top;

  bool IsViewState() const { return object_ && format == kFormat; }

  bool null() override { return Value(); }
  bool boolean(bool) override { return Value(); }
  bool number_integer(number_integer_t v) override { return Place(v); }
  bool number_unsigned(number_unsigned_t v) override {
    return Place(v > static_cast<number_unsigned_t>(INT64_MAX) ? -1 : static_cast<int64_t>(v));
  }
  bool number_float(number_float_t, const string_t&) override { return Value(); }
  bool binary(binary_t&) override { return Value(); }
  bool string(string_t& v) override {
    if (depth_ == 1 && field_ == Field::Format) format = v;
    else if (depth_ == 1 && (field_ == Field::Current || field_ == Field::Top)) Single() = ByKey(v);
    else if (depth_ == 2 && list_) list_->push_back(ByKey(v));
    else return Value();
    return true;
  }
  bool start_object(std::size_t) override {
    if (depth_ == 0) object_ = true;
    else Value();
    ++depth_;
    return true;
  }
  bool key(string_t& k) override {
    if (depth_ == 1) {
      field_ = k == "format"     ? Field::Format
               : k == "expanded" ? Field::Expanded
               : k == "selected" ? Field::Selected
               : k == "current"  ? Field::Current
               : k == "top"      ? Field::Top
                                 : Field::Other;
      list_ = nullptr;
    }
    return true;
  }
  bool end_object() override { return --depth_, true; }
  bool start_array(std::size_t) override {
    if (depth_ == 1 && (field_ == Field::Expanded || field_ == Field::Selected)) {
      list_ = field_ == Field::Expanded ? &expanded : &selected;
      list_->clear();
    } else if (depth_ == 1 && (field_ == Field::Current || field_ == Field::Top)) {
      Single() = ByPlaces();
      entry_ = &Single();
    } else if (depth_ == 2 && list_) {
      list_->push_back(ByPlaces());
      entry_ = &list_->back();
    } else {
      Value();
    }
    ++depth_;
    return true;
  }
  bool end_array() override {
    --depth_;
    if (entry_ && depth_ == (list_ ? 2 : 1)) entry_ = nullptr;
    else if (list_ && depth_ == 1) list_ = nullptr;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

 private:
  enum class Field { Other, Format, Expanded, Selected, Current, Top };

  Saved& Single() { return field_ == Field::Current ? current : top; }
  // A value other than a key or a place: inside a list of places it spoils the entry.
  bool Value() {
    if (entry_ && depth_ == (list_ ? 3 : 2)) entry_->bad = true;
    return true;
  }
  bool Place(int64_t v) {
    if (!entry_ || depth_ != (list_ ? 3 : 2)) return Value();
    if (v < 0) entry_->bad = true;
    entry_->places.push_back(v);
    return true;
  }
  static Saved ByKey(const std::string& k) {
    Saved s;
    s.key = Key(k);
    return s;
  }
  static Saved ByPlaces() {
    Saved s;
    s.byPlaces = true;
    return s;
  }
  static std::u16string Key(const std::string& s) {
    if (std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
      return std::u16string(s.begin(), s.end());
    return desk::U16(s);
  }

  int depth_ = 0;
  bool object_ = false;
  Field field_ = Field::Other;
  std::vector<Saved>* list_ = nullptr;  // the list of nodes being read
  Saved* entry_ = nullptr;              // the places being read
};

// The text as UTF-8; a saved state is plain ASCII unless its keys are not.
std::string Utf8(const std::u16string& s) {
  if (!std::all_of(s.begin(), s.end(), [](char16_t c) { return c < 0x80; })) return desk::U8(s);
  std::string out(s.size(), '\0');
  std::transform(s.begin(), s.end(), out.begin(), [](char16_t c) { return static_cast<char>(c); });
  return out;
}

// The node a saved entry names now, or null (a key no node has, a place past the last).
desk::Node* Find(desk::TreeView& tree, const Saved& s) {
  if (s.bad) return nullptr;
  if (!s.byPlaces) return s.key.empty() ? nullptr : tree.NodeCollection().Find(s.key);
  if (s.places.empty()) return nullptr;
  desk::Node* n = nullptr;
  for (int64_t place : s.places) {
    n = n ? n->Child() : tree.FirstRoot();
    for (int64_t i = place; n && i > 0; --i) n = n->Next();
    if (!n) return nullptr;
  }
  return n;
}

}  // namespace

std::u16string SaveViewState(desk::TreeView& tree) {
  desk::TreeSelection& sel = tree.Selection();
  const std::vector<desk::Node*> selected = sel.SelectedNodes();
  desk::Node* cur = tree.SelectedNode();
  desk::Node* top = tree.TopNode();
  // Nodes without a key are kept by their places, found on the walk that finds the expanded
  // nodes (the walk knows the places; a node alone would count its siblings).
  std::unordered_map<const desk::Node*, std::vector<int32_t>> paths;
  for (desk::Node* n : selected)
    if (n->Key().empty()) paths.emplace(n, std::vector<int32_t>());
  for (desk::Node* n : {cur, top})
    if (n && n->Key().empty()) paths.emplace(n, std::vector<int32_t>());

  nlohmann::json j;
  j["format"] = kFormat;
  j["version"] = kVersion;
  auto& expanded = j["expanded"] = nlohmann::json::array();
  // Depth first in tree order, with the places of the nodes on the way down.
  std::vector<int32_t> path{0};
  std::vector<desk::Node*> stack{tree.FirstRoot()};  // the node at each depth
  while (!stack.empty() && stack.back()) {
    desk::Node* n = stack.back();
    if (n->Expanded()) expanded.push_back(Entry(*n, &path));
    if (!paths.empty() && n->Key().empty()) {
      auto it = paths.find(n);
      if (it != paths.end()) it->second = path;
    }
    if (desk::Node* c = n->Child()) {
      stack.push_back(c);
      path.push_back(0);
      continue;
    }
    // On to the next sibling, climbing past the last ones.
    while (!stack.empty()) {
      if (desk::Node* next = stack.back()->Next()) {
        stack.back() = next;
        ++path.back();
        break;
      }
      stack.pop_back();
      path.pop_back();
    }
  }
  auto& sels = j["selected"] = nlohmann::json::array();
  for (desk::Node* n : selected) sels.push_back(Entry(*n, n->Key().empty() ? &paths[n] : nullptr));
  if (cur) j["current"] = Entry(*cur, cur->Key().empty() ? &paths[cur] : nullptr);
  if (top) j["top"] = Entry(*top, top->Key().empty() ? &paths[top] : nullptr);
  return desk::U16(j.dump());
}

void RestoreViewState(desk::TreeView& tree, const std::u16string& state) {
  // Read in full before anything changes.
  Reader r;
  if (!nlohmann::json::sax_parse(Utf8(state), &r) || !r.IsViewState()) desk::Raise(desk::Err::InvalidProcedureCall);

  desk::Ref<desk::TreeView> keep(&tree);  // Expand handlers run inside
  // Collapse what is open now and not in the state, among the nodes shown (an expanded node
  // under a collapsed one is left as it is). Usually nothing is open (the nodes were just
  // made again), and the set of wanted nodes is not needed.
  std::vector<desk::Ref<desk::Node>> toCollapse;
  for (desk::Node* r = tree.FirstRoot(); r; r = r->Next()) {
    if (!r->Expanded()) continue;
    std::vector<desk::Node*> stack{r};
    while (!stack.empty()) {
      desk::Node* n = stack.back();
      stack.pop_back();
      if (!n->Expanded()) continue;
      toCollapse.emplace_back(n);
      for (desk::Node* c = n->Child(); c; c = c->Next()) stack.push_back(c);
    }
  }
  if (!toCollapse.empty()) {
    std::unordered_set<desk::Node*> wanted;
    for (const Saved& s : r.expanded)
      if (desk::Node* n = Find(tree, s)) wanted.insert(n);
    std::erase_if(toCollapse, [&](const desk::Ref<desk::Node>& n) { return wanted.count(n.get()) != 0; });
  }
  for (auto& n : toCollapse)
    if (n->InTree()) n->SetExpanded(false);
  // Each node is looked up just before it opens: an Expand handler may add the nodes named
  // after it (children on demand), or remove them. The node stays alive through its own event.
  for (const Saved& s : r.expanded)
    if (desk::Node* n = Find(tree, s)) n->SetExpanded(true);

  // Looked up after the Expand handlers ran: they may have added the nodes named here.
  desk::TreeSelection& sel = tree.Selection();
  if (desk::Node* cur = Find(tree, r.current)) cur->SetSelected(true);
  if (sel.GetMode() == desk::TreeSelection::Mode::Extended) {
    sel.Clear();
    for (const Saved& s : r.selected)
      if (desk::Node* n = Find(tree, s)) sel.SetSelected(*n, true);
  }
  if (desk::Node* t = Find(tree, r.top)) tree.ScrollToTop(*t);
}

}  // namespace varbel
