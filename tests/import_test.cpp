// Files of the seven header layouts as the exports report them after
// KDRVX_OpenRead: recognition and refusals with their trace lines, and the
// converted fields of each layout.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/read_support.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

std::string withByte(std::string bytes, size_t at, uint8_t value) {
  bytes[at] = static_cast<char>(value);
  return bytes;
}

class Import : public ReadTest {};

TEST_F(Import, LayoutsAreRecognisedInTheirOrderOfTests) {
  // Kind P whose u16 at 18 is 0 (scan rate 0x100); byte 24 decides P or Q.
  const std::string kindP = dosKindPHeader(400, 0, 0x100, {TestChannel{}});
  // Byte 24 is the channel count when these bytes are read as WIN 2.x.
  const std::string win3 = withByte(win3Header(recording('A', 1)), 24, 1);
  const std::string win3R = withByte(win3, 4, 'R');
  const struct {
    std::string bytes;
    uint32_t status, version;
    std::u16string layout;
  } cases[] = {
      {dosBefore50Header(10, {TestChannel{}}), 0, 0, u"RVX version DOS <5.0 "},
      {dosKindQHeader(100, 0, 1), 0, 'Q', u"RVX version DOS 5.0/5.1 "},
      {withByte(kindP, 24, 12), 0, 'Q', u"RVX version DOS 5.0/5.1 "},
      {withByte(kindP, 24, 13), 0, 'P', u"RVX version DOS 5.0/5.1 "},
      {currentHeader(recording('t', 1)), KDRVX_ERR_RVX_NEWER_VERSION, 't', u""},
      {currentHeader(recording('p', 1)), KDRVX_ERR_RVX_DEVELOPER_VERSION, 'p', u""},
      {currentHeader(recording('q', 1)), KDRVX_ERR_RVX_DEVELOPER_VERSION, 'q', u""},
      {withByte(win3, 5, 0), 0, 'A', u"RVX version WIN 2.x "},
      {withByte(win3, 4, '/'), 0, '/', u"RVX version WIN 2.x "},
      {win3R, 0, 'R', u"RVX version WIN 2.x "},
      {withByte(win3R, 5, 'X'), 0, 'R', u"RVX version WIN 3.x/4.x "},
      {win3, 0, 'A', u"RVX version WIN 3.x/4.x "},
      {win6Header(recording(96, 1)), 0, 96, u"RVX version WIN 6.x "},
      {currentHeader(recording('o', 1)), 0, 'o', u"RVX version WIN 7.x "},
      {currentHeader(recording('r', 1)), 0, 'r', u"RVX version WIN 7.x "},
      {currentHeader(recording('s', 0)), KDRVX_ERR_RVX_INVALID_HEADER, 's', u"RVX version WIN 7.x "},
  };
  TraceCapture capture;
  for (const auto& test : cases) {
    setMaskQuietly(capture, KDRVX_DEBUG_CALLS | KDRVX_DEBUG_ERRORS);
    EXPECT_EQ(open(test.bytes), test.status) << test.version;
    std::vector<std::u16string> lines{u"KDrvxLibrary: KDRVX_OpenRead()"};
    // The WIN 6.x and 7.x lines spell the library's name so.
    const bool odd = test.version >= 96 && test.version != 'p' && test.version != 'q';
    if (!test.layout.empty()) lines.push_back((odd ? u"KDrvxLibary: " : u"KDrvxLibrary: ") + test.layout);
    EXPECT_EQ(capture.lines(), lines) << test.version;
    EXPECT_EQ(KDRVX_GetLastError(), test.status);
    EXPECT_EQ(KDRVX_GetVersion(), test.version);
    KDRVX_CloseRead();
  }
}

