#include "desk/font.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "support/test_support.h"

namespace {

// A clone is the same font in every attribute: a change to any one of them survives it.
TEST(FontTest, CloneKeepsEveryAttribute) {
  struct Row {
    const char* name;
    std::function<void(desk::Font&)> change;
  };
  const Row rows[] = {
      {"name", [](desk::Font& f) { f.name = u"Tahoma"; }},
      {"size", [](desk::Font& f) { f.size = 12.75f; }},
      {"weight", [](desk::Font& f) { f.weight = 700; }},
      {"italic", [](desk::Font& f) { f.italic = true; }},
      {"underline", [](desk::Font& f) { f.underline = true; }},
      {"strikethrough", [](desk::Font& f) { f.strikethrough = true; }},
      {"charset", [](desk::Font& f) { f.charset = 177; }},
  };
  const auto plain = desk::MakeRef<desk::Font>();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    auto f = desk::MakeRef<desk::Font>();
    r.change(*f);
    ASSERT_FALSE(f->SameAs(*plain)) << "the change must show";
    auto copy = f->Clone();
    EXPECT_NE(copy.get(), f.get());
    EXPECT_TRUE(copy->SameAs(*f));
    EXPECT_FALSE(copy->SameAs(*plain));
  }
}

// Each member by id, as a late-bound host writes it: the value read back, or 380 at the edges
// of its range with the old value kept. Bold is a weight of 700 or more.
TEST(FontTest, MembersByIdReadBackAndRefuseValuesOutsideTheirRange) {
  using desk::InvokeKind;
  using desk::Variant;
  struct Row {
    const char* name;
    desk::DispId id;
    Variant value;
    int error;    // 0: accepted
    Variant got;  // what reads back (the old value after an error)
  };
  const Row rows[] = {
      {"name", 0, Variant::String(u"Tahoma"), 0, Variant::String(u"Tahoma")},
      {"size", 2, Variant::Single(12.5f), 0, Variant::Single(12.5f)},
      {"smallest size", 2, Variant::Single(0.01f), 0, Variant::Single(0.01f)},
      {"size zero", 2, Variant::Single(0), 380, Variant::Single(8.25f)},
      {"largest size", 2, Variant::Single(2160), 0, Variant::Single(2160)},
      {"size too large", 2, Variant::Single(2160.5f), 380, Variant::Single(8.25f)},
      {"bold", 3, Variant::Bool(true), 0, Variant::Bool(true)},
      {"not bold", 3, Variant::Bool(false), 0, Variant::Bool(false)},
      {"italic", 4, Variant::Bool(true), 0, Variant::Bool(true)},
      {"underline", 5, Variant::Bool(true), 0, Variant::Bool(true)},
      {"strikethrough", 6, Variant::Bool(true), 0, Variant::Bool(true)},
      {"weight", 7, Variant::Integer(550), 0, Variant::Integer(550)},
      {"weight zero", 7, Variant::Integer(0), 0, Variant::Integer(0)},
      {"weight 1000", 7, Variant::Integer(1000), 0, Variant::Integer(1000)},
      {"weight negative", 7, Variant::Integer(-1), 380, Variant::Integer(400)},
      {"weight 1001", 7, Variant::Integer(1001), 380, Variant::Integer(400)},
      {"charset", 8, Variant::Integer(161), 0, Variant::Integer(161)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    auto f = desk::MakeRef<desk::Font>(u"Arial", 8.25f);
    std::vector<Variant> args{r.value};
    EXPECT_EQ(desk_test::ErrOf([&] { f->Invoke(r.id, InvokeKind::Let, args); }), r.error);
    std::vector<Variant> none;
    EXPECT_EQ(f->Invoke(r.id, InvokeKind::Get, none), r.got);
  }
  // Bold reads the weight: 700 and up.
  const std::pair<int16_t, bool> weights[] = {{400, false}, {699, false}, {700, true}, {900, true}};
  for (const auto& [weight, bold] : weights) {
    auto f = desk::MakeRef<desk::Font>();
    f->weight = weight;
    std::vector<Variant> none;
    EXPECT_EQ(f->Invoke(3, InvokeKind::Get, none), Variant::Bool(bold)) << weight;
  }
  auto f = desk::MakeRef<desk::Font>();
  std::vector<Variant> on{Variant::Bool(true)}, off{Variant::Bool(false)}, none;
  f->Invoke(3, InvokeKind::Let, on);
  EXPECT_EQ(f->weight, 700);
  f->Invoke(3, InvokeKind::Let, off);
  EXPECT_EQ(f->weight, 400);
}

}  // namespace
