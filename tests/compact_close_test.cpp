// Closing a compact-layout file: the RVI summary beside it carries the final
// header in the language chosen at creation.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

namespace fs = std::filesystem;

class CompactClose : public WriteTest {
 protected:
  // Two channels, every header text, three records.
  void record(const std::string& name, int32_t language) {
    create(name, {u"p1", u"dT2"}, true, language);
    KDRVX_SetCompany(c(u"ACME"));
    KDRVX_SetInstrument(c(u"KD 8"));
    KDRVX_SetSnrInstrument(c(u"123"));
    KDRVX_SetNameMeasurement(c(u"Run 1"));
    KDRVX_SetTriggerSetting(c(u"p1 > 2 bar"));
    KDRVX_SetComment(c(u"Test"));
    KDRVX_SetDate(c(u"7.3.2024"));
    KDRVX_SetTime(c(u"9:05:33"));
    KDRVX_SetScanRate(10000);
    KDRVX_SetChannelUnit(0, c(u"bar"));
    KDRVX_SetChannelNumber(0, c(u"1"));
    KDRVX_SetChannelUnit(1, c(u"\u00b0C"));
    KDRVX_SetChannelNumber(1, c(u"2"));
    KDRVX_SetChannelName(1, c(u"not written"));
    KDRVX_SetChannelSignalType(1, c(u"PT100"));
    KDRVX_SetChannelCalParameter(1, c(u"0..200"));
    KDRVX_SetChannelZeroPoint(1, c(u"0.0"));
    KDRVX_SetChannelIndRate(1, 5);
    KDRVX_SetChannelISDS(1, 1);
    KDRVX_SetChannelLinearisation(1, 1);
    KDRVX_SetChannelLintab(1, c(u"0 0;10 10"));
    const float records[3][2] = {{1, 20}, {2, 21}, {3, 22}};
    for (const auto& values : records) KDRVX_AddRecord(values);
  }
};

TEST_F(CompactClose, EnglishSummaryByteForByte) {
  record("k.rvx", 1);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  const std::string channel = "                 :  ";
  EXPECT_EQ(readBytes(dir.file("k.RVI")),
            "Company         :  ACME\r\nInstrument      :  KD 8\r\n"
            "Serialnumber    :  123\r\n\r\nName Measurement:  Run 1\r\n"
            "Directory       :  " + dir.path().string() + "\r\nFilename        :  k.RVI\r\n"
            "Measurement from:  7.3.2024 9:05\r\nScanning rate   :  10 ms\r\n"
            "Storing time    :  0.020 sec\r\nData records    :  3\r\n"
            "Channels        :  p1 dT2 \r\nTrigger         :  p1 > 2 bar\r\n"
            "Commentary      :  \r\nTest\r\n\r\n"
            "\r\nVariable                 :  p1 \r\nUnit                     :  bar\r\n"
            "Name of channel          :  \r\nChannel                  :  1\r\n"
            "ISDS                     :  no\r\nIndivid. Scan.rate       :  no\r\n"
            "Signal type              :  \r\nMeas.Range/calibr.value  :  \r\n"
            "Zero point alignment     :  \r\nFilter settings          :  \r\n"
            "Linearisation            :  no\r\n"
            "\r\nVariable                 :  dT2 \r\nUnit                     :  \xb0" "C\r\n"
            "Name of channel          :  \r\nChannel                  :  2\r\n"
            "ISDS                     :  yes\r\nIndivid. Scan.rate       :  yes (50 ms)\r\n"
            "Signal type              :  PT100\r\nMeas.Range/calibr.value  :  0..200\r\n"
            "Zero point alignment     :  0.0\r\nFilter settings          :  \r\n"
            "Linearisation            :  yes  0 0;10 10\r\n"
            "\r\n\r\ncreated with  KDRVXLibrary V2.7\r\n");
  EXPECT_EQ(bytes("k.rvx").size(), 384u + 3 * 8);
}

TEST_F(CompactClose, LanguageChosenAtCreation) {
  record("g.rvx", 0);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  EXPECT_EQ(readBytes(dir.file("g.RVI")).substr(0, 24), "Firma           :  ACME\r");
  record("f.RVX", 2);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  EXPECT_EQ(readBytes(dir.file("f.RVI")).substr(0, 25), "Soci\xe9t\xe9         :  ACME\r\n");
  // The current layout never gets a summary, whatever the language.
  create("c.rvx", {u"p1"}, false, 0);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  EXPECT_FALSE(fs::exists(dir.file("c.RVI")));
}

TEST_F(CompactClose, PathWithoutExtensionFinishesTheFileButNotItsSummary) {
  record("noext", 4);
  EXPECT_EQ(KDRVX_CloseCreate(), KDRVX_ERR_RVI_FILE_NAME);
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVI_FILE_NAME);
  EXPECT_EQ(imageAt<format::RVX_HEADER_W3>(bytes("noext")).NoRecords, 3u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  EXPECT_EQ(KDRVX_AddRecord(nullptr), KDRVX_ERR_RVX_NOT_OPEN_MODIFY);  // the context is closed
}

}  // namespace
}  // namespace kdrvx::test
