// Failures around a recording (crash_safety_test.cpp kills it): a write the
// file system refuses (a file size limit standing in for a full disk) is
// not counted, leaves no stray bytes and is taken over by the next record;
// a refused first record leaves the context and the file as they were; a
// summary file whose writing fails part-way is reported after the file is
// finished; a file that cannot be reopened is never replaced by another
// one of the same name.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>

#include "kdrvx/kdrvx.h"
#include "posix/holder_process.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

std::vector<float> valuesAt(const std::string& disk, size_t offset) {
  std::vector<float> values((disk.size() - offset) / 4);
  std::memcpy(values.data(), disk.data() + offset, values.size() * 4);
  return values;
}

// Limits the size of every file this process writes (the child's stand-in
// for a full disk); RLIM_INFINITY lifts the limit again.
bool limitFileSize(rlim_t bytes) {
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = bytes == RLIM_INFINITY ? limit.rlim_max : bytes;
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

TEST(RecordingProcess, RefusedWriteLeavesNoStrayBytesAndTheNextRecordTakesItsPlace) {
  ScratchDir dir;
  const int status = exitStatusOfChild([&] {
    std::u16string path = dir.wide("full.rvx");
    if (KDRVX_Create(writable(path), 1, 1) != KDRVX_OK || KDRVX_AddChannel(c(u"p1")) != 0) return 1;
    // Room for three records and half of a fourth.
    if (!limitFileSize(2900 + 3 * 4 + 2)) return 2;
    for (float value : {1.0f, 2.0f, 3.0f})
      if (KDRVX_AddRecord(&value) != KDRVX_OK) return 3;
    const float four = 4, five = 5;
    if (KDRVX_AddRecord(&four) != KDRVX_ERR_RVX_OPEN_WRITE) return 4;
    if (std::filesystem::file_size(dir.file("full.rvx")) != 2900 + 3 * 4) return 5;
    if (!limitFileSize(RLIM_INFINITY)) return 6;
    // The update reopens the file at its end, which is where record 4 goes.
    if (KDRVX_Update() != KDRVX_OK) return 7;
    if (KDRVX_AddRecord(&four) != KDRVX_OK || KDRVX_AddRecord(&five) != KDRVX_OK) return 8;
    return KDRVX_CloseCreate() == KDRVX_OK ? 0 : 9;
  });
  ASSERT_EQ(status, 0);
  const std::string disk = readBytes(dir.file("full.rvx"));
  EXPECT_EQ(valuesAt(disk, 2900), (std::vector<float>{1, 2, 3, 4, 5}));
  const auto h = imageAt<format::RVX_HEADER>(disk);
  EXPECT_EQ(h.NoRecords, 5u);
  EXPECT_EQ(h.Channel[0].MeanValue, 3.0f);
}

TEST(RecordingProcess, RefusedFirstRecordLeavesContextAndFileAsTheyWere) {
  ScratchDir dir;
  const int status = exitStatusOfChild([&] {
    std::u16string path = dir.wide("first.rvx");
    if (KDRVX_Create(writable(path), 1, 1) != KDRVX_OK || KDRVX_AddChannel(c(u"p1")) != 0) return 1;
    const std::string before = readBytes(dir.file("first.rvx"));
    if (!limitFileSize(2900 + 2)) return 2;
    const float one = 1;
    if (KDRVX_AddRecord(&one) != KDRVX_ERR_RVX_OPEN_WRITE) return 3;
    if (readBytes(dir.file("first.rvx")) != before) return 4;
    if (!limitFileSize(RLIM_INFINITY)) return 5;
    // Channels can still be added: no record was taken.
    if (KDRVX_AddChannel(c(u"T1")) != 1) return 6;
    return KDRVX_CloseCreateSimple() == KDRVX_OK ? 0 : 7;
  });
  ASSERT_EQ(status, 0);
  const std::string disk = readBytes(dir.file("first.rvx"));
  EXPECT_EQ(disk.size(), 1500u + 2 * 1400);
  const auto h = imageAt<format::RVX_HEADER>(disk);
  EXPECT_EQ(h.NoRecords, 0u);
  EXPECT_EQ(h.NoChannels, 2u);
  EXPECT_EQ(h.Channel[0].MinValue, 0.0f);
}

// A block is all or nothing: refused at its first byte or part-way (a
// short write), whether it begins the recording (and writes the header) or
// follows records, in a file under creation or one open for modification,
// none of its records counts, the file is cut back to where the block
// began, and the same block written once there is room leaves the very
// file a recording without the refusal leaves.
TEST(RecordingProcess, RefusedBlockCountsNothingAndIsCutBack) {
  constexpr uintmax_t kHeader = 1500 + 2 * 1400;
  const float records[7][2] = {{1, -1}, {2, -2}, {3, 5}, {9, -9}, {0.5f, 8}, {-4, 4}, {6, 0}};
  struct Fault {
    const char* what;
    bool modify;
    uint32_t held;  // records before the refused block
    uint32_t room;  // bytes of the block that fit
  };
  const Fault faults[] = {{"first block, short write", false, 0, 10},
                          {"refused at its first byte", false, 3, 0},
                          {"short write", false, 3, 10},
                          {"file open for modification, short write", true, 3, 10}};
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.what);
    ScratchDir dir;
    const auto record = [&](const std::string& name, bool refuse) {
      std::u16string path = dir.wide(name);
      if (KDRVX_Create(writable(path), 1, 1) != KDRVX_OK || KDRVX_AddChannel(c(u"p1")) != 0 ||
          KDRVX_AddChannel(c(u"T1")) != 1 || KDRVX_SetTime(c(u"9:05")) != KDRVX_OK ||
          KDRVX_SetDate(c(u"7.3.2024")) != KDRVX_OK)
        return 1;
      if (KDRVX_AddRecords(records[0], fault.held) != KDRVX_OK) return 2;
      if (fault.modify &&
          (KDRVX_CloseCreate() != KDRVX_OK || KDRVX_OpenModify(c(path)) != KDRVX_OK))
        return 3;
      const float* block = records[fault.held];
      const uintmax_t before = std::filesystem::file_size(dir.file(name));
      if (refuse) {
        if (!limitFileSize(before + fault.room)) return 4;
        const uint32_t refused =
            fault.modify ? KDRVX_ERR_RVX_OPEN_MODIFY : KDRVX_ERR_RVX_OPEN_WRITE;
        if (KDRVX_AddRecords(block, 4) != refused) return 5;
        if (std::filesystem::file_size(dir.file(name)) != before) return 6;
        if (!limitFileSize(RLIM_INFINITY)) return 7;
      }
      if (KDRVX_AddRecords(block, 4) != KDRVX_OK) return 8;
      return (fault.modify ? KDRVX_CloseModify() : KDRVX_CloseCreate()) == KDRVX_OK ? 0 : 9;
    };
    EXPECT_EQ(exitStatusOfChild([&] { return record("refused.rvx", true); }), 0);
    EXPECT_EQ(exitStatusOfChild([&] { return record("plain.rvx", false); }), 0);
    const std::string refused = readBytes(dir.file("refused.rvx"));
    EXPECT_TRUE(refused == readBytes(dir.file("plain.rvx")));
    EXPECT_EQ(refused.size(), kHeader + 8 * (fault.held + 4));
  }
}

