#include "fill_ahead.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "cache_file.h"
#include "httpImages.h"
#include "shared.h"
#include "desk/picture_job.h"
#include "desk/picture_loader.h"
#include "desk/platform.h"
#include "desk/process.h"
#include "desk/text.h"

namespace Quorvane {

namespace {
using Clock = std::chrono::steady_clock;

// Whether the file at `path` is still the one whose stamp was taken when it was read.
bool SameFile(const std::optional<desk::FileStamp>& read, const std::u16string& path) {
  if (!read) return false;
  const std::optional<desk::FileStamp> now = desk::StampOfFile(path);
  return now && *now == *read;
}
}  // namespace

// Tells the waiting walk that a transfer or a decoder ended.
class FillAhead::Signal {
 public:
  void Notify() {
    {
      std::lock_guard lock(mu_);
      ++count_;
    }
    cv_.notify_all();
  }
  uint64_t Count() {
    std::lock_guard lock(mu_);
    return count_;
  }
  // Until Notify has been called since `seen` was counted, or `ms` passed.
  void Wait(uint64_t seen, int32_t ms) {
    std::unique_lock lock(mu_);
    cv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return count_ != seen; });
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  uint64_t count_ = 0;
};

struct FillAhead::Slot {
  desk::Ref<httpImage> entry;
  bool decided = false;  // what could be done ahead was started, or found needless
  std::shared_ptr<desk::http::Client> client;
  std::string url;
  std::unique_ptr<desk::http::Transfer> transfer;
  Clock::time_point started;
  uint64_t generation = 0;  // of the process that started the transfer
  std::shared_ptr<const std::vector<uint8_t>> body;  // the transfer's, once it ended well
  std::shared_ptr<desk::PictureJob> job;
  std::optional<desk::FileStamp> stamp;  // of the cache file the job's bytes were read from

  size_t HeldBytes() const {
    if (body) return body->size();
    if (job) return job->Bytes().size();
    return transfer ? static_cast<size_t>(transfer->Seen().received) : 0;
  }
  void DropTransfer() {
    transfer.reset();
    body.reset();
  }
  void Drop() {
    DropTransfer();
    job.reset();
    stamp.reset();
  }
};

FillAhead::FillAhead(const httpImages& list, const int16_t& forceDownload)
    : force_(forceDownload), signal_(std::make_shared<Signal>()), generation_(desk::ProcessGeneration()) {
  std::vector<desk::Ref<httpImage>> entries = list.Entries();
  slots_.resize(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    slots_[i].entry = std::move(entries[i]);
    if (slots_[i].entry) positions_.emplace(slots_[i].entry.get(), i);
  }
}

FillAhead::~FillAhead() = default;

bool FillAhead::Renew() {
  if (generation_ == desk::ProcessGeneration()) return false;
  generation_ = desk::ProcessGeneration();
  // A forked child: the transfers and decodes under way are the parent's, and the signal's
  // lock may have been held by one of its threads at the fork. This process starts what it
  // needs again. The entry the walk is at keeps its work, which ends here at once (a transfer
  // as failed, a decode done again on this thread): Fetch starts that transfer again.
  desk::Abandon(std::exchange(signal_, std::make_shared<Signal>()));
  for (size_t i = next_; i < slots_.size(); ++i) {
    slots_[i].Drop();
    slots_[i].decided = false;
  }
  return true;
}

void FillAhead::Reached(httpImage& entry) {
  if (current_) current_->Drop();
  const auto it = positions_.find(&entry);
  if (it == positions_.end() || it->second < next_) {
    extra_ = std::make_unique<Slot>();
    extra_->entry = &entry;
    current_ = extra_.get();
  } else {
    // Entries between were removed from the list meanwhile: their work goes.
    for (size_t i = next_; i < it->second; ++i) slots_[i].Drop();
    current_ = &slots_[it->second];
    next_ = it->second + 1;
    // The walk got past a picture that was to fail: the host changed something.
    if (stopAfter_ < it->second) stopAfter_ = SIZE_MAX;
  }
  Pump();
}

desk::http::TransferSession* FillAhead::AheadSession() {
  std::shared_ptr<desk::http::Client> client = desk::http::SharedClient();
  if (client != transferClient_) return nullptr;  // not known to run transfers by themselves
  if (!aheadSession_) aheadSession_ = client->OpenSession(mdlInternet::kUserAgent);
  return dynamic_cast<desk::http::TransferSession*>(aheadSession_.get());
}

