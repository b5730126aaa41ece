// The web image list filled with camera photos and no smaller picture before them, so that
// the list takes a photo's size, as a host pointed at a photo server gets it:
//  - a Fill of 200 photos (JPEG at quality 90, about 1.2 MB for 4000x3000) from the cache
//    folder, and from a local server, against the djpeg program decoding the same files in
//    full, one after another (goal: at most 0.35x, median of rounds paired in the same run);
//  - the peak memory of the process through the Fill, against 1.5x the photos' bytes plus
//    100 MB (goal: at most 1).
// Varied: the photos' size (4000x3000, 2000x1500, or both mixed with a small one first
// setting the list's size), their source (cache or server), and a 64x48 picture first.
// The host reaches the control only through dispatch, on the library loaded by name. Each
// Fill runs in a process of its own (forked before anything was decoded), so that its peak
// memory is its own; the photos are made by another process and the server runs in a third.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "desk/component.h"
#include "desk/dispatch.h"
#include "desk/text.h"
#include "photo_files.h"
#include "server_child.h"

extern char** environ;

namespace {

constexpr int kPhotos = 200, kDistinct = 8;
constexpr const char* kImageListClsid = "{54DB11E5-373F-4255-8B48-D0C961FAE634}";

// The sets of photos: 0 all 4000x3000, 1 all 2000x1500, 2 both sizes in turn.
struct PhotoSet {
  const char* what;
  std::vector<std::string> names;  // in the cache folder, in list order
  uint64_t bytes = 0;
};
std::vector<PhotoSet> sets(3);
std::filesystem::path workDir;
desk_bench::ServerChild server;

using desk_bench::Median;
using desk_bench::Seconds;

// The photos, written once each and linked under the names of the sets.
void MakePhotos() {
  desk_bench::WritePhotos(workDir, {{4000, 3000}, {2000, 1500}}, kDistinct, workDir / "cache" / "small.jpg");
  sets[0].what = "4000x3000", sets[1].what = "2000x1500", sets[2].what = "mixed";
  for (int k = 0; k < kPhotos; ++k) {
    const int sizes[3] = {4000, 2000, k % 2 ? 4000 : 2000};
    for (int s = 0; s < 3; ++s) {
      const std::string name = "s" + std::to_string(s) + "-" + std::to_string(k) + ".jpg";
      const auto src = workDir / ("p" + std::to_string(sizes[s]) + "-" + std::to_string(k % kDistinct) + ".jpg");
      std::filesystem::create_hard_link(src, workDir / "cache" / name);
      sets[static_cast<size_t>(s)].names.push_back(name);
      sets[static_cast<size_t>(s)].bytes += std::filesystem::file_size(src);
    }
  }
}

void StartServer() {
  server.Start([](const std::function<void(int)>& report) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(workDir / "cache")) files[e.path().filename()] = desk_bench::ReadFile(e.path());
    httplib::Server http;
    http.set_keep_alive_max_count(100000);
    http.Get(R"(/(.+\.jpg))", [&](const httplib::Request& req, httplib::Response& res) {
      const auto it = files.find(req.matches[1]);
      if (it == files.end()) res.status = 404;
      else res.set_content(it->second, "image/jpeg");
    });
    report(http.bind_to_any_port("127.0.0.1"));
    http.listen_after_bind();
  });
}

double CpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct FillResult {
  double seconds = -1, cpu = 0;  // the Fill's; the process's CPU time, every thread's
  long peakKb = 0;
  int32_t pictures = 0, width = 0;
};

// In a process of its own: a host loads the library, lists the photos and fills.
FillResult FillInChild(const PhotoSet& set, bool fromServer, bool smallFirst) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    FillResult r;
    try {
      using desk::CallByName;
      using desk::InvokeKind;
      using desk::Variant;
      const auto cache = workDir / (fromServer ? "fetched" : "cache");
      std::filesystem::create_directories(cache);
      setenv("TMPDIR", cache.c_str(), 1);
      desk::Ref<desk::Object> control = desk::CreateFromLibrary(QUORVANE_LIBRARY, "Quorvane_CreateObject", kImageListClsid);
      desk::Ref<desk::Object> list = CallByName(control, u"ListImages", InvokeKind::Get).ToObject();
      const std::string base = fromServer ? "http://127.0.0.1:" + std::to_string(server.Port()) + "/" : "http://127.0.0.1:1/";
      std::vector<std::string> names = set.names;
      if (smallFirst) names.insert(names.begin(), "small.jpg");
      for (size_t i = 0; i < names.size(); ++i)
        CallByName(list, u"Add", InvokeKind::Method,
                   {Variant::String(u"k" + desk::DecimalText(static_cast<int32_t>(i))), Variant::String(desk::U16(base + names[i]))});
      CallByName(control, u"ForceDownload", InvokeKind::Let, {Variant::Bool(fromServer)});
      rusage before{};
      getrusage(RUSAGE_SELF, &before);
      const auto start = std::chrono::steady_clock::now();
      CallByName(control, u"Fill", InvokeKind::Method);
      r.seconds = Seconds(std::chrono::steady_clock::now() - start);
      rusage after{};
      getrusage(RUSAGE_SELF, &after);
      r.cpu = CpuSeconds(after) - CpuSeconds(before);
      desk::Ref<desk::Object> images = CallByName(control, u"ImageListControl", InvokeKind::Get).ToObject();
      desk::Ref<desk::Object> pictures = CallByName(images, u"ListImages", InvokeKind::Get).ToObject();
      r.pictures = CallByName(pictures, u"Count", InvokeKind::Get).ToLong();
      desk::Ref<desk::Object> first = CallByName(pictures, u"Item", InvokeKind::Get, {Variant::Long(1)}).ToObject();
      desk::Ref<desk::Object> picture = CallByName(first, u"Picture", InvokeKind::Get).ToObject();
      r.width = static_cast<int32_t>(CallByName(picture, u"Width", InvokeKind::Get).ToLong());
      rusage u{};
      getrusage(RUSAGE_SELF, &u);
      r.peakKb = u.ru_maxrss;
    } catch (const desk::Error& e) {
      std::fprintf(stderr, "fill: error %d: %s\n", e.Number(), desk::U8(e.Description()).c_str());
    }
    if (write(fds[1], &r, sizeof r) != sizeof r) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  FillResult r;
  if (read(fds[0], &r, sizeof r) != sizeof r) r.seconds = -1;
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  return r;
}

