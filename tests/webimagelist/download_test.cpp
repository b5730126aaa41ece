// The download module against a real HTTP server in this process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <map>
#include <optional>
#include <thread>

#include "cache_file.h"
#include "mdlInternet.h"
#include "shared.h"
#include "ucMain.h"
#include "desk/filesystem.h"
#include "support/memory_filesystem.h"
#include "support/web_test.h"

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
  server_.Routes().Get("/404-small", [](const httplib::Request&, httplib::Response& r) {
    r.status = 404;
    r.set_content("not found", "text/html");  // one chunk: the first is the one checked
  });
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
    const auto body = GetUrlContent(desk::U16(r.url));
    EXPECT_EQ(body.size(), 0u);
    EXPECT_EQ(body.ToString(), "") << "no bytes kept behind the size";
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
  EXPECT_FALSE(Quorvane::mdlInternet::IsPageContainsError(title));
  EXPECT_TRUE(Quorvane::mdlInternet::IsPageContainsError(" <TITLE>THE PAGE CANNOT BE FOUND</TITLE>"));
  // A title that the end of the page cuts short is no title, ended in one block or in several.
  Quorvane::mdlInternet::Body cut;
  cut.Append(std::string(64 * 1024, 'z') + title.substr(0, title.size() - 1));
  EXPECT_FALSE(Quorvane::mdlInternet::IsPageContainsError(cut));
  EXPECT_FALSE(Quorvane::mdlInternet::IsPageContainsError(" " + title.substr(0, 10)));
  // At, across and beside the boundaries of the blocks the body is kept in; a title spoiled
  // in its last character is no title.
  Quorvane::mdlInternet::Body probe;
  probe.Append(std::string(64 * 1024, 'z'));
  const auto blocks = probe.Pieces();
  ASSERT_GE(blocks.size(), 2u);
  const size_t ends[] = {blocks[0].size(), blocks[0].size() + blocks[1].size()};
  std::string spoiled = title;
  spoiled.back() = '!';
  for (size_t end : ends) {
    for (long delta : {-39L, -38L, -20L, -1L, 0L, 1L}) {
      const size_t at = end + static_cast<size_t>(delta);
      for (bool whole : {true, false}) {
        SCOPED_TRACE("title at " + std::to_string(at) + (whole ? "" : ", spoiled"));
        const std::string page = std::string(at, 'z') + (whole ? title : spoiled) + std::string(100, 'z');
        Quorvane::mdlInternet::Body b;
        b.Append(page);
        EXPECT_EQ(Quorvane::mdlInternet::IsPageContainsError(b), whole);
        EXPECT_EQ(Quorvane::mdlInternet::IsPageContainsError(page), whole);
      }
    }
  }
}

// A body's large blocks are kept, per thread, for the next body, which takes them back
// instead of mapping new ones; what is kept stays within 128 MiB. In a thread of its own, so
// that it starts with nothing kept.
TEST(BodyBlocks, LargeBlocksAreKeptForTheNextBodyWithinABound) {
  using Quorvane::mdlInternet::Body;
  constexpr size_t MiB = 1024 * 1024;
  std::vector<size_t> kept;  // after each step
  std::thread([&] {
    kept.push_back(Body::SpareBytes());
    for (int round = 0; round < 2; ++round) {
      Body b;
      b.Append(std::string(3 * MiB + MiB / 2, 'x'));  // its mapped blocks: 1 and 2 MiB
      kept.push_back(Body::SpareBytes());
      EXPECT_EQ(b.size(), 3 * MiB + MiB / 2);
    }
    kept.push_back(Body::SpareBytes());
    {
      // Two bodies at once never share a kept block.
      Body one, two;
      one.Append(std::string(3 * MiB + MiB / 2, '1'));
      two.Append(std::string(3 * MiB + MiB / 2, '2'));
      EXPECT_EQ(one.ToString(), std::string(3 * MiB + MiB / 2, '1'));
    }
    {
      Body huge;
      huge.Append(std::string(140 * MiB, 'y'));
    }
    kept.push_back(Body::SpareBytes());
  }).join();
  ASSERT_EQ(kept.size(), 5u);
  EXPECT_EQ(kept[0], 0u);
  EXPECT_EQ(kept[1], 0u);        // nothing to take yet
  EXPECT_EQ(kept[2], 0u);        // the first body's blocks, taken back by the second
  EXPECT_EQ(kept[3], 3 * MiB);   // and given back again
  EXPECT_LE(kept[4], 128 * MiB);
  EXPECT_GE(kept[4], 124 * MiB);  // kept up to the bound, the rest handed back to the kernel
}

