// The demos' settings file: the tree control's property bag, read at start and written on
// exit, without ever destroying a file of the user's that this build cannot read.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "desk/object.h"
#include "desk/property_bag.h"

namespace desk_demo {

struct SettingsRead {
  desk::Ref<desk::MemoryPropertyBag> bag;  // null when nothing was read: start afresh
  // False when writing the file at exit would replace something that was not read: a folder or
  // special file at the path, or an unreadable file that could not be moved aside.
  bool canSave = true;
  std::filesystem::path keptAs;  // where an unreadable file was moved, or empty
  std::string message;  // one line for the output and the status line
};

// Reads the file and hands the bag to `apply` (the control's ReadProperties). A missing file is
// no error. A file that does not load or apply (damaged, empty, of a newer format, unreadable,
// values the control refuses) is renamed to PATH.bad (PATH.bad.2, ... when that is taken) so
// that the user keeps it, and the demo starts afresh.
SettingsRead ReadSettings(const std::filesystem::path& path,
                          const std::function<void(desk::MemoryPropertyBag&)>& apply);

// Creates the folder when needed and replaces the file atomically. Returns the line to show,
// which says why when nothing was written.
std::string WriteSettings(const std::filesystem::path& path, const desk::MemoryPropertyBag& bag, bool canSave);

}  // namespace desk_demo
