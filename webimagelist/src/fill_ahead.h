// Work a Fill starts ahead of its walk, so that downloads overlap and pictures are checked on
// the decoder threads while the window keeps painting.
//
// What the host sees stays what a Fill that did everything in turn shows: the walk reaches
// each entry in order, with its dispatch points, its DownloadFile, its picture and its
// report; work done ahead only lets the walk find its bytes or its picture ready. The walk
// checks that work against what it then asks for, and drops it when it differs:
//  - a transfer started ahead serves the walk only when the walk asks the same client for the
//    same URL (the host may change either at a dispatch point);
//  - a picture checked ahead serves the walk only when the file the walk loads holds the very
//    bytes that were checked: the same cache file, unchanged (desk::FileStamp), or the same
//    bytes read again.
// Pictures smaller than kDecodeInline are decoded by the walk itself, as before the threads;
// cached pictures are checked ahead once the walk met a larger one.
// A transfer starts ahead only when the walk would make the request itself (the download is
// forced, or the cache file is missing and no entry before it in this Fill caches the same
// file), only through a client whose sessions run transfers by themselves, and only once
// overlapping pays: a body of at least kWorthOverlapping, an answer slower than kSlowAnswer,
// a body that comes slower than kNarrowLink (measured over its first kRateSample bytes), or
// an HTTP/2 connection. Small pictures from a near, fast server still come one after another
// on one connection, as before. Nothing starts for entries after one whose picture is known
// not to load.
// Whatever is left when the Fill ends (after its last entry, or at a failure) is dropped: a
// transfer still running stops, and nothing of it reaches the cache.
//
// While the walk waits (for bytes or for a picture), the platform paints and runs its timers
// every kPaintSlice (Platform::ProcessPaintAndTimers). All of this runs on the host's thread;
// the transfers and the decoders only tell it that they ended. Where no transfer thread can
// be started, the walk reads each body itself; where no decoder thread can, each picture is
// checked on the host's thread. In a forked child (the host may fork at a dispatch point),
// the work under way is the parent's: the child starts what it needs again.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "mdlInternet.h"
#include "desk/http.h"
#include "desk/picture.h"

namespace Quorvane {

class httpImage;
class httpImages;

class FillAhead final : public mdlInternet::Prefetch {
 public:
  static constexpr int kMostTransfers = 6;
  static constexpr size_t kAheadEntries = 64;
  static constexpr int kDecodesAheadPerThread = 16;
  static constexpr size_t kAheadBytes = size_t{64} * 1024 * 1024;
  static constexpr uint64_t kWorthOverlapping = 128 * 1024;
  static constexpr std::chrono::milliseconds kSlowAnswer{20};
  static constexpr uint64_t kRateSample = 32 * 1024;
  static constexpr double kNarrowLink = 4e6;  // bytes a second
  static constexpr int32_t kPaintSlice = 10;  // milliseconds
  // A picture smaller than this is decoded by the walk itself, at once: handing it to a
  // decoder thread and back costs more than its decoding.
  static constexpr size_t kDecodeInline = 64 * 1024;

  // For a Fill over the entries `list` holds now; `forceDownload` is read whenever it counts.
  FillAhead(const httpImages& list, const int16_t& forceDownload);
  ~FillAhead();
  FillAhead(const FillAhead&) = delete;
  FillAhead& operator=(const FillAhead&) = delete;

  // The walk is at `entry`: work for the entries it passed over is dropped, more may start.
  void Reached(httpImage& entry);
  // The walk's download of the entry it is at (httpImage::DownloadFile), its body asked of
  // Fetch.
  bool DownloadFile(httpImage& entry, bool force);
  // The body of `url` for the entry the walk is at, asked of `client` through `session`: from
  // the transfer started ahead for it when that matches, else from one started now, waiting
  // with the window painting. Empty for a failed transfer. Nullopt when the session cannot
  // run transfers by themselves: the caller then reads the body itself.
  std::optional<mdlInternet::Body> Fetch(const std::shared_ptr<desk::http::Client>& client,
                                         desk::http::Session& session, const std::string& url) override;
  // The picture of the entry the walk is at, from the file at `path`, as the platform's
  // LoadPicture gives it (53, 75, 481 alike).
  desk::Ref<desk::Picture> LoadPicture(const std::u16string& path);

 private:
  struct Slot;
  class Signal;

  bool Renew();  // true once in a forked child: the parent's work was let go
  void Pump();
  template <class Done>
  void WaitUntil(Done done);
  void Harvest(Slot& s);
  // Tells the walk, wherever it waits, that a transfer or a decode ended.
  std::function<void()> Notifier() const;
  // Starts the transfer of `s` for `url` through `starter`, a session of `client`; false when
  // no transfer thread could start.
  bool StartTransfer(Slot& s, desk::http::TransferSession& starter, const std::shared_ptr<desk::http::Client>& client,
                     std::string url);
  bool SameFileBefore(size_t at, const std::u16string& name);
  desk::http::TransferSession* AheadSession();

  std::vector<Slot> slots_;  // the entries at the start, in order
  std::unordered_map<const httpImage*, size_t> positions_;
  std::unique_ptr<Slot> extra_;  // an entry the walk found that was not there at the start
  Slot* current_ = nullptr;
  size_t next_ = 0;  // slots_ before this one were reached
  size_t stopAfter_ = SIZE_MAX;  // the picture of this slot is known not to load
  bool overlap_ = false;
  bool largePictures_ = false;  // the walk met a picture of kDecodeInline bytes or more
  const int16_t& force_;
  std::shared_ptr<Signal> signal_;
  uint64_t generation_;  // of the process whose work the slots hold
  // A client whose sessions run transfers by themselves, learnt from the walk's own, and
  // the session work ahead goes through.
  std::shared_ptr<desk::http::Client> transferClient_;
  std::unique_ptr<desk::http::Session> aheadSession_;
};

}  // namespace Quorvane
