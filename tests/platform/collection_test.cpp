#include "desk/collection.h"

#include <gtest/gtest.h>

#include <functional>

#include "support/failing_new.h"
#include "support/test_support.h"

using desk::Collection;
using desk::Variant;

using desk_test::ErrOf;

namespace {

std::u16string Items(Collection& c) {
  std::u16string s;
  for (int32_t i = 1; i <= c.Count(); ++i) s += c.Item(Variant::Long(i)).ToString();
  return s;
}

class CollectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    c = desk::MakeRef<Collection>();
    c->Add(Variant::String(u"a"), u"Alpha");
    c->Add(Variant::String(u"b"), u"Äpfel");
    c->Add(Variant::String(u"c"), u"straße");
  }
  desk::Ref<Collection> c;
};

TEST_F(CollectionTest, KeysIgnoreLetterCaseAcrossUnicode) {
  EXPECT_EQ(c->Item(Variant::String(u"ALPHA")).ToString(), u"a");
  EXPECT_EQ(c->Item(Variant::String(u"äPFEL")).ToString(), u"b");
  EXPECT_EQ(c->Item(Variant::String(u"STRASSE")).ToString(), u"c");
  struct Row {
    const char* name;
    std::u16string key;
  } rows[] = {{"same key", u"Alpha"}, {"differs only in case", u"alpha"}, {"non-ASCII case", u"ÄPFEL"}};
  for (const auto& r : rows) {
    EXPECT_EQ(ErrOf([&] { c->Add(Variant::String(u"x"), r.key); }), 457) << r.name;
    EXPECT_EQ(c->Count(), 3) << r.name;
  }
}

TEST_F(CollectionTest, MissingKeysAndPositionsFail) {
  EXPECT_EQ(ErrOf([&] { c->Item(Variant::String(u"nope")); }), 5);
  EXPECT_EQ(ErrOf([&] { c->Remove(Variant::String(u"nope")); }), 5);
  EXPECT_EQ(ErrOf([&] { c->Item(Variant::Long(0)); }), 9);
  EXPECT_EQ(ErrOf([&] { c->Item(Variant::Long(4)); }), 9);
  EXPECT_EQ(ErrOf([&] { c->Item(Variant()); }), 9);  // Empty reads as 0
  EXPECT_EQ(ErrOf([&] { c->Item(Variant::Object(c)); }), 13);
  EXPECT_EQ(ErrOf([&] { c->Remove(Variant::Missing()); }), 13);
  EXPECT_EQ(ErrOf([&] { c->Add(Variant::String(u"x"), std::nullopt, Variant::Object(c)); }), 13);
  EXPECT_EQ(Items(*c), u"abc");
}

TEST_F(CollectionTest, BeforeAndAfterPositions) {
  c->Add(Variant::String(u"0"), std::nullopt, Variant::Long(1));
  c->Add(Variant::String(u"z"), std::nullopt, Variant::Missing(), Variant::String(u"alpha"));
  EXPECT_EQ(Items(*c), u"0azbc");
  c->Remove(Variant::Long(1));
  c->Remove(Variant::String(u"STRASSE"));
  EXPECT_EQ(Items(*c), u"azb");
}

// A removed element's key must not stay mapped: it would name freed memory and refuse the key.
// Memory running out in an Add leaves the collection as it was, its keys included; the
// same Add works once memory is back.
TEST_F(CollectionTest, AnAddThatRunsOutOfMemoryLeavesNoTrace) {
  if (!desktest::FailAllocation::Available()) GTEST_SKIP() << "the sanitizers' allocator stands in front";
  const Variant item = Variant::String(u"n"), before = Variant::Long(2);
  const std::u16string key = u"New key, long enough to need memory of its own";
  desktest::EachAllocationFailing(
      [&] {
        SetUp();
        c->Add(Variant::String(u"d"), u"Delta");  // four fill the list: a fifth makes it grow
      },
      [&] { c->Add(item, key, before); },
      [&](bool failed) {
        if (!failed) {
          EXPECT_EQ(Items(*c), u"anbcd");
          EXPECT_EQ(c->Item(Variant::String(key)).ToString(), u"n");
          return;
        }
        EXPECT_EQ(Items(*c), u"abcd");
        EXPECT_EQ(c->Find(key), nullptr);
        c->Add(item, key);  // the key is free
        EXPECT_EQ(Items(*c), u"abcdn");
      });
}

