// Faults in the file layer's system calls on the calling thread, for the code that must
// survive them: interrupted reads and writes, short transfers, failed calls, sizes measured
// short and names already taken. Real files on a local disk give none of these, so the retry
// loops are reached only through here.
#pragma once

#include <cstddef>

namespace desktest {

struct SyscallFaults {
  int interruptedReads = 0;   // the next reads fail with EINTR
  int interruptedWrites = 0;  // the next writes fail with EINTR
  size_t readLimit = 0;       // when not 0, no read gives more bytes than this
  bool cutShort = false;      // every read finds the end, as if the file was cut after it was measured
  int readError = 0;          // when not 0, every read fails with this errno
  size_t writeLimit = 0;      // when not 0, no write takes more bytes than this
  int takenNames = 0;         // the next exclusive creations fail with EEXIST
  bool fullDisk = false;      // every write fails with ENOSPC
  bool writesTakeNothing = false;  // every write returns 0, errno untouched (a device that stopped)
  long statShortBy = 0;       // fstat gives a file's size this many bytes short (it grew after)
  int statError = 0;          // when not 0, every fstat fails with this errno
  // What was asked while the faults were in force, so that a test can tell that they were.
  int reads = 0;
  int writes = 0;
  int exclusiveOpens = 0;
  int unlinks = 0;     // a file put in place needs none
  int badCloses = 0;   // closes of a descriptor that was not open (closed twice)
  int syncs = 0;       // files and folders flushed to the disk
};

// The faults hold on this thread while the scope lives.
class FaultScope {
 public:
  explicit FaultScope(SyscallFaults& faults);
  ~FaultScope();
  FaultScope(const FaultScope&) = delete;
  FaultScope& operator=(const FaultScope&) = delete;
};

}  // namespace desktest
