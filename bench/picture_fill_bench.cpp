// Pictures as the web image list fills them:
//  - Fill of 200 cached 4000x3000 JPEG photos (about 1.6 MB each) into a 64x48 list, against
//    decoding the same files in full; and the process's peak memory against the sum of the
//    encoded bytes (budget: at most 1.5x that plus 100 MB);
//  - Fill of 200 small pictures over HTTPS from a local TLS server, against the curl command
//    line fetching the same 200 URLs in one run.
// The photos are made by a child process and the server runs in another, so that neither
// counts against the Fill's memory. The ratios are printed at the end with their budgets.
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

#include "httpImages.h"
#include "ucMain.h"
#include "desk/headless.h"
#include "desk/http.h"
#include "desk/imagelist.h"
#include "desk/picture_loader.h"
#include "desk/text.h"
#include "support/encode.h"
#include "server_child.h"
#include "support/tls_cert.h"

extern char** environ;

namespace {

constexpr int kPhotos = 200, kDistinctPhotos = 8, kPhotoW = 4000, kPhotoH = 3000;
constexpr int kSmall = 200;

struct Results {
  double fillSeconds = 1e9, fullSeconds = 1e9, httpsSeconds = 1e9, curlSeconds = 1e9;
  long fillPeakKb = -1;
  uint64_t encodedBytes = 0;
  std::vector<double> pairedRatios, pairedCpuRatios, httpsRatios;
} results;

std::filesystem::path workDir;
std::vector<std::u16string> photoUrls;  // cached files, never fetched
std::vector<std::string> photoPaths;

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// In a child: the photos' pixels and encoder never touch this process's memory.
void MakePhotos() {
  const pid_t pid = fork();
  if (pid == 0) {
    for (int i = 0; i < kDistinctPhotos; ++i) {
      const auto rgb = testenv::PatternRgb(kPhotoW, kPhotoH, static_cast<unsigned>(i + 1), 11);
      const std::string jpeg = testenv::EncodeJpeg(rgb, kPhotoW, kPhotoH, 84);
      for (int k = i; k < kPhotos; k += kDistinctPhotos) {
        std::FILE* f = std::fopen((workDir / ("photo" + std::to_string(k) + ".jpg")).c_str(), "wb");
        if (!f || std::fwrite(jpeg.data(), 1, jpeg.size(), f) != jpeg.size()) _exit(1);
        std::fclose(f);
      }
    }
    const auto first = testenv::EncodeJpeg(testenv::PatternRgb(64, 48, 99), 64, 48);
    std::FILE* f = std::fopen((workDir / "first.jpg").c_str(), "wb");
    if (!f || std::fwrite(first.data(), 1, first.size(), f) != first.size()) _exit(1);
    std::fclose(f);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
  photoUrls.push_back(u"http://127.0.0.1:1/first.jpg");
  for (int k = 0; k < kPhotos; ++k) {
    const std::string name = "photo" + std::to_string(k) + ".jpg";
    photoUrls.push_back(desk::U16("http://127.0.0.1:1/" + name));
    photoPaths.push_back((workDir / name).string());
    results.encodedBytes += std::filesystem::file_size(workDir / name);
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// CPU time of this thread, which does all of the Fill and decoding work: steadier than wall
// time on a shared machine.
double ThreadCpu() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double DecodeAllInFull() {
  const auto start = std::chrono::steady_clock::now();
  for (const auto& p : photoPaths) {
    const auto bytes = desk::ReadPictureFile(desk::U16(p));
    benchmark::DoNotOptimize(desk::DecodePixels(bytes).pixels.data());
  }
  return Seconds(std::chrono::steady_clock::now() - start);
}

// The 64x48 first picture sets the list's size; the 200 photos follow. Each round is paired
// with a full decode of the same photos right after it, so that both see the same load on a
// shared machine; the ratio is the median of the rounds'.
void BM_FillLargeJpegs(benchmark::State& state) {
  auto control = desk::MakeRef<Quorvane::ucMain>();
  for (size_t i = 0; i < photoUrls.size(); ++i)
    control->ListImages()->Add(u"k" + desk::DecimalText(static_cast<int32_t>(i)), photoUrls[i]);
  auto list = desk::RefCast<desk::ImageList>(control->ImageListControl());
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu0 = ThreadCpu();
    control->Fill();
    const double s = Seconds(std::chrono::steady_clock::now() - start), fillCpu = ThreadCpu() - cpu0;
    if (list->Images().Count() != kPhotos + 1 || list->Images().ImageWidth() != 64) {
      state.SkipWithError("not every photo was filled at 64x48");
      return;
    }
    state.SetIterationTime(s);
    results.fillSeconds = std::min(results.fillSeconds, s);
    // The full decodes come after this, so the peak so far is the Fill's own.
    if (results.fillPeakKb < 0) results.fillPeakKb = PeakRssKb();
    const double cpu1 = ThreadCpu();
    const double full = DecodeAllInFull();
    const double fullCpu = ThreadCpu() - cpu1;
    results.fullSeconds = std::min(results.fullSeconds, full);
    results.pairedRatios.push_back(s / full);
    results.pairedCpuRatios.push_back(fillCpu / fullCpu);
  }
  state.counters["peak_MiB"] = static_cast<double>(results.fillPeakKb) / 1024.0;
}

// Each photo decoded in full, one after another, nothing kept.
void BM_DecodeLargeJpegsInFull(benchmark::State& state) {
  for (auto _ : state) {
    const double s = DecodeAllInFull();
    state.SetIterationTime(s);
    results.fullSeconds = std::min(results.fullSeconds, s);
  }
}

// --- HTTPS ------------------------------------------------------------------------------

desk_bench::ServerChild server;
testenv::TlsFiles tls;

void StartTlsServer() {
  tls = testenv::MakeSelfSignedCert(workDir);
  server.Start([](const std::function<void(int)>& report) {
    const std::string png = testenv::EncodePng(testenv::PatternRgb(48, 48, 5), 48, 48);
    httplib::SSLServer https(tls.cert.c_str(), tls.key.c_str());
    https.set_keep_alive_max_count(100000);
    https.set_tcp_nodelay(true);
    https.Get(R"(/p(\d+)\.png)", [&](const httplib::Request&, httplib::Response& res) {
      res.set_content(png, "image/png");
    });
    report(https.bind_to_any_port("127.0.0.1"));
    https.listen_after_bind();
  });
}

void StopTlsServer() { server.Stop(); }

std::string SmallUrl(int i) {
  return "https://127.0.0.1:" + std::to_string(server.Port()) + "/p" + std::to_string(i) + ".png";
}

// One run of the curl program over the 200 URLs, into files as Fill caches them; seconds,
// or a negative number when curl is missing or failed.
double RunCurl() {
  const auto out = workDir / "curl";
  std::filesystem::create_directories(out);
  std::vector<std::string> args{"curl", "-s", "-f", "--cacert", tls.cert, "--noproxy", "*"};
  for (int i = 0; i < kSmall; ++i) {
    args.push_back("-o");
    args.push_back((out / ("p" + std::to_string(i) + ".png")).string());
    args.push_back(SmallUrl(i));
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  const double s = Seconds(std::chrono::steady_clock::now() - start);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? s : -1;
}

void BM_CurlCommandLineHttps(benchmark::State& state) {
  for (auto _ : state) {
    const double s = RunCurl();
    if (s < 0) {
      state.SkipWithError("curl is missing or failed");
      return;
    }
    state.SetIterationTime(s);
    results.curlSeconds = std::min(results.curlSeconds, s);
  }
}

// Every picture downloaded (forced), cached, loaded and added; a new client each round, so
// that it starts without a connection as the curl program does.
void BM_FillOverHttps(benchmark::State& state) {
  auto control = desk::MakeRef<Quorvane::ucMain>();
  control->ForceDownload(true);
  for (int i = 0; i < kSmall; ++i) control->ListImages()->Add(u"s" + desk::DecimalText(i), desk::U16(SmallUrl(i)));
  auto list = desk::RefCast<desk::ImageList>(control->ImageListControl());
  desk::http::Options o;
  o.caFile = tls.cert;
  for (auto _ : state) {
    desk::http::SetClient(desk::http::MakeCurlClient(o));
    const auto start = std::chrono::steady_clock::now();
    control->Fill();
    const double s = Seconds(std::chrono::steady_clock::now() - start);
    desk::http::SetClient(nullptr);
    if (list->Images().Count() != kSmall) {
      state.SkipWithError("not every picture was filled");
      return;
    }
    state.SetIterationTime(s);
    results.httpsSeconds = std::min(results.httpsSeconds, s);
    // Paired with a curl run right after, so that both see the same load.
    if (const double c = RunCurl(); c > 0) results.httpsRatios.push_back(s / c);
  }
}

}  // namespace

// The Fill runs first, so that the peak memory it sees is its own.
BENCHMARK(BM_FillLargeJpegs)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DecodeLargeJpegsInFull)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_CurlCommandLineHttps)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(7);
BENCHMARK(BM_FillOverHttps)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(11);

int main(int argc, char** argv) {
  setenv("no_proxy", "127.0.0.1,localhost", 1);
  setenv("NO_PROXY", "127.0.0.1,localhost", 1);
  workDir = std::filesystem::temp_directory_path() / ("quorvane-photos-" + std::to_string(getpid()));
  std::filesystem::create_directories(workDir);
  setenv("TMPDIR", workDir.c_str(), 1);  // the cache folder holds the photos
  desk::SetPlatform(std::make_shared<desk::HeadlessPlatform>());
  MakePhotos();
  StartTlsServer();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  StopTlsServer();
  std::filesystem::remove_all(workDir);

  const double encodedMiB = static_cast<double>(results.encodedBytes) / (1024.0 * 1024.0);
  const double peakMiB = static_cast<double>(results.fillPeakKb) / 1024.0;
  const double budgetMiB = 1.5 * encodedMiB + 100.0;
  std::printf("\nFill of %d %dx%d JPEGs (%.2f MB each on average) into a 64x48 list: best %.2f s against best "
              "%.2f s decoding them in full; paired rounds: ratio %.3f (budget <= 0.35), in CPU time %.3f\n",
              kPhotos, kPhotoW, kPhotoH, static_cast<double>(results.encodedBytes) / kPhotos / 1e6, results.fillSeconds,
              results.fullSeconds, Median(results.pairedRatios), Median(results.pairedCpuRatios));
  std::printf("Peak memory of the process through the Fill: %.1f MiB; encoded bytes %.1f MiB; budget 1.5x + 100 MiB "
              "= %.1f MiB; ratio to budget %.2f\n",
              peakMiB, encodedMiB, budgetMiB, peakMiB / budgetMiB);
  std::printf("Fill of %d small pictures over HTTPS: best %.1f ms against best %.1f ms for the curl command line "
              "(ratio %.2f); paired rounds: ratio %.2f (budget <= 1.2)\n",
              kSmall, results.httpsSeconds * 1e3, results.curlSeconds * 1e3, results.httpsSeconds / results.curlSeconds,
              Median(results.httpsRatios));
  return 0;
}
