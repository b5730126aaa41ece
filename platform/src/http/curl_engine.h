// The libcurl client's transfer thread: one multi handle runs every Transfer the client's
// sessions start, so that they overlap (HTTP/1.1 connections to one host side by side, or
// HTTP/2 streams on one connection) and move on while the caller paints or decodes.
//
// The thread is the only one that touches the multi handle and the running easy handles;
// callers reach it through a queue and curl_multi_wakeup. A transfer's body and end are
// handed over under the transfer's own lock.
//
// An engine belongs to the process that made it. In a forked child its transfers read as
// ended and failed, are never waited for, and are never torn down there (see ~Handle); the
// child's client makes an engine of its own.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "desk/http.h"
#include "http/curl_easy.h"

namespace desk::http::detail {

class Engine : public std::enable_shared_from_this<Engine> {
 public:
  Engine();
  // Stops every transfer still running, then the thread.
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // A GET of `target` (already checked: RequestTarget) on the transfer thread; null when the
  // thread could not be started.
  std::unique_ptr<Transfer> Start(const Options& opt, const Checks& checks, std::shared_ptr<Share> share,
                                  const std::string& target, const std::string& agent, std::function<void()> onEnd);

 private:
  class Job;
  class Handle;

  void Run();
  void Serve();  // Run's loop; throws when memory runs out
  void Cancel(const std::shared_ptr<Job>& job);
  void Remove(Job& job);  // transfer thread: out of the multi handle and the running list

  bool Mine() const;  // made by this process, not a forked child's parent

  const uint64_t generation_;
  CURLM* multi_ = nullptr;
  std::thread thread_;
  std::mutex mu_;  // guards the four below
  std::vector<std::shared_ptr<Job>> adds_, cancels_;
  bool stop_ = false;
  bool serving_ = false;  // the thread runs and takes what is added
  std::vector<std::shared_ptr<Job>> running_;  // transfer thread only
};

}  // namespace desk::http::detail
