// Live recordings, in both builds: a reader follows a file while the create
// context records it, sees every whole record once, tells a closed
// recording from an interrupted one, and a live recording closes into the
// same bytes as one recorded without sharing.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/test_support.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

constexpr uint32_t kChannels = 3;

std::vector<float> recordsFrom(uint32_t first, uint32_t count) {
  std::vector<float> values(static_cast<size_t>(count) * kChannels);
  for (size_t i = 0; i < values.size(); ++i)
    values[i] = static_cast<float>(first * kChannels + i) * 0.5f;
  return values;
}

class LiveTest : public WriteTest {
 protected:
  void TearDown() override {
    if (reader != nullptr) KDRVX_ReaderClose(reader);
    WriteTest::TearDown();
  }

  // Creates `name` live, with a fixed date and time so that files of the
  // two creates compare byte for byte.
  std::u16string createLive(const std::string& name, bool legacy = false,
                            int32_t language = 255) {
    std::u16string path = dir.wide(name);
    EXPECT_EQ(KDRVX_CreateLive(writable(path), 0, 1, legacy, language), KDRVX_OK);
    describe();
    return path;
  }
  static void describe() {
    EXPECT_EQ(KDRVX_SetDate(c(u"07.12.2026")), KDRVX_OK);
    EXPECT_EQ(KDRVX_SetTime(c(u"10:15:30")), KDRVX_OK);
    EXPECT_EQ(KDRVX_SetComment(c(u"followed")), KDRVX_OK);
    for (const char16_t* variable : {u"p1", u"T2", u"dp3"})
      EXPECT_LT(KDRVX_AddChannel(c(variable)), 48u);
  }

  KDRVX_LiveState refresh() {
    KDRVX_LiveState state{};
    state.size = sizeof state;
    EXPECT_EQ(KDRVX_ReaderRefresh(reader, &state), KDRVX_OK);
    return state;
  }

  std::vector<float> read(uint64_t first, uint32_t count) {
    std::vector<float> values(static_cast<size_t>(count) * kChannels);
    EXPECT_EQ(KDRVX_ReaderRead(reader, static_cast<int64_t>(first), count, values.data()),
              count);
    return values;
  }

  KDRVX_Reader* reader = nullptr;
};

TEST_F(LiveTest, FollowerSeesEveryRecordOnceAndTheFinishedRecording) {
  const std::u16string path = createLive("live.rvx");
  // Nothing is written before the first record: the follower waits for the
  // header, and gives up with the open's status when its time is over.
  KDRVX_LiveState opened{};
  opened.size = sizeof opened;
  EXPECT_EQ(KDRVX_ReaderOpenLive(c(path), 30, &reader, &opened), KDRVX_ERR_RVX_INVALID_HEADER);
  EXPECT_EQ(reader, nullptr);
  EXPECT_EQ(opened.state, KDRVX_LIVE_RECORDING);

  const std::vector<float> all = recordsFrom(0, 10);
  ASSERT_EQ(KDRVX_AddRecords(all.data(), 4), KDRVX_OK);
  ASSERT_EQ(KDRVX_ReaderOpenLive(c(path), 0, &reader, nullptr), KDRVX_OK);
  KDRVX_LiveState state = refresh();
  EXPECT_EQ(state.state, KDRVX_LIVE_RECORDING);
  EXPECT_EQ(state.records, 4u);
  EXPECT_EQ(read(0, 4), std::vector<float>(all.begin(), all.begin() + 4 * kChannels));

  // The header still counts the first record: the length decides.
  KDRVX_RecordingInfo info{};
  info.size = sizeof info;
  ASSERT_EQ(KDRVX_ReaderInfo(reader, &info), KDRVX_OK);
  EXPECT_EQ(info.noRecords, 1u);

  // An update writes the header without letting go of the file.
  ASSERT_EQ(KDRVX_AddRecords(all.data() + 4 * kChannels, 3), KDRVX_OK);
  ASSERT_EQ(KDRVX_Update(), KDRVX_OK);
  ASSERT_EQ(KDRVX_AddRecord(all.data() + 7 * kChannels), KDRVX_OK);
  state = refresh();
  EXPECT_EQ(state.state, KDRVX_LIVE_RECORDING);
  EXPECT_EQ(state.records, 8u);
  EXPECT_EQ(read(4, 4),
            std::vector<float>(all.begin() + 4 * kChannels, all.begin() + 8 * kChannels));

  // Waiting for more than the follower has: the time passes without them,
  // a record that arrives ends the wait.
  ASSERT_EQ(KDRVX_ReaderWait(reader, 8, 20, &state), KDRVX_OK);
  EXPECT_EQ(state.records, 8u);
  ASSERT_EQ(KDRVX_AddRecords(all.data() + 8 * kChannels, 2), KDRVX_OK);
  ASSERT_EQ(KDRVX_ReaderWait(reader, 8, 60000, &state), KDRVX_OK);
  EXPECT_EQ(state.records, 10u);

  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  ASSERT_EQ(KDRVX_ReaderWait(reader, 10, 60000, &state), KDRVX_OK);
  EXPECT_EQ(state.state, KDRVX_LIVE_CLOSED);
  EXPECT_EQ(state.records, 10u);
  // The reader now holds the finished recording: its count and statistics.
  ASSERT_EQ(KDRVX_ReaderInfo(reader, &info), KDRVX_OK);
  EXPECT_EQ(info.noRecords, 10u);
  EXPECT_EQ(info.flagStatistics, 3u);
  KDRVX_Findings findings{};
  findings.size = sizeof findings;
  ASSERT_EQ(KDRVX_ReaderFindings(reader, &findings), KDRVX_OK);
  EXPECT_EQ(findings.findings, 0u);
  EXPECT_EQ(read(0, 10), all);
}

