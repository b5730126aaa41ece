// Pictures checked and decoded off the caller's thread.
//
// A PictureJob does what OpenPicture does to a picture's bytes (reads all of them strictly,
// keeps all the pixels of a small picture or a preview of a large one) on one of the
// run-time's decoder threads, while the caller's thread goes on (a window painting, say).
// There are never more decoder threads than cores the process may run on, and at most
// kMostDecoderThreads; they are made on first use and serve every job in the order started.
// Where no decoder thread can be started, a job is done at once on the caller's thread; in a
// forked child, a job the parent started is done again on the caller's thread when first asked.
// The Picture itself is made on the caller's thread (Take): objects are not shared across
// threads.
#pragma once

#include "desk/export.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "desk/picture.h"

namespace desk {

inline constexpr int kMostDecoderThreads = 4;

class DESK_API PictureJob {
 public:
  // Queues the check of `bytes`, which nobody changes while the job holds them. `onDone` runs
  // once on the decoder thread when the job finished, never after the job was dropped; it
  // must be quick and safe on any thread.
  static std::shared_ptr<PictureJob> Start(std::shared_ptr<const std::vector<uint8_t>> bytes,
                                           std::function<void()> onDone = nullptr);
  // Dropping a job that has not started lets its bytes go at once (the queue skips it); one
  // that runs finishes unseen.
  ~PictureJob();
  PictureJob(const PictureJob&) = delete;
  PictureJob& operator=(const PictureJob&) = delete;

  // True once the bytes were checked. Never waits.
  bool Done() const;
  // Once Done: the error number OpenPicture would fail with (481 for a cut or lying picture,
  // 7 when memory ran out); 0 for a picture.
  int32_t Error() const;
  // The bytes being checked.
  const std::vector<uint8_t>& Bytes() const;
  // Once Done, on the caller's thread: the picture OpenPicture would make, keeping `encoded`
  // as its bytes (the same bytes as the job's, read again by the caller, or a copy). Raises
  // Error(); answers once (a second call raises 5).
  Ref<Picture> Take(std::vector<uint8_t> encoded);

  struct State;

 private:
  explicit PictureJob(std::shared_ptr<State> state);
  State& Own() const;  // this process's state of the job (a forked child's own)
  mutable std::shared_ptr<State> state_;
};

// The number of decoder threads jobs run on: the cores the process may run on, 1 to
// kMostDecoderThreads.
DESK_API int DecoderThreads();

}  // namespace desk
