// View states of VarbelTreeviewControlEx: saved, the nodes made again, restored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VarbelTreeviewControlEx.h"
#include "desk/text.h"
#include "desk/tree.h"
#include "desk/tree_selection.h"
#include "support/test_support.h"

using desk::Ref;
using desk::Variant;
using desk_test::ErrOf;

namespace {

class ViewState : public ::testing::Test {
 protected:
  ViewState() { control = Make(); }
  // r1 (a (a1, a2), b (b1)), r2 (c (c1)), r3, without the keys in `missing`.
  Ref<varbel::VarbelTreeviewControlEx> Make(std::vector<std::string> missing = {}) {
    auto c = desk::MakeRef<varbel::VarbelTreeviewControlEx>();
    desk::Nodes& n = c->View().NodeCollection();
    auto has = [&](const char* k) { return std::find(missing.begin(), missing.end(), k) == missing.end(); };
    const std::pair<const char*, const char*> rows[] = {{"", "r1"}, {"r1", "a"}, {"a", "a1"}, {"a", "a2"},
                                                        {"r1", "b"}, {"b", "b1"}, {"", "r2"}, {"r2", "c"},
                                                        {"c", "c1"}, {"", "r3"}};
    for (auto [parent, key] : rows) {
      if (!has(key) || (*parent && !n.Find(desk::U16(parent)))) continue;
      if (*parent) n.Add(*n.Find(desk::U16(parent)), desk::Relationship::Child, desk::U16(key), desk::U16(key));
      else n.AddRoot(desk::U16(key), desk::U16(key));
    }
    return c;
  }
  static desk::Node& N(varbel::VarbelTreeviewControlEx& c, const char* k) {
    return *c.View().NodeCollection().Find(desk::U16(k));
  }
  // What the view shows: expanded nodes, selected nodes, current and top, by key (or by text).
  static std::string Seen(varbel::VarbelTreeviewControlEx& c, bool byText = false) {
    auto name = [byText](desk::Node* n) { return desk::U8(byText ? n->Text() : n->Key()); };
    std::string s = "expanded:";
    for (desk::Node* n : c.View().VisibleRows())
      if (n->Expanded()) s += " " + name(n);
    s += " selected:";
    for (desk::Node* n : c.View().Selection().SelectedNodes()) s += " " + name(n);
    desk::Node* cur = c.View().SelectedNode();
    desk::Node* top = c.View().TopNode();
    return s + " current: " + (cur ? name(cur) : "-") + " top: " + (top ? name(top) : "-");
  }
  // `state` restored in `c` with many nodes selectable, and what it then shows.
  static std::string Restored(varbel::VarbelTreeviewControlEx& c, const std::u16string& state, bool byText = false) {
    c.LetSelectionMode(1);
    c.RestoreViewState(state);
    return Seen(c, byText);
  }
  void Arrange(varbel::VarbelTreeviewControlEx& c) {
    c.LetSelectionMode(1);
    for (const char* k : {"r1", "a", "r2", "c"}) N(c, k).SetExpanded(true);
    c.View().Selection().Click(N(c, "a1"), false, false);
    c.View().Selection().Click(N(c, "c1"), false, true);
    c.View().ScrollToTop(N(c, "b"));
  }

