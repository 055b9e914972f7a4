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

using Lines = std::vector<std::string>;

class RecordWriting : public WriteTest {
 protected:
  std::vector<float> valuesFrom(const std::string& name, size_t offset) {
    const std::string disk = bytes(name);
    std::vector<float> values(disk.size() > offset ? (disk.size() - offset) / 4 : 0);
    std::memcpy(values.data(), disk.data() + offset, values.size() * 4);
    return values;
  }
};

TEST_F(RecordWriting, StatisticsOfThreeRecords) {
  create("s.rvx", {u"p1", u"T1"});
  const float records[3][2] = {{1, -4}, {2, 8}, {3, 0.5f}};
  for (const auto& record : records) ASSERT_EQ(KDRVX_AddRecord(record), KDRVX_OK);
  const auto h = finished("s.rvx");
  EXPECT_EQ(h.NoRecords, 3u);
  EXPECT_EQ(h.FlagStatistics, 3);
  const auto& p1 = h.Channel[0];
  EXPECT_EQ(std::vector<float>({p1.MinValue, p1.MaxValue, p1.MeanValue, p1.SDevValue}),
            std::vector<float>({1, 3, 2, 0}));
  EXPECT_EQ(p1.RMSValue, static_cast<float>(std::sqrt(double{static_cast<float>(14.0 / 3)})));
  EXPECT_EQ(std::vector<float>({h.Channel[1].MinValue, h.Channel[1].MaxValue}), std::vector<float>({-4, 8}));
  EXPECT_EQ(valuesFrom("s.rvx", 4300), std::vector<float>({1, -4, 2, 8, 3, 0.5f}));

  // One record: its value everywhere, the RMS its magnitude.
  create("u.rvx", {u"p1"});
  const float single[] = {-2.5f};
  KDRVX_AddRecord(single);
  const auto one = finished("u.rvx").Channel[0];
  EXPECT_EQ(std::vector<float>({one.MinValue, one.MaxValue, one.MeanValue, one.RMSValue}),
            std::vector<float>({-2.5f, -2.5f, -2.5f, 2.5f}));
}

TEST_F(RecordWriting, DetailTracesFollowTheExtremes) {
  create("d.rvx", {u"p1", u"p2"});
  setMaskQuietly(capture, static_cast<int16_t>(KDRVX_DEBUG_DETAILS));
  const float first[] = {1, 1}, second[] = {0.5f, 2}, third[] = {NAN, -1};
  KDRVX_AddRecord(first);
  KDRVX_AddRecord(second);
  EXPECT_EQ(capture.narrowLines(), Lines({"Record: 1:", "Record: 2:", "0: 0.500", "new Min", "1: 2.000", "new Max"}));
  KDRVX_AddRecord(third);  // a NaN moves neither extreme
  const auto h = finished("d.rvx");
  EXPECT_EQ(std::vector<float>({h.Channel[0].MinValue, h.Channel[0].MaxValue, h.Channel[1].MinValue}),
            std::vector<float>({0.5f, 1, -1}));
}

// Both builds spell the values that are not numbers alike, a NaN with its
// sign (a signalling one too), whether the records come one by one or in
// a block.
TEST_F(RecordWriting, DetailTracesSpellNonFiniteValuesAlike) {
  const auto fromBits = [](uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  };
  const float first[] = {1, 1, 1, 1, 1};
  const float odd[] = {fromBits(0xFFC00000u), fromBits(0x7FC00000u), INFINITY, -INFINITY,
                       fromBits(0xFF800001u)};
  const Lines expected = {"0: -nan", "1: nan", "2: inf", "new Max", "3: -inf", "new Min", "4: -nan"};
  create("n.rvx", {u"p1", u"p2", u"p3", u"p4", u"p5"});
  KDRVX_AddRecord(first);
  setMaskQuietly(capture, static_cast<int16_t>(KDRVX_DEBUG_DETAILS));
  KDRVX_AddRecord(odd);
  Lines single = {"Record: 2:"};
  single.insert(single.end(), expected.begin(), expected.end());
  EXPECT_EQ(capture.narrowLines(), single);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);

  create("m.rvx", {u"p1", u"p2", u"p3", u"p4", u"p5"});
  float block[10];
  std::memcpy(block, first, sizeof first);
  std::memcpy(block + 5, odd, sizeof odd);
  setMaskQuietly(capture, static_cast<int16_t>(KDRVX_DEBUG_DETAILS));
  KDRVX_AddRecords(block, 2);
  Lines lines = capture.narrowLines();
  ASSERT_GE(lines.size(), expected.size());
  EXPECT_EQ(Lines(lines.end() - static_cast<std::ptrdiff_t>(expected.size()), lines.end()), expected);
}

