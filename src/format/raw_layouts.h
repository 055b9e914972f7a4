// The byte positions of the older header layouts, each described once as
// typed little-endian fields at their offsets, and the bounded view through
// which the converters read them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "format/layout.h"

namespace kdrvx::format::raw {

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

inline RawView viewOf(const RVX_HEADER& header) {
  return RawView(reinterpret_cast<const uint8_t*>(&header), kHeaderBufferSize);
}

// ---- The raw layouts -------------------------------------------------------

// DOS before 5.0: a scan interval, then one 4-byte entry per channel, the
// list ended by '.' in the letter byte of the entry after the last channel.
namespace dos4 {
inline constexpr RawField<uint32_t> kScanRate{0};
inline constexpr uint32_t kFirstEntry = 4;
inline constexpr uint32_t kEntrySize = 4;
inline constexpr uint32_t kMaxChannels = 23;
inline constexpr RawField<int8_t> kLetter{0};  // sign-extended into VariableLetter
inline constexpr RawField<uint8_t> kCode{1};
inline constexpr uint8_t kListEnd = '.';
inline constexpr uint8_t kIndexBits = 0x3F;
// The data follow the '.' and one further byte.
inline constexpr uint32_t kListEndLength = 2;
// Room for the entries and for the slot after the last that holds the '.'.
inline constexpr uint32_t kUsed = kFirstEntry + kEntrySize * (kMaxChannels + 1);
}  // namespace dos4

// DOS 5.0/5.1, kind Q: a few counts in the first 512 bytes, no channel entries.
namespace dosQ {
inline constexpr uint32_t kUsed = 512;
inline constexpr RawField<uint16_t> kDataOffset{6};
inline constexpr RawField<uint32_t> kNoRecords{14};
inline constexpr RawField<uint16_t> kReserved1C{18};
inline constexpr RawField<uint8_t> kNoChannels{24};
// A 'P' header whose kind-Q fields look like kind Q is kind Q.
inline constexpr uint8_t kMaxChannelsOfPAsQ = 12;
}  // namespace dosQ

// DOS 5.0/5.1, kind P: counts and 8-byte channel entries in 511 bytes.
namespace dosP {
inline constexpr uint32_t kUsed = 511;
inline constexpr RawField<uint8_t> kVersion{4};
inline constexpr RawField<uint16_t> kDataOffset{5};
inline constexpr RawField<uint32_t> kNoRecords{13};
inline constexpr RawField<uint16_t> kReserved1C{17};
inline constexpr RawField<uint32_t> kScanRate{19};
inline constexpr RawField<uint8_t> kNoChannels{23};
inline constexpr uint32_t kFirstEntry = 323;
inline constexpr uint32_t kEntrySize = 8;
inline constexpr RawField<int8_t> kLetter{0};  // sign-extended into VariableLetter
inline constexpr RawField<int8_t> kIndex{1};   // all 8 bits
static_assert(endOf(kNoChannels) <= kFirstEntry);
}  // namespace dosP

// WIN 2.x: fixed part of 320 bytes with a four-line 8-bit comment, then
// 24-byte channel entries.
namespace win2 {
inline constexpr uint32_t kMaxChannels = 24;
inline constexpr uint32_t kFirstEntry = 320;
inline constexpr uint32_t kEntrySize = 24;
inline constexpr uint32_t kUsed = kFirstEntry + kMaxChannels * kEntrySize;  // 896
inline constexpr RawField<uint32_t> kLeadWord{0};
inline constexpr RawField<uint8_t> kVersion{4};
inline constexpr RawField<uint16_t> kHeaderSize{6};
inline constexpr RawField<uint16_t> kYear{8};
inline constexpr RawField<uint8_t> kMonth{10};
inline constexpr RawField<uint8_t> kDay{11};
inline constexpr RawField<uint8_t> kHour{12};
inline constexpr RawField<uint8_t> kMinute{13};
inline constexpr RawField<uint32_t> kNoRecords{14};
inline constexpr RawField<uint16_t> kReserved1C{18};
inline constexpr RawField<uint32_t> kScanRate{20};
inline constexpr RawField<uint8_t> kNoChannels{24};
inline constexpr RawField<uint8_t> kFlagStatistics{25};
inline constexpr RawField<uint8_t> kFlags{26};
// Four comment lines, 73 bytes apart, each read for at most 90 bytes.
inline constexpr uint32_t kCommentLines = 4;
inline constexpr uint32_t kFirstCommentLine = 28;
inline constexpr uint32_t kCommentLineDistance = 73;
inline constexpr uint32_t kCommentLineLength = 90;
inline constexpr RawText commentLine(uint32_t line) {
  return {kFirstCommentLine + line * kCommentLineDistance, kCommentLineLength};
}
static_assert(endOf8Bit(commentLine(kCommentLines - 1)) <= kUsed);
// Channel entry.
inline constexpr RawField<uint16_t> kIndRate{0};
inline constexpr RawField<uint16_t> kReserved04{2};
inline constexpr RawField<uint8_t> kLetter{4};
inline constexpr RawField<uint8_t> kCode{5};
inline constexpr RawText kUnit{6, 12};  // overlaps Reserved0B and MinValue
inline constexpr RawField<uint8_t> kReserved0B{15};
inline constexpr RawField<uint32_t> kMinValue{16};
inline constexpr RawField<uint32_t> kMaxValue{20};
static_assert(endOf(kMaxValue) == kEntrySize && endOf8Bit(kUnit) <= kEntrySize);
}  // namespace win2

// WIN 3.x/4.x: the compact layout RVX_HEADER_W3 of the current library.
namespace win3 {
#define KDRVX_W3_FIELD(name) \
  RawField<decltype(RVX_HEADER_W3::name)> { offsetof(RVX_HEADER_W3, name) }
#define KDRVX_W3_ENTRY_FIELD(name) \
  RawField<decltype(MGR_DEF_W3::name)> { offsetof(MGR_DEF_W3, name) }
inline constexpr uint32_t kMaxChannels = kCompactMaxChannels;
inline constexpr uint32_t kFirstEntry = kCompactFixedSize;
inline constexpr uint32_t kEntrySize = kCompactChannelSize;
inline constexpr uint32_t kUsed = kCompactBufferSize;  // 1000
inline constexpr auto kLeadWord = KDRVX_W3_FIELD(LeadWord);
inline constexpr auto kVersion = KDRVX_W3_FIELD(Version);
inline constexpr auto kOriginalFlag = KDRVX_W3_FIELD(OriginalFlag);
inline constexpr auto kReserved06 = KDRVX_W3_FIELD(Reserved06);
inline constexpr auto kHeaderSize = KDRVX_W3_FIELD(HeaderSize);
inline constexpr auto kYear = KDRVX_W3_FIELD(Year);
inline constexpr auto kMonth = KDRVX_W3_FIELD(Month);
inline constexpr auto kDay = KDRVX_W3_FIELD(Day);
inline constexpr auto kHour = KDRVX_W3_FIELD(Hour);
inline constexpr auto kMinute = KDRVX_W3_FIELD(Minute);
inline constexpr auto kNoRecords = KDRVX_W3_FIELD(NoRecords);
inline constexpr auto kNoTriggerRecord = KDRVX_W3_FIELD(NoTriggerRecord);
inline constexpr auto kReserved1C = KDRVX_W3_FIELD(Reserved1C);
inline constexpr auto kScanRate = KDRVX_W3_FIELD(ScanRate);
inline constexpr auto kNoChannels = KDRVX_W3_FIELD(NoChannels);
inline constexpr auto kFlagStatistics = KDRVX_W3_FIELD(FlagStatistics);
inline constexpr auto kFlags = KDRVX_W3_FIELD(Flags);
inline constexpr RawText kComment{offsetof(RVX_HEADER_W3, Comment), sizeof(RVX_HEADER_W3::Comment)};
// Channel entry.
inline constexpr auto kIndRate = KDRVX_W3_ENTRY_FIELD(ChannelIndRate);
inline constexpr auto kReserved04 = KDRVX_W3_ENTRY_FIELD(Reserved04);
inline constexpr auto kLetter = KDRVX_W3_ENTRY_FIELD(VariableLetter);
inline constexpr auto kCode = KDRVX_W3_ENTRY_FIELD(VariableCode);
inline constexpr RawText kUnit{offsetof(MGR_DEF_W3, ChannelUnit), sizeof(MGR_DEF_W3::ChannelUnit)};
inline constexpr auto kReserved0B = KDRVX_W3_ENTRY_FIELD(Reserved0B);
inline constexpr RawField<uint32_t> kMinValue{offsetof(MGR_DEF_W3, MinValue)};
inline constexpr RawField<uint32_t> kMaxValue{offsetof(MGR_DEF_W3, MaxValue)};
#undef KDRVX_W3_FIELD
#undef KDRVX_W3_ENTRY_FIELD
}  // namespace win3

// WIN 6.x: the fields before the comment as WIN 3.x/4.x, a UTF-16 comment
// in their comment's place, then 40-byte channel entries with a UTF-16 unit.
namespace win6 {
inline constexpr uint32_t kMaxChannels = 24;
inline constexpr RawText kComment{win3::kComment.offset, 292};
inline constexpr uint32_t kFirstEntry = endOfUtf16(kComment);  // 620
inline constexpr uint32_t kEntrySize = 40;
inline constexpr uint32_t kUsed = kFirstEntry + kMaxChannels * kEntrySize;  // 1580
// Channel entry.
inline constexpr RawField<uint16_t> kIndRate{0};
inline constexpr RawField<uint16_t> kReserved04{2};
inline constexpr RawField<uint16_t> kLetter{4};
inline constexpr RawField<uint8_t> kCode{6};
inline constexpr RawText kUnit{8, 12};  // overlaps Reserved0B
inline constexpr RawField<uint8_t> kReserved0B{30};
inline constexpr RawField<uint32_t> kMinValue{32};
inline constexpr RawField<uint32_t> kMaxValue{36};
static_assert(kFirstEntry == 620 && kUsed == 1580);
static_assert(endOf(kMaxValue) == kEntrySize && endOfUtf16(kUnit) <= kEntrySize);
}  // namespace win6

}  // namespace kdrvx::format::raw
