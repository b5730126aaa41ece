// The control's event interface, and the forwarding of the inner tree's events to the host.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "VarbelTreeviewControl.h"
#include "desk/collection.h"
#include "desk/text.h"
#include "desk/tree.h"
#include "support/test_support.h"

using desk::DispId;
using desk::InvokeKind;
using desk::Ref;
using desk::Variant;
using desk::VarType;
using desk_test::ErrOf;

namespace {

std::string TypeText(VarType t) {
  switch (t) {
    case VarType::Integer: return "int16";
    case VarType::Long: return "int32";
    case VarType::Single: return "float";
    case VarType::Boolean: return "Boolean";
    case VarType::String: return "text";
    case VarType::Object: return "object";
    default: return "?";
  }
}

// "Name(Param type [Class] ref|val, ...)"
std::string Signature(const desk::MemberInfo& m) {
  std::string s = std::string(m.name) + "(";
  for (size_t i = 0; i < m.params.size(); ++i) {
    const auto& p = m.params[i];
    if (i) s += ", ";
    s += std::string(p.name) + " " + TypeText(p.type);
    if (p.objectType) s += std::string(" ") + p.objectType;
    s += p.byRef ? " ref" : " val";
  }
  return s + ")";
}

TEST(EventInterface, ThirtyThreeEventsInDispatchIdOrder) {
  struct Expected {
    DispId id;
    const char* signature;
    const char* help;  // null: none
  };
  const Expected expected[] = {
      {1, "onMenuClick(MenuName text ref)", nullptr},
      {2, "Click()", "Occurs when the user presses and then releases a mouse button over an object."},
      {3, "DblClick()",
       "Occurs when you press and release a mouse button and then press and release it again over an object."},
      {4, "KeyDown(KeyCode int16 ref, Shift int16 ref)",
       "Occurs when the user presses a key while an object has the focus."},
      {5, "KeyPress(KeyAscii int16 ref)", "Occurs when the user presses and releases an ANSI key."},
      {6, "KeyUp(KeyCode int16 ref, Shift int16 ref)",
       "Occurs when the user releases a key while an object has the focus."},
      {7, "MouseDown(Button int16 ref, Shift int16 ref, x float ref, y float ref)",
       "Occurs when the user presses the mouse button while an object has the focus."},
      {8, "MouseMove(Button int16 ref, Shift int16 ref, x float ref, y float ref)",
       "Occurs when the user moves the mouse."},
      {9, "MouseUp(Button int16 ref, Shift int16 ref, x float ref, y float ref)",
       "Occurs when the user releases the mouse button while an object has the focus."},
      {10, "WriteProperties(PropBag object PropertyBag ref)",
       "Occurs when a user control or user document is asked to write its data to a file."},
      {11, "Validate(Cancel Boolean ref)", "Occurs when a control loses focus to a control that causes validation."},
      {12, "Show()", "Occurs when the control's Visible property changes to True."},
      {13, "Resize()", "Occurs when a form is first displayed or the size of an object changes."},
      {14, "ReadProperties(PropBag object PropertyBag ref)",
       "Occurs when a user control or user document is asked to read its data from a file."},
      {15, "Paint()", "Occurs when any part of a form or PictureBox control is moved, enlarged, or exposed."},
      {16, "OLEStartDrag(Data object DataObject ref, AllowedEffects int32 ref)", nullptr},
      {17, "OLESetData(Data object DataObject ref, DataFormat int16 ref)", nullptr},
      {18, "OLEGiveFeedback(Effect int32 ref, DefaultCursors Boolean ref)", "OLEGiveFeedback event"},
      {19,
       "OLEDragOver(Data object DataObject ref, Effect int32 ref, Button int16 ref, Shift int16 ref, x float ref, y "
       "float ref, State int16 ref)",
       nullptr},
      {20,
       "OLEDragDrop(Data object DataObject ref, Effect int32 ref, Button int16 ref, Shift int16 ref, x float ref, y "
       "float ref)",
       nullptr},
      {21, "OLECompleteDrag(Effect int32 ref)", "OLECompleteDrag event"},
      {22, "NodeClick(Node object Node val)", "Occurs when a Node object is clicked."},
      {23, "NodeCheck(Node object Node val)", "Occurs when Checkboxes = True and a Node object is checked/unchecked."},
      {24, "InitProperties()", "Occurs the first time a user control or user document is created."},
      {25, "HitTest(x float ref, y float ref, HitResult int16 ref)",
       "Occurs in a windowless user control in response to mouse activity."},
      {26, "Hide()", "Occurs when the control's Visible property changes to False."},
      {27, "GetDataMember(DataMember text ref, Data object ref)",
       "Occurs when a data consumer is asking this data source for one of it's data members."},
      {28, "Expand(Node object Node val)",
       "Occurs when a Node object in a TreeView control is expanded; that is, when its child nodes become visible."},
      {29, "Collapse(Node object Node val)", "Generated when any Node object in a TreeView control is collapsed."},
      {30, "BeforeLabelEdit(Cancel int16 ref)",
       "Occurs when a user attempts to edit the label of the currently selected ListItem or Node object."},
      {31, "AsyncReadProgress(AsyncProp object AsyncProperty ref)",
       "Occurs when more data is available as a result of the AsyncReadProgress method."},
      {32, "AsyncReadComplete(AsyncProp object AsyncProperty ref)",
       "Occurs when all of the data is available as a result of the AsyncRead method."},
      {33, "AfterLabelEdit(Cancel int16 ref, NewString text ref)",
       "Occurs after a user edits the label of the currently selected Node or ListItem object."},
  };
  const desk::InterfaceInfo& ev = varbel::VarbelTreeviewControl::Events();
  EXPECT_EQ(ev.name, "__VarbelTreeviewControl");
  EXPECT_EQ(ev.iid, "{F2E25746-9702-4B63-AD25-0A62AC8A246E}");
  ASSERT_EQ(ev.members.size(), std::size(expected));
  for (size_t i = 0; i < ev.members.size(); ++i) {
    const desk::MemberInfo& m = ev.members[i];
    SCOPED_TRACE(m.name);
    EXPECT_EQ(m.id, expected[i].id);
    EXPECT_EQ(m.kind, InvokeKind::Method);
    EXPECT_EQ(m.result, VarType::Empty);
    EXPECT_EQ(Signature(m), expected[i].signature);
    EXPECT_EQ(m.help ? std::string(m.help) : "(none)", expected[i].help ? expected[i].help : "(none)");
  }
}

// A host with one control and a spy connected to its events.
class ForwardingTest : public ::testing::Test {
 protected:
  ForwardingTest() : control(desk::MakeRef<varbel::VarbelTreeviewControl>()) {
    surface = dynamic_cast<desk::HeadlessSurface*>(control->GetSurface());
    tree = surface->TreeRef();
    surface->SetScale(0, 0, 3000, 2000);
    control->Advise(desk::MakeRef<desk::FunctionSink>([this](DispId id, std::vector<Variant>& args) {
      ids.push_back(id);
      if (on) on(id, args);
    }));
  }
  desk_test::FreshHost host;
  Ref<varbel::VarbelTreeviewControl> control;
  desk::HeadlessSurface* surface = nullptr;
  Ref<desk::TreeView> tree;
  std::vector<DispId> ids;
  std::function<void(DispId, std::vector<Variant>&)> on;
};

// What the tree hands over and what the host writes back, by the argument's kind.
Ref<desk::Object> DataBefore() {
  static Ref<desk::Object> o = desk::MakeRef<desk::Collection>();
  return o;
}
Ref<desk::Object> DataAfter() {
  static Ref<desk::Object> o = desk::MakeRef<desk::Collection>();
  return o;
}
Variant Written(VarType t) {
  switch (t) {
    case VarType::Integer: return Variant::Integer(-7);
    case VarType::Long: return Variant::Long(70000);
    case VarType::Single: return Variant::Single(-2.25f);
    case VarType::Boolean: return Variant::Bool(true);
    case VarType::String: return Variant::String(u"after");
    default: return Variant::Object(DataAfter());
  }
}

// Ids the tree might raise that the control has no event for, at both ends of its table and
// far outside it, are not raised again; the last one it has is.
TEST_F(ForwardingTest, OnlyTheTreesEventsOfTheControlAreRaisedAgain) {
  const DispId last = varbel::VarbelTreeviewControl::Events().members.back().id;
  for (DispId id : {-1, 0, last + 1, last + 2, 1000, INT32_MAX, INT32_MIN}) {
    std::vector<Variant> none;
    tree->Events().Raise(id, none);
  }
  EXPECT_TRUE(ids.empty());
  int16_t cancel = 0;
  std::u16string text = u"t";
  tree->RaiseAfterLabelEdit(cancel, text);
  EXPECT_EQ(ids, std::vector<DispId>{last});
}

TEST_F(ForwardingTest, ByReferenceArgumentsAreTheTreesOwnStorage) {
  using Raise = std::function<std::vector<Variant>(desk::TreeView&)>;
  struct Case {
    const char* name;
    DispId id;
    Raise raise;  // raises with the initial values, answers what the tree holds afterwards
    std::vector<Variant> initial;
  };
  const Variant i16 = Variant::Integer(3), i32 = Variant::Long(30), x = Variant::Single(1234.5f),
                y = Variant::Single(-0.125f), no = Variant::Bool(false), text = Variant::String(u"before"),
                data = Variant::Object(DataBefore());
  auto mouse = [](void (desk::TreeView::*f)(int16_t&, int16_t&, float&, float&)) {
    return [f](desk::TreeView& t) {
      int16_t b = 3, s = 3;
      float x = 1234.5f, y = -0.125f;
      (t.*f)(b, s, x, y);
      return std::vector<Variant>{Variant::Integer(b), Variant::Integer(s), Variant::Single(x), Variant::Single(y)};
    };
  };
  auto keys = [](void (desk::TreeView::*f)(int16_t&, int16_t&)) {
    return [f](desk::TreeView& t) {
      int16_t k = 3, s = 3;
      (t.*f)(k, s);
      return std::vector<Variant>{Variant::Integer(k), Variant::Integer(s)};
    };
  };
  const Case cases[] = {
      {"Click", 2, [](desk::TreeView& t) { return t.RaiseClick(), std::vector<Variant>{}; }, {}},
      {"DblClick", 3, [](desk::TreeView& t) { return t.RaiseDblClick(), std::vector<Variant>{}; }, {}},
      {"KeyDown", 4, keys(&desk::TreeView::RaiseKeyDown), {i16, i16}},
      {"KeyPress", 5,
       [](desk::TreeView& t) {
         int16_t k = 3;
         t.RaiseKeyPress(k);
         return std::vector<Variant>{Variant::Integer(k)};
       },
       {i16}},
      {"KeyUp", 6, keys(&desk::TreeView::RaiseKeyUp), {i16, i16}},
      {"MouseDown", 7, mouse(&desk::TreeView::RaiseMouseDown), {i16, i16, x, y}},
      {"MouseMove", 8, mouse(&desk::TreeView::RaiseMouseMove), {i16, i16, x, y}},
      {"MouseUp", 9, mouse(&desk::TreeView::RaiseMouseUp), {i16, i16, x, y}},
      {"Validate", 11,
       [](desk::TreeView& t) {
         bool c = false;
         t.RaiseValidate(c);
         return std::vector<Variant>{Variant::Bool(c)};
       },
       {no}},
      {"OLEStartDrag", 16,
       [](desk::TreeView& t) {
         Ref<desk::Object> d = DataBefore();
         int32_t e = 30;
         t.RaiseOLEStartDrag(d, e);
         return std::vector<Variant>{Variant::Object(d), Variant::Long(e)};
       },
       {data, i32}},
      {"OLESetData", 17,
       [](desk::TreeView& t) {
         Ref<desk::Object> d = DataBefore();
         int16_t f = 3;
         t.RaiseOLESetData(d, f);
         return std::vector<Variant>{Variant::Object(d), Variant::Integer(f)};
       },
       {data, i16}},
      {"OLEGiveFeedback", 18,
       [](desk::TreeView& t) {
         int32_t e = 30;
         bool c = false;
         t.RaiseOLEGiveFeedback(e, c);
         return std::vector<Variant>{Variant::Long(e), Variant::Bool(c)};
       },
       {i32, no}},
      {"OLEDragOver", 19,
       [](desk::TreeView& t) {
         Ref<desk::Object> d = DataBefore();
         int32_t e = 30;
         int16_t b = 3, s = 3, st = 3;
         float x = 1234.5f, y = -0.125f;
         t.RaiseOLEDragOver(d, e, b, s, x, y, st);
         return std::vector<Variant>{Variant::Object(d), Variant::Long(e),   Variant::Integer(b), Variant::Integer(s),
                                     Variant::Single(x), Variant::Single(y), Variant::Integer(st)};
       },
       {data, i32, i16, i16, x, y, i16}},
      {"OLEDragDrop", 20,
       [](desk::TreeView& t) {
         Ref<desk::Object> d = DataBefore();
         int32_t e = 30;
         int16_t b = 3, s = 3;
         float x = 1234.5f, y = -0.125f;
         t.RaiseOLEDragDrop(d, e, b, s, x, y);
         return std::vector<Variant>{Variant::Object(d),  Variant::Long(e),   Variant::Integer(b),
                                     Variant::Integer(s), Variant::Single(x), Variant::Single(y)};
       },
       {data, i32, i16, i16, x, y}},
      {"OLECompleteDrag", 21,
       [](desk::TreeView& t) {
         int32_t e = 30;
         t.RaiseOLECompleteDrag(e);
         return std::vector<Variant>{Variant::Long(e)};
       },
       {i32}},
      {"BeforeLabelEdit", 30,
       [](desk::TreeView& t) {
         int16_t c = 3;
         t.RaiseBeforeLabelEdit(c);
         return std::vector<Variant>{Variant::Integer(c)};
       },
       {i16}},
      {"AfterLabelEdit", 33,
       [](desk::TreeView& t) {
         int16_t c = 3;
         std::u16string s = u"before";
         t.RaiseAfterLabelEdit(c, s);
         return std::vector<Variant>{Variant::Integer(c), Variant::String(s)};
       },
       {i16, text}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ids.clear();
    std::vector<Variant> seen;
    on = [&](DispId, std::vector<Variant>& args) {
      for (Variant& a : args) {
        seen.push_back(a.Value());
        EXPECT_TRUE(a.IsByRef());
        a.Assign(Written(a.ValueType()));
      }
    };
    std::vector<Variant> after = c.raise(*tree);
    EXPECT_EQ(ids, std::vector<DispId>{c.id});
    // Unchanged on the way in: coordinates in the tree's units, codes as given.
    EXPECT_EQ(seen, c.initial);
    std::vector<Variant> expected;
    for (const Variant& v : c.initial) expected.push_back(Written(v.ValueType()));
    EXPECT_EQ(after, expected);
  }
}

TEST_F(ForwardingTest, NodeEventsDeliverTheVeryNodeTheTreeReported) {
  tree->SetCheckboxes(true);
  Ref<desk::Node> root = tree->NodeCollection().AddRoot(u"r", u"Root");
  tree->NodeCollection().Add(*root, desk::Relationship::Child, u"c", u"Child");
  std::vector<desk::Object*> nodes;
  on = [&](DispId, std::vector<Variant>& args) {
    ASSERT_EQ(args.size(), 1u);
    EXPECT_FALSE(args[0].IsByRef());
    nodes.push_back(args[0].RawObject().get());
  };
  tree->UserClickNode(*root);
  tree->UserCheck(*root, true);
  root->SetExpanded(true);
  root->SetExpanded(false);
  EXPECT_EQ(ids, (std::vector<DispId>{22, 23, 28, 29}));
  EXPECT_EQ(nodes, std::vector<desk::Object*>(4, root.get()));
}

TEST_F(ForwardingTest, HostAnswersReachTheTreesOwnLabelEditing) {
  Ref<desk::Node> node = tree->NodeCollection().AddRoot(u"r", u"Old");
  node->SetSelected(true);
  on = [&](DispId id, std::vector<Variant>& args) {
    if (id == 30) args[0].Assign(Variant::Integer(1));
  };
  tree->StartLabelEdit();
  EXPECT_EQ(tree->EditingNode(), nullptr);  // the host cancelled

  on = [&](DispId id, std::vector<Variant>& args) {
    if (id == 33) args[1].Assign(Variant::String(u"From host"));
  };
  tree->StartLabelEdit();
  EXPECT_TRUE(tree->FinishLabelEdit(u"Typed"));
  EXPECT_EQ(node->Text(), u"From host");
  EXPECT_EQ(ids, (std::vector<DispId>{30, 30, 33}));
}

TEST_F(ForwardingTest, EventsTheControlDeclaresButNeverRaises) {
  const DispId never[] = {10, 12, 13, 14, 15, 24, 25, 26, 27, 31, 32};
  for (DispId id : never) {
    std::vector<Variant> none;
    tree->Events().Raise(id, none);  // even if the tree raised one, the host hears nothing
  }
  surface->SetScale(5, 5, 100, 100);
  std::vector<Variant> hidden{Variant::Bool(false)};
  surface->TreeChild()->Invoke(desk::ext::kVisible, InvokeKind::Let, hidden);
  tree->Refresh();
  EXPECT_TRUE(ids.empty());
}

// Ids the tree has no event under (onMenuClick's among them: only a menu click raises it).
TEST_F(ForwardingTest, IdsOutsideTheTreesEventsAreNotRaisedAgain) {
  const DispId strange[] = {1, 0, -1, 34, 1000, INT32_MIN, INT32_MAX};
  for (DispId id : strange) {
    std::vector<Variant> none;
    tree->Events().Raise(id, none);
  }
  EXPECT_TRUE(ids.empty());
}

TEST_F(ForwardingTest, AHostFailureGoesBackToTheTreeWithWhatItWrote) {
  on = [](DispId, std::vector<Variant>& args) {
    args[0].Assign(Variant::Integer(0));
    desk::Raise(desk::Err::InvalidProcedureCall);
  };
  int16_t key = 65;
  EXPECT_EQ(ErrOf([&] { tree->RaiseKeyPress(key); }), 5);
  EXPECT_EQ(key, 0);
}

// A cookie given back already, or never issued, is refused with 5, and the sinks still
// connected keep their events.
TEST_F(ForwardingTest, UnadviseOfACookieNoSinkHasFailsWith5) {
  int second = 0;
  const int cookie = control->Advise(desk::MakeRef<desk::FunctionSink>([&](DispId, std::vector<Variant>&) { ++second; }));
  control->Unadvise(cookie);
  for (int unknown : {cookie, cookie + 1, -1, 0})
    EXPECT_EQ(ErrOf([&] { control->Unadvise(unknown); }), 5) << unknown;
  int16_t key = 65;
  tree->RaiseKeyPress(key);
  EXPECT_EQ(ids.size(), 1u) << "the first sink is connected still";
  EXPECT_EQ(second, 0);
}

TEST_F(ForwardingTest, AHostThatReleasesTheControlInsideAnEvent) {
  on = [&](DispId, std::vector<Variant>&) { control.reset(); };
  int16_t b = 2, s = 0;
  float x = 10, y = 10;
  tree->RaiseMouseDown(b, s, x, y);
  EXPECT_FALSE(control);
  EXPECT_EQ(ids, std::vector<DispId>{7});
  tree->RaiseMouseUp(b, s, x, y);  // the control is gone and no longer listening
  EXPECT_EQ(ids, std::vector<DispId>{7});
}

}  // namespace
