// Paths that name a named pipe or a device: every export that opens or
// deletes by path refuses them at once, as it refuses a directory (system
// error 5), and never waits for somebody at the other end of a pipe.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "kdrvx/kdrvx.h"
#include "support/read_support.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

using Lines = std::vector<std::string>;

class SpecialFiles : public ReadTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkfifo(dir.file("pipe.rvx").c_str(), 0666), 0);
    // A call that waits on the pipe would hang the suite: end it instead.
    alarm(60);
  }
  void TearDown() override {
    alarm(0);
    KDRVX_CloseModify();
    KDRVX_CloseCreateSimple();
    ReadTest::TearDown();
  }
  std::u16string pipe = dir.wide("pipe.rvx");
  TraceCapture capture;
};

TEST_F(SpecialFiles, PipeIsNeitherReadNorModifiedNorCreatedOver) {
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  EXPECT_EQ(KDRVX_OpenRead(c(pipe)), KDRVX_ERR_RVX_OPEN_READ);
  EXPECT_EQ(KDRVX_OpenModify(c(pipe)), KDRVX_ERR_RVX_OPEN_MODIFY);
  // The existence check does not take the pipe for a file, and creating
  // over it is refused.
  std::u16string create = pipe;
  EXPECT_EQ(KDRVX_CreateExt(writable(create), 0, 1, 0, 1), KDRVX_ERR_RVX_CREATE);
  create = pipe;
  EXPECT_EQ(KDRVX_CreateExt(writable(create), 1, 1, 0, 1), KDRVX_ERR_RVX_CREATE);
  const std::string pathLine = narrow(pipe);
  EXPECT_EQ(capture.narrowLines(),
            (Lines{"KDrvxLibrary: Error 0x00000005", "KDrvxLibrary: Error 0x00000005",
                   "KDrvxLibrary: Error 0x00000005", pathLine, "KDrvxLibrary: Error 0x00000005",
                   pathLine}));
  EXPECT_TRUE(std::filesystem::is_fifo(dir.file("pipe.rvx")));
}

TEST_F(SpecialFiles, PipeIsNotDeleted) {
  KDRVX_DeleteFile(c(pipe));
  EXPECT_EQ(capture.narrowLines(), (Lines{"throw exception ", narrow(pipe)}));
  EXPECT_TRUE(std::filesystem::is_fifo(dir.file("pipe.rvx")));
}

TEST_F(SpecialFiles, PipeInPlaceOfTheRviFileCountsAsNoRviFile) {
  TestRecording r = recording(64, 1);
  r.company = u"from the header";
  ASSERT_EQ(mkfifo(dir.file("old.RVI").c_str(), 0666), 0);
  ASSERT_EQ(open(win3Header(r) + floatRecords({{1}}), "old.rvx"), 0u);
  EXPECT_EQ(text(KDRVX_GetCompany), u"");
  EXPECT_EQ(KDRVX_GetNoRecords(), 1u);
}

TEST_F(SpecialFiles, DeviceIsRefusedLikeADirectory) {
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  EXPECT_EQ(KDRVX_OpenRead(c(u"/dev/null")), KDRVX_ERR_RVX_OPEN_READ);
  EXPECT_EQ(capture.narrowLines(), Lines{"KDrvxLibrary: Error 0x00000005"});
}

}  // namespace
}  // namespace kdrvx::test