TEST_F(LiveTest, ClosesIntoTheBytesOfARecordingMadeWithoutSharing) {
  const std::vector<float> all = recordsFrom(0, 6);
  for (const bool legacy : {false, true}) {
    const std::string suffix = legacy ? "-compact" : "";
    std::u16string plain = dir.wide("plain" + suffix + ".rvx");
    ASSERT_EQ(KDRVX_CreateExt(writable(plain), 0, 1, legacy, legacy ? 1 : 255), KDRVX_OK);
    describe();
    ASSERT_EQ(KDRVX_AddRecords(all.data(), 2), KDRVX_OK);
    ASSERT_EQ(KDRVX_Update(), KDRVX_OK);
    ASSERT_EQ(KDRVX_AddRecords(all.data() + 2 * kChannels, 4), KDRVX_OK);
    ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);

    const std::u16string live = createLive("live" + suffix + ".rvx", legacy, legacy ? 1 : 255);
    ASSERT_EQ(KDRVX_AddRecords(all.data(), 2), KDRVX_OK);
    ASSERT_EQ(KDRVX_Update(), KDRVX_OK);
    ASSERT_EQ(KDRVX_AddRecords(all.data() + 2 * kChannels, 4), KDRVX_OK);
    ASSERT_EQ(KDRVX_ReaderOpenLive(c(live), 0, &reader, nullptr), KDRVX_OK);
    ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
    // A compact recording is let go only with its RVI file written.
    EXPECT_EQ(refresh().state, KDRVX_LIVE_CLOSED) << suffix;
    KDRVX_Findings findings{};
    findings.size = sizeof findings;
    ASSERT_EQ(KDRVX_ReaderFindings(reader, &findings), KDRVX_OK);
    EXPECT_EQ(findings.findings, 0u) << suffix;
    KDRVX_ReaderClose(reader);
    reader = nullptr;

    EXPECT_EQ(bytes("live" + suffix + ".rvx"), bytes("plain" + suffix + ".rvx")) << suffix;
    if (legacy) {
      // The RVI files differ in the name they give, and nowhere else.
      std::string summary = bytes("live-compact.RVI");
      summary.replace(summary.find("live-compact"), 12, "plain-compact");
      EXPECT_EQ(summary, bytes("plain-compact.RVI"));
    }
  }
}

