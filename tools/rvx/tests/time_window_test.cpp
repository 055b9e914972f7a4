// Windows of a recording in seconds or records, and their refusals.
#include "shared/time_window.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "outputs/recording_copy.h"
#include "shared/tool_error.h"

namespace rvx {
namespace {

constexpr int64_t kMillisecond = 1000;  // scan interval in microseconds

TEST(TimeWindow, SelectsTheRecordsWithinTheWindow) {
  // 10 records at 0, 1 ms, ..., 9 ms.
  const struct {
    TimeWindow window;
    uint64_t first, end;
  } cases[] = {
      {{}, 0, 10},
      {{"0.002", "0.005", ""}, 2, 6},    // both ends included
      {{"0.0015", "0.0045", ""}, 2, 5},  // between records: inward
      {{"0.003", "", ""}, 3, 10},
      {{"", "0.0031", ""}, 0, 4},
      {{"0.009", "0.009", ""}, 9, 10},  // the last record alone
      {{"0", "100", ""}, 0, 10},        // --to past the end stops at the end
      {{"", "", "2:4"}, 2, 5},
      {{"", "", "7:"}, 7, 10},
      {{"", "", ":0"}, 0, 1},
  };
  for (const auto& c : cases) {
    const RecordSpan span = recordSpan(c.window, kMillisecond, 10);
    EXPECT_EQ(span.first, c.first) << c.window.from << ".." << c.window.to << c.window.records;
    EXPECT_EQ(span.end, c.end) << c.window.from << ".." << c.window.to << c.window.records;
  }
  // Without a scan interval, records can still be chosen by number.
  EXPECT_EQ(recordSpan({"", "", "3:3"}, 0, 10).first, 3u);
}

TEST(TimeWindow, RefusesWithTheReason) {
  const struct {
    TimeWindow window;
    int64_t interval;
    uint64_t records;
    const char* reason;
  } cases[] = {
      {{"0.005", "0.002", ""}, kMillisecond, 10, "lies after --to"},
      {{"-1", "", ""}, kMillisecond, 10, "not negative"},
      {{"", "-0.5", ""}, kMillisecond, 10, "not negative"},
      {{"0.01", "", ""}, kMillisecond, 10, "past the end"},
      {{"0", "", ""}, kMillisecond, 0, "holds no records"},
      {{"0.0012", "0.0018", ""}, kMillisecond, 10, "no record lies between"},
      {{"1", "2", ""}, 0, 10, "choose them with --records"},
      {{"1", "", ""}, -5, 10, "choose them with --records"},
      {{"abc", "", ""}, kMillisecond, 10, "expected seconds"},
      {{"1", "", "1:2"}, kMillisecond, 10, "give one of them"},
      {{"", "", "5:10"}, kMillisecond, 10, "out of range"},
      {{"", "1", "1:2"}, kMillisecond, 10, "give one of them"},
      // Records without times, or with times beyond 64 bits, are counted only.
      {{"", "", "5:10"}, 0, 10, "out of range: the recording holds 10 records (0 to 9)"},
      {{"", "", "10:"}, INT64_MAX / 2, 10, "the recording holds 10 records (0 to 9)"},
      {{"", "", "4:2"}, kMillisecond, 10, "expected FIRST:LAST"},
  };
  for (const auto& c : cases) {
    try {
      recordSpan(c.window, c.interval, c.records);
      ADD_FAILURE() << "accepted " << c.window.from << ".." << c.window.to << c.window.records;
    } catch (const ToolError& error) {
      EXPECT_EQ(error.status(), kExitUsage);
      EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << error.what();
    }
  }
}

// A window's start moves by the whole seconds (or minutes) the header holds
// and reports the rest; the date rolls over at midnight.
TEST(WindowStart, MovesByWholeSecondsAndReportsTheRest) {
  RecordingInfo info;
  info.date = "31.12.2025";
  info.time = "23:59:30";
  info.scanInterval = kMillisecond;
  const WindowStart start = windowStart(info, 31999);  // 31.999 s in
  EXPECT_EQ(start.date, "01.01.2026");
  EXPECT_EQ(start.time, "00:00:01");
  EXPECT_EQ(start.restMicroseconds, 999000);
  EXPECT_NE(start.restWarning().find("0.999 s after the new start time 00:00:01"),
            std::string::npos)
      << start.restWarning();

  EXPECT_EQ(windowStart(info, 2000).restWarning(), "");  // 2 s exactly
  info.time = "10:15";                                   // no seconds: whole minutes
  const WindowStart minutes = windowStart(info, 61500);
  EXPECT_EQ(minutes.time, "10:16");
  EXPECT_EQ(minutes.restMicroseconds, 1500000);
  info.time = "";  // unknown: stays so
  EXPECT_EQ(windowStart(info, 61500).restMicroseconds, 0);
  EXPECT_EQ(windowStart(info, 61500).time, "");
}

}  // namespace
}  // namespace rvx
