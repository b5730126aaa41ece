// The file layer's system calls with the faults in front of them: the table in force is
// replaced for the scope's life, and each call is passed on to the one it replaced.
#include "support/syscall_faults.h"

#include <fcntl.h>

#include <cerrno>

#include "files/syscalls.h"

namespace desktest {
namespace {

using desk::files::Syscalls;

thread_local SyscallFaults* active = nullptr;
const Syscalls* real = nullptr;

// False with errno set for a call that fails with `err` (when not 0) or is interrupted;
// else true with `n` cut to the limit.
bool Allowed(int err, int& interrupted, size_t limit, size_t& n) {
  if (err == 0 && interrupted > 0) {
    --interrupted;
    err = EINTR;
  }
  if (err != 0) {
    errno = err;
    return false;
  }
  if (limit != 0 && n > limit) n = limit;
  return true;
}

int Open(const char* path, int flags, mode_t mode) {
  if (SyscallFaults* f = active; f && (flags & O_CREAT) && (flags & O_EXCL)) {
    ++f->exclusiveOpens;
    if (f->takenNames > 0) {
      --f->takenNames;
      errno = EEXIST;
      return -1;
    }
  }
  return real->open(path, flags, mode);
}

ssize_t Read(int fd, void* to, size_t n) {
  if (SyscallFaults* f = active) {
    ++f->reads;
    if (!Allowed(f->readError, f->interruptedReads, f->readLimit, n)) return -1;
    if (f->cutShort) return 0;
  }
  return real->read(fd, to, n);
}

ssize_t Write(int fd, const void* from, size_t n) {
  if (SyscallFaults* f = active) {
    ++f->writes;
    if (!Allowed(f->fullDisk ? ENOSPC : 0, f->interruptedWrites, f->writeLimit, n)) return -1;
    if (f->writesTakeNothing) return 0;
  }
  return real->write(fd, from, n);
}

int Close(int fd) {
  const int r = real->close(fd);
  if (SyscallFaults* f = active; f && r != 0 && errno == EBADF) ++f->badCloses;
  return r;
}

int Fstat(int fd, struct stat* st) {
  if (SyscallFaults* f = active; f && f->statError != 0) {
    errno = f->statError;
    return -1;
  }
  const int r = real->fstat(fd, st);
  if (SyscallFaults* f = active; f && r == 0 && S_ISREG(st->st_mode))
    st->st_size -= st->st_size < f->statShortBy ? st->st_size : f->statShortBy;
  return r;
}

int Fsync(int fd) {
  if (SyscallFaults* f = active) ++f->syncs;
  return real->fsync(fd);
}

int Unlink(const char* path) {
  if (SyscallFaults* f = active) ++f->unlinks;
  return real->unlink(path);
}

}  // namespace

FaultScope::FaultScope(SyscallFaults& faults) {
  // The calls without faults are the C library's own.
  static const Syscalls faulty = [] {
    Syscalls t = desk::files::Sys();
    t.open = &Open, t.read = &Read, t.write = &Write, t.close = &Close;
    t.fstat = &Fstat, t.fsync = &Fsync, t.unlink = &Unlink;
    return t;
  }();
  active = &faults;
  real = desk::files::UseSyscalls(&faulty);
}

FaultScope::~FaultScope() {
  desk::files::UseSyscalls(real);
  active = nullptr;
}

}  // namespace desktest
