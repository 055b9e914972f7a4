#include "write/headers.h"

#include <algorithm>
#include <cstring>

#include "format/limits.h"
#include "format/summary_names.h"
#include "format/text.h"
#include "kdrvx/kdrvx.h"
#include "platform/platform.h"
#include "write/fields.h"
#include "write/parse.h"

namespace kdrvx::write {
namespace {

using format::MGR_DEF;

// On Windows '/' is one of the characters a file name cannot hold; on POSIX
// it separates directories and stays.
#if defined(_WIN32)
constexpr bool kSlashIsForbidden = true;
#else
constexpr bool kSlashIsForbidden = false;
#endif

bool isForbiddenInName(char16_t unit) {
  switch (unit) {
    case u'"':
    case u'<':
    case u'>':
    case u'?':
    case u'|':
      return true;
    case u'/':
      return kSlashIsForbidden;
    default:
      return false;
  }
}

template <size_t N>
uint32_t storeHeaderText(char16_t (&field)[N], size_t limit, const char16_t* text) {
  clearText(field);
  if (text == nullptr) return KDRVX_OK;
  const size_t length = measuredLength(text, limit);
  if (length > limit) return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  storeText(field, text, length);
  return KDRVX_OK;
}

// How a channel text setter treats a null text and a refused one.
enum class NullText {
  Rejected,  // null is refused; a refused text leaves the previous one
  Clears,    // the field is emptied first; null leaves it empty and is accepted
};

template <size_t N>
uint32_t storeChannelText(char16_t (&field)[N], size_t limit, const char16_t* text,
                          uint32_t rejection, NullText rule) {
  if (rule == NullText::Clears) clearText(field);
  if (text == nullptr) return rule == NullText::Clears ? KDRVX_OK : rejection;
  const size_t length = measuredLength(text, limit);
  if (length > limit) return rejection;
  storeText(field, text, length);
  return KDRVX_OK;
}

bool inCompact(Headers headers, uint32_t channel) {
  return headers.legacyLayout && channel < format::kCompactMaxChannels;
}

// Writes a parsed variable into channel entry `index` (of the compact
// header too when the recording uses it).
void storeVariable(Headers headers, uint32_t index, const ParsedVariable& variable) {
  MGR_DEF& entry = headers.header.Channel[index];
  entry.VariableLetter = variable.letter;
  entry.VariablePrefix = variable.prefix;
  entry.VariableIndex = variable.index;
  if (inCompact(headers, index)) {
    headers.compact.Channel[index].VariableLetter = variable.compactLetter;
    headers.compact.Channel[index].VariableCode = variable.compactCode;
  }
}

bool sameVariable(const MGR_DEF& a, const MGR_DEF& b) {
  return a.VariableLetter == b.VariableLetter && a.VariablePrefix == b.VariablePrefix &&
         a.VariableIndex == b.VariableIndex;
}

}  // namespace

void resetHeaders(Headers headers) {
  format::RVX_HEADER& header = headers.header;
  format::RVX_HEADER_W3& compact = headers.compact;
  std::memset(&header, 0, sizeof header);
  std::memset(&compact, 0, sizeof compact);

  platform::LocalTime now;
  uint16_t year = 0;
  uint8_t month = 0, day = 0, hour = 255, minute = 255;
  if (platform::localTimeNow(now)) {
    year = static_cast<uint16_t>(now.year);
    month = static_cast<uint8_t>(now.month);
    day = static_cast<uint8_t>(now.day);
    hour = static_cast<uint8_t>(now.hour);
    minute = static_cast<uint8_t>(now.minute);
  }

  header.Version = format::kCurrentVersion;
  header.OriginalFlag = format::kOriginalRecording;
  header.HeaderSize = format::headerSizeField(0);
  header.Year = year;
  header.Month = month;
  header.Day = day;
  header.Hour = hour;
  header.Minute = minute;
  header.Second = format::kNoSeconds;
  header.Reserved12 = 0xFFFF;

  compact.Version = format::kCompactVersion;
  compact.OriginalFlag = format::kOriginalRecording;
  compact.HeaderSize = static_cast<uint16_t>(format::compactHeaderLength(0));
  compact.Year = year;
  compact.Month = month;
  compact.Day = day;
  compact.Hour = hour;
  compact.Minute = minute;
}

void storeOriginalFlag(Headers headers, bool original) {
  headers.header.OriginalFlag =
      original ? format::kOriginalRecording : format::kNotOriginalRecording;
}

bool pathFits(const char16_t* path) {
  return boundedLength(path, format::kCreatePathCapacity) <
         static_cast<size_t>(format::kCreatePathCapacity);
}

void cleanPath(char16_t* path) {
  for (char16_t* p = path; *p != 0; ++p)
    if (isForbiddenInName(*p)) *p = u'_';
  if (path[0] == 0 || path[1] == 0) return;
  for (char16_t* p = path + 2; *p != 0; ++p)
    if (*p == u':') *p = u'_';
}

uint32_t storeComment(Headers headers, const char16_t* text) {
  const uint32_t status = storeHeaderText(headers.header.Comment, format::kCommentLimit, text);
  // The compact header keeps the comment as 8-bit text; a refused comment
  // leaves it as it was.
  if (status == KDRVX_OK)
    storeLowBytes(headers.compact.Comment, headers.header.Comment,
                  fieldLength(headers.header.Comment));
  return status;
}

uint32_t storeCompany(Headers headers, const char16_t* text) {
  return storeHeaderText(headers.header.Company, format::kCompanyLimit, text);
}

uint32_t storeInstrument(Headers headers, const char16_t* text) {
  return storeHeaderText(headers.header.Instrument, format::kInstrumentLimit, text);
}

uint32_t storeSnrInstrument(Headers headers, const char16_t* text) {
  return storeHeaderText(headers.header.SnrInstrument, format::kSnrInstrumentLimit, text);
}

uint32_t storeNameMeasurement(Headers headers, const char16_t* text) {
  return storeHeaderText(headers.header.NameMeasurement, format::kNameMeasurementLimit, text);
}

uint32_t storeTriggerSetting(Headers headers, const char16_t* text) {
  return storeHeaderText(headers.header.TriggerSetting, format::kTriggerSettingLimit, text);
}

uint32_t storeDate(Headers headers, const char16_t* text) {
  if (text == nullptr) return KDRVX_OK;
  ParsedDate date;
  if (!parseDate(text, date)) return KDRVX_ERR_RVX_DATE;
  headers.header.Day = headers.compact.Day = date.day;
  headers.header.Month = headers.compact.Month = date.month;
  headers.header.Year = headers.compact.Year = date.year;
  return KDRVX_OK;
}

uint32_t storeTime(Headers headers, const char16_t* text) {
  if (text == nullptr) return KDRVX_OK;
  ParsedTime time;
  if (!parseTime(text, time)) return KDRVX_ERR_RVX_TIME;
  headers.header.Hour = headers.compact.Hour = time.hour;
  headers.header.Minute = headers.compact.Minute = time.minute;
  headers.header.Second = time.second;
  return KDRVX_OK;
}

void storeScanRate(Headers headers, int64_t microseconds) {
  format::RVX_HEADER& header = headers.header;
  format::RVX_HEADER_W3& compact = headers.compact;
  // Whole milliseconds are stored as milliseconds, anything else as
  // microseconds with bit 0 of Flags set.
  uint32_t stored;
  if (microseconds % 1000 == 0) {
    stored = static_cast<uint32_t>(microseconds / 1000);
    header.Flags &= static_cast<uint8_t>(~format::kScanRateInMicroseconds);
  } else {
    stored = static_cast<uint32_t>(microseconds);
    header.Flags |= format::kScanRateInMicroseconds;
  }
  header.ScanRate = compact.ScanRate = stored;
  compact.Flags = static_cast<uint8_t>((compact.Flags & ~format::kScanRateInMicroseconds) |
                                       (header.Flags & format::kScanRateInMicroseconds));
}

void storeTriggerRecord(Headers headers, uint32_t record) {
  headers.header.NoTriggerRecord = headers.compact.NoTriggerRecord = record;
}

uint32_t addChannelEntry(Headers headers, const char16_t* variable) {
  if (variable == nullptr) return KDRVX_ERR_RVX_CHN_VAR;
  format::RVX_HEADER& header = headers.header;
  format::RVX_HEADER_W3& compact = headers.compact;
  const uint32_t count = header.NoChannels;
  if (count >= format::kMaxChannels ||
      (headers.legacyLayout && count >= format::kCompactMaxChannels))
    return KDRVX_ERR_RVX_NUMBER_OF_CHANNELS;

  // The name is parsed into the entry beyond the last one, which counts
  // only once the name has passed.
  const ParsedVariable parsed = parseVariable(variable);
  storeVariable(headers, count, parsed);
  if (!parsed.valid) return KDRVX_ERR_RVX_CHN_VAR;
  for (uint32_t i = 0; i < count; ++i)
    if (sameVariable(header.Channel[i], header.Channel[count])) return KDRVX_ERR_RVX_CHN_VAR_EXISTS;

  header.HeaderSize = static_cast<uint16_t>(header.HeaderSize + format::kChannelRecordSize);
  compact.HeaderSize = static_cast<uint16_t>(compact.HeaderSize + format::kCompactChannelSize);
  ++header.NoChannels;
  ++compact.NoChannels;
  return KDRVX_OK;
}

void removeLastChannel(Headers headers) {
  format::RVX_HEADER& header = headers.header;
  format::RVX_HEADER_W3& compact = headers.compact;
  header.HeaderSize = static_cast<uint16_t>(header.HeaderSize - format::kChannelRecordSize);
  compact.HeaderSize = static_cast<uint16_t>(compact.HeaderSize - format::kCompactChannelSize);
  --header.NoChannels;
  --compact.NoChannels;
}

uint32_t storeChannelVariable(Headers headers, uint32_t channel, const char16_t* variable) {
  if (variable == nullptr) return KDRVX_ERR_RVX_CHN_VAR;
  const ParsedVariable parsed = parseVariable(variable);
  storeVariable(headers, channel, parsed);
  return parsed.valid ? KDRVX_OK : KDRVX_ERR_RVX_CHN_VAR;
}

uint32_t storeChannelUnit(Headers headers, uint32_t channel, const char16_t* text) {
  const auto& unit = headers.header.Channel[channel].ChannelUnit;
  const uint32_t status =
      storeChannelText(headers.header.Channel[channel].ChannelUnit, format::kChannelUnitLimit, text,
                       KDRVX_ERR_RVX_CHN_UNIT, NullText::Rejected);
  if (status == KDRVX_OK && inCompact(headers, channel))
    storeLowBytes(headers.compact.Channel[channel].ChannelUnit, unit, fieldLength(unit));
  return status;
}

uint32_t storeChannelName(Headers headers, uint32_t channel, const char16_t* text) {
  return storeChannelText(headers.header.Channel[channel].ChannelName, format::kChannelNameLimit,
                          text, KDRVX_ERR_RVX_CHN_NAME, NullText::Clears);
}

uint32_t storeChannelNumber(Headers headers, uint32_t channel, const char16_t* text) {
  return storeChannelText(headers.header.Channel[channel].ChannelNumber,
                          format::kChannelNumberLimit, text, KDRVX_ERR_RVX_CHN_NUMBER,
                          NullText::Rejected);
}

uint32_t storeChannelSignalType(Headers headers, uint32_t channel, const char16_t* text) {
  return storeChannelText(headers.header.Channel[channel].ChannelSignalType,
                          format::kChannelSignalTypeLimit, text, KDRVX_ERR_RVX_CHN_SIGNAL,
                          NullText::Rejected);
}

uint32_t storeChannelZeroPoint(Headers headers, uint32_t channel, const char16_t* text) {
  return storeChannelText(headers.header.Channel[channel].ChannelZeroPoint,
                          format::kChannelZeroPointLimit, text, KDRVX_ERR_RVX_CHN_ZERO,
                          NullText::Rejected);
}

uint32_t storeChannelCalParameter(Headers headers, uint32_t channel, const char16_t* text) {
  return storeChannelText(headers.header.Channel[channel].ChannelCalParameter,
                          format::kChannelCalParameterLimit, text, KDRVX_ERR_RVX_CHN_CALPARA,
                          NullText::Rejected);
}

uint32_t storeChannelFilter(Headers headers, uint32_t channel, const char16_t* text) {
  return storeChannelText(headers.header.Channel[channel].ChannelFilter,
                          format::kChannelFilterLimit, text, KDRVX_ERR_RVX_CHN_FILTER,
                          NullText::Clears);
}

uint32_t storeChannelLintab(Headers headers, uint32_t channel, const char16_t* text) {
  return storeChannelText(headers.header.Channel[channel].ChannelLintab,
                          format::kChannelLintabLimit, text, KDRVX_ERR_RVX_CHN_LINTAB,
                          NullText::Clears);
}

void storeChannelIndRate(Headers headers, uint32_t channel, uint32_t divisor) {
  headers.header.Channel[channel].ChannelIndRate = divisor;
  if (inCompact(headers, channel))
    headers.compact.Channel[channel].ChannelIndRate = static_cast<uint16_t>(divisor);
}

void storeChannelISDS(Headers headers, uint32_t channel, int16_t value) {
  headers.header.Channel[channel].ISDS = static_cast<uint8_t>(value);
}

void storeChannelLinearisation(Headers headers, uint32_t channel, int16_t value) {
  headers.header.Channel[channel].Linearisation = static_cast<uint8_t>(value);
}

uint32_t storeChannelMultiChannel(Headers headers, uint32_t channel, uint16_t bits) {
  if (bits < 1 || bits > 32) return KDRVX_ERR_RVX_MULTICHANNEL_BITS;
  headers.header.Channel[channel].MultiChannel = static_cast<uint8_t>(bits);
  return KDRVX_OK;
}

const void* headerImage(Headers headers) {
  if (headers.legacyLayout) return &headers.compact;
  return &headers.header;
}

uint32_t headerImageLength(Headers headers) {
  // The compact layout holds at most 24 channels, so its HeaderSize stays
  // within the record; the bound only guards the buffer.
  if (headers.legacyLayout)
    return std::min<uint32_t>(headers.compact.HeaderSize, sizeof headers.compact);
  return format::headerLength(headers.header.NoChannels);
}

}  // namespace kdrvx::write
