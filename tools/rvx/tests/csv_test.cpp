#include "inputs/csv.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>

#include "inputs/csv_records.h"

namespace rvx {
namespace {

using Rows = std::vector<std::vector<std::string>>;

Rows readAll(const std::string& text) {
  std::istringstream in(text);
  CsvReader reader(in);
  Rows rows;
  std::vector<std::string_view> fields;
  while (reader.next(fields)) rows.emplace_back(fields.begin(), fields.end());
  return rows;
}

// A field is quoted only when it must be, and reads back as it was.
TEST(CsvField, IsQuotedOnlyWhenItMustBeAndReadsBack) {
  const std::pair<std::string, std::string> kFields[] = {{"p1 [bar]", "p1 [bar]"},
                                                         {"a,b", "\"a,b\""},
                                                         {"say \"hi\"", "\"say \"\"hi\"\"\""},
                                                         {"two\r\nlines", "\"two\r\nlines\""},
                                                         {"", ""},
                                                         {"°C", "°C"}};
  std::string line;
  std::vector<std::string> fields;
  for (const auto& [field, quoted] : kFields) {
    std::string out;
    appendCsvField(out, field);
    EXPECT_EQ(out, quoted);
    line += (fields.empty() ? "" : ",") + out;
    fields.push_back(field);
  }
  const Rows rows = readAll(line + "\r\n1,2,3,4,5,6\r\n");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], fields);
  EXPECT_EQ(rows[1].size(), 6u);
}

// Texts that a spreadsheet would read as formulas are marked as texts, and
// every text comes back exactly.
TEST(CsvField, TextsAreNoFormulasAndComeBackExactly) {
  for (const std::string text :
       {"=SUM(A1)", "+49", "-- x", "@home", "'quoted", "''", "'", "plain", "", "1=1", "a,=b"}) {
    std::string out;
    appendCsvText(out, text);
    const Rows rows = readAll(out + "\r\n");
    ASSERT_EQ(rows.size(), text.empty() ? 0u : 1u) << text;
    if (text.empty()) continue;
    EXPECT_EQ(std::string(csvText(rows[0][0])), text);
    EXPECT_EQ(rows[0][0].front() == '\'', std::string("=+-@'").find(text[0]) != std::string::npos)
        << out;
  }
  EXPECT_EQ(quotedField(std::string(5000, '9')),
            "'" + std::string(40, '9') + "...' (5000 characters)");
  // Not inside a character of several bytes.
  EXPECT_EQ(quotedField(std::string(39, 'x') + "°" + std::string(10, 'y')),
            "'" + std::string(39, 'x') + "...' (50 characters)");
}

TEST(CsvReader, TakesLineEndsByteOrderMarkAndEmptyLines) {
  const Rows rows = readAll("\xEF\xBB\xBFtime,p1\n\n0,1.5\r\n\r\n0.001,2\n0.002,");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"time", "p1"}));
  EXPECT_EQ(rows[2], (std::vector<std::string>{"0.001", "2"}));
  EXPECT_EQ(rows[3], (std::vector<std::string>{"0.002", ""}));
}

TEST(CsvReader, ReportsTheLineOfEachRecordAndOfErrors) {
  std::istringstream in("a,b\n\"x\ny\",1\nc,d\n");
  CsvReader reader(in);
  std::vector<std::string_view> fields;
  ASSERT_TRUE(reader.next(fields));
  EXPECT_EQ(reader.line(), 1u);
  ASSERT_TRUE(reader.next(fields));
  EXPECT_EQ(reader.line(), 2u);
  EXPECT_EQ(fields[0], "x\ny");
  ASSERT_TRUE(reader.next(fields));
  EXPECT_EQ(reader.line(), 4u);

  for (const char* bad : {"a,\"open\n", "a,\"x\"y\n", "a,b\"c\n"}) {
    std::istringstream broken(bad);
    CsvReader badReader(broken);
    EXPECT_THROW(while (badReader.next(fields)){}, CsvError) << bad;
  }
}

TEST(CsvReader, ReadsRecordsAcrossItsBlockBoundary) {
  // More than one read block of the reader (1 MiB).
  std::string text;
  for (int i = 0; i < 100000; ++i)
    text += std::to_string(i) + ",\"v" + std::to_string(i) + "\"\r\n";
  // And a record longer than the block, with doubled quotes and line breaks.
  const std::string longField = std::string(3 << 20, 'x') + "\"\r\n\"";
  text += "\"" + std::string(3 << 20, 'x') + "\"\"\r\n\"\"\",end\r\nlast\r\n";
  const Rows rows = readAll(text);
  ASSERT_EQ(rows.size(), 100002u);
  EXPECT_EQ(rows[76543], (std::vector<std::string>{"76543", "v76543"}));
  EXPECT_EQ(rows[100000], (std::vector<std::string>{longField, "end"}));
  EXPECT_EQ(rows[100001], (std::vector<std::string>{"last"}));
}

