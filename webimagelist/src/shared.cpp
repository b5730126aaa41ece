#include "shared.h"

namespace Quorvane::detail {

namespace {
// Set when the thread's slot has been destroyed. A host may keep a control in a static
// object, which the main thread destroys after its thread_local objects: the control's lease
// then finds the slot gone and must not touch it. A bool needs no destructor, so it can still
// be read then.
thread_local bool slotGone = false;
struct Slot {
  std::shared_ptr<desk::FileSystem> fs;
  int leases = 0;
  ~Slot() { slotGone = true; }
};
thread_local Slot slot;
}  // namespace

std::shared_ptr<desk::FileSystem> SharedFileSystem() { return slotGone ? nullptr : slot.fs; }

FileSystemLease::FileSystemLease() {
  if (slotGone) return;
  auto fs = desk::CreateFileSystem();
  ++slot.leases;
  slot.fs = std::move(fs);
}

FileSystemLease::~FileSystemLease() {
  if (slotGone) return;
  if (--slot.leases == 0) slot.fs.reset();
}

}  // namespace Quorvane::detail
