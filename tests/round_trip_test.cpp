// Files written by the create context read back through the read context:
// the current layout from its header alone, the compact layout with the
// texts of its RVI summary.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

using Getter = uint32_t (*)(KDRVX_CHAR*, uint16_t);
using ChannelGetter = uint32_t (*)(KDRVX_CHAR*, int16_t, uint16_t);

class RoundTrip : public WriteTest {
 protected:
  void TearDown() override {
    KDRVX_CloseRead();
    WriteTest::TearDown();
  }
  static std::u16string text(Getter get) {
    std::u16string buffer(300, u'\0');
    EXPECT_EQ(get(writable(buffer), 300), KDRVX_OK);
    return buffer.c_str();
  }
  static std::u16string text(ChannelGetter get, int16_t channel) {
    std::u16string buffer(300, u'\0');
    EXPECT_EQ(get(writable(buffer), channel, 300), KDRVX_OK);
    return buffer.c_str();
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
    EXPECT_EQ(text(KDRVX_GetChannelVariable, 0), u"dp12");
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
