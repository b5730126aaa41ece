// Soak: thousands of Fill calls against a server on 127.0.0.1 that fails at random (resets,
// stalls, error statuses, cut and corrupt bodies, redirects to refused schemes), while the
// host re-enters the control at every dispatch point (Fill again, clear or replace
// ListImages, remove entries, drop its own reference). At the end: no crash, no growth of
// memory or open files, and every file in the cache folder is a whole body that the server
// sent with a success status.
//
// SOAK_ITERATIONS sets the number of Fill calls (default 1500, about 15 s; for a long run,
// e.g. SOAK_ITERATIONS=200000) and SOAK_SECONDS a time limit (default 240); SOAK_SEED picks
// another random sequence.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "httpImage.h"
#include "httpImages.h"
#include "ucMain.h"
#include "desk/headless.h"
#include "desk/http.h"
#include "desk/imagelist.h"
#include "desk/text.h"

#if defined(__SANITIZE_ADDRESS__)
#define SOAK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOAK_UNDER_ASAN 1
#endif
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

long EnvNumber(const char* name, long fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  char* end = nullptr;
  long n = std::strtol(v, &end, 10);
  return (end && *end == '\0' && n > 0) ? n : fallback;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

long ResidentKiB() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

size_t OpenFiles() {
  size_t n = 0;
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) (void)e, ++n;
  return n;
}

// A listener that answers every connection with a reset, after reading the request and,
// for paths containing "/midbody/", part of a response promising more.
class ResetServer {
 public:
  ResetServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 64) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Loop(); });
  }
  ~ResetServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  int Port() const { return port_; }
  long Connections() const { return connections_; }

 private:
  void Loop() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      ++connections_;
      std::string req;
      char buf[2048];
      const auto until = Clock::now() + std::chrono::milliseconds(500);
      while (req.find("\r\n\r\n") == std::string::npos && Clock::now() < until) {
        pollfd q{c, POLLIN, 0};
        if (::poll(&q, 1, 50) <= 0) continue;
        ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        req.append(buf, static_cast<size_t>(n));
      }
      if (req.find("/midbody/") != std::string::npos) {
        static const char kPart[] = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n\x89PNG\r\n\x1a\npartial";
        (void)!::send(c, kPart, sizeof kPart - 1, MSG_NOSIGNAL);
      }
      linger l{1, 0};  // close with a reset, not an orderly end
      ::setsockopt(c, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      ::close(c);
    }
  }

  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<long> connections_{0};
  std::thread thread_;
};

