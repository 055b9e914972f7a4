// Spreadsheet CSV both ways (delimiters, decimal comma, encodings, time in
// milliseconds, the metadata block) and the read-only subcommands over many
// files, run as processes on recordings of every layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "inputs/csv.h"
#include "support/cli_support.h"

namespace rvx::test {
namespace {

using nlohmann::json;

class Sheet : public RvxTest {
 protected:
  // A recording of every layout in the scratch directory; their names.
  std::vector<std::string> everyLayout() {
    Recording recording;
    recording.channels = {{"p1", "bar", "Inlet"}, {"T2", "°C", "Oil"}, {"M1", "", "Inputs", 8}};
    recording.records = randomRecords(300, 3, 7);
    for (auto& record : recording.records) record[2] = std::bit_cast<float>(0x5Au);
    createRecording(at("current.rvx"), recording);
    Recording compact = recording;
    compact.channels.pop_back();
    for (auto& record : compact.records) record.pop_back();
    compact.comment = "one line";
    createRecording(at("compact.rvx"), compact, true);
    std::vector<std::string> files = {"current.rvx", "compact.rvx"};
    for (OldLayout layout :
         {OldLayout::DosBefore5, OldLayout::DosQ, OldLayout::DosP, OldLayout::Win2Sparse,
          OldLayout::Win2Decimal, OldLayout::Win3, OldLayout::Win6}) {
      files.push_back(writeOldLayout(scratch.path(), layout).path.filename().string());
    }
    return files;
  }
};

// What a recording's properties are, without what a new file may change:
// its name, layout, version and the statistics computed anew.
json properties(const std::string& infoJson) {
  json document = json::parse(infoJson);
  for (const char* key : {"file", "layout", "version", "statistics_flag"}) document.erase(key);
  for (json& channel : document["channels"]) {
    for (const char* key : {"minimum", "maximum", "mean", "rms"}) channel.erase(key);
  }
  return document;
}

TEST_F(Sheet, CheckAndInfoTakeManyFiles) {
  std::vector<std::string> files = everyLayout();
  writeBytes(scratch.file("cut.rvx"), readBytes(scratch.file("current.rvx")).substr(0, 3000));
  files.push_back("cut.rvx");

  std::vector<std::string> arguments = {"check"};
  arguments.insert(arguments.end(), files.begin(), files.end());
  const Outcome text = rvx(arguments);
  EXPECT_EQ(text.status, 1) << text.err;
  EXPECT_NE(text.out.find("cut.rvx: current layout, 3000 bytes\n  finding: the file ends inside "
                          "its header (3000 of 5700 bytes)"),
            npos)
      << text.out;
  EXPECT_NE(text.out.find("rvx check: 10 files: "), npos) << text.out;

  arguments.push_back("--json");
  const Outcome asJson = rvx(arguments);
  EXPECT_EQ(asJson.status, 1);
  const json findings = json::parse(asJson.out);
  ASSERT_EQ(findings.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(findings[i]["file"], files[i]);
    if (files[i] == "cut.rvx" || files[i] == "current.rvx") {
      EXPECT_EQ(findings[i]["findings"].empty(), files[i] == "current.rvx") << files[i];
    }
  }
  EXPECT_NE(asJson.err.find("rvx check: 10 files"), npos) << asJson.err;
  // On threads, in any number, the same output in the order of the files as
  // on one thread; a damaged, a missing and an unreadable file among them.
  files.insert(files.begin() + 3, {"missing.rvx", "."});
  for (const char* command : {"check", "info"}) {
    for (const bool asJsonToo : {false, true}) {
      std::vector<std::string> many = {command, "-j", "1"};
      if (asJsonToo) many.push_back("--json");
      many.insert(many.end(), files.begin(), files.end());
      const Outcome sequential = rvx(many);
      EXPECT_EQ(sequential.status, 1) << command;
      for (const char* jobs : {"3", "16"}) {
        many[2] = jobs;
        const Outcome threaded = rvx(many);
        EXPECT_EQ(threaded.status, sequential.status) << command << " -j " << jobs;
        EXPECT_EQ(threaded.out, sequential.out) << command << " -j " << jobs;
        EXPECT_EQ(threaded.err, sequential.err) << command << " -j " << jobs;
      }
    }
  }
  files.erase(files.begin() + 3, files.begin() + 5);
  // One file keeps its single object.
  EXPECT_TRUE(json::parse(rvx({"check", "--json", "current.rvx"}).out).is_object());

  files.back() = "missing.rvx";
  arguments = {"info", "--json"};
  arguments.insert(arguments.end(), files.begin(), files.end());
  const Outcome info = rvx(arguments);
  EXPECT_EQ(info.status, 1);
  EXPECT_NE(info.err.find("rvx: missing.rvx: "), npos) << info.err;
  EXPECT_NE(info.err.find("rvx info: 10 files: 9 read, 1 not read"), npos) << info.err;
  const json documents = json::parse(info.out);
  ASSERT_EQ(documents.size(), files.size());
  for (size_t i = 0; i + 1 < files.size(); ++i) {
    EXPECT_EQ(documents[i], json::parse(rvx({"info", "--json", files[i]}).out)) << files[i];
  }
  EXPECT_EQ(documents.back()["file"], "missing.rvx");
  EXPECT_TRUE(documents.back().contains("error"));
}

TEST_F(Sheet, ImportReadsAGermanSpreadsheetToTheVeryValues) {
  // ';' between fields, decimal commas, "°C" in code page 1252, "Zeit [s]".
  writeBytes(scratch.file("messung.csv"),
             "Zeit [s];T1 [\xB0"
             "C];p1 [bar]\r\n0;1,5;-2\r\n0,001;20,25;1e-3\r\n0,002;-0,1;3\r\n");
  const Outcome run = rvx({"import", "messung.csv", "-o", "messung.rvx"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("(cp1252, ';', decimal comma)"), npos) << run.out;
  const ReadBack back = readBack(at("messung.rvx"));
  EXPECT_EQ(back.interval, 1000);
  EXPECT_EQ(back.channels.at(0).unit, u"°C");
  const std::vector<float> expected = {1.5f, -2, 20.25f, 1e-3f, -0.1f, 3};
  ASSERT_EQ(back.values.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(back.values[i], std::bit_cast<uint32_t>(expected[i])) << i;
  }
  // Its clock in the first column: the comma of the timestamps is no
  // reason to doubt the decimal comma, nor the point of their dates.
  writeBytes(
      scratch.file("uhrzeit.csv"),
      "Datum/Uhrzeit;T1 [\xB0"
      "C];p1 [bar]\r\n07.12.2026 10:15:30,000;1,5;-2\r\n07.12.2026 10:15:30,001;20,25;1e-3\r\n"
      "07.12.2026 10:15:30,002;-0,1;3\r\n");
  const Outcome clock = rvx({"import", "uhrzeit.csv", "-o", "uhrzeit.rvx"});
  ASSERT_EQ(clock.status, 0) << clock.err;
  EXPECT_NE(clock.out.find("every 0.001 s, dated 07.12.2026 10:15:30 (cp1252, ';', decimal comma)"),
            npos)
      << clock.out;
  EXPECT_EQ(readBack(at("uhrzeit.rvx")).values, back.values);
  // Commas in code page 1252 are named as a dialect; a byte-order mark
  // alone is not.
  const struct {
    std::string bytes, dialect;
  } kNamed[] = {{"t,T1 [\xB0"
                 "C]\r\n0,1.5\r\n1,2\r\n",
                 "every 1 s, dated 01.02.2020 10:00:00 (cp1252, ',')\n"},
                {"\xEF\xBB\xBFt,T1 [\xC2\xB0"
                 "C]\r\n0,1.5\r\n1,2\r\n",
                 "every 1 s, dated 01.02.2020 10:00:00\n"}};
  for (const auto& named : kNamed) {
    writeBytes(scratch.file("named.csv"), named.bytes);
    const Outcome in = rvx({"import", "named.csv", "-o", "named.rvx", "-f", "--date", "1.2.2020",
                            "--time", "10:00:00"});
    ASSERT_EQ(in.status, 0) << in.err;
    EXPECT_NE(in.out.find(named.dialect), npos) << in.out;
    EXPECT_EQ(readBack(at("named.rvx")).channels.at(0).unit, u"°C");
  }
}

TEST_F(Sheet, EveryDialectGoesOutAndComesBackBitForBit) {
  const std::vector<std::vector<std::string>> kDialects = {
      {"--delimiter", ";", "--decimal-comma", "--encoding", "cp1252"},
      {"--delimiter", "tab", "--encoding", "utf-16", "--time-unit", "ms"},
      {"--decimal-comma", "--encoding", "utf-8-bom", "--time-unit", "ms"},
  };
  for (const std::string& file : everyLayout()) {
    if (file == "dosq.rvx") continue;  // its channels have no variables to import by
    ASSERT_EQ(rvx({"export", file, "-o", file + ".csv"}).status, 0) << file;
    const std::string plain = readBytes(scratch.file(file + ".csv"));
    for (const auto& dialect : kDialects) {
      SCOPED_TRACE(file + " " + dialect[1] + " " + dialect.back());
      std::vector<std::string> arguments = {"export", file, "-o", "d.csv", "-f"};
      arguments.insert(arguments.end(), dialect.begin(), dialect.end());
      ASSERT_EQ(rvx(arguments).status, 0);
      const std::string bytes = readBytes(scratch.file("d.csv"));
      EXPECT_EQ(bytes.starts_with("\xFF\xFE"), dialect[3] == "utf-16");
      EXPECT_EQ(bytes.starts_with("\xEF\xBB\xBF"),
                dialect.back() == "ms" && dialect[0] != "--delimiter");
      // Imported without options, the dialect is detected.
      std::vector<std::string> import = {"import", "d.csv", "-o", "d.rvx", "-f"};
      if (file == "current.rvx") import.insert(import.end(), {"--multichannel", "M1:8"});
      const Outcome in = rvx(import);
      ASSERT_EQ(in.status, 0) << in.err;
      ASSERT_EQ(rvx({"export", "d.rvx", "-o", "back.csv", "-f"}).status, 0);
      EXPECT_EQ(readBytes(scratch.file("back.csv")), plain);
    }
  }
}

TEST_F(Sheet, MetadataKeepsEveryPropertyOfEveryLayout) {
  std::vector<std::string> files = everyLayout();
  // DOS files converted without their RVI file: the date unknown, and (DOS Q)
  // the scan interval 0.
  std::filesystem::create_directory(scratch.file("bare"));
  for (OldLayout layout : {OldLayout::DosBefore5, OldLayout::DosQ}) {
    const std::string name = writeOldLayout(scratch.file("bare"), layout, false).path.filename();
    ASSERT_EQ(rvx({"convert", "bare/" + name, "-o", "converted-" + name}).status, 0);
    files.push_back("converted-" + name);
  }
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    const std::vector<std::string> dialect =
        file.starts_with("win") ? std::vector<std::string>{"--delimiter", "tab", "--decimal-comma",
                                                           "--encoding", "utf-16"}
                                : std::vector<std::string>{};
    std::vector<std::string> arguments = {"export", file, "--with-metadata", "-o", "m.csv", "-f"};
    arguments.insert(arguments.end(), dialect.begin(), dialect.end());
    ASSERT_EQ(rvx(arguments).status, 0);
    const Outcome in = rvx({"import", "m.csv", "-o", "m.rvx", "-f"});
    if (file == "dosq.rvx") {
      // Its channels have no variables (they are exported as ch_0, ch_1,
      // ...), which a new recording needs: they come back under convert's
      // stand-in names, with the same values.
      ASSERT_EQ(in.status, 0) << in.err;
      EXPECT_NE(in.err.find("the column ch_1, a channel without a variable, is written as X2"),
                npos)
          << in.err;
      const auto values = [&](const std::string& name) {
        const std::string csv = rvx({"export", name}).out;
        return csv.substr(csv.find('\n'));
      };
      EXPECT_EQ(values("m.rvx"), values(file));
      continue;
    }
    ASSERT_EQ(in.status, 0) << in.err;
    EXPECT_EQ(properties(rvx({"info", "--json", "m.rvx"}).out),
              properties(rvx({"info", "--json", file}).out));
    if (file.starts_with("converted-")) {
      EXPECT_NE(readBytes(scratch.file("m.csv")).find("\r\n#date,unknown\r\n"), npos);
      EXPECT_NE(in.out.find("date unknown"), npos) << in.out;
    }
  }
}

// Every row of a CSV padded with empty fields to the width of the widest, as
// a spreadsheet saves it.
std::string padded(const std::string& csv) {
  std::istringstream in(csv);
  CsvReader reader(in);
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string_view> fields;
  size_t width = 0;
  while (reader.next(fields)) {
    rows.emplace_back(fields.begin(), fields.end());
    width = std::max(width, fields.size());
  }
  std::string out;
  for (auto& row : rows) {
    row.resize(width);
    for (size_t i = 0; i < width; ++i) {
      if (i > 0) out += ',';
      appendCsvField(out, row[i]);
    }
    out += "\r\n";
  }
  return out;
}

TEST_F(Sheet, TextsAreNoFormulasAndSurviveASpreadsheetsPadding) {
  Recording recording;
  recording.channels = {{"p1", "-", "@inlet"}, {"T2", "°C", "'quoted"}};
  recording.records = {{-1.5f, 20.0f}, {2.0f, -0.25f}};
  recording.company = "=HYPERLINK(\"x\")";
  recording.comment = "+49 711\r\n-- second line";
  recording.nameMeasurement = "'=1+2";
  createRecording(at("texts.rvx"), recording);
  ASSERT_EQ(rvx({"export", "texts.rvx", "--with-metadata", "-o", "texts.csv"}).status, 0);
  const std::string csv = readBytes(scratch.file("texts.csv"));
  for (const char* row :
       {"\r\n#company,\"'=HYPERLINK(\"\"x\"\")\"\r\n",
        "\r\n#comment,\"'+49 711\r\n-- second line\"\r\n", "\r\n#measurement name,''=1+2\r\n",
        "\r\n#channel,p1,'-,'@inlet,", "\r\n#channel,T2,°C,''quoted,",
        "\r\ntime [s],p1 [-],T2 [°C]\r\n0,-1.5,20\r\n0.001,2,-0.25\r\n"}) {
    EXPECT_NE(csv.find(row), npos) << "no " << row << " in\n" << csv;
  }
  // Re-saved by a spreadsheet, every row as wide as the channel properties.
  const std::string sheet = padded(csv);
  ASSERT_NE(sheet.find("\r\n#date,04.12.2023,,,,"), npos) << sheet;
  ASSERT_NE(sheet.find("\r\n0.001,2,-0.25,,,,"), npos) << sheet;
  writeBytes(scratch.file("sheet.csv"), sheet);
  const Outcome in = rvx({"import", "sheet.csv", "-o", "back.rvx"});
  ASSERT_EQ(in.status, 0) << in.err;
  EXPECT_EQ(properties(rvx({"info", "--json", "back.rvx"}).out),
            properties(rvx({"info", "--json", "texts.rvx"}).out));
  EXPECT_EQ(readBack(at("back.rvx")).values, readBack(at("texts.rvx")).values);
  // An earlier rvx wrote texts as they are.
  writeBytes(scratch.file("v1.csv"), "#rvx metadata,1\r\n#company,'x\r\nt,p1\r\n0,1\r\n0.1,2\r\n");
  ASSERT_EQ(rvx({"import", "v1.csv", "-o", "v1.rvx"}).status, 0);
  EXPECT_EQ(readBack(at("v1.rvx")).company, u"'x");
}

TEST_F(Sheet, AWindowsMetadataStartsWhereCutStartsIt) {
  Recording recording;
  recording.channels = {{"p1", "bar", "Inlet"}};
  recording.records = randomRecords(2010, 1, 3);
  recording.triggerRecord = 2000;
  createRecording(at("long.rvx"), recording);
  const Outcome out =
      rvx({"export", "long.rvx", "--with-metadata", "--records", "1990:2005", "-o", "w.csv"});
  ASSERT_EQ(out.status, 0) << out.err;
  EXPECT_NE(out.err.find("warning: the window's first record lies 0.99 s after the new start "
                         "time 14:05:10"),
            npos)
      << out.err;
  ASSERT_EQ(rvx({"import", "w.csv", "-o", "w.rvx"}).status, 0);
  ASSERT_EQ(rvx({"cut", "long.rvx", "--records", "1990:2005", "-o", "cut.rvx"}).status, 0);
  const ReadBack imported = readBack(at("w.rvx")), cut = readBack(at("cut.rvx"));
  EXPECT_EQ(imported.time, u"14:05:10");
  EXPECT_EQ(imported.date, cut.date);
  EXPECT_EQ(imported.time, cut.time);
  EXPECT_EQ(imported.triggerRecord, 10u);
  EXPECT_EQ(imported.values, cut.values);
}

TEST_F(Sheet, WhatADialectCannotHoldOrTellIsRefused) {
  Recording recording;
  recording.channels = {{"p1", "Ω", ""}};
  recording.records = {{1.0f}, {2.0f}};
  createRecording(at("ohm.rvx"), recording);
  writeBytes(scratch.file("both.csv"), "a1,b1;c1\n1,2;3\n");
  writeBytes(scratch.file("mixed.csv"), "time;p1\n0;1.5\n1;1,5\n");
  writeBytes(scratch.file("wide.csv"), std::string("t\0,\0p\0001\0\n\0", 10));
  const struct {
    std::vector<std::string> arguments;
    int status;
    const char* says;
  } kCases[] = {
      {{"export", "ohm.rvx", "-o", "o.csv", "--encoding", "cp1252"},
       2,
       "o.csv: code page 1252 cannot hold 'Ω' (U+03A9)"},
      {{"export", "ohm.rvx", "--decimal-comma", "--delimiter", ","},
       2,
       "--decimal-comma needs another delimiter than the comma"},
      {{"export", "ohm.rvx", "--encoding", "latin1"}, 2, "--encoding: expected utf-8, utf-8-bom"},
      {{"import", "both.csv", "-o", "x.rvx"}, 2, "cannot tell the delimiter: ',' and ';'"},
      {{"import", "mixed.csv", "-o", "x.rvx"}, 2, "cannot tell the decimal separator"},
      {{"import", "wide.csv", "-o", "x.rvx"}, 2, "NUL bytes but no byte-order mark"},
      {{"import", "mixed.csv", "-o", "x.rvx", "--decimal-comma"},
       1,
       "line 2, column 2: '1.5' is not a number with a decimal comma"},
  };
  for (const auto& c : kCases) {
    const Outcome run = rvx(c.arguments);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.says), npos) << "expected '" << c.says << "' in\n" << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(scratch.file("o.csv")));
  EXPECT_FALSE(std::filesystem::exists(scratch.file("x.rvx")));
}

