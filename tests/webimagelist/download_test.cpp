// The download module against a real HTTP server in this process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "Quorvane/mdlInternet.h"
#include "Quorvane/ucMain.h"
#include "desk/filesystem.h"
#include "fixture.h"

namespace {

using namespace std::chrono_literals;
using Quorvane::mdlInternet::DownloadFile;
using Quorvane::mdlInternet::GetUrlContent;
using testenv::Report;

const std::u16string kModule = u"mdlInternet, Module";

// Records every read the download loop makes, passing it to the real client.
class SpyClient : public desk::http::Client {
 public:
  explicit SpyClient(std::shared_ptr<desk::http::Client> real) : real_(std::move(real)) {}
  struct Log {
    std::vector<std::string> agents;
    std::vector<size_t> asked, got;
  };
  std::shared_ptr<Log> log = std::make_shared<Log>();

  std::unique_ptr<desk::http::Session> OpenSession(std::string_view agent) override {
    log->agents.emplace_back(agent);
    struct Req : desk::http::Request {
      std::unique_ptr<desk::http::Request> r;
      std::shared_ptr<Log> log;
      size_t Read(uint8_t* b, size_t n) override {
        log->asked.push_back(n);
        size_t got = r->Read(b, n);
        log->got.push_back(got);
        return got;
      }
      bool Succeeded() const override { return r->Succeeded(); }
    };
    struct Ses : desk::http::Session {
      std::unique_ptr<desk::http::Session> s;
      std::shared_ptr<Log> log;
      std::unique_ptr<desk::http::Request> OpenUrl(std::string_view url) override {
        auto q = std::make_unique<Req>();
        q->r = s->OpenUrl(url);
        q->log = log;
        return q;
      }
    };
    auto s = std::make_unique<Ses>();
    s->s = real_->OpenSession(agent);
    s->log = log;
    return s;
  }

 private:
  std::shared_ptr<desk::http::Client> real_;
};

class Download : public testenv::WebTest {
 protected:
  void SetUp() override {
    WebTest::SetUp();
    control_ = desk::MakeRef<Quorvane::ucMain>();  // holds the thread's file-system object
  }
  void TearDown() override {
    control_.reset();
    WebTest::TearDown();
  }
  std::string Body(const std::string& path) { return GetUrlContent(server_.Url16(path)).ToString(); }

