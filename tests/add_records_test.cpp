// KDRVX_AddRecords: a block of records leaves the file, the statistics and
// the detail traces exactly as the same records added one by one, and
// checks its arguments as KDRVX_AddRecord does. (A refused block:
// posix/recording_test.cpp and windows/full_disk/.)
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

using Lines = std::vector<std::string>;

constexpr uint32_t kChannels = 5;
constexpr uint32_t kRecords = 40;

float nan(uint32_t bits) { return std::bit_cast<float>(bits); }

// Values the statistics must get right: NaN (never an extreme; the first
// value of channel 4, whose extremes then stay NaN), NaNs of several
// payloads and signs in one channel (the sums keep one of them), both
// infinities, zeros of both signs (the first of them stays the extreme),
// and new extremes up to the last record.
std::vector<float> sampleRecords() {
  std::vector<float> values(kChannels * kRecords);
  for (uint32_t r = 0; r < kRecords; ++r)
    for (uint32_t k = 0; k < kChannels; ++k)
      values[r * kChannels + k] =
          static_cast<float>((r * 7 + k * 3) % 11) - 5.25f * static_cast<float>(k) + 0.125f * r;
  values[0 * kChannels + 4] = NAN;
  values[3 * kChannels + 1] = NAN;
  values[5 * kChannels + 2] = INFINITY;
  values[6 * kChannels + 2] = -INFINITY;
  values[8 * kChannels + 3] = -0.0f;
  values[0 * kChannels + 3] = -0.0f;
  values[1 * kChannels + 3] = 0.0f;
  values[4 * kChannels + 1] = nan(0x7FC00002);
  values[9 * kChannels + 1] = nan(0xFFC00003);
  values[2 * kChannels + 0] = nan(0x7FC00001);
  values[3 * kChannels + 0] = nan(0x7F800005);  // signalling
  values[17 * kChannels + 0] = nan(0x7FC00004);
  values[(kRecords - 1) * kChannels] = -1000;
  return values;
}

// Where two files first differ, for a short failure message; npos when
// they are equal.
size_t firstDifference(const std::string& a, const std::string& b) {
  const auto [at, _] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return a.size() == b.size() && at == a.end() ? std::string::npos
                                               : static_cast<size_t>(at - a.begin());
}

// Files to append to: with three records; without; with three records
// while the stored count is 0 (the first record appended is written behind
// the header, the others at the end of the file); with three records while
// the stored count is about to wrap past 2^32 (the record counted as 1
// rewrites the header and starts the extremes again).
enum class Target { Create, CreateCompact, Modify, ModifyEmpty, ModifyCountZero, ModifyCountWraps };

bool modifies(Target target) {
  return target != Target::Create && target != Target::CreateCompact;
}

// Puts `count` into the stored count of the header of the file at `path`.
void storeCount(const std::filesystem::path& path, uint32_t count) {
  std::string disk = readBytes(path);
  disk.replace(offsetof(format::RVX_HEADER, NoRecords), sizeof count,
               reinterpret_cast<const char*>(&count), sizeof count);
  writeBytes(path, disk);
}

struct Schedule {
  const char* what;
  Target target;
  std::vector<uint32_t> blocks;  // block sizes, in order
  bool updateAfterFirstBlock;
  bool finalHeader;  // CloseCreate; else CloseCreateSimple keeps the last header written
};

