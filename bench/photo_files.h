// What the photo benchmarks share: camera photos written by a process of its own (their pixels
// and the encoder never count against the measured process), and the arithmetic of paired
// rounds.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "support/encode.h"

namespace desk_bench {

inline double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// "<dir>/p<width>-<i>.jpg": `distinct` photos (JPEG at quality 90) of each size, and a 64x48
// picture at `small`; made in a child process. Aborts when that fails.
inline void WritePhotos(const std::filesystem::path& dir, const std::vector<std::pair<int, int>>& sizes, int distinct,
                        const std::filesystem::path& small) {
  const pid_t pid = fork();
  if (pid == 0) {
    for (auto [w, h] : sizes)
      for (int i = 0; i < distinct; ++i)
        std::ofstream(dir / ("p" + std::to_string(w) + "-" + std::to_string(i) + ".jpg"), std::ios::binary)
            << testenv::EncodeJpeg(testenv::PhotoRgb(w, h, static_cast<unsigned>(w + i)), w, h, 90);
    std::ofstream(small, std::ios::binary) << testenv::EncodeJpeg(testenv::PatternRgb(64, 48, 99), 64, 48);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
}

}  // namespace desk_bench
