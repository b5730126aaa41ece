// The Qt platform as the C interface reaches it: libDeskQt, loaded on demand by
// desk_use_platform("qt") through the entry points it exports for this interface.
#pragma once

#include <cstdint>

#include "desk/desk_c.h"
#include "desk/object.h"

namespace desk::capi {

struct QtEntry {
  int32_t (*install)(void (*idle)(), desk_error*) = nullptr;
  int32_t (*show)(Object*, const char*, int32_t, int32_t, desk_error*) = nullptr;
  int32_t (*widget)(Object*, void**, desk_error*) = nullptr;
  int32_t (*run)(desk_error*) = nullptr;
  int32_t (*quit)(desk_error*) = nullptr;
  void (*post)() = nullptr;  // asks the loop to run the idle function; any thread
};

// Makes the Qt platform current: loads the library the first time (it stays loaded once its
// entry points are taken) and installs its platform. 0, or the error number in the record.
int32_t UseQt(desk_error* err);
// The headless platform is current again.
void LeaveQt();

// 0 and the entry points while the Qt platform is current; otherwise 5 in the record.
int32_t NeedQt(desk_error* err, const QtEntry*& out);

}  // namespace desk::capi