TEST_F(CollectionTest, KeysOfRemovedElementsAreGoneAndFreeAgain) {
  struct Row {
    const char* name;
    std::function<void(Collection&)> remove;
    std::u16string left;  // what stays, in order
  } rows[] = {
      {"by key", [](Collection& c) { c.Remove(Variant::String(u"äpfel")); }, u"ac"},
      {"by key in another case", [](Collection& c) { c.Remove(Variant::String(u"ÄPFEL")); }, u"ac"},
      {"by position", [](Collection& c) { c.Remove(Variant::Long(2)); }, u"ac"},
      {"by id", [](Collection& c) {
         std::vector<Variant> args{Variant::Integer(2)};
         c.Invoke(3, desk::InvokeKind::Method, args);
       }, u"ac"},
      {"the first", [](Collection& c) { c.Remove(Variant::Long(1)); }, u"bc"},
      {"the last", [](Collection& c) { c.Remove(Variant::String(u"STRASSE")); }, u"ab"},
      {"all", [](Collection& c) { c.Clear(); }, u""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    SetUp();
    r.remove(*c);
    EXPECT_EQ(Items(*c), r.left);
    const std::pair<const char16_t*, char16_t> keys[] = {{u"Alpha", u'a'}, {u"Äpfel", u'b'}, {u"straße", u'c'}};
    for (const auto& entry : keys) {
      const char16_t* key = entry.first;  // a plain name: lambdas below capture it
      const char16_t item = entry.second;
      if (r.left.find(item) != std::u16string::npos) {
        EXPECT_EQ(c->Item(Variant::String(key)).ToString(), std::u16string(1, item));
        continue;
      }
      EXPECT_EQ(c->Find(key), nullptr);
      EXPECT_EQ(ErrOf([&] { c->Item(Variant::String(key)); }), 5);
      EXPECT_EQ(ErrOf([&] { c->Remove(Variant::String(key)); }), 5);
      c->Add(Variant::String(u"n"), std::u16string(key));  // the key is free again
      EXPECT_EQ(c->Item(Variant::String(key)).ToString(), u"n");
      EXPECT_EQ(c->Item(Variant::Long(c->Count())).ToString(), u"n");
      c->Remove(Variant::String(key));
    }
    EXPECT_EQ(Items(*c), r.left);
    EXPECT_EQ(c->Count(), static_cast<int32_t>(r.left.size()));
  }
}

TEST_F(CollectionTest, EnumerationSurvivesRemovalAndClearMidLoop) {
  auto e = c->NewEnum();
  Variant v;
  std::u16string seen;
  ASSERT_TRUE(e->Next(v));
  seen += v.ToString();
  c->Remove(Variant::Long(1));  // the element just yielded
  while (e->Next(v)) {
    seen += v.ToString();
    if (v.ToString() == u"b") c->Remove(Variant::String(u"straße"));
  }
  EXPECT_EQ(seen, u"ab");
  auto e2 = c->NewEnum();
  ASSERT_TRUE(e2->Next(v));
  c->Clear();
  EXPECT_FALSE(e2->Next(v));
  c->Add(Variant::String(u"n"));
  EXPECT_TRUE(e2->Next(v));
  EXPECT_EQ(v.ToString(), u"n");
}

// Added during a loop: before the next element it comes next, before the ones already
// seen it does not come at all, and after the last it comes at the end.
TEST_F(CollectionTest, EnumerationSeesWhatIsAddedAheadOfItOnly) {
  auto e = c->NewEnum();
  Variant v;
  ASSERT_TRUE(e->Next(v));  // a
  c->Add(Variant::String(u"x"), std::nullopt, Variant::Long(2));  // before b, the next one
  c->Add(Variant::String(u"y"), std::nullopt, Variant::Long(1));  // before a, already seen
  c->Add(Variant::String(u"z"), std::nullopt, Variant(), Variant::Long(c->Count()));  // after the last
  std::u16string seen;
  while (e->Next(v)) seen += v.ToString();
  EXPECT_EQ(seen, u"xbcz");
  EXPECT_EQ(Items(*c), u"yaxbcz");
}

TEST_F(CollectionTest, EnumeratorKeepsACollectionAliveAfterItsOwnerLetsGo) {
  auto e = c->NewEnum();
  c.reset();
  Variant v;
  int n = 0;
  while (e->Next(v)) ++n;
  EXPECT_EQ(n, 3);
}

TEST_F(CollectionTest, ThroughInvokeByName) {
  std::vector<Variant> args{Variant::String(u"ALPHA")};
  EXPECT_EQ(c->Invoke(0, desk::InvokeKind::Method, args).ToString(), u"a");
  EXPECT_EQ(desk::CallByName(*c, u"count", desk::InvokeKind::Get).ToLong(), 3);
  EXPECT_EQ(ErrOf([&] { desk::CallByName(*c, u"Nope", desk::InvokeKind::Get); }), 438);
  EXPECT_EQ(ErrOf([&] { desk::CallByName(*c, u"Item", desk::InvokeKind::Get); }), 450);
}

// Add by id with each optional argument, and Reset by id on the enumerator: a late-bound
// host's calls land where the typed ones do.
TEST_F(CollectionTest, AddAndEnumeratorResetById) {
  using desk::InvokeKind;
  const Variant none = Variant::Missing();
  struct Row {
    const char* name;
    std::vector<Variant> args;  // Item, Key, Before, After
    std::u16string items;
  } rows[] = {
      {"at the end", {Variant::String(u"x")}, u"abcx"},
      {"with a key", {Variant::String(u"x"), Variant::String(u"Xk")}, u"abcx"},
      {"before", {Variant::String(u"x"), none, Variant::Long(1)}, u"xabc"},
      {"after a key", {Variant::String(u"x"), none, none, Variant::String(u"ALPHA")}, u"axbc"},
  };
  for (Row& r : rows) {
    SCOPED_TRACE(r.name);
    SetUp();
    EXPECT_TRUE(c->Invoke(1, InvokeKind::Method, r.args).IsEmpty());
    EXPECT_EQ(Items(*c), r.items);
    if (r.args.size() > 1 && !r.args[1].IsMissing()) {
      EXPECT_EQ(c->Item(Variant::String(u"xK")).ToString(), u"x");
    }
  }
  std::vector<Variant> both{Variant::String(u"y"), none, Variant::Long(1), Variant::Long(1)};
  EXPECT_EQ(ErrOf([&] { c->Invoke(1, InvokeKind::Method, both); }), 5);
  EXPECT_EQ(Items(*c), u"axbc");

  auto e = c->NewEnum();
  Variant v;
  ASSERT_TRUE(e->Next(v));
  ASSERT_TRUE(e->Next(v));
  EXPECT_EQ(v.ToString(), u"x");
  std::vector<Variant> noArgs;
  e->Invoke(2, InvokeKind::Method, noArgs);
  ASSERT_TRUE(e->Next(v));
  EXPECT_EQ(v.ToString(), u"a");  // from the start again
}

}  // namespace
