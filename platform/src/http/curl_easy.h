// One libcurl GET as both ways of running it use it (read on demand by the caller, or run by
// the client's transfer thread): the easy handle set up with the client's options and checks,
// the status checks on the body's first bytes and at its end, the body cap, and the clocks
// that end a transfer that stalls (no byte for stallTimeout) or trickles (under the low-speed
// bound, window after window).
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "desk/http.h"
#include "http/curl_share.h"
#include "http/http_curl.h"

namespace desk::http::detail {

using Clock = std::chrono::steady_clock;

class EasyTransfer {
 public:
  EasyTransfer(const Options& opt, const Checks& checks, std::shared_ptr<Share> share, const std::string& url,
               const std::string& agent);
  virtual ~EasyTransfer();
  EasyTransfer(const EasyTransfer&) = delete;
  EasyTransfer& operator=(const EasyTransfer&) = delete;

  CURL* Easy() const { return easy_; }
  // False when the handle refused an option: such a transfer is never started and fails.
  bool SetUp() const { return setUp_; }
  // Records the end: `ok` is curl's verdict; the final status may still fail it.
  void Finish(bool ok);
  bool Done() const { return done_; }
  bool Failed() const { return failed_; }
  uint64_t Received() const { return received_; }
  // The clocks at `now`: false when the transfer stalled or trickled and must fail; else
  // `wait` is the longest sleep (1 to 1000 ms) before they need a look again.
  bool InTime(Clock::time_point now, std::chrono::milliseconds& wait);

 protected:
  // A chunk of the body that passed the checks; false refuses it (memory ran out), which
  // fails the transfer.
  virtual bool Keep(const char* data, size_t bytes) noexcept = 0;
  // True to make curl hold the chunk it is handing over (CURL_WRITEFUNC_PAUSE) until the
  // transfer is resumed: a reader that is behind.
  virtual bool Full() noexcept { return false; }

  const Options opt_;

 private:
  static size_t OnWrite(char* data, size_t size, size_t count, void* user);
  static size_t OnHeader(char* data, size_t size, size_t count, void* user);

  const Checks checks_;
  std::shared_ptr<Share> share_;  // outlives the easy handle that uses it
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
  bool setUp_ = false;
  bool done_ = false;
  bool failed_ = false;
  uint64_t received_ = 0;
  Clock::time_point lastProgress_;
  Clock::time_point windowStart_;  // of the current low-speed window
  uint64_t windowBytes_ = 0;       // received_ when it started
};

// `url` as the client sends it (EncodeUrl, then parsed by curl): nullopt for a malformed URL
// or, with the check on, a scheme other than http and https, which never reach the network.
std::optional<std::string> RequestTarget(std::string_view url, const Checks& checks);

}  // namespace desk::http::detail
