// The recording's start as a number and the statistics of a window of
// records, at the C interface: KDRVX_ReaderInfo's start fields over header
// bytes of every kind of date, and KDRVX_ReaderStatistics over recordings
// the library writes, against figures computed here from the same values.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "recordings.h"
#include "support/test_support.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

class Window : public WriteTest {
 protected:
  KDRVX_Reader* open(const std::u16string& path) {
    KDRVX_Reader* reader = nullptr;
    EXPECT_EQ(KDRVX_ReaderOpen(c(path), &reader), KDRVX_OK);
    readers.push_back(reader);
    return reader;
  }
  void TearDown() override {
    for (KDRVX_Reader* reader : readers) KDRVX_ReaderClose(reader);
    WriteTest::TearDown();
  }
  KDRVX_RecordingInfo infoOf(const TestRecording& r) {
    writeBytes(dir.file("dated.rvx"), currentHeader(r));
    KDRVX_Reader* reader = open(dir.wide("dated.rvx"));
    KDRVX_RecordingInfo info{};
    info.size = sizeof info;
    EXPECT_EQ(KDRVX_ReaderInfo(reader, &info), KDRVX_OK);
    KDRVX_ReaderClose(reader);
    readers.pop_back();
    return info;
  }
  // A recording of channel p1 and a multichannel M2 of 4 bits.
  std::u16string record(const std::vector<std::vector<float>>& rows) {
    std::u16string path = create("values.rvx", {u"p1", u"M2"});
    EXPECT_EQ(KDRVX_SetChannelMultiChannel(1, 4), KDRVX_OK);
    for (const auto& row : rows) EXPECT_EQ(KDRVX_AddRecord(row.data()), KDRVX_OK);
    EXPECT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
    return path;
  }
  std::vector<KDRVX_WindowStatistics> statistics(KDRVX_Reader* reader, uint64_t first,
                                                 uint64_t count, uint32_t capacity = 2) {
    std::vector<KDRVX_WindowStatistics> found(capacity);
    for (auto& channel : found) channel.size = sizeof channel;
    EXPECT_EQ(KDRVX_ReaderStatistics(reader, first, count, found.data(), capacity, nullptr,
                                     nullptr),
              KDRVX_OK);
    return found;
  }
  std::vector<KDRVX_Reader*> readers;
};

// Mean, RMS and population deviation of `values`, two passes in long
// double: what the window's figures must come to.
struct Exact {
  double mean, rms, sdev;
};
Exact exact(const std::vector<float>& values) {
  long double sum = 0, squares = 0, deviations = 0;
  for (float v : values) sum += v, squares += static_cast<long double>(v) * v;
  const long double mean = sum / values.size();
  for (float v : values) deviations += (v - mean) * (v - mean);
  return {static_cast<double>(mean), static_cast<double>(std::sqrt(squares / values.size())),
          static_cast<double>(std::sqrt(deviations / values.size()))};
}

TEST_F(Window, StartIsTheHeadersDateAndTimeAsSeconds) {
  TestRecording r = recording('s', 1);
  r.channels[0].index = 1;
  KDRVX_RecordingInfo info = infoOf(r);  // 03.07.2004 09:05 without seconds
  EXPECT_EQ(info.startKnown, KDRVX_START_DATE | KDRVX_START_TIME);
  EXPECT_EQ(info.startSeconds, 1088845500);

  r.year = 2024, r.month = 2, r.day = 29, r.hour = 23, r.minute = 59, r.second = 59;
  info = infoOf(r);
  EXPECT_EQ(info.startKnown, KDRVX_START_DATE | KDRVX_START_TIME | KDRVX_START_SECONDS);
  EXPECT_EQ(info.startSeconds, 1709251199);

  r.year = 1, r.month = 1, r.day = 1, r.hour = 0, r.minute = 0, r.second = 0;
  EXPECT_EQ(infoOf(r).startSeconds, -62135596800);
  r.year = 1969, r.month = 12, r.day = 31, r.hour = 23;
  EXPECT_EQ(infoOf(r).startSeconds, -3600);

  // A year some writers stored with its bytes exchanged and 208 short.
  r.year = static_cast<uint16_t>(((2024 - 208) >> 8) | ((2024 - 208) << 8));
  r.month = 7, r.day = 3, r.hour = 9, r.minute = 5, r.second = 255;
  info = infoOf(r);
  EXPECT_EQ(narrow(reinterpret_cast<const char16_t*>(info.date)), "03.07.2024");
  EXPECT_EQ(info.startSeconds, 1719997500);

  // Days the month does not have, no date at all, no time of day: no start.
  r.year = 2023, r.month = 2, r.day = 29;
  info = infoOf(r);
  EXPECT_EQ(info.startKnown, KDRVX_START_TIME);
  EXPECT_EQ(info.startSeconds, 0);
  r.day = 0;
  EXPECT_EQ(infoOf(r).startKnown, KDRVX_START_TIME);
  r.day = 28, r.hour = 255;
  info = infoOf(r);
  EXPECT_EQ(info.startKnown, KDRVX_START_DATE);
  EXPECT_EQ(info.startSeconds, 0);
}

