// Test recordings of every RVX header layout, for every test suite: the
// GoogleTest suites link this library, the Python tests and the fuzz-corpus
// script run its command-line front end (make_test_recording.cpp).
//
// Every header is written byte by byte at the offsets of the layout tables,
// without the library's layout types, so that a mistake in those types
// shows up as a difference instead of being copied into the test files.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kdrvx::test {

// A file image under construction; fields are written little-endian, and
// the image grows to hold whatever is written.
class ByteImage {
 public:
  explicit ByteImage(size_t size = 0) : bytes_(size, '\0') {}
  ByteImage& u8(size_t at, uint32_t value);
  ByteImage& u16(size_t at, uint32_t value) { return u8(at, value).u8(at + 1, value >> 8); }
  ByteImage& u32(size_t at, uint32_t value) { return u16(at, value).u16(at + 2, value >> 16); }
  ByteImage& f32(size_t at, float value);
  ByteImage& text8(size_t at, const std::u16string& text);   // low bytes, no terminator
  ByteImage& text16(size_t at, const std::u16string& text);  // no terminator
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// The header layouts, named as the front end's "layout" names them.
enum class Layout {
  DosBefore50,  // "dos4"
  DosKindQ,     // "dosq": DOS 5.0/5.1, kind Q
  DosKindP,     // "dosp": DOS 5.0/5.1, kind P
  Win2,         // "win2": whole or (version 'R') sparse records
  Win3,         // "win3": WIN 3.x/4.x, version 64 is the compact layout
  Win6,         // "win6"
  Current,      // "current"
};

// One channel; each layout writes what it can hold.
struct TestChannel {
  char16_t letter = u'p', prefix = 0;
  int8_t index = 1;     // current layout, kind P, and the RVI text
  uint8_t code = 0x01;  // variable code byte of DOS before 5.0 and WIN 2.x to 6.x
  std::u16string unit;
  uint32_t indRate = 1;
  float min = 0, max = 0, mean = 0, rms = 0, sdev = 0;
  uint8_t multiChannel = 0, isds = 0, linearisation = 0;
  std::u16string name, number, signalType, zeroPoint, calParameter, filter, lintab;
};

struct TestRecording {
  Layout layout = Layout::Current;  // what header() writes
  uint8_t version = 's', originalFlag = 'W';
  uint16_t year = 2004, headerSize = 0;  // headerSize 0: the layout's own length
  uint16_t dataOffset = 512;             // header length of the DOS 5.0/5.1 kinds
  uint8_t month = 7, day = 3, hour = 9, minute = 5, second = 255;
  uint32_t records = 0, triggerRecord = 0, scanRate = 10;
  uint8_t flags = 0, flagStatistics = 0;
  std::u16string comment, company, instrument, snrInstrument, nameMeasurement, triggerSetting;
  std::array<std::u16string, 4> commentLines;  // WIN 2.x keeps its comment as four lines
  std::vector<TestChannel> channels;
};

TestRecording recording(uint8_t version, size_t channels);

// Header images, each as long as the header on disk.
std::string header(const TestRecording& r);  // of r.layout
std::string dosBefore50Header(uint32_t scanRate, const std::vector<TestChannel>& channels);
std::string dosKindQHeader(uint16_t dataOffset, uint32_t records, uint8_t channels);
std::string dosKindPHeader(uint16_t dataOffset, uint32_t records, uint32_t scanRate,
                           const std::vector<TestChannel>& channels);
std::string win2Header(const TestRecording& r, const std::array<std::string, 4>& commentLines);
std::string win2Header(const TestRecording& r);  // with r.commentLines
std::string win3Header(const TestRecording& r);  // 8-bit comment
std::string win6Header(const TestRecording& r);
std::string currentHeader(const TestRecording& r);

// Data records. Float records are written row by row as given (a row may
// be shorter or longer than the channel count).
std::string floatRecords(const std::vector<std::vector<float>>& records);
// Sparse WIN 2.x records from whole rows: record m (counted from 1) keeps
// channel k where the format's rule says so (format::sparseHolds: its
// individual rate is 0 or 1, or m modulo the rate is 1), the rule the
// library's readers and its count of held records follow.
std::string sparseRecords(const std::vector<TestChannel>& channels,
                          const std::vector<std::vector<float>>& records);
// DOS records: per value a signed mantissa and a count of decimals.
struct DosValue {
  int16_t mantissa;
  uint16_t decimals;
};
std::string dosRecords(const std::vector<std::vector<DosValue>>& records);

// RVI texts as the older writers left them beside their files: every
// label of the language with its value from the recording, channel names,
// filters and linearisation tables included.
enum class RviLanguage { German, English, French };
std::u16string rviText(const TestRecording& r, RviLanguage language);

enum class RviEncoding { Latin1, Utf16WithBom, Utf16 };
std::string encodeRvi(const std::u16string& text, RviEncoding encoding);

}  // namespace kdrvx::test