bool FillAhead::DownloadFile(httpImage& entry, bool force) {
  mdlInternet::PrefetchFor prefetch(*this, entry.UrlField());
  return entry.DownloadFile(force);
}

std::function<void()> FillAhead::Notifier() const {
  return [sig = signal_] { sig->Notify(); };
}

bool FillAhead::StartTransfer(Slot& s, desk::http::TransferSession& starter,
                              const std::shared_ptr<desk::http::Client>& client, std::string url) {
  s.client = client;
  s.url = std::move(url);
  s.started = Clock::now();
  s.transfer = starter.Start(s.url, Notifier());
  s.generation = desk::ProcessGeneration();
  return s.transfer != nullptr;
}

bool FillAhead::SameFileBefore(size_t at, const std::u16string& name) {
  auto same = [&](const Slot& s) {
    return s.entry && !s.entry->UrlField().empty() && cacheFile::NameOf(s.entry->UrlField()) == name;
  };
  if (current_ && same(*current_)) return true;
  for (size_t i = next_; i < at; ++i)
    if (same(slots_[i])) return true;
  return false;
}

void FillAhead::Harvest(Slot& s) {
  // Once: a transfer that ended well leaves its body, even an empty one.
  if (!s.transfer || s.body || !s.transfer->Done() || !s.transfer->Succeeded()) return;
  s.body = std::make_shared<const std::vector<uint8_t>>(s.transfer->TakeBody());
  // An empty body or an error page is never cached, so its picture is never loaded.
  const std::string_view text(reinterpret_cast<const char*>(s.body->data()), s.body->size());
  if (s.body->empty() || mdlInternet::IsPageContainsError(text)) return;
  if (!desk::CurrentPlatform().LoadsPicturesWithRuntimeDecoder()) return;
  if (!s.job || s.job->Bytes() != *s.body) s.job = desk::PictureJob::Start(s.body, Notifier());
}

void FillAhead::Pump() {
  Renew();
  const auto now = Clock::now();
  int running = 0, decoding = 0;
  size_t held = 0;
  auto look = [&](Slot& s, bool ahead) {
    if (s.transfer) {
      const desk::http::Transfer::Progress seen = s.transfer->Seen();
      if (seen.announced >= kWorthOverlapping || seen.received >= kWorthOverlapping || seen.multiplexed)
        overlap_ = true;
      const double seconds = std::chrono::duration<double>(now - s.started).count();
      if (!s.transfer->Done()) {
        ++running;
        if (now - s.started >= kSlowAnswer) overlap_ = true;
        if (seen.received >= kRateSample && static_cast<double>(seen.received) < kNarrowLink * seconds) overlap_ = true;
      }
      Harvest(s);
    }
    if (s.job && !s.job->Done()) ++decoding;
    if (ahead) held += s.HeldBytes();
  };
  auto fails = [](const Slot& s) {
    return s.job && s.job->Done() && s.job->Error() == static_cast<int32_t>(desk::Err::InvalidPicture);
  };
  if (current_) look(*current_, false);
  const size_t end = std::min(slots_.size(), next_ + kAheadEntries);
  for (size_t i = next_; i < end; ++i) {
    look(slots_[i], true);
    if (fails(slots_[i])) stopAfter_ = std::min(stopAfter_, i);
  }

  std::shared_ptr<desk::FileSystem> fs = detail::SharedFileSystem();
  // The walk reports a missing file system; the picture it is at fails to load, which ends
  // the Fill.
  if (!fs || (current_ && fails(*current_))) return;
  // Nothing would start: no transfer until overlapping pays, no decode ahead until a picture
  // large enough was met. Not even a look at the files, which would cost as much as a small
  // picture's decoding.
  if (!overlap_ && !largePictures_) return;
  const bool force = force_ != 0;
  const bool decodeAhead = desk::CurrentPlatform().LoadsPicturesWithRuntimeDecoder();
  for (size_t i = next_; i < end && i <= stopAfter_; ++i) {
    Slot& s = slots_[i];
    if (s.decided) continue;
    const std::u16string& url = s.entry ? s.entry->UrlField() : std::u16string();
    const std::u16string name = url.empty() ? std::u16string() : cacheFile::NameOf(url);
    const std::optional<std::u16string> path = cacheFile::PathOf(*fs, name);
    if (!path) {
      s.decided = true;  // the walk reports it, with no request
      continue;
    }
    std::optional<desk::FileStamp> cached;
    if (!force && decodeAhead && s.entry) {
      cached = desk::StampOfFile(s.entry->TempFilePathField());
      if (cached && cached->size < kDecodeInline) {
        // Cached and small: the walk decodes it itself, which costs less than handing it to a
        // decoder thread and back.
        s.decided = true;
        continue;
      }
    }
    if (!force && fs->FileExists(*path)) {
      // Cached: a large picture is checked ahead, from the file the walk will load, which is
      // then not read again while it stays the same file.
      if (!decodeAhead) {
        s.decided = true;
        continue;
      }
      if (decoding >= kDecodesAheadPerThread * desk::DecoderThreads() || held > kAheadBytes) break;
      try {
        if (cached) {
          auto bytes = std::make_shared<const std::vector<uint8_t>>(desk::ReadPictureFile(s.entry->TempFilePathField(), s.stamp));
          held += bytes->size();
          s.job = desk::PictureJob::Start(std::move(bytes), Notifier());
          ++decoding;
        }
      } catch (...) {
        // The walk meets the same failure in its own turn, and reports it then.
      }
      s.decided = true;
      continue;
    }
    // A download the walk will ask for. In order: an entry that must wait holds back the
    // ones after it.
    if (!overlap_ || running >= kMostTransfers || held > kAheadBytes) break;
    if (!force && SameFileBefore(i, name)) break;
    desk::http::TransferSession* starter = AheadSession();
    if (!starter) break;
    s.decided = true;
    // No transfer thread: the walk reads each body itself.
    if (!StartTransfer(s, *starter, transferClient_, desk::U8(url))) break;
    ++running;
  }
}