// The compact file fits under the limit, its summary file does not.
TEST(RecordingProcess, SummaryFileWriteFailureIsReportedAndKeepsWhatWasWritten) {
  ScratchDir dir;
  const int status = exitStatusOfChild([&] {
    std::u16string path = dir.wide("run.RVX");
    if (KDRVX_CreateExt(writable(path), 1, 1, 1, 1) != KDRVX_OK) return 1;
    if (KDRVX_SetCompany(c(u"ACME")) != KDRVX_OK || KDRVX_AddChannel(c(u"p1")) != 0) return 2;
    const float value = 1;
    if (KDRVX_AddRecord(&value) != KDRVX_OK || !limitFileSize(400)) return 3;
    return static_cast<int>(KDRVX_CloseCreate() & 0xFF);
  });
  EXPECT_EQ(status, static_cast<int>(KDRVX_ERR_RVI_CREATE & 0xFF));
  EXPECT_EQ(readBytes(dir.file("run.RVX")).size(), 360u);
  const std::string summary = readBytes(dir.file("run.RVI"));
  EXPECT_EQ(summary.size(), 400u);
  EXPECT_EQ(summary.substr(0, 30), "Company         :  ACME\r\nInstr");
}

// A umask that takes every write bit does not make a new file read-only
// for the library that creates it and reopens it at each update.
TEST(RecordingProcess, UmaskWithoutWriteBitsStillRecords) {
  ScratchDir dir;
  const mode_t previous = umask(0222);
  std::u16string path = dir.wide("u.rvx");
  const uint32_t created = KDRVX_CreateExt(writable(path), 0, 1, 1, 1);
  uint32_t closed = KDRVX_ERR_RVX_NOT_OPEN_WRITE;
  if (created == KDRVX_OK) {
    KDRVX_AddChannel(c(u"p1"));
    const float record[] = {2};
    KDRVX_AddRecord(record);
    KDRVX_Update();
    KDRVX_AddRecord(record);
    closed = KDRVX_CloseCreate();
  }
  umask(previous);
  ASSERT_EQ(created, KDRVX_OK);
  EXPECT_EQ(closed, KDRVX_OK);
  EXPECT_EQ(imageAt<format::RVX_HEADER_W3>(readBytes(dir.file("u.rvx"))).NoRecords, 2u);
  EXPECT_TRUE(std::filesystem::exists(dir.file("u.RVI")));
}

class Reopen : public WriteTest {};

// Renaming a file that is held open works on POSIX only.
TEST_F(Reopen, FailedReopenNeverReachesAnotherFile) {
  create("r.rvx", {u"p1"});
  const float record[] = {1};
  KDRVX_AddRecord(record);
  KDRVX_AddRecord(record);
  std::filesystem::rename(dir.file("r.rvx"), dir.file("moved.rvx"));
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  EXPECT_EQ(KDRVX_Update(), KDRVX_ERR_RVX_OPEN_WRITE);
  EXPECT_EQ(capture.narrowLines(), std::vector<std::string>({"KDrvxLibrary: Error 0x00000002"}));
  EXPECT_EQ(header("moved.rvx").NoRecords, 2u);  // the header was written before the reopen
  writeBytes(dir.file("r.rvx"), "someone else's");
  EXPECT_EQ(KDRVX_AddRecord(record), KDRVX_ERR_RVX_OPEN_WRITE);
  EXPECT_EQ(KDRVX_CloseCreate(), KDRVX_ERR_RVX_OPEN_WRITE);
  EXPECT_EQ(bytes("r.rvx"), "someone else's");
  EXPECT_EQ(bytes("moved.rvx").size(), 2908u);
  EXPECT_EQ(KDRVX_SetComment(nullptr), KDRVX_ERR_RVX_NOT_OPEN_WRITE);  // closed all the same
}

}  // namespace
}  // namespace kdrvx::test
