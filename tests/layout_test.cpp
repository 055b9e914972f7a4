// The header records as bytes: each type is the image of the file's bytes,
// little-endian, and the size relations of the current and compact layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "format/layout.h"

namespace kdrvx::format {
namespace {

template <typename T>
std::vector<unsigned char> bytesOf(const T& value) {
  std::vector<unsigned char> bytes(sizeof(T));
  std::memcpy(bytes.data(), &value, sizeof(T));
  return bytes;
}

uint32_t u32At(const std::vector<unsigned char>& bytes, size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
         static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

TEST(Layout, CurrentHeaderFieldsLandAtTheirFileOffsets) {
  auto header = std::make_unique<RVX_HEADER>();
  std::memset(header.get(), 0, sizeof(RVX_HEADER));
  header->Version = 's';
  header->HeaderSize = 0x1234;
  header->Year = 2024;
  header->Second = 255;
  header->NoRecords = 0x01020304;
  header->ScanRate = 0xA0B0C0D0;
  header->NoChannels = 2;
  header->Comment[0] = u'\u00C4';
  header->TriggerSetting[63] = u'T';
  header->Channel[1].VariableLetter = u'p';
  header->Channel[1].VariableIndex = -3;
  header->Channel[1].ChannelLintab[0] = u'L';
  header->Channel[1].MinValue = 1.0f;
  header->Channel[47].SDevValue = -2.0f;

  auto bytes = bytesOf(*header);
  ASSERT_EQ(bytes.size(), 68700u);
  EXPECT_EQ(bytes[4], 's');
  EXPECT_EQ(bytes[8], 0x34);
  EXPECT_EQ(bytes[9], 0x12);
  EXPECT_EQ(bytes[10] | bytes[11] << 8, 2024);
  EXPECT_EQ(bytes[16], 255);
  EXPECT_EQ(u32At(bytes, 20), 0x01020304u);
  EXPECT_EQ(u32At(bytes, 32), 0xA0B0C0D0u);
  EXPECT_EQ(bytes[36], 2);
  EXPECT_EQ(bytes[48], 0xC4);
  EXPECT_EQ(bytes[49], 0x00);
  EXPECT_EQ(bytes[968 + 126], 'T');
  const size_t channel1 = 1500 + 1400;
  EXPECT_EQ(bytes[channel1 + 6], 'p');
  EXPECT_EQ(bytes[channel1 + 10], 0xFD);
  EXPECT_EQ(bytes[channel1 + 514], 'L');
  EXPECT_EQ(u32At(bytes, channel1 + 1380), 0x3F800000u);
  EXPECT_EQ(u32At(bytes, 1500 + 47 * 1400 + 1396), 0xC0000000u);
}

TEST(Layout, CompactHeaderFieldsLandAtTheirFileOffsets) {
  RVX_HEADER_W3 header;
  std::memset(&header, 0, sizeof header);
  header.Version = kCompactVersion;
  header.HeaderSize = static_cast<uint16_t>(compactHeaderLength(3));
  header.Minute = 59;
  header.NoRecords = 7;
  header.ScanRate = 10;
  header.NoChannels = 3;
  header.Comment[291] = 'c';
  header.Channel[2].ChannelIndRate = 5;
  header.Channel[2].VariableCode = 0x8C;
  header.Channel[2].ChannelUnit[10] = 'u';
  header.Channel[23].MaxValue = 1.0f;

  auto bytes = bytesOf(header);
  ASSERT_EQ(bytes.size(), 1000u);
  EXPECT_EQ(bytes[4], 64);
  EXPECT_EQ(bytes[8] | bytes[9] << 8, 412);
  EXPECT_EQ(bytes[15], 59);
  EXPECT_EQ(u32At(bytes, 16), 7u);
  EXPECT_EQ(u32At(bytes, 28), 10u);
  EXPECT_EQ(bytes[32], 3);
  EXPECT_EQ(bytes[36 + 291], 'c');
  const size_t channel2 = 328 + 2 * 28;
  EXPECT_EQ(bytes[channel2], 5);
  EXPECT_EQ(bytes[channel2 + 5], 0x8C);
  EXPECT_EQ(bytes[channel2 + 16], 'u');
  EXPECT_EQ(u32At(bytes, 328 + 23 * 28 + 24), 0x3F800000u);
}

TEST(Layout, HeaderSizeWrapsFrom46Channels) {
  EXPECT_EQ(headerLength(0), 1500u);
  EXPECT_EQ(headerLength(45), 64500u);
  EXPECT_EQ(headerSizeField(45), 64500);
  EXPECT_EQ(dataOffset(headerSizeField(45), 45), 64500u);
  EXPECT_EQ(headerSizeField(46), 364);
  EXPECT_EQ(dataOffset(headerSizeField(46), 46), 65900u);
  EXPECT_EQ(headerSizeField(47), 1764);
  EXPECT_EQ(dataOffset(1764, 47), 67300u);
  EXPECT_EQ(headerSizeField(48), 3164);
  EXPECT_EQ(dataOffset(headerSizeField(48), 48), 68700u);
  // Up to 45 channels the stored field is taken as it is.
  EXPECT_EQ(dataOffset(384, 2), 384u);
}

TEST(Layout, RecordAndCompactSizes) {
  EXPECT_EQ(recordSize(1), 4u);
  EXPECT_EQ(recordSize(48), 192u);
  EXPECT_EQ(compactHeaderLength(3), 412u);
  EXPECT_EQ(compactHeaderLength(24), 1000u);
}

}  // namespace
}  // namespace kdrvx::format
