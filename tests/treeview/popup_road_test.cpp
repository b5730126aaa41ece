// The context-menu road: PopUpMenus, DoHitTest, ShowPopupMenu, PopUpMenu and onMenuClick, as
// a host drives them, including hosts that call back in from their handlers.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "PopUpMenus.h"
#include "VarbelTreeview/VarbelTreeview.h"
#include "VarbelTreeviewControl.h"
#include "desk/text.h"
#include "desk/tree.h"
#include "support/test_support.h"

using desk::CallByName;
using desk::DispId;
using desk::InvokeKind;
using desk::Ref;
using desk::Variant;
using desk_test::ErrOf;

namespace {

constexpr InvokeKind kGet = InvokeKind::Get;
constexpr InvokeKind kCall = InvokeKind::Method;

// The index of the shown element with this caption, for choosePopupItem; -1 dismisses.
int ShownIndexOf(const desk::MenuArray& items, std::u16string_view caption) {
  for (const auto& [i, e] : items.Elements())
    if (e->Visible() && e->Caption() == caption) return i;
  return -1;
}

std::vector<std::string> BoxTexts(const desk::HeadlessPlatform& p) {
  std::vector<std::string> out;
  for (const auto& b : p.messageBoxes) out.push_back(desk::U8(b.text));
  return out;
}

std::string MenuState(const desk::MenuArray& items) {
  std::string out;
  for (const auto& [i, e] : items.Elements()) {
    if (!out.empty()) out += ' ';
    out += std::to_string(i) + ':' + desk::U8(e->Caption()) + ':' + desk::U8(e->Tag()) + ':' + (e->Visible() ? 'v' : 'h');
  }
  return out;
}

// Step 5 of the typical request, end to end, through the dispatch interface only: the host
// knows the library's class identifier and member names, nothing else.
TEST(PopupRoad, TypicalContextMenuRequestThroughLateBinding) {
  desk_test::FreshHost host;
  desk::Object* created = nullptr;
  char message[256];
  ASSERT_EQ(VarbelTreeview_CreateObject("{D5CA163D-6878-4BD8-A144-A5E85A414594}", &created, message, sizeof message),
            0);
  Ref<desk::Object> control(created);
  created->Release();  // the Ref above holds the caller's reference now
  auto* asControl = dynamic_cast<desk::Control*>(control.get());
  ASSERT_NE(asControl, nullptr);
  auto* surface = dynamic_cast<desk::HeadlessSurface*>(asControl->GetSurface());
  surface->SetScale(0, 0, 4000, 3000);  // the form sizes the control

  Ref<desk::Object> menus = CallByName(control, u"PopUpMenus", kGet).ToObject();
  using Pair = std::pair<const char16_t*, const char16_t*>;
  for (auto [name, caption] : {Pair{u"open", u"Open"}, Pair{u"copy", u"Copy"}, Pair{u"delete", u"Delete"}}) {
    Variant n = Variant::String(name), c = Variant::String(caption);
    CallByName(menus, u"Add", kCall, {Variant::ByRef(&n), Variant::ByRef(&c)});
  }
  Ref<desk::Object> nodes = CallByName(control, u"Nodes", kGet).ToObject();
  for (auto [key, text] : {Pair{u"r1", u"Root one"}, Pair{u"r2", u"Root two"}})
    CallByName(nodes, u"Add", kCall, {Variant::Missing(), Variant::Missing(), Variant::String(key), Variant::String(text)});

  const desk::InterfaceInfo& events = asControl->EventInterface();
  const DispId kMouseDown = events.IdOfName(u"MouseDown"), kMouseUp = events.IdOfName(u"MouseUp"),
               kMenuClick = events.IdOfName(u"onMenuClick");
  std::vector<std::string> log;
  int depth = 0;
  asControl->Advise(desk::MakeRef<desk::FunctionSink>([&](DispId id, std::vector<Variant>& args) {
    if (id == kMenuClick) {
      log.push_back("onMenuClick " + desk::U8(args[0].ToString()) + " depth " + std::to_string(depth));
      return;
    }
    if (id != kMouseDown && id != kMouseUp) return;
    log.push_back((id == kMouseDown ? "MouseDown " : "MouseUp ") + std::to_string(args[0].ToInteger()) + " " +
                  std::to_string(args[2].ToSingle()) + " " + std::to_string(args[3].ToSingle()));
    if (id != kMouseUp || args[0].ToInteger() != 2) return;
    Variant x = Variant::Integer(args[2].ToInteger()), y = Variant::Integer(args[3].ToInteger());
    Ref<desk::Object> node = CallByName(control, u"DoHitTest", kCall, {Variant::ByRef(&x), Variant::ByRef(&y)}).ToObject();
    ASSERT_TRUE(node);
    log.push_back("hit " + desk::U8(CallByName(node, u"Text", kGet).ToString()));
    ++depth;
    Variant shown = CallByName(control, u"ShowPopupMenu", kCall);
    --depth;
    EXPECT_TRUE(shown.IsEmpty());
    log.push_back("ShowPopupMenu returned");
  }));
  host.Platform().choosePopupItem = [](desk::MenuArray& items) { return ShownIndexOf(items, u"Copy"); };

  // The user presses and releases the right button over the second row.
  desk::TreeView& tree = surface->Tree();
  int16_t button = 2, shift = 0;
  float x = 100.5f, y = 300.25f;
  tree.RaiseMouseDown(button, shift, x, y);
  tree.RaiseMouseUp(button, shift, x, y);

  EXPECT_EQ(log, (std::vector<std::string>{"MouseDown 2 100.500000 300.250000", "MouseUp 2 100.500000 300.250000",
                                           "hit Root two", "onMenuClick copy depth 1", "ShowPopupMenu returned"}));
  ASSERT_EQ(surface->popups.size(), 1u);
  const auto& popup = surface->popups[0];
  EXPECT_EQ(popup.captions, (std::vector<std::u16string>{u"Open", u"Copy", u"Delete"}));
  for (const Variant* omitted : {&popup.flags, &popup.x, &popup.y, &popup.defaultMenu}) EXPECT_TRUE(omitted->IsMissing());
  EXPECT_TRUE(host.Platform().messageBoxes.empty());
}

// A host with one control, its popup collection, a sink, and a chooser for shown popups.
class RoadTest : public ::testing::Test {
 protected:
  RoadTest() : control(desk::MakeRef<varbel::VarbelTreeviewControl>()) {
    surface = dynamic_cast<desk::HeadlessSurface*>(control->GetSurface());
    surface->SetScale(0, 0, 4000, 3000);
    control->Advise(desk::MakeRef<desk::FunctionSink>([this](DispId id, std::vector<Variant>& args) {
      if (id == 1) clicks.push_back(args[0].ToString());
      if (on) on(id, args);
    }));
  }
  desk::MenuArray& Items() { return surface->ItemArray(); }
  void Choose(std::vector<std::u16string> captions) {
    host.Platform().choosePopupItem = [captions, n = size_t{0}](desk::MenuArray& items) mutable {
      return n < captions.size() ? ShownIndexOf(items, captions[n++]) : -1;
    };
  }
  std::vector<std::u16string> Shown(size_t i) const { return surface->popups.at(i).captions; }

