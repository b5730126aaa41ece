// The selection of many nodes on screen: the usual gestures with the mouse and the keyboard,
// in both directions, with Qt's model tester watching (the fixture's).
#include <QStyledItemDelegate>
#include <string>

#include "desk/text.h"

#include "VarbelTreeviewControlEx.h"
#include "qt_fixture.h"

namespace desk_qt_test {
namespace {

class QtHostEx : public QtHost {
 protected:
  const char* ClassId() const override { return varbel::kControlExClsid; }
  void SetUp() override {
    QtHost::SetUp();
    Fill();
  }
  // apple, banana (b1, b2), cherry, date, elder -- banana expanded.
  void Fill() {
    for (const char16_t* k : {u"apple", u"banana", u"cherry", u"date", u"elder"}) Add(u"", k, k);
    for (const char16_t* k : {u"b1", u"b2"}) Add(u"banana", k, k);
    NodeOf(u"banana")->SetExpanded(true);
  }
  std::string Selected() { return SelectedKeys(" "); }
  // Whether the delegate draws the row as selected.
  bool DrawnSelected(const char* text) {
    // State_Selected: what Qt's own selection might say.
    return OptionOf(ItemOf(text), QStyle::State_Selected).state.testFlag(QStyle::State_Selected);
  }
  QString CurrentText() { return Widget()->currentIndex().data().toString(); }
  int Changes() const { return static_cast<int>(Of(varbel::exid::kSelectionChanged).size()); }
};

class QtSelection : public InBothDirections<QtHostEx> {};

TEST_P(QtSelection, OneNodeUntilTheHostAsksForMore) {
  Click("apple");
  Click("cherry", Qt::ControlModifier);
  Click("elder", Qt::ShiftModifier);
  EXPECT_EQ(Selected(), "elder");
  QTest::keyClick(Widget(), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(Selected(), "elder");
}

TEST_P(QtSelection, MouseGestures) {
  Call(control_, u"SelectionMode", InvokeKind::Let, {Variant::Long(1)});
  struct Step {
    const char* name;
    const char* row;
    Qt::KeyboardModifiers mods;
    const char* expected;
  };
  const Step steps[] = {
      {"click", "apple", {}, "apple"},
      {"ctrl+click adds", "cherry", Qt::ControlModifier, "apple cherry"},
      {"shift+click spans from the last ctrl+click", "elder", Qt::ShiftModifier, "cherry date elder"},
      {"shift+click upwards, into the children", "b1", Qt::ShiftModifier, "b1 b2 cherry"},
      {"ctrl+click takes one away", "b2", Qt::ControlModifier, "b1 cherry"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    const int before = Changes();
    Click(s.row, s.mods);
    EXPECT_EQ(Selected(), s.expected);
    EXPECT_EQ(Changes(), before + 1);
    EXPECT_EQ(CurrentText(), QString(s.row));
  }
  EXPECT_TRUE(DrawnSelected("b1"));
  EXPECT_FALSE(DrawnSelected("b2")) << "Qt's current row is not drawn selected when the tree says no";
}

TEST_P(QtSelection, KeyboardGestures) {
  Call(control_, u"SelectionMode", InvokeKind::Let, {Variant::Long(1)});
  Click("banana");
  for (int i = 0; i < 2; ++i) QTest::keyClick(Widget(), Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(Selected(), "banana b1 b2");
  QTest::keyClick(Widget(), Qt::Key_Down);
  EXPECT_EQ(Selected(), "cherry");
  QTest::keyClick(Widget(), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(Selected(), "apple banana b1 b2 cherry date elder");
  EXPECT_TRUE(DrawnSelected("elder"));
}

TEST_P(QtSelection, NodesRemovedWhileSelected) {
  Call(control_, u"SelectionMode", InvokeKind::Let, {Variant::Long(1)});
  Call(control_, u"SelectAll", InvokeKind::Method);
  for (const char16_t* k : {u"banana", u"elder"}) Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(k)});
  EXPECT_EQ(Selected(), "apple cherry date");
  Click("date", Qt::ShiftModifier);  // the anchor went with banana: a plain click
  EXPECT_EQ(Selected(), "date");
  Call(Nodes(), u"Clear", InvokeKind::Method);
  EXPECT_EQ(Selected(), "");
}

TEST_P(QtSelection, ARemovedNodeLeavesItsRangeWhereverItIs) {
  // apple, then cherry..elder: the removed node is the first, inside, the last of a range, or
  // a parent between two.
  struct Case {
    const char* remove;
    const char* expected;
  };
  const Case cases[] = {{"cherry", "apple date elder"},
                        {"date", "apple cherry elder"},
                        {"elder", "apple cherry date"},
                        {"banana", "apple cherry date elder"}};
  Call(control_, u"SelectionMode", InvokeKind::Let, {Variant::Long(1)});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.remove);
    Click("apple");
    Click("cherry", Qt::ControlModifier);
    Click("elder", Qt::ShiftModifier | Qt::ControlModifier);
    ASSERT_EQ(Selected(), "apple cherry date elder");
    Call(Nodes(), u"Remove", InvokeKind::Method, {Variant::String(desk::U16(c.remove))});
    EXPECT_EQ(Selected(), c.expected);
    Call(Nodes(), u"Clear", InvokeKind::Method);
    Fill();
  }
}

TEST_P(QtSelection, AViewStateBringsBackTheFirstRowInView) {
  for (int i = 0; i < 200; ++i) Add(u"", u"n" + desk::DecimalText(i), u"n" + desk::DecimalText(i));
  Tree().ScrollToTop(*NodeOf(u"n100"));
  ASSERT_EQ(Tree().TopNode(), NodeOf(u"n100"));
  const Variant state = Call(control_, u"SaveViewState", InvokeKind::Method);
  Tree().ScrollToTop(*NodeOf(u"apple"));
  NodeOf(u"banana")->SetExpanded(false);
  Call(control_, u"RestoreViewState", InvokeKind::Method, {state});
  EXPECT_EQ(Tree().TopNode(), NodeOf(u"n100"));
  EXPECT_TRUE(NodeOf(u"banana")->Expanded());
}

DESK_IN_BOTH_DIRECTIONS(QtSelection);

}  // namespace
}  // namespace desk_qt_test
