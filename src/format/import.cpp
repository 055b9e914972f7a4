// Import of the seven header layouts into the current RVX_HEADER.
//
// The layout is recognised from the raw bytes by testing the rows of the
// layout table (layouts.cpp) in order. Each older layout has its own small
// converter: it takes a copy of the raw bytes that the layout uses, clears
// the whole buffer and fills the fields of the current header that the
// layout knows. Raw fields are described once, per layout, in
// raw_layouts.h, and are read only through RawView, which never reads
// outside the copy.
//
// Decisions for input that the layouts cannot express:
// - Channel entries that would lie beyond the bytes a layout examines (kind P
//   beyond 24 channels within its 511 bytes, and WIN 2.x, WIN 3.x/4.x and
//   WIN 6.x beyond their 24 entries when a header claims 25 to 48 channels)
//   are not read: those channel records stay zero, while the data records
//   stay readable.
// - Kind P and kind Q headers with more than 48 channels are refused with
//   ERR_RVX_INVALID_HEADER, as every other layout is: the converted header
//   holds 48 channel records and the record readers convert at most 48
//   values.
// - A DOS before 5.0 list that ends at once has no channels and no records:
//   NoRecords stays 0 instead of dividing by a record size of 0.
// - A record count that comes out negative (a file shorter than its data
//   offset, a DOS file of 2 GiB or more) is stored as it comes out of the
//   signed 32-bit division, as hosts of the library have always been given
//   it; readers that size anything by it cap it by the file's length.
// - Every text the import writes ends with a zero inside its field: texts
//   without a terminator in the raw bytes, and comments that outgrow the 291
//   characters of Comment, are cut to the field's capacity - 1 units.
#include "format/import.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "format/raw_layouts.h"
#include "kdrvx/kdrvx.h"

