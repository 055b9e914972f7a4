// Records of a file under creation: placement on disk, running statistics,
// updates during the recording, raw blocks and what each close leaves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using format::RVX_HEADER;
using format::RVX_HEADER_W3;

class Records : public WriteTest {
 protected:
  std::vector<float> recordsAt(const std::string& name, size_t offset, size_t count) {
    const std::string disk = bytes(name);
    std::vector<float> values(count);
    EXPECT_GE(disk.size(), offset + 4 * count);
    if (disk.size() >= offset + 4 * count) std::memcpy(values.data(), disk.data() + offset, 4 * count);
    return values;
  }
};

TEST_F(Records, StatisticsOfThreeRecords) {
  create("s.rvx", {u"p1", u"T1"});
  const float records[3][2] = {{1, -4}, {2, 8}, {3, 0.5f}};
  for (const auto& record : records) ASSERT_EQ(KDRVX_AddRecord(record), KDRVX_OK);
  const auto h = finished("s.rvx");
  EXPECT_EQ(h.NoRecords, 3u);
  EXPECT_EQ(h.FlagStatistics, 3);
  EXPECT_EQ(h.Channel[0].MinValue, 1.0f);
  EXPECT_EQ(h.Channel[0].MaxValue, 3.0f);
  EXPECT_EQ(h.Channel[0].MeanValue, 2.0f);
  EXPECT_EQ(h.Channel[0].RMSValue, static_cast<float>(std::sqrt(double{static_cast<float>(14.0 / 3)})));
  EXPECT_EQ(h.Channel[0].SDevValue, 0.0f);
  EXPECT_EQ(h.Channel[1].MinValue, -4.0f);
  EXPECT_EQ(h.Channel[1].MaxValue, 8.0f);
  EXPECT_EQ(h.Channel[1].MeanValue, static_cast<float>(4.5 / 3));
  EXPECT_EQ(recordsAt("s.rvx", 4300, 6), (std::vector<float>{1, -4, 2, 8, 3, 0.5f}));
}

TEST_F(Records, UpdateWithoutRecordsAndSingleRecord) {
  create("u.rvx", {u"p1"});
  ASSERT_EQ(KDRVX_Update(), KDRVX_OK);
  KDRVX_CloseCreateSimple();
  EXPECT_EQ(header("u.rvx").NoRecords, 0u);
  EXPECT_EQ(header("u.rvx").FlagStatistics, 0);
  create("u.rvx", {u"p1"});
  const float record[] = {-2.5f};
  KDRVX_AddRecord(record);
  const auto h = finished("u.rvx");
  EXPECT_EQ(h.Channel[0].MinValue, -2.5f);
  EXPECT_EQ(h.Channel[0].MaxValue, -2.5f);
  EXPECT_EQ(h.Channel[0].MeanValue, -2.5f);
  EXPECT_EQ(h.Channel[0].RMSValue, 2.5f);
}

TEST_F(Records, DetailTracesFollowTheExtremes) {
  create("d.rvx", {u"p1", u"p2"});
  setMaskQuietly(capture, static_cast<int16_t>(KDRVX_DEBUG_DETAILS));
  const float first[] = {1, 1}, second[] = {0.5f, 2}, third[] = {NAN, -1};
  KDRVX_AddRecord(first);
  KDRVX_AddRecord(second);
  EXPECT_EQ(capture.narrowLines(),
            Lines({"Record: 1:", "Record: 2:", "0: 0.500", "new Min", "1: 2.000", "new Max"}));
  // A NaN moves neither extreme.
  KDRVX_AddRecord(third);
  const auto h = finished("d.rvx");
  EXPECT_EQ(h.Channel[0].MinValue, 0.5f);
  EXPECT_EQ(h.Channel[0].MaxValue, 1.0f);
  EXPECT_EQ(h.Channel[1].MinValue, -1.0f);
}

