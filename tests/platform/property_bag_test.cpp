// The in-memory property bag and its file: kinds kept exactly, strict all-or-nothing loads,
// atomic saves.
#include "desk/property_bag.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <string>

#include "desk/font.h"
#include "desk/text.h"
#include "support/bmp.h"
#include "support/same_value.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using desk::MemoryPropertyBag;
using desk::Ref;
using desk::Variant;
using desk::VarType;
using desk_test::ErrOf;

namespace {

// A folder of its own for each test, removed afterwards.
class BagFileTest : public ::testing::Test {
 protected:
  BagFileTest() {
    dir = fs::temp_directory_path() /
          ("desk-bag-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~BagFileTest() override { fs::remove_all(dir); }

  static void WriteText(const fs::path& p, std::string_view text) {
    std::ofstream(p, std::ios::binary) << text;
  }
  static std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The files in the folder, to see that no temporary file is left behind.
  std::vector<std::string> Files() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  // The error of a call, with its description.
  static std::pair<int32_t, std::string> Failure(const std::function<void()>& f) {
    try {
      f();
    } catch (const desk::Error& e) {
      return {e.Number(), desk::U8(e.Description())};
    }
    return {0, ""};
  }

  fs::path dir;
};

float FloatOfBits(uint32_t b) {
  float f;
  std::memcpy(&f, &b, 4);
  return f;
}
double DoubleOfBits(uint64_t b) {
  double d;
  std::memcpy(&d, &b, 8);
  return d;
}

using desk_test::SameValue;

// ---- In memory ------------------------------------------------------------------------------

TEST(PropertyBagTest, AnAbsentKeyAnswersTheDefaultUnchanged) {
  MemoryPropertyBag bag;
  EXPECT_TRUE(SameValue(bag.ReadProperty(u"Style", Variant::Integer(7)), Variant::Integer(7)));
  EXPECT_TRUE(SameValue(bag.ReadProperty(u"Indentation", Variant::Double(566.9291)), Variant::Double(566.9291)));
  Ref<desk::Font> font = desk::MakeRef<desk::Font>();
  EXPECT_EQ(bag.ReadProperty(u"Font", Variant::Object(font)).RawObject().get(), font.get());
}

struct DefaultRow {
  const char* name;
  Variant value;
  Variant def;
  bool stored;
};

TEST(PropertyBagTest, AValueEqualToItsDefaultIsNotStoredComparedByValue) {
  Ref<desk::Font> font = desk::MakeRef<desk::Font>();
  const DefaultRow rows[] = {
      {"Long 0 against Integer 0", Variant::Long(0), Variant::Integer(0), false},
      {"Single 0 against Integer 0", Variant::Single(0), Variant::Integer(0), false},
      {"Boolean False against Integer 0", Variant::Bool(false), Variant::Integer(0), false},
      {"Boolean True against Boolean True", Variant::Bool(true), Variant::Bool(true), false},
      {"Single nearest 566.9291 against the Double", Variant::Single(566.9291f), Variant::Double(566.9291), true},
      {"Long 7 against Integer 7", Variant::Long(7), Variant::Integer(7), false},
      {"Long 8 against Integer 7", Variant::Long(8), Variant::Integer(7), true},
      {"text equal to the default", Variant::String(u"\\"), Variant::String(u"\\"), false},
      {"text differing in case", Variant::String(u"A"), Variant::String(u"a"), true},
      {"Nothing against Nothing", Variant::Nothing(), Variant::Nothing(), false},
      {"an empty picture against Nothing", Variant::Object(desk::MakeRef<desk::Picture>()), Variant::Nothing(), true},
      {"the default font itself", Variant::Object(font), Variant::Object(font), false},
      {"an equal but other font", Variant::Object(font->Clone()), Variant::Object(font), true},
      {"text \"0\" against Integer 0", Variant::String(u"0"), Variant::Integer(0), true},
  };
  for (const auto& r : rows) {
    MemoryPropertyBag bag;
    bag.WriteProperty(u"Key", r.value, r.def);
    EXPECT_EQ(bag.Contains(u"Key"), r.stored) << r.name;
    if (r.stored) {
      EXPECT_TRUE(SameValue(bag.ReadProperty(u"Key", Variant()), r.value)) << r.name;
    }
  }
}

// Clear forgets every key: none answers its old value, and each can be written anew.
TEST(PropertyBagTest, ClearForgetsEveryKeyAndTheBagFillsAgain) {
  auto bag = desk::MakeRef<MemoryPropertyBag>();
  bag->WriteProperty(u"First", Variant::Long(1), Variant::Long(0));
  bag->WriteProperty(u"Second", Variant::String(u"two"), Variant::String(u""));
  bag->Clear();
  EXPECT_EQ(bag->Count(), 0u);
  EXPECT_EQ(bag->ReadProperty(u"First", Variant::Long(-5)), Variant::Long(-5));
  EXPECT_EQ(bag->ReadProperty(u"SECOND", Variant::Integer(7)), Variant::Integer(7));
  bag->WriteProperty(u"Second", Variant::Long(22), Variant::Long(0));
  bag->WriteProperty(u"Third", Variant::Long(3), Variant::Long(0));
  EXPECT_EQ(bag->Count(), 2u);
  EXPECT_EQ(bag->ReadProperty(u"second", Variant()), Variant::Long(22));
  EXPECT_EQ(bag->ReadProperty(u"Third", Variant()), Variant::Long(3));
  EXPECT_EQ(bag->ReadProperty(u"First", Variant::Long(-5)), Variant::Long(-5));
}

TEST(PropertyBagTest, WritingTheDefaultDropsAnEarlierValue) {
  MemoryPropertyBag bag;
  bag.WriteProperty(u"BackColor", Variant::Long(255), Variant::Integer(0));
  bag.WriteProperty(u"ForeColor", Variant::Long(1), Variant::Integer(0));
  bag.WriteProperty(u"BackColor", Variant::Long(0), Variant::Integer(0));
  EXPECT_TRUE(SameValue(bag.ReadProperty(u"BackColor", Variant::Integer(0)), Variant::Integer(0)));
  EXPECT_TRUE(SameValue(bag.ReadProperty(u"ForeColor", Variant::Integer(0)), Variant::Long(1)));
  EXPECT_EQ(bag.Count(), 1u);
}

TEST(PropertyBagTest, KeysIgnoreLetterCaseAndKeepTheLatestSpelling) {
  MemoryPropertyBag bag;
  bag.WriteProperty(u"hWnd", Variant::Long(1), Variant::Integer(0));
  bag.WriteProperty(u"HWND", Variant::Long(2), Variant::Integer(0));
  bag.WriteProperty(u"Straße", Variant::Long(3), Variant::Integer(0));
  EXPECT_EQ(bag.Count(), 2u);
  EXPECT_EQ(bag.ReadProperty(u"hwnd", Variant()).RawLong(), 2);
  EXPECT_EQ(bag.ReadProperty(u"STRASSE", Variant()).RawLong(), 3);
  EXPECT_EQ(bag.Entries()[0].key, u"HWND");
}

TEST(PropertyBagTest, ValuesAreCopiedOutOfTheCallersReference) {
  MemoryPropertyBag bag;
  Variant callers = Variant::String(u"before");
  bag.WriteProperty(u"Text", Variant::ByRef(&callers), Variant::String(u""));
  callers = Variant::String(u"after");
  Variant read = bag.ReadProperty(u"Text", Variant());
  EXPECT_FALSE(read.IsByRef());
  EXPECT_EQ(read.RawString(), u"before");
}

TEST(PropertyBagTest, HostsCallTheBagLateBound) {
  Ref<MemoryPropertyBag> bag = desk::MakeRef<MemoryPropertyBag>();
  desk::CallByName(Ref<desk::Object>(bag), u"WriteProperty", desk::InvokeKind::Method,
                   {Variant::String(u"Style"), Variant::Long(3), Variant::Integer(7)});
  EXPECT_EQ(desk::CallByName(Ref<desk::Object>(bag), u"ReadProperty", desk::InvokeKind::Method,
                             {Variant::String(u"Style"), Variant::Integer(7)})
                .RawLong(),
            3);
  EXPECT_TRUE(desk::CallByName(Ref<desk::Object>(bag), u"ReadProperty", desk::InvokeKind::Method,
                               {Variant::String(u"Absent")})
                  .IsEmpty());
  // A name is required, whichever call leaves it out.
  for (const char* member : {"ReadProperty", "WriteProperty"}) {
    std::vector<Variant> args{Variant::Missing(), Variant::Long(1)};
    EXPECT_EQ(ErrOf([&] { desk::CallByName(Ref<desk::Object>(bag), desk::U16(member), desk::InvokeKind::Method, args); }),
              450)
        << member;
  }
  EXPECT_EQ(bag->Count(), 1u);
}

// ---- Kinds through the file ----------------------------------------------------------------

struct KindRow {
  const char* name;
  Variant value;
};

// A 1x2 BMP (62 bytes) with `extra` bytes after its pixels.
Ref<desk::Picture> PictureWithTail(size_t extra) {
  std::vector<uint8_t> b = desk_test::MakeBmp(1, 2, [](int32_t, int32_t y) { return 0x123456u + static_cast<uint32_t>(y); });
  for (size_t i = 0; i < extra; ++i) b.push_back(static_cast<uint8_t>(0xA1 + i));
  return desk::DecodePicture(b);
}

TEST_F(BagFileTest, EveryKindComesBackAsItWasSaved) {
  Ref<desk::Font> font = desk::MakeRef<desk::Font>(u"Liberation Serif", 13.5f);
  font->weight = 650;
  font->italic = true;
  font->underline = true;
  font->strikethrough = true;
  font->charset = 177;
  Ref<desk::Font> oddFont = desk::MakeRef<desk::Font>(std::u16string(u"a\xD800z"), 1e-30f);
  const std::u16string loneSurrogates{u'x', char16_t(0xDC00), u'y', char16_t(0xD83D)};
  const KindRow rows[] = {
      {"Empty", Variant()},
      {"Missing", Variant::Missing()},
      {"Integer minimum", Variant::Integer(INT16_MIN)},
      {"Integer maximum", Variant::Integer(INT16_MAX)},
      {"Long minimum", Variant::Long(INT32_MIN)},
      {"Long maximum", Variant::Long(INT32_MAX)},
      {"Single 566.9290771484375", Variant::Single(566.9291f)},
      {"Single 0.1", Variant::Single(0.1f)},
      {"Single negative zero", Variant::Single(-0.0f)},
      {"Single smallest subnormal", Variant::Single(std::numeric_limits<float>::denorm_min())},
      {"Single largest", Variant::Single(std::numeric_limits<float>::max())},
      {"Single infinity", Variant::Single(-std::numeric_limits<float>::infinity())},
      {"Single NaN with a payload", Variant::Single(FloatOfBits(0x7FC12345))},
      {"Double 566.9291", Variant::Double(566.9291)},
      {"Double 1/3", Variant::Double(1.0 / 3)},
      {"Double subnormal", Variant::Double(std::numeric_limits<double>::denorm_min())},
      {"Double signalling NaN", Variant::Double(DoubleOfBits(0x7FF0000000000001ull))},
      {"Boolean True", Variant::Bool(true)},
      {"Boolean False", Variant::Bool(false)},
      {"Boolean with the bits of 1", Variant::BoolRaw(1)},
      {"empty text", Variant::String(u"")},
      {"text with a backslash, quotes and controls", Variant::String(u"\\ \" \n\t\r")},
      {"text with a NUL inside", Variant::String(std::u16string(u"a\0b", 3))},
      {"text beyond the BMP", Variant::String(u"שלום 😀 日本")},
      {"text with unpaired surrogates", Variant::String(loneSurrogates)},
      // Each end of the surrogate ranges alone, with nothing else in the text to give it away.
      {"a lone first low surrogate", Variant::String(std::u16string{u'a', char16_t(0xDC00), u'b'})},
      {"a lone last low surrogate", Variant::String(std::u16string{u'a', char16_t(0xDFFF), u'b'})},
      {"a lone first high surrogate", Variant::String(std::u16string{u'a', char16_t(0xD800), u'b'})},
      {"a lone last high surrogate at the end", Variant::String(std::u16string{u'a', char16_t(0xDBFF)})},
      {"a high surrogate before a unit past the low ones", Variant::String(std::u16string{u'a', char16_t(0xD800), char16_t(0xE000)})},
      {"a high surrogate before one below the low ones", Variant::String(std::u16string{u'a', char16_t(0xDBFF), char16_t(0xDBFF)})},
      {"Nothing", Variant::Nothing()},
      {"a font with every attribute", Variant::Object(font)},
      {"a font with an odd name and size", Variant::Object(oddFont)},
      {"a picture", Variant::Object(desk_test::MakePicture(5, 4, 1))},
      // The bytes of each length modulo 3 (base64 with "==", "=" and no padding), ending in
      // bytes that are not zero (a BMP ends in zero padding).
      {"a picture of 64 bytes", Variant::Object(PictureWithTail(2))},
      {"a picture of 65 bytes", Variant::Object(PictureWithTail(3))},
      {"a picture of 66 bytes", Variant::Object(PictureWithTail(4))},
      {"the empty picture", Variant::Object(desk::MakeRef<desk::Picture>())},
  };
  MemoryPropertyBag bag;
  const Variant neverEqual = Variant::Object(desk::MakeRef<desk::Font>());
  for (const auto& r : rows) bag.WriteProperty(desk::U16(r.name), r.value, neverEqual);
  ASSERT_EQ(bag.Count(), std::size(rows));
  const fs::path file = dir / "kinds.json";
  bag.SaveToFile(file);
  MemoryPropertyBag loaded;
  loaded.LoadFromFile(file);
  ASSERT_EQ(loaded.Count(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(desk::U8(loaded.Entries()[i].key), rows[i].name) << "keys keep their order";
    const Variant got = loaded.ReadProperty(desk::U16(rows[i].name), Variant());
    EXPECT_TRUE(SameValue(got, rows[i].value)) << rows[i].name;
    if (auto p = desk::RefCast<desk::Picture>(rows[i].value.IsObject() ? rows[i].value.RawObject() : nullptr)) {
      auto q = desk::RefCast<desk::Picture>(got.IsObject() ? got.RawObject() : nullptr);
      ASSERT_TRUE(q) << rows[i].name;
      EXPECT_EQ(q->encoded, p->encoded) << rows[i].name << ": the very bytes";
    }
  }
  // The empty picture comes back as a picture object without an image, not as Nothing.
  auto empty = desk::RefCast<desk::Picture>(loaded.ReadProperty(u"the empty picture", Variant()).RawObject());
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->Empty());
  // A saved file saved again is the same text: nothing drifts on the way.
  EXPECT_EQ(loaded.ToText(), bag.ToText());
}

TEST_F(BagFileTest, HugeTextsRoundTrip) {
  std::u16string big(3'000'000, u'x');
  for (size_t i = 0; i < big.size(); i += 997) big[i] = u'\x05D0';
  MemoryPropertyBag bag;
  bag.WriteProperty(u"ToolTipText", Variant::String(big), Variant::String(u""));
  bag.SaveToFile(dir / "big.json");
  MemoryPropertyBag loaded;
  loaded.LoadFromFile(dir / "big.json");
  EXPECT_EQ(loaded.ReadProperty(u"ToolTipText", Variant()).RawString(), big);
}

TEST_F(BagFileTest, TheFileIsTheDocumentedTextFormat) {
  MemoryPropertyBag bag;
  bag.WriteProperty(u"Style", Variant::Long(3), Variant::Integer(7));
  bag.WriteProperty(u"Enabled", Variant::Bool(false), Variant::Bool(true));
  // Pairs at both ends of the surrogate ranges are text, written as UTF-8.
  bag.WriteProperty(u"Text", Variant::String(u"\U00010000\U0010FFFF"), Variant::String(u""));
  bag.SaveToFile(dir / "bag.json");
  const std::string text = ReadText(dir / "bag.json");
  EXPECT_NE(text.find("\"format\": \"desk-property-bag\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"version\": 1"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Style\": {\n      \"type\": \"Long\",\n      \"value\": 3\n    }"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Enabled\": {\n      \"type\": \"Boolean\",\n      \"value\": false"), std::string::npos) << text;
  EXPECT_NE(text.find("\"value\": \"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\""), std::string::npos) << text;
}

// ---- Saving -----------------------------------------------------------------------------------

TEST_F(BagFileTest, AnObjectThatCannotPersistFailsTheSaveNamingTheKeyAndKeepsTheOldFile) {
  const fs::path file = dir / "settings.json";
  WriteText(file, "old contents");
  struct Row {
    const char* name;
    Variant value;
    const char* message;
  } rows[] = {
      {"an object of another class", Variant::Object(desk::CurrentPlatform().CreateImageList()), "key \"ImageList\""},
      {"a picture without its encoded bytes",
       Variant::Object(desk::MakeRef<desk::Picture>(1, 1, std::vector<uint32_t>{0}, std::vector<uint8_t>{},
                                                    desk::Picture::Kind::Bitmap)),
       "keeps no encoded image"},
  };
  for (const auto& r : rows) {
    MemoryPropertyBag bag;
    bag.WriteProperty(u"BackColor", Variant::Long(1), Variant::Integer(0));
    bag.WriteProperty(u"ImageList", r.value, Variant::Nothing());
    auto [err, text] = Failure([&] { bag.SaveToFile(file); });
    EXPECT_EQ(err, 330) << r.name;
    EXPECT_NE(text.find(r.message), std::string::npos) << r.name << ": " << text;
    EXPECT_EQ(ReadText(file), "old contents") << r.name;
    EXPECT_EQ(Files(), std::vector<std::string>{"settings.json"}) << r.name;
  }
}

TEST_F(BagFileTest, ASaveReplacesTheFileAndKeepsItsPermissions) {
  const fs::path file = dir / "settings.json";
  WriteText(file, "old");
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  MemoryPropertyBag bag;
  bag.WriteProperty(u"hWnd", Variant::Long(5), Variant::Integer(0));
  bag.SaveToFile(file);
  EXPECT_EQ(Files(), std::vector<std::string>{"settings.json"});
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  MemoryPropertyBag loaded;
  loaded.LoadFromFile(file);
  EXPECT_EQ(loaded.ReadProperty(u"hWnd", Variant()).RawLong(), 5);
}

TEST_F(BagFileTest, ASaveThroughALinkReplacesTheLinksTarget) {
  const fs::path real = dir / "real.json";
  WriteText(real, "old");
  fs::create_symlink(real, dir / "link.json");
  MemoryPropertyBag bag;
  bag.WriteProperty(u"hDC", Variant::Long(9), Variant::Integer(0));
  bag.SaveToFile(dir / "link.json");
  EXPECT_TRUE(fs::is_symlink(dir / "link.json"));
  MemoryPropertyBag loaded;
  loaded.LoadFromFile(real);
  EXPECT_EQ(loaded.ReadProperty(u"hDC", Variant()).RawLong(), 9);
}

TEST_F(BagFileTest, AWriteThatFailsHalfwayLeavesTheOldFileWholeAndNoTemporaryFile) {
  const fs::path file = dir / "settings.json";
  MemoryPropertyBag small;
  small.WriteProperty(u"BackColor", Variant::Long(1), Variant::Integer(0));
  small.SaveToFile(file);
  const std::string before = ReadText(file);
  MemoryPropertyBag large;
  large.WriteProperty(u"ToolTipText", Variant::String(std::u16string(100000, u'x')), Variant::String(u""));
  // The system refuses to let a file grow past 4 KiB: the write fails after a part of it.
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &old), 0);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  auto [err, text] = Failure([&] { large.SaveToFile(file); });
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &old, nullptr);
  EXPECT_EQ(err, 75) << text;
  EXPECT_NE(text.find("settings.json"), std::string::npos) << text;
  EXPECT_EQ(ReadText(file), before);
  EXPECT_EQ(Files(), std::vector<std::string>{"settings.json"});
}

