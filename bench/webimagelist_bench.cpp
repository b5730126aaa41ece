// The web image list's two costs that matter:
//  - a 64 MiB body over loopback, against the curl command line fetching the same URL in the
//    same run (throughput), and the peak memory of the download against the body's size;
//  - Fill of 500 cached pictures against decoding the same 500 files directly.
// The server runs in a child process so that its copies of the body do not count against the
// download's memory. The ratios are printed at the end with the budgets they are held to.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "mdlInternet.h"
#include "ucMain.h"
#include "desk/headless.h"
#include "desk/imagelist.h"
#include "desk/picture_loader.h"
#include "desk/text.h"
#include "server_child.h"

extern char** environ;

namespace {

constexpr size_t kBodySize = size_t{64} * 1024 * 1024;
constexpr int kPictures = 500;

struct Results {
  double curlSeconds = 1e9, oursSeconds = 1e9, fillSeconds = 1e9, decodeSeconds = 1e9;
  double curlCpu = 1e9, oursCpu = 1e9, fillCpu = 1e9, decodeCpu = 1e9;
  double pairedOverhead = 0, pairedCpuOverhead = 0;  // medians of paired rounds
  long peakIncreaseKb = -1, peakKb = -1;
} results;

// --- the server child -------------------------------------------------------------------

desk_bench::ServerChild server;

void StartServerChild() {
  server.Start([](const std::function<void(int)>& report) {
    std::string body(kBodySize, '\0');
    std::mt19937_64 rng(42);
    for (size_t i = 0; i + 8 <= body.size(); i += 8) {
      uint64_t v = rng();
      std::memcpy(body.data() + i, &v, 8);
    }
    httplib::Server http;
    http.Get("/body.bin", [&](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(body.size(), "application/octet-stream",
                               [&](size_t offset, size_t length, httplib::DataSink& sink) {
                                 sink.write(body.data() + offset, std::min<size_t>(length, 1 << 20));
                                 return true;
                               });
    });
    report(http.bind_to_any_port("127.0.0.1"));
    http.listen_after_bind();
  });
}

void StopServerChild() { server.Stop(); }

std::string BodyUrl() { return "http://127.0.0.1:" + std::to_string(server.Port()) + "/body.bin"; }

long CurrentRssKb() {
  std::ifstream f("/proc/self/statm");
  long pages = 0, resident = 0;
  f >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

double CpuSeconds(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU time of this thread, which does all of the download and fill work.
double ThreadCpu() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return CpuSeconds(u);
}

// --- download ---------------------------------------------------------------------------

void BM_DownloadCurlCommandLine(benchmark::State& state) {
  const std::string url = BodyUrl();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const char* argv[] = {"curl", "-s", "-f", "-o", "/dev/null", "--noproxy", "*", url.c_str(), nullptr};
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
      state.SkipWithError("curl is not installed");
      return;
    }
    int status = 0;
    rusage child{};
    wait4(pid, &status, 0, &child);
    const double s = Seconds(std::chrono::steady_clock::now() - start);
    results.curlCpu = std::min(results.curlCpu, CpuSeconds(child));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("curl failed");
      return;
    }
    state.SetIterationTime(s);
    results.curlSeconds = std::min(results.curlSeconds, s);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodySize));
}

void BM_DownloadGetUrlContent(benchmark::State& state) {
  const std::u16string url = desk::U16(BodyUrl());
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu = ThreadCpu();
    Quorvane::mdlInternet::Body body = Quorvane::mdlInternet::GetUrlContent(url);
    const double s = Seconds(std::chrono::steady_clock::now() - start);
    results.oursCpu = std::min(results.oursCpu, ThreadCpu() - cpu);
    if (body.size() != kBodySize) {
      state.SkipWithError("short body");
      return;
    }
    benchmark::DoNotOptimize(body);
    state.SetIterationTime(s);
    results.oursSeconds = std::min(results.oursSeconds, s);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodySize));
}

// Peak memory of one download, measured before anything else large ran in this process.
void MeasureDownloadMemory() {
  const long before = CurrentRssKb();
  {
    Quorvane::mdlInternet::Body body = Quorvane::mdlInternet::GetUrlContent(desk::U16(BodyUrl()));
    if (body.size() != kBodySize) std::fprintf(stderr, "memory run: short body (%zu)\n", body.size());
  }
  results.peakKb = PeakRssKb();
  results.peakIncreaseKb = results.peakKb - before;
}

// --- fill of cached pictures ------------------------------------------------------------

std::filesystem::path pictureDir;
std::vector<std::u16string> picturePaths;

