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

// A refused write: the file is cut back to where the block began (W1) and
// the position put back there, so that the next record takes its place
// (W5), and `systemError` (taken before the clean-up calls could change it)
// is traced (W7).
uint32_t fileLayerFailure(const RecordTarget& target, int64_t blockStart, uint64_t bytes,
                          uint32_t systemError) {
  cutPartialWrite(target.file, blockStart, bytes);
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

// A block that begins with the header's first record: minimum and maximum
// start at that record's values, and the header goes to the file with it,
// claiming that one record (as the first of single appends leaves it). The
// records are written behind the header first and the header over it
// second, so that the file never claims a record it does not hold (W3):
// when the records are refused, the header on disk has not been touched;
// when the header is refused, the header as it was before the call is
// written back (best effort) and the records cut off (W4).
uint32_t writeWithHeader(const RecordTarget& target, const float* records, uint64_t bytes,
                         uint32_t channels) {
  format::RVX_HEADER& header = target.header;
  const BeforeFirstRecord kept = keep(target, channels);
  for (uint32_t i = 0; i < channels; ++i) {
    header.Channel[i].MinValue = records[i];
    header.Channel[i].MaxValue = records[i];
  }
  countRecord(target, 1);

  const int64_t blockStart = target.headerImageLength;
  if (!target.file.seekFromStart(blockStart) || !writeAll(target.file, records, bytes)) {
    restore(target, kept, channels);
    return fileLayerFailure(target, blockStart, bytes, platform::lastError());
  }
  const int64_t blockEnd = blockStart + static_cast<int64_t>(bytes);
  if (!target.file.seekFromStart(0) ||
      !target.file.write(target.headerImage, target.headerImageLength) ||
      !target.file.seekFromStart(blockEnd)) {
    const uint32_t systemError = platform::lastError();
    restore(target, kept, channels);
    if (target.file.seekFromStart(0))
      target.file.write(target.headerImage, target.headerImageLength);
    return fileLayerFailure(target, blockStart, bytes, systemError);
  }
  target.position = blockEnd;
  return KDRVX_OK;
}

// Records behind those the header on disk counts: the header is not
// touched, so a stop at any moment leaves it claiming no more (W3).
uint32_t writeBehindRecords(const RecordTarget& target, const float* records, uint64_t bytes) {
  if (!writeAll(target.file, records, bytes))
    return fileLayerFailure(target, target.position, bytes, platform::lastError());
  target.position += static_cast<int64_t>(bytes);
  return KDRVX_OK;
}

// The statistics of the records [from, count) of a written block with
// their detail lines: each record's number (but the block's first, which
// was traced before the write), each value, and each new extreme, as single
// appends trace them (W6).
void followWithDetails(const RecordTarget& target, const float* records, uint32_t firstNumber,
                       uint32_t from, uint32_t count, uint32_t channels) {
  statistics::Running& running = target.statistics;
  for (uint32_t r = from; r < count; ++r) {
    if (r != 0) traceRecordLine(firstNumber + r);
    const float* record = records + static_cast<size_t>(r) * channels;
    for (uint32_t i = 0; i < channels; ++i) {
      const float value = record[i];
      trace::Line<trace::kInfoLineCapacity>()
          .format("%d: %1.3f", static_cast<int>(i), static_cast<double>(value))
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
  const uint64_t bytes = uint64_t{count} * format::recordSize(channels);
  const bool first = before == 0;
  const uint32_t written = first ? writeWithHeader(target, records, bytes, channels)
                                 : writeBehindRecords(target, records, bytes);
  // Only a written block is counted and enters the statistics (W1).
  if (written != KDRVX_OK) return written;

  const uint32_t from = first ? 1 : 0;
  if (first) statistics::start(target.statistics, records, channels);
  if (details) {
    followWithDetails(target, records, before + 1, from, count, channels);
  } else {
    statistics::followRecords(target.statistics, records + static_cast<size_t>(from) * channels,
                              count - from, channels);
  }
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