TEST_F(BagFileTest, SavingWhereNoFileCanBeFailsWithThePlatformsNumbers) {
  MemoryPropertyBag bag;
  EXPECT_EQ(ErrOf([&] { bag.SaveToFile(dir / "no such folder" / "bag.json"); }), 76);
  fs::create_directory(dir / "a folder");
  EXPECT_EQ(ErrOf([&] { bag.SaveToFile(dir / "a folder"); }), 75);
  EXPECT_TRUE(fs::is_directory(dir / "a folder"));
  // A file where a folder should be; a name longer than any the system allows.
  bag.SaveToFile(dir / "a file");
  EXPECT_EQ(ErrOf([&] { bag.SaveToFile(dir / "a file" / "bag.json"); }), 76);
  EXPECT_EQ(ErrOf([&] { bag.SaveToFile(dir / std::string(300, 'n')); }), 75);
}

// ---- Loading ----------------------------------------------------------------------------------

std::string Document(const std::string& properties, const std::string& version = "1") {
  return "{\"format\": \"desk-property-bag\", \"version\": " + version + ", \"properties\": {" + properties + "}}";
}

struct BadFileRow {
  const char* name;
  std::string text;
  const char* message;  // a part of the error's description
};

TEST_F(BagFileTest, ABadFileFailsNamingTheProblemAndAppliesNothing) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const BadFileRow rows[] = {
      {"an empty file", "", "the file is empty"},
      {"only white space", " \n\t ", "the file is empty"},
      {"not JSON", "BackColor=5", "syntax error"},
      {"cut short", Document("\"A\": {\"type\": \"Long\", \"value\": 1}").substr(0, 40), "parse error at line 1"},
      {"text after the document", Document("") + " {}", "syntax error"},
      {"a bare array", "[]", "the document is not a JSON object"},
      {"another format", "{\"format\": \"ini\", \"version\": 1, \"properties\": {}}", "this is not a property bag"},
      {"no format", "{\"version\": 1, \"properties\": {}}", "the member \"format\" is missing"},
      {"a newer version", Document("", "2"), "version 2 is not supported (this build reads version 1)"},
      {"a version as text", Document("", "\"1\""), "version \"1\" is not supported"},
      {"no properties", "{\"format\": \"desk-property-bag\", \"version\": 1}", "\"properties\" is missing"},
      {"an unknown top-level member",
       "{\"format\": \"desk-property-bag\", \"version\": 1, \"properties\": {}, \"extra\": 1}", "unknown member \"extra\""},
      {"a key given twice", Document("\"A\": {\"type\": \"Empty\"}, \"A\": {\"type\": \"Long\", \"value\": 1}"),
       "the name \"A\" appears twice in \"properties\""},
      {"keys differing only in case", Document("\"hWnd\": {\"type\": \"Empty\"}, \"HWND\": {\"type\": \"Empty\"}"),
       "the name \"HWND\" appears twice"},
      {"a member given twice in an entry", Document("\"A\": {\"type\": \"Long\", \"value\": 1, \"value\": 2}"),
       "the name \"value\" appears twice in \"A\""},
      {"a name given twice in an object inside a list",
       "{\"format\": \"desk-property-bag\", \"version\": 1, \"properties\": {}, \"extra\": [{\"x\": 1, \"x\": 2}]}",
       "the name \"x\" appears twice in one object"},
      {"version given twice", "{\"format\": \"desk-property-bag\", \"version\": 2, \"version\": 1, \"properties\": {}}",
       "the name \"version\" appears twice in the document"},
      {"deep nesting", deep, "nested deeper than 4 levels"},
      {"deep nesting inside a value", Document("\"A\": {\"type\": \"String\", \"value\": [[[1]]]}"), "nested deeper"},
      {"an entry that is no object", Document("\"A\": 5"), "key \"A\": the entry is not an object"},
      {"no type", Document("\"A\": {\"value\": 5}"), "key \"A\": the member \"type\" is missing"},
      {"an unknown type", Document("\"A\": {\"type\": \"Currency\", \"value\": 5}"), "unknown type \"Currency\""},
      {"an unknown member", Document("\"A\": {\"type\": \"Long\", \"value\": 5, \"note\": 1}"), "unknown member \"note\""},
      {"an Integer out of range", Document("\"A\": {\"type\": \"Integer\", \"value\": 32768}"), "outside -32768..32767"},
      {"a Long out of range", Document("\"A\": {\"type\": \"Long\", \"value\": 2147483648}"), "outside"},
      {"a huge unsigned Long", Document("\"A\": {\"type\": \"Long\", \"value\": 18446744073709551615}"), "outside"},
      {"a Long with a fraction", Document("\"A\": {\"type\": \"Long\", \"value\": 1.5}"), "not a whole number"},
      {"a Long as text", Document("\"A\": {\"type\": \"Long\", \"value\": \"5\"}"), "not a whole number"},
      {"a Single out of range", Document("\"A\": {\"type\": \"Single\", \"value\": 1e39}"), "outside the range of a Single"},
      {"a Double overflowing", Document("\"A\": {\"type\": \"Double\", \"value\": 1e999}"), "overflow"},
      {"both value and bits", Document("\"A\": {\"type\": \"Single\", \"value\": 1, \"bits\": \"00000000\"}"),
       "exactly one of"},
      {"bits of the wrong length", Document("\"A\": {\"type\": \"Double\", \"bits\": \"7ff0\"}"), "16 hexadecimal digits"},
      {"bits that are no hex", Document("\"A\": {\"type\": \"Single\", \"bits\": \"7fc0000g\"}"), "hexadecimal"},
      {"a Boolean as text", Document("\"A\": {\"type\": \"Boolean\", \"value\": \"True\"}"), "not a whole number"},
      {"a code unit out of range", Document("\"A\": {\"type\": \"String\", \"value\": [65536]}"), "a code unit"},
      {"a font without its size",
       Document("\"F\": {\"type\": \"Font\", \"name\": \"A\", \"weight\": 400, \"italic\": false, \"underline\": false, "
                "\"strikethrough\": false, \"charset\": 0}"),
       "the member \"size\" is missing"},
      {"bad base64", Document("\"P\": {\"type\": \"Picture\", \"data\": \"Qk0*\"}"), "is not base64"},
      {"a NUL in base64", Document("\"P\": {\"type\": \"Picture\", \"data\": \"Qk0\\u0000\"}"), "is not base64 (character 3)"},
      {"base64 of a length not a multiple of 4", Document("\"P\": {\"type\": \"Picture\", \"data\": \"Qk0\"}"),
       "not a multiple of 4"},
      {"data that is no picture", Document("\"P\": {\"type\": \"Picture\", \"data\": \"aGVsbG8gd29ybGQ=\"}"),
       "does not decode"},
      {"ill-formed UTF-8", Document("\"A\": {\"type\": \"String\", \"value\": \"\xC3\x28\"}"), "UTF-8"},
      {"a lone surrogate escape", Document("\"A\": {\"type\": \"String\", \"value\": \"\\uD800\"}"), "surrogate"},
  };
  const fs::path file = dir / "bad.json";
  for (const auto& r : rows) {
    WriteText(file, r.text);
    MemoryPropertyBag bag;
    bag.WriteProperty(u"Kept", Variant::Long(42), Variant::Integer(0));
    auto [err, text] = Failure([&] { bag.LoadFromFile(file); });
    EXPECT_EQ(err, 321) << r.name;
    EXPECT_NE(text.find(r.message), std::string::npos) << r.name << ": " << text;
    EXPECT_NE(text.find("bad.json"), std::string::npos) << r.name << ": the file is named";
    EXPECT_EQ(bag.Count(), 1u) << r.name << ": nothing applied";
    EXPECT_EQ(bag.ReadProperty(u"Kept", Variant()).RawLong(), 42) << r.name;
  }
}

