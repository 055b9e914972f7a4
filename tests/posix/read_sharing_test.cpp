// KDRVX_OpenRead against another process that holds the file: one retry
// after 2 seconds on a sharing violation, and an RVI file that another
// process holds counts as missing.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "posix/holder_process.h"
#include "support/read_support.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

class ReadSharing : public ReadTest {
 protected:
  void SetUp() override {
    writeBytes(dir.file("f.rvx"), win3Header(recording(64, 1)));
    writeRvi("Company: ACME\r\n");
  }
  uint32_t openTimed() {
    const auto start = Clock::now();
    const uint32_t status = KDRVX_OpenRead(c(dir.wide("f.rvx")));
    waited = Clock::now() - start;
    return status;
  }
  Clock::duration waited{};
};

TEST_F(ReadSharing, AFileHeldWithoutSharingIsTriedOnceMoreAfterTwoSeconds) {
  HolderProcess holder(dir.file("f.rvx"), HolderProcess::Lock::Exclusive);
  ASSERT_TRUE(holder.holding());
  TraceCapture capture;
  setMaskQuietly(capture, KDRVX_DEBUG_CALLS | KDRVX_DEBUG_ERRORS);
  EXPECT_EQ(openTimed(), KDRVX_ERR_RVX_SHARING_VIOLATION);
  // One pause and one retry: the trace says how many, the clock only that
  // the pause was taken.
  EXPECT_GE(waited, std::chrono::milliseconds(2000));
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVX_SHARING_VIOLATION);
  EXPECT_EQ(capture.narrowLines(), (Lines{"KDrvxLibrary: KDRVX_OpenRead()",
                                          "KDrvxLibrary: File in use, repeat access after 2 sec",
                                          "KDrvxLibrary: Error 0x00000020"}));
}

TEST_F(ReadSharing, AFileReleasedDuringThePauseOpens) {
  HolderProcess holder(dir.file("f.rvx"), HolderProcess::Lock::Exclusive);
  ASSERT_TRUE(holder.holding());
  holder.releaseAfter(300);
  EXPECT_EQ(openTimed(), 0u);
  EXPECT_GE(waited, std::chrono::milliseconds(2000));
  EXPECT_EQ(text(KDRVX_GetCompany), u"ACME");
}

TEST_F(ReadSharing, SharedHoldersDoNotDelayButAHeldRviFileIsNotRead) {
  HolderProcess rvx(dir.file("f.rvx"), HolderProcess::Lock::Shared);
  HolderProcess rvi(dir.file("f.RVI"), HolderProcess::Lock::Shared);
  ASSERT_TRUE(rvx.holding() && rvi.holding());
  TraceCapture capture;
  setMaskQuietly(capture, KDRVX_DEBUG_CALLS);
  EXPECT_EQ(openTimed(), 0u);
  EXPECT_EQ(capture.narrowLines(),
            (Lines{"KDrvxLibrary: KDRVX_OpenRead()", "KDrvxLibrary: RVX version WIN 3.x/4.x "}))
      << "no pause";
  EXPECT_EQ(text(KDRVX_GetCompany), u"");
  KDRVX_CloseRead();
  rvi.release();
  EXPECT_EQ(openTimed(), 0u);
  EXPECT_EQ(text(KDRVX_GetCompany), u"ACME");
}

}  // namespace
}  // namespace kdrvx::test
