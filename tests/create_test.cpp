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

class Create : public WriteTest {};

TEST_F(Create, DefaultHeaderAndReset) {
  std::u16string path = dir.wide("a.rvx");
  ASSERT_EQ(KDRVX_Create(writable(path), 0, 0), KDRVX_OK);
  ASSERT_EQ(KDRVX_SetScanRate(2000), KDRVX_OK);  // whole milliseconds
  ASSERT_EQ(KDRVX_AddChannel(c(u"p1")), 0u);
  ASSERT_EQ(KDRVX_CloseCreateSimple(), KDRVX_OK);
  const std::string disk = bytes("a.rvx");
  ASSERT_EQ(disk.size(), 2900u);
  const auto h = imageAt<RVX_HEADER>(disk);
  EXPECT_EQ(h.Version, 's');
  EXPECT_EQ(h.OriginalFlag, 'X');
  EXPECT_EQ(h.HeaderSize, 2900);
  EXPECT_EQ(h.Second, 255);
  EXPECT_EQ(h.Reserved12, 0xFFFF);
  EXPECT_EQ(h.ScanRate, 2u);
  EXPECT_EQ(h.Flags, 0);
  EXPECT_TRUE(h.Year >= 2024 && h.Month >= 1 && h.Month <= 12 && h.Hour <= 23);
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
  EXPECT_EQ(path, dir.wide("run_1_a__b_c_d.rvx"));
  EXPECT_TRUE(fs::exists(dir.file("run_1_a__b_c_d.rvx")));
  std::u16string drive = u"C:\\data\\run?1.rvx:x";  // a drive colon survives
  EXPECT_EQ(KDRVX_CreateExt(writable(drive), 1, 1, 0, 0), KDRVX_ERR_RVX_STILL_OPEN_WRITE);
  EXPECT_EQ(drive, u"C:\\data\\run_1.rvx_x");
}

TEST_F(Create, RefusedCreatesTouchNothing) {
  writeBytes(dir.file("old.rvx"), "recorded data");
  std::u16string old = dir.wide("old.rvx");
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS | KDRVX_DEBUG_CALLS);
  EXPECT_EQ(KDRVX_Create(writable(old), 0, 1), KDRVX_ERR_RVX_ALREADY_EXISTS);
  EXPECT_EQ(capture.lines(), (std::vector<std::u16string>{u"KDrvxLibrary: KDRVX_Create(" + old + u")",
                                                          u"KDrvxLibrary: ERR_RVX_ALREADY_EXISTS",
                                                          u"GetLastError: 0x0"}));
  EXPECT_EQ(bytes("old.rvx"), "recorded data");

  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  std::u16string missing = widePath(dir.path() / "missing" / "a.rvx");
  EXPECT_EQ(KDRVX_Create(writable(missing), 1, 1), KDRVX_ERR_RVX_CREATE);
  EXPECT_EQ(capture.lines(), (std::vector<std::u16string>{u"KDrvxLibrary: Error 0x00000003", missing}));
  // 260 units do not fit CreatePath: refused like a name the system cannot take.
  const size_t base = dir.wide("").size();
  std::u16string tooLong = dir.wide(std::string(260 - base, 'b'));
  capture.clear();
  EXPECT_EQ(KDRVX_Create(writable(tooLong), 1, 1), KDRVX_ERR_RVX_CREATE);
  EXPECT_EQ(capture.narrowLines().at(0), "KDrvxLibrary: Error 0x000000CE");
  EXPECT_FALSE(fs::exists(dir.file(std::string(260 - base, 'b'))));
  EXPECT_EQ(KDRVX_SetCompany(c(u"x")), KDRVX_ERR_RVX_NOT_OPEN_WRITE);  // still closed
  EXPECT_EQ(KDRVX_SetDate(nullptr), KDRVX_ERR_RVX_NOT_OPEN_WRITE);

  std::u16string fits = dir.wide(std::string(259 - base, 'a'));
  EXPECT_EQ(KDRVX_Create(writable(fits), 1, 1), KDRVX_OK);
  EXPECT_EQ(KDRVX_CloseCreateSimple(), KDRVX_OK);
  EXPECT_EQ(KDRVX_Create(writable(old), 1, 1), KDRVX_OK);  // overwrite truncates
  EXPECT_EQ(KDRVX_CloseCreateSimple(), KDRVX_OK);
  EXPECT_EQ(bytes("old.rvx"), "");
}

struct TextSetter {
  uint32_t (*set)(const KDRVX_CHAR*);
  size_t longest;
  std::u16string (*field)(const RVX_HEADER&);
  const char* call;
};

