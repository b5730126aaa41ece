// Downloads that overlap: a Fill keeps several of the client's transfers running while the
// host sees what it saw when they ran one after another.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fill_ahead.h"
#include "httpImages.h"
#include "ucMain.h"
#include "desk/imagelist.h"
#include "support/encode.h"
#include "support/slow_routes.h"
#include "support/web_test.h"

namespace {

using namespace std::chrono_literals;
using testenv::Eventually;
using testenv::SlowRoutes;

// A Fill over a server where the first picture is slow and the others fast: the others
// arrive first, yet what the host sees is what it saw when they came one after another.
class OverlappedFill : public testenv::WebTest {
 protected:
  void SetUp() override {
    WebTest::SetUp();
    control_ = desk::MakeRef<Quorvane::ucMain>();
  }
  void TearDown() override {
    Host().onDoEvents = nullptr;
    Host().onMessageBox = nullptr;
    control_.reset();
    WebTest::TearDown();
  }
  // A JPEG `width` pixels wide, so that each entry's picture can be told apart.
  static std::string Picture(int width) { return testenv::EncodeJpeg(testenv::PatternRgb(width, 40, width), width, 40); }
  // The first entry: slow enough (about 400 ms) that the Fill starts the others meanwhile.
  void ServeSlowFirst(const std::string& path, int width) {
    const std::string jpeg = Picture(width);
    slow_.Serve(server_, path, jpeg, jpeg.size() / 10 + 1, 40ms);
  }
  // A new control whose entries are `entries` (name, path on the server).
  void Renew(std::initializer_list<std::pair<std::u16string, std::string>> entries = {}) {
    control_ = desk::MakeRef<Quorvane::ucMain>();
    control_->ForceDownload(true);
    for (const auto& [name, path] : entries) Add(name, path);
  }
  void Add(const std::u16string& name, const std::string& path) { List().Add(name, server_.Url16(path)); }
  Quorvane::httpImages& List() { return *control_->ListImages(); }
  desk::ListImages& Pictures() { return desk::RefCast<desk::ImageList>(control_->ImageListControl())->Images(); }
  std::vector<std::pair<std::u16string, int>> Shown() {
    std::vector<std::pair<std::u16string, int>> out;
    for (int32_t i = 0; i < Pictures().Count(); ++i)
      out.emplace_back(Pictures().At(static_cast<size_t>(i))->Key(), Pictures().At(static_cast<size_t>(i))->Original()->width);
    return out;
  }

  SlowRoutes slow_;
  desk::Ref<Quorvane::ucMain> control_;
};

// Pictures, reports and dispatch points come in entry order: each dispatch point and each box
// sees as many pictures as the entries before it gave.
TEST_F(OverlappedFill, LaterEntriesThatArriveFirstStillComeInOrder) {
  ServeSlowFirst("/slow.jpg", 30);
  for (int w : {31, 33, 35, 36}) server_.Serve("/p" + std::to_string(w) + ".jpg", Picture(w));
  server_.Serve("/folder.jpg", Picture(32));
  server_.Start();
  std::filesystem::create_directory(Cache("folder.jpg"));  // its download cannot be cached: a report
  for (auto [name, path] : {std::pair{u"slow", "/slow.jpg"}, {u"a", "/p31.jpg"}, {u"folder", "/folder.jpg"}, {u"b", "/p33.jpg"},
                            {u"missing", "/missing.jpg"} /* 404: skipped without a word */, {u"c", "/p35.jpg"}, {u"d", "/p36.jpg"}})
    Add(name, path);
  auto servedMeanwhile = std::make_shared<std::atomic<int>>(0);
  slow_.OnEnd([this, servedMeanwhile] { *servedMeanwhile = server_.Total() - 1; });
  std::vector<int32_t> atPoints, atBoxes;
  Host().onDoEvents = [&] { atPoints.push_back(Pictures().Count()); };
  Host().onMessageBox = [&](const desk::MessageBoxRequest&) { atBoxes.push_back(Pictures().Count()); };
  control_->Fill();

  EXPECT_EQ(Shown(), (std::vector<std::pair<std::u16string, int>>{{u"slow", 30}, {u"a", 31}, {u"b", 33}, {u"c", 35}, {u"d", 36}}));
  EXPECT_EQ(atPoints, (std::vector<int32_t>{0, 0, 0, 1, 1, 1, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 4, 4, 4}));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, testenv::Report(u"mdlInternet, Module", u"DownloadFile", 75, u"Path/File access error"));
  EXPECT_EQ(atBoxes, std::vector<int32_t>{2});
  EXPECT_EQ(servedMeanwhile->load(), 6) << "the later entries did not arrive while the first one did";
  // About 400 ms of waiting for the first body, in slices of 10 ms.
  EXPECT_GT(Host().paintAndTimersCount, 10) << "the walk waited without letting the platform paint";
  EXPECT_EQ(server_.Total(), 7);
}

