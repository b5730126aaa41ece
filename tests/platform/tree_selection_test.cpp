// The selection of many nodes: ranges of tree order, gestures, and the tree changing under it.
#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

#include "desk/text.h"
#include "desk/tree.h"
#include "desk/tree_selection.h"

namespace desk {
namespace {

// r1 (a1 (x1, x2), a2), r2 (b1), r3 -- every node expanded unless a test collapses it.
class Selection : public ::testing::Test {
 protected:
  void SetUp() override {
    tree = MakeHeadlessTree();
    Nodes& n = tree->NodeCollection();
    for (const char* k : {"r1", "r2", "r3"}) n.AddRoot(U16(k), U16(k));
    Child("r1", "a1");
    Child("a1", "x1");
    Child("a1", "x2");
    Child("r1", "a2");
    Child("r2", "b1");
    for (const char* k : {"r1", "a1", "r2"}) N(k).SetExpanded(true);
    sel().SetMode(TreeSelection::Mode::Extended);
    sel().SetOnChanged([this] { ++changes; });
  }
  void Child(const char* parent, const char* key) {
    tree->NodeCollection().Add(N(parent), Relationship::Child, U16(key), U16(key));
  }
  Node& N(const char* key) { return *tree->NodeCollection().Find(U16(key)); }
  TreeSelection& sel() { return tree->Selection(); }
  std::string Keys() {
    std::string s;
    for (Node* n : sel().SelectedNodes()) s += (s.empty() ? "" : " ") + U8(n->Key());
    return s;
  }

