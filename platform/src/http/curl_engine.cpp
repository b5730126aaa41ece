#include "http/curl_engine.h"

#include <algorithm>

#include "desk/process.h"
#include "process/threads.h"

namespace desk::http::detail {

namespace {
// A body's announced length reserves its memory at once, up to this much: a server that
// announces more than it sends costs no more than this.
constexpr uint64_t kLargestReservation = uint64_t{64} * 1024 * 1024;
}  // namespace

class Engine::Job final : public EasyTransfer {
 public:
  Job(const Options& opt, const Checks& checks, std::shared_ptr<Share> share, const std::string& target,
      const std::string& agent, std::function<void()> onEnd)
      : EasyTransfer(opt, checks, std::move(share), target, agent), onEnd_(std::move(onEnd)) {
    // Transfers started together to one https server wait for its first connection to tell
    // whether it speaks HTTP/2, and then share it instead of each opening one. Plain http is
    // HTTP/1.1: waiting would only hold them back.
    if (Easy() && target.starts_with("https:")) curl_easy_setopt(Easy(), CURLOPT_PIPEWAIT, 1L);
  }

  // Transfer thread, once: the end, handed over with the body; then the caller is told.
  void End(bool ok) {
    Finish(ok);
    std::lock_guard lock(mu_);
    ended_ = true;
    succeeded_ = !Failed();
    if (!succeeded_) std::vector<uint8_t>().swap(body_);
    if (onEnd_) onEnd_();
  }

  // Caller's thread: no call of onEnd after this returns.
  void Drop() {
    std::lock_guard lock(mu_);
    onEnd_ = nullptr;
  }

  bool Ended() const {
    std::lock_guard lock(mu_);
    return ended_;
  }
  bool Succeeded() const {
    std::lock_guard lock(mu_);
    return ended_ && succeeded_;
  }
  std::vector<uint8_t> TakeBody() {
    std::lock_guard lock(mu_);
    if (!ended_ || !succeeded_) return {};
    return std::move(body_);
  }
  Transfer::Progress Seen() const {
    std::lock_guard lock(mu_);
    return seen_;
  }

