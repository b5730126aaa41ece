// desk::Trap: the report comes after the failing body is unwound, reads the failure as the
// platform's number and text, and a failing report stays inside.
#include "desk/trap.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "desk/platform.h"
#include "desk/text.h"
#include "support/test_support.h"

namespace {

using Log = std::vector<std::string>;

// Writes its name into the log when it goes.
struct Marker {
  Log* log;
  const char* name;
  ~Marker() { log->push_back(name); }
};
// Something thrown that is no platform error and holds a marker, as an exception holding a
// reference would.
struct Carrier {
  Marker held;
};

void ShowBox(std::u16string text) { desk::CurrentPlatform().MessageBox({std::move(text), 0, std::nullopt, u"T"}); }

// Each form of reporter shows its box only once the body's locals and the exception are gone,
// so that a host calling back in from the box finds nothing the failed call still holds.
TEST(Trap, ReportsAfterTheBodyAndTheExceptionAreGone) {
  struct Case {
    const char* name;
    std::function<bool(std::function<void()>)> trap;
  } cases[] = {
      {"reporter given the error",
       [](std::function<void()> body) { return desk::Trap(body, [](desk::TrappedError e) { ShowBox(e.description); }); }},
      {"reporter given nothing", [](std::function<void()> body) { return desk::Trap(body, [] { ShowBox(u"step"); }); }},
  };
  for (const Case& c : cases) {
    desk_test::FreshHost host;
    Log log;
    host.Platform().onMessageBox = [&](const desk::MessageBoxRequest&) { log.push_back("box shown"); };
    bool after = false;
    const bool completed = c.trap([&] {
      Marker local{&log, "local let go"};
      throw Carrier{{&log, "exception let go"}};
      after = true;
    });
    EXPECT_FALSE(completed) << c.name;
    EXPECT_FALSE(after) << c.name;
    EXPECT_EQ(log, (Log{"local let go", "exception let go", "box shown"})) << c.name;
    EXPECT_EQ(host.Platform().messageBoxes.size(), 1u) << c.name;
  }
}

// What the reporter is given for each kind of failure.
TEST(Trap, ReadsEachFailureAsTheNumberAndTextOfThePlatform) {
  struct Case {
    const char* name;
    std::function<void()> fail;
    int32_t number;
    std::u16string text;
  } cases[] = {
      {"platform error", [] { desk::Raise(desk::Err::TypeMismatch); }, 13, u"Type mismatch"},
      {"component status", [] { throw desk::Error(-2147012889, u""); }, -2147012889, u""},
      {"memory ran out", [] { throw std::bad_alloc(); }, 7, u"Out of memory"},
      {"other exception", [] { throw std::runtime_error("boom"); }, 5, u"boom"},
      {"no exception at all", [] { throw 42; }, 5, u"Invalid procedure call or argument"},
  };
  for (const Case& c : cases) {
    std::vector<desk::TrappedError> seen;
    EXPECT_FALSE(desk::Trap(c.fail, [&](desk::TrappedError e) { seen.push_back(std::move(e)); })) << c.name;
    ASSERT_EQ(seen.size(), 1u) << c.name;
    EXPECT_EQ(seen[0].number, c.number) << c.name;
    EXPECT_EQ(seen[0].description, c.text) << c.name;
  }
}

TEST(Trap, ACompletedBodyReportsNothingAndAFailingReportStaysInside) {
  int reports = 0;
  EXPECT_TRUE(desk::Trap([] {}, [&] { ++reports; }));
  EXPECT_EQ(reports, 0);
  bool completed = true;
  EXPECT_NO_THROW(completed = desk::Trap([] { desk::Raise(desk::Err::ObjectNotSet); },
                                         [&](desk::TrappedError) {
                                           ++reports;
                                           desk::Raise(desk::Err::PermissionDenied);
                                         }));
  EXPECT_FALSE(completed);
  EXPECT_EQ(reports, 1);
}

}  // namespace
