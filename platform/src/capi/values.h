// C values (desk_value) and the run-time's Variant, each way. A value handed out owns its
// string (from the pool in string_pool.h, or malloc) and its handle; ClearC gives both back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "capi/state.h"
#include "desk/desk_c.h"
#include "desk/variant.h"

namespace desk::capi {

// The buffer of a string handed out (never empty, so that a zero-length string has data too).
// A buffer of its own, for a string too long for the pool or while every slot is out.
[[gnu::noinline]] uint16_t* MallocCString(size_t units);

// A string handed out as `out`: a short one (a separator, a key, a caption) copied unit by
// unit into a slot of the pool, a long one into a buffer of its own. Inline: it lies on the
// path of every string read.
[[gnu::always_inline]] inline void PutCString(const std::u16string& s, desk_value* out) {
  const size_t n = s.size();
  uint16_t* p = S().strings.Take(n);
  if (p) {
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint16_t>(s[i]);
  } else {
    p = MallocCString(n);
    if (n != 0) std::memcpy(p, s.data(), n * sizeof(uint16_t));
  }
  out->kind = DESK_STRING;
  out->u.string.data = p;
  out->u.string.length = static_cast<int32_t>(n);
}

// Copies of by-reference targets during a call, each in its own box so that a reference into
// one stays valid however many more are added.
using Targets = std::vector<std::unique_ptr<Variant>>;

// A C value as a Variant. A by-reference value becomes a reference to a copy of its target,
// kept in `temps` (not allowed where `temps` is null).
Variant FromC(const desk_value& v, Targets* temps);

// A Variant as an owned C value (a copied string, a new handle), overwriting `out`.
void ToC(const Variant& in, desk_value* out);

// Gives back what a value owns and empties it.
void ClearC(desk_value* v);
// The same, out of the way of desk_value_clear's scalar path.
[[gnu::noinline]] void ClearOwned(desk_value* v);

// The result of a call as the caller's value: scalars and strings written here, the rest by ToC.
[[gnu::always_inline]] inline void ResultToC(const Variant& r, desk_value* out) {
  *out = desk_value{};
  // Tested in turn rather than through a jump table: a property read's result is nearly always
  // one of the first few, and a compare costs less than an indirect jump.
  const VarType t = r.Type();
  if (t == VarType::Integer) {
    out->kind = DESK_INTEGER, out->u.integer = r.RawInteger();
  } else if (t == VarType::Boolean) {
    out->kind = DESK_BOOLEAN, out->u.boolean = r.RawBoolean();
  } else if (t == VarType::Long) {
    out->kind = DESK_LONG, out->u.long_ = r.RawLong();
  } else if (t == VarType::String) {
    PutCString(r.RawString(), out);
  } else if (t != VarType::Empty) {
    ToC(r, out);
  }
}

}  // namespace desk::capi
