// Test files of every RVX header layout, written byte by byte at the offsets
// of the layout tables (independently of the library's layout types), data
// records of each kind, RVI files, and the read-side query helpers.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "kdrvx/kdrvx.h"
#include "support/test_support.h"

namespace kdrvx::test {

// A file image under construction; fields are written little-endian.
class ByteImage {
 public:
  explicit ByteImage(size_t size = 0) : bytes_(size, '\0') {}
  ByteImage& u8(size_t at, uint32_t value);
  ByteImage& u16(size_t at, uint32_t value) { return u8(at, value).u8(at + 1, value >> 8); }
  ByteImage& u32(size_t at, uint32_t value) { return u16(at, value).u16(at + 2, value >> 16); }
  ByteImage& f32(size_t at, float value);
  ByteImage& text8(size_t at, const std::u16string& text);  // low bytes, no terminator
  ByteImage& text16(size_t at, const std::u16string& text);  // no terminator
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// One channel; each layout writes what it can hold.
struct TestChannel {
  char16_t letter = u'p', prefix = 0;
  int8_t index = 1;     // current layout and kind P
  uint8_t code = 0x01;  // variable code byte of DOS before 5.0 and WIN 2.x to 6.x
  std::u16string unit;
  uint32_t indRate = 1;
  float min = 0, max = 0, mean = 0, rms = 0, sdev = 0;
  uint8_t multiChannel = 0, isds = 0, linearisation = 0;
  std::u16string name, number, signalType, zeroPoint, calParameter, filter, lintab;
};

struct TestRecording {
  uint8_t version = 's', originalFlag = 'W';
  uint16_t year = 2004, headerSize = 0;  // headerSize 0: the layout's own length
  uint8_t month = 7, day = 3, hour = 9, minute = 5, second = 255;
  uint32_t records = 0, triggerRecord = 0, scanRate = 10;
  uint8_t flags = 0, flagStatistics = 0;
  std::u16string comment, company, instrument, snrInstrument, nameMeasurement, triggerSetting;
  std::vector<TestChannel> channels;
};

TestRecording recording(uint8_t version, size_t channels);

// Header images, each as long as the header on disk.
std::string dosBefore50Header(uint32_t scanRate, const std::vector<TestChannel>& channels);
std::string dosKindQHeader(uint16_t dataOffset, uint32_t records, uint8_t channels);
std::string dosKindPHeader(uint16_t dataOffset, uint32_t records, uint32_t scanRate,
                           const std::vector<TestChannel>& channels);
std::string win2Header(const TestRecording& r, const std::array<std::string, 4>& commentLines);
std::string win3Header(const TestRecording& r);  // 8-bit comment
std::string win6Header(const TestRecording& r);
std::string currentHeader(const TestRecording& r);

std::string floatRecords(const std::vector<std::vector<float>>& records);
struct DosValue {
  int16_t mantissa;
  uint16_t decimals;
};
std::string dosRecords(const std::vector<std::vector<DosValue>>& records);

enum class RviEncoding { Latin1, Utf16WithBom, Utf16 };

// A scratch directory for one test's files; closes the read context at the
// end of the test.
class ReadTest : public ::testing::Test {
 protected:
  void TearDown() override { KDRVX_CloseRead(); }
  // Writes `bytes` as `name` and opens it for reading.
  uint32_t open(const std::string& bytes, const std::string& name = "f.rvx");
  // Writes the RVI file beside `name`: its last three characters become "RVI".
  void writeRvi(const std::string& bytes, const std::string& name = "f.rvx");
  void writeRvi(const std::u16string& text, RviEncoding encoding);
  ScratchDir dir;
};

// What the text queries deliver into a buffer of `capacity` units filled
// with '#' beforehand.
using HeaderTextQuery = uint32_t (*)(KDRVX_CHAR*, uint16_t);
using ChannelTextQuery = uint32_t (*)(KDRVX_CHAR*, int16_t, uint16_t);
std::u16string text(HeaderTextQuery query, uint16_t capacity = 400);
std::u16string text(ChannelTextQuery query, int16_t channel, uint16_t capacity = 400);
std::u16string text(uint32_t (*query)(KDRVX_CHAR*));  // date (11) or time (10 units)
std::u16string variable(int16_t channel);  // written without a terminator

}  // namespace kdrvx::test
