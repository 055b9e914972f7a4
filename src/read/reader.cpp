// Opening, describing and closing independent readers. The open is the read
// context's own (recording.cpp), the descriptions are what the context's
// queries deliver (header_values.h), so that a reader reports exactly what
// the read context reports for the same file. Nothing here traces or
// touches the module state.
#include "read/reader.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>

#include "kdrvx/kdrvx.h"
#include "library/text.h"
#include "read/header_values.h"

namespace kdrvx::read {
namespace {

using format::MGR_DEF;
using format::RVX_HEADER;

template <size_t N>
void copyField(KDRVX_CHAR (&target)[N], const char16_t (&field)[N]) {
  copyToCaller(fromCaller(target), N, field, N);
}

}  // namespace

uint32_t readerOpen(const char16_t* path, KDRVX_Reader** reader) {
  if (reader == nullptr) return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  *reader = nullptr;
  std::unique_ptr<KDRVX_Reader> opened(new (std::nothrow) KDRVX_Reader);
  if (!opened) return KDRVX_ERR_RVX_OPEN_READ;
  const OpenOutcome outcome = openRecording(opened->recording, path, RetryLine::Silent);
  if (outcome.status != KDRVX_OK) return outcome.status;
  measureClaims(opened->recording, outcome);
  opened->cursor.filePosition = static_cast<int64_t>(opened->recording.dataOffset);
  *reader = opened.release();
  return KDRVX_OK;
}

uint32_t readerInfo(const KDRVX_Reader* reader, KDRVX_RecordingInfo* info) {
  if (reader == nullptr) return KDRVX_ERR_RVX_NOT_OPEN_READ;
  const Recording& recording = reader->recording;
  const RVX_HEADER& h = recording.header;
  KDRVX_RecordingInfo whole{};
  whole.size = sizeof whole;
  whole.version = recording.sourceVersion;
  whole.noRecords = h.NoRecords;
  whole.noChannels = h.NoChannels;
  whole.noTriggerRecord = triggerRecordOf(h);
  whole.flagStatistics = h.FlagStatistics;
  whole.scanRate = scanRateOf(h);
  whole.dataOffset = recording.dataOffset;
  whole.recordSize = static_cast<uint32_t>(recording.recordSize);
  whole.recordKind = static_cast<uint32_t>(recordKind(recording));
  whole.anyMultiChannel = anyMultiChannel(h) ? 1 : 0;
  whole.original = originalFlagOf(h);
  writeDate(h, fromCaller(whole.date));
  writeTime(h, fromCaller(whole.time));
  copyField(whole.comment, h.Comment);
  copyField(whole.company, h.Company);
  copyField(whole.instrument, h.Instrument);
  copyField(whole.snrInstrument, h.SnrInstrument);
  copyField(whole.nameMeasurement, h.NameMeasurement);
  copyField(whole.triggerSetting, h.TriggerSetting);
  return deliver(whole, info);
}

uint32_t readerChannel(const KDRVX_Reader* reader, int16_t channel, KDRVX_ChannelInfo* info) {
  if (reader == nullptr) return KDRVX_ERR_RVX_NOT_OPEN_READ;
  const RVX_HEADER& h = reader->recording.header;
  if (channel < 0 || static_cast<uint32_t>(channel) >= channelCount(h))
    return KDRVX_ERR_RVX_CHN_UNKNOWN;
  const MGR_DEF& c = h.Channel[channel];
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
  writeVariable(c, fromCaller(whole.variable), std::size(whole.variable) - 1);
  // The field's capacity holds any unit the field can: never refused.
  writeUnit(c, fromCaller(whole.unit), std::size(whole.unit));
  copyField(whole.name, c.ChannelName);
  copyField(whole.number, c.ChannelNumber);
  copyField(whole.signalType, c.ChannelSignalType);
  copyField(whole.zeroPoint, c.ChannelZeroPoint);
  copyField(whole.calParameter, c.ChannelCalParameter);
  copyField(whole.filter, c.ChannelFilter);
  writeLintab(c, fromCaller(whole.lintab), std::size(whole.lintab));
  return deliver(whole, info);
}

int64_t readerRead(KDRVX_Reader* reader, int64_t first, uint32_t count, float* records) {
  const auto negative = [](uint32_t status) { return int64_t{static_cast<int32_t>(status)}; };
  if (reader == nullptr) return negative(KDRVX_ERR_RVX_NOT_OPEN_READ);
  const bool noRoom = records == nullptr && count > 0 && reader->recording.recordSize > 0;
  if (first < 0 || noRoom) return negative(KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  reader->cursor.outOfMemory = false;
  const uint64_t delivered =
      readBlock(reader->recording, reader->cursor, static_cast<uint64_t>(first), count, records);
  // Records the call could not read for want of memory are not the end of
  // the data: the caller learns that the read failed.
  if (reader->cursor.outOfMemory) return negative(KDRVX_ERR_RVX_OPEN_READ);
  return static_cast<int64_t>(delivered);
}

uint32_t readerFindings(const KDRVX_Reader* reader, KDRVX_Findings* findings) {
  if (reader == nullptr) return KDRVX_ERR_RVX_NOT_OPEN_READ;
  return deliver(toFindings(reader->recording.claims), findings);
}

KDRVX_Findings toFindings(const format::Claims& claims) {
  KDRVX_Findings whole{};
  whole.size = sizeof whole;
  whole.findings = claims.findings;
  whole.layout = claims.layout;
  whole.fileLength = claims.fileLength;
  whole.headerLength = claims.headerLength;
  whole.dataOffset = claims.dataOffset;
  whole.headerRecords = claims.headerRecords;
  whole.heldRecords = claims.heldRecords;
  whole.trailingBytes = claims.trailingBytes;
  return whole;
}

void readerClose(KDRVX_Reader* reader) { delete reader; }

}  // namespace kdrvx::read
