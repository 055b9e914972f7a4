// What a reader reports, taken from a header: the values of the queries one
// by one and gathered into the public info structs.
#include "format/header_values.h"

#include <cstdarg>
#include <cstdio>
#include <array>
#include <iterator>
#include <string>

#include "format/layouts.h"
#include "format/text.h"

namespace kdrvx::format {
namespace {

// Formats numbers printf-style into a text of `capacity` units (terminator
// included, longer results cut) and hands it to the caller's buffer.
// Its patterns are checked against their arguments like printf's.
__attribute__((format(printf, 3, 4))) void formatToCaller(char16_t* buffer, size_t capacity,
                                                          const char* pattern, ...) {
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

constexpr uint32_t kMaxTriggerRecord = 100000000;
constexpr int16_t kLastPlainYear = 3000;
constexpr uint16_t kSwappedYearOffset = 208;
constexpr size_t kDateCapacity = KDRVX_DATE_CAPACITY;
constexpr size_t kTimeCapacity = KDRVX_TIME_CAPACITY;
constexpr size_t kTimeWithoutSecondsCapacity = 6;
constexpr uint32_t kMicrosecondsPerMillisecond = 1000;

template <size_t N>
void copyField(KDRVX_CHAR (&target)[N], const char16_t (&field)[N]) {
  copyToCaller(reinterpret_cast<char16_t*>(target), N, field, N);
}

}  // namespace

uint8_t originalFlagOf(const RVX_HEADER& h) {
  return h.OriginalFlag != kNotOriginalRecording ? 1 : 0;
}

namespace {

// The year as the date shows it. Some writers stored the year with its
// bytes exchanged and 208 short.
int16_t yearOf(const RVX_HEADER& h) {
  auto year = static_cast<int16_t>(h.Year);
  if (year > kLastPlainYear) {
    const auto swapped = static_cast<uint16_t>((h.Year >> 8) | (h.Year << 8));
    year = static_cast<int16_t>(static_cast<uint16_t>(swapped + kSwappedYearOffset));
  }
  return year;
}

bool leapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int64_t daysInMonth(int64_t year, int64_t month) {
  constexpr int64_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to a day of the proleptic Gregorian calendar: whole
// 400-year eras from 1 March of year 0 on, then the day of the era.
int64_t daysFromEpoch(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

constexpr int64_t kSecondsPerDay = 86400;

}  // namespace

void writeDate(const RVX_HEADER& h, char16_t* text) {
  formatToCaller(text, kDateCapacity, "%02d.%02d.%4d", h.Day, h.Month, yearOf(h));
}

RecordingStart startOf(const RVX_HEADER& h) {
  RecordingStart start;
  const int64_t year = yearOf(h);
  if (year >= 1 && h.Month >= 1 && h.Month <= 12 && h.Day >= 1 &&
      h.Day <= daysInMonth(year, h.Month))
    start.known |= KDRVX_START_DATE;
  if (h.Hour <= 23 && h.Minute <= 59) start.known |= KDRVX_START_TIME;
  if ((start.known & KDRVX_START_TIME) != 0 && h.Second <= 59) start.known |= KDRVX_START_SECONDS;
  constexpr uint32_t kDateAndTime = KDRVX_START_DATE | KDRVX_START_TIME;
  if ((start.known & kDateAndTime) != kDateAndTime) return start;
  const int64_t second = (start.known & KDRVX_START_SECONDS) != 0 ? h.Second : 0;
  start.seconds = daysFromEpoch(year, h.Month, h.Day) * kSecondsPerDay + h.Hour * 3600 +
                  h.Minute * 60 + second;
  return start;
}

void writeTime(const RVX_HEADER& h, char16_t* text) {
  if (h.Second == kNoSeconds)
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
  return (h.Flags & kScanRateInMicroseconds) ? stored : stored * kMicrosecondsPerMillisecond;
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

KDRVX_RecordingInfo describeRecording(const RVX_HEADER& h, const StoredData& data) {
  KDRVX_RecordingInfo whole{};
  whole.size = sizeof whole;
  whole.version = data.sourceVersion;
  whole.noRecords = h.NoRecords;
  whole.noChannels = h.NoChannels;
  whole.noTriggerRecord = triggerRecordOf(h);
  whole.flagStatistics = h.FlagStatistics;
  whole.scanRate = scanRateOf(h);
  whole.dataOffset = data.dataOffset;
  whole.recordSize = data.recordSize;
  whole.recordKind = static_cast<uint32_t>(recordKindOf(h));
  whole.anyMultiChannel = anyMultiChannel(h) ? 1 : 0;
  whole.original = originalFlagOf(h);
  writeDate(h, reinterpret_cast<char16_t*>(whole.date));
  writeTime(h, reinterpret_cast<char16_t*>(whole.time));
  const RecordingStart start = startOf(h);
  whole.startKnown = start.known;
  whole.startSeconds = start.seconds;
  copyField(whole.comment, h.Comment);
  copyField(whole.company, h.Company);
  copyField(whole.instrument, h.Instrument);
  copyField(whole.snrInstrument, h.SnrInstrument);
  copyField(whole.nameMeasurement, h.NameMeasurement);
  copyField(whole.triggerSetting, h.TriggerSetting);
  return whole;
}

KDRVX_ChannelInfo describeChannel(const MGR_DEF& c) {
  KDRVX_ChannelInfo whole{};
  whole.size = sizeof whole;
  whole.indRate = c.ChannelIndRate;
  whole.minValue = c.MinValue;
  whole.maxValue = c.MaxValue;
  whole.meanValue = c.MeanValue;
  whole.rmsValue = c.RMSValue;
  whole.sdevValue = c.SDevValue;
  whole.multiChannelBits = multiChannelBitsOf(c);
  whole.isds = c.ISDS != 0 ? 1 : 0;
  whole.linearisation = c.Linearisation != 0 ? 1 : 0;
  whole.multiChannel = c.MultiChannel != 0 ? 1 : 0;
  // The query writes the variable without a terminator; the zeroed field
  // holds one after the longest variable.
  auto* variable = reinterpret_cast<char16_t*>(whole.variable);
  writeVariable(c, variable, std::size(whole.variable) - 1);
  // The field's capacity holds any unit the field can: never refused.
  writeUnit(c, reinterpret_cast<char16_t*>(whole.unit), std::size(whole.unit));
  copyField(whole.name, c.ChannelName);
  copyField(whole.number, c.ChannelNumber);
  copyField(whole.signalType, c.ChannelSignalType);
  copyField(whole.zeroPoint, c.ChannelZeroPoint);
  copyField(whole.calParameter, c.ChannelCalParameter);
  copyField(whole.filter, c.ChannelFilter);
  writeLintab(c, reinterpret_cast<char16_t*>(whole.lintab), std::size(whole.lintab));
  return whole;
}

namespace {

using ChannelLabel = std::u16string;

ChannelLabel baseLabel(const RVX_HEADER& header, uint32_t index) {
  char16_t variable[KDRVX_CHANNEL_VARIABLE_CAPACITY] = {};
  writeVariable(header.Channel[index], variable, KDRVX_CHANNEL_VARIABLE_CAPACITY - 1);
  ChannelLabel label(variable);
  if (label.empty()) {
    label = u"ch_";
    for (const char digit : std::to_string(index)) label += static_cast<char16_t>(digit);
  }
  return label;
}

ChannelLabel suffixOf(uint32_t index) {
  ChannelLabel suffix = u"_";
  for (const char digit : std::to_string(index)) suffix += static_cast<char16_t>(digit);
  return suffix;
}

// Labels of channels 0 .. index, each made unique against those before it.
// A variable holds at most six characters, so a name three suffixes long
// can be no channel's variable, nor the label of another channel (whose
// suffixes name that channel): the loop ends by then.
ChannelLabel uniqueLabel(const RVX_HEADER& header, uint32_t index) {
  std::array<ChannelLabel, kMaxChannels> labels;
  for (uint32_t k = 0; k <= index; ++k) {
    ChannelLabel label = baseLabel(header, k);
    const auto taken = [&](const ChannelLabel& name) {
      return std::find(labels.begin(), labels.begin() + k, name) != labels.begin() + k;
    };
    while (taken(label)) label += suffixOf(k);
    labels[k] = std::move(label);
  }
  return labels[index];
}

}  // namespace

void writeChannelLabel(const RVX_HEADER& header, uint32_t index, char16_t* text) {
  const ChannelLabel label = uniqueLabel(header, index);
  const size_t length = std::min<size_t>(label.size(), KDRVX_CHANNEL_LABEL_CAPACITY - 1);
  std::copy_n(label.begin(), length, text);
  text[length] = 0;
}

KDRVX_ChannelInfo describeChannel(const RVX_HEADER& header, uint32_t index) {
  KDRVX_ChannelInfo whole = describeChannel(header.Channel[index]);
  writeChannelLabel(header, index, reinterpret_cast<char16_t*>(whole.label));
  return whole;
}

}  // namespace kdrvx::format
