#include "view_state.h"

#include <nlohmann/json.hpp>
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

// Every node in tree order, parents before children (children in sibling order; the order of
// roots does not matter here).
template <class F>
void Walk(desk::TreeView& tree, F&& f) {
  std::vector<desk::Node*> stack;
  for (desk::Node* r = tree.LastRoot(); r; r = r->Previous()) stack.push_back(r);
  while (!stack.empty()) {
    desk::Node* n = stack.back();
    stack.pop_back();
    f(*n);
    if (desk::Node* c = n->Child())
      for (desk::Node* x = c->LastSibling(); x; x = x->Previous()) stack.push_back(x);
  }
}

std::vector<std::string> Keys(const nlohmann::json& j, const char* field) {
  std::vector<std::string> out;
  auto it = j.find(field);
  if (it == j.end() || !it->is_array()) return out;
  for (const auto& k : *it)
    if (k.is_string()) out.push_back(k.get<std::string>());
  return out;
}

desk::Node* Find(desk::TreeView& tree, const std::string& key) {
  return key.empty() ? nullptr : tree.NodeCollection().Find(desk::U16(key));
}

}  // namespace

std::u16string SaveViewState(desk::TreeView& tree) {
  nlohmann::json j;
  j["format"] = kFormat;
  j["version"] = kVersion;
  auto& expanded = j["expanded"] = nlohmann::json::array();
  Walk(tree, [&](desk::Node& n) {
    if (n.Expanded() && !n.Key().empty()) expanded.push_back(desk::U8(n.Key()));
  });
  auto& selected = j["selected"] = nlohmann::json::array();
  for (desk::Node* n : tree.Selection().SelectedNodes())
    if (!n->Key().empty()) selected.push_back(desk::U8(n->Key()));
  if (desk::Node* cur = tree.SelectedNode(); cur && !cur->Key().empty()) j["current"] = desk::U8(cur->Key());
  if (desk::Node* top = tree.TopNode(); top && !top->Key().empty()) j["top"] = desk::U8(top->Key());
  return desk::U16(j.dump());
}

void RestoreViewState(desk::TreeView& tree, const std::u16string& state) {
  // Parsed in full before anything changes.
  const nlohmann::json j = nlohmann::json::parse(desk::U8(state), nullptr, false);
  if (j.is_discarded() || !j.is_object() || j.value("format", std::string()) != kFormat)
    desk::Raise(desk::Err::InvalidProcedureCall);
  const std::vector<std::string> expandedKeys = Keys(j, "expanded"), selectedKeys = Keys(j, "selected");
  const std::string current = j.value("current", std::string()), top = j.value("top", std::string());

  desk::Ref<desk::TreeView> keep(&tree);  // Expand handlers run inside
  std::vector<desk::Ref<desk::Node>> toExpand;
  toExpand.reserve(expandedKeys.size());
  for (const std::string& k : expandedKeys)
    if (desk::Node* n = Find(tree, k)) toExpand.emplace_back(n);
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

  desk::TreeSelection& sel = tree.Selection();
  if (desk::Node* cur = Find(tree, current)) cur->SetSelected(true);
  if (sel.GetMode() == desk::TreeSelection::Mode::Extended) {
    sel.Clear();
    for (const std::string& k : selectedKeys)
      if (desk::Node* n = Find(tree, k)) sel.SetSelected(*n, true);
  }
  if (desk::Node* t = Find(tree, top)) tree.ScrollToTop(*t);
}

}  // namespace varbel
