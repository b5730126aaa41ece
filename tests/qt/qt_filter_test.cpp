// The filter on screen: the view shows the rows the tree's filter shows, through changes of
// the nodes and of the selection, in both directions, with Qt's model tester watching.
#include <string>

#include "desk/text.h"

#include "VarbelTreeviewControlEx.h"
#include "qt_fixture.h"

namespace desk_qt_test {
namespace {

class QtFilterHost : public QtHost {
 protected:
  const char* ClassId() const override { return varbel::kControlExClsid; }
  void SetUp() override {
    QtHost::SetUp();
    // fruit (apple (green, red), pear), veg (carrot), nuts -- veg expanded, carrot current.
    for (const char16_t* k : {u"fruit", u"veg", u"nuts"}) Add(u"", k, k);
    Add(u"fruit", u"apple", u"apple");
    Add(u"apple", u"green apple", u"green apple");
    Add(u"apple", u"red", u"red");
    Add(u"fruit", u"pear", u"pear");
    Add(u"veg", u"carrot", u"carrot");
    NodeOf(u"veg")->SetExpanded(true);
    NodeOf(u"carrot")->SetSelected(true);
  }
  void SetFilter(const char16_t* text) { Call(control_, u"FilterText", InvokeKind::Let, {Variant::String(text)}); }
  // The rows the view lays out, top to bottom, one dot per level.
  std::string Rows() {
    std::string s;
    for (const QModelIndex& i : LaidOut()) {
      int depth = 0;
      for (QModelIndex p = i.parent(); p.isValid(); p = p.parent()) ++depth;
      s += (s.empty() ? "" : ",") + std::string(depth, '.') + i.data().toString().toStdString();
    }
    return s;
  }
  std::string Selected() { return SelectedKeys(","); }
  QString CurrentText() { return Widget()->currentIndex().data().toString(); }
};

class QtFilter : public InBothDirections<QtFilterHost> {};

TEST_P(QtFilter, ShowsMatchesWithTheirAncestorsAndClearingGivesBackTheView) {
  const std::string before = Rows();
  ASSERT_EQ(before, "fruit,veg,.carrot,nuts");
  struct Case {
    const char16_t* text;
    const char* rows;
    int matches;
  };
  const Case cases[] = {{u"APPLE", "fruit,.apple,..green apple", 2},
                        {u"r", "fruit,.apple,..green apple,..red,.pear,veg,.carrot", 5},
                        {u"zzz", "", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rows);
    SetFilter(c.text);
    EXPECT_EQ(Rows(), c.rows);
    EXPECT_EQ(Call(control_, u"FilterMatchCount", InvokeKind::Get).ToLong(), c.matches);
  }
  Call(control_, u"ClearFilter", InvokeKind::Method);
  EXPECT_EQ(Rows(), before);
  EXPECT_EQ(CurrentText(), "carrot");
  EXPECT_FALSE(NodeOf(u"fruit")->Expanded()) << "the filter expands nothing";
}

TEST_P(QtFilter, OptionsByName) {
  Call(control_, u"FilterShowsSubtree", InvokeKind::Let, {Variant::Bool(true)});
  NodeOf(u"apple")->SetExpanded(true);
  SetFilter(u"apple");
  EXPECT_EQ(Rows(), "fruit,.apple,..green apple,..red");
  Call(control_, u"FilterMatchesKeys", InvokeKind::Let, {Variant::Bool(true)});
  SetFilter(u"VEG");
  EXPECT_EQ(Rows(), "veg,.carrot") << "under a match, the nodes open as expanded";
  NodeOf(u"veg")->SetExpanded(false);
  EXPECT_EQ(Rows(), "veg");
  EXPECT_TRUE(Call(control_, u"IsNodeShown", InvokeKind::Method, {Variant::Object(Ref<desk::Object>(NodeOf(u"carrot")))})
                  .ToBool());
}

TEST_P(QtFilter, FilterSelectSeveralClearTheFilter) {
  Call(control_, u"SelectionMode", InvokeKind::Let, {Variant::Long(1)});
  SetFilter(u"r");
  Click("red");
  Click("carrot", Qt::ShiftModifier);
  EXPECT_EQ(Selected(), "red,pear,veg,carrot");
  Click("green apple", Qt::ControlModifier);
  EXPECT_EQ(Selected(), "green apple,red,pear,veg,carrot");
  SetFilter(u"");
  EXPECT_EQ(Rows(), "fruit,veg,.carrot,nuts");
  EXPECT_EQ(Selected(), "green apple,red,pear,veg,carrot");
  EXPECT_EQ(CurrentText(), "green apple") << "the node clicked last stays current";
}

TEST_P(QtFilter, UserCollapsesAndExpandsWhileFiltered) {
  SetFilter(u"red");
  ASSERT_EQ(Rows(), "fruit,.apple,..red");
  Widget()->collapse(ItemOf("apple"));
  EXPECT_EQ(Rows(), "fruit,.apple");
  Widget()->expand(ItemOf("apple"));
  EXPECT_EQ(Rows(), "fruit,.apple,..red");
  EXPECT_TRUE(NodeOf(u"apple")->Expanded()) << "the user's expanding is the node's own";
  SetFilter(u"");
  EXPECT_EQ(Rows(), "fruit,veg,.carrot,nuts");
}

TEST_P(QtFilter, NodesAddedAndRemovedWhileShownOrSelected) {
  Call(control_, u"SelectionMode", InvokeKind::Let, {Variant::Long(1)});
  SetFilter(u"e");
  ASSERT_EQ(Rows(), "fruit,.apple,..green apple,..red,.pear,veg");
  Click("red");
  Click("veg", Qt::ShiftModifier);
  ASSERT_EQ(Selected(), "red,pear,veg");
  Add(u"nuts", u"pecan", u"pecan");
  Add(u"nuts", u"kiwi", u"kiwi");
  Add(u"apple", u"lime", u"lime");
  EXPECT_EQ(Rows(), "fruit,.apple,..green apple,..red,..lime,.pear,veg,nuts,.pecan");
  Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"red")});  // current and selected
  Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"pecan")});
  EXPECT_EQ(Rows(), "fruit,.apple,..green apple,..lime,.pear,veg");
  EXPECT_EQ(Selected(), "pear,veg");
  Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"fruit")});
  EXPECT_EQ(Rows(), "veg");
  EXPECT_EQ(Selected(), "veg");
  SetFilter(u"");
  EXPECT_EQ(Rows(), "veg,.carrot,nuts");
}

TEST_P(QtFilter, AViewStateRestoredWhileFiltered) {
  NodeOf(u"fruit")->SetExpanded(true);
  const Variant state = Call(control_, u"SaveViewState", InvokeKind::Method);
  NodeOf(u"fruit")->SetExpanded(false);
  NodeOf(u"veg")->SetExpanded(false);
  NodeOf(u"nuts")->SetSelected(true);
  SetFilter(u"a");
  Call(control_, u"RestoreViewState", InvokeKind::Method, {state});
  EXPECT_EQ(Rows(), "fruit,.apple,..green apple,.pear,veg,.carrot");
  SetFilter(u"");
  EXPECT_EQ(Rows(), "fruit,.apple,.pear,veg,.carrot,nuts");
  EXPECT_EQ(CurrentText(), "carrot");
}

DESK_IN_BOTH_DIRECTIONS(QtFilter);

}  // namespace
}  // namespace desk_qt_test
