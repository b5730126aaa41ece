// The libcurl client's requests and its URL encoding; against a server on 127.0.0.1 in this
// process, each of the client's checks, its reads, the options curl refuses, threads that share
// it, and its low-speed and stall bounds.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "desk/http.h"
#include "http/http_curl.h"
#include "support/web_test.h"

namespace {

using namespace std::chrono_literals;

// A request dropped before it was read (a list cleared in the middle of a Fill) leaves nothing
// allocated behind it.
TEST(HttpRequests, DroppedUnreadLeaveNothingBehind) {
  auto session = desk::http::MakeCurlClient()->OpenSession("test");
  for (int i = 0; i < 100; ++i) session->OpenUrl("http://127.0.0.1:1/warm.png");  // curl's one-time state
  const size_t before = mallinfo2().uordblks;
  for (int i = 0; i < 5000; ++i) session->OpenUrl("http://127.0.0.1:1/x.png");
  EXPECT_LT(mallinfo2().uordblks, before + 64 * 1024);
}

TEST(EncodeUrl, EncodesWhatBrowsersEncodeAndKeepsTheRest) {
  struct Row {
    const char* what;
    std::string in, out;
  } rows[] = {
      {"nothing to encode", "http://h/a.png?x=1&y=%41#f!~", "http://h/a.png?x=1&y=%41#f!~"},
      {"space, controls and DEL", "http://h/a b\t\x7F", "http://h/a%20b%09%7F"},
      {"bytes past ASCII", "http://h/caf\xC3\xA9", "http://h/caf%C3%A9"},
      {"the listed characters", "http://h/<>\"`{}|\\^", "http://h/%3C%3E%22%60%7B%7D%7C%5C%5E"},
      {"escapes with every kind of hex digit", "http://h/%09%af%AF%fF", "http://h/%09%af%AF%fF"},
      {"an escape at the very end", "http://h/x%4a", "http://h/x%4a"},
      {"percents that start no escape", "http://h/%g0%G0%:0%@0%/0", "http://h/%25g0%25G0%25:0%25@0%25/0"},
      {"a percent cut short at the end", "http://h/x%4", "http://h/x%254"},
      {"the host name is left as it is", "http://ex ample\xC3\xA9.com/x y", "http://ex ample\xC3\xA9.com/x%20y"},
      {"a NUL even in the host name", std::string("http://h\0/x", 11), "http://h%00/x"},
      {"no scheme: all of it is encoded", "a b/c", "a%20b/c"},
  };
  for (const Row& r : rows) EXPECT_EQ(desk::http::EncodeUrl(r.in), r.out) << r.what;
  // A URL cut from a longer text: what follows the view is not looked at.
  const std::string text = "http://h/x%4A";
  EXPECT_EQ(desk::http::EncodeUrl(std::string_view(text).substr(0, text.size() - 1)), "http://h/x%254");
}

class CurlClient : public testenv::WebTest {
 protected:
  // Reads a request to its end; the number of bytes read.
  static size_t ReadAll(desk::http::Request& request) {
    size_t total = 0;
    uint8_t piece[4096];
    while (size_t n = request.Read(piece, sizeof piece)) total += n;
    return total;
  }
};

// Each check of the client on its own, every other one off: a local file behind a file://
// URL or a redirect to one is never read, and an error status never succeeds. With all of
// them on, each hides the loss of another, so only this shows that each one holds.
TEST_F(CurlClient, EachCheckOfTheClientHoldsOnItsOwn) {
  testenv::WriteFile(Cache("secret"), "local file");
  const std::string fileUrl = "file://" + Cache("secret").string();
  const std::string errorPage(1 << 20, 'e');  // more than the client holds before it pauses
  server_.Routes().Get("/to-file", [fileUrl](const httplib::Request&, httplib::Response& r) { r.set_redirect(fileUrl); });
  server_.Routes().Get("/404-big", [errorPage](const httplib::Request&, httplib::Response& r) {
    r.status = 404;
    r.set_content(errorPage, "text/html");
  });
  server_.Routes().Get("/404-empty", [](const httplib::Request&, httplib::Response& r) { r.status = 404; });
  server_.Routes().Get("/404-small", [](const httplib::Request&, httplib::Response& r) {
    r.status = 404;
    r.set_content("not found", "text/html");  // one chunk: the first is the one checked
  });
  server_.Routes().Get("/299", [](const httplib::Request&, httplib::Response& r) {
    r.status = 299;
    r.set_content("last of 2xx", "text/plain");
  });
  server_.Routes().Get("/299-empty", [](const httplib::Request&, httplib::Response& r) { r.status = 299; });
  server_.Start();

  using Checks = desk::http::detail::Checks;
  const Checks none{false, false, false, false, false};
  // Hosts get every check: MakeCurlClient makes its client with the defaults.
  const Checks all{};
  for (bool Checks::*check : {&Checks::schemeBeforeRequest, &Checks::curlProtocols, &Checks::curlRedirectProtocols,
                              &Checks::statusOnBody, &Checks::statusAtEnd})
    EXPECT_TRUE(all.*check);
  auto only = [&](bool Checks::*check) {
    Checks c = none;
    c.*check = true;
    return c;
  };
  struct Row {
    const char* what;
    std::string url;
    Checks checks;
    std::optional<std::string> body;  // unset: not looked at
    bool succeeds;
  } rows[] = {
      // Without checks each of these gets through, so the rows below test something.
      {"none: a file:// URL is read", fileUrl, none, "local file", true},
      {"none: a redirect to file:// is followed", server_.Url("/to-file"), none, "local file", true},
      {"none: an error page is a body", server_.Url("/404-big"), none, errorPage, true},
      {"none: an error without a body succeeds", server_.Url("/404-empty"), none, "", true},
      {"the scheme before the request", fileUrl, only(&Checks::schemeBeforeRequest), "", false},
      {"curl's protocols, first request", fileUrl, only(&Checks::curlProtocols), "", false},
      {"curl's protocols, redirect", server_.Url("/to-file"), only(&Checks::curlProtocols), "", false},
      {"curl's redirect protocols", server_.Url("/to-file"), only(&Checks::curlRedirectProtocols), "", false},
      {"the status on the body", server_.Url("/404-big"), only(&Checks::statusOnBody), "", false},
      {"the status on the body, a page of one chunk", server_.Url("/404-small"), only(&Checks::statusOnBody), "", false},
      {"the status at the end, no body", server_.Url("/404-empty"), only(&Checks::statusAtEnd), "", false},
      {"the status at the end, with a body", server_.Url("/404-big"), only(&Checks::statusAtEnd), std::nullopt, false},
      // All of them, as hosts have them: not one byte of an error page reaches the reader.
      {"all: an error page", server_.Url("/404-big"), Checks{}, "", false},
      {"all: a redirect to file://", server_.Url("/to-file"), Checks{}, "", false},
      {"all: the last 2xx status, with a body", server_.Url("/299"), Checks{}, "last of 2xx", true},
      {"all: the last 2xx status, no body", server_.Url("/299-empty"), Checks{}, "", true},
  };
  desk::http::Options o;
  o.stallTimeout = 700ms;
  o.connectTimeout = 2000ms;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    auto session = desk::http::detail::MakeCurlClientWithChecks(o, r.checks)->OpenSession("test");
    auto request = session->OpenUrl(r.url);
    std::string body;
    uint8_t piece[4096];
    while (size_t n = request->Read(piece, sizeof piece)) body.append(reinterpret_cast<char*>(piece), n);
    if (r.body) {
      EXPECT_TRUE(body == *r.body) << body.size() << " bytes: " << body.substr(0, 20);
    }
    EXPECT_EQ(request->Succeeded(), r.succeeds);
  }
}

