// The HTTP seam on libcurl's multi interface.
//
// One easy handle per request, driven by its own multi handle only when the reader asks for
// bytes: curl hands over chunks of its own size, which wait in `pending_` until Read has
// passed them on in the caller's piece size. Waiting is bounded by our own stall clock
// (milliseconds, any phase after the connect), our low-speed window and curl's connect
// timeout.
//
// The requests of one client share a curl share object: its connection cache, name look-ups
// and TLS sessions. A new easy handle otherwise starts from nothing (new connection, new
// handshake, the certificate store loaded again), which costs tens of milliseconds a picture.
#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "desk/http.h"
#include "http/http_checks.h"

namespace desk::http {

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kPendingHigh = 128 * 1024;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// What the requests of one client share. curl calls the lock functions around every use, so
// requests on different threads stay safe.
class Share {
 public:
  Share() {
    sh_ = curl_share_init();
    if (!sh_) return;
    curl_share_setopt(sh_, CURLSHOPT_LOCKFUNC, &Share::Lock);
    curl_share_setopt(sh_, CURLSHOPT_UNLOCKFUNC, &Share::Unlock);
    curl_share_setopt(sh_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(sh_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(sh_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(sh_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  }
  ~Share() {
    if (sh_) curl_share_cleanup(sh_);
  }
  Share(const Share&) = delete;
  Share& operator=(const Share&) = delete;
  CURLSH* Get() const { return sh_; }

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<Share*>(user)->mu_[Slot(data)].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* user) { static_cast<Share*>(user)->mu_[Slot(data)].unlock(); }
  static size_t Slot(curl_lock_data d) { return static_cast<size_t>(d) < kSlots ? static_cast<size_t>(d) : 0; }
  static constexpr size_t kSlots = CURL_LOCK_DATA_LAST;
  CURLSH* sh_ = nullptr;
  std::mutex mu_[kSlots];
};

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// A request that could not be made: reads nothing and did not succeed.
class FailedRequest : public Request {
 public:
  size_t Read(uint8_t*, size_t) override { return 0; }
  bool Succeeded() const override { return false; }
};

class CurlRequest : public Request {
 public:
  CurlRequest(const Options& opt, const detail::Checks& checks, std::shared_ptr<Share> share, const std::string& url,
              const std::string& agent)
      : opt_(opt), checks_(checks), share_(std::move(share)) {
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
    headers_ = curl_slist_append(nullptr, "Cache-Control: no-cache");
    if (headers_) {
      curl_slist* more = curl_slist_append(headers_, "Pragma: no-cache");
      if (more) headers_ = more;
    }
    bool ok = easy_ && multi_ && headers_ && curl_easy_setopt(easy_, CURLOPT_URL, url.c_str()) == CURLE_OK &&
              curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
              curl_easy_setopt(easy_, CURLOPT_USERAGENT, agent.c_str()) == CURLE_OK &&
              curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_) == CURLE_OK &&
              curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, checks_.curlProtocols ? "http,https" : "all") ==
                  CURLE_OK &&
              curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR,
                               checks_.curlRedirectProtocols ? "http,https" : "all") == CURLE_OK &&
              curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
              curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, opt_.maxRedirects) == CURLE_OK &&
              curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(opt_.connectTimeout.count())) ==
                  CURLE_OK &&
              curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
              curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, 128L * 1024) == CURLE_OK &&
              curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlRequest::OnWrite) == CURLE_OK &&
              curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this) == CURLE_OK &&
              curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader) == CURLE_OK &&
              curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this) == CURLE_OK &&
              (!share_->Get() || curl_easy_setopt(easy_, CURLOPT_SHARE, share_->Get()) == CURLE_OK) &&
              (opt_.caFile.empty() || curl_easy_setopt(easy_, CURLOPT_CAINFO, opt_.caFile.c_str()) == CURLE_OK);
    // A request that could not be set up is never added: its first Read finds nothing running
    // and fails it, as it fails a transfer that ends without a word.
    added_ = ok && curl_multi_add_handle(multi_, easy_) == CURLM_OK;
    lastProgress_ = windowStart_ = Clock::now();
  }

  ~CurlRequest() override {
    if (added_) curl_multi_remove_handle(multi_, easy_);
    if (easy_) curl_easy_cleanup(easy_);
    if (multi_) curl_multi_cleanup(multi_);
    curl_slist_free_all(headers_);
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
      if (done_) return 0;
      pending_.clear();  // keeps its capacity for the next chunks
      pos_ = 0;
      Pump();
    }
  }

  bool Succeeded() const override { return done_ && !failed_; }

 private:
  // Taking no bytes of a chunk ends the transfer with a write error, which fails it.
  static constexpr size_t kRefuse = 0;

  static size_t OnWrite(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<CurlRequest*>(user);
    const size_t bytes = size * count;
    if (self->checks_.statusOnBody && self->received_ == 0) {
      // At the body's first bytes. Only the final response's body comes here (curl skips
      // those of followed redirects); an error page is not a body we want.
      long code = 0;
      curl_easy_getinfo(self->easy_, CURLINFO_RESPONSE_CODE, &code);
      if (code < 200 || code > 299) return kRefuse;
    }
    // One perform may read the socket many times over; past this the chunk waits inside
    // curl, so that pending bytes stay small and cache-warm whatever the body's size.
    if (self->pending_.size() >= kPendingHigh) {
      self->paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    if (bytes > self->opt_.maxBodyBytes - self->received_) return kRefuse;
    self->received_ += bytes;
    self->Keep(data, bytes);
    self->lastProgress_ = Clock::now();
    return bytes;
  }

  static size_t OnHeader(char*, size_t size, size_t count, void* user) {
    static_cast<CurlRequest*>(user)->lastProgress_ = Clock::now();
    return size * count;
  }

  // Appends to the pending bytes; their buffer only grows, so steady state copies once.
  void Keep(const char* data, size_t bytes) { pending_.insert(pending_.end(), data, data + bytes); }

  void Finish(bool ok) {
    done_ = true;
    if (!ok) failed_ = true;
    if (!failed_ && checks_.statusAtEnd) {
      long code = 0;
      curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
      if (code < 200 || code > 299) failed_ = true;
    }
    if (failed_) pending_.clear();  // Read gives nothing more
  }

  // Moves the transfer on until bytes are pending, it ended, or it stalled too long. Read
  // calls it only with nothing pending and the transfer not done; each turn returns as soon
  // as either changes.
  void Pump() {
    if (paused_) {
      paused_ = false;
      // Hands back the chunk curl kept (through OnWrite) and lets it read on.
      if (curl_easy_pause(easy_, CURLPAUSE_CONT) != CURLE_OK) return Finish(false);
      if (!pending_.empty() || done_) return;
    }
    for (;;) {
      int running = 0;
      if (curl_multi_perform(multi_, &running) != CURLM_OK) return Finish(false);
      int left = 0;
      while (CURLMsg* m = curl_multi_info_read(multi_, &left))
        if (m->msg == CURLMSG_DONE) Finish(m->data.result == CURLE_OK);
      if (done_ || !pending_.empty()) return;
      if (running == 0) return Finish(false);  // ended without a completion message
      const auto now = Clock::now();
      if (opt_.lowSpeedBytesPerSecond > 0 && now - windowStart_ >= opt_.lowSpeedWindow) {
        // Window after window: too few bytes in this one fails the transfer.
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - windowStart_).count();
        if (static_cast<double>(received_ - windowBytes_) * 1000.0 <
            static_cast<double>(opt_.lowSpeedBytesPerSecond) * static_cast<double>(ms))
          return Finish(false);
        windowStart_ = now;
        windowBytes_ = received_;
      }
      const auto idle = now - lastProgress_;
      if (idle >= opt_.stallTimeout) return Finish(false);
      const auto left_ms = std::chrono::duration_cast<std::chrono::milliseconds>(opt_.stallTimeout - idle).count();
      long long wait_ms = std::clamp<long long>(left_ms, 1, 1000);
      if (opt_.lowSpeedBytesPerSecond > 0) {
        const auto toWindowEnd =
            std::chrono::duration_cast<std::chrono::milliseconds>(opt_.lowSpeedWindow - (now - windowStart_)).count();
        wait_ms = std::clamp<long long>(std::min<long long>(wait_ms, toWindowEnd), 1, 1000);
      }
      const int wait = static_cast<int>(wait_ms);
      if (curl_multi_poll(multi_, nullptr, 0, wait, nullptr) != CURLM_OK) return Finish(false);
    }
  }

  Options opt_;
  detail::Checks checks_;
  std::shared_ptr<Share> share_;  // outlives the easy handle that uses it
  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
  curl_slist* headers_ = nullptr;
  bool added_;  // the constructor always sets it
  bool done_ = false;
  bool failed_ = false;
  bool paused_ = false;
  uint64_t received_ = 0;
  std::vector<uint8_t> pending_;  // curl's chunks, waiting for Read
  size_t pos_ = 0;
  Clock::time_point lastProgress_;
  Clock::time_point windowStart_;  // of the current low-speed window
  uint64_t windowBytes_ = 0;       // received_ when it started
};