  desk_test::FreshHost host;
  Ref<varbel::VarbelTreeviewControlEx> control;
};

TEST_F(ViewState, TheSameViewAfterTheNodesAreMadeAgain) {
  Arrange(*control);
  const std::string before = Seen(*control);
  const std::u16string state = control->SaveViewState();
  // Clear and the same keys again, in the same control and in a new one.
  control->View().NodeCollection().Clear();
  control = Make();
  EXPECT_EQ(Restored(*control, state), before);
  EXPECT_EQ(before, "expanded: r1 a r2 c selected: a1 c1 current: c1 top: b");
}

TEST_F(ViewState, NodesOpenedSinceAreClosed) {
  Arrange(*control);
  const std::u16string state = control->SaveViewState();
  N(*control, "b").SetExpanded(true);
  N(*control, "r2").SetExpanded(false);
  control->RestoreViewState(state);
  EXPECT_EQ(Seen(*control), "expanded: r1 a r2 c selected: a1 c1 current: c1 top: b");
}

TEST_F(ViewState, KeysThatVanishedAreSkipped) {
  Arrange(*control);
  const std::u16string state = control->SaveViewState();
  auto other = Make({"a", "c1", "b"});  // a's children go with it
  EXPECT_EQ(Restored(*other, state), "expanded: r1 r2 c selected: current: - top: r1");
}

TEST_F(ViewState, ALaterVersionsKnownFieldsAreRead) {
  EXPECT_EQ(Restored(*control,
                     u"{\"format\": \"VarbelTreeview view state\", \"version\": 7, \"expanded\": [\"r2\", 5, \"nope\"],"
                     u" \"selected\": [\"r3\"], \"current\": \"r3\", \"zoom\": 2, \"columns\": {\"w\": [1]}}"),
            "expanded: r2 selected: r3 current: r3 top: r1");
}

TEST_F(ViewState, TextsThatAreNoViewStateChangeNothing) {
  N(*control, "r1").SetExpanded(true);
  const std::string before = Seen(*control);
  for (const char16_t* bad : {u"", u"not json", u"[1, 2]", u"{\"format\": \"something else\", \"expanded\": [\"r2\"]}",
                              u"{\"expanded\": [\"r2\"]}"}) {
    EXPECT_EQ(ErrOf([&] { control->RestoreViewState(bad); }), 5) << desk::U8(bad);
    EXPECT_EQ(Seen(*control), before);
  }
}

TEST_F(ViewState, ByNameThroughTheInterface) {
  Arrange(*control);
  Variant state = desk::CallByName(*control, u"SaveViewState", desk::InvokeKind::Method);
  auto other = Make();
  desk::CallByName(*other, u"RestoreViewState", desk::InvokeKind::Method, {state});
  // Single mode: the current node is the selection.
  EXPECT_EQ(Seen(*other), "expanded: r1 a r2 c selected: c1 current: c1 top: b");
}

// Nodes without a key are kept by their places: r1 (a (a1, a2, +p (+q)), b (b1)), r2 ..., where
// +p and +q have no key; and a root +z without one after r3.
TEST_F(ViewState, NodesWithoutAKeyByTheirPlaces) {
  auto build = [&](varbel::VarbelTreeviewControlEx& c) {
    desk::Nodes& n = c.View().NodeCollection();
    Ref<desk::Node> p = n.Add(N(c, "a"), desk::Relationship::Child, u"", u"p");
    n.Add(*p, desk::Relationship::Child, u"", u"q");
    n.AddRoot(u"", u"z");
  };
  build(*control);
  control->LetSelectionMode(1);
  for (const char* k : {"r1", "a"}) N(*control, k).SetExpanded(true);
  desk::Node& p = *N(*control, "a2").Next();
  p.SetExpanded(true);
  desk::Node& z = *control->View().LastRoot();
  control->View().Selection().Click(*p.Child(), false, false);
  control->View().Selection().Click(z, false, true);
  control->View().ScrollToTop(p);
  const std::string before = Seen(*control, true);
  EXPECT_EQ(before, "expanded: r1 a p selected: q z current: z top: p");
  const std::u16string state = control->SaveViewState();

  auto other = Make();
  build(*other);
  EXPECT_EQ(Restored(*other, state, true), before);

  // Where the places lead past the nodes there are now, they are skipped.
  auto fewer = Make({"a2"});
  EXPECT_EQ(Restored(*fewer, state, true), "expanded: r1 a selected: current: - top: r1");
}

TEST_F(ViewState, PlacesThatAreNoPlacesAreSkipped) {
  EXPECT_EQ(Restored(*control,
                     u"{\"format\": \"VarbelTreeview view state\", \"version\": 1, \"expanded\": [[0], [0, -1], [0, \"a\"], [], [9]],"
                     u" \"selected\": [[1], [1, 0, 0, 0]], \"current\": [2], \"top\": [1, 0]}"),
            "expanded: r1 selected: r2 current: r3 top: c");
}

// Children on demand: the nodes a view state names under a node are made by its Expand handler,
// and are found and opened in turn, down to the selected one.
TEST_F(ViewState, ChildrenMadeInTheExpandEventAreRestoredToo) {
  auto lazy = [](varbel::VarbelTreeviewControlEx& c) -> int {
    desk::TreeView& t = c.View();
    t.NodeCollection().AddRoot(u"disk", u"disk");
    c.SetNodeChildrenOnDemand(Ref<desk::Object>(t.NodeCollection().Find(u"disk")), true);
    return c.Advise(desk::MakeRef<desk::FunctionSink>([&t](desk::DispId id, std::vector<Variant>& args) {
      if (id != desk::treeevent::kExpand) return;
      auto n = desk::RefCast<desk::Node>(args.at(0).Value().ToObject());
      if (n->Children() > 0 || n->Key().size() > 8) return;
      for (const char16_t* k : {u"/a", u"/b"}) {
        Ref<desk::Node> c = t.NodeCollection().Add(*n, desk::Relationship::Child, n->Key() + k, k);
        c->SetChildrenOnDemand(true);
      }
    }));
  };
  lazy(*control);
  control->LetSelectionMode(1);
  N(*control, "disk").SetExpanded(true);
  N(*control, "disk/b").SetExpanded(true);
  N(*control, "disk/b/a").SetExpanded(true);
  control->View().Selection().Click(N(*control, "disk/b/a/b"), false, false);
  const std::string before = Seen(*control);
  EXPECT_EQ(before, "expanded: disk disk/b disk/b/a selected: disk/b/a/b current: disk/b/a/b top: r1");
  const std::u16string state = control->SaveViewState();
  auto other = Make();
  lazy(*other);
  EXPECT_EQ(Restored(*other, state), before);
}

}  // namespace
