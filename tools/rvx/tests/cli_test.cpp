// Every subcommand of rvx run as a process on files made for the test.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <cctype>
#include <cstring>
#include <sstream>

#include "csv.h"
#include "number_text.h"
#include "support/cli_support.h"
#include "support/test_support.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace rvx::test {
namespace {

using kdrvx::test::readBytes;
using kdrvx::test::ScratchDir;
using kdrvx::test::writeBytes;

std::vector<std::vector<std::string>> csvRows(const std::string& text) {
  std::istringstream in(text);
  CsvReader reader(in);
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> fields;
  while (reader.next(fields)) rows.push_back(fields);
  return rows;
}

Recording smallRecording() {
  Recording recording;
  recording.channels = {{"p1", "bar", "Inlet"},
                        {"T2", "°C", "Oil"},
                        {"dp1", "mbar", "Filter"},
                        {"M1", "", "Inputs", 32}};
  recording.records = {{1.0f, 20.5f, -0.25f, std::bit_cast<float>(5u)},
                       {2.0f, 21.0f, 0.1f, std::bit_cast<float>(6u)},
                       {3.0f, -40.0f, 1e-40f, std::bit_cast<float>(0x80000001u)}};
  recording.interval = 1500;
  return recording;
}

class Cli : public ::testing::Test {
 protected:
  Outcome rvx(const std::vector<std::string>& arguments) { return runRvx(arguments, scratch.path()); }
  std::string at(const std::string& name) const { return scratch.file(name).string(); }
  ScratchDir scratch;
};

TEST_F(Cli, InfoJsonCarriesHeaderChannelsAndStatistics) {
  createRecording(at("a.rvx"), smallRecording());
  const Outcome run = rvx({"info", "--json", "a.rvx"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto json = nlohmann::json::parse(run.out);
  EXPECT_EQ(json["layout"], "current");
  EXPECT_EQ(json["version"], 's');
  EXPECT_EQ(json["date"], "04.12.2023");
  EXPECT_EQ(json["time"], "14:05:09");
  EXPECT_EQ(json["scan_interval_us"], 1500);
  EXPECT_EQ(json["records"], 3);
  EXPECT_EQ(json["duration_s"], 0.003);
  EXPECT_EQ(json["company"], "ACME Corp");
  EXPECT_EQ(json["comment"], "first line\r\nsecond line");
  EXPECT_EQ(json["statistics_flag"], 3);
  const auto& channels = json["channels"];
  ASSERT_EQ(channels.size(), 4u);
  EXPECT_EQ(channels[1]["variable"], "T2");
  EXPECT_EQ(channels[1]["unit"], "°C");
  EXPECT_EQ(channels[1]["name"], "Oil");
  EXPECT_EQ(channels[3]["multichannel_bits"], 32);
  // Statistics as the library stored them, and as short numbers.
  const ReadBack back = readBack(at("a.rvx"));
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(channels[k]["minimum"].get<float>(), back.channels[k].minimum);
    EXPECT_EQ(channels[k]["maximum"].get<float>(), back.channels[k].maximum);
    EXPECT_EQ(channels[k]["mean"].get<float>(), back.channels[k].mean);
    EXPECT_EQ(channels[k]["rms"].get<float>(), back.channels[k].rms);
  }
  EXPECT_NE(run.out.find("\"maximum\": 0.1,"), std::string::npos);

  const Outcome text = rvx({"info", "a.rvx"});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("Layout           current, version s (115)"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Scan interval    1500 µs"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("multi:32"), std::string::npos);
}

TEST_F(Cli, ExportWritesShortestFloatsBitsAndTime) {
  createRecording(at("a.rvx"), smallRecording());
  const Outcome run = rvx({"export", "a.rvx", "-o", "a.csv"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string csv = readBytes(scratch.file("a.csv"));
  EXPECT_EQ(csv,
            "time [s],p1 [bar],T2 [°C],dp1 [mbar],M1\r\n"
            "0,1,20.5,-0.25,5\r\n"
            "0.0015,2,21,0.1,6\r\n"
            "0.003,3,-40,1e-40,2147483649\r\n");

  const Outcome part = rvx({"export", "a.rvx", "--channels", "dp1,p1", "--records", "1:", "--no-time"});
  ASSERT_EQ(part.status, 0) << part.err;
  EXPECT_EQ(part.out, "dp1 [mbar],p1 [bar]\r\n0.1,2\r\n1e-40,3\r\n");
  EXPECT_EQ(rvx({"export", "a.rvx", "--records", ":0", "--no-time", "--channels", "T2"}).out,
            "T2 [°C]\r\n20.5\r\n");
}

TEST_F(Cli, ExportConvertsEveryRecordKind) {
  // Floats (WIN 3.x), DOS decimals (before 5.0 and WIN 2.x with version 0)
  // and the sparse WIN 2.x records.
  for (OldLayout layout : {OldLayout::Win3, OldLayout::DosBefore5, OldLayout::Win2Decimal,
                           OldLayout::Win2Sparse, OldLayout::DosP}) {
    SCOPED_TRACE(layoutTag(layout));
    const OldFile file = writeOldLayout(scratch.path(), layout);
    const Outcome run = rvx({"export", file.path.filename().string(), "--no-time"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto rows = csvRows(run.out);
    ASSERT_EQ(rows.size(), file.expected.size() + 1);
    for (size_t r = 0; r < file.expected.size(); ++r) {
      ASSERT_EQ(rows[r + 1].size(), file.expected[r].size());
      for (size_t k = 0; k < file.expected[r].size(); ++k) {
        float value = 0;
        ASSERT_TRUE(parseFloat(rows[r + 1][k], value));
        EXPECT_EQ(std::bit_cast<uint32_t>(value), std::bit_cast<uint32_t>(file.expected[r][k]))
            << "record " << r << " channel " << k << ": " << rows[r + 1][k];
      }
    }
  }
}

TEST_F(Cli, RecordingFromAnExportedCsvHoldsTheSameFloatsBitForBit) {
  Recording recording;
  recording.channels = {{"p1", "bar", ""}, {"T12", "K", ""}, {"Ax3", "", ""}, {"M2", "", "", 32}};
  recording.records = randomRecords(5000, 4, 11);
  createRecording(at("source.rvx"), recording);
  ASSERT_EQ(rvx({"export", "source.rvx", "-o", "source.csv"}).status, 0);

  const Outcome run = rvx({"import", "source.csv", "-o", "copy.rvx", "--multichannel", "M2:32", "--comment",
                       "line 1\nline 2", "--company", "CSV Works"});
  ASSERT_EQ(run.status, 0) << run.err;
  const ReadBack source = readBack(at("source.rvx"));
  const ReadBack copy = readBack(at("copy.rvx"));
  EXPECT_EQ(copy.values, source.values);
  EXPECT_EQ(copy.interval, 1000);
  EXPECT_EQ(copy.records, 5000u);
  EXPECT_EQ(copy.comment, u"line 1\r\nline 2");
  EXPECT_EQ(copy.company, u"CSV Works");
  ASSERT_EQ(copy.channels.size(), 4u);
  EXPECT_EQ(copy.channels[1].variable, u"T12");
  EXPECT_EQ(copy.channels[1].unit, u"K");
  EXPECT_EQ(copy.channels[3].bits, 32);
  // The create path kept the statistics.
  EXPECT_EQ(copy.flagStatistics, 3u);
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(std::bit_cast<uint32_t>(copy.channels[k].mean), std::bit_cast<uint32_t>(source.channels[k].mean));
    EXPECT_EQ(std::bit_cast<uint32_t>(copy.channels[k].rms), std::bit_cast<uint32_t>(source.channels[k].rms));
  }
  // And exported again, the text is the same.
  ASSERT_EQ(rvx({"export", "copy.rvx", "-o", "copy.csv"}).status, 0);
  EXPECT_EQ(readBytes(scratch.file("copy.csv")), readBytes(scratch.file("source.csv")));
}

TEST_F(Cli, RecordingFromCsvTakesTheCompactLayoutWithItsRviFile) {
  writeBytes(scratch.file("in.csv"), "time,p1 [bar],\"T2 [°C]\"\n0,1.5,20\n0.01,1.75,20.5\n0.02,2,21\n");
  const Outcome run =
      rvx({"import", "in.csv", "-o", "old.rvx", "--legacy", "--language", "de", "--name",
           "Versuch 1", "--date", "24.12.2020", "--time", "18:30", "--comment", "x"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string rvi = readBytes(scratch.file("old.RVI"));
  EXPECT_NE(rvi.find("Name Messung    :  Versuch 1"), std::string::npos) << rvi;
  const ReadBack back = readBack(at("old.rvx"));
  EXPECT_EQ(back.version, 64u);
  EXPECT_EQ(back.interval, 10000);
  EXPECT_EQ(back.date, u"24.12.2020");
  EXPECT_EQ(back.nameMeasurement, u"Versuch 1");
  ASSERT_EQ(back.channels.size(), 2u);
  EXPECT_EQ(back.channels[1].unit, u"°C");
  EXPECT_EQ(back.values, (std::vector<uint32_t>{std::bit_cast<uint32_t>(1.5f), std::bit_cast<uint32_t>(20.0f),
                                                std::bit_cast<uint32_t>(1.75f), std::bit_cast<uint32_t>(20.5f),
                                                std::bit_cast<uint32_t>(2.0f), std::bit_cast<uint32_t>(21.0f)}));
}

TEST_F(Cli, RecordingFromCsvRefusesBadInputAndLeavesNoFile) {
  writeBytes(scratch.file("bad.csv"), "p1,T2\n1,2\n3,x\n");
  Outcome run = rvx({"import", "bad.csv", "-o", "bad.rvx", "--scan-interval-us", "500"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("bad.csv line 3, column 2: 'x' is not a number"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(scratch.file("bad.rvx")));

  writeBytes(scratch.file("short.csv"), "p1,T2\n1,2\n3\n");
  run = rvx({"import", "short.csv", "-o", "short.rvx", "--scan-interval-us", "500"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("line 3: 1 fields where the heading has 2"), std::string::npos) << run.err;

  writeBytes(scratch.file("var.csv"), "p1,12\n1,2\n");
  run = rvx({"import", "var.csv", "-o", "var.rvx", "--scan-interval-us", "500"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("'12' is not a variable"), std::string::npos) << run.err;

  // No time column and no interval is a usage error.
  run = rvx({"import", "var.csv", "-o", "var.rvx"});
  EXPECT_EQ(run.status, 2) << run.err;
}

class Convert : public Cli, public ::testing::WithParamInterface<OldLayout> {};

TEST_P(Convert, KeepsEverythingTheLibraryReads) {
  const OldFile file = writeOldLayout(scratch.path(), GetParam());
  const ReadBack source = readBack(file.path);
  const Outcome run = rvx({"convert", file.path.filename().string(), "-o", "new.rvx"});
  ASSERT_EQ(run.status, 0) << run.err;
  const ReadBack converted = readBack(at("new.rvx"));
  EXPECT_EQ(converted.version, static_cast<uint32_t>('s'));
  EXPECT_EQ(converted.values, source.values);
  EXPECT_EQ(converted.records, source.records);
  EXPECT_EQ(converted.interval, source.interval);
  EXPECT_EQ(converted.date, source.date);
  EXPECT_EQ(converted.time, source.time);
  EXPECT_EQ(converted.comment, source.comment);
  EXPECT_EQ(converted.triggerRecord, source.triggerRecord);
  // Texts that only the RVI file held.
  EXPECT_EQ(converted.company, u"Old Works");
  EXPECT_EQ(converted.instrument, u"Logger 1990");
  EXPECT_EQ(converted.serialNumber, u"SN-17");
  EXPECT_EQ(converted.nameMeasurement, u"Old run");
  EXPECT_EQ(converted.triggerSetting, u"manual");
  ASSERT_EQ(converted.channels.size(), source.channels.size());
  for (size_t k = 0; k < source.channels.size(); ++k) {
    const auto& a = source.channels[k];
    const auto& b = converted.channels[k];
    if (!a.variable.empty()) {
      EXPECT_EQ(b.variable, a.variable);
    }
    EXPECT_EQ(b.unit, a.unit);
    EXPECT_EQ(b.name, a.name);
    EXPECT_EQ(b.name, u16("Sensor " + std::to_string(k + 1)));
    EXPECT_EQ(b.number, a.number);
    EXPECT_EQ(b.signalType, a.signalType);
    EXPECT_EQ(b.calParameter, a.calParameter);
    EXPECT_EQ(b.zeroPoint, a.zeroPoint);
    EXPECT_EQ(b.filter, a.filter);
    EXPECT_EQ(b.isds, a.isds);
    EXPECT_EQ(b.indRate, a.indRate);
  }
  // Statistics computed anew from the records.
  EXPECT_EQ(converted.flagStatistics, 3u);
}

INSTANTIATE_TEST_SUITE_P(OldLayouts, Convert,
                         ::testing::Values(OldLayout::DosBefore5, OldLayout::DosQ, OldLayout::DosP,
                                           OldLayout::Win2Sparse, OldLayout::Win2Decimal, OldLayout::Win3,
                                           OldLayout::Win6),
                         [](const auto& parameter) { return std::string(layoutTag(parameter.param)); });

TEST_F(Cli, ConvertReadsTheCompactLayoutWithItsRviFile) {
  Recording recording = smallRecording();
  recording.channels.pop_back();  // the compact layout has no multichannels
  for (auto& record : recording.records) record.pop_back();
  createRecording(at("c.rvx"), recording, true, 2);  // French labels
  const Outcome run = rvx({"convert", "c.rvx", "-o", "new.rvx"});
  ASSERT_EQ(run.status, 0) << run.err;
  const ReadBack source = readBack(at("c.rvx"));
  const ReadBack converted = readBack(at("new.rvx"));
  EXPECT_EQ(source.version, 64u);
  EXPECT_EQ(converted.values, source.values);
  EXPECT_EQ(converted.company, u"ACME Corp");
  EXPECT_EQ(converted.nameMeasurement, u"Run 7");
  EXPECT_EQ(converted.channels[1].unit, u"°C");
  EXPECT_EQ(converted.date, u"04.12.2023");
  EXPECT_EQ(converted.time, u"14:05");  // the compact layout has no seconds
  const Outcome info = rvx({"info", "c.rvx"});
  EXPECT_NE(info.out.find("Layout           WIN 3.x/4.x (compact), version 64 ('@')"), std::string::npos)
      << info.out;
}

TEST_F(Cli, ConvertKeepsAnUnknownDate) {
  // DOS files have no date; without an RVI file none is known.
  const OldFile file = writeOldLayout(scratch.path(), OldLayout::DosQ, false);
  const Outcome run = rvx({"convert", file.path.filename().string(), "-o", "new.rvx"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("is written as X1"), std::string::npos) << run.err;
  EXPECT_EQ(readBack(at("new.rvx")).date, readBack(file.path).date);
  EXPECT_EQ(readBack(at("new.rvx")).date, u"00.00.   0");
}

TEST_F(Cli, ModifyChangesTextsInPlace) {
  createRecording(at("a.rvx"), smallRecording());
  const std::string before = readBytes(scratch.file("a.rvx"));
  const Outcome run = rvx({"modify", "a.rvx", "--comment", "new\ncomment", "--name", "Run 8"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("measurement name \"Run 7\" -> \"Run 8\""), std::string::npos) << run.out;
  const ReadBack back = readBack(at("a.rvx"));
  EXPECT_EQ(back.comment, u"new\r\ncomment");
  EXPECT_EQ(back.nameMeasurement, u"Run 8");
  const std::string after = readBytes(scratch.file("a.rvx"));
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after.substr(1500 + 4 * 1400), before.substr(1500 + 4 * 1400));

  EXPECT_EQ(rvx({"modify", "a.rvx", "--name", std::string(24, 'n')}).status, 2);
  EXPECT_EQ(rvx({"modify", "a.rvx"}).status, 2);
  const OldFile old = writeOldLayout(scratch.path(), OldLayout::Win3);
  const Outcome refused = rvx({"modify", old.path.filename().string(), "--name", "x"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("win3.rvx: File cannot be modified (0xE100001E)"), std::string::npos) << refused.err;
}

TEST_F(Cli, CheckFindsWhatIsWrong) {
  Recording recording = smallRecording();
  createRecording(at("good.rvx"), recording);
  Outcome run = rvx({"check", "good.rvx"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("no findings"), std::string::npos);

  // An interrupted recording: the header still says 1 record.
  createRecording(at("stale.rvx"), recording, false, 4, Close::Simple);
  run = rvx({"check", "stale.rvx"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("stale record count: the header says 1 record, the data area holds 3"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("no statistics stored"), std::string::npos) << run.out;

  // A partial trailing record, and a maximum that the records do not have.
  std::string bytes = readBytes(scratch.file("good.rvx"));
  bytes += "xyz";
  bytes[1500 + 1384 + 3] = 0x42;  // channel 0 MaxValue
  writeBytes(scratch.file("bad.rvx"), bytes);
  run = rvx({"check", "bad.rvx"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("partial trailing record: 3 bytes"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("channel 0 (p1): stored maximum differ"), std::string::npos) << run.out;

  // A truncated file.
  writeBytes(scratch.file("cut.rvx"), readBytes(scratch.file("good.rvx")).substr(0, 1500 + 4 * 1400 + 16));
  run = rvx({"check", "cut.rvx"});
  EXPECT_NE(run.out.find("the header says 3 records but the file holds only 1"), std::string::npos) << run.out;

  // An old file without its RVI file.
  const OldFile old = writeOldLayout(scratch.path(), OldLayout::Win6, false);
  run = rvx({"check", old.path.filename().string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("WIN 6.x layout"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("no RVI file"), std::string::npos) << run.out;
  const OldFile withRvi = writeOldLayout(scratch.path(), OldLayout::Win2Sparse);
  run = rvx({"check", withRvi.path.filename().string()});
  EXPECT_EQ(run.status, 0) << run.out;

  // What the library refuses.
  std::string newer = readBytes(scratch.file("good.rvx"));
  newer[4] = 't';
  writeBytes(scratch.file("newer.rvx"), newer);
  run = rvx({"check", "newer.rvx"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("newer.rvx: newer than this library layout"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("does not open it: RVX- file is created by newer"), std::string::npos) << run.out;
}

TEST_F(Cli, RepairRecountsAFileThatLostItsFinalHeader) {
  Recording recording;
  recording.channels = {{"p1", "bar", ""}, {"T1", "°C", ""}};
  recording.records = randomRecords(777, 2, 3);
  // A NaN in the first record stays both extremes; a later one moves
  // neither. Either way the sums, and so mean and RMS, become NaN.
  recording.records[0][1] = NAN;
  recording.records[5][0] = NAN;
  createRecording(at("closed.rvx"), recording);
  createRecording(at("stale.rvx"), recording, false, 4, Close::Simple);
  std::string stale = readBytes(scratch.file("stale.rvx"));
  stale += "ab";  // half a record
  writeBytes(scratch.file("stale.rvx"), stale);

  const Outcome run = rvx({"repair", "stale.rvx"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("777 whole records (the header said 1)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("partial record of 2 bytes"), std::string::npos) << run.out;
  const ReadBack closed = readBack(at("closed.rvx"));
  const ReadBack repaired = readBack(at("stale.rvx"));
  EXPECT_EQ(repaired.records, 777u);
  EXPECT_EQ(repaired.flagStatistics, 3u);
  for (size_t k = 0; k < 2; ++k) {
    EXPECT_EQ(std::bit_cast<uint32_t>(repaired.channels[k].minimum), std::bit_cast<uint32_t>(closed.channels[k].minimum));
    EXPECT_EQ(std::bit_cast<uint32_t>(repaired.channels[k].maximum), std::bit_cast<uint32_t>(closed.channels[k].maximum));
    EXPECT_EQ(std::bit_cast<uint32_t>(repaired.channels[k].mean), std::bit_cast<uint32_t>(closed.channels[k].mean));
    EXPECT_EQ(std::bit_cast<uint32_t>(repaired.channels[k].rms), std::bit_cast<uint32_t>(closed.channels[k].rms));
  }
  // Apart from count, flag and statistics the bytes are those of the
  // interrupted file, the trailing half record included.
  std::string after = readBytes(scratch.file("stale.rvx"));
  ASSERT_EQ(after.size(), stale.size());
  for (size_t i : {20, 21, 22, 23, 37}) after[i] = stale[i];
  for (size_t k = 0; k < 2; ++k) {
    for (size_t i = 1500 + 1400 * k + 1380; i < 1500 + 1400 * k + 1396; ++i) after[i] = stale[i];
  }
  EXPECT_EQ(after, stale);
  EXPECT_EQ(rvx({"check", "stale.rvx"}).out.find("stale record count"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(scratch.file("stale.rvx.repair-tmp")));
}

TEST_F(Cli, RepairMendsARecordingWhoseProcessWasKilled) {
  Recording recording;
  recording.channels = {{"p1", "bar", ""}, {"T1", "°C", ""}, {"M1", "", "", 16}};
  recording.records = randomRecords(2000, 3, 9);
  createRecording(at("closed.rvx"), recording);

  // A recorder that is killed after its records reached the file.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t recorder = fork();
  if (recorder == 0) {
    close(ready[0]);
    std::u16string name = scratch.file("killed.rvx").u16string();
    name.push_back(0);
    if (KDRVX_CreateExt(reinterpret_cast<KDRVX_CHAR*>(name.data()), 1, 1, 0, 255) != 0) _exit(1);
    for (const Channel& channel : recording.channels) {
      const auto k = static_cast<int16_t>(KDRVX_AddChannel(wide(u16(channel.variable))));
      KDRVX_SetChannelUnit(k, wide(u16(channel.unit)));
      if (channel.bits) KDRVX_SetChannelMultiChannel(k, channel.bits);
    }
    KDRVX_SetScanRate(recording.interval);
    for (const auto& record : recording.records) KDRVX_AddRecord(record.data());
    const char byte = 1;
    if (write(ready[1], &byte, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  kill(recorder, SIGKILL);
  int status = 0;
  waitpid(recorder, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(readBack(at("killed.rvx")).records, 1u);

  const Outcome run = rvx({"repair", "killed.rvx"});
  ASSERT_EQ(run.status, 0) << run.err;
  const ReadBack closed = readBack(at("closed.rvx"));
  const ReadBack repaired = readBack(at("killed.rvx"));
  EXPECT_EQ(repaired.records, closed.records);
  EXPECT_EQ(repaired.flagStatistics, closed.flagStatistics);
  EXPECT_EQ(repaired.values, closed.values);
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(std::bit_cast<uint32_t>(repaired.channels[k].minimum), std::bit_cast<uint32_t>(closed.channels[k].minimum));
    EXPECT_EQ(std::bit_cast<uint32_t>(repaired.channels[k].maximum), std::bit_cast<uint32_t>(closed.channels[k].maximum));
    EXPECT_EQ(std::bit_cast<uint32_t>(repaired.channels[k].mean), std::bit_cast<uint32_t>(closed.channels[k].mean));
    EXPECT_EQ(std::bit_cast<uint32_t>(repaired.channels[k].rms), std::bit_cast<uint32_t>(closed.channels[k].rms));
  }
}

TEST_F(Cli, RepairWritesElsewhereAndRefusesDamagedHeaders) {
  Recording recording = smallRecording();
  createRecording(at("stale.rvx"), recording, false, 4, Close::Simple);
  const std::string original = readBytes(scratch.file("stale.rvx"));
  Outcome run = rvx({"repair", "stale.rvx", "-o", "fixed.rvx"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(readBytes(scratch.file("stale.rvx")), original);
  EXPECT_EQ(readBack(at("fixed.rvx")).records, 3u);

  run = rvx({"repair", "fixed.rvx"});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("nothing to repair"), std::string::npos) << run.out;

  std::string damaged = original;
  damaged[8] = 0;  // header size no longer fits the channel count
  writeBytes(scratch.file("damaged.rvx"), damaged);
  run = rvx({"repair", "damaged.rvx"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("the header is damaged"), std::string::npos) << run.err;
  EXPECT_EQ(readBytes(scratch.file("damaged.rvx")), damaged);

  const OldFile old = writeOldLayout(scratch.path(), OldLayout::Win3);
  run = rvx({"repair", old.path.filename().string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("repair mends current-layout files"), std::string::npos) << run.err;
}

// Tags open and close in order, attributes are quoted, and an ampersand
// starts an entity: enough to tell a broken SVG.
bool wellFormed(const std::string& xml, std::string& problem) {
  std::vector<std::string> open;
  auto nameChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '-' || c == '_'; };
  size_t i = 0;
  while (i < xml.size()) {
    const char c = xml[i];
    if (c == '&') {
      bool entity = false;
      for (const char* name : {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"}) entity |= xml.compare(i, std::strlen(name), name) == 0;
      if (!entity) return problem = "bare ampersand at " + std::to_string(i), false;
      ++i;
    } else if (c == '>') {
      return problem = "stray > at " + std::to_string(i), false;
    } else if (c != '<') {
      ++i;
    } else if (xml.compare(i, 2, "<?") == 0) {
      const size_t end = xml.find("?>", i);
      if (end == std::string::npos) return problem = "unclosed declaration", false;
      i = end + 2;
    } else {
      const bool closing = xml[++i] == '/';
      if (closing) ++i;
      const size_t start = i;
      while (i < xml.size() && nameChar(xml[i])) ++i;
      const std::string name = xml.substr(start, i - start);
      if (name.empty()) return problem = "tag without a name at " + std::to_string(i), false;
      bool selfClosing = false;
      for (;;) {
        while (i < xml.size() && std::isspace(static_cast<unsigned char>(xml[i]))) ++i;
        if (i >= xml.size()) return problem = "unclosed tag " + name, false;
        if (xml[i] == '>') break;
        if (xml.compare(i, 2, "/>") == 0) {
          selfClosing = true;
          ++i;
          break;
        }
        const size_t attribute = i;
        while (i < xml.size() && nameChar(xml[i])) ++i;
        if (i == attribute || xml.compare(i, 2, "=\"") != 0) return problem = "bad attribute in " + name, false;
        const size_t close = xml.find('"', i + 2);
        if (close == std::string::npos || xml.find('<', i + 2) < close) return problem = "unquoted value in " + name, false;
        i = close + 1;
      }
      ++i;
      if (closing) {
        if (open.empty() || open.back() != name) return problem = "unbalanced </" + name + ">", false;
        open.pop_back();
      } else if (!selfClosing) {
        open.push_back(name);
      }
    }
  }
  if (!open.empty()) problem = "unclosed <" + open.back() + ">";
  return open.empty();
}

TEST_F(Cli, PlotWritesSmallWellFormedSvg) {
  Recording recording;
  recording.channels = {{"p1", "bar", ""}, {"T2", "°C", ""}, {"dp1", "m<b>&r", ""}};
  recording.records = randomRecords(100000, 3, 5);
  createRecording(at("long.rvx"), recording);
  const Outcome run = rvx({"plot", "long.rvx", "-o", "long.svg"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string svg = readBytes(scratch.file("long.svg"));
  std::string problem;
  EXPECT_TRUE(wellFormed(svg, problem)) << problem;
  EXPECT_FALSE(wellFormed("<svg><g a=\"1\"></svg>", problem));
  EXPECT_LT(svg.size(), 150000u);
  EXPECT_NE(svg.find(">p1 [bar]<"), std::string::npos);
  EXPECT_NE(svg.find(">T2 [°C]<"), std::string::npos);
  EXPECT_NE(svg.find(">dp1 [m&lt;b&gt;&amp;r]<"), std::string::npos);
  EXPECT_NE(svg.find(">time [s]<"), std::string::npos);
  size_t paths = 0;
  for (size_t at = svg.find("<path"); at != std::string::npos; at = svg.find("<path", at + 1)) ++paths;
  EXPECT_EQ(paths, 3u);

  const Outcome one = rvx({"plot", "long.rvx", "-o", "one.svg", "--channels", "T2", "--width", "200"});
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_TRUE(wellFormed(readBytes(scratch.file("one.svg")), problem)) << problem;
}

TEST_F(Cli, UsageErrorsAndFailuresHaveTheirExitStatus) {
  createRecording(at("a.rvx"), smallRecording());
  EXPECT_EQ(rvx({}).status, 2);
  EXPECT_EQ(rvx({"frobnicate"}).status, 2);
  EXPECT_EQ(rvx({"info"}).status, 2);
  EXPECT_EQ(rvx({"info", "a.rvx", "--bogus"}).status, 2);
  EXPECT_EQ(rvx({"export", "a.rvx", "--records", "5:2"}).status, 2);
  EXPECT_EQ(rvx({"export", "a.rvx", "--channels", "q9"}).status, 2);
  EXPECT_EQ(rvx({"import", "x.csv", "-o", "y.rvx", "--language", "de"}).status, 2);  // --language needs --legacy

  const Outcome missing = rvx({"info", "missing.rvx"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "rvx: missing.rvx: The RVX- file cannot be opened for read (0xE1000006)\n");

  const Outcome version = rvx({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "KDrvxLibrary version 4.5.2 Build 061\n");
  for (const char* command : {"info", "export", "import", "convert", "modify", "check", "repair", "plot", "demo"}) {
    const Outcome help = rvx({command, "--help"});
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_NE(help.out.find("Usage"), std::string::npos) << command;
  }

  // An existing output is kept unless --force.
  writeBytes(scratch.file("in.csv"), "p1\n1\n");
  const Outcome exists = rvx({"import", "in.csv", "-o", "a.rvx", "--scan-interval-us", "10"});
  EXPECT_EQ(exists.status, 1);
  EXPECT_NE(exists.err.find("already exists"), std::string::npos) << exists.err;
  EXPECT_EQ(rvx({"import", "in.csv", "-o", "a.rvx", "--scan-interval-us", "10", "--force"}).status, 0);
}

TEST_F(Cli, DemoRecordsReadsAndWritesItsFiles) {
  const Outcome run = rvx({"demo", "out"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"demo.rvx", "demo-compact.rvx", "demo-compact.RVI", "demo.csv", "demo.svg"}) {
    EXPECT_TRUE(std::filesystem::exists(scratch.file("out") / name)) << name;
  }
  EXPECT_NE(run.out.find("bit for bit"), std::string::npos) << run.out;
  const ReadBack back = readBack(scratch.file("out") / "demo.rvx");
  EXPECT_EQ(back.records, 10000u);
  EXPECT_EQ(back.channels.size(), 8u);
  EXPECT_EQ(back.interval, 1000);
  EXPECT_EQ(rvx({"check", "out/demo.rvx"}).status, 0);
  EXPECT_EQ(csvRows(readBytes(scratch.file("out") / "demo.csv")).size(), 10001u);
}

}  // namespace
}  // namespace rvx::test