 private:
  bool Keep(const char* data, size_t bytes) noexcept override {
    Transfer::Progress seen;
    try {
      if (body_.empty()) {
        curl_off_t length = -1;
        if (curl_easy_getinfo(Easy(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length > 0)
          seen.announced = static_cast<uint64_t>(length);
        long version = 0;
        curl_easy_getinfo(Easy(), CURLINFO_HTTP_VERSION, &version);
        seen.multiplexed = version == CURL_HTTP_VERSION_2_0 || version == CURL_HTTP_VERSION_3;
        body_.reserve(static_cast<size_t>(std::min({seen.announced, opt_.maxBodyBytes, kLargestReservation})));
      }
      const auto* bytesIn = reinterpret_cast<const uint8_t*>(data);
      body_.insert(body_.end(), bytesIn, bytesIn + bytes);  // as bytes: one memcpy
    } catch (...) {
      return false;  // memory ran out: the transfer fails
    }
    std::lock_guard lock(mu_);
    if (seen_.received == 0) seen_.announced = seen.announced, seen_.multiplexed = seen.multiplexed;
    seen_.received += bytes;
    return true;
  }

  mutable std::mutex mu_;  // guards the fields below once the transfer runs
  std::function<void()> onEnd_;
  bool ended_ = false;
  bool succeeded_ = false;
  Transfer::Progress seen_;
  std::vector<uint8_t> body_;  // written by the transfer thread alone until it ended
};

// What the caller holds: dropping it stops the transfer.
class Engine::Handle final : public Transfer {
 public:
  Handle(std::shared_ptr<Engine> engine, std::shared_ptr<Job> job) : engine_(std::move(engine)), job_(std::move(job)) {}
  ~Handle() override {
    if (!Mine()) {
      // The parent's transfer, in a forked child. Its lock may have been held by the parent's
      // transfer thread at the fork, and cleaning its easy handle up would close (for TLS:
      // write a close notice on) a connection the parent is still reading: kept, untouched.
      Abandon(std::move(job_));
      Abandon(std::move(engine_));
      return;
    }
    job_->Drop();
    if (engine_ && !job_->Ended()) engine_->Cancel(job_);
  }
  // In a forked child the parent's transfer has ended, failed: its thread is not here.
  bool Done() const override { return !Mine() || job_->Ended(); }
  bool Succeeded() const override { return Mine() && job_->Succeeded(); }
  std::vector<uint8_t> TakeBody() override { return Mine() ? job_->TakeBody() : std::vector<uint8_t>(); }
  Progress Seen() const override { return Mine() ? job_->Seen() : Progress{}; }

 private:
  bool Mine() const { return !engine_ || engine_->Mine(); }

  std::shared_ptr<Engine> engine_;  // null for a transfer that could not start
  std::shared_ptr<Job> job_;
};

Engine::Engine() : generation_(ProcessGeneration()) { multi_ = curl_multi_init(); }

Engine::~Engine() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  if (thread_.joinable()) {
    curl_multi_wakeup(multi_);
    thread_.join();
  }
  for (auto& job : running_) curl_multi_remove_handle(multi_, job->Easy());
  running_.clear();
  if (multi_) curl_multi_cleanup(multi_);
}

bool Engine::Mine() const { return generation_ == ProcessGeneration(); }

std::unique_ptr<Transfer> Engine::Start(const Options& opt, const Checks& checks, std::shared_ptr<Share> share,
                                        const std::string& target, const std::string& agent,
                                        std::function<void()> onEnd) {
  auto job = std::make_shared<Job>(opt, checks, std::move(share), target, agent, std::move(onEnd));
  if (!multi_ || !job->SetUp()) {
    // Never started: it ends at once, failed, as a request that could not be made.
    job->End(false);
    return std::make_unique<Handle>(nullptr, std::move(job));
  }
  {
    std::lock_guard lock(mu_);
    if (!serving_) {
      // First use, or the thread ended (it ran out of memory): started (again).
      try {
        if (thread_.joinable()) thread_.join();  // it let go of the lock for good
        thread_ = desk::detail::StartThread(desk::detail::ThreadRole::Transfers, [this] { Run(); });
        serving_ = true;
      } catch (...) {
        job->Drop();  // never started, never ends: the caller reads the URL itself
        return nullptr;
      }
    }
    adds_.push_back(job);
  }
  curl_multi_wakeup(multi_);
  return std::make_unique<Handle>(shared_from_this(), std::move(job));
}

void Engine::Cancel(const std::shared_ptr<Job>& job) {
  {
    std::lock_guard lock(mu_);
    cancels_.push_back(job);
  }
  curl_multi_wakeup(multi_);
}

void Engine::Remove(Job& job) {
  auto it = std::find_if(running_.begin(), running_.end(), [&](const auto& j) { return j.get() == &job; });
  if (it == running_.end()) return;
  curl_multi_remove_handle(multi_, job.Easy());
  running_.erase(it);
}

void Engine::Run() {
  try {
    Serve();
  } catch (...) {
    // Memory ran out on this thread: every transfer it had ends, failed, and the thread with
    // them; the next Start starts another.
    std::vector<std::shared_ptr<Job>> ending;
    {
      std::lock_guard lock(mu_);
      serving_ = false;
      ending.swap(adds_);
      cancels_.clear();
    }
    for (auto& job : running_) curl_multi_remove_handle(multi_, job->Easy());
    for (auto& job : running_) job->End(false);
    for (auto& job : ending) job->End(false);
    running_.clear();
  }
}

void Engine::Serve() {
  for (;;) {
    std::vector<std::shared_ptr<Job>> adds, cancels;
    {
      std::lock_guard lock(mu_);
      if (stop_) return;
      adds.swap(adds_);
      cancels.swap(cancels_);
    }
    for (auto& job : adds) {
      if (curl_multi_add_handle(multi_, job->Easy()) == CURLM_OK) running_.push_back(job);
      else job->End(false);
    }
    // A transfer dropped before it was added is in both lists: added, then taken out here.
    for (auto& job : cancels) Remove(*job);
    if (running_.empty()) {
      curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
      continue;
    }
    int stillRunning = 0;
    const bool performed = curl_multi_perform(multi_, &stillRunning) == CURLM_OK;
    int left = 0;
    while (CURLMsg* m = curl_multi_info_read(multi_, &left)) {
      if (m->msg != CURLMSG_DONE) continue;
      void* self = nullptr;
      curl_easy_getinfo(m->easy_handle, CURLINFO_PRIVATE, &self);
      auto it = std::find_if(running_.begin(), running_.end(),
                             [&](const auto& j) { return static_cast<EasyTransfer*>(j.get()) == self; });
      if (it == running_.end()) continue;
      std::shared_ptr<Job> job = *it;
      const bool ok = m->data.result == CURLE_OK;
      Remove(*job);  // m points into the multi handle's memory: read before this
      job->End(ok);
    }
    // The clocks; a transfer that curl no longer runs without a word ends as failed.
    const auto now = Clock::now();
    std::chrono::milliseconds wait(1000);
    for (size_t i = 0; i < running_.size();) {
      std::shared_ptr<Job> job = running_[i];
      std::chrono::milliseconds w(1000);
      if (!performed || stillRunning == 0 || !job->InTime(now, w)) {
        Remove(*job);
        job->End(false);
        continue;
      }
      wait = std::min(wait, w);
      ++i;
    }
    curl_multi_poll(multi_, nullptr, 0, static_cast<int>(wait.count()), nullptr);
  }
}

}  // namespace desk::http::detail
