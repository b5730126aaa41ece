// The tree's filter: which rows show, and the tree changing under it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "desk/text.h"
#include "desk/tree.h"
#include "desk/tree_filter.h"
#include "desk/tree_selection.h"

namespace desk {
namespace {

// fruit "Fruit" (apple "Apple" (green "Green APPLE", red "Red"), pear "Pear"),
// veg "Veg" (carrot "Carrot"), nuts "Nuts" -- every node collapsed.
class Filter : public ::testing::Test {
 protected:
  void SetUp() override {
    tree = MakeHeadlessTree();
    Root("fruit", u"Fruit");
    Root("veg", u"Veg");
    Root("nuts", u"Nuts");
    Child("fruit", "apple", u"Apple");
    Child("apple", "green", u"Green APPLE");
    Child("apple", "red", u"Red");
    Child("fruit", "pear", u"Pear");
    Child("veg", "carrot", u"Carrot");
  }
  void Root(const char* key, const char16_t* text) { tree->NodeCollection().AddRoot(U16(key), text); }
  void Child(const char* parent, const char* key, const char16_t* text) {
    tree->NodeCollection().Add(N(parent), Relationship::Child, U16(key), text);
  }
  Node& N(const char* key) { return *tree->NodeCollection().Find(U16(key)); }
  TreeFilter& f() { return tree->Filter(); }
  // The rows laid out, one dot per level of depth.
  std::string Rows() {
    std::string s;
    for (Node* n : tree->VisibleRows()) {
      int depth = 0;
      for (Node* p = n->Parent(); p; p = p->Parent()) ++depth;
      s += (s.empty() ? "" : " ") + std::string(depth, '.') + U8(n->Key());
    }
    return s;
  }
  // The filter's rows as a view reads them: counts and places agree with the lists.
  void CheckPlaces() {
    std::vector<Node*> stack{nullptr};
    while (!stack.empty()) {
      Node* p = stack.back();
      stack.pop_back();
      for (int32_t i = 0; i < f().Count(p); ++i) {
        Node* c = f().ChildAt(p, i);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(f().PlaceOf(*c), i) << U8(c->Key());
        EXPECT_EQ(c->Parent(), p);
        stack.push_back(c);
      }
    }
  }