template <class Done>
void FillAhead::WaitUntil(Done done) {
  for (;;) {
    Renew();
    const uint64_t seen = signal_->Count();
    Pump();
    if (done()) return;
    desk::CurrentPlatform().ProcessPaintAndTimers(kPaintSlice);  // the host may fork here
    if (done()) return;
    Renew();
    signal_->Wait(seen, kPaintSlice);
  }
}

std::optional<mdlInternet::Body> FillAhead::Fetch(const std::shared_ptr<desk::http::Client>& client,
                                                  desk::http::Session& session, const std::string& url) {
  auto* starter = dynamic_cast<desk::http::TransferSession*>(&session);
  if (!starter) return std::nullopt;
  if (transferClient_ != client) {
    transferClient_ = client;
    aheadSession_.reset();
  }
  Renew();
  Slot& s = *current_;  // the walk reached its entry first
  for (;;) {
    // Started ahead for another URL or through another client: the host changed it since.
    if (s.transfer && (s.client != client || s.url != url)) s.DropTransfer();
    // No transfer thread: the caller reads the body.
    if (!s.transfer && !StartTransfer(s, *starter, client, url)) return std::nullopt;
    WaitUntil([&] { return s.transfer->Done(); });
    if (s.generation == desk::ProcessGeneration()) break;
    s.DropTransfer();  // the parent's, met in a forked child: started again in this process
  }
  Harvest(s);
  if (!s.body) return mdlInternet::Body();
  return mdlInternet::Body(s.body);
}

desk::Ref<desk::Picture> FillAhead::LoadPicture(const std::u16string& path) {
  if (path.empty() || !desk::CurrentPlatform().LoadsPicturesWithRuntimeDecoder())
    return desk::CurrentPlatform().LoadPicture(path);
  Renew();
  std::shared_ptr<desk::PictureJob> job = current_ ? current_->job : nullptr;
  std::vector<uint8_t> bytes;
  if (job && SameFile(current_->stamp, path)) {
    bytes = job->Bytes();  // the very file the job checked, unchanged: not read again
  } else {
    bytes = desk::ReadPictureFile(path);
    if (bytes.size() >= kDecodeInline) largePictures_ = true;  // the next ones are checked ahead
    if (job && job->Bytes() != bytes) job.reset();
    if (!job && bytes.size() < kDecodeInline) {
      if (current_) current_->job.reset();
      return desk::OpenPicture(std::move(bytes));  // small: decoded here, at once
    }
    if (!job) job = desk::PictureJob::Start(std::make_shared<const std::vector<uint8_t>>(bytes), Notifier());
  }
  WaitUntil([&] { return job->Done(); });
  if (current_) current_->job.reset();
  return job->Take(std::move(bytes));
}

}  // namespace Quorvane