// A picture that fails to load ends the Fill there, as before, while transfers for later
// entries run: nothing after it enters the list or is reported, the transfers still running
// stop without reaching the cache, and none starts once the failure is known.
TEST_F(OverlappedFill, APictureThatFailsToLoadEndsTheFillWhileLaterTransfersRun) {
  ServeSlowFirst("/slow.jpg", 30);
  server_.Serve("/a.jpg", Picture(31));
  const std::string good = Picture(32);
  server_.Serve("/cut.jpg", good.substr(0, good.size() / 2));
  SlowRoutes later;
  for (int i = 0; i < 12; ++i) later.Serve(server_, "/later" + std::to_string(i) + ".jpg", Picture(40 + i), 100, 100ms);
  server_.Start();
  for (auto [name, path] : {std::pair{u"slow", "/slow.jpg"}, {u"a", "/a.jpg"}, {u"cut", "/cut.jpg"}}) Add(name, path);
  for (int i = 0; i < 12; ++i) Add(u"later" + desk::DecimalText(i), "/later" + std::to_string(i) + ".jpg");
  control_->Fill();

  EXPECT_EQ(Shown(), (std::vector<std::pair<std::u16string, int>>{{u"slow", 30}, {u"a", 31}}));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, testenv::Report(u"ucMain, User Control", u"Fill", 481, u"Invalid picture"));
  for (int i = 0; i < 12; ++i) EXPECT_FALSE(std::filesystem::exists(Cache("later" + std::to_string(i) + ".jpg"))) << i;
  EXPECT_FALSE(std::filesystem::exists(Cache("cut.jpg"))) << "removed, as before, so that the next Fill asks again";
  EXPECT_GT(later.MostAtOnce(), 0) << "no transfer ran for a later entry";
  // Six at most ran at once, and the cut picture was known long before they could end.
  for (int i = 8; i < 12; ++i) EXPECT_EQ(server_.Count("/later" + std::to_string(i) + ".jpg"), 0) << i;
  EXPECT_TRUE(Eventually([&] { return later.InFlight() == 0; }, 2500ms)) << "a transfer of the ended Fill still runs";
}

// The host re-enters at a dispatch point, after transfers for later entries started: a
// changed URL is fetched anew (the body started ahead is not used), and a Fill started there
// runs whole, as it did when the downloads came one after another.
TEST_F(OverlappedFill, AHostThatReentersAtADispatchPoint) {
  ServeSlowFirst("/slow.jpg", 30);
  for (int w : {31, 32, 33, 52}) server_.Serve("/p" + std::to_string(w) + ".jpg", Picture(w));
  server_.Start();
  struct Row {
    const char* what;
    std::function<void()> action;
    std::vector<std::pair<std::u16string, int>> shown;
    std::vector<std::u16string> boxes;
  } rows[] = {
      {"the URL of a later entry changed",
       [this] { List().Item(u"two")->httpImageURL(server_.Url16("/p52.jpg")); },
       {{u"zero", 30}, {u"one", 31}, {u"two", 52}, {u"three", 33}},
       {}},
      {"a Fill started there",
       [this] { control_->Fill(); },
       {{u"zero", 30}, {u"one", 31}, {u"two", 32}, {u"three", 33}},
       {testenv::Report(u"ucMain, User Control", u"Fill", 35602, u"Key is not unique in collection")}},
  };
  for (Row& r : rows) {
    SCOPED_TRACE(r.what);
    Renew({{u"zero", "/slow.jpg"}, {u"one", "/p31.jpg"}, {u"two", "/p32.jpg"}, {u"three", "/p33.jpg"}});
    const int before = server_.Count("/p32.jpg");
    int points = 0;
    Host().messageBoxes.clear();
    Host().onDoEvents = [&] {
      if (++points == 3) r.action();  // after the first entry's body, the others started ahead
    };
    control_->Fill();
    Host().onDoEvents = nullptr;
    EXPECT_EQ(Shown(), r.shown);
    std::vector<std::u16string> boxes;
    for (const auto& b : Boxes()) boxes.push_back(b.text);
    EXPECT_EQ(boxes, r.boxes);
    EXPECT_GT(server_.Count("/p32.jpg"), before) << "entry two was not fetched ahead";
  }
  EXPECT_EQ(server_.Count("/p52.jpg"), 1);
}