// A line end, a closing quote or an empty line cut by the end of the first
// read block (1 MiB) is read as one, with the lines counted as they are.
TEST(CsvReader, TakesALineEndOrAQuoteThatTheBlockCutsOff) {
  constexpr size_t kBlock = 1 << 20;
  const struct {
    std::string head, tail;  // the last byte of `head` is the block's last
  } kCuts[] = {
      {"\n", "b\n"},      // a record ends with the block
      {"\n\r", "\nb\n"},  // an empty line's CR, its LF in the next block
      {"\r", "\nb\n"},    // a record's CR, its LF in the next block
      {"\"", ",b\r\n"},   // the quote that closes a field
  };
  for (const auto& cut : kCuts) {
    const bool quoted = cut.head == "\"";
    std::string first((quoted ? kBlock - 2 : kBlock - cut.head.size()), 'a');
    const std::string text = (quoted ? "\"" : "") + first + cut.head + cut.tail;
    ASSERT_EQ(text.find(cut.tail), kBlock) << cut.head;
    std::istringstream in(text);
    CsvReader reader(in);
    std::vector<std::string_view> fields;
    ASSERT_TRUE(reader.next(fields));
    EXPECT_EQ(fields.size(), quoted ? 2u : 1u);
    EXPECT_EQ(fields[0], first);
    const bool emptyLine = cut.head == "\n\r";
    if (!quoted) {
      ASSERT_TRUE(reader.next(fields));
      EXPECT_EQ(reader.line(), emptyLine ? 3u : 2u) << cut.head;
      EXPECT_EQ(fields, (std::vector<std::string_view>{"b"}));
    }
    EXPECT_FALSE(reader.next(fields));
  }
  // A byte-order mark that breaks off.
  std::istringstream broken("\xEF\xBB");
  CsvReader reader(broken);
  std::vector<std::string_view> fields;
  EXPECT_THROW(reader.next(fields), CsvError);
}

// The records of a CSV against strtof and strtoul, over numbers written in
// many ways: each row once as plain text, read in place, and once with its
// fields quoted or padded, read field by field. Over 1 MiB, so that rows
// straddle the reader's blocks.
TEST(CsvRecords, ReadNumbersAsStrtofDoes) {
  std::vector<std::string> texts = {"0",
                                    "-0",
                                    "007.5",
                                    ".5",
                                    "-.5",
                                    "5.",
                                    "1e-45",
                                    "7e-46",
                                    "1e-46",
                                    "-1e-50",
                                    "1e-40",
                                    "1.17549435e-38",
                                    "3.4028235e38",
                                    "3.40282356e38",
                                    "16777217",
                                    "0.1",
                                    "-2.5E+3",
                                    "1E3",
                                    "123456789012345678901234567890",
                                    "0.000000000000000000000000000000000000000000001401298",
                                    "inf",
                                    "-Infinity",
                                    "nan",
                                    "-nan"};
  std::mt19937 random(17);
  while (texts.size() < 12000) {
    const float value = std::bit_cast<float>(static_cast<uint32_t>(random()));
    if (!std::isfinite(value)) continue;
    const double wide = value;
    char text[512];
    switch (texts.size() % 6) {
      case 0:
        std::snprintf(text, sizeof text, "%.9g", wide);
        break;
      case 1:
        std::snprintf(text, sizeof text, "%g", wide);
        break;
      case 2:
        std::snprintf(text, sizeof text, "%.17g", wide);
        break;
      case 3:
        std::snprintf(text, sizeof text, "%.12e", wide);
        break;
      case 4:
        std::snprintf(text, sizeof text, "%.40f", wide);
        break;
      default:
        std::snprintf(text, sizeof text, "%.3f", wide);
        break;
    }
    texts.push_back(text);
  }
  std::string csv = "time,p1,M1,p2\r\n";
  std::vector<uint32_t> expected;
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string value = texts[i], other = texts[texts.size() - 1 - i];
    const uint32_t bits = static_cast<uint32_t>(random()) >> (i % 32);
    const std::string field = (i % 3 ? "" : "000") + std::to_string(bits);
    for (const bool plain : {true, false}) {
      csv += std::to_string(i) + (plain ? "," + value + "," + field + "," + other
                                        : ",\"" + value + "\", " + field + " ,\t" + other);
      csv += i % 2 ? "\r\n" : "\n";
      expected.push_back(std::bit_cast<uint32_t>(std::strtof(value.c_str(), nullptr)));
      expected.push_back(bits);
      expected.push_back(std::bit_cast<uint32_t>(std::strtof(other.c_str(), nullptr)));
    }
  }
  ASSERT_GT(csv.size(), 1u << 20);
  std::istringstream in(csv);
  CsvRecords records(in, "in.csv", {{"M1", 32}}, "1000");
  std::vector<uint32_t> read;
  EXPECT_EQ(records.read([&](const float* block, size_t count) {
    for (size_t i = 0; i < 3 * count; ++i) read.push_back(std::bit_cast<uint32_t>(block[i]));
  }),
            2 * texts.size());
  ASSERT_EQ(read.size(), expected.size());
  for (size_t i = 0; i < read.size(); ++i) {
    ASSERT_EQ(read[i], expected[i]) << "field " << i << " of row " << i / 6 << ": " << texts[i / 6];
  }
}

}  // namespace
}  // namespace rvx