  desk_test::FreshHost host;
  Ref<varbel::VarbelTreeviewControl> control;
  desk::HeadlessSurface* surface = nullptr;
  std::vector<std::u16string> clicks;
  std::function<void(DispId, std::vector<Variant>&)> on;
};

TEST_F(RoadTest, NothingIsShownWithoutDefinitions) {
  struct Case {
    const char* name;
    std::function<void(varbel::PopUpMenus&)> prepare;
  };
  const Case cases[] = {
      {"never filled", [](varbel::PopUpMenus&) {}},
      {"after Clear",
       [](varbel::PopUpMenus& m) {
         m.Add(u"a", u"A");
         m.Clear();
       }},
      {"after removing every definition",
       [](varbel::PopUpMenus& m) {
         m.Add(u"a", u"A");
         m.Remove(u"a");
       }},
  };
  Choose({u"A"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto fresh = desk::MakeRef<varbel::VarbelTreeviewControl>();
    c.prepare(*fresh->GetPopUpMenus());
    std::vector<Variant> none;
    Variant r = fresh->Invoke(varbel::MemberId("ShowPopupMenu"), kCall, none);
    EXPECT_EQ(r.Type(), desk::VarType::Empty);
    EXPECT_TRUE(dynamic_cast<desk::HeadlessSurface*>(fresh->GetSurface())->popups.empty());
  }
  EXPECT_TRUE(host.Platform().messageBoxes.empty());
}

TEST_F(RoadTest, ShowPopupMenuBeforeAnyReadOfPopUpMenusFailsWith91) {
  std::vector<Variant> none;
  EXPECT_EQ(ErrOf([&] { control->Invoke(varbel::MemberId("ShowPopupMenu"), kCall, none); }), 91);
  EXPECT_TRUE(surface->popups.empty());
  EXPECT_TRUE(host.Platform().messageBoxes.empty());
  EXPECT_FALSE(control->HasPopUpMenus());  // and it did not make the collection either
}

TEST_F(RoadTest, RemovedDefinitionsKeepTheirItemsAndClicksReportTheTag) {
  auto menus = control->GetPopUpMenus();
  menus->Add(u"a", u"A");
  menus->Add(u"b", u"B");
  menus->Remove(u"a");
  Choose({u"A"});
  control->ShowPopupMenu();
  EXPECT_EQ(Shown(0), (std::vector<std::u16string>{u"A", u"B"}));
  EXPECT_EQ(clicks, std::vector<std::u16string>{u"a"});
}

TEST_F(RoadTest, DefinitionsWithoutItemsShowOnlyThePlaceholder) {
  auto menus = control->GetPopUpMenus();
  std::vector<Variant> nothing{Variant::Nothing()};
  menus->Invoke(menus->GetIdOfName(u"mvarMainMNU"), InvokeKind::Set, nothing);
  menus->Add(u"a", u"A");
  ASSERT_EQ(BoxTexts(host.Platform()), std::vector<std::string>{"PopUpMenus, Class Module Add 8"});
  Choose({u"mnuStam"});
  control->ShowPopupMenu();
  EXPECT_EQ(Shown(0), std::vector<std::u16string>{u"mnuStam"});
  EXPECT_EQ(clicks, std::vector<std::u16string>{u""});
}

TEST_F(RoadTest, AHostRewritingMenuNameChangesNothingOfOurs) {
  auto menus = control->GetPopUpMenus();
  Ref<varbel::PopUpMenu> a = menus->Add(u"a", u"A");
  on = [](DispId id, std::vector<Variant>& args) {
    if (id == 1) args[0].Assign(Variant::String(u"rewritten"));
  };
  Choose({u"A", u"A"});
  control->ShowPopupMenu();
  control->ShowPopupMenu();
  EXPECT_EQ(clicks, (std::vector<std::u16string>{u"a", u"a"}));
  EXPECT_EQ(a->Name, u"a");
  EXPECT_EQ(Items().Element(1).Tag(), u"a");
}

TEST_F(RoadTest, PopUpMenuPassesItsArgumentsUnchanged) {
  Ref<desk::Object> menu(&surface->MainMenu());
  std::vector<Variant> args{Variant::Object(menu), Variant::Long(2), Variant::Single(10.5f), Variant::Single(20),
                            Variant::Object(Ref<desk::Object>(&Items().Element(0)))};
  control->Invoke(varbel::MemberId("PopUpMenu"), kCall, args);
  std::vector<Variant> onlyMenu{Variant::Object(Ref<desk::Object>(&Items()))};  // any menu object will do
  control->Invoke(varbel::MemberId("PopUpMenu"), kCall, onlyMenu);
  ASSERT_EQ(surface->popups.size(), 2u);
  const auto& full = surface->popups[0];
  EXPECT_EQ(full.flags, Variant::Long(2));
  EXPECT_EQ(full.x, Variant::Single(10.5f));
  EXPECT_EQ(full.y, Variant::Single(20));
  EXPECT_EQ(full.defaultMenu.RawObject().get(), &Items().Element(0));
  const auto& bare = surface->popups[1];
  for (const Variant* omitted : {&bare.flags, &bare.x, &bare.y, &bare.defaultMenu}) EXPECT_TRUE(omitted->IsMissing());
  std::vector<Variant> nothing{Variant::Nothing()};
  EXPECT_EQ(ErrOf([&] { control->Invoke(varbel::MemberId("PopUpMenu"), kCall, nothing); }), 91);
}

TEST_F(RoadTest, DoHitTestFindsTheNodeUnderAPoint) {
  auto& nodes = surface->Tree().NodeCollection();
  nodes.AddRoot(u"r1", u"Root one");
  nodes.AddRoot(u"r2", u"Root two");
  struct Case {
    const char* name;
    int16_t x, y;
    const char16_t* text;  // null: no node
  };
  const Case cases[] = {
      {"first row", 10, 10, u"Root one"},
      {"second row", 3999, 479, u"Root two"},
      {"empty space below the last node", 10, 480, nullptr},
      {"left of the tree", -1, 10, nullptr},
      {"right of the tree", 4000, 10, nullptr},
      {"largest 16-bit point", 32767, 32767, nullptr},
      {"smallest 16-bit point", -32768, -32768, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Variant x = Variant::Integer(c.x), y = Variant::Integer(c.y);
    std::vector<Variant> args{Variant::ByRef(&x), Variant::ByRef(&y)};
    Ref<desk::Object> hit = control->Invoke(varbel::MemberId("DoHitTest"), kCall, args).ToObject();
    EXPECT_EQ(x, Variant::Integer(c.x));  // by reference, and left alone
    EXPECT_EQ(y, Variant::Integer(c.y));
    if (!c.text) {
      EXPECT_FALSE(hit);
    } else {
      ASSERT_TRUE(hit);
      EXPECT_EQ(desk::RefCast<desk::Node>(hit)->Text(), c.text);
    }
  }
  // Values that do not fit 16 bits cannot be asked about.
  std::vector<Variant> far{Variant::Long(40000), Variant::Long(0)};
  EXPECT_EQ(ErrOf([&] { control->Invoke(varbel::MemberId("DoHitTest"), kCall, far); }), 6);
}

TEST_F(RoadTest, AMouseDownHandlerThatRemovesTheNodeBeforeHitTesting) {
  auto& nodes = surface->Tree().NodeCollection();
  Ref<desk::Node> first = nodes.AddRoot(u"r1", u"Root one");
  nodes.AddRoot(u"r2", u"Root two");
  std::vector<Ref<desk::Object>> hits;
  on = [&](DispId id, std::vector<Variant>& args) {
    if (id != 7) return;
    Ref<desk::Object> ours = control->DoHitTest(args[2].ToInteger(), args[3].ToInteger());
    CallByName(control->Nodes(), u"Remove", kCall, {Variant::Object(ours)});
    hits.push_back(control->DoHitTest(args[2].ToInteger(), args[3].ToInteger()));
  };
  int16_t b = 2, s = 0;
  float x = 10, y = 10;
  surface->Tree().RaiseMouseDown(b, s, x, y);  // Root two moves up into the row
  surface->Tree().RaiseMouseDown(b, s, x, y);  // now the tree is empty
  ASSERT_EQ(hits.size(), 2u);
  ASSERT_TRUE(hits[0]);
  EXPECT_EQ(desk::RefCast<desk::Node>(hits[0])->Text(), u"Root two");
  EXPECT_FALSE(hits[1]);
  EXPECT_FALSE(first->InTree());
  EXPECT_EQ(first->Text(), u"Root one");
}

TEST_F(RoadTest, NamesAndCaptionsOfAnyText) {
  struct Case {
    const char* name;
    std::u16string item, caption;
  };
  const Case cases[] = {
      {"empty", u"", u""},
      {"right to left", u"שלום", u"פתח"},
      {"outside the basic plane", u"\U0001F600", u"\U0001F389 party"},
      {"combining marks", u"e\u0301", u"Cafe\u0301"},
      {"embedded NUL", std::u16string(u"a\0b", 3), std::u16string(u"x\0y", 3)},
      {"unpaired surrogate", std::u16string{char16_t(0xD800), u'x'}, std::u16string{char16_t(0xDC00)}},
      {"very long", std::u16string(100000, u'n'), std::u16string(100000, u'c')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto fresh = desk::MakeRef<varbel::VarbelTreeviewControl>();
    std::vector<std::u16string> got;
    fresh->Advise(desk::MakeRef<desk::FunctionSink>([&](DispId id, std::vector<Variant>& args) {
      if (id == 1) got.push_back(args[0].ToString());
    }));
    Ref<varbel::PopUpMenus> menus = fresh->GetPopUpMenus();
    Ref<varbel::PopUpMenu> def = menus->Add(c.item, c.caption);
    ASSERT_TRUE(def);
    EXPECT_EQ(menus->Item(c.item).get(), def.get());
    host.Platform().choosePopupItem = [](desk::MenuArray&) { return 1; };
    fresh->ShowPopupMenu();
    EXPECT_EQ(dynamic_cast<desk::HeadlessSurface*>(fresh->GetSurface())->popups.at(0).captions,
              std::vector<std::u16string>{c.caption});
    EXPECT_EQ(got, std::vector<std::u16string>{c.item});
  }
  EXPECT_TRUE(host.Platform().messageBoxes.empty());
}

// ---- Hosts that call back in from onMenuClick, nested inside their own ShowPopupMenu ----

TEST_F(RoadTest, ClearInsideTheClickCannotUnloadTheClickedItem) {
  auto menus = control->GetPopUpMenus();
  menus->Add(u"a", u"A");
  menus->Add(u"b", u"B");
  menus->Add(u"c", u"C");
  on = [&](DispId id, std::vector<Variant>&) {
    if (id == 1) menus->Clear();
  };
  Choose({u"B"});
  EXPECT_EQ(ErrOf([&] { control->ShowPopupMenu(); }), 0);
  EXPECT_EQ(BoxTexts(host.Platform()), std::vector<std::string>{"PopUpMenus, Class Module Clear 5"});
  // Element 3 went, element 2 (being clicked) could not; nothing after the failing pass ran.
  EXPECT_EQ(MenuState(Items()), "0:mnuStam::v 1:A:a:v 2:B:b:v");
  EXPECT_EQ(menus->Count(), 3);
  EXPECT_EQ(clicks, std::vector<std::u16string>{u"b"});

  on = nullptr;
  menus->Clear();  // outside the click it goes through
  EXPECT_EQ(MenuState(Items()), "0:mnuStam::v");
  EXPECT_EQ(menus->Count(), 0);
  menus->Add(u"d", u"D");
  EXPECT_EQ(MenuState(Items()), "0:mnuStam::h 1:D:d:v");
}

TEST_F(RoadTest, AddRemoveAndShowAgainInsideTheClick) {
  auto menus = control->GetPopUpMenus();
  menus->Add(u"a", u"A");
  menus->Add(u"b", u"B");
  on = [&](DispId id, std::vector<Variant>& args) {
    if (id != 1) return;
    std::u16string name = args[0].ToString();
    if (name == u"a") {
      menus->Add(u"c", u"C");
      menus->Remove(u"a");
      control->ShowPopupMenu();  // a popup from inside the click of another
    }
  };
  Choose({u"A", u"C"});
  control->ShowPopupMenu();
  EXPECT_EQ(clicks, (std::vector<std::u16string>{u"a", u"c"}));
  ASSERT_EQ(surface->popups.size(), 2u);
  EXPECT_EQ(Shown(1), (std::vector<std::u16string>{u"A", u"B", u"C"}));
  EXPECT_EQ(menus->Count(), 2);
  EXPECT_TRUE(host.Platform().messageBoxes.empty());
}

TEST_F(RoadTest, AFailingClickHandlerGoesBackThroughTheClickAndReleasesTheItem) {
  auto menus = control->GetPopUpMenus();
  menus->Add(u"a", u"A");
  on = [](DispId id, std::vector<Variant>&) {
    if (id == 1) desk::Raise(desk::Err::InvalidProcedureCall);
  };
  Choose({u"A"});
  EXPECT_EQ(ErrOf([&] { control->ShowPopupMenu(); }), 5);
  on = nullptr;
  menus->Clear();  // the item is no longer "being clicked"
  EXPECT_TRUE(host.Platform().messageBoxes.empty());
  EXPECT_EQ(MenuState(Items()), "0:mnuStam::v");
}

TEST_F(RoadTest, AHostThatReleasesTheCollectionAndTheControlInsideTheClick) {
  Ref<desk::Object> menus = CallByName(Ref<desk::Object>(control), u"PopUpMenus", kGet).ToObject();
  CallByName(menus, u"Add", kCall, {Variant::String(u"a"), Variant::String(u"A")});
  desk::Object* raw = control.get();
  on = [&](DispId id, std::vector<Variant>&) {
    if (id != 1) return;
    menus.reset();
    control.reset();
  };
  Choose({u"A"});
  surface = nullptr;  // goes with the control
  std::vector<Variant> none;
  raw->Invoke(varbel::MemberId("ShowPopupMenu"), kCall, none);
  EXPECT_FALSE(control);
  EXPECT_EQ(clicks, std::vector<std::u16string>{u"a"});
}

}  // namespace
