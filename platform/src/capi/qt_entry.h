// The contract between the run-time's C interface and libDeskQt, compiled by both sides: the
// library hands its entry points as one table through one exported function, so that a
// changed signature fails to build on either side instead of crashing at run time.
#pragma once

#include <cstdint>

#include "desk/desk_c.h"
#include "desk/object.h"

namespace desk::capi {

struct QtEntry {
  uint32_t size = sizeof(QtEntry);  // the run-time refuses a table of another build's layout
  int32_t (*install)(void (*idle)(), desk_error*) = nullptr;
  int32_t (*show)(Object*, const char*, int32_t, int32_t, desk_error*) = nullptr;
  int32_t (*widget)(Object*, void**, desk_error*) = nullptr;
  int32_t (*run)(desk_error*) = nullptr;
  int32_t (*quit)(desk_error*) = nullptr;
  void (*post)() = nullptr;  // asks the loop to run the idle function; any thread
};

// The symbol the run-time looks up in libDeskQt, and its type.
inline constexpr char kQtEntrySymbol[] = "DeskQt_CEntry";

}  // namespace desk::capi

extern "C" DESK_QT_API const desk::capi::QtEntry* DeskQt_CEntry();
using DeskQtEntryFn = decltype(&DeskQt_CEntry);
