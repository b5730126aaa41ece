// Values reach the controls from hosts, from saved settings and from texts. Every coercion of
// every kind of value either gives a value of the asked kind or fails with one of the
// platform's conversion errors; equality by value is symmetric.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "desk/error.h"
#include "desk/font.h"
#include "desk/variant.h"
#include "fuzz_input.h"

namespace {

using desk::Err;
using desk::Variant;
using desk::VarType;

constexpr VarType kTargets[] = {VarType::Empty,  VarType::Missing, VarType::Integer, VarType::Long,
                                VarType::Single, VarType::Double,  VarType::Boolean, VarType::String,
                                VarType::Object, VarType::ByRef,   VarType::Any};

// Numeric texts are what the parser is about: most texts are built from this alphabet.
constexpr char16_t kNumberChars[] = u" +-.0123456789eE&HhOo,tTrRuUfFaAlLsSnNiI\t";

std::u16string NumberText(desk_fuzz::Input& in) {
  const size_t len = in.Below(24);
  std::u16string s;
  for (size_t i = 0; i < len; ++i) s.push_back(kNumberChars[in.Below(sizeof kNumberChars / 2 - 1)]);
  return s;
}

Variant MakeValue(desk_fuzz::Input& in, Variant* slots, size_t nslots) {
  switch (in.Below(13)) {
    case 0: return Variant();
    case 1: return Variant::Missing();
    case 2: return Variant::Integer(in.Raw<int16_t>());
    case 3: return Variant::Long(in.Raw<int32_t>());
    case 4: return Variant::Single(in.Raw<float>());
    case 5: return Variant::Double(in.Raw<double>());
    case 6: return Variant::BoolRaw(in.Raw<int16_t>());
    case 7: return Variant::String(in.Text(32));
    case 8: return Variant::String(NumberText(in));
    case 9: return Variant::Nothing();
    case 10: return Variant::Object(desk::MakeRef<desk::Font>());
    case 11:
    case 12: {
      // A reference into the slots: chains and cycles included.
      Variant* target = &slots[in.Below(nslots)];
      return Variant::ByRef(target, in.Byte() & 1);
    }
  }
  return Variant();
}

bool IsConversionError(int32_t n) {
  return n == static_cast<int32_t>(Err::TypeMismatch) || n == static_cast<int32_t>(Err::Overflow) ||
         n == static_cast<int32_t>(Err::ObjectRequired);
}

template <class F>
void Try(F&& f) {
  try {
    f();
  } catch (const desk::Error& e) {
    if (!IsConversionError(e.Number())) std::abort();
  }
}

void Coerce(const Variant& v) {
  for (VarType t : kTargets) {
    Try([&] {
      Variant c = v.ConvertTo(t);
      if (t == VarType::Any) {
        if (c.IsByRef() && !v.Deref().IsByRef()) std::abort();
      } else if (c.Type() != t) {
        std::abort();
      }
    });
  }
  Try([&] { (void)v.ToInteger(); });
  Try([&] { (void)v.ToLong(); });
  Try([&] { (void)v.ToSingle(); });
  Try([&] { (void)v.ToBoolean(); });
  Try([&] { (void)v.ToString(); });
  Try([&] { (void)v.ToObject(); });
  Try([&] {
    const double d = v.ToDouble();
    // Integer and Long conversions of a number round the number itself.
    if (v.ValueType() == VarType::Double || v.ValueType() == VarType::Single) {
      Try([&] {
        if (v.ToLong() != desk::RoundToLong(d)) std::abort();
      });
      Try([&] {
        if (v.ToInteger() != desk::RoundToInteger(d)) std::abort();
      });
    }
  });
  // A number's text reads back as the same number.
  const VarType vt = v.ValueType();
  if (vt == VarType::Integer || vt == VarType::Long) {
    Variant text = Variant::String(v.ToString());
    if (text.ToLong() != v.ToLong()) std::abort();
  }
  if (vt == VarType::Boolean) {
    if (Variant::String(v.ToString()).ToBoolean() != (v.RawBoolean() ? desk::kTrue : desk::kFalse)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  desk_fuzz::Input in(data, size);
  constexpr size_t kSlots = 4;
  Variant slots[kSlots];
  for (auto& s : slots) s = MakeValue(in, slots, kSlots);
  Variant values[4];
  for (auto& v : values) v = MakeValue(in, slots, kSlots);

  for (const auto& v : values) Coerce(v);
  for (const auto& s : slots) Coerce(s);
  for (const auto& a : values)
    for (const auto& b : values) {
      if (Variant::ValueEquals(a, b) != Variant::ValueEquals(b, a)) std::abort();
      if ((a == b) != (b == a)) std::abort();
    }

  // Writing through references: a failed write (a typed reference refusing the value) changes
  // nothing.
  for (int i = 0; i < 4 && !in.Empty(); ++i) {
    Variant& dest = values[in.Below(4)];
    const Variant src = MakeValue(in, slots, kSlots);
    const Variant& target = dest.Deref();
    const VarType before = target.Type();
    try {
      dest.Assign(src);
    } catch (const desk::Error& e) {
      if (!IsConversionError(e.Number())) std::abort();
      if (dest.Deref().Type() != before) std::abort();  // a failed write changes nothing
    }
  }
  return 0;
}
