// The library's threads belong to the process that started them: a host that forks, in the
// middle of a Fill or after one, fills in both processes; and a Fill whose threads cannot be
// started does the work on the host's thread.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "httpImages.h"
#include "ucMain.h"
#include "desk/imagelist.h"
#include "desk/picture_job.h"
#include "process/threads.h"
#include "support/encode.h"
#include "support/web_test.h"

namespace {

using namespace std::chrono_literals;

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define DESK_UNDER_TSAN 1
#endif
#endif

constexpr int kPictures = 12;

// A JPEG `width` pixels wide, so that each entry's picture can be told apart.
std::string Picture(int width) { return testenv::EncodeJpeg(testenv::PatternRgb(width, 40, width), width, 40); }

class Threads : public testenv::WebTest {
 protected:
  void SetUp() override {
    WebTest::SetUp();
    // The first pictures come slowly, so that the Fill starts the others meanwhile and a fork
    // finds transfers running.
    for (int i = 0; i < kPictures; ++i) {
      bodies_.push_back(Picture(30 + i));
      const std::string body = bodies_.back();
      const auto pause = i < 3 ? 30ms : 0ms;
      server_.Routes().Get(Path(i), [body, pause](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(body.size(), "image/jpeg", [body, pause](size_t offset, size_t, httplib::DataSink& sink) {
          std::this_thread::sleep_for(pause);
          return sink.write(body.data() + offset, std::min<size_t>(body.size() / 4 + 1, body.size() - offset));
        });
      });
    }
    // Each answer closes its connection: the server's few threads would otherwise be held by
    // the kept connections of two processes, and a request would wait past the stall guard.
    server_.Routes().set_keep_alive_max_count(1);
    server_.Start();
    SetClient();
    control_ = NewControl();
  }
  void TearDown() override {
    desk::detail::FailThreadStarts(desk::detail::ThreadRole::Transfers, false);
    desk::detail::FailThreadStarts(desk::detail::ThreadRole::Decoders, false);
    Host().onDoEvents = nullptr;
    control_.reset();
    WebTest::TearDown();
  }
  // A new client (its threads start on first use), patient enough for two processes on a
  // busy machine.
  static void SetClient() {
    desk::http::Options o;
    o.stallTimeout = 5s;
    desk::http::SetClient(desk::http::MakeCurlClient(o));
  }
  static std::string Path(int i) { return "/p" + std::to_string(i) + ".jpg"; }
  // A control over the twelve pictures that downloads each of them again.
  desk::Ref<Quorvane::ucMain> NewControl() {
    auto control = desk::MakeRef<Quorvane::ucMain>();
    control->ForceDownload(true);
    for (int i = 0; i < kPictures; ++i) control->ListImages()->Add(u"k" + desk::DecimalText(i), server_.Url16(Path(i)));
    return control;
  }
  // What went wrong with `control`'s Fill, or "" when every picture is there, in order, and
  // every cache file holds what the server sent.
  std::string Problem(Quorvane::ucMain& control) {
    auto& shown = desk::RefCast<desk::ImageList>(control.ImageListControl())->Images();
    if (!Boxes().empty()) return "a report: " + desk::U8(Boxes()[0].text);
    if (shown.Count() != kPictures) {
      std::string keys;
      for (int32_t i = 0; i < shown.Count(); ++i) keys += " " + desk::U8(shown.At(static_cast<size_t>(i))->Key());
      return "pictures:" + keys;
    }
    for (int i = 0; i < kPictures; ++i) {
      if (shown.At(static_cast<size_t>(i))->Original()->width != 30 + i) return "picture " + std::to_string(i);
      if (testenv::ReadFile(Cache("p" + std::to_string(i) + ".jpg")) != bodies_[static_cast<size_t>(i)])
        return "cache file " + std::to_string(i);
    }
    return "";
  }

  desk::Ref<Quorvane::ucMain> control_;
  std::vector<std::string> bodies_;
};

// The exit status of a forked child, or a text for one that hung (killed by its alarm) or
// crashed.
std::string Outcome(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return "lost";
  if (WIFEXITED(status)) return WEXITSTATUS(status) == 0 ? "" : "exit " + std::to_string(WEXITSTATUS(status));
  return WTERMSIG(status) == SIGALRM ? "hung" : "signal " + std::to_string(WTERMSIG(status));
}

// In the child: 0 when `problem` is empty; it is printed otherwise.
[[noreturn]] void EndChild(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "child: %s\n", problem.c_str());
  std::fflush(stderr);
  _exit(problem.empty() ? 0 : 1);
}

// The host forks at a dispatch point of its Fill, while transfers started ahead run and
// pictures are being checked; both processes go on with the same Fill into the same cache
// files, and both end with every picture and the right files.
TEST_F(Threads, AFillGoesOnInBothProcessesAfterAForkInItsMiddle) {
#ifdef DESK_UNDER_TSAN
  GTEST_SKIP() << "ThreadSanitizer does not follow a child forked from a threaded process";
#endif
  for (int at : {1, 8, 20}) {  // before the first body, with transfers ahead running, near the end
    control_ = NewControl();
    Host().messageBoxes.clear();
    int points = 0;
    pid_t child = -1;
    Host().onDoEvents = [&] {
      if (++points != at) return;
      child = fork();
      if (child == 0) alarm(30);
    };
    control_->Fill();
    Host().onDoEvents = nullptr;
    if (child == 0) EndChild(Problem(*control_));
    ASSERT_GT(child, 0) << "fork at point " << at;
    EXPECT_EQ(Problem(*control_), "") << "parent, fork at point " << at;
    EXPECT_EQ(Outcome(child), "") << "child, fork at point " << at;
  }
}

