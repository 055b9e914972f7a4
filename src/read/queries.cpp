// Header and channel queries. They read the read context's header and nothing
// else.
//
// Decisions where the interface leaves things open:
// - Queries without an index check read the channel record at the index as
//   long as it is one of the 48 records of the header; an index below 0 or
//   above 47 has no record and gives 0, "no", an empty unit and an empty
//   variable text.
// - Text fields are read up to their terminator but never beyond their
//   capacity: a field without a terminator is delivered as its whole
//   capacity, cut to the caller's buffer as any other text.
// - A null buffer receives nothing; the query still reports its status.
#include <cstdarg>
#include <cstdio>
#include <iterator>

#include "format/layout.h"
#include "format/text.h"
#include "kdrvx/kdrvx.h"
#include "library/state.h"
#include "library/text.h"
#include "library/trace.h"
#include "read/header_values.h"
#include "read/read.h"
#include "read/read_context.h"

namespace kdrvx::read {
namespace {

using format::MGR_DEF;
using format::RVX_HEADER;

const RVX_HEADER& header() { return visibleHeader(); }

// The channel record at `channel` among the 48 of the header, or null.
const MGR_DEF* recordAt(int16_t channel) {
  if (channel < 0 || static_cast<uint32_t>(channel) >= format::kMaxChannels) return nullptr;
  return &header().Channel[channel];
}

// The open check of the queries that have one; `failureLine` is the name
// under which the query traces it.
bool requireOpen(const char16_t* failureLine) {
  if (context().open) return true;
  trace::lineIf(trace::kErrors, failureLine);
  return false;
}
// Hosts match on the short name of this line: keep it verbatim.
constexpr char16_t kNotOpen[] = u"KDrvxLibrary: ERR_RVX_NOT_OPEN";
constexpr char16_t kNotOpenRead[] = u"KDrvxLibrary: ERR_RVX_NOT_OPEN_READ";

// The index check: a channel of the file, and one of the 48 records.
const MGR_DEF* requireChannel(int16_t channel) {
  if (channel >= 0 && static_cast<uint32_t>(channel) < channelCount(header()))
    return &header().Channel[channel];
  trace::failure(KDRVX_ERR_RVX_CHN_UNKNOWN);
  return nullptr;
}

// Formats numbers printf-style into a text of `capacity` units (terminator
// included, longer results cut) and hands it to the caller's buffer.
void formatToCaller(char16_t* buffer, size_t capacity, const char* pattern, ...)
    KDRVX_PRINTF_FORMAT(3, 4);
void formatToCaller(char16_t* buffer, size_t capacity, const char* pattern, ...) {
  char text[16];
  if (buffer == nullptr || capacity == 0 || capacity > sizeof text) return;
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(text, capacity, pattern, args);
  va_end(args);
  size_t i = 0;
  for (; text[i] != 0; ++i) buffer[i] = static_cast<unsigned char>(text[i]);
  buffer[i] = 0;
}

// A degree sign stored as its two UTF-8 code units, at the start of a text,
// is delivered as the degree sign alone.
constexpr char16_t kDegreeLead = 0xC2;
constexpr char16_t kDegreeSign = 0xB0;

template <size_t N>
void copyWithDegreeRule(char16_t* buffer, uint16_t capacity, const char16_t (&field)[N]) {
  if (field[0] == kDegreeLead && field[1] == kDegreeSign)
    copyToCaller(buffer, capacity, field + 1, N - 1);
  else
    copyToCaller(buffer, capacity, field, N);
}

template <size_t N>
uint32_t headerText(const char16_t* entryLine, char16_t (RVX_HEADER::*field)[N],
                    char16_t* buffer, uint16_t capacity) {
  trace::call(entryLine);
  copyToCaller(buffer, capacity, header().*field, N);
  return library::setLastError(KDRVX_OK);
}

template <size_t N>
uint32_t channelText(const char16_t* entryLine, char16_t (MGR_DEF::*field)[N],
                     char16_t* buffer, int16_t channel, uint16_t capacity) {
  trace::call(entryLine);
  const MGR_DEF* record = requireChannel(channel);
  if (record == nullptr) return library::setLastError(KDRVX_ERR_RVX_CHN_UNKNOWN);
  copyToCaller(buffer, capacity, record->*field, N);
  return library::setLastError(KDRVX_OK);
}

// The letters of a variable may be the two code units of a UTF-8 sequence,
// one per character; these are the sequences that are turned back into the
// letter they encode.
struct Utf8Pair {
  char16_t lead;
  char16_t follower;
  char16_t letter;
};
constexpr Utf8Pair kUtf8Pairs[] = {
    {0xC2, 0xB0, 0x00B0}, {0xC2, 0xB2, 0x00B2}, {0xC2, 0xB5, 0x00B5}, {0xC3, 0x84, 0x00C4},
    {0xC3, 0x96, 0x00D6}, {0xC3, 0x9C, 0x00DC}, {0xC3, 0x9F, 0x00DF}, {0xC3, 0xA4, 0x00E4},
    {0xC3, 0xB6, 0x00F6}, {0xC3, 0xBC, 0x00FC}, {0xCE, 0xA6, 0x03A6}, {0xCE, 0xA9, 0x03A9},
    {0xCE, 0xB1, 0x03B1}, {0xCE, 0xB2, 0x03B2}, {0xCE, 0xB5, 0x03B5}, {0xCE, 0xB7, 0x03B7},
    {0xCE, 0xBC, 0x03BC}, {0xCE, 0xBD, 0x03BD}, {0xCF, 0x80, 0x03C0}, {0xCF, 0x81, 0x03C1},
    {0xCF, 0x83, 0x03C3}, {0xCF, 0x86, 0x03C6}, {0xCF, 0x95, 0x03D5}, {0xCF, 0xB5, 0x03F5},
};
constexpr char16_t kUndecodable = u'_';

bool isUtf8Lead(char16_t unit) {
  return unit == 0xC2 || unit == 0xC3 || unit == 0xCE || unit == 0xCF;
}

char16_t decodePair(char16_t lead, char16_t follower) {
  for (const Utf8Pair& pair : kUtf8Pairs)
    if (pair.lead == lead && pair.follower == follower) return pair.letter;
  return kUndecodable;
}

// Prefix, letter and index of a variable, at most 6 characters ("dp-128").
constexpr size_t kRawVariableCapacity = 8;

size_t rawVariable(const MGR_DEF& channel, char16_t (&raw)[kRawVariableCapacity]) {
  size_t length = 0;
  if (channel.VariablePrefix != 0) raw[length++] = channel.VariablePrefix;
  if (channel.VariableLetter == 0) return length;
  raw[length++] = channel.VariableLetter;
  char digits[8];
  std::snprintf(digits, sizeof digits, "%d", channel.VariableIndex);
  for (const char* d = digits; *d != 0; ++d) raw[length++] = static_cast<char16_t>(*d);
  return length;
}

template <typename Value>
Value channelValue(int16_t channel, Value MGR_DEF::*field) {
  const MGR_DEF* record = recordAt(channel);
  return record != nullptr ? record->*field : Value{};
}

// The second line of the yes/no queries.
int32_t answer(bool yes) {
  trace::lineIf(trace::kCalls, yes ? u"true" : u"false");
  return yes ? 1 : 0;
}

constexpr uint32_t kMaxTriggerRecord = 100000000;
constexpr int16_t kLastPlainYear = 3000;
constexpr uint16_t kSwappedYearOffset = 208;
constexpr size_t kDateCapacity = KDRVX_DATE_CAPACITY;
constexpr size_t kTimeCapacity = KDRVX_TIME_CAPACITY;
constexpr size_t kTimeWithoutSecondsCapacity = 6;
constexpr uint32_t kMicrosecondsPerMillisecond = 1000;

}  // namespace

uint8_t originalFlagOf(const RVX_HEADER& h) {
  return h.OriginalFlag != format::kNotOriginalRecording ? 1 : 0;
}

void writeDate(const RVX_HEADER& h, char16_t* text) {
  // Some writers stored the year with its bytes exchanged and 208 short.
  auto year = static_cast<int16_t>(h.Year);
  if (year > kLastPlainYear) {
    const auto swapped = static_cast<uint16_t>((h.Year >> 8) | (h.Year << 8));
    year = static_cast<int16_t>(static_cast<uint16_t>(swapped + kSwappedYearOffset));
  }
  formatToCaller(text, kDateCapacity, "%02d.%02d.%4d", h.Day, h.Month, year);
}

void writeTime(const RVX_HEADER& h, char16_t* text) {
  if (h.Second == format::kNoSeconds)
    formatToCaller(text, kTimeWithoutSecondsCapacity, "%02d:%02d", h.Hour, h.Minute);
  else
    formatToCaller(text, kTimeCapacity, "%02d:%02d:%02d", h.Hour, h.Minute, h.Second);
}

void writeVariable(const MGR_DEF& channel, char16_t* text, uint16_t capacity) {
  if (text == nullptr) return;
  char16_t raw[kRawVariableCapacity];
  size_t length = rawVariable(channel, raw);
  if (length > capacity) length = capacity;
  // The result is written without a terminator and is never longer than
  // the (cut) raw text.
  size_t written = 0;
  for (size_t i = 0; i < length;) {
    if (!isUtf8Lead(raw[i])) {
      text[written++] = raw[i++];
    } else if (i + 1 < length) {
      text[written++] = decodePair(raw[i], raw[i + 1]);
      i += 2;
    } else {
      text[written++] = kUndecodable;
      break;
    }
  }
}

uint32_t writeUnit(const MGR_DEF& channel, char16_t* text, uint16_t capacity) {
  // A unit longer than the caller's capacity is refused, not cut.
  if (fieldLength(channel.ChannelUnit) > capacity) return KDRVX_ERR_RVX_UNIT_LENGTH;
  copyWithDegreeRule(text, capacity, channel.ChannelUnit);
  return KDRVX_OK;
}

void writeLintab(const MGR_DEF& channel, char16_t* text, uint16_t capacity) {
  copyWithDegreeRule(text, capacity, channel.ChannelLintab);
}

int64_t scanRateOf(const RVX_HEADER& h) {
  const int64_t stored = h.ScanRate;
  return (h.Flags & format::kScanRateInMicroseconds) ? stored
                                                     : stored * kMicrosecondsPerMillisecond;
}

uint32_t triggerRecordOf(const RVX_HEADER& h) {
  return h.NoTriggerRecord <= kMaxTriggerRecord ? h.NoTriggerRecord : 0;
}

int32_t multiChannelBitsOf(const MGR_DEF& channel) {
  return static_cast<int8_t>(channel.MultiChannel);
}

bool anyMultiChannel(const RVX_HEADER& h) {
  for (uint32_t k = 0; k < channelCount(h); ++k)
    if (h.Channel[k].MultiChannel != 0) return true;
  return false;
}

uint32_t checkOriginalFlag(uint8_t* original) {
  // Hosts match on this line as it has always been spelled: keep it verbatim.
  trace::call(u"KDrvxLibrary: KDRVX_ChecvkOriginalFlag()");
  if (!requireOpen(kNotOpen)) return library::setLastError(KDRVX_ERR_RVX_NOT_OPEN_READ);
  if (original != nullptr) *original = originalFlagOf(header());
  return library::setLastError(KDRVX_OK);
}

uint32_t getDate(char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_GetDate()");
  if (!requireOpen(kNotOpen)) return library::setLastError(KDRVX_ERR_RVX_NOT_OPEN_READ);
  writeDate(header(), text);
  return library::setLastError(KDRVX_OK);
}

uint32_t getTime(char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_GetTime()");
  if (!requireOpen(kNotOpenRead)) return library::setLastError(KDRVX_ERR_RVX_NOT_OPEN_READ);
  writeTime(header(), text);
  return library::setLastError(KDRVX_OK);
}

uint32_t getComment(char16_t* text, uint16_t capacity) {
  // Hosts match on this line as it has always been spelled: keep it verbatim.
  trace::call(u"KDrvxLibrary: KDRVX_Comment()");
  if (!requireOpen(kNotOpenRead)) return library::setLastError(KDRVX_ERR_RVX_NOT_OPEN_READ);
  copyToCaller(text, capacity, header().Comment, std::size(header().Comment));
  return library::setLastError(KDRVX_OK);
}

uint32_t getCompany(char16_t* text, uint16_t capacity) {
  return headerText(u"KDrvxLibrary: KDRVX_GetCompany()", &RVX_HEADER::Company, text, capacity);
}

uint32_t getInstrument(char16_t* text, uint16_t capacity) {
  return headerText(u"KDrvxLibrary: KDRVX_GetInstrument()", &RVX_HEADER::Instrument, text,
                    capacity);
}

uint32_t getSnrInstrument(char16_t* text, uint16_t capacity) {
  return headerText(u"KDrvxLibrary: KDRVX_GetSnrInstrument()", &RVX_HEADER::SnrInstrument, text,
                    capacity);
}

uint32_t getNameMeasurement(char16_t* text, uint16_t capacity) {
  return headerText(u"KDrvxLibrary: KDRVX_GetNameMeasurement()", &RVX_HEADER::NameMeasurement,
                    text, capacity);
}

uint32_t getTriggerSetting(char16_t* text, uint16_t capacity) {
  return headerText(u"KDrvxLibrary: KDRVX_GetTriggerSetting()", &RVX_HEADER::TriggerSetting,
                    text, capacity);
}

uint32_t getChannelVariable(char16_t* text, int16_t channel, uint16_t capacity) {
  trace::call(u"KDrvxLibrary: KDRVX_GetChannelVariable()");
  if (!requireOpen(kNotOpenRead)) return library::setLastError(KDRVX_ERR_RVX_NOT_OPEN_READ);
  const MGR_DEF* record = recordAt(channel);
  if (record != nullptr) writeVariable(*record, text, capacity);
  return library::setLastError(KDRVX_OK);
}

uint32_t getChannelUnit(char16_t* text, int16_t channel, uint16_t capacity) {
  trace::call(u"KDrvxLibrary: KDRVX_GetChannelUnit()");
  const MGR_DEF* record = recordAt(channel);
  if (record == nullptr) {
    copyToCaller(text, capacity, u"");
    return library::setLastError(KDRVX_OK);
  }
  return library::setLastError(writeUnit(*record, text, capacity));
}

uint32_t getChannelName(char16_t* text, int16_t channel, uint16_t capacity) {
  return channelText(u"KDrvxLibrary: KDRVX_GetChannelName()", &MGR_DEF::ChannelName, text,
                     channel, capacity);
}

uint32_t getChannelNumber(char16_t* text, int16_t channel, uint16_t capacity) {
  return channelText(u"KDrvxLibrary: KDRVX_GetChannelNumber()", &MGR_DEF::ChannelNumber, text,
                     channel, capacity);
}

uint32_t getChannelSignalType(char16_t* text, int16_t channel, uint16_t capacity) {
  return channelText(u"KDrvxLibrary: KDRVX_GetChannelSignalType()", &MGR_DEF::ChannelSignalType,
                     text, channel, capacity);
}

uint32_t getChannelZeroPoint(char16_t* text, int16_t channel, uint16_t capacity) {
  return channelText(u"KDrvxLibrary: KDRVX_GetChannelZeroPoint()", &MGR_DEF::ChannelZeroPoint,
                     text, channel, capacity);
}

uint32_t getChannelCalParameter(char16_t* text, int16_t channel, uint16_t capacity) {
  return channelText(u"KDrvxLibrary: KDRVX_GetChannelCalParameter()",
                     &MGR_DEF::ChannelCalParameter, text, channel, capacity);
}

uint32_t getChannelFilter(char16_t* text, int16_t channel, uint16_t capacity) {
  // Hosts match on this line as it has always been spelled: keep it verbatim.
  return channelText(u"KDrvxLibrary: KDRVX_GetChannelFlter()", &MGR_DEF::ChannelFilter, text,
                     channel, capacity);
}

uint32_t getChannelLintab(char16_t* text, int16_t channel, uint16_t capacity) {
  trace::call(u"KDrvxLibrary: KDRVX_GetChannelLintab()");
  const MGR_DEF* record = requireChannel(channel);
  if (record == nullptr) return library::setLastError(KDRVX_ERR_RVX_CHN_UNKNOWN);
  writeLintab(*record, text, capacity);
  return library::setLastError(KDRVX_OK);
}

uint32_t getVersion() {
  trace::call(u"KDrvxLibrary: KDRVX_GetVersion()");
  return library::state().sourceVersion;
}

uint32_t getNoRecords() {
  trace::call(u"KDrvxLibrary: KDRVX_GetNoRecords()");
  return header().NoRecords;
}

int64_t getScanRate() { return scanRateOf(header()); }

uint32_t getNoChannels() {
  trace::call(u"KDrvxLibrary: KDRVX_GetNoChannels()");
  return header().NoChannels;
}

uint32_t getNoTriggerRecord() {
  // Hosts match on this line as it has always been spelled: keep it verbatim.
  trace::call(u"KDrvxLibrary: KDRVX_NoRecords()");
  return triggerRecordOf(header());
}

uint32_t getFlagStatistics() {
  // Hosts match on this line as it has always been spelled: keep it verbatim.
  trace::call(u"KDrvxLibrary: KDRVX_GetFlagStatistik()");
  return header().FlagStatistics;
}

uint32_t getChannelIndRate(int16_t channel) {
  trace::call(u"KDrvxLibrary: KDRVX_GetChannelIndRate()");
  return channelValue(channel, &MGR_DEF::ChannelIndRate);
}

float getChannelMinValue(int16_t channel) {
  trace::call(u"KDrvxLibrary: KDRVX_GetChannelMinValue()");
  return channelValue(channel, &MGR_DEF::MinValue);
}

float getChannelMaxValue(int16_t channel) {
  trace::call(u"KDrvxLibrary: KDRVX_GetChannelMaxValue()");
  return channelValue(channel, &MGR_DEF::MaxValue);
}

float getChannelMeanValue(int16_t channel) {
  trace::call(u"KDrvxLibrary: KDRVX_GetChannelMeanValue()");
  return channelValue(channel, &MGR_DEF::MeanValue);
}

float getChannelRMSValue(int16_t channel) {
  trace::call(u"KDrvxLibrary: KDRVX_GetChannelRMSValue()");
  return channelValue(channel, &MGR_DEF::RMSValue);
}

float getChannelSDevValue(int16_t channel) {
  trace::call(u"KDrvxLibrary: KDRVX_GetChannelSDevValue()");
  return channelValue(channel, &MGR_DEF::SDevValue);
}

int32_t getNumberMultiChannelBits(int16_t channel) {
  trace::call(u"KDrvxLibrary: KDRVX_GetNumberMultiChannelBits()");
  const MGR_DEF* record = recordAt(channel);
  return record != nullptr ? multiChannelBitsOf(*record) : 0;
}

int32_t isChannelISDS(int16_t channel) {
  trace::call(u"KDrvxLibrary: KDRVX_IsChannelISDS()");
  return answer(channelValue(channel, &MGR_DEF::ISDS) != 0);
}

int32_t isChannelLinearisation(int16_t channel) {
  trace::call(u"KDrvxLibrary: KDRVX_IsChannelLinearisation()");
  return answer(channelValue(channel, &MGR_DEF::Linearisation) != 0);
}

int32_t isChannelMultiChannel(int16_t channel) {
  trace::call(u"KDrvxLibrary: KDRVX_IsChannelMultiChannel()");
  return answer(channelValue(channel, &MGR_DEF::MultiChannel) != 0);
}

int32_t isAnyMultiChannelInRvx() {
  trace::call(u"KDrvxLibrary: KDRVX_IsAnyMultiChannelinRVX()");
  return answer(anyMultiChannel(header()));
}

}  // namespace kdrvx::read
