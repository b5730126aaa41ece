// The run-time's own threads: started through here so that a test can make their start fail,
// as it fails when the process is out of threads; and the lock that swaps a parent's workers
// for a forked child's own.
#pragma once

#include <functional>
#include <mutex>
#include <thread>

#include "autotest_export.h"

namespace desk::detail {

enum class ThreadRole { Transfers, Decoders };

// A new thread running `body`; throws std::system_error, as std::thread does, when it cannot
// be started.
std::thread StartThread(ThreadRole role, std::function<void()> body);

// Tests: while set, every start of a thread for `role` fails as when the process is out of
// threads.
DESK_AUTOTEST_API void FailThreadStarts(ThreadRole role, bool fail);

// Tests: the decoder threads end (after the job at hand) and the next job starts the pool
// afresh, as a forked child does; jobs still queued are never run.
DESK_AUTOTEST_API void StartDecodersAfresh();

// Held briefly where a worker is made or swapped for a child's own; fork() never leaves it
// held in the child (it is taken around fork).
std::mutex& OwnersLock();

}  // namespace desk::detail
