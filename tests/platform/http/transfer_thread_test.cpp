// The HTTP client's transfers: they run by themselves on the client's own thread, side by
// side, and tell their end once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "desk/http.h"
#include "support/slow_routes.h"
#include "support/web_test.h"

namespace {

using namespace std::chrono_literals;
using testenv::Eventually;
using testenv::SlowRoutes;

std::string Bytes(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7) >> 3);
  return s;
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

}  // namespace
