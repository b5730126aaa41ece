#include "desk/picture_job.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "desk/error.h"
#include "desk/picture_loader.h"
#include "desk/process.h"
#include "desk/trap.h"
#include "process/threads.h"

namespace desk {

struct PictureJob::State {
  const uint64_t generation = ProcessGeneration();  // the process whose decoders run it
  std::mutex mu;  // guards what follows once the job is queued
  std::shared_ptr<const std::vector<uint8_t>> bytes;  // read unlocked once started
  std::function<void()> onDone;
  bool done = false;
  bool dropped = false;
  bool started = false;  // a decoder thread reads the bytes
  bool taken = false;
  int32_t error = 0;
  Decoded checked;
};

namespace {

// Checks the job's bytes on the calling thread, unless it was dropped before it started.
void RunJob(PictureJob::State& job) {
  {
    std::lock_guard lock(job.mu);
    if (job.dropped) return;
    job.started = true;
  }
  Decoded checked;
  int32_t error = 0;
  try {
    checked = CheckPicture(*job.bytes);
  } catch (...) {
    // Whatever a decoder throws is the job's error, never the end of the process.
    try {
      error = TrappedErrorOf(std::current_exception()).number;
    } catch (...) {
      error = static_cast<int32_t>(Err::OutOfMemory);  // its text could not be copied
    }
  }
  std::lock_guard lock(job.mu);
  job.checked = std::move(checked);
  job.error = error;
  job.done = true;
  if (job.onDone && !job.dropped) job.onDone();
}

// The decoder threads of one process and their queue. Made on first use, and again on first
// use in a forked child: the parent's threads do not exist there, and its lock may have been
// held by one of them at the fork.
class Pool {
 public:
  static Pool& Get() {
    Pool* p = current_.load(std::memory_order_acquire);
    if (p && p->generation_ == ProcessGeneration()) return *p;
    std::lock_guard lock(detail::OwnersLock());
    p = current_.load();
    if (!p || p->generation_ != ProcessGeneration()) {
      // The parent's pool is kept untouched, and never destroyed: that would wait for its
      // threads.
      if (p) Abandon(std::shared_ptr<const Pool>(p, [](const Pool*) {}));
      p = new Pool;
      current_.store(p, std::memory_order_release);
    }
    return *p;
  }

  // False when no decoder thread serves the queue (none could be started): the caller then
  // checks the bytes itself.
  bool Queue(std::shared_ptr<PictureJob::State> job) {
    {
      std::lock_guard lock(mu_);
      // One more thread while some are missing and jobs wait: no thread is made for nothing.
      if (threads_.size() < static_cast<size_t>(DecoderThreads()) && idle_ == 0) {
        try {
          threads_.push_back(detail::StartThread(detail::ThreadRole::Decoders, [this] { Work(); }));
        } catch (...) {
          // Out of threads: the ones there are serve the queue, if any.
          if (threads_.empty()) return false;
        }
      }
      queue_.push_back(std::move(job));
    }
    cv_.notify_one();
    return true;
  }

 private:
  Pool() { threads_.reserve(kMostDecoderThreads); }  // a started thread is always kept

  void Work() {
    for (;;) {
      std::shared_ptr<PictureJob::State> job;
      {
        std::unique_lock lock(mu_);
        ++idle_;
        cv_.wait(lock, [&] { return stop_ || !queue_.empty(); });
        --idle_;
        if (stop_) return;
        job = std::move(queue_.front());
        queue_.pop_front();
      }
      RunJob(*job);
    }
  }

  void Stop() {
    {
      std::lock_guard lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    for (auto& t : threads_) t.join();
  }

 public:
  static void StartAfresh() {
    std::lock_guard lock(detail::OwnersLock());
    Pool* p = current_.exchange(nullptr);
    if (!p) return;
    p->Stop();
    Abandon(std::shared_ptr<const Pool>(p));
  }

 private:
  // The process's own pool, at its end: the threads finish the job at hand and are joined
  // before the decoders' libraries go.
  struct Stopper {
    ~Stopper() {
      Pool* p = current_.load();
      if (p && p->generation_ == ProcessGeneration()) p->Stop();
    }
  };

  static inline std::atomic<Pool*> current_{nullptr};
  static inline Stopper stopper_;

  const uint64_t generation_ = ProcessGeneration();
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<PictureJob::State>> queue_;
  std::vector<std::thread> threads_;
  size_t idle_ = 0;
  bool stop_ = false;
};

}  // namespace

void detail::StartDecodersAfresh() { Pool::StartAfresh(); }

int DecoderThreads() {
  static const int n = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    int cores = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
    if (cores <= 0) cores = static_cast<int>(std::thread::hardware_concurrency());
    return std::clamp(cores, 1, kMostDecoderThreads);
  }();
  return n;
}

PictureJob::PictureJob(std::shared_ptr<State> state) : state_(std::move(state)) {}

std::shared_ptr<PictureJob> PictureJob::Start(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                              std::function<void()> onDone) {
  auto state = std::make_shared<State>();
  state->bytes = std::move(bytes);
  state->onDone = std::move(onDone);
  std::shared_ptr<PictureJob> job(new PictureJob(state));
  if (!Pool::Get().Queue(state)) RunJob(*state);
  return job;
}

PictureJob::State& PictureJob::Own() const {
  if (state_->generation != ProcessGeneration()) {
    // A job of the parent's, in a forked child: its decoder thread does not exist here and its
    // lock may have been held at the fork. It is done again here, on the calling thread.
    auto fresh = std::make_shared<State>();
    fresh->bytes = state_->bytes;
    Abandon(std::exchange(state_, fresh));
    RunJob(*state_);
  }
  return *state_;
}

PictureJob::~PictureJob() {
  if (state_->generation != ProcessGeneration()) {
    Abandon(std::move(state_));
    return;
  }
  std::lock_guard lock(state_->mu);
  state_->dropped = true;
  state_->onDone = nullptr;
  if (!state_->started) state_->bytes.reset();  // no thread will read them
}

bool PictureJob::Done() const {
  State& s = Own();
  std::lock_guard lock(s.mu);
  return s.done;
}

int32_t PictureJob::Error() const {
  State& s = Own();
  std::lock_guard lock(s.mu);
  return s.done ? s.error : 0;
}

const std::vector<uint8_t>& PictureJob::Bytes() const { return *state_->bytes; }

Ref<Picture> PictureJob::Take(std::vector<uint8_t> encoded) {
  Decoded checked;
  {
    State& s = Own();
    std::lock_guard lock(s.mu);
    if (!s.done || s.taken) Raise(Err::InvalidProcedureCall);
    if (s.error) Raise(static_cast<Err>(s.error));
    s.taken = true;
    checked = std::move(s.checked);
  }
  return MakePicture(std::move(checked), std::move(encoded));
}

}  // namespace desk
