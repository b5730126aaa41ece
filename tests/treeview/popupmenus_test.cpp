// PopUpMenus and PopUpMenu: definitions, their menu items, and the one-line report of a
// trapped failure.
#include "PopUpMenus.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "VarbelTreeviewControl.h"
#include "desk/text.h"
#include "support/failing_new.h"
#include "support/test_support.h"

using desk::InvokeKind;
using desk::Ref;
using desk::Variant;
using desk::VarType;
using desk_test::ErrOf;
using varbel::PopUpMenu;
using varbel::PopUpMenus;

namespace {

// "index:caption:tag:v|h" for every element of the item array, in index order.
std::string MenuState(const desk::MenuArray& items) {
  std::string out;
  for (const auto& [i, e] : items.Elements()) {
    if (!out.empty()) out += ' ';
    out += std::to_string(i) + ':' + desk::U8(e->Caption()) + ':' + desk::U8(e->Tag()) + ':' + (e->Visible() ? 'v' : 'h');
  }
  return out;
}

std::vector<std::string> BoxTexts(const desk::HeadlessPlatform& p) {
  std::vector<std::string> out;
  for (const auto& b : p.messageBoxes) out.push_back(desk::U8(b.text));
  return out;
}

// Every box of this library: style 0, no caption of its own, so the library's title shows.
void ExpectPlainBoxes(const desk::HeadlessPlatform& p) {
  for (const auto& b : p.messageBoxes) {
    EXPECT_EQ(b.style, 0);
    EXPECT_FALSE(b.caption.has_value());
    EXPECT_EQ(b.EffectiveCaption(), u"VarbelTreeview");
    EXPECT_EQ(b.text.find(u'\n'), std::u16string::npos);
  }
}

std::vector<std::u16string> EnumeratedNames(PopUpMenus& menus) {
  std::vector<std::u16string> names;
  auto en = desk::RefCast<desk::CollectionEnum>(menus.NewEnum());
  Variant v;
  while (en && en->Next(v)) names.push_back(desk::RefCast<PopUpMenu>(v.ToObject())->Name);
  return names;
}

// An item array written by a host: other member ids than the platform's, a log of every
// operation the collection makes on it, and a failure on demand at one entry of that log.
class FakeItemArray : public desk::Dispatchable<FakeItemArray> {
 public:
  static const desk::DispatchTable<FakeItemArray>& Table();
  void Record(std::string entry) {
    if (static_cast<int>(log.size()) == failAt) desk::Raise(desk::Err::InvalidProcedureCall);
    log.push_back(std::move(entry));
  }
  std::vector<std::string> log;
  int failAt = -1;
  int32_t count = 1;
};

class FakeElement : public desk::Dispatchable<FakeElement> {
 public:
  static const desk::DispatchTable<FakeElement>& Table();
  FakeElement(Ref<FakeItemArray> owner, int16_t index) : owner_(std::move(owner)), index_(index) {}
  void Set(const char* member, const std::string& value) {
    owner_->Record(std::to_string(index_) + '.' + member + '=' + value);
  }

