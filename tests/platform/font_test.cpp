#include "desk/font.h"

#include <gtest/gtest.h>

#include <functional>

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

}  // namespace
