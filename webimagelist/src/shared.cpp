#include "shared.h"

namespace Quorvane::detail {

namespace {
struct Slot {
  std::shared_ptr<desk::FileSystem> fs;
  int leases = 0;
};
thread_local Slot slot;
}  // namespace

std::shared_ptr<desk::FileSystem> SharedFileSystem() { return slot.fs; }

FileSystemLease::FileSystemLease() {
  auto fs = desk::MakeFileSystem();
  ++slot.leases;
  slot.fs = std::move(fs);
}

FileSystemLease::~FileSystemLease() {
  if (--slot.leases == 0) slot.fs.reset();
}

}  // namespace Quorvane::detail
