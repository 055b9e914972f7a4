// Import of the seven header layouts into the current RVX_HEADER.
//
// The layout is recognised from the raw bytes by a fixed order of tests.
// Each older layout has its own small converter: it takes a copy of the raw
// bytes that the layout uses, clears the whole buffer and fills the fields of
// the current header that the layout knows. Raw fields are described once,
// per layout, as typed little-endian fields at their offsets, and are read
// only through RawView, which never reads outside the copy.
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

#include "kdrvx/kdrvx.h"
#include "library/state.h"
#include "library/trace.h"

namespace kdrvx::format {
namespace {

// A little-endian field of type T at a byte offset of a raw header or entry.
template <typename T>
struct RawField {
  uint32_t offset;
};

// A text of 8-bit characters or of UTF-16 units at a byte offset, `units`
// long at most.
struct RawText {
  uint32_t offset;
  uint32_t units;
};

template <typename T>
constexpr uint32_t endOf(RawField<T> field) {
  return field.offset + static_cast<uint32_t>(sizeof(T));
}
constexpr uint32_t endOf8Bit(RawText text) { return text.offset + text.units; }
constexpr uint32_t endOfUtf16(RawText text) { return text.offset + 2 * text.units; }

// Read access to raw bytes. A field that does not lie wholly inside the view
// reads as 0, so no offset can lead outside it.
class RawView {
 public:
  RawView(const uint8_t* bytes, uint32_t size) : bytes_(bytes), size_(size) {}

  template <typename T>
  T operator[](RawField<T> field) const {
    if (field.offset > size_ || size_ - field.offset < sizeof(T)) return T{};
    std::make_unsigned_t<T> value = 0;
    for (uint32_t i = 0; i < sizeof(T); ++i)
      value |= static_cast<std::make_unsigned_t<T>>(bytes_[field.offset + i]) << (8 * i);
    return static_cast<T>(value);
  }

  // The `size` bytes at `offset`, or an empty view where they do not fit.
  RawView part(uint32_t offset, uint32_t size) const {
    if (offset > size_ || size_ - offset < size) return RawView(bytes_, 0);
    return RawView(bytes_ + offset, size);
  }

  // Widens the zero-terminated 8-bit text into `field` (terminator
  // included), cut so that a zero always ends it inside the field.
  template <size_t N>
  void widen8Bit(RawText text, char16_t (&field)[N]) const {
    appendWidened(text, field, 0);
  }

  // Appends the zero-terminated 8-bit text to the text already in `field`
  // from `at` on; returns the new length. The field stays terminated.
  template <size_t N>
  size_t appendWidened(RawText text, char16_t (&field)[N], size_t at) const {
    RawView run = part(text.offset, text.units);
    for (uint32_t i = 0; i < run.size_ && run.bytes_[i] != 0 && at < N - 1; ++i)
      field[at++] = run.bytes_[i];
    field[at] = 0;
    return at;
  }

  // Copies the zero-terminated UTF-16 text into `field`, cut so that a zero
  // always ends it inside the field.
  template <size_t N>
  void copyUtf16(RawText text, char16_t (&field)[N]) const {
    size_t at = 0;
    for (uint32_t i = 0; i < text.units && at < N - 1; ++i) {
      const char16_t unit = (*this)[RawField<uint16_t>{text.offset + 2 * i}];
      if (unit == 0) break;
      field[at++] = unit;
    }
    field[at] = 0;
  }

 private:
  const uint8_t* bytes_;
  uint32_t size_;
};

// A copy of the first N bytes of the buffer, taken before it is cleared.
template <uint32_t N>
class RawCopy {
  static_assert(N <= kHeaderBufferSize);

 public:
  explicit RawCopy(const RVX_HEADER& header) { std::memcpy(bytes_.data(), &header, N); }
  RawView view() const { return RawView(bytes_.data(), N); }

