#include "desk/filesystem.h"

#include <sys/stat.h>

#include <cstdlib>
#include <mutex>

#include "desk/error.h"
#include "desk/text.h"
#include "files/files.h"
#include "files/syscalls.h"

namespace desk {

namespace {

std::u16string Widen(std::string_view path) {
  std::u16string out(path.size(), u'\0');
  for (size_t i = 0; i < path.size(); ++i) {
    if (static_cast<unsigned char>(path[i]) >= 0x80) return U16(path);
    out[i] = static_cast<char16_t>(path[i]);
  }
  return out;
}

// The cache reports the number alone, in the platform's own words.
[[noreturn]] void RaiseFailure(const files::Failure& f) { Raise(f.number); }

std::string NativePath(const std::u16string& path) {
  std::optional<std::string> p = files::SystemPath(path);
  if (!p) Raise(Err::PathFileAccess);
  return std::move(*p);
}

class SystemFileSystem : public FileSystem {
 public:
  std::u16string TempFolder() override { return SystemTempFolder(); }

  bool FileExists(const std::u16string& path) override {
    const std::optional<std::string> p = files::SystemPath(path);
    struct stat st {};
    return p && files::Sys().lstat(p->c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  void ReplaceFile(const std::u16string& path, std::span<const std::span<const uint8_t>> pieces) override {
    if (auto failed = files::ReplaceWhole(NativePath(path), pieces, files::kCacheFile)) RaiseFailure(*failed);
  }

  bool RemoveFile(const std::u16string& path) override {
    const std::optional<std::string> p = files::SystemPath(path);
    return p && files::Sys().unlink(p->c_str()) == 0;
  }
};

}  // namespace

std::u16string SystemTempFolder() {
  const char* env = std::getenv("TMPDIR");
  std::string t = env && *env ? env : "/tmp";
  while (!t.empty() && t.back() == '/') t.pop_back();  // "/" itself becomes "": its files are "/name"
  return Widen(t);
}

std::shared_ptr<FileSystem> MakeFileSystem() { return std::make_shared<SystemFileSystem>(); }

namespace {
std::mutex makerLock;
FileSystemMaker& Maker() {
  static FileSystemMaker maker;
  return maker;
}
}  // namespace

FileSystemMaker SetFileSystemMaker(FileSystemMaker maker) {
  std::lock_guard lock(makerLock);
  std::swap(Maker(), maker);
  return maker;
}

std::shared_ptr<FileSystem> CreateFileSystem() {
  FileSystemMaker maker;
  {
    std::lock_guard lock(makerLock);
    maker = Maker();
  }
  // Called outside the lock: a maker may itself ask for the system's file system.
  return maker ? maker() : MakeFileSystem();
}

}  // namespace desk
