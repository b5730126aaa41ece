// Downloads that overlap: the client's transfers run by themselves, side by side, and a Fill
// keeps several running while the host sees what it saw when they ran one after another.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fill_ahead.h"
#include "httpImages.h"
#include "ucMain.h"
#include "desk/imagelist.h"
#include "fixture.h"
#include "support/encode.h"

namespace {

using namespace std::chrono_literals;

// Bodies sent a piece at a time, with the number of requests in flight at once recorded. The
// counts live as long as the server's threads use them, whatever the test holds.
class SlowRoutes {
 public:
  // `path` serves `body` in pieces of `piece` bytes, `pause` apart.
  void Serve(testenv::TestServer& server, const std::string& path, std::string body, size_t piece,
             std::chrono::milliseconds pause) {
    server.Routes().Get(path, [s = state_, body = std::move(body), piece, pause](const httplib::Request&, httplib::Response& res) {
      s->Enter();
      res.set_content_provider(
          body.size(), "application/octet-stream",
          [body, piece, pause](size_t offset, size_t, httplib::DataSink& sink) {
            std::this_thread::sleep_for(pause);
            return sink.write(body.data() + offset, std::min(piece, body.size() - offset));
          },
          [s](bool) { s->Leave(); });
    });
  }
  int MostAtOnce() const { return state_->most; }
  int InFlight() const { return state_->inFlight; }
  // Runs on the server's thread as each slow body ends; set before the server starts.
  void OnEnd(std::function<void()> f) { state_->onEnd = std::move(f); }

 private:
  struct State {
    void Enter() {
      const int now = ++inFlight;
      for (int m = most; now > m && !most.compare_exchange_weak(m, now);) {
      }
    }
    void Leave() {
      if (onEnd) onEnd();
      --inFlight;
    }
    std::atomic<int> inFlight{0}, most{0};
    std::function<void()> onEnd;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

std::string Bytes(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7) >> 3);
  return s;
}

// Waits until `done()` holds, for `within` at most; false when it never did. What must stop
// soon is given less time than the slow bodies take to end by themselves.
template <class Pred>
bool Eventually(Pred done, std::chrono::milliseconds within = 10s) {
  for (auto end = std::chrono::steady_clock::now() + within; !done() && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(5ms);
  return done();
}

bool AllDone(const std::vector<std::unique_ptr<desk::http::Transfer>>& transfers) {
  return Eventually([&] { return std::all_of(transfers.begin(), transfers.end(), [](const auto& t) { return t->Done(); }); });
}

class Overlap : public testenv::WebTest {
 protected:
  // Starts a transfer through the shared client's session; its end is counted in `ends`.
  std::unique_ptr<desk::http::Transfer> Start(const std::string& url) {
    if (!session_) session_ = desk::http::SharedClient()->OpenSession("test");
    auto* starter = dynamic_cast<desk::http::TransferSession*>(session_.get());
    return starter ? starter->Start(url, [ends = ends_] { ++*ends; }) : nullptr;
  }
  int Ends() const { return *ends_; }

  std::unique_ptr<desk::http::Session> session_;
  std::shared_ptr<std::atomic<int>> ends_ = std::make_shared<std::atomic<int>>(0);
};

// Six slow bodies started together arrive side by side on the client's own thread, each
// whole, each telling its end once.
TEST_F(Overlap, TransfersRunSideBySide) {
  SlowRoutes slow;
  std::vector<std::string> bodies;
  for (int i = 0; i < 6; ++i) {
    bodies.push_back(Bytes(40'000 + 1000 * static_cast<size_t>(i), static_cast<unsigned>(i)));
    slow.Serve(server_, "/s" + std::to_string(i), bodies.back(), 4000, 15ms);
  }
  server_.Start();
  std::vector<std::unique_ptr<desk::http::Transfer>> transfers;
  for (int i = 0; i < 6; ++i) transfers.push_back(Start(server_.Url("/s" + std::to_string(i))));
  ASSERT_TRUE(transfers[0]) << "the curl client's sessions run transfers by themselves";
  ASSERT_TRUE(AllDone(transfers));
  for (size_t i = 0; i < transfers.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(transfers[i]->Succeeded());
    EXPECT_EQ(transfers[i]->Seen().announced, bodies[i].size());
    EXPECT_EQ(transfers[i]->Seen().received, bodies[i].size());
    const std::vector<uint8_t> body = transfers[i]->TakeBody();
    EXPECT_EQ(std::string(body.begin(), body.end()), bodies[i]);
    EXPECT_TRUE(transfers[i]->TakeBody().empty()) << "handed over once";
  }
  EXPECT_EQ(Ends(), 6);
  EXPECT_EQ(slow.MostAtOnce(), 6) << "the transfers ran one after another";
}

// What fails ends failed with no body, and still tells its end; a transfer dropped while it
// runs stops, and tells nothing after it was dropped.
TEST_F(Overlap, FailedAndDroppedTransfers) {
  server_.Routes().Get("/404", [](const httplib::Request&, httplib::Response& r) {
    r.status = 404;
    r.set_content("<html>gone</html>", "text/html");
  });
  server_.Routes().Get("/silent", [this](const httplib::Request&, httplib::Response& r) {
    server_.WaitForRelease();
    r.set_content("late", "text/plain");
  });
  SlowRoutes slow;
  slow.Serve(server_, "/long", Bytes(200'000, 1), 1000, 20ms);
  server_.Start();
  std::vector<std::unique_ptr<desk::http::Transfer>> failing;
  for (std::string url : {server_.Url("/404"), server_.Url("/silent"), std::string("http://"), std::string("ftp://127.0.0.1/x")})
    failing.push_back(Start(url));
  ASSERT_TRUE(failing[0]);
  ASSERT_TRUE(AllDone(failing));  // the silent one by the fixture's 700 ms stall timeout
  for (auto& t : failing) {
    EXPECT_FALSE(t->Succeeded());
    EXPECT_TRUE(t->TakeBody().empty());
  }
  EXPECT_EQ(Ends(), 4);

  auto running = Start(server_.Url("/long"));
  EXPECT_TRUE(Eventually([&] { return running->Seen().received > 0; }, 2500ms));
  EXPECT_FALSE(running->Done());
  running.reset();
  EXPECT_TRUE(Eventually([&] { return slow.InFlight() == 0; }, 2500ms)) << "the server still sends the dropped body";
  EXPECT_EQ(Ends(), 4) << "the dropped transfer told its end";
}

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
