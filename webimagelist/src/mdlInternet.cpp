#include "mdlInternet.h"

#include <sys/mman.h>

#include <climits>
#include <cstring>
#include <new>
#include <optional>

#include "fill_ahead.h"
#include "mdlError.h"
#include "desk/error.h"
#include "desk/http.h"
#include "desk/platform.h"
#include "desk/text.h"
#include "shared.h"

namespace Quorvane::mdlInternet {

namespace {

constexpr std::u16string_view kModule = u"mdlInternet, Module";
// The title, letter case ignored: each character matches either form.
constexpr std::string_view kErrorTitle = "<title>the page cannot be found</title>";
constexpr std::string_view kErrorTitleUpper = "<TITLE>THE PAGE CANNOT BE FOUND</TITLE>";
static_assert(kErrorTitle.size() == kErrorTitleUpper.size());
constexpr size_t kFirstBlock = 16 * 1024;
constexpr size_t kLargestBlock = 4 * 1024 * 1024;
constexpr size_t kMappedBlock = 1024 * 1024;
constexpr size_t kSpareBytes = 128 * 1024 * 1024;
// Every block holds whole pieces, so that a piece never needs a block larger than the next.
static_assert(kFirstBlock >= kReadPiece && kFirstBlock % kReadPiece == 0 && kLargestBlock % kReadPiece == 0);

// Whether the error title starts at (piece p, offset i), following the text across pieces.
bool TitleAt(const std::vector<std::span<const uint8_t>>& pieces, size_t p, size_t i) {
  for (size_t k = 0; k < kErrorTitle.size(); ++k) {
    while (p < pieces.size() && i >= pieces[p].size()) ++p, i = 0;
    if (p == pieces.size()) return false;
    const char c = static_cast<char>(pieces[p][i]);
    if (c != kErrorTitle[k] && c != kErrorTitleUpper[k]) return false;
    ++i;
  }
  return true;
}

bool ContainsTitleAfterStart(const std::vector<std::span<const uint8_t>>& pieces) {
  size_t start = 0;  // offset of the piece in the whole text
  for (size_t p = 0; p < pieces.size(); ++p) {
    const uint8_t* base = pieces[p].data();
    const size_t n = pieces[p].size();
    for (size_t i = 0; i < n;) {
      const void* hit = std::memchr(base + i, '<', n - i);
      if (!hit) break;
      i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - base);
      if (start + i > 0 && TitleAt(pieces, p, i)) return true;
      ++i;
    }
    start += n;
  }
  return false;
}

}  // namespace

Body::Block::Block(Block&& o) noexcept
    : data(std::exchange(o.data, nullptr)), capacity(o.capacity), used(o.used), mapped(o.mapped) {}

namespace {

// Large blocks of finished bodies, kept for the next download of this thread. They are
// handed back to the kernel with MADV_FREE: it may take the pages whenever it needs memory,
// and until it does, the next body reuses them without a page fault. Bounded in total size.
class SparePool {
 public:
  ~SparePool() {
    for (auto& [p, cap] : spare_) ::munmap(p, cap);
  }
  uint8_t* Take(size_t cap) {
    for (size_t i = 0; i < spare_.size(); ++i) {
      if (spare_[i].second != cap) continue;
      uint8_t* p = spare_[i].first;
      spare_.erase(spare_.begin() + static_cast<ptrdiff_t>(i));
      bytes_ -= cap;
      return p;
    }
    return nullptr;
  }
  size_t Bytes() const { return bytes_; }
  void Give(uint8_t* p, size_t cap) {
    if (bytes_ + cap > kSpareBytes) {
      ::munmap(p, cap);
      return;
    }
    ::madvise(p, cap, MADV_FREE);
    spare_.emplace_back(p, cap);
    bytes_ += cap;
  }

 private:
  std::vector<std::pair<uint8_t*, size_t>> spare_;
  size_t bytes_ = 0;
};

SparePool& Spares() {
  thread_local SparePool pool;
  return pool;
}

}  // namespace

size_t Body::SpareBytes() { return Spares().Bytes(); }

Body::Block::~Block() {
  if (!data) return;
  if (mapped) Spares().Give(data, capacity);
  else ::operator delete[](data);
}

uint8_t* Body::Reserve(size_t n) {
  if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < n) {
    const size_t cap = blocks_.empty() ? kFirstBlock : std::min(blocks_.back().capacity * 2, kLargestBlock);
    blocks_.reserve(blocks_.size() + 1);  // nothing below may leak the new memory
    Block b;
    b.capacity = cap;
    if (cap >= kMappedBlock) {
      // Large blocks are filled at once: the pages are made in one call instead of one fault
      // each, which is most of the cost of holding a large body.
      b.data = Spares().Take(cap);
      if (!b.data) {
        void* p = ::mmap(nullptr, cap, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        b.data = static_cast<uint8_t*>(p);
      }
      b.mapped = true;
    } else {
      b.data = static_cast<uint8_t*>(::operator new[](cap));
    }
    blocks_.push_back(std::move(b));
  }
  return blocks_.back().data + blocks_.back().used;
}