TEST_F(Records, PlacementAfterUpdateAndDataBlock) {
  create("p.rvx", {u"p1"});
  const float one[] = {1}, two[] = {2}, three[] = {3};
  KDRVX_AddRecord(one);
  ASSERT_EQ(KDRVX_Update(), KDRVX_OK);
  KDRVX_AddRecord(two);  // at the end of the reopened file
  const float block[] = {7, 8};
  setMaskQuietly(capture, KDRVX_DEBUG_CALLS);
  ASSERT_EQ(KDRVX_WriteDataBlock(block, 2912, 8), KDRVX_OK);  // leaves a gap of one value
  EXPECT_EQ(capture.narrowLines(), Lines({"KDrvxLibrary: KDRVX_WriteDataBlock(...,Offset=2912,Bytes=8)"}));
  KDRVX_AddRecord(three);  // right after the block

  // A negative offset fails in the file layer and moves nothing.
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  EXPECT_EQ(KDRVX_WriteDataBlock(block, -4, 8), KDRVX_ERR_RVX_OPEN_WRITE);
  EXPECT_EQ(capture.narrowLines(), Lines({"KDrvxLibrary: Error 0x00000083"}));
  EXPECT_EQ(KDRVX_WriteDataBlock(nullptr, 0, 4), KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  KDRVX_AddRecord(one);
  EXPECT_EQ(finished("p.rvx").NoRecords, 4u);  // the block counts nothing
  EXPECT_EQ(bytes("p.rvx").size(), 2900u + 7 * 4);
  EXPECT_EQ(recordsAt("p.rvx", 2900, 7), (std::vector<float>{1, 2, 0, 7, 8, 3, 1}));
}

TEST_F(Records, CloseSimpleLeavesTheHeaderOfTheFirstRecord) {
  create("c.rvx", {u"p1"});
  for (int i = 0; i < 10; ++i) {
    const float record[] = {static_cast<float>(10 - i)};
    KDRVX_AddRecord(record);
  }
  ASSERT_EQ(KDRVX_CloseCreateSimple(), KDRVX_OK);
  const auto h = header("c.rvx");
  EXPECT_EQ(h.NoRecords, 1u);
  EXPECT_EQ(h.Channel[0].MinValue, 10.0f);
  EXPECT_EQ(h.FlagStatistics, 0);
  EXPECT_EQ(bytes("c.rvx").size(), 2900u + 40);
  EXPECT_EQ(KDRVX_CloseCreateSimple(), KDRVX_ERR_RVX_NOT_OPEN_WRITE);
  // A new file starts at channel 0 again.
  create("n.rvx", {});
  EXPECT_EQ(KDRVX_AddChannel(c(u"p1")), 0u);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  EXPECT_EQ(KDRVX_CloseCreate(), KDRVX_ERR_RVX_NOT_OPEN_WRITE);
}

TEST_F(Records, CompactLayoutFile) {
  create("k.rvx", {u"p1", u"dT2", u"A3"}, true, 255);
  KDRVX_SetChannelUnit(1, c(u"\u00b0C"));
  const float records[2][3] = {{1, 2, 3}, {4, 5, 6}};
  for (const auto& record : records) KDRVX_AddRecord(record);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);  // language 255: no summary file
  EXPECT_FALSE(fs::exists(dir.file("k.RVI")));
  const std::string disk = bytes("k.rvx");
  ASSERT_EQ(disk.size(), 412u + 24);
  const auto w3 = imageAt<RVX_HEADER_W3>(disk);
  EXPECT_EQ(w3.HeaderSize, 412);
  EXPECT_EQ(w3.NoChannels, 3);
  EXPECT_EQ(w3.NoRecords, 2u);
  EXPECT_EQ(w3.FlagStatistics, 0);
  EXPECT_EQ(w3.Channel[1].MaxValue, 0.0f);
  EXPECT_EQ(std::string(w3.Channel[1].ChannelUnit), "\xb0" "C");
  EXPECT_EQ(w3.Channel[1].VariableCode, 0x82);
  EXPECT_EQ(w3.Channel[2].VariableCode, 3);  // one letter: no prefix bit
  EXPECT_EQ(recordsAt("k.rvx", 412, 6), (std::vector<float>{1, 2, 3, 4, 5, 6}));
}

TEST_F(Records, NoContextAndNullRecord) {
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS | KDRVX_DEBUG_CALLS);
  const float record[] = {1};
  EXPECT_EQ(KDRVX_AddRecord(record), KDRVX_ERR_RVX_NOT_OPEN_MODIFY);
  EXPECT_EQ(capture.narrowLines(),
            Lines({"KDrvxLibrary: KDRVX_AddRecord()", "KDrvxLibrary: ERR_RVX_NOT_OPEN_WRITE",
                   "KDrvxLibrary: ERR_RVX_NOT_OPEN_MODIFY"}));
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVX_NOT_OPEN_MODIFY);
  create("z.rvx", {u"p1"});
  EXPECT_EQ(KDRVX_AddRecord(nullptr), KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  EXPECT_EQ(header("z.rvx").NoRecords, 0u);
}

}  // namespace
}  // namespace kdrvx::test
