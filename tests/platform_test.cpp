// The platform layer's file object: open modes with their sharing rules, the
// Windows error numbers of failed opens, positioning, length and time.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>

#include "support/sharing_rules.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

namespace fs = std::filesystem;
using platform::File;
using platform::OpenMode;

class PlatformFile : public ::testing::Test {
 protected:
  ScratchDir dir;
};

TEST_F(PlatformFile, WriteSeekReadAndLength) {
  const std::u16string path = dir.wide("a.bin");
  File file;
  ASSERT_TRUE(file.open(path.c_str(), OpenMode::CreateReadWrite));
  EXPECT_EQ(platform::lastError(), 0u);
  ASSERT_TRUE(file.write("0123456789", 10));
  EXPECT_EQ(file.length(), 10);
  ASSERT_TRUE(file.seekFromStart(2));
  ASSERT_TRUE(file.write("ab", 2));
  ASSERT_TRUE(file.seekFromEnd(0));
  ASSERT_TRUE(file.write("Z", 1));
  ASSERT_TRUE(file.seekFromStart(0));
  char buffer[32] = {};
  EXPECT_EQ(file.read(buffer, sizeof buffer), 11u);  // short read at the end
  EXPECT_EQ(std::string(buffer, 11), "01ab456789Z");
  EXPECT_EQ(file.read(buffer, 4), 0u);
  ASSERT_TRUE(file.seekFromEnd(-3));
  EXPECT_EQ(file.read(buffer, 3), 3u);
  EXPECT_EQ(std::string(buffer, 3), "89Z");
  EXPECT_FALSE(file.seekFromStart(-1));
  file.close();
  EXPECT_FALSE(file.isOpen());
  EXPECT_EQ(readBytes(dir.file("a.bin")), "01ab456789Z");
}

// A create empties an existing file; an open of an existing one neither
// creates nor truncates, and a closed file can be opened again.
TEST_F(PlatformFile, CreateTruncatesOpenExistingKeeps) {
  writeBytes(dir.file("t.bin"), "old content");
  File file;
  EXPECT_FALSE(file.open(dir.wide("none.bin").c_str(), OpenMode::OpenReadWrite));
  EXPECT_EQ(platform::lastError(), platform::kErrorFileNotFound);
  EXPECT_FALSE(fs::exists(dir.file("none.bin")));
  ASSERT_TRUE(file.open(dir.wide("t.bin").c_str(), OpenMode::OpenReadWrite));
  EXPECT_EQ(file.length(), 11);
  file.close();
  ASSERT_TRUE(file.open(dir.wide("t.bin").c_str(), OpenMode::CreateReadWrite));
  EXPECT_EQ(file.length(), 0);
}

// A new file is made only where nothing is: an existing one is refused and
// kept as it is.
TEST_F(PlatformFile, CreateNewRefusesAnExistingFile) {
  writeBytes(dir.file("t.bin"), "old content");
  File file;
  EXPECT_FALSE(file.open(dir.wide("t.bin").c_str(), OpenMode::CreateNew));
  EXPECT_EQ(platform::lastError(), platform::kErrorFileExists);
  EXPECT_EQ(readBytes(dir.file("t.bin")), "old content");
  ASSERT_TRUE(file.open(dir.wide("new.bin").c_str(), OpenMode::CreateNew));
  EXPECT_EQ(file.lengthAtOpen(), 0);
  EXPECT_TRUE(file.write("abc", 3));
  file.close();
  EXPECT_EQ(readBytes(dir.file("new.bin")), "abc");
}

TEST_F(PlatformFile, FailedOpensReportWindowsErrorNumbers) {
  File file;
  EXPECT_FALSE(file.open(dir.wide("missing.rvx").c_str(), OpenMode::ReadShared));
  EXPECT_EQ(platform::lastError(), platform::kErrorFileNotFound);
  EXPECT_FALSE(file.open(dir.wide("no-such-dir/x.rvx").c_str(), OpenMode::ReadShared));
  EXPECT_EQ(platform::lastError(), platform::kErrorPathNotFound);
  EXPECT_FALSE(file.open(dir.wide("no-such-dir/x.rvx").c_str(), OpenMode::CreateReadWrite));
  EXPECT_EQ(platform::lastError(), platform::kErrorPathNotFound);
  EXPECT_FALSE(file.open(widePath(dir.path()).c_str(), OpenMode::ReadShared));
  EXPECT_EQ(platform::lastError(), platform::kErrorAccessDenied);
  for (const char16_t* none : {static_cast<const char16_t*>(nullptr), u""}) {
    EXPECT_FALSE(file.open(none, OpenMode::ReadShared));
    EXPECT_NE(platform::lastError(), 0u);
  }
  EXPECT_FALSE(file.isOpen());
}

