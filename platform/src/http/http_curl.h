// The libcurl client (MakeCurlClient, declared in desk/http.h) with its safety checks, one
// switch each. Hosts always get all of them. With all on, each check hides the loss of
// another, so a test turns all but one off to see that one hold by itself.
#pragma once

#include <memory>

#include "autotest_export.h"
#include "desk/http.h"

namespace desk::http::detail {

struct Checks {
  bool schemeBeforeRequest = true;    // OpenUrl refuses every scheme but http and https
  bool curlProtocols = true;          // curl itself speaks only http and https (first request and redirects)
  bool curlRedirectProtocols = true;  // and follows redirects only to those
  bool statusOnBody = true;           // a body under a status other than 2xx is refused at its first byte
  bool statusAtEnd = true;            // the final status decides success, with a body or without
};

// For the tests alone (see autotest_export.h).
DESK_AUTOTEST_API std::shared_ptr<Client> MakeCurlClientWithChecks(const Options& options, const Checks& checks);

}  // namespace desk::http::detail
