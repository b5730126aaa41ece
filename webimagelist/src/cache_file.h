// Where a picture is cached: the rule the download, an entry's TempFilePath and the Fill's look
// ahead all follow.
//
// A URL's picture is cached in the cache folder (the file-system object's temporary folder),
// under the URL's last "/" piece. Only a name that stays inside the folder is ever read or
// written there.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace desk {
class FileSystem;
}

namespace Quorvane::cacheFile {

// The name a URL's picture is cached under: its last "/" piece; "" for a URL ending in "/",
// the whole URL when it has no "/".
std::u16string NameOf(std::u16string_view url);

// True for a name that names a file inside the cache folder and nothing else: not empty, not
// "." or "..", no "/" or NUL, at most 255 bytes in UTF-8.
bool IsName(std::u16string_view name);

// The cache folder of `fs`, "/", `name`, whatever the name (an entry's TempFilePath).
std::u16string Join(desk::FileSystem& fs, std::u16string_view name);

// Join, for a name that IsName; nullopt for any other.
std::optional<std::u16string> PathOf(desk::FileSystem& fs, std::u16string_view name);

}  // namespace Quorvane::cacheFile
