#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <new>
#include <system_error>
#include <vector>

#include "desk/process.h"
#include "process/threads.h"

namespace desk {
namespace {

std::atomic<uint64_t> g_generation{0};
std::atomic<bool> g_failStarts[2]{};

// Never destroyed: a thread may start work while the process ends.
std::mutex* const g_owners = new std::mutex;

struct Abandoned {
  std::mutex mu;
  std::vector<std::shared_ptr<const void>> kept;
};
Abandoned* const g_abandoned = new Abandoned;  // reachable for good, so never counted a leak

void BeforeFork() {
  g_owners->lock();
  g_abandoned->mu.lock();
}
void AfterForkInParent() {
  g_abandoned->mu.unlock();
  g_owners->unlock();
}
void AfterForkInChild() {
  // The forking thread took both locks; it is the child's only thread.
  g_abandoned->mu.unlock();
  g_owners->unlock();
  g_generation.fetch_add(1, std::memory_order_relaxed);
}

[[maybe_unused]] const int g_registered = pthread_atfork(&BeforeFork, &AfterForkInParent, &AfterForkInChild);

}  // namespace

uint64_t ProcessGeneration() { return g_generation.load(std::memory_order_relaxed); }

void Abandon(std::shared_ptr<const void> what) {
  if (!what) return;
  std::lock_guard lock(g_abandoned->mu);
  try {
    g_abandoned->kept.push_back(std::move(what));
  } catch (...) {
    // Memory ran out: kept all the same, unreachable.
    static_cast<void>(new (std::nothrow) std::shared_ptr<const void>(std::move(what)));
  }
}

namespace detail {

std::thread StartThread(ThreadRole role, std::function<void()> body) {
  if (g_failStarts[static_cast<int>(role)].load())
    throw std::system_error(EAGAIN, std::generic_category(), "thread start refused (test)");
  return std::thread(std::move(body));
}

void FailThreadStarts(ThreadRole role, bool fail) { g_failStarts[static_cast<int>(role)].store(fail); }

std::mutex& OwnersLock() { return *g_owners; }

}  // namespace detail
}  // namespace desk
