// The C interface's state: the handles hosts hold, releases deferred while a call is in
// progress, and what a property read in progress keeps at hand. It belongs to the UI thread:
// every entry point checks the thread (UiThread) before it touches any of it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "capi/posted.h"
#include "capi/string_pool.h"
#include "desk/desk_c.h"
#include "desk/object.h"
#include "desk/variant.h"

namespace desk::capi {

// A count the UI thread alone writes and any thread may read (desk_handle_count): plain loads
// and stores, no locked instruction on the path of every handle.
class SharedCount {
 public:
  void Add(int64_t d) { n_.store(n_.load(std::memory_order_relaxed) + d, std::memory_order_relaxed); }
  int64_t Get() const { return n_.load(std::memory_order_relaxed); }

 private:
  std::atomic<int64_t> n_{0};
};

struct State {
  // Handles: references that hosts hold, counted per object so that a handle used after its
  // last release is recognised.
  std::unordered_map<Object*, int64_t> handles;
  // The handle checked last, known to be valid: a host calls the same object many times in a
  // row, and this spares those calls the hash look-up. Cleared when that handle dies.
  Object* lastValid = nullptr;
  SharedCount total;
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
};

// Never destroyed: hosts (an interpreter shutting down) may release handles after static
// destructors have run. Made when the library loads, before any host can call. Not const, so
// that a read loads it again after the member's call instead of keeping it in a register that
// the call's frame would save (as the read's result and error, see State).
[[gnu::visibility("hidden")]] extern State* g_state;
inline State& S() { return *g_state; }

// The UI thread: the first thread that calls in (the one that chooses the platform or makes
// the first object), for the life of the process. The objects, their platform and this state
// are its alone; a call from any other thread is refused before it touches any of them.
[[gnu::visibility("hidden"), gnu::tls_model("initial-exec")]] extern constinit thread_local bool t_uiThread;

// The calling thread is not (yet) known as the UI thread: 0 when it becomes it (no thread
// called in before), otherwise DESK_E_WRONG_THREAD in the record.
[[gnu::noinline, gnu::cold]] int32_t NotUiThread(desk_error* err);

// The thread check of every entry point: 0 on the UI thread, otherwise the refusal.
inline int32_t UiThread(desk_error* err) { return t_uiThread ? 0 : NotUiThread(err); }

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

// A call into the host (an event, a host object's member). Releases the host makes inside are
// deferred like those of a call: the code that called the host is still on the stack. When
// that code runs for the event loop (a Qt event) rather than for a C call, nothing ends by
// flushing them: the loop does, once idle (Drop asked it to).
struct CallbackScope {
  CallbackScope() { ++S().depth; }
  ~CallbackScope() {
    State& s = S();
    if (--s.depth == 0 && !s.deferred.empty() && !LoopWakes()) FlushDeferred();
  }
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;
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

// The answer for a call from another thread, or for a null or stale handle.
int32_t CheckFailed(desk_object* h, desk_error* err);

// The preamble of a call on a handle: 0 and the object behind a handle the host holds, on the
// UI thread; otherwise DESK_E_WRONG_THREAD or 91 in the record.
inline int32_t Check(desk_object* h, desk_error* err, Object*& out) {
  out = reinterpret_cast<Object*>(h);
  if (t_uiThread && h && Valid(out)) [[likely]] return 0;
  return CheckFailed(h, err);
}

// The object behind a handle, or 91 thrown.
Object* CheckOrThrow(desk_object* h);

}  // namespace desk::capi
