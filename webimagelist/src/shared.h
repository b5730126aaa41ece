// State shared by the controls, collections and entries of one thread.
#pragma once

#include <memory>

#include "desk/filesystem.h"

namespace Quorvane::detail {

// The thread's shared file-system object, or null when no image list control of this thread
// is alive.
std::shared_ptr<desk::FileSystem> SharedFileSystem();

// Held by each image list control: the slot keeps an object while any lease lives.
class FileSystemLease {
 public:
  FileSystemLease();  // stores a new object in the slot
  ~FileSystemLease();
  FileSystemLease(const FileSystemLease&) = delete;
  FileSystemLease& operator=(const FileSystemLease&) = delete;
};

}  // namespace Quorvane::detail
