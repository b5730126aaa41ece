// The control's settings in a property bag: InitProperties, ReadProperties and
// WriteProperties, through a spy bag that records every call and through a real file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "VarbelTreeviewControl.h"
#include "desk/font.h"
#include "desk/headless.h"
#include "desk/property_bag.h"
#include "desk/text.h"
#include "desk/tree.h"
#include "support/bmp.h"
#include "support/same_value.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using desk::InvokeKind;
using desk::Ref;
using desk::Variant;
using desk::VarType;
using desk_test::ErrOf;
using desk_test::SameValue;
using varbel::MemberId;
using varbel::VarbelTreeviewControl;

namespace {

// Records every call; reads answer from `values`, or the default.
class SpyBag : public desk::PropertyBag {
 public:
  struct Write {
    std::string key;
    Variant value;
    Variant def;
  };
  std::vector<Write> writes;
  std::vector<std::string> reads;
  std::vector<Variant> readDefaults;
  std::map<std::string, Variant> values;

  const desk::InterfaceInfo& Interface() const override {
    static const desk::InterfaceInfo none;
    return none;
  }
  Variant Invoke(desk::DispId, InvokeKind, std::vector<Variant>&) override { desk::Raise(desk::Err::NotSupported); }
  Variant ReadProperty(const std::u16string& key, const Variant& def) override {
    reads.push_back(desk::U8(key));
    readDefaults.push_back(def);
    auto it = values.find(desk::U8(key));
    return it == values.end() ? def : it->second;
  }
  void WriteProperty(const std::u16string& key, const Variant& value, const Variant& def) override {
    writes.push_back({desk::U8(key), value.Value(), def.Value()});
  }
};

// What a key holds, for the values a test puts under it.
enum class Kind { Long, Integer, Single, Boolean, String, Font, Picture, Object };

// A value that stands for an object the row cannot name in advance.
enum class Obj { None, EmptyPicture, TreeFont, AmbientFont };

struct KeyRow {
  const char* key;
  Kind kind;
  Variant def;  // the default handed to the bag (for Font: the ambient font, marked below)
  Obj defObj;
  Variant init;  // what a new instance (InitProperties) saves
  Obj initObj;
  bool loaded;
};

const Variant I0 = Variant::Integer(0), T = Variant::Bool(true), F = Variant::Bool(false), N = Variant::Nothing();

// The saved keys in their order, with their defaults and the values a new instance saves.
const std::vector<KeyRow>& Keys() {
  using K = Kind;
  const Obj o = Obj::None;
  static const std::vector<KeyRow> rows = {
      {"BackColor", K::Long, I0, o, Variant::Long(0), o, true},
      {"ForeColor", K::Long, I0, o, Variant::Long(0), o, true},
      {"Enabled", K::Boolean, T, o, T, o, true},
      {"Font", K::Font, N, Obj::AmbientFont, N, Obj::TreeFont, true},
      {"BackStyle", K::Integer, I0, o, Variant::Integer(0), o, true},
      {"BorderStyle", K::Long, I0, o, Variant::Long(0), o, true},
      {"WhatsThisHelpID", K::Long, I0, o, Variant::Long(0), o, true},
      {"ToolTipText", K::String, Variant::String(u""), o, Variant::String(u""), o, true},
      {"Style", K::Long, Variant::Integer(7), o, Variant::Long(7), o, true},
      {"Sorted", K::Boolean, F, o, F, o, true},
      {"SingleSel", K::Boolean, F, o, F, o, true},
      {"Scroll", K::Boolean, T, o, T, o, true},
      {"ScaleWidth", K::Single, I0, o, Variant::Single(0), o, true},
      {"ScaleTop", K::Single, I0, o, Variant::Single(0), o, true},
      {"ScaleMode", K::Integer, I0, o, Variant::Integer(0), o, true},
      {"ScaleLeft", K::Single, I0, o, Variant::Single(0), o, true},
      {"ScaleHeight", K::Single, I0, o, Variant::Single(0), o, true},
      {"RightToLeft", K::Boolean, I0, o, F, o, true},
      {"Picture", K::Picture, N, o, N, Obj::EmptyPicture, true},
      {"PathSeparator", K::String, Variant::String(u"\\"), o, Variant::String(u"\\"), o, true},
      {"PaletteMode", K::Integer, I0, o, Variant::Integer(0), o, true},
      {"Palette", K::Picture, N, o, N, Obj::EmptyPicture, true},
      {"OLEDropMode", K::Long, I0, o, Variant::Long(0), o, false},
      {"OLEDragMode", K::Long, I0, o, Variant::Long(0), o, false},
      {"MousePointer", K::Long, I0, o, Variant::Long(0), o, true},
      {"MouseIcon", K::Picture, N, o, N, o, true},
      {"MaskPicture", K::Picture, N, o, N, Obj::EmptyPicture, true},
      {"MaskColor", K::Long, I0, o, Variant::Long(0), o, true},
      {"LineStyle", K::Long, I0, o, Variant::Long(0), o, true},
      {"LabelEdit", K::Long, I0, o, Variant::Long(0), o, true},
      {"Indentation", K::Single, Variant::Double(566.9291), o, Variant::Single(566.9290771484375f), o, true},
      {"ImageList", K::Object, N, o, N, o, true},
      {"Image", K::Picture, N, o, N, Obj::EmptyPicture, true},
      {"HyperLink", K::Object, N, o, N, o, true},
      {"hWnd", K::Long, I0, o, Variant::Long(0), o, true},
      {"HotTracking", K::Boolean, F, o, F, o, true},
      {"HitBehavior", K::Integer, I0, o, Variant::Integer(0), o, true},
      {"HideSelection", K::Boolean, T, o, T, o, true},
      {"hDC", K::Long, I0, o, Variant::Long(0), o, true},
      {"HasDC", K::Boolean, I0, o, F, o, true},
      {"FullRowSelect", K::Boolean, F, o, F, o, true},
      {"FontUnderline", K::Boolean, I0, o, F, o, true},
      {"FontTransparent", K::Boolean, I0, o, F, o, true},
      {"FontStrikethru", K::Boolean, I0, o, F, o, true},
      {"FontSize", K::Single, I0, o, Variant::Single(0), o, true},
      {"FontName", K::String, Variant::String(u""), o, Variant::String(u""), o, true},
      {"FontItalic", K::Boolean, I0, o, F, o, true},
      {"FontBold", K::Boolean, I0, o, F, o, true},
      {"FillStyle", K::Integer, I0, o, Variant::Integer(0), o, true},
      {"FillColor", K::Long, I0, o, Variant::Long(0), o, true},
      {"DrawWidth", K::Integer, I0, o, Variant::Integer(0), o, true},
      {"DrawStyle", K::Integer, I0, o, Variant::Integer(0), o, true},
      {"DrawMode", K::Integer, I0, o, Variant::Integer(0), o, true},
      {"DataMembers", K::Object, N, o, N, o, true},
      {"CurrentY", K::Single, I0, o, Variant::Single(0), o, true},
      {"CurrentX", K::Single, I0, o, Variant::Single(0), o, true},
      {"Controls", K::Object, N, o, N, o, true},
      {"ContainerHwnd", K::Long, I0, o, Variant::Long(0), o, true},
      {"ClipControls", K::Boolean, I0, o, F, o, true},
      {"ClipBehavior", K::Integer, I0, o, Variant::Integer(0), o, true},
      {"Checkboxes", K::Boolean, F, o, F, o, true},
      {"CausesValidation", K::Boolean, T, o, T, o, true},
      {"AutoRedraw", K::Boolean, I0, o, F, o, true},
      {"Appearance", K::Long, Variant::Integer(1), o, Variant::Long(1), o, true},
      {"ActiveControl", K::Object, N, o, N, o, true},
  };
  return rows;
}

class PersistenceTest : public ::testing::Test {
 protected:
  PersistenceTest() : control(NewControl()) { surface = SurfaceOf(*control); }