// Sharing between two openers of this layer (in one process as across
// processes, the rules are the same).
TEST_F(PlatformFile, SharingRules) {
  writeBytes(dir.file("s.bin"), "shared");
  const std::u16string path = dir.wide("s.bin");
  expectSharingRules(path.c_str());
}

// A live writer lets readers in and keeps writers out; a follower's probe
// tells it from a writer that shares nothing and from no writer at all.
TEST_F(PlatformFile, LiveWriterSharesReadingAndIsSeenByTheProbe) {
  const std::u16string path = dir.wide("live.rvx");
  const auto holder = [&] {
    platform::Holder found = platform::Holder::Nobody;
    EXPECT_TRUE(platform::probeHolder(path.c_str(), found));
    return found;
  };
  EXPECT_EQ(holder(), platform::Holder::Missing);
  {
    File live;
    ASSERT_TRUE(live.open(path.c_str(), OpenMode::CreateNewLive));
    ASSERT_TRUE(live.write("data", 4));
    EXPECT_EQ(holder(), platform::Holder::LiveWriter);
    File reader;
    EXPECT_TRUE(reader.open(path.c_str(), OpenMode::ReadShared));
    EXPECT_EQ(holder(), platform::Holder::LiveWriter);
    for (OpenMode mode : {OpenMode::CreateLive, OpenMode::CreateReadWrite, OpenMode::OpenReadWrite,
                          OpenMode::ReadExclusive}) {
      File refused;
      EXPECT_FALSE(refused.open(path.c_str(), mode)) << static_cast<int>(mode);
      EXPECT_EQ(platform::lastError(), platform::kErrorSharingViolation);
    }
    File again;
    EXPECT_FALSE(again.open(path.c_str(), OpenMode::CreateNewLive));
    EXPECT_EQ(platform::lastError(), platform::kErrorFileExists);
  }
  EXPECT_EQ(readBytes(dir.file("live.rvx")), "data");
  EXPECT_EQ(holder(), platform::Holder::Nobody);
  {
    File exclusive;
    ASSERT_TRUE(exclusive.open(path.c_str(), OpenMode::OpenReadWrite));
    EXPECT_EQ(holder(), platform::Holder::Exclusive);
  }
  // The live create over a file empties it, as the plain create does.
  File live;
  ASSERT_TRUE(live.open(path.c_str(), OpenMode::CreateLive));
  EXPECT_EQ(live.length(), 0);
  platform::Holder found = platform::Holder::Nobody;
  EXPECT_FALSE(platform::probeHolder(dir.wide("").c_str(), found));
}

TEST_F(PlatformFile, ModificationTimeIsLocalTime) {
  writeBytes(dir.file("m.bin"), "x");
  const auto when = std::chrono::file_clock::now() - std::chrono::hours(24 * 40);
  fs::last_write_time(dir.file("m.bin"), when);
  File file;
  ASSERT_TRUE(file.open(dir.wide("m.bin").c_str(), OpenMode::ReadShared));
  platform::LocalTime stamp;
  ASSERT_TRUE(file.modificationTime(stamp));
  std::time_t seconds = std::chrono::system_clock::to_time_t(std::chrono::file_clock::to_sys(when));
  std::tm expected = *std::localtime(&seconds);
  EXPECT_EQ(stamp.year, expected.tm_year + 1900);
  EXPECT_EQ(stamp.month, expected.tm_mon + 1);
  EXPECT_EQ(stamp.day, expected.tm_mday);
  EXPECT_EQ(stamp.hour, expected.tm_hour);
  EXPECT_EQ(stamp.minute, expected.tm_min);
}

}  // namespace
}  // namespace kdrvx::test