TEST_F(Import, DosLayouts) {
  std::vector<TestChannel> two(2);
  two[1].letter = u'T', two[1].code = 0xC2;  // bits 6 and 7 are no part of the index
  ASSERT_EQ(open(dosBefore50Header(10000, two) + dosRecords({{{1, 0}, {2, 0}}}) + "tail"), 0u);
  EXPECT_EQ(KDRVX_GetScanRate(), 10000000);
  EXPECT_EQ(variable(0) + variable(1), u"p1T2");
  EXPECT_EQ(KDRVX_GetNoRecords(), 1u);  // (14 + 8 + 4 - 14) / 8
  KDRVX_CloseRead();
  EXPECT_EQ(open(dosBefore50Header(1, std::vector<TestChannel>(23))), 0u);
  KDRVX_CloseRead();
  EXPECT_EQ(open(dosBefore50Header(1, std::vector<TestChannel>(24))), KDRVX_ERR_RVX_INVALID_HEADER);
  // A list that ends at once: no channels and no records.
  ASSERT_EQ(open(dosBefore50Header(1, {}) + "more bytes"), 0u);
  EXPECT_EQ(KDRVX_GetNoRecords(), 0u);
  KDRVX_CloseRead();

  ASSERT_EQ(open(dosKindQHeader(100, 5, 2)), 0u);
  EXPECT_EQ(KDRVX_GetNoRecords() * 10 + KDRVX_GetNoChannels(), 52u);
  EXPECT_EQ(text(KDRVX_GetDate) + text(KDRVX_GetTime), u"00.00.   000:00:00");
  KDRVX_CloseRead();
  EXPECT_EQ(open(dosKindQHeader(100, 0, 49)), KDRVX_ERR_RVX_INVALID_HEADER);

  two[0].index = 3, two[1].letter = 0xE4, two[1].index = -1;  // the letter is sign-extended
  ASSERT_EQ(open(dosKindPHeader(400, 7, 20, two)), 0u);
  EXPECT_EQ(KDRVX_GetNoRecords(), 7u);
  EXPECT_EQ(KDRVX_GetScanRate(), 20000);
  EXPECT_EQ(variable(0) + variable(1), u"p3\uFFE4-1");
  KDRVX_CloseRead();
  // Entries beyond the 511 bytes examined are not read; above 48 channels
  // the header is refused.
  ASSERT_EQ(open(dosKindPHeader(600, 0, 20, std::vector<TestChannel>(25))), 0u);
  EXPECT_EQ(variable(23) + u"|" + variable(24), u"p1|");
  KDRVX_CloseRead();
  EXPECT_EQ(open(dosKindPHeader(1000, 0, 20, std::vector<TestChannel>(49))),
            KDRVX_ERR_RVX_INVALID_HEADER);
}

TEST_F(Import, Win2) {
  TestRecording r = recording('R', 2);
  r.year = 1999, r.month = 12, r.day = 24, r.hour = 18, r.minute = 30, r.flagStatistics = 7;
  r.channels[0].code = 0xA3, r.channels[0].unit = u"bar", r.channels[0].max = 2.5f;
  r.channels[1].letter = u'A', r.channels[1].code = 0x23, r.channels[1].indRate = 4;
  // 12 unit bytes without a zero: the last two are MinValue's low bytes.
  r.channels[1].unit = u"ABCDEFGHIJ";
  const uint32_t minBits = 0x3F80'4C4B;  // ..., 'K', 'L'
  std::memcpy(&r.channels[1].min, &minBits, sizeof minBits);
  ASSERT_EQ(open(win2Header(r, {"abc", "", "x", ""})), 0u);
  EXPECT_EQ(text(KDRVX_GetComment), u"abc\r\n\r\nx\r\n\r\n");
  EXPECT_EQ(text(KDRVX_GetDate) + text(KDRVX_GetTime), u"24.12.199918:30");
  uint8_t original = 9;
  KDRVX_CheckOriginalFlag(&original);
  EXPECT_EQ(original, 1);  // OriginalFlag becomes 0
  EXPECT_EQ(KDRVX_GetFlagStatistics(), 1u);
  EXPECT_EQ(variable(0) + variable(1), u"dp35AA3");
  EXPECT_EQ(text(KDRVX_GetChannelUnit, 0) + text(KDRVX_GetChannelUnit, 1), u"barABCDEFGHIJK");
  EXPECT_EQ(KDRVX_GetChannelMaxValue(0), 2.5f);
  EXPECT_EQ(KDRVX_GetChannelIndRate(1), 4u);
  KDRVX_CloseRead();
  // Long lines and their line breaks are cut to the comment's 291 characters.
  const std::string line(89, 'c');
  ASSERT_EQ(open(win2Header(recording('R', 1), {line, line, line, line})), 0u);
  EXPECT_EQ(text(KDRVX_GetComment).size(), 291u);
}

