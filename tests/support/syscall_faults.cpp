// The program's own read, write, open, close, fstat, fsync and unlink stand in front of the C library's (the
// executable's definitions come first for every library it loads) and go to the kernel directly.
#include "support/syscall_faults.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>

namespace desktest {
thread_local SyscallFaults* active = nullptr;
namespace {

SyscallFaults* For(int fd) { return fd > 2 ? active : nullptr; }

int Open(const char* path, int flags, mode_t mode) {
  if (SyscallFaults* f = active; f && (flags & O_CREAT) && (flags & O_EXCL)) {
    ++f->exclusiveOpens;
    if (f->takenNames > 0) {
      --f->takenNames;
      errno = EEXIST;
      return -1;
    }
  }
  return static_cast<int>(::syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

// open's optional mode is there only for a call that may create the file.
int OpenWith(const char* path, int flags, va_list args) {
  mode_t mode = 0;
  if ((flags & O_CREAT) || (flags & __O_TMPFILE) == __O_TMPFILE) mode = static_cast<mode_t>(va_arg(args, int));
  return Open(path, flags, mode);
}

// A read or write of `n` bytes under the faults: false (errno set) for one that is
// interrupted, else true with `n` cut to the limit.
bool Allowed(int& interrupted, size_t limit, size_t& n) {
  if (interrupted > 0) {
    --interrupted;
    errno = EINTR;
    return false;
  }
  if (limit != 0 && n > limit) n = limit;
  return true;
}
}  // namespace

FaultScope::FaultScope(SyscallFaults& faults) { active = &faults; }
FaultScope::~FaultScope() { active = nullptr; }

}  // namespace desktest

using desktest::For;
using desktest::SyscallFaults;

// Seen by the libraries the program loads, whatever the build hides by default.
#define DESK_INTERPOSED __attribute__((visibility("default")))

extern "C" {

DESK_INTERPOSED ssize_t read(int fd, void* buf, size_t n) {
  if (SyscallFaults* f = For(fd)) {
    ++f->reads;
    if (!desktest::Allowed(f->interruptedReads, f->readLimit, n)) return -1;
    if (f->cutShort) return 0;
  }
  return ::syscall(SYS_read, fd, buf, n);
}

// A fortified build reads through this when it knows the buffer's size.
DESK_INTERPOSED ssize_t __read_chk(int fd, void* buf, size_t n, size_t) { return read(fd, buf, n); }

DESK_INTERPOSED ssize_t write(int fd, const void* buf, size_t n) {
  if (SyscallFaults* f = For(fd)) {
    ++f->writes;
    if (f->fullDisk) {
      errno = ENOSPC;
      return -1;
    }
    if (!desktest::Allowed(f->interruptedWrites, f->writeLimit, n)) return -1;
    if (f->writesTakeNothing) return 0;
  }
  return ::syscall(SYS_write, fd, buf, n);
}

DESK_INTERPOSED int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int fd = desktest::OpenWith(path, flags, args);
  va_end(args);
  return fd;
}

// The same under the name that a build with 64-bit file offsets calls.
DESK_INTERPOSED int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int fd = desktest::OpenWith(path, flags, args);
  va_end(args);
  return fd;
}

DESK_INTERPOSED int close(int fd) {
  const int r = static_cast<int>(::syscall(SYS_close, fd));
  if (SyscallFaults* f = desktest::active; f && r != 0 && errno == EBADF) ++f->badCloses;
  return r;
}

DESK_INTERPOSED int fstat(int fd, struct stat* st) noexcept {
  const int r = static_cast<int>(::syscall(SYS_fstat, fd, st));
  if (SyscallFaults* f = For(fd); f && r == 0 && S_ISREG(st->st_mode))
    st->st_size -= st->st_size < f->statShortBy ? st->st_size : f->statShortBy;
  return r;
}

DESK_INTERPOSED int fsync(int fd) {
  if (SyscallFaults* f = desktest::active) ++f->syncs;
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

DESK_INTERPOSED int fdatasync(int fd) {
  if (SyscallFaults* f = desktest::active) ++f->syncs;
  return static_cast<int>(::syscall(SYS_fdatasync, fd));
}

DESK_INTERPOSED int unlink(const char* path) {
  if (SyscallFaults* f = desktest::active) ++f->unlinks;
  return static_cast<int>(::syscall(SYS_unlinkat, AT_FDCWD, path, 0));
}

}  // extern "C"
