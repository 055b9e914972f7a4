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

using WideLines = std::vector<std::u16string>;
namespace fs = std::filesystem;

class Deletion : public ::testing::Test {
 protected:
  ScratchDir dir;
  TraceCapture capture;
};

// A writable file goes silently; the summary file beside it stays. (Names
// beyond Latin-1: hostile_paths_test.cpp.)
TEST_F(Deletion, RemovesExactlyTheNamedFileSilently) {
  writeBytes(dir.file("run1.rvx"), "data");
  writeBytes(dir.file("run1.RVI"), "summary");
  KDRVX_DeleteFile(c(dir.wide("run1.rvx")));
  EXPECT_FALSE(fs::exists(dir.file("run1.rvx")));
  EXPECT_EQ(readBytes(dir.file("run1.RVI")), "summary");
  EXPECT_TRUE(capture.lines().empty());
}

TEST_F(Deletion, FailuresAreTracedEvenWithMaskZero) {
  const std::u16string path = dir.wide("missing.rvx");
  KDRVX_DeleteFile(c(path));
  EXPECT_EQ(capture.lines(), (WideLines{u"throw exception ", path}));
  capture.clear();
  KDRVX_DeleteFile(nullptr);  // like a missing file
  EXPECT_EQ(capture.lines(), (WideLines{u"throw exception ", u""}));
  // A read-only file stays.
  writeBytes(dir.file("ro.rvx"), "data");
  fs::permissions(dir.file("ro.rvx"), fs::perms::owner_read | fs::perms::group_read);
  capture.clear();
  KDRVX_DeleteFile(c(dir.wide("ro.rvx")));
  EXPECT_TRUE(fs::exists(dir.file("ro.rvx")));
  EXPECT_EQ(capture.lines(), (WideLines{u"throw exception ", dir.wide("ro.rvx")}));
}

TEST_F(Deletion, DetailAndCallLinesInOrder) {
  const std::u16string path = dir.wide("run2.rvx");
  writeBytes(dir.file("run2.rvx"), "x");
  setMaskQuietly(capture, static_cast<int16_t>(0x8008));
  KDRVX_DeleteFile(c(path));
  EXPECT_EQ(capture.lines(), (WideLines{u"KDrvxLibrary: KDRVX_DeleteFile()", path, u"end delete"}));
  capture.clear();
  KDRVX_DeleteFile(c(path));  // now missing
  EXPECT_EQ(capture.lines(), (WideLines{u"KDrvxLibrary: KDRVX_DeleteFile()", path,
                                    u"throw exception ", path, u"end delete"}));
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
    EXPECT_EQ(capture.lines(), (WideLines{u"throw exception ", path}));
  }
  KDRVX_DeleteFile(c(path));  // released: now it goes
  EXPECT_FALSE(fs::exists(dir.file("held.rvx")));
}

}  // namespace
}  // namespace kdrvx::test
