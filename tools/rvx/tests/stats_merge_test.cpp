// rvx stats and the channel matching and time checks of rvx merge, run as
// processes on recordings made for the test.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

#include "support/cli_support.h"

namespace rvx::test {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

float bits(uint32_t pattern) { return std::bit_cast<float>(pattern); }

// Four records whose figures are exact in double: p1 with four numbers,
// T2 with one number, a NaN and both infinities, dp1 with NaN alone, and
// M1 a multichannel of 8 bits.
Recording knownRecording() {
  Recording recording;
  recording.channels = {
      {"p1", "bar", ""}, {"T2", "°C", ""}, {"dp1", "mbar", ""}, {"M1", "", "", 8}};
  recording.records = {{1.5f, 20.5f, kNaN, bits(5)},
                       {-2.25f, kNaN, kNaN, bits(6)},
                       {4.0f, kInf, kNaN, bits(1)},
                       {0.75f, -kInf, kNaN, bits(255)}};
  return recording;
}

nlohmann::json statsJson(const Outcome& run) {
  EXPECT_EQ(run.status, 0) << run.err;
  return nlohmann::json::parse(run.out);
}

// The figures of `values` as their definitions give them.
struct Figures {
  double min = 0, max = 0, mean = 0, rms = 0, sd = 0;
};
Figures figuresOf(const std::vector<double>& values) {
  Figures f{values[0], values[0]};
  double sum = 0, squares = 0;
  for (double x : values) {
    f.min = std::min(f.min, x);
    f.max = std::max(f.max, x);
    sum += x;
    squares += x * x;
  }
  const auto n = static_cast<double>(values.size());
  f.mean = sum / n;
  double deviations = 0;
  for (double x : values) deviations += (x - f.mean) * (x - f.mean);
  f.rms = std::sqrt(squares / n);
  f.sd = std::sqrt(deviations / n);
  return f;
}

void expectFigures(const nlohmann::json& channel, const Figures& f) {
  EXPECT_EQ(channel["min"].get<double>(), f.min) << channel;
  EXPECT_EQ(channel["max"].get<double>(), f.max) << channel;
  EXPECT_EQ(channel["mean"].get<double>(), f.mean) << channel;
  EXPECT_EQ(channel["rms"].get<double>(), f.rms) << channel;
  EXPECT_EQ(channel["sd"].get<double>(), f.sd) << channel;
}

class Stats : public RvxTest {};

TEST_F(Stats, CountsNanInfAndBitsApartFromTheFiguresOfTheFiniteValues) {
  createRecording(at("a.rvx"), knownRecording());
  const nlohmann::json json = statsJson(rvx({"stats", "a.rvx", "--json"}));
  ASSERT_EQ(json.size(), 1u);
  EXPECT_EQ(json[0]["file"], "a.rvx");
  EXPECT_EQ(json[0]["first_record"], 0);
  EXPECT_EQ(json[0]["records"], 4);
  const nlohmann::json& channels = json[0]["channels"];
  ASSERT_EQ(channels.size(), 4u);
  EXPECT_EQ(channels[0]["channel"], "p1");
  EXPECT_EQ(channels[0]["unit"], "bar");
  expectFigures(channels[0], figuresOf({1.5, -2.25, 4.0, 0.75}));
  EXPECT_FALSE(channels[0].contains("bits"));
  EXPECT_EQ(channels[1]["unit"], "°C");
  EXPECT_EQ(channels[1]["finite"], 1);
  EXPECT_EQ(channels[1]["nan"], 1);
  EXPECT_EQ(channels[1]["inf"], 2);
  expectFigures(channels[1], figuresOf({20.5}));
  EXPECT_EQ(channels[2]["nan"], 4);
  for (const char* figure : {"min", "max", "mean", "rms", "sd"})
    EXPECT_TRUE(channels[2][figure].is_null()) << figure;
  EXPECT_EQ(channels[3]["bits"], nlohmann::json({3, 2, 3, 1, 1, 1, 1, 1}));

  const Outcome table = rvx({"stats", "a.rvx"});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(table.out,
            "  Records  Channel  Unit  Min    Max   Mean  RMS       SD        NaN  Inf  Bits set\n"
            "  0:3      p1       bar   -2.25  4     1     2.443103  2.229069  0    0\n"
            "  0:3      T2       °C    20.5   20.5  20.5  20.5      0         1    2\n"
            "  0:3      dp1      mbar  -      -     -     -         -         4    0\n"
            "  0:3      M1             -      -     -     -         -         -    -    bit0 3, "
            "bit1 2, bit2 3, bit3 1, bit4 1, bit5 1, bit6 1, bit7 1\n");
}

TEST_F(Stats, TakesTheWindowInRecordsOrSecondsAndTheChannelsNamed) {
  createRecording(at("a.rvx"), knownRecording());  // 1 ms apart
  const nlohmann::json byRecords =
      statsJson(rvx({"stats", "a.rvx", "--json", "--records", "1:2", "--channels", "T2,p1"}));
  const nlohmann::json bySeconds = statsJson(
      rvx({"stats", "a.rvx", "--json", "--from", "0.001", "--to", "0.002", "--channels", "T2,p1"}));
  EXPECT_EQ(byRecords, bySeconds);
  EXPECT_EQ(byRecords[0]["first_record"], 1);
  EXPECT_EQ(byRecords[0]["records"], 2);
  const nlohmann::json& channels = byRecords[0]["channels"];
  ASSERT_EQ(channels.size(), 2u);
  EXPECT_EQ(channels[0]["channel"], "T2");
  EXPECT_EQ(channels[0]["finite"], 0);
  EXPECT_EQ(channels[0]["inf"], 1);
  expectFigures(channels[1], figuresOf({-2.25, 4.0}));

  expectRun({"stats", "a.rvx", "--records", "2:9"}, 2, "out of range");
  expectRun({"stats", "a.rvx", "--channels", "q9"}, 2, "no channel q9");
}

// Several files are one table with a file column, or one JSON array whose
// doubles are those of the library, bit for bit; a file not read has its
// entry and makes the exit status 1.
TEST_F(Stats, SeveralFilesGiveOneTableOrOneArray) {
  createRecording(at("a.rvx"), knownRecording());
  Recording random;
  random.channels = {{"x1", "V", ""}, {"x2", "", ""}};
  random.records = randomRecords(3000, 2, 5);
  createRecording(at("r.rvx"), random);

  const Outcome table = rvx({"stats", "a.rvx", "r.rvx", "--channels", "#0"});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_NE(table.out.find("File   Records  Channel"), npos) << table.out;
  EXPECT_NE(table.out.find("a.rvx  0:3      p1"), npos) << table.out;
  EXPECT_NE(table.out.find("r.rvx  0:2999   x1       V"), npos) << table.out;

  const Outcome run = rvx({"stats", "r.rvx", "missing.rvx", "a.rvx", "--json", "-j", "2"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("rvx: missing.rvx: "), npos) << run.err;
  const nlohmann::json json = nlohmann::json::parse(run.out);
  ASSERT_EQ(json.size(), 3u);
  EXPECT_EQ(json[1]["file"], "missing.rvx");
  EXPECT_NE(json[1]["error"].get<std::string>().find("cannot be opened for read"), npos);
  EXPECT_EQ(json[2]["file"], "a.rvx");

  KDRVX_Reader* reader = nullptr;
  ASSERT_EQ(KDRVX_ReaderOpen(wide(u16(at("r.rvx"))), &reader), 0u);
  KDRVX_WindowStatistics found[2] = {};
  found[0].size = found[1].size = sizeof found[0];
  ASSERT_EQ(KDRVX_ReaderStatistics(reader, 0, 3000, found, 2, nullptr, nullptr), 0u);
  KDRVX_ReaderClose(reader);
  for (size_t k = 0; k < 2; ++k) {
    const nlohmann::json& channel = json[0]["channels"][k];
    expectFigures(channel, {found[k].minValue, found[k].maxValue, found[k].meanValue,
                            found[k].rmsValue, found[k].sdevValue});
    EXPECT_EQ(channel["finite"], 3000);
  }
}

// A window without records shows "-" for its records and figures; files
// none of which can be read give no table at all; a multichannel's bits
// column stays empty for the channels after it.
TEST_F(Stats, NoRecordsAndNoReadableFile) {
  Recording empty;
  empty.channels = {{"p1", "bar", ""}};
  createRecording(at("empty.rvx"), empty);
  const Outcome table = rvx({"stats", "empty.rvx"});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_NE(table.out.find("\n  -        p1       bar   -    -    -     -    -   0    0\n"), npos)
      << table.out;

  const Outcome none = rvx({"stats", "missing.rvx", "gone.rvx"});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_NE(none.err.find("rvx: missing.rvx: "), npos) << none.err;
  EXPECT_NE(none.err.find("rvx: gone.rvx: "), npos) << none.err;

  // An ordinary channel after a multichannel leaves the bits column empty.
  createRecording(at("a.rvx"), knownRecording());
  const Outcome mixed = rvx({"stats", "a.rvx", "--channels", "M1,p1"});
  ASSERT_EQ(mixed.status, 0) << mixed.err;
  EXPECT_EQ(
      mixed.out,
      "  Records  Channel  Unit  Min    Max  Mean  RMS       SD        NaN  Inf  Bits set\n"
      "  0:3      M1             -      -    -     -         -         -    -    bit0 3, bit1 "
      "2, bit2 3, bit3 1, bit4 1, bit5 1, bit6 1, bit7 1\n"
      "  0:3      p1       bar   -2.25  4    1     2.443103  2.229069  0    0\n");
}

class Merge : public RvxTest {
 protected:
  // `records` records 1 ms apart of p1 and T2, p1 counting from `first`.
  Recording recording(const std::string& time, size_t records, float first = 0) {
    Recording made;
    made.channels = {{"p1", "bar", ""}, {"T2", "°C", ""}};
    for (size_t r = 0; r < records; ++r)
      made.records.push_back({first + static_cast<float>(r), 20.0f});
    made.time = time;
    return made;
  }
};

TEST_F(Merge, ByNameTakesTheChannelsInTheFirstFilesOrderAndRefusesOthers) {
  Recording first = knownRecording();
  createRecording(at("a.rvx"), first);
  // b has a's channels in another order, with values of its own.
  Recording other;
  other.channels = {first.channels[3], first.channels[1], first.channels[0], first.channels[2]};
  other.records = {{bits(9), 30.0f, 7.0f, -1.0f}, {bits(10), 31.0f, 8.0f, -2.0f}};
  createRecording(at("b.rvx"), other);

  expectRun({"merge", "a.rvx", "b.rvx", "-o", "ab.rvx"}, 1,
            "cannot merge b.rvx: channel 0 is p1 in a.rvx, M1 in b.rvx (the same channels in "
            "another order: --by-name matches them by variable)");
  EXPECT_FALSE(exists("ab.rvx"));
  const Outcome merged = rvx({"merge", "a.rvx", "b.rvx", "--by-name", "-o", "ab.rvx"});
  ASSERT_EQ(merged.status, 0) << merged.err;
  const ReadBack back = readBack(at("ab.rvx"));
  ASSERT_EQ(back.channels.size(), 4u);
  EXPECT_EQ(back.channels[0].variable, u"p1");
  EXPECT_EQ(back.channels[3].variable, u"M1");
  std::vector<std::vector<float>> expected = first.records;
  expected.push_back({7.0f, 30.0f, -1.0f, bits(9)});
  expected.push_back({8.0f, 31.0f, -2.0f, bits(10)});
  std::vector<uint32_t> patterns;
  for (const auto& record : expected) {
    for (float value : record) patterns.push_back(std::bit_cast<uint32_t>(value));
  }
  EXPECT_EQ(back.values, patterns);

  Recording fewer = first;
  fewer.channels.pop_back();
  for (auto& record : fewer.records) record.pop_back();
  createRecording(at("fewer.rvx"), fewer);
  Recording more = first;
  more.channels.push_back({"X9", "", ""});
  for (auto& record : more.records) record.push_back(0.0f);
  createRecording(at("more.rvx"), more);
  expectRun({"merge", "a.rvx", "fewer.rvx", "--by-name", "-o", "out.rvx"}, 1,
            "cannot merge fewer.rvx: it has no channel M1, which a.rvx has");
  expectRun({"merge", "a.rvx", "more.rvx", "--by-name", "-o", "out.rvx"}, 1,
            "cannot merge more.rvx: its channel X9 is not in a.rvx");
  EXPECT_FALSE(exists("out.rvx"));
}

// Each file must start where the one before it ends (3000 records of 1 ms
// from 14:05:09 end at 14:05:12), to within one interval and the second
// the header keeps, or the minute where it keeps no seconds.
TEST_F(Merge, ChecksThatEachFileStartsWhereThePreviousEnds) {
  createRecording(at("a.rvx"), recording("14:05:09", 3000));
  createRecording(at("next.rvx"), recording("14:05:12", 1000, 3000));
  createRecording(at("early.rvx"), recording("14:05:10", 1000));
  createRecording(at("late.rvx"), recording("14:05:17", 1000, 3000));

  const Outcome follows = rvx({"merge", "a.rvx", "next.rvx", "-o", "ok.rvx"});
  ASSERT_EQ(follows.status, 0) << follows.err;
  EXPECT_EQ(follows.err, "");
  expectRun({"merge", "a.rvx", "early.rvx", "-o", "out.rvx"}, 1,
            "cannot merge early.rvx: it overlaps a.rvx by 2 s: a.rvx starts 04.12.2023 14:05:09 "
            "and ends 3 s later, early.rvx starts 04.12.2023 14:05:10");
  expectRun({"merge", "a.rvx", "late.rvx", "-o", "out.rvx"}, 1,
            "cannot merge late.rvx: a gap of 5 s lies between the end of a.rvx and the start of "
            "late.rvx");
  EXPECT_FALSE(exists("out.rvx"));

  const Outcome gap = rvx({"merge", "a.rvx", "late.rvx", "--allow-gaps", "-o", "gap.rvx"});
  ASSERT_EQ(gap.status, 0) << gap.err;
  EXPECT_NE(gap.err.find("rvx: late.rvx: warning: a gap of 5 s lies between the end of a.rvx and "
                         "the start of late.rvx"),
            npos)
      << gap.err;
  EXPECT_EQ(readBack(at("gap.rvx")).values, readBack(at("ok.rvx")).values);

  // Whole minutes: 14:05 and 3 s of records may be followed by 14:06.
  createRecording(at("m1.rvx"), recording("14:05", 3000));
  createRecording(at("m2.rvx"), recording("14:06", 10));
  const Outcome minutes = rvx({"merge", "m1.rvx", "m2.rvx", "-o", "m.rvx"});
  EXPECT_EQ(minutes.status, 0) << minutes.err;
}

// Files whose channels or times cannot be compared are refused before any
// output; a trigger record past its file's records is left out, named.
TEST_F(Merge, RefusesWhatCannotBeComparedAndNamesATriggerLeftOut) {
  createRecording(at("a.rvx"), recording("14:05:09", 4));
  Recording fewer = recording("14:05:09", 4);
  fewer.channels.pop_back();
  for (auto& record : fewer.records) record.pop_back();
  createRecording(at("fewer.rvx"), fewer);
  const std::string bytes = readBytes(scratch.file("a.rvx"));
  std::string untimed = bytes, late = bytes;
  untimed.replace(32, 4, std::string(4, '\0'));  // ScanRate
  late[24] = 10;                                 // NoTriggerRecord
  writeBytes(scratch.file("untimed.rvx"), untimed);
  writeBytes(scratch.file("late.rvx"), late);

  expectRun({"merge", "a.rvx", "fewer.rvx", "-o", "out.rvx"}, 1,
            "cannot merge fewer.rvx: the channel count is 2 in a.rvx, 1 in fewer.rvx");
  expectRun({"merge", "untimed.rvx", "untimed.rvx", "-o", "out.rvx"}, 1,
            "cannot merge untimed.rvx: the scan interval is 0 us, so the records have no times and "
            "whether the files follow each other cannot be checked; --no-time-check merges the "
            "files without looking at their times");
  EXPECT_FALSE(exists("out.rvx"));

  const Outcome merged = rvx({"merge", "late.rvx", "late.rvx", "--no-time-check", "-o", "out.rvx"});
  ASSERT_EQ(merged.status, 0) << merged.err;
  EXPECT_NE(merged.err.find("late.rvx: warning: the trigger record 10 is left out: it lies past "
                            "the file's 4 records"),
            npos)
      << merged.err;
  EXPECT_EQ(readBack(at("out.rvx")).triggerRecord, 0u);
}

TEST_F(Merge, AStartThatIsNotKnownNeedsNoTimeCheck) {
  const std::string dos = writeOldLayout(scratch.path(), OldLayout::DosQ, false).path.filename();
  expectRun({"merge", dos, dos, "-o", "out.rvx"}, 1,
            "cannot merge " + dos +
                ": its start is unknown (the header holds no valid date and time), so whether the "
                "files follow each other cannot be checked; --no-time-check merges the files "
                "without looking at their times");
  EXPECT_FALSE(exists("out.rvx"));
  const Outcome merged = rvx({"merge", dos, dos, "--no-time-check", "-o", "out.rvx"});
  EXPECT_EQ(merged.status, 0) << merged.err;
}

}  // namespace
}  // namespace rvx::test
