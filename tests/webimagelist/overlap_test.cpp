// Downloads that overlap: the client's transfers run by themselves, side by side, and a Fill
// keeps several running while the host sees what it saw when they ran one after another.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fixture.h"

namespace {

using namespace std::chrono_literals;

// Bodies sent a piece at a time, with the number of requests in flight at once recorded.
class SlowRoutes {
 public:
  // `path` serves `body` in pieces of `piece` bytes, `pause` apart.
  void Serve(testenv::TestServer& server, const std::string& path, std::string body, size_t piece,
             std::chrono::milliseconds pause) {
    server.Routes().Get(path, [this, body = std::move(body), piece, pause](const httplib::Request&, httplib::Response& res) {
      Enter();
      res.set_content_provider(
          body.size(), "application/octet-stream",
          [body, piece, pause](size_t offset, size_t, httplib::DataSink& sink) {
            std::this_thread::sleep_for(pause);
            return sink.write(body.data() + offset, std::min(piece, body.size() - offset));
          },
          [this](bool) { Leave(); });
    });
  }
  int MostAtOnce() const { return most_; }
  int InFlight() const { return inFlight_; }

 private:
  void Enter() {
    const int now = ++inFlight_;
    for (int m = most_; now > m && !most_.compare_exchange_weak(m, now);) {
    }
  }
  void Leave() { --inFlight_; }
  std::atomic<int> inFlight_{0}, most_{0};
};

std::string Bytes(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7) >> 3);
  return s;
}

// Waits (bounded) until every transfer ended.
bool AllDone(const std::vector<std::unique_ptr<desk::http::Transfer>>& transfers) {
  for (int i = 0; i < 1000; ++i) {
    if (std::all_of(transfers.begin(), transfers.end(), [](const auto& t) { return t->Done(); })) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

class Overlap : public testenv::WebTest {};

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
  auto session = desk::http::SharedClient()->OpenSession("test");
  auto* starter = dynamic_cast<desk::http::TransferSession*>(session.get());
  ASSERT_TRUE(starter);
  std::atomic<int> ends{0};
  std::vector<std::unique_ptr<desk::http::Transfer>> transfers;
  for (int i = 0; i < 6; ++i) transfers.push_back(starter->Start(server_.Url("/s" + std::to_string(i)), [&] { ++ends; }));
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
  EXPECT_EQ(ends.load(), 6);
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
  auto session = desk::http::SharedClient()->OpenSession("test");
  auto* starter = dynamic_cast<desk::http::TransferSession*>(session.get());
  ASSERT_TRUE(starter);
  std::atomic<int> ends{0};
  std::vector<std::unique_ptr<desk::http::Transfer>> failing;
  for (std::string url : {server_.Url("/404"), server_.Url("/silent"), std::string("http://"), std::string("ftp://127.0.0.1/x")})
    failing.push_back(starter->Start(url, [&] { ++ends; }));
  ASSERT_TRUE(AllDone(failing));  // the silent one by the fixture's 700 ms stall timeout
  for (auto& t : failing) {
    EXPECT_FALSE(t->Succeeded());
    EXPECT_TRUE(t->TakeBody().empty());
  }
  EXPECT_EQ(ends.load(), 4);

  std::atomic<int> dropped{0};
  auto running = starter->Start(server_.Url("/long"), [&] { ++dropped; });
  for (int i = 0; i < 500 && running->Seen().received == 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_GT(running->Seen().received, 0u);
  EXPECT_FALSE(running->Done());
  running.reset();
  for (int i = 0; i < 500 && slow.InFlight() > 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(slow.InFlight(), 0) << "the server still sends the dropped body";
  EXPECT_EQ(dropped.load(), 0);
}

}  // namespace
