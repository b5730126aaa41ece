// The libcurl client's requests and its URL encoding.
#include <gtest/gtest.h>
#include <malloc.h>

#include <string>
#include <string_view>

#include "desk/http.h"

namespace {

// A request dropped before it was read (a list cleared in the middle of a Fill) leaves nothing
// allocated behind it.
TEST(HttpRequests, DroppedUnreadLeaveNothingBehind) {
  auto session = desk::http::MakeCurlClient()->OpenSession("test");
  for (int i = 0; i < 100; ++i) session->OpenUrl("http://127.0.0.1:1/warm.png");  // curl's one-time state
  const size_t before = mallinfo2().uordblks;
  for (int i = 0; i < 5000; ++i) session->OpenUrl("http://127.0.0.1:1/x.png");
  EXPECT_LT(mallinfo2().uordblks, before + 64 * 1024);
}

TEST(EncodeUrl, EncodesWhatBrowsersEncodeAndKeepsTheRest) {
  struct Row {
    const char* what;
    std::string in, out;
  } rows[] = {
      {"nothing to encode", "http://h/a.png?x=1&y=%41#f!~", "http://h/a.png?x=1&y=%41#f!~"},
      {"space, controls and DEL", "http://h/a b\t\x7F", "http://h/a%20b%09%7F"},
      {"bytes past ASCII", "http://h/caf\xC3\xA9", "http://h/caf%C3%A9"},
      {"the listed characters", "http://h/<>\"`{}|\\^", "http://h/%3C%3E%22%60%7B%7D%7C%5C%5E"},
      {"escapes with every kind of hex digit", "http://h/%09%af%AF%fF", "http://h/%09%af%AF%fF"},
      {"an escape at the very end", "http://h/x%4a", "http://h/x%4a"},
      {"percents that start no escape", "http://h/%g0%G0%:0%@0%/0", "http://h/%25g0%25G0%25:0%25@0%25/0"},
      {"a percent cut short at the end", "http://h/x%4", "http://h/x%254"},
      {"the host name is left as it is", "http://ex ample\xC3\xA9.com/x y", "http://ex ample\xC3\xA9.com/x%20y"},
      {"a NUL even in the host name", std::string("http://h\0/x", 11), "http://h%00/x"},
      {"no scheme: all of it is encoded", "a b/c", "a%20b/c"},
  };
  for (const Row& r : rows) EXPECT_EQ(desk::http::EncodeUrl(r.in), r.out) << r.what;
  // A URL cut from a longer text: what follows the view is not looked at.
  const std::string text = "http://h/x%4A";
  EXPECT_EQ(desk::http::EncodeUrl(std::string_view(text).substr(0, text.size() - 1)), "http://h/x%254");
}

}  // namespace
