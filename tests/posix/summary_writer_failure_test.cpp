// A summary file whose writing fails part-way, as on a full disk: a child
// process with a file-size limit of 30 bytes writes it.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <memory>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "format/labels.h"
#include "format/summary_writer.h"
#include "support/test_support.h"

namespace kdrvx::format {
namespace {

TEST(SummaryFileWriteFailure, StopsReportsCreateErrorAndKeepsWhatWasWritten) {
  test::ScratchDir dir;
  auto header = std::make_unique<RVX_HEADER>();
  std::memset(header.get(), 0, sizeof(RVX_HEADER));
  std::memcpy(header->Company, u"ACME", 8);
  char16_t path[kCreatePathCapacity] = {};
  dir.wide("run.RVX").copy(path, kCreatePathCapacity - 1);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {30, 30};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(static_cast<int>(writeSummaryFile(path, nullptr, *header, labelTableForLanguage(1)) & 0xFF));
  }
  int wait = 0;
  ASSERT_EQ(waitpid(child, &wait, 0), child);
  ASSERT_TRUE(WIFEXITED(wait));
  EXPECT_EQ(WEXITSTATUS(wait), static_cast<int>(KDRVX_ERR_RVI_CREATE & 0xFF));
  EXPECT_EQ(test::readBytes(dir.file("run.RVI")), "Company         :  ACME\r\nInstr");
}

}  // namespace
}  // namespace kdrvx::format
