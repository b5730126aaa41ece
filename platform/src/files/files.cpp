#include "files/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <utility>

#include "desk/text.h"
#include "files/syscalls.h"

namespace desk::files {

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

class Descriptor {
 public:
  Descriptor(const Syscalls& sys, int fd) : sys_(sys), fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) sys_.close(fd_);
  }
  int fd() const { return fd_; }
  int Close() { return sys_.close(std::exchange(fd_, -1)); }

 private:
  const Syscalls& sys_;
  int fd_;
};

// ---- Reading ------------------------------------------------------------------------------------

// Reads into bytes[have, want) until it is full or the file ends (`ended`). False, with errno
// set, when a read fails.
bool Fill(const Syscalls& sys, int fd, std::vector<uint8_t>& bytes, size_t& have, size_t want, bool& ended) {
  while (have < want) {
    const ssize_t n = sys.read(fd, bytes.data() + have, want - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      ended = true;
      return true;
    }
    have += static_cast<size_t>(n);
  }
  return true;
}

Err MissingOr(const Syscalls& sys, int err, const std::string& path, const ReadPolicy& policy) {
  if (!policy.missingFolderApart) return ErrorOf(err, Err::FileNotFound);
  if (err != ENOENT) return ErrorOf(err);
  struct stat folder {};
  const bool folderThere = sys.stat(FolderOf(path).c_str(), &folder) == 0 && S_ISDIR(folder.st_mode);
  return folderThere ? Err::FileNotFound : Err::PathNotFound;
}

bool OwnedAlone(const struct stat& st) {
  return st.st_uid == ::geteuid() && (st.st_mode & 022) == 0 && st.st_nlink == 1;
}

// ---- Replacing ----------------------------------------------------------------------------------

bool WriteAll(const Syscalls& sys, int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = sys.write(fd, p, n);
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
  ReadPolicy policy{.followLink = false, .nonBlocking = true, .ownedAlone = true, .maxBytes = total, .exactSize = true};
  std::vector<uint8_t> bytes;
  if (ReadWhole(path, policy, bytes)) return false;
  auto at = bytes.begin();
  for (auto piece : pieces) {
    if (!std::equal(piece.begin(), piece.end(), at)) return false;
    at += static_cast<ptrdiff_t>(piece.size());
  }
  return true;
}

// Closes and removes the new file unless it was renamed into place.
class NewFile {
 public:
  NewFile(const Syscalls& sys, int fd, std::string path) : sys_(sys), fd_(sys, fd), path_(std::move(path)) {}
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile() {
    if (fd_.fd() >= 0) fd_.Close();
    if (!placed_) sys_.unlink(path_.c_str());
  }
  int fd() const { return fd_.fd(); }
  const std::string& path() const { return path_; }
  int Close() { return fd_.Close(); }
  void Placed() { placed_ = true; }

 private:
  const Syscalls& sys_;
  Descriptor fd_;
  std::string path_;
  bool placed_ = false;
};

// A short name (a picture's own name may already be as long as a name can be), created with
// O_EXCL: no one else's file is ever opened. -1 with errno set on failure.
int CreateBeside(const Syscalls& sys, const std::string& folder, mode_t mode, std::string& name) {
  static std::atomic<uint32_t> counter{0};
  constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  uint64_t seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                  (static_cast<uint64_t>(::getpid()) << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t x = (seed + counter.fetch_add(1)) * 0x9E3779B97F4A7C15ull;
    name = folder + (folder.back() == '/' ? "" : "/") + ".desk-";
    for (int i = 0; i < 8; ++i, x /= 36) name += kDigits[x % 36];
    int fd = sys.open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;  // errno is EEXIST
}

}  // namespace

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

