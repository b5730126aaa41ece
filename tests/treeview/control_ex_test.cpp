// The library's second class: the default interface unchanged, the selection of many nodes
// added after it, reached by id, by name and through the typed members.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "VarbelTreeviewControl.h"
#include "VarbelTreeviewControlEx.h"
#include "VarbelTreeview/VarbelTreeview.h"
#include "desk/collection.h"
#include "desk/text.h"
#include "desk/tree.h"
#include "desk/tree_selection.h"
#include "support/test_support.h"

using desk::DispId;
using desk::InvokeKind;
using desk::Ref;
using desk::Variant;
using desk_test::ErrOf;

namespace {

TEST(ControlEx, KeepsEveryEntryOfTheDefaultInterfaceAtItsPlaceAndId) {
  const auto& base = varbel::VarbelTreeviewControl::Table().Info().members;
  const auto& ex = varbel::VarbelTreeviewControlEx::TableEx().Info().members;
  ASSERT_GT(ex.size(), base.size());
  for (size_t i = 0; i < base.size(); ++i) {
    SCOPED_TRACE(base[i].name);
    EXPECT_STREQ(ex[i].name, base[i].name);
    EXPECT_EQ(ex[i].id, base[i].id);
    EXPECT_EQ(ex[i].kind, base[i].kind);
    EXPECT_EQ(ex[i].params.size(), base[i].params.size());
    EXPECT_EQ(ex[i].result, base[i].result);
  }
  // The added ids collide with none of the default ones.
  for (size_t i = base.size(); i < ex.size(); ++i)
    for (const auto& b : base) EXPECT_NE(ex[i].id, b.id) << ex[i].name << " reuses " << b.name;

  const auto& events = varbel::VarbelTreeviewControl::Events().members;
  const auto& eventsEx = varbel::VarbelTreeviewControlEx::EventsEx().members;
  ASSERT_EQ(eventsEx.size(), events.size() + 1);
  for (size_t i = 0; i < events.size(); ++i) EXPECT_EQ(eventsEx[i].id, events[i].id) << events[i].name;
  EXPECT_STREQ(eventsEx.back().name, "SelectionChanged");
}

TEST(ControlEx, TheDefaultClassShowsNoneOfIt) {
  desk_test::FreshHost host;
  auto plain = desk::MakeRef<varbel::VarbelTreeviewControl>();
  for (const char* name : {"SelectionMode", "SelectedNodes", "SelectAll", "SetNodeSelected"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(plain->Interface().IdOfName(desk::U16(name)), desk::kNoDispId);
    EXPECT_EQ(ErrOf([&] { desk::CallByName(*plain, desk::U16(name), InvokeKind::Get); }), 438);
  }
  EXPECT_EQ(plain->EventInterface().members.size(), 33u);
}

TEST(ControlEx, CreatedByItsClassIdThroughTheLibrary) {
  desk_test::FreshHost host;
  desk::Object* raw = nullptr;
  char message[256] = "";
  ASSERT_EQ(VarbelTreeview_CreateObject(varbel::kControlExClsid, &raw, message, sizeof message), 0) << message;
  Ref<desk::Object> o = desk::AdoptRef(raw);
  EXPECT_EQ(o->Interface().name, "_VarbelTreeviewControlEx");
  EXPECT_EQ(desk::CallByName(o, u"SelectionMode", InvokeKind::Get).ToLong(), 0);
}

class ControlExTest : public ::testing::Test {
 protected:
  ControlExTest() : control(desk::MakeRef<varbel::VarbelTreeviewControlEx>()) {
    control->Advise(desk::MakeRef<desk::FunctionSink>([this](DispId id, std::vector<Variant>&) { ids.push_back(id); }));
    Ref<desk::Object> nodes = control->Nodes();
    for (const char16_t* k : {u"a", u"b", u"c", u"d"}) Add(nodes, k);
  }
  void Add(const Ref<desk::Object>& nodes, const char16_t* key) {
    desk::CallByName(nodes, u"Add", InvokeKind::Method,
                     {Variant::Missing(), Variant::Missing(), Variant::String(key), Variant::String(key)});
  }
  Ref<desk::Object> Node(const char16_t* key) {
    return desk::CallByName(control->Nodes(), u"Item", InvokeKind::Method, {Variant::String(key)}).ToObject();
  }
  std::string Selected() {
    Ref<desk::Object> col = desk::CallByName(control, u"SelectedNodes", InvokeKind::Get).ToObject();
    std::string s;
    const int32_t n = desk::CallByName(col, u"Count", InvokeKind::Get).ToLong();
    for (int32_t i = 1; i <= n; ++i) {
      Ref<desk::Object> node = desk::CallByName(col, u"Item", InvokeKind::Method, {Variant::Long(i)}).ToObject();
      s += desk::U8(desk::CallByName(node, u"Key", InvokeKind::Get).ToString());
    }
    return s;
  }
  int Changes() const { return static_cast<int>(std::count(ids.begin(), ids.end(), varbel::exid::kSelectionChanged)); }

  desk_test::FreshHost host;
  Ref<varbel::VarbelTreeviewControlEx> control;
  std::vector<DispId> ids;
};

TEST_F(ControlExTest, SingleByDefaultAsTheDefaultClass) {
  EXPECT_EQ(control->GetSelectionMode(), 0);
  control->SelectAll();
  EXPECT_EQ(Selected(), "");
  desk::CallByName(Node(u"b"), u"Selected", InvokeKind::Let, {Variant::Bool(true)});
  EXPECT_EQ(Selected(), "b");
  EXPECT_EQ(Changes(), 1);
  // The current node removed: the selection is empty now, and the host hears of it.
  desk::CallByName(control->Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"b")});
  EXPECT_EQ(Selected(), "");
  EXPECT_EQ(Changes(), 2);
}

