#include "recording/record_writer.h"

#include <algorithm>

#include "format/statistics.h"
#include "kdrvx/kdrvx.h"
#include "library/failure.h"
#include "library/state.h"
#include "library/trace.h"

namespace kdrvx::recording {
namespace {

namespace statistics = format::statistics;

// The largest piece handed to the file layer at once, whose count is 32
// bits: only a block of more than a gigabyte goes in several (W8).
constexpr uint64_t kLargestWrite = uint64_t{1} << 30;

bool writeAll(platform::File& file, const float* records, uint64_t bytes) {
  const auto* next = reinterpret_cast<const unsigned char*>(records);
  while (bytes != 0) {
    const auto piece = static_cast<uint32_t>(std::min(bytes, kLargestWrite));
    if (!file.write(next, piece)) return false;
    next += piece;
    bytes -= piece;
  }
  return true;
}

// Cuts off what a failed write of the bytes [start, start + bytes) left
// behind, so that nothing after it is ever shifted: when the file now ends
// within that range, it grew only by this write and goes back to `start`
// (W1). A write into the middle of the data (after a raw block moved the
// position back) is not cut, as that would take existing bytes with it
// (W2).
void cutPartialWrite(platform::File& file, int64_t start, uint64_t bytes) {
  const int64_t length = file.length();
  if (length > start && static_cast<uint64_t>(length - start) <= bytes) file.truncate(start);
}

// Records of a block written in one piece at `at`.
struct Piece {
  int64_t at;
  const float* records;
  uint64_t bytes;
};

// A refused write: the pieces of the block written so far, `written` of
// them and the refused one, are cut back, the last first (W1), and the
// position put back where the block began, so that the next record takes
// its place (W5), and `systemError` (taken before the clean-up calls could
// change it) is traced (W7).
uint32_t fileLayerFailure(const RecordTarget& target, const Piece* pieces, size_t written,
                          uint32_t systemError) {
  for (size_t i = written + 1; i-- > 0;)
    cutPartialWrite(target.file, pieces[i].at, pieces[i].bytes);
  target.file.seekFromStart(target.position);
  return library::failWithSystemError(target.writeFailure, systemError);
}

void traceRecordLine(uint32_t number) {
  trace::Line<trace::kInfoLineCapacity>()
      .format("Record: %ld:", static_cast<long>(static_cast<int32_t>(number)))
      .emit();
}

void countRecord(const RecordTarget& target, uint32_t count) {
  target.header.NoRecords = count;
  if (target.create == nullptr) return;
  target.create->compactNoRecords = count;
  target.create->recordAdded = true;
}

// What the first record changes in memory, kept so that a refused first
// record leaves the target exactly as it found it (W4).
struct BeforeFirstRecord {
  uint32_t count;
  uint32_t compactCount;
  bool recordAdded;
  float minimum[format::kMaxChannels];
  float maximum[format::kMaxChannels];
};

BeforeFirstRecord keep(const RecordTarget& target, uint32_t channels) {
  BeforeFirstRecord kept;
  kept.count = target.header.NoRecords;
  kept.compactCount = target.create != nullptr ? target.create->compactNoRecords : 0;
  kept.recordAdded = target.create != nullptr && target.create->recordAdded;
  for (uint32_t i = 0; i < channels; ++i) {
    kept.minimum[i] = target.header.Channel[i].MinValue;
    kept.maximum[i] = target.header.Channel[i].MaxValue;
  }
  return kept;
}

void restore(const RecordTarget& target, const BeforeFirstRecord& kept, uint32_t channels) {
  target.header.NoRecords = kept.count;
  if (target.create != nullptr) {
    target.create->compactNoRecords = kept.compactCount;
    target.create->recordAdded = kept.recordAdded;
  }
  for (uint32_t i = 0; i < channels; ++i) {
    target.header.Channel[i].MinValue = kept.minimum[i];
    target.header.Channel[i].MaxValue = kept.maximum[i];
  }
}

// A block that holds the header's first record, `first`: the block's first
// unless the count wraps past 2^32 within the block. The records go where
// single appends put them (W10): those before the first at the position;
// the first directly behind the header, whose minimum and maximum start at
// its values and which goes to the file counting that one record; those
// after it directly behind the first or, for a target that appends at the
// end of the file, there. Most often that is one piece behind the header.
// The records are written first and the header over the start last, so
// that the file never claims a record it does not hold (W3): when records
// are refused, the header on disk has not been touched; when the header is
// refused, the header as it was before the call is written back (best
// effort); either way the pieces written are cut off (W1) and the target is
// left as it was found (W4).
uint32_t writeWithHeader(const RecordTarget& target, const float* records, uint32_t count,
                         uint32_t first, uint32_t channels) {
  const uint64_t recordBytes = format::recordSize(channels);
  const float* firstRecord = records + static_cast<size_t>(first) * channels;
  const Piece before{target.position, records, first * recordBytes};
  const int64_t behindHeader = target.headerImageLength;
  const int64_t behindFirst = behindHeader + static_cast<int64_t>(recordBytes);
  const uint64_t restBytes = (count - first - 1) * recordBytes;
  const int64_t restAt =
      target.appendsAtEnd
          ? std::max(before.at + static_cast<int64_t>(before.bytes), behindFirst)
          : behindFirst;
  Piece pieces[3];
  size_t n = 0;
  if (before.bytes != 0) pieces[n++] = before;
  if (restAt == behindFirst) {
    pieces[n++] = {behindHeader, firstRecord, recordBytes + restBytes};
  } else {
    if (restBytes != 0) pieces[n++] = {restAt, firstRecord + channels, restBytes};
    pieces[n++] = {behindHeader, firstRecord, recordBytes};
  }

  format::RVX_HEADER& header = target.header;
  const BeforeFirstRecord kept = keep(target, channels);
  for (uint32_t i = 0; i < channels; ++i) {
    header.Channel[i].MinValue = firstRecord[i];
    header.Channel[i].MaxValue = firstRecord[i];
  }
  countRecord(target, 1);

  for (size_t i = 0; i < n; ++i) {
    if (!target.file.seekFromStart(pieces[i].at) ||
        !writeAll(target.file, pieces[i].records, pieces[i].bytes)) {
      const uint32_t systemError = platform::lastError();
      restore(target, kept, channels);
      return fileLayerFailure(target, pieces, i, systemError);
    }
  }
  const int64_t blockEnd = restAt + static_cast<int64_t>(restBytes);
  if (!target.file.seekFromStart(0) ||
      !target.file.write(target.headerImage, target.headerImageLength) ||
      !target.file.seekFromStart(blockEnd)) {
    const uint32_t systemError = platform::lastError();
    restore(target, kept, channels);
    if (target.file.seekFromStart(0))
      target.file.write(target.headerImage, target.headerImageLength);
    return fileLayerFailure(target, pieces, n - 1, systemError);
  }
  target.position = blockEnd;
  return KDRVX_OK;
}

// Records behind those the header on disk counts: the header is not
// touched, so a stop at any moment leaves it claiming no more (W3).
uint32_t writeBehindRecords(const RecordTarget& target, const float* records, uint64_t bytes) {
  if (!writeAll(target.file, records, bytes)) {
    const Piece block{target.position, records, bytes};
    return fileLayerFailure(target, &block, 0, platform::lastError());
  }
  target.position += static_cast<int64_t>(bytes);
  return KDRVX_OK;
}

// The statistics of a written block with their detail lines: each record's
// number (but the block's first, which was traced before the write), each
// value, and each new extreme, as single appends trace them (W6). The
// header's first record, `first` (count when the block holds none), starts
// the statistics and has no value lines.
void followWithDetails(const RecordTarget& target, const float* records, uint32_t firstNumber,
                       uint32_t count, uint32_t first, uint32_t channels) {
  statistics::Running& running = target.statistics;
  for (uint32_t r = 0; r < count; ++r) {
    if (r != 0) traceRecordLine(firstNumber + r);
    const float* record = records + static_cast<size_t>(r) * channels;
    if (r == first) {
      statistics::start(running, record, channels);
      continue;
    }
    for (uint32_t i = 0; i < channels; ++i) {
      const float value = record[i];
      trace::Line<trace::kInfoLineCapacity>()
          .format("%d: ", static_cast<int>(i))
          .appendValue(static_cast<double>(value))
          .emit();
      if (value < running.minimum[i])
        trace::emit(u"new Min");
      else if (value > running.maximum[i])
        trace::emit(u"new Max");
      statistics::followExtremes(value, running.minimum[i], running.maximum[i]);
      statistics::accumulate(value, running.sumValues[i], running.sumSquares[i]);
    }
  }
}

// The same without detail lines, in the fast loops.
void follow(const RecordTarget& target, const float* records, uint32_t count, uint32_t first,
            uint32_t channels) {
  statistics::Running& running = target.statistics;
  statistics::followRecords(running, records, first, channels);
  if (first == count) return;
  const float* firstRecord = records + static_cast<size_t>(first) * channels;
  statistics::start(running, firstRecord, channels);
  statistics::followRecords(running, firstRecord + channels, count - first - 1, channels);
}

}  // namespace

uint32_t appendRecords(const RecordTarget& target, const float* records, uint32_t count) {
  format::RVX_HEADER& header = target.header;
  const uint32_t channels = std::min<uint32_t>(header.NoChannels, format::kMaxChannels);
  // Records of no channels have no bytes to read, whatever the pointer.
  if (records == nullptr && channels != 0 && count != 0) {
    return library::fail(KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  }
  if (count == 0) return library::setLastError(KDRVX_OK);

  const uint32_t before = header.NoRecords;
  const bool details = trace::enabled(trace::kDetails);
  if (details) traceRecordLine(before + 1);
  // The record counted as the header's first: the block's first when the
  // header counts none yet, a later one where the count wraps past 2^32
  // within the block (W11); `count` when the block holds none.
  const uint32_t first = std::min(0u - before, count);
  const uint32_t written =
      first < count ? writeWithHeader(target, records, count, first, channels)
                    : writeBehindRecords(target, records,
                                         uint64_t{count} * format::recordSize(channels));
  // Only a written block is counted and enters the statistics (W1).
  if (written != KDRVX_OK) return written;

  if (details)
    followWithDetails(target, records, before + 1, count, first, channels);
  else
    follow(target, records, count, first, channels);
  countRecord(target, before + count);
  return library::setLastError(KDRVX_OK);
}

void loadExtremes(statistics::Running& running, const format::RVX_HEADER& header) {
  for (uint32_t i = 0; i < format::kMaxChannels; ++i) {
    running.minimum[i] = header.Channel[i].MinValue;
    running.maximum[i] = header.Channel[i].MaxValue;
  }
  const uint32_t channels = std::min<uint32_t>(header.NoChannels, format::kMaxChannels);
  running.ordered = statistics::extremesOrdered(running.minimum, running.maximum, channels);
}

void storeExtremes(const statistics::Running& running, format::RVX_HEADER& header) {
  if (header.NoRecords == 0) return;  // (W9)
  const uint32_t channels = std::min<uint32_t>(header.NoChannels, format::kMaxChannels);
  for (uint32_t i = 0; i < channels; ++i) {
    header.Channel[i].MinValue = running.minimum[i];
    header.Channel[i].MaxValue = running.maximum[i];
  }
}

}  // namespace kdrvx::recording