struct UrlHandle {
  CURLU* p = curl_url();
  ~UrlHandle() { curl_url_cleanup(p); }
};

// A part of a parsed URL as curl hands it out, given back however the caller leaves.
std::optional<std::string> UrlPart(CURLU* u, CURLUPart part) {
  char* raw = nullptr;
  const bool got = curl_url_get(u, part, &raw, 0) == CURLUE_OK;
  const std::unique_ptr<char, decltype(&curl_free)> text(raw, &curl_free);
  if (!got || !text) return std::nullopt;
  return std::string(text.get());
}

class CurlSession : public Session {
 public:
  CurlSession(const Options& opt, const detail::Checks& checks, std::shared_ptr<Share> share, std::string agent)
      : opt_(opt), checks_(checks), share_(std::move(share)), agent_(std::move(agent)) {}

  std::unique_ptr<Request> OpenUrl(std::string_view url) override {
    // Parsed first, so that a malformed URL or another scheme never reaches the network.
    UrlHandle u;
    if (!u.p) return std::make_unique<FailedRequest>();
    const std::string encoded = EncodeUrl(url);
    if (curl_url_set(u.p, CURLUPART_URL, encoded.c_str(), 0) != CURLUE_OK) return std::make_unique<FailedRequest>();
    const std::optional<std::string> scheme = UrlPart(u.p, CURLUPART_SCHEME);
    if (!scheme) return std::make_unique<FailedRequest>();
    if (checks_.schemeBeforeRequest && *scheme != "http" && *scheme != "https") return std::make_unique<FailedRequest>();
    const std::optional<std::string> target = UrlPart(u.p, CURLUPART_URL);
    if (!target) return std::make_unique<FailedRequest>();
    return std::make_unique<CurlRequest>(opt_, checks_, share_, *target, agent_);
  }

 private:
  Options opt_;
  detail::Checks checks_;
  std::shared_ptr<Share> share_;
  std::string agent_;
};

class CurlClient : public Client {
 public:
  CurlClient(const Options& opt, const detail::Checks& checks) : opt_(opt), checks_(checks) {
    GlobalInit();
    share_ = std::make_shared<Share>();
  }
  std::unique_ptr<Session> OpenSession(std::string_view userAgent) override {
    return std::make_unique<CurlSession>(opt_, checks_, share_, std::string(userAgent));
  }

 private:
  Options opt_;
  detail::Checks checks_;
  std::shared_ptr<Share> share_;
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
