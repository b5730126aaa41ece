#include "desk/filesystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "desk/error.h"
#include "desk/text.h"
#include "files/files.h"

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

bool WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w == 0) errno = ENOSPC;  // took nothing, and said nothing: the usual reason
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

// Closes and removes the new file unless it was renamed into place.
class NewFile {
 public:
  NewFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!placed_) ::unlink(path_.c_str());
  }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  int Close() {
    int r = ::close(fd_);
    fd_ = -1;
    return r;
  }
  void Placed() { placed_ = true; }

 private:
  int fd_;
  std::string path_;
  bool placed_ = false;
};

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

// A short name (a picture's own name may already be as long as a name can be), created with
// O_EXCL: no one else's file is ever opened. -1 with errno set on failure.
int CreateBeside(const std::string& folder, mode_t mode, std::string& name) {
  static std::atomic<uint32_t> counter{0};
  constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                  (static_cast<uint64_t>(::getpid()) << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t x = (seed + counter.fetch_add(1)) * 0x9E3779B97F4A7C15ull;
    name = folder + (folder.back() == '/' ? "" : "/") + ".desk-";
    for (int i = 0; i < 8; ++i, x /= 36) name += kDigits[x % 36];
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;  // errno is EEXIST
}

}  // namespace

namespace files {

std::optional<std::string> SystemPath(const std::u16string& path) {
  if (path.empty() || path.find(u'\0') != std::u16string::npos) return std::nullopt;
  // Paths are nearly always ASCII: those skip the general conversion.
  std::string out(path.size(), '\0');
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] >= 0x80) return U8(path);
    out[i] = static_cast<char>(path[i]);
  }
  return out;
}

Err ErrorOf(int err, Err whenMissing) {
  switch (err) {
    case ENOENT:
    case ENOTDIR: return whenMissing;
    case EACCES:
    case EPERM:
    case EROFS: return Err::PermissionDenied;
    default: return Err::PathFileAccess;
  }
}

std::optional<Failure> ReplaceWhole(const std::string& path, std::span<const std::span<const uint8_t>> pieces,
                                    const ReplacePolicy& policy) {
  std::string target = path;
  if (policy.followLink) {
    std::error_code ec;
    if (std::filesystem::is_symlink(target, ec)) {
      std::filesystem::path resolved = std::filesystem::canonical(target, ec);
      if (!ec) target = resolved.string();
    }
  }
  auto failed = [&](int err) { return Failure{ErrorOf(err), target, std::strerror(err)}; };
  // A forced download of an unchanged picture: no new file (a new file costs the file system
  // far more than reading the old one back).
  if (policy.keepUnchanged && AlreadyHolds(target, pieces)) return std::nullopt;
  struct stat old {};
  const bool exists = (policy.followLink ? ::stat(target.c_str(), &old) : ::lstat(target.c_str(), &old)) == 0;
  if (exists && S_ISDIR(old.st_mode)) return Failure{Err::PathFileAccess, target, "it is a folder"};

  std::string name;
  const int fd = CreateBeside(FolderOf(target), policy.keepMode ? 0666 : 0600, name);
  if (fd < 0) return failed(errno);
  NewFile file(fd, name);
  if (policy.keepMode && exists && S_ISREG(old.st_mode)) (void)::fchmod(file.fd(), old.st_mode & 07777);
  for (auto piece : pieces)
    if (!WriteAll(file.fd(), piece.data(), piece.size())) return failed(errno);
  if (policy.flush && ::fsync(file.fd()) != 0) return failed(errno);
  if (file.Close() != 0) return failed(errno);
  if (::rename(file.path().c_str(), target.c_str()) != 0) return failed(errno);
  file.Placed();
  if (policy.flush) {
    // Make the rename itself durable; the new file is in place whatever this answers.
    int dfd = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
      (void)::fsync(dfd);
      ::close(dfd);
    }
  }
  return std::nullopt;
}

}  // namespace files

namespace {

class SystemFileSystem : public FileSystem {
 public:
  std::u16string TempFolder() override { return SystemTempFolder(); }

  bool FileExists(const std::u16string& path) override {
    const std::optional<std::string> p = files::SystemPath(path);
    struct stat st {};
    return p && ::lstat(p->c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  void ReplaceFile(const std::u16string& path, std::span<const std::span<const uint8_t>> pieces) override {
    if (auto failed = files::ReplaceWhole(NativePath(path), pieces, files::kCacheFile)) RaiseFailure(*failed);
  }

  bool RemoveFile(const std::u16string& path) override {
    const std::optional<std::string> p = files::SystemPath(path);
    return p && ::unlink(p->c_str()) == 0;
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
