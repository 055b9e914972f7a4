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
using format::RVX_HEADER;
using format::RVX_HEADER_W3;

class Channels : public WriteTest {};

std::u16string variable(int i) { return u"p" + widen(std::to_string(i + 1)); }

TEST_F(Channels, LimitsOf48And24) {
  create("a.rvx", {});
  for (int i = 0; i < 48; ++i) ASSERT_EQ(KDRVX_AddChannel(c(variable(i))), static_cast<uint32_t>(i));
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS | KDRVX_DEBUG_CALLS);
  EXPECT_EQ(KDRVX_AddChannel(c(u"T1")), KDRVX_ERR_RVX_NUMBER_OF_CHANNELS);
  // A null name is refused before the count is looked at, without an error line.
  EXPECT_EQ(KDRVX_AddChannel(nullptr), KDRVX_ERR_RVX_CHN_VAR);
  EXPECT_EQ(capture.narrowLines(),
            Lines({"KDrvxLibrary: KDRVX_AddChannel(T1)", "KDrvxLibrary: ERR_RVX_NUMBER_OF_CHANNELS",
                   "KDrvxLibrary: KDRVX_AddChannel((null))"}));
  KDRVX_CloseCreateSimple();
  EXPECT_EQ(bytes("a.rvx").size(), 68700u);
  EXPECT_EQ(header("a.rvx").HeaderSize, 3164);

  create("b.rvx", {}, true, 0);
  for (int i = 0; i < 24; ++i) ASSERT_EQ(KDRVX_AddChannel(c(variable(i))), static_cast<uint32_t>(i));
  EXPECT_EQ(KDRVX_AddChannel(c(u"T1")), KDRVX_ERR_RVX_NUMBER_OF_CHANNELS);
  KDRVX_CloseCreateSimple();
  EXPECT_EQ(bytes("b.rvx").size(), 328u + 24 * 28);
}

TEST_F(Channels, HeaderOf46ChannelsIsWrittenWholeWithItsSizeWrapped) {
  for (int channels : {45, 46}) {
    create("a.rvx", {});
    for (int i = 0; i < channels; ++i) KDRVX_AddChannel(c(variable(i)));
    // The header is written with every channel; a record follows it.
    std::vector<float> record(channels, 1.5f);
    ASSERT_EQ(KDRVX_AddRecord(record.data()), KDRVX_OK);
    KDRVX_CloseCreateSimple();
    EXPECT_EQ(bytes("a.rvx").size(), 1500u + 1400u * channels + 4u * channels);
    EXPECT_EQ(header("a.rvx").HeaderSize, channels == 45 ? 64500 : 364);
  }
}

TEST_F(Channels, VariableNamesDuplicatesAndTheCompactEntry) {
  create("v.rvx", {}, true, 2);
  EXPECT_EQ(KDRVX_AddChannel(c(u"p1")), 0u);
  EXPECT_EQ(KDRVX_AddChannel(c(u"dp12")), 1u);
  EXPECT_EQ(KDRVX_AddChannel(c(u"Ab3")), 2u);
  EXPECT_EQ(KDRVX_AddChannel(c(u"xy5")), 3u);
  EXPECT_EQ(KDRVX_AddChannel(c(u"p2")), 4u);
  EXPECT_EQ(KDRVX_AddChannel(c(u"p1")), KDRVX_ERR_RVX_CHN_VAR_EXISTS);
  for (const char16_t* bad : {u"T0", u"T256", u"12", u"abc1", u"T", u""})
    EXPECT_EQ(KDRVX_AddChannel(c(bad)), KDRVX_ERR_RVX_CHN_VAR) << narrow(bad);
  EXPECT_EQ(KDRVX_SetChannelVariable(2, nullptr), KDRVX_ERR_RVX_CHN_VAR);
  EXPECT_EQ(KDRVX_SetChannelVariable(5, c(u"T1")), KDRVX_ERR_RVX_CHN_UNKNOWN);
  KDRVX_CloseCreateSimple();
  const auto w3 = imageAt<RVX_HEADER_W3>(bytes("v.rvx"));
  EXPECT_EQ(w3.NoChannels, 5);
  EXPECT_EQ(w3.HeaderSize, 328 + 5 * 28);
  const uint8_t letters[] = {'p', 'p', 'b', 'y', 'p'};
  const uint8_t codes[] = {1, 0x80 | 12, 0x20 | 3, 0x40 | 5, 2};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(w3.Channel[i].VariableLetter, letters[i]);
    EXPECT_EQ(w3.Channel[i].VariableCode, codes[i]);
  }
}

