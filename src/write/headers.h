// What the create context's setters store: each function takes the two
// headers of a recording (the current one and the compact one kept in step)
// and a setter's argument, stores what the setter stores and returns the
// status the setter refuses the argument with, or 0. They keep no state,
// trace nothing and touch no file, so that the setters and the check of a
// planned recording run the same judgements: the setters add the guards,
// the traces, the last error and the writes to the file.
#pragma once

#include <cstdint>

#include "format/layout.h"

namespace kdrvx::write {

struct Headers {
  format::RVX_HEADER& header;
  format::RVX_HEADER_W3& compact;
  bool legacyLayout;  // the recording gets `compact` (and a summary file)
};

// Language code that asks for no summary file at all.
inline constexpr int32_t kNoSummary = 255;

// Defaults of both headers, dated with the local date and time of now.
void resetHeaders(Headers headers);
// The mark of a recording that is, or is not, an original one.
void storeOriginalFlag(Headers headers, bool original);
// Whether `path` fits the create context's path: 259 units at most.
bool pathFits(const char16_t* path);
// Replaces the characters a file name cannot hold by '_', in place; a colon
// survives only in the first two units (a drive).
void cleanPath(char16_t* path);

// Header texts: the field is emptied first, so a refused text leaves it
// empty; a null text leaves it empty and is accepted. Refusal:
// KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH.
uint32_t storeComment(Headers headers, const char16_t* text);
uint32_t storeCompany(Headers headers, const char16_t* text);
uint32_t storeInstrument(Headers headers, const char16_t* text);
uint32_t storeSnrInstrument(Headers headers, const char16_t* text);
uint32_t storeNameMeasurement(Headers headers, const char16_t* text);
uint32_t storeTriggerSetting(Headers headers, const char16_t* text);
// Date and time: a null text stores nothing; a text that does not parse is
// refused (KDRVX_ERR_RVX_DATE, _TIME) and stores nothing.
uint32_t storeDate(Headers headers, const char16_t* text);
uint32_t storeTime(Headers headers, const char16_t* text);
void storeScanRate(Headers headers, int64_t microseconds);
void storeTriggerRecord(Headers headers, uint32_t record);

// Adds a channel named by `variable` behind the last one: refused for a null
// or invalid name (KDRVX_ERR_RVX_CHN_VAR), a full header
// (_NUMBER_OF_CHANNELS) or a variable that a channel has already
// (_CHN_VAR_EXISTS); the channel counts only once it passed.
uint32_t addChannelEntry(Headers headers, const char16_t* variable);
// Takes back the last channel added (its header could not be written).
void removeLastChannel(Headers headers);

// Channel setters, for a channel below NoChannels. A refused variable has
// already replaced the channel's variable.
using ChannelTextStore = uint32_t (*)(Headers, uint32_t, const char16_t*);
uint32_t storeChannelVariable(Headers headers, uint32_t channel, const char16_t* variable);
// Texts: unit, number, signal type, zero point and calibration parameter
// refuse a null text and keep the previous one when they refuse; name,
// filter and linearisation table are emptied first and accept a null text.
uint32_t storeChannelUnit(Headers headers, uint32_t channel, const char16_t* text);
uint32_t storeChannelName(Headers headers, uint32_t channel, const char16_t* text);
uint32_t storeChannelNumber(Headers headers, uint32_t channel, const char16_t* text);
uint32_t storeChannelSignalType(Headers headers, uint32_t channel, const char16_t* text);
uint32_t storeChannelZeroPoint(Headers headers, uint32_t channel, const char16_t* text);
uint32_t storeChannelCalParameter(Headers headers, uint32_t channel, const char16_t* text);
uint32_t storeChannelFilter(Headers headers, uint32_t channel, const char16_t* text);
uint32_t storeChannelLintab(Headers headers, uint32_t channel, const char16_t* text);
void storeChannelIndRate(Headers headers, uint32_t channel, uint32_t divisor);
void storeChannelISDS(Headers headers, uint32_t channel, int16_t value);
void storeChannelLinearisation(Headers headers, uint32_t channel, int16_t value);
// 1 to 32 bits; any other number is refused (KDRVX_ERR_RVX_MULTICHANNEL_BITS).
uint32_t storeChannelMultiChannel(Headers headers, uint32_t channel, uint16_t bits);

// The header image that goes to the start of the file: the compact header
// when the recording uses the legacy layout, else the current one, each as
// long as its channel count makes it.
const void* headerImage(Headers headers);
uint32_t headerImageLength(Headers headers);

}  // namespace kdrvx::write
