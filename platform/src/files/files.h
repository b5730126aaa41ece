// The run-time's own file layer: the one way a file is replaced whole, and the one mapping of a
// system error to the platform's numbers. The cache (filesystem.cpp) and the property bag's
// files (property_bag.cpp) differ only in the policy they pass.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "desk/error.h"

namespace desk::files {

// The platform's number for a failed call's errno: 76 for a missing folder (or `whenMissing`
// where the caller knows better), 70 where the system says no, 75 for anything else.
Err ErrorOf(int err, Err whenMissing = Err::PathNotFound);

// A path in the system's encoding (UTF-8), or nullopt when it can name no file: empty, or
// holding a NUL, which would cut it short in every system call and so name another file.
std::optional<std::string> SystemPath(const std::u16string& path);

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

struct Failure {
  Err number;
  std::string path;   // the file that was being replaced (a link's target when followed)
  std::string cause;  // the system's text, or what was wrong
};

// Replaces the file at `path` with the concatenated pieces: the bytes go to a new file created
// exclusively beside it, which is then renamed over it, so readers see the old file or the
// whole new one. On failure nothing at `path` has changed and no new file remains; the
// failure is returned for the caller to report in its own words.
std::optional<Failure> ReplaceWhole(const std::string& path, std::span<const std::span<const uint8_t>> pieces,
                                    const ReplacePolicy& policy);

}  // namespace desk::files