// What the command line gives takes precedence over the metadata block,
// which gives the rest; a CSV piped in reads as the file does.
TEST_F(Sheet, ImportTakesTheCommandLineOverTheMetadataAndReadsAPipe) {
  writeBytes(scratch.file("meta.csv"),
             "#rvx metadata,2\r\n#comment,from the block\r\n#company,ACME\r\n#trigger record,+1\r\n"
             "#original,1\r\n#channel properties,variable,unit,linearisation\r\n"
             "#channel,p1,bar,1\r\nt,p1 [bar],M1\r\n0,1.5, 5\r\n0.001,2.5,+6\r\n0.002,3.5,+7\r\n");
  const Outcome run = rvx({"import", "meta.csv", "-o", "meta.rvx", "--comment", "given",
                           "--not-original", "--multichannel", "M1:8"});
  ASSERT_EQ(run.status, 0) << run.err;
  const json info = json::parse(rvx({"info", "--json", "meta.rvx"}).out);
  EXPECT_EQ(info["comment"], "given");
  EXPECT_EQ(info["company"], "ACME");
  EXPECT_EQ(info["original"], false);
  EXPECT_EQ(info["trigger_record"], 1);
  EXPECT_EQ(info["channels"][0]["linearisation"], true);
  EXPECT_EQ(info["channels"][1]["linearisation"], false);
  const ReadBack file = readBack(at("meta.rvx"));
  EXPECT_EQ(file.values,
            (std::vector<uint32_t>{std::bit_cast<uint32_t>(1.5f), 5u, std::bit_cast<uint32_t>(2.5f),
                                   6u, std::bit_cast<uint32_t>(3.5f), 7u}));
  // And the block that export writes of it gives it all back.
  ASSERT_EQ(rvx({"export", "meta.rvx", "--with-metadata", "-o", "again.csv"}).status, 0);
  ASSERT_EQ(rvx({"import", "again.csv", "-o", "again.rvx"}).status, 0);
  EXPECT_EQ(properties(rvx({"info", "--json", "again.rvx"}).out),
            properties(rvx({"info", "--json", "meta.rvx"}).out));

  // From standard input, through a pipe that cannot be read twice.
  Background piped("/bin/sh",
                   {"-c", "cat meta.csv | '" + std::string(RVX_EXECUTABLE) +
                              "' import - -o piped.rvx --comment given --not-original "
                              "--multichannel M1:8 --date 4.12.2023 --time 14:05:09"},
                   scratch.path(), "pipe");
  const Outcome pipe = piped.finish();
  ASSERT_EQ(pipe.status, 0) << pipe.err;
  EXPECT_NE(pipe.out.find("piped.rvx: 3 records of 2 channels, every 0.001 s"), npos) << pipe.out;
  const ReadBack fromPipe = readBack(at("piped.rvx"));
  EXPECT_EQ(fromPipe.values, file.values);
  EXPECT_EQ(fromPipe.comment, file.comment);
}

