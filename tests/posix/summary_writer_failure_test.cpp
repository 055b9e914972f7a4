// An RVI file whose writing fails part-way, as on a full disk: a child
// process with a file-size limit that the compact RVX file fits and its RVI
// file does not finishes a recording.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include <sys/resource.h>

#include "kdrvx/kdrvx.h"
#include "posix/holder_process.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

TEST(SummaryFileWriteFailure, ReportsCreateErrorAndKeepsWhatWasWritten) {
  ScratchDir dir;
  const int status = exitStatusOfChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    std::u16string path = dir.wide("run.RVX");
    if (KDRVX_CreateExt(writable(path), 1, 1, 1, 1) != KDRVX_OK) return 1;
    if (KDRVX_SetCompany(c(u"ACME")) != KDRVX_OK || KDRVX_AddChannel(c(u"p1")) != 0) return 2;
    const float value = 1;
    if (KDRVX_AddRecord(&value) != KDRVX_OK) return 3;
    const struct rlimit limit = {400, 400};  // the RVX file is 360 bytes
    setrlimit(RLIMIT_FSIZE, &limit);
    return static_cast<int>(KDRVX_CloseCreate() & 0xFF);
  });
  EXPECT_EQ(status, static_cast<int>(KDRVX_ERR_RVI_CREATE & 0xFF));
  EXPECT_EQ(readBytes(dir.file("run.RVX")).size(), 360u);
  const std::string summary = readBytes(dir.file("run.RVI"));
  EXPECT_EQ(summary.size(), 400u);
  EXPECT_EQ(summary.substr(0, 30), "Company         :  ACME\r\nInstr");
}

}  // namespace
}  // namespace kdrvx::test