// ReadAll after some reads: the bytes a Read left pending come first, then the rest straight
// into the sink, whatever room the sink gives at a time (as little as asked, or plenty); a
// sink that runs out of memory fails the request instead of cutting the body.
TEST_F(CurlClient, ReadAllTakesTheRestOfTheBodyAfterAnyReads) {
  std::string body(300'000, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 13 + (i >> 9));
  server_.Serve("/all.bin", body);
  server_.Start();
  struct Sink : desk::http::BodySink {
    uint8_t* Room(size_t least, size_t& room) override {
      if (failAfter && kept.size() >= failAfter) throw std::bad_alloc();
      room = std::max(least, roomy ? size_t{70'000} : size_t{0});
      spare.resize(room);
      return spare.data();
    }
    void Commit(size_t n) override { kept.append(reinterpret_cast<const char*>(spare.data()), n); }
    bool roomy = false;
    size_t failAfter = 0;
    std::vector<uint8_t> spare;
    std::string kept;
  };
  auto session = desk::http::SharedClient()->OpenSession("test");
  for (size_t readFirst : {size_t{0}, size_t{1000}, size_t{70'000}}) {
    for (bool roomy : {false, true}) {
      auto request = session->OpenUrl(server_.Url("/all.bin"));
      std::string got(readFirst, '\0');
      size_t at = 0;
      while (at < readFirst) {
        const size_t n = request->Read(reinterpret_cast<uint8_t*>(got.data() + at), std::min<size_t>(2048, readFirst - at));
        ASSERT_GT(n, 0u);
        at += n;
      }
      Sink sink;
      sink.roomy = roomy;
      request->ReadAll(sink, 2048);
      EXPECT_TRUE(request->Succeeded()) << readFirst << " " << roomy;
      EXPECT_TRUE(got + sink.kept == body) << readFirst << " " << roomy;
    }
  }
  auto request = session->OpenUrl(server_.Url("/all.bin"));
  Sink full;
  full.failAfter = 100'000;
  request->ReadAll(full, 2048);
  EXPECT_FALSE(request->Succeeded());
}

// An option curl refuses (a redirect limit below -1) fails each request on its first read,
// without a byte sent; at the edge of what curl takes, the request works. The final status
// check is off: a request that never ran must fail on its own, not for want of a status.
TEST_F(CurlClient, OptionsCurlRefusesFailTheRequestBeforeItIsSent) {
  server_.Serve("/x", "body");
  server_.Start();
  struct Row {
    const char* what;
    long maxRedirects;
    std::chrono::milliseconds connect;
    bool sent;
  } rows[] = {{"no limit on redirects", -1, 2000ms, true},
              {"a redirect limit of -2", -2, 2000ms, false},
              {"a connect time of 0: curl's default", 10, 0ms, true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    desk::http::Options o;
    o.maxRedirects = r.maxRedirects;
    o.connectTimeout = r.connect;
    o.stallTimeout = 2000ms;
    const int before = server_.Total();
    desk::http::detail::Checks checks;
    checks.statusAtEnd = false;
    auto request =
        desk::http::detail::MakeCurlClientWithChecks(o, checks)->OpenSession("test")->OpenUrl(server_.Url("/x"));
    uint8_t piece[64];
    std::string body;
    while (size_t n = request->Read(piece, sizeof piece)) body.append(reinterpret_cast<char*>(piece), n);
    EXPECT_EQ(request->Succeeded(), r.sent);
    EXPECT_EQ(body, r.sent ? "body" : "");
    EXPECT_EQ(request->Read(piece, sizeof piece), 0u) << "read again after the end";
    EXPECT_EQ(server_.Total() - before, r.sent ? 1 : 0);
  }
}

// One client serves requests of several threads at once: they share its connections, name
// look-ups and TLS sessions, under the client's locks.
TEST_F(CurlClient, ThreadsShareOneClient) {
  const std::string png = testenv::DataFile("px.png");
  server_.Routes().Get(R"(/t(\d+)\.png)", [&](const httplib::Request&, httplib::Response& res) { res.set_content(png, "image/png"); });
  server_.Routes().set_keep_alive_max_count(1000);
  server_.Start();
  desk::http::Options o;
  o.stallTimeout = 5000ms;
  auto client = desk::http::MakeCurlClient(o);
  std::atomic<int> whole{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      auto session = client->OpenSession("test");
      for (int i = 0; i < 25; ++i) {
        auto request = session->OpenUrl(server_.Url("/t" + std::to_string(t * 100 + i) + ".png"));
        std::string body;
        uint8_t piece[4096];
        while (size_t n = request->Read(piece, sizeof piece)) body.append(reinterpret_cast<char*>(piece), n);
        if (request->Succeeded() && body == png) ++whole;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(whole.load(), 100);
  EXPECT_EQ(server_.Total(), 100);
}

// Windows follow one another: a fast start does not pay for a trickle after it. 8000 bytes at
// once fill the first window many times over; the second one, at 20 B/s, fails the transfer
// when it ends (at 2 s). An average from the start would hold on to about 8 s.
TEST_F(CurlClient, EachLowSpeedWindowCountsOnlyItsOwnBytes) {
  desk::http::Options o;
  o.stallTimeout = 5000ms;
  o.lowSpeedBytesPerSecond = 1000;
  o.lowSpeedWindow = 1000ms;
  server_.Routes().Get("/burst", [](const httplib::Request&, httplib::Response& res) {
    // At most 8000 + 200 bytes, the trickle 10 s: the server stops by itself.
    res.set_content_provider(100000, "image/png", [](size_t offset, size_t, httplib::DataSink& sink) {
      if (offset == 0) return sink.write(std::string(8000, 'b').data(), 8000);
      if (offset >= 8200) return false;
      std::this_thread::sleep_for(50ms);
      return sink.write("x", 1);
    });
  });
  server_.Start();
  auto request = desk::http::MakeCurlClient(o)->OpenSession("test")->OpenUrl(server_.Url("/burst"));
  const auto start = std::chrono::steady_clock::now();
  const size_t total = ReadAll(*request);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(request->Succeeded());
  EXPECT_GE(total, 8000u);
  EXPECT_GE(took, 1900ms) << "the first window had its bytes";
  EXPECT_LT(took, 3500ms) << "the trickle was measured against the burst before it";
}

// The stall clock starts again with every chunk: a body that keeps coming is no stall, however
// long it takes in all.
TEST_F(CurlClient, ABodyThatKeepsComingIsNoStall) {
  desk::http::Options o;
  o.stallTimeout = 400ms;
  server_.Routes().Get("/steady", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(1000, "application/octet-stream", [](size_t, size_t, httplib::DataSink& sink) {
      std::this_thread::sleep_for(100ms);
      return sink.write(std::string(100, 's').data(), 100);
    });
  });
  server_.Start();
  auto request = desk::http::MakeCurlClient(o)->OpenSession("test")->OpenUrl(server_.Url("/steady"));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadAll(*request), 1000u);
  EXPECT_TRUE(request->Succeeded());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms) << "the body took longer than the stall timeout";
}

// Header lines that keep coming are progress too: the stall clock starts again with each one.
// The server is a bare socket, since a web server library sends its headers at once.
TEST_F(CurlClient, HeadersThatKeepComingAreNoStall) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  std::thread server([listener] {
    const int c = ::accept(listener, nullptr, nullptr);
    if (c < 0) return;
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, static_cast<size_t>(n));
    }
    auto send = [c](const std::string& s) { (void)::send(c, s.data(), s.size(), MSG_NOSIGNAL); };
    send("HTTP/1.1 200 OK\r\n");
    for (int i = 0; i < 8; ++i) {
      std::this_thread::sleep_for(150ms);
      send("X-Slow: " + std::to_string(i) + "\r\n");
    }
    send("Content-Length: 4\r\nConnection: close\r\n\r\nbody");
    ::close(c);
  });
  desk::http::Options o;
  o.stallTimeout = 400ms;
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/slow-headers";
  auto request = desk::http::MakeCurlClient(o)->OpenSession("test")->OpenUrl(url);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadAll(*request), 4u);
  EXPECT_TRUE(request->Succeeded());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1100ms) << "the headers took longer than the stall timeout";
  server.join();
  ::close(listener);
}

}  // namespace
