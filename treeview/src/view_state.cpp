#include "view_state.h"

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

// The node a saved entry names now, or null (a key no node has, a place past the last).
desk::Node* Find(desk::TreeView& tree, const nlohmann::json& entry) {
  if (entry.is_string()) {
    const std::string& key = entry.get_ref<const std::string&>();
    return key.empty() ? nullptr : tree.NodeCollection().Find(desk::U16(key));
  }
  if (!entry.is_array() || entry.empty()) return nullptr;
  desk::Node* n = nullptr;
  for (const auto& place : entry) {
    if (!place.is_number_integer() || place.get<int64_t>() < 0) return nullptr;
    n = n ? n->Child() : tree.FirstRoot();
    for (int64_t i = place.get<int64_t>(); n && i > 0; --i) n = n->Next();
    if (!n) return nullptr;
  }
  return n;
}

std::vector<desk::Node*> Nodes(desk::TreeView& tree, const nlohmann::json& j, const char* field) {
  std::vector<desk::Node*> out;
  auto it = j.find(field);
  if (it == j.end() || !it->is_array()) return out;
  out.reserve(it->size());
  for (const auto& e : *it)
    if (desk::Node* n = Find(tree, e)) out.push_back(n);
  return out;
}

desk::Node* NodeOf(desk::TreeView& tree, const nlohmann::json& j, const char* field) {
  auto it = j.find(field);
  return it == j.end() ? nullptr : Find(tree, *it);
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
  // Parsed in full before anything changes.
  const nlohmann::json j = nlohmann::json::parse(desk::U8(state), nullptr, false);
  if (j.is_discarded() || !j.is_object() || j.value("format", std::string()) != kFormat)
    desk::Raise(desk::Err::InvalidProcedureCall);

  desk::Ref<desk::TreeView> keep(&tree);  // Expand handlers run inside
  std::vector<desk::Ref<desk::Node>> toExpand;
  {
    const std::vector<desk::Node*> found = Nodes(tree, j, "expanded");
    toExpand.assign(found.begin(), found.end());
  }
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
    for (auto& n : toExpand) wanted.insert(n.get());
    std::erase_if(toCollapse, [&](const desk::Ref<desk::Node>& n) { return wanted.count(n.get()) != 0; });
  }
  for (auto& n : toCollapse)
    if (n->InTree()) n->SetExpanded(false);
  for (auto& n : toExpand)
    if (n->InTree()) n->SetExpanded(true);

  // Looked up after the Expand handlers ran: they may have added the nodes named here.
  desk::TreeSelection& sel = tree.Selection();
  if (desk::Node* cur = NodeOf(tree, j, "current")) cur->SetSelected(true);
  if (sel.GetMode() == desk::TreeSelection::Mode::Extended) {
    sel.Clear();
    for (desk::Node* n : Nodes(tree, j, "selected"))
      if (n->InTree()) sel.SetSelected(*n, true);
  }
  if (desk::Node* t = NodeOf(tree, j, "top")) tree.ScrollToTop(*t);
}

}  // namespace varbel
