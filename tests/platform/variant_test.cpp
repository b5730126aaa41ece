#include "desk/variant.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

#include <cmath>
#include <limits>
#include <vector>

#include "desk/error.h"
#include "desk/font.h"

using desk::Variant;
using desk::VarType;

using desk_test::ErrOf;

namespace {

struct IntegerRow {
  const char* name;
  Variant in;
  int16_t out;
  int32_t err;
};

TEST(VariantTest, ToIntegerRoundsHalfToEvenAndChecksRange) {
  const IntegerRow rows[] = {
      {"2.5 rounds down to even", Variant::Double(2.5), 2, 0},
      {"3.5 rounds up to even", Variant::Double(3.5), 4, 0},
      {"-2.5 rounds to -2", Variant::Double(-2.5), -2, 0},
      {"text with spaces", Variant::String(u"  42 "), 42, 0},
      {"text that is no number", Variant::String(u"abc"), 0, 13},
      {"empty text is no number", Variant::String(u""), 0, 13},
      {"32767 fits", Variant::Long(32767), 32767, 0},
      {"32768 overflows", Variant::Long(32768), 0, 6},
      {"-32768.4 rounds into range", Variant::Double(-32768.4), -32768, 0},
      {"empty is 0", Variant(), 0, 0},
      {"True is -1", Variant::Bool(true), -1, 0},
      {"an object does not convert", Variant::Object(desk::MakeRef<desk::Font>()), 0, 13},
      {"missing does not convert", Variant::Missing(), 0, 13},
      {"hex text", Variant::String(u"&HFFFF"), -1, 0},
      {"hex text of 32 bits", Variant::String(u"&HFFFFFFFF"), -1, 0},
      {"hex text of 17 bits overflows", Variant::String(u"&H10000"), 0, 6},
      {"hex text beyond 32 bits", Variant::String(u"&H100000000"), 0, 13},
      {"hex text with a bad digit", Variant::String(u"&H1G"), 0, 13},
      {"octal text", Variant::String(u"&o177777"), -1, 0},
      {"octal text with a bad digit", Variant::String(u"&O8"), 0, 13},
      {"hex text in lower case", Variant::String(u"&hff"), 255, 0},
      {"octal text in capitals", Variant::String(u"&O17"), 15, 0},
      {"a prefix without digits", Variant::String(u"&H"), 0, 13},
      {"NaN overflows", Variant::Double(std::nan("")), 0, 6},
  };
  for (const auto& r : rows) {
    int16_t got = 0;
    int32_t err = ErrOf([&] { got = r.in.ToInteger(); });
    EXPECT_EQ(err, r.err) << r.name;
    if (!r.err) {
      EXPECT_EQ(got, r.out) << r.name;
    }
  }
}

TEST(VariantTest, ToLongRoundsAndChecksRangeAtBothEnds) {
  struct Row {
    const char* name;
    Variant in;
    int32_t out;
    int32_t err;
  } rows[] = {
      {"largest", Variant::Double(2147483647.0), 2147483647, 0},
      {"largest after rounding", Variant::Double(2147483647.4), 2147483647, 0},
      {"past the largest after rounding", Variant::Double(2147483647.5), 0, 6},
      {"smallest", Variant::Double(-2147483648.0), -2147483647 - 1, 0},
      {"past the smallest", Variant::Double(-2147483649.0), 0, 6},
      {"text with a sign", Variant::String(u"-12"), -12, 0},
      {"text with a plus sign", Variant::String(u"+12"), 12, 0},
      {"a sign alone", Variant::String(u"-"), 0, 13},
      {"a plus sign alone", Variant::String(u"+"), 0, 13},
      {"two signs", Variant::String(u"--12"), 0, 13},
      {"a sign after a sign", Variant::String(u"+-12"), 0, 13},
  };
  for (const auto& r : rows) {
    int32_t got = 0;
    EXPECT_EQ(ErrOf([&] { got = r.in.ToLong(); }), r.err) << r.name;
    if (!r.err) {
      EXPECT_EQ(got, r.out) << r.name;
    }
  }
}

TEST(VariantTest, BooleanKeepsItsBitsAndTextsConvert) {
  EXPECT_EQ(Variant::BoolRaw(1).ToBoolean(), 1);
  EXPECT_EQ(Variant::Integer(5).ToBoolean(), -1);
  EXPECT_EQ(Variant::String(u"tRuE").ToBoolean(), -1);
  EXPECT_EQ(Variant::String(u"False").ToBoolean(), 0);
  EXPECT_EQ(Variant::String(u"0").ToBoolean(), 0);
  EXPECT_EQ(ErrOf([] { Variant::String(u"yes").ToBoolean(); }), 13);
  EXPECT_EQ(Variant::Bool(true).ToString(), u"True");
  EXPECT_EQ(Variant::Single(566.9291f).ToString(), u"566.9291");
  EXPECT_EQ(Variant::Long(-7).ToString(), u"-7");
}

TEST(VariantTest, ObjectRequiredForAValue) {
  EXPECT_EQ(ErrOf([] { Variant::Long(5).ToObject(); }), 424);
  EXPECT_FALSE(Variant::Nothing().ToObject());
}

TEST(VariantTest, ByRefWritesReachTheCallersStorageInItsKind) {
  Variant storage = Variant::Integer(7);
  Variant ref = Variant::ByRef(&storage);
  ref.Assign(Variant::Double(2.5));
  EXPECT_EQ(storage.Type(), VarType::Integer);
  EXPECT_EQ(storage.RawInteger(), 2);
  // A write that does not convert changes nothing.
  EXPECT_EQ(ErrOf([&] { ref.Assign(Variant::String(u"x")); }), 13);
  EXPECT_EQ(storage.RawInteger(), 2);
  Variant untyped;
  Variant::ByRef(&untyped, false).Assign(Variant::String(u"s"));
  EXPECT_EQ(untyped.RawString(), u"s");
}

// Texts read as numbers and truth values, and values written as text, at their edges.
TEST(VariantTest, ConversionsAtTheirEdges) {
  const std::u16string longest = std::u16string(399, u'0') + u"7";
  Variant target = Variant::Integer(9);
  Variant outer = Variant::ByRef(&target);
  struct Row {
    const char* name;
    Variant in;
    VarType to;
    Variant out;  // exactly, kind and value; Empty: the error below
    int32_t err;
  } rows[] = {
      {"spaces and tabs around a number", Variant::String(u" \t-1.5e3\t "), VarType::Double, Variant::Double(-1500), 0},
      {"a text of 400 characters", Variant::String(longest), VarType::Long, Variant::Long(7), 0},
      {"a text of 401 characters", Variant::String(u"0" + longest), VarType::Long, Variant(), 13},
      {"a space inside", Variant::String(u"1 2"), VarType::Long, Variant(), 13},
      {"digits beyond ASCII", Variant::String(u"\u0661"), VarType::Long, Variant(), 13},
      {"an ampersand alone", Variant::String(u"&"), VarType::Long, Variant(), 13},
      {"a prefix without digits", Variant::String(u"&H"), VarType::Long, Variant(), 13},
      {"hex of 16 bits is signed", Variant::String(u"&H8000"), VarType::Long, Variant::Long(-32768), 0},
      {"hex of 17 bits is a Long", Variant::String(u"&h10000"), VarType::Long, Variant::Long(65536), 0},
      {"True as a number", Variant::String(u"TRUE"), VarType::Double, Variant::Double(-1), 0},
      {"the largest Single", Variant::Double(3.4028234663852886e38), VarType::Single,
       Variant::Single(std::numeric_limits<float>::max()), 0},
      {"past the largest Single", Variant::Double(3.5e38), VarType::Single, Variant(), 6},
      {"past the smallest Single", Variant::String(u"-1e39"), VarType::Single, Variant(), 6},
      {"infinity stays a Single", Variant::Double(-std::numeric_limits<double>::infinity()), VarType::Single,
       Variant::Single(-std::numeric_limits<float>::infinity()), 0},
      {"a truth value in spaces", Variant::String(u" \ttrue "), VarType::Boolean, Variant::Bool(true), 0},
      {"False in capitals", Variant::String(u"FALSE"), VarType::Boolean, Variant::Bool(false), 0},
      {"a number as a truth value", Variant::String(u"0.0"), VarType::Boolean, Variant::Bool(false), 0},
      {"a fraction is true", Variant::Double(0.25), VarType::Boolean, Variant::Bool(true), 0},
      {"Empty is false", Variant(), VarType::Boolean, Variant::Bool(false), 0},
      {"a Double in 15 digits", Variant::Double(0.1), VarType::String, Variant::String(u"0.1"), 0},
      {"a large Double", Variant::Double(1e20), VarType::String, Variant::String(u"1E+20"), 0},
      {"a Single in 7 digits", Variant::Single(1.0f / 3), VarType::String, Variant::String(u"0.3333333"), 0},
      {"NaN as text", Variant::Double(std::nan("")), VarType::String, Variant::String(u"NaN"), 0},
      {"infinity as text", Variant::Single(-std::numeric_limits<float>::infinity()), VarType::String,
       Variant::String(u"-Infinity"), 0},
      {"the smallest Integer as text", Variant::Integer(-32768), VarType::String, Variant::String(u"-32768"), 0},
      {"False as text", Variant::Bool(false), VarType::String, Variant::String(u"False"), 0},
      {"a reference converts its target", Variant::ByRef(&target), VarType::Long, Variant::Long(9), 0},
      {"a reference to a reference", Variant::ByRef(&outer), VarType::Long, Variant::Long(9), 0},
      {"octal", Variant::String(u"&O17"), VarType::Long, Variant::Long(15), 0},
      {"octal in lower case", Variant::String(u"&o777"), VarType::Long, Variant::Long(511), 0},
      {"octal digits only", Variant::String(u"&O8"), VarType::Long, Variant(), 13},
      {"the largest hex of 16 bits", Variant::String(u"&HFFFF"), VarType::Long, Variant::Long(-1), 0},
      {"the largest hex of 32 bits", Variant::String(u"&HFFFFFFFF"), VarType::Long, Variant::Long(-1), 0},
      {"hex past 32 bits", Variant::String(u"&H100000000"), VarType::Long, Variant(), 13},
      {"hex with junk after it", Variant::String(u"&H1G"), VarType::Long, Variant(), 13},
      {"a plus sign", Variant::String(u"+5"), VarType::Long, Variant::Long(5), 0},
      {"two signs", Variant::String(u"-+5"), VarType::Long, Variant(), 13},
      {"a sign alone", Variant::String(u"-"), VarType::Long, Variant(), 13},
      {"spaces alone", Variant::String(u" \t "), VarType::Long, Variant(), 13},
      {"a number then text", Variant::String(u"5x"), VarType::Long, Variant(), 13},
      {"to a reference", Variant::Long(1), VarType::ByRef, Variant(), 13},
      {"to Empty", Variant::Long(1), VarType::Empty, Variant(), 0},
      {"to Any follows a reference", Variant::ByRef(&target), VarType::Any, Variant::Integer(9), 0},
      {"an object to text", Variant::Nothing(), VarType::String, Variant(), 13},
      {"Missing to a number", Variant::Missing(), VarType::Double, Variant(), 13},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    Variant got;
    EXPECT_EQ(ErrOf([&] { got = r.in.ConvertTo(r.to); }), r.err);
    if (!r.err) {
      EXPECT_EQ(got, r.out);
    }
  }
}

// References to references are followed to the end, eight deep; a reference that reaches
// itself ends the walk instead of looping, and reads as no value.
TEST(VariantTest, ReferenceChainsEndAndCyclesDoNotHang) {
  Variant chain[10];
  chain[0] = Variant::Long(42);
  for (int i = 1; i < 10; ++i) chain[i] = Variant::ByRef(&chain[i - 1]);
  EXPECT_EQ(chain[8].ToLong(), 42);  // eight references
  EXPECT_EQ(ErrOf([&] { chain[9].ToLong(); }), 13);
  Variant self;
  self = Variant::ByRef(&self);
  EXPECT_EQ(ErrOf([&] { self.ToLong(); }), 13);
  EXPECT_EQ(ErrOf([&] { self.ToString(); }), 13);
}

TEST(VariantTest, ValueEqualityAcrossNumericKindsIsExact) {
  EXPECT_TRUE(Variant::ValueEquals(Variant::Long(0), Variant::Integer(0)));
  EXPECT_TRUE(Variant::ValueEquals(Variant::Bool(false), Variant::Integer(0)));
  EXPECT_FALSE(Variant::ValueEquals(Variant::Single(566.9291f), Variant::Double(566.9291)));
  EXPECT_TRUE(Variant::ValueEquals(Variant::Single(0.5f), Variant::Double(0.5)));
  EXPECT_FALSE(Variant::ValueEquals(Variant::String(u"0"), Variant::Integer(0)));
  EXPECT_TRUE(Variant::ValueEquals(Variant::Nothing(), Variant::Nothing()));
}

}  // namespace

