#include "desk/text.h"

#include <algorithm>
#include <cstring>

#include <unicode/uchar.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>
#include <unicode/ustring.h>

#include <vector>

namespace desk {

std::u16string U16(std::string_view utf8) {
  if (utf8.empty()) return {};
  int32_t len = 0;
  UErrorCode ec = U_ZERO_ERROR;
  u_strFromUTF8WithSub(nullptr, 0, &len, utf8.data(), static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &ec);
  std::u16string out(static_cast<size_t>(len), u'\0');
  ec = U_ZERO_ERROR;
  u_strFromUTF8WithSub(out.data(), len, &len, utf8.data(), static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr,
                       &ec);
  return out;
}

std::string U8(std::u16string_view s) {
  if (s.empty()) return {};
  int32_t len = 0;
  UErrorCode ec = U_ZERO_ERROR;
  u_strToUTF8WithSub(nullptr, 0, &len, s.data(), static_cast<int32_t>(s.size()), 0xFFFD, nullptr, &ec);
  std::string out(static_cast<size_t>(len), '\0');
  ec = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), len, &len, s.data(), static_cast<int32_t>(s.size()), 0xFFFD, nullptr, &ec);
  return out;
}

std::u16string FoldCase(std::u16string_view s) {
  if (s.empty()) return {};
  // Plain ASCII, most keys: folding lowers the capital letters and nothing else.
  if (std::all_of(s.begin(), s.end(), [](char16_t c) { return c < 0x80; })) {
    std::u16string out(s);
    for (char16_t& c : out)
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return out;
  }
  // Folding can grow a text (ß folds to ss); ask for the size first when it does not fit.
  std::u16string out(s.size() + 8, u'\0');
  UErrorCode ec = U_ZERO_ERROR;
  int32_t n = u_strFoldCase(out.data(), static_cast<int32_t>(out.size()), s.data(), static_cast<int32_t>(s.size()),
                            U_FOLD_CASE_DEFAULT, &ec);
  if (ec == U_BUFFER_OVERFLOW_ERROR) {
    out.assign(static_cast<size_t>(n), u'\0');
    ec = U_ZERO_ERROR;
    n = u_strFoldCase(out.data(), n, s.data(), static_cast<int32_t>(s.size()), U_FOLD_CASE_DEFAULT, &ec);
  }
  if (U_FAILURE(ec)) return std::u16string(s);  // unpaired surrogates and the like: compare as given
  out.resize(static_cast<size_t>(n));
  return out;
}

std::u16string DecimalText(long long n) {
  std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

void CopyUtf8(std::string_view text, char* dst, size_t size) noexcept {
  if (!dst || size == 0) return;
  size_t n = std::min(text.size(), size - 1);
  if (n < text.size())
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  std::memcpy(dst, text.data(), n);
  dst[n] = '\0';
}

void CopyUtf8(std::u16string_view text, char* dst, size_t size) noexcept {
  if (!dst || size == 0) return;
  size_t n = 0;
  for (size_t i = 0; i < text.size();) {
    UChar32 c = 0;
    U16_NEXT(text.data(), i, text.size(), c);
    if (U_IS_SURROGATE(c)) c = 0xFFFD;
    if (n + static_cast<size_t>(U8_LENGTH(c)) > size - 1) break;  // whole characters only
    U8_APPEND_UNSAFE(dst, n, c);
  }
  dst[n] = '\0';
}

}  // namespace desk
