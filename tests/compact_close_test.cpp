// Files in the compact layout: the compact header kept in step with the
// current one, and the RVI summary that closing leaves beside the file in
// the language chosen at creation. Files of both layouts read back through
// the read context: the current one from its header alone, the compact one
// with the texts of its summary.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/read_support.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> lines(const std::string& bytes) {
  std::vector<std::string> out;
  for (size_t at = 0, end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2)
    out.push_back(bytes.substr(at, end - at));
  return out;
}

class Compact : public WriteTest {
 protected:
  // Three channels, texts, date and time, two records.
  void record(const std::string& name, int32_t language) {
    create(name, {u"p1", u"dT2", u"Ab3"}, true, language);
    KDRVX_SetCompany(c(u"ACME"));
    KDRVX_SetComment(c(u"Gr\u00fc\u00dfe \u20ac"));
    KDRVX_SetDate(c(u"7.3.2024"));
    KDRVX_SetTime(c(u"9:05:33"));
    KDRVX_SetScanRate(2500);
    KDRVX_SetNoTriggerRecord(17);
    KDRVX_SetChannelUnit(1, c(u"\u00b0C"));
    KDRVX_SetChannelIndRate(1, 0x10005);
    const float records[2][3] = {{1, 2, 3}, {4, 5, 6}};
    for (const auto& values : records) KDRVX_AddRecord(values);
  }
};

