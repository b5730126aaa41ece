// The system calls of the file layer, in one table: the C library's in every program, and
// faults that a test puts in their place (interrupted or short transfers, a full disk, names
// already taken) without overriding the C library for the whole test program.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include "autotest_export.h"

namespace desk::files {

struct Syscalls {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*read)(int fd, void* to, size_t n);
  ssize_t (*write)(int fd, const void* from, size_t n);
  int (*close)(int fd);
  int (*fstat)(int fd, struct stat* st);
  int (*stat)(const char* path, struct stat* st);
  int (*lstat)(const char* path, struct stat* st);
  int (*fchmod)(int fd, mode_t mode);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
  int (*unlink)(const char* path);
};

// The table in force. A caller takes it once for a whole operation, so that a file opened
// through one table is closed through the same. (Exported to tests, which build their
// faults over it.)
DESK_AUTOTEST_API const Syscalls& Sys();

// Tests only: puts `table` in force (nullptr: the C library's) and returns the one it replaces.
// `table` must outlive its use; entries that pass a call on reach the C library's through
// the table returned here.
DESK_AUTOTEST_API const Syscalls* UseSyscalls(const Syscalls* table);

}  // namespace desk::files
