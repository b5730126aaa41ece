// What a host builds on the tree beyond its described members: children added on demand, typed
// characters finding rows, and a selection that stays the same nodes when the roots reorder.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "desk/events.h"
#include "desk/text.h"
#include "desk/tree.h"
#include "desk/tree_selection.h"

namespace desk {
namespace {

// The keys of rows shown or nodes selected, in their order.
std::string Keys(const std::vector<Node*>& nodes) {
  std::string s;
  for (Node* n : nodes) s += (s.empty() ? "" : " ") + U8(n->Key());
  return s;
}

TEST(ChildrenOnDemand, AnExpanderBeforeTheChildrenThatComeInTheExpandEvent) {
  Ref<TreeView> t = MakeHeadlessTree();
  Nodes& nodes = t->NodeCollection();
  Node& folder = *nodes.AddRoot(u"folder", u"folder");
  Node& other = *nodes.AddRoot(u"other", u"other");
  EXPECT_FALSE(folder.HasExpander());
  folder.SetChildrenOnDemand(true);
  EXPECT_TRUE(folder.HasExpander());
  EXPECT_FALSE(other.HasExpander());
  EXPECT_EQ(folder.Children(), 0);

  TreeSelection& sel = t->Selection();
  sel.SetMode(TreeSelection::Mode::Extended);
  sel.Click(other, false, false);
  sel.Click(folder, false, true);
  int expands = 0;
  auto sink = MakeRef<FunctionSink>([&](DispId id, std::vector<Variant>&) {
    if (id != treeevent::kExpand) return;
    ++expands;
    for (const char16_t* k : {u"c1", u"c2"}) nodes.Add(folder, Relationship::Child, k, k);
  });
  const int cookie = t->Events().Connect(sink);
  folder.SetExpanded(true);
  t->Events().Disconnect(cookie);
  EXPECT_EQ(expands, 1);
  EXPECT_TRUE(folder.Expanded());
  EXPECT_EQ(Keys(t->VisibleRows()), "folder c1 c2 other");
  EXPECT_EQ(Keys(sel.SelectedNodes()), "folder other");
  // Later, as from a posted call: the node stays open and the rows grow under it.
  nodes.Add(folder, Relationship::Child, u"c3", u"c3");
  EXPECT_EQ(Keys(t->VisibleRows()), "folder c1 c2 c3 other");
  EXPECT_EQ(Keys(sel.SelectedNodes()), "folder other");
}

TEST(ChildrenOnDemand, OffTheNodeHasNoExpanderWithoutChildren) {
  Ref<TreeView> t = MakeHeadlessTree();
  Node& n = *t->NodeCollection().AddRoot(u"n", u"n");
  n.SetChildrenOnDemand(true);
  n.SetExpanded(true);
  t->NodeCollection().Add(n, Relationship::Child, u"c", u"c");
  t->NodeCollection().Remove(Variant::String(u"c"));
  EXPECT_TRUE(n.HasExpander());
  n.SetChildrenOnDemand(false);
  EXPECT_FALSE(n.HasExpander());
  EXPECT_TRUE(n.Expanded());  // the state stays the host's
}

// apple, Banana (bean, berry), cherry, Éclair, apricot -- Banana expanded.
class TypeAhead : public ::testing::Test {
 protected:
  void SetUp() override {
    t = MakeHeadlessTree();
    Nodes& n = t->NodeCollection();
    for (const char16_t* k : {u"apple", u"Banana", u"cherry", u"\u00c9clair", u"apricot"}) n.AddRoot(k, k);
    for (const char16_t* k : {u"bean", u"berry"}) n.Add(*n.Find(u"Banana"), Relationship::Child, k, k);
    n.Find(u"Banana")->SetExpanded(true);
  }
  std::string Type(const char16_t* chars, int64_t at) {
    Node* to = t->Selection().Typed(chars, at, 400);
    if (to) to->SetSelected(true);
    return to ? U8(to->Key()) : "-";
  }
  Ref<TreeView> t;
};

TEST_F(TypeAhead, FromTheCurrentNodeWrappingAround) {
  const struct {
    const char16_t* chars;
    int64_t at;
    const char* expected;
  } steps[] = {
      {u"b", 0, "Banana"},         // no current node: from the first row, case ignored
      {u"e", 100, "bean"},         // "be" goes on from the current row
      {u"r", 200, "berry"},        // "ber"
      {u"a", 1000, "apricot"},     // after a pause a new search, from the row after the current
      {u"a", 2000, "apple"},       // wraps around past the last row
      {u"\u00e9", 3000, "\u00c9clair"},  // folded beyond plain letters
      {u"z", 4000, "-"},           // nothing: the current node stays
      {u"c", 5000, "cherry"},
      {u"c", 5100, "cherry"},      // the same key again: the next "c" row, here the only one
      {u"b", 6000, "Banana"},
      {u"b", 6100, "bean"},        // the same key steps through the rows starting with it
      {u"b", 6200, "berry"},
      {u"b", 6300, "Banana"},      // and wraps
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(U8(s.chars) + " at " + std::to_string(s.at));
    EXPECT_EQ(Type(s.chars, s.at), s.expected);
  }
}

TEST_F(TypeAhead, OnlyRowsShownAndSortedRootsInTheirOrder) {
  t->NodeCollection().Find(u"Banana")->SetExpanded(false);
  EXPECT_EQ(Type(u"be", 0), "-");  // bean is hidden under the collapsed Banana
  t->SetSorted(true);
  EXPECT_EQ(Type(u"ap", 1000), "apple");  // sorted: apple, apricot, Banana, cherry, Éclair
  EXPECT_EQ(Type(u"a", 2000), "apricot");
  EXPECT_EQ(Type(u"c", 3000), "cherry");
}

// Ranges keep their nodes when the roots reorder: renaming a sorted root or switching Sorted.
TEST(ReorderedRoots, TheSelectedNodesStayTheSame) {
  using Reorder = void (*)(TreeView&);
  const struct {
    const char* name;
    Reorder reorder;
    const char* rows;
  } cases[] = {
      {"a root renamed into the range", [](TreeView& t) { t.NodeCollection().Find(u"d")->SetText(u"bb"); },
       "a a1 b d c e"},
      {"a root renamed out of the range", [](TreeView& t) { t.NodeCollection().Find(u"b")->SetText(u"z"); },
       "a a1 c d e b"},
      {"sorting switched off", [](TreeView& t) { t.SetSorted(false); }, "d a a1 e b c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Ref<TreeView> t = MakeHeadlessTree();
    t->SetSorted(true);
    Nodes& n = t->NodeCollection();
    for (const char16_t* k : {u"d", u"a", u"e", u"b", u"c"}) n.AddRoot(k, k);
    n.Add(*n.Find(u"a"), Relationship::Child, u"a1", u"a1");
    n.Find(u"a")->SetExpanded(true);
    TreeSelection& s = t->Selection();
    s.SetMode(TreeSelection::Mode::Extended);
    s.AddRows(*n.Find(u"a1"), *n.Find(u"c"));  // a1 b c
    s.SetSelected(*n.Find(u"e"), true);         // and e
    std::vector<Node*> before = s.SelectedNodes();
    std::sort(before.begin(), before.end());
    c.reorder(*t);
    EXPECT_EQ(Keys(t->VisibleRows()), c.rows);
    std::vector<Node*> after = s.SelectedNodes();
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, before);
    for (size_t i = 1; i < s.Ranges().size(); ++i)
      EXPECT_LT(s.Compare(*s.Ranges()[i - 1].last, *s.Ranges()[i].first), 0);
  }
}

TEST(ReorderedRoots, AllSelectedStaysOneRange) {
  Ref<TreeView> t = MakeHeadlessTree();
  t->SetSorted(true);
  for (const char16_t* k : {u"c", u"a", u"b"}) t->NodeCollection().AddRoot(k, k);
  TreeSelection& s = t->Selection();
  s.SetMode(TreeSelection::Mode::Extended);
  s.SelectAll();
  t->NodeCollection().Find(u"a")->SetText(u"z");
  EXPECT_EQ(Keys(s.SelectedNodes()), "b c a");
  EXPECT_EQ(s.Ranges().size(), 1u);
}

TEST(SingleSelection, RemovingTheCurrentNodeIsAChange) {
  Ref<TreeView> t = MakeHeadlessTree();
  Nodes& n = t->NodeCollection();
  Node& r = *n.AddRoot(u"r", u"r");
  n.Add(r, Relationship::Child, u"c", u"c");
  n.AddRoot(u"s", u"s");
  int changes = 0;
  Node* currentSeen = &r;
  t->Selection().SetOnChanged([&] {
    ++changes;
    currentSeen = t->SelectedNode();
  });
  n.Find(u"c")->SetSelected(true);
  EXPECT_EQ(changes, 1);
  n.Remove(Variant::String(u"s"));  // not the current node: nothing
  EXPECT_EQ(changes, 1);
  n.Remove(Variant::String(u"r"));  // the current node's ancestor
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(currentSeen, nullptr);
}

}  // namespace
}  // namespace desk
