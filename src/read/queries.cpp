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
#include <iterator>

#include "format/header_values.h"
#include "format/layout.h"
#include "format/text.h"
#include "kdrvx/kdrvx.h"
#include "library/state.h"
#include "library/text.h"
#include "library/trace.h"
#include "read/read.h"
#include "read/read_context.h"

namespace kdrvx::read {

using format::anyMultiChannel;
using format::multiChannelBitsOf;
using format::originalFlagOf;
using format::scanRateOf;
using format::triggerRecordOf;
using format::writeDate;
using format::writeLintab;
using format::writeTime;
using format::writeUnit;
using format::writeVariable;

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

}  // namespace

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
