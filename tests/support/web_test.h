// Shared test scaffolding: a real HTTP server on 127.0.0.1 inside the test process, a fresh
// headless platform (the host-side spy), a private temporary folder, and a client with
// short timeouts.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "desk/headless.h"
#include "desk/http.h"
#include "desk/text.h"

namespace testenv {

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary);
  f << bytes;
}

inline std::string DataFile(const std::string& name) { return ReadFile(std::filesystem::path(DESK_TEST_DATA) / name); }

// The server: routes are added by tests; every request is counted by path.
class TestServer {
 public:
  TestServer() {
    // Its small writes go out at once, as a near server's do: without this, each answer waits
    // for the client's delayed ACK (40 ms), which a Fill takes for a far server worth
    // overlapping.
    server_.set_tcp_nodelay(true);
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
      std::lock_guard<std::mutex> lock(mu_);
      ++counts_[req.path];
      ++total_;
      lastHeaders_ = req.headers;
      lastTarget_ = req.target;
      return httplib::Server::HandlerResponse::Unhandled;
    });
  }
  ~TestServer() { Stop(); }

  httplib::Server& Routes() { return server_; }

  void Start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // The socket already listens; wait (bounded) for the accept loop so that Stop finds it.
    for (int i = 0; i < 2000 && !server_.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void Stop() {
    ReleaseStalls();
    if (thread_.joinable()) {
      server_.stop();
      thread_.join();
    }
  }

  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::u16string Url16(const std::string& path) const { return desk::U16(Url(path)); }
  int Port() const { return port_; }

  int Count(const std::string& path) {
    std::lock_guard<std::mutex> lock(mu_);
    return counts_[path];
  }
  int Total() {
    std::lock_guard<std::mutex> lock(mu_);
    return total_;
  }
  std::string LastHeader(const std::string& name) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = lastHeaders_.find(name);
    return it == lastHeaders_.end() ? std::string("<none>") : it->second;
  }
  std::string LastTarget() {
    std::lock_guard<std::mutex> lock(mu_);
    return lastTarget_;
  }

  // Serves `body` at `path` with status 200.
  void Serve(const std::string& path, std::string body, const char* type = "application/octet-stream") {
    server_.Get(path, [body = std::move(body), type](const httplib::Request&, httplib::Response& res) {
      res.set_content(body, type);
    });
  }

  // Blocks a handler until the test ends (bounded: at most 10 s).
  void WaitForRelease() {
    std::unique_lock<std::mutex> lock(stallMu_);
    stallCv_.wait_for(lock, std::chrono::seconds(10), [this] { return released_; });
  }
  void ReleaseStalls() {
    {
      std::lock_guard<std::mutex> lock(stallMu_);
      released_ = true;
    }
    stallCv_.notify_all();
  }

 private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = 0;
  std::mutex mu_;
  std::map<std::string, int> counts_;
  int total_ = 0;
  httplib::Headers lastHeaders_;
  std::string lastTarget_;
  std::mutex stallMu_;
  std::condition_variable stallCv_;
  bool released_ = false;
};

// Per test: a fresh headless platform, TMPDIR pointing at a private folder, a client with a
// short stall timeout, and no proxy for the loopback server.
class WebTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    ::setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    platform_ = std::make_shared<desk::HeadlessPlatform>();
    desk::SetPlatform(platform_);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (char& c : name)
      if (c == '/') c = '_';  // parameterised tests
    dir_ = std::filesystem::temp_directory_path() / ("quorvane-test-" + std::to_string(::getpid()) + "-" + name);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    oldTmp_ = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    ::setenv("TMPDIR", dir_.c_str(), 1);
    desk::http::Options o;
    o.stallTimeout = std::chrono::milliseconds(700);
    o.connectTimeout = std::chrono::milliseconds(2000);
    desk::http::SetClient(desk::http::MakeCurlClient(o));
  }
  void TearDown() override {
    // The client first: its kept connections close, so the server's keep-alive waits end.
    desk::http::SetClient(nullptr);
    server_.Stop();
    if (oldTmp_.empty()) ::unsetenv("TMPDIR");
    else ::setenv("TMPDIR", oldTmp_.c_str(), 1);
    std::filesystem::remove_all(dir_);
    desk::SetPlatform(nullptr);
  }

  desk::HeadlessPlatform& Host() { return *platform_; }
  const std::vector<desk::MessageBoxRequest>& Boxes() { return platform_->messageBoxes; }
  std::filesystem::path Cache(const std::string& name) const { return dir_ / name; }
  std::u16string Cache16(const std::string& name) const { return desk::U16((dir_ / name).string()); }
  // Files in the cache folder, to catch stray temporary files.
  std::vector<std::string> CacheListing() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  TestServer server_;
  std::shared_ptr<desk::HeadlessPlatform> platform_;
  std::filesystem::path dir_;
  std::string oldTmp_;
};

// The six lines of a report, for comparing to the character.
inline std::u16string Report(const std::u16string& module, const std::u16string& procedure, int number,
                             const std::u16string& description) {
  return u"Error\r\nModule : " + module + u"\r\nFunction : " + procedure + u"\r\nError Number : " +
         desk::DecimalText(number) + u"\r\nError Description : " + description + u"\r\nError Line : 0";
}

}  // namespace testenv
