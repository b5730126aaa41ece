// UTF-8 / UTF-16 conversion and the Unicode case folding used for keys.
#pragma once

#include "desk/export.h"

#include <string>
#include <string_view>

namespace desk {

DESK_API std::u16string U16(std::string_view utf8);
DESK_API std::string U8(std::u16string_view utf16);

// Full Unicode case folding: two keys are the same key when their foldings are equal.
DESK_API std::u16string FoldCase(std::u16string_view s);

// Decimal text of a 32-bit number: minus sign when negative, no grouping.
DESK_API std::u16string DecimalText(long long n);

}  // namespace desk