  desk::Ref<Quorvane::ucMain> control_;
};

TEST_F(Download, SendsTheAgentAndNoCacheHeadersAndReadsIn2048BytePieces) {
  std::string body(5000, 'x');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
  server_.Serve("/b.bin", body);
  server_.Start();
  auto spy = std::make_shared<SpyClient>(desk::http::SharedClient());
  desk::http::SetClient(spy);
  const int pointsBefore = Host().doEventsCount;

  EXPECT_EQ(Body("/b.bin"), body);
  EXPECT_EQ(Host().doEventsCount - pointsBefore, 3) << "three dispatch points per download";
  EXPECT_EQ(spy->log->agents, std::vector<std::string>{"vb wininet"});
  EXPECT_EQ(server_.LastHeader("User-Agent"), "vb wininet");
  EXPECT_EQ(server_.LastHeader("Cache-Control"), "no-cache");
  EXPECT_EQ(server_.LastHeader("Pragma"), "no-cache");
  for (size_t n : spy->log->asked) EXPECT_EQ(n, 2048u);
  for (size_t n : spy->log->got) EXPECT_LE(n, 2048u);
  ASSERT_FALSE(spy->log->got.empty());
  EXPECT_EQ(spy->log->got.back(), 0u) << "the loop ends on a 0-byte read";

  // A body that fits one read still takes a second, empty read.
  server_.Serve("/small", "abc");
  spy->log->got.clear();
  EXPECT_EQ(Body("/small"), "abc");
  EXPECT_EQ(spy->log->got, (std::vector<size_t>{3, 0}));
}

// Every way a download can go wrong ends in an empty body: no exception, no box.
TEST_F(Download, FailuresEndInAnEmptyBody) {
  server_.Routes().Get("/404-body", [](const httplib::Request&, httplib::Response& r) {
    r.status = 404;
    r.set_content("<html>missing</html>", "text/html");
  });
  server_.Routes().Get("/404-empty", [](const httplib::Request&, httplib::Response& r) { r.status = 404; });
  server_.Routes().Get("/500-body", [](const httplib::Request&, httplib::Response& r) {
    r.status = 500;
    r.set_content("oops", "text/plain");
  });
  server_.Routes().Get("/500-empty", [](const httplib::Request&, httplib::Response& r) { r.status = 500; });
  server_.Routes().Get("/304", [](const httplib::Request&, httplib::Response& r) { r.status = 304; });
  server_.Routes().Get("/to-file", [](const httplib::Request&, httplib::Response& r) {
    r.set_redirect("file:///etc/hostname");
  });
  server_.Routes().Get("/to-ftp", [](const httplib::Request&, httplib::Response& r) {
    r.set_redirect("ftp://127.0.0.1/x.png");
  });
  server_.Routes().Get("/loop", [](const httplib::Request&, httplib::Response& r) { r.set_redirect("/loop"); });
  server_.Routes().Get("/drop", [](const httplib::Request&, httplib::Response& r) {
    r.set_content_provider(100000, "image/png", [](size_t offset, size_t, httplib::DataSink& sink) {
      if (offset > 0) return false;  // the connection closes mid-body
      std::string part(1000, 'p');
      sink.write(part.data(), part.size());
      return true;
    });
  });
  testenv::TestServer* srv = &server_;
  server_.Routes().Get("/stall", [srv](const httplib::Request&, httplib::Response& r) {
    r.set_content_provider(1000, "image/png", [srv](size_t offset, size_t, httplib::DataSink& sink) {
      if (offset == 0) {
        sink.write("abc", 3);
        return true;
      }
      srv->WaitForRelease();
      return false;
    });
  });
  server_.Start();

  struct Row {
    const char* what;
    std::string url;
    int requests;  // requests the server sees for this URL's path
  } rows[] = {
      {"404 with a body", server_.Url("/404-body"), 1},
      {"404 without a body", server_.Url("/404-empty"), 1},
      {"500 with a body", server_.Url("/500-body"), 1},
      {"500 without a body", server_.Url("/500-empty"), 1},
      {"status that is not 2xx and not followed", server_.Url("/304"), 1},
      {"redirect to file://", server_.Url("/to-file"), 1},
      {"redirect to ftp://", server_.Url("/to-ftp"), 1},
      {"redirect loop", server_.Url("/loop"), 11},
      {"connection dropped mid-body", server_.Url("/drop"), 1},
      {"server stalls mid-body", server_.Url("/stall"), 1},
      {"file:// URL", "file:///etc/hostname", 0},
      {"ftp:// URL", "ftp://127.0.0.1:" + std::to_string(server_.Port()) + "/x.png", 0},
      {"malformed URL", "http://exa mple.com/x.png", 0},
      {"no scheme", "127.0.0.1/x.png", 0},
      {"empty URL", "", 0},
      {"nothing listening", "http://127.0.0.1:1/x.png", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const int before = server_.Total();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(GetUrlContent(desk::U16(r.url)).size(), 0u);
    EXPECT_EQ(server_.Total() - before, r.requests);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Download, BodyCapIsCountedByTheClient) {
  server_.Serve("/big", std::string(10000, 'b'));
  server_.Start();
  desk::http::Options o;
  o.maxBodyBytes = 9999;
  desk::http::SetClient(desk::http::MakeCurlClient(o));
  EXPECT_EQ(Body("/big").size(), 0u);
  o.maxBodyBytes = 10000;
  desk::http::SetClient(desk::http::MakeCurlClient(o));
  EXPECT_EQ(Body("/big").size(), 10000u);
}

TEST_F(Download, RedirectToAPictureIsFollowed) {
  server_.Serve("/px.png", testenv::DataFile("px.png"), "image/png");
  server_.Routes().Get("/go", [](const httplib::Request&, httplib::Response& r) { r.set_redirect("/px.png"); });
  server_.Start();
  EXPECT_EQ(Body("/go"), testenv::DataFile("px.png"));
}

TEST_F(Download, UrlWithSpacesAndNonAsciiIsSentPercentEncodedAsUtf8) {
  server_.Serve("/caf\xC3\xA9 au lait.png", "pic");
  server_.Start();
  const std::u16string url = server_.Url16("/") + u"caf\u00E9 au lait.png";
  EXPECT_EQ(GetUrlContent(url).ToString(), "pic");
  EXPECT_EQ(server_.LastTarget(), "/caf%C3%A9%20au%20lait.png");
}

TEST_F(Download, ErrorPageIsRefusedOnlyAfterTheFirstCharacter) {
  const std::string title = "<TITLE>The Page Cannot Be Found</title>";
  server_.Serve("/at1.png", " " + title);
  server_.Serve("/later.png", "<html><head>" + title + "</head></html>");
  server_.Serve("/at0.png", title + "<p>");
  server_.Serve("/empty.png", "");
  server_.Start();
  EXPECT_EQ(DownloadFile(server_.Url16("/at1.png"), u"at1.png", true), u"");
  EXPECT_EQ(DownloadFile(server_.Url16("/later.png"), u"later.png", true), u"");
  EXPECT_EQ(DownloadFile(server_.Url16("/empty.png"), u"empty.png", true), u"");
  EXPECT_EQ(DownloadFile(server_.Url16("/at0.png"), u"at0.png", true), Cache16("at0.png"));
  EXPECT_EQ(CacheListing(), std::vector<std::string>{"at0.png"});
  EXPECT_TRUE(Boxes().empty());
  // Across the blocks the body is kept in.
  std::string big(16 * 1024 - 10, 'z');
  EXPECT_TRUE(Quorvane::mdlInternet::IsPageContainsError(big + title));
  Quorvane::mdlInternet::Body b;
  b.Append(big + title);
  EXPECT_TRUE(Quorvane::mdlInternet::IsPageContainsError(b));
  EXPECT_FALSE(Quorvane::mdlInternet::IsPageContainsError(title));
}

TEST_F(Download, BytesOfValueZeroReachTheFileUnchanged) {
  std::string bytes;
  for (int i = 0; i < 70000; ++i) bytes.push_back(static_cast<char>(i % 3 == 0 ? 0 : i & 0xFF));
  server_.Serve("/zeros.bin", bytes);
  server_.Start();
  EXPECT_EQ(DownloadFile(server_.Url16("/zeros.bin"), u"zeros.bin", false), Cache16("zeros.bin"));
  EXPECT_EQ(testenv::ReadFile(Cache("zeros.bin")), bytes);
}

TEST_F(Download, ReuseMakesNoRequestAndForceDoes) {
  server_.Serve("/p.png", "new bytes");
  server_.Serve("/gone.png", "");
  server_.Start();
  testenv::WriteFile(Cache("p.png"), "old bytes");
  EXPECT_EQ(DownloadFile(server_.Url16("/p.png"), u"p.png", false), u"True");
  EXPECT_EQ(server_.Count("/p.png"), 0);
  EXPECT_EQ(DownloadFile(server_.Url16("/p.png"), u"p.png", true), Cache16("p.png"));
  EXPECT_EQ(server_.Count("/p.png"), 1);
  EXPECT_EQ(testenv::ReadFile(Cache("p.png")), "new bytes");
  // A forced download that fails leaves the cached file as it was.
  testenv::WriteFile(Cache("gone.png"), "kept");
  EXPECT_EQ(DownloadFile(server_.Url16("/gone.png"), u"gone.png", true), u"");
  EXPECT_EQ(testenv::ReadFile(Cache("gone.png")), "kept");
  EXPECT_EQ(CacheListing(), (std::vector<std::string>{"gone.png", "p.png"})) << "no temporary files left";
}

TEST_F(Download, SymbolicLinkAtTheCachePathIsReplacedNotFollowed) {
  server_.Serve("/l.png", "fresh");
  server_.Start();
  testenv::WriteFile(Cache("victim"), "precious");
  std::filesystem::create_symlink(Cache("victim"), Cache("l.png"));
  EXPECT_EQ(DownloadFile(server_.Url16("/l.png"), u"l.png", false), Cache16("l.png"))
      << "a link is not a cached file";
  EXPECT_EQ(testenv::ReadFile(Cache("victim")), "precious");
  EXPECT_FALSE(std::filesystem::is_symlink(Cache("l.png")));
  EXPECT_EQ(testenv::ReadFile(Cache("l.png")), "fresh");
}

TEST_F(Download, HostileFileNamesFailWithoutARequest) {
  server_.Serve("/x", "body");
  server_.Start();
  const std::u16string longName(300, u'n');
  struct Row {
    const char* what;
    std::u16string name;
  } rows[] = {{"empty", u""}, {"dot", u"."}, {"dot dot", u".."}, {"too long", longName}, {"NUL", std::u16string(u"a\0b", 3)}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const size_t boxes = Boxes().size();
    EXPECT_EQ(DownloadFile(server_.Url16("/x"), r.name, true), u"");
    ASSERT_EQ(Boxes().size(), boxes + 1);
    EXPECT_EQ(Boxes().back().text, Report(kModule, u"DownloadFile", 75, u"Path/File access error"));
  }
  EXPECT_EQ(server_.Total(), 0);
  EXPECT_TRUE(CacheListing().empty());
}

TEST_F(Download, WithoutSharedFileSystemTheDownloadReports91) {
  control_.reset();
  EXPECT_EQ(DownloadFile(u"http://127.0.0.1:1/a.png", u"a.png", true), u"");
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text,
            Report(kModule, u"DownloadFile", 91, u"Object variable or With block variable not set"));
  EXPECT_EQ(Boxes()[0].style, 16);
  EXPECT_EQ(Boxes()[0].EffectiveCaption(), u"שגיאה מערכתית");
}

// A real failure half-way through writing: the file-size limit stops the write.
TEST_F(Download, FailedWriteLeavesTheOldFileAndNoOther) {
  testenv::WriteFile(Cache("w.png"), "old");
  auto fs = desk::MakeFileSystem();
  std::string big(1 << 20, 'w');
  const std::span<const uint8_t> piece(reinterpret_cast<const uint8_t*>(big.data()), big.size());
  const std::span<const uint8_t> pieces[] = {piece, piece};
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 1 << 20;
  setrlimit(RLIMIT_FSIZE, &small);
  int number = 0;
  try {
    fs->ReplaceFile(Cache16("w.png"), pieces);
  } catch (const desk::Error& e) {
    number = e.Number();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(number, 75);
  EXPECT_EQ(testenv::ReadFile(Cache("w.png")), "old");
  EXPECT_EQ(CacheListing(), std::vector<std::string>{"w.png"});
  // And the reasons a replacement cannot even start.
  auto errorOf = [&](const std::u16string& p) {
    try {
      fs->ReplaceFile(p, pieces);
    } catch (const desk::Error& e) {
      return e.Number();
    }
    return 0;
  };
  std::filesystem::create_directory(Cache("folder"));
  EXPECT_EQ(errorOf(Cache16("no-such-folder/x.png")), 76);
  EXPECT_EQ(errorOf(Cache16("folder")), 75);
}

}  // namespace
