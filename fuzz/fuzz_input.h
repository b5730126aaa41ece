// Helpers of the fuzz targets. Reading typed values out of a fuzzer's byte string: each read consumes bytes from the front
// and yields a default once the input is used up, so every input is a valid program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace desk_fuzz {

// The private folder of one fuzzing process, removed when it exits normally (a crash leaves
// it for inspection).
inline std::string MakePrivateFolder(const char* prefix) {
  std::string tmpl = std::string("/tmp/") + prefix + "-XXXXXX";
  if (!::mkdtemp(tmpl.data())) std::abort();
  static std::string folder;
  folder = tmpl;
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  });
  return tmpl;
}

class Input {
 public:
  Input(const uint8_t* data, size_t size) : p_(data), n_(size) {}

  bool Empty() const { return n_ == 0; }
  size_t Left() const { return n_; }

  uint8_t Byte() {
    if (n_ == 0) return 0;
    --n_;
    return *p_++;
  }
  template <class T>
  T Raw() {
    T v{};
    const size_t k = n_ < sizeof v ? n_ : sizeof v;
    std::memcpy(&v, p_, k);
    p_ += k;
    n_ -= k;
    return v;
  }
  // A value in [0, n).
  size_t Below(size_t n) { return n == 0 ? 0 : Byte() % n; }

  // A text of at most `max` code units. One byte in four, when set, takes the next two bytes
  // as a raw UTF-16 unit (unpaired surrogates included); otherwise a byte is one unit.
  std::u16string Text(size_t max) {
    const size_t len = Below(max + 1);
    std::u16string s;
    for (size_t i = 0; i < len && n_ > 0; ++i) {
      uint8_t b = Byte();
      if (b == 0xFF && n_ >= 2)
        s.push_back(static_cast<char16_t>(Raw<uint16_t>()));
      else
        s.push_back(static_cast<char16_t>(b));
    }
    return s;
  }

  // The rest of the input as UTF-16 units, two bytes each.
  std::u16string RestAsUtf16() {
    std::u16string s;
    while (n_ >= 2) s.push_back(static_cast<char16_t>(Raw<uint16_t>()));
    n_ = 0;
    return s;
  }

 private:
  const uint8_t* p_;
  size_t n_;
};

}  // namespace desk_fuzz
