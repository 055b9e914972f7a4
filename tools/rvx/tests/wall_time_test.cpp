// Wall-clock time: the timestamps and time zones rvx reads, and through rvx
// as a process, timestamp columns that import turns into a recording's
// start and scan interval, and the timestamps and start that export writes.
#include "shared/wall_time.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "shared/tool_error.h"
#include "shared/utf.h"
#include "support/cli_support.h"

namespace rvx::test {
namespace {

class WallTime : public RvxTest {
 protected:
  // Imports `csv` (written as `name`) with `options`; expects success.
  ReadBack imported(const std::string& name, const std::string& csv,
                    const std::vector<std::string>& options = {}) {
    writeBytes(scratch.file(name), csv);
    std::vector<std::string> arguments = {"import", name, "-o", name + ".rvx", "-f"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const Outcome run = rvx(arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    lastError = run.err;
    return readBack(at(name + ".rvx"));
  }
  std::string exported(const std::vector<std::string>& arguments) {
    const Outcome run = rvx(arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
  }
  std::string lastError;
};

// The forms of timestamp import reads, to the nanosecond and the offset,
// and texts that only look like one.
TEST(Timestamp, ReadsTheFormsItNamesAndNoOthers) {
  const int64_t day = daysFromCivil(2026, 12, 7) * kSecondsPerDay;
  const int64_t at1015 = day + 10 * 3600 + 15 * 60;
  const struct {
    const char* text;
    int64_t wallSeconds;
    int32_t nanoseconds;
    std::optional<int32_t> offset;
  } kRead[] = {
      {"2026-12-07T10:15:30.125", at1015 + 30, 125000000, std::nullopt},
      {" 7.12.2026  9:05 ", day + 9 * 3600 + 5 * 60, 0, std::nullopt},
      {"07/12/2026 10:15:30,123456789", at1015 + 30, 123456789, std::nullopt},
      {"2026-12-07T10:15:30Z", at1015 + 30, 0, 0},
      {"2026-12-07 10:15:30-05:30", at1015 + 30, 0, -19800},
      {"2026-12-07T10:15+0100", at1015, 0, 3600},
      {"2026-12-07T10:15:00.5+01", at1015, 500000000, 3600},
      {"29.02.2000 00:00", daysFromCivil(2000, 2, 29) * kSecondsPerDay, 0, std::nullopt},
      {"29.02.2024 00:00", daysFromCivil(2024, 2, 29) * kSecondsPerDay, 0, std::nullopt},
  };
  for (const auto& c : kRead) {
    const auto stamp = parseTimestamp(c.text);
    ASSERT_TRUE(stamp) << c.text;
    EXPECT_EQ(stamp->wallSeconds, c.wallSeconds) << c.text;
    EXPECT_EQ(stamp->nanoseconds, c.nanoseconds) << c.text;
    EXPECT_EQ(stamp->offset, c.offset) << c.text;
  }
  for (const char* text : {"2026-12-07",
                           "2026/12/07 10:15",
                           "2026-1-07 10:15",
                           "2026-12-7 10:15",
                           "7-12-2026 10:15",
                           "07.12.26 10:15",
                           "07.12-2026 10:15",
                           "07.12.2026 10",
                           "07.12.2026 10:1",
                           "07.12.2026 10:15:3",
                           "07.12.2026 10:15:30.",
                           "07.12.2026 10:15:30.1234567890",
                           "07.12.2026 10:15:30 UTC",
                           "07.12.2026 10:15+1",
                           "07.12.2026 10:15+01:0",
                           "07.12.2026 10:15+24:00",
                           "07.12.2026 10:15+01:60",
                           "07.12.2026 10:15Z1",
                           "29.02.2026 10:15",
                           "29.02.2100 10:15",
                           "31.04.2026 10:15",
                           "00.12.2026 10:15",
                           "07.13.2026 10:15",
                           "07.00.2026 10:15",
                           "07.12.2026 24:00",
                           "07.12.2026 10:60",
                           "07.12.2026 10:15:60",
                           "1.5"}) {
    EXPECT_FALSE(parseTimestamp(text)) << text;
  }
  EXPECT_TRUE(isTimestamp("\"07.12.2026 10:15:30,5\""));
  EXPECT_FALSE(isTimestamp("\"1,5\""));
}

// Zones by offset, by name from the system's database (or TZDIR's), and
// names that could leave the database's folder or name no zone.
TEST(TimeZone, TakesOffsetsAndNamesOfTheDatabaseOnly) {
  constexpr int64_t kWinter = 1796634930;  // 2026-12-07T09:15:30Z
  const std::pair<const char*, int32_t> kZones[] = {
      {"UTC", 0},
      {"utc", 0},
      {"Z", 0},
      {"+01", 3600},
      {"-05:30", -19800},
      {"Etc/GMT-1", 3600},  // the database's signs are POSIX's, the other way round
      {"America/Argentina/Buenos_Aires", -10800},
      {"Europe/Berlin", 3600}};
  for (const auto& [name, offset] : kZones) {
    TimeZone zone(name);
    EXPECT_EQ(zone.offsetAt(kWinter), offset) << name;
  }
  for (const char* name : {"", "/usr/share/zoneinfo/UTC", "Europe/../Europe/Berlin", "+01:00x",
                           "+1", "Europe/Berlin ", "Europe~Berlin", "Europe/Nowhere"}) {
    try {
      TimeZone zone(name);
      ADD_FAILURE() << "took '" << name << "'";
    } catch (const ToolError& error) {
      EXPECT_EQ(error.status(), kExitUsage);
      EXPECT_NE(
          std::string(error.what()).find("--tz: unknown time zone '" + std::string(name) + "'"),
          npos)
          << error.what();
    }
  }

  // A database of TZDIR, where a file that is no zone is none; TZ as it was.
  kdrvx::test::ScratchDir scratch;
  std::filesystem::create_directories(scratch.file("Test"));
  std::filesystem::copy_file("/usr/share/zoneinfo/Europe/Berlin", scratch.file("Test/Zone"));
  writeBytes(scratch.file("Test/Text"), "not a zone");
  const char* given = std::getenv("TZ");
  const std::optional<std::string> before =
      given ? std::optional<std::string>(given) : std::nullopt;
  setenv("TZDIR", scratch.path().c_str(), 1);
  setenv("TZ", "Asia/Tokyo", 1);
  EXPECT_EQ(TimeZone("Test/Zone").offsetAt(kWinter), 3600);
  EXPECT_THROW(TimeZone("Test/Text"), ToolError);
  unsetenv("TZDIR");
  EXPECT_STREQ(std::getenv("TZ"), "Asia/Tokyo");
  if (before) {
    setenv("TZ", before->c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

// An offset that changes at an odd second (Berlin's local mean time gave
// way to CET at 1893-04-01 00:00 local time) is found to the second.
TEST(TimeZone, FindsAChangeOfOffsetToTheSecond) {
  constexpr int64_t kChange = -2422054408;  // 1893-03-31T23:06:32Z
  TimeZone berlin("Europe/Berlin");
  EXPECT_EQ(berlin.offsetAt(kChange - 1), 3208);  // +00:53:28
  EXPECT_EQ(berlin.offsetAt(kChange), 3600);
  EXPECT_EQ(berlin.offsetAt(kChange - 600), 3208);
}

TEST_F(WallTime, TimestampsGiveTheStartAndTheInterval) {
  // ISO with a T and a rest of a second, which is warned about.
  ReadBack back = imported("iso.csv",
                           "timestamp,p1\r\n2026-12-07T10:15:30.125,1\r\n"
                           "2026-12-07T10:15:30.375,2\r\n2026-12-07T10:15:30.625,3\r\n");
  EXPECT_EQ(back.date, u"07.12.2026");
  EXPECT_EQ(back.time, u"10:15:30");
  EXPECT_EQ(back.interval, 250000);
  EXPECT_NE(lastError.find("warning: the first record lies 0.125 s after the start time 10:15:30 "
                           "(the header holds whole seconds)"),
            npos)
      << lastError;
  // ISO with a space; the interval is (last - first) / (rows - 1), so that
  // a jitter within 1% leaves it exact.
  back = imported("space.csv",
                  "time,p1\n2026-01-31 23:59:59.000,1\n2026-01-31 23:59:59.0015,2\n"
                  "2026-01-31 23:59:59.003,3\n2026-01-31 23:59:59.0045,4\n");
  EXPECT_EQ(back.date, u"31.01.2026");
  EXPECT_EQ(back.time, u"23:59:59");
  EXPECT_EQ(back.interval, 1500);
  back = imported("jitter.csv",
                  "date/time,p1\n2026-05-01T08:00:00.000,1\n2026-05-01T08:00:00.001005,2\n"
                  "2026-05-01T08:00:00.002,3\n");
  EXPECT_EQ(back.interval, 1000);
  // French, with a decimal comma in the values and in the timestamps.
  back = imported("fr.csv",
                  "Datum/Uhrzeit;p1\n07/12/2026 10:15:30,000;1,5\n07/12/2026 10:15:31,000;2,5\n");
  EXPECT_EQ(back.date, u"07.12.2026");
  EXPECT_EQ(back.interval, 1000000);
  ASSERT_EQ(back.values.size(), 2u);
  EXPECT_EQ(back.values[1], std::bit_cast<uint32_t>(2.5f));
  // --time replaces the column's start, with a warning.
  back = imported("iso.csv", readBytes(scratch.file("iso.csv")), {"--time", "11:00:00"});
  EXPECT_EQ(back.time, u"11:00:00");
  EXPECT_NE(lastError.find("the time column starts at 07.12.2026 10:15:30; --time replaces it"),
            npos)
      << lastError;
}

TEST_F(WallTime, IrregularStepsAndUnzonedOffsetsAreRefused) {
  std::string gap = "timestamp,p1\n";
  for (int s = 0; s < 10; ++s) gap += "2026-12-07T10:00:0" + std::to_string(s) + ",1\n";
  gap += "2026-12-07T10:00:10.05,2\n2026-12-07T10:00:11.05,3\n";
  writeBytes(scratch.file("gap.csv"), gap);
  writeBytes(scratch.file("utc.csv"),
             "timestamp,p1\n2026-12-07T09:15:30Z,1\n2026-12-07T09:15:31Z,2\n");
  // The interval is 1.004545 s; the steps of 1 s are 0.45% off it.
  expectRun({"import", "gap.csv", "-o", "x.rvx"}, 1,
            "gap.csv line 12: the step of 1.05 s from the row before is 4.52% away from the scan "
            "interval of 1.004545 s, more than the 1% allowed (the largest deviation is 4.52%, "
            "at line 12)");
  expectRun({"import", "utc.csv", "-o", "x.rvx"}, 1,
            "utc.csv line 2: the timestamp '2026-12-07T09:15:30Z' gives a UTC offset");
  expectRun({"import", "utc.csv", "-o", "x.rvx", "--tz", "Mars/Olympus"}, 2,
            "--tz: unknown time zone 'Mars/Olympus'");
  EXPECT_FALSE(exists("x.rvx"));
  // Given an interval, the steps are only warned about.
  ASSERT_EQ(
      imported("gap.csv", readBytes(scratch.file("gap.csv")), {"--scan-interval-us", "1000000"})
          .interval,
      1000000);
  EXPECT_NE(lastError.find("gap.csv line 12: warning: the step of 1.05 s"), npos) << lastError;

  // The first row that strays is named, though a later one strays the other
  // way; a clock set back, an offset that only later rows give, or a
  // timestamp a century away is refused too.
  const std::string day = "timestamp,p1\n2026-12-07T10:00:00,1\n2026-12-07T10:00:01,2\n";
  const struct {
    std::string rows;
    std::string says;
  } kRefused[] = {
      {"2026-12-07T10:00:02,3\n2026-12-07T10:00:03.5,4\n2026-12-07T10:00:04,5\n"
       "2026-12-07T10:00:05,6\n",
       "line 5: the step of 1.5 s from the row before is 50% away from the scan interval of 1 s, "
       "more than the 1% allowed (the largest deviation is 50%, at line 5)"},
      {"2026-12-07T09:59:59,3\n", "line 4: the step of -2 s from the row before is 300% away"},
      {"2026-12-07T10:00:02Z,3\n",
       "line 4, column 1: the timestamp '2026-12-07T10:00:02Z' gives a UTC offset"},
      {"2200-01-01T00:00:00,3\n",
       "line 4, column 1: the timestamp '2200-01-01T00:00:00' lies centuries from the first"},
      {"1800-01-01T00:00:00,3\n",
       "line 4, column 1: the timestamp '1800-01-01T00:00:00' lies centuries from the first"},
  };
  for (const auto& c : kRefused) {
    writeBytes(scratch.file("refused.csv"), day + c.rows);
    expectRun({"import", "refused.csv", "-o", "x.rvx"}, 1, "refused.csv " + c.says);
  }
  EXPECT_FALSE(exists("x.rvx"));
}

// --date and --time replace what they name of the column's start, with a
// warning; what they leave unknown stays so, and a time the header gets
// from the moment of import is warned about.
TEST_F(WallTime, DateAndTimeReplaceWhatTheyName) {
  const std::string stamps = "timestamp,p1\n2026-12-07T10:15:30,1\n2026-12-07T10:15:31,2\n";
  ReadBack back = imported("stamps.csv", stamps, {"--date", "01.02.2020", "--time", "12:00:00"});
  EXPECT_EQ(back.date, u"01.02.2020");
  EXPECT_EQ(back.time, u"12:00:00");
  EXPECT_NE(lastError.find("stamps.csv: warning: the time column starts at 07.12.2026 10:15:30; "
                           "--date and --time replace it"),
            npos)
      << lastError;
  back = imported("stamps.csv", stamps, {"--date", "01.02.2020"});
  EXPECT_EQ(back.date, u"01.02.2020");
  EXPECT_EQ(back.time, u"10:15:30");
  EXPECT_NE(lastError.find("10:15:30; --date replaces it"), npos) << lastError;

  writeBytes(scratch.file("plain.csv"), "t,p1\n0,1\n1,2\n");
  const Outcome unknown = rvx(
      {"import", "plain.csv", "-o", "unknown.rvx", "--date", "01.02.2020", "--time", "unknown"});
  ASSERT_EQ(unknown.status, 0) << unknown.err;
  EXPECT_NE(unknown.out.find("every 1 s, dated 01.02.2020, time unknown\n"), npos) << unknown.out;
  EXPECT_EQ(unknown.err, "");
  EXPECT_EQ(readBack(at("unknown.rvx")).date, u"01.02.2020");
  const Outcome now = rvx({"import", "plain.csv", "-o", "now.rvx", "--date", "01.02.2020"});
  ASSERT_EQ(now.status, 0) << now.err;
  EXPECT_NE(now.err.find("now.rvx: warning: no time given: the recording's time is " +
                         toUtf8(readBack(at("now.rvx")).time) + ", that of the import"),
            npos)
      << now.err;
}

TEST_F(WallTime, OffsetsBecomeTheWallClockTimeOfTheZone) {
  const std::string utc = "timestamp,p1\n2026-12-07T09:15:30Z,1\n2026-12-07T09:15:31+00:00,2\n";
  EXPECT_EQ(imported("a.csv", utc, {"--tz", "+01:00"}).time, u"10:15:30");
  EXPECT_EQ(imported("b.csv", utc, {"--tz", "Europe/Berlin"}).time, u"10:15:30");
  EXPECT_EQ(imported("c.csv", utc, {"--tz=-0530"}).time, u"03:45:30");
  // Across the end of summer time the instants are regular: so is UTC's
  // wall-clock time, and Berlin's is not.
  const std::string autumn =
      "timestamp,p1\n2026-10-25T02:59:59+02:00,1\n2026-10-25T02:00:00+01:00,2\n"
      "2026-10-25T02:00:01+0100,3\n";
  const ReadBack back = imported("d.csv", autumn, {"--tz", "UTC"});
  EXPECT_EQ(back.time, u"00:59:59");
  EXPECT_EQ(back.interval, 1000000);
  writeBytes(scratch.file("autumn.csv"), autumn);
  expectRun({"import", "autumn.csv", "-o", "x.rvx", "--tz", "Europe/Berlin"}, 1,
            "autumn.csv line 3: the time column does not increase in the wall-clock time of "
            "Europe/Berlin");
}

TEST_F(WallTime, ExportWritesTimestampsThatImportReadsBack) {
  std::string run = "timestamp,p1\n";
  for (int q = 0; q < 8; ++q) {
    run += "2026-10-25T02:59:5" + std::to_string(8 + q / 4) + "." +
           std::to_string(q % 4 * 25 + 100).substr(1) + "," + std::to_string(q + 1) + "\n";
  }
  imported("run.csv", run + "2026-10-25T03:00:00.00,9\n");
  EXPECT_EQ(exported({"export", "run.csv.rvx", "--time", "absolute", "--records", "4:6"}),
            "timestamp,p1\r\n2026-10-25T02:59:59.00,5\r\n2026-10-25T02:59:59.25,6\r\n"
            "2026-10-25T02:59:59.50,7\r\n");
  // Where summer time ends, the offset changes and the records keep their
  // spacing in real time.
  imported("autumn.csv", "timestamp,p1\n2026-10-25 01:30:00,1\n2026-10-25 02:00:00,2\n"
                         "2026-10-25 02:30:00,3\n2026-10-25 03:00:00,4\n");
  EXPECT_EQ(exported({"export", "autumn.csv.rvx", "--time", "absolute", "--tz", "Europe/Berlin",
                      "--records", "1:", "--delimiter", ";"}),
            "timestamp;p1\r\n2026-10-25T02:00:00+02:00;2\r\n"
            "2026-10-25T02:30:00+02:00;3\r\n2026-10-25T02:00:00+01:00;4\r\n");
  // A start that Berlin shows twice cannot be placed without its offset.
  expectRun({"export", "run.csv.rvx", "--time", "absolute", "--tz", "Europe/Berlin"}, 1,
            "the recording's start 2026-10-25T02:59:58 is ambiguous in Europe/Berlin, whose "
            "clocks show that hour twice (2026-10-25T02:59:58+02:00 or "
            "2026-10-25T02:59:58+01:00), and its header keeps no offset from UTC; give --tz as "
            "the offset from UTC that the recorder's clock kept, e.g. --tz=+01:00");
  EXPECT_EQ(exported({"export", "run.csv.rvx", "--time", "absolute", "--tz=+02:00", "--records",
                      "7:", "--decimal-comma", "--delimiter", ";"}),
            "timestamp;p1\r\n2026-10-25T02:59:59,75+02:00;8\r\n"
            "2026-10-25T03:00:00,00+02:00;9\r\n");
  // export -> import gives the same start, interval and values.
  ASSERT_EQ(rvx({"export", "run.csv.rvx", "--time", "absolute", "-o", "again.csv"}).status, 0);
  const ReadBack first = readBack(at("run.csv.rvx"));
  const ReadBack again = imported("again.csv", readBytes(scratch.file("again.csv")));
  EXPECT_EQ(again.date, first.date);
  EXPECT_EQ(again.time, first.time);
  EXPECT_EQ(again.interval, first.interval);
  EXPECT_EQ(again.values, first.values);
  // The default stays the time from the start.
  EXPECT_EQ(exported({"export", "run.csv.rvx", "--records", "6"}), "time [s],p1\r\n1.5,7\r\n");

  // A start that is not known, or that the zone skips, is refused.
  imported("unknown.csv", "t,p1\n0,1\n1,2\n", {"--date", "unknown"});
  imported("spring.csv", "timestamp,p1\n2026-03-29 02:30:00,1\n2026-03-29 02:30:01,2\n");
  expectRun({"export", "unknown.csv.rvx", "--time", "absolute", "-o", "x.csv"}, 1,
            "unknown.csv.rvx: the recording's start is unknown (its date), which --time absolute "
            "needs");
  expectRun(
      {"export", "spring.csv.rvx", "--time", "absolute", "--tz", "Europe/Berlin", "-o", "x.csv"}, 1,
      "the recording's start 2026-03-29T02:30:00 does not exist in Europe/Berlin");
  expectRun({"export", "run.csv.rvx", "--tz", "UTC"}, 2, "--tz applies to --time absolute");
  EXPECT_FALSE(exists("x.csv"));
}

TEST_F(WallTime, MatlabAndHdf5CarryTheStart) {
  imported("run.csv", "timestamp,p1\n2026-12-07T10:15:30,1\n2026-12-07T10:15:31,2\n");
  imported("unknown.csv", "t,p1\n0,1\n1,2\n", {"--date", "unknown"});
  for (const std::string kind : {"mat", "hdf5"}) {
    SCOPED_TRACE(kind);
    const std::string out = "run." + kind;
    ASSERT_EQ(rvx({"export", "run.csv.rvx", "-o", out}).status, 0);
    nlohmann::json read = readExport(kind, at(out));
    EXPECT_EQ(read["start"], "2026-12-07T10:15:30");
    EXPECT_FALSE(read.contains("start_posix"));
    ASSERT_EQ(rvx({"export", "run.csv.rvx", "-o", out, "-f", "--tz", "Europe/Berlin"}).status, 0);
    read = readExport(kind, at(out));
    EXPECT_EQ(read["start_posix"], 1796634930.0);  // 2026-12-07T09:15:30Z
    ASSERT_EQ(rvx({"export", "unknown.csv.rvx", "-o", out, "-f"}).status, 0);
    EXPECT_FALSE(readExport(kind, at(out)).contains("start"));
  }
}

}  // namespace
}  // namespace rvx::test