  Ref<TreeView> tree;
};

TEST_F(Filter, WhatShows) {
  struct Case {
    const char* name;
    const char16_t* text;
    bool keys, subtree;
    const char* rows;
    int matches;
  };
  const Case cases[] = {
      {"off", u"", false, false, "fruit veg nuts", 0},
      {"case ignored, with ancestors open", u"apple", false, false, "fruit .apple ..green", 2},
      {"a substring anywhere", u"RR", false, false, "veg .carrot", 1},
      {"nothing", u"zebra", false, false, "", 0},
      {"keys instead of texts", u"EE", true, false, "fruit .apple ..green", 1},
      {"texts are not keys", u"Fruit", true, false, "fruit", 1},
      // A match's own children follow its Expanded (collapsed here).
      {"the subtree under a match", u"fruit", false, true, "fruit", 1},
      {"the subtree of an inner match", u"pple", false, true, "fruit .apple ..green ..red", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    f().SetMatchKeys(c.keys);
    f().SetShowSubtree(c.subtree);
    f().SetText(c.text);
    EXPECT_EQ(Rows(), c.rows);
    EXPECT_EQ(f().MatchCount(), c.matches);
    CheckPlaces();
    f().SetText(u"");
  }
  // The subtree under a match: an expanded match opens on its whole subtree.
  N("fruit").SetExpanded(true);
  f().SetShowSubtree(true);
  f().SetText(u"fruit");
  EXPECT_EQ(Rows(), "fruit .apple .pear");
  EXPECT_TRUE(f().Shown(N("green")));
  EXPECT_FALSE(f().Shown(N("carrot")));
}

TEST_F(Filter, FullCaseFoldingOutsideAscii) {
  Root("street", u"Stra\u00DFe");
  Root("greek", u"\u039F\u0394\u039F\u03A3");  // capitals
  f().SetText(u"STRASSE");
  EXPECT_EQ(Rows(), "street");
  f().SetText(u"\u03BF\u03C3");  // small omicron, small sigma
  EXPECT_EQ(Rows(), "greek");
}

TEST_F(Filter, ClearingGivesBackTheViewAndTheNodesKeepTheirState) {
  N("veg").SetExpanded(true);
  N("carrot").SetSelected(true);
  const std::string before = Rows();
  f().SetText(u"red");
  EXPECT_EQ(Rows(), "fruit .apple ..red");
  EXPECT_FALSE(N("fruit").Expanded()) << "shown open, not expanded";
  EXPECT_EQ(tree->SelectedNode(), &N("carrot")) << "a hidden node stays current";
  // Expanding or collapsing while filtered is the node's own change, kept after.
  N("apple").SetExpanded(true);
  N("apple").SetExpanded(false);
  EXPECT_EQ(Rows(), "fruit .apple");
  f().SetText(u"");
  EXPECT_EQ(Rows(), before);
  EXPECT_EQ(tree->SelectedNode(), &N("carrot"));
}

TEST_F(Filter, HitTestAndRowsFollowTheShownRows) {
  tree->ContainerValueChanged(ext::kWidth, Variant::Single(3000));
  tree->ContainerValueChanged(ext::kHeight, Variant::Single(3000));
  f().SetText(u"carrot");
  EXPECT_EQ(tree->NodeAtRow(1), &N("carrot"));
  EXPECT_EQ(tree->HitTest(10, TreeView::kRowHeight * 1.5f).get(), &N("carrot"));
  EXPECT_EQ(tree->NodeAtRow(2), nullptr);
}

TEST_F(Filter, NodesAddedRemovedAndRenamedWhileFiltered) {
  struct Counter : TreeFilter::View {
    std::vector<std::string> told;
    TreeFilter* f = nullptr;
    void ResetBegin() override { told.push_back("reset"); }
    void ResetEnd() override {}
    void InsertBegin(const Node* parent, int32_t place) override {
      told.push_back("insert " + (parent ? U8(parent->Key()) : std::string("-")) + " " + std::to_string(place));
    }
    void InsertEnd() override {}
    void RemoveBegin(const Node& n, int32_t place) override {
      told.push_back("remove " + U8(n.Key()) + " " + std::to_string(place));
    }
    void RemoveEnd() override {}
  } view;
  f().SetText(u"e");  // Green APPLE, Red, Pear, Veg, Apple
  EXPECT_EQ(Rows(), "fruit .apple ..green ..red .pear veg");
  f().SetView(&view);
  struct Step {
    const char* name;
    std::function<void()> act;
    const char* rows;
    const char* told;  // what the view heard, "" nothing
  };
  const Step steps[] = {
      {"a match under a hidden node brings its ancestors", [&] { Child("nuts", "pecan", u"Pecan"); },
       "fruit .apple ..green ..red .pear veg nuts .pecan", "insert - 2"},
      {"a node that does not match stays hidden", [&] { Child("nuts", "kiwi", u"Kiwi"); },
       "fruit .apple ..green ..red .pear veg nuts .pecan", ""},
      {"a match between shown siblings", [&] {
         tree->NodeCollection().Add(N("red"), Relationship::Previous, u"lime", u"Lime");
       },
       "fruit .apple ..green ..lime ..red .pear veg nuts .pecan", "insert apple 1"},
      {"removing the last match takes away the ancestors shown for it alone",
       [&] { tree->NodeCollection().Remove(Variant::String(u"pecan")); },
       "fruit .apple ..green ..lime ..red .pear veg", "remove nuts 2"},
      {"a parent with other shown children stays", [&] { tree->NodeCollection().Remove(Variant::String(u"pear")); },
       "fruit .apple ..green ..lime ..red veg", "remove pear 1"},
      {"renamed to match", [&] { N("carrot").SetText(u"Celery"); },
       "fruit .apple ..green ..lime ..red veg .carrot", "reset"},
      {"renamed, still matching", [&] { N("red").SetText(u"Cherry"); },
       "fruit .apple ..green ..lime ..red veg .carrot", ""},
      {"renamed away", [&] { N("lime").SetText(u"Kiwi"); }, "fruit .apple ..green ..red veg .carrot", "reset"},
      {"a shown subtree removed", [&] { tree->NodeCollection().Remove(Variant::String(u"fruit")); },
       "veg .carrot", "remove fruit 0"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    view.told.clear();
    s.act();
    EXPECT_EQ(Rows(), s.rows);
    std::string told;
    for (const std::string& t : view.told) told += (told.empty() ? "" : ", ") + t;
    EXPECT_EQ(told, s.told);
    CheckPlaces();
  }
  EXPECT_EQ(f().MatchCount(), 2);  // Veg, Celery
  tree->NodeCollection().Clear();
  EXPECT_EQ(Rows(), "");
  Root("melon", u"Melon");
  EXPECT_EQ(Rows(), "melon") << "still on after Clear";
  f().SetView(nullptr);
}

TEST_F(Filter, SlotsRenumberedAfterRemovalsKeepThePlaces) {
  // Enough removals that the tree packs its position slots again.
  for (int i = 0; i < 200; ++i) Child("nuts", ("n" + std::to_string(i)).c_str(), i % 2 ? u"almond" : u"hazel");
  f().SetText(u"almond");
  for (int i = 0; i < 200; i += 2) tree->NodeCollection().Remove(Variant::String(U16("n" + std::to_string(i))));
  for (int i = 1; i < 150; i += 2) tree->NodeCollection().Remove(Variant::String(U16("n" + std::to_string(i))));
  CheckPlaces();
  EXPECT_EQ(f().Count(&N("nuts")), 25);
  EXPECT_EQ(f().ChildAt(&N("nuts"), 0), &N("n151"));
}

TEST_F(Filter, SortedRootsShowInTheirOrder) {
  tree->SetSorted(true);
  Root("bean", u"Bean");
  f().SetText(u"e");
  EXPECT_EQ(Rows(), "bean fruit .apple ..green ..red .pear veg");
  N("bean").SetText(u"Zeppelin");
  EXPECT_EQ(Rows(), "fruit .apple ..green ..red .pear veg bean");
  CheckPlaces();
}

TEST_F(Filter, SelectionOfShownAndHiddenNodes) {
  TreeSelection& sel = tree->Selection();
  sel.SetMode(TreeSelection::Mode::Extended);
  auto keys = [&] {
    std::string s;
    for (Node* n : sel.SelectedNodes()) s += (s.empty() ? "" : " ") + U8(n->Key());
    return s;
  };
  sel.SetSelected(N("nuts"), true);
  f().SetText(u"r");  // Fruit, Green APPLE, Red, Pear, Carrot
  EXPECT_EQ(Rows(), "fruit .apple ..green ..red .pear veg .carrot");
  EXPECT_TRUE(sel.Contains(N("nuts"))) << "hidden, still selected";
  // Rows between two shown nodes are the shown ones only.
  sel.Click(N("green"), false, false);
  sel.Click(N("carrot"), true, false);
  EXPECT_EQ(keys(), "green red pear veg carrot");
  // Select all: what shows, one range per run of tree order (Red is hidden).
  f().SetText(u"a");
  EXPECT_EQ(Rows(), "fruit .apple ..green .pear veg .carrot");
  sel.SelectAll();
  EXPECT_EQ(keys(), "fruit apple green pear veg carrot");
  EXPECT_EQ(sel.Ranges().size(), 2u);
  tree->NodeCollection().Remove(Variant::String(u"apple"));  // selected and shown
  EXPECT_EQ(keys(), "fruit pear veg carrot");
  f().SetText(u"");
  EXPECT_EQ(keys(), "fruit pear veg carrot") << "what was selected while filtered stays";
}

TEST_F(Filter, TypeAheadGoesToShownRowsOnly) {
  TreeSelection& sel = tree->Selection();
  auto type = [&](const char16_t* chars, int64_t at) {
    Node* to = sel.Typed(chars, at, 400);
    if (to) to->SetSelected(true);
    return to ? U8(to->Key()) : std::string("-");
  };
  f().SetText(u"e");  // Green APPLE, Red, Pear, Veg show; Fruit and Apple as their ancestors
  EXPECT_EQ(Rows(), "fruit .apple ..green ..red .pear veg");
  EXPECT_EQ(type(u"c", 0), "-") << "Carrot is hidden";
  EXPECT_EQ(type(u"p", 1000), "pear");
  EXPECT_EQ(type(u"g", 2000), "green") << "round past the last row";
  N("nuts").SetSelected(true);  // current but hidden: from the first row
  EXPECT_EQ(type(u"r", 3000), "red");
}

// Nodes added, renamed and removed between keystrokes (roots, children, nodes before their
// siblings, children of nodes added since, subtrees holding such nodes, added nodes removed
// again), with and without whole subtrees shown: each keystroke shows what a new sweep of the
// nodes' texts shows, and makes none.
TEST_F(Filter, ChangesBetweenKeystrokesShowWhatANewSweepShows) {
  for (const bool sorted : {false, true}) {
    SCOPED_TRACE(sorted ? "sorted" : "in sibling order");
    SetUp();
    tree->SetSorted(sorted);
    std::vector<std::string> keys{"fruit", "veg", "nuts", "apple", "green", "red", "pear", "carrot"};
    for (int i = 0; i < 200; ++i) {
      keys.push_back("f" + std::to_string(i));
      Child(i % 2 ? "veg" : "nuts", keys.back().c_str(), i % 3 ? u"Plum" : u"Leek");
    }
    const char16_t* const texts[] = {u"Leek", u"Plum", u"Beet", u"Fig", u"Pea"};
    const char16_t* const needles[] = {u"e", u"ee", u"l", u"pea", u"zz"};  // "pea": a whole text
    uint32_t seed = 7;
    auto next = [&](size_t n) { return (seed = seed * 1103515245u + 12345u, (seed >> 8) % n); };
    int made = 0;
    f().SetText(u"e");
    for (int step = 0; step < 60; ++step) {
      SCOPED_TRACE(step);
      for (int change = 0; change < 4; ++change) {
        const std::string key = "n" + std::to_string(made++);
        const char16_t* text = texts[next(5)];
        const std::string& at = keys[next(keys.size())];
        Node& a = N(at.c_str());
        switch (next(6)) {
          case 0: Root(key.c_str(), text); break;
          case 1:
          case 2: Child(at.c_str(), key.c_str(), text); break;
          case 3: tree->NodeCollection().Add(a, Relationship::Previous, U16(key), text); break;
          case 4:
            if (a.Child()) continue;  // a new text of a parent takes a new sweep
            a.SetText(text);
            continue;
          default:
            // Not the three parents of most nodes: the sweep stays while most of it is there.
            if (at != "fruit" && at != "veg" && at != "nuts") tree->NodeCollection().Remove(Variant::String(U16(at)));
            continue;
        }
        keys.push_back(key);
      }
      std::erase_if(keys, [&](const std::string& k) { return !tree->NodeCollection().Find(U16(k)); });
      f().SetShowSubtree(step / 15 % 2 == 1);
      const uint64_t sweeps = TreeFilter::Sweeps();
      f().SetText(needles[step % 5]);
      EXPECT_EQ(TreeFilter::Sweeps(), sweeps);
      const std::string rows = Rows();
      const int64_t matches = f().MatchCount();
      CheckPlaces();
      f().SetMatchKeys(true);  // a sweep of the keys, then one of the texts
      f().SetMatchKeys(false);
      ASSERT_EQ(TreeFilter::Sweeps(), sweeps + 2);
      ASSERT_EQ(Rows(), rows);
      ASSERT_EQ(f().MatchCount(), matches);
    }
  }
}

}  // namespace
}  // namespace desk