// A column that an export named "ch_N" for a channel without a variable
// comes back under the first stand-in name that no other column takes; a
// heading merely like it is refused as the variable it is not.
TEST_F(Sheet, UnnamedChannelsComeBackUnderAFreeName) {
  writeBytes(scratch.file("unnamed.csv"), "t,ch_1,X2\n0,1,2\n1,3,4\n");
  const Outcome run = rvx({"import", "unnamed.csv", "-o", "unnamed.rvx"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("unnamed.rvx: warning: the column ch_1, a channel without a variable, is "
                         "written as X3\n"),
            npos)
      << run.err;
  const ReadBack back = readBack(at("unnamed.rvx"));
  ASSERT_EQ(back.channels.size(), 2u);
  EXPECT_EQ(back.channels[0].variable, u"X3");
  EXPECT_EQ(back.channels[1].variable, u"X2");
  for (const std::string heading : {"ch_", "ch_-", "ch_1x", "ch_100"}) {
    writeBytes(scratch.file("like.csv"), "t," + heading + "\n0,1\n1,2\n");
    expectRun({"import", "like.csv", "-o", "like.rvx"}, 2,
              "channel " + heading + " variable: is not a variable");
  }
  EXPECT_FALSE(exists("like.rvx"));
}

// What import cannot make a recording of is refused with its cause, and
// no recording is left behind.
TEST_F(Sheet, ImportRefusesWithTheCause) {
  const std::string two = "t,p1\n0,1\n0.001,2\n";
  const std::string metadata = "#rvx metadata,2\r\n#channel properties,variable,";
  writeBytes(scratch.file("in.csv"), two);
  writeBytes(scratch.file("heading.csv"), "t,p1\n");
  writeBytes(scratch.file("bom.csv"), "\xEF\xBB" + two);
  writeBytes(scratch.file("bits.csv"), "t,M1\n0,1\n0.001,+2\n0.002,4294967296\n");
  writeBytes(scratch.file("stray.csv"), metadata + "unit\r\n#channel,X9,bar\r\n" + two);
  writeBytes(scratch.file("rate.csv"), metadata + "individual rate\r\n#channel,p1,+-1\r\n" + two);
  writeBytes(scratch.file("fast.csv"),
             metadata + "individual rate\r\n#channel,p1,4294967296\r\n" + two);
  writeBytes(scratch.file("wide.csv"), metadata + "multichannel bits\r\n#channel,p1,33\r\n" + two);
  writeBytes(scratch.file("gap.csv"), two + "0.003,3\n");
  writeBytes(scratch.file("between.csv"), two + "0.0020004,3\n");
  writeBytes(scratch.file("between-ms.csv"), "time [ms],p1\n0,1\n1,2\n2.0004,3\n");
  writeBytes(scratch.file("ms.csv"), "time [ms],p1\n0,1\n0.0015,2\n");
  writeBytes(scratch.file("minus.csv"), "time [ms],p1\n-0.0015,1\n0,2\n");
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string says;
  } kCases[] = {
      {{"missing.csv"}, 1, "rvx: missing.csv: cannot open the file: no such file or directory"},
      {{"in.csv", "--legacy", "--language", "xx"}, 2, "--language: expected de, en or fr, not xx"},
      {{"in.csv", "--legacy", "-o", "x.dat"},
       2,
       "--legacy: the output name must end in .rvx or .RVX so that its RVI file can be named"},
      {{"in.csv", "--multichannel", "p1"},
       2,
       "--multichannel: expected VARIABLE:BITS with 1 to 32 bits, not p1"},
      {{"in.csv", "--legacy", "--date", "unknown", "-o", "x.RVX"},
       2,
       "--legacy: the compact layout takes a known date and time only"},
      {{"in.csv", "--trigger-record", "-"},
       2,
       "--trigger-record: the trigger record '-' is not a record number"},
      {{"in.csv", "--trigger-record", "99999999999999999999"}, 2, "is none the header can hold"},
      {{"in.csv", "--trigger-record", "4294967296"},
       2,
       "the trigger record '4294967296' is none the header can hold: it holds 0 to 4294967295"},
      {{"heading.csv", "--scan-interval-us", "1000", "--trigger-record", "+5"},
       1,
       "--trigger-record: the trigger record 5 lies beyond the 0 records imported\n"},
      {{"bom.csv", "--encoding", "utf-8"},
       1,
       "bom.csv line 1: the file starts with a broken byte-order mark"},
      {{"bits.csv", "--multichannel", "M1:32"},
       1,
       "bits.csv line 4, column 2: '4294967296' is not a 32-bit unsigned bit field"},
      {{"in.csv", "--scan-interval-us", "+-5"},
       2,
       "--scan-interval-us: expected a whole number of microseconds, not +-5"},
      {{"in.csv", "--delimiter", "|"}, 2, "--delimiter: expected ',', ';' or tab, not '|'"},
      {{"gap.csv"},
       1,
       "gap.csv line 4, column 1: the time 0.003 s breaks the even spacing of 0.001 s (expected "
       "0.002 s)"},
      {{"between.csv"},
       1,
       "between.csv line 4, column 1: the time 0.0020004 s breaks the even spacing of 0.001 s"},
      {{"between-ms.csv"},
       1,
       "between-ms.csv line 4, column 1: the time 2.0004 ms breaks the even spacing of 0.001 s"},
      {{"ms.csv"}, 1, "ms.csv line 3: the time 0.0015 ms is not a whole number of microseconds"},
      {{"minus.csv"}, 1, "minus.csv line 2: the time -0.0015 ms is not a whole number"},
      {{"stray.csv"}, 1, "stray.csv: the metadata describes the channel X9, which no column holds"},
      {{"rate.csv"}, 1, "rate.csv line 3: '+-1' is no value of the individual rate"},
      {{"fast.csv"}, 1, "fast.csv line 3: '4294967296' is no value of the individual rate"},
      {{"wide.csv"}, 1, "wide.csv line 3: '33' is no value of the multichannel bits"},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> arguments = {"import"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    if (std::find(arguments.begin(), arguments.end(), "-o") == arguments.end())
      arguments.insert(arguments.end(), {"-o", "x.rvx"});
    const Outcome run = rvx(arguments);
    EXPECT_EQ(run.status, c.status) << c.says << "\n" << run.err;
    EXPECT_NE(run.err.find(c.says), npos) << "expected '" << c.says << "' in\n" << run.err;
  }
  // Nothing but the inputs, not even a staged file.
  for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name.ends_with(".csv") || name.starts_with(".rvx-std") ||
                name == kTemporaryDirectory)
        << name;
  }
}

}  // namespace
}  // namespace rvx::test
