// The record readers. They read sequentially from where the open left the
// file, one read per record (one per present channel in the sparse WIN 2.x
// kind), and allocate nothing.
//
// Decisions where the interface leaves things open:
// - KDRVX_ReadNextRecord without an open file returns ERR_RVX_NOT_OPEN_READ,
//   as KDRVX_ReadFirstRecord does, but traces nothing; KDRVX_ReadRecords
//   returns it sign-extended once the version test has passed. Neither
//   reads anything.
// - A file without channels (record size 0) has records of 0 bytes: the
//   single-record readers deliver one whole (result 0, nothing written)
//   each time, and KDRVX_ReadRecords counts none, as 0 bytes hold 0
//   records.
// - A WIN 2.x channel whose ChannelIndRate is 0 is sampled in every record,
//   as with a divisor of 1.
// - first + n of KDRVX_ReadRecords is kept modulo 2^32; the counter only
//   governs the sparse kind, which that reader refuses.
// - A read that the system fails is no end of the data: the readers return
//   ERR_RVX_OPEN_READ (KDRVX_ReadRecords sign-extended), traced under
//   DEBUG_ERRORS as "KDrvxLibrary: Error 0x%08X" with the system's error
//   like the other failures the system causes, and leave the last error
//   alone as every record reader does. The caller's buffer then holds what
//   did arrive; the single-record readers have counted the record in
//   RecordCounter all the same, KDRVX_ReadRecords leaves it.
// - A null buffer receives nothing: 1 from the single-record readers (0 for
//   records of 0 bytes), 0 from KDRVX_ReadRecords.
#include <algorithm>
#include <cstring>

#include "format/layout.h"
#include "format/layouts.h"
#include "kdrvx/kdrvx.h"
#include "library/trace.h"
#include "platform/platform.h"
#include "read/read.h"
#include "read/read_context.h"
#include "read/record_kinds.h"

namespace kdrvx::read {
namespace {

using format::RVX_HEADER;

constexpr uint32_t kWholeRecord = 0;
constexpr uint32_t kIncompleteRecord = 1;
constexpr uint32_t kEndMark = 2;

bool hasDosRecords(const RVX_HEADER& header) {
  return format::recordKindOf(header) == format::RecordKind::Decimals;
}

bool hasSparseRecords(const RVX_HEADER& header) {
  return format::recordKindOf(header) == format::RecordKind::Sparse;
}

// The status of a read that the system failed, traced with its reason.
uint32_t failedRead() {
  trace::systemError(platform::lastError());
  return KDRVX_ERR_RVX_OPEN_READ;
}

uint32_t readDosRecord(ReadContext& read, float* record) {
  uint8_t raw[format::kMaxChannels * kDosEntrySize];
  const uint32_t size =
      std::min<uint32_t>(static_cast<uint32_t>(read.recording.recordSize), sizeof raw);
  const uint32_t got = read.recording.file.read(raw, size);
  if (read.recording.file.readFailed()) return failedRead();
  if (got >= kDosEntrySize) {
    if (dosDecimals(raw) == kDosEndOfData) return kEndMark;
    if (dosRecordRefused(raw)) return kIncompleteRecord;
  }
  if (got < size) return kIncompleteRecord;
  for (uint32_t k = 0; k < size / kDosEntrySize; ++k) record[k] = dosValue(raw + k * kDosEntrySize);
  return kWholeRecord;
}

// WIN 2.x with sparse records: channel k is present in record n when n mod
// its ChannelIndRate is 1, or the rate is 1; an absent channel keeps the
// value the caller's buffer holds.
uint32_t readSparseRecord(ReadContext& read, float* record) {
  const uint32_t n = read.recordCounter;
  const uint32_t size = static_cast<uint32_t>(read.recording.recordSize);
  uint32_t total = 0;
  for (uint32_t k = 0; k < size / format::kBytesPerValue; ++k) {
    if (format::sparseHolds(read.recording.header.Channel[k].ChannelIndRate, n)) {
      total += read.recording.file.read(&record[k], format::kBytesPerValue);
      if (read.recording.file.readFailed()) return failedRead();
    } else {
      total += format::kBytesPerValue;
    }
  }
  return total == size ? kWholeRecord : kIncompleteRecord;
}

uint32_t readWholeRecord(ReadContext& read, float* record) {
  const auto size = static_cast<uint32_t>(read.recording.recordSize);
  const uint32_t got = read.recording.file.read(record, size);
  if (read.recording.file.readFailed()) return failedRead();
  return got == size ? kWholeRecord : kIncompleteRecord;
}

uint32_t readOneRecord(ReadContext& read, float* record, bool sparseAllowed) {
  // A record of 0 bytes is read whole without reading anything.
  if (read.recording.recordSize <= 0) return kWholeRecord;
  if (record == nullptr) return kIncompleteRecord;
  if (hasDosRecords(read.recording.header)) return readDosRecord(read, record);
  if (sparseAllowed && hasSparseRecords(read.recording.header))
    return readSparseRecord(read, record);
  return readWholeRecord(read, record);
}

int64_t signExtended(uint32_t status) { return static_cast<int32_t>(status); }

}  // namespace

uint32_t readFirstRecord(float* record) {
  ReadContext& read = context();
  if (!read.open) {
    trace::failure(KDRVX_ERR_RVX_NOT_OPEN_READ);
    return KDRVX_ERR_RVX_NOT_OPEN_READ;
  }
  read.recordCounter = 1;
  // The first record of the sparse kind holds every channel.
  return readOneRecord(read, record, false);
}

uint32_t readNextRecord(float* record) {
  ReadContext& read = context();
  if (!read.open) return KDRVX_ERR_RVX_NOT_OPEN_READ;
  ++read.recordCounter;
  return readOneRecord(read, record, true);
}

int64_t readRecords(int64_t first, uint32_t count, void* buffer) {
  ReadContext& read = context();
  if (hasDosRecords(visibleHeader()) || hasSparseRecords(visibleHeader()))
    return signExtended(KDRVX_ERR_RVX_OLD_FORMAT);
  if (!read.open) return signExtended(KDRVX_ERR_RVX_NOT_OPEN_READ);
  if (buffer == nullptr || read.recording.recordSize <= 0) return 0;
  const auto size = static_cast<uint32_t>(read.recording.recordSize);
  const uint32_t got = read.recording.file.read(buffer, count * size);
  if (read.recording.file.readFailed()) return signExtended(failedRead());
  const uint32_t records = got / size;
  read.recordCounter = static_cast<uint32_t>(first) + records;
  return records;
}

}  // namespace kdrvx::read