TEST_F(RecordWriting, PlacementAfterUpdateAndDataBlock) {
  create("p.rvx", {u"p1"});
  const float one[] = {1}, two[] = {2}, three[] = {3}, block[] = {7, 8};
  KDRVX_AddRecord(one);
  ASSERT_EQ(KDRVX_Update(), KDRVX_OK);
  KDRVX_AddRecord(two);  // at the end of the reopened file
  setMaskQuietly(capture, KDRVX_DEBUG_CALLS);
  ASSERT_EQ(KDRVX_WriteDataBlock(block, 2912, 8), KDRVX_OK);  // leaves a gap of one value
  EXPECT_EQ(capture.narrowLines(), Lines({"KDrvxLibrary: KDRVX_WriteDataBlock(...,Offset=2912,Bytes=8)"}));
  KDRVX_AddRecord(three);  // right after the block
  // A negative offset fails in the file layer and moves nothing.
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  EXPECT_EQ(KDRVX_WriteDataBlock(block, -4, 8), KDRVX_ERR_RVX_OPEN_WRITE);
  EXPECT_EQ(capture.narrowLines(), Lines({"KDrvxLibrary: Error 0x00000083"}));
  EXPECT_EQ(KDRVX_WriteDataBlock(nullptr, 0, 4), KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  EXPECT_EQ(KDRVX_AddRecord(nullptr), KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  KDRVX_AddRecord(one);
  EXPECT_EQ(finished("p.rvx").NoRecords, 4u);  // the block counts nothing
  EXPECT_EQ(valuesFrom("p.rvx", 2900), std::vector<float>({1, 2, 0, 7, 8, 3, 1}));
}

TEST_F(RecordWriting, CloseSimpleLeavesTheHeaderOfTheFirstRecord) {
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
  EXPECT_EQ(valuesFrom("c.rvx", 2900).size(), 10u);
  EXPECT_EQ(KDRVX_CloseCreateSimple(), KDRVX_ERR_RVX_NOT_OPEN_WRITE);
  // Without records the update leaves the statistics flag alone.
  create("n.rvx", {u"p1"});
  EXPECT_EQ(finished("n.rvx").FlagStatistics, 0);
  EXPECT_EQ(KDRVX_CloseCreate(), KDRVX_ERR_RVX_NOT_OPEN_WRITE);
}

TEST_F(RecordWriting, RecordsOfNoChannelsAreCountedWhateverThePointer) {
  create("z.rvx", {});
  EXPECT_EQ(KDRVX_AddRecord(nullptr), KDRVX_OK);
  const float ignored[] = {1};
  EXPECT_EQ(KDRVX_AddRecord(ignored), KDRVX_OK);
  EXPECT_EQ(finished("z.rvx").NoRecords, 2u);
  EXPECT_EQ(bytes("z.rvx").size(), 1500u);
  // With channels there are bytes to read: a null record is refused.
  create("n.rvx", {u"p1"});
  EXPECT_EQ(KDRVX_AddRecord(nullptr), KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  EXPECT_EQ(finished("n.rvx").NoRecords, 0u);
}

// The current directory as a host's file dialog leaves it: changed, and
// put back at the end of the test.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::filesystem::path& to)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(to);
  }
  ~CurrentDirectory() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

// A file created under a relative name stays the file that updates reopen
// and beside which its RVI file is written, whatever directory the host
// moves to meanwhile; a namesake in the new directory is never touched.
TEST_F(RecordWriting, UpdateAndRviFileFollowTheFileNotTheCurrentDirectory) {
  std::filesystem::create_directory(dir.file("first"));
  std::filesystem::create_directory(dir.file("second"));
  writeBytes(dir.file("second") / "r.rvx", "someone else's");
  writeBytes(dir.file("second") / "r.RVI", "someone else's summary");
  const float record[] = {1};
  for (const bool legacy : {false, true}) {
    SCOPED_TRACE(legacy ? "compact" : "current");
    {
      CurrentDirectory inFirst(dir.file("first"));
      std::u16string relative = u"r.rvx";
      ASSERT_EQ(KDRVX_CreateExt(writable(relative), 1, 1, legacy, 1), KDRVX_OK);
      ASSERT_EQ(KDRVX_AddChannel(c(u"p1")), 0u);
      ASSERT_EQ(KDRVX_AddRecord(record), KDRVX_OK);
    }
    CurrentDirectory inSecond(dir.file("second"));
    EXPECT_EQ(KDRVX_Update(), KDRVX_OK);
    EXPECT_EQ(KDRVX_AddRecord(record), KDRVX_OK);
    EXPECT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
    EXPECT_EQ(readBytes(dir.file("second") / "r.rvx"), "someone else's");
    EXPECT_EQ(readBytes(dir.file("second") / "r.RVI"), "someone else's summary");
  }
  const std::string disk = readBytes(dir.file("first") / "r.rvx");
  EXPECT_EQ(imageAt<format::RVX_HEADER_W3>(disk).NoRecords, 2u);
  EXPECT_EQ(disk.size(), 328u + 28 + 2 * 4);
  // The RVI file shows the name as the host gave it.
  EXPECT_NE(readBytes(dir.file("first") / "r.RVI").find("Filename        :  r.RVI\r\n"),
            std::string::npos);
}

TEST_F(RecordWriting, NoContextForTheRecord) {
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS | KDRVX_DEBUG_CALLS);
  const float record[] = {1};
  EXPECT_EQ(KDRVX_AddRecord(record), KDRVX_ERR_RVX_NOT_OPEN_MODIFY);
  EXPECT_EQ(capture.narrowLines(), Lines({"KDrvxLibrary: KDRVX_AddRecord()", "KDrvxLibrary: ERR_RVX_NOT_OPEN_WRITE",
                                          "KDrvxLibrary: ERR_RVX_NOT_OPEN_MODIFY"}));
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVX_NOT_OPEN_MODIFY);
}

}  // namespace
}  // namespace kdrvx::test
