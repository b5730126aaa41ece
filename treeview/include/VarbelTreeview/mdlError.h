// The tree library's error report: one line naming the module, the procedure and the number
// of the step that failed, in a plain message box under the library's own title.
#pragma once

#include <cstdint>
#include <string>

namespace varbel::mdlError {

// Records the step a trapping procedure failed at; ReportError reads it.
void RecordFailedStep(int32_t step);
// The text of a report: module, space, procedure, space, step number.
std::u16string ReportText(const std::u16string& moduleName, const std::u16string& procedureName, int32_t step);
// Shows the report for the step last recorded (style 0, no caption given).
void ReportError(const std::u16string& moduleName, const std::u16string& procedureName);

}  // namespace varbel::mdlError
