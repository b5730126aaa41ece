#include "files/syscalls.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>

namespace desk::files {

namespace {

// open's mode is variadic in the C library; here it is always passed (and ignored unless the
// call may create the file).
int OpenFile(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

constexpr Syscalls kLibc{.open = &OpenFile,
                         .read = &::read,
                         .write = &::write,
                         .close = &::close,
                         .fstat = &::fstat,
                         .stat = &::stat,
                         .lstat = &::lstat,
                         .fchmod = &::fchmod,
                         .fsync = &::fsync,
                         .rename = &::rename,
                         .unlink = &::unlink};

std::atomic<const Syscalls*> inForce{&kLibc};

}  // namespace

const Syscalls& Sys() { return *inForce.load(std::memory_order_acquire); }

const Syscalls* UseSyscalls(const Syscalls* table) {
  return inForce.exchange(table ? table : &kLibc, std::memory_order_acq_rel);
}

}  // namespace desk::files
