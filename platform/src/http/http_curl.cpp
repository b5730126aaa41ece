// The HTTP seam on libcurl.
//
// Two ways to run a GET, on the same easy-handle setup and checks (curl_easy.h):
//  - Request, read on demand: an easy handle driven by its own multi handle only when the
//    reader asks for bytes; curl hands over chunks of its own size, which wait in `pending_`
//    until Read has passed them on in the caller's piece size;
//  - Transfer, run by the client's transfer thread (curl_engine.h) while the caller does
//    other things.
// The transfers of one client share a curl share object (curl_share.h): its connections,
// name look-ups and TLS sessions.
#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "desk/http.h"
#include "desk/process.h"
#include "http/curl_easy.h"
#include "http/curl_engine.h"
#include "http/curl_share.h"
#include "http/http_curl.h"
#include "process/threads.h"

namespace desk::http {

namespace {

using detail::Clock;
constexpr size_t kPendingHigh = 128 * 1024;

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// A request that could not be made: reads nothing and did not succeed.
class FailedRequest : public Request {
 public:
  size_t Read(uint8_t*, size_t) override { return 0; }
  bool Succeeded() const override { return false; }
};

}  // namespace

void Request::ReadAll(BodySink& sink, size_t piece) {
  for (;;) {
    size_t room = 0;
    uint8_t* to = sink.Room(piece, room);
    const size_t n = Read(to, piece);
    if (n == 0) return;
    sink.Commit(n);
  }
}

namespace {

class CurlRequest : public Request, private detail::EasyTransfer {
 public:
  CurlRequest(const Options& opt, const detail::Checks& checks, std::shared_ptr<detail::Share> share,
              const std::string& url, const std::string& agent)
      : EasyTransfer(opt, checks, std::move(share), url, agent) {
    multi_ = curl_multi_init();
    // A request that could not be set up is never added: its first Read finds nothing running
    // and fails it, as it fails a transfer that ends without a word.
    added_ = SetUp() && multi_ && curl_multi_add_handle(multi_, Easy()) == CURLM_OK;
  }

  ~CurlRequest() override {
    if (added_) curl_multi_remove_handle(multi_, Easy());
    if (multi_) curl_multi_cleanup(multi_);
  }

  size_t Read(uint8_t* buffer, size_t size) override {
    if (size == 0) return 0;
    for (;;) {
      if (pos_ < pending_.size()) {
        const size_t n = std::min(size, pending_.size() - pos_);
        std::memcpy(buffer, pending_.data() + pos_, n);
        pos_ += n;
        return n;
      }
      if (Done()) return 0;
      pending_.clear();  // keeps its capacity for the next chunks
      pos_ = 0;
      Pump();
    }
  }

  bool Succeeded() const override { return Done() && !Failed(); }

  // What is pending first, then each chunk curl hands over straight into the sink.
  void ReadAll(BodySink& sink, size_t piece) override {
    while (pos_ < pending_.size()) {
      size_t room = 0;
      uint8_t* to = sink.Room(std::min(piece, pending_.size() - pos_), room);
      const size_t n = std::min(room, pending_.size() - pos_);
      std::memcpy(to, pending_.data() + pos_, n);
      sink.Commit(n);
      pos_ += n;
    }
    pending_.clear();
    pos_ = 0;
    sink_ = &sink;
    piece_ = std::max<size_t>(piece, 1);
    while (!Done()) Pump();
    sink_ = nullptr;
  }

 private:
  // One perform may read the socket many times over; past this the chunk waits inside curl,
  // so that pending bytes stay small and cache-warm whatever the body's size. A sink takes
  // every chunk as it comes.
  bool Full() noexcept override {
    if (sink_ || pending_.size() < kPendingHigh) return false;
    paused_ = true;
    return true;
  }

  // Into the sink when there is one; else appended to the pending bytes, whose buffer only
  // grows, so steady state copies once. As bytes: an insert of chars into bytes is a loop of
  // byte stores, of bytes one memcpy.
  bool Keep(const char* data, size_t bytes) noexcept override {
    if (sink_) {
      try {
        while (bytes > 0) {
          size_t room = 0;
          uint8_t* to = sink_->Room(std::min(bytes, piece_), room);
          const size_t n = std::min(room, bytes);
          std::memcpy(to, data, n);
          sink_->Commit(n);
          data += n;
          bytes -= n;
        }
        return true;
      } catch (...) {
        return false;  // memory ran out: the transfer fails
      }
    }
    try {
      const auto* in = reinterpret_cast<const uint8_t*>(data);
      pending_.insert(pending_.end(), in, in + bytes);
      return true;
    } catch (...) {
      return false;
    }
  }

  void End(bool ok) {
    Finish(ok);
    if (Failed()) pending_.clear();  // Read gives nothing more
  }

  // Moves the transfer on until bytes are pending, it ended, or it stalled too long. Read
  // calls it only with nothing pending and the transfer not done; each turn returns as soon
  // as either changes.
  void Pump() {
    if (paused_) {
      paused_ = false;
      // Hands back the chunk curl kept (through OnWrite) and lets it read on.
      if (curl_easy_pause(Easy(), CURLPAUSE_CONT) != CURLE_OK) return End(false);
      if (!pending_.empty() || Done()) return;
    }
    for (;;) {
      int running = 0;
      if (curl_multi_perform(multi_, &running) != CURLM_OK) return End(false);
      int left = 0;
      while (CURLMsg* m = curl_multi_info_read(multi_, &left))
        if (m->msg == CURLMSG_DONE) End(m->data.result == CURLE_OK);
      if (Done() || !pending_.empty()) return;
      if (running == 0) return End(false);  // ended without a completion message
      std::chrono::milliseconds wait(1000);
      if (!InTime(Clock::now(), wait)) return End(false);
      if (curl_multi_poll(multi_, nullptr, 0, static_cast<int>(wait.count()), nullptr) != CURLM_OK) return End(false);
    }
  }