class AddRecords : public WriteTest {
 protected:
  // Records the sample into `name` as `schedule` says, block by block or
  // (with `single`) the same records one KDRVX_AddRecord at a time; returns
  // the detail lines traced meanwhile (if `details`) and the last error. (Error lines
  // differ by nature: with a file open for modification, every call traces
  // the failed guard of the create context.)
  Lines record(const std::string& name, const Schedule& schedule, bool single, bool details) {
    const std::vector<float> values = sampleRecords();
    const bool modify = modifies(schedule.target);
    std::vector<std::u16string> variables;
    for (uint32_t k = 0; k < kChannels; ++k)
      variables.push_back(u"p" + widen(std::to_string(k + 1)));
    std::u16string path = create(name, variables, schedule.target == Target::CreateCompact);
    KDRVX_SetDate(c(u"7.3.2024"));
    KDRVX_SetTime(c(u"9:05"));
    if (modify) {
      const uint32_t held = schedule.target == Target::ModifyEmpty ? 0 : 3;
      EXPECT_EQ(KDRVX_AddRecords(values.data(), held), KDRVX_OK);
      EXPECT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
      if (schedule.target == Target::ModifyCountZero) storeCount(dir.file(name), 0);
      if (schedule.target == Target::ModifyCountWraps) storeCount(dir.file(name), 0xFFFFFFFE);
      EXPECT_EQ(KDRVX_OpenModify(c(path)), KDRVX_OK);
    }
    setMaskQuietly(capture, details ? static_cast<int16_t>(KDRVX_DEBUG_DETAILS) : 0);
    capture.clear();
    const float* next = values.data();
    for (size_t b = 0; b < schedule.blocks.size(); ++b) {
      const uint32_t count = schedule.blocks[b];
      if (single) {
        for (uint32_t r = 0; r < count; ++r, next += kChannels)
          EXPECT_EQ(KDRVX_AddRecord(next), KDRVX_OK);
      } else {
        EXPECT_EQ(KDRVX_AddRecords(next, count), KDRVX_OK);
        next += count * kChannels;
      }
      if (b == 0 && schedule.updateAfterFirstBlock) {
        EXPECT_EQ(KDRVX_Update(), KDRVX_OK);
      }
    }
    Lines lines = capture.narrowLines();
    setMaskQuietly(capture, 0);
    lines.push_back("last error " + std::to_string(KDRVX_GetLastError()));
    if (modify)
      EXPECT_EQ(KDRVX_CloseModify(), KDRVX_OK);
    else
      EXPECT_EQ(schedule.finalHeader ? KDRVX_CloseCreate() : KDRVX_CloseCreateSimple(), KDRVX_OK);
    return lines;
  }
};

// Record writer rules W6 and W10.
TEST_F(AddRecords, BlocksLeaveTheBytesAndTracesOfSingleRecords) {
  const Schedule schedules[] = {
      {"one block, header of its first record", Target::Create, {kRecords}, false, false},
      {"blocks of 1, 0, 2, 7, 30, update between", Target::Create, {1, 0, 2, 7, 30}, true, true},
      {"update after the first block", Target::Create, {6, 34}, true, false},
      {"compact layout", Target::CreateCompact, {3, 37}, false, true},
      {"file with records to append to", Target::Modify, {0, 1, 36}, false, true},
      {"file without records to append to", Target::ModifyEmpty, {12, 28}, false, true},
      {"stored count 0 with records in the file", Target::ModifyCountZero, {5, 35}, false, true},
      {"count wraps within a block", Target::ModifyCountWraps, {1, 39}, false, true},
      {"count wraps between blocks", Target::ModifyCountWraps, {2, 38}, false, true},
  };
  // With detail lines on, the records take the traced loop.
  for (const bool details : {false, true})
    for (const Schedule& schedule : schedules) {
      SCOPED_TRACE(std::string(schedule.what) + (details ? ", detail lines" : ""));
      const Lines singles = record("single.rvx", schedule, true, details);
      const Lines blocks = record("block.rvx", schedule, false, details);
      EXPECT_EQ(blocks, singles);
      EXPECT_EQ(singles.size() > kRecords, details);
      const std::string disk = bytes("block.rvx");
      EXPECT_EQ(firstDifference(disk, bytes("single.rvx")), std::string::npos);
      EXPECT_GE(disk.size(), 328u + 37 * kChannels * 4);  // the least any schedule writes
    }
}

// A file whose header holds a minimum above its maximum (made elsewhere):
// a value below the minimum still moves the minimum only.
TEST_F(AddRecords, MinimumAboveMaximumInTheFileKeepsTheRule) {
  const std::u16string path = create("u.rvx", {u"p1"});
  const float one[] = {1};
  ASSERT_EQ(KDRVX_AddRecord(one), KDRVX_OK);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  std::string disk = bytes("u.rvx");
  const float extremes[] = {5, -5};
  disk.replace(1500 + offsetof(format::MGR_DEF, MinValue), sizeof extremes,
               reinterpret_cast<const char*>(extremes), sizeof extremes);
  writeBytes(dir.file("u.rvx"), disk);
  ASSERT_EQ(KDRVX_OpenModify(c(path)), KDRVX_OK);
  const float block[] = {3, 2};
  ASSERT_EQ(KDRVX_AddRecords(block, 2), KDRVX_OK);
  ASSERT_EQ(KDRVX_CloseModify(), KDRVX_OK);
  const auto h = header("u.rvx");
  EXPECT_EQ(std::vector<float>({h.Channel[0].MinValue, h.Channel[0].MaxValue}),
            std::vector<float>({2, -5}));
}

