// Creating a file and the header setters, checked at the interface and on
// the header that reaches the disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/write_support.h"

namespace kdrvx::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using format::RVX_HEADER;
using format::RVX_HEADER_W3;

class Create : public WriteTest {};

TEST_F(Create, NewFileGetsTheDefaultHeaderWithItsFirstChannel) {
  std::u16string path = dir.wide("a.rvx");
  ASSERT_EQ(KDRVX_Create(writable(path), 0, 0), KDRVX_OK);
  ASSERT_EQ(KDRVX_AddChannel(c(u"p1")), 0u);
  ASSERT_EQ(KDRVX_CloseCreateSimple(), KDRVX_OK);
  const std::string disk = bytes("a.rvx");
  ASSERT_EQ(disk.size(), 2900u);
  const auto h = imageAt<RVX_HEADER>(disk);
  EXPECT_EQ(h.Version, 's');
  EXPECT_EQ(h.OriginalFlag, 'X');  // not an original recording
  EXPECT_EQ(h.HeaderSize, 2900);
  EXPECT_EQ(h.Second, 255);
  EXPECT_EQ(h.Reserved12, 0xFFFF);
  EXPECT_EQ(h.NoChannels, 1);
  EXPECT_GE(h.Year, 2024);
  EXPECT_TRUE(h.Month >= 1 && h.Month <= 12 && h.Hour <= 23 && h.Minute <= 59);
  // Reset puts 'W' back and forgets the channels.
  ASSERT_EQ(KDRVX_Create(writable(path), 1, 0), KDRVX_OK);
  KDRVX_AddChannel(c(u"p1"));
  EXPECT_EQ(KDRVX_Reset(), KDRVX_OK);
  ASSERT_EQ(KDRVX_AddChannel(c(u"T2")), 0u);
  EXPECT_EQ(finished("a.rvx").OriginalFlag, 'W');
}

TEST_F(Create, PathIsCleanedInPlaceEvenWhenTheCallFails) {
  std::u16string path = dir.wide("run?1<a>|b\"c:d.rvx");
  ASSERT_EQ(KDRVX_Create(writable(path), 0, 1), KDRVX_OK);
  EXPECT_EQ(path, dir.wide("run_1_a__b_c_d.rvx"));  // '/' separates directories here
  EXPECT_TRUE(fs::exists(dir.file("run_1_a__b_c_d.rvx")));
  // A drive colon in the first two units survives; the second create fails.
  std::u16string windows = u"C:\\data\\run?1.rvx:x";
  EXPECT_EQ(KDRVX_CreateExt(writable(windows), 1, 1, 0, 0), KDRVX_ERR_RVX_STILL_OPEN_WRITE);
  EXPECT_EQ(windows, u"C:\\data\\run_1.rvx_x");
}

TEST_F(Create, ExistingFileIsKeptWithoutOverwriteAndTruncatedWithIt) {
  writeBytes(dir.file("old.rvx"), "recorded data");
  std::u16string path = dir.wide("old.rvx");
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS | KDRVX_DEBUG_CALLS);
  EXPECT_EQ(KDRVX_Create(writable(path), 0, 1), KDRVX_ERR_RVX_ALREADY_EXISTS);
  EXPECT_EQ(capture.lines(),
            (std::vector<std::u16string>{u"KDrvxLibrary: KDRVX_Create(" + path + u")",
                                         u"KDrvxLibrary: ERR_RVX_ALREADY_EXISTS",
                                         u"GetLastError: 0x0"}));
  EXPECT_EQ(bytes("old.rvx"), "recorded data");
  EXPECT_EQ(KDRVX_SetCompany(c(u"x")), KDRVX_ERR_RVX_NOT_OPEN_WRITE);  // still closed
  EXPECT_EQ(KDRVX_Create(writable(path), 1, 1), KDRVX_OK);
  KDRVX_CloseCreateSimple();
  EXPECT_EQ(bytes("old.rvx"), "");
}

TEST_F(Create, FailedCreateTracesSystemErrorAndPath) {
  std::u16string path = widePath(dir.path() / "missing" / "a.rvx");
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  EXPECT_EQ(KDRVX_Create(writable(path), 1, 1), KDRVX_ERR_RVX_CREATE);
  EXPECT_EQ(capture.lines(),
            (std::vector<std::u16string>{u"KDrvxLibrary: Error 0x00000003", path}));
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVX_CREATE);
  EXPECT_EQ(KDRVX_AddChannel(c(u"p1")), KDRVX_ERR_RVX_NOT_OPEN_WRITE);
}

TEST_F(Create, PathOf260UnitsIsRefusedBeforeTouchingTheDisk) {
  const size_t base = dir.wide("").size();
  const std::string fits(259 - base, 'a');
  const std::string tooLong(260 - base, 'b');
  std::u16string longPath = dir.wide(tooLong);
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  EXPECT_EQ(KDRVX_Create(writable(longPath), 1, 1), KDRVX_ERR_RVX_CREATE);
  EXPECT_EQ(capture.narrowLines().at(0), "KDrvxLibrary: Error 0x000000CE");
  EXPECT_FALSE(fs::exists(dir.file(tooLong)));
  std::u16string path = dir.wide(fits);
  EXPECT_EQ(KDRVX_Create(writable(path), 1, 1), KDRVX_OK);
  EXPECT_TRUE(fs::exists(dir.file(fits)));
}