 private:
  Ref<FakeItemArray> owner_;
  int16_t index_;
};

const desk::DispatchTable<FakeItemArray>& FakeItemArray::Table() {
  using K = InvokeKind;
  static const desk::DispatchTable<FakeItemArray> t(
      "FakeItemArray", "{}",
      {
          {{"Item", desk::kDispIdValue, K::Get, {{"Index", VarType::Integer}}, VarType::Object},
           [](FakeItemArray& a, desk::Args& args) {
             return Variant::Object(desk::MakeRef<FakeElement>(Ref<FakeItemArray>(&a), args.Integer(0)));
           }},
          {{"Count", 7, K::Get, {}, VarType::Long}, [](FakeItemArray& a, desk::Args&) {
             a.Record("Count");
             return Variant::Long(a.count);
           }},
          {{"Load", 8, K::Method, {{"Index", VarType::Integer}}}, [](FakeItemArray& a, desk::Args& args) {
             a.Record("Load " + std::to_string(args.Integer(0)));
             ++a.count;
             return Variant();
           }},
          {{"Unload", 9, K::Method, {{"Index", VarType::Integer}}}, [](FakeItemArray& a, desk::Args& args) {
             a.Record("Unload " + std::to_string(args.Integer(0)));
             --a.count;
             return Variant();
           }},
      });
  return t;
}

const desk::DispatchTable<FakeElement>& FakeElement::Table() {
  using K = InvokeKind;
  static const desk::DispatchTable<FakeElement> t(
      "FakeElement", "{}",
      {
          {{"Caption", 21, K::Let, {}, VarType::String}, [](FakeElement& e, desk::Args& a) {
             e.Set("Caption", desk::U8(a.NewValue().RawString()));
             return Variant();
           }},
          {{"Tag", 22, K::Let, {}, VarType::String}, [](FakeElement& e, desk::Args& a) {
             e.Set("Tag", desk::U8(a.NewValue().RawString()));
             return Variant();
           }},
          {{"Visible", 23, K::Let, {}, VarType::Boolean}, [](FakeElement& e, desk::Args& a) {
             e.Set("Visible", std::to_string(a.NewValue().RawBoolean()));
             return Variant();
           }},
      });
  return t;
}

// A fresh host with one control and its popup collection.
struct MenuHost {
  MenuHost()
      : control(desk::MakeRef<varbel::VarbelTreeviewControl>()),
        menus(control->GetPopUpMenus()),
        items(control->GetSurface()->ItemArray()) {}
  std::string Menu() const { return MenuState(items); }
  std::vector<std::string> Boxes() { return BoxTexts(host.Platform()); }
  void SetMainMNU(Variant v, InvokeKind kind) {
    std::vector<Variant> a{std::move(v)};
    menus->Invoke(menus->GetIdOfName(u"mvarMainMNU"), kind, a);
  }

