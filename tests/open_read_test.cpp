// Opening and closing for reading: the context's states, the RVI file of
// older files, the date repair and the derived record count.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/read_support.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

using Lines = std::vector<std::string>;

class OpenRead : public ReadTest {
 protected:
  const std::string compact = win3Header(recording(64, 2));
};

TEST_F(OpenRead, OneFileAtATimeAndTheOpenFailures) {
  ASSERT_EQ(open(compact), 0u);
  TraceCapture capture;
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS | KDRVX_DEBUG_CALLS);
  EXPECT_EQ(open(currentHeader(recording('s', 5)), "other.rvx"), KDRVX_ERR_RVX_STILL_OPEN_READ);
  EXPECT_EQ(KDRVX_GetNoChannels(), 2u);  // the open file stays
  EXPECT_EQ(KDRVX_CloseRead(), 0u);
  EXPECT_EQ(KDRVX_GetNoChannels(), 0u);
  EXPECT_EQ(KDRVX_CloseRead(), KDRVX_ERR_RVX_NOT_OPEN_READ);
  EXPECT_EQ(KDRVX_OpenRead(c(dir.wide("missing.rvx"))), KDRVX_ERR_RVX_OPEN_READ);
  EXPECT_EQ(KDRVX_OpenRead(c(dir.wide("no/dir.rvx"))), KDRVX_ERR_RVX_OPEN_READ);
  const std::string prefix = "KDrvxLibrary: ", opening = prefix + "KDRVX_OpenRead()";
  const std::string count = prefix + "KDRVX_GetNoChannels()", close = prefix + "KDRVX_CloseRead()";
  EXPECT_EQ(capture.narrowLines(),
            (Lines{opening, prefix + "ERR_RVX_STILL_OPEN_READ", count, close, count, close,
                   prefix + "ERR_RVX_NOT_OPEN", opening, prefix + "Error 0x00000002", opening,
                   prefix + "Error 0x00000003"}));
}

TEST_F(OpenRead, RviTextInEachEncodingAndWithinItsFirst10000Bytes) {
  const std::u16string filler(9995, u'.');  // a label after it is cut by the limit
  const struct {
    std::u16string text;
    RviEncoding encoding;
    std::u16string company;
  } cases[] = {
      {u"Firma: Mess GmbH\r\n", RviEncoding::Latin1, u"Mess GmbH"},
      {u"Soci\u00E9t\u00E9: Mess GmbH\r\n", RviEncoding::Latin1, u"Mess GmbH"},
      {u"Company: Mess GmbH\r\n", RviEncoding::Utf16WithBom, u"Mess GmbH"},
      {u"Soci\u00E9t\u00E9: Mess GmbH\r\n", RviEncoding::Utf16, u"Mess GmbH"},
      {u"Company: Early\r\n" + filler + u"Company: Late\r\n", RviEncoding::Latin1, u"Early"},
      {filler + u"Company: Late\r\n", RviEncoding::Latin1, u""},
      {filler.substr(0, 4995) + u"Company: Late\r\n", RviEncoding::Utf16WithBom, u""},
  };
  for (const auto& test : cases) {
    writeRvi(test.text, test.encoding);
    ASSERT_EQ(open(compact), 0u);
    EXPECT_EQ(text(KDRVX_GetCompany), test.company);
    KDRVX_CloseRead();
  }
}

TEST_F(OpenRead, WithoutRviTheRviFieldsAreEmptyAndCurrentFilesNeverReadIt) {
  ASSERT_EQ(open(compact), 0u);
  EXPECT_EQ(text(KDRVX_GetCompany) + text(KDRVX_GetTriggerSetting) + text(KDRVX_GetChannelName, 1),
            u"");
  EXPECT_EQ(KDRVX_IsChannelISDS(1), 0);
  KDRVX_CloseRead();
  TestRecording r = recording('s', 1);
  r.company = u"From header";
  writeRvi("Company: From RVI\r\n");
  ASSERT_EQ(open(currentHeader(r)), 0u);
  EXPECT_EQ(text(KDRVX_GetCompany), u"From header");
  EXPECT_EQ(KDRVX_GetNoRecords(), 0u);  // and no count is derived
}

