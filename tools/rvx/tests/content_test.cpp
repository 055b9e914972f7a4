// What rvx refuses to store and what it reports about a file before using
// it: a target that cannot hold what is asked, a file whose header claims
// more or less than it holds, multichannels as bit fields, NaN bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <nlohmann/json.hpp>
#include <tuple>

#include "support/cli_support.h"

namespace rvx::test {
namespace {

class Content : public RvxTest {};

Recording twoChannels(std::vector<std::vector<float>> records, uint16_t bits = 0) {
  Recording recording;
  recording.channels = {{"p1", "bar", "Inlet"}, {"M1", "", "Inputs", bits}};
  recording.records = std::move(records);
  return recording;
}

float bits(uint32_t pattern) { return std::bit_cast<float>(pattern); }

TEST_F(Content, ImportRefusesWhatTheLayoutCannotHoldAndWritesNothing) {
  writeBytes(scratch.file("in.csv"), "time,p1 [bar],M1\n0,1.5,3\n0.01,1.75,5\n");
  const std::string wordy = [] {
    std::string text;
    for (int i = 0; i < 50; ++i) text += "word ";
    return text + "end";
  }();
  const struct {
    std::vector<std::string> options;
    const char* says;
  } kCases[] = {
      // Any layout, in the library's words.
      {{"--company", std::string(64, 'c')},
       "the company: holds at most 63 characters; this one has 64"},
      {{"--comment", std::string(292, 'c')},
       "the comment: holds at most 291 characters; this one has 292"},
      {{"--time", "24:00"}, "the time: is not a time"},
      {{"--scan-interval-us", "0"}, "the scan interval: an interval of 0 µs is none"},
      {{"--scan-interval-us", "4294967296"}, "the scan interval: reads back as 0 µs"},
      {{"--scan-interval-us", "1.5"},
       "--scan-interval-us 1.5: the header holds whole microseconds"},
      // The compact layout and its RVI file.
      {{"--legacy", "--comment", "x", "--multichannel", "M1:8"},
       "channel M1 multichannel: the compact layout has no multichannels"},
      {{"--legacy", "--comment", "x", "--company", "Ωmega"},
       "the company: the compact layout holds 8-bit text (Latin-1) only: 'Ω' at character 1"},
      {{"--legacy", "--comment", "two\nlines"}, "the comment: reads back as 'twolines'"},
      {{"--legacy", "--comment", wordy}, "the comment: reads back as 'word word"},
      {{"--legacy"}, "the comment: reads back as 'Variable"},
      {{"--legacy", "--comment", "x", "--time", "10:15:30"},
       "the time: the compact layout keeps no seconds: reads back as 10:15"},
      {{"--legacy", "--comment", "x", "--not-original"},
       "the mark 'not an original recording': reads back as an original recording"},
      {{"--legacy", "--comment", "x", "--date", "1.1.2101"},
       "the date: the compact layout's reader takes"},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> arguments = {"import", "in.csv", "-o", "out.rvx"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(c.options.back());
    expectRun(arguments, 2, c.says);
    EXPECT_FALSE(exists("out.rvx"));
    EXPECT_FALSE(exists("out.RVI"));
  }
  // A value that sets bits beyond its multichannel's is refused, not stored.
  writeBytes(scratch.file("bits.csv"), "time,D1\n0,1\n0.001,256\n");
  expectRun({"import", "bits.csv", "-o", "out.rvx", "--multichannel", "D1:8"}, 1,
            "out.rvx: record 1: the value 256 of the multichannel D1 sets bits beyond its 8");
  EXPECT_FALSE(exists("out.rvx"));
  // The RVI file's own name is one of its lines: a trigger setting read back
  // from it would be the line after "Trigger.RVI".
  expectRun({"import", "in.csv", "-o", "Trigger.rvx", "--legacy", "--comment", "x"}, 2,
            "the trigger setting: reads back as");
  // The RVI file shows its own path as 8-bit text, in a directory line and a
  // file-name line: a character beyond Latin-1 in either is refused, naming
  // the line, before anything is written.
  std::filesystem::create_directory(scratch.file("\u20acuro"));
  expectRun({"import", "in.csv", "-o", "\u20acuro/Mess.rvx", "--legacy", "--comment", "x"}, 2,
            "\u20acuro/Mess.rvx: the path: the RVI file's directory line holds 8-bit text "
            "(Latin-1) only: '\u20ac' at character 1 of '\u20acuro'");
  expectRun({"import", "in.csv", "-o", "Mess\U0001F600.rvx", "--legacy", "--trigger-setting", "y"},
            2,
            "the path: the RVI file's file-name line holds 8-bit text (Latin-1) only: "
            "'\U0001F600' at character 5 of 'Mess\U0001F600.RVI'");
  EXPECT_TRUE(std::filesystem::is_empty(scratch.file("\u20acuro")));
  EXPECT_FALSE(exists("Mess\U0001F600.rvx"));

  // What fits is kept: a Latin-1 compact recording, and an interval of
  // whole milliseconds beyond 2^32 µs.
  Outcome run = rvx({"import", "in.csv", "-o", "ok.rvx", "--legacy", "--comment", "Prüfung 1",
                     "--company", "Müller & Söhne", "--time", "10:15"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(readBack(at("ok.rvx")).company, u"Müller & Söhne");
  EXPECT_EQ(readBack(at("ok.rvx")).comment, u"Prüfung 1");
  run = rvx({"import", "in.csv", "-o", "slow.rvx", "--scan-interval-us", "4294967295000"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(readBack(at("slow.rvx")).interval, 4294967295000);
}

TEST_F(Content, ImportNamesWhatItRefusesAndTheDateItGives) {
  writeBytes(scratch.file("two.csv"), "t,p1\n0,1\n0.001,2\n");
  writeBytes(scratch.file("big.csv"), "t,p1\n0,1\n0.001,1e39\n");
  writeBytes(scratch.file("long.csv"), "t,p1\n0,1\n0.001," + std::string(5000, '7') + "x\n");
  const std::string metadata = "#rvx metadata,2\n#trigger record,";
  writeBytes(scratch.file("late.csv"), metadata + "99\nt,p1\n0,1\n0.001,2\n");
  writeBytes(scratch.file("huge.csv"), metadata + "4294967296\nt,p1\n0,1\n0.001,2\n");
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string says;
  } kCases[] = {
      {{"import", "late.csv", "-o", "out.rvx"},
       1,
       "late.csv line 2: the trigger record 99 lies beyond the 2 records imported (0 to 1)"},
      {{"import", "two.csv", "-o", "out.rvx", "--trigger-record", "2"},
       1,
       "--trigger-record: the trigger record 2 lies beyond the 2 records imported"},
      {{"import", "huge.csv", "-o", "out.rvx"},
       1,
       "huge.csv line 2: the trigger record '4294967296' is none the header can hold: it holds 0 "
       "to 4294967295"},
      {{"import", "two.csv", "-o", "out.rvx", "--trigger-record", "-1"},
       2,
       "the trigger record '-1' is none the header can hold"},
      {{"import", "big.csv", "-o", "out.rvx"},
       1,
       "line 3, column 2: '1e39' is beyond the range of a 32-bit float (at most 3.4028235e+38 "
       "either way)"},
      {{"import", "long.csv", "-o", "out.rvx"},
       1,
       "line 3, column 2: '" + std::string(40, '7') + "...' (5001 characters) is not a number\n"},
      {{"import", "two.csv", "-o", "out.rvx", "--time", "unknown"},
       2,
       "--time unknown needs a date"},
      {{"check", "-j", "0", "two.csv"},
       2,
       "--jobs: expected a whole number from 1 to 4294967295, not 0 ("},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.says);
    expectRun(c.arguments, c.status, c.says);
    EXPECT_FALSE(exists("out.rvx"));
  }

  // Without --date, the recording is dated now, and import says so.
  Outcome run = rvx({"import", "two.csv", "-o", "now.rvx"});
  ASSERT_EQ(run.status, 0) << run.err;
  const ReadBack now = readBack(at("now.rvx"));
  const auto ascii = [](const std::u16string& text) {
    return std::string(text.begin(), text.end());
  };
  const std::string dated = "dated " + ascii(now.date) + " " + ascii(now.time);
  EXPECT_NE(run.out.find("now.rvx: 2 records of 1 channel, every 0.001 s, " + dated), npos)
      << run.out;
  EXPECT_NE(run.err.find("warning: no date given: the recording is " + dated), npos) << run.err;
  EXPECT_NE(run.err.find("--date unknown leaves it unknown"), npos) << run.err;
  // With --date unknown the header keeps neither, as DOS files have it.
  run = rvx({"import", "two.csv", "-o", "unknown.rvx", "--date", "unknown"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find(", date and time unknown"), npos) << run.out;
  EXPECT_EQ(run.err, "");
  const std::string bytes = readBytes(scratch.file("unknown.rvx"));
  EXPECT_EQ(bytes.substr(KDRVX_HEADER_YEAR_OFFSET, 7), std::string("\0\0\0\0\xFF\xFF\xFF", 7));
}

TEST_F(Content, ImportTakesOnlyVariablesThatReadBackAsWritten) {
  for (const char* bad : {"p1.2", "\"p1,x\"", "p01", "p128", "p0", "1p", "abc1", "p"}) {
    SCOPED_TRACE(bad);
    writeBytes(scratch.file("in.csv"), std::string("T1,") + bad + "\n1,2\n");
    // The library's words: "is not a variable: ..." or "reads back as p-128".
    expectRun({"import", "in.csv", "-o", "out.rvx", "--scan-interval-us", "10"}, 2, " variable: ");
    EXPECT_FALSE(exists("out.rvx"));
  }
  writeBytes(scratch.file("in.csv"), "T1,p128\n1,2\n");
  expectRun({"import", "in.csv", "-o", "out.rvx", "--scan-interval-us", "10"}, 2,
            "channel p128 variable: reads back as p-128");
  writeBytes(scratch.file("in.csv"), "dp3,T127,µ1,Ωx2\n1,2,3,4\n");
  ASSERT_EQ(rvx({"import", "in.csv", "-o", "out.rvx", "--scan-interval-us", "10"}).status, 0);
  const ReadBack back = readBack(at("out.rvx"));
  ASSERT_EQ(back.channels.size(), 4u);
  EXPECT_EQ(back.channels[0].variable, u"dp3");
  EXPECT_EQ(back.channels[1].variable, u"T127");
  EXPECT_EQ(back.channels[2].variable, u"µ1");
  EXPECT_EQ(back.channels[3].variable, u"Ωx2");
}

TEST_F(Content, ImportFollowsItsTimeColumn) {
  const struct {
    const char* csv;
    const char* interval;  // --scan-interval-us, if given
    int status;
    const char* says;  // on stderr
    int64_t recorded;  // the interval of the recording made
  } kCases[] = {
      {"t,p1\n0,1\n0.001,2\n0.003,3\n", nullptr, 1, "line 4, column 1: the time 0.003 s breaks", 0},
      {"t,p1\n0,1\n0.001,2\n0.0005,3\n", nullptr, 1, "line 4, column 1: the time 0.0005 s", 0},
      {"t,p1\n0,1\n0.001,2\n\n0.002,3\n0.002,4\n", nullptr, 1, "line 6, column 1: the time", 0},
      {"t,p1\n0,1\n0.0000015,2\n", nullptr, 1, "line 3: the time 0.0000015 s is not a whole", 0},
      {"t,p1\n0,1\n0,2\n", nullptr, 1, "line 3: the time column does not increase", 0},
      {"t,p1\n0,1\n0.001,2\n0.003,3\n", "1000", 0, "not spaced 0.001 s apart", 1000},
      {"t,p1\n100,1\n100.5,2\n101,3\n", nullptr, 0, "warning: the time column starts at 100 s",
       500000},
      {"t,p1\n0,1\n0.1,2\n0.2,3\n0.30000000000000004,4\n", nullptr, 0, "", 100000},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.csv);
    writeBytes(scratch.file("in.csv"), c.csv);
    std::filesystem::remove(scratch.file("out.rvx"));
    std::vector<std::string> arguments = {"import", "in.csv", "-o", "out.rvx"};
    if (c.interval) arguments.insert(arguments.end(), {"--scan-interval-us", c.interval});
    expectRun(arguments, c.status, c.says);
    EXPECT_EQ(exists("out.rvx"), c.status == 0);
    if (c.status == 0) {
      EXPECT_EQ(readBack(at("out.rvx")).interval, c.recorded);
    }
  }
}

TEST_F(Content, NanBitsSurviveExportAndImport) {
  const std::vector<uint32_t> patterns = {0x7FC00000u, 0xFFC00000u, 0x7FC00123u, 0xFF800001u};
  std::vector<std::vector<float>> records;
  for (uint32_t pattern : patterns) records.push_back({bits(pattern), 1.0f});
  createRecording(at("nan.rvx"), twoChannels(records));
  ASSERT_EQ(rvx({"export", "nan.rvx", "-o", "nan.csv"}).status, 0);
  EXPECT_EQ(readBytes(scratch.file("nan.csv")),
            "time [s],p1 [bar],M1\r\n0,nan,1\r\n0.001,-nan,1\r\n0.002,nan(0x7fc00123),1\r\n"
            "0.003,nan(0xff800001),1\r\n");
  ASSERT_EQ(rvx({"import", "nan.csv", "-o", "back.rvx"}).status, 0);
  EXPECT_EQ(readBack(at("back.rvx")).values, readBack(at("nan.rvx")).values);
}

TEST_F(Content, MultichannelsAreBitFields) {
  // info --json: the extremes as bit fields where they order as floats do,
  // no mean or RMS.
  createRecording(at("m8.rvx"), twoChannels({{1.0f, bits(0x81)}, {2.0f, bits(0x3)}}, 8));
  createRecording(at("m32.rvx"), twoChannels({{1.0f, bits(0x80000001u)}, {2.0f, bits(3)}}, 32));
  for (const auto& [file, minimum, maximum] :
       {std::tuple<const char*, nlohmann::json, nlohmann::json>{"m8.rvx", 3, 129},
        {"m32.rvx", nullptr, nullptr}}) {
    SCOPED_TRACE(file);
    const auto json = nlohmann::json::parse(rvx({"info", "--json", file}).out);
    const auto& m1 = json["channels"][1];
    EXPECT_EQ(m1["minimum"], minimum);
    EXPECT_EQ(m1["maximum"], maximum);
    EXPECT_TRUE(m1["mean"].is_null());
    EXPECT_TRUE(m1["rms"].is_null());
    EXPECT_EQ(json["channels"][0]["mean"], 1.5);
  }
  // check: set bits beyond the declared count.
  createRecording(at("stray.rvx"), twoChannels({{1.0f, bits(0x81)}, {2.0f, bits(0x100)}}, 8));
  const Outcome run = rvx({"check", "stray.rvx"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("channel 1: a multichannel value sets bits beyond its channel's bits (1 "
                         "record, the first is record 1, 0x00000100)"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(rvx({"check", "m8.rvx"}).status, 0);

  // The demo's compact file holds no multichannel, and says what it leaves out.
  const Outcome demo = rvx({"demo", "d"});
  ASSERT_EQ(demo.status, 0) << demo.err;
  const ReadBack compact = readBack(scratch.file("d") / "demo-compact.rvx");
  ASSERT_EQ(compact.channels.size(), 7u);
  for (const auto& channel : compact.channels) EXPECT_EQ(channel.bits, 0);
  EXPECT_NE(demo.err.find("warning: channel dp1 filter: the compact layout keeps it nowhere"),
            std::string::npos)
      << demo.err;
  EXPECT_EQ(rvx({"check", "d/demo-compact.rvx"}).status, 0);
}

TEST_F(Content, CheckSeesAnInfiniteRmsThatDiffers) {
  createRecording(at("big.rvx"), twoChannels({{1e30f, 1.0f}, {1e30f, 2.0f}}));
  ASSERT_TRUE(std::isinf(readBack(at("big.rvx")).channels[0].rms));
  EXPECT_EQ(rvx({"check", "big.rvx"}).status, 0);
  std::string bytes = readBytes(scratch.file("big.rvx"));
  const float one = 1.0f;
  bytes.replace(1500 + 1392, 4, reinterpret_cast<const char*>(&one), 4);  // channel 0 RMSValue
  writeBytes(scratch.file("big.rvx"), bytes);
  const Outcome run = rvx({"check", "big.rvx"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("channel 0: stored statistics differ"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("(stored RMS)"), std::string::npos) << run.out;
}

// Where the library's reader takes the first record from.
uint64_t dataOffset(const std::filesystem::path& file) {
  KDRVX_Reader* reader = nullptr;
  EXPECT_EQ(KDRVX_ReaderOpen(wide(u16(file.string())), &reader), 0u);
  KDRVX_RecordingInfo info{};
  info.size = sizeof info;
  EXPECT_EQ(KDRVX_ReaderInfo(reader, &info), 0u);
  KDRVX_ReaderClose(reader);
  return info.dataOffset;
}

TEST_F(Content, AFileThatEndsInsideItsHeaderIsNotUsed) {
  // One file of each layout, cut short of its first record.
  createRecording(at("current.rvx"), twoChannels({{1.0f, 2.0f}}));
  createRecording(at("compact.rvx"), twoChannels({{1.0f, 2.0f}}), true);
  std::vector<std::filesystem::path> files = {scratch.file("current.rvx"),
                                              scratch.file("compact.rvx")};
  for (OldLayout layout : {OldLayout::DosQ, OldLayout::DosP, OldLayout::Win2Sparse, OldLayout::Win3,
                           OldLayout::Win6}) {
    files.push_back(writeOldLayout(scratch.path(), layout).path);
  }
  for (const auto& file : files) {
    const std::string name = file.filename().string();
    SCOPED_TRACE(name);
    const auto offset = static_cast<size_t>(dataOffset(file));
    ASSERT_GT(offset, 8u);
    const std::string cut = readBytes(file).substr(0, offset - 1);
    writeBytes(file, cut);
    const std::string says = name + ": the file ends inside its header (" +
                             std::to_string(offset - 1) + " of " + std::to_string(offset) +
                             " bytes)";
    expectRun({"info", name}, 1, says);
    expectRun({"export", name, "-o", "out.csv"}, 1, says);
    expectRun({"plot", name, "-o", "out.svg"}, 1, says);
    expectRun({"convert", name, "-o", "out.rvx"}, 1, says);
    expectRun({"modify", name, "--comment", "x"}, 1, says);
    EXPECT_EQ(readBytes(file), cut);
    for (const char* output : {"out.csv", "out.svg", "out.rvx"})
      EXPECT_FALSE(exists(output)) << output;
  }
}

// A header whose size field, or whose channel count, cannot be true would
// have its records read from inside itself or sliced wrongly: every reading
// command refuses it, naming the library's finding.
TEST_F(Content, AHeaderThatCannotBeTrueIsRefused) {
  createRecording(at("a.rvx"), twoChannels(randomRecords(10, 2, 5)));
  const std::string bytes = readBytes(scratch.file("a.rvx"));
  std::string size = bytes, count = bytes;
  size[8] = 100;  // the header size field
  size[9] = 0;
  count[36] = 1;  // the channel count: 1 instead of 2
  writeBytes(scratch.file("size.rvx"), size);
  writeBytes(scratch.file("count.rvx"), count);
  for (const char* name : {"size.rvx", "count.rvx"}) {
    SCOPED_TRACE(name);
    const std::string says =
        std::string(name) + ": the header size field and the channel count cannot both be true";
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"info", name},
          {"export", name, "-o", "out.csv"},
          {"plot", name, "-o", "out.svg"},
          {"cut", name, "--records", "2:4", "-o", "out.rvx"}}) {
      expectRun(command, 1, says);
      expectRun(command, 1, "; the values would be wrong");
    }
    for (const char* output : {"out.csv", "out.svg", "out.rvx"})
      EXPECT_FALSE(exists(output)) << output;
  }
  EXPECT_EQ(readBytes(scratch.file("size.rvx")), size);
}

TEST_F(Content, RecordsBeyondTheCountAreReportedAndReadOnRequest) {
  // A recorder that died after its first record: the header counts 1 of 5.
  createRecording(at("stale.rvx"), twoChannels(randomRecords(5, 2, 4)), false, 4, Close::Simple);
  // A WIN 3.x file whose count says 2 of its 6.
  const std::filesystem::path win3 = writeOldLayout(scratch.path(), OldLayout::Win3).path;
  std::string bytes = readBytes(win3);
  bytes[16] = 2;  // NoRecords of the compact header
  writeBytes(win3, bytes);
  const struct {
    std::string file;
    uint64_t counted, held;
  } kFiles[] = {{"stale.rvx", 1, 5}, {"win3.rvx", 2, 6}};
  for (const auto& f : kFiles) {
    SCOPED_TRACE(f.file);
    const std::string warning = f.file + ": warning: stale record count: the header counts " +
                                std::to_string(f.counted) +
                                (f.counted == 1 ? " record" : " records") + ", the data holds " +
                                std::to_string(f.held) + " whole records";
    const auto run = [&](std::vector<std::string> command, bool all) {
      std::filesystem::remove(scratch.file("out.csv"));
      std::filesystem::remove(scratch.file("out.svg"));
      if (all) command.push_back("--all-records");
      return rvx(command);
    };
    for (const std::vector<std::string>& command : {std::vector<std::string>{"info", f.file},
                                                    {"export", f.file, "-o", "out.csv"},
                                                    {"plot", f.file, "-o", "out.svg"}}) {
      Outcome plain = run(command, false);
      EXPECT_EQ(plain.status, 0) << plain.err;
      EXPECT_NE(plain.err.find(warning), std::string::npos) << plain.err;
      Outcome all = run(command, true);
      EXPECT_EQ(all.status, 0) << all.err;
      EXPECT_EQ(all.err.find("warning"), std::string::npos) << all.err;
    }
    const auto rows = [&](bool all) {
      EXPECT_EQ(run({"export", f.file, "-o", "out.csv"}, all).status, 0);
      const std::string csv = readBytes(scratch.file("out.csv"));
      return static_cast<uint64_t>(std::count(csv.begin(), csv.end(), '\n')) - 1;
    };
    EXPECT_EQ(rows(true), f.held);
    EXPECT_EQ(rows(false), f.counted);
    const auto json = nlohmann::json::parse(rvx({"info", "--json", "--all-records", f.file}).out);
    EXPECT_EQ(json["records"], f.held);
    EXPECT_EQ(json["records_in_data"], f.held);
    EXPECT_NE(rvx({"info", "--all-records", f.file}).out.find(std::to_string(f.held) + ", "),
              std::string::npos);
  }
  // And a count beyond the data.
  writeBytes(scratch.file("cut.rvx"), readBytes(scratch.file("stale.rvx")).substr(0, 4300 + 8));
  bytes = readBytes(scratch.file("cut.rvx"));
  bytes[20] = 3;  // NoRecords
  writeBytes(scratch.file("cut.rvx"), bytes);
  expectRun({"info", "cut.rvx"}, 0,
            "warning: the header counts 3 records, the data holds only 1 whole record");
}

TEST_F(Content, ConvertCutsATooLongTextOnlyWhenAsked) {
  // A header text one character longer than the current layout's setter
  // takes, as an older writer left it.
  createRecording(at("long.rvx"), twoChannels({{1.0f, 2.0f}}));
  std::string bytes = readBytes(scratch.file("long.rvx"));
  for (size_t i = 0; i < 63; ++i) bytes[760 + 2 * i] = 'i', bytes[761 + 2 * i] = 0;  // Instrument
  writeBytes(scratch.file("long.rvx"), bytes);
  expectRun({"convert", "long.rvx", "-o", "new.rvx"}, 2,
            "long.rvx: the instrument has 63 characters; the current layout takes at most 62 "
            "(--cut-texts cuts it)");
  EXPECT_FALSE(exists("new.rvx"));
  expectRun({"convert", "long.rvx", "-o", "new.rvx", "--cut-texts"}, 0,
            "warning: instrument cut to 62 characters");
  EXPECT_EQ(readBack(at("new.rvx")).instrument, std::u16string(62, u'i'));

  // A cut never ends inside a surrogate pair: one that the limit would
  // split is left out whole, one that ends at the limit is kept.
  const std::u16string emoji = u"\U0001F600";
  for (const size_t pair : {61u, 60u}) {  // where the pair starts
    SCOPED_TRACE(pair);
    std::string paired = bytes;
    for (size_t i = 0; i < 2; ++i) {
      paired[760 + 2 * (pair + i)] = static_cast<char>(emoji[i] & 0xFF);
      paired[761 + 2 * (pair + i)] = static_cast<char>(emoji[i] >> 8);
    }
    writeBytes(scratch.file("long.rvx"), paired);
    expectRun({"convert", "long.rvx", "-o", "new.rvx", "--cut-texts", "-f"}, 0,
              "warning: instrument cut to 62 characters");
    EXPECT_EQ(readBack(at("new.rvx")).instrument,
              std::u16string(pair, u'i') + (pair == 60 ? emoji : u""));
  }
}

// A header that knows its date but not its time, its time but not its
// date, neither, a year before 1000, or a minute or second that is none:
// info says what it knows, export --time absolute refuses what it does not,
// and convert and cut keep the start as the library reads it (a second of
// 60, as a leap second, leaves whole minutes).
TEST_F(Content, AStartWithoutItsDateOrItsTimeIsShownAndKeptAsItIs) {
  createRecording(at("a.rvx"), twoChannels(randomRecords(4, 2, 7)));  // 4.12.2023 14:05:09
  const std::string bytes = readBytes(scratch.file("a.rvx"));
  constexpr size_t kStart = KDRVX_HEADER_YEAR_OFFSET, kHour = KDRVX_HEADER_HOUR_OFFSET;
  const auto header = [](const char* seven) { return std::string(seven, 7); };
  const struct {
    const char* file;
    size_t offset;
    std::string patch;
    const char* recorded;  // as info shows the start
    const char* refused;   // by export --time absolute; nullptr: exported
    const char* warning;   // of convert; nullptr: none
    std::string kept;      // the start bytes of the new files
  } kCases[] = {
      {"notime.rvx", kHour, "\xFF\xFF\xFF", "04.12.2023, time unknown", "(its time)",
       "the recording time is unknown and stays so", header("\xE7\x07\x0C\x04\xFF\xFF\xFF")},
      {"nodate.rvx", kStart, std::string(4, '\0'), "date unknown, 14:05:09", "(its date)",
       "the recording date is unknown (00.00.   0) and stays so", header("\0\0\0\0\x0E\x05\x09")},
      {"neither.rvx", kStart, header("\0\0\0\0\xFF\xFF\xFF"), "unknown", "(its date)",
       "the recording time is unknown and stays so", header("\0\0\0\0\xFF\xFF\xFF")},
      {"year999.rvx", kStart, "\xE7\x03", "04.12. 999 14:05:09", nullptr, nullptr,
       header("\xE7\x03\x0C\x04\x0E\x05\x09")},
      {"minute60.rvx", kHour + 1, "\x3C", "04.12.2023, time unknown", "(its time)",
       "the recording time is unknown and stays so", header("\xE7\x07\x0C\x04\xFF\xFF\xFF")},
      {"second60.rvx", kHour + 2, "\x3C", "04.12.2023 14:05:60", nullptr, nullptr,
       header("\xE7\x07\x0C\x04\x0E\x05\xFF")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.file);
    std::string damaged = bytes;
    damaged.replace(c.offset, c.patch.size(), c.patch);
    writeBytes(scratch.file(c.file), damaged);
    const Outcome info = rvx({"info", c.file});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find(std::string("Recorded         ") + c.recorded), npos) << info.out;
    const Outcome absolute = rvx({"export", c.file, "--time", "absolute", "-o", "out.csv", "-f"});
    if (c.refused) {
      EXPECT_EQ(absolute.status, 1);
      EXPECT_NE(absolute.err.find("the recording's start is unknown " + std::string(c.refused)),
                npos)
          << absolute.err;
    } else {
      EXPECT_EQ(absolute.status, 0) << absolute.err;
    }
    const Outcome convert = rvx({"convert", c.file, "-o", "new.rvx", "-f"});
    ASSERT_EQ(convert.status, 0) << convert.err;
    if (c.warning) {
      EXPECT_NE(convert.err.find(std::string(c.file) + ": warning: " + c.warning), npos)
          << convert.err;
    } else {
      EXPECT_EQ(convert.err, "");
    }
    EXPECT_EQ(readBytes(scratch.file("new.rvx")).substr(kStart, 7), c.kept);
    ASSERT_EQ(rvx({"cut", c.file, "--records", "2:3", "-o", "new.rvx", "-f"}).status, 0);
    EXPECT_EQ(readBytes(scratch.file("new.rvx")).substr(kStart, 7), c.kept);
  }
}

// Values that rvx's own create path does not make but other writers left:
// both channel flags set, a multichannel of 40 bits, one variable for two
// channels, a statistics flag of 2, an interval of whole seconds. info
// shows them, plot draws the 32 bits a value holds, and convert keeps the
// flags and every value, and names what it cannot keep.
TEST_F(Content, ChannelValuesThatOnlyOtherWritersMakeAreShownAndCarriedOver) {
  Recording recording = twoChannels({{1.5f, bits(1)}, {2.0f, bits(2)}}, 8);
  recording.channels[0].variable = "X2";
  recording.interval = 2000000;
  createRecording(at("a.rvx"), recording);
  std::string bytes = readBytes(scratch.file("a.rvx"));
  constexpr size_t kChannel0 = 1500, kChannel1 = 1500 + 1400;
  bytes[37] = 2;                                                   // FlagStatistics
  bytes.replace(kChannel0 + 510, 2, "\x01\x01");                   // ISDS, linearisation
  bytes[kChannel1 + 12] = 40;                                      // multichannel bits
  bytes.replace(kChannel1 + 6, 5, std::string("X\0\0\0\x02", 5));  // variable X2
  writeBytes(scratch.file("odd.rvx"), bytes);

  const Outcome info = rvx({"info", "odd.rvx"});
  ASSERT_EQ(info.status, 0) << info.err;
  for (const char* shown : {"Scan interval    2 s (0.5 Hz)\n", "Statistics       unknown flag 2\n",
                            "  ISDS,lin", "  multi:40"}) {
    EXPECT_NE(info.out.find(shown), npos) << shown << " in\n" << info.out;
  }
  const Outcome plot = rvx({"plot", "odd.rvx", "-o", "odd.svg"});
  ASSERT_EQ(plot.status, 0) << plot.err;
  const std::string svg = readBytes(scratch.file("odd.svg"));
  EXPECT_NE(svg.find(">bit 31</text>"), npos);
  EXPECT_EQ(svg.find(">bit 32</text>"), npos);

  const Outcome convert = rvx({"convert", "odd.rvx", "-o", "new.rvx"});
  ASSERT_EQ(convert.status, 0) << convert.err;
  EXPECT_NE(convert.err.find("odd.rvx: warning: channel 1 'X2' is written as X3\n"), npos)
      << convert.err;
  EXPECT_NE(convert.err.find("odd.rvx: warning: channel X2: a multichannel of 40 bits cannot be "
                             "written; it becomes an ordinary channel\n"),
            npos)
      << convert.err;
  const ReadBack back = readBack(at("new.rvx"));
  ASSERT_EQ(back.channels.size(), 2u);
  EXPECT_EQ(back.channels[0].variable, u"X2");
  EXPECT_TRUE(back.channels[0].isds);
  EXPECT_EQ(readBytes(scratch.file("new.rvx"))[kChannel0 + 511], 1);  // linearisation
  EXPECT_EQ(back.channels[1].variable, u"X3");
  EXPECT_EQ(back.channels[1].bits, 0);
  EXPECT_EQ(back.interval, 2000000);
  EXPECT_EQ(back.values, readBack(at("odd.rvx")).values);
}

// Options that cannot work are refused before anything is read or
// written: the cause named, no output, the input untouched.
TEST_F(Content, OptionsThatCannotWorkAreRefusedBeforeAnyOutput) {
  createRecording(at("a.rvx"), twoChannels({{1.0f, bits(1)}}, 8));
  const std::string before = readBytes(scratch.file("a.rvx"));
  const std::vector<std::string> csv = {"export", "a.rvx", "-o", "out.csv"};
  const auto to = [](const char* output) {
    return std::vector<std::string>{"export", "a.rvx", "-o", output};
  };
  const auto plot = std::vector<std::string>{"plot", "a.rvx", "-o", "out.svg"};
  const auto with = [](std::vector<std::string> command, std::vector<std::string> options) {
    command.insert(command.end(), options.begin(), options.end());
    return command;
  };
  const struct {
    std::vector<std::string> arguments;
    const char* says;
  } kCases[] = {
      {with(csv, {"--time-unit", "min"}), "--time-unit: expected s or ms, not min"},
      {with(csv, {"--time", "wall"}), "--time: expected relative or absolute, not wall"},
      {with(csv, {"--time", "absolute", "--no-time"}),
       "--time absolute and --no-time contradict each other"},
      {with(csv, {"--time", "absolute", "--time-unit", "ms"}),
       "--time-unit applies to --time relative only: timestamps have no unit"},
      {with(to("out.mat"), {"--delimiter", ";"}),
       "--delimiter applies to CSV only, not to out.mat"},
      {with(to("out.mat"), {"--encoding", "cp1252"}), "--encoding applies to CSV only"},
      {with(to("out.h5"), {"--with-metadata"}),
       "--with-metadata applies to CSV only, not to out.h5"},
      {with(to("out.h5"), {"--time-unit", "ms"}), "--time-unit applies to CSV only"},
      {with(to("out.mat"), {"--no-time"}), "--no-time applies to CSV only"},
      {with(to("out.h5"), {"--time", "absolute"}), "--time absolute applies to CSV only"},
      {{"export", "a.rvx", "--format", "mat", "-o", "-"},
       "MATLAB and HDF5 exports go to a file: give -o FILE"},
      {with(plot, {"--width", "49"}), "--width must be 50 to 20000 pixels"},
      {with(plot, {"--width", "20001"}), "--width must be 50 to 20000 pixels"},
      {with(plot, {"--panel-height", "39"}), "--panel-height must be 40 to 2000 pixels"},
      {with(plot, {"--panel-height", "2001"}), "--panel-height must be 40 to 2000 pixels"},
      {{"follow", "a.rvx", "--timeout", "soon"},
       "--timeout: expected seconds above 0 such as 0.5 or 30, not soon"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.says);
    const Outcome run = rvx(c.arguments);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    for (const char* output : {"out.csv", "out.mat", "out.h5", "out.svg"})
      EXPECT_FALSE(exists(output)) << output;
  }
  EXPECT_EQ(readBytes(scratch.file("a.rvx")), before);
  // The demo's directory below a file.
  expectRun({"demo", "a.rvx/demo"}, 1, "a.rvx/demo: cannot create the directory: ");
  EXPECT_EQ(readBytes(scratch.file("a.rvx")), before);
}

// The metadata of a window counts the trigger record from the window's
// first record; a trigger outside the window is named and given as 0.
TEST_F(Content, ExportOfAWindowCountsTheTriggerFromItsFirstRecord) {
  Recording triggered = twoChannels(randomRecords(4, 2, 3));
  triggered.triggerRecord = 2;
  createRecording(at("t.rvx"), triggered);
  createRecording(at("none.rvx"), twoChannels(randomRecords(4, 2, 3)));
  const struct {
    const char* file;
    const char* records;
    const char* trigger;  // the metadata line
    bool named;           // whether a warning names the trigger left out
  } kCases[] = {{"t.rvx", "0:1", "#trigger record,0\r\n", true},
                {"t.rvx", "1:3", "#trigger record,1\r\n", false},
                {"none.rvx", "1:2", "#trigger record,0\r\n", false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.records);
    const Outcome run = rvx({"export", c.file, "--records", c.records, "--with-metadata"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(c.trigger), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find(std::string(c.file) +
                           ": warning: the trigger record 2 lies outside the records exported; "
                           "the metadata gives 0\n") != std::string::npos,
              c.named)
        << run.err;
  }

  // Wall-clock timestamps past the year 9999 are refused (the reader shows
  // a stored year of 16166 as 9999).
  Recording late = twoChannels({{1.0f, 2.0f}, {3.0f, 4.0f}});
  late.date = "31.12.16166";
  late.time = "23:59:59";
  late.interval = 1000000;
  createRecording(at("late.rvx"), late);
  expectRun({"export", "late.rvx", "-o", "out.csv", "--time", "absolute"}, 1,
            "late.rvx: its records' timestamps would leave the years 1 to 9999");
  EXPECT_FALSE(exists("out.csv"));
}

// MATLAB and HDF5 names are identifiers made from the variables, whatever
// letters those use; a recording without records gives empty columns of
// the right class.
TEST_F(Content, MatlabAndHdf5ColumnsOfAnyVariableAndOfNoRecords) {
  Recording greek;
  greek.channels = {{"µ1", "bar", ""}, {"Ωx2", "", ""}};
  greek.records = {{1.0f, 2.0f}};
  createRecording(at("greek.rvx"), greek);
  ASSERT_EQ(rvx({"export", "greek.rvx", "--format", "h5", "-o", "greek.data"}).status, 0);
  const nlohmann::json h5 = readExport("hdf5", at("greek.data"));
  ASSERT_EQ(h5["channels"].size(), 2u);
  EXPECT_EQ(h5["channels"][0]["name"], "ch_1");
  EXPECT_EQ(h5["channels"][0]["variable"], "µ1");
  EXPECT_EQ(h5["channels"][1]["name"], "x2");
  EXPECT_EQ(h5["channels"][1]["variable"], "Ωx2");

  createRecording(at("empty.rvx"), twoChannels({}, 8));
  const Outcome run = rvx({"export", "empty.rvx", "-o", "empty.mat"});
  ASSERT_EQ(run.status, 0) << run.err;
  const nlohmann::json mat = readExport("mat", at("empty.mat"));
  EXPECT_EQ(mat["time"], nlohmann::json::array());
  ASSERT_EQ(mat["channels"].size(), 2u);
  for (const auto& [channel, kind] : {std::pair<size_t, const char*>{0, "single"}, {1, "uint32"}}) {
    EXPECT_EQ(mat["channels"][channel]["matlab_class"], kind);
    EXPECT_EQ(mat["channels"][channel]["bits"], nlohmann::json::array());
  }
}

// The compact layout keeps no channel filter: import names every channel
// whose filter it leaves out, however many there are.
TEST_F(Content, ImportNamesEveryTextTheCompactLayoutLeavesOut) {
  constexpr int kChannels = 20;
  std::string csv =
      "#rvx metadata,2\n#comment,x\n#scan interval [us],1000\n#channel properties,variable,"
      "unit,name,number,signal type,range,zero point,filter,linearisation table,individual "
      "rate,isds,linearisation,multichannel bits\n";
  std::string heading = "time [s]", record = "0";
  for (int k = 1; k <= kChannels; ++k) {
    const std::string variable = "p" + std::to_string(k);
    csv += "#channel," + variable + ",,,,,,,low pass,,1,0,0,0\n";
    heading += "," + variable;
    record += ",1";
  }
  writeBytes(scratch.file("many.csv"), csv + heading + "\n" + record + "\n");
  const Outcome run = rvx({"import", "many.csv", "-o", "many.rvx", "--legacy"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (int k = 1; k <= kChannels; ++k) {
    EXPECT_NE(run.err.find("warning: channel p" + std::to_string(k) +
                           " filter: the compact layout keeps it nowhere"),
              std::string::npos)
        << k;
  }
}

}  // namespace
}  // namespace rvx::test
