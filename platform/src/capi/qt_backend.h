// The Qt platform as the C interface reaches it: libDeskQt, loaded on demand by
// desk_use_platform("qt"), through the one table of entry points it exports (qt_entry.h).
#pragma once

#include <cstdint>

#include "capi/qt_entry.h"
#include "desk/desk_c.h"

namespace desk::capi {

// Makes the Qt platform current: loads the library the first time (it stays loaded once its
// entry points are taken) and installs its platform. 0, or the error number in the record.
int32_t UseQt(desk_error* err);
// The headless platform is current again.
void LeaveQt();

// 0 and the entry points while the Qt platform is current; otherwise 5 in the record.
int32_t NeedQt(desk_error* err, const QtEntry*& out);

}  // namespace desk::capi