 private:
  std::array<uint8_t, N> bytes_;
};

RawView viewOf(const RVX_HEADER& header) {
  return RawView(reinterpret_cast<const uint8_t*>(&header), kHeaderBufferSize);
}

// ---- The raw layouts -------------------------------------------------------

// DOS before 5.0: a scan interval, then one 4-byte entry per channel, the
// list ended by '.' in the letter byte of the entry after the last channel.
namespace dos4 {
constexpr RawField<uint32_t> kScanRate{0};
constexpr uint32_t kFirstEntry = 4;
constexpr uint32_t kEntrySize = 4;
constexpr uint32_t kMaxChannels = 23;
constexpr RawField<int8_t> kLetter{0};  // sign-extended into VariableLetter
constexpr RawField<uint8_t> kCode{1};
constexpr uint8_t kListEnd = '.';
constexpr uint8_t kIndexBits = 0x3F;
// The data follow the '.' and one further byte.
constexpr uint32_t kListEndLength = 2;
// Room for the entries and for the slot after the last that holds the '.'.
constexpr uint32_t kUsed = kFirstEntry + kEntrySize * (kMaxChannels + 1);
}  // namespace dos4

// DOS 5.0/5.1, kind Q: a few counts in the first 512 bytes, no channel entries.
namespace dosQ {
constexpr uint32_t kUsed = 512;
constexpr RawField<uint16_t> kDataOffset{6};
constexpr RawField<uint32_t> kNoRecords{14};
constexpr RawField<uint16_t> kReserved1C{18};
constexpr RawField<uint8_t> kNoChannels{24};
// A 'P' header whose kind-Q fields look like kind Q is kind Q.
constexpr uint8_t kMaxChannelsOfPAsQ = 12;
}  // namespace dosQ

// DOS 5.0/5.1, kind P: counts and 8-byte channel entries in 511 bytes.
namespace dosP {
constexpr uint32_t kUsed = 511;
constexpr RawField<uint8_t> kVersion{4};
constexpr RawField<uint16_t> kDataOffset{5};
constexpr RawField<uint32_t> kNoRecords{13};
constexpr RawField<uint16_t> kReserved1C{17};
constexpr RawField<uint32_t> kScanRate{19};
constexpr RawField<uint8_t> kNoChannels{23};
constexpr uint32_t kFirstEntry = 323;
constexpr uint32_t kEntrySize = 8;
constexpr RawField<int8_t> kLetter{0};  // sign-extended into VariableLetter
constexpr RawField<int8_t> kIndex{1};   // all 8 bits
static_assert(endOf(kNoChannels) <= kFirstEntry);
}  // namespace dosP

// WIN 2.x: fixed part of 320 bytes with a four-line 8-bit comment, then
// 24-byte channel entries.
namespace win2 {
constexpr uint32_t kMaxChannels = 24;
constexpr uint32_t kFirstEntry = 320;
constexpr uint32_t kEntrySize = 24;
constexpr uint32_t kUsed = kFirstEntry + kMaxChannels * kEntrySize;  // 896
constexpr RawField<uint32_t> kLeadWord{0};
constexpr RawField<uint8_t> kVersion{4};
constexpr RawField<uint16_t> kHeaderSize{6};
constexpr RawField<uint16_t> kYear{8};
constexpr RawField<uint8_t> kMonth{10};
constexpr RawField<uint8_t> kDay{11};
constexpr RawField<uint8_t> kHour{12};
constexpr RawField<uint8_t> kMinute{13};
constexpr RawField<uint32_t> kNoRecords{14};
constexpr RawField<uint16_t> kReserved1C{18};
constexpr RawField<uint32_t> kScanRate{20};
constexpr RawField<uint8_t> kNoChannels{24};
constexpr RawField<uint8_t> kFlagStatistics{25};
constexpr RawField<uint8_t> kFlags{26};
// Four comment lines, 73 bytes apart, each read for at most 90 bytes.
constexpr uint32_t kCommentLines = 4;
constexpr uint32_t kFirstCommentLine = 28;
constexpr uint32_t kCommentLineDistance = 73;
constexpr uint32_t kCommentLineLength = 90;
constexpr RawText commentLine(uint32_t line) {
  return {kFirstCommentLine + line * kCommentLineDistance, kCommentLineLength};
}
static_assert(endOf8Bit(commentLine(kCommentLines - 1)) <= kUsed);
// Channel entry.
constexpr RawField<uint16_t> kIndRate{0};
constexpr RawField<uint16_t> kReserved04{2};
constexpr RawField<uint8_t> kLetter{4};
constexpr RawField<uint8_t> kCode{5};
constexpr RawText kUnit{6, 12};              // overlaps Reserved0B and MinValue
constexpr RawField<uint8_t> kReserved0B{15};
constexpr RawField<uint32_t> kMinValue{16};
constexpr RawField<uint32_t> kMaxValue{20};
static_assert(endOf(kMaxValue) == kEntrySize && endOf8Bit(kUnit) <= kEntrySize);
}  // namespace win2

// WIN 3.x/4.x: the compact layout RVX_HEADER_W3 of the current library.
namespace win3 {
#define KDRVX_W3_FIELD(name) \
  RawField<decltype(RVX_HEADER_W3::name)> { offsetof(RVX_HEADER_W3, name) }
#define KDRVX_W3_ENTRY_FIELD(name) \
  RawField<decltype(MGR_DEF_W3::name)> { offsetof(MGR_DEF_W3, name) }
constexpr uint32_t kMaxChannels = kCompactMaxChannels;
constexpr uint32_t kFirstEntry = kCompactFixedSize;
constexpr uint32_t kEntrySize = kCompactChannelSize;
constexpr uint32_t kUsed = kCompactBufferSize;  // 1000
constexpr auto kLeadWord = KDRVX_W3_FIELD(LeadWord);
constexpr auto kVersion = KDRVX_W3_FIELD(Version);
constexpr auto kOriginalFlag = KDRVX_W3_FIELD(OriginalFlag);
constexpr auto kReserved06 = KDRVX_W3_FIELD(Reserved06);
constexpr auto kHeaderSize = KDRVX_W3_FIELD(HeaderSize);
constexpr auto kYear = KDRVX_W3_FIELD(Year);
constexpr auto kMonth = KDRVX_W3_FIELD(Month);
constexpr auto kDay = KDRVX_W3_FIELD(Day);
constexpr auto kHour = KDRVX_W3_FIELD(Hour);
constexpr auto kMinute = KDRVX_W3_FIELD(Minute);
constexpr auto kNoRecords = KDRVX_W3_FIELD(NoRecords);
constexpr auto kNoTriggerRecord = KDRVX_W3_FIELD(NoTriggerRecord);
constexpr auto kReserved1C = KDRVX_W3_FIELD(Reserved1C);
constexpr auto kScanRate = KDRVX_W3_FIELD(ScanRate);
constexpr auto kNoChannels = KDRVX_W3_FIELD(NoChannels);
constexpr auto kFlagStatistics = KDRVX_W3_FIELD(FlagStatistics);
constexpr auto kFlags = KDRVX_W3_FIELD(Flags);
constexpr RawText kComment{offsetof(RVX_HEADER_W3, Comment), sizeof(RVX_HEADER_W3::Comment)};
// Channel entry.
constexpr auto kIndRate = KDRVX_W3_ENTRY_FIELD(ChannelIndRate);
constexpr auto kReserved04 = KDRVX_W3_ENTRY_FIELD(Reserved04);
constexpr auto kLetter = KDRVX_W3_ENTRY_FIELD(VariableLetter);
constexpr auto kCode = KDRVX_W3_ENTRY_FIELD(VariableCode);
constexpr RawText kUnit{offsetof(MGR_DEF_W3, ChannelUnit), sizeof(MGR_DEF_W3::ChannelUnit)};
constexpr auto kReserved0B = KDRVX_W3_ENTRY_FIELD(Reserved0B);
constexpr RawField<uint32_t> kMinValue{offsetof(MGR_DEF_W3, MinValue)};
constexpr RawField<uint32_t> kMaxValue{offsetof(MGR_DEF_W3, MaxValue)};
#undef KDRVX_W3_FIELD
#undef KDRVX_W3_ENTRY_FIELD
}  // namespace win3

// WIN 6.x: the fields before the comment as WIN 3.x/4.x, a UTF-16 comment
// in their comment's place, then 40-byte channel entries with a UTF-16 unit.
namespace win6 {
constexpr uint32_t kMaxChannels = 24;
constexpr RawText kComment{win3::kComment.offset, 292};
constexpr uint32_t kFirstEntry = endOfUtf16(kComment);  // 620
constexpr uint32_t kEntrySize = 40;
constexpr uint32_t kUsed = kFirstEntry + kMaxChannels * kEntrySize;  // 1580
// Channel entry.
constexpr RawField<uint16_t> kIndRate{0};
constexpr RawField<uint16_t> kReserved04{2};
constexpr RawField<uint16_t> kLetter{4};
constexpr RawField<uint8_t> kCode{6};
constexpr RawText kUnit{8, 12};              // overlaps Reserved0B
constexpr RawField<uint8_t> kReserved0B{30};
constexpr RawField<uint32_t> kMinValue{32};
constexpr RawField<uint32_t> kMaxValue{36};
static_assert(kFirstEntry == 620 && kUsed == 1580);
static_assert(endOf(kMaxValue) == kEntrySize && endOfUtf16(kUnit) <= kEntrySize);
}  // namespace win6

// Version letters that decide the layout.
constexpr uint8_t kVersionKindQ = 'Q';
constexpr uint8_t kVersionKindP = 'P';
constexpr uint8_t kVersionSparseWin2 = 'R';
constexpr uint8_t kFirstWin3Version = '0';  // 48
constexpr uint8_t kVersionWin6 = 96;
constexpr uint8_t kDeveloperVersions[] = {'p', 'q'};

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

ImportResult importDosBefore50(RVX_HEADER& header, uint64_t fileLength) {
  const RawCopy<dos4::kUsed> copy(header);
  const RawView raw = copy.view();
  clear(header);
  header.ScanRate = raw[dos4::kScanRate];

  uint32_t n = 0;
  for (;; ++n) {
    const RawView entry = raw.part(dos4::kFirstEntry + n * dos4::kEntrySize, dos4::kEntrySize);
    const int8_t letter = entry[dos4::kLetter];
    if (static_cast<uint8_t>(letter) == dos4::kListEnd) break;
    if (n == dos4::kMaxChannels) return {KDRVX_ERR_RVX_INVALID_HEADER, 0, 0};
    MGR_DEF& channel = header.Channel[n];
    channel.VariableLetter = static_cast<char16_t>(static_cast<int16_t>(letter));
    channel.VariableIndex = static_cast<int8_t>(entry[dos4::kCode] & dos4::kIndexBits);
  }
  header.NoChannels = static_cast<uint8_t>(n);

  ImportResult result;
  result.recordSize = static_cast<int32_t>(recordSize(n));
  result.dataOffset = dos4::kFirstEntry + dos4::kEntrySize * n + dos4::kListEndLength;
  header.NoRecords = recordsInFile(fileLength, result.dataOffset, result.recordSize);
  return result;
}

ImportResult importDosKindQ(RVX_HEADER& header) {
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

ImportResult importDosKindP(RVX_HEADER& header) {
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

void importWin2(RVX_HEADER& header) {
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
}

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

void importWin3(RVX_HEADER& header) {
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
}

void importWin6(RVX_HEADER& header) {
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
}

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
  if (n == 0 || n > kMaxChannels) return {KDRVX_ERR_RVX_INVALID_HEADER, 0, 0};
  ImportResult result;
  result.recordSize = static_cast<int32_t>(recordSize(n));
  result.dataOffset = dataOffset(header);
  repairDeltaOne(header);
  return result;
}

void traceLayout(const char16_t* line) { trace::lineIf(trace::kCalls, line); }

bool isDeveloperVersion(uint8_t version) {
  return std::find(std::begin(kDeveloperVersions), std::end(kDeveloperVersions), version) !=
         std::end(kDeveloperVersions);
}

bool isWin2(uint8_t version, uint8_t originalFlag) {
  const bool knownFlag = originalFlag == kOriginalRecording || originalFlag == kNotOriginalRecording;
  return version < kFirstWin3Version || !knownFlag ||
         (version == kVersionSparseWin2 && originalFlag == kOriginalRecording);
}

}  // namespace

uint32_t recordsInFile(uint64_t fileLength, int64_t dataOffset, int32_t recordSize) {
  if (recordSize <= 0) return 0;
  const auto bytes = static_cast<int32_t>(static_cast<uint32_t>(fileLength) -
                                          static_cast<uint32_t>(dataOffset));
  return static_cast<uint32_t>(bytes / recordSize);
}

ImportResult importHeader(RVX_HEADER& header, uint64_t fileLength) {
  uint32_t& sourceVersion = library::state().sourceVersion;
  if (header.LeadWord != 0) {
    sourceVersion = 0;
    traceLayout(u"KDrvxLibrary: RVX version DOS <5.0 ");
    ImportResult result = importDosBefore50(header, fileLength);
    if (result.status == 0) repairDeltaOne(header);
    return result;
  }

  const RawView raw = viewOf(header);
  if (header.Version == kVersionKindP && raw[dosQ::kReserved1C] == 0 &&
      raw[dosQ::kNoChannels] <= dosQ::kMaxChannelsOfPAsQ) {
    header.Version = kVersionKindQ;
  }

  const uint8_t version = header.Version;
  sourceVersion = version;
  if (version > kCurrentVersion) return {KDRVX_ERR_RVX_NEWER_VERSION, 0, 0};
  if (isDeveloperVersion(version)) return {KDRVX_ERR_RVX_DEVELOPER_VERSION, 0, 0};

  if (version == kVersionKindQ || version == kVersionKindP) {
    traceLayout(u"KDrvxLibrary: RVX version DOS 5.0/5.1 ");
    return version == kVersionKindQ ? importDosKindQ(header) : importDosKindP(header);
  }
  if (isWin2(version, header.OriginalFlag)) {
    traceLayout(u"KDrvxLibrary: RVX version WIN 2.x ");
    importWin2(header);
  } else if (version < kVersionWin6) {
    traceLayout(u"KDrvxLibrary: RVX version WIN 3.x/4.x ");
    importWin3(header);
  } else if (version == kVersionWin6) {
    traceLayout(u"KDrvxLibary: RVX version WIN 6.x ");
    importWin6(header);
  } else {
    traceLayout(u"KDrvxLibary: RVX version WIN 7.x ");
  }
  return commonEnd(header);
}

}  // namespace kdrvx::format
