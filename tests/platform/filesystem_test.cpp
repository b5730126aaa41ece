// Replacing a file whole, as the picture cache and the settings files do it: the two policies
// side by side, and a file system put in place of the system's.
#include "desk/filesystem.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
  static void CacheWrite(const fs::path& p, const std::string& text) {
    const std::span<const uint8_t> piece(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    desk::MakeFileSystem()->ReplaceFile(desk::U16(p.string()), std::span(&piece, 1));
  }
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
// file the controls read or write still comes out whole, and nothing is read or written twice.
TEST_F(ReplaceTest, InterruptedAndShortTransfersAreCarriedOn) {
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
    ino_t kept = 0;
    const std::pair<const char*, std::function<void()>> steps[] = {
        {"new picture", [&] { CacheWrite(dir / "p.png", magic); }},
        {"unchanged picture",
         [&] {
           kept = InodeOf(dir / "p.png");
           CacheWrite(dir / "p.png", magic);
           EXPECT_EQ(InodeOf(dir / "p.png"), kept) << "written again";
         }},
        {"picture read",
         [&] {
           const std::vector<uint8_t> bytes = desk::ReadPictureFile(desk::U16((dir / "p.png").string()));
           EXPECT_EQ(std::string(bytes.begin(), bytes.end()), magic);
         }},
        {"picture changed in its last byte",
         [&] {
           CacheWrite(dir / "p.png", changedAtTheEnd);
           EXPECT_EQ(ReadText(dir / "p.png"), changedAtTheEnd);
         }},
        {"settings saved", [&] { SettingsWrite(dir / "s.json", 6); }},
        {"settings loaded", [&] { EXPECT_EQ(SettingsRead(dir / "s.json"), 6); }},
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

// A file is read in as few calls as its measured size allows (a picture: its magic, the rest,
// and the end), and one cut short after it was measured is taken for what it then holds.
TEST_F(ReplaceTest, FilesAreReadInAsFewCallsAsTheirSizeAllows) {
  const std::string picture = "\x89PNG\r\n\x1a\n" + std::string(200000, 'p');
  WriteText(dir / "p.png", picture);
  const std::u16string path = desk::U16((dir / "p.png").string());
  {
    desktest::SyscallFaults faults;
    desktest::FaultScope scope(faults);
    EXPECT_EQ(desk::ReadPictureFile(path).size(), picture.size());
    EXPECT_EQ(faults.reads, 3);
  }
  {
    MemoryPropertyBag bag;
    bag.WriteProperty(u"Text", Variant::String(std::u16string(100000, u't')), Variant::String(u""));
    bag.SaveToFile(dir / "s.json");
    desktest::SyscallFaults faults;
    desktest::FaultScope scope(faults);
    MemoryPropertyBag loaded;
    loaded.LoadFromFile(dir / "s.json");
    EXPECT_EQ(loaded.ReadProperty(u"Text", Variant()).RawString().size(), 100000u);
    EXPECT_EQ(faults.reads, 2) << "the whole file, then its end";
  }
  // Either file grown after it was measured: read to its real end all the same.
  for (const long grownBy : {1L, 1000L, 100020L, 150000L}) {
    SCOPED_TRACE(grownBy);
    desktest::SyscallFaults faults{.statShortBy = grownBy};
    desktest::FaultScope scope(faults);
    const std::vector<uint8_t> bytes = desk::ReadPictureFile(path);
    EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == picture) << bytes.size() << " bytes";
    MemoryPropertyBag loaded;
    loaded.LoadFromFile(dir / "s.json");
    EXPECT_EQ(loaded.ReadProperty(u"Text", Variant()).RawString().size(), 100000u);
  }
  // Cut short: no picture, and a cached copy is written again rather than taken as whole. The
  // read before the end is interrupted, so that errno still says EINTR when the end comes.
  const ino_t before = InodeOf(dir / "p.png");
  {
    desktest::SyscallFaults faults{.interruptedReads = 1, .cutShort = true};
    desktest::FaultScope scope(faults);
    try {
      desk::ReadPictureFile(path);
      ADD_FAILURE() << "an empty file read as a picture";
    } catch (const desk::Error& e) {
      EXPECT_EQ(e.Number(), 481);
    }
  }
  {
    desktest::SyscallFaults faults{.interruptedReads = 1, .cutShort = true};
    desktest::FaultScope scope(faults);
    CacheWrite(dir / "p.png", picture);
  }
  EXPECT_NE(InodeOf(dir / "p.png"), before);
  EXPECT_EQ(ReadText(dir / "p.png"), picture);
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
    const std::string text = "bytes";
    const std::span<const uint8_t> piece(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    system->ReplaceFile(path, std::span(&piece, 1));
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
  const std::string text = "new";
  const std::span<const uint8_t> piece(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  try {
    system->ReplaceFile(cut, std::span(&piece, 1));
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
