// KDRVX_DeleteFile: deletes exactly the named file; a failure is only traced,
// whatever the debug mask.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

class Deletion : public ::testing::Test {
 protected:
  ScratchDir dir;
  TraceCapture capture;
};

TEST_F(Deletion, RemovesAWritableFileSilently) {
  writeBytes(dir.file("run1.rvx"), "data");
  KDRVX_DeleteFile(c(dir.wide("run1.rvx")));
  EXPECT_FALSE(fs::exists(dir.file("run1.rvx")));
  EXPECT_TRUE(capture.lines().empty());
}

TEST_F(Deletion, LeavesTheSummaryFileInPlace) {
  writeBytes(dir.file("run1.rvx"), "data");
  writeBytes(dir.file("run1.RVI"), "summary");
  KDRVX_DeleteFile(c(dir.wide("run1.rvx")));
  EXPECT_FALSE(fs::exists(dir.file("run1.rvx")));
  EXPECT_EQ(readBytes(dir.file("run1.RVI")), "summary");
}

TEST_F(Deletion, MissingFileIsTracedEvenWithMaskZero) {
  const std::u16string path = dir.wide("missing.rvx");
  KDRVX_DeleteFile(c(path));
  ASSERT_EQ(capture.lines().size(), 2u);
  EXPECT_EQ(capture.lines()[0], u"throw exception ");
  EXPECT_EQ(capture.lines()[1], path);
}

TEST_F(Deletion, DetailAndCallLinesInOrder) {
  const std::u16string path = dir.wide("run2.rvx");
  writeBytes(dir.file("run2.rvx"), "x");
  setMaskQuietly(capture, static_cast<int16_t>(0x8008));
  KDRVX_DeleteFile(c(path));
  EXPECT_EQ(capture.lines(), (std::vector<std::u16string>{u"KDrvxLibrary: KDRVX_DeleteFile()", path,
                                                          u"end delete"}));
  capture.clear();
  KDRVX_DeleteFile(c(path));  // now missing
  EXPECT_EQ(capture.lines(),
            (std::vector<std::u16string>{u"KDrvxLibrary: KDRVX_DeleteFile()", path,
                                         u"throw exception ", path, u"end delete"}));
}

TEST_F(Deletion, NullPathFailsLikeAMissingFile) {
  KDRVX_DeleteFile(nullptr);
  EXPECT_EQ(capture.lines(), (std::vector<std::u16string>{u"throw exception ", u""}));
}

TEST_F(Deletion, RefusesAFileHeldOpenWithoutSharing) {
  writeBytes(dir.file("held.rvx"), "data");
  const std::u16string path = dir.wide("held.rvx");
  for (platform::OpenMode mode : {platform::OpenMode::ReadShared, platform::OpenMode::ReadExclusive,
                                  platform::OpenMode::OpenReadWrite}) {
    capture.clear();
    platform::File holder;
    ASSERT_TRUE(holder.open(path.c_str(), mode));
    KDRVX_DeleteFile(c(path));
    EXPECT_TRUE(fs::exists(dir.file("held.rvx")));
    EXPECT_EQ(capture.lines(), (std::vector<std::u16string>{u"throw exception ", path}));
  }
  KDRVX_DeleteFile(c(path));  // released: now it goes
  EXPECT_FALSE(fs::exists(dir.file("held.rvx")));
}

TEST_F(Deletion, RefusesAReadOnlyFile) {
  writeBytes(dir.file("ro.rvx"), "data");
  fs::permissions(dir.file("ro.rvx"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  KDRVX_DeleteFile(c(dir.wide("ro.rvx")));
  EXPECT_TRUE(fs::exists(dir.file("ro.rvx")));
  EXPECT_EQ(capture.lines().size(), 2u);
}

TEST_F(Deletion, NamesBeyondLatin1) {
  const fs::path file = dir.path() / fs::path(u8"\u03A9mega-\u20AC-\U0001F600.rvx");
  writeBytes(file, "data");
  KDRVX_DeleteFile(c(widePath(file)));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(capture.lines().empty());
}

}  // namespace
}  // namespace kdrvx::test
