// The header and channel queries: checks, texts cut to the caller's
// capacity, variable and unit decoding, date and time, numbers, and the
// trace lines per mask bit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/read_support.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

using Lines = std::vector<std::string>;

class Queries : public ReadTest {
 protected:
  void SetUp() override {
    r = recording('s', 3);
    r.company = u"ACME Corp", r.instrument = u"Logger", r.snrInstrument = u"SN-7";
    r.nameMeasurement = u"Run", r.triggerSetting = u"p1 > 2", r.comment = u"one\r\ntwo";
    r.scanRate = 5, r.triggerRecord = 100000000, r.flagStatistics = 3, r.second = 7;
    TestChannel& a = r.channels[0];
    a.letter = u'T', a.index = 3, a.unit = u"bar", a.isds = 1, a.linearisation = 1;
    a.name = u"Inlet", a.number = u"12", a.signalType = u"PT100", a.zeroPoint = u"0.1";
    a.calParameter = u"0..10", a.filter = u"10 Hz", a.lintab = u"\u00C2\u00B0C 1 2";
    a.min = -1, a.max = 4, a.mean = 1.5f, a.rms = 2.25f, a.sdev = 0.5f;
    TestChannel& b = r.channels[1];
    b.prefix = 0xCF, b.letter = 0x81, b.index = 2, b.unit = u"\u00C2\u00B0C";
    b.multiChannel = 200, b.indRate = 3;
    TestChannel& c = r.channels[2];
    c.prefix = 0xCE, c.letter = 0x41, c.index = 2, c.unit = u"x\u00C2\u00B0";
  }
  TestRecording r;
};

TEST_F(Queries, Texts) {
  ASSERT_EQ(open(currentHeader(r)), 0u);
  EXPECT_EQ(text(KDRVX_GetCompany, 4), u"ACM");
  EXPECT_EQ(text(KDRVX_GetCompany) + text(KDRVX_GetInstrument) + text(KDRVX_GetSnrInstrument) +
                text(KDRVX_GetNameMeasurement) + text(KDRVX_GetTriggerSetting) +
                text(KDRVX_GetComment),
            u"ACME CorpLoggerSN-7Runp1 > 2one\r\ntwo");
  EXPECT_EQ(text(KDRVX_GetChannelName, 0) + text(KDRVX_GetChannelNumber, 0) +
                text(KDRVX_GetChannelSignalType, 0) + text(KDRVX_GetChannelZeroPoint, 0) +
                text(KDRVX_GetChannelCalParameter, 0) + text(KDRVX_GetChannelFilter, 0),
            u"Inlet12PT1000.10..1010 Hz");
  EXPECT_EQ(text(KDRVX_GetChannelLintab, 0), u"\u00B0C 1 2");  // degree pair at the start
  EXPECT_EQ(text(KDRVX_GetChannelName, 2, 3), u"");
  EXPECT_EQ(KDRVX_GetLastError(), 0u);
  for (int16_t channel : {-1, 3, 48, 32767}) {
    EXPECT_EQ(text(KDRVX_GetChannelLintab, channel, 3), u"###");
    EXPECT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVX_CHN_UNKNOWN);
  }

  // The unit is refused when longer than the capacity, never cut.
  EXPECT_EQ(text(KDRVX_GetChannelUnit, 0, 2), u"##");
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVX_UNIT_LENGTH);
  EXPECT_EQ(text(KDRVX_GetChannelUnit, 0, 3), u"ba");
  EXPECT_EQ(text(KDRVX_GetChannelUnit, 1) + u"|" + text(KDRVX_GetChannelUnit, 2),
            u"\u00B0C|x\u00C2\u00B0");
  EXPECT_EQ(text(KDRVX_GetChannelUnit, -1, 3), u"");  // no record there: empty

  EXPECT_EQ(variable(0) + variable(1) + variable(2) + u"|" + variable(48), u"T3\u03C1" u"2_2|");
  std::u16string buffer(4, u'#');
  auto* units = reinterpret_cast<KDRVX_CHAR*>(buffer.data());
  KDRVX_GetChannelVariable(units, 0, 4);  // no terminator
  EXPECT_EQ(buffer, u"T3##");
  KDRVX_GetChannelVariable(units, 1, 1);  // a lead cut off from its pair
  EXPECT_EQ(buffer, u"_3##");
}

