// The file-system seam: the temporary folder, file existence, and replacing a file whole.
//
// Paths are UTF-16 texts as hosts give them; they reach the system as UTF-8.
#pragma once

#include "desk/export.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace desk {

class DESK_API FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The system's temporary folder (TMPDIR, else /tmp) without a trailing separator.
  virtual std::u16string TempFolder() = 0;
  // True when a regular file (not a folder, not a symbolic link) is at `path`.
  virtual bool FileExists(const std::u16string& path) = 0;
  // Replaces the file at `path` with the concatenated pieces. The bytes go to a new file
  // created exclusively beside it, which is then renamed over `path`: readers see the old
  // file or the whole new one, never a part, and a symbolic link at `path` is replaced,
  // not followed. On failure nothing at `path` changes and the new file is removed.
  // Fails with 76 (folder missing), 70 (not allowed) or 75 (anything else, including a
  // folder at `path`). A regular file at `path` that already holds exactly these bytes, is
  // owned by this user alone (not writable by others, no other names) is left as it is.
  virtual void ReplaceFile(const std::u16string& path, std::span<const std::span<const uint8_t>> pieces) = 0;
  // Removes the regular file or link at `path` (a link itself, not what it points to);
  // false when nothing was removed (no such file, a folder, not allowed).
  virtual bool RemoveFile(const std::u16string& path) = 0;
};

// The system's file system.
DESK_API std::shared_ptr<FileSystem> MakeFileSystem();

// Where the controls get their file system: MakeFileSystem, unless a host (or a test) puts
// another maker in its place. Each image list control asks when it is created; controls made
// before the change keep the object they have. An empty maker puts the system's back.
// Returns the maker that was in place (empty for the system's).
using FileSystemMaker = std::function<std::shared_ptr<FileSystem>()>;
DESK_API FileSystemMaker SetFileSystemMaker(FileSystemMaker maker);
// A new file system from the maker in place.
DESK_API std::shared_ptr<FileSystem> CreateFileSystem();

// The system's temporary folder, as TempFolder gives it.
DESK_API std::u16string SystemTempFolder();

}  // namespace desk