TEST_F(Create, HeaderTextsAreClearedFirstAndLimited) {
  const TextSetter setters[] = {
      {KDRVX_SetCompany, 63, [](const RVX_HEADER& h) { return textOf(h.Company); }, "KDrvxLibrary: KDRVX_SetCompany()"},
      {KDRVX_SetInstrument, 62, [](const RVX_HEADER& h) { return textOf(h.Instrument); }, "KDrvxLibrary: KDRVX_SetInstrument()"},
      {KDRVX_SetSnrInstrument, 15, [](const RVX_HEADER& h) { return textOf(h.SnrInstrument); }, "KDrvxLibrary: KDRVX_SetSnrInstrument()"},
      {KDRVX_SetNameMeasurement, 23, [](const RVX_HEADER& h) { return textOf(h.NameMeasurement); }, "KDrvxLibrary: KDRVX_SetNameMeasurement()"},
      {KDRVX_SetTriggerSetting, 63, [](const RVX_HEADER& h) { return textOf(h.TriggerSetting); }, "KDrvxLibrary: KDRVX_SetTriggerSettings()"},
      {KDRVX_SetComment, 291, [](const RVX_HEADER& h) { return textOf(h.Comment); }, "KDrvxLibrary: KDRVX_SetComment()"},
  };
  // The field on disk after "v" and then `second` were set.
  auto written = [&](const TextSetter& setter, const std::u16string* second, uint32_t status) {
    create("t.rvx", {});
    setter.set(c(u"v"));
    EXPECT_EQ(setter.set(second != nullptr ? c(*second) : nullptr), status);
    EXPECT_EQ(KDRVX_GetLastError(), status);
    return setter.field(finished("t.rvx"));
  };
  for (const TextSetter& setter : setters) {
    SCOPED_TRACE(setter.call);
    const std::u16string longest(setter.longest, u'x'), tooLong = longest + u"y";
    EXPECT_EQ(written(setter, &longest, KDRVX_OK), longest);
    EXPECT_EQ(written(setter, &tooLong, KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH), u"");
    EXPECT_EQ(written(setter, nullptr, KDRVX_OK), u"");
    setMaskQuietly(capture, KDRVX_DEBUG_CALLS);
    setter.set(nullptr);
    EXPECT_EQ(capture.narrowLines(), Lines({setter.call}));
  }
  // Only the measurement name's error line carries the rejected text.
  create("t.rvx", {});
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  KDRVX_SetNameMeasurement(c(u"abcdefghijklmnopqrstuvwx"));
  KDRVX_SetCompany(c(std::u16string(64, u'c')));
  EXPECT_EQ(capture.narrowLines(),
            Lines({"KDrvxLibrary: ERR_RVX_PARAMETER_STRING_LENGTH\nabcdefghijklmnopqrstuvwx",
                   "KDrvxLibrary: ERR_RVX_PARAMETER_STRING_LENGTH"}));
}

TEST_F(Create, DateAndTimeParsing) {
  struct Case {
    const char16_t* text;
    uint32_t status;
    int a, b, c;  // day, month, year or hour, minute, second
  };
  for (const Case& date : {Case{u"5.3.2024", 0, 5, 3, 2024}, {u"31.02.2024", 0, 31, 2, 2024},
                           {u"40.13.99", 0, 40, 13, 99}, {u"5.3", KDRVX_ERR_RVX_DATE, 1, 1, 2000},
                           {u"0.3.2024", KDRVX_ERR_RVX_DATE, 1, 1, 2000},
                           {u" 5.3.2024", KDRVX_ERR_RVX_DATE, 1, 1, 2000}}) {
    SCOPED_TRACE(narrow(date.text));
    create("d.rvx", {});
    KDRVX_SetDate(c(u"1.1.2000"));
    EXPECT_EQ(KDRVX_SetDate(c(date.text)), date.status);
    const auto h = finished("d.rvx");
    EXPECT_EQ(std::vector<int>({h.Day, h.Month, h.Year}), std::vector<int>({date.a, date.b, date.c}));
  }
  for (const Case& time : {Case{u"7", 0, 7, 0, 255}, {u"23:59:59", 0, 23, 59, 59}, {u"12:30:", 0, 12, 30, 0},
                           {u"24:00", KDRVX_ERR_RVX_TIME, 1, 2, 3}, {u"12:60", KDRVX_ERR_RVX_TIME, 1, 2, 3},
                           {u"12:30:75", KDRVX_ERR_RVX_TIME, 1, 2, 3}}) {
    SCOPED_TRACE(narrow(time.text));
    create("d.rvx", {});
    KDRVX_SetTime(c(u"1:02:03"));
    EXPECT_EQ(KDRVX_SetTime(c(time.text)), time.status);
    const auto h = finished("d.rvx");
    EXPECT_EQ(std::vector<int>({h.Hour, h.Minute, h.Second}), std::vector<int>({time.a, time.b, time.c}));
  }
  // A null text changes nothing, not even the last error.
  create("d.rvx", {});
  KDRVX_SetDate(c(u"5.3"));
  EXPECT_EQ(KDRVX_SetDate(nullptr), KDRVX_OK);
  EXPECT_EQ(KDRVX_SetTime(nullptr), KDRVX_OK);
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVX_DATE);
}

}  // namespace
}  // namespace kdrvx::test
