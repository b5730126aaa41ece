// Damaged forms of a good picture file, each of which every platform must refuse with 481:
// the bytes cut at several points, and headers that promise more than the bytes hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testenv {

struct Damaged {
  std::string what;
  std::string bytes;
};

inline void PutLe32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// `good` is a whole BMP, GIF, JPEG, PNG or ICO file.
inline std::vector<Damaged> DamagedForms(const std::string& good) {
  std::vector<Damaged> out;
  for (size_t keep : {good.size() / 2, good.size() * 3 / 4, good.size() - 1})
    out.push_back({"cut to " + std::to_string(keep) + " of " + std::to_string(good.size()) + " bytes",
                   good.substr(0, keep)});
  if (good.compare(0, 2, "BM") == 0) {
    std::string s = good;
    PutLe32(s, 2, static_cast<uint32_t>(good.size() + 100));
    out.push_back({"file size promising 100 bytes more", s});
    // The last row missing while the file size field agrees with the shorter file.
    const size_t rowBytes = 4;
    s = good.substr(0, good.size() - rowBytes);
    PutLe32(s, 2, static_cast<uint32_t>(s.size()));
    out.push_back({"pixel rows short of the height", s});
    // Pixels said to start inside the information header, and one row's bytes before the end.
    s = good;
    PutLe32(s, 10, 14 + 40 - 4);
    out.push_back({"pixels starting inside the headers", s});
    s = good;
    PutLe32(s, 10, static_cast<uint32_t>(good.size() - rowBytes));
    out.push_back({"pixels starting one row before the end", s});
  } else if (good.size() > 22 && good[0] == 0 && good[2] == 1) {
    std::string s = good;
    PutLe32(s, 6 + 8, static_cast<uint32_t>(good.size()));  // the first entry's byte count
    out.push_back({"icon entry longer than the file", s});
    // A directory of no images in front of a whole one.
    s = good;
    s[4] = s[5] = '\0';
    out.push_back({"icon of no images", s});
  } else if (good.size() > 4 && good.compare(0, 2, "\xFF\xD8") == 0 && good.compare(good.size() - 2, 2, "\xFF\xD9") == 0) {
    // Every row decodes; the bytes before the end marker are found only after the last one.
    std::string s = good;
    s.insert(good.size() - 2, 64, '\0');
    out.push_back({"bytes that are no image data before the end marker", s});
  } else if (good.compare(1, 3, "PNG") == 0) {
    // The IHDR chunk claims to be longer than the file.
    std::string s = good;
    s[8] = 0x00, s[9] = 0x10, s[10] = 0x00, s[11] = 0x00;
    out.push_back({"chunk length past the end", s});
  }
  return out;
}

}  // namespace testenv