TEST_F(BagFileTest, BitsAreReadInEitherLetterCase) {
  // 0.1 is 3FB999999999999A: digits and both ends of the letters.
  Ref<MemoryPropertyBag> bag = MemoryPropertyBag::FromText(
      Document("\"U\": {\"type\": \"Double\", \"bits\": \"3FB999999999999A\"}, "
               "\"L\": {\"type\": \"Double\", \"bits\": \"3fb999999999999a\"}, "
               "\"S\": {\"type\": \"Single\", \"bits\": \"7FC0ABCD\"}, "
               "\"F\": {\"type\": \"Single\", \"bits\": \"007FFFFF\"}"));
  EXPECT_TRUE(SameValue(bag->ReadProperty(u"U", Variant()), Variant::Double(0.1)));
  EXPECT_TRUE(SameValue(bag->ReadProperty(u"L", Variant()), Variant::Double(0.1)));
  EXPECT_TRUE(SameValue(bag->ReadProperty(u"S", Variant()), Variant::Single(FloatOfBits(0x7FC0ABCD))));
  EXPECT_TRUE(SameValue(bag->ReadProperty(u"F", Variant()), Variant::Single(FloatOfBits(0x007FFFFF))));
  for (const char* bad : {"7FC0000G", "7FC0000@", "7FC0000`", "7FC0000/", "7FC0000:"})
    EXPECT_EQ(ErrOf([&] {
                MemoryPropertyBag::FromText(
                    Document("\"A\": {\"type\": \"Single\", \"bits\": \"" + std::string(bad) + "\"}"));
              }),
              321)
        << bad;
}

