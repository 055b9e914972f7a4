// A full disk under Windows: this program runs with every file it writes
// limited to KDRVX_FILE_SIZE_LIMIT bytes (the launcher sets the limit for
// the emulated process), so writes past it fail part-way as on a full disk.
// A refused record leaves no stray bytes, and a refused first record leaves
// the context and the header on disk as they were.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

constexpr size_t kLimit = KDRVX_FILE_SIZE_LIMIT;

class FullDisk : public WriteTest {};

TEST_F(FullDisk, RefusedRecordIsCutOffAndTheCountStaysTrue) {
  create("full.rvx", {u"p1", u"p2"});
  constexpr size_t kHeader = 1500 + 2 * 1400;
  constexpr size_t kFitting = (kLimit - kHeader) / 8;
  static_assert((kLimit - kHeader) % 8 != 0, "the record after the last fitting one is partial");
  std::vector<float> written;
  uint32_t status = KDRVX_OK;
  for (size_t i = 0; i <= kFitting && status == KDRVX_OK; ++i) {
    const float record[] = {float(i), -float(i)};
    status = KDRVX_AddRecord(record);
    if (status == KDRVX_OK) written.insert(written.end(), record, record + 2);
  }
  EXPECT_EQ(status, KDRVX_ERR_RVX_OPEN_WRITE);
  ASSERT_EQ(written.size(), 2 * kFitting);
  // The update reopens at the end of the file: still no room, still no
  // stray bytes.
  EXPECT_EQ(KDRVX_Update(), KDRVX_OK);
  const float more[] = {1, 2};
  EXPECT_EQ(KDRVX_AddRecord(more), KDRVX_ERR_RVX_OPEN_WRITE);
  const auto h = finished("full.rvx");
  const std::string disk = bytes("full.rvx");
  EXPECT_EQ(h.NoRecords, kFitting);
  ASSERT_EQ(disk.size(), kHeader + kFitting * 8);
  EXPECT_EQ(std::memcmp(disk.data() + kHeader, written.data(), kFitting * 8), 0);
}

// A block that does not fit is refused whole, as the first block (with
// the header) and after records.
TEST_F(FullDisk, RefusedBlockIsCutOffWhole) {
  create("block.rvx", {u"p1", u"p2"});
  constexpr size_t kHeader = 1500 + 2 * 1400;
  constexpr uint32_t kBlock = (kLimit - kHeader) / 8 + 1;  // one record more than fits
  std::vector<float> records(2 * kBlock, 0.5f);
  records[0] = -3;
  EXPECT_EQ(KDRVX_AddRecords(records.data(), kBlock), KDRVX_ERR_RVX_OPEN_WRITE);
  ASSERT_EQ(KDRVX_AddRecords(records.data() + 2, 100), KDRVX_OK);
  EXPECT_EQ(KDRVX_AddRecords(records.data(), kBlock - 100), KDRVX_ERR_RVX_OPEN_WRITE);
  const auto h = finished("block.rvx");
  EXPECT_EQ(h.NoRecords, 100u);
  EXPECT_EQ(h.Channel[0].MinValue, 0.5f);  // the refused -3 entered no statistic
  EXPECT_EQ(bytes("block.rvx").size(), kHeader + 100 * 8);
}

TEST_F(FullDisk, RefusedFirstRecordLeavesContextAndHeaderAsTheyWere) {
  // 45 channels: the header fits under the limit, its first record does not.
  std::vector<std::u16string> channels;
  for (int i = 1; i <= 45; ++i) channels.push_back(u"p" + widen(std::to_string(i)));
  create("first.rvx", channels);
  constexpr size_t kHeader = 1500 + 45 * 1400;
  static_assert(kHeader <= kLimit && kHeader + 45 * 4 > kLimit);
  // Nobody else may read a file under creation on Windows: what the close
  // leaves is compared.
  std::vector<float> record(45, 1.0f);
  EXPECT_EQ(KDRVX_AddRecord(record.data()), KDRVX_ERR_RVX_OPEN_WRITE);
  EXPECT_EQ(KDRVX_CloseCreateSimple(), KDRVX_OK);
  const std::string disk = bytes("first.rvx");
  ASSERT_EQ(disk.size(), kHeader);
  const auto h = imageAt<format::RVX_HEADER>(disk);
  EXPECT_EQ(h.NoRecords, 0u);
  EXPECT_EQ(h.Channel[0].MaxValue, 0.0f);
}

TEST_F(FullDisk, ChannelsCanBeAddedAfterARefusedFirstRecord) {
  std::vector<std::u16string> channels;
  for (int i = 1; i <= 45; ++i) channels.push_back(u"T" + widen(std::to_string(i)));
  create("grow.rvx", channels);
  std::vector<float> record(45, 1.0f);
  ASSERT_EQ(KDRVX_AddRecord(record.data()), KDRVX_ERR_RVX_OPEN_WRITE);
  // The 46th channel's header no longer fits under the limit either; what
  // counts is that the channel is not refused as "records already added".
  EXPECT_NE(KDRVX_AddChannel(c(u"T46")), KDRVX_ERR_RVX_CHANNEL_ADD);
}

}  // namespace
}  // namespace kdrvx::test