namespace {

// A Variant is a value type: it copies from a non-const lvalue as from a const one.
TEST(VariantValueTest, CopiesAndMovesFromEveryKindOfLvalue) {
  Variant text = Variant::String(u"copied");
  Variant b(text);  // a non-const lvalue: must reach the copy constructor
  EXPECT_EQ(b, text);
  EXPECT_EQ(text.RawString(), u"copied");
  const Variant& cref = text;
  Variant c(cref);
  EXPECT_EQ(c.RawString(), u"copied");
  Variant d = std::move(b);
  EXPECT_EQ(d.RawString(), u"copied");
  std::vector<Variant> v{text, c};  // copies into containers
  EXPECT_EQ(v[1], text);

  auto font = desk::MakeRef<desk::Font>();
  Variant object = Variant::Object(font);
  {
    Variant copy(object);
    EXPECT_EQ(font->RefCount(), 3);  // font, object, copy
  }
  EXPECT_EQ(font->RefCount(), 2);

  Variant target = Variant::Long(1);
  Variant ref = Variant::ByRef(&target);
  Variant refCopy(ref);  // a copy of a reference points at the same storage
  refCopy.Assign(Variant::Long(7));
  EXPECT_EQ(target.RawLong(), 7);
}

// The reference an entry point hands out is adopted, not doubled.
TEST(RefTest, AdoptTakesOverTheCallersReference) {
  auto* raw = new desk::Font();
  raw->AddRef();  // as CreateObject hands it out
  {
    desk::Ref<desk::Font> adopted = desk::AdoptRef(raw);
    EXPECT_EQ(raw->RefCount(), 1);
    desk::Ref<desk::Font> shared = adopted;
    EXPECT_EQ(raw->RefCount(), 2);
    desk::Font* detached = shared.Detach();
    EXPECT_EQ(detached, raw);
    EXPECT_FALSE(shared);
    EXPECT_EQ(raw->RefCount(), 2);  // still owned by the one who detached it
    detached->Release();
    EXPECT_EQ(raw->RefCount(), 1);
  }
  desk::Ref<desk::Font> none = desk::Ref<desk::Font>::Adopt(nullptr);
  EXPECT_FALSE(none);
}

}  // namespace