// Every value the format has, in a document of its own.
Ref<MemoryPropertyBag> FullBag() {
  Ref<MemoryPropertyBag> bag = desk::MakeRef<MemoryPropertyBag>();
  bag->WriteProperty(u"BackColor", Variant::Long(0x123456), Variant::Integer(0));
  bag->WriteProperty(u"Scale", Variant::Single(1.25f), Variant::Integer(0));
  bag->WriteProperty(u"Ratio", Variant::Double(0.1), Variant::Integer(0));
  bag->WriteProperty(u"Enabled", Variant::Bool(false), Variant::Bool(true));
  bag->WriteProperty(u"ToolTipText", Variant::String(u"tip"), Variant::String(u""));
  bag->WriteProperty(u"Font", Variant::Object(desk::MakeRef<desk::Font>(u"Arial", 9)), Variant::Nothing());
  bag->WriteProperty(u"Picture", Variant::Object(desk_test::MakePicture()), Variant::Nothing());
  bag->WriteProperty(u"Palette", Variant::Object(desk::MakeRef<desk::Picture>()), Variant::Nothing());
  return bag;
}

TEST_F(BagFileTest, AFileCutAtAnyByteFailsCleanly) {
  const fs::path file = dir / "cut.json";
  const std::string whole = FullBag()->ToText();
  std::string trimmed = whole;
  while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == ' ')) trimmed.pop_back();
  for (size_t n = 0; n < trimmed.size(); ++n) {
    ASSERT_EQ(ErrOf([&] { MemoryPropertyBag::FromText(std::string_view(trimmed).substr(0, n)); }), 321)
        << "cut at byte " << n;
  }
  // The same through a file, at a few places.
  for (size_t n : {size_t{1}, trimmed.size() / 2, trimmed.size() - 1}) {
    WriteText(file, trimmed.substr(0, n));
    MemoryPropertyBag bag;
    bag.WriteProperty(u"Kept", Variant::Long(1), Variant::Integer(0));
    EXPECT_EQ(ErrOf([&] { bag.LoadFromFile(file); }), 321) << "cut at byte " << n;
    EXPECT_EQ(bag.Count(), 1u) << "cut at byte " << n;
  }
  WriteText(file, whole);
  MemoryPropertyBag bag;
  bag.LoadFromFile(file);
  EXPECT_EQ(bag.Count(), 8u);
}

