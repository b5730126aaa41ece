// Pictures checked on the decoder threads: the same answers as OpenPicture on the caller's
// thread, no more threads than cores, and a dropped job that is never heard of again.
#include <gtest/gtest.h>

#include <sched.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "desk/picture_job.h"
#include "desk/picture_loader.h"
#include "support/damaged_pictures.h"
#include "support/encode.h"
#include "support/test_support.h"
#include "support/web_test.h"

namespace {

using namespace std::chrono_literals;

std::shared_ptr<const std::vector<uint8_t>> Shared(const std::string& s) {
  return std::make_shared<const std::vector<uint8_t>>(s.begin(), s.end());
}

bool WaitDone(const desk::PictureJob& job) {
  for (int i = 0; i < 2000 && !job.Done(); ++i) std::this_thread::sleep_for(5ms);
  return job.Done();
}

// Every format and every damaged form: the job's picture, or its error, is OpenPicture's.
TEST(PictureJob, AnswersAsOpenPictureDoes) {
  struct Case {
    std::string what, bytes;
  };
  std::vector<Case> cases;
  for (const char* f : {"px.png", "px.gif", "px.jpg", "px.bmp", "px.ico", "pngentry.ico"}) {
    const std::string good = testenv::DataFile(f);
    cases.push_back({f, good});
    for (const auto& d : testenv::DamagedForms(good)) cases.push_back({std::string(f) + ", " + d.what, d.bytes});
  }
  const auto rgb = testenv::PatternRgb(700, 500, 3);
  cases.push_back({"large jpeg (a preview)", testenv::EncodeJpeg(rgb, 700, 500)});
  cases.push_back({"large png (a preview)", testenv::EncodePng(rgb, 700, 500)});
  cases.push_back({"no picture", "just some text"});
  std::vector<std::shared_ptr<desk::PictureJob>> jobs;
  for (const Case& c : cases) jobs.push_back(desk::PictureJob::Start(Shared(c.bytes)));
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    ASSERT_TRUE(WaitDone(*jobs[i]));
    const std::vector<uint8_t> bytes(cases[i].bytes.begin(), cases[i].bytes.end());
    desk::Ref<desk::Picture> direct;
    const int32_t expected = desk_test::ErrOf([&] { direct = desk::OpenPicture(bytes); });
    EXPECT_EQ(jobs[i]->Error(), expected);
    desk::Ref<desk::Picture> p;
    EXPECT_EQ(desk_test::ErrOf([&] { p = jobs[i]->Take(bytes); }), expected);
    if (expected) continue;
    EXPECT_EQ(p->width, direct->width);
    EXPECT_EQ(p->height, direct->height);
    EXPECT_EQ(p->kind, direct->kind);
    EXPECT_EQ(p->pixels, direct->pixels);
    EXPECT_EQ(p->preview, direct->preview);
    EXPECT_EQ(p->encoded, bytes);
    EXPECT_EQ(desk_test::ErrOf([&] { jobs[i]->Take(bytes); }), 5) << "taken twice";
  }
}

// Jobs run on at most DecoderThreads threads, never more than the cores this process may
// use, and never on the caller's; a job dropped while it waits never runs or tells, and lets
// its bytes go at once.
TEST(PictureJob, DecoderThreadsAreFewAndDroppedJobsAreNotHeardOf) {
  cpu_set_t set;
  CPU_ZERO(&set);
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  const int threads = desk::DecoderThreads();
  EXPECT_LE(threads, CPU_COUNT(&set));
  EXPECT_GE(threads, 1);

  // One job per thread holds its thread until the gate opens.
  std::mutex mu;
  std::condition_variable cv;
  bool open = false;
  int held = 0;
  std::set<std::thread::id> seen;
  const auto jpeg = Shared(testenv::EncodeJpeg(testenv::PatternRgb(300, 200, 9), 300, 200));
  std::vector<std::shared_ptr<desk::PictureJob>> gates;
  for (int i = 0; i < threads; ++i)
    gates.push_back(desk::PictureJob::Start(jpeg, [&] {
      std::unique_lock lock(mu);
      seen.insert(std::this_thread::get_id());
      ++held;
      cv.notify_all();
      cv.wait(lock, [&] { return open; });
    }));
  {
    std::unique_lock lock(mu);
    ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return held == threads; }));
  }
  std::atomic<int> late{0}, kept{0};
  std::vector<std::shared_ptr<desk::PictureJob>> dropped;
  const auto spare = Shared(std::string(jpeg->begin(), jpeg->end()));  // held by the dropped jobs alone
  for (int i = 0; i < 4; ++i) dropped.push_back(desk::PictureJob::Start(spare, [&] { ++late; }));
  auto last = desk::PictureJob::Start(jpeg, [&] { ++kept; });
  dropped.clear();
  EXPECT_EQ(spare.use_count(), 1) << "dropped jobs kept their bytes while they waited";
  {
    std::lock_guard lock(mu);
    open = true;
  }
  cv.notify_all();
  ASSERT_TRUE(WaitDone(*last));
  for (auto& g : gates) ASSERT_TRUE(WaitDone(*g));
  EXPECT_EQ(kept.load(), 1);
  EXPECT_EQ(late.load(), 0) << "a dropped job ran";
  EXPECT_EQ(static_cast<int>(seen.size()), threads);
  EXPECT_FALSE(seen.count(std::this_thread::get_id()));
}

}  // namespace