// Transfers overlap where that pays (a large body, a narrow link) and keep to one connection,
// one after another, where it does not (small pictures from a fast server).
TEST_F(OverlappedFill, OverlapsWhereItPays) {
  struct Row {
    const char* what;
    std::string body;
    size_t piece;
    std::chrono::milliseconds pause;
    bool overlaps;
  };
  const Row rows[] = {
      {"small pictures from a fast server", Picture(30), 1 << 20, 0ms, false},
      {"large pictures", testenv::EncodeJpeg(testenv::PhotoRgb(1600, 1200, 3), 1600, 1200), 64 * 1024, 2ms, true},
      {"a narrow link", testenv::EncodeJpeg(testenv::PhotoRgb(800, 600, 4), 800, 600), 4096, 10ms, true},
  };
  std::vector<SlowRoutes> routes(std::size(rows));
  for (size_t r = 0; r < std::size(rows); ++r)
    routes[r].Serve(server_, "/r" + std::to_string(r) + R"(/\d+\.jpg)", rows[r].body, rows[r].piece, rows[r].pause);
  server_.Start();
  for (size_t r = 0; r < std::size(rows); ++r) {
    SCOPED_TRACE(rows[r].what);
    Renew();
    for (int i = 0; i < 8; ++i) Add(u"e" + desk::DecimalText(i), "/r" + std::to_string(r) + "/" + std::to_string(i) + ".jpg");
    control_->Fill();
    EXPECT_EQ(Pictures().Count(), 8);
    EXPECT_EQ(routes[r].MostAtOnce() > 1, rows[r].overlaps) << routes[r].MostAtOnce() << " at once";
    EXPECT_LE(routes[r].MostAtOnce(), Quorvane::FillAhead::kMostTransfers);
  }
}

// A large cached picture checked ahead serves the walk only while its cache file is the one
// that was read: a file replaced by another, or rewritten in place, at a dispatch point after
// the check started is read again, and its own picture shown.
TEST_F(OverlappedFill, ACachedPictureCheckedAheadServesOnlyWhileItsFileIsUnchanged) {
  auto photo = [](int w) { return testenv::EncodeJpeg(testenv::PhotoRgb(w, 700, static_cast<unsigned>(w)), w, 700); };
  server_.Serve("/middle.jpg", Picture(40));
  server_.Start();
  const struct {
    const char* what;
    std::function<void(const std::filesystem::path&)> change;
    int shownWidth;
  } rows[] = {
      {"untouched", [](const std::filesystem::path&) {}, 701},
      {"replaced by another file",
       [&](const std::filesystem::path& p) {
         testenv::WriteFile(p.string() + ".new", photo(702));
         std::filesystem::rename(p.string() + ".new", p);
       },
       702},
      {"rewritten in place", [&](const std::filesystem::path& p) { testenv::WriteFile(p, photo(703)); }, 703},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string first = photo(700), third = photo(701);
    ASSERT_GE(third.size(), Quorvane::FillAhead::kDecodeInline) << "a picture the Fill checks ahead";
    testenv::WriteFile(Cache("first.jpg"), first);
    testenv::WriteFile(Cache("third.jpg"), third);
    std::filesystem::remove(Cache("middle.jpg"));
    control_ = desk::MakeRef<Quorvane::ucMain>();  // not forced: two cached, the middle one downloaded
    Add(u"first", "/first.jpg");
    Add(u"middle", "/middle.jpg");
    Add(u"third", "/third.jpg");
    int points = 0;
    // The middle entry's last dispatch point: the third picture's check started meanwhile.
    Host().onDoEvents = [&] {
      if (++points == 3) row.change(Cache("third.jpg"));
    };
    control_->Fill();
    Host().onDoEvents = nullptr;
    EXPECT_EQ(Shown(), (std::vector<std::pair<std::u16string, int>>{{u"first", 700}, {u"middle", 40}, {u"third", row.shownWidth}}));
  }
}

}  // namespace
