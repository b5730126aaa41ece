// The error report of the web image list, and the trap every reporting procedure runs in.
//
// A trapped failure shows one modal box and the procedure returns its type's default: the
// caller never sees an error. The innermost trap reports; an outer procedure that gets the
// default result goes on as if the call had succeeded with it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "desk/trap.h"

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

// Runs `body`; on a failure reports it under (module, procedure) and returns the result
// type's default. The box is shown after the failure has been caught and unwound, so a host
// that re-enters the library while the box is up finds it in a consistent state.
template <class F>
auto Trap(std::u16string_view module, std::u16string_view procedure, F&& body) -> std::invoke_result_t<F> {
  using R = std::invoke_result_t<F>;
  auto report = [&](desk::TrappedError e) { ReportError({e.number, std::move(e.description), 0}, module, procedure); };
  if constexpr (std::is_void_v<R>) {
    desk::Trap(std::forward<F>(body), report);
  } else {
    std::optional<R> result;
    desk::Trap([&] { result.emplace(std::forward<F>(body)()); }, report);
    return result ? std::move(*result) : R{};
  }
}

}  // namespace Quorvane::mdlError
