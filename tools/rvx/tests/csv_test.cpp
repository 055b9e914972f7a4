#include <gtest/gtest.h>

#include <sstream>

#include "csv.h"

namespace rvx {
namespace {

using Rows = std::vector<std::vector<std::string>>;

Rows readAll(const std::string& text) {
  std::istringstream in(text);
  CsvReader reader(in);
  Rows rows;
  std::vector<std::string> fields;
  while (reader.next(fields)) rows.push_back(fields);
  return rows;
}

TEST(CsvField, IsQuotedOnlyWhenItMustBe) {
  std::string out;
  appendCsvField(out, "p1 [bar]");
  EXPECT_EQ(out, "p1 [bar]");
  out.clear();
  appendCsvField(out, "a,b");
  EXPECT_EQ(out, "\"a,b\"");
  out.clear();
  appendCsvField(out, "say \"hi\"");
  EXPECT_EQ(out, "\"say \"\"hi\"\"\"");
  out.clear();
  appendCsvField(out, "two\r\nlines");
  EXPECT_EQ(out, "\"two\r\nlines\"");
}

TEST(CsvReader, ReadsBackWhatTheWriterQuotes) {
  const std::vector<std::string> fields = {"plain", "a,b", "q\"uote", "line\r\nbreak", "", "°C"};
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) line += ',';
    appendCsvField(line, fields[i]);
  }
  const Rows rows = readAll(line + "\r\n1,2,3,4,5,6\r\n");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], fields);
  EXPECT_EQ(rows[1].size(), 6u);
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
  std::vector<std::string> fields;
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
    EXPECT_THROW(while (badReader.next(fields)) {}, CsvError) << bad;
  }
}

TEST(CsvReader, ReadsRecordsAcrossItsBlockBoundary) {
  // More than one read block of the reader (1 MiB).
  std::string text;
  for (int i = 0; i < 100000; ++i) text += std::to_string(i) + ",\"v" + std::to_string(i) + "\"\r\n";
  const Rows rows = readAll(text);
  ASSERT_EQ(rows.size(), 100000u);
  EXPECT_EQ(rows[76543], (std::vector<std::string>{"76543", "v76543"}));
}

}  // namespace
}  // namespace rvx
