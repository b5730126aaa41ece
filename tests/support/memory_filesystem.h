// A file system of a host's own, kept in memory, for tests that put one in place of the system's.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "desk/filesystem.h"

namespace desk_test {

class MemoryFileSystem : public desk::FileSystem {
 public:
  std::map<std::u16string, std::string> files;
  std::u16string TempFolder() override { return u"/memory"; }
  bool FileExists(const std::u16string& path) override { return files.count(path) != 0; }
  void ReplaceFile(const std::u16string& path, std::span<const std::span<const uint8_t>> pieces) override {
    std::string& f = files[path];
    f.clear();
    for (auto piece : pieces) f.append(piece.begin(), piece.end());
  }
  bool RemoveFile(const std::u16string& path) override { return files.erase(path) != 0; }
};

}  // namespace desk_test
