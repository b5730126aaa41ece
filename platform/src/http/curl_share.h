// What the transfers of one libcurl client share: its connection cache, name look-ups and TLS
// sessions. A new easy handle otherwise starts from nothing (new connection, new handshake,
// the certificate store loaded again), which costs tens of milliseconds a picture.
#pragma once

#include <curl/curl.h>

#include <mutex>

namespace desk::http::detail {

// curl_global_init, once per process.
void CurlGlobalInit();

// curl calls the lock functions around every use, so transfers on different threads (the
// caller's reads and the client's own transfer thread) stay safe.
class Share {
 public:
  Share();
  ~Share();
  Share(const Share&) = delete;
  Share& operator=(const Share&) = delete;
  CURLSH* Get() const { return sh_; }

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user);
  static void Unlock(CURL*, curl_lock_data data, void* user);
  static size_t Slot(curl_lock_data d) { return static_cast<size_t>(d) < kSlots ? static_cast<size_t>(d) : 0; }
  static constexpr size_t kSlots = CURL_LOCK_DATA_LAST;
  CURLSH* sh_ = nullptr;
  std::mutex mu_[kSlots];
};

}  // namespace desk::http::detail
