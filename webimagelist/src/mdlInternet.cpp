#include "mdlInternet.h"

#include <cstring>
#include <optional>
#include <utility>

#include "cache_file.h"
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

namespace {
// The offer of the innermost PrefetchFor of this thread, until a download takes it. A plain
// pointer: it needs no destructor, so a download made while the thread's objects are torn down
// still finds it.
thread_local PrefetchFor* offered = nullptr;
}  // namespace

PrefetchFor::PrefetchFor(Prefetch& prefetch, std::u16string url)
    : prefetch_(prefetch), url_(std::move(url)), previous_(std::exchange(offered, this)) {}

PrefetchFor::~PrefetchFor() { offered = previous_; }

Prefetch* PrefetchFor::Take(const std::u16string& url) {
  PrefetchFor* offer = std::exchange(offered, nullptr);
  return offer && offer->url_ == url ? &offer->prefetch_ : nullptr;
}

Body GetUrlContent(const std::u16string& url) {
  // Taken before the first dispatch point: a download the host makes there is its own.
  Prefetch* ahead = PrefetchFor::Take(url);
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

std::u16string DownloadFile(const std::u16string& url, const std::u16string& fileName, bool force) {
  return mdlError::Trap(kModule, u"DownloadFile", [&]() -> std::u16string {
    std::shared_ptr<desk::FileSystem> fs = detail::SharedFileSystem();
    if (!fs) desk::Raise(desk::Err::ObjectNotSet);
    // Checked before anything else: such a name would put the file outside the cache folder
    // (or nowhere), so no request is made for it.
    const std::optional<std::u16string> cached = cacheFile::PathOf(*fs, fileName);
    if (!cached) desk::Raise(desk::Err::PathFileAccess);
    const std::u16string& path = *cached;
    const bool exists = fs->FileExists(path);
    if (!force && exists) return u"True";
    Body body = GetUrlContent(url);
    if (IsPageContainsError(body) || body.size() < 1) return u"";
    fs->ReplaceFile(path, body.Pieces());
    return path;
  });
}

}  // namespace Quorvane::mdlInternet