TEST_F(BagFileTest, RandomBytesAndFlippedBytesNeverCrashOrApplyHalfAFile) {
  std::mt19937 rng(20240611);
  for (int i = 0; i < 500; ++i) {
    std::string noise(static_cast<size_t>(rng() % 512), '\0');
    for (char& c : noise) c = static_cast<char>(rng());
    EXPECT_EQ(ErrOf([&] { MemoryPropertyBag::FromText(noise); }), 321) << "noise " << i;
  }
  // One byte changed anywhere in a valid file: either still a valid bag, or refused whole.
  const std::string whole = FullBag()->ToText();
  for (size_t at = 0; at < whole.size(); ++at) {
    std::string edited = whole;
    edited[at] = static_cast<char>(edited[at] ^ (1 + rng() % 255));
    int32_t err = ErrOf([&] { MemoryPropertyBag::FromText(edited); });
    EXPECT_TRUE(err == 0 || err == 321) << "byte " << at << ": " << err;
  }
  // Through a file, a refused load leaves the bag as it was.
  const fs::path file = dir / "noise.json";
  WriteText(file, std::string("\x89PNG\r\n\x1a\n\0\0\0", 12));
  MemoryPropertyBag bag;
  bag.WriteProperty(u"Kept", Variant::Long(1), Variant::Integer(0));
  EXPECT_EQ(ErrOf([&] { bag.LoadFromFile(file); }), 321);
  EXPECT_EQ(bag.Count(), 1u);
  EXPECT_TRUE(bag.Contains(u"Kept"));
}

