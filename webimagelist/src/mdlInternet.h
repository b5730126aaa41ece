// Downloading a picture into the cache folder.
//
// GetUrlContent reads a URL's body through the HTTP seam in pieces of at most 2048 bytes
// until a 0-byte read, letting the platform dispatch pending messages before the session
// opens, before the URL opens and after the read loop (desk::Platform::DoEvents, where the
// host may run code). DownloadFile ties it to the cache file: temporary folder, "/", the
// file name. Inside a Fill the body comes instead from a transfer that runs by itself (one
// started ahead of the walk, or now) while the window paints (FillAhead); the dispatch
// points stay where they are.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace desk {
class FileSystem;
}
namespace Quorvane {
class FillAhead;
}

namespace Quorvane::mdlInternet {

inline constexpr char kUserAgent[] = "vb wininet";
inline constexpr size_t kReadPiece = 2048;

// A body as it arrived, kept in blocks that are never copied or moved once filled: memory
// stays close to the body's size, and appending is linear.
class Body {
 public:
  Body() = default;
  // A body that arrived whole in one buffer, shared with whoever else reads it.
  explicit Body(std::shared_ptr<const std::vector<uint8_t>> whole) : whole_(std::move(whole)), size_(whole_->size()) {}
  size_t size() const { return size_; }
  // Room for at least `n` more bytes at the end (n <= kReadPiece); fill then Commit.
  uint8_t* Reserve(size_t n);
  // The same, with `room` set to all the room there is at the end.
  uint8_t* Reserve(size_t n, size_t& room);
  void Commit(size_t n) { blocks_.back().used += n, size_ += n; }
  void Append(std::string_view bytes);
  void Clear();
  // The body as a sequence of pieces, in order.
  std::vector<std::span<const uint8_t>> Pieces() const;
  // The whole body in one string (tests, small bodies).
  std::string ToString() const;
  // The bytes of large blocks this thread keeps for its next bodies (tests).
  static size_t SpareBytes();

 private:
  struct Block {
    Block() = default;
    Block(Block&& o) noexcept;
    Block& operator=(Block&&) = delete;
    ~Block();
    uint8_t* data = nullptr;
    size_t capacity = 0;
    size_t used = 0;
    bool mapped = false;  // a whole mapping of its own rather than heap memory
  };
  std::vector<Block> blocks_;
  std::shared_ptr<const std::vector<uint8_t>> whole_;  // instead of blocks
  size_t size_ = 0;
};

// The body of `url`; empty when nothing could be read or anything failed on the way (error
// status, timeout, dropped connection, malformed URL, a scheme other than http and https).
// Traps nothing. `ahead`: the Fill this download is part of.
Body GetUrlContent(const std::u16string& url, FillAhead* ahead = nullptr);

// True when the page holds "<title>The page cannot be found</title>" (letter case ignored)
// anywhere but at its very start. Trapped: a failure reports and gives false.
bool IsPageContainsError(const Body& page);
bool IsPageContainsError(std::string_view page);

// True for a file name that names a file inside the cache folder and nothing else: not
// empty, not "." or "..", no "/" or NUL, at most 255 bytes in UTF-8.
bool IsCacheFileName(std::u16string_view fileName);
// The path of `fileName` in the cache folder of `fs`; nullopt when it is no cache file name.
std::optional<std::u16string> CachePath(desk::FileSystem& fs, std::u16string_view fileName);

// The cache path after a fresh download; "True" when the cached file exists and `force` is
// false (no request is made); "" when nothing was cached. Trapped: a failure (no shared
// file-system object: 91; a file name that is not a cache file name: 75; the file cannot
// be written) reports and gives "".
std::u16string DownloadFile(const std::u16string& url, const std::u16string& fileName, bool force,
                            FillAhead* ahead = nullptr);

}  // namespace Quorvane::mdlInternet
