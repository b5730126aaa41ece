// Replacing a file whole, as the picture cache and the settings files do it: the two policies
// side by side, and a file system put in place of the system's.
#include "desk/filesystem.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>

#include "desk/error.h"
#include "desk/picture_loader.h"
#include "desk/property_bag.h"
#include "desk/text.h"
#include "support/memory_filesystem.h"
#include "support/syscall_faults.h"

namespace fs = std::filesystem;
using desk::MemoryPropertyBag;
using desk::Variant;

namespace {

class ReplaceTest : public ::testing::Test {
 protected:
  ReplaceTest() {
    dir = fs::temp_directory_path() /
          ("desk-files-" + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~ReplaceTest() override { fs::remove_all(dir); }

  static std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void WriteText(const fs::path& p, std::string_view text) { std::ofstream(p, std::ios::binary) << text; }
  static mode_t ModeOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
  }
  static ino_t InodeOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
    return st.st_ino;
  }
  size_t Entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {})); }
  // The cache's replacement of `p` by `text`.
  static void CacheWrite(const std::u16string& p, const std::string& text) {
    const std::span<const uint8_t> piece(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    desk::MakeFileSystem()->ReplaceFile(p, std::span(&piece, 1));
  }
  static void CacheWrite(const fs::path& p, const std::string& text) { CacheWrite(desk::U16(p.string()), text); }
  static void SettingsWrite(const fs::path& p, int32_t value) {
    MemoryPropertyBag bag;
    bag.WriteProperty(u"hWnd", Variant::Long(value), Variant::Integer(0));
    bag.SaveToFile(p);
  }
  static int32_t SettingsRead(const fs::path& p) {
    MemoryPropertyBag loaded;
    loaded.LoadFromFile(p);
    return loaded.ReadProperty(u"hWnd", Variant()).RawLong();
  }

  fs::path dir;
};

// The cache file is private to its user whatever it replaced; a settings file keeps the mode
// the user gave it, and a new one gets the user's usual mode.
TEST_F(ReplaceTest, TheCacheIsPrivateAndSettingsKeepTheirMode) {
  const mode_t mask = ::umask(022);
  WriteText(dir / "open.png", "old");
  fs::permissions(dir / "open.png", fs::perms::all);
  CacheWrite(dir / "open.png", "new");
  CacheWrite(dir / "fresh.png", "new");
  EXPECT_EQ(ModeOf(dir / "open.png"), 0600u);
  EXPECT_EQ(ModeOf(dir / "fresh.png"), 0600u);
  EXPECT_EQ(ReadText(dir / "open.png"), "new");

  WriteText(dir / "shared.json", "old");
  fs::permissions(dir / "shared.json", static_cast<fs::perms>(0664));
  SettingsWrite(dir / "shared.json", 1);
  SettingsWrite(dir / "fresh.json", 2);
  ::umask(mask);
  EXPECT_EQ(ModeOf(dir / "shared.json"), 0664u);
  EXPECT_EQ(ModeOf(dir / "fresh.json"), 0644u);
  EXPECT_EQ(Entries(), 4u) << "no temporary file is left";
}

// The same planted link: the cache replaces the link and leaves what it points to alone; a
// settings file behind the user's own link is written where the link points.
TEST_F(ReplaceTest, ALinkIsReplacedByTheCacheAndFollowedBySettings) {
  WriteText(dir / "target", "precious");
  fs::create_symlink(dir / "target", dir / "link");
  CacheWrite(dir / "link", "cached");
  EXPECT_FALSE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(ReadText(dir / "target"), "precious");

  fs::remove(dir / "link");
  fs::create_symlink(dir / "target", dir / "link");
  SettingsWrite(dir / "link", 3);
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(SettingsRead(dir / "target"), 3);
}

// A name as long as a name may be: the new file beside it must still have a name that fits.
TEST_F(ReplaceTest, AFileWithTheLongestNameCanBeReplaced) {
  const std::string name(255, 's');
  WriteText(dir / name, "old");
  SettingsWrite(dir / name, 4);
  EXPECT_EQ(SettingsRead(dir / name), 4);
  CacheWrite(dir / name, "cached");
  EXPECT_EQ(ReadText(dir / name), "cached");
  EXPECT_EQ(Entries(), 1u);
}