namespace kdrvx::format {

using namespace raw;

namespace {

// ---- Pieces shared by the converters ---------------------------------------

// Variable code byte of the WIN 2.x, WIN 3.x/4.x and WIN 6.x channel
// entries: bits 5 to 7 mark a prefix, bits 0 to 5 the index.
constexpr uint8_t kCodeDelta = 0x80;
constexpr uint8_t kCodeOtherPrefix = 0x40;
constexpr uint8_t kCodePrefixA = 0x20;
constexpr uint8_t kCodeIndexBits = 0x3F;
constexpr char16_t kOtherPrefix = 0xFFF5;

void decodeVariable(uint8_t code, MGR_DEF& channel) {
  if (code & kCodeDelta) {
    channel.VariablePrefix = u'd';
  } else if (code & kCodeOtherPrefix) {
    channel.VariablePrefix = kOtherPrefix;
  } else if ((code & kCodePrefixA) && channel.VariableLetter == u'A') {
    channel.VariablePrefix = u'A';
    code &= static_cast<uint8_t>(~kCodePrefixA);
  } else {
    channel.VariablePrefix = 0;
  }
  channel.VariableIndex = static_cast<int8_t>(code & kCodeIndexBits);
}

float floatFromBits(uint32_t bits) { return std::bit_cast<float>(bits); }

uint8_t statisticsFlag(uint8_t raw) { return raw != 0 ? 1 : 0; }

// Number of channel entries that lie inside the bytes a layout examines.
uint32_t entriesToRead(uint32_t channels, uint32_t entriesInLayout) {
  return std::min(channels, entriesInLayout);
}

void clear(RVX_HEADER& header) { std::memset(&header, 0, sizeof header); }

// ---- One converter per layout ----------------------------------------------

// A variable stored as prefix 'd' and letter '1' is the variable d.
void repairDeltaOne(RVX_HEADER& header) {
  const uint32_t channels = std::min<uint32_t>(header.NoChannels, kMaxChannels);
  for (uint32_t k = 0; k < channels; ++k) {
    MGR_DEF& channel = header.Channel[k];
    if (channel.VariableLetter == u'1' && channel.VariablePrefix == u'd') {
      channel.VariableLetter = u'd';
      channel.VariablePrefix = 0;
    }
  }
}

// Checks and sizes shared by the WIN layouts.
ImportResult commonEnd(RVX_HEADER& header) {
  const uint32_t n = header.NoChannels;
  ImportResult result;
  if (n == 0 || n > kMaxChannels) {
    result.status = KDRVX_ERR_RVX_INVALID_HEADER;
    return result;
  }
  result.recordSize = static_cast<int32_t>(recordSize(n));
  result.dataOffset = dataOffset(header);
  repairDeltaOne(header);
  return result;
}

}  // namespace

ImportResult convertDosBefore50(RVX_HEADER& header, uint64_t fileLength) {
  const RawCopy<dos4::kUsed> copy(header);
  const RawView raw = copy.view();
  clear(header);
  header.ScanRate = raw[dos4::kScanRate];

  uint32_t n = 0;
  for (;; ++n) {
    const RawView entry = raw.part(dos4::kFirstEntry + n * dos4::kEntrySize, dos4::kEntrySize);
    const int8_t letter = entry[dos4::kLetter];
    if (static_cast<uint8_t>(letter) == dos4::kListEnd) break;
    if (n == dos4::kMaxChannels) {
      ImportResult refused;
      refused.status = KDRVX_ERR_RVX_INVALID_HEADER;
      return refused;
    }
    MGR_DEF& channel = header.Channel[n];
    channel.VariableLetter = static_cast<char16_t>(static_cast<int16_t>(letter));
    channel.VariableIndex = static_cast<int8_t>(entry[dos4::kCode] & dos4::kIndexBits);
  }
  header.NoChannels = static_cast<uint8_t>(n);

  ImportResult result;
  result.recordSize = static_cast<int32_t>(recordSize(n));
  result.dataOffset = dos4::kFirstEntry + dos4::kEntrySize * n + dos4::kListEndLength;
  header.NoRecords = recordsInFile(fileLength, result.dataOffset, result.recordSize);
  repairDeltaOne(header);
  return result;
}

ImportResult convertDosKindQ(RVX_HEADER& header, uint64_t) {
  const RawCopy<dosQ::kUsed> copy(header);
  const RawView raw = copy.view();
  clear(header);
  header.NoRecords = raw[dosQ::kNoRecords];
  header.Reserved1C = raw[dosQ::kReserved1C];
  header.NoChannels = raw[dosQ::kNoChannels];

  ImportResult result;
  result.dataOffset = raw[dosQ::kDataOffset];
  if (header.NoChannels > kMaxChannels) result.status = KDRVX_ERR_RVX_INVALID_HEADER;
  return result;
}

ImportResult convertDosKindP(RVX_HEADER& header, uint64_t) {
  const RawCopy<dosP::kUsed> copy(header);
  const RawView raw = copy.view();
  clear(header);
  header.Version = raw[dosP::kVersion];
  header.NoRecords = raw[dosP::kNoRecords];
  header.Reserved1C = raw[dosP::kReserved1C];
  header.ScanRate = raw[dosP::kScanRate];
  header.NoChannels = raw[dosP::kNoChannels];

  ImportResult result;
  result.dataOffset = raw[dosP::kDataOffset];
  if (header.NoChannels > kMaxChannels) {
    result.status = KDRVX_ERR_RVX_INVALID_HEADER;
    return result;
  }
  for (uint32_t k = 0; k < header.NoChannels; ++k) {
    // Only the first two bytes of an entry are used; an entry whose bytes
    // lie beyond the 511 examined reads as zero.
    const RawView entry = raw.part(dosP::kFirstEntry + k * dosP::kEntrySize, endOf(dosP::kIndex));
    MGR_DEF& channel = header.Channel[k];
    channel.VariableLetter = static_cast<char16_t>(static_cast<int16_t>(entry[dosP::kLetter]));
    channel.VariableIndex = entry[dosP::kIndex];
  }
  return result;
}

ImportResult convertWin2(RVX_HEADER& header, uint64_t) {
  const RawCopy<win2::kUsed> copy(header);
  const RawView raw = copy.view();
  clear(header);
  header.LeadWord = raw[win2::kLeadWord];
  header.Version = raw[win2::kVersion];
  header.OriginalFlag = 0;
  header.HeaderSize = raw[win2::kHeaderSize];
  header.Year = raw[win2::kYear];
  header.Month = raw[win2::kMonth];
  header.Day = raw[win2::kDay];
  header.Hour = raw[win2::kHour];
  header.Minute = raw[win2::kMinute];
  header.Second = kNoSeconds;
  header.NoRecords = raw[win2::kNoRecords];
  header.Reserved1C = raw[win2::kReserved1C];
  header.ScanRate = raw[win2::kScanRate];
  header.NoChannels = raw[win2::kNoChannels];
  header.FlagStatistics = statisticsFlag(raw[win2::kFlagStatistics]);
  header.Flags = raw[win2::kFlags];

  // Each line, even an empty one, ends with CR LF in the comment.
  size_t length = 0;
  for (uint32_t line = 0; line < win2::kCommentLines; ++line) {
    length = raw.appendWidened(win2::commentLine(line), header.Comment, length);
    for (char16_t unit : {u'\r', u'\n'}) {
      if (length + 1 >= std::size(header.Comment)) break;
      header.Comment[length++] = unit;
      header.Comment[length] = 0;
    }
  }

  for (uint32_t k = 0; k < entriesToRead(header.NoChannels, win2::kMaxChannels); ++k) {
    const RawView entry = raw.part(win2::kFirstEntry + k * win2::kEntrySize, win2::kEntrySize);
    MGR_DEF& channel = header.Channel[k];
    channel.ChannelIndRate = entry[win2::kIndRate];
    channel.Reserved04 = entry[win2::kReserved04];
    channel.VariableLetter = entry[win2::kLetter];
    decodeVariable(entry[win2::kCode], channel);
    entry.widen8Bit(win2::kUnit, channel.ChannelUnit);
    channel.Reserved0B = entry[win2::kReserved0B];
    channel.MinValue = floatFromBits(entry[win2::kMinValue]);
    channel.MaxValue = floatFromBits(entry[win2::kMaxValue]);
  }
  return commonEnd(header);
}

namespace {

// The fields before the comment, which WIN 3.x/4.x and WIN 6.x share.
void importWin3Prefix(const RawView& raw, RVX_HEADER& header) {
  header.LeadWord = raw[win3::kLeadWord];
  header.Version = raw[win3::kVersion];
  header.OriginalFlag = raw[win3::kOriginalFlag];
  header.Reserved06 = raw[win3::kReserved06];
  header.HeaderSize = raw[win3::kHeaderSize];
  header.Year = raw[win3::kYear];
  header.Month = raw[win3::kMonth];
  header.Day = raw[win3::kDay];
  header.Hour = raw[win3::kHour];
  header.Minute = raw[win3::kMinute];
  header.Second = kNoSeconds;
  header.NoRecords = raw[win3::kNoRecords];
  header.NoTriggerRecord = raw[win3::kNoTriggerRecord];
  header.Reserved1C = raw[win3::kReserved1C];
  header.ScanRate = raw[win3::kScanRate];
  header.NoChannels = raw[win3::kNoChannels];
  header.FlagStatistics = statisticsFlag(raw[win3::kFlagStatistics]);
  header.Flags = raw[win3::kFlags];
}

}  // namespace

ImportResult convertWin3(RVX_HEADER& header, uint64_t) {
  const RawCopy<win3::kUsed> copy(header);
  const RawView raw = copy.view();
  clear(header);
  importWin3Prefix(raw, header);
  raw.widen8Bit(win3::kComment, header.Comment);

  for (uint32_t k = 0; k < entriesToRead(header.NoChannels, win3::kMaxChannels); ++k) {
    const RawView entry = raw.part(win3::kFirstEntry + k * win3::kEntrySize, win3::kEntrySize);
    MGR_DEF& channel = header.Channel[k];
    channel.ChannelIndRate = entry[win3::kIndRate];
    channel.Reserved04 = entry[win3::kReserved04];
    channel.VariableLetter = entry[win3::kLetter];
    decodeVariable(entry[win3::kCode], channel);
    entry.widen8Bit(win3::kUnit, channel.ChannelUnit);
    channel.Reserved0B = entry[win3::kReserved0B];
    channel.MinValue = floatFromBits(entry[win3::kMinValue]);
    channel.MaxValue = floatFromBits(entry[win3::kMaxValue]);
  }
  return commonEnd(header);
}

ImportResult convertWin6(RVX_HEADER& header, uint64_t) {
  const RawCopy<win6::kUsed> copy(header);
  const RawView raw = copy.view();
  clear(header);
  importWin3Prefix(raw, header);
  raw.copyUtf16(win6::kComment, header.Comment);

  for (uint32_t k = 0; k < entriesToRead(header.NoChannels, win6::kMaxChannels); ++k) {
    const RawView entry = raw.part(win6::kFirstEntry + k * win6::kEntrySize, win6::kEntrySize);
    MGR_DEF& channel = header.Channel[k];
    channel.ChannelIndRate = entry[win6::kIndRate];
    channel.Reserved04 = entry[win6::kReserved04];
    channel.VariableLetter = entry[win6::kLetter];
    decodeVariable(entry[win6::kCode], channel);
    entry.copyUtf16(win6::kUnit, channel.ChannelUnit);
    channel.Reserved0B = entry[win6::kReserved0B];
    channel.MinValue = floatFromBits(entry[win6::kMinValue]);
    channel.MaxValue = floatFromBits(entry[win6::kMaxValue]);
  }
  return commonEnd(header);
}

ImportResult convertCurrent(RVX_HEADER& header, uint64_t) { return commonEnd(header); }

namespace {

bool isDeveloperVersion(uint8_t version) {
  return version == kDeveloperVersions[0] || version == kDeveloperVersions[1];
}

// The layout the first bytes begin with, by the fixed order of tests: a
// non-zero lead word is the oldest DOS layout; otherwise the version byte
// decides, after a 'P' header that looks like kind Q has become one, and
// versions above the current one and the developer versions are refused.
ImportResult recognise(RVX_HEADER& header) {
  ImportResult found;
  if (header.LeadWord != 0) {
    found.layout = &layoutOf(LayoutId::DosBefore50);
    return found;
  }
  const RawView raw = viewOf(header);
  if (header.Version == kVersionKindP && raw[dosQ::kReserved1C] == 0 &&
      raw[dosQ::kNoChannels] <= dosQ::kMaxChannelsOfPAsQ) {
    header.Version = kVersionKindQ;
  }
  const uint8_t version = header.Version;
  found.sourceVersion = version;
  if (version > kCurrentVersion) {
    found.status = KDRVX_ERR_RVX_NEWER_VERSION;
  } else if (isDeveloperVersion(version)) {
    found.status = KDRVX_ERR_RVX_DEVELOPER_VERSION;
  } else {
    for (const Layout& layout : layouts())
      if (layout.recognises != nullptr && layout.recognises(version, header.OriginalFlag)) {
        found.layout = &layout;
        break;
      }
  }
  return found;
}

}  // namespace

uint32_t recordsInFile(uint64_t fileLength, int64_t dataOffset, int32_t recordSize) {
  if (recordSize <= 0) return 0;
  const auto bytes = static_cast<int32_t>(static_cast<uint32_t>(fileLength) -
                                          static_cast<uint32_t>(dataOffset));
  return static_cast<uint32_t>(bytes / recordSize);
}

ImportResult importHeader(RVX_HEADER& header, uint64_t fileLength) {
  ImportResult found = recognise(header);
  if (found.layout == nullptr) return found;
  ImportResult converted = found.layout->convert(header, fileLength);
  converted.sourceVersion = found.sourceVersion;
  converted.layout = found.layout;
  return converted;
}

}  // namespace kdrvx::format
