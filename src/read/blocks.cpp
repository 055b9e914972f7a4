// The block reader of the independent readers: records in any order, each
// call from any record, every kind converted in bulk. Records stored as
// floats are read straight into the caller's buffer; the two older kinds are
// read a chunk at a time into the reader's buffer and converted from there.
// That buffer grows to what the calls need, at most one chunk, so a small
// file costs a small buffer and reading on in blocks of one size allocates
// once.
//
// It delivers what the one-by-one readers deliver, with these choices where
// they leave the caller's buffer to decide:
// - DOS kind: a record whose first decimal count is above 10 is delivered
//   as NaN in every channel; the first end mark ends the data, also for a
//   call that starts behind it (the records between the last known place
//   and `first` are searched for one).
// - Sparse kind: a channel not stored in a record carries its value from
//   the record before, 0 before the first record. A call that does not go
//   on from where the last one ended finds those values where the channels
//   were last stored (their offsets follow from the rates). The data end at
//   the first record that is not whole, even where records that store
//   nothing would follow.
// - Only whole records are delivered; a file without channels has none.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "format/layouts.h"
#include "platform/platform.h"
#include "read/reader.h"
#include "read/record_kinds.h"

namespace kdrvx::read {
namespace {

constexpr uint32_t kChunkBytes = 256 * 1024;
// No file holds a record this far on; a larger `first` delivers nothing
// rather than an offset that does not fit.
constexpr uint64_t kLastRecord = uint64_t{1} << 48;
// One read of the system moves at most this many bytes.
constexpr uint64_t kLargestRead = uint64_t{1} << 30;
// A sparse cursor whose carried values are not known: the next call finds
// them again.
constexpr uint64_t kCarryUnknown = std::numeric_limits<uint64_t>::max();

// Notes that the system failed a call on the file: the records it would
// have given are not the end of the data.
void noteSystemFailure(BlockCursor& cursor) {
  const uint32_t error = platform::lastError();
  cursor.failure = error != 0 ? error : platform::kErrorIoDevice;
}

// Reads `bytes` bytes at `offset` into `buffer`; the number of bytes read,
// fewer at the end of the file or when the system fails the seek or the
// read (noted in the cursor).
uint64_t readAt(Recording& recording, BlockCursor& cursor, uint64_t offset, void* buffer,
                uint64_t bytes) {
  if (cursor.filePosition != static_cast<int64_t>(offset)) {
    if (!recording.file.seekFromStart(static_cast<int64_t>(offset))) {
      cursor.filePosition = -1;
      noteSystemFailure(cursor);
      return 0;
    }
  }
  auto* target = static_cast<uint8_t*>(buffer);
  uint64_t total = 0;
  while (total < bytes) {
    const auto wanted = static_cast<uint32_t>(std::min(bytes - total, kLargestRead));
    const uint32_t got = recording.file.read(target + total, wanted);
    total += got;
    if (recording.file.readFailed()) {
      // Where the file stands after a failed read is not known.
      cursor.filePosition = -1;
      noteSystemFailure(cursor);
      return total;
    }
    if (got < wanted) break;
  }
  cursor.filePosition = static_cast<int64_t>(offset + total);
  return total;
}

// The reader's buffer, with room for `bytes` (at most one chunk); null,
// and the cursor marked, when no memory is left. It is left uninitialised:
// only what a read put there is used.
uint8_t* chunkBuffer(BlockCursor& cursor, uint64_t bytes) {
  if (cursor.storedBytes < bytes) {
    const uint64_t grown = std::min<uint64_t>(kChunkBytes, std::max(bytes, 2 * cursor.storedBytes));
    cursor.stored.reset(new (std::nothrow) uint8_t[grown]);
    cursor.storedBytes = cursor.stored ? grown : 0;
    if (!cursor.stored) cursor.failure = platform::kErrorNotEnoughMemory;
  }
  return cursor.stored.get();
}

uint64_t readFloats(Recording& recording, BlockCursor& cursor, uint64_t first, uint32_t count,
                    float* records) {
  const auto size = static_cast<uint64_t>(recording.recordSize);
  const uint64_t got =
      readAt(recording, cursor, recording.dataOffset + first * size, records, count * size);
  return got / size;
}

// DOS kind: converts the whole records of `stored` from record `first` on,
// up to the first end mark; the number of records delivered.
uint64_t convertDos(Recording& recording, BlockCursor& cursor, uint64_t first,
                    const uint8_t* stored, uint64_t whole, float* records) {
  const auto size = static_cast<uint32_t>(recording.recordSize);
  const uint32_t channels = size / kDosEntrySize;
  for (uint64_t r = 0; r < whole; ++r) {
    const uint8_t* entry = stored + r * size;
    float* out = records + r * channels;
    if (dosDecimals(entry) == kDosEndOfData) {
      cursor.endMark = static_cast<int64_t>(first + r);
      return r;
    }
    if (dosRecordRefused(entry)) {
      std::fill(out, out + channels, std::numeric_limits<float>::quiet_NaN());
      continue;
    }
    for (uint32_t k = 0; k < channels; ++k) out[k] = dosValue(entry + k * kDosEntrySize);
  }
  return whole;
}

// Searches the records from `clearRecords` up to `first` for an end mark.
void searchEndMark(Recording& recording, BlockCursor& cursor, uint64_t first) {
  const auto size = static_cast<uint64_t>(recording.recordSize);
  const uint64_t perChunk = kChunkBytes / size;
  while (cursor.endMark < 0 && cursor.clearRecords < first) {
    const uint64_t wanted = std::min(perChunk, first - cursor.clearRecords);
    uint8_t* stored = chunkBuffer(cursor, wanted * size);
    if (stored == nullptr) return;
    const uint64_t whole =
        readAt(recording, cursor, recording.dataOffset + cursor.clearRecords * size, stored,
               wanted * size) /
        size;
    for (uint64_t r = 0; r < whole && cursor.endMark < 0; ++r)
      if (dosDecimals(stored + r * size) == kDosEndOfData)
        cursor.endMark = static_cast<int64_t>(cursor.clearRecords + r);
    if (cursor.endMark >= 0 || whole < wanted) return;
    cursor.clearRecords += whole;
  }
}

uint64_t readDos(Recording& recording, BlockCursor& cursor, uint64_t first, uint32_t count,
                 float* records) {
  searchEndMark(recording, cursor, first);
  if (cursor.failure != 0) return 0;
  if (cursor.endMark >= 0 && first >= static_cast<uint64_t>(cursor.endMark)) return 0;
  if (cursor.clearRecords < first) return 0;  // the file ends before `first`
  const auto size = static_cast<uint64_t>(recording.recordSize);
  const uint32_t channels = static_cast<uint32_t>(size / kDosEntrySize);
  const uint64_t perChunk = kChunkBytes / size;
  uint64_t delivered = 0;
  while (delivered < count) {
    const uint64_t at = first + delivered;
    const uint64_t wanted = std::min<uint64_t>(perChunk, count - delivered);
    uint8_t* stored = chunkBuffer(cursor, wanted * size);
    if (stored == nullptr) break;
    const uint64_t whole =
        readAt(recording, cursor, recording.dataOffset + at * size, stored, wanted * size) / size;
    const uint64_t converted =
        convertDos(recording, cursor, at, stored, whole, records + delivered * channels);
    delivered += converted;
    if (converted < wanted) break;
  }
  cursor.clearRecords = std::max(cursor.clearRecords, first + delivered);
  return delivered;
}

// Sparse kind: the channels' rates, a rate of 0 taken as 1.
struct SparseChannels {
  uint32_t count = 0;
  uint32_t rate[format::kMaxChannels];
};

SparseChannels sparseChannels(const Recording& recording) {
  SparseChannels channels;
  channels.count = static_cast<uint32_t>(recording.recordSize) / format::kBytesPerValue;
  for (uint32_t k = 0; k < channels.count; ++k)
    channels.rate[k] = format::sparseRate(recording.header.Channel[k].ChannelIndRate);
  return channels;
}

// File offset of record n (counted from 1).
uint64_t sparseOffset(const Recording& recording, const SparseChannels& channels, uint64_t n) {
  uint64_t values = 0;
  for (uint32_t k = 0; k < channels.count; ++k)
    values += format::sparseStoredUpTo(channels.rate[k], n - 1);
  return recording.dataOffset + values * format::kBytesPerValue;
}

// The values of every channel as they stand after record n - 1: each read
// where its channel was last stored. Record n begins within the file, so
// every value before it is there: a read that fails leaves the values
// unknown (false), and nothing is delivered from them.
bool findCarry(Recording& recording, BlockCursor& cursor, const SparseChannels& channels,
               uint64_t n) {
  for (uint32_t k = 0; k < channels.count; ++k) {
    cursor.carry[k] = 0.0f;
    if (n < 2) continue;
    const uint32_t rate = channels.rate[k];
    const uint64_t last = rate == 1 ? n - 1 : (n - 2) / rate * rate + 1;
    uint64_t before = 0;  // values stored ahead of channel k in record `last`
    for (uint32_t j = 0; j < k; ++j) before += format::sparseHolds(channels.rate[j], last) ? 1 : 0;
    const uint64_t offset =
        sparseOffset(recording, channels, last) + before * format::kBytesPerValue;
    float value = 0.0f;
    if (readAt(recording, cursor, offset, &value, sizeof value) != sizeof value) {
      cursor.carryRecord = kCarryUnknown;
      return false;
    }
    cursor.carry[k] = value;
  }
  cursor.carryRecord = n - 1;
  return true;
}

uint64_t readSparse(Recording& recording, BlockCursor& cursor, uint64_t first, uint32_t count,
                    float* records) {
  const SparseChannels channels = sparseChannels(recording);
  uint64_t n = first + 1;
  uint64_t offset = sparseOffset(recording, channels, n);
  if (cursor.carryRecord != n - 1) {
    // The data end at the first record that is not whole: every record
    // before n is whole when record n begins within the file.
    const int64_t length = recording.file.length();
    if (length < 0) {
      noteSystemFailure(cursor);
      return 0;
    }
    if (offset > static_cast<uint64_t>(length)) return 0;
    if (!findCarry(recording, cursor, channels, n)) return 0;
  }
  uint64_t delivered = 0;
  while (delivered < count) {
    const uint64_t wanted =
        std::min<uint64_t>(kChunkBytes, (count - delivered) * channels.count * 4);
    uint8_t* stored = chunkBuffer(cursor, wanted);
    if (stored == nullptr) break;
    const uint64_t got = readAt(recording, cursor, offset, stored, wanted);
    uint64_t used = 0;
    bool whole = true;
    for (; delivered < count; ++delivered, ++n) {
      uint64_t needed = 0;
      for (uint32_t k = 0; k < channels.count; ++k)
        needed += format::sparseHolds(channels.rate[k], n) ? format::kBytesPerValue : 0;
      if (used + needed > got) {
        whole = false;
        break;
      }
      float* out = records + delivered * channels.count;
      for (uint32_t k = 0; k < channels.count; ++k) {
        if (format::sparseHolds(channels.rate[k], n)) {
          std::memcpy(&cursor.carry[k], stored + used, format::kBytesPerValue);
          used += format::kBytesPerValue;
        }
        out[k] = cursor.carry[k];
      }
      cursor.carryRecord = n;
    }
    offset += used;
    if (!whole && got < wanted) break;
  }
  return delivered;
}

}  // namespace

uint64_t readBlock(Recording& recording, BlockCursor& cursor, uint64_t first, uint32_t count,
                   float* records) {
  cursor.failure = 0;
  if (recording.recordSize <= 0 || count == 0 || first > kLastRecord) return 0;
  switch (recordKind(recording)) {
    case format::RecordKind::Decimals:
      return readDos(recording, cursor, first, count, records);
    case format::RecordKind::Sparse:
      return readSparse(recording, cursor, first, count, records);
    case format::RecordKind::Floats:
      break;
  }
  return readFloats(recording, cursor, first, count, records);
}

}  // namespace kdrvx::read
