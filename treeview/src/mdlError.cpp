#include "mdlError.h"

#include "VarbelTreeviewControl.h"
#include "desk/platform.h"
#include "desk/text.h"

namespace varbel::mdlError {

namespace {
thread_local int32_t g_failedStep = 0;
}

void RecordFailedStep(int32_t step) { g_failedStep = step; }

void ReportError(const std::u16string& moduleName, const std::u16string& procedureName) {
  std::u16string text = moduleName + u" " + procedureName + u" ";
  text += desk::DecimalText(g_failedStep);  // read last, just before the box is shown
  desk::CurrentPlatform().MessageBox({std::move(text), 0, std::nullopt, kAppTitle});
}

}  // namespace varbel::mdlError
