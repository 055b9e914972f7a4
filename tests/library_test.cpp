// The library as a whole at the interface: version text, error table, the copy
// rule for caller buffers, the last-error rule and the trace lines of the
// exports of the library as a whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "library/errors.h"
#include "library/trace.h"
#include "support/test_support.h"

namespace kdrvx::test {
namespace {

using Lines = std::vector<std::string>;

struct ExpectedError {
  uint32_t code;
  const char* name;
  const char16_t* text;  // null: "Invalid error code."
};

// Every status code with its name and text, character for character.
const ExpectedError kTable[] = {
    {0xE1000001u, "ERR_RVX_NEWER_VERSION", u"RVX- file is created by newer Velocord version (>7.0)"},
    {0xE1000002u, "ERR_RVX_INVALID_HEADER", u"The file is not a RVX- file or the header is invalid"},
    {0xE1000003u, "ERR_RVX_STILL_OPEN_READ", u"A RVX- file is still open. Close it before open a new one."},
    {0xE1000004u, "ERR_RVX_READ_FIRST", u"For using ReadNext() a ReadFirst() is necessary. This Error code is not used any more."},
    {0xE1000005u, "ERR_RVX_NOT_OPEN_READ", u"No RVX-file is open for read."},
    {0xE1000006u, "ERR_RVX_OPEN_READ", u"The RVX- file cannot be opened for read"},
    {0xE1000007u, "ERR_RVX_CHN_UNKNOWN", u"Unknown channel in the RVX- file (error Index)"},
    {0xE1000008u, "ERR_RVX_ALREADY_EXISTS", u"A RVX- file with this name already exists."},
    {0xE1000009u, "ERR_RVX_CREATE", u"Error during creation of a RVX- file."},
    {0xE100000Au, "ERR_RVX_STILL_OPEN_WRITE", u"A new RVX- file cannot be created because such a file is already open."},
    {0xE100000Bu, "ERR_RVX_NOT_OPEN_WRITE", u"No RVX- file is open for write."},
    {0xE100000Cu, "ERR_RVX_NUMBER_OF_CHANNELS", u"Too many variables."},
    {0xE100000Du, "ERR_RVX_CHN_VAR", u"Invalid variable"},
    {0xE100000Eu, "ERR_RVX_CHN_UNIT", u"Invalid unit"},
    {0xE100000Fu, "ERR_RVX_CHN_VAR_EXISTS", u"Channel (Variable) already exists."},
    {0xE1000010u, "ERR_RVX_CHANNEL_ADD", u"Append of a new variable is blocked because a data record is already add to the file."},
    {0xE1000011u, "ERR_RVX_CHN_NAME", u"Invalid channel name"},
    {0xE1000012u, "ERR_RVX_CHN_NUMBER", u"Invalid channel number"},
    {0xE1000013u, "ERR_RVX_CHN_SIGNAL", u"Invalid channel signal type."},
    {0xE1000014u, "ERR_RVX_CHN_ZERO", u"Invalid channel zero point"},
    {0xE1000015u, "ERR_RVX_CHN_CALPARA", u"Invalid channel parameter (meas. range, calibration value,...)"},
    {0xE1000016u, "ERR_RVX_CHN_FILTER", u"Invalid channel filter settings"},
    {0xE1000017u, "ERR_RVX_CHN_LINTAB", u"Invalid channel linearisation"},
    {0xE1000018u, "ERR_RVX_PARAMETER_STRING_LENGTH", u"Invalid string length of parameter."},
    {0xE1000019u, "ERR_RVX_DATE", u"Invalid date format"},
    {0xE100001Au, "ERR_RVX_TIME", u"Invalid time format"},
    {0xE100001Bu, "ERR_RVX_OPEN_WRITE", u"Error: Open file for write"},
    {0xE100001Cu, "ERR_RVX_OPEN_MODIFY", u"Error: Open file for modification"},
    {0xE100001Du, "ERR_RVX_STILL_OPEN_MODIFY", u"File for modification is still open."},
    {0xE100001Eu, "ERR_RVX_MODIFY_NOT_POSSIBLE", u"File cannot be modified"},
    {0xE100001Fu, "ERR_RVX_NOT_OPEN_MODIFY", u"No RVX- file is open for modification."},
    {0xE1000020u, "ERR_RVX_SHARING_VIOLATION", u"File is in use by other process (sharing violation)."},
    {0xE1000021u, "ERR_RVX_DEVELOPER_VERSION", u"File is a developer version, which is not used any more"},
    {0xE1000022u, "ERR_RVX_INVALID_ERROR_CODE", nullptr},
    {0xE1000023u, "ERR_RVX_OLD_FORMAT", u"RVX File in an older format. The fast acces function cannot be used"},
    {0xE1000024u, "ERR_RVI_FILE_NAME", u"File name for RVI- file cannot be built from the name of RVX- file"},
    {0xE1000025u, "ERR_RVI_CREATE", u"Error create RVI- file"},
    {0xE1000026u, "ERR_RVX_MULTICHANNEL_BITS", nullptr},
    {0xE1000027u, "ERR_RVX_UNIT_LENGTH", nullptr},
};

constexpr char16_t kInvalidCode[] = u"Invalid error code.";
// The version text carries the numbers of the header's version macros.
const std::u16string kVersion = [] {
  const std::string text = "KDrvxLibrary version " + std::to_string(KDRVX_VERSION_MAJOR) + "." +
                           std::to_string(KDRVX_VERSION_MINOR) + "." +
                           std::to_string(KDRVX_VERSION_PATCH) + " Build 061";
  return std::u16string(text.begin(), text.end());
}();

// A buffer pre-filled with a marker so that writes beyond the copy show.
struct Buffer {
  explicit Buffer(size_t size) : units(size, u'#') {}
  KDRVX_CHAR* data() { return reinterpret_cast<KDRVX_CHAR*>(units.data()); }
  std::u16string text() const { return std::u16string(units.c_str()); }
  std::u16string units;
};

// Every code of the table and codes outside it (no name, the text of an
// invalid code); the last error follows each lookup.
TEST(ErrorTable, EveryCodeHasItsTextAndName) {
  TraceCapture capture;
  std::vector<ExpectedError> cases(std::begin(kTable), std::end(kTable));
  for (uint32_t code : {0u, 1u, 0xE1000000u, 0xE1000028u, 0xE1000105u, 0xFFFFFFFFu, 5u})
    cases.push_back({code, "", nullptr});
  for (const ExpectedError& expected : cases) {
    SCOPED_TRACE(expected.code);
    Buffer buffer(200);
    const uint32_t result = KDRVX_GetErrorString(buffer.data(), 200, expected.code);
    EXPECT_EQ(result, expected.text ? KDRVX_OK : KDRVX_ERR_RVX_INVALID_ERROR_CODE);
    EXPECT_EQ(buffer.text(), expected.text ? expected.text : kInvalidCode);
    EXPECT_EQ(KDRVX_GetLastError(), result);
    EXPECT_STREQ(library::errorName(expected.code), expected.name);
  }
}

TEST(CopyRule, CutsToCapacityMinusOneAndAlwaysTerminates) {
  TraceCapture capture;
  const std::u16string unit = u"Invalid unit";  // 12 characters
  struct Case {
    uint16_t capacity;
    std::u16string expected;
  };
  for (const Case& edge : {Case{1, u""}, Case{2, u"I"}, Case{12, unit.substr(0, 11)},
                           Case{13, unit}, Case{65535, unit}}) {
    SCOPED_TRACE(edge.capacity);
    Buffer buffer(edge.capacity + 4u);
    EXPECT_EQ(KDRVX_GetErrorString(buffer.data(), edge.capacity, KDRVX_ERR_RVX_CHN_UNIT), KDRVX_OK);
    EXPECT_EQ(buffer.text(), edge.expected);
    // Nothing is written beyond the terminator.
    const size_t beyond = edge.expected.size() + 1;
    EXPECT_EQ(buffer.units.substr(beyond), std::u16string(buffer.units.size() - beyond, u'#'));
  }
  // The version text by the same rule; capacity 0 and no buffer receive nothing.
  Buffer version(kVersion.size() + 4);
  EXPECT_EQ(KDRVX_LibVersion(version.data(), kVersion.size() + 1), KDRVX_OK);
  EXPECT_EQ(version.text(), kVersion);
  EXPECT_EQ(KDRVX_LibVersion(version.data(), 10), KDRVX_OK);
  EXPECT_EQ(version.text(), u"KDrvxLibr");
  Buffer buffer(4);
  EXPECT_EQ(KDRVX_LibVersion(buffer.data(), 0), KDRVX_OK);
  EXPECT_EQ(KDRVX_GetErrorString(buffer.data(), 0, KDRVX_ERR_RVX_DATE), KDRVX_OK);
  EXPECT_EQ(buffer.units, u"####");
  EXPECT_EQ(KDRVX_LibVersion(nullptr, 100), KDRVX_OK);
  EXPECT_EQ(KDRVX_GetErrorString(nullptr, 100, 0), KDRVX_ERR_RVX_INVALID_ERROR_CODE);
}

TEST(LastError, FollowsTheStatusOfRecordingExportsOnly) {
  TraceCapture capture;
  Buffer buffer(50);
  KDRVX_GetErrorString(buffer.data(), 50, 0);
  ASSERT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVX_INVALID_ERROR_CODE);
  // These leave the last error alone; -32768 is 0x8000 (details) and
  // sign-extends to bits nobody reads.
  KDRVX_SetDebugMask(static_cast<int16_t>(-32768));
  KDRVX_DeleteFile(c(u"/nonexistent/kdrvx/none.rvx"));
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_ERR_RVX_INVALID_ERROR_CODE);
  // A successful lookup or LibVersion clears it.
  EXPECT_EQ(KDRVX_GetErrorString(buffer.data(), 50, KDRVX_ERR_RVX_READ_FIRST), KDRVX_OK);
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_OK);
  KDRVX_GetErrorString(buffer.data(), 50, 0);
  KDRVX_LibVersion(buffer.data(), 50);
  EXPECT_EQ(KDRVX_GetLastError(), KDRVX_OK);
}

