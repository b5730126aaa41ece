#include "desk/variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <type_traits>

#include "desk/error.h"
#include "desk/text.h"

namespace desk {

const char* VarTypeName(VarType t) noexcept {
  switch (t) {
    case VarType::Empty: return "Empty";
    case VarType::Missing: return "Missing";
    case VarType::Integer: return "Integer";
    case VarType::Long: return "Long";
    case VarType::Single: return "Single";
    case VarType::Double: return "Double";
    case VarType::Boolean: return "Boolean";
    case VarType::String: return "String";
    case VarType::Object: return "Object";
    case VarType::ByRef: return "ByRef";
    case VarType::Any: return "Variant";
  }
  return "?";
}

namespace {

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t'; }

// Reads a text as a number the way the run-time does: surrounding spaces allowed, a sign,
// decimal digits with an optional fraction and exponent, or &H / &O prefixed integers.
bool ParseNumber(std::u16string_view s, double& out) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  if (s.empty() || s.size() > 400) return false;
  std::string a;
  for (char16_t c : s) {
    if (c > 0x7F) return false;
    a.push_back(static_cast<char>(c));
  }
  const bool hex = a.starts_with("&H") || a.starts_with("&h");
  if (hex || a.starts_with("&O") || a.starts_with("&o")) {
    const int base = hex ? 16 : 8;
    uint64_t v = 0;  // no digits at all ("&H") is no number: from_chars refuses an empty text
    auto r = std::from_chars(a.data() + 2, a.data() + a.size(), v, base);
    if (r.ec != std::errc() || r.ptr != a.data() + a.size() || v > 0xFFFFFFFFull) return false;
    // Hex literals are 16-bit when they fit, 32-bit otherwise, and signed.
    out = v <= 0xFFFF ? static_cast<double>(static_cast<int16_t>(v)) : static_cast<double>(static_cast<int32_t>(v));
    return true;
  }
  const char* b = a.data();
  const char* e = a.data() + a.size();
  bool neg = false;
  if (*b == '+' || *b == '-') {
    neg = *b == '-';
    ++b;
  }
  if (b == e || *b == '+' || *b == '-') return false;
  double v = 0;
  auto r = std::from_chars(b, e, v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != e) return false;
  out = neg ? -v : v;
  return true;
}

std::u16string FormatFloat(double d, int digits) {
  if (std::isnan(d)) return u"NaN";
  if (std::isinf(d)) return d > 0 ? u"Infinity" : u"-Infinity";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", digits, d);
  std::string s(buf);
  return std::u16string(s.begin(), s.end());
}

}  // namespace

namespace {

// Rounded half to even, as the host's conversions round; 6 when it does not fit.
template <class Whole>
Whole RoundTo(double d) {
  if (std::isnan(d)) Raise(Err::Overflow);
  double r = std::nearbyint(d);
  if (r < static_cast<double>(std::numeric_limits<Whole>::min()) ||
      r > static_cast<double>(std::numeric_limits<Whole>::max()))
    Raise(Err::Overflow);
  return static_cast<Whole>(r);
}

// A whole number that fits is taken as it is; anything else goes through its Double.
template <class Whole>
Whole ToWhole(const Variant& v) {
  const Variant& d = v.Deref();
  switch (d.Type()) {
    case VarType::Integer: return d.RawInteger();
    case VarType::Boolean: return d.RawBoolean();
    case VarType::Long:
      if constexpr (std::is_same_v<Whole, int32_t>) return d.RawLong();  // an Integer is range-checked below
      break;
    default: break;
  }
  return RoundTo<Whole>(v.ToDouble());
}

}  // namespace

int16_t RoundToInteger(double d) { return RoundTo<int16_t>(d); }

int32_t RoundToLong(double d) { return RoundTo<int32_t>(d); }

const Variant& Variant::Follow() const noexcept {
  const Variant* v = this;
  // A reference to a reference is followed to the end; the run-time never nests them deeper.
  for (int i = 0; i < 8 && v->Type() == VarType::ByRef; ++i) v = std::get<RefTag>(v->v_).target;
  return *v;
}

bool Variant::IsNumeric() const noexcept {
  switch (ValueType()) {
    case VarType::Integer:
    case VarType::Long:
    case VarType::Single:
    case VarType::Double:
    case VarType::Boolean:
      return true;
    default:
      return false;
  }
}

