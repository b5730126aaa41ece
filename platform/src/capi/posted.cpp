#include "capi/posted.h"

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "capi/state.h"
#include "desk/error.h"

namespace desk::capi {
namespace {

struct Queue {
  std::mutex lock;
  std::vector<std::pair<desk_post_fn, void*>> calls;
  std::atomic<void (*)()> wake{nullptr};  // set under the lock; read alone where a moment's lag is harmless
  bool woken = false;  // the loop was woken and has not run the calls yet: once is enough
};
// Never destroyed, as the handles' state: a thread may post while the process ends.
Queue* g_queue = new Queue;

// A forked child starts with a queue of its own. The calls queued in the parent are the
// parent's to run (once, there); the parent's queue may have been half-written, or its lock
// held, by a thread that does not exist in the child, so it is left as it is. The event loop
// to wake stays: the child's UI thread is the one that forked.
void AfterForkInChild() {
  auto* fresh = new Queue;
  fresh->wake.store(g_queue->wake.load());
  g_queue = fresh;  // the child's only thread runs this, before it can start another
}
[[maybe_unused]] const int g_forkHandler = pthread_atfork(nullptr, nullptr, &AfterForkInChild);

void ReleaseQueued(void* h) { Drop(static_cast<Object*>(h)); }  // a stale handle is ignored: nobody to tell

void GiveBackString(void* p) {
  if (!S().strings.Give(static_cast<uint16_t*>(p))) std::free(p);
}

}  // namespace

void Post(desk_post_fn fn, void* data) {
  void (*wake)() = nullptr;
  {
    std::lock_guard<std::mutex> hold(g_queue->lock);
    g_queue->calls.emplace_back(fn, data);
    if (!g_queue->woken && g_queue->wake) {
      g_queue->woken = true;
      wake = g_queue->wake;
    }
  }
  if (wake) wake();
}

void RunPosted() {
  std::vector<std::pair<desk_post_fn, void*>> now;
  {
    std::lock_guard<std::mutex> hold(g_queue->lock);
    now.swap(g_queue->calls);
    g_queue->woken = false;
  }
  for (auto& [fn, data] : now) fn(data);
}

void SetWaker(void (*wake)()) {
  std::lock_guard<std::mutex> hold(g_queue->lock);
  g_queue->wake = wake;
  g_queue->woken = false;
}

bool LoopWakes() { return g_queue->wake.load() != nullptr; }

void WakeLoop() {
  if (void (*wake)() = g_queue->wake.load()) wake();
}

void OnIdle() {
  if (S().depth == 0) FlushDeferred();
  RunPosted();
}

int32_t ReleaseLater(desk_object* h) noexcept {
  try {
    Post(&ReleaseQueued, h);
    return 0;
  } catch (...) {
    return static_cast<int32_t>(Err::OutOfMemory);
  }
}

void ClearLater(desk_value* v) noexcept {
  try {
    if (v->kind == DESK_OBJECT && v->u.object) Post(&ReleaseQueued, v->u.object);
    if (v->kind == DESK_STRING) {
      auto* p = const_cast<uint16_t*>(v->u.string.data);
      // A buffer of its own is freed here and now; a slot of the pool goes back on the UI thread.
      if (S().strings.Holds(p))
        Post(&GiveBackString, p);
      else
        std::free(p);
    }
  } catch (...) {
    // Memory ran out: what the value held stays with the library.
  }
  *v = desk_value{};
}

}  // namespace desk::capi