struct TextSetter {
  uint32_t (*set)(const KDRVX_CHAR*);
  size_t longest;
  std::u16string (*field)(const RVX_HEADER&);
  const char* call;
};

TEST_F(Create, HeaderTextsAreClearedFirstAndLimited) {
  const TextSetter setters[] = {
      {KDRVX_SetCompany, 63, [](const RVX_HEADER& h) { return textOf(h.Company); },
       "KDrvxLibrary: KDRVX_SetCompany()"},
      {KDRVX_SetInstrument, 62, [](const RVX_HEADER& h) { return textOf(h.Instrument); },
       "KDrvxLibrary: KDRVX_SetInstrument()"},
      {KDRVX_SetSnrInstrument, 15, [](const RVX_HEADER& h) { return textOf(h.SnrInstrument); },
       "KDrvxLibrary: KDRVX_SetSnrInstrument()"},
      {KDRVX_SetNameMeasurement, 23, [](const RVX_HEADER& h) { return textOf(h.NameMeasurement); },
       "KDrvxLibrary: KDRVX_SetNameMeasurement()"},
      {KDRVX_SetTriggerSetting, 63, [](const RVX_HEADER& h) { return textOf(h.TriggerSetting); },
       "KDrvxLibrary: KDRVX_SetTriggerSettings()"},
      {KDRVX_SetComment, 291, [](const RVX_HEADER& h) { return textOf(h.Comment); },
       "KDrvxLibrary: KDRVX_SetComment()"},
  };
  // The field on disk after a first text and then `second` were set.
  auto written = [&](const TextSetter& setter, const KDRVX_CHAR* second, uint32_t status) {
    create("t.rvx", {});
    EXPECT_EQ(setter.set(c(u"v")), KDRVX_OK);
    EXPECT_EQ(setter.set(second), status);
    EXPECT_EQ(KDRVX_GetLastError(), status);
    return setter.field(finished("t.rvx"));
  };
  for (const TextSetter& setter : setters) {
    SCOPED_TRACE(setter.call);
    const std::u16string longest(setter.longest, u'x');
    create("t.rvx", {});
    setMaskQuietly(capture, KDRVX_DEBUG_CALLS);
    EXPECT_EQ(setter.set(c(longest)), KDRVX_OK);
    EXPECT_EQ(capture.narrowLines(), Lines({setter.call}));
    setMaskQuietly(capture, 0);
    EXPECT_EQ(setter.field(finished("t.rvx")), longest);
    // Rejected or null: the field is left empty.
    const std::u16string tooLong = longest + u"y";
    EXPECT_EQ(written(setter, c(tooLong), KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH), u"");
    EXPECT_EQ(written(setter, nullptr, KDRVX_OK), u"");
  }
  create("t.rvx", {});
  // Only the measurement name's error line carries the rejected text.
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  KDRVX_SetNameMeasurement(c(u"abcdefghijklmnopqrstuvwx"));
  KDRVX_SetCompany(c(std::u16string(64, u'c')));
  EXPECT_EQ(capture.narrowLines(),
            Lines({"KDrvxLibrary: ERR_RVX_PARAMETER_STRING_LENGTH\nabcdefghijklmnopqrstuvwx",
                   "KDrvxLibrary: ERR_RVX_PARAMETER_STRING_LENGTH"}));
}