  Ref<TreeView> tree;
  int changes = 0;
};

TEST_F(Selection, OffByDefaultTheCurrentNodeIsTheSelection) {
  Ref<TreeView> t = MakeHeadlessTree();
  Node& a = *t->NodeCollection().AddRoot(u"a", u"a");
  EXPECT_EQ(t->Selection().GetMode(), TreeSelection::Mode::Single);
  int changed = 0;
  t->Selection().SetOnChanged([&] { ++changed; });
  t->Selection().SelectAll();  // one node at most: nothing
  EXPECT_TRUE(t->Selection().Empty());
  a.SetSelected(true);
  EXPECT_EQ(t->Selection().SelectedNodes(), std::vector<Node*>{&a});
  EXPECT_EQ(changed, 1);
  t->Selection().Clear();
  EXPECT_EQ(t->SelectedNode(), nullptr);
  EXPECT_EQ(changed, 2);
}

TEST_F(Selection, SelectAllIsOneRangeInTreeOrder) {
  sel().SelectAll();
  EXPECT_EQ(sel().Ranges().size(), 1u);
  EXPECT_EQ(Keys(), "r1 a1 x1 x2 a2 r2 b1 r3");
  EXPECT_EQ(sel().Count(), 8);
  EXPECT_EQ(changes, 1);
}

TEST_F(Selection, GesturesAsRows) {
  struct Step {
    const char* name;
    const char* node;
    bool shift, ctrl;
    const char* expected;
  };
  const Step steps[] = {
      {"a click selects the node alone", "a1", false, false, "a1"},
      {"ctrl adds", "r2", false, true, "a1 r2"},
      {"ctrl again takes it away", "r2", false, true, "a1"},
      {"shift spans from the anchor (the last ctrl click)", "b1", true, false, "r2 b1"},
      {"shift upwards from the same anchor", "r1", true, false, "r1 a1 x1 x2 a2 r2"},
      {"ctrl+shift adds a span to what is there", "r3", true, true, "r1 a1 x1 x2 a2 r2 b1 r3"},
      {"a plain click starts over", "x2", false, false, "x2"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    const int before = changes;
    sel().Click(N(s.node), s.shift, s.ctrl);
    EXPECT_EQ(Keys(), s.expected);
    EXPECT_EQ(tree->SelectedNode(), &N(s.node)) << "the clicked node is current";
    EXPECT_EQ(changes, before + 1);
  }
}

TEST_F(Selection, AShiftSpanLeavesTheHiddenChildrenOfACollapsedNode) {
  N("a1").SetExpanded(false);
  sel().Click(N("r1"), false, false);
  sel().Click(N("r3"), true, false);
  EXPECT_EQ(Keys(), "r1 a1 a2 r2 b1 r3");
  EXPECT_EQ(sel().Ranges().size(), 2u);  // broken once, at a1
  EXPECT_FALSE(sel().Contains(N("x1")));
  N("a1").SetExpanded(true);  // showing them does not select them
  EXPECT_FALSE(sel().Contains(N("x2")));
}

TEST_F(Selection, KeyboardMovesExtendFromTheAnchor) {
  sel().Click(N("x2"), false, false);
  sel().MoveTo(*sel().NextRow(N("x2")), true);
  sel().MoveTo(*sel().NextRow(N("a2")), true);
  EXPECT_EQ(Keys(), "x2 a2 r2");
  EXPECT_EQ(tree->SelectedNode(), &N("r2"));
  sel().MoveTo(N("r3"), false);
  EXPECT_EQ(Keys(), "r3");
}

TEST_F(Selection, RemovingNodesShrinksOrDropsTheirRanges) {
  struct Case {
    const char* name;
    const char* selectFrom;
    const char* selectTo;
    const char* remove;
    const char* expected;
    bool changed;
  };
  const Case cases[] = {
      {"the range's first node's subtree", "a1", "r2", "a1", "a2 r2", true},
      {"the range's last node", "a1", "a2", "a2", "a1 x1 x2", true},
      {"a subtree holding both ends", "x1", "x2", "a1", "", true},
      {"a node inside the range", "r1", "r3", "r2", "r1 a1 x1 x2 a2 r3", true},
      {"a node outside every range", "x1", "x2", "r3", "x1 x2", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    sel().AddRows(N(c.selectFrom), N(c.selectTo));
    const int before = changes;
    tree->NodeCollection().Remove(Variant::String(U16(c.remove)));
    EXPECT_EQ(Keys(), c.expected);
    EXPECT_EQ(changes != before, c.changed);
  }
}

TEST_F(Selection, ANodeAddedInsideARangeIsNotSelected) {
  sel().SelectAll();
  Child("a1", "x3");  // between x2 and a2
  tree->NodeCollection().Add(N("r1"), Relationship::Next, u"r1b", u"r1b");
  EXPECT_EQ(Keys(), "r1 a1 x1 x2 a2 r2 b1 r3");
  EXPECT_FALSE(sel().Contains(N("x3")));
  EXPECT_FALSE(sel().Contains(N("r1b")));
}

TEST_F(Selection, ClearOfTheNodesEmptiesIt) {
  sel().SelectAll();
  tree->NodeCollection().Clear();
  EXPECT_TRUE(sel().Empty());
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(sel().Anchor(), nullptr);
}

TEST_F(Selection, SortedRootsGoInDisplayOrder) {
  Ref<TreeView> t = MakeHeadlessTree();
  t->SetSorted(true);
  for (const char16_t* k : {u"c", u"a", u"b"}) t->NodeCollection().AddRoot(k, k);
  TreeSelection& s = t->Selection();
  s.SetMode(TreeSelection::Mode::Extended);
  s.SelectAll();
  std::string got;
  for (Node* n : s.SelectedNodes()) got += U8(n->Key());
  EXPECT_EQ(got, "abc");
}

TEST_F(Selection, NodesOfAnotherTreeAreRefused) {
  Ref<TreeView> other = MakeHeadlessTree();
  Node& o = *other->NodeCollection().AddRoot(u"o", u"o");
  try {
    sel().SetSelected(o, true);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Number(), 5);
  }
  EXPECT_FALSE(sel().Contains(o));
}

TEST_F(Selection, BackToSingleKeepsOnlyTheCurrentNode) {
  sel().Click(N("a1"), false, false);
  sel().Click(N("r3"), true, false);
  sel().SetMode(TreeSelection::Mode::Single);
  EXPECT_EQ(Keys(), "r3");
  EXPECT_TRUE(sel().Ranges().empty());
}

// The change event comes once the tree's own change is done, so a handler may change the nodes.
TEST_F(Selection, AHandlerMayChangeTheTreeWhileItIsBeingChanged) {
  using Self = std::remove_reference_t<decltype(*this)>;
  using Do = void (*)(Self&);
  const Do removeA1 = [](Self& t) { t.tree->NodeCollection().Remove(Variant::String(u"a1")); };
  const Do clear = [](Self& t) { t.tree->NodeCollection().Clear(); };
  const Do addInRange = [](Self& t) { t.Child("a1", "x3"); };  // not selected: no event
  const Do removeFirst = [](Self& t) {
    if (!t.sel().Empty()) t.tree->NodeCollection().Remove(Variant::Object(Ref<Object>(t.sel().Ranges()[0].first)));
  };
  const Do addNodes = [](Self& t) { t.tree->NodeCollection().AddRoot(u"n1", u"n1"); };
  const Do addAndSelectAll = [](Self& t) {
    t.tree->NodeCollection().AddRoot(u"n1", u"n1");
    t.sel().SelectAll();
  };
  const struct {
    Do trigger, reaction;
    const char* expected;
    int events;
  } cases[] = {
      {removeA1, removeFirst, "r2 b1 r3", 2},  {removeA1, clear, "", 2},
      {removeA1, addNodes, "r1 a2 r2 b1 r3", 1}, {removeA1, addAndSelectAll, "r1 a2 r2 b1 r3 n1", 2},
      {clear, removeFirst, "", 1},             {clear, clear, "", 1},
      {clear, addAndSelectAll, "n1", 2},       {addInRange, clear, "r1 a1 x1 x2 a2 r2 b1 r3", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    SetUp();
    sel().SelectAll();
    int events = 0;
    int32_t nodesSeen = -1;
    sel().SetOnChanged([&] {
      if (events++ > 0) return;
      nodesSeen = tree->NodeCollection().Count();  // the tree's change is over by now
      c.reaction(*this);
    });
    c.trigger(*this);
    EXPECT_EQ(events, c.events);
    if (c.events > 0) {
      EXPECT_EQ(nodesSeen, c.trigger == clear ? 0 : 5);
    }
    EXPECT_EQ(Keys(), c.expected);
    for (const TreeSelection::Range& r : sel().Ranges())
      EXPECT_TRUE(r.first->InTree() && r.last->InTree() && sel().Compare(*r.first, *r.last) <= 0);
    sel().SetOnChanged(nullptr);  // it refers to this round's counters
  }
}

}  // namespace
}  // namespace desk