// The picture server. The path names the outcome: /<mode>/<seq>/<file>. Every body sent
// whole with status 200 is remembered, so that the cache can be checked against them.
class FaultServer {
 public:
  explicit FaultServer(std::vector<std::string> pictures) : pictures_(std::move(pictures)) {
    svr_.set_pre_routing_handler([this](const httplib::Request& q, httplib::Response&) {
      std::lock_guard<std::mutex> l(mu_);
      ++hits_[q.path.substr(1, q.path.find('/', 1) - 1)];
      return httplib::Server::HandlerResponse::Unhandled;
    });
    svr_.Get(R"(/ok/(\d+)/([^/]+))", [this](const httplib::Request& q, httplib::Response& r) {
      const std::string& body = pictures_[std::stoul(q.matches[1]) % pictures_.size()];
      Whole(body);
      r.set_content(body, "image/png");
    });
    svr_.Get(R"(/corrupt/(\d+)/([^/]+))", [this](const httplib::Request& q, httplib::Response& r) {
      // Not a picture, but a whole body: it is cached, and the load that follows fails.
      std::string body = "corrupt " + std::string(q.matches[1]) + std::string(300, '\x7f');
      Whole(body);
      r.set_content(body, "image/png");
    });
    svr_.Get(R"(/status/(\d+)/([^/]+))", [](const httplib::Request& q, httplib::Response& r) {
      static const int kCodes[] = {404, 500, 503, 403, 410, 204};
      r.status = kCodes[std::stoul(q.matches[1]) % std::size(kCodes)];
      if (r.status != 204) r.set_content("<html>error page</html>", "text/html");
    });
    svr_.Get(R"(/notfound/(\d+)/([^/]+))", [](const httplib::Request&, httplib::Response& r) {
      r.set_content("<html><head><title>The page cannot be found</title></head></html>", "text/html");
    });
    svr_.Get(R"(/empty/(\d+)/([^/]+))", [](const httplib::Request&, httplib::Response& r) {
      r.set_content("", "image/png");
    });
    svr_.Get(R"(/cut/(\d+)/([^/]+))", [this](const httplib::Request& q, httplib::Response& r) {
      // Promises the whole picture, sends part of it, then drops the connection.
      const std::string body = pictures_[std::stoul(q.matches[1]) % pictures_.size()];
      r.set_content_provider(body.size(), "image/png",
                             [body](size_t, size_t, httplib::DataSink& sink) {
                               sink.write(body.data(), body.size() / 2);
                               return false;
                             });
    });
    svr_.Get(R"(/stall/(\d+)/([^/]+))", [this](const httplib::Request& q, httplib::Response& r) {
      const bool inBody = std::stoul(q.matches[1]) % 2 == 0;
      if (!inBody) Stall();  // before the headers
      const std::string body = pictures_[0];
      r.set_content_provider(body.size(), "image/png", [this, body, inBody](size_t, size_t, httplib::DataSink& sink) {
        sink.write(body.data(), 10);
        if (inBody) Stall();
        return false;
      });
    });
    svr_.Get(R"(/badredirect/(\d+)/([^/]+))", [](const httplib::Request& q, httplib::Response& r) {
      static const char* const kTargets[] = {"file:///etc/hostname", "ftp://127.0.0.1:9/x.png",
                                             "gopher://127.0.0.1:9/x.png", "dict://127.0.0.1:9/x",
                                             "file:///proc/self/environ", "javascript:alert(1)"};
      r.set_redirect(kTargets[std::stoul(q.matches[1]) % std::size(kTargets)], 302);
    });
    svr_.Get(R"(/redirect/(\d+)/([^/]+))", [](const httplib::Request& q, httplib::Response& r) {
      r.set_redirect("/ok/" + std::string(q.matches[1]) + "/" + std::string(q.matches[2]), 301);
    });
    svr_.Get(R"(/loop/(\d+)/([^/]+))", [](const httplib::Request& q, httplib::Response& r) {
      r.set_redirect("/loop/" + std::string(q.matches[1]) + "/" + std::string(q.matches[2]), 302);
    });
    port_ = svr_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { svr_.listen_after_bind(); });
    for (int i = 0; i < 2000 && !svr_.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~FaultServer() {
    {
      std::lock_guard<std::mutex> l(mu_);
      released_ = true;
    }
    cv_.notify_all();
    svr_.stop();
    if (thread_.joinable()) thread_.join();
  }
  int Port() const { return port_; }
  std::map<std::string, long> Hits() {
    std::lock_guard<std::mutex> l(mu_);
    return hits_;
  }
  bool IsWholeBody(const std::string& bytes) {
    std::lock_guard<std::mutex> l(mu_);
    return whole_.count(bytes) != 0;
  }

 private:
  void Whole(const std::string& body) {
    std::lock_guard<std::mutex> l(mu_);
    whole_.insert(body);
  }
  // Holds a server thread well past the client's stall timeout (bounded).
  void Stall() {
    std::unique_lock<std::mutex> l(mu_);
    cv_.wait_for(l, std::chrono::milliseconds(400), [this] { return released_; });
  }

  httplib::Server svr_;
  std::thread thread_;
  int port_ = 0;
  std::vector<std::string> pictures_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool released_ = false;
  std::set<std::string> whole_;
  std::map<std::string, long> hits_;  // requests by mode
};

class SoakTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    ::setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    char tmpl[] = "/tmp/desk-soak-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    const char* old = std::getenv("TMPDIR");
    oldTmp_ = old ? old : "";
    ::setenv("TMPDIR", tmpl, 1);
    host_ = std::make_shared<desk::HeadlessPlatform>();
    desk::SetPlatform(host_);
    desk::http::Options o;
    o.stallTimeout = std::chrono::milliseconds(150);
    o.connectTimeout = std::chrono::milliseconds(1000);
    o.maxRedirects = 5;
    desk::http::SetClient(desk::http::MakeCurlClient(o));
  }
  void TearDown() override {
    desk::http::SetClient(nullptr);
    desk::SetPlatform(nullptr);
    if (oldTmp_.empty()) ::unsetenv("TMPDIR");
    else ::setenv("TMPDIR", oldTmp_.c_str(), 1);
    fs::remove_all(dir_);
  }

  fs::path dir_;
  std::string oldTmp_;
  std::shared_ptr<desk::HeadlessPlatform> host_;
};

