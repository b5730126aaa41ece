// UTF-8 / UTF-16 conversion and the Unicode case folding used for keys.
#pragma once

#include <string>
#include <string_view>

namespace desk {

std::u16string U16(std::string_view utf8);
std::string U8(std::u16string_view utf16);

// Full Unicode case folding: two keys are the same key when their foldings are equal.
std::u16string FoldCase(std::u16string_view s);

// Decimal text of a 32-bit number: minus sign when negative, no grouping.
std::u16string DecimalText(long long n);

}  // namespace desk
