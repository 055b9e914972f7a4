// Channel definition: variable names, limits, the grown header on disk and
// the channel setters with their different rules for null and long texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

using Lines = std::vector<std::string>;
using format::MGR_DEF;

class Channels : public WriteTest {};

std::u16string numberedVariable(int i) { return u"p" + widen(std::to_string(i + 1)); }

TEST_F(Channels, LimitsOf48And24) {
  create("a.rvx", {});
  for (int i = 0; i < 48; ++i) ASSERT_EQ(KDRVX_AddChannel(c(numberedVariable(i))), static_cast<uint32_t>(i));
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS | KDRVX_DEBUG_CALLS);
  EXPECT_EQ(KDRVX_AddChannel(c(u"T1")), KDRVX_ERR_RVX_NUMBER_OF_CHANNELS);
  EXPECT_EQ(KDRVX_AddChannel(nullptr), KDRVX_ERR_RVX_CHN_VAR);  // before the count, no error line
  EXPECT_EQ(capture.narrowLines(), Lines({"KDrvxLibrary: KDRVX_AddChannel(T1)", "KDrvxLibrary: ERR_RVX_NUMBER_OF_CHANNELS",
                                          "KDrvxLibrary: KDRVX_AddChannel((null))"}));
  KDRVX_CloseCreateSimple();
  EXPECT_EQ(bytes("a.rvx").size(), 68700u);
  EXPECT_EQ(header("a.rvx").HeaderSize, 3164);

  create("b.rvx", {}, true);
  for (int i = 0; i < 24; ++i) ASSERT_EQ(KDRVX_AddChannel(c(numberedVariable(i))), static_cast<uint32_t>(i));
  EXPECT_EQ(KDRVX_AddChannel(c(u"T1")), KDRVX_ERR_RVX_NUMBER_OF_CHANNELS);
}

TEST_F(Channels, HeaderOf46ChannelsIsWrittenWholeWithItsSizeWrapped) {
  for (int channels : {45, 46}) {
    create("a.rvx", {});
    for (int i = 0; i < channels; ++i) KDRVX_AddChannel(c(numberedVariable(i)));
    std::vector<float> record(channels, 1.5f);  // follows the whole header
    ASSERT_EQ(KDRVX_AddRecord(record.data()), KDRVX_OK);
    KDRVX_CloseCreateSimple();
    EXPECT_EQ(bytes("a.rvx").size(), 1500u + 1400u * channels + 4u * channels);
    EXPECT_EQ(header("a.rvx").HeaderSize, channels == 45 ? 64500 : 364);
  }
}

TEST_F(Channels, VariableNamesAndDuplicates) {
  create("v.rvx", {u"dp12", u"p1", u"p2"});
  EXPECT_EQ(KDRVX_AddChannel(c(u"p1")), KDRVX_ERR_RVX_CHN_VAR_EXISTS);
  for (const char16_t* bad : {u"T0", u"T256", u"12", u"abc1", u"T", u""})
    EXPECT_EQ(KDRVX_AddChannel(c(bad)), KDRVX_ERR_RVX_CHN_VAR) << narrow(bad);
  ASSERT_EQ(KDRVX_SetChannelVariable(1, c(u"T5")), KDRVX_OK);
  EXPECT_EQ(KDRVX_SetChannelVariable(2, c(u"T0")), KDRVX_ERR_RVX_CHN_VAR);  // fields replaced all the same
  EXPECT_EQ(KDRVX_SetChannelVariable(2, nullptr), KDRVX_ERR_RVX_CHN_VAR);
  const float record[] = {1, 2, 3};
  ASSERT_EQ(KDRVX_AddRecord(record), KDRVX_OK);
  EXPECT_EQ(KDRVX_AddChannel(c(u"T9")), KDRVX_ERR_RVX_CHANNEL_ADD);
  KDRVX_CloseCreateSimple();
  const auto h = header("v.rvx");  // as the first record wrote it
  EXPECT_EQ(h.NoChannels, 3);
  const MGR_DEF* ch = h.Channel;
  EXPECT_EQ(std::vector<int>({ch[0].VariablePrefix, ch[0].VariableLetter, ch[0].VariableIndex}),
            std::vector<int>({'d', 'p', 12}));
  EXPECT_EQ(std::vector<int>({ch[1].VariablePrefix, ch[1].VariableLetter, ch[1].VariableIndex}),
            std::vector<int>({0, 'T', 5}));
  EXPECT_EQ(std::vector<int>({ch[2].VariableLetter, ch[2].VariableIndex}), std::vector<int>({'T', 0}));
  // Reset lifts the block and starts again at channel 0.
  create("w.rvx", {u"p1"});
  KDRVX_AddRecord(record);
  KDRVX_Reset();
  EXPECT_EQ(KDRVX_AddChannel(c(u"T9")), 0u);
}

