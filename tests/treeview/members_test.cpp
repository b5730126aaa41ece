// The member family of the tree control: forwarded, stored and inert members, one data-driven
// test per family with every member as a row, and the rules for failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "VarbelTreeviewControl.h"
#include "desk/font.h"
#include "desk/headless.h"
#include "desk/text.h"
#include "desk/tree.h"
#include "support/test_support.h"

using desk::DispId;
using desk::InvokeKind;
using desk::Ref;
using desk::Variant;
using desk::VarType;
using desk_test::ErrOf;
using varbel::MemberId;

namespace {

class MembersTest : public ::testing::Test {
 protected:
  MembersTest() : control(desk::MakeRef<varbel::VarbelTreeviewControl>()) {
    surface = dynamic_cast<desk::HeadlessSurface*>(control->GetSurface());
  }

  Variant Call(const char* name, InvokeKind kind, std::vector<Variant> args = {}) {
    return control->Invoke(MemberId(name), kind, args);
  }
  Variant Read(const char* name) { return Call(name, InvokeKind::Get); }
  Variant TreeRead(DispId id) {
    std::vector<Variant> none;
    return surface->TreeChild()->Invoke(id, InvokeKind::Get, none);
  }
  std::vector<std::string> Changes() const {
    std::vector<std::string> out;
    for (const auto& c : surface->propertyChanges) out.push_back(desk::U8(c));
    return out;
  }