// Sizes on either side of the read piece (2 KiB), the body's blocks (16, 48 KiB), the
// client's pending bytes (128 KiB, past which it pauses the transfer) and the mapped blocks.
TEST_F(Download, BytesOfValueZeroReachTheFileUnchangedWhateverTheSize) {
  // Past 1 MiB the body's blocks are mapped pages (of 1 and 2 MiB here), kept for the next
  // download: the last two take them back in the other order than they were given.
  const size_t sizes[] = {1, 2047, 2048, 2049, 16384, 16385, 49152, 49153, 131072, 131073, 70000, 3000017, 2000003, 4000037};
  for (size_t size : sizes) {
    std::string bytes;
    for (size_t i = 0; i < size; ++i) bytes.push_back(static_cast<char>(i % 3 == 0 ? 0 : (i * 7 + (i >> 11)) & 0xFF));
    server_.Serve("/" + std::to_string(size), bytes);
  }
  server_.Start();
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string name = std::to_string(size) + ".bin";
    EXPECT_EQ(DownloadFile(server_.Url16("/" + std::to_string(size)), desk::U16(name), false), Cache16(name));
    const std::string got = testenv::ReadFile(Cache(name));
    ASSERT_EQ(got.size(), size);
    for (size_t i = 0; i < size; ++i)
      if (got[i] != static_cast<char>(i % 3 == 0 ? 0 : (i * 7 + (i >> 11)) & 0xFF)) {
        ADD_FAILURE() << "first wrong byte at " << i;
        break;
      }
  }
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
  } rows[] = {{"empty", u""},
              {"dot", u"."},
              {"dot dot", u".."},
              {"too long", longName},
              {"too long in UTF-8 only", std::u16string(128, u'\u00E9')},
              {"NUL", std::u16string(u"a\0b", 3)},
              {"slash inside", u"sub/x.png"},
              {"absolute path", u"/tmp/x.png"},
              {"parent folder", u"../x.png"},
              {"a slash alone", u"/"},
              {"trailing slash", u"x.png/"}};
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