TEST_F(SoakTest, RandomFailuresAndReentrantCallsLeaveNoCrashNoGrowthAndOnlyWholeFiles) {
  const long iterations = EnvNumber("SOAK_ITERATIONS", 1500);
  const long seconds = EnvNumber("SOAK_SECONDS", 240);
  const unsigned seed = static_cast<unsigned>(EnvNumber("SOAK_SEED", 20240611));
  std::vector<std::string> pictures;
  for (const char* name : {"px.png", "px.gif", "px.bmp", "px.jpg", "px.ico"}) {
    pictures.push_back(ReadFile(fs::path(DESK_TEST_DATA) / name));
    ASSERT_FALSE(pictures.back().empty()) << name;
  }
  FaultServer server(pictures);
  ResetServer resets;
  ASSERT_GT(server.Port(), 0);
  ASSERT_GT(resets.Port(), 0);
  const std::string base = "http://127.0.0.1:" + std::to_string(server.Port());
  const std::string resetBase = "http://127.0.0.1:" + std::to_string(resets.Port());

  std::mt19937 rng(seed);
  auto chance = [&](int percent) { return static_cast<int>(rng() % 100) < percent; };
  static const char* const kModes[] = {"ok",       "ok",         "ok",       "ok",    "redirect", "corrupt",
                                       "status",   "notfound",   "empty",    "cut",   "stall",    "badredirect",
                                       "loop",     "reset",      "midbody"};
  // Stalls cost the client's stall timeout each: keep them rare.
  auto pickMode = [&]() -> std::string {
    std::string m = kModes[rng() % std::size(kModes)];
    if (m == "stall" && !chance(15)) m = "ok";
    return m;
  };
  long seq = 0;
  auto url = [&](const std::string& mode) {
    const std::string file = "p" + std::to_string(rng() % 6) + (chance(50) ? ".png" : ".img");
    const std::string& b = (mode == "reset" || mode == "midbody") ? resetBase : base;
    return desk::U16(b + "/" + mode + "/" + std::to_string(++seq) + "/" + file);
  };

  desk::Ref<Quorvane::ucMain> control = desk::MakeRef<Quorvane::ucMain>();
  auto refill = [&](Quorvane::httpImages& list) {
    list.Clear();
    const int n = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < n; ++i) list.Add(u"k" + desk::DecimalText(static_cast<long long>(rng() % 8)), url(pickMode()));
  };

  // The host's re-entrant calls, made at the dispatch points of a download (bounded depth).
  int depth = 0;
  long reentries = 0;
  host_->onDoEvents = [&] {
    if (depth > 1 || !control || !chance(6)) return;
    ++depth;
    ++reentries;
    desk::Ref<Quorvane::ucMain> c = control;
    switch (rng() % 6) {
      case 0: c->Fill(); break;
      case 1: c->ListImages()->Clear(); break;
      case 2: c->ListImages()->Remove(desk::Variant::Long(1)); break;
      case 3: {
        desk::Ref<Quorvane::httpImages> fresh = desk::MakeRef<Quorvane::httpImages>();
        refill(*fresh);
        c->ListImages(fresh);
        break;
      }
      case 4: c->ForceDownload(!c->ForceDownload()); break;
      case 5: control.reset(); break;  // the host lets go of the control in the middle of Fill
    }
    --depth;
  };

  auto checkCache = [&] {
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string name = e.path().filename().string();
      ASSERT_TRUE(e.is_regular_file()) << name;
      ASSERT_EQ(name[0], 'p') << "stray file in the cache folder: " << name;
      ASSERT_TRUE(server.IsWholeBody(ReadFile(e.path()))) << "not a whole body: " << name;
    }
  };

  long fills = 0, pictures_loaded = 0;
  long rssWarm = 0;
  size_t filesWarm = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  for (long i = 0; i < iterations && Clock::now() < deadline; ++i) {
    if (!control) control = desk::MakeRef<Quorvane::ucMain>();
    if (chance(30)) refill(*control->ListImages());
    control->ForceDownload(chance(70));
    control->Fill();
    ++fills;
    if (control) {
      desk::Ref<desk::ImageList> list = desk::RefCast<desk::ImageList>(control->ImageListControl());
      ASSERT_TRUE(list);
      pictures_loaded += list->ImagesRef()->Count();
    }
    host_->messageBoxes.clear();
    if (i % 100 == 99) checkCache();
    if (i == iterations / 5) {
      rssWarm = ResidentKiB();
      filesWarm = OpenFiles();
    }
  }
  control.reset();
  host_->onDoEvents = nullptr;
  checkCache();

  // Leaks: memory after the warm-up fifth may move a little, but not grow with the count.
  const long rssEnd = ResidentKiB();
  // The test server's worker threads and the HTTP client's connection cache may hold a few
  // sockets at any moment; a leak grows with the number of fills, far past this slack.
  EXPECT_LE(OpenFiles(), filesWarm + 8) << "file descriptors left open";
#ifndef SOAK_UNDER_ASAN
  // (AddressSanitizer keeps freed memory in quarantine, so there LeakSanitizer does this job.)
  EXPECT_LT(rssEnd - rssWarm, 24 * 1024) << "resident memory grew from " << rssWarm << " KiB to " << rssEnd << " KiB";
#endif
  EXPECT_GE(fills, std::min<long>(iterations, 200));
  EXPECT_GT(pictures_loaded, 0);
  EXPECT_GT(reentries, 0);
  // Every kind of failure was served at least once (the count is large enough for that).
  const auto hits = server.Hits();
  long requests = resets.Connections();
  for (const char* mode : {"ok", "redirect", "corrupt", "status", "notfound", "empty", "cut", "stall", "badredirect",
                           "loop"}) {
    auto it = hits.find(mode);
    EXPECT_TRUE(it != hits.end() && it->second > 0) << "no request of kind " << mode;
    if (it != hits.end()) requests += it->second;
  }
  EXPECT_GT(resets.Connections(), 0);
  std::printf("soak: %ld fills, %ld requests, %ld pictures loaded, %ld re-entrant calls; RSS %ld -> %ld KiB\n",
              fills, requests, pictures_loaded, reentries, rssWarm, rssEnd);
}

}  // namespace
