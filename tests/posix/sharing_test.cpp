// Sharing emulation across processes: another process that holds a flock()
// on a file makes the library's opens and deletions fail as Windows would
// with a sharing violation.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "kdrvx/kdrvx.h"
#include "platform/platform.h"
#include "posix/holder_process.h"
#include "support/sharing_rules.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

namespace fs = std::filesystem;
using platform::File;
using platform::OpenMode;

using CrossProcess = HeldFileTest;

// An exclusive holder refuses every mode and the deletion; a shared one
// admits shared readers only. A refused create never empties the file.
TEST_F(CrossProcess, HoldersRefuseOpensAndDeletion) {
  TraceCapture capture;
  for (const auto lock : {HolderProcess::Lock::Exclusive, HolderProcess::Lock::Shared}) {
    HolderProcess holder(dir.file("f.rvx"), lock);
    ASSERT_TRUE(holder.holding());
    for (OpenMode mode : {OpenMode::ReadShared, OpenMode::ReadExclusive, OpenMode::OpenReadWrite,
                          OpenMode::CreateReadWrite}) {
      File file;
      const bool admitted = lock == HolderProcess::Lock::Shared && mode == OpenMode::ReadShared;
      EXPECT_EQ(file.open(path.c_str(), mode), admitted) << static_cast<int>(mode);
      if (!admitted) {
        EXPECT_EQ(platform::lastError(), platform::kErrorSharingViolation);
      }
    }
    EXPECT_EQ(readBytes(dir.file("f.rvx")), "recorded data");
    capture.clear();
    KDRVX_DeleteFile(c(path));
    EXPECT_TRUE(fs::exists(dir.file("f.rvx")));
    EXPECT_EQ(capture.lines(), (std::vector<std::u16string>{u"throw exception ", path}));
  }
  File file;
  EXPECT_TRUE(file.open(path.c_str(), OpenMode::ReadExclusive));
  file.close();
  KDRVX_DeleteFile(c(path));
  EXPECT_FALSE(fs::exists(dir.file("f.rvx")));
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

// A file without any write bit stands in for the read-only attribute.
TEST_F(CrossProcess, ReadOnlyModeRefusesWritingOpens) {
  fs::permissions(dir.file("f.rvx"), fs::perms::owner_read | fs::perms::group_read);
  File file;
  for (OpenMode mode : {OpenMode::OpenReadWrite, OpenMode::CreateReadWrite}) {
    EXPECT_FALSE(file.open(path.c_str(), mode));
    EXPECT_EQ(platform::lastError(), platform::kErrorAccessDenied);
  }
  EXPECT_EQ(readBytes(dir.file("f.rvx")), "recorded data");
  EXPECT_TRUE(file.open(path.c_str(), OpenMode::ReadShared));
}

TEST(PathBytes, ReachTheFileSystemAsUtf8AndUnpairedSurrogatesFail) {
  ScratchDir dir;
  const std::u16string wide = widePath(dir.path()) + u"/\u00E4\u03C1\U0001F600.bin";
  File file;
  ASSERT_TRUE(file.open(wide.c_str(), OpenMode::CreateReadWrite));
  EXPECT_TRUE(fs::exists(dir.path().string() + "/\xC3\xA4\xCF\x81\xF0\x9F\x98\x80.bin"));
  file.close();
  fs::remove(dir.path().string() + "/\xC3\xA4\xCF\x81\xF0\x9F\x98\x80.bin");
  for (std::u16string name : {std::u16string(u"a") + char16_t(0xD800) + u"b.rvx",
                              std::u16string(u"a") + char16_t(0xDC00) + u".rvx",
                              std::u16string(u"end") + char16_t(0xD83D)}) {
    const std::u16string bad = widePath(dir.path()) + u"/" + name;
    EXPECT_FALSE(file.open(bad.c_str(), OpenMode::CreateReadWrite));
    EXPECT_NE(platform::lastError(), 0u);
    EXPECT_FALSE(platform::removeFile(bad.c_str()));
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

}  // namespace
}  // namespace kdrvx::test
