// How downloads use the network: connections kept between pictures (counted at the server,
// over plain HTTP and over TLS), a Fill's trickle ended by the low-speed bound, and a cached
// file that fails to load fetched again by the next Fill.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <set>
#include <thread>

#include "fill_ahead.h"
#include "httpImages.h"
#include "ucMain.h"
#include "desk/imagelist.h"
#include "support/tls_cert.h"
#include "support/web_test.h"

namespace {

using namespace std::chrono_literals;
using desk::Ref;

class Transfer : public testenv::WebTest {
 protected:
  void SetUp() override {
    WebTest::SetUp();
    control_ = desk::MakeRef<Quorvane::ucMain>();
  }
  void TearDown() override {
    control_.reset();
    WebTest::TearDown();
  }
  Quorvane::httpImages& List() { return *control_->ListImages(); }
  desk::ListImages& Pictures() { return desk::RefCast<desk::ImageList>(control_->ImageListControl())->Images(); }

  Ref<Quorvane::ucMain> control_;
};

// Records the client port of each request: one port is one connection.
struct PortLog {
  std::mutex mu;
  std::set<int> ports;
  int requests = 0;
  void Add(int port) {
    std::lock_guard<std::mutex> lock(mu);
    ports.insert(port);
    ++requests;
  }
};

TEST_F(Transfer, OneConnectionServesEveryPictureOfAFill) {
  PortLog log;
  const std::string png = testenv::DataFile("px.png");
  server_.Routes().Get(R"(/p(\d+)\.png)", [&](const httplib::Request& req, httplib::Response& res) {
    log.Add(req.remote_port);
    res.set_content(png, "image/png");
  });
  server_.Routes().set_keep_alive_max_count(100);  // its default closes after 5 requests
  server_.Start();
  for (int i = 0; i < 20; ++i)
    List().Add(u"k" + desk::DecimalText(i), server_.Url16("/p" + std::to_string(i) + ".png"));
  control_->Fill();
  EXPECT_EQ(Pictures().Count(), 20);
  EXPECT_EQ(log.requests, 20);
  EXPECT_EQ(log.ports.size(), 1u) << "each picture opened a connection of its own";
}

TEST_F(Transfer, OneTlsHandshakeServesEveryPictureOfAFill) {
  const testenv::TlsFiles tls = testenv::MakeSelfSignedCert(dir_);
  httplib::SSLServer server(tls.cert.c_str(), tls.key.c_str());
  ASSERT_TRUE(server.is_valid());
  PortLog log;
  const std::string png = testenv::DataFile("px.png");
  server.Get(R"(/p(\d+)\.png)", [&](const httplib::Request& req, httplib::Response& res) {
    log.Add(req.remote_port);
    res.set_content(png, "image/png");
  });
  server.set_keep_alive_max_count(100);
  server.set_tcp_nodelay(true);  // as TestServer's
  const int port = server.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  std::thread thread([&] { server.listen_after_bind(); });
  for (int i = 0; i < 2000 && !server.is_running(); ++i) std::this_thread::sleep_for(1ms);

  desk::http::Options o;
  o.stallTimeout = 2000ms;
  o.caFile = tls.cert;  // trusts the throwaway certificate only
  desk::http::SetClient(desk::http::MakeCurlClient(o));
  for (int i = 0; i < 20; ++i)
    List().Add(u"k" + desk::DecimalText(i),
               desk::U16("https://127.0.0.1:" + std::to_string(port) + "/p" + std::to_string(i) + ".png"));
  control_->Fill();
  desk::http::SetClient(nullptr);  // closes the kept connection, so the server stops at once
  server.stop();
  thread.join();
  EXPECT_EQ(Pictures().Count(), 20);
  EXPECT_EQ(log.requests, 20);
  // One connection, unless a handshake answered slower than the Fill waits before it overlaps
  // downloads (a loaded machine, a sanitizer): then at most one per transfer it keeps going.
  EXPECT_LE(log.ports.size(), 1u + Quorvane::FillAhead::kMostTransfers) << "each picture made a TLS handshake of its own";
  EXPECT_TRUE(Boxes().empty());
}

// A server that sends a byte now and then is not silent, so the stall timeout never fires;
// the low-speed bound ends the transfer after one window instead. A body that is slow but
// above the rate still arrives.
TEST_F(Transfer, TrickleEndsWithinTheLowSpeedBound) {
  desk::http::Options o;
  o.stallTimeout = 5000ms;
  o.lowSpeedBytesPerSecond = 1000;
  o.lowSpeedWindow = 1000ms;
  desk::http::SetClient(desk::http::MakeCurlClient(o));
  const std::string png = testenv::DataFile("px.png");
  // 1 byte every 50 ms: 20 B/s, for at most 200 bytes (10 s) so that the server stops itself.
  server_.Routes().Get("/drip.png", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(100000, "image/png", [](size_t offset, size_t, httplib::DataSink& sink) {
      if (offset >= 200) return false;
      std::this_thread::sleep_for(50ms);
      return sink.write("x", 1);
    });
  });
  // 100 bytes every 50 ms: 2000 B/s, slow but over the bound.
  // The picture is the server's own copy: its threads may still be sending when the test ends.
  server_.Routes().Get("/slow.png", [png](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(png.size(), "image/png", [png](size_t offset, size_t, httplib::DataSink& sink) {
      std::this_thread::sleep_for(50ms);
      return sink.write(png.data() + offset, std::min<size_t>(100, png.size() - offset));
    });
  });
  server_.Start();
  List().Add(u"drip", server_.Url16("/drip.png"));
  List().Add(u"slow", server_.Url16("/slow.png"));
  const auto start = std::chrono::steady_clock::now();
  control_->Fill();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, 4s) << "the trickle held the Fill";
  EXPECT_FALSE(std::filesystem::exists(Cache("drip.png"))) << "a cut body is never cached";
  ASSERT_EQ(Pictures().Count(), 1);
  EXPECT_EQ(Pictures().At(0)->Key(), u"slow");
  EXPECT_TRUE(Boxes().empty());
}

