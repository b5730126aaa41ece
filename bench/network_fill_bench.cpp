// The web image list over a link of limited speed, on the Qt platform (offscreen) beside a
// window that a host keeps painting, as a host pointed at a photo server sees it:
//  - a Fill of 12 photos (about 1.2 MB each) from a local server that sends at most a set
//    rate on each connection, against `curl --parallel --parallel-immediate --parallel-max 6`
//    fetching the same URLs (goal: at most 1.3x, median of rounds paired in the same run);
//  - the longest time the window went unpainted during that Fill (goal: at most 50 ms): a
//    10 ms QTimer asks a visible widget to repaint, and its paint events are timed.
// Varied: the link's speed (1, 2 and 8 MB/s a connection), the photos' size (4000x3000,
// 2000x1500, 800x600 and 400x300: about 1.2 MB, 300 KB, 50 KB and 15 KB), and a small picture
// first. The host reaches the control only through dispatch,
// on the library loaded by name; the server runs in a process of its own.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <httplib.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "desk/component.h"
#include "desk/dispatch.h"
#include "desk/http.h"
#include "desk/qt_platform.h"
#include "desk/text.h"
#include "photo_files.h"
#include "server_child.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPhotos = 12, kDistinct = 4;
constexpr const char* kImageListClsid = "{54DB11E5-373F-4255-8B48-D0C961FAE634}";

std::filesystem::path workDir;
desk_bench::ServerChild server;

using desk_bench::Median;
using desk_bench::Seconds;

// "/<rate>/<file>": the file sent at most `rate` bytes a second on its connection.
void StartServer() {
  server.Start([](const std::function<void(int)>& report) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(workDir))
      if (e.is_regular_file()) files[e.path().filename()] = desk_bench::ReadFile(e.path());
    httplib::Server http;
    http.new_task_queue = [] { return new httplib::ThreadPool(16); };
    http.set_keep_alive_max_count(100000);
    http.Get(R"(/(\d+)/(\d+)/(.+\.jpg))", [&](const httplib::Request& req, httplib::Response& res) {
      const auto it = files.find(req.matches[3]);
      if (it == files.end()) {
        res.status = 404;
        return;
      }
      const double rate = std::stod(req.matches[1]);
      const std::string* body = &it->second;
      const auto start = Clock::now();
      res.set_content_provider(body->size(), "image/jpeg", [body, rate, start](size_t offset, size_t, httplib::DataSink& sink) {
        // Each piece waits until the rate allows it: 20 ms worth at a time.
        const size_t piece = std::min(body->size() - offset, static_cast<size_t>(rate / 50));
        std::this_thread::sleep_until(start + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(static_cast<double>(offset) / rate)));
        return sink.write(body->data() + offset, piece);
      });
    });
    report(http.bind_to_any_port("127.0.0.1"));
    http.listen_after_bind();
  });
}

struct Case {
  int rateKb;  // a connection's speed, KB/s
  int width;   // of the photos
  bool smallFirst;
};
const Case kCases[] = {{2000, 4000, false}, {1000, 4000, false}, {2000, 2000, false}, {2000, 800, false},
                       {2000, 4000, true},  {8000, 4000, false}, {2000, 400, false}};

std::vector<std::string> Urls(const Case& c, int round) {
  std::vector<std::string> urls;
  const std::string base = "http://127.0.0.1:" + std::to_string(server.Port()) + "/" + std::to_string(c.rateKb * 1000) +
                           "/" + std::to_string(round) + "/";
  if (c.smallFirst) urls.push_back(base + "small.jpg");
  for (int i = 0; i < kPhotos; ++i) urls.push_back(base + "p" + std::to_string(c.width) + "-" + std::to_string(i % kDistinct) + ".jpg");
  return urls;
}

// One run of the curl program over the URLs, in parallel as it allows; seconds, or -1.
double RunCurl(const std::vector<std::string>& urls) {
  const auto out = workDir / "curl";
  std::filesystem::create_directories(out);
  std::vector<std::string> args{"curl", "-s", "-f", "--noproxy", "*", "--parallel", "--parallel-immediate",
                                "--parallel-max", "6"};
  for (size_t i = 0; i < urls.size(); ++i) {
    args.push_back("-o");
    args.push_back((out / ("f" + std::to_string(i))).string());
    args.push_back(urls[i]);
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Its parallel progress meter shows even with -s: out of the way.
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  const auto start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "curl", &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (spawned != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? Seconds(Clock::now() - start) : -1;
}

// The host's window: painted whenever the timer asks, each paint timed.
class Canvas : public QWidget {
 public:
  std::vector<Clock::time_point> paints;
  bool recording = false;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).fillRect(rect(), (paints.size() % 2) ? Qt::darkGreen : Qt::darkBlue);
    if (recording) paints.push_back(Clock::now());
  }
};