  desk_test::FreshHost host;
  Ref<varbel::VarbelTreeviewControl> control;
  desk::HeadlessSurface* surface = nullptr;
};

// The same kind and value; objects by identity.
void ExpectSame(const Variant& got, const Variant& want, const std::string& row) {
  EXPECT_EQ(got.ValueType(), want.ValueType()) << row;
  EXPECT_TRUE(got == want) << row << ": got " << desk::U8(got.IsObject() ? u"<object>" : got.ToString())
                           << ", want " << desk::U8(want.IsObject() ? u"<object>" : want.ToString());
}

TEST_F(MembersTest, TheTypeLibraryNamesTheClassOfObjectMembersAndGivesThemNoHelpText) {
  const std::vector<std::pair<std::string, std::string>> classes = {
      {"Font", "Font"},         {"MouseIcon", "Picture"},   {"Picture", "Picture"}, {"Palette", "Picture"},
      {"MaskPicture", "Picture"}, {"Image", "Picture"},     {"ActiveControl", "Control"},
      {"ImageList", "(any)"},   {"HyperLink", "(any)"},     {"DataMembers", "(any)"}, {"Controls", "(any)"},
  };
  for (const auto& [name, cls] : classes) {
    for (const desk::MemberInfo& m : control->Interface().members) {
      if (m.name != name) continue;
      EXPECT_EQ(m.help, nullptr) << name;
      EXPECT_EQ(m.objectType ? std::string(m.objectType) : "(any)", cls) << name;
      // What a Set takes: an object, but a Variant holding one for ActiveControl.
      if (m.kind == InvokeKind::Set) {
        EXPECT_EQ(m.result, name == "ActiveControl" ? VarType::Any : VarType::Object) << name;
      }
    }
  }
}

// ---- Forwarded members --------------------------------------------------------------------

struct ForwardRow {
  const char* name;
  DispId inner;
  InvokeKind kind;
  Variant input;     // what the host writes (any kind the member's type converts from)
  Variant expected;  // what the tree then holds, and what the control reads back
};

TEST_F(MembersTest, ForwardedMembersReachTheTreeByIdAndNotifyAfterTheWrite) {
  namespace t = desk::treeid;
  namespace x = desk::ext;
  Ref<desk::Object> font = desk::MakeRef<desk::Font>(u"Arial", 12.0f);
  Ref<desk::Object> icon = desk::MakeRef<desk::Picture>();
  Ref<desk::Object> images = desk::CurrentPlatform().CreateImageList();
  const auto L = InvokeKind::Let, S = InvokeKind::Set;
  const std::vector<ForwardRow> rows = {
      {"Enabled", x::kEnabled, L, Variant::Bool(false), Variant::Bool(false)},
      {"Font", t::kFont, S, Variant::Object(font), Variant::Object(font)},
      {"BorderStyle", t::kBorderStyle, L, Variant::Long(1), Variant::Long(1)},
      {"WhatsThisHelpID", x::kWhatsThisHelpID, L, Variant::Long(70000), Variant::Long(70000)},
      {"ToolTipText", x::kToolTipText, L, Variant::String(u"a tip"), Variant::String(u"a tip")},
      {"Style", t::kStyle, L, Variant::Integer(3), Variant::Long(3)},
      {"Sorted", t::kSorted, L, Variant::Integer(1), Variant::Bool(true)},
      {"SingleSel", t::kSingleSel, L, Variant::Bool(true), Variant::Bool(true)},
      {"Scroll", t::kScroll, L, Variant::Bool(false), Variant::Bool(false)},
      {"PathSeparator", t::kPathSeparator, L, Variant::String(u"/"), Variant::String(u"/")},
      {"OLEDropMode", t::kOLEDropMode, L, Variant::Long(1), Variant::Long(1)},
      {"OLEDragMode", t::kOLEDragMode, L, Variant::String(u"1"), Variant::Long(1)},
      {"MousePointer", t::kMousePointer, L, Variant::Long(99), Variant::Long(99)},
      {"MouseIcon", t::kMouseIcon, S, Variant::Object(icon), Variant::Object(icon)},
      {"LineStyle", t::kLineStyle, L, Variant::Long(1), Variant::Long(1)},
      {"LabelEdit", t::kLabelEdit, L, Variant::Long(1), Variant::Long(1)},
      {"Indentation", t::kIndentation, L, Variant::Double(100.5), Variant::Single(100.5f)},
      {"ImageList", t::kImageList, S, Variant::Object(images), Variant::Object(images)},
      {"HotTracking", t::kHotTracking, L, Variant::Bool(true), Variant::Bool(true)},
      {"HideSelection", t::kHideSelection, L, Variant::Bool(false), Variant::Bool(false)},
      {"FullRowSelect", t::kFullRowSelect, L, Variant::Bool(true), Variant::Bool(true)},
      {"Checkboxes", t::kCheckboxes, L, Variant::String(u"True"), Variant::Bool(true)},
      {"CausesValidation", x::kCausesValidation, L, Variant::Bool(false), Variant::Bool(false)},
      {"Appearance", t::kAppearance, L, Variant::Long(0), Variant::Long(0)},
      {"Refresh", t::kRefresh, InvokeKind::Method, {}, {}},
      {"StartLabelEdit", t::kStartLabelEdit, InvokeKind::Method, {}, {}},
      {"OLEDrag", t::kOLEDrag, InvokeKind::Method, {}, {}},
  };
  ASSERT_EQ(rows.size(), 27u);
  for (const ForwardRow& r : rows) {
    surface->propertyChanges.clear();
    if (r.kind == InvokeKind::Method) {
      Variant result = Call(r.name, InvokeKind::Method);
      EXPECT_TRUE(result.IsEmpty()) << r.name;
      EXPECT_TRUE(Changes().empty()) << r.name << ": a method does not notify";
      continue;
    }
    Call(r.name, r.kind, {r.input});
    ExpectSame(TreeRead(r.inner), r.expected, std::string(r.name) + " in the tree");
    EXPECT_EQ(Changes(), std::vector<std::string>{r.name}) << r.name;
    surface->propertyChanges.clear();
    ExpectSame(Read(r.name), r.expected, std::string(r.name) + " read back");
    EXPECT_TRUE(Changes().empty()) << r.name << ": a read notifies nothing";
  }
}

TEST_F(MembersTest, ForwardedReadsFollowTheTreeWithoutCaching) {
  surface->Tree().SetStyle(2);
  surface->Tree().SetPathSeparator(u"::");
  EXPECT_EQ(control->GetStyle(), 2);
  EXPECT_EQ(control->GetPathSeparator(), u"::");
  // The container-supplied members live on the wrapper, not on the tree.
  std::vector<Variant> off{Variant::Bool(false)};
  surface->TreeChild()->Invoke(desk::ext::kEnabled, InvokeKind::Let, off);
  EXPECT_EQ(control->GetEnabled(), 0);
}

TEST_F(MembersTest, StartLabelEditCallsTheTreesMethod) {
  Ref<desk::Node> n = surface->Tree().NodeCollection().AddRoot(u"k", u"text");
  n->SetSelected(true);
  control->StartLabelEdit();
  EXPECT_EQ(surface->Tree().EditingNode(), n.get());
}

struct RefusedRow {
  const char* name;
  InvokeKind kind;
  Variant input;
  int32_t err;
};

TEST_F(MembersTest, AWriteTheTreeRefusesChangesNothingAndDoesNotNotify) {
  const std::vector<RefusedRow> rows = {
      {"Style out of range", InvokeKind::Let, Variant::Long(8), 380},
      {"BorderStyle out of range", InvokeKind::Let, Variant::Long(-1), 380},
      {"Indentation negative", InvokeKind::Let, Variant::Single(-1), 380},
      {"MousePointer between 15 and 99", InvokeKind::Let, Variant::Long(50), 380},
      {"Sorted from a text that is no Boolean", InvokeKind::Let, Variant::String(u"maybe"), 13},
      {"Style overflowing a Long", InvokeKind::Let, Variant::Double(1e10), 6},
      {"Font set to Nothing", InvokeKind::Set, Variant::Nothing(), 380},
      {"Font set to a picture", InvokeKind::Set, Variant::Object(desk::MakeRef<desk::Picture>()), 13},
      {"MouseIcon set to a font", InvokeKind::Set, Variant::Object(desk::MakeRef<desk::Font>()), 13},
      {"ImageList set to a number", InvokeKind::Set, Variant::Long(3), 424},
  };
  for (const RefusedRow& r : rows) {
    const std::string row = r.name;
    const std::string name = row.substr(0, row.find(' '));  // the row's first word is the member
    Variant before = Read(name.c_str());
    surface->propertyChanges.clear();
    EXPECT_EQ(ErrOf([&] { Call(name.c_str(), r.kind, {r.input}); }), r.err) << row;
    EXPECT_TRUE(Changes().empty()) << row;
    ExpectSame(Read(name.c_str()), before, row + ": unchanged");
  }
}

TEST_F(MembersTest, AForwardedWriteWhoseNotificationFailsHasReachedTheTree) {
  surface->onPropertyChanged = [](std::u16string_view) { throw desk::Error(desk::Err::PermissionDenied); };
  EXPECT_EQ(ErrOf([&] { control->LetSorted(desk::kTrue); }), 70);
  EXPECT_TRUE(surface->Tree().Sorted());
}

// ---- Stored members -------------------------------------------------------------------------

struct StoredRow {
  const char* name;
  Variant input;
  Variant expected;
};

// Every readable member of the control with its current value.
std::vector<std::pair<std::string, Variant>> Snapshot(varbel::VarbelTreeviewControl& c) {
  std::vector<std::pair<std::string, Variant>> out;
  for (const desk::MemberInfo& m : c.Interface().members) {
    if (m.kind != InvokeKind::Get) continue;
    std::string n = m.name;
    if (n == "PopUpMenus" || n == "Nodes") continue;  // special members, not settings
    std::vector<Variant> none;
    out.emplace_back(n, c.Invoke(m.id, InvokeKind::Get, none));
  }
  return out;
}

TEST_F(MembersTest, StoredMembersKeepTheirValueNotifyAndTouchNothingElse) {
  Ref<desk::Object> pic = desk::MakeRef<desk::Picture>();
  Ref<desk::Object> any = desk::MakeRef<desk::Font>();
  auto O = [](const Ref<desk::Object>& o) { return Variant::Object(o); };
  const std::vector<StoredRow> rows = {
      {"BackColor", Variant::Long(0x00FF8000), Variant::Long(0x00FF8000)},
      {"ForeColor", Variant::Integer(-1), Variant::Long(-1)},
      {"BackStyle", Variant::Long(1), Variant::Integer(1)},
      {"ScaleWidth", Variant::Double(0.1), Variant::Single(0.1f)},
      {"ScaleTop", Variant::Single(-3.5f), Variant::Single(-3.5f)},
      {"ScaleMode", Variant::Integer(3), Variant::Integer(3)},
      {"ScaleLeft", Variant::Single(1e30f), Variant::Single(1e30f)},
      {"ScaleHeight", Variant::String(u"2.25"), Variant::Single(2.25f)},
      {"RightToLeft", Variant::Bool(true), Variant::Bool(true)},
      {"Picture", O(pic), O(pic)},
      {"PaletteMode", Variant::Integer(2), Variant::Integer(2)},
      {"Palette", O(pic), O(pic)},
      {"MaskPicture", O(pic), O(pic)},
      {"MaskColor", Variant::Long(0xC0C0C0), Variant::Long(0xC0C0C0)},
      {"Image", O(pic), O(pic)},
      {"HyperLink", O(any), O(any)},
      {"hWnd", Variant::Long(5), Variant::Long(5)},
      {"HitBehavior", Variant::Integer(2), Variant::Integer(2)},
      {"hDC", Variant::Long(-9), Variant::Long(-9)},
      {"HasDC", Variant::BoolRaw(1), Variant::BoolRaw(1)},
      {"FontUnderline", Variant::Bool(true), Variant::Bool(true)},
      {"FontTransparent", Variant::Integer(7), Variant::Bool(true)},
      {"FontStrikethru", Variant::Bool(true), Variant::Bool(true)},
      {"FontSize", Variant::Single(9.75f), Variant::Single(9.75f)},
      {"FontName", Variant::String(u"Courier"), Variant::String(u"Courier")},
      {"FontItalic", Variant::Bool(true), Variant::Bool(true)},
      {"FontBold", Variant::String(u"true"), Variant::Bool(true)},
      {"FillStyle", Variant::Integer(1), Variant::Integer(1)},
      {"FillColor", Variant::Long(255), Variant::Long(255)},
      {"DrawWidth", Variant::Integer(4), Variant::Integer(4)},
      {"DrawStyle", Variant::Integer(2), Variant::Integer(2)},
      {"DrawMode", Variant::Integer(13), Variant::Integer(13)},
      {"DataMembers", O(any), O(any)},
      {"CurrentY", Variant::Single(12.5f), Variant::Single(12.5f)},
      {"CurrentX", Variant::Single(-0.0f), Variant::Single(-0.0f)},
      {"Controls", O(any), O(any)},
      {"ContainerHwnd", Variant::Long(123456), Variant::Long(123456)},
      {"ClipControls", Variant::Bool(true), Variant::Bool(true)},
      {"ClipBehavior", Variant::Integer(1), Variant::Integer(1)},
      {"AutoRedraw", Variant::Bool(true), Variant::Bool(true)},
      {"ActiveControl", O(any), O(any)},
  };
  ASSERT_EQ(rows.size(), 41u);
  for (const StoredRow& r : rows) {
    const auto before = Snapshot(*control);
    surface->propertyChanges.clear();
    InvokeKind kind = r.input.IsObject() ? InvokeKind::Set : InvokeKind::Let;
    Call(r.name, kind, {r.input});
    EXPECT_EQ(Changes(), std::vector<std::string>{r.name}) << r.name;
    surface->propertyChanges.clear();
    ExpectSame(Read(r.name), r.expected, r.name);
    EXPECT_TRUE(Changes().empty()) << r.name << ": a read notifies nothing";
    const auto after = Snapshot(*control);
    ASSERT_EQ(before.size(), after.size());
    for (size_t i = 0; i < before.size(); ++i)
      if (before[i].first != r.name) ExpectSame(after[i].second, before[i].second, std::string(r.name) + " moved " + before[i].first);
    // Writing the value held already still notifies.
    surface->propertyChanges.clear();
    Call(r.name, kind, {Read(r.name)});
    EXPECT_EQ(Changes(), std::vector<std::string>{r.name}) << r.name << " rewritten";
  }
}

TEST_F(MembersTest, StoredTextsAreCopiesAndObjectsAreCountedReferences) {
  Variant callers = Variant::String(u"Tahoma");
  std::vector<Variant> args{Variant::ByRef(&callers)};
  control->Invoke(MemberId("FontName"), InvokeKind::Let, args);
  callers = Variant::String(u"changed by the caller");
  EXPECT_EQ(control->GetFontName(), u"Tahoma");

  Ref<desk::Picture> first = desk::MakeRef<desk::Picture>();
  Ref<desk::Picture> second = desk::MakeRef<desk::Picture>();
  control->SetPicture(first);
  EXPECT_EQ(first->RefCount(), 2);
  control->SetPicture(second);
  EXPECT_EQ(first->RefCount(), 1) << "the replaced picture is released";
  EXPECT_EQ(second->RefCount(), 2);
  control->SetPicture(nullptr);
  EXPECT_EQ(second->RefCount(), 1);
}

TEST_F(MembersTest, ObjectMembersRefuseObjectsOfAnotherKind) {
  Ref<desk::Object> font = desk::MakeRef<desk::Font>();
  for (const char* name : {"Picture", "Palette", "MaskPicture", "Image"}) {
    surface->propertyChanges.clear();
    EXPECT_EQ(ErrOf([&] { Call(name, InvokeKind::Set, {Variant::Object(font)}); }), 13) << name;
    EXPECT_EQ(ErrOf([&] { Call(name, InvokeKind::Set, {Variant::Long(1)}); }), 424) << name;
    EXPECT_FALSE(Read(name).RawObject()) << name;
    EXPECT_TRUE(Changes().empty()) << name;
  }
}

struct ActiveControlRow {
  const char* name;
  Variant input;
  int32_t err;
};

TEST_F(MembersTest, ActiveControlNeedsAVariantThatHoldsAnObject) {
  Ref<desk::Object> held = desk::MakeRef<desk::Font>();
  control->SetActiveControl(held);
  const std::vector<ActiveControlRow> refused = {
      {"a number", Variant::Long(5), 424},
      {"a text", Variant::String(u"Tree1"), 424},
      {"an empty Variant", Variant(), 424},
  };
  for (const auto& r : refused) {
    surface->propertyChanges.clear();
    EXPECT_EQ(ErrOf([&] { Call("ActiveControl", InvokeKind::Set, {r.input}); }), r.err) << r.name;
    EXPECT_EQ(control->GetActiveControl().get(), held.get()) << r.name << ": the stored reference stays";
    EXPECT_TRUE(Changes().empty()) << r.name;
  }
  // A reference to the caller's Variant that holds an object is an object.
  Ref<desk::Object> other = desk::MakeRef<desk::Picture>();
  Variant callers = Variant::Object(other);
  Call("ActiveControl", InvokeKind::Set, {Variant::ByRef(&callers)});
  EXPECT_EQ(control->GetActiveControl().get(), other.get());
  Call("ActiveControl", InvokeKind::Set, {Variant::Nothing()});
  EXPECT_FALSE(control->GetActiveControl());
}

TEST_F(MembersTest, AStoredWriteWhoseNotificationFailsKeepsTheValue) {
  surface->onPropertyChanged = [](std::u16string_view name) {
    throw desk::Error(5, u"host refused " + std::u16string(name));
  };
  try {
    control->LetBackColor(42);
    ADD_FAILURE() << "the failing notification must reach the caller";
  } catch (const desk::Error& e) {
    EXPECT_EQ(e.Number(), 5);
    EXPECT_EQ(e.Description(), u"host refused BackColor");
  }
  EXPECT_EQ(control->GetBackColor(), 42);
  Ref<desk::Picture> pic = desk::MakeRef<desk::Picture>();
  EXPECT_EQ(ErrOf([&] { control->SetImage(pic); }), 5);
  EXPECT_EQ(control->GetImage().get(), pic.get());
}

// ---- Inert methods -------------------------------------------------------------------------

struct InertRow {
  const char* name;
  std::vector<Variant> args;
  Variant result;
};

TEST_F(MembersTest, InertMethodsAcceptTheirArgumentsAndDoNothing) {
  Variant x = Variant::Single(1.5f), y = Variant::Single(2.5f), color = Variant::Long(7), any = Variant::String(u"v");
  auto R = [](Variant& v) { return Variant::ByRef(&v); };
  const Variant M = Variant::Missing();
  Ref<desk::Object> pic = desk::MakeRef<desk::Picture>();
  const std::vector<InertRow> rows = {
      {"ValidateControls", {}, Variant()},
      {"TextWidth", {Variant::String(u"some text")}, Variant::Single(0)},
      {"TextHeight", {Variant::String(u"")}, Variant::Single(0)},
      {"Size", {Variant::Single(100), Variant::Single(200)}, Variant()},
      {"ScaleY", {Variant::Single(10)}, Variant::Single(0)},
      {"ScaleY", {Variant::Single(10), Variant::Integer(1), Variant::Integer(3)}, Variant::Single(0)},
      {"ScaleX", {Variant::Single(10), M, M}, Variant::Single(0)},
      {"Scale_", {R(x), R(y), R(any), R(color)}, Variant()},
      {"Scale_", {}, Variant()},
      {"PSet_", {R(x), R(y), R(color)}, Variant()},
      {"Point", {R(x), R(y)}, Variant::Long(0)},
      {"PaintPicture", {Variant::Object(pic), Variant::Single(0), Variant::Single(0)}, Variant()},
      {"Line", {Variant::Integer(0), Variant::Single(0), Variant::Single(0), Variant::Single(1), Variant::Single(1), Variant::Long(0)}, Variant()},
      {"DataMemberChanged", {Variant::String(u"member")}, Variant()},
      {"Cls", {}, Variant()},
      {"Circle_", {R(x), R(y), R(x), R(color), R(x), R(y), R(x)}, Variant()},
      {"CanPropertyChange", {Variant::String(u"BackColor")}, Variant::Bool(false)},
      {"CancelAsyncRead", {}, Variant()},
      {"AsyncRead", {Variant::String(u"target"), Variant::Long(1)}, Variant()},
  };
  std::vector<std::string> covered;
  for (const InertRow& r : rows) {
    const auto before = Snapshot(*control);
    surface->propertyChanges.clear();
    std::vector<Variant> args = r.args;
    Variant result = Call(r.name, InvokeKind::Method, args);
    ExpectSame(result, r.result, r.name);
    EXPECT_TRUE(Changes().empty()) << r.name;
    const auto after = Snapshot(*control);
    for (size_t i = 0; i < before.size(); ++i) ExpectSame(after[i].second, before[i].second, std::string(r.name) + " moved " + before[i].first);
    if (std::find(covered.begin(), covered.end(), r.name) == covered.end()) covered.push_back(r.name);
  }
  EXPECT_EQ(covered.size(), 17u);
  // By-reference arguments are left as the caller had them.
  ExpectSame(x, Variant::Single(1.5f), "x");
  ExpectSame(y, Variant::Single(2.5f), "y");
  ExpectSame(color, Variant::Long(7), "Color");
  ExpectSame(any, Variant::String(u"v"), "a Variant");
}

TEST_F(MembersTest, InertMethodsStillCheckTheirArguments) {
  EXPECT_EQ(ErrOf([&] { Call("TextWidth", InvokeKind::Method); }), 450);
  EXPECT_EQ(ErrOf([&] { Call("Size", InvokeKind::Method, {Variant::String(u"wide"), Variant::Single(1)}); }), 13);
  EXPECT_EQ(ErrOf([&] { Call("PaintPicture", InvokeKind::Method, {Variant::Long(1), Variant::Single(0), Variant::Single(0)}); }), 424);
}

}  // namespace