uint8_t* Body::Reserve(size_t n, size_t& room) {
  uint8_t* at = Reserve(n);
  room = blocks_.back().capacity - blocks_.back().used;
  return at;
}

void Body::Append(std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t n = std::min(bytes.size(), kReadPiece);
    std::memcpy(Reserve(n), bytes.data(), n);
    Commit(n);
    bytes.remove_prefix(n);
  }
}

void Body::Clear() {
  blocks_.clear();
  whole_.reset();
  size_ = 0;
}

std::vector<std::span<const uint8_t>> Body::Pieces() const {
  std::vector<std::span<const uint8_t>> out;
  if (whole_ && !whole_->empty()) out.emplace_back(whole_->data(), whole_->size());
  for (const auto& b : blocks_)
    if (b.used) out.emplace_back(b.data, b.used);
  return out;
}

std::string Body::ToString() const {
  std::string s;
  if (whole_) s.assign(whole_->begin(), whole_->end());
  for (const auto& b : blocks_) s.append(reinterpret_cast<const char*>(b.data), b.used);
  return s;
}

Body GetUrlContent(const std::u16string& url, FillAhead* ahead) {
  Body body;
  desk::CurrentPlatform().DoEvents();
  // The client is held for the whole call: a host may install another one at a dispatch point.
  std::shared_ptr<desk::http::Client> client = desk::http::SharedClient();
  std::unique_ptr<desk::http::Session> session = client->OpenSession(kUserAgent);
  desk::CurrentPlatform().DoEvents();
  const std::string url8 = desk::U8(url);
  std::optional<Body> fetched;
  if (ahead) fetched = ahead->Fetch(client, *session, url8);
  bool whole = true;
  if (fetched) {
    body = std::move(*fetched);
  } else {
    // The body's blocks take what arrives: a client of the host's own is read in pieces of
    // kReadPiece bytes, the platform's writes into the blocks directly.
    struct Sink final : desk::http::BodySink {
      explicit Sink(Body& b) : body(b) {}
      uint8_t* Room(size_t least, size_t& room) override { return body.Reserve(least, room); }
      void Commit(size_t n) override { body.Commit(n); }
      Body& body;
    } sink(body);
    std::unique_ptr<desk::http::Request> request = session->OpenUrl(url8);
    request->ReadAll(sink, kReadPiece);
    whole = request->Succeeded();
  }
  desk::CurrentPlatform().DoEvents();
  // A body cut short, refused by its status or over the cap is no body at all.
  if (!whole) body.Clear();
  return body;
}

bool IsPageContainsError(const Body& page) {
  return mdlError::Trap(kModule, u"IsPageContainsError", [&] { return ContainsTitleAfterStart(page.Pieces()); });
}

bool IsPageContainsError(std::string_view page) {
  return mdlError::Trap(kModule, u"IsPageContainsError", [&] {
    std::vector<std::span<const uint8_t>> one{{reinterpret_cast<const uint8_t*>(page.data()), page.size()}};
    return ContainsTitleAfterStart(one);
  });
}

bool IsCacheFileName(std::u16string_view fileName) {
  if (fileName.empty() || fileName == u"." || fileName == u"..") return false;
  if (fileName.find(u'/') != std::u16string_view::npos || fileName.find(u'\0') != std::u16string_view::npos)
    return false;
  // Its length in UTF-8, without converting it.
  size_t bytes = 0;
  for (size_t i = 0; i < fileName.size(); ++i) {
    const char16_t c = fileName[i];
    if (c < 0x80) bytes += 1;
    else if (c < 0x800) bytes += 2;
    else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < fileName.size() && fileName[i + 1] >= 0xDC00 &&
             fileName[i + 1] <= 0xDFFF)
      bytes += 4, ++i;
    else bytes += 3;  // unpaired surrogates become U+FFFD, also 3 bytes
  }
  return bytes <= NAME_MAX;
}

std::optional<std::u16string> CachePath(desk::FileSystem& fs, std::u16string_view fileName) {
  if (!IsCacheFileName(fileName)) return std::nullopt;
  return fs.TempFolder() + u"/" + std::u16string(fileName);
}

std::u16string DownloadFile(const std::u16string& url, const std::u16string& fileName, bool force,
                            FillAhead* ahead) {
  return mdlError::Trap(kModule, u"DownloadFile", [&]() -> std::u16string {
    std::shared_ptr<desk::FileSystem> fs = detail::SharedFileSystem();
    if (!fs) desk::Raise(desk::Err::ObjectNotSet);
    // Checked before anything else: such a name would put the file outside the cache folder
    // (or nowhere), so no request is made for it.
    const std::optional<std::u16string> cached = CachePath(*fs, fileName);
    if (!cached) desk::Raise(desk::Err::PathFileAccess);
    const std::u16string& path = *cached;
    const bool exists = fs->FileExists(path);
    if (!force && exists) return u"True";
    Body body = GetUrlContent(url, ahead);
    if (IsPageContainsError(body) || body.size() < 1) return u"";
    fs->ReplaceFile(path, body.Pieces());
    return path;
  });
}

}  // namespace Quorvane::mdlInternet
