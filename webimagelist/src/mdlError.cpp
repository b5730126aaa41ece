#include "mdlError.h"

#include "desk/platform.h"
#include "desk/text.h"

namespace Quorvane::mdlError {

std::u16string ComposeReport(const ErrorRecord& e, std::u16string_view module, std::u16string_view procedure) {
  std::u16string text = u"Error";
  text += u"\r\nModule : ";
  text += module;
  text += u"\r\nFunction : ";
  text += procedure;
  text += u"\r\nError Number : ";
  text += desk::DecimalText(e.Number);
  text += u"\r\nError Description : ";
  text += e.Description;
  text += u"\r\nError Line : ";
  text += desk::DecimalText(e.Line);
  return text;
}

void ReportError(const ErrorRecord& e, std::u16string_view module, std::u16string_view procedure) {
  desk::MessageBoxRequest box;
  box.text = ComposeReport(e, module, procedure);
  box.style = kReportStyle;
  box.caption = kReportCaption;
  box.appTitle = u"Quorvane";
  desk::CurrentPlatform().MessageBox(box);
}

}  // namespace Quorvane::mdlError