TEST_F(Window, FiguresOverTheFiniteValuesOfTheWindow) {
  const auto bits = [](uint32_t field) { return std::bit_cast<float>(field); };
  // Far from zero with a small spread, where a sum of squares alone loses
  // the deviation to cancellation.
  const std::vector<float> p1 = {1e7f, 1e7f + 1, kNaN, 1e7f + 2, kInf, -kInf, 1e7f + 3, 5};
  const std::vector<uint32_t> m2 = {0b0001, 0b0011, 0b1000, 0, 0b1111, 0b0101, 0b0001, 0};
  std::vector<std::vector<float>> rows;
  for (size_t r = 0; r < p1.size(); ++r) rows.push_back({p1[r], bits(m2[r])});
  KDRVX_Reader* reader = open(record(rows));

  // Records 0 .. 6: the last one (5) lies outside.
  std::vector<KDRVX_WindowStatistics> found = statistics(reader, 0, 7);
  const KDRVX_WindowStatistics& p = found[0];
  EXPECT_EQ(p.records, 7u);
  EXPECT_EQ(p.finiteValues, 4u);
  EXPECT_EQ(p.nanValues, 1u);
  EXPECT_EQ(p.infiniteValues, 2u);
  EXPECT_EQ(p.multiChannelBits, 0u);
  EXPECT_EQ(p.minValue, 1e7);
  EXPECT_EQ(p.maxValue, 1e7 + 3);
  const Exact e = exact({1e7f, 1e7f + 1, 1e7f + 2, 1e7f + 3});
  EXPECT_DOUBLE_EQ(p.meanValue, e.mean);
  EXPECT_DOUBLE_EQ(p.rmsValue, e.rms);
  EXPECT_NEAR(p.sdevValue, e.sdev, 1e-9);

  const KDRVX_WindowStatistics& m = found[1];
  EXPECT_EQ(m.multiChannelBits, 4u);
  const uint64_t set[4] = {5, 2, 2, 2};  // bit k over records 0 .. 6
  for (uint32_t k = 0; k < 4; ++k) EXPECT_EQ(m.bitsSet[k], set[k]) << "bit " << k;
  EXPECT_EQ(m.bitsSet[4], 0u);

  // A window that runs past the end ends with the data; one of no finite
  // value has no figures.
  found = statistics(reader, 4, 100);
  EXPECT_EQ(found[0].records, 4u);
  EXPECT_EQ(found[0].minValue, 5);
  EXPECT_EQ(found[0].maxValue, 1e7 + 3);
  found = statistics(reader, 4, 2);
  EXPECT_EQ(found[0].finiteValues, 0u);
  EXPECT_TRUE(std::isnan(found[0].minValue) && std::isnan(found[0].sdevValue));
  found = statistics(reader, 8, 10);
  EXPECT_EQ(found[0].records, 0u);
}

TEST_F(Window, FillsWhatTheCallerMadeRoomFor) {
  KDRVX_Reader* reader = open(record({{1, 0}, {2, 0}, {4, 0}}));
  // One entry: only channel 0. Entries larger than the library's struct
  // lie as far apart as their size says, and their tails stay untouched.
  std::vector<KDRVX_WindowStatistics> one = statistics(reader, 0, 3, 1);
  EXPECT_DOUBLE_EQ(one[0].meanValue, 7.0 / 3);

  struct Larger {
    KDRVX_WindowStatistics entry;
    uint64_t tail;
  } larger[2] = {};
  for (auto& l : larger) l.entry.size = sizeof l, l.tail = 0x5A5A;
  EXPECT_EQ(KDRVX_ReaderStatistics(reader, 1, 2, &larger[0].entry, 2, nullptr, nullptr),
            KDRVX_OK);
  EXPECT_DOUBLE_EQ(larger[0].entry.meanValue, 3);
  EXPECT_EQ(larger[1].entry.multiChannelBits, 4u);
  EXPECT_EQ(larger[0].tail, 0x5A5Au);
  EXPECT_EQ(larger[1].tail, 0x5A5Au);

  // Progress is heard up to the whole window.
  uint64_t heard = 0;
  KDRVX_WindowStatistics entry{};
  entry.size = sizeof entry;
  const KDRVX_Progress progress = [](uint64_t done, uint64_t, void* seen) {
    *static_cast<uint64_t*>(seen) = done;
  };
  EXPECT_EQ(KDRVX_ReaderStatistics(reader, 0, 3, &entry, 1, progress, &heard), KDRVX_OK);
  EXPECT_EQ(heard, 3u);

  EXPECT_EQ(KDRVX_ReaderStatistics(reader, 0, 3, nullptr, 1, nullptr, nullptr),
            KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  EXPECT_EQ(KDRVX_ReaderStatistics(reader, 0, 3, nullptr, 0, nullptr, nullptr), KDRVX_OK);
  KDRVX_ReaderClose(reader);
  readers.clear();
  EXPECT_EQ(KDRVX_ReaderStatistics(reader, 0, 3, &entry, 1, nullptr, nullptr),
            KDRVX_ERR_RVX_NOT_OPEN_READ);
}

}  // namespace
}  // namespace kdrvx::test