TEST_F(BagFileTest, FilesThatCannotBeReadFailWithThePlatformsNumbers) {
  MemoryPropertyBag bag;
  bag.WriteProperty(u"Kept", Variant::Long(1), Variant::Integer(0));
  auto [missing, text] = Failure([&] { bag.LoadFromFile(dir / "absent.json"); });
  EXPECT_EQ(missing, 53);
  EXPECT_NE(text.find("absent.json"), std::string::npos) << text;
  EXPECT_EQ(ErrOf([&] { bag.LoadFromFile(dir); }), 75);
  EXPECT_EQ(ErrOf([&] { bag.LoadFromFile(dir / "absent" / "x.json"); }), 76);
  // Each with the cause the system gave for the open, not for a later call.
  auto [tooLong, tooLongWhy] = Failure([&] { bag.LoadFromFile(dir / std::string(300, 'n')); });
  EXPECT_EQ(tooLong, 75);
  EXPECT_NE(tooLongWhy.find("(File name too long)"), std::string::npos) << tooLongWhy;
  fs::create_symlink("loop", dir / "loop");
  auto [loop, loopWhy] = Failure([&] { bag.LoadFromFile(dir / "loop"); });
  EXPECT_EQ(loop, 75);
  EXPECT_NE(loopWhy.find("(Too many levels of symbolic links)"), std::string::npos) << loopWhy;
  // The size limit (files without data blocks, so nothing is written to the disk): one byte
  // over it is refused unread; at it, the file is read (and is no document).
  const fs::path big = dir / "big.json";
  WriteText(big, "");
  fs::resize_file(big, MemoryPropertyBag::kMaxFileBytes + 1);
  auto [over, large] = Failure([&] { bag.LoadFromFile(big); });
  EXPECT_EQ(over, 75);
  EXPECT_NE(large.find("big.json (it is larger than a property bag may be)"), std::string::npos) << large;
  fs::resize_file(big, MemoryPropertyBag::kMaxFileBytes);
  EXPECT_EQ(ErrOf([&] { bag.LoadFromFile(big); }), 321);
  fs::remove(big);
  EXPECT_EQ(bag.Count(), 1u);
}

}  // namespace
