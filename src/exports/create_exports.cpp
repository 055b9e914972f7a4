// Exported entry points of the create context.
#include "kdrvx/kdrvx.h"
#include "library/text.h"
#include "library/trace.h"
#include "modify/modify_context.h"
#include "write/create.h"
#include "write/plan.h"

using namespace kdrvx;

extern "C" {

KDRVX_API uint32_t KDRVX_CreateExt(KDRVX_CHAR* path, uint8_t overwrite, uint8_t original,
                                   uint8_t legacyLayout, int32_t language) {
  return write::createExt(fromCaller(path), overwrite != 0, original != 0, legacyLayout != 0,
                          language);
}

KDRVX_API uint32_t KDRVX_CreateLive(KDRVX_CHAR* path, uint8_t overwrite, uint8_t original,
                                    uint8_t legacyLayout, int32_t language) {
  return write::createLive(fromCaller(path), overwrite != 0, original != 0, legacyLayout != 0,
                           language);
}

KDRVX_API uint32_t KDRVX_Create(KDRVX_CHAR* path, uint8_t overwrite, uint8_t original) {
  return write::createExt(fromCaller(path), overwrite != 0, original != 0, false, 255);
}

KDRVX_API uint32_t KDRVX_Reset(void) { return write::reset(); }

KDRVX_API uint32_t KDRVX_SetCompany(const KDRVX_CHAR* text) {
  return write::setHeaderText(write::HeaderField::Company, fromCaller(text));
}

KDRVX_API uint32_t KDRVX_SetInstrument(const KDRVX_CHAR* text) {
  return write::setHeaderText(write::HeaderField::Instrument, fromCaller(text));
}

KDRVX_API uint32_t KDRVX_SetSnrInstrument(const KDRVX_CHAR* text) {
  return write::setHeaderText(write::HeaderField::SnrInstrument, fromCaller(text));
}

KDRVX_API uint32_t KDRVX_SetNameMeasurement(const KDRVX_CHAR* text) {
  return write::setHeaderText(write::HeaderField::NameMeasurement, fromCaller(text));
}

KDRVX_API uint32_t KDRVX_SetTriggerSetting(const KDRVX_CHAR* text) {
  return write::setHeaderText(write::HeaderField::TriggerSetting, fromCaller(text));
}

KDRVX_API uint32_t KDRVX_SetComment(const KDRVX_CHAR* text) {
  return write::setHeaderText(write::HeaderField::Comment, fromCaller(text));
}

KDRVX_API uint32_t KDRVX_SetDate(const KDRVX_CHAR* text) { return write::setDate(fromCaller(text)); }

KDRVX_API uint32_t KDRVX_SetTime(const KDRVX_CHAR* text) { return write::setTime(fromCaller(text)); }

KDRVX_API uint32_t KDRVX_SetScanRate(int64_t microseconds) {
  return write::setScanRate(microseconds);
}

KDRVX_API uint32_t KDRVX_SetNoTriggerRecord(uint32_t record) {
  return write::setNoTriggerRecord(record);
}

KDRVX_API uint32_t KDRVX_AddChannel(const KDRVX_CHAR* variable) {
  return write::addChannel(fromCaller(variable));
}

KDRVX_API uint32_t KDRVX_SetChannelVariable(int16_t channel, const KDRVX_CHAR* variable) {
  return write::setChannelText(write::ChannelField::Variable, channel, fromCaller(variable));
}

KDRVX_API uint32_t KDRVX_SetChannelUnit(int16_t channel, const KDRVX_CHAR* text) {
  return write::setChannelText(write::ChannelField::Unit, channel, fromCaller(text));
}

KDRVX_API uint32_t KDRVX_SetChannelName(int16_t channel, const KDRVX_CHAR* text) {
  return write::setChannelText(write::ChannelField::Name, channel, fromCaller(text));
}

KDRVX_API uint32_t KDRVX_SetChannelNumber(int16_t channel, const KDRVX_CHAR* text) {
  return write::setChannelText(write::ChannelField::Number, channel, fromCaller(text));
}

KDRVX_API uint32_t KDRVX_SetChannelSignalType(int16_t channel, const KDRVX_CHAR* text) {
  return write::setChannelText(write::ChannelField::SignalType, channel, fromCaller(text));
}

KDRVX_API uint32_t KDRVX_SetChannelZeroPoint(int16_t channel, const KDRVX_CHAR* text) {
  return write::setChannelText(write::ChannelField::ZeroPoint, channel, fromCaller(text));
}

KDRVX_API uint32_t KDRVX_SetChannelCalParameter(int16_t channel, const KDRVX_CHAR* text) {
  return write::setChannelText(write::ChannelField::CalParameter, channel, fromCaller(text));
}

KDRVX_API uint32_t KDRVX_SetChannelFilter(int16_t channel, const KDRVX_CHAR* text) {
  return write::setChannelText(write::ChannelField::Filter, channel, fromCaller(text));
}

KDRVX_API uint32_t KDRVX_SetChannelLintab(int16_t channel, const KDRVX_CHAR* text) {
  return write::setChannelText(write::ChannelField::Lintab, channel, fromCaller(text));
}

KDRVX_API uint32_t KDRVX_SetChannelIndRate(int16_t channel, uint32_t divisor) {
  return write::setChannelIndRate(channel, divisor);
}

KDRVX_API uint32_t KDRVX_SetChannelISDS(int16_t channel, int16_t value) {
  return write::setChannelISDS(channel, value);
}

KDRVX_API uint32_t KDRVX_SetChannelLinearisation(int16_t channel, int16_t value) {
  return write::setChannelLinearisation(channel, value);
}

KDRVX_API uint32_t KDRVX_SetChannelMultiChannel(int16_t channel, uint16_t bits) {
  return write::setChannelMultiChannel(channel, bits);
}

KDRVX_API uint32_t KDRVX_ConvertMultiChannelValue(float value) {
  return write::convertMultiChannelValue(value);
}

// A record goes to the file under creation or, when none is open, to the
// file open for modification; each guard traces its failure in turn.
KDRVX_API uint32_t KDRVX_AddRecord(const float* record) {
  trace::call(u"KDrvxLibrary: KDRVX_AddRecord()");
  if (write::requireCreateOpen() == KDRVX_OK) return write::addRecords(record, 1);
  return modify::addRecords(record, 1);
}

// A block of records goes where a single record would, in one write.
KDRVX_API uint32_t KDRVX_AddRecords(const float* records, uint32_t count) {
  if (trace::enabled(trace::kCalls)) {
    trace::Line<trace::kInfoLineCapacity>()
        .format("KDrvxLibrary: KDRVX_AddRecords(%u)", static_cast<unsigned>(count))
        .emit();
  }
  if (write::requireCreateOpen() == KDRVX_OK) return write::addRecords(records, count);
  return modify::addRecords(records, count);
}

KDRVX_API uint32_t KDRVX_Update(void) { return write::update(); }

KDRVX_API uint32_t KDRVX_WriteDataBlock(const void* data, int32_t offset, uint16_t count) {
  return write::writeDataBlock(data, offset, count);
}

KDRVX_API uint32_t KDRVX_CloseCreate(void) { return write::closeCreate(); }

KDRVX_API uint32_t KDRVX_CloseCreateSimple(void) { return write::closeCreateSimple(); }

KDRVX_API uint32_t KDRVX_CheckPlan(const KDRVX_Plan* plan, KDRVX_RecordingInfo* info,
                                   KDRVX_ChannelInfo* channels, KDRVX_PlanProblem* problems,
                                   uint32_t problemCapacity, uint32_t* problemCount) {
  return write::checkPlan(plan, info, channels, problems, problemCapacity, problemCount);
}

}  // extern "C"