// The RVI file is found as Windows finds it, whose names ignore case: the
// exact name first, else the one entry beside it whose name differs only in
// ASCII case. Two such entries are as good as none.
TEST_F(OpenRead, TheRviFileIsFoundWhateverTheCaseOfItsName) {
  writeBytes(dir.file("f.rvi"), "Firma: Lower\r\n");
  ASSERT_EQ(open(compact), 0u);
  EXPECT_EQ(text(KDRVX_GetCompany), u"Lower");
  KDRVX_CloseRead();
  writeRvi("Firma: Exact\r\n");
  ASSERT_EQ(open(compact), 0u);
  EXPECT_EQ(text(KDRVX_GetCompany), u"Exact");
  KDRVX_CloseRead();
#ifndef _WIN32
  std::filesystem::remove(dir.file("f.RVI"));
  writeBytes(dir.file("f.Rvi"), "Firma: Other\r\n");
  ASSERT_EQ(open(compact), 0u);
  EXPECT_EQ(text(KDRVX_GetCompany), u"");
#endif
}

// A failed open leaves the header that the last open read, whatever the
// path names: a directory fails at the open, before anything is read, in
// both builds.
TEST_F(OpenRead, AFailedOpenKeepsTheRejectedHeader) {
  TestRecording newer = recording('s', 2);
  newer.version = 't';
  ASSERT_EQ(open(currentHeader(newer)), KDRVX_ERR_RVX_NEWER_VERSION);
  std::filesystem::create_directory(dir.file("d.rvx"));
  TraceCapture capture;
  setMaskQuietly(capture, KDRVX_DEBUG_ERRORS);
  EXPECT_EQ(KDRVX_OpenRead(c(dir.wide("d.rvx"))), KDRVX_ERR_RVX_OPEN_READ);
  EXPECT_EQ(capture.narrowLines(), Lines{"KDrvxLibrary: Error 0x00000005"});
  float record[2];
  EXPECT_EQ(KDRVX_ReadRecords(0, 1, record), static_cast<int32_t>(KDRVX_ERR_RVX_NOT_OPEN_READ));
  EXPECT_EQ(KDRVX_GetNoChannels(), 2u);
}

// Each field out of its range is enough; 0 passes the check.
TEST_F(OpenRead, AnImplausibleDateIsReplacedByTheModificationTime) {
  std::tm local{};
  local.tm_year = 111, local.tm_mon = 5, local.tm_mday = 15;
  local.tm_hour = 12, local.tm_min = 34, local.tm_isdst = -1;
  const auto when = std::chrono::system_clock::from_time_t(std::mktime(&local));
  for (int field = 0; field < 5; ++field) {
    TestRecording r = recording(64, 1);
    r.day = 1, r.month = 1, r.year = 1999;
    uint8_t* fields[] = {&r.day, &r.month, &r.hour, &r.minute};
    if (field < 4) *fields[field] = field == 0 ? 32 : field == 1 ? 13 : field == 2 ? 24 : 60;
    if (field == 4) r.year = 2101;
    writeBytes(dir.file("f.rvx"), win3Header(r));
    std::filesystem::last_write_time(dir.file("f.rvx"), std::chrono::file_clock::from_sys(when));
    ASSERT_EQ(KDRVX_OpenRead(c(dir.wide("f.rvx"))), 0u);
    EXPECT_EQ(text(KDRVX_GetDate) + u" " + text(KDRVX_GetTime), u"15.06.2011 12:34") << field;
    KDRVX_CloseRead();
  }
  TestRecording r = recording(64, 1);
  r.day = 0, r.month = 0, r.year = 1999;
  ASSERT_EQ(open(win3Header(r)), 0u);
  EXPECT_EQ(text(KDRVX_GetDate), u"00.00.1999");
}

TEST_F(OpenRead, OlderFilesWithoutACountCountTheirWholeRecords) {
  TestRecording r = recording(64, 2);
  r.headerSize = 384;
  std::string bytes = win3Header(r);
  bytes.resize(1000, '\x01');
  ASSERT_EQ(open(bytes), 0u);
  EXPECT_EQ(KDRVX_GetNoRecords(), 77u);  // (1000 - 384) / 8
  KDRVX_CloseRead();
  // A data offset beyond the end of the file: the signed 32-bit quotient,
  // negative, stored as it comes out.
  r.headerSize = 2000;
  const std::string shortFile = win3Header(r);
  ASSERT_EQ(open(shortFile), 0u);
  EXPECT_EQ(KDRVX_GetNoRecords(),
            static_cast<uint32_t>((static_cast<int32_t>(shortFile.size()) - 2000) / 8));
  EXPECT_GT(KDRVX_GetNoRecords(), 0x80000000u);
  KDRVX_CloseRead();
  ASSERT_EQ(open(dosBefore50Header(5, std::vector<TestChannel>(3))), 0u);
  EXPECT_EQ(KDRVX_GetNoRecords(), 0u);
}

}  // namespace
}  // namespace kdrvx::test