  static Ref<VarbelTreeviewControl> NewControl() { return desk::MakeRef<VarbelTreeviewControl>(); }
  static desk::HeadlessSurface* SurfaceOf(VarbelTreeviewControl& c) {
    return dynamic_cast<desk::HeadlessSurface*>(c.GetSurface());
  }
  static Variant Read(VarbelTreeviewControl& c, const char* name) {
    std::vector<Variant> none;
    return c.Invoke(MemberId(name), InvokeKind::Get, none);
  }
  static void Write(VarbelTreeviewControl& c, const char* name, const Variant& v) {
    std::vector<Variant> args{v};
    c.Invoke(MemberId(name), v.IsObject() ? InvokeKind::Set : InvokeKind::Let, args);
  }
  std::vector<std::string> Changes() const {
    std::vector<std::string> out;
    for (const auto& c : surface->propertyChanges) out.push_back(desk::U8(c));
    return out;
  }

  desk_test::FreshHost host;
  Ref<VarbelTreeviewControl> control;
  desk::HeadlessSurface* surface = nullptr;
};

// ---- What is written and read, in which order, against which defaults ----------------------

TEST_F(PersistenceTest, ANewInstanceWritesSixtyFiveKeysInOrderAgainstTheirDefaults) {
  Ref<desk::Font> ambient = desk::MakeRef<desk::Font>(u"Ambient", 10);
  surface->SetAmbientFont(ambient);
  control->InitProperties();
  SpyBag bag;
  control->WriteProperties(bag);
  const auto& rows = Keys();
  ASSERT_EQ(bag.writes.size(), 65u);
  std::vector<const desk::Object*> pictures;
  for (size_t i = 0; i < rows.size(); ++i) {
    const KeyRow& r = rows[i];
    const SpyBag::Write& w = bag.writes[i];
    EXPECT_EQ(w.key, r.key) << "write " << i + 1;
    if (r.defObj == Obj::AmbientFont) {
      EXPECT_EQ(w.def.RawObject().get(), ambient.get()) << r.key << ": the container's font is the default";
    } else {
      EXPECT_TRUE(w.def == r.def) << r.key << ": default of kind " << desk::VarTypeName(w.def.ValueType());
    }
    switch (r.initObj) {
      case Obj::None: EXPECT_TRUE(w.value == r.init) << r.key << ": value of kind " << desk::VarTypeName(w.value.ValueType()); break;
      case Obj::TreeFont:
        EXPECT_EQ(w.value.RawObject().get(), surface->Tree().FontObject().get()) << r.key << ": the tree keeps its own font";
        EXPECT_NE(w.value.RawObject().get(), ambient.get()) << r.key;
        break;
      case Obj::EmptyPicture: {
        auto p = desk::RefCast<desk::Picture>(w.value.RawObject());
        ASSERT_TRUE(p) << r.key << ": an empty picture object, not Nothing";
        EXPECT_TRUE(p->Empty()) << r.key;
        pictures.push_back(p.get());
        break;
      }
      case Obj::AmbientFont: break;
    }
  }
  ASSERT_EQ(pictures.size(), 4u);
  for (size_t i = 0; i < pictures.size(); ++i)
    for (size_t j = i + 1; j < pictures.size(); ++j) EXPECT_NE(pictures[i], pictures[j]) << "a picture each";
  EXPECT_TRUE(surface->propertyChanges.empty()) << "saving notifies nothing";
}

TEST_F(PersistenceTest, ALoadAsksForSixtyThreeKeysInTheSameOrderWithTheSameDefaults) {
  SpyBag bag;
  control->ReadProperties(bag);
  std::vector<std::string> expected;
  for (const KeyRow& r : Keys())
    if (r.loaded) expected.push_back(r.key);
  ASSERT_EQ(expected.size(), 63u);
  EXPECT_EQ(bag.reads, expected);
  size_t n = 0;
  for (const KeyRow& r : Keys()) {
    if (!r.loaded) continue;
    const Variant& def = bag.readDefaults[n++];
    if (r.defObj == Obj::AmbientFont) {
      EXPECT_EQ(def.RawObject().get(), surface->AmbientFont().get()) << r.key;
    } else {
      EXPECT_TRUE(def == r.def) << r.key << ": default of kind " << desk::VarTypeName(def.ValueType());
    }
  }
}

TEST_F(PersistenceTest, TheKeysFollowTheOrderOfThePropertiesInTheInterface) {
  // Every property's id counts the properties after it, so the ids fall along the order.
  desk::DispId last = INT32_MAX;
  for (const KeyRow& r : Keys()) {
    if (std::string(r.key) == "Font") continue;  // the platform's own font id
    desk::DispId id = MemberId(r.key);
    EXPECT_LT(id, last) << r.key;
    last = id;
  }
}

// ---- Loading --------------------------------------------------------------------------------

TEST_F(PersistenceTest, AnEmptyBagAppliesEveryDefault) {
  // Start from a control whose every setting differs from its default.
  control->SetPicture(desk_test::MakePicture());
  control->LetBackColor(5);
  control->LetFontName(u"Courier");
  control->LetFontBold(desk::kTrue);
  control->LetScaleWidth(3);
  control->LetHasDC(1);
  control->SetActiveControl(desk::MakeRef<desk::Font>());
  control->SetHyperLink(desk::MakeRef<desk::Font>());
  control->LetStyle(1);
  control->LetScroll(desk::kFalse);
  control->LetIndentation(10);
  control->LetOLEDropMode(1);
  control->LetOLEDragMode(1);
  control->SetMouseIcon(desk::MakeRef<desk::Picture>());
  surface->propertyChanges.clear();
  Ref<desk::Font> ambient = desk::MakeRef<desk::Font>(u"Ambient", 11);
  surface->SetAmbientFont(ambient);

  desk::MemoryPropertyBag empty;
  control->ReadProperties(empty);

  desk::TreeView& tree = surface->Tree();
  EXPECT_EQ(control->GetEnabled(), desk::kTrue);
  EXPECT_EQ(tree.FontObject().get(), ambient.get());
  EXPECT_EQ(tree.BorderStyle(), 0);
  EXPECT_EQ(control->GetWhatsThisHelpID(), 0);
  EXPECT_EQ(control->GetToolTipText(), u"");
  EXPECT_EQ(tree.Style(), 7);
  EXPECT_FALSE(tree.Sorted());
  EXPECT_FALSE(tree.SingleSel());
  EXPECT_TRUE(tree.Scroll());
  EXPECT_EQ(tree.PathSeparator(), u"\\");
  EXPECT_EQ(tree.MousePointer(), 0);
  EXPECT_FALSE(tree.MouseIcon());
  EXPECT_EQ(tree.LineStyle(), 0);
  EXPECT_EQ(tree.LabelEdit(), 0);
  EXPECT_EQ(tree.Indentation(), 566.9290771484375f);
  EXPECT_FALSE(tree.ImageList());
  EXPECT_FALSE(tree.HotTracking());
  EXPECT_TRUE(tree.HideSelection());
  EXPECT_FALSE(tree.FullRowSelect());
  EXPECT_FALSE(tree.Checkboxes());
  EXPECT_EQ(control->GetCausesValidation(), desk::kTrue);
  EXPECT_EQ(tree.Appearance(), 1);
  EXPECT_EQ(tree.OLEDropMode(), 1) << "never loaded";
  EXPECT_EQ(tree.OLEDragMode(), 1) << "never loaded";
  // Every stored field: zero, False, "" or Nothing; the pictures too are Nothing now.
  for (const char* name : {"BackColor", "ForeColor", "MaskColor", "hWnd", "hDC", "FillColor", "ContainerHwnd"})
    EXPECT_TRUE(Read(*control, name) == Variant::Long(0)) << name;
  for (const char* name : {"BackStyle", "ScaleMode", "PaletteMode", "HitBehavior", "FillStyle", "DrawWidth",
                           "DrawStyle", "DrawMode", "ClipBehavior"})
    EXPECT_TRUE(Read(*control, name) == Variant::Integer(0)) << name;
  for (const char* name : {"ScaleWidth", "ScaleTop", "ScaleLeft", "ScaleHeight", "FontSize", "CurrentY", "CurrentX"})
    EXPECT_TRUE(Read(*control, name) == Variant::Single(0)) << name;
  for (const char* name : {"RightToLeft", "HasDC", "FontUnderline", "FontTransparent", "FontStrikethru", "FontItalic",
                           "FontBold", "ClipControls", "AutoRedraw"})
    EXPECT_TRUE(Read(*control, name) == Variant::Bool(false)) << name;
  EXPECT_TRUE(Read(*control, "FontName") == Variant::String(u""));
  for (const char* name : {"Picture", "Palette", "MaskPicture", "Image", "HyperLink", "DataMembers", "Controls",
                           "ActiveControl"})
    EXPECT_FALSE(Read(*control, name).RawObject()) << name;
  EXPECT_EQ(Changes(), (std::vector<std::string>{"MouseIcon", "ImageList"}));
}

TEST_F(PersistenceTest, TheDefaultFontIsTheContainersFontAtTheTimeOfTheCall) {
  Ref<desk::Font> first = desk::MakeRef<desk::Font>(u"First", 9);
  Ref<desk::Font> second = desk::MakeRef<desk::Font>(u"Second", 14);
  desk::MemoryPropertyBag bag;  // holds no "Font"
  surface->SetAmbientFont(first);
  control->ReadProperties(bag);
  EXPECT_EQ(surface->Tree().FontObject().get(), first.get());
  surface->SetAmbientFont(second);
  control->ReadProperties(bag);
  EXPECT_EQ(surface->Tree().FontObject().get(), second.get());
  // Saved while the tree shows the container's font, the bag leaves "Font" out, so a later
  // load under another container takes that container's font.
  desk::MemoryPropertyBag saved;
  control->WriteProperties(saved);
  EXPECT_FALSE(saved.Contains(u"Font"));
  // A new instance keeps the tree's own font: the container's reaches it only through a load.
  Ref<VarbelTreeviewControl> fresh = NewControl();
  SurfaceOf(*fresh)->SetAmbientFont(first);
  fresh->InitProperties();
  EXPECT_NE(SurfaceOf(*fresh)->Tree().FontObject().get(), first.get());
}

// Saving "Font" reads the tree's font first and asks the container second. A container that
// changes the tree's font when asked for its own tells the two orders apart.
TEST_F(PersistenceTest, SavingReadsTheTreesFontBeforeAskingTheContainer) {
  Ref<desk::Font> ambient = desk::MakeRef<desk::Font>(u"Ambient", 10);
  Ref<desk::Font> own = desk::MakeRef<desk::Font>(u"Own", 12);
  Ref<desk::Font> later = desk::MakeRef<desk::Font>(u"Later", 14);
  surface->SetAmbientFont(ambient);
  surface->Tree().SetFont(own);
  int asks = 0;
  surface->onAmbientFont = [&] {
    ++asks;
    surface->Tree().SetFont(later);
  };
  SpyBag bag;
  control->WriteProperties(bag);
  surface->onAmbientFont = nullptr;
  auto font = std::find_if(bag.writes.begin(), bag.writes.end(), [](const SpyBag::Write& w) { return w.key == "Font"; });
  ASSERT_NE(font, bag.writes.end());
  EXPECT_EQ(font->value.RawObject().get(), own.get()) << "the tree's font was read after the container's";
  EXPECT_EQ(font->def.RawObject().get(), ambient.get());
  EXPECT_EQ(asks, 1);
}

struct FailingLoadRow {
  const char* name;
  std::map<std::string, Variant> values;
  int32_t err;
  const char* stopsAt;
};

TEST_F(PersistenceTest, TheFirstFailingStepEndsTheLoadAndEarlierStepsStay) {
  const std::map<std::string, Variant> early = {
      {"BackColor", Variant::Long(5)},        {"ForeColor", Variant::Long(6)},
      {"Enabled", Variant::Bool(false)},      {"BackStyle", Variant::Integer(1)},
      {"BorderStyle", Variant::Long(1)},      {"WhatsThisHelpID", Variant::Long(9)},
      {"ToolTipText", Variant::String(u"t")}, {"Sorted", Variant::Bool(true)},
      {"RightToLeft", Variant::Bool(true)},   {"ScaleHeight", Variant::Single(4)},
      {"PathSeparator", Variant::String(u"/")}, {"MaskColor", Variant::Long(3)},
  };
  auto with = [&](std::initializer_list<std::pair<const std::string, Variant>> more) {
    auto m = early;
    for (const auto& [k, v] : more) m[k] = v;
    return m;
  };
  const FailingLoadRow rows[] = {
      {"a Style the tree refuses", with({{"Style", Variant::Long(8)}}), 380, "Style"},
      {"a non-picture under Picture", with({{"Picture", Variant::Object(desk::MakeRef<desk::Font>())}}), 13, "Picture"},
  };
  for (const auto& r : rows) {
    Ref<VarbelTreeviewControl> c = NewControl();
    desk::HeadlessSurface* s = SurfaceOf(*c);
    SpyBag bag;
    bag.values = r.values;
    EXPECT_EQ(ErrOf([&] { c->ReadProperties(bag); }), r.err) << r.name;
    EXPECT_EQ(bag.reads.back(), r.stopsAt) << r.name;
    // Before the failing step: applied.
    EXPECT_EQ(c->GetBackColor(), 5) << r.name;
    EXPECT_EQ(c->GetForeColor(), 6) << r.name;
    EXPECT_EQ(c->GetEnabled(), desk::kFalse) << r.name;
    EXPECT_EQ(c->GetBackStyle(), 1) << r.name;
    EXPECT_EQ(c->GetBorderStyle(), 1) << r.name;
    EXPECT_EQ(c->GetWhatsThisHelpID(), 9) << r.name;
    EXPECT_EQ(c->GetToolTipText(), u"t") << r.name;
    // The failing step and every later one: not applied.
    EXPECT_EQ(s->Tree().Style(), 7) << r.name;
    EXPECT_FALSE(c->GetPicture()) << r.name;
    EXPECT_EQ(c->GetPathSeparator(), u"\\") << r.name;
    EXPECT_EQ(c->GetMaskColor(), 0) << r.name;
    EXPECT_TRUE(s->propertyChanges.empty()) << r.name << ": the MouseIcon step was never reached";
  }
  // Style fails at step 9: Sorted and the rest come after it.
  Ref<VarbelTreeviewControl> c = NewControl();
  SpyBag bag;
  bag.values = rows[0].values;
  ErrOf([&] { c->ReadProperties(bag); });
  EXPECT_EQ(bag.reads.size(), 9u);
  EXPECT_EQ(c->GetSorted(), desk::kFalse);
  EXPECT_EQ(c->GetRightToLeft(), 0);
  // Picture fails at step 19: steps up to RightToLeft were applied.
  Ref<VarbelTreeviewControl> d = NewControl();
  SpyBag bag2;
  bag2.values = rows[1].values;
  ErrOf([&] { d->ReadProperties(bag2); });
  EXPECT_EQ(bag2.reads.size(), 19u);
  EXPECT_EQ(d->GetSorted(), desk::kTrue);
  EXPECT_EQ(d->GetRightToLeft(), desk::kTrue);
  EXPECT_EQ(d->GetScaleHeight(), 4.0f);
}

struct WrongKind {
  const char* what;
  Variant value;
  int32_t err;
};

// The values of the wrong kind for a key, with the failure each gives.
std::vector<WrongKind> WrongKindsFor(Kind k) {
  Ref<desk::Object> font = desk::MakeRef<desk::Font>();
  Ref<desk::Object> picture = desk::MakeRef<desk::Picture>();
  switch (k) {
    case Kind::Long:
      return {{"text that is no number", Variant::String(u"abc"), 13},
              {"an object", Variant::Object(font), 13},
              {"a number beyond a Long", Variant::Double(3e9), 6},
              {"an omitted value", Variant::Missing(), 13}};
    case Kind::Integer:
      return {{"text that is no number", Variant::String(u"12 apples"), 13},
              {"an object", Variant::Object(picture), 13},
              {"a number beyond an Integer", Variant::Long(40000), 6}};
    case Kind::Single:
      return {{"text that is no number", Variant::String(u"wide"), 13},
              {"Nothing", Variant::Nothing(), 13},
              {"a number beyond a Single", Variant::Double(1e300), 6}};
    case Kind::Boolean:
      return {{"text that is no Boolean", Variant::String(u"yes"), 13}, {"an object", Variant::Object(font), 13}};
    case Kind::String:
      return {{"an object", Variant::Object(font), 13}, {"an omitted value", Variant::Missing(), 13}};
    case Kind::Font:
      return {{"a number", Variant::Integer(5), 424}, {"a picture", Variant::Object(picture), 13}};
    case Kind::Picture:
      return {{"a number", Variant::Long(1), 424}, {"a text", Variant::String(u"pic.bmp"), 424},
              {"a font", Variant::Object(font), 13}};
    case Kind::Object:
      return {{"a number", Variant::Long(1), 424}, {"a text", Variant::String(u"x"), 424}};
  }
  return {};
}

TEST_F(PersistenceTest, AValueOfTheWrongKindFailsAtItsOwnStepUnapplied) {
  size_t step = 0, cases = 0;
  for (const KeyRow& r : Keys()) {
    if (!r.loaded) continue;
    ++step;
    for (const WrongKind& w : WrongKindsFor(r.kind)) {
      const std::string row = std::string(r.key) + " holding " + w.what;
      Ref<VarbelTreeviewControl> c = NewControl();
      desk::HeadlessSurface* s = SurfaceOf(*c);
      const Variant before = Read(*c, r.key);
      SpyBag bag;
      bag.values[r.key] = w.value;
      EXPECT_EQ(ErrOf([&] { c->ReadProperties(bag); }), w.err) << row;
      EXPECT_EQ(bag.reads.size(), step) << row << ": the load stops at its step";
      if (r.kind == Kind::Font) {
        EXPECT_EQ(Read(*c, r.key).RawObject().get(), before.RawObject().get()) << row;
      } else {
        EXPECT_TRUE(SameValue(Read(*c, r.key), before)) << row << ": nothing of the step applied";
      }
      // The MouseIcon (24th) and ImageList (30th) steps notify; no other step does.
      size_t notified = (step > 24 ? 1 : 0) + (step > 30 ? 1 : 0);
      EXPECT_EQ(s->propertyChanges.size(), notified) << row;
      ++cases;
    }
  }
  EXPECT_GT(cases, 150u);
}

TEST_F(PersistenceTest, AHostNotifiedDuringTheLoadSeesTheEarlierStepsOnly) {
  SpyBag bag;
  bag.values = {{"MousePointer", Variant::Long(2)}, {"MaskColor", Variant::Long(9)}, {"hWnd", Variant::Long(4)}};
  std::vector<std::string> seen;
  surface->onPropertyChanged = [&](std::u16string_view name) {
    seen.push_back(desk::U8(name) + ": MousePointer " + std::to_string(control->GetMousePointer()) + ", MaskColor " +
                   std::to_string(control->GetMaskColor()) + ", hWnd " + std::to_string(control->GethWnd()));
  };
  control->ReadProperties(bag);
  EXPECT_EQ(seen, (std::vector<std::string>{"MouseIcon: MousePointer 2, MaskColor 0, hWnd 0",
                                            "ImageList: MousePointer 2, MaskColor 9, hWnd 0"}));
  EXPECT_EQ(control->GethWnd(), 4);
}

TEST_F(PersistenceTest, AFailingNotificationDuringTheLoadEndsItAfterTheIconIsSet) {
  SpyBag bag;
  Ref<desk::Picture> icon = desk_test::MakePicture();
  bag.values = {{"MouseIcon", Variant::Object(icon)}, {"MaskColor", Variant::Long(9)}};
  surface->onPropertyChanged = [](std::u16string_view) { throw desk::Error(desk::Err::PermissionDenied); };
  EXPECT_EQ(ErrOf([&] { control->ReadProperties(bag); }), 70);
  EXPECT_EQ(surface->Tree().MouseIcon().get(), icon.get());
  EXPECT_EQ(control->GetMaskColor(), 0);
  EXPECT_EQ(bag.reads.back(), "MouseIcon");
}

TEST_F(PersistenceTest, ASaveStopsAtAFailingBagWithTheKeysBeforeItWritten) {
  class FailingBag : public SpyBag {
   public:
    void WriteProperty(const std::u16string& key, const Variant& value, const Variant& def) override {
      if (key == u"Style") throw desk::Error(desk::Err::PermissionDenied);
      SpyBag::WriteProperty(key, value, def);
    }
  } bag;
  EXPECT_EQ(ErrOf([&] { control->WriteProperties(bag); }), 70);
  ASSERT_EQ(bag.writes.size(), 8u);
  EXPECT_EQ(bag.writes.back().key, "ToolTipText");
}

// ---- Through a real file ------------------------------------------------------------------------

class PersistenceFileTest : public PersistenceTest {
 protected:
  PersistenceFileTest() {
    dir = fs::temp_directory_path() / ("desk-persist-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~PersistenceFileTest() override { fs::remove_all(dir); }
  fs::path dir;
};

// Gives every writable setting of the control a value other than its default.
void SetEverythingAwayFromItsDefault(VarbelTreeviewControl& c) {
  auto P = [](uint32_t seed) { return Variant::Object(desk_test::MakePicture(4, 3, seed)); };
  Ref<desk::Font> font = desk::MakeRef<desk::Font>(u"DejaVu Sans", 10.5f);
  font->weight = 700;
  font->italic = true;
  font->charset = 177;
  const std::vector<std::pair<const char*, Variant>> values = {
      {"BackColor", Variant::Long(0x00C0FFEE)},
      {"ForeColor", Variant::Long(-2147483643)},
      {"Enabled", Variant::Bool(false)},
      {"Font", Variant::Object(font)},
      {"BackStyle", Variant::Integer(1)},
      {"BorderStyle", Variant::Long(1)},
      {"WhatsThisHelpID", Variant::Long(4711)},
      {"ToolTipText", Variant::String(u"Right-click for the menu — עברית")},
      {"Style", Variant::Long(4)},
      {"Sorted", Variant::Bool(true)},
      {"SingleSel", Variant::Bool(true)},
      {"Scroll", Variant::Bool(false)},
      {"ScaleWidth", Variant::Single(4800.5f)},
      {"ScaleTop", Variant::Single(-12.25f)},
      {"ScaleMode", Variant::Integer(3)},
      {"ScaleLeft", Variant::Single(0.1f)},
      {"ScaleHeight", Variant::Single(3600)},
      {"RightToLeft", Variant::Bool(true)},
      {"Picture", P(1)},
      {"PathSeparator", Variant::String(u"/")},
      {"PaletteMode", Variant::Integer(2)},
      {"Palette", P(2)},
      {"OLEDropMode", Variant::Long(1)},
      {"OLEDragMode", Variant::Long(1)},
      {"MousePointer", Variant::Long(99)},
      {"MouseIcon", P(3)},
      {"MaskPicture", P(4)},
      {"MaskColor", Variant::Long(0xFF00FF)},
      {"LineStyle", Variant::Long(1)},
      {"LabelEdit", Variant::Long(1)},
      {"Indentation", Variant::Single(283.5f)},
      // Any object the tree takes; an image list of the running host could not be saved.
      {"ImageList", P(5)},
      {"Image", P(6)},
      {"HyperLink", Variant::Object(desk::MakeRef<desk::Font>(u"Link", 8))},
      {"hWnd", Variant::Long(0x1234)},
      {"HotTracking", Variant::Bool(true)},
      {"HitBehavior", Variant::Integer(2)},
      {"HideSelection", Variant::Bool(false)},
      {"hDC", Variant::Long(-1)},
      {"HasDC", Variant::BoolRaw(1)},
      {"FullRowSelect", Variant::Bool(true)},
      {"FontUnderline", Variant::Bool(true)},
      {"FontTransparent", Variant::Bool(true)},
      {"FontStrikethru", Variant::Bool(true)},
      {"FontSize", Variant::Single(13.5f)},
      {"FontName", Variant::String(u"Liberation Mono")},
      {"FontItalic", Variant::Bool(true)},
      {"FontBold", Variant::Bool(true)},
      {"FillStyle", Variant::Integer(7)},
      {"FillColor", Variant::Long(0x808080)},
      {"DrawWidth", Variant::Integer(3)},
      {"DrawStyle", Variant::Integer(2)},
      {"DrawMode", Variant::Integer(6)},
      {"DataMembers", P(7)},
      {"CurrentY", Variant::Single(1.5f)},
      {"CurrentX", Variant::Single(-2.75f)},
      {"Controls", Variant::Object(desk::MakeRef<desk::Font>(u"Controls", 9))},
      {"ContainerHwnd", Variant::Long(77)},
      {"ClipControls", Variant::Bool(true)},
      {"ClipBehavior", Variant::Integer(1)},
      {"Checkboxes", Variant::Bool(true)},
      {"CausesValidation", Variant::Bool(false)},
      {"AutoRedraw", Variant::Bool(true)},
      {"Appearance", Variant::Long(0)},
      {"ActiveControl", P(8)},
  };
  ASSERT_EQ(values.size(), 65u);
  for (const auto& [name, v] : values) {
    std::vector<Variant> args{v};
    c.Invoke(MemberId(name), v.IsObject() ? InvokeKind::Set : InvokeKind::Let, args);
  }
}

TEST_F(PersistenceFileTest, EveryLoadedKeyComesBackThroughAFile) {
  control->InitProperties();
  SetEverythingAwayFromItsDefault(*control);
  desk::MemoryPropertyBag saved;
  control->WriteProperties(saved);
  EXPECT_EQ(saved.Count(), 65u) << "no value equals its default";
  const fs::path file = dir / "settings.json";
  saved.SaveToFile(file);

  desk::MemoryPropertyBag loaded;
  loaded.LoadFromFile(file);
  EXPECT_TRUE(loaded.Contains(u"OLEDropMode"));
  EXPECT_TRUE(loaded.Contains(u"OLEDragMode"));
  Ref<VarbelTreeviewControl> copy = NewControl();
  copy->ReadProperties(loaded);
  for (const KeyRow& r : Keys()) {
    if (!r.loaded) continue;
    EXPECT_TRUE(SameValue(Read(*copy, r.key), Read(*control, r.key))) << r.key;
  }
  EXPECT_EQ(copy->GetOLEDropMode(), 0) << "saved, never loaded";
  EXPECT_EQ(copy->GetOLEDragMode(), 0) << "saved, never loaded";
  // Saved again, the copy writes the same file but for the two modes it never loaded.
  copy->LetOLEDropMode(1);
  copy->LetOLEDragMode(1);
  desk::MemoryPropertyBag again;
  copy->WriteProperties(again);
  EXPECT_EQ(again.ToText(), saved.ToText());
}

TEST_F(PersistenceFileTest, AWellFormedFileWithAValueOfTheWrongKindFailsAtThatStep) {
  std::ofstream(dir / "edited.json")
      << R"({"format": "desk-property-bag", "version": 1, "properties": {
            "BackColor": {"type": "Long", "value": 255},
            "Style": {"type": "String", "value": "tall"},
            "Sorted": {"type": "Boolean", "value": true}}})";
  desk::MemoryPropertyBag bag;
  bag.LoadFromFile(dir / "edited.json");
  EXPECT_EQ(ErrOf([&] { control->ReadProperties(bag); }), 13);
  EXPECT_EQ(control->GetBackColor(), 255);
  EXPECT_EQ(control->GetStyle(), 7);
  EXPECT_EQ(control->GetSorted(), desk::kFalse);
}

}  // namespace