// A host started without standard input (a service) is given descriptor 0 by the next open:
// every file the controls open is found, kept or written as usual, and none is left open.
TEST_F(ReplaceTest, DescriptorZeroIsAFileLikeAnyOther) {
  const int saved = ::dup(0);
  ASSERT_GE(saved, 0);
  struct Restore {
    int fd;
    ~Restore() {
      ::dup2(fd, 0);
      ::close(fd);
    }
  } restore{saved};
  const std::string magic = "\x89PNG\r\n\x1a\n and the rest";
  WriteText(dir / "kept.png", magic);
  WriteText(dir / "old.png", "old");
  const ino_t keptInode = InodeOf(dir / "kept.png");
  const std::pair<const char*, std::function<void()>> steps[] = {
      {"unchanged picture", [&] { CacheWrite(dir / "kept.png", magic); }},
      {"changed picture", [&] { CacheWrite(dir / "old.png", "new"); }},
      {"settings saved", [&] { SettingsWrite(dir / "s.json", 5); }},
      {"settings loaded", [&] { EXPECT_EQ(SettingsRead(dir / "s.json"), 5); }},
      {"picture read",
       [&] {
         const std::vector<uint8_t> bytes = desk::ReadPictureFile(desk::U16((dir / "kept.png").string()));
         EXPECT_EQ(std::string(bytes.begin(), bytes.end()), magic);
       }},
  };
  for (const auto& [name, step] : steps) {
    SCOPED_TRACE(name);
    ::close(0);
    EXPECT_NO_THROW(step());
    EXPECT_EQ(::fcntl(0, F_GETFD), -1) << "descriptor 0 was left open";
  }
  EXPECT_EQ(InodeOf(dir / "kept.png"), keptInode) << "an unchanged picture was written again";
  EXPECT_EQ(ReadText(dir / "old.png"), "new");
  EXPECT_EQ(Entries(), 3u) << "no temporary file is left";
}

// Interrupted calls and short transfers, which a disk may give under load or a signal: every
// file the controls write still comes out whole, and nothing is written twice.
TEST_F(ReplaceTest, InterruptedAndShortWritesAreCarriedOn) {
  const std::string magic = "\x89PNG\r\n\x1a\n, then the rest of the picture";
  std::string changedAtTheEnd = magic;
  changedAtTheEnd.back() = '!';
  const struct Plan {
    const char* name;
    desktest::SyscallFaults faults;
  } plans[] = {
      {"interrupted", {.interruptedReads = 2, .interruptedWrites = 2}},
      {"a byte at a time", {.readLimit = 1, .writeLimit = 1}},
      {"seven bytes at a time", {.readLimit = 7, .writeLimit = 7}},
  };
  for (const Plan& plan : plans) {
    SCOPED_TRACE(plan.name);
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::pair<const char*, std::function<void()>> steps[] = {
        {"new picture", [&] { CacheWrite(dir / "p.png", magic); }},
        {"picture changed in its last byte",
         [&] {
           CacheWrite(dir / "p.png", changedAtTheEnd);
           EXPECT_EQ(ReadText(dir / "p.png"), changedAtTheEnd);
         }},
        {"settings saved", [&] { SettingsWrite(dir / "s.json", 6); }},
    };
    for (const auto& [name, step] : steps) {
      SCOPED_TRACE(name);
      desktest::SyscallFaults faults = plan.faults;
      {
        desktest::FaultScope scope(faults);
        EXPECT_NO_THROW(step());
      }
      EXPECT_GT(faults.reads + faults.writes, 0) << "the faults were not in force";
      EXPECT_EQ(faults.unlinks, 0) << "a file put in place is not removed after";
      EXPECT_EQ(faults.badCloses, 0) << "a descriptor was closed twice";
    }
    EXPECT_EQ(Entries(), 2u) << "no temporary file is left";
  }
}