TEST_F(Compact, HeaderAndRecordsOnDisk) {
  record("k.rvx", 255);  // no summary file
  EXPECT_EQ(KDRVX_SetComment(c(std::u16string(292, u'z'))), KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  EXPECT_FALSE(fs::exists(dir.file("k.RVI")));
  const std::string disk = bytes("k.rvx");
  ASSERT_EQ(disk.size(), 412u + 24);
  const auto w3 = imageAt<format::RVX_HEADER_W3>(disk);
  EXPECT_EQ(std::vector<int>({w3.Version, w3.OriginalFlag, w3.HeaderSize, w3.NoChannels, w3.FlagStatistics}),
            std::vector<int>({64, 'W', 412, 3, 0}));
  EXPECT_EQ(std::vector<int>({w3.Day, w3.Month, w3.Year, w3.Hour, w3.Minute}),
            std::vector<int>({7, 3, 2024, 9, 5}));
  EXPECT_EQ(std::vector<uint32_t>({w3.NoRecords, w3.NoTriggerRecord, w3.ScanRate, w3.Flags}),
            std::vector<uint32_t>({2, 17, 2500, 1}));
  EXPECT_EQ(std::string(w3.Comment), "Gr\xfc\xdf" "e \xac");  // low bytes; the rejected one left it
  const auto& dT2 = w3.Channel[1];
  EXPECT_EQ(std::vector<int>({dT2.VariableLetter, dT2.VariableCode, dT2.ChannelIndRate}),
            std::vector<int>({'T', 0x82, 5}));
  EXPECT_EQ(std::string(dT2.ChannelUnit), "\xb0" "C");
  EXPECT_EQ(dT2.MaxValue, 0.0f);  // no statistics in this layout
  EXPECT_EQ(std::vector<int>({w3.Channel[0].VariableCode, w3.Channel[2].VariableLetter, w3.Channel[2].VariableCode}),
            std::vector<int>({1, 'b', 0x23}));
  float values[6];
  std::memcpy(values, disk.data() + 412, sizeof values);
  EXPECT_EQ(std::vector<float>(values, values + 6), std::vector<float>({1, 2, 3, 4, 5, 6}));
}

TEST_F(Compact, SummaryCarriesTheFinalHeaderInTheChosenLanguage) {
  record("e.rvx", 1);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  const auto english = lines(readBytes(dir.file("e.RVI")));
  ASSERT_EQ(english.size(), 16u + 3 * 12 + 3);
  EXPECT_EQ(english[0], "Company         :  ACME");
  EXPECT_EQ(english[6], "Filename        :  e.RVI");
  EXPECT_EQ(english[7], "Measurement from:  7.3.2024 9:05");
  EXPECT_EQ(english[8], "Scanning rate   :  2500 \xb5sec");
  EXPECT_EQ(english[10], "Data records    :  2");
  EXPECT_EQ(english[11], "Channels        :  p1 dT2 Ab3 ");
  EXPECT_EQ(english[14], "Gr\xfc\xdf" "e \xac");
  EXPECT_EQ(english[16 + 12 + 2], "Unit                     :  \xb0" "C");
  EXPECT_EQ(english.back(), "created with  KDRVXLibrary V2.7");

  record("g.rvx", 0);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  EXPECT_EQ(lines(readBytes(dir.file("g.RVI")))[0], "Firma           :  ACME");
  record("f.RVX", 2);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  EXPECT_EQ(lines(readBytes(dir.file("f.RVI")))[0], "Soci\xe9t\xe9         :  ACME");
  // The current layout never gets a summary, whatever the language.
  create("c.rvx", {u"p1"}, false, 0);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  EXPECT_FALSE(fs::exists(dir.file("c.RVI")));
}

TEST_F(Compact, PathWithoutExtensionFinishesTheFileButNotItsSummary) {
  record("noext", 4);
  EXPECT_EQ(KDRVX_CloseCreate(), KDRVX_ERR_RVI_FILE_NAME);
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVI_FILE_NAME);
  EXPECT_EQ(imageAt<format::RVX_HEADER_W3>(bytes("noext")).NoRecords, 2u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  EXPECT_EQ(KDRVX_Update(), KDRVX_ERR_RVX_NOT_OPEN_WRITE);  // the context is closed
}

TEST_F(Compact, SummaryThatCannotBeCreatedIsReportedAfterTheFileIsFinished) {
  fs::create_directory(dir.file("d.RVI"));
  record("d.rvx", 1);
  EXPECT_EQ(KDRVX_CloseCreate(), KDRVX_ERR_RVI_CREATE);
  EXPECT_EQ(imageAt<format::RVX_HEADER_W3>(bytes("d.rvx")).NoRecords, 2u);
  EXPECT_TRUE(fs::is_directory(dir.file("d.RVI")));
}

// Files written by the create context, read back.
class RoundTrip : public WriteTest {
 protected:
  void TearDown() override {
    KDRVX_CloseRead();
    WriteTest::TearDown();
  }
  static std::vector<float> nextRecord(bool first) {
    std::vector<float> record(2);
    EXPECT_EQ(first ? KDRVX_ReadFirstRecord(record.data()) : KDRVX_ReadNextRecord(record.data()), KDRVX_OK);
    return record;
  }
  // Two channels with their texts, three records.
  std::u16string record(const std::string& name, bool legacy) {
    std::u16string path = create(name, {u"dp12", u"T1"}, legacy, 0);
    KDRVX_SetCompany(c(u"M\u00fcller GmbH"));
    KDRVX_SetInstrument(c(u"KD 8"));
    KDRVX_SetNameMeasurement(c(u"Run 1"));
    KDRVX_SetScanRate(2500);
    KDRVX_SetChannelUnit(1, c(u"\u00b0C"));
    KDRVX_SetChannelNumber(1, c(u"2"));
    KDRVX_SetChannelSignalType(1, c(u"PT100"));
    KDRVX_SetChannelISDS(1, 1);
    const float records[3][2] = {{1, 10}, {2, 20}, {3, 30}};
    for (const auto& values : records) KDRVX_AddRecord(values);
    EXPECT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
    return path;
  }
  void expectCommonContent() {
    EXPECT_EQ(KDRVX_GetNoChannels(), 2u);
    EXPECT_EQ(KDRVX_GetNoRecords(), 3u);
    EXPECT_EQ(KDRVX_GetScanRate(), 2500);
    EXPECT_EQ(text(KDRVX_GetCompany), u"M\u00fcller GmbH");
    EXPECT_EQ(text(KDRVX_GetInstrument), u"KD 8");
    EXPECT_EQ(text(KDRVX_GetNameMeasurement), u"Run 1");
    EXPECT_EQ(variable(0), u"dp12");
    EXPECT_EQ(text(KDRVX_GetChannelUnit, 1), u"\u00b0C");
    EXPECT_EQ(text(KDRVX_GetChannelNumber, 1), u"2");
    EXPECT_EQ(text(KDRVX_GetChannelSignalType, 1), u"PT100");
    EXPECT_EQ(KDRVX_IsChannelISDS(1), 1);
    EXPECT_EQ(nextRecord(true), std::vector<float>({1, 10}));
    EXPECT_EQ(nextRecord(false), std::vector<float>({2, 20}));
  }
};

TEST_F(RoundTrip, CurrentLayout) {
  const std::u16string path = record("r.rvx", false);
  ASSERT_EQ(KDRVX_OpenRead(c(path)), KDRVX_OK);
  EXPECT_EQ(KDRVX_GetVersion(), static_cast<uint32_t>('s'));
  expectCommonContent();
  EXPECT_EQ(KDRVX_GetFlagStatistics(), 3u);
  EXPECT_EQ(KDRVX_GetChannelMeanValue(1), 20.0f);
}

TEST_F(RoundTrip, CompactLayoutWithItsSummary) {
  const std::u16string path = record("k.rvx", true);
  ASSERT_EQ(KDRVX_OpenRead(c(path)), KDRVX_OK);
  EXPECT_EQ(KDRVX_GetVersion(), 64u);
  expectCommonContent();
  EXPECT_EQ(KDRVX_GetChannelMaxValue(1), 0.0f);  // the compact layout keeps no statistics
  ASSERT_EQ(KDRVX_CloseRead(), KDRVX_OK);
  // Only the current layout can be modified.
  EXPECT_EQ(KDRVX_OpenModify(c(path)), KDRVX_ERR_RVX_MODIFY_NOT_POSSIBLE);
  EXPECT_EQ(KDRVX_GetVersion(), 64u);
  EXPECT_EQ(KDRVX_CloseModify(), KDRVX_ERR_RVX_NOT_OPEN_MODIFY);
}

}  // namespace
}  // namespace kdrvx::test