// A cached file that is not a picture stops the Fill with one report, as before; it is then
// removed, so that the next Fill downloads it again instead of stopping there for good.
TEST_F(Transfer, NextFillDownloadsAgainAPictureThatFailedToLoad) {
  auto body = std::make_shared<std::string>(testenv::DataFile("px.png").substr(0, 100));  // cut
  server_.Routes().Get("/pic.png", [body](const httplib::Request&, httplib::Response& res) {
    res.set_content(*body, "image/png");
  });
  server_.Start();
  List().Add(u"pic", server_.Url16("/pic.png"));
  control_->Fill();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, testenv::Report(u"ucMain, User Control", u"Fill", 481, u"Invalid picture"));
  EXPECT_EQ(Pictures().Count(), 0);
  EXPECT_FALSE(std::filesystem::exists(Cache("pic.png")));

  *body = testenv::DataFile("px.png");  // the server mended
  control_->Fill();
  EXPECT_EQ(server_.Count("/pic.png"), 2);
  EXPECT_EQ(Pictures().Count(), 1);
  EXPECT_EQ(Boxes().size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(Cache("pic.png")));
}

// An entry without a URL has no file name: one report (from FileName), not a second one from
// the download module for the same entry.
TEST_F(Transfer, EntryWithoutAUrlReportsOnce) {
  auto e = List().Add(u"e", u"");
  Host().messageBoxes.clear();
  EXPECT_FALSE(e->DownloadFile(true));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, testenv::Report(u"httpImage, Class Module", u"FileName", 9, u"Subscript out of range"));
  Host().messageBoxes.clear();
  control_->Fill();
  EXPECT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Pictures().Count(), 0);
}

}  // namespace

namespace {

ino_t InodeOf(const std::filesystem::path& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0 ? st.st_ino : 0;
}

// A forced download of an unchanged picture leaves the cached file as it is (no new file for
// the file system to make); changed bytes, or a file that others may write, are replaced.
TEST_F(Transfer, ForcedDownloadOfTheSameBytesKeepsTheCachedFile) {
  auto body = std::make_shared<std::string>(testenv::DataFile("px.png"));
  server_.Routes().Get("/same.png", [body](const httplib::Request&, httplib::Response& res) {
    res.set_content(*body, "image/png");
  });
  server_.Start();
  auto e = List().Add(u"same", server_.Url16("/same.png"));
  ASSERT_TRUE(e->DownloadFile(true));
  const auto path = Cache("same.png");
  const ino_t first = InodeOf(path);
  ASSERT_NE(first, 0u);
  ASSERT_TRUE(e->DownloadFile(true));
  EXPECT_EQ(InodeOf(path), first) << "unchanged bytes were written again";

  *body = testenv::DataFile("px.gif");
  ASSERT_TRUE(e->DownloadFile(true));
  EXPECT_NE(InodeOf(path), first);
  EXPECT_EQ(testenv::ReadFile(path), *body);

  const ino_t second = InodeOf(path);
  std::filesystem::permissions(path, std::filesystem::perms::others_write, std::filesystem::perm_options::add);
  ASSERT_TRUE(e->DownloadFile(true));
  EXPECT_NE(InodeOf(path), second) << "a file others may write is replaced by one of our own";
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::others_write,
            std::filesystem::perms::none);
  EXPECT_EQ(server_.Count("/same.png"), 4);
  EXPECT_TRUE(Boxes().empty());
}

}  // namespace