TEST_F(Channels, CurrentEntriesAndTheBlockAfterTheFirstRecord) {
  create("v.rvx", {u"dp12", u"p1"});
  ASSERT_EQ(KDRVX_SetChannelVariable(1, c(u"T5")), KDRVX_OK);
  EXPECT_EQ(KDRVX_SetChannelVariable(0, c(u"T0")), KDRVX_ERR_RVX_CHN_VAR);  // fields still replaced
  const float record[] = {1, 2};
  ASSERT_EQ(KDRVX_AddRecord(record), KDRVX_OK);
  EXPECT_EQ(KDRVX_AddChannel(c(u"T9")), KDRVX_ERR_RVX_CHANNEL_ADD);
  KDRVX_CloseCreateSimple();
  const auto h = header("v.rvx");  // as the first record wrote it
  EXPECT_EQ(h.Channel[0].VariableLetter, u'T');
  EXPECT_EQ(h.Channel[0].VariablePrefix, 0);
  EXPECT_EQ(h.Channel[0].VariableIndex, 0);
  EXPECT_EQ(h.Channel[1].VariableLetter, u'T');
  EXPECT_EQ(h.Channel[1].VariableIndex, 5);
  // Reset lifts the block and starts again at channel 0.
  create("w.rvx", {u"p1"});
  KDRVX_AddRecord(record);
  KDRVX_Reset();
  EXPECT_EQ(KDRVX_AddChannel(c(u"T9")), 0u);
}

struct ChannelText {
  uint32_t (*set)(int16_t, const KDRVX_CHAR*);
  size_t longest;
  bool nullClears;  // null empties the field; a rejected text leaves it empty
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
  auto written = [&](const ChannelText& setter, const KDRVX_CHAR* second, uint32_t status,
                     size_t errorLines) {
    create("t.rvx", {u"p1", u"p2"});
    EXPECT_EQ(setter.set(1, c(u"v")), KDRVX_OK);
    setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
    EXPECT_EQ(setter.set(1, second), status);
    EXPECT_EQ(KDRVX_GetLastError(), status);
    EXPECT_EQ(capture.lines().size(), errorLines);
    setMaskQuietly(capture, 0);
    return setter.field(finished("t.rvx").Channel[1]);
  };
  for (const ChannelText& setter : setters) {
    const std::u16string longest(setter.longest, u'x');
    EXPECT_EQ(written(setter, c(longest), KDRVX_OK, 0), longest);
    // Too long: refused with an error line; null: no error line.
    EXPECT_EQ(written(setter, c(longest + u"y"), setter.rejection, 1), setter.nullClears ? u"" : u"v");
    EXPECT_EQ(written(setter, nullptr, setter.nullClears ? KDRVX_OK : setter.rejection, 0),
              setter.nullClears ? u"" : u"v");
    create("t.rvx", {u"p1", u"p2"});
    EXPECT_EQ(setter.set(2, c(u"v")), KDRVX_ERR_RVX_CHN_UNKNOWN);
    EXPECT_EQ(setter.set(-1, c(u"v")), KDRVX_ERR_RVX_CHN_UNKNOWN);
    KDRVX_CloseCreateSimple();
  }
}

TEST_F(Channels, ValueSettersAndTheCompactUnit) {
  create("u.rvx", {u"p1"}, true, 255);
  ASSERT_EQ(KDRVX_SetChannelUnit(0, c(u"m\u00b3/h")), KDRVX_OK);
  ASSERT_EQ(KDRVX_SetChannelIndRate(0, 0x10005), KDRVX_OK);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  const auto w3 = imageAt<RVX_HEADER_W3>(bytes("u.rvx"));
  EXPECT_EQ(std::string(w3.Channel[0].ChannelUnit, 5), std::string("m\xb3/h\0", 5));
  EXPECT_EQ(w3.Channel[0].ChannelIndRate, 5);

  create("v.rvx", {u"p1"});
  ASSERT_EQ(KDRVX_SetChannelISDS(0, 0x101), KDRVX_OK);
  ASSERT_EQ(KDRVX_SetChannelLinearisation(0, 2), KDRVX_OK);
  ASSERT_EQ(KDRVX_SetChannelIndRate(0, 0x10005), KDRVX_OK);
  EXPECT_EQ(KDRVX_SetChannelMultiChannel(0, 33), KDRVX_ERR_RVX_MULTICHANNEL_BITS);
  EXPECT_EQ(KDRVX_SetChannelMultiChannel(0, 0), KDRVX_ERR_RVX_MULTICHANNEL_BITS);
  EXPECT_EQ(KDRVX_SetChannelMultiChannel(0, 32), KDRVX_OK);
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVX_MULTICHANNEL_BITS);  // success leaves it
  EXPECT_EQ(KDRVX_SetChannelMultiChannel(1, 8), KDRVX_ERR_RVX_CHN_UNKNOWN);
  const MGR_DEF m = finished("v.rvx").Channel[0];
  EXPECT_EQ(m.ISDS, 1);
  EXPECT_EQ(m.Linearisation, 2);
  EXPECT_EQ(m.ChannelIndRate, 0x10005u);
  EXPECT_EQ(m.MultiChannel, 32);
  EXPECT_EQ(KDRVX_ConvertMultiChannelValue(1.0f), 0x3F800000u);
  EXPECT_EQ(KDRVX_ConvertMultiChannelValue(-0.0f), 0x80000000u);
}

}  // namespace
}  // namespace kdrvx::test