Canvas* canvas = nullptr;

struct FillRun {
  double seconds = -1, longestGapMs = 0;
  int32_t pictures = 0;
};

FillRun RunFill(const std::vector<std::string>& urls) {
  using desk::CallByName;
  using desk::InvokeKind;
  using desk::Variant;
  FillRun r;
  desk::http::SetClient(desk::http::MakeCurlClient());  // no connection kept from a round before
  desk::Ref<desk::Object> control = desk::CreateFromLibrary(QUORVANE_LIBRARY, "Quorvane_CreateObject", kImageListClsid);
  desk::Ref<desk::Object> list = CallByName(control, u"ListImages", InvokeKind::Get).ToObject();
  for (size_t i = 0; i < urls.size(); ++i)
    CallByName(list, u"Add", InvokeKind::Method,
               {Variant::String(u"k" + desk::DecimalText(static_cast<int32_t>(i))), Variant::String(desk::U16(urls[i]))});
  CallByName(control, u"ForceDownload", InvokeKind::Let, {Variant::Bool(true)});
  QApplication::processEvents();
  canvas->paints.clear();
  canvas->recording = true;
  const auto start = Clock::now();
  CallByName(control, u"Fill", InvokeKind::Method);
  const auto end = Clock::now();
  canvas->recording = false;
  r.seconds = Seconds(end - start);
  auto last = start;
  for (const auto& p : canvas->paints) r.longestGapMs = std::max(r.longestGapMs, Seconds(p - last) * 1e3), last = p;
  r.longestGapMs = std::max(r.longestGapMs, Seconds(end - last) * 1e3);
  desk::Ref<desk::Object> images = CallByName(control, u"ImageListControl", InvokeKind::Get).ToObject();
  desk::Ref<desk::Object> pictures = CallByName(images, u"ListImages", InvokeKind::Get).ToObject();
  r.pictures = CallByName(pictures, u"Count", InvokeKind::Get).ToLong();
  desk::http::SetClient(nullptr);
  return r;
}

std::string Label(const Case& c) {
  return std::to_string(c.rateKb / 1000.0).substr(0, 3) + " MB/s a connection, " + std::to_string(c.width) + " px photos" +
         (c.smallFirst ? ", a small picture first" : "");
}

int round = 0;  // every round asks for URLs of its own, so that nothing is cached on the way

void BM_FillOverLink(benchmark::State& state) {
  const Case& c = kCases[state.range(0)];
  std::vector<double> ratios, gaps;
  for (auto _ : state) {
    const std::vector<std::string> urls = Urls(c, ++round);
    const FillRun r = RunFill(urls);
    if (r.pictures != static_cast<int32_t>(urls.size())) {
      state.SkipWithError("not every photo was filled");
      return;
    }
    state.SetIterationTime(r.seconds);
    gaps.push_back(r.longestGapMs);
    if (const double curl = RunCurl(Urls(c, ++round)); curl > 0) ratios.push_back(r.seconds / curl);
  }
  state.counters["longest_unpainted_ms"] = *std::max_element(gaps.begin(), gaps.end());
  state.counters["paired_ratio_to_curl"] = Median(ratios);
  state.SetLabel(Label(c));
}

void BM_CurlParallel(benchmark::State& state) {
  const Case& c = kCases[state.range(0)];
  for (auto _ : state) {
    const double s = RunCurl(Urls(c, ++round));
    if (s < 0) {
      state.SkipWithError("curl is missing or failed");
      return;
    }
    state.SetIterationTime(s);
  }
  state.SetLabel(Label(c));
}

}  // namespace

BENCHMARK(BM_FillOverLink)->DenseRange(0, 6)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CurlParallel)->DenseRange(0, 6)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
  setenv("no_proxy", "127.0.0.1,localhost", 1);
  setenv("NO_PROXY", "127.0.0.1,localhost", 1);
  workDir = std::filesystem::temp_directory_path() / ("quorvane-network-fill-" + std::to_string(getpid()));
  std::filesystem::create_directories(workDir / "cache");
  desk_bench::WritePhotos(workDir, {{4000, 3000}, {2000, 1500}, {800, 600}, {400, 300}}, kDistinct, workDir / "small.jpg");
  StartServer();  // before Qt starts any thread
  setenv("TMPDIR", (workDir / "cache").c_str(), 1);
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  desk::SetPlatform(desk::MakeQtPlatform());
  Canvas window;
  canvas = &window;
  window.resize(320, 240);
  window.show();
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, &window, [&] { window.update(); });
  timer.start(10);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  timer.stop();
  desk::SetPlatform(nullptr);
  server.Stop();
  std::filesystem::remove_all(workDir);
  return 0;
}
