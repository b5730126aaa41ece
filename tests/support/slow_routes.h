// Bodies a test server sends slowly, counting the requests in flight, and a wait for what
// other threads make true.
#pragma once

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "support/web_test.h"

namespace testenv {

// Bodies sent a piece at a time, with the number of requests in flight at once recorded. The
// counts live as long as the server's threads use them, whatever the test holds.
class SlowRoutes {
 public:
  // `path` serves `body` in pieces of `piece` bytes, `pause` apart.
  void Serve(testenv::TestServer& server, const std::string& path, std::string body, size_t piece,
             std::chrono::milliseconds pause) {
    server.Routes().Get(path, [s = state_, body = std::move(body), piece, pause](const httplib::Request&, httplib::Response& res) {
      s->Enter();
      res.set_content_provider(
          body.size(), "application/octet-stream",
          [body, piece, pause](size_t offset, size_t, httplib::DataSink& sink) {
            std::this_thread::sleep_for(pause);
            return sink.write(body.data() + offset, std::min(piece, body.size() - offset));
          },
          [s](bool) { s->Leave(); });
    });
  }
  int MostAtOnce() const { return state_->most; }
  int InFlight() const { return state_->inFlight; }
  // Runs on the server's thread as each slow body ends. A test may set it while bodies are in
  // flight, so it is guarded.
  void OnEnd(std::function<void()> f) {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->onEnd = std::move(f);
  }

 private:
  struct State {
    void Enter() {
      const int now = ++inFlight;
      for (int m = most; now > m && !most.compare_exchange_weak(m, now);) {
      }
    }
    void Leave() {
      std::function<void()> f;
      {
        std::lock_guard<std::mutex> lock(mu);
        f = onEnd;
      }
      if (f) f();
      --inFlight;
    }
    std::atomic<int> inFlight{0}, most{0};
    std::mutex mu;
    std::function<void()> onEnd;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Waits until `done()` holds, for `within` at most; false when it never did. What must stop
// soon is given less time than the slow bodies take to end by themselves.
template <class Pred>
bool Eventually(Pred done, std::chrono::milliseconds within = std::chrono::seconds(10)) {
  for (auto end = std::chrono::steady_clock::now() + within; !done() && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return done();
}

}  // namespace testenv
