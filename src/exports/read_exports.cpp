// Exported entry points of the read context: opening and closing, the header
// and channel queries, and the record readers.
#include "kdrvx/kdrvx.h"
#include "library/text.h"
#include "read/read.h"

using namespace kdrvx;

extern "C" {

KDRVX_API uint32_t KDRVX_OpenRead(const KDRVX_CHAR* path) {
  return read::openRead(fromCaller(path));
}

KDRVX_API uint32_t KDRVX_CloseRead(void) { return read::closeRead(); }

KDRVX_API uint32_t KDRVX_CheckOriginalFlag(uint8_t* original) {
  return read::checkOriginalFlag(original);
}

KDRVX_API uint32_t KDRVX_GetDate(KDRVX_CHAR* text) { return read::getDate(fromCaller(text)); }

KDRVX_API uint32_t KDRVX_GetTime(KDRVX_CHAR* text) { return read::getTime(fromCaller(text)); }

KDRVX_API uint32_t KDRVX_GetComment(KDRVX_CHAR* text, uint16_t capacity) {
  return read::getComment(fromCaller(text), capacity);
}

KDRVX_API uint32_t KDRVX_GetCompany(KDRVX_CHAR* text, uint16_t capacity) {
  return read::getCompany(fromCaller(text), capacity);
}

KDRVX_API uint32_t KDRVX_GetInstrument(KDRVX_CHAR* text, uint16_t capacity) {
  return read::getInstrument(fromCaller(text), capacity);
}

KDRVX_API uint32_t KDRVX_GetSnrInstrument(KDRVX_CHAR* text, uint16_t capacity) {
  return read::getSnrInstrument(fromCaller(text), capacity);
}

KDRVX_API uint32_t KDRVX_GetNameMeasurement(KDRVX_CHAR* text, uint16_t capacity) {
  return read::getNameMeasurement(fromCaller(text), capacity);
}

KDRVX_API uint32_t KDRVX_GetTriggerSetting(KDRVX_CHAR* text, uint16_t capacity) {
  return read::getTriggerSetting(fromCaller(text), capacity);
}

KDRVX_API uint32_t KDRVX_GetChannelVariable(KDRVX_CHAR* text, int16_t channel, uint16_t capacity) {
  return read::getChannelVariable(fromCaller(text), channel, capacity);
}

KDRVX_API uint32_t KDRVX_GetChannelUnit(KDRVX_CHAR* text, int16_t channel, uint16_t capacity) {
  return read::getChannelUnit(fromCaller(text), channel, capacity);
}

KDRVX_API uint32_t KDRVX_GetChannelName(KDRVX_CHAR* text, int16_t channel, uint16_t capacity) {
  return read::getChannelName(fromCaller(text), channel, capacity);
}

KDRVX_API uint32_t KDRVX_GetChannelNumber(KDRVX_CHAR* text, int16_t channel, uint16_t capacity) {
  return read::getChannelNumber(fromCaller(text), channel, capacity);
}

KDRVX_API uint32_t KDRVX_GetChannelSignalType(KDRVX_CHAR* text, int16_t channel, uint16_t capacity) {
  return read::getChannelSignalType(fromCaller(text), channel, capacity);
}

KDRVX_API uint32_t KDRVX_GetChannelZeroPoint(KDRVX_CHAR* text, int16_t channel, uint16_t capacity) {
  return read::getChannelZeroPoint(fromCaller(text), channel, capacity);
}

KDRVX_API uint32_t KDRVX_GetChannelCalParameter(KDRVX_CHAR* text, int16_t channel, uint16_t capacity) {
  return read::getChannelCalParameter(fromCaller(text), channel, capacity);
}

KDRVX_API uint32_t KDRVX_GetChannelFilter(KDRVX_CHAR* text, int16_t channel, uint16_t capacity) {
  return read::getChannelFilter(fromCaller(text), channel, capacity);
}

KDRVX_API uint32_t KDRVX_GetChannelLintab(KDRVX_CHAR* text, int16_t channel, uint16_t capacity) {
  return read::getChannelLintab(fromCaller(text), channel, capacity);
}

KDRVX_API uint32_t KDRVX_GetVersion(void) { return read::getVersion(); }

KDRVX_API uint32_t KDRVX_GetNoRecords(void) { return read::getNoRecords(); }

KDRVX_API int64_t KDRVX_GetScanRate(void) { return read::getScanRate(); }

KDRVX_API uint32_t KDRVX_GetNoChannels(void) { return read::getNoChannels(); }

KDRVX_API uint32_t KDRVX_GetNoTriggerRecord(void) { return read::getNoTriggerRecord(); }

KDRVX_API uint32_t KDRVX_GetFlagStatistics(void) { return read::getFlagStatistics(); }

KDRVX_API uint32_t KDRVX_GetChannelIndRate(int16_t channel) {
  return read::getChannelIndRate(channel);
}

KDRVX_API float KDRVX_GetChannelMinValue(int16_t channel) {
  return read::getChannelStatistic(read::ChannelStatistic::Min, channel);
}

KDRVX_API float KDRVX_GetChannelMaxValue(int16_t channel) {
  return read::getChannelStatistic(read::ChannelStatistic::Max, channel);
}

KDRVX_API float KDRVX_GetChannelMeanValue(int16_t channel) {
  return read::getChannelStatistic(read::ChannelStatistic::Mean, channel);
}

KDRVX_API float KDRVX_GetChannelRMSValue(int16_t channel) {
  return read::getChannelStatistic(read::ChannelStatistic::RMS, channel);
}

KDRVX_API float KDRVX_GetChannelSDevValue(int16_t channel) {
  return read::getChannelStatistic(read::ChannelStatistic::SDev, channel);
}

KDRVX_API int32_t KDRVX_GetNumberMultiChannelBits(int16_t channel) {
  return read::getNumberMultiChannelBits(channel);
}

KDRVX_API int32_t KDRVX_IsChannelISDS(int16_t channel) {
  return read::isChannelFlagSet(read::ChannelFlag::ISDS, channel);
}

KDRVX_API int32_t KDRVX_IsChannelLinearisation(int16_t channel) {
  return read::isChannelFlagSet(read::ChannelFlag::Linearisation, channel);
}

KDRVX_API int32_t KDRVX_IsChannelMultiChannel(int16_t channel) {
  return read::isChannelFlagSet(read::ChannelFlag::MultiChannel, channel);
}

KDRVX_API int32_t KDRVX_IsAnyMultiChannelinRVX(void) { return read::isAnyMultiChannelInRvx(); }

KDRVX_API uint32_t KDRVX_ReadFirstRecord(float* record) { return read::readFirstRecord(record); }

KDRVX_API uint32_t KDRVX_ReadNextRecord(float* record) { return read::readNextRecord(record); }

KDRVX_API int64_t KDRVX_ReadRecords(int64_t first, uint32_t count, void* buffer) {
  return read::readRecords(first, count, buffer);
}

KDRVX_API uint32_t KDRVX_GetDataLayout(uint64_t* dataOffset, uint32_t* recordSize,
                                       uint32_t* recordKind) {
  return read::getDataLayout(dataOffset, recordSize, recordKind);
}

}  // extern "C"
