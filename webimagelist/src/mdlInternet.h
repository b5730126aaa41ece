// Downloading a picture into the cache folder.
//
// GetUrlContent reads a URL's body through the HTTP seam in pieces of at most 2048 bytes
// until a 0-byte read, letting the platform dispatch pending messages before the session
// opens, before the URL opens and after the read loop (desk::Platform::DoEvents, where the
// host may run code). DownloadFile ties it to the cache file (cache_file.h). A download may
// instead be served by work started ahead of it (a Fill's transfers, which run by themselves
// while the window paints): it asks the Prefetch offered for it; the dispatch points stay
// where they are.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "body.h"

namespace desk::http {
class Client;
class Session;
}  // namespace desk::http

namespace Quorvane::mdlInternet {

inline constexpr char kUserAgent[] = "vb wininet";

// What a download asks before it reads a body itself.
class Prefetch {
 public:
  // The body of `url`, asked of `client` through `session`: empty for a failed transfer;
  // nullopt when it cannot be served here, and the download reads the body itself.
  virtual std::optional<Body> Fetch(const std::shared_ptr<desk::http::Client>& client, desk::http::Session& session,
                                    const std::string& url) = 0;

 protected:
  ~Prefetch() = default;
};

// While it lives, the next download on this thread asks `prefetch`, when it is a download of
// `url`: only that one, so that a download the host starts from a report meanwhile is not
// served from work meant for another.
class PrefetchFor {
 public:
  PrefetchFor(Prefetch& prefetch, std::u16string url);
  ~PrefetchFor();
  PrefetchFor(const PrefetchFor&) = delete;
  PrefetchFor& operator=(const PrefetchFor&) = delete;

  // The Prefetch offered for a download of `url` on this thread, if any; the offer is used up.
  static Prefetch* Take(const std::u16string& url);

 private:
  Prefetch& prefetch_;
  std::u16string url_;
  PrefetchFor* previous_;
};

// The body of `url`; empty when nothing could be read or anything failed on the way (error
// status, timeout, dropped connection, malformed URL, a scheme other than http and https).
// Asks the Prefetch offered for it first. Traps nothing.
Body GetUrlContent(const std::u16string& url);

// True when the page holds "<title>The page cannot be found</title>" (letter case ignored)
// anywhere but at its very start. Trapped: a failure reports and gives false.
bool IsPageContainsError(const Body& page);
bool IsPageContainsError(std::string_view page);

// The cache path after a fresh download; "True" when the cached file exists and `force` is
// false (no request is made); "" when nothing was cached. Trapped: a failure (no shared
// file-system object: 91; a file name that is not a cache file name: 75; the file cannot
// be written) reports and gives "".
std::u16string DownloadFile(const std::u16string& url, const std::u16string& fileName, bool force);

}  // namespace Quorvane::mdlInternet
