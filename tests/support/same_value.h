// Comparing values as a saved-and-loaded setting must come back: the same kind and the same
// bits for numbers, the same text, Nothing for Nothing, and fonts and pictures by value (a
// loaded font or picture is a new object).
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "desk/font.h"
#include "desk/variant.h"

namespace desk_test {

inline ::testing::AssertionResult SameValue(const desk::Variant& a, const desk::Variant& b) {
  using desk::VarType;
  if (a.ValueType() != b.ValueType())
    return ::testing::AssertionFailure() << desk::VarTypeName(a.ValueType()) << " against "
                                         << desk::VarTypeName(b.ValueType());
  switch (a.ValueType()) {
    case VarType::Single: {
      float x = a.RawSingle(), y = b.RawSingle();
      if (std::memcmp(&x, &y, sizeof x) != 0) return ::testing::AssertionFailure() << x << " against " << y;
      return ::testing::AssertionSuccess();
    }
    case VarType::Double: {
      double x = a.RawDouble(), y = b.RawDouble();
      if (std::memcmp(&x, &y, sizeof x) != 0) return ::testing::AssertionFailure() << x << " against " << y;
      return ::testing::AssertionSuccess();
    }
    case VarType::Object: {
      const desk::Ref<desk::Object>& x = a.RawObject();
      const desk::Ref<desk::Object>& y = b.RawObject();
      if (!x || !y)
        return (!x && !y) ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "Nothing against an object";
      if (auto f = desk::RefCast<desk::Font>(x)) {
        auto g = desk::RefCast<desk::Font>(y);
        if (g && f->SameAs(*g)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "fonts differ";
      }
      auto p = desk::RefCast<desk::Picture>(x);
      auto q = desk::RefCast<desk::Picture>(y);
      if (p && q) {
        if (p->kind == q->kind && p->width == q->width && p->height == q->height && p->pixels == q->pixels)
          return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "pictures differ";
      }
      return x == y ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "other objects differ";
    }
    default:
      if (a == b) return ::testing::AssertionSuccess();
      return ::testing::AssertionFailure() << "values of kind " << desk::VarTypeName(a.ValueType()) << " differ";
  }
}

}  // namespace desk_test
