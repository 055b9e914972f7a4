// The create-side exports, one function each: creating a file and the
// header setters, channel definition, records, closing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kdrvx::write {

// Creating and the header.
uint32_t createExt(char16_t* path, bool overwrite, bool original, bool legacyLayout,
                   int32_t language);
// As createExt, but other openers may read the file while it is recorded.
uint32_t createLive(char16_t* path, bool overwrite, bool original, bool legacyLayout,
                    int32_t language);
uint32_t reset();
// The header texts, each with a setter of its own.
enum class HeaderField {
  Company,
  Instrument,
  SnrInstrument,
  NameMeasurement,
  TriggerSetting,
  Comment,
};
inline constexpr size_t kHeaderFieldCount = 6;
uint32_t setHeaderText(HeaderField which, const char16_t* text);
uint32_t setDate(const char16_t* text);
uint32_t setTime(const char16_t* text);
uint32_t setScanRate(int64_t microseconds);
uint32_t setNoTriggerRecord(uint32_t record);

// Channels.
uint32_t addChannel(const char16_t* variable);
// A channel's variable and texts, each with a setter of its own.
enum class ChannelField {
  Variable,
  Unit,
  Name,
  Number,
  SignalType,
  ZeroPoint,
  CalParameter,
  Filter,
  Lintab,
};
inline constexpr size_t kChannelFieldCount = 9;
uint32_t setChannelText(ChannelField which, int16_t channel, const char16_t* text);
uint32_t setChannelIndRate(int16_t channel, uint32_t divisor);
uint32_t setChannelISDS(int16_t channel, int16_t value);
uint32_t setChannelLinearisation(int16_t channel, int16_t value);
uint32_t setChannelMultiChannel(int16_t channel, uint16_t bits);
uint32_t convertMultiChannelValue(float value);

// Guards run first by every create-side export. Each returns 0 when it
// passes; otherwise it has stored and traced its failure and returns it.
uint32_t requireCreateOpen();
uint32_t requireChannel(int16_t channel);

// Records to the file under creation (`count` of them, one after the
// other); the caller has run the guard.
uint32_t addRecords(const float* records, uint32_t count);
uint32_t update();
uint32_t writeDataBlock(const void* data, int32_t offset, uint16_t count);

// Closing.
uint32_t closeCreate();
uint32_t closeCreateSimple();

}  // namespace kdrvx::write