struct ChannelText {
  uint32_t (*set)(int16_t, const KDRVX_CHAR*);
  size_t longest;
  bool nullClears;  // null empties the field, and a rejected text leaves it empty
  uint32_t rejection;
  std::u16string (*field)(const MGR_DEF&);
};

TEST_F(Channels, TextSettersFollowTheirOwnNullAndLengthRules) {
  const ChannelText setters[] = {
      {KDRVX_SetChannelUnit, 10, false, KDRVX_ERR_RVX_CHN_UNIT, [](const MGR_DEF& m) { return textOf(m.ChannelUnit); }},
      {KDRVX_SetChannelName, 23, true, KDRVX_ERR_RVX_CHN_NAME, [](const MGR_DEF& m) { return textOf(m.ChannelName); }},
      {KDRVX_SetChannelNumber, 3, false, KDRVX_ERR_RVX_CHN_NUMBER, [](const MGR_DEF& m) { return textOf(m.ChannelNumber); }},
      {KDRVX_SetChannelSignalType, 31, false, KDRVX_ERR_RVX_CHN_SIGNAL, [](const MGR_DEF& m) { return textOf(m.ChannelSignalType); }},
      {KDRVX_SetChannelZeroPoint, 15, false, KDRVX_ERR_RVX_CHN_ZERO, [](const MGR_DEF& m) { return textOf(m.ChannelZeroPoint); }},
      {KDRVX_SetChannelCalParameter, 127, false, KDRVX_ERR_RVX_CHN_CALPARA, [](const MGR_DEF& m) { return textOf(m.ChannelCalParameter); }},
      {KDRVX_SetChannelFilter, 31, true, KDRVX_ERR_RVX_CHN_FILTER, [](const MGR_DEF& m) { return textOf(m.ChannelFilter); }},
      {KDRVX_SetChannelLintab, 199, true, KDRVX_ERR_RVX_CHN_LINTAB, [](const MGR_DEF& m) { return textOf(m.ChannelLintab); }},
  };
  // Channel 1's field on disk after "v" and then `second` were set.
  auto written = [&](const ChannelText& setter, const std::u16string* second, uint32_t status, size_t errorLines) {
    create("t.rvx", {u"p1", u"p2"});
    setter.set(1, c(u"v"));
    setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
    EXPECT_EQ(setter.set(1, second != nullptr ? c(*second) : nullptr), status);
    EXPECT_EQ(KDRVX_GetLastError(), status);
    EXPECT_EQ(capture.lines().size(), errorLines);
    EXPECT_EQ(setter.set(2, c(u"v")), KDRVX_ERR_RVX_CHN_UNKNOWN);
    EXPECT_EQ(setter.set(-1, c(u"v")), KDRVX_ERR_RVX_CHN_UNKNOWN);
    setMaskQuietly(capture, 0);
    return setter.field(finished("t.rvx").Channel[1]);
  };
  for (const ChannelText& setter : setters) {
    const std::u16string longest(setter.longest, u'x'), tooLong = longest + u"y";
    const std::u16string kept = setter.nullClears ? u"" : u"v";
    EXPECT_EQ(written(setter, &longest, KDRVX_OK, 0), longest);
    EXPECT_EQ(written(setter, &tooLong, setter.rejection, 1), kept);
    EXPECT_EQ(written(setter, nullptr, setter.nullClears ? KDRVX_OK : setter.rejection, 0), kept);
  }
}

TEST_F(Channels, ValueSettersAndMultichannelBits) {
  create("v.rvx", {u"p1"});
  ASSERT_EQ(KDRVX_SetChannelISDS(0, 0x101), KDRVX_OK);
  ASSERT_EQ(KDRVX_SetChannelLinearisation(0, 2), KDRVX_OK);
  ASSERT_EQ(KDRVX_SetChannelIndRate(0, 0x10005), KDRVX_OK);
  EXPECT_EQ(KDRVX_SetChannelMultiChannel(0, 33), KDRVX_ERR_RVX_MULTICHANNEL_BITS);
  EXPECT_EQ(KDRVX_SetChannelMultiChannel(0, 0), KDRVX_ERR_RVX_MULTICHANNEL_BITS);
  EXPECT_EQ(KDRVX_SetChannelMultiChannel(0, 32), KDRVX_OK);
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVX_MULTICHANNEL_BITS);  // success leaves it
  const MGR_DEF m = finished("v.rvx").Channel[0];
  EXPECT_EQ(std::vector<uint32_t>({m.ISDS, m.Linearisation, m.ChannelIndRate, m.MultiChannel}),
            std::vector<uint32_t>({1, 2, 0x10005, 32}));
  EXPECT_EQ(KDRVX_ConvertMultiChannelValue(1.0f), 0x3F800000u);
  EXPECT_EQ(KDRVX_ConvertMultiChannelValue(-0.0f), 0x80000000u);
}

}  // namespace
}  // namespace kdrvx::test
