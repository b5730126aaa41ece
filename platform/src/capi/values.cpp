#include "capi/values.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "desk/error.h"
#include "desk/text.h"

namespace desk::capi {

uint16_t* MallocCString(size_t units) {
  auto* p = static_cast<uint16_t*>(std::malloc(std::max<size_t>(units, 1) * sizeof(uint16_t)));
  if (!p) throw std::bad_alloc();
  return p;
}

namespace {

void FreeCString(uint16_t* p) noexcept {
  if (!S().strings.Give(p)) std::free(p);
}

}  // namespace

Variant FromC(const desk_value& v, Targets* temps) {
  switch (v.kind) {
    case DESK_EMPTY: return Variant();
    case DESK_MISSING: return Variant::Missing();
    case DESK_INTEGER: return Variant::Integer(v.u.integer);
    case DESK_LONG: return Variant::Long(v.u.long_);
    case DESK_SINGLE: return Variant::Single(v.u.single);
    case DESK_DOUBLE: return Variant::Double(v.u.double_);
    case DESK_BOOLEAN: return Variant::BoolRaw(v.u.boolean);
    case DESK_STRING:
      if (v.u.string.length < 0 || (v.u.string.length > 0 && !v.u.string.data))
        Raise(Err::InvalidProcedureCall, u"A string value has a negative length or no data");
      return Variant::String(std::u16string(reinterpret_cast<const char16_t*>(v.u.string.data),
                                            static_cast<size_t>(v.u.string.length)));
    case DESK_OBJECT:
      if (!v.u.object) return Variant::Nothing();
      return Variant::Object(Ref<Object>(CheckOrThrow(v.u.object)));
    case DESK_BYREF: {
      if (!temps) Raise(Err::TypeMismatch, u"A by-reference value is not allowed here");
      if (!v.u.ref) Raise(Err::InvalidProcedureCall, u"A by-reference argument points at no value");
      if (v.u.ref->kind == DESK_BYREF) Raise(Err::TypeMismatch, u"A by-reference argument points at another reference");
      temps->push_back(std::make_unique<Variant>(FromC(*v.u.ref, nullptr)));
      // A target of a definite kind keeps it; an Empty one takes whatever the callee writes.
      return Variant::ByRef(temps->back().get(), v.u.ref->kind != DESK_EMPTY);
    }
    default:
      Raise(Err::TypeMismatch, u"Unknown kind of value " + DecimalText(v.kind));
  }
}

// Cleared, then written field by field into `out`: a whole desk_value built on the stack and
// copied out stalls on reading back the narrow stores it is made of, which cost as much as the
// rest of a property read.
void ToC(const Variant& in, desk_value* out) {
  const Variant& v = in.IsByRef() ? in.Deref() : in;  // results are values: spare the call
  *out = desk_value{};  // no stale bytes of what the caller's value held before
  switch (v.Type()) {
    case VarType::Integer: out->kind = DESK_INTEGER, out->u.integer = v.RawInteger(); return;
    case VarType::Long: out->kind = DESK_LONG, out->u.long_ = v.RawLong(); return;
    case VarType::Single: out->kind = DESK_SINGLE, out->u.single = v.RawSingle(); return;
    case VarType::Double: out->kind = DESK_DOUBLE, out->u.double_ = v.RawDouble(); return;
    case VarType::Boolean: out->kind = DESK_BOOLEAN, out->u.boolean = v.RawBoolean(); return;
    case VarType::String: PutCString(v.RawString(), out); return;
    case VarType::Object: {
      desk_object* h = Issue(v.RawObject().get());
      out->kind = DESK_OBJECT;
      out->u.object = h;
      return;
    }
    case VarType::Missing: out->kind = DESK_MISSING; return;
    case VarType::Empty:
    case VarType::ByRef:
    case VarType::Any: return;  // Empty, as cleared above (Deref and tables never give the last two)
  }
}

void ClearC(desk_value* v) {
  if (!v) return;
  if (v->kind == DESK_STRING) FreeCString(const_cast<uint16_t*>(v->u.string.data));
  if (v->kind == DESK_OBJECT && v->u.object) Drop(reinterpret_cast<Object*>(v->u.object));
  *v = desk_value{};
}

void ClearOwned(desk_value* v) { ClearC(v); }

}  // namespace desk::capi
