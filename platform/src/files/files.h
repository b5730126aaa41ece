// The run-time's own file layer: the one way a file is read whole, the one way a file is
// replaced whole, and the one mapping of a system error to the platform's numbers. The cache
// (filesystem.cpp), the property bag's files (property_bag.cpp) and picture files
// (picture_loader.cpp) differ only in the policy they pass. Its system calls go through
// files/syscalls.h.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "desk/error.h"

namespace desk::files {

// The platform's number for a failed call's errno: 76 for a missing folder (or `whenMissing`
// where the caller knows better), 70 where the system says no, 75 for anything else.
Err ErrorOf(int err, Err whenMissing = Err::PathNotFound);

// A path in the system's encoding (UTF-8), or nullopt when it can name no file: empty, or
// holding a NUL, which would cut it short in every system call and so name another file.
std::optional<std::string> SystemPath(const std::u16string& path);

struct Failure {
  Err number;
  std::string path;   // the file that was being read or replaced (a link's target when followed)
  std::string cause;  // the system's text, or what was wrong
};

struct ReadPolicy {
  // A symbolic link at the path is followed; otherwise the file is refused.
  bool followLink = true;
  // The open does not wait (for a FIFO's writer): such a file is refused after it.
  bool nonBlocking = false;
  // A missing folder is told apart from a missing file (76 and 53); otherwise both are 53.
  bool missingFolderApart = false;
  // Only a file of this user's alone is read: no one else may write it, and it has one name.
  bool ownedAlone = false;
  // A file measured or read larger is refused (with `tooLarge` as the cause)...
  uint64_t maxBytes = std::numeric_limits<uint64_t>::max();
  const char* tooLarge = "it is too large";
  // ...and, when set, so is one of any other size: a file that changes while it is read.
  bool exactSize = false;
  // The number for a file that is not the kind the caller reads: not a regular file, not its
  // own, or with a head that `headFits` refuses.
  Err wrongKind = Err::PathFileAccess;
  // When set, the first `headBytes` (fewer in a shorter file) are shown to it before the rest
  // is read, so that a large file of another kind is refused unread.
  size_t headBytes = 0;
  bool (*headFits)(std::span<const uint8_t> head) = nullptr;
};

// Reads the whole file at `path` into `bytes`: to its real end, though it grew or shrank after
// it was measured, and in as few reads as its measured size allows. Interrupted and short
// reads are carried on. On failure `bytes` holds nothing of use and the failure is returned
// for the caller to report in its own words.
std::optional<Failure> ReadWhole(const std::string& path, const ReadPolicy& policy, std::vector<uint8_t>& bytes);

struct ReplacePolicy {
  // A symbolic link at the path stays where the user put it and what it points to is replaced;
  // otherwise the link itself is replaced, never followed.
  bool followLink;
  // An existing file's mode carries over, and a new file gets the user's usual mode (0666 less
  // the umask); otherwise the file is the owner's alone (0600).
  bool keepMode;
  // The bytes and the rename reach the disk before the call returns.
  bool flush;
  // A file of this user's alone that already holds exactly these bytes is left as it is.
  bool keepUnchanged;
};

// Downloaded pictures: the cache folder is shared, so a planted link is replaced and the
// file is private; a lost picture is downloaded again, so nothing is flushed.
inline constexpr ReplacePolicy kCacheFile{false, false, false, true};
// The user's settings: the user's own link and mode are kept, and a save is durable.
inline constexpr ReplacePolicy kSettingsFile{true, true, true, false};

// Replaces the file at `path` with the concatenated pieces: the bytes go to a new file created
// exclusively beside it, which is then renamed over it, so readers see the old file or the
// whole new one. On failure nothing at `path` has changed and no new file remains; the
// failure is returned for the caller to report in its own words.
std::optional<Failure> ReplaceWhole(const std::string& path, std::span<const std::span<const uint8_t>> pieces,
                                    const ReplacePolicy& policy);

}  // namespace desk::files
