#include "cache_file.h"

#include <climits>

#include "desk/filesystem.h"

namespace Quorvane::cacheFile {

std::u16string NameOf(std::u16string_view url) {
  const size_t slash = url.rfind(u'/');
  return std::u16string(slash == std::u16string_view::npos ? url : url.substr(slash + 1));
}

bool IsName(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  if (name.find(u'/') != std::u16string_view::npos || name.find(u'\0') != std::u16string_view::npos) return false;
  // Its length in UTF-8, without converting it.
  size_t bytes = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c < 0x80) bytes += 1;
    else if (c < 0x800) bytes += 2;
    else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF)
      bytes += 4, ++i;
    else bytes += 3;  // unpaired surrogates become U+FFFD, also 3 bytes
  }
  return bytes <= NAME_MAX;
}

std::u16string Join(desk::FileSystem& fs, std::u16string_view name) {
  std::u16string path = fs.TempFolder();
  path += u'/';
  path += name;
  return path;
}

std::optional<std::u16string> PathOf(desk::FileSystem& fs, std::u16string_view name) {
  if (!IsName(name)) return std::nullopt;
  return Join(fs, name);
}

}  // namespace Quorvane::cacheFile
