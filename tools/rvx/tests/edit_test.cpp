// rvx cut, select, merge and export to MATLAB and HDF5, on files of every
// layout; the exports read back by h5py and scipy.io.
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "shared/utf.h"
#include "support/cli_support.h"

namespace rvx::test {
namespace {

using Records = std::vector<std::vector<float>>;

constexpr uint32_t kCurrentVersion = 's';

struct Source {
  std::string file;
  Records records;
};

std::vector<uint32_t> patterns(const Records& records, size_t first, size_t end,
                               const std::vector<size_t>& channels) {
  std::vector<uint32_t> values;
  for (size_t r = first; r < end; ++r) {
    for (size_t c : channels) values.push_back(std::bit_cast<uint32_t>(records[r][c]));
  }
  return values;
}

std::vector<size_t> all(const Records& records) {
  std::vector<size_t> channels(records.at(0).size());
  for (size_t c = 0; c < channels.size(); ++c) channels[c] = c;
  return channels;
}

// p1 with a NaN that has a payload, T1 in °C, M1 a multichannel of 8 bits.
Recording mixed(size_t count) {
  Recording recording;
  recording.channels = {{"p1", "bar", "Inlet"}, {"T1", "°C", "Oil"}, {"M1", "", "Inputs", 8}};
  recording.records = randomRecords(count, 3, 11);
  for (size_t r = 0; r < count; ++r) {
    recording.records[r][2] = std::bit_cast<float>(static_cast<uint32_t>(r * 37 % 256));
  }
  recording.records[1][0] = std::bit_cast<float>(0x7FC01234u);
  return recording;
}

class Edit : public RvxTest {
 protected:
  void expectDone(const std::vector<std::string>& arguments) {
    const Outcome run = rvx(arguments);
    ASSERT_EQ(run.status, 0) << arguments[0] << " " << arguments[1] << ": " << run.err;
  }