TEST_F(Queries, DateTimeAndNumbers) {
  ASSERT_EQ(open(currentHeader(r)), 0u);
  EXPECT_EQ(text(KDRVX_GetDate) + u" " + text(KDRVX_GetTime), u"03.07.2004 09:05:07");
  EXPECT_EQ(KDRVX_GetScanRate(), 5000);
  EXPECT_EQ(KDRVX_GetNoTriggerRecord(), 100000000u);
  EXPECT_EQ(KDRVX_GetFlagStatistics(), 3u);
  EXPECT_EQ(KDRVX_GetChannelMinValue(0) + KDRVX_GetChannelMaxValue(0) * 10 +
                KDRVX_GetChannelMeanValue(0) * 100 + KDRVX_GetChannelRMSValue(0) * 1000 +
                KDRVX_GetChannelSDevValue(0) * 10000,
            -1 + 40 + 150 + 2250 + 5000);
  EXPECT_EQ(KDRVX_GetChannelIndRate(1), 3u);
  EXPECT_EQ(KDRVX_GetNumberMultiChannelBits(1), -56);
  EXPECT_EQ(KDRVX_IsChannelISDS(0) + 2 * KDRVX_IsChannelLinearisation(0) +
                4 * KDRVX_IsChannelMultiChannel(0) + 8 * KDRVX_IsChannelMultiChannel(1),
            11);
  EXPECT_EQ(KDRVX_IsAnyMultiChannelinRVX(), 1);
  for (int16_t outside : {-1, 48, 1000})
    EXPECT_EQ(KDRVX_GetChannelIndRate(outside) + KDRVX_GetChannelMaxValue(outside) +
                  KDRVX_IsChannelISDS(outside),
              0);
  KDRVX_CloseRead();

  r.second = 255, r.flags = 1, r.triggerRecord = 100000001, r.originalFlag = 'X';
  r.year = 3847;  // bytes exchanged and 208 short: 2015
  r.channels[1].multiChannel = 0;
  ASSERT_EQ(open(currentHeader(r)), 0u);
  EXPECT_EQ(text(KDRVX_GetDate) + u" " + text(KDRVX_GetTime), u"03.07.2015 09:05");
  EXPECT_EQ(KDRVX_GetScanRate(), 5);
  EXPECT_EQ(KDRVX_GetNoTriggerRecord(), 0u);
  EXPECT_EQ(KDRVX_IsAnyMultiChannelinRVX(), 0);
  uint8_t original = 9;
  EXPECT_EQ(KDRVX_CheckOriginalFlag(&original), 0u);
  EXPECT_EQ(original, 0);
}

TEST_F(Queries, WithoutAnOpenFile) {
  ASSERT_EQ(open(currentHeader(r)), 0u);
  KDRVX_CloseRead();  // leaves a zero header
  TraceCapture capture;
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  uint8_t original = 9;
  EXPECT_EQ(KDRVX_CheckOriginalFlag(&original), KDRVX_ERR_RVX_NOT_OPEN_READ);
  EXPECT_EQ(original, 9);
  std::u16string untouched = text(KDRVX_GetDate);  // one call after the other
  untouched += text(KDRVX_GetTime);
  untouched += text(KDRVX_GetComment, 2);
  EXPECT_EQ(untouched + variable(0), std::u16string(23, u'#'));
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVX_NOT_OPEN_READ);
  EXPECT_EQ(text(KDRVX_GetChannelName, 0, 2), u"##");
  EXPECT_EQ(KDRVX_CloseRead(), KDRVX_ERR_RVX_NOT_OPEN_READ);
  const std::string notOpen = "KDrvxLibrary: ERR_RVX_NOT_OPEN", notOpenRead = notOpen + "_READ";
  EXPECT_EQ(capture.narrowLines(), (Lines{notOpen, notOpen, notOpenRead, notOpenRead, notOpenRead,
                                          "KDrvxLibrary: ERR_RVX_CHN_UNKNOWN", notOpen}));
  EXPECT_EQ(text(KDRVX_GetCompany), u"");
  EXPECT_EQ(KDRVX_GetLastError(), 0u);
  EXPECT_EQ(KDRVX_GetNoChannels() + KDRVX_IsAnyMultiChannelinRVX() + KDRVX_GetScanRate(), 0);
}

TEST_F(Queries, TraceLinesPerMaskBit) {
  ASSERT_EQ(open(currentHeader(r)), 0u);
  TraceCapture capture;
  KDRVX_CHAR buffer[20];
  uint8_t original;
  const auto lines = [&](auto call) {
    setMaskQuietly(capture, KDRVX_DEBUG_CALLS);
    call();
    return capture.narrowLines();
  };
  const auto entry = [](const std::string& name) { return Lines{"KDrvxLibrary: " + name + "()"}; };
  EXPECT_EQ(lines([&] { KDRVX_CheckOriginalFlag(&original); }), entry("KDRVX_ChecvkOriginalFlag"));
  EXPECT_EQ(lines([&] { KDRVX_GetComment(buffer, 20); }), entry("KDRVX_Comment"));
  EXPECT_EQ(lines([&] { KDRVX_GetChannelFilter(buffer, 0, 20); }), entry("KDRVX_GetChannelFlter"));
  EXPECT_EQ(lines([&] { KDRVX_GetNoTriggerRecord(); }), entry("KDRVX_NoRecords"));
  EXPECT_EQ(lines([&] { KDRVX_GetFlagStatistics(); }), entry("KDRVX_GetFlagStatistik"));
  EXPECT_EQ(lines([&] { KDRVX_GetChannelUnit(buffer, 0, 1); }), entry("KDRVX_GetChannelUnit"));
  EXPECT_EQ(lines([&] { KDRVX_GetScanRate(); }), Lines{});
  EXPECT_EQ(lines([&] { KDRVX_IsChannelISDS(0); }), (Lines{entry("KDRVX_IsChannelISDS")[0], "true"}));
  EXPECT_EQ(lines([&] { KDRVX_IsChannelLinearisation(2); }),
            (Lines{entry("KDRVX_IsChannelLinearisation")[0], "false"}));
  // Under the errors bit alone: no entry lines, and no line for a unit too
  // long for the buffer.
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  KDRVX_IsChannelISDS(0);
  KDRVX_GetChannelUnit(buffer, 0, 1);
  KDRVX_GetChannelName(buffer, 5, 20);
  EXPECT_EQ(capture.narrowLines(), Lines{"KDrvxLibrary: ERR_RVX_CHN_UNKNOWN"});
}

}  // namespace
}  // namespace kdrvx::test
