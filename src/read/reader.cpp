// Opening, describing and closing independent readers. The open is the read
// context's own (recording.cpp), the descriptions are what the context's
// queries deliver (header_values.h), so that a reader reports exactly what
// the read context reports for the same file. Nothing here traces or
// touches the module state but the registry of open readers, which every
// call asks for the reader behind its handle.
#include "read/reader.h"

#include <memory>
#include <new>
#include <utility>

#include "format/header_values.h"
#include "kdrvx/kdrvx.h"
#include "library/sized.h"
#include "read/shared_state.h"

namespace kdrvx::read {

using format::RVX_HEADER;

uint32_t readerOpen(const char16_t* path, KDRVX_Reader** handle) {
  if (handle == nullptr) return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  *handle = nullptr;
  std::unique_ptr<Reader> opened(new (std::nothrow) Reader);
  if (!opened) return KDRVX_ERR_RVX_OPEN_READ;
  const OpenOutcome outcome = openRecording(opened->recording, path, RetryLine::Silent);
  if (outcome.status != KDRVX_OK) return outcome.status;
  measureClaims(opened->recording, outcome);
  opened->path = path;
  opened->cursor.filePosition = static_cast<int64_t>(opened->recording.dataOffset);
  *handle = readers().add(std::move(opened));
  return *handle != nullptr ? KDRVX_OK : KDRVX_ERR_RVX_OPEN_READ;
}

uint32_t readerInfo(const KDRVX_Reader* handle, KDRVX_RecordingInfo* info) {
  const Reader* reader = readers().find(handle);
  if (reader == nullptr) return KDRVX_ERR_RVX_NOT_OPEN_READ;
  const Recording& recording = reader->recording;
  const format::StoredData data{recording.sourceVersion, recording.dataOffset,
                                static_cast<uint32_t>(recording.recordSize)};
  return deliver(format::describeRecording(recording.header, data), info);
}

uint32_t readerChannel(const KDRVX_Reader* handle, int16_t channel, KDRVX_ChannelInfo* info) {
  const Reader* reader = readers().find(handle);
  if (reader == nullptr) return KDRVX_ERR_RVX_NOT_OPEN_READ;
  const RVX_HEADER& h = reader->recording.header;
  if (channel < 0 || static_cast<uint32_t>(channel) >= channelCount(h))
    return KDRVX_ERR_RVX_CHN_UNKNOWN;
  return deliver(format::describeChannel(h, static_cast<uint32_t>(channel)), info);
}

int64_t readerRead(KDRVX_Reader* handle, int64_t first, uint32_t count, float* records) {
  const auto negative = [](uint32_t status) { return int64_t{static_cast<int32_t>(status)}; };
  Reader* reader = readers().find(handle);
  if (reader == nullptr) return negative(KDRVX_ERR_RVX_NOT_OPEN_READ);
  reader->cursor.failure = 0;
  const bool noRoom = records == nullptr && count > 0 && reader->recording.recordSize > 0;
  if (first < 0 || noRoom) return negative(KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  const uint64_t delivered =
      readBlock(reader->recording, reader->cursor, static_cast<uint64_t>(first), count, records);
  // Records the call could not read, for want of memory or because the
  // system failed the read, are not the end of the data: the caller learns
  // that the read failed, and readerSystemError why.
  if (reader->cursor.failure != 0) return negative(KDRVX_ERR_RVX_OPEN_READ);
  return static_cast<int64_t>(delivered);
}

uint32_t readerSystemError(const KDRVX_Reader* handle, uint32_t* systemError) {
  const Reader* reader = readers().find(handle);
  if (reader == nullptr) return KDRVX_ERR_RVX_NOT_OPEN_READ;
  if (systemError == nullptr) return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  *systemError = reader->cursor.failure;
  return KDRVX_OK;
}

uint32_t readerFindings(const KDRVX_Reader* handle, KDRVX_Findings* findings) {
  const Reader* reader = readers().find(handle);
  if (reader == nullptr) return KDRVX_ERR_RVX_NOT_OPEN_READ;
  return deliver(reader->recording.claims, findings);
}

void readerClose(KDRVX_Reader* handle) { readers().remove(handle); }

}  // namespace kdrvx::read
