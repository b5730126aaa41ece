// Trapping procedures: a body whose failure is shown to the user once, by the caller's own
// reporter, and never reaches the caller.
//
// The report comes after the body has been unwound and the exception let go: what the body
// held (its locals, the exception and whatever the exception holds) is released before the
// modal report is shown, so a host that calls back in while the report is up finds no
// half-built state held for the failing call.
#pragma once

#include "desk/export.h"

#include <cstdint>
#include <exception>
#include <string>
#include <type_traits>
#include <utility>

namespace desk {

// A trapped failure as a report shows it.
struct TrappedError {
  int32_t number = 0;
  std::u16string description;
};

// What was thrown, as the platform's number and text: a desk::Error's own; 7 for exhausted
// memory; 5 with the exception's text for any other exception, with the platform's text for
// anything else. Copying the text may itself run out of memory (std::bad_alloc).
DESK_API TrappedError TrappedErrorOf(std::exception_ptr failure);

// Runs `body`. A failure of any kind ends it at the failing statement and is handed to
// `report` once: report(TrappedError) when the reporter takes one, report() otherwise (and
// then nothing is copied out of the exception). A report that itself fails is dropped: there
// is nobody left to tell. True when the body completed.
template <class Body, class Report>
bool Trap(Body&& body, Report&& report) noexcept {
  std::exception_ptr caught;
  try {
    std::forward<Body>(body)();
    return true;
  } catch (...) {
    caught = std::current_exception();
  }
  try {
    if constexpr (std::is_invocable_v<Report&, TrappedError&&>) {
      // The exception goes with its last pointer, at the end of this statement.
      TrappedError e = TrappedErrorOf(std::exchange(caught, nullptr));
      report(std::move(e));
    } else {
      caught = nullptr;
      report();
    }
  } catch (...) {
  }
  return false;
}

}  // namespace desk
