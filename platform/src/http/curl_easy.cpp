#include "http/curl_easy.h"

#include <algorithm>
#include <optional>

namespace desk::http::detail {

namespace {

// Taking no bytes of a chunk ends the transfer with a write error, which fails it.
constexpr size_t kRefuse = 0;

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

}  // namespace

EasyTransfer::EasyTransfer(const Options& opt, const Checks& checks, std::shared_ptr<Share> share,
                           const std::string& url, const std::string& agent)
    : opt_(opt), checks_(checks), share_(std::move(share)) {
  easy_ = curl_easy_init();
  headers_ = curl_slist_append(nullptr, "Cache-Control: no-cache");
  if (headers_) {
    curl_slist* more = curl_slist_append(headers_, "Pragma: no-cache");
    if (more) headers_ = more;
  }
  setUp_ = easy_ && headers_ && curl_easy_setopt(easy_, CURLOPT_URL, url.c_str()) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_USERAGENT, agent.c_str()) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, checks_.curlProtocols ? "http,https" : "all") == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, checks_.curlRedirectProtocols ? "http,https" : "all") ==
               CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, opt_.maxRedirects) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(opt_.connectTimeout.count())) ==
               CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, 512L * 1024) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &EasyTransfer::OnWrite) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &EasyTransfer::OnHeader) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this) == CURLE_OK &&
           curl_easy_setopt(easy_, CURLOPT_PRIVATE, this) == CURLE_OK &&
           (!share_->Get() || curl_easy_setopt(easy_, CURLOPT_SHARE, share_->Get()) == CURLE_OK) &&
           (opt_.caFile.empty() || curl_easy_setopt(easy_, CURLOPT_CAINFO, opt_.caFile.c_str()) == CURLE_OK);
  lastProgress_ = windowStart_ = Clock::now();
}

EasyTransfer::~EasyTransfer() {
  if (easy_) curl_easy_cleanup(easy_);
  curl_slist_free_all(headers_);
}

size_t EasyTransfer::OnWrite(char* data, size_t size, size_t count, void* user) {
  auto* self = static_cast<EasyTransfer*>(user);
  const size_t bytes = size * count;
  if (self->checks_.statusOnBody && self->received_ == 0) {
    // At the body's first bytes. Only the final response's body comes here (curl skips
    // those of followed redirects); an error page is not a body we want.
    long code = 0;
    curl_easy_getinfo(self->easy_, CURLINFO_RESPONSE_CODE, &code);
    if (code < 200 || code > 299) return kRefuse;
  }
  if (self->Full()) return CURL_WRITEFUNC_PAUSE;
  if (bytes > self->opt_.maxBodyBytes - self->received_) return kRefuse;
  if (!self->Keep(data, bytes)) return kRefuse;
  self->received_ += bytes;
  self->lastProgress_ = Clock::now();
  return bytes;
}

size_t EasyTransfer::OnHeader(char*, size_t size, size_t count, void* user) {
  static_cast<EasyTransfer*>(user)->lastProgress_ = Clock::now();
  return size * count;
}

void EasyTransfer::Finish(bool ok) {
  done_ = true;
  if (!ok) failed_ = true;
  if (!failed_ && checks_.statusAtEnd) {
    long code = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
    if (code < 200 || code > 299) failed_ = true;
  }
}

bool EasyTransfer::InTime(Clock::time_point now, std::chrono::milliseconds& wait) {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  if (opt_.lowSpeedBytesPerSecond > 0 && now - windowStart_ >= opt_.lowSpeedWindow) {
    // Window after window: too few bytes in this one fails the transfer.
    const auto ms = duration_cast<milliseconds>(now - windowStart_).count();
    if (static_cast<double>(received_ - windowBytes_) * 1000.0 <
        static_cast<double>(opt_.lowSpeedBytesPerSecond) * static_cast<double>(ms))
      return false;
    windowStart_ = now;
    windowBytes_ = received_;
  }
  const auto idle = now - lastProgress_;
  if (idle >= opt_.stallTimeout) return false;
  long long ms = std::clamp<long long>(duration_cast<milliseconds>(opt_.stallTimeout - idle).count(), 1, 1000);
  if (opt_.lowSpeedBytesPerSecond > 0) {
    const auto toWindowEnd = duration_cast<milliseconds>(opt_.lowSpeedWindow - (now - windowStart_)).count();
    ms = std::clamp<long long>(std::min<long long>(ms, toWindowEnd), 1, 1000);
  }
  wait = milliseconds(ms);
  return true;
}

std::optional<std::string> RequestTarget(std::string_view url, const Checks& checks) {
  UrlHandle u;
  if (!u.p) return std::nullopt;
  const std::string encoded = EncodeUrl(url);
  if (curl_url_set(u.p, CURLUPART_URL, encoded.c_str(), 0) != CURLUE_OK) return std::nullopt;
  const std::optional<std::string> scheme = UrlPart(u.p, CURLUPART_SCHEME);
  if (!scheme) return std::nullopt;
  if (checks.schemeBeforeRequest && *scheme != "http" && *scheme != "https") return std::nullopt;
  return UrlPart(u.p, CURLUPART_URL);
}

}  // namespace desk::http::detail
