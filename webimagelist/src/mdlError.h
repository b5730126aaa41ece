// The error report of the web image list, and the trap every reporting procedure runs in.
//
// A trapped failure shows one modal box and the procedure returns its type's default: the
// caller never sees an error. The innermost trap reports; an outer procedure that gets the
// default result goes on as if the call had succeeded with it.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace Quorvane::mdlError {

// The failure as the report shows it. No procedure of this library is numbered: Line is 0.
struct ErrorRecord {
  int32_t Number = 0;
  std::u16string Description;
  int32_t Line = 0;
};

inline constexpr int32_t kReportStyle = 16;  // critical-stop icon, OK only
inline constexpr char16_t kReportCaption[] = u"שגיאה מערכתית";

// The six lines of the report, joined by CR LF, no trailing line break.
std::u16string ComposeReport(const ErrorRecord& e, std::u16string_view module, std::u16string_view procedure);

// Shows the report in a modal box on the current platform.
void ReportError(const ErrorRecord& e, std::u16string_view module, std::u16string_view procedure);

// The record of a caught failure: a desk::Error's number and text; 7 for exhausted memory;
// 5 with the exception's text for anything else.
ErrorRecord RecordOf(std::exception_ptr failure);

// Runs `body`; on a failure reports it under (module, procedure) and returns the result
// type's default. The box is shown after the failure has been caught and unwound, so a host
// that re-enters the library while the box is up finds it in a consistent state.
template <class F>
auto Trap(std::u16string_view module, std::u16string_view procedure, F&& body) -> std::invoke_result_t<F> {
  using R = std::invoke_result_t<F>;
  std::exception_ptr failure;
  try {
    if constexpr (std::is_void_v<R>) {
      std::forward<F>(body)();
      return;
    } else {
      return std::forward<F>(body)();
    }
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    ReportError(RecordOf(failure), module, procedure);
  } catch (...) {
    // The report is the last word on this failure: a host whose box itself failed gets no
    // second one.
  }
  if constexpr (!std::is_void_v<R>) return R{};
}

}  // namespace Quorvane::mdlError
