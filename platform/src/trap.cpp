#include "desk/trap.h"

#include <new>

#include "desk/error.h"
#include "desk/text.h"

namespace desk {

TrappedError TrappedErrorOf(std::exception_ptr failure) {
  try {
    std::rethrow_exception(std::move(failure));
  } catch (const Error& e) {
    return {e.Number(), e.Description()};
  } catch (const std::bad_alloc&) {
    return {static_cast<int32_t>(Err::OutOfMemory), ErrorText(Err::OutOfMemory)};
  } catch (const std::exception& e) {
    return {static_cast<int32_t>(Err::InvalidProcedureCall), U16(e.what())};
  } catch (...) {
    return {static_cast<int32_t>(Err::InvalidProcedureCall), ErrorText(Err::InvalidProcedureCall)};
  }
}

}  // namespace desk