// A saved settings file reaches the disk before the save returns, the file and then its folder
// (for the rename); a downloaded picture, which can be fetched again, is never waited for.
TEST_F(ReplaceTest, OnlyTheSettingsAreFlushedToTheDisk) {
  const struct {
    const char* name;
    std::function<void()> step;
    int syncs;
  } steps[] = {
      {"picture", [&] { CacheWrite(dir / "p.png", "\x89PNG\r\n\x1a\n"); }, 0},
      {"settings", [&] { SettingsWrite(dir / "s.json", 1); }, 2},
      // The same bytes may still be only in memory, written by whoever wrote them last.
      {"the same settings again", [&] { SettingsWrite(dir / "s.json", 1); }, 2},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    desktest::SyscallFaults faults;
    {
      desktest::FaultScope scope(faults);
      s.step();
    }
    EXPECT_EQ(faults.syncs, s.syncs);
  }
}

// Every reader of a whole file (the settings, a picture, the cache comparing a download with
// the file it would replace) under each fault a read may meet. A file is read in as few calls
// as its measured size allows (a picture: its magic, the rest, and the end), to its real end
// when it grew after it was measured; one cut short is taken for what it then holds, even with
// errno still at EINTR from the read before: no settings, no picture, and a cached copy
// written again rather than taken as whole.
TEST_F(ReplaceTest, EveryWholeFileReaderMeetsTheSameFaults) {
  const std::string picture = "\x89PNG\r\n\x1a\n" + std::string(20000, 'p');
  const fs::path png = dir / "p.png", json = dir / "s.json";
  CacheWrite(png, picture);
  const std::u16string text(10000, u't');
  MemoryPropertyBag bag;
  bag.WriteProperty(u"Text", Variant::String(text), Variant::String(u""));
  bag.SaveToFile(json);
  constexpr int kWhole = 0, kGarbled = 1, kWrittenAgain = -1;  // else the error's number
  constexpr int kSome = -1;                                     // reads: at least one
  const std::pair<const char*, std::function<int()>> readers[] = {
      {"settings",
       [&] {
         MemoryPropertyBag loaded;
         loaded.LoadFromFile(json);
         return loaded.ReadProperty(u"Text", Variant()).RawString() == text ? kWhole : kGarbled;
       }},
      {"picture",
       [&] {
         const std::vector<uint8_t> bytes = desk::ReadPictureFile(desk::U16(png.string()));
         return std::string(bytes.begin(), bytes.end()) == picture ? kWhole : kGarbled;
       }},
      {"cache",
       [&] {
         const ino_t before = InodeOf(png);
         CacheWrite(png, picture);
         return ReadText(png) != picture ? kGarbled : InodeOf(png) == before ? kWhole : kWrittenAgain;
       }},
  };
  constexpr std::array<int, 3> kAllWhole{kWhole, kWhole, kWhole}, kGrown{kWhole, kWhole, kWrittenAgain};
  constexpr std::array<int, 3> kCacheUnread{kSome, kSome, 0};  // a copy not the download's size
  const struct Row {
    const char* name;
    desktest::SyscallFaults faults;
    std::array<int, 3> made;             // by each reader, in order
    const char* settingsCause = nullptr;  // in the settings' failure
    std::array<int, 3> reads{kSome, kSome, kSome};  // by each reader
  } rows[] = {
      {"none", {}, kAllWhole, nullptr, {2, 3, 2}},
      {"interrupted twice", {.interruptedReads = 2}, kAllWhole},
      {"a byte at a time", {.readLimit = 1}, kAllWhole},
      {"seven bytes at a time", {.readLimit = 7}, kAllWhole},
      {"grown by a byte", {.statShortBy = 1}, kGrown, nullptr, kCacheUnread},
      {"grown by a thousand bytes", {.statShortBy = 1000}, kGrown, nullptr, kCacheUnread},
      {"grown by nearly all it holds", {.statShortBy = 10020}, kGrown, nullptr, kCacheUnread},
      {"the settings grown from nothing, as the kernel's files", {.statShortBy = 15000}, kGrown, nullptr, kCacheUnread},
      {"cut short", {.cutShort = true}, {321, 481, kWrittenAgain}, "the file is empty"},
      {"cut short after an interrupted read", {.interruptedReads = 1, .cutShort = true},
       {321, 481, kWrittenAgain}, "the file is empty"},
      {"a failed read", {.readError = EIO}, {75, 75, kWrittenAgain}, "s.json (Input/output error)"},
      {"a failed fstat", {.statError = EIO}, {75, 75, kWrittenAgain}, "s.json (Input/output error)", {0, 0, 0}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    for (size_t i = 0; i < std::size(readers); ++i) {
      SCOPED_TRACE(readers[i].first);
      desktest::SyscallFaults faults = row.faults;
      int made = 0;
      std::string why;
      {
        desktest::FaultScope scope(faults);
        try {
          made = readers[i].second();
        } catch (const desk::Error& e) {
          made = e.Number();
          why = desk::U8(e.Description());
        }
      }
      EXPECT_EQ(made, row.made[i]) << why;
      if (i == 0 && row.settingsCause) {
        EXPECT_NE(why.find(row.settingsCause), std::string::npos) << why;
      }
      if (row.reads[i] == kSome) {
        EXPECT_GT(faults.reads, 0) << "the faults were not in force";
      } else {
        EXPECT_EQ(faults.reads, row.reads[i]);
      }
      EXPECT_EQ(faults.unlinks, 0) << "a file put in place is not removed after";
      EXPECT_EQ(faults.badCloses, 0) << "a descriptor was closed twice";
    }
  }
}

// The names tried beside a file may all be taken (by another process racing for them): up to
// a hundred are tried, and then the system's own answer is the failure.
TEST_F(ReplaceTest, TakenTemporaryNamesAreSkippedUpToAHundred) {
  WriteText(dir / "p.png", "old");
  for (int taken : {1, 99, 100}) {
    SCOPED_TRACE(taken);
    desktest::SyscallFaults faults{.takenNames = taken};
    std::optional<int> number;
    {
      desktest::FaultScope scope(faults);
      try {
        CacheWrite(dir / "p.png", "new " + std::to_string(taken));
      } catch (const desk::Error& e) {
        number = e.Number();
      }
    }
    if (taken < 100) {
      EXPECT_EQ(number, std::nullopt);
      EXPECT_EQ(faults.exclusiveOpens, taken + 1);
      EXPECT_EQ(ReadText(dir / "p.png"), "new " + std::to_string(taken));
    } else {
      EXPECT_EQ(number, 75);
      EXPECT_EQ(faults.exclusiveOpens, 100);
      EXPECT_EQ(ReadText(dir / "p.png"), "new 99");
    }
  }
}

// A replacement that cannot be made leaves the old file as it was and no new file behind, and
// a settings file says why in the system's words.
TEST_F(ReplaceTest, AFailedReplacementKeepsTheOldFile) {
  WriteText(dir / "p.png", "old");
  WriteText(dir / "s.json", "{}");
  const struct Row {
    const char* name;
    desktest::SyscallFaults faults;
    const char* cause;
    int unlinks;  // of a new file that was made
  } rows[] = {
      {"every name taken", {.takenNames = 100}, "File exists", 0},
      {"disk full", {.fullDisk = true}, "No space left on device", 1},
      // After an interrupted one, so that errno still says EINTR: neither a retry for ever nor
      // a failure that calls itself "Success".
      {"writes that take nothing", {.interruptedWrites = 1, .writesTakeNothing = true}, "No space left on device", 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    for (bool settings : {false, true}) {
      desktest::SyscallFaults faults = r.faults;
      desktest::FaultScope scope(faults);
      try {
        if (settings) SettingsWrite(dir / "s.json", 7);
        else CacheWrite(dir / "p.png", "new");
        ADD_FAILURE() << "replaced";
      } catch (const desk::Error& e) {
        EXPECT_EQ(e.Number(), 75);
        if (settings) {
          EXPECT_NE(desk::U8(e.Description()).find(r.cause), std::string::npos) << desk::U8(e.Description());
        }
      }
      EXPECT_EQ(faults.unlinks, r.unlinks);
      EXPECT_EQ(faults.badCloses, 0);
    }
    EXPECT_EQ(ReadText(dir / "p.png"), "old");
    EXPECT_EQ(ReadText(dir / "s.json"), "{}");
    EXPECT_EQ(Entries(), 2u);
  }
}

// Names are UTF-8 on disk from the first character past ASCII on; the last ASCII one stays a
// byte of its own.
TEST_F(ReplaceTest, NamesBeyondAsciiAreUtf8OnDisk) {
  struct Row {
    std::u16string name;
    const char* onDisk;
  } rows[] = {{u"\u007F.png", "\x7F.png"}, {u"\u0080.png", "\xC2\x80.png"}, {u"a\u00E9\u4E2D", "a\xC3\xA9\xE4\xB8\xAD"}};
  auto system = desk::MakeFileSystem();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.onDisk);
    const std::u16string path = desk::U16(dir.string()) + u"/" + r.name;
    CacheWrite(path, "bytes");
    EXPECT_EQ(ReadText(dir / r.onDisk), "bytes");
    EXPECT_TRUE(system->FileExists(path));
    EXPECT_TRUE(system->RemoveFile(path));
    EXPECT_FALSE(fs::exists(dir / r.onDisk));
    EXPECT_FALSE(system->FileExists(path));
    EXPECT_FALSE(system->RemoveFile(path));
  }
  EXPECT_EQ(Entries(), 0u);
  // A NUL would cut the name short and name another file: nothing is touched.
  WriteText(dir / "kept", "kept");
  const std::u16string cut = desk::U16((dir / "kept").string()) + std::u16string(1, u'\0') + u"x";
  try {
    CacheWrite(cut, "new");
    ADD_FAILURE() << "a name with a NUL was written";
  } catch (const desk::Error& e) {
    EXPECT_EQ(e.Number(), 75);
  }
  EXPECT_FALSE(system->FileExists(cut));
  EXPECT_FALSE(system->RemoveFile(cut));
  EXPECT_EQ(ReadText(dir / "kept"), "kept");
  for (const std::u16string& empty : {std::u16string(), std::u16string(1, u'\0')}) {
    EXPECT_FALSE(system->FileExists(empty));
    EXPECT_FALSE(system->RemoveFile(empty));
  }
}