std::optional<Failure> ReadWhole(const std::string& path, const ReadPolicy& policy, std::vector<uint8_t>& bytes) {
  const Syscalls& sys = Sys();
  auto failed = [&](int err) { return Failure{ErrorOf(err), path, std::strerror(err)}; };
  auto refused = [&](Err number, const char* cause) { return Failure{number, path, cause}; };
  auto wrongSize = [&] {
    return refused(Err::PathFileAccess, policy.exactSize ? "it is not of the size expected" : policy.tooLarge);
  };
  const int flags =
      O_RDONLY | O_CLOEXEC | (policy.followLink ? 0 : O_NOFOLLOW) | (policy.nonBlocking ? O_NONBLOCK : 0);
  Descriptor file(sys, sys.open(path.c_str(), flags, 0));
  if (file.fd() < 0) {
    const int err = errno;
    return Failure{MissingOr(sys, err, path, policy), path, std::strerror(err)};
  }
  struct stat st {};
  if (sys.fstat(file.fd(), &st) != 0) return failed(errno);
  if (S_ISDIR(st.st_mode)) return refused(Err::PathFileAccess, "it is a folder");
  if (!S_ISREG(st.st_mode)) return refused(policy.wrongKind, "it is not a regular file");
  if (policy.ownedAlone && !OwnedAlone(st)) return refused(policy.wrongKind, "others may change it");
  const uint64_t measured = static_cast<uint64_t>(std::max<off_t>(st.st_size, 0));
  if (measured > policy.maxBytes || (policy.exactSize && measured != policy.maxBytes)) return wrongSize();

  size_t have = 0;
  bool ended = false;
  bytes.clear();
  if (policy.headBytes > 0) {
    bytes.resize(policy.headBytes);
    if (!Fill(sys, file.fd(), bytes, have, bytes.size(), ended)) return failed(errno);
    if (!policy.headFits(std::span(bytes).first(have))) return refused(policy.wrongKind, "it is of another kind");
  }
  // One byte over the measured size, to see the end without another buffer; a file that grew
  // meanwhile is read on in ever larger pieces.
  bytes.resize(std::max<size_t>(static_cast<size_t>(measured), have) + 1);
  while (!ended) {
    if (!Fill(sys, file.fd(), bytes, have, bytes.size(), ended)) return failed(errno);
    if (have > policy.maxBytes) return wrongSize();
    if (!ended) bytes.resize(bytes.size() * 2);
  }
  bytes.resize(have);
  if (policy.exactSize && have != policy.maxBytes) return wrongSize();
  return std::nullopt;
}

std::optional<Failure> ReplaceWhole(const std::string& path, std::span<const std::span<const uint8_t>> pieces,
                                    const ReplacePolicy& policy) {
  const Syscalls& sys = Sys();
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
  const bool exists = (policy.followLink ? sys.stat(target.c_str(), &old) : sys.lstat(target.c_str(), &old)) == 0;
  if (exists && S_ISDIR(old.st_mode)) return Failure{Err::PathFileAccess, target, "it is a folder"};

  std::string name;
  const int fd = CreateBeside(sys, FolderOf(target), policy.keepMode ? 0666 : 0600, name);
  if (fd < 0) return failed(errno);
  NewFile file(sys, fd, name);
  if (policy.keepMode && exists && S_ISREG(old.st_mode)) (void)sys.fchmod(file.fd(), old.st_mode & 07777);
  for (auto piece : pieces)
    if (!WriteAll(sys, file.fd(), piece.data(), piece.size())) return failed(errno);
  if (policy.flush && sys.fsync(file.fd()) != 0) return failed(errno);
  if (file.Close() != 0) return failed(errno);
  if (sys.rename(file.path().c_str(), target.c_str()) != 0) return failed(errno);
  file.Placed();
  if (policy.flush) {
    // Make the rename itself durable; the new file is in place whatever this answers.
    Descriptor folder(sys, sys.open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (folder.fd() >= 0) (void)sys.fsync(folder.fd());
  }
  return std::nullopt;
}

}  // namespace desk::files