// After a Fill (its transfer thread and decoders idle), a child fills its own control while
// the parent fills again: the same cache names, at once.
TEST_F(Threads, AChildForkedAfterAFillFillsWhileTheParentFillsAgain) {
#ifdef DESK_UNDER_TSAN
  GTEST_SKIP() << "ThreadSanitizer does not follow a child forked from a threaded process";
#endif
  control_->Fill();
  ASSERT_EQ(Problem(*control_), "");
  const pid_t child = fork();
  if (child == 0) {
    alarm(30);
    auto own = NewControl();
    own->Fill();
    EndChild(Problem(*own));
  }
  ASSERT_GT(child, 0);
  control_ = NewControl();
  control_->Fill();
  EXPECT_EQ(Problem(*control_), "");
  EXPECT_EQ(Outcome(child), "");
}

// A fork from another thread while the Fill runs: the child has none of the parent's threads
// (and may have been forked while one of them held a lock), yet its own Fill completes.
TEST_F(Threads, AChildForkedFromAnotherThreadDuringAFillFills) {
#ifdef DESK_UNDER_TSAN
  GTEST_SKIP() << "ThreadSanitizer does not follow a child forked from a threaded process";
#endif
  pid_t child = -1;
  std::thread forker([&] {
    std::this_thread::sleep_for(40ms);  // the first, slow bodies are on their way
    child = fork();
    if (child == 0) {
      alarm(30);
      Host().messageBoxes.clear();
      auto own = NewControl();
      own->Fill();
      EndChild(Problem(*own));
    }
  });
  control_->Fill();
  forker.join();
  EXPECT_EQ(Problem(*control_), "");
  ASSERT_GT(child, 0);
  EXPECT_EQ(Outcome(child), "");
}

// No thread can be started for the transfers, the decoders, or either: a Fill of twelve
// pictures completes all the same, on the host's thread; once threads can start again, the
// next Fill uses them.
TEST_F(Threads, AFillCompletesWhenItsThreadsCannotStart) {
  using desk::detail::ThreadRole;
  const struct {
    const char* what;
    bool transfers, decoders;
  } rows[] = {{"transfer thread", true, false}, {"decoder threads", false, true}, {"both", true, true}};
  for (const auto& row : rows) {
    // A new client and a new pool, so that each starts its threads in this row.
    SetClient();
    desk::detail::StartDecodersAfresh();
    desk::detail::FailThreadStarts(ThreadRole::Transfers, row.transfers);
    desk::detail::FailThreadStarts(ThreadRole::Decoders, row.decoders);
    Host().messageBoxes.clear();
    control_ = NewControl();
    control_->Fill();
    EXPECT_EQ(Problem(*control_), "") << row.what;

    desk::detail::FailThreadStarts(ThreadRole::Transfers, false);
    desk::detail::FailThreadStarts(ThreadRole::Decoders, false);
    control_ = NewControl();
    control_->Fill();
    EXPECT_EQ(Problem(*control_), "") << row.what << ", threads back";
  }
}

// The seams themselves: a transfer asked of a client whose thread cannot start is refused
// (null: the caller reads the URL itself), and starts once threads can; a picture job with no
// decoder thread is done before Start returns.
TEST_F(Threads, EachStartThatCannotMakeItsThreadFallsBackToTheCaller) {
  using desk::detail::ThreadRole;
  desk::detail::FailThreadStarts(ThreadRole::Transfers, true);
  auto session = desk::http::SharedClient()->OpenSession("test");
  auto* starter = dynamic_cast<desk::http::TransferSession*>(session.get());
  ASSERT_NE(starter, nullptr);
  bool ended = false;
  EXPECT_EQ(starter->Start(server_.Url(Path(5)), [&] { ended = true; }), nullptr);
  EXPECT_FALSE(ended) << "a transfer that never started told an end";
  desk::detail::FailThreadStarts(ThreadRole::Transfers, false);
  auto transfer = starter->Start(server_.Url(Path(5)), nullptr);
  ASSERT_NE(transfer, nullptr);
  for (auto end = std::chrono::steady_clock::now() + 5s; !transfer->Done() && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(2ms);
  ASSERT_TRUE(transfer->Succeeded());
  EXPECT_EQ(transfer->TakeBody(), std::vector<uint8_t>(bodies_[5].begin(), bodies_[5].end()));

  desk::detail::StartDecodersAfresh();
  desk::detail::FailThreadStarts(ThreadRole::Decoders, true);
  const auto caller = std::this_thread::get_id();
  std::thread::id ranOn;
  auto job = desk::PictureJob::Start(std::make_shared<const std::vector<uint8_t>>(bodies_[2].begin(), bodies_[2].end()),
                                     [&] { ranOn = std::this_thread::get_id(); });
  ASSERT_TRUE(job->Done());
  EXPECT_EQ(ranOn, caller);
  EXPECT_EQ(job->Take(job->Bytes())->width, 32);
}

}  // namespace
