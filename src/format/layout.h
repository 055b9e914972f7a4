// Byte layouts of the RVX file: the current header RVX_HEADER with its
// channel records MGR_DEF, and the compact WIN 3.x/4.x header RVX_HEADER_W3
// with its entries MGR_DEF_W3. In memory each type is the exact image of the
// bytes on disk (little-endian, no padding of its own): every field sits at
// its file offset, which the static_asserts below check field by field.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace kdrvx::format {

static_assert(std::endian::native == std::endian::little,
              "the header types are images of little-endian bytes");
static_assert(sizeof(char16_t) == 2 && sizeof(float) == 4);

// Current layout (version letter 's').
inline constexpr uint32_t kHeaderFixedSize = 1500;
inline constexpr uint32_t kChannelRecordSize = 1400;
inline constexpr uint32_t kMaxChannels = 48;
inline constexpr uint32_t kHeaderBufferSize = kHeaderFixedSize + kMaxChannels * kChannelRecordSize;
// Up to this many channels the 16-bit HeaderSize holds the true header
// length; beyond, it wraps and readers compute the length themselves.
inline constexpr uint32_t kMaxChannelsWithExactHeaderSize = 45;

// Compact WIN 3.x/4.x layout.
inline constexpr uint32_t kCompactFixedSize = 328;
inline constexpr uint32_t kCompactChannelSize = 28;
inline constexpr uint32_t kCompactMaxChannels = 24;
inline constexpr uint32_t kCompactBufferSize =
    kCompactFixedSize + kCompactMaxChannels * kCompactChannelSize;

inline constexpr uint8_t kCurrentVersion = 's';  // 115
inline constexpr uint8_t kCompactVersion = 64;   // '@'
inline constexpr uint8_t kOriginalRecording = 'W';
inline constexpr uint8_t kNotOriginalRecording = 'X';
inline constexpr uint8_t kNoSeconds = 255;
inline constexpr uint8_t kScanRateInMicroseconds = 0x01;  // bit 0 of Flags
inline constexpr uint32_t kBytesPerValue = 4;

// Channel record of the current layout, 1400 bytes.
struct MGR_DEF {
  uint32_t ChannelIndRate;      // individual scan-rate divisor, 1 = every record
  uint16_t Reserved04;          // carried over from older channel entries
  char16_t VariableLetter;      // letter of the variable (second of two)
  char16_t VariablePrefix;      // first letter of a two-letter variable, or 0
  int8_t VariableIndex;         // number after the letters, 1 or more
  uint8_t Reserved0B;           // carried over from older channel entries
  uint8_t MultiChannel;         // 0, or the number of bits of a multichannel
  uint8_t Zero0D;
  char16_t ChannelUnit[12];
  char16_t ChannelName[24];
  char16_t ChannelNumber[4];
  char16_t ChannelSignalType[32];
  char16_t ChannelZeroPoint[16];
  char16_t ChannelCalParameter[128];
  char16_t ChannelFilter[32];
  uint8_t ISDS;
  uint8_t Linearisation;
  uint8_t Zero200[2];
  char16_t ChannelLintab[200];
  uint8_t Reserved392[466];
  float MinValue;
  float MaxValue;
  float MeanValue;
  float RMSValue;
  float SDevValue;              // never computed by the library
};

// Header of the current layout with room for the maximum of channels,
// 68700 bytes. On disk only the fixed part and NoChannels records are
// written.
struct RVX_HEADER {
  uint32_t LeadWord;            // 0; non-zero marks the oldest DOS layout
  uint8_t Version;              // version letter, 's' when written
  uint8_t OriginalFlag;         // 'X': not an original recording
  uint16_t Reserved06;          // carried over from WIN 3.x/4.x and WIN 6.x
  uint16_t HeaderSize;          // header length modulo 65536
  uint16_t Year;
  uint8_t Month;
  uint8_t Day;
  uint8_t Hour;
  uint8_t Minute;
  uint8_t Second;               // 255: no seconds recorded
  uint8_t Reserved11;
  uint16_t Reserved12;          // 0xFFFF in files the library creates
  uint32_t NoRecords;
  uint32_t NoTriggerRecord;
  uint16_t Reserved1C;          // carried over from every older layout
  uint8_t Zero1E[2];
  uint32_t ScanRate;            // milliseconds, or microseconds with Flags bit 0
  uint8_t NoChannels;
  uint8_t FlagStatistics;       // 0 none, 1 min/max, 3 min/max/mean/RMS
  uint8_t Flags;                // bit 0: ScanRate in microseconds
  uint8_t Zero27[9];
  char16_t Comment[292];
  char16_t Company[64];
  char16_t Instrument[64];
  char16_t SnrInstrument[16];
  char16_t NameMeasurement[24];
  char16_t TriggerSetting[64];
  uint8_t Zero448[404];
  MGR_DEF Channel[kMaxChannels];
};

