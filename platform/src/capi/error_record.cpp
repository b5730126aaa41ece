#include "capi/error_record.h"

#include <exception>
#include <new>

#include "desk/dispatch.h"

namespace desk::capi {

int32_t Fail(desk_error* err, Err e, std::string_view source) {
  return Fail(err, static_cast<int32_t>(e), ErrorText(e), source);
}

int32_t Translate(desk_error* err, std::string_view source) noexcept {
  try {
    throw;
  } catch (const Error& e) {
    return Fail(err, e.Number(), e.Description(), source);
  } catch (const std::bad_alloc&) {
    return Fail(err, Err::OutOfMemory, source);
  } catch (const std::exception& e) {
    return Fail(err, static_cast<int32_t>(Err::InvalidProcedureCall), e.what(), source);
  } catch (...) {
    return Fail(err, Err::InvalidProcedureCall, source);
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