TEST_F(Import, Win3AndWin6) {
  TestRecording r = recording(64, 4);
  const uint8_t codes[] = {0xA3, 0x42, 0x23, 0x23};
  const char16_t letters[] = {u'p', u'T', u'A', u'p'};
  for (size_t k = 0; k < 4; ++k) r.channels[k].code = codes[k], r.channels[k].letter = letters[k];
  r.channels[0].unit = u"mbar";
  r.channels[1].unit = u"ABCDEFGHIJKLMN";  // no zero within its 11 bytes
  r.comment = std::u16string(292, u'k');    // no zero within its 292 bytes
  r.originalFlag = 'X', r.triggerRecord = 17;
  ASSERT_EQ(open(win3Header(r) + floatRecords({{1, 2, 3, 4}, {5, 6, 7, 8}}) + "12345"), 0u);
  EXPECT_EQ(variable(0) + variable(1) + variable(2) + variable(3), u"dp35\uFFF5T2AA3p35");
  EXPECT_EQ(text(KDRVX_GetChannelUnit, 0) + text(KDRVX_GetChannelUnit, 1), u"mbarABCDEFGHIJK");
  EXPECT_EQ(text(KDRVX_GetComment), std::u16string(291, u'k'));
  EXPECT_EQ(KDRVX_GetNoRecords(), 2u);  // the 5 trailing bytes are no record
  EXPECT_EQ(KDRVX_GetNoTriggerRecord(), 17u);
  EXPECT_EQ(text(KDRVX_GetTime), u"09:05");
  uint8_t original = 9;
  KDRVX_CheckOriginalFlag(&original);
  EXPECT_EQ(original, 0);
  KDRVX_CloseRead();

  r = recording(96, 3);
  r.comment = u"Gr\u00FC\u00DFe \u03C1";
  r.channels[0].unit = std::u16string(12, u'u');             // no terminator
  r.channels[1].letter = u'1', r.channels[1].code = 0x84;  // 'd', '1', 4: the variable d4
  r.channels[2].letter = u'1', r.channels[2].code = 0x04;  // no 'd': the letter stays
  ASSERT_EQ(open(win6Header(r)), 0u);
  EXPECT_EQ(text(KDRVX_GetComment), r.comment);
  EXPECT_EQ(text(KDRVX_GetChannelUnit, 0), std::u16string(11, u'u'));
  EXPECT_EQ(variable(1) + u"|" + variable(2), u"d4|14");
}

TEST_F(Import, CurrentLayoutFindsItsDataBeyondTheWrappedHeaderSize) {
  for (size_t channels : {45u, 46u, 47u, 48u}) {
    std::vector<float> values(channels), got(channels);
    for (size_t k = 0; k < channels; ++k) values[k] = static_cast<float>(k) + 0.5f;
    ASSERT_EQ(open(currentHeader(recording('s', channels)) + floatRecords({values})), 0u);
    EXPECT_EQ(KDRVX_ReadFirstRecord(got.data()), 0u);
    EXPECT_EQ(got, values) << channels;
    KDRVX_CloseRead();
  }
}

}  // namespace
}  // namespace kdrvx::test
