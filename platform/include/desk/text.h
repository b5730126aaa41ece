// UTF-8 / UTF-16 conversion and the Unicode case folding used for keys.
#pragma once

#include "desk/export.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace desk {

DESK_API std::u16string U16(std::string_view utf8);
DESK_API std::string U8(std::u16string_view utf16);

// Full Unicode case folding: two keys are the same key when their foldings are equal.
DESK_API std::u16string FoldCase(std::u16string_view s);

// Copies UTF-8 text into a caller's buffer of `size` bytes, NUL-terminated, cut at a character
// boundary when it does not fit (never inside a sequence). Nothing when `dst` is null or `size`
// is 0.
DESK_API void CopyUtf8(std::string_view text, char* dst, size_t size) noexcept;
// The same from UTF-16, converting as U8 does (an unpaired surrogate becomes U+FFFD) but with
// no memory of its own: error paths use it when memory may have run out.
DESK_API void CopyUtf8(std::u16string_view text, char* dst, size_t size) noexcept;

// Decimal text of a 32-bit number: minus sign when negative, no grouping.
DESK_API std::u16string DecimalText(long long n);

}  // namespace desk