TEST(Trace, SetDebugMaskWritesItsEntryLineWhateverTheMask) {
  TraceCapture capture;
  const std::string entry = "KDrvxLibrary: KDRVX_SetDebugMask()";
  // From 0, to 8 (with the size line), back to 0 (without).
  for (int16_t mask : {0, 8, 0}) {
    capture.clear();
    EXPECT_EQ(KDRVX_SetDebugMask(mask), KDRVX_OK);
    Lines expected{entry};
    if (mask != 0) expected.push_back("size RVX_HEADER: 35100  size MGR_DEF: 1400");
    EXPECT_EQ(capture.narrowLines(), expected);
  }
}

TEST(Trace, EntryLinesFollowTheCallsBit) {
  TraceCapture capture;
  Buffer buffer(50);
  for (int16_t mask : {0, KDRVX_DEBUG_ERRORS, KDRVX_DEBUG_DETAILS, -32768, KDRVX_DEBUG_CALLS}) {
    setMaskQuietly(capture, mask);
    KDRVX_LibVersion(buffer.data(), 50);
    KDRVX_GetErrorString(buffer.data(), 50, KDRVX_ERR_RVX_DATE);
    KDRVX_GetLastError();
    EXPECT_EQ(capture.narrowLines(),
              mask == KDRVX_DEBUG_CALLS ? Lines({"KDrvxLibrary: KDRVX_LibVersion()",
                                                 "KDrvxLibrary: KDRVX_GetErrorString()"})
                                        : Lines{})
        << "mask " << mask;
  }
}

TEST(Trace, NullSinkRestoresTheDefaultAndDropsTheContext) {
  TraceCapture capture;
  KDRVX_SetTraceSink(nullptr, &capture);
  KDRVX_SetDebugMask(KDRVX_DEBUG_CALLS);
  EXPECT_TRUE(capture.lines().empty());
}

TEST(Trace, FormattedLinesAreCutToTheirBuffer) {
  trace::Line<trace::kErrorLineCapacity> line;
  line.append(u"KDrvxLibrary: ").appendBytes(std::string(120, 'x').c_str());
  EXPECT_EQ(line.length(), 99u);
  EXPECT_EQ(std::u16string(line.text()), u"KDrvxLibrary: " + std::u16string(85, u'x'));
  trace::Line<10> numbers;
  numbers.format("Error 0x%08X", 0xE1000020u);
  EXPECT_EQ(std::u16string(numbers.text()), u"Error 0xE");
}

}  // namespace
}  // namespace kdrvx::test