TEST_F(Create, CompactHeaderKeepsCommentDateTimeAndScanRateInStep) {
  create("c.rvx", {u"p1"}, true, 255);
  ASSERT_EQ(KDRVX_SetComment(c(u"Gr\u00fc\u00dfe \u20ac")), KDRVX_OK);
  ASSERT_EQ(KDRVX_SetDate(c(u"5.3.2024")), KDRVX_OK);
  ASSERT_EQ(KDRVX_SetTime(c(u"13:45:30")), KDRVX_OK);
  ASSERT_EQ(KDRVX_SetScanRate(2500), KDRVX_OK);
  ASSERT_EQ(KDRVX_SetNoTriggerRecord(17), KDRVX_OK);
  EXPECT_EQ(KDRVX_SetComment(c(std::u16string(292, u'z'))), KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  ASSERT_EQ(KDRVX_CloseCreate(), KDRVX_OK);
  const std::string disk = bytes("c.rvx");
  ASSERT_EQ(disk.size(), 356u);
  const auto w3 = imageAt<RVX_HEADER_W3>(disk);
  EXPECT_EQ(w3.Version, 64);
  EXPECT_EQ(w3.OriginalFlag, 'W');
  EXPECT_EQ(std::string(w3.Comment), "Gr\xfc\xdf" "e \xac");  // low bytes; the rejected one left it
  EXPECT_EQ(w3.Day, 5);
  EXPECT_EQ(w3.Month, 3);
  EXPECT_EQ(w3.Year, 2024);
  EXPECT_EQ(w3.Hour, 13);
  EXPECT_EQ(w3.Minute, 45);
  EXPECT_EQ(w3.ScanRate, 2500u);
  EXPECT_EQ(w3.Flags, 1);
  EXPECT_EQ(w3.NoTriggerRecord, 17u);
}

TEST_F(Create, DateAndTimeParsing) {
  struct DateCase {
    const char16_t* text;
    uint32_t status;
    int day, month, year;
  };
  for (const DateCase& date : {DateCase{u"5.3.2024", 0, 5, 3, 2024}, {u"31.02.2024", 0, 31, 2, 2024},
                               {u"40.13.99", 0, 40, 13, 99}, {u"5.3", KDRVX_ERR_RVX_DATE, 0, 0, 0},
                               {u"0.3.2024", KDRVX_ERR_RVX_DATE, 0, 0, 0}, {u" 5.3.2024", KDRVX_ERR_RVX_DATE, 0, 0, 0},
                               {u"", KDRVX_ERR_RVX_DATE, 0, 0, 0}}) {
    SCOPED_TRACE(narrow(date.text));
    create("d.rvx", {});
    KDRVX_SetDate(c(u"1.1.2000"));
    EXPECT_EQ(KDRVX_SetDate(c(date.text)), date.status);
    const auto h = finished("d.rvx");
    const bool ok = date.status == KDRVX_OK;
    EXPECT_EQ(h.Day, ok ? date.day : 1);
    EXPECT_EQ(h.Month, ok ? date.month : 1);
    EXPECT_EQ(h.Year, ok ? date.year : 2000);
  }
  struct TimeCase {
    const char16_t* text;
    uint32_t status;
    int hour, minute, second;
  };
  for (const TimeCase& time : {TimeCase{u"7", 0, 7, 0, 255}, {u"23:59:59", 0, 23, 59, 59},
                               {u"12:30:", 0, 12, 30, 0}, {u"24:00", KDRVX_ERR_RVX_TIME, 0, 0, 0},
                               {u"12:60", KDRVX_ERR_RVX_TIME, 0, 0, 0}, {u"12:30:75", KDRVX_ERR_RVX_TIME, 0, 0, 0},
                               {u"-1:00", KDRVX_ERR_RVX_TIME, 0, 0, 0}}) {
    SCOPED_TRACE(narrow(time.text));
    create("d.rvx", {});
    KDRVX_SetTime(c(u"1:02:03"));
    EXPECT_EQ(KDRVX_SetTime(c(time.text)), time.status);
    const auto h = finished("d.rvx");
    const bool ok = time.status == KDRVX_OK;
    EXPECT_EQ(h.Hour, ok ? time.hour : 1);
    EXPECT_EQ(h.Minute, ok ? time.minute : 2);
    EXPECT_EQ(h.Second, ok ? time.second : 3);
  }
  // A null text changes nothing, not even the last error.
  create("d.rvx", {});
  KDRVX_SetDate(c(u"5.3"));
  EXPECT_EQ(KDRVX_SetDate(nullptr), KDRVX_OK);
  EXPECT_EQ(KDRVX_SetTime(nullptr), KDRVX_OK);
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVX_DATE);
}

TEST_F(Create, ScanRateIsStoredInMillisecondsWhenWhole) {
  struct Case {
    int64_t microseconds;
    uint32_t stored;
    uint8_t flags;
  };
  for (const Case& rate : {Case{2000, 2, 0}, {2500, 2500, 1}, {1000000, 1000, 0}, {0, 0, 0},
                           {-1500, static_cast<uint32_t>(-1500), 1}}) {
    create("s.rvx", {});
    EXPECT_EQ(KDRVX_SetScanRate(rate.microseconds), KDRVX_OK);
    const auto h = finished("s.rvx");
    EXPECT_EQ(h.ScanRate, rate.stored);
    EXPECT_EQ(h.Flags, rate.flags);
  }
}

TEST_F(Create, EverySetterNeedsAnOpenFile) {
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  EXPECT_EQ(KDRVX_SetComment(c(u"x")), KDRVX_ERR_RVX_NOT_OPEN_WRITE);
  EXPECT_EQ(KDRVX_SetDate(nullptr), KDRVX_ERR_RVX_NOT_OPEN_WRITE);
  EXPECT_EQ(KDRVX_SetScanRate(1000), KDRVX_ERR_RVX_NOT_OPEN_WRITE);
  EXPECT_EQ(KDRVX_SetChannelUnit(0, c(u"bar")), KDRVX_ERR_RVX_NOT_OPEN_WRITE);
  EXPECT_EQ(KDRVX_Update(), KDRVX_ERR_RVX_NOT_OPEN_WRITE);
  EXPECT_EQ(KDRVX_CloseCreate(), KDRVX_ERR_RVX_NOT_OPEN_WRITE);
  EXPECT_EQ(capture.narrowLines(), Lines(6, "KDrvxLibrary: ERR_RVX_NOT_OPEN_WRITE"));
}

}  // namespace
}  // namespace kdrvx::test
