#include "capi/error_record.h"

#include <exception>

#include "desk/dispatch.h"
#include "desk/trap.h"

namespace desk::capi {

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
