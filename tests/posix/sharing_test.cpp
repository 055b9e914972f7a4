// Sharing emulation across processes: another process that holds a flock()
// on a file makes the library's opens and deletions fail as Windows would
// with a sharing violation.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "kdrvx/kdrvx.h"
#include "platform/platform.h"
#include "posix/holder_process.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

namespace fs = std::filesystem;
using platform::File;
using platform::OpenMode;

class CrossProcess : public ::testing::Test {
 protected:
  void SetUp() override { writeBytes(dir.file("f.rvx"), "recorded data"); }
  ScratchDir dir;
  const std::u16string path = dir.wide("f.rvx");
};

TEST_F(CrossProcess, ExclusiveHolderRefusesEveryMode) {
  HolderProcess holder(dir.file("f.rvx"), HolderProcess::Lock::Exclusive);
  ASSERT_TRUE(holder.holding());
  for (OpenMode mode : {OpenMode::ReadShared, OpenMode::ReadExclusive, OpenMode::OpenReadWrite,
                        OpenMode::CreateReadWrite}) {
    File file;
    EXPECT_FALSE(file.open(path.c_str(), mode));
    EXPECT_EQ(platform::lastError(), platform::kErrorSharingViolation);
  }
  // The refused create did not empty the file.
  EXPECT_EQ(readBytes(dir.file("f.rvx")), "recorded data");
  holder.release();
  File file;
  EXPECT_TRUE(file.open(path.c_str(), OpenMode::ReadExclusive));
}

TEST_F(CrossProcess, SharedHolderAdmitsSharedReadersOnly) {
  HolderProcess holder(dir.file("f.rvx"), HolderProcess::Lock::Shared);
  ASSERT_TRUE(holder.holding());
  File reader;
  EXPECT_TRUE(reader.open(path.c_str(), OpenMode::ReadShared));
  File writer;
  EXPECT_FALSE(writer.open(path.c_str(), OpenMode::OpenReadWrite));
  EXPECT_EQ(platform::lastError(), platform::kErrorSharingViolation);
}

TEST_F(CrossProcess, OurExclusiveOpenKeepsAnotherProcessOut) {
  File file;
  ASSERT_TRUE(file.open(path.c_str(), OpenMode::OpenReadWrite));
  HolderProcess shared(dir.file("f.rvx"), HolderProcess::Lock::Shared);
  EXPECT_FALSE(shared.holding());
  // The forked process inherited our descriptor, and with it the lock.
  shared.release();
  file.close();
  HolderProcess later(dir.file("f.rvx"), HolderProcess::Lock::Shared);
  EXPECT_TRUE(later.holding());
}

TEST_F(CrossProcess, DeletionOfAFileHeldByAnotherProcessFails) {
  TraceCapture capture;
  {
    HolderProcess holder(dir.file("f.rvx"), HolderProcess::Lock::Exclusive);
    ASSERT_TRUE(holder.holding());
    KDRVX_DeleteFile(c(path));
    EXPECT_TRUE(fs::exists(dir.file("f.rvx")));
    EXPECT_EQ(capture.lines(), (std::vector<std::u16string>{u"throw exception ", path}));
  }
  {
    HolderProcess holder(dir.file("f.rvx"), HolderProcess::Lock::Shared);
    ASSERT_TRUE(holder.holding());
    KDRVX_DeleteFile(c(path));
    EXPECT_TRUE(fs::exists(dir.file("f.rvx")));
  }
  KDRVX_DeleteFile(c(path));
  EXPECT_FALSE(fs::exists(dir.file("f.rvx")));
}

TEST_F(CrossProcess, ReadOnlyModeHoldsForRootToo) {
  // With no write bit at all the file is read-only, even to a superuser.
  fs::permissions(dir.file("f.rvx"), fs::perms::none);
  TraceCapture capture;
  KDRVX_DeleteFile(c(path));
  EXPECT_TRUE(fs::exists(dir.file("f.rvx")));
  EXPECT_EQ(capture.lines().size(), 2u);
}

// A file without any write bit stands in for the read-only attribute.
TEST(ReadOnlyMode, RefusesWritingOpens) {
  ScratchDir dir;
  using platform::File;
  writeBytes(dir.file("ro.bin"), "data");
  fs::permissions(dir.file("ro.bin"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  File file;
  EXPECT_FALSE(file.open(dir.wide("ro.bin").c_str(), OpenMode::OpenReadWrite));
  EXPECT_EQ(platform::lastError(), platform::kErrorAccessDenied);
  EXPECT_FALSE(file.open(dir.wide("ro.bin").c_str(), OpenMode::CreateReadWrite));
  EXPECT_EQ(platform::lastError(), platform::kErrorAccessDenied);
  EXPECT_EQ(readBytes(dir.file("ro.bin")), "data");
  EXPECT_TRUE(file.open(dir.wide("ro.bin").c_str(), OpenMode::ReadShared));
}

TEST(PathBytes, ReachTheFileSystemAsUtf8) {
  ScratchDir dir;
  const std::u16string wide = widePath(dir.path()) + u"/\u00E4\u03C1\U0001F600.bin";
  File file;
  ASSERT_TRUE(file.open(wide.c_str(), OpenMode::CreateReadWrite));
  EXPECT_TRUE(fs::exists(dir.path().string() + "/\xC3\xA4\xCF\x81\xF0\x9F\x98\x80.bin"));
}

TEST(PathBytes, UnpairedSurrogateFailsLikeABadPath) {
  ScratchDir dir;
  for (std::u16string name : {std::u16string(u"a") + char16_t(0xD800) + u"b.rvx",
                              std::u16string(u"a") + char16_t(0xDC00) + u".rvx",
                              std::u16string(u"end") + char16_t(0xD83D)}) {
    File file;
    const std::u16string path = widePath(dir.path()) + u"/" + name;
    EXPECT_FALSE(file.open(path.c_str(), OpenMode::CreateReadWrite));
    EXPECT_NE(platform::lastError(), 0u);
    EXPECT_FALSE(platform::removeFile(path.c_str()));
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace kdrvx::test
