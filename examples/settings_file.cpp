#include "settings_file.h"

#include <system_error>

#include "desk/error.h"
#include "desk/text.h"

namespace desk_demo {

namespace fs = std::filesystem;

namespace {

// The first of PATH.bad, PATH.bad.2, PATH.bad.3, ... that does not exist yet, so that an
// earlier kept file is not replaced either.
fs::path FreeBadName(const fs::path& path) {
  fs::path candidate = path;
  candidate += ".bad";
  for (int n = 2; n < 1000; ++n) {
    std::error_code ec;
    if (fs::symlink_status(candidate, ec).type() == fs::file_type::not_found) return candidate;
    candidate = path;
    candidate += ".bad." + std::to_string(n);
  }
  return {};
}

}  // namespace

SettingsRead ReadSettings(const fs::path& path, const std::function<void(desk::MemoryPropertyBag&)>& apply) {
  SettingsRead r;
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (!fs::exists(st)) {
    r.message = "no settings file yet at " + path.string();
    return r;
  }
  if (!fs::is_regular_file(st)) {
    r.canSave = false;
    r.message = "settings not read: " + path.string() + " is not a file; settings will not be saved there";
    return r;
  }
  try {
    auto bag = desk::MakeRef<desk::MemoryPropertyBag>();
    bag->LoadFromFile(path);
    apply(*bag);
    r.bag = bag;
    r.message = "settings read from " + path.string();
    return r;
  } catch (const desk::Error& e) {
    const std::string why = desk::U8(e.Description());
    const fs::path kept = FreeBadName(path);
    if (!kept.empty()) {
      fs::rename(path, kept, ec);
      if (!ec) {
        r.keptAs = kept;
        r.message = "settings not read (" + why + "); the file was kept as " + kept.string() + ", starting afresh";
        return r;
      }
    }
    r.canSave = false;
    r.message = "settings not read (" + why + ") and the file could not be kept aside (" +
                (ec ? ec.message() : std::string("no free name")) + "); starting afresh, settings will not be saved";
    return r;
  }
}

std::string WriteSettings(const fs::path& path, const desk::MemoryPropertyBag& bag, bool canSave) {
  if (!canSave) return "settings not written: " + path.string() + " was left as it was";
  std::error_code ec;
  const fs::path folder = path.parent_path();
  if (!folder.empty()) fs::create_directories(folder, ec);
  if (ec) return "settings not written: cannot create the folder " + folder.string() + " (" + ec.message() + ")";
  try {
    bag.SaveToFile(path);
    return "settings written to " + path.string();
  } catch (const desk::Error& e) {
    return "settings not written: " + desk::U8(e.Description());
  }
}

}  // namespace desk_demo
