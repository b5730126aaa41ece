// Shared helpers for the tests: error capture and a fresh headless host per test.
#pragma once

#include <functional>
#include <memory>

#include "desk/error.h"
#include "desk/headless.h"

namespace desk_test {

// The error number a call fails with, or 0 when it does not fail.
inline int32_t ErrOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const desk::Error& e) {
    return e.Number();
  }
  return 0;
}

// Installs a new headless platform for the life of the object, so no test sees another's
// recordings.
class FreshHost {
 public:
  FreshHost() : platform_(std::make_shared<desk::HeadlessPlatform>()) { desk::SetPlatform(platform_); }
  ~FreshHost() { desk::SetPlatform(nullptr); }
  desk::HeadlessPlatform& Platform() { return *platform_; }

 private:
  std::shared_ptr<desk::HeadlessPlatform> platform_;
};

}  // namespace desk_test
