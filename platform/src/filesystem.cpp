#include "desk/filesystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "desk/error.h"
#include "desk/text.h"

namespace desk {

namespace {

// Paths are nearly always ASCII: those skip the general conversion.
std::string Narrow(const std::u16string& path) {
  std::string out(path.size(), '\0');
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] >= 0x80) return U8(path);
    out[i] = static_cast<char>(path[i]);
  }
  return out;
}

std::u16string Widen(std::string_view path) {
  std::u16string out(path.size(), u'\0');
  for (size_t i = 0; i < path.size(); ++i) {
    if (static_cast<unsigned char>(path[i]) >= 0x80) return U16(path);
    out[i] = static_cast<char16_t>(path[i]);
  }
  return out;
}

[[noreturn]] void RaiseErrno(int e) {
  switch (e) {
    case ENOENT:
    case ENOTDIR: Raise(Err::PathNotFound);
    case EACCES:
    case EPERM:
    case EROFS: Raise(Err::PermissionDenied);
    default: Raise(Err::PathFileAccess);
  }
}

std::string NativePath(const std::u16string& path) {
  std::string p = Narrow(path);
  // A NUL would cut the path short in every system call, naming another file.
  if (p.empty() || p.find('\0') != std::string::npos) Raise(Err::PathFileAccess);
  return p;
}

bool WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Whether the file at `path` is ours alone and already holds exactly the pieces: then a
// replacement would change nothing a reader can see. Not followed through a link; a file
// that others may write, or that has other names, is replaced as usual.
bool AlreadyHolds(const std::string& path, std::span<const std::span<const uint8_t>> pieces) {
  uint64_t total = 0;
  for (auto piece : pieces) total += piece.size();
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0 ||
      st.st_nlink != 1 || static_cast<uint64_t>(st.st_size) != total)
    return false;
  uint8_t buf[64 * 1024];
  for (auto piece : pieces) {
    size_t at = 0;
    while (at < piece.size()) {
      const size_t want = std::min(sizeof buf, piece.size() - at);
      ssize_t n = ::read(fd, buf, want);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || std::memcmp(buf, piece.data() + at, static_cast<size_t>(n)) != 0) return false;
      at += static_cast<size_t>(n);
    }
  }
  uint8_t extra;
  return ::read(fd, &extra, 1) == 0;  // and nothing after them
}

class SystemFileSystem : public FileSystem {
 public:
  std::u16string TempFolder() override { return SystemTempFolder(); }

  bool FileExists(const std::u16string& path) override {
    std::string p = Narrow(path);
    if (p.empty() || p.find('\0') != std::string::npos) return false;
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  void ReplaceFile(const std::u16string& path, std::span<const std::span<const uint8_t>> pieces) override {
    const std::string target = NativePath(path);
    // A forced download of an unchanged picture: no new file (a new file costs the file
    // system far more than reading the old one back).
    if (AlreadyHolds(target, pieces)) return;
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    // mkstemp creates with O_EXCL and mode 0600: no one else's file is ever opened.
    std::string temp = folder + (folder.back() == '/' ? "" : "/") + ".desk-XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) RaiseErrno(errno);
    bool ok = true;
    int err = 0;
    for (auto piece : pieces) {
      if (!WriteAll(fd, piece.data(), piece.size())) {
        ok = false;
        err = errno;
        break;
      }
    }
    // The file keeps mkstemp's owner-only mode: other users have no business in our cache.
    if (::close(fd) != 0 && ok) ok = false, err = errno;
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) ok = false, err = errno;
    if (!ok) {
      ::unlink(temp.c_str());
      RaiseErrno(err);
    }
  }

  bool RemoveFile(const std::u16string& path) override {
    std::string p = Narrow(path);
    if (p.empty() || p.find('\0') != std::string::npos) return false;
    return ::unlink(p.c_str()) == 0;
  }
};

}  // namespace

std::u16string SystemTempFolder() {
  const char* env = std::getenv("TMPDIR");
  std::string t = env && *env ? env : "/tmp";
  while (t.size() > 1 && t.back() == '/') t.pop_back();
  if (t == "/") t.clear();
  return Widen(t);
}

std::shared_ptr<FileSystem> MakeFileSystem() { return std::make_shared<SystemFileSystem>(); }

}  // namespace desk