  CURLM* multi_ = nullptr;
  bool added_;  // the constructor always sets it
  bool paused_ = false;
  std::vector<uint8_t> pending_;  // curl's chunks, waiting for Read
  size_t pos_ = 0;
  BodySink* sink_ = nullptr;  // during ReadAll
  size_t piece_ = 1;
};

// What the sessions of one client share: the curl share object and, made on first use, the
// transfer thread. Both belong to the process that made them: a forked child makes its own
// on first use (libcurl's share and multi handles, with their connections, must not be used
// on both sides of a fork) and never tears down the parent's (see Renew).
struct ClientState {
  Options opt;
  detail::Checks checks;
  uint64_t generation = desk::ProcessGeneration();
  std::shared_ptr<detail::Share> share = std::make_shared<detail::Share>();
  std::shared_ptr<detail::Engine> engine;  // these three under OwnersLock

  ~ClientState() { Renew(); }

  std::shared_ptr<detail::Share> Share() {
    std::lock_guard lock(desk::detail::OwnersLock());
    Renew();
    return share;
  }
  std::shared_ptr<detail::Engine> Engine() {
    std::lock_guard lock(desk::detail::OwnersLock());
    Renew();
    if (!engine) engine = std::make_shared<detail::Engine>();
    return engine;
  }

 private:
  // In a forked child, the first time: the parent's share and engine are kept as they are,
  // never cleaned up here. Their locks may have been held by the parent's transfer thread
  // at the fork, the engine's end would wait for that thread, and closing their connections
  // would write TLS close notices into sockets the parent still reads.
  void Renew() {
    if (generation == desk::ProcessGeneration()) return;
    generation = desk::ProcessGeneration();
    desk::Abandon(std::exchange(share, std::make_shared<detail::Share>()));
    desk::Abandon(std::move(engine));
    engine.reset();
  }
};

// A transfer that could not be made: ended, failed, at once.
class FailedTransfer : public Transfer {
 public:
  bool Done() const override { return true; }
  bool Succeeded() const override { return false; }
  std::vector<uint8_t> TakeBody() override { return {}; }
  Progress Seen() const override { return {}; }
};

class CurlSession : public Session, public TransferSession {
 public:
  CurlSession(std::shared_ptr<ClientState> state, std::string agent) : state_(std::move(state)), agent_(std::move(agent)) {}

  std::unique_ptr<Request> OpenUrl(std::string_view url) override {
    // Parsed first, so that a malformed URL or another scheme never reaches the network.
    const std::optional<std::string> target = detail::RequestTarget(url, state_->checks);
    if (!target) return std::make_unique<FailedRequest>();
    return std::make_unique<CurlRequest>(state_->opt, state_->checks, state_->Share(), *target, agent_);
  }

  std::unique_ptr<Transfer> Start(std::string_view url, std::function<void()> onEnd) override {
    const std::optional<std::string> target = detail::RequestTarget(url, state_->checks);
    if (!target) {
      if (onEnd) onEnd();
      return std::make_unique<FailedTransfer>();
    }
    std::shared_ptr<detail::Engine> engine = state_->Engine();
    return engine->Start(state_->opt, state_->checks, state_->Share(), *target, agent_, std::move(onEnd));
  }

 private:
  std::shared_ptr<ClientState> state_;
  std::string agent_;
};

class CurlClient : public Client {
 public:
  CurlClient(const Options& opt, const detail::Checks& checks) : state_(std::make_shared<ClientState>()) {
    detail::CurlGlobalInit();
    state_->opt = opt;
    state_->checks = checks;
  }
  std::unique_ptr<Session> OpenSession(std::string_view userAgent) override {
    return std::make_unique<CurlSession>(state_, std::string(userAgent));
  }

 private:
  std::shared_ptr<ClientState> state_;
};

std::shared_ptr<Client>& Slot() {
  static std::shared_ptr<Client> c;
  return c;
}

}  // namespace

std::string EncodeUrl(std::string_view in) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  // The host name (after "scheme://" up to the next "/", "?" or "#") is kept as it is.
  size_t hostEnd = 0;
  if (size_t s = in.find("://"); s != std::string_view::npos) {
    hostEnd = in.find_first_of("/?#", s + 3);
    if (hostEnd == std::string_view::npos) hostEnd = in.size();
  }
  for (size_t i = 0; i < in.size(); ++i) {
    const auto c = static_cast<unsigned char>(in[i]);
    const bool inHost = i < hostEnd;
    bool encode = !inHost && (c <= 0x20 || c >= 0x7F || std::strchr("<>\"`{}|\\^", c) != nullptr);
    if (!inHost && c == '%' && !(i + 2 < in.size() && IsHex(in[i + 1]) && IsHex(in[i + 2]))) encode = true;
    if (c == 0) encode = true;
    if (encode) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::shared_ptr<Client> MakeCurlClient(const Options& options) {
  return std::make_shared<CurlClient>(options, detail::Checks{});
}

std::shared_ptr<Client> detail::MakeCurlClientWithChecks(const Options& options, const detail::Checks& checks) {
  return std::make_shared<CurlClient>(options, checks);
}

std::shared_ptr<Client> SharedClient() {
  auto& c = Slot();
  if (!c) c = MakeCurlClient();
  return c;
}

Client& CurrentClient() { return *SharedClient(); }

void SetClient(std::shared_ptr<Client> client) { Slot() = std::move(client); }

}  // namespace desk::http