void Variant::Assign(const Variant& v) {
  if (Type() != VarType::ByRef) {
    Variant copy = v.Deref();
    *this = std::move(copy);
    return;
  }
  RefTag r = std::get<RefTag>(v_);
  Variant& target = Deref();
  VarType t = target.Type();
  if (r.typed && t != VarType::Empty && t != VarType::Missing) {
    Variant converted = v.Deref().ConvertTo(t);  // convert first: a failed write changes nothing
    target = std::move(converted);
  } else {
    Variant copy = v.Deref();
    target = std::move(copy);
  }
  (void)r;
}

double Variant::ToDouble() const {
  const Variant& d = Deref();
  switch (d.Type()) {
    case VarType::Empty: return 0;
    case VarType::Integer: return d.RawInteger();
    case VarType::Long: return d.RawLong();
    case VarType::Single: return d.RawSingle();
    case VarType::Double: return d.RawDouble();
    case VarType::Boolean: return d.RawBoolean();
    case VarType::String: {
      double out = 0;
      if (ParseNumber(d.RawString(), out)) return out;
      const std::u16string f = FoldCase(d.RawString());
      if (f == u"true") return -1;
      if (f == u"false") return 0;
      break;  // no number: 13, as for the kinds below
    }
    case VarType::Missing:
    case VarType::Object:
    case VarType::ByRef:
    case VarType::Any:
      break;
  }
  Raise(Err::TypeMismatch);
}

int16_t Variant::ToInteger() const { return ToWhole<int16_t>(*this); }

int32_t Variant::ToLong() const { return ToWhole<int32_t>(*this); }

float Variant::ToSingle() const {
  const Variant& d = Deref();
  if (d.Type() == VarType::Single) return d.RawSingle();
  double v = ToDouble();
  if (std::isfinite(v) && std::fabs(v) > 3.4028234663852886e38) Raise(Err::Overflow);
  return static_cast<float>(v);
}

int16_t Variant::ToBoolean() const {
  const Variant& d = Deref();
  if (d.Type() == VarType::Boolean) return d.RawBoolean();
  if (d.Type() == VarType::String) {
    std::u16string_view s = d.RawString();
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    const std::u16string f = FoldCase(s);
    if (f == u"true") return kTrue;
    if (f == u"false") return kFalse;
  }
  return ToDouble() != 0 ? kTrue : kFalse;
}

std::u16string Variant::ToString() const {
  const Variant& d = Deref();
  switch (d.Type()) {
    case VarType::Empty: return u"";
    case VarType::Integer: return DecimalText(d.RawInteger());
    case VarType::Long: return DecimalText(d.RawLong());
    case VarType::Single: return FormatFloat(d.RawSingle(), 7);
    case VarType::Double: return FormatFloat(d.RawDouble(), 15);
    case VarType::Boolean: return d.RawBoolean() ? u"True" : u"False";
    case VarType::String: return d.RawString();
    default: break;  // Missing and objects have no text
  }
  Raise(Err::TypeMismatch);
}

Ref<desk::Object> Variant::ToObject() const {
  const Variant& d = Deref();
  if (d.Type() == VarType::Object) return d.RawObject();
  Raise(Err::ObjectRequired);
}

Variant Variant::ConvertTo(VarType t) const {
  switch (t) {
    case VarType::Any: return Deref();
    case VarType::Empty: return Variant();
    case VarType::Missing: return Missing();
    case VarType::Integer: return Integer(ToInteger());
    case VarType::Long: return Long(ToLong());
    case VarType::Single: return Single(ToSingle());
    case VarType::Double: return Double(ToDouble());
    case VarType::Boolean: return BoolRaw(ToBoolean());
    case VarType::String: return String(ToString());
    case VarType::Object: return Object(ToObject());
    case VarType::ByRef: break;
  }
  Raise(Err::TypeMismatch);
}

bool operator==(const Variant& a, const Variant& b) { return a.Deref().v_ == b.Deref().v_; }

bool Variant::ValueEquals(const Variant& a, const Variant& b) {
  const Variant& x = a.Deref();
  const Variant& y = b.Deref();
  if (x.IsNumeric() && y.IsNumeric()) return x.ToDouble() == y.ToDouble();
  return x == y;
}

}  // namespace desk