// NAME_MAX counts bytes of UTF-8: each row sits on either side of 255 with characters of one
// to four bytes; a name the check lets through is one the file system takes.
TEST_F(Download, FileNameLengthIsCountedInUtf8Bytes) {
  server_.Serve("/x", "body");
  server_.Start();
  auto times = [](std::u16string_view s, size_t n) {
    std::u16string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
  };
  struct Row {
    const char* what;
    std::u16string name;
    bool ok;
  } rows[] = {
      {"255 one-byte", times(u"n", 255), true},
      {"256 one-byte", times(u"n", 256), false},
      {"255 of the last one-byte", times(u"\u007F", 255), true},
      {"127 of the first two-byte and one", times(u"\u0080", 127) + u"n", true},
      {"127 of the first two-byte and two", times(u"\u0080", 127) + u"nn", false},
      {"127 of the last two-byte and two", times(u"\u07FF", 127) + u"nn", false},
      {"85 of the first three-byte and one", times(u"\u0800", 85) + u"n", false},
      {"127 two-byte and one", times(u"\u00E9", 127) + u"n", true},
      {"127 two-byte and two", times(u"\u00E9", 127) + u"nn", false},
      {"85 three-byte", times(u"\u20AC", 85), true},
      {"85 three-byte and one", times(u"\u20AC", 85) + u"n", false},
      {"63 four-byte and three", times(u"\U0001F600", 63) + u"nnn", true},
      {"63 four-byte and four", times(u"\U0001F600", 63) + u"nnnn", false},
      {"63 of the first four-byte and three", times(u"\U00010000", 63) + u"nnn", true},
      {"63 of the last four-byte and three", times(u"\U0010FFFF", 63) + u"nnn", true},
      {"85 unpaired high surrogates", times(u"\xD800", 85), true},
      {"84 three-byte and an unpaired high surrogate at the end", times(u"\u20AC", 84) + u"\xD800", true},
      {"85 unpaired low surrogates and one", times(u"\xDC00", 85) + u"n", false},
      {"42 high surrogates before units past the low ones, and four", times(u"\xD800\xE000", 42) + u"nnnn", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(Quorvane::cacheFile::IsName(r.name), r.ok);
    const size_t boxes = Boxes().size();
    const std::u16string got = DownloadFile(server_.Url16("/x"), r.name, true);
    if (r.ok) {
      EXPECT_EQ(got, Cache16("") + r.name);
      EXPECT_EQ(Boxes().size(), boxes);
    } else {
      EXPECT_EQ(got, u"");
      EXPECT_EQ(Boxes().size(), boxes + 1);
    }
  }
  // A name cut from a longer text: a high surrogate at its end pairs with nothing after it.
  const std::u16string text = times(u"\u20AC", 84) + u"\xD800\xDC00";
  EXPECT_TRUE(Quorvane::cacheFile::IsName(std::u16string_view(text).substr(0, text.size() - 1)));
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

// A control kept in a thread-local object made before the thread's shared slot outlives the
// slot: its lease then finds no file system and leaves the destroyed slot alone.
TEST(SharedFileSystem, IsGoneForALeaseThatOutlivesItsThreadsSlot) {
  static bool seenAtTheEnd = true;
  std::thread([] {
    struct Late {
      std::optional<Quorvane::detail::FileSystemLease> lease;
      ~Late() {
        seenAtTheEnd = Quorvane::detail::SharedFileSystem() != nullptr;
        lease.reset();
      }
    };
    thread_local Late late;  // made first, so destroyed after the slot
    late.lease.emplace();
    EXPECT_TRUE(Quorvane::detail::SharedFileSystem());
  }).join();
  EXPECT_FALSE(seenAtTheEnd);
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
  EXPECT_EQ(errorOf(Cache16("w.png/x.png")), 76);
  EXPECT_EQ(errorOf(Cache16(std::string(300, 'n'))), 75);
  // Only a regular file exists; an empty path and one cut by a NUL name none.
  EXPECT_TRUE(fs->FileExists(Cache16("w.png")));
  EXPECT_FALSE(fs->FileExists(Cache16("folder")));
  EXPECT_FALSE(fs->FileExists(u""));
  EXPECT_FALSE(fs->FileExists(Cache16("w.png") + std::u16string(1, u'\0')));
}

// A replacement with the very bytes the file already holds keeps the file (no new one) only
// when it is our own regular file with one name, writable by no one else; any other file is
// replaced by a new one of ours. The comparison reads in blocks: the bytes differ at the ends
// of pieces and of blocks.
TEST_F(Download, AReplacementKeepsOnlyOurOwnUnchangedFile) {
  auto fs = desk::MakeFileSystem();
  std::string bytes(100'000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 23);
  auto span = [](const std::string& s, size_t from, size_t n) {
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()) + from, n);
  };
  const std::span<const uint8_t> pieces[] = {span(bytes, 0, 70'000), span(bytes, 70'000, 0), span(bytes, 70'000, 30'000)};
  auto changed = [&](size_t at) {
    std::string s = bytes;
    s[at] = '#';
    return s;
  };
  auto ours = [](const std::filesystem::path& p, const std::string& s) {
    testenv::WriteFile(p, s);
    ::chmod(p.c_str(), 0644);
  };
  struct stat st {};
  auto inode = [&](const std::filesystem::path& p) { return ::lstat(p.c_str(), &st) == 0 ? st.st_ino : 0; };
  struct Row {
    const char* what;
    std::function<void(const std::filesystem::path&)> make;
    bool kept;
  };
  const Row rows[] = {
      {"no file yet", [](auto&) {}, false},
      {"ours, the same bytes", [&](auto& p) { ours(p, bytes); }, true},
      {"one byte more", [&](auto& p) { ours(p, bytes + "x"); }, false},
      {"one byte fewer", [&](auto& p) { ours(p, bytes.substr(1)); }, false},
      {"empty", [&](auto& p) { ours(p, ""); }, false},
      {"the first byte differs", [&](auto& p) { ours(p, changed(0)); }, false},
      {"the last byte of the first piece differs", [&](auto& p) { ours(p, changed(69'999)); }, false},
      {"the byte after the first block differs", [&](auto& p) { ours(p, changed(65'536)); }, false},
      {"the last byte differs", [&](auto& p) { ours(p, changed(99'999)); }, false},
      {"writable by others", [&](auto& p) { ours(p, bytes), ::chmod(p.c_str(), 0666); }, false},
      {"writable by the group", [&](auto& p) { ours(p, bytes), ::chmod(p.c_str(), 0620); }, false},
      {"with a second name",
       [&](auto& p) {
         ours(p, bytes);
         std::filesystem::create_hard_link(p, Cache("second-name"));
       },
       false},
      {"a link to a file of the same bytes",
       [&](auto& p) {
         ours(Cache("target"), bytes);
         std::filesystem::create_symlink(Cache("target"), p);
       },
       false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const std::filesystem::path p = Cache("same.bin");
    for (const char* n : {"same.bin", "second-name", "target"}) std::filesystem::remove(Cache(n));
    r.make(p);
    const auto before = inode(p);
    fs->ReplaceFile(Cache16("same.bin"), pieces);
    EXPECT_EQ(inode(p) == before, r.kept);
    EXPECT_EQ(testenv::ReadFile(p), bytes);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    if (!r.kept) {
      EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
  }
  // Whatever had another name keeps its bytes there.
  EXPECT_EQ(testenv::ReadFile(Cache("target")), bytes);
}

}  // namespace

// A file system a host put in place of the system's gets the downloads of the controls made
// after it; nothing reaches the cache folder.
TEST_F(Download, AFileSystemOfTheHostsOwnReceivesTheDownload) {

  server_.Serve("/m.png", "in memory");
  server_.Start();
  auto memory = std::make_shared<desk_test::MemoryFileSystem>();
  desk::SetFileSystemMaker([memory] { return memory; });
  control_ = desk::MakeRef<Quorvane::ucMain>();
  desk::SetFileSystemMaker(nullptr);
  EXPECT_EQ(DownloadFile(server_.Url16("/m.png"), u"m.png", false), u"/memory/m.png");
  EXPECT_EQ(memory->files[u"/memory/m.png"], "in memory");
  EXPECT_EQ(DownloadFile(server_.Url16("/m.png"), u"m.png", false), u"True") << "found in the host's file system";
  EXPECT_EQ(server_.Count("/m.png"), 1);
  EXPECT_TRUE(CacheListing().empty());
}
