#include "desk/platform.h"

#include "desk/headless.h"

namespace desk {

Control::~Control() = default;

namespace {
std::shared_ptr<Platform>& Slot() {
  static std::shared_ptr<Platform> p;
  return p;
}
}  // namespace

std::shared_ptr<Platform> SharedPlatform() {
  auto& p = Slot();
  if (!p) p = std::make_shared<HeadlessPlatform>();
  return p;
}

Platform& CurrentPlatform() { return *SharedPlatform(); }

void SetPlatform(std::shared_ptr<Platform> p) { Slot() = std::move(p); }

HeadlessPlatform* Headless() { return dynamic_cast<HeadlessPlatform*>(&CurrentPlatform()); }

}  // namespace desk
