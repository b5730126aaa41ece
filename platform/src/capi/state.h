// The C interface's state: the handles hosts hold, releases deferred while a call is in
// progress, and what a property read in progress keeps at hand. One thread, the one that
// created the objects.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "capi/string_pool.h"
#include "desk/desk_c.h"
#include "desk/object.h"
#include "desk/variant.h"

namespace desk::capi {

struct State {
  // Handles: references that hosts hold, counted per object so that a handle used after its
  // last release is recognised.
  std::unordered_map<Object*, int64_t> handles;
  // The handle checked last, known to be valid: a host calls the same object many times in a
  // row, and this spares those calls the hash look-up. Cleared when that handle dies.
  Object* lastValid = nullptr;
  int64_t total = 0;
  int depth = 0;                  // C calls in progress
  std::vector<Object*> deferred;  // releases made while a call was in progress
  // The (empty) argument list lent to an outermost call without arguments, so that a property
  // read builds none (a call made from inside it makes its own).
  std::vector<Variant> noArgs;
  // Where the outermost read in progress puts its result and error: kept here rather than in
  // registers across the member's call, which spares that call's frame most of its saves.
  desk_value* readResult = nullptr;
  desk_error* readErr = nullptr;
  Object* readObject = nullptr;
  ShortStrings strings;
  // Asks a running event loop to flush the deferred releases when it is idle (the Qt
  // platform's, once it is loaded).
  void (*post)() = nullptr;
};

// Never destroyed: hosts (an interpreter shutting down) may release handles after static
// destructors have run. Made when the library loads, before any host can call. Not const, so
// that a read loads it again after the member's call instead of keeping it in a register that
// the call's frame would save (as the read's result and error, see State).
[[gnu::visibility("hidden")]] extern State* g_state;
inline State& S() { return *g_state; }

// Gives back the releases deferred while a call was in progress.
void FlushDeferred();

// Marks a C call in progress. A host that releases an object from inside a callback (an event
// handler dropping its control) must not destroy it under the code that raised the event: such
// releases wait until the outermost call returns (or, in an event loop, until it is idle).
struct CallScope {
  CallScope() { ++S().depth; }
  ~CallScope() {
    State& s = S();
    if (--s.depth == 0 && !s.deferred.empty()) FlushDeferred();
  }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;
};

// A new handle reference to `o` for the host (null for null).
desk_object* Issue(Object* o);

// Gives back one handle reference; false when the handle holds none. While a call is in
// progress the object's own release waits for it (see CallScope).
bool Drop(Object* o);

inline constexpr std::u16string_view kStaleHandle =
    u"The object handle is not valid: it was released or never given out";

bool ValidSlow(Object* o);
inline bool Valid(Object* o) { return o == S().lastValid || ValidSlow(o); }

// The answer for a null or stale handle.
int32_t CheckFailed(desk_object* h, desk_error* err);

// 0 and the object behind a handle the host holds; otherwise 91 in the record.
inline int32_t Check(desk_object* h, desk_error* err, Object*& out) {
  out = reinterpret_cast<Object*>(h);
  if (h && Valid(out)) return 0;
  return CheckFailed(h, err);
}

// The object behind a handle, or 91 thrown.
Object* CheckOrThrow(desk_object* h);

}  // namespace desk::capi
