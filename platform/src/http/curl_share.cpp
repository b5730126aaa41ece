#include "http/curl_share.h"

namespace desk::http::detail {

void CurlGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Share::Share() {
  sh_ = curl_share_init();
  if (!sh_) return;
  curl_share_setopt(sh_, CURLSHOPT_LOCKFUNC, &Share::Lock);
  curl_share_setopt(sh_, CURLSHOPT_UNLOCKFUNC, &Share::Unlock);
  curl_share_setopt(sh_, CURLSHOPT_USERDATA, this);
  curl_share_setopt(sh_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
  curl_share_setopt(sh_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  curl_share_setopt(sh_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
}

Share::~Share() {
  if (sh_) curl_share_cleanup(sh_);
}

void Share::Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
  static_cast<Share*>(user)->mu_[Slot(data)].lock();
}

void Share::Unlock(CURL*, curl_lock_data data, void* user) { static_cast<Share*>(user)->mu_[Slot(data)].unlock(); }

}  // namespace desk::http::detail
