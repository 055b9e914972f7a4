// The header layouts and their record kinds, byte by byte.
#include <cstring>

#include "format/claims.h"
#include "recordings.h"

namespace kdrvx::test {

ByteImage& ByteImage::u8(size_t at, uint32_t value) {
  if (bytes_.size() <= at) bytes_.resize(at + 1, '\0');
  bytes_[at] = static_cast<char>(value & 0xFF);
  return *this;
}

ByteImage& ByteImage::f32(size_t at, float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return u32(at, bits);
}

ByteImage& ByteImage::text8(size_t at, const std::u16string& text) {
  for (size_t i = 0; i < text.size(); ++i) u8(at + i, text[i]);
  return *this;
}

ByteImage& ByteImage::text16(size_t at, const std::u16string& text) {
  for (size_t i = 0; i < text.size(); ++i) u16(at + 2 * i, text[i]);
  return *this;
}

TestRecording recording(uint8_t version, size_t channels) {
  TestRecording r;
  r.version = version;
  r.channels.resize(channels);
  return r;
}

namespace {

uint8_t count(const TestRecording& r) { return static_cast<uint8_t>(r.channels.size()); }

ByteImage sized(const TestRecording& r, size_t fixed, size_t entry) {
  return ByteImage(fixed + entry * r.channels.size());
}

uint16_t headerSize(const TestRecording& r, const ByteImage& image) {
  return r.headerSize != 0 ? r.headerSize : static_cast<uint16_t>(image.bytes().size());
}

// Bytes 0 to 35, alike in WIN 3.x/4.x and WIN 6.x.
void win3Prefix(ByteImage& image, const TestRecording& r) {
  image.u8(4, r.version).u8(5, r.originalFlag).u16(8, headerSize(r, image)).u16(10, r.year);
  image.u8(12, r.month).u8(13, r.day).u8(14, r.hour).u8(15, r.minute).u32(16, r.records);
  image.u32(20, r.triggerRecord).u32(28, r.scanRate).u8(32, count(r));
  image.u8(33, r.flagStatistics).u8(34, r.flags);
}

}  // namespace

std::string header(const TestRecording& r) {
  switch (r.layout) {
    case Layout::DosBefore50: return dosBefore50Header(r.scanRate, r.channels);
    case Layout::DosKindQ: return dosKindQHeader(r.dataOffset, r.records, count(r));
    case Layout::DosKindP: return dosKindPHeader(r.dataOffset, r.records, r.scanRate, r.channels);
    case Layout::Win2: return win2Header(r);
    case Layout::Win3: return win3Header(r);
    case Layout::Win6: return win6Header(r);
    case Layout::Current: return currentHeader(r);
  }
  return {};
}

std::string dosBefore50Header(uint32_t scanRate, const std::vector<TestChannel>& channels) {
  ByteImage image;
  image.u32(0, scanRate);
  for (size_t k = 0; k < channels.size(); ++k)
    image.u8(4 + 4 * k, channels[k].letter).u8(5 + 4 * k, channels[k].code).u16(6 + 4 * k, 0);
  return image.u8(4 + 4 * channels.size(), '.').u8(5 + 4 * channels.size(), 0).bytes();
}

std::string dosKindQHeader(uint16_t dataOffset, uint32_t records, uint8_t channels) {
  return ByteImage(dataOffset).u8(4, 'Q').u16(6, dataOffset).u32(14, records).u8(24, channels).bytes();
}

std::string dosKindPHeader(uint16_t dataOffset, uint32_t records, uint32_t scanRate,
                           const std::vector<TestChannel>& channels) {
  ByteImage image(dataOffset);
  image.u8(4, 'P').u16(5, dataOffset).u32(13, records).u32(19, scanRate).u8(23, channels.size());
  for (size_t k = 0; k < channels.size(); ++k)
    image.u8(323 + 8 * k, channels[k].letter).u8(324 + 8 * k, static_cast<uint8_t>(channels[k].index));
  return image.bytes();
}

std::string win2Header(const TestRecording& r, const std::array<std::string, 4>& commentLines) {
  TestRecording lined = r;
  for (size_t line = 0; line < 4; ++line)
    lined.commentLines[line].assign(commentLines[line].begin(), commentLines[line].end());
  return win2Header(lined);
}

std::string win2Header(const TestRecording& r) {
  ByteImage image = sized(r, 320, 24);
  image.u8(4, r.version).u8(5, r.originalFlag).u16(6, headerSize(r, image)).u16(8, r.year);
  image.u8(10, r.month).u8(11, r.day).u8(12, r.hour).u8(13, r.minute).u32(14, r.records);
  image.u32(20, r.scanRate).u8(24, count(r)).u8(25, r.flagStatistics).u8(26, r.flags);
  for (size_t line = 0; line < 4; ++line) image.text8(28 + 73 * line, r.commentLines[line]);
  for (size_t k = 0; k < r.channels.size(); ++k) {
    const TestChannel& c = r.channels[k];
    const size_t at = 320 + 24 * k;
    image.u16(at, c.indRate).u8(at + 4, c.letter).u8(at + 5, c.code).text8(at + 6, c.unit);
    image.f32(at + 16, c.min).f32(at + 20, c.max);
  }
  return image.bytes();
}

std::string win3Header(const TestRecording& r) {
  ByteImage image = sized(r, 328, 28);
  win3Prefix(image, r);
  image.text8(36, r.comment);
  for (size_t k = 0; k < r.channels.size(); ++k) {
    const TestChannel& c = r.channels[k];
    const size_t at = 328 + 28 * k;
    image.u16(at, c.indRate).u8(at + 4, c.letter).u8(at + 5, c.code).text8(at + 6, c.unit);
    image.f32(at + 20, c.min).f32(at + 24, c.max);
  }
  return image.bytes();
}

std::string win6Header(const TestRecording& r) {
  ByteImage image = sized(r, 620, 40);
  win3Prefix(image, r);
  image.text16(36, r.comment);
  for (size_t k = 0; k < r.channels.size(); ++k) {
    const TestChannel& c = r.channels[k];
    const size_t at = 620 + 40 * k;
    image.u16(at, c.indRate).u16(at + 4, c.letter).u8(at + 6, c.code).text16(at + 8, c.unit);
    image.f32(at + 32, c.min).f32(at + 36, c.max);
  }
  return image.bytes();
}

std::string currentHeader(const TestRecording& r) {
  ByteImage image = sized(r, 1500, 1400);
  image.u8(4, r.version).u8(5, r.originalFlag).u16(8, headerSize(r, image)).u16(10, r.year);
  image.u8(12, r.month).u8(13, r.day).u8(14, r.hour).u8(15, r.minute).u8(16, r.second);
  image.u16(18, 0xFFFF).u32(20, r.records).u32(24, r.triggerRecord).u32(32, r.scanRate);
  image.u8(36, count(r)).u8(37, r.flagStatistics).u8(38, r.flags).text16(48, r.comment);
  image.text16(632, r.company).text16(760, r.instrument).text16(888, r.snrInstrument);
  image.text16(920, r.nameMeasurement).text16(968, r.triggerSetting);
  for (size_t k = 0; k < r.channels.size(); ++k) {
    const TestChannel& c = r.channels[k];
    const size_t at = 1500 + 1400 * k;
    image.u32(at, c.indRate).u16(at + 6, c.letter).u16(at + 8, c.prefix);
    image.u8(at + 10, static_cast<uint8_t>(c.index)).u8(at + 12, c.multiChannel);
    image.text16(at + 14, c.unit).text16(at + 38, c.name).text16(at + 86, c.number);
    image.text16(at + 94, c.signalType).text16(at + 158, c.zeroPoint);
    image.text16(at + 190, c.calParameter).text16(at + 446, c.filter).u8(at + 510, c.isds);
    image.u8(at + 511, c.linearisation).text16(at + 514, c.lintab).f32(at + 1380, c.min);
    image.f32(at + 1384, c.max).f32(at + 1388, c.mean).f32(at + 1392, c.rms).f32(at + 1396, c.sdev);
  }
  return image.bytes();
}

std::string floatRecords(const std::vector<std::vector<float>>& records) {
  ByteImage image;
  size_t at = 0;
  for (const auto& record : records)
    for (float value : record) image.f32(4 * at++, value);
  return image.bytes();
}

std::string sparseRecords(const std::vector<TestChannel>& channels,
                          const std::vector<std::vector<float>>& records) {
  std::vector<std::vector<float>> stored;
  for (size_t m = 1; m <= records.size(); ++m) {
    stored.emplace_back();
    for (size_t k = 0; k < channels.size() && k < records[m - 1].size(); ++k) {
      if (format::sparseHolds(channels[k].indRate, m)) stored.back().push_back(records[m - 1][k]);
    }
  }
  return floatRecords(stored);
}

std::string dosRecords(const std::vector<std::vector<DosValue>>& records) {
  ByteImage image;
  size_t at = 0;
  for (const auto& record : records)
    for (DosValue value : record) {
      image.u16(4 * at, static_cast<uint16_t>(value.mantissa)).u16(4 * at + 2, value.decimals);
      ++at;
    }
  return image.bytes();
}

}  // namespace kdrvx::test