TEST_F(LiveTest, AWriterThatStopsWithoutClosingLeavesAnInterruptedRecording) {
  const std::u16string path = createLive("cut.rvx");
  const std::vector<float> all = recordsFrom(0, 5);
  ASSERT_EQ(KDRVX_AddRecords(all.data(), 5), KDRVX_OK);
  ASSERT_EQ(KDRVX_ReaderOpenLive(c(path), 0, &reader, nullptr), KDRVX_OK);
  // The simple close lets go of the file without its final header, as a
  // writer that dies does.
  ASSERT_EQ(KDRVX_CloseCreateSimple(), KDRVX_OK);
  KDRVX_LiveState state{};
  state.size = sizeof state;
  // Waited through like a running recording: the time ends the wait.
  ASSERT_EQ(KDRVX_ReaderWait(reader, 5, 30, &state), KDRVX_OK);
  EXPECT_EQ(state.state, KDRVX_LIVE_INTERRUPTED);
  EXPECT_EQ(state.records, 5u);
  EXPECT_EQ(read(0, 5), all);

  // Repair completes it; the follower then sees a closed recording.
  KDRVX_ReaderClose(reader);
  reader = nullptr;
  const std::u16string repaired = dir.wide("repaired.rvx");
  KDRVX_RepairReport report{};
  report.size = sizeof report;
  ASSERT_EQ(KDRVX_Repair(c(path), c(repaired), &report, nullptr, nullptr), KDRVX_OK);
  ASSERT_EQ(KDRVX_ReaderOpenLive(c(repaired), 0, &reader, nullptr), KDRVX_OK);
  EXPECT_EQ(refresh().state, KDRVX_LIVE_CLOSED);
}

TEST_F(LiveTest, TheLiveWriterSharesReadingOnly) {
  writeBytes(dir.file("kept.rvx"), "not a recording");
  std::u16string kept = dir.wide("kept.rvx");
  // Without overwrite, an existing file is never touched.
  EXPECT_EQ(KDRVX_CreateLive(writable(kept), 0, 1, 0, 255), KDRVX_ERR_RVX_ALREADY_EXISTS);
  EXPECT_EQ(bytes("kept.rvx"), "not a recording");
  // A file that no writer holds and that is no recording fails at once.
  const auto start = std::chrono::steady_clock::now();
  KDRVX_LiveState opened{};
  opened.size = sizeof opened;
  EXPECT_EQ(KDRVX_ReaderOpenLive(c(kept), 60000, &reader, &opened), KDRVX_ERR_RVX_INVALID_HEADER);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(opened.state, KDRVX_LIVE_CLOSED);
  // Nothing at the path: the follower waits, then says so.
  EXPECT_EQ(KDRVX_ReaderOpenLive(c(dir.wide("none.rvx")), 20, &reader, &opened),
            KDRVX_ERR_RVX_OPEN_READ);
  EXPECT_EQ(opened.state, KDRVX_LIVE_MISSING);

  const std::u16string path = createLive("held.rvx");
  const std::vector<float> all = recordsFrom(0, 2);
  ASSERT_EQ(KDRVX_AddRecords(all.data(), 2), KDRVX_OK);
  // Readers of the contract open it too; writers and deletion are refused.
  ASSERT_EQ(KDRVX_OpenRead(c(path)), KDRVX_OK);
  EXPECT_EQ(KDRVX_GetNoRecords(), 1u);
  ASSERT_EQ(KDRVX_CloseRead(), KDRVX_OK);
  EXPECT_EQ(KDRVX_OpenModify(c(path)), KDRVX_ERR_RVX_OPEN_MODIFY);
  KDRVX_DeleteFile(c(path));
  ASSERT_EQ(KDRVX_ReaderOpenLive(c(path), 0, &reader, nullptr), KDRVX_OK);
  EXPECT_EQ(refresh().records, 2u);
  EXPECT_EQ(KDRVX_ReaderRefresh(nullptr, nullptr), KDRVX_ERR_RVX_NOT_OPEN_READ);
  KDRVX_LiveState tiny{};
  EXPECT_EQ(KDRVX_ReaderRefresh(reader, &tiny), KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
}

}  // namespace
}  // namespace kdrvx::test