// TMPDIR as the user set it, without the slashes that end it; unset or empty: /tmp.
TEST(SystemTempFolder, ComesFromTmpdirWithoutTrailingSlashes) {
  const char* old = std::getenv("TMPDIR");
  const std::string kept = old ? old : "";
  struct Row {
    const char* tmpdir;  // nullptr: unset
    std::u16string folder;
  } rows[] = {{nullptr, u"/tmp"},           {"", u"/tmp"},        {"/var/x", u"/var/x"}, {"/var/x//", u"/var/x"},
              {"/", u""},                   {"//", u""},          {"x/", u"x"},          {"/v\xC3\xA9/", u"/v\u00E9"},
              {"/\x7F", u"/\u007F"},     {"/\x80", u"/\uFFFD"}};  // the last byte is no UTF-8
  for (const Row& r : rows) {
    SCOPED_TRACE(r.tmpdir ? r.tmpdir : "(unset)");
    if (r.tmpdir) ::setenv("TMPDIR", r.tmpdir, 1);
    else ::unsetenv("TMPDIR");
    EXPECT_EQ(desk::SystemTempFolder(), r.folder);
    EXPECT_EQ(desk::MakeFileSystem()->TempFolder(), r.folder);
  }
  if (old) ::setenv("TMPDIR", kept.c_str(), 1);
  else ::unsetenv("TMPDIR");
}

using desk_test::MemoryFileSystem;

TEST(FileSystemMaker, AHostsMakerIsUsedUntilTheSystemsIsPutBack) {
  auto mine = std::make_shared<MemoryFileSystem>();
  desk::FileSystemMaker before = desk::SetFileSystemMaker([mine] { return mine; });
  EXPECT_FALSE(before) << "the system's maker is the one in place at first";
  EXPECT_EQ(desk::CreateFileSystem(), mine);
  desk::FileSystemMaker replaced = desk::SetFileSystemMaker(nullptr);
  ASSERT_TRUE(replaced);
  EXPECT_EQ(replaced(), mine);
  auto system = desk::CreateFileSystem();
  EXPECT_NE(system, mine);
  EXPECT_EQ(system->TempFolder(), desk::SystemTempFolder());
}

}  // namespace