TEST_F(ControlExTest, ExtendedByNameWithAnEventPerChange) {
  desk::CallByName(control, u"SelectionMode", InvokeKind::Let, {Variant::Long(1)});
  desk::CallByName(control, u"SelectAll", InvokeKind::Method);
  EXPECT_EQ(Selected(), "abcd");
  EXPECT_EQ(desk::CallByName(control, u"SelectedCount", InvokeKind::Get).ToLong(), 4);
  desk::CallByName(control, u"SetNodeSelected", InvokeKind::Method, {Variant::Object(Node(u"b")), Variant::Bool(false)});
  EXPECT_EQ(Selected(), "acd");
  EXPECT_FALSE(desk::CallByName(control, u"IsNodeSelected", InvokeKind::Method, {Variant::Object(Node(u"b"))}).ToBool());
  desk::CallByName(control, u"ClearSelection", InvokeKind::Method);
  desk::CallByName(control, u"SelectRows", InvokeKind::Method, {Variant::Object(Node(u"d")), Variant::Object(Node(u"b"))});
  EXPECT_EQ(Selected(), "bcd");
  EXPECT_EQ(Changes(), 4);
  desk::CallByName(control->Nodes(), u"Remove", InvokeKind::Method, {Variant::String(u"c")});
  EXPECT_EQ(Selected(), "bd");
  EXPECT_EQ(Changes(), 5);
}

TEST_F(ControlExTest, RefusedValuesAndArguments) {
  struct Case {
    const char* name;
    std::function<void()> call;
    int32_t error;
  };
  auto other = desk::MakeRef<varbel::VarbelTreeviewControlEx>();
  desk::CallByName(other->Nodes(), u"Add", InvokeKind::Method,
                   {Variant::Missing(), Variant::Missing(), Variant::String(u"z"), Variant::String(u"z")});
  Ref<desk::Object> foreign =
      desk::CallByName(other->Nodes(), u"Item", InvokeKind::Method, {Variant::String(u"z")}).ToObject();
  const Case cases[] = {
      {"a mode outside 0..1", [&] { control->LetSelectionMode(2); }, 380},
      {"Nothing for a node", [&] { control->IsNodeSelected(nullptr); }, 91},
      {"an object that is no node", [&] { control->IsNodeSelected(control->Nodes()); }, 13},
      {"a node of another control", [&] { control->SetNodeSelected(foreign, true); }, 5},
      {"Nothing for a node on demand", [&] { control->SetNodeChildrenOnDemand(nullptr, true); }, 91},
      {"a node on demand of another control", [&] { control->NodeChildrenOnDemand(foreign); }, 5},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrOf(c.call), c.error) << c.name;
  EXPECT_EQ(control->GetSelectionMode(), 0);
}

// Children on demand by name: the expander before the children, the children added in the
// Expand event, through the interface as a late-binding host does it.
TEST_F(ControlExTest, ChildrenAddedInTheExpandEventByName) {
  Ref<desk::Object> b = Node(u"b");
  const Variant bv = Variant::Object(b);
  EXPECT_FALSE(desk::CallByName(control, u"NodeChildrenOnDemand", InvokeKind::Method, {bv}).ToBool());
  desk::CallByName(control, u"SetNodeChildrenOnDemand", InvokeKind::Method, {bv, Variant::Bool(true)});
  EXPECT_TRUE(desk::CallByName(control, u"NodeChildrenOnDemand", InvokeKind::Method, {bv}).ToBool());
  desk::CallByName(control, u"SelectionMode", InvokeKind::Let, {Variant::Long(1)});
  desk::CallByName(control, u"SelectRows", InvokeKind::Method, {bv, Variant::Object(Node(u"c"))});
  int expands = 0;
  control->Advise(desk::MakeRef<desk::FunctionSink>([&](DispId id, std::vector<Variant>& args) {
    if (id != desk::treeevent::kExpand) return;
    ++expands;
    EXPECT_EQ(args.at(0).Value().ToObject(), b);
    for (const char16_t* k : {u"b1", u"b2"})
      desk::CallByName(control->Nodes(), u"Add", InvokeKind::Method,
                       {Variant::String(u"b"), Variant::Long(4), Variant::String(k), Variant::String(k)});
  }));
  desk::CallByName(b, u"Expanded", InvokeKind::Let, {Variant::Bool(true)});
  EXPECT_EQ(expands, 1);
  EXPECT_TRUE(desk::CallByName(b, u"Expanded", InvokeKind::Get).ToBool());
  EXPECT_EQ(desk::CallByName(b, u"Children", InvokeKind::Get).ToLong(), 2);
  EXPECT_EQ(Selected(), "bc");  // the rows added between are not selected, and nothing is lost
}

}  // namespace