// The djpeg program over every photo of the set, one after another, each in full: seconds,
// and in `cpu` the CPU time of the djpeg processes.
double DjpegAll(const PhotoSet& set, double* cpu = nullptr) {
  if (cpu) *cpu = 0;
  const auto start = std::chrono::steady_clock::now();
  for (const std::string& name : set.names) {
    std::string path = (workDir / "cache" / name).string();
    std::string prog = "djpeg", flag = "-outfile", out = "/dev/null";
    char* argv[] = {prog.data(), flag.data(), out.data(), path.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "djpeg", nullptr, nullptr, argv, environ) != 0) return -1;
    int status = 0;
    rusage u{};
    wait4(pid, &status, 0, &u);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    if (cpu) *cpu += CpuSeconds(u);
  }
  return Seconds(std::chrono::steady_clock::now() - start);
}

void Fill(benchmark::State& state, bool fromServer, bool smallFirst) {
  const PhotoSet& set = sets[static_cast<size_t>(state.range(0))];
  std::vector<double> ratios, cpuRatios;
  long peakKb = 0;
  for (auto _ : state) {
    const FillResult r = FillInChild(set, fromServer, smallFirst);
    const int32_t expected = kPhotos + (smallFirst ? 1 : 0);
    if (r.seconds < 0 || r.pictures != expected) {
      state.SkipWithError("not every photo was filled");
      return;
    }
    state.SetIterationTime(r.seconds);
    peakKb = std::max(peakKb, r.peakKb);
    // Paired with djpeg right after, so that both see the same load on a shared machine.
    double cpu = 0;
    if (const double d = DjpegAll(set, &cpu); d > 0) ratios.push_back(r.seconds / d), cpuRatios.push_back(r.cpu / cpu);
  }
  const double budgetMiB = 1.5 * static_cast<double>(set.bytes) / (1024.0 * 1024.0) + 100.0;
  state.counters["peak_MiB"] = static_cast<double>(peakKb) / 1024.0;
  state.counters["budget_MiB"] = budgetMiB;
  state.counters["peak_share_of_budget"] = static_cast<double>(peakKb) / 1024.0 / budgetMiB;
  state.counters["paired_ratio_to_djpeg"] = Median(ratios);
  // All threads' CPU time against djpeg's: what the Fill costs whatever else runs meanwhile.
  state.counters["cpu_ratio_to_djpeg"] = Median(cpuRatios);
  state.counters["photos_MB"] = static_cast<double>(set.bytes) / 1e6;
  state.SetLabel(set.what);
}

void BM_FillFromCache(benchmark::State& state) { Fill(state, false, false); }
void BM_FillFromServer(benchmark::State& state) { Fill(state, true, false); }
void BM_FillAfterASmallPicture(benchmark::State& state) { Fill(state, false, true); }

void BM_DjpegInFull(benchmark::State& state) {
  const PhotoSet& set = sets[static_cast<size_t>(state.range(0))];
  for (auto _ : state) {
    const double s = DjpegAll(set);
    if (s < 0) {
      state.SkipWithError("djpeg is missing or failed (Debian: libjpeg-turbo-progs)");
      return;
    }
    state.SetIterationTime(s);
  }
  state.SetLabel(set.what);
}

}  // namespace

BENCHMARK(BM_FillFromCache)->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FillFromServer)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FillAfterASmallPicture)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DjpegInFull)->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
  setenv("no_proxy", "127.0.0.1,localhost", 1);
  setenv("NO_PROXY", "127.0.0.1,localhost", 1);
  workDir = std::filesystem::temp_directory_path() / ("quorvane-photo-fill-" + std::to_string(getpid()));
  std::filesystem::create_directories(workDir / "cache");
  MakePhotos();
  StartServer();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  server.Stop();
  std::filesystem::remove_all(workDir);
  return 0;
}
