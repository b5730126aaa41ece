#include "desk/picture_job.h"

#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "desk/error.h"
#include "desk/picture_loader.h"
#include "desk/trap.h"

namespace desk {

struct PictureJob::State {
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

// The decoder threads and their queue. Made on first use; the threads end with the process.
class Pool {
 public:
  static Pool& Get() {
    static Pool pool;
    return pool;
  }

  void Queue(std::shared_ptr<PictureJob::State> job) {
    {
      std::lock_guard lock(mu_);
      // One more thread while some are missing and jobs wait: no thread is made for nothing.
      if (threads_.size() < static_cast<size_t>(DecoderThreads()) && idle_ == 0)
        threads_.emplace_back([this] { Work(); });
      queue_.push_back(std::move(job));
    }
    cv_.notify_one();
  }

  ~Pool() {
    {
      std::lock_guard lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    for (auto& t : threads_) t.join();
  }

 private:
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
      Run(*job);
    }
  }

  static void Run(PictureJob::State& job) {
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

  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<PictureJob::State>> queue_;
  std::vector<std::thread> threads_;
  size_t idle_ = 0;
  bool stop_ = false;
};

}  // namespace

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
  Pool::Get().Queue(std::move(state));
  return job;
}

PictureJob::~PictureJob() {
  std::lock_guard lock(state_->mu);
  state_->dropped = true;
  state_->onDone = nullptr;
  if (!state_->started) state_->bytes.reset();  // no thread will read them
}

bool PictureJob::Done() const {
  std::lock_guard lock(state_->mu);
  return state_->done;
}

int32_t PictureJob::Error() const {
  std::lock_guard lock(state_->mu);
  return state_->done ? state_->error : 0;
}

const std::vector<uint8_t>& PictureJob::Bytes() const { return *state_->bytes; }

Ref<Picture> PictureJob::Take(std::vector<uint8_t> encoded) {
  Decoded checked;
  {
    std::lock_guard lock(state_->mu);
    if (!state_->done || state_->taken) Raise(Err::InvalidProcedureCall);
    if (state_->error) Raise(static_cast<Err>(state_->error));
    state_->taken = true;
    checked = std::move(state_->checked);
  }
  return MakePicture(std::move(checked), std::move(encoded));
}

}  // namespace desk
