// Calls queued for the UI thread from any thread (desk_post), and what another thread gives
// back (a handle, a value's string or object), which only the UI thread may touch. They run on
// the UI thread at its next desk_do_events, or from the event loop once it is idle (the Qt
// platform's, which is woken for them).
#pragma once

#include <cstdint>

#include "desk/desk_c.h"

namespace desk::capi {

// Queues fn(data); safe from any thread. Throws std::bad_alloc when memory runs out.
void Post(desk_post_fn fn, void* data);

// Runs the calls queued so far, in the order they were queued; on the UI thread. A call queued
// meanwhile (by one of them, or by another thread) waits for the next run.
void RunPosted();

// The event loop to wake when a call is queued (any thread may call it), or null.
void SetWaker(void (*wake)());
// Whether there is such a loop; and waking it, so that it runs OnIdle (no-op without one).
bool LoopWakes();
void WakeLoop();

// What the event loop runs on the UI thread once it is idle: the releases deferred by calls
// (when none is in progress any more) and the posted calls.
void OnIdle();

// Another thread's desk_release and desk_value_clear: what they give back, queued.
int32_t ReleaseLater(desk_object* h) noexcept;
void ClearLater(desk_value* v) noexcept;

}  // namespace desk::capi
