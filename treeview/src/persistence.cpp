// Settings of the control in the host's property bag.
#include "VarbelTreeview/VarbelTreeviewControl.h"

namespace varbel {

void VarbelTreeviewControl::InitProperties() { desk::Raise(desk::Err::NotSupported); }
void VarbelTreeviewControl::ReadProperties(desk::PropertyBag&) { desk::Raise(desk::Err::NotSupported); }
void VarbelTreeviewControl::WriteProperties(desk::PropertyBag&) { desk::Raise(desk::Err::NotSupported); }

}  // namespace varbel