  // A recording of every layout, with the values its readers deliver.
  std::vector<Source> everyLayout() {
    const Recording recording = mixed(6);
    createRecording(at("current.rvx"), recording);
    createRecording(at("compact.rvx"), recording, true);
    std::vector<Source> sources = {{at("current.rvx"), recording.records},
                                   {at("compact.rvx"), recording.records}};
    for (OldLayout layout :
         {OldLayout::DosBefore5, OldLayout::DosQ, OldLayout::DosP, OldLayout::Win2Sparse,
          OldLayout::Win2Decimal, OldLayout::Win3, OldLayout::Win6}) {
      OldFile file = writeOldLayout(scratch.path(), layout);
      sources.push_back({file.path.string(), file.expected});
    }
    return sources;
  }
};

TEST_F(Edit, CutSelectAndMergeWriteTheCurrentLayoutFromEveryLayout) {
  for (const Source& source : everyLayout()) {
    SCOPED_TRACE(source.file);
    const Records& records = source.records;
    ASSERT_GE(records.size(), 3u);
    const size_t last = records[0].size() - 1;
    expectDone({"cut", source.file, "-o", "cut.rvx", "--records", "1:2", "-f"});
    expectDone({"select", source.file, "-o", "select.rvx", "-f", "--channels",
                "#" + std::to_string(last) + ",#0"});
    expectDone({"merge", source.file, source.file, "-o", "merge.rvx", "-f", "--no-time-check"});
    const struct {
      const char* file;
      std::vector<uint32_t> values;
    } expected[] = {
        {"cut.rvx", patterns(records, 1, 3, all(records))},
        {"select.rvx", patterns(records, 0, records.size(), {last, 0})},
        {"merge.rvx",
         [&] {
           auto twice = patterns(records, 0, records.size(), all(records));
           twice.insert(twice.end(), twice.begin(), twice.end());
           return twice;
         }()},
    };
    for (const auto& e : expected) {
      const ReadBack back = readBack(at(e.file));
      EXPECT_EQ(back.version, kCurrentVersion) << e.file;
      EXPECT_EQ(back.values, e.values) << e.file;
    }
  }
}

// merge reads its inputs through readers, convert through the read context:
// a file of any layout between its conversions, or first before them, gives
// the bytes of the conversions merged alone.
TEST_F(Edit, MergeOfLayoutsGivesTheBytesOfTheirConversions) {
  for (const Source& source : everyLayout()) {
    // Kind Q stores no variables: its conversion names the channels anew.
    if (source.file.ends_with("dosq.rvx")) continue;
    SCOPED_TRACE(source.file);
    expectDone({"convert", source.file, "-o", "conv.rvx", "-f"});
    expectDone(
        {"merge", "conv.rvx", "conv.rvx", "conv.rvx", "-o", "alone.rvx", "-f", "--no-time-check"});
    for (const auto& order : {std::vector<std::string>{"conv.rvx", source.file, "conv.rvx"},
                              std::vector<std::string>{source.file, "conv.rvx", "conv.rvx"}}) {
      std::vector<std::string> arguments = {"merge", "-o", "mixed.rvx", "-f", "--no-time-check"};
      arguments.insert(arguments.end(), order.begin(), order.end());
      expectDone(arguments);
      EXPECT_TRUE(readBytes(scratch.file("mixed.rvx")) == readBytes(scratch.file("alone.rvx")))
          << order[0];
    }
  }
}

TEST_F(Edit, ExportsReadBackBitForBitFromEveryLayout) {
  for (const Source& source : everyLayout()) {
    SCOPED_TRACE(source.file);
    const Records& records = source.records;
    const std::vector<size_t> channels = all(records);
    for (const char* kind : {"mat", "hdf5"}) {
      const std::string out = at(std::string("out.") + kind);
      expectDone({"export", source.file, "-o", out, "-f", "--format", kind, "--records", "1:"});
      const nlohmann::json file = readExport(kind, out);
      ASSERT_EQ(file["channels"].size(), channels.size()) << kind;
      for (size_t c : channels) {
        std::vector<uint32_t> bits = file["channels"][c]["bits"];
        EXPECT_EQ(bits, patterns(records, 1, records.size(), {c})) << kind << " channel " << c;
      }
      const ReadBack back = readBack(source.file);
      const std::vector<double> time = file["time"];
      ASSERT_EQ(time.size(), records.size() - 1);
      EXPECT_DOUBLE_EQ(time.back(), static_cast<double>(records.size() - 1) * back.interval / 1e6);
      EXPECT_EQ(file["comment"], toUtf8(back.comment)) << kind;
    }
  }
}

TEST_F(Edit, ExportsNameTypeAndDescribeTheChannels) {
  createRecording(at("in.rvx"), mixed(4));
  expectDone({"export", "in.rvx", "-o", "x.mat", "--channels", "M1,T1"});
  expectDone({"export", "in.rvx", "-o", "x.h5"});
  const nlohmann::json mat = readExport("mat", at("x.mat"));
  EXPECT_EQ(mat["version"], "2.0");  // scipy.io: MATLAB v7.3
  EXPECT_EQ(mat["channels"][0]["name"], "M1");
  EXPECT_EQ(mat["channels"][0]["matlab_class"], "uint32");
  EXPECT_EQ(mat["channels"][1]["matlab_class"], "single");
  EXPECT_EQ(mat["channels"][1]["unit"], "°C");
  const nlohmann::json h5 = readExport("hdf5", at("x.h5"));
  EXPECT_EQ(h5["scan_interval"], 0.001);
  const char* const names[] = {"p1", "T1", "M1"};
  const char* const types[] = {"float32", "float32", "uint32"};
  for (size_t c = 0; c < 3; ++c) {
    EXPECT_EQ(h5["channels"][c]["name"], names[c]);
    EXPECT_EQ(h5["channels"][c]["type"], types[c]);
    EXPECT_EQ(h5["channels"][c]["compression"], "gzip");
  }
  EXPECT_EQ(h5["channels"][1]["unit"], "°C");
}

// Both formats store their columns alike: the MATLAB columns in the chunks
// and through the filters of the HDF5 datasets, whatever the blocks in
// which the records came (1365 records for 48 channels).
TEST_F(Edit, MatlabColumnsAreStoredAsTheHdf5Datasets) {
  Recording recording;
  for (int c = 1; c <= 48; ++c) recording.channels.push_back({"p" + std::to_string(c), "bar", ""});
  recording.records = randomRecords(3000, 48, 5);
  createRecording(at("wide.rvx"), recording);
  expectDone({"export", "wide.rvx", "-o", "wide.mat"});
  expectDone({"export", "wide.rvx", "-o", "wide.h5"});
  const nlohmann::json mat = readExport("mat", at("wide.mat"));
  const nlohmann::json h5 = readExport("hdf5", at("wide.h5"));
  EXPECT_EQ(mat["time_storage"], h5["time_storage"]);
  EXPECT_EQ(h5["time_storage"]["shuffle"], true);
  ASSERT_EQ(mat["channels"].size(), h5["channels"].size());
  for (size_t c = 0; c < h5["channels"].size(); ++c) {
    EXPECT_EQ(mat["channels"][c]["storage"], h5["channels"][c]["storage"]) << c;
    EXPECT_EQ(mat["channels"][c]["bits"], h5["channels"][c]["bits"]) << c;
  }
}

// Channels without a variable (DOS kind Q stores none) go by the library's
// labels ch_0, ch_1, ... in every export, and can be chosen by them.
TEST_F(Edit, ChannelsWithoutAVariableGoByTheSameNameInEveryExport) {
  const OldFile dos = writeOldLayout(scratch.path(), OldLayout::DosQ, false);
  const std::string file = dos.path.filename().string();
  std::vector<std::string> expected;
  for (size_t c = 0; c < dos.expected.at(0).size(); ++c)
    expected.push_back("ch_" + std::to_string(c));
  for (const char* kind : {"mat", "hdf5"}) {
    const std::string out = at(std::string("dos.") + kind);
    expectDone({"export", file, "-o", out, "--format", kind});
    const nlohmann::json back = readExport(kind, out);
    std::vector<std::string> names;
    for (const auto& channel : back["channels"]) names.push_back(channel["name"]);
    EXPECT_EQ(names, expected) << kind;
  }
  const Outcome csv = rvx({"export", file, "--no-time", "--records", "0"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  std::vector<std::string> headings;
  std::string heading = csv.out.substr(0, csv.out.find('\r'));
  for (size_t at = 0; at <= heading.size();) {
    const size_t end = std::min(heading.find(',', at), heading.size());
    const std::string cell = heading.substr(at, end - at);
    headings.push_back(cell.substr(0, cell.find(" [")));  // the unit after the name
    at = end + 1;
  }
  EXPECT_EQ(headings, expected) << csv.out;
  EXPECT_EQ(rvx({"export", file, "--no-time", "--channels", "ch_1"}).status, 0);
}

TEST_F(Edit, CutMovesTheTriggerAndTheStartTimeAndRecomputesStatistics) {
  Recording recording = mixed(12);
  recording.interval = 3600000000;  // an hour: from 14:05:09 on 4.12.2023
  recording.triggerRecord = 11;
  createRecording(at("in.rvx"), recording);
  expectDone({"cut", "in.rvx", "-o", "late.rvx", "--from", "36000", "--to", "39600"});
  const ReadBack late = readBack(at("late.rvx"));
  EXPECT_EQ(late.records, 2u);
  EXPECT_EQ(late.triggerRecord, 1u);
  EXPECT_EQ(late.date, u"05.12.2023");
  EXPECT_EQ(late.time, u"00:05:09");
  EXPECT_EQ(late.comment, u16(recording.comment));
  EXPECT_EQ(late.channels[1].unit, u"°C");
  EXPECT_EQ(late.channels[1].minimum, std::min(recording.records[10][1], recording.records[11][1]));
  EXPECT_EQ(late.channels[1].maximum, std::max(recording.records[10][1], recording.records[11][1]));

  const Outcome early = rvx({"cut", "in.rvx", "-o", "early.rvx", "--records", ":3"});
  EXPECT_EQ(early.status, 0);
  EXPECT_NE(early.err.find("trigger record 11 lies outside the window"), std::string::npos);
  EXPECT_EQ(readBack(at("early.rvx")).triggerRecord, 0u);
}

TEST_F(Edit, CutWarnsOfWhatTheNewHeaderCannotCarry) {
  Recording recording = mixed(2100);  // 1 ms apart from 14:05:09
  recording.triggerRecord = 2000;
  createRecording(at("in.rvx"), recording);
  // Trigger record 0 would mean "no trigger".
  Outcome run = rvx({"cut", "in.rvx", "-o", "t.rvx", "--records", "2000:2099"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("trigger record 2000 is the window's first record"), std::string::npos)
      << run.err;
  EXPECT_EQ(readBack(at("t.rvx")).triggerRecord, 0u);
  // 1.999 s in: the header holds whole seconds, and the rest is named.
  run = rvx({"cut", "in.rvx", "-o", "s.rvx", "--from", "1.999"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("first record lies 0.999 s after the new start time 14:05:10"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(readBack(at("s.rvx")).time, u"14:05:10");
  EXPECT_EQ(readBack(at("s.rvx")).triggerRecord, 1u);
}

TEST_F(Edit, MergeHasTheStatisticsOfTheWhole) {
  Recording first = mixed(3);
  Recording second = mixed(4);
  const Records other = randomRecords(4, 1, 99);
  for (size_t r = 0; r < 4; ++r) second.records[r][1] = other[r][0];
  createRecording(at("a.rvx"), first);
  createRecording(at("b.rvx"), second);
  expectDone({"merge", "a.rvx", "b.rvx", "-o", "ab.rvx"});
  const ReadBack merged = readBack(at("ab.rvx"));
  EXPECT_EQ(merged.records, 7u);
  float minimum = first.records[0][1], maximum = minimum;
  for (const Records* records : {&first.records, &second.records}) {
    for (const auto& record : *records) {
      minimum = std::min(minimum, record[1]);
      maximum = std::max(maximum, record[1]);
    }
  }
  EXPECT_EQ(merged.channels[1].minimum, minimum);
  EXPECT_EQ(merged.channels[1].maximum, maximum);
}

TEST_F(Edit, MergeCarriesTheFirstTriggerToItsPlaceAndNamesTheOthers) {
  Recording recording = mixed(4);
  createRecording(at("none.rvx"), recording);
  recording.triggerRecord = 2;
  createRecording(at("two.rvx"), recording);
  recording.triggerRecord = 1;
  createRecording(at("one.rvx"), recording);
  const Outcome run = rvx({"merge", "none.rvx", "two.rvx", "one.rvx", "-o", "all.rvx"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(readBack(at("all.rvx")).triggerRecord, 6u);  // 4 records before it
  EXPECT_NE(run.err.find("rvx: one.rvx: warning: the trigger record 1 is left out: a recording "
                         "holds one trigger, and the merged file keeps that of two.rvx (merged "
                         "record 6)"),
            std::string::npos)
      << run.err;
}

TEST_F(Edit, MismatchesAndWrongWindowsAreRefusedAndWriteNothing) {
  Recording base = mixed(3);
  createRecording(at("a.rvx"), base);
  Recording slow = base;
  slow.interval = 2000;
  createRecording(at("slow.rvx"), slow);
  Recording kelvin = base;
  kelvin.channels[1].unit = "K";
  createRecording(at("kelvin.rvx"), kelvin);
  Recording wide = base;
  wide.channels[2].bits = 16;
  createRecording(at("wide.rvx"), wide);
  Recording renamed = base;
  renamed.channels[0].variable = "p2";
  createRecording(at("renamed.rvx"), renamed);
  const struct {
    std::vector<std::string> arguments;
    int status;
    const char* says;
  } cases[] = {
      {{"merge", "a.rvx", "slow.rvx", "-o", "out.rvx"}, 1, "scan interval is 1000 us in a.rvx"},
      {{"merge", "a.rvx", "kelvin.rvx", "-o", "out.rvx"}, 1, "unit '°C' in a.rvx, 'K' in kelvin"},
      {{"merge", "a.rvx", "wide.rvx", "-o", "out.rvx"}, 1, "8 multichannel bits in a.rvx, 16"},
      {{"merge", "a.rvx", "renamed.rvx", "-o", "out.rvx"}, 1, "channel 0 is p1 in a.rvx, p2"},
      {{"cut", "a.rvx", "-o", "out.rvx"}, 2, "give the window"},
      {{"cut", "a.rvx", "-o", "out.rvx", "--from", "1"}, 2, "past the end"},
      {{"select", "a.rvx", "-o", "out.rvx", "--channels", "p1,p1"}, 2, "named twice"},
      {{"select", "a.rvx", "-o", "out.rvx", "--channels", "q9"}, 2, "no channel q9"},
      {{"export", "a.rvx", "-o", "out.rvx", "--format", "xls"}, 2, "expected csv, mat or hdf5"},
      {{"export", "a.rvx", "--format", "mat"}, 2, "give -o FILE"},
      {{"export", "a.rvx", "-o", "a.rvx.h5", "--channels", "q9"}, 2, "no channel q9"},
      {{"export", "a.rvx", "-o", "a.mat", "--decimal-comma"}, 2, "applies to CSV only"},
  };
  const std::string before = readBytes(scratch.file("a.rvx"));
  for (const auto& c : cases) {
    const Outcome run = rvx(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments[0] << ": " << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << c.says << " not in: " << run.err;
    EXPECT_FALSE(std::filesystem::exists(scratch.file("out.rvx"))) << run.err;
    EXPECT_FALSE(std::filesystem::exists(scratch.file("a.rvx.h5"))) << run.err;
  }
  EXPECT_EQ(readBytes(scratch.file("a.rvx")), before);
  // An existing output stays as it was without -f.
  for (const char* out : {"keep.mat", "keep.h5", "keep.rvx"}) {
    kdrvx::test::writeBytes(scratch.file(out), "mine");
    const bool recording = std::string(out).ends_with(".rvx");
    const Outcome run =
        rvx(recording ? std::vector<std::string>{"cut", "a.rvx", "-o", out, "--records", "0"}
                      : std::vector<std::string>{"export", "a.rvx", "-o", out});
    EXPECT_EQ(run.status, 1) << out;
    EXPECT_EQ(readBytes(scratch.file(out)), "mine") << out;
  }
}

}  // namespace
}  // namespace rvx::test