// Channel entry of the compact layout, 28 bytes.
struct MGR_DEF_W3 {
  uint16_t ChannelIndRate;
  uint16_t Reserved04;
  uint8_t VariableLetter;
  uint8_t VariableCode;         // bits 0-5 index; 0x80 'd', 0x40 other, 0x20 'A'
  char ChannelUnit[11];         // 8-bit text
  uint8_t Reserved0B;
  uint8_t Zero12[2];
  float MinValue;
  float MaxValue;
};

// Header of the compact WIN 3.x/4.x layout with room for 24 channels,
// 1000 bytes.
struct RVX_HEADER_W3 {
  uint32_t LeadWord;
  uint8_t Version;              // 64
  uint8_t OriginalFlag;         // 'W'
  uint16_t Reserved06;
  uint16_t HeaderSize;          // 328 + 28 * NoChannels
  uint16_t Year;
  uint8_t Month;
  uint8_t Day;
  uint8_t Hour;
  uint8_t Minute;               // no seconds in this layout
  uint32_t NoRecords;
  uint32_t NoTriggerRecord;
  uint16_t Reserved1C;
  uint8_t Zero1A[2];
  uint32_t ScanRate;
  uint8_t NoChannels;
  uint8_t FlagStatistics;
  uint8_t Flags;
  uint8_t Zero23;
  char Comment[292];            // 8-bit text
  MGR_DEF_W3 Channel[kCompactMaxChannels];
};

