// The process the run-time's threads belong to.
//
// The transfer thread, the decoder threads and the queue of calls posted to the UI thread
// belong to the process that started them. A child of fork() has none of the parent's
// threads, so it starts its own on first use; what the parent had in flight is the parent's
// alone: the child neither waits for it nor tears it down (which would wait for a thread that
// does not exist in the child, or touch a connection the parent still uses).
#pragma once

#include "desk/export.h"

#include <cstdint>
#include <memory>

namespace desk {

// Changes in the child of each fork(). Work started under another value is the parent's.
DESK_API uint64_t ProcessGeneration();

// Keeps `what` for the rest of the process without ever destroying it: an object of the
// parent's that a forked child may neither use nor destroy. Costs its memory, once per fork.
DESK_API void Abandon(std::shared_ptr<const void> what);

}  // namespace desk
