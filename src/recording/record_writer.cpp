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

using format::MGR_DEF;

// Cuts off what a failed write of the bytes [start, start + bytes) left
// behind, so that nothing after it is ever shifted: when the file now ends
// within that range, it grew only by this write and goes back to `start`.
// A write into the middle of the data (after a raw block moved the
// position back) is not cut, as that would take existing bytes with it.
void cutPartialWrite(platform::File& file, int64_t start, uint32_t bytes) {
  const int64_t length = file.length();
  if (length > start && length <= start + static_cast<int64_t>(bytes)) file.truncate(start);
}

// A refused write: the file is cut back to where the record began and the
// position put back there, so that the next record takes its place, and
// `systemError` (taken before the clean-up calls could change it) is traced.
uint32_t fileLayerFailure(const RecordTarget& target, int64_t recordStart, uint32_t bytes,
                          uint32_t systemError) {
  cutPartialWrite(target.file, recordStart, bytes);
  target.file.seekFromStart(target.position);
  return library::failWithSystemError(target.writeFailure, systemError);
}

void addToSums(const RecordTarget& target, uint32_t channel, float value) {
  if (target.create == nullptr) return;
  statistics::accumulate(value, target.create->sumValues[channel],
                         target.create->sumSquares[channel]);
}

// The statistics of one record without detail lines, the loop of every
// record of a recording, with nothing in it but the arithmetic: the
// extremes (strict comparisons, so that a NaN moves neither) and, for the
// create context, the sums.
void updateStatistics(const RecordTarget& target, const float* record, uint32_t channels) {
  MGR_DEF* const channel = target.header.Channel;
  double* const sums = target.create != nullptr ? target.create->sumValues : nullptr;
  double* const squares = target.create != nullptr ? target.create->sumSquares : nullptr;
  for (uint32_t i = 0; i < channels; ++i) {
    const float value = record[i];
    statistics::followExtremes(value, channel[i].MinValue, channel[i].MaxValue);
    if (sums != nullptr) statistics::accumulate(value, sums[i], squares[i]);
  }
}

void countRecord(const RecordTarget& target, uint32_t count) {
  target.header.NoRecords = count;
  if (target.create == nullptr) return;
  target.create->compactNoRecords = count;
  target.create->recordAdded = true;
}

// What the first record changes in memory, kept so that a refused first
// record leaves the target exactly as it found it.
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

// The first record: minimum and maximum start at its values, and the
// header goes to the file with it. The record is written behind the header
// first and the header over it second, so that the file never claims a
// record it does not hold: when the record is refused, the header on disk
// has not been touched; when the header is refused, the header as it was
// before the call is written back (best effort) and the record cut off.
uint32_t appendFirstRecord(const RecordTarget& target, const float* record, uint32_t channels) {
  format::RVX_HEADER& header = target.header;
  const BeforeFirstRecord kept = keep(target, channels);
  for (uint32_t i = 0; i < channels; ++i) {
    header.Channel[i].MinValue = record[i];
    header.Channel[i].MaxValue = record[i];
  }
  countRecord(target, 1);

  const uint32_t bytes = format::recordSize(channels);
  const int64_t recordStart = target.headerImageLength;
  if (!target.file.seekFromStart(recordStart) || !target.file.write(record, bytes)) {
    restore(target, kept, channels);
    return fileLayerFailure(target, recordStart, bytes, platform::lastError());
  }
  if (!target.file.seekFromStart(0) ||
      !target.file.write(target.headerImage, target.headerImageLength) ||
      !target.file.seekFromStart(recordStart + bytes)) {
    const uint32_t systemError = platform::lastError();
    restore(target, kept, channels);
    if (target.file.seekFromStart(0))
      target.file.write(target.headerImage, target.headerImageLength);
    return fileLayerFailure(target, recordStart, bytes, systemError);
  }
  for (uint32_t i = 0; i < channels; ++i) addToSums(target, i, record[i]);
  target.position = recordStart + bytes;
  return library::setLastError(KDRVX_OK);
}

}  // namespace

uint32_t appendRecord(const RecordTarget& target, const float* record) {
  format::RVX_HEADER& header = target.header;
  const uint32_t channels = std::min<uint32_t>(header.NoChannels, format::kMaxChannels);
  // A record of no channels has no bytes to read, whatever the pointer.
  if (record == nullptr && channels != 0) {
    return library::fail(KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  }
  const uint32_t count = header.NoRecords + 1;
  const bool details = trace::enabled(trace::kDetails);
  if (details) {
    trace::Line<trace::kInfoLineCapacity>()
        .format("Record: %ld:", static_cast<long>(static_cast<int32_t>(count)))
        .emit();
  }
  if (count == 1) return appendFirstRecord(target, record, channels);

  const uint32_t bytes = format::recordSize(channels);
  if (!target.file.write(record, bytes))
    return fileLayerFailure(target, target.position, bytes, platform::lastError());

  if (details) {
    for (uint32_t i = 0; i < channels; ++i) {
      const float value = record[i];
      MGR_DEF& channel = header.Channel[i];
      trace::Line<trace::kInfoLineCapacity>()
          .format("%d: %1.3f", static_cast<int>(i), static_cast<double>(value))
          .emit();
      // Strict comparisons: a NaN moves neither extreme.
      if (value < channel.MinValue) {
        channel.MinValue = value;
        trace::emit(u"new Min");
      } else if (value > channel.MaxValue) {
        channel.MaxValue = value;
        trace::emit(u"new Max");
      }
      addToSums(target, i, value);
    }
  } else {
    updateStatistics(target, record, channels);
  }
  countRecord(target, count);
  target.position += bytes;
  return library::setLastError(KDRVX_OK);
}

}  // namespace kdrvx::recording