#define KDRVX_FIELD_AT(type, field, offset) \
  static_assert(offsetof(type, field) == (offset), #type "::" #field " is not at " #offset)

KDRVX_FIELD_AT(MGR_DEF, ChannelIndRate, 0);
KDRVX_FIELD_AT(MGR_DEF, Reserved04, 4);
KDRVX_FIELD_AT(MGR_DEF, VariableLetter, 6);
KDRVX_FIELD_AT(MGR_DEF, VariablePrefix, 8);
KDRVX_FIELD_AT(MGR_DEF, VariableIndex, 10);
KDRVX_FIELD_AT(MGR_DEF, Reserved0B, 11);
KDRVX_FIELD_AT(MGR_DEF, MultiChannel, 12);
KDRVX_FIELD_AT(MGR_DEF, Zero0D, 13);
KDRVX_FIELD_AT(MGR_DEF, ChannelUnit, 14);
KDRVX_FIELD_AT(MGR_DEF, ChannelName, 38);
KDRVX_FIELD_AT(MGR_DEF, ChannelNumber, 86);
KDRVX_FIELD_AT(MGR_DEF, ChannelSignalType, 94);
KDRVX_FIELD_AT(MGR_DEF, ChannelZeroPoint, 158);
KDRVX_FIELD_AT(MGR_DEF, ChannelCalParameter, 190);
KDRVX_FIELD_AT(MGR_DEF, ChannelFilter, 446);
KDRVX_FIELD_AT(MGR_DEF, ISDS, 510);
KDRVX_FIELD_AT(MGR_DEF, Linearisation, 511);
KDRVX_FIELD_AT(MGR_DEF, Zero200, 512);
KDRVX_FIELD_AT(MGR_DEF, ChannelLintab, 514);
KDRVX_FIELD_AT(MGR_DEF, Reserved392, 914);
KDRVX_FIELD_AT(MGR_DEF, MinValue, 1380);
KDRVX_FIELD_AT(MGR_DEF, MaxValue, 1384);
KDRVX_FIELD_AT(MGR_DEF, MeanValue, 1388);
KDRVX_FIELD_AT(MGR_DEF, RMSValue, 1392);
KDRVX_FIELD_AT(MGR_DEF, SDevValue, 1396);
static_assert(sizeof(MGR_DEF) == kChannelRecordSize);

KDRVX_FIELD_AT(RVX_HEADER, LeadWord, 0);
KDRVX_FIELD_AT(RVX_HEADER, Version, 4);
KDRVX_FIELD_AT(RVX_HEADER, OriginalFlag, 5);
KDRVX_FIELD_AT(RVX_HEADER, Reserved06, 6);
KDRVX_FIELD_AT(RVX_HEADER, HeaderSize, 8);
KDRVX_FIELD_AT(RVX_HEADER, Year, 10);
KDRVX_FIELD_AT(RVX_HEADER, Month, 12);
KDRVX_FIELD_AT(RVX_HEADER, Day, 13);
KDRVX_FIELD_AT(RVX_HEADER, Hour, 14);
KDRVX_FIELD_AT(RVX_HEADER, Minute, 15);
KDRVX_FIELD_AT(RVX_HEADER, Second, 16);
KDRVX_FIELD_AT(RVX_HEADER, Reserved11, 17);
KDRVX_FIELD_AT(RVX_HEADER, Reserved12, 18);
KDRVX_FIELD_AT(RVX_HEADER, NoRecords, 20);
KDRVX_FIELD_AT(RVX_HEADER, NoTriggerRecord, 24);
KDRVX_FIELD_AT(RVX_HEADER, Reserved1C, 28);
KDRVX_FIELD_AT(RVX_HEADER, Zero1E, 30);
KDRVX_FIELD_AT(RVX_HEADER, ScanRate, 32);
KDRVX_FIELD_AT(RVX_HEADER, NoChannels, 36);
KDRVX_FIELD_AT(RVX_HEADER, FlagStatistics, 37);
KDRVX_FIELD_AT(RVX_HEADER, Flags, 38);
KDRVX_FIELD_AT(RVX_HEADER, Zero27, 39);
KDRVX_FIELD_AT(RVX_HEADER, Comment, 48);
KDRVX_FIELD_AT(RVX_HEADER, Company, 632);
KDRVX_FIELD_AT(RVX_HEADER, Instrument, 760);
KDRVX_FIELD_AT(RVX_HEADER, SnrInstrument, 888);
KDRVX_FIELD_AT(RVX_HEADER, NameMeasurement, 920);
KDRVX_FIELD_AT(RVX_HEADER, TriggerSetting, 968);
KDRVX_FIELD_AT(RVX_HEADER, Zero448, 1096);
KDRVX_FIELD_AT(RVX_HEADER, Channel, kHeaderFixedSize);
static_assert(sizeof(RVX_HEADER) == kHeaderBufferSize && kHeaderBufferSize == 68700);

KDRVX_FIELD_AT(MGR_DEF_W3, ChannelIndRate, 0);
KDRVX_FIELD_AT(MGR_DEF_W3, Reserved04, 2);
KDRVX_FIELD_AT(MGR_DEF_W3, VariableLetter, 4);
KDRVX_FIELD_AT(MGR_DEF_W3, VariableCode, 5);
KDRVX_FIELD_AT(MGR_DEF_W3, ChannelUnit, 6);
KDRVX_FIELD_AT(MGR_DEF_W3, Reserved0B, 17);
KDRVX_FIELD_AT(MGR_DEF_W3, Zero12, 18);
KDRVX_FIELD_AT(MGR_DEF_W3, MinValue, 20);
KDRVX_FIELD_AT(MGR_DEF_W3, MaxValue, 24);
static_assert(sizeof(MGR_DEF_W3) == kCompactChannelSize);

KDRVX_FIELD_AT(RVX_HEADER_W3, LeadWord, 0);
KDRVX_FIELD_AT(RVX_HEADER_W3, Version, 4);
KDRVX_FIELD_AT(RVX_HEADER_W3, OriginalFlag, 5);
KDRVX_FIELD_AT(RVX_HEADER_W3, Reserved06, 6);
KDRVX_FIELD_AT(RVX_HEADER_W3, HeaderSize, 8);
KDRVX_FIELD_AT(RVX_HEADER_W3, Year, 10);
KDRVX_FIELD_AT(RVX_HEADER_W3, Month, 12);
KDRVX_FIELD_AT(RVX_HEADER_W3, Day, 13);
KDRVX_FIELD_AT(RVX_HEADER_W3, Hour, 14);
KDRVX_FIELD_AT(RVX_HEADER_W3, Minute, 15);
KDRVX_FIELD_AT(RVX_HEADER_W3, NoRecords, 16);
KDRVX_FIELD_AT(RVX_HEADER_W3, NoTriggerRecord, 20);
KDRVX_FIELD_AT(RVX_HEADER_W3, Reserved1C, 24);
KDRVX_FIELD_AT(RVX_HEADER_W3, Zero1A, 26);
KDRVX_FIELD_AT(RVX_HEADER_W3, ScanRate, 28);
KDRVX_FIELD_AT(RVX_HEADER_W3, NoChannels, 32);
KDRVX_FIELD_AT(RVX_HEADER_W3, FlagStatistics, 33);
KDRVX_FIELD_AT(RVX_HEADER_W3, Flags, 34);
KDRVX_FIELD_AT(RVX_HEADER_W3, Zero23, 35);
KDRVX_FIELD_AT(RVX_HEADER_W3, Comment, 36);
KDRVX_FIELD_AT(RVX_HEADER_W3, Channel, kCompactFixedSize);
static_assert(sizeof(RVX_HEADER_W3) == kCompactBufferSize && kCompactBufferSize == 1000);

#undef KDRVX_FIELD_AT

// Size relations of the current layout, for n channels.

// Header length on disk, which is also the offset of the first record.
constexpr uint32_t headerLength(uint32_t channels) {
  return kHeaderFixedSize + kChannelRecordSize * channels;
}

// What the 16-bit HeaderSize field holds: the header length modulo 65536.
constexpr uint16_t headerSizeField(uint32_t channels) {
  return static_cast<uint16_t>(headerLength(channels));
}

// Where a reader finds the first record: HeaderSize up to 45 channels, the
// computed length beyond, where HeaderSize has wrapped.
constexpr uint32_t dataOffset(uint16_t headerSize, uint32_t channels) {
  return channels > kMaxChannelsWithExactHeaderSize ? headerLength(channels) : headerSize;
}
inline uint32_t dataOffset(const RVX_HEADER& header) {
  return dataOffset(header.HeaderSize, header.NoChannels);
}

constexpr uint32_t recordSize(uint32_t channels) { return kBytesPerValue * channels; }

// Header length of the compact layout on disk.
constexpr uint32_t compactHeaderLength(uint32_t channels) {
  return kCompactFixedSize + kCompactChannelSize * channels;
}

}  // namespace kdrvx::format
