// Every subcommand of rvx run as a process on files made for the test.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <nlohmann/json.hpp>
#include <string>

#include "support/cli_support.h"

namespace rvx::test {
namespace {

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

// Minimum, maximum, mean and RMS of every channel, as bit patterns.
std::vector<uint32_t> statistics(const ReadBack& back) {
  std::vector<uint32_t> bits;
  for (const auto& c : back.channels) {
    for (float value : {c.minimum, c.maximum, c.mean, c.rms})
      bits.push_back(std::bit_cast<uint32_t>(value));
  }
  return bits;
}

// Date, time and every text of the header and of the channels.
std::vector<std::u16string> texts(const ReadBack& back) {
  std::vector<std::u16string> all = {
      back.date,       back.time,         back.comment,         back.company,
      back.instrument, back.serialNumber, back.nameMeasurement, back.triggerSetting};
  for (const auto& c : back.channels) {
    all.insert(all.end(),
               {c.unit, c.name, c.number, c.signalType, c.zeroPoint, c.calParameter, c.filter});
  }
  return all;
}

class Cli : public RvxTest {};

TEST_F(Cli, InfoJsonCarriesHeaderChannelsAndStatistics) {
  createRecording(at("a.rvx"), smallRecording());
  const Outcome run = rvx({"info", "--json", "a.rvx"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto json = nlohmann::json::parse(run.out);
  const nlohmann::json expected = {
      {"layout", "current"},  {"version", 's'},           {"date", "04.12.2023"},
      {"time", "14:05:09"},   {"scan_interval_us", 1500}, {"records", 3},
      {"duration_s", 0.0045}, {"company", "ACME Corp"},   {"comment", "first line\r\nsecond line"},
      {"statistics_flag", 3}};
  for (const auto& [key, value] : expected.items()) EXPECT_EQ(json[key], value) << key;
  const auto& channels = json["channels"];
  ASSERT_EQ(channels.size(), 4u);
  EXPECT_EQ(channels[1]["variable"], "T2");
  EXPECT_EQ(channels[1]["unit"], "°C");
  EXPECT_EQ(channels[1]["name"], "Oil");
  EXPECT_EQ(channels[3]["multichannel_bits"], 32);
  // Statistics as the library stored them, and as short numbers.
  const std::vector<uint32_t> stored = statistics(readBack(at("a.rvx")));
  for (size_t k = 0, i = 0; k < 3; ++k) {
    for (const char* key : {"minimum", "maximum", "mean", "rms"}) {
      EXPECT_EQ(std::bit_cast<uint32_t>(channels[k][key].get<float>()), stored[i++]) << k << key;
    }
  }
  EXPECT_NE(run.out.find("\"maximum\": 0.1,"), npos);

  const Outcome text = rvx({"info", "a.rvx"});
  ASSERT_EQ(text.status, 0) << text.err;
  for (const char* line :
       {"Layout           current, version s (115)", "Scan interval    1500 µs", "multi:32"}) {
    EXPECT_NE(text.out.find(line), npos) << text.out;
  }
}

// Several files give one entry each, in their order, also those not read.
TEST_F(Cli, InfoAndCheckJsonHaveAnEntryForEveryFile) {
  createRecording(at("a.rvx"), smallRecording());
  writeBytes(scratch.file("empty.rvx"), "");
  std::filesystem::create_directory(scratch.file("dir.rvx"));
  for (const char* command : {"info", "check"}) {
    const Outcome run = rvx({command, "--json", "a.rvx", "empty.rvx", "dir.rvx"});
    EXPECT_EQ(run.status, 1) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    ASSERT_EQ(json.size(), 3u) << command << ": " << run.out;
    EXPECT_EQ(json[0]["file"], "a.rvx");
    EXPECT_FALSE(json[0].contains("error")) << command;
    EXPECT_EQ(json[1]["file"], "empty.rvx");
    EXPECT_NE(json[1].value("error", "").find("not a RVX- file"), npos) << command;
    EXPECT_EQ(json[2]["file"], "dir.rvx");
    EXPECT_NE(json[2].value("error", "").find("cannot be opened for read"), npos) << command;
  }
  // One file that cannot be read still gives its document.
  const Outcome one = rvx({"info", "--json", "dir.rvx"});
  EXPECT_EQ(one.status, 1);
  EXPECT_EQ(nlohmann::json::parse(one.out)["file"], "dir.rvx");
}

// A DOS file knows no date: info says so rather than showing zeros.
TEST_F(Cli, InfoShowsAnUnknownDateAsUnknown) {
  const std::string dos = writeOldLayout(scratch.path(), OldLayout::DosQ, false).path.filename();
  const Outcome text = rvx({"info", dos});
  EXPECT_NE(text.out.find("Recorded         date unknown, "), npos) << text.out;
  const auto json = nlohmann::json::parse(rvx({"info", "--json", dos}).out);
  EXPECT_TRUE(json["date"].is_null()) << json["date"];
}

TEST_F(Cli, ExportWritesShortestFloatsBitsAndTime) {
  createRecording(at("a.rvx"), smallRecording());
  const Outcome run = rvx({"export", "a.rvx", "-o", "a.csv"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(readBytes(scratch.file("a.csv")),
            "time [s],p1 [bar],T2 [°C],dp1 [mbar],M1\r\n"
            "0,1,20.5,-0.25,5\r\n"
            "0.0015,2,21,0.1,6\r\n"
            "0.003,3,-40,1e-40,2147483649\r\n");
  const Outcome part =
      rvx({"export", "a.rvx", "--channels", "dp1,p1", "--records", "1:", "--no-time"});
  ASSERT_EQ(part.status, 0) << part.err;
  EXPECT_EQ(part.out, "dp1 [mbar],p1 [bar]\r\n0.1,2\r\n1e-40,3\r\n");
  EXPECT_EQ(rvx({"export", "a.rvx", "--records", ":0", "--no-time", "--channels", "T2"}).out,
            "T2 [°C]\r\n20.5\r\n");
}

TEST_F(Cli, RecordingFromAnExportedCsvHoldsTheSameFloatsBitForBit) {
  Recording recording;
  recording.channels = {{"p1", "bar", ""}, {"T12", "K", ""}, {"Ax3", "", ""}, {"M2", "", "", 32}};
  recording.records = randomRecords(5000, 4, 11);
  createRecording(at("source.rvx"), recording);
  ASSERT_EQ(rvx({"export", "source.rvx", "-o", "source.csv"}).status, 0);
  const Outcome run = rvx({"import", "source.csv", "-o", "copy.rvx", "--multichannel", "M2:32",
                           "--comment", "line 1\nline 2", "--company", "CSV Works"});
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
  EXPECT_EQ(statistics(copy), statistics(source));
  // And exported again, the text is the same.
  ASSERT_EQ(rvx({"export", "copy.rvx", "-o", "copy.csv"}).status, 0);
  EXPECT_EQ(readBytes(scratch.file("copy.csv")), readBytes(scratch.file("source.csv")));
}

TEST_F(Cli, RecordingFromCsvTakesTheCompactLayoutWithItsRviFile) {
  writeBytes(scratch.file("in.csv"),
             "time,p1 [bar],\"T2 [°C]\"\n0,1.5,20\n0.01,1.75,20.5\n0.02,2,21\n");
  std::filesystem::create_directories(scratch.file("d/e.rvx.d"));
  // The RVI file names the directory as the command line gave it.
  for (const std::string directory : {"", "d"}) {
    const std::string name = directory.empty() ? "old.rvx" : directory + "/old.rvx";
    const Outcome run =
        rvx({"import", "in.csv", "-o", name, "--legacy", "--language", "de", "--name", "Versuch 1",
             "--date", "24.12.2020", "--time", "18:30", "--comment", "x"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string rvi = readBytes(scratch.file(name.substr(0, name.size() - 3) + "RVI"));
    EXPECT_NE(rvi.find("Name Messung    :  Versuch 1\r\nVerzeichnis     :  " + directory +
                       "\r\nDateiname       :  old.RVI\r\n"),
              npos)
        << rvi;
  }
  const ReadBack back = readBack(at("old.rvx"));
  EXPECT_EQ(back.version, 64u);
  EXPECT_EQ(back.interval, 10000);
  EXPECT_EQ(back.date, u"24.12.2020");
  EXPECT_EQ(back.nameMeasurement, u"Versuch 1");
  ASSERT_EQ(back.channels.size(), 2u);
  EXPECT_EQ(back.channels[1].unit, u"°C");
  std::vector<uint32_t> values;
  for (float value : {1.5f, 20.0f, 1.75f, 20.5f, 2.0f, 21.0f})
    values.push_back(std::bit_cast<uint32_t>(value));
  EXPECT_EQ(back.values, values);
  // The library names the RVI file after the first ".rvx" of the path.
  EXPECT_EQ(rvx({"import", "in.csv", "-o", "d/e.rvx.d/x.rvx", "--legacy", "--comment", "x"}).status,
            2);
  EXPECT_TRUE(std::filesystem::is_empty(scratch.file("d/e.rvx.d")));
  // Nor does a temporary directory whose path holds one trouble the trial
  // of the compact layout: it is made beside the output instead.
  const Outcome inside =
      runRvx({"import", "../../in.csv", "-o", "old.rvx", "--legacy", "--comment", "x"},
             scratch.file("d/e.rvx.d"));
  EXPECT_EQ(inside.status, 0) << inside.err;
  EXPECT_TRUE(std::filesystem::exists(scratch.file("d/e.rvx.d/old.RVI")));
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
  EXPECT_EQ(converted.triggerRecord, source.triggerRecord);
  EXPECT_EQ(texts(converted), texts(source));
  // Texts that only the RVI file held.
  EXPECT_EQ(
      (std::vector<std::u16string>{converted.company, converted.instrument, converted.serialNumber,
                                   converted.nameMeasurement, converted.triggerSetting}),
      (std::vector<std::u16string>{u"Old Works", u"Logger 1990", u"SN-17", u"Old run", u"manual"}));
  ASSERT_EQ(converted.channels.size(), source.channels.size());
  for (size_t k = 0; k < source.channels.size(); ++k) {
    const auto& a = source.channels[k];
    const auto& b = converted.channels[k];
    if (!a.variable.empty()) {
      EXPECT_EQ(b.variable, a.variable);
    }
    EXPECT_EQ(b.name, u16("Sensor " + std::to_string(k + 1)));
    EXPECT_EQ(b.isds, a.isds);
    EXPECT_EQ(b.indRate, a.indRate);
  }
  // Statistics computed anew from the records.
  EXPECT_EQ(converted.flagStatistics, 3u);
}

INSTANTIATE_TEST_SUITE_P(OldLayouts, Convert,
                         ::testing::Values(OldLayout::DosBefore5, OldLayout::DosQ, OldLayout::DosP,
                                           OldLayout::Win2Sparse, OldLayout::Win2Decimal,
                                           OldLayout::Win3, OldLayout::Win6),
                         [](const auto& parameter) {
                           return std::string(layoutTag(parameter.param));
                         });

TEST_F(Cli, ConvertReadsTheCompactLayoutWithItsRviFileAndKeepsAnUnknownDate) {
  Recording recording = smallRecording();
  recording.channels.pop_back();  // the compact layout has no multichannels
  for (auto& record : recording.records) record.pop_back();
  createRecording(at("c.rvx"), recording, true, 2);  // French labels
  Outcome run = rvx({"convert", "c.rvx", "-o", "new.rvx"});
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
  EXPECT_NE(
      rvx({"info", "c.rvx"}).out.find("Layout           WIN 3.x/4.x (compact), version 64 ('@')"),
      npos);

  // DOS files have no date; without an RVI file none is known.
  const OldFile file = writeOldLayout(scratch.path(), OldLayout::DosQ, false);
  run = rvx({"convert", file.path.filename().string(), "-o", "dos.rvx"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("is written as X1"), npos) << run.err;
  EXPECT_EQ(readBack(at("dos.rvx")).date, u"00.00.   0");
}

// Without its RVI file an older recording has no company, instrument, ...:
// every command that reads it says so, in the library's words.
TEST_F(Cli, EveryReadingCommandSaysWhichTextsAMissingRviFileLeavesEmpty) {
  Recording recording = smallRecording();
  recording.channels.pop_back();  // the compact layout has no multichannels
  for (auto& record : recording.records) record.pop_back();
  createRecording(at("c.rvx"), recording, true);
  std::filesystem::remove(scratch.file("c.RVI"));
  const std::string dos = writeOldLayout(scratch.path(), OldLayout::DosQ, false).path.filename();
  const std::string win6 = writeOldLayout(scratch.path(), OldLayout::Win6, false).path.filename();
  for (const std::string file : {"c.rvx", dos.c_str(), win6.c_str()}) {
    const std::vector<std::vector<std::string>> commands = {
        {"convert", file, "-o", "out.rvx", "-f"},
        {"cut", file, "-o", "out.rvx", "-f", "--records", "0:1"},
        {"select", file, "-o", "out.rvx", "-f", "--channels", "#0"},
        {"merge", file, file, "-o", "out.rvx", "-f", "--no-time-check"},
        {"export", file, "-o", "out.csv", "-f"},
        {"info", file},
        {"info", "--json", file},
        {"check", file},
        {"check", "--json", file},
        {"plot", file, "-o", "out.svg", "-f"}};
    for (const auto& command : commands) {
      const Outcome run = rvx(command);
      EXPECT_NE((run.err + run.out).find("no RVI file beside it: company, instrument"), npos)
          << command[0] << " " << file << ": " << run.err;
    }
  }
}

TEST_F(Cli, ModifyChangesTheTextsAndNothingElse) {
  createRecording(at("a.rvx"), smallRecording());
  const std::string before = readBytes(scratch.file("a.rvx"));
  const Outcome run = rvx({"modify", "a.rvx", "--comment", "new\ncomment", "--name", "Run 8"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("measurement name \"Run 7\" -> \"Run 8\""), npos) << run.out;
  const ReadBack back = readBack(at("a.rvx"));
  EXPECT_EQ(back.comment, u"new\r\ncomment");
  EXPECT_EQ(back.nameMeasurement, u"Run 8");
  const std::string after = readBytes(scratch.file("a.rvx"));
  ASSERT_EQ(after.size(), before.size());
  EXPECT_EQ(after.substr(1500 + 4 * 1400), before.substr(1500 + 4 * 1400));
  EXPECT_EQ(rvx({"modify", "a.rvx", "--name", std::string(24, 'n')}).status, 2);
  EXPECT_EQ(rvx({"modify", "a.rvx"}).status, 2);
}

TEST_F(Cli, CheckFindsWhatIsWrong) {
  createRecording(at("good.rvx"), smallRecording());
  createRecording(at("stale.rvx"), smallRecording(), false, 4, Close::Simple);  // interrupted
  const std::string good = readBytes(scratch.file("good.rvx"));
  std::string bad = good + "xyz";  // a partial trailing record
  bad[1500 + 1384 + 3] = 0x42;     // channel 0 MaxValue
  writeBytes(scratch.file("bad.rvx"), bad);
  writeBytes(scratch.file("cut.rvx"), good.substr(0, 1500 + 4 * 1400 + 16));
  std::string newer = good;
  newer[4] = 't';
  writeBytes(scratch.file("newer.rvx"), newer);
  writeOldLayout(scratch.path(), OldLayout::Win6, false);
  writeOldLayout(scratch.path(), OldLayout::Win2Sparse);
  const struct {
    const char* file;
    int status;
    std::vector<const char*> findings;
  } cases[] = {
      {"good.rvx", 0, {"no findings"}},
      {"stale.rvx",
       1,
       {"stale record count: the header counts 1 record, the data holds 3 whole records",
        "no statistics stored"}},
      {"bad.rvx",
       1,
       {"partial trailing record: 3 bytes", "channel 0: stored statistics differ",
        "(stored maximum)"}},
      {"cut.rvx", 1, {"the header counts 3 records, the data holds only 1 whole record"}},
      {"win6.rvx", 1, {"WIN 6.x layout", "no RVI file"}},
      // The library compares the statistics of older layouts too.
      {"win2r.rvx", 1, {"stored statistics differ"}},
      {"newer.rvx", 1, {"the library does not open the file: RVX- file is created by newer"}},
  };
  for (const auto& c : cases) {
    const Outcome run = rvx({"check", c.file});
    EXPECT_EQ(run.status, c.status) << run.out;
    for (const char* finding : c.findings) EXPECT_NE(run.out.find(finding), npos) << run.out;
  }
}

TEST_F(Cli, RepairRecountsAFileThatLostItsFinalHeader) {
  Recording recording;
  recording.channels = {{"p1", "bar", ""}, {"T1", "°C", ""}, {"M1", "", "", 16}};
  recording.records = randomRecords(777, 3, 3);
  // A NaN in the first record stays both extremes; a later one moves
  // neither. Either way the sums, and so mean and RMS, become NaN.
  recording.records[0][1] = NAN;
  recording.records[5][0] = NAN;
  createRecording(at("closed.rvx"), recording);
  createRecording(at("stale.rvx"), recording, false, 4, Close::Simple);
  const std::string stale = readBytes(scratch.file("stale.rvx")) + "ab";  // half a record
  writeBytes(scratch.file("stale.rvx"), stale);

  ASSERT_EQ(rvx({"repair", "stale.rvx", "-o", "fixed.rvx"}).status, 0);
  EXPECT_EQ(readBytes(scratch.file("stale.rvx")), stale);
  const Outcome run = rvx({"repair", "stale.rvx"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("777 whole records (the header said 1)"), npos) << run.out;
  EXPECT_NE(run.out.find("partial record of 2 bytes"), npos) << run.out;
  const ReadBack closed = readBack(at("closed.rvx"));
  const ReadBack repaired = readBack(at("stale.rvx"));
  EXPECT_EQ(repaired.records, 777u);
  EXPECT_EQ(repaired.flagStatistics, 3u);
  EXPECT_EQ(repaired.values, closed.values);
  EXPECT_EQ(statistics(repaired), statistics(closed));
  // Apart from count, flag and statistics the bytes are those of the
  // interrupted file, the trailing half record included.
  std::string after = readBytes(scratch.file("stale.rvx"));
  EXPECT_EQ(readBytes(scratch.file("fixed.rvx")), after);
  ASSERT_EQ(after.size(), stale.size());
  for (size_t i : {20, 21, 22, 23, 37}) after[i] = stale[i];
  for (size_t k = 0; k < 3; ++k) {
    for (size_t i = 1500 + 1400 * k + 1380; i < 1500 + 1400 * k + 1396; ++i) after[i] = stale[i];
  }
  EXPECT_EQ(after, stale);
  EXPECT_NE(rvx({"repair", "fixed.rvx"}).out.find("nothing to repair"), npos);

  // Repair recounts records; it does not guess a header.
  std::string damaged = stale;
  damaged[8] = 0;  // header size no longer fits the channel count
  writeBytes(scratch.file("damaged.rvx"), damaged);
  writeOldLayout(scratch.path(), OldLayout::Win3);
  for (const auto& [file, refusal] : {std::pair{"damaged.rvx", "repair does not guess a header"},
                                      std::pair{"win3.rvx", "repair mends current-layout files"}}) {
    const Outcome refused = rvx({"repair", file});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(refusal), npos) << refused.err;
  }
  EXPECT_EQ(readBytes(scratch.file("damaged.rvx")), damaged);
}

}  // namespace
}  // namespace rvx::test
