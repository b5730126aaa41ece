#include "capi/error_record.h"

#include <exception>

#include "desk/dispatch.h"
#include "desk/trap.h"

namespace desk::capi {

// The numbers desk_c.h names for hosts are the run-time's own.
static_assert(DESK_E_INVALID_CALL == static_cast<int32_t>(Err::InvalidProcedureCall));
static_assert(DESK_E_OVERFLOW == static_cast<int32_t>(Err::Overflow));
static_assert(DESK_E_OUT_OF_MEMORY == static_cast<int32_t>(Err::OutOfMemory));
static_assert(DESK_E_TYPE_MISMATCH == static_cast<int32_t>(Err::TypeMismatch));
static_assert(DESK_E_OBJECT_NOT_SET == static_cast<int32_t>(Err::ObjectNotSet));
static_assert(DESK_E_CANT_CREATE == static_cast<int32_t>(Err::CantCreateObject));
static_assert(DESK_E_NOT_SUPPORTED == static_cast<int32_t>(Err::NotSupported));
static_assert(DESK_E_WRONG_THREAD == static_cast<int32_t>(Err::WrongThread));

int32_t Fail(desk_error* err, Err e, std::string_view source) {
  return Fail(err, static_cast<int32_t>(e), ErrorText(e), source);
}

int32_t Translate(desk_error* err, std::string_view source) noexcept {
  try {
    TrappedError e = TrappedErrorOf(std::current_exception());
    return Fail(err, e.number, e.description, source);
  } catch (...) {  // copying the failure's text ran out of memory
    return Fail(err, Err::OutOfMemory, source);
  }
}

std::string SourceOf(Object* o) noexcept {
  try {
    return o ? o->Interface().name : std::string(kSource);
  } catch (...) {
    return std::string(kSource);
  }
}

}  // namespace desk::capi
