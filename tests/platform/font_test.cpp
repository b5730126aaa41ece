#include "desk/font.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

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

// Bold is a weight of 700 or more, by id as a late-bound host reads and writes it; the other
// members' ranges are checked through the tree's font setting.
TEST(FontTest, BoldIsAWeightOf700OrMore) {
  using desk::InvokeKind;
  using desk::Variant;
  const std::pair<int16_t, bool> weights[] = {{0, false}, {400, false}, {699, false}, {700, true}, {1000, true}};
  std::vector<Variant> none;
  for (const auto& [weight, bold] : weights) {
    auto f = desk::MakeRef<desk::Font>();
    f->weight = weight;
    EXPECT_EQ(f->Invoke(3, InvokeKind::Get, none), Variant::Bool(bold)) << weight;
  }
  auto f = desk::MakeRef<desk::Font>();
  f->weight = 550;
  std::vector<Variant> on{Variant::Bool(true)}, off{Variant::Bool(false)};
  f->Invoke(3, InvokeKind::Let, on);
  EXPECT_EQ(f->weight, 700);
  f->Invoke(3, InvokeKind::Let, off);
  EXPECT_EQ(f->weight, 400);
  // The smallest size above 0 is accepted.
  std::vector<Variant> tiny{Variant::Single(0.01f)};
  f->Invoke(2, InvokeKind::Let, tiny);
  EXPECT_EQ(f->Invoke(2, InvokeKind::Get, none), Variant::Single(0.01f));
}

}  // namespace
