// The tree library's error report: one line naming the module, the procedure and the number
// of the step that failed, in a plain message box under the library's own title. Neither the
// error's number nor its description is shown.
#pragma once

#include <cstdint>
#include <string>

namespace varbel::mdlError {

// Records the step a trapping procedure failed at; ReportError reads it.
void RecordFailedStep(int32_t step);
// Shows "<module> <procedure> <step>" for the step last recorded: style 0, no caption given,
// so the box carries the library's title. Blocks while the box is shown.
void ReportError(const std::u16string& moduleName, const std::u16string& procedureName);

}  // namespace varbel::mdlError