void PreparePictures() {
  pictureDir = std::filesystem::temp_directory_path() / ("quorvane-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(pictureDir);
  std::vector<std::filesystem::path> samples;
  for (const auto& e : std::filesystem::directory_iterator(DESK_SAMPLE_PICTURES)) samples.push_back(e.path());
  std::sort(samples.begin(), samples.end());
  for (int i = 0; i < kPictures; ++i) {
    const auto& src = samples[static_cast<size_t>(i) % samples.size()];
    const auto name = "pic" + std::to_string(i) + src.extension().string();
    std::filesystem::copy_file(src, pictureDir / name, std::filesystem::copy_options::overwrite_existing);
    picturePaths.push_back(desk::U16((pictureDir / name).string()));
  }
  setenv("TMPDIR", pictureDir.c_str(), 1);
}

// The pictures are kept, as Fill keeps them; the previous round's are released inside the
// timed part, as Fill's first step releases its previous pictures.
void BM_DecodeDirectly(benchmark::State& state) {
  std::vector<desk::Ref<desk::Picture>> kept;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu = ThreadCpu();
    kept.clear();
    for (const auto& p : picturePaths) kept.push_back(desk::LoadPictureFile(p));
    const double s = Seconds(std::chrono::steady_clock::now() - start);
    results.decodeCpu = std::min(results.decodeCpu, ThreadCpu() - cpu);
    state.SetIterationTime(s);
    results.decodeSeconds = std::min(results.decodeSeconds, s);
  }
  state.SetItemsProcessed(state.iterations() * kPictures);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Each round decodes the 500 files directly and then fills them, back to back, so that both
// see the same load on a shared machine; the overhead is the median of the rounds' ratios.
void BM_FillCached(benchmark::State& state) {
  auto control = desk::MakeRef<Quorvane::ucMain>();
  for (int i = 0; i < kPictures; ++i) {
    const std::string name = std::filesystem::path(desk::U8(picturePaths[static_cast<size_t>(i)])).filename();
    // Never contacted: every file is cached and the download is not forced.
    control->ListImages()->Add(u"key" + desk::DecimalText(i), desk::U16("http://127.0.0.1:1/" + name));
  }
  auto list = desk::RefCast<desk::ImageList>(control->ImageListControl());
  std::vector<desk::Ref<desk::Picture>> kept;
  std::vector<double> wall, cpu;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    double c = ThreadCpu();
    kept.clear();
    for (const auto& p : picturePaths) kept.push_back(desk::LoadPictureFile(p));
    const double decodeWall = Seconds(std::chrono::steady_clock::now() - start), decodeCpu = ThreadCpu() - c;

    start = std::chrono::steady_clock::now();
    c = ThreadCpu();
    control->Fill();
    const double s = Seconds(std::chrono::steady_clock::now() - start), fillCpu = ThreadCpu() - c;
    if (list->Images().Count() != kPictures) {
      state.SkipWithError("not every picture was filled");
      return;
    }
    state.SetIterationTime(s);
    results.fillSeconds = std::min(results.fillSeconds, s);
    results.fillCpu = std::min(results.fillCpu, fillCpu);
    wall.push_back(s / decodeWall);
    cpu.push_back(fillCpu / decodeCpu);
  }
  results.pairedOverhead = Median(wall) - 1.0;
  results.pairedCpuOverhead = Median(cpu) - 1.0;
  state.SetItemsProcessed(state.iterations() * kPictures);
}

}  // namespace

BENCHMARK(BM_DownloadCurlCommandLine)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(7);
BENCHMARK(BM_DownloadGetUrlContent)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(7);
BENCHMARK(BM_DecodeDirectly)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_FillCached)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(31);

int main(int argc, char** argv) {
  setenv("no_proxy", "127.0.0.1,localhost", 1);
  setenv("NO_PROXY", "127.0.0.1,localhost", 1);
  StartServerChild();
  desk::SetPlatform(std::make_shared<desk::HeadlessPlatform>());
  MeasureDownloadMemory();
  PreparePictures();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  StopServerChild();
  std::filesystem::remove_all(pictureDir);

  const double mib = static_cast<double>(kBodySize) / (1024.0 * 1024.0);
  std::printf("\nDownload of %.0f MiB (best of each): curl %.1f MiB/s, GetUrlContent %.1f MiB/s, ratio %.2f "
              "(budget >= 0.80); CPU time curl %.1f ms, ours %.1f ms, ratio %.2f\n",
              mib, mib / results.curlSeconds, mib / results.oursSeconds, results.curlSeconds / results.oursSeconds,
              results.curlCpu * 1e3, results.oursCpu * 1e3, results.curlCpu / results.oursCpu);
  std::printf("Peak memory of the download: +%.1f MiB over the process before it (%.2fx body; budget < 2.5x), "
              "process peak %.1f MiB (%.2fx body)\n",
              results.peakIncreaseKb / 1024.0, results.peakIncreaseKb * 1024.0 / static_cast<double>(kBodySize),
              results.peakKb / 1024.0, results.peakKb * 1024.0 / static_cast<double>(kBodySize));
  std::printf("Fill of %d cached pictures: best %.2f ms against best %.2f ms decoding them directly; paired "
              "rounds: overhead %.1f%% (budget < 15%%), in CPU time %.1f%%\n",
              kPictures, results.fillSeconds * 1e3, results.decodeSeconds * 1e3, results.pairedOverhead * 100.0,
              results.pairedCpuOverhead * 100.0);
  return 0;
}
