#include "desk/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Text copied into a caller's fixed buffer (error records, entry point messages) is cut at a
// character boundary and always terminated.
TEST(TextTest, CopyUtf8CutsBetweenCharactersAndTerminates) {
  const std::string text = "ab\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80";  // a b ä € 😀: 1,1,2,3,4 bytes
  struct Row {
    size_t size;
    const char* expected;
  } rows[] = {
      {1, ""},
      {3, "ab"},
      {4, "ab"},  // ä needs bytes 3 and 4: not cut in half
      {5, "ab\xC3\xA4"},
      {7, "ab\xC3\xA4"},
      {8, "ab\xC3\xA4\xE2\x82\xAC"},
      {11, "ab\xC3\xA4\xE2\x82\xAC"},
      {12, "ab\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {64, "ab\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80"},
  };
  // The same text from UTF-16 (error paths that must not take memory) is cut the same way.
  const std::u16string wide = u"ab\u00E4\u20AC\U0001F600";
  for (const bool fromWide : {false, true})
    for (const Row& r : rows) {
      SCOPED_TRACE("buffer of " + std::to_string(r.size) + (fromWide ? ", from UTF-16" : ""));
      char buf[64];
      std::fill(std::begin(buf), std::end(buf), 'x');
      fromWide ? desk::CopyUtf8(wide, buf, r.size) : desk::CopyUtf8(text, buf, r.size);
      EXPECT_STREQ(buf, r.expected);
      if (r.size < sizeof buf) {
        EXPECT_EQ(buf[r.size], 'x') << "nothing written past the buffer";
      }
    }
  // Unpaired surrogates become U+FFFD, as in U8.
  const std::u16string lone = {u'a', 0xD800, u'b', 0xDC00};
  char buf[16];
  desk::CopyUtf8(lone, buf, sizeof buf);
  EXPECT_EQ(std::string(buf), desk::U8(lone));
  EXPECT_STREQ(buf, "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  // A view ends where it says, not at a terminator.
  desk::CopyUtf8(std::u16string_view(wide).substr(0, 2), buf, sizeof buf);
  EXPECT_STREQ(buf, "ab");
  char untouched = 'x';
  desk::CopyUtf8(text, &untouched, 0);
  desk::CopyUtf8(wide, &untouched, 0);
  EXPECT_EQ(untouched, 'x');
  desk::CopyUtf8(text, nullptr, 10);  // no buffer: nothing to do
  desk::CopyUtf8(wide, nullptr, 10);
}

// Folding may grow a text past the first guess of its size (each ß folds to ss): the
// whole text comes back folded, neither cut nor left as given.
TEST(TextTest, FoldCaseGrowsTextsPastItsFirstGuess) {
  const struct {
    std::u16string given;
    std::u16string folded;
  } rows[] = {
      {u"", u""},
      {u"ABC", u"abc"},
      {u"Stra\u00DFE", u"strasse"},
      {std::u16string(8, u'\u00DF'), std::u16string(16, u's')},    // grows by 8: fits the guess
      {std::u16string(9, u'\u00DF'), std::u16string(18, u's')},    // grows by 9: asks again
      {std::u16string(40, u'\u00DF') + u"X", std::u16string(80, u's') + u"x"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(desk::U8(r.given));
    EXPECT_EQ(desk::FoldCase(r.given), r.folded);
  }
}

}  // namespace
