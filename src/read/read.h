// Read access: opening and closing a file for reading, the header and
// channel queries, and the record readers. Each function is the body of the
// export of the same name.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kdrvx::read {

// Opening and closing.
uint32_t openRead(const char16_t* path);
uint32_t closeRead();

// Queries that return a status.
uint32_t checkOriginalFlag(uint8_t* original);
uint32_t getDate(char16_t* text);
uint32_t getTime(char16_t* text);
uint32_t getComment(char16_t* text, uint16_t capacity);
uint32_t getCompany(char16_t* text, uint16_t capacity);
uint32_t getInstrument(char16_t* text, uint16_t capacity);
uint32_t getSnrInstrument(char16_t* text, uint16_t capacity);
uint32_t getNameMeasurement(char16_t* text, uint16_t capacity);
uint32_t getTriggerSetting(char16_t* text, uint16_t capacity);
uint32_t getChannelVariable(char16_t* text, int16_t channel, uint16_t capacity);
uint32_t getChannelUnit(char16_t* text, int16_t channel, uint16_t capacity);
uint32_t getChannelName(char16_t* text, int16_t channel, uint16_t capacity);
uint32_t getChannelNumber(char16_t* text, int16_t channel, uint16_t capacity);
uint32_t getChannelSignalType(char16_t* text, int16_t channel, uint16_t capacity);
uint32_t getChannelZeroPoint(char16_t* text, int16_t channel, uint16_t capacity);
uint32_t getChannelCalParameter(char16_t* text, int16_t channel, uint16_t capacity);
uint32_t getChannelFilter(char16_t* text, int16_t channel, uint16_t capacity);
uint32_t getChannelLintab(char16_t* text, int16_t channel, uint16_t capacity);

// Queries that return a value; they leave the last error alone.
uint32_t getVersion();
uint32_t getNoRecords();
int64_t getScanRate();
uint32_t getNoChannels();
uint32_t getNoTriggerRecord();
uint32_t getFlagStatistics();
uint32_t getChannelIndRate(int16_t channel);
// The statistics a channel record keeps, each with a query of its own.
enum class ChannelStatistic { Min, Max, Mean, RMS, SDev };
inline constexpr size_t kChannelStatisticCount = 5;
float getChannelStatistic(ChannelStatistic which, int16_t channel);
int32_t getNumberMultiChannelBits(int16_t channel);
// The marks of a channel record that the yes/no queries answer for.
enum class ChannelFlag { ISDS, Linearisation, MultiChannel };
inline constexpr size_t kChannelFlagCount = 3;
int32_t isChannelFlagSet(ChannelFlag which, int16_t channel);
int32_t isAnyMultiChannelInRvx();

// Record readers; they leave the last error alone.
uint32_t readFirstRecord(float* record);
uint32_t readNextRecord(float* record);
int64_t readRecords(int64_t first, uint32_t count, void* buffer);

// The data layout of the open file; leaves the last error alone.
uint32_t getDataLayout(uint64_t* dataOffset, uint32_t* recordSize, uint32_t* kind);

}  // namespace kdrvx::read
