// What the Qt tree benchmark programs share around their benchmarks: one QApplication made on
// first use, and a main that either runs one child job (--child=JOB: a case measured in a
// fresh process, so that one case's memory and caches do not weigh on the next) or runs the
// benchmarks, offscreen unless the caller chose a platform.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// The process's peak resident size so far.
inline long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// The size of the benchmarks' windows: 400 x 300 unless DESK_BENCH_WINDOW gives WxH (a larger
// window draws more rows after each change).
inline std::pair<int, int> WindowSize() {
  int w = 400, h = 300;
  if (const char* e = std::getenv("DESK_BENCH_WINDOW"); e && std::sscanf(e, "%dx%d", &w, &h) == 2 && w > 0 && h > 0)
    return {w, h};
  return {400, 300};
}

// The program's one QApplication; it lives to the end of the program.
inline QApplication& App(const char* programName) {
  static int argc = 1;
  static char* argv[] = {const_cast<char*>(programName), nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// This program's path, for starting its child runs.
inline std::string& SelfPath() {
  static std::string path;
  return path;
}

// child(job) runs one --child job and returns the exit code.
template <class Child>
int BenchMain(int argc, char** argv, Child child) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--child=", 8) == 0) return child(argv[i] + 8);
  char self[4096] = {};
  const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
  SelfPath() = len > 0 ? std::string(self, static_cast<size_t>(len)) : std::string(argv[0]);
  if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench
