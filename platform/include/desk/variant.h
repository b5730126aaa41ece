// The platform's tagged value.
//
// Kinds: Empty, Missing (an omitted optional argument), Integer (16-bit), Long (32-bit),
// Single, Double, Boolean (16-bit, True = -1), String (UTF-16), Object (a reference or
// Nothing) and ByRef, which points at the caller's own Variant so that a callee's write is
// what the caller finds afterwards. Coercions follow the run-time's rules: halves round to
// even, out-of-range results fail with 6, texts that do not read as numbers with 13.
#pragma once

#include "desk/export.h"

#include <cstdint>
#include <string>
#include <type_traits>
#include <variant>

#include "desk/object.h"

namespace desk {

enum class VarType : uint8_t {
  Empty,
  Missing,
  Integer,
  Long,
  Single,
  Double,
  Boolean,
  String,
  Object,
  ByRef,
  Any,  // only in type descriptions: a parameter that takes any kind
};

DESK_API const char* VarTypeName(VarType t) noexcept;

inline constexpr int16_t kTrue = -1;
inline constexpr int16_t kFalse = 0;

class DESK_API Variant {
 public:
  Variant() noexcept = default;

  static Variant Missing() { return Variant(MissingTag{}); }
  static Variant Integer(int16_t v) { return Variant(IntegerTag{v}); }
  static Variant Long(int32_t v) { return Variant(v); }
  static Variant Single(float v) { return Variant(v); }
  static Variant Double(double v) { return Variant(v); }
  // A Boolean keeps its 16 bits exactly: a stored 1 reads back as 1.
  static Variant BoolRaw(int16_t v) { return Variant(BoolTag{v}); }
  static Variant Bool(bool b) { return BoolRaw(b ? kTrue : kFalse); }
  static Variant String(std::u16string s) { return Variant(std::move(s)); }
  static Variant Object(Ref<desk::Object> o) { return Variant(std::move(o)); }
  static Variant Nothing() { return Variant(Ref<desk::Object>()); }
  // A reference to `target`. A typed reference keeps the target's kind on every write
  // (the write is coerced to it); an untyped one takes whatever is written.
  static Variant ByRef(Variant* target, bool typed = true) { return Variant(RefTag{target, typed}); }

  VarType Type() const noexcept { return static_cast<VarType>(v_.index()); }
  // The kind of the value, looking through a reference.
  VarType ValueType() const noexcept { return Deref().Type(); }
  bool IsEmpty() const noexcept { return ValueType() == VarType::Empty; }
  bool IsMissing() const noexcept { return ValueType() == VarType::Missing; }
  bool IsObject() const noexcept { return ValueType() == VarType::Object; }
  bool IsNumeric() const noexcept;
  bool IsByRef() const noexcept { return Type() == VarType::ByRef; }

  // The value itself: the target of a reference, or this. Inline for the common case, which
  // every Raw read goes through.
  const Variant& Deref() const noexcept { return Type() == VarType::ByRef ? Follow() : *this; }
  Variant& Deref() noexcept { return Type() == VarType::ByRef ? const_cast<Variant&>(Follow()) : *this; }
  // A copy of the value without the reference.
  Variant Value() const { return Deref(); }

  // Writes through a reference (coercing to a typed target's kind), or replaces this value.
  void Assign(const Variant& v);

  // Coercions. Each fails with the platform's error when the value does not convert.
  int16_t ToInteger() const;
  int32_t ToLong() const;
  float ToSingle() const;
  double ToDouble() const;
  int16_t ToBoolean() const;  // -1 or 0, except that a Boolean keeps its exact bits
  bool ToBool() const { return ToBoolean() != 0; }
  std::u16string ToString() const;
  // An object reference (null for Nothing); a value that is not an object fails with 424.
  Ref<desk::Object> ToObject() const;
  // Converts to `t`; Any keeps the value as it is.
  Variant ConvertTo(VarType t) const;

  // Raw access; valid only for the matching kind.
  int16_t RawInteger() const { return std::get<IntegerTag>(Deref().v_).v; }
  int32_t RawLong() const { return std::get<int32_t>(Deref().v_); }
  float RawSingle() const { return std::get<float>(Deref().v_); }
  double RawDouble() const { return std::get<double>(Deref().v_); }
  int16_t RawBoolean() const { return std::get<BoolTag>(Deref().v_).v; }
  const std::u16string& RawString() const { return std::get<std::u16string>(Deref().v_); }
  const Ref<desk::Object>& RawObject() const { return std::get<Ref<desk::Object>>(Deref().v_); }

  // Same kind and same value (objects: the same object). Looks through references.
  friend DESK_API bool operator==(const Variant& a, const Variant& b);
  // Equal by value across numeric kinds, compared exactly (a Single 566.9290771484375 is not
  // the Double 566.9291); texts and objects as operator==; Empty equals nothing else.
  static bool ValueEquals(const Variant& a, const Variant& b);

 private:
  // The end of a chain of references (this when it is not one).
  const Variant& Follow() const noexcept;
  struct MissingTag {
    bool operator==(const MissingTag&) const = default;
  };
  struct IntegerTag {
    int16_t v;
    bool operator==(const IntegerTag&) const = default;
  };
  struct BoolTag {
    int16_t v;
    bool operator==(const BoolTag&) const = default;
  };
  struct RefTag {
    Variant* target;
    bool typed;
    bool operator==(const RefTag&) const = default;
  };
  using Storage = std::variant<std::monostate, MissingTag, IntegerTag, int32_t, float, double, BoolTag,
                               std::u16string, Ref<desk::Object>, RefTag>;

  // Only the storage kinds: a Variant argument must reach the copy and move constructors.
  template <class T>
    requires(!std::is_same_v<std::remove_cvref_t<T>, Variant>)
  explicit Variant(T&& v) : v_(std::forward<T>(v)) {}

  Storage v_;
};

// Rounds half to even and checks the range, as the run-time's Integer and Long conversions do.
DESK_API int16_t RoundToInteger(double d);
DESK_API int32_t RoundToLong(double d);

}  // namespace desk