  desk_test::FreshHost host;
  Ref<varbel::VarbelTreeviewControl> control;
  Ref<PopUpMenus> menus;
  desk::MenuArray& items;
};

class PopUpMenusTest : public ::testing::Test, public MenuHost {};

TEST_F(PopUpMenusTest, AddKeepsDefinitionsAndLoadsVisibleItemsInIndexOrder) {
  Ref<PopUpMenu> a = menus->Add(u"a", u"A");
  Ref<PopUpMenu> b = menus->Add(u"b", u"B");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(menus->Count(), 2);
  EXPECT_EQ(Menu(), "0:mnuStam::h 1:A:a:v 2:B:b:v");
  EXPECT_EQ(a->Key, u"");
  EXPECT_EQ(a->Name, u"a");
  EXPECT_EQ(a->Caption, u"A");
  EXPECT_EQ(b->Key, u"");
  EXPECT_EQ(menus->Item(u"a").get(), a.get());
  EXPECT_EQ(menus->Item(u"A").get(), a.get());

  // Remove forgets the definition but leaves its item in the menu until the next Clear, so
  // the next item takes the element count as its index.
  menus->Remove(u"a");
  EXPECT_EQ(menus->Count(), 1);
  EXPECT_EQ(Menu(), "0:mnuStam::h 1:A:a:v 2:B:b:v");
  menus->Add(u"c", u"C");
  EXPECT_EQ(Menu(), "0:mnuStam::h 1:A:a:v 2:B:b:v 3:C:c:v");
  EXPECT_EQ(EnumeratedNames(*menus), (std::vector<std::u16string>{u"b", u"c"}));

  // A definition is a plain record: renaming it touches neither the key nor the item.
  b->Name = u"renamed";
  b->Caption = u"Renamed";
  EXPECT_EQ(menus->Item(u"b").get(), b.get());
  EXPECT_EQ(Menu(), "0:mnuStam::h 1:A:a:v 2:B:b:v 3:C:c:v");
  // The removed name is free again and names only the new definition.
  Ref<PopUpMenu> again = menus->Add(u"A", u"Again");
  ASSERT_TRUE(again);
  EXPECT_EQ(menus->Item(u"a").get(), again.get());
  EXPECT_EQ(Menu(), "0:mnuStam::h 1:A:a:v 2:B:b:v 3:C:c:v 4:Again:A:v");
  EXPECT_EQ(EnumeratedNames(*menus), (std::vector<std::u16string>{u"renamed", u"c", u"A"}));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(PopUpMenusTest, ClearLeavesTheDesignTimeMenuAndAFreshCollection) {
  menus->Clear();  // fresh: only shows element 0 and renews the collection
  EXPECT_EQ(Menu(), "0:mnuStam::v");
  EXPECT_EQ(menus->Count(), 0);

  menus->Add(u"a", u"A");
  menus->Add(u"b", u"B");
  menus->Add(u"c", u"C");
  auto walking = desk::RefCast<desk::CollectionEnum>(menus->NewEnum());
  Variant first;
  ASSERT_TRUE(walking->Next(first));
  menus->Clear();
  EXPECT_EQ(menus->Count(), 0);
  EXPECT_EQ(Menu(), "0:mnuStam::v");
  // The collection was replaced: an enumeration already under way finishes on the old one.
  Variant v;
  std::vector<std::u16string> rest;
  while (walking->Next(v)) rest.push_back(desk::RefCast<PopUpMenu>(v.ToObject())->Name);
  EXPECT_EQ(rest, (std::vector<std::u16string>{u"b", u"c"}));

  menus->Add(u"x", u"X");
  EXPECT_EQ(Menu(), "0:mnuStam::h 1:X:x:v");
  EXPECT_TRUE(Boxes().empty());

  // With no enumeration under way the same keys are free again after Clear, whichever way the
  // collection was renewed.
  for (int round = 0; round < 2; ++round) {
    menus->Clear();
    EXPECT_EQ(menus->Count(), 0);
    ASSERT_NE(menus->Add(u"x", u"X").get(), nullptr);
    ASSERT_NE(menus->Add(u"y", u"Y").get(), nullptr);
    EXPECT_EQ(menus->Count(), 2);
    EXPECT_EQ(EnumeratedNames(*menus), (std::vector<std::u16string>{u"x", u"y"}));
    EXPECT_EQ(Menu(), "0:mnuStam::h 1:X:x:v 2:Y:y:v");
  }
  EXPECT_TRUE(Boxes().empty());
}

// Each failure shows one box with the module, the procedure and the step, and the caller gets
// no error, only the result assigned before the failing step.
TEST(PopUpMenusFailures, ReportOneLineAndLeaveAConsistentState) {
  struct Case {
    const char* name;
    std::function<void(MenuHost&)> setup;
    std::function<Ref<PopUpMenu>(PopUpMenus&)> act;
    const char* box;
    bool hasResult;
    int32_t count;
    const char* menu;
  };
  auto add = [](const char16_t* n, const char16_t* c) {
    return [=](PopUpMenus& m) { return m.Add(n, c); };
  };
  auto none = [](MenuHost&) {};
  const Case cases[] = {
      {"name already present in another letter case",
       [](MenuHost& t) { t.menus->Add(u"a", u"A"); }, add(u"A", u"x"), "PopUpMenus, Class Module Add 5", false, 1,
       "0:mnuStam::h 1:A:a:v"},
      {"non-ASCII names that differ only in letter case",
       [](MenuHost& t) { t.menus->Add(u"Ä", u"one"); }, add(u"ä", u"two"), "PopUpMenus, Class Module Add 5",
       false, 1, "0:mnuStam::h 1:one:Ä:v"},
      {"Item of a missing name", none, [](PopUpMenus& m) { return m.Item(u"nope"); },
       "PopUpMenus, Class Module Item 2", false, 0, "0:mnuStam::v"},
      {"Remove of a missing name", [](MenuHost& t) { t.menus->Add(u"a", u"A"); },
       [](PopUpMenus& m) { return m.Remove(u"b"), Ref<PopUpMenu>(); }, "PopUpMenus, Class Module Remove 2", false, 1,
       "0:mnuStam::h 1:A:a:v"},
      {"item array set to Nothing: definition kept without an item",
       [](MenuHost& t) { t.SetMainMNU(Variant::Nothing(), InvokeKind::Set); }, add(u"a", u"A"),
       "PopUpMenus, Class Module Add 8", true, 1, "0:mnuStam::v"},
      {"item array replaced by an object without its members",
       [](MenuHost& t) { t.SetMainMNU(Variant::Object(desk::MakeRef<PopUpMenu>()), InvokeKind::Set); },
       add(u"a", u"A"), "PopUpMenus, Class Module Add 8", true, 1, "0:mnuStam::v"},
      {"item array replaced by a plain value",
       [](MenuHost& t) { t.SetMainMNU(Variant::String(u"mnuStam"), InvokeKind::Let); }, add(u"a", u"A"),
       "PopUpMenus, Class Module Add 8", true, 1, "0:mnuStam::v"},
      {"element at the next index already loaded by the host",
       [](MenuHost& t) { t.items.Load(2); }, add(u"a", u"A"), "PopUpMenus, Class Module Add 9", true, 1,
       "0:mnuStam::v 2:mnuStam::v"},
      {"Clear without an item array keeps the definitions",
       [](MenuHost& t) {
         t.menus->Add(u"a", u"A");
         t.SetMainMNU(Variant::Nothing(), InvokeKind::Set);
       },
       [](PopUpMenus& m) { return m.Clear(), Ref<PopUpMenu>(); }, "PopUpMenus, Class Module Clear 2", false, 1,
       "0:mnuStam::h 1:A:a:v"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MenuHost t;
    c.setup(t);
    ASSERT_TRUE(t.Boxes().empty());
    Ref<PopUpMenu> result;
    EXPECT_EQ(ErrOf([&] { result = c.act(*t.menus); }), 0);
    EXPECT_EQ(t.Boxes(), std::vector<std::string>{c.box});
    ExpectPlainBoxes(t.host.Platform());
    EXPECT_EQ(static_cast<bool>(result), c.hasResult);
    EXPECT_EQ(t.menus->Count(), c.count);
    EXPECT_EQ(t.Menu(), c.menu);
  }
}

// Any object with the item array's members can stand in mvarMainMNU; they are found by name,
// and each step of Add and Clear fails with its own number.
TEST(PopUpMenusSteps, AddAndClearWorkOnAnyItemArrayStepByStep) {
  const std::vector<std::string> addLog{"Count", "Load 1", "1.Caption=A", "1.Tag=a", "1.Visible=-1", "0.Visible=0"};
  const std::vector<std::string> clearLog{"0.Visible=-1", "Count", "Count", "Count", "Unload 2", "Count", "Unload 1"};
  {
    desk_test::FreshHost host;
    auto menus = desk::MakeRef<PopUpMenus>();
    auto fake = desk::MakeRef<FakeItemArray>();
    menus->SetMainMNU(Variant::Object(fake));
    menus->Add(u"a", u"A");
    EXPECT_EQ(fake->log, addLog);
    menus->Add(u"b", u"B");
    fake->log.clear();
    menus->Clear();
    EXPECT_EQ(fake->log, clearLog);
    EXPECT_EQ(menus->Count(), 0);
    EXPECT_TRUE(host.Platform().messageBoxes.empty());
    // With only the design-time item left, the count is read once and nothing is unloaded.
    fake->log.clear();
    menus->Clear();
    EXPECT_EQ(fake->log, (std::vector<std::string>{"0.Visible=-1", "Count"}));
  }
  const int addSteps[] = {8, 9, 10, 11, 12, 13};
  for (int at = 0; at < 6; ++at) {
    SCOPED_TRACE("Add failing at log entry " + std::to_string(at));
    desk_test::FreshHost host;
    auto menus = desk::MakeRef<PopUpMenus>();
    auto fake = desk::MakeRef<FakeItemArray>();
    menus->SetMainMNU(Variant::Object(fake));
    fake->failAt = at;
    Ref<PopUpMenu> r = menus->Add(u"a", u"A");
    EXPECT_TRUE(r);  // past step 6 the definition is the result, and stays in the collection
    EXPECT_EQ(menus->Count(), 1);
    EXPECT_EQ(fake->log, std::vector<std::string>(addLog.begin(), addLog.begin() + at));
    EXPECT_EQ(BoxTexts(host.Platform()),
              std::vector<std::string>{"PopUpMenus, Class Module Add " + std::to_string(addSteps[at])});
  }
  const int clearSteps[] = {2, 3, 4, 5, 5, 5, 5};
  for (int at = 0; at < 7; ++at) {
    SCOPED_TRACE("Clear failing at log entry " + std::to_string(at));
    desk_test::FreshHost host;
    auto menus = desk::MakeRef<PopUpMenus>();
    auto fake = desk::MakeRef<FakeItemArray>();
    menus->SetMainMNU(Variant::Object(fake));
    menus->Add(u"a", u"A");
    menus->Add(u"b", u"B");
    fake->log.clear();
    fake->failAt = at;
    menus->Clear();
    EXPECT_EQ(menus->Count(), 2);  // the collection is renewed only after the last pass
    EXPECT_EQ(BoxTexts(host.Platform()),
              std::vector<std::string>{"PopUpMenus, Class Module Clear " + std::to_string(clearSteps[at])});
  }
}

TEST(PopUpMenusSteps, ElementCountIsConvertedToASixteenBitIndexWithoutWrapping) {
  desk_test::FreshHost host;
  auto menus = desk::MakeRef<PopUpMenus>();
  auto fake = desk::MakeRef<FakeItemArray>();
  menus->SetMainMNU(Variant::Object(fake));
  fake->count = 32767;
  menus->Add(u"last", u"Last");
  EXPECT_EQ(fake->log.at(1), "Load 32767");
  fake->log.clear();
  EXPECT_TRUE(menus->Add(u"over", u"Over"));
  EXPECT_EQ(fake->log, std::vector<std::string>{"Count"});  // nothing loaded at -32768
  EXPECT_EQ(BoxTexts(host.Platform()), std::vector<std::string>{"PopUpMenus, Class Module Add 8"});
}

TEST_F(PopUpMenusTest, MoreThan32767ItemsOverflowAtStepEight) {
  for (int i = 0; i < 32767; ++i) menus->Add(u"k" + desk::DecimalText(i), u"c");
  ASSERT_TRUE(Boxes().empty());
  ASSERT_EQ(items.Count(), 32768);
  EXPECT_EQ(items.Element(32767).Tag(), u"k32766");

  Ref<PopUpMenu> over = menus->Add(u"over", u"Over");
  EXPECT_TRUE(over);
  EXPECT_EQ(menus->Count(), 32768);
  EXPECT_EQ(items.Count(), 32768);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"PopUpMenus, Class Module Add 8"});

  // Clear's pass counter is 16-bit too: it cannot start at 32,768, so Clear stops at step 4
  // with element 0 shown and nothing lost.
  menus->Clear();
  EXPECT_EQ(Boxes().back(), "PopUpMenus, Class Module Clear 4");
  EXPECT_EQ(Boxes().size(), 2u);
  EXPECT_TRUE(items.Element(0).Visible());
  EXPECT_EQ(items.Count(), 32768);
  EXPECT_EQ(menus->Count(), 32768);
}

TEST_F(PopUpMenusTest, MainMnuIsAssignableByValueAndByReference) {
  const desk::DispId id = menus->GetIdOfName(u"mvarMainMNU");
  std::vector<Variant> none;
  EXPECT_EQ(menus->Invoke(id, InvokeKind::Get, none).RawObject().get(), &items);

  SetMainMNU(Variant::Long(5), InvokeKind::Let);
  EXPECT_EQ(menus->Invoke(id, InvokeKind::Get, none), Variant::Long(5));
  // A by-reference argument is stored as its value, not as the caller's reference.
  Variant hostVar = Variant::String(u"x");
  SetMainMNU(Variant::ByRef(&hostVar), InvokeKind::Let);
  hostVar = Variant::Long(1);
  EXPECT_EQ(menus->Invoke(id, InvokeKind::Get, none), Variant::String(u"x"));

  EXPECT_EQ(ErrOf([&] { SetMainMNU(Variant::Long(5), InvokeKind::Set); }), 424);
  SetMainMNU(Variant::Object(Ref<desk::Object>(&items)), InvokeKind::Set);
  EXPECT_EQ(menus->Invoke(id, InvokeKind::Get, none).RawObject().get(), &items);
  menus->Add(u"a", u"A");
  EXPECT_EQ(Menu(), "0:mnuStam::h 1:A:a:v");
  EXPECT_TRUE(Boxes().empty());  // the member itself traps nothing and reports nothing
}

TEST_F(PopUpMenusTest, LateBoundAddLeavesItsByReferenceArgumentsAlone) {
  Variant name = Variant::String(u"a");
  Variant caption = Variant::String(u"A");
  std::vector<Variant> args{Variant::ByRef(&name), Variant::ByRef(&caption)};
  Variant r = menus->Invoke(menus->GetIdOfName(u"Add"), InvokeKind::Method, args);
  EXPECT_EQ(desk::RefCast<PopUpMenu>(r.ToObject())->Name, u"a");
  EXPECT_EQ(name, Variant::String(u"a"));
  EXPECT_EQ(caption, Variant::String(u"A"));
  std::vector<Variant> byName{Variant::String(u"A")};
  EXPECT_EQ(menus->Invoke(desk::kDispIdValue, InvokeKind::Get, byName).RawObject().get(), r.RawObject().get());
}

// The box is modal: the host may call back in while it is shown. A failure there shows its
// own box; the first box already had its text.
TEST_F(PopUpMenusTest, CallsBackDuringTheReportAreSafe) {
  menus->Add(u"a", u"A");
  int shown = 0;
  host.Platform().onMessageBox = [&](const desk::MessageBoxRequest&) {
    if (++shown > 1) return;
    menus->Add(u"a", u"again");  // a second failure, reported from inside the first box
    menus->Clear();
  };
  EXPECT_FALSE(menus->Item(u"missing"));
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"PopUpMenus, Class Module Item 2", "PopUpMenus, Class Module Add 5"}));
  EXPECT_EQ(menus->Count(), 0);
  EXPECT_EQ(Menu(), "0:mnuStam::v");
}