// A file whose stored count disagrees with the records it holds. The record
// counted as the first goes behind the header, over the record there, with
// the header rewritten and the extremes started at its values; the others
// go at the end of the file. A block places them so too (W10).
TEST_F(AddRecords, StoredCountZeroOrWrappingPlacesRecordsAsSingleCalls) {
  struct Case {
    uint32_t stored;
    std::vector<float> block, data;
    uint32_t count;
    float minimum, maximum;
  };
  const Case cases[] = {
      {0, {40, 50}, {40, 20, 30, 50}, 2, 40, 50},
      {0xFFFFFFFE, {40, 50, 60, 70}, {60, 20, 30, 40, 50, 70}, 2, 60, 70},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE("stored count " + std::to_string(each.stored));
    const std::u16string path = create("z.rvx", {u"p1"});
    const float held[] = {10, 20, 30};
    ASSERT_EQ(KDRVX_AddRecords(held, 3), KDRVX_OK);
    ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
    storeCount(dir.file("z.rvx"), each.stored);
    ASSERT_EQ(KDRVX_OpenModify(c(path)), KDRVX_OK);
    ASSERT_EQ(KDRVX_AddRecords(each.block.data(), static_cast<uint32_t>(each.block.size())),
              KDRVX_OK);
    ASSERT_EQ(KDRVX_CloseModify(), KDRVX_OK);
    const std::string disk = bytes("z.rvx");
    const size_t data = 1500 + 1400;
    ASSERT_EQ(disk.size(), data + each.data.size() * sizeof(float));
    std::vector<float> stored(each.data.size());
    std::memcpy(stored.data(), disk.data() + data, disk.size() - data);
    EXPECT_EQ(stored, each.data);
    const auto h = header("z.rvx");
    EXPECT_EQ(h.NoRecords, each.count);
    EXPECT_EQ(std::vector<float>({h.Channel[0].MinValue, h.Channel[0].MaxValue}),
              std::vector<float>({each.minimum, each.maximum}));
  }
}

TEST_F(AddRecords, ArgumentsEntryLineAndTheRecordsOfNoChannels) {
  create("p.rvx", {u"p1", u"p2"});
  const float record[] = {1, 2};
  setMaskQuietly(capture, static_cast<int16_t>(KDRVX_DEBUG_CALLS | KDRVX_DEBUG_ERRORS));
  EXPECT_EQ(KDRVX_AddRecords(nullptr, 2), KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  EXPECT_EQ(KDRVX_AddRecords(nullptr, 0), KDRVX_OK);
  EXPECT_EQ(KDRVX_AddRecords(record, 0), KDRVX_OK);
  EXPECT_EQ(
      capture.narrowLines(),
      Lines({"KDrvxLibrary: KDRVX_AddRecords(2)", "KDrvxLibrary: ERR_RVX_PARAMETER_STRING_LENGTH",
             "KDrvxLibrary: KDRVX_AddRecords(0)", "KDrvxLibrary: KDRVX_AddRecords(0)"}));
  setMaskQuietly(capture, 0);
  // Nothing was recorded: channels can still be added.
  EXPECT_EQ(KDRVX_AddChannel(c(u"p3")), 2u);
  EXPECT_EQ(finished("p.rvx").NoRecords, 0u);
  EXPECT_EQ(bytes("p.rvx").size(), 1500u + 3 * 1400);

  // Records of no channels have no bytes: any pointer, each one counted,
  // in one call up to the largest count and across calls past 2^32 (W11).
  create("n.rvx", {});
  EXPECT_EQ(KDRVX_AddRecords(nullptr, 3), KDRVX_OK);
  EXPECT_EQ(finished("n.rvx").NoRecords, 3u);
  create("n.rvx", {});
  EXPECT_EQ(KDRVX_AddRecords(nullptr, 0xFFFFFFFF), KDRVX_OK);
  EXPECT_EQ(finished("n.rvx").NoRecords, 0xFFFFFFFFu);
  create("n.rvx", {});
  EXPECT_EQ(KDRVX_AddRecords(nullptr, 0xFFFFFFC1), KDRVX_OK);
  EXPECT_EQ(KDRVX_AddRecords(nullptr, 0xFFFFFFC1), KDRVX_OK);
  EXPECT_EQ(finished("n.rvx").NoRecords, 0xFFFFFF82u);

  // Without a file under creation or modification both guards fail in
  // turn, as for a single record.
  setMaskQuietly(capture, static_cast<int16_t>(KDRVX_DEBUG_ERRORS));
  EXPECT_EQ(KDRVX_AddRecord(record), KDRVX_ERR_RVX_NOT_OPEN_MODIFY);
  const Lines single = capture.narrowLines();
  capture.clear();
  EXPECT_EQ(KDRVX_AddRecords(record, 1), KDRVX_ERR_RVX_NOT_OPEN_MODIFY);
  EXPECT_EQ(capture.narrowLines(), single);
  EXPECT_EQ(single.size(), 2u);
}

}  // namespace
}  // namespace kdrvx::test