TEST(PopUpMenusLifetime, AHostThatDropsItsLastReferenceDuringAReport) {
  desk_test::FreshHost host;
  auto control = desk::MakeRef<varbel::VarbelTreeviewControl>();
  Ref<PopUpMenus> menus = control->GetPopUpMenus();
  menus->Add(u"a", u"A");
  control.reset();  // the collection outlives the control and keeps its item array
  host.Platform().onMessageBox = [&](const desk::MessageBoxRequest&) { menus.reset(); };
  PopUpMenus* raw = menus.get();
  EXPECT_FALSE(raw->Add(u"A", u"dup"));
  EXPECT_FALSE(menus);
  EXPECT_EQ(BoxTexts(host.Platform()), std::vector<std::string>{"PopUpMenus, Class Module Add 5"});
}

// Memory running out is a failure like any other: reported once, at the step that needed it,
// and what the collection held stays as it was. A collection whose own table could not be
// made fails every member at its first step (Add at the step that stores the definition).
TEST(PopUpMenusFailures, MemoryRunningOutIsReportedAtTheStepThatNeededIt) {
  if (!desktest::FailAllocation::Available()) GTEST_SKIP() << "the sanitizers' allocator stands in front";
  {
    MenuHost t;
    Ref<PopUpMenu> result;
    {
      desktest::FailAllocation fail(0);  // the new definition
      result = t.menus->Add(u"a", u"A");
      EXPECT_TRUE(fail.Fired());
    }
    EXPECT_FALSE(result);
    EXPECT_EQ(t.Boxes(), std::vector<std::string>{"PopUpMenus, Class Module Add 2"});
    EXPECT_EQ(t.menus->Count(), 0);
    EXPECT_EQ(t.Menu(), "0:mnuStam::v");
  }
  // Each allocation of an Add in turn, with a name and caption too long to be kept inline: the
  // definition, its name, its caption, then the collection's entry, each at its own step, and
  // the collection still empty after any of them.
  {
    const std::u16string name = u"a name longer than inline", caption = u"a caption longer than inline";
    std::vector<std::string> steps;
    for (int k = 0; k < 4; ++k) {
      MenuHost t;
      Ref<PopUpMenu> added;
      {
        desktest::FailAllocation fail(k);
        added = t.menus->Add(name, caption);
        ASSERT_TRUE(fail.Fired());
      }
      EXPECT_FALSE(added);
      const std::vector<std::string> boxes = t.Boxes();
      ASSERT_EQ(boxes.size(), 1u);
      steps.push_back(boxes[0]);
      EXPECT_EQ(t.menus->Count(), 0);
    }
    EXPECT_EQ(steps, (std::vector<std::string>{"PopUpMenus, Class Module Add 2", "PopUpMenus, Class Module Add 3",
                                                "PopUpMenus, Class Module Add 4", "PopUpMenus, Class Module Add 5"}));
  }
  // Each allocation of a construction fails in turn: either the construction itself throws, or
  // the table's allocation is reported.
  bool reported = false;
  for (int k = 0; k < 20 && !reported; ++k) {
    desk_test::FreshHost host;
    Ref<PopUpMenus> menus;
    try {
      desktest::FailAllocation fail(k);
      menus = desk::MakeRef<PopUpMenus>();
      ASSERT_TRUE(fail.Fired()) << "the construction made fewer allocations than " << k + 1;
    } catch (const std::bad_alloc&) {
      EXPECT_TRUE(BoxTexts(host.Platform()).empty());
      continue;
    }
    reported = true;
    EXPECT_EQ(BoxTexts(host.Platform()), std::vector<std::string>{"PopUpMenus, Class Module Class_Initialize 2"});
    host.Platform().messageBoxes.clear();
    EXPECT_EQ(menus->Count(), 0);
    EXPECT_FALSE(menus->Item(u"a"));
    menus->Remove(u"a");
    EXPECT_FALSE(menus->NewEnum());
    EXPECT_FALSE(menus->Add(u"a", u"A"));
    EXPECT_EQ(BoxTexts(host.Platform()),
              (std::vector<std::string>{"PopUpMenus, Class Module Count 2", "PopUpMenus, Class Module Item 2",
                                        "PopUpMenus, Class Module Remove 2", "PopUpMenus, Class Module NewEnum 2",
                                        "PopUpMenus, Class Module Add 5"}));
  }
  EXPECT_TRUE(reported);
  // Clear makes a new table when a host's enumerator holds the old one: its allocation is step 9.
  std::vector<std::string> seen;
  for (int k = 0; k < 200; ++k) {
    MenuHost t;
    t.menus->Add(u"a", u"A");
    Ref<desk::Object> held = t.menus->NewEnum();
    desktest::FailAllocation fail(k);
    t.menus->Clear();
    if (!fail.Fired()) break;
    const std::vector<std::string> boxes = t.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    seen.push_back(boxes[0]);
  }
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back(), "PopUpMenus, Class Module Clear 9");
}

}  // namespace
