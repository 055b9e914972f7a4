#include "write/record_writer.h"

#include <algorithm>

#include "kdrvx/kdrvx.h"
#include "library/state.h"
#include "library/trace.h"

namespace kdrvx::write {
namespace {

using format::MGR_DEF;

uint32_t fileLayerFailure(const RecordTarget& target) {
  trace::systemError(platform::lastError());
  library::setLastError(target.writeFailure);
  // Back to where the record began: whatever part of it reached the file
  // is overwritten by the next record.
  target.file.seekFromStart(target.position);
  return target.writeFailure;
}

void addToSums(const RecordTarget& target, uint32_t channel, float value) {
  if (target.sumValues == nullptr) return;
  const float square = value * value;  // the square in single precision
  target.sumValues[channel] += static_cast<double>(value);
  target.sumSquares[channel] += static_cast<double>(square);
}

// The statistics of one record without detail lines, the loop of every
// record of a recording, with nothing in it but the arithmetic: the
// extremes (strict comparisons, so that a NaN moves neither) and, for the
// create context, the sums.
void updateStatistics(const RecordTarget& target, const float* record, uint32_t channels) {
  MGR_DEF* const channel = target.header.Channel;
  double* const sums = target.sumValues;
  double* const squares = target.sumSquares;
  for (uint32_t i = 0; i < channels; ++i) {
    const float value = record[i];
    if (value < channel[i].MinValue)
      channel[i].MinValue = value;
    else if (value > channel[i].MaxValue)
      channel[i].MaxValue = value;
    if (sums != nullptr) {
      const float square = value * value;  // the square in single precision
      sums[i] += static_cast<double>(value);
      squares[i] += static_cast<double>(square);
    }
  }
}

void countRecord(const RecordTarget& target, uint32_t count) {
  target.header.NoRecords = count;
  if (target.compactNoRecords != nullptr) *target.compactNoRecords = count;
  if (target.recordAdded != nullptr) *target.recordAdded = true;
}

// The first record: minimum and maximum start at its values, and the
// header goes to the file with it.
uint32_t appendFirstRecord(const RecordTarget& target, const float* record, uint32_t channels) {
  format::RVX_HEADER& header = target.header;
  const uint32_t previousCount = header.NoRecords;
  const uint32_t previousCompactCount =
      target.compactNoRecords != nullptr ? *target.compactNoRecords : 0;
  float previousMin[format::kMaxChannels];
  float previousMax[format::kMaxChannels];
  for (uint32_t i = 0; i < channels; ++i) {
    MGR_DEF& channel = header.Channel[i];
    previousMin[i] = channel.MinValue;
    previousMax[i] = channel.MaxValue;
    channel.MinValue = record[i];
    channel.MaxValue = record[i];
  }
  countRecord(target, 1);

  const uint32_t bytes = format::recordSize(channels);
  if (!target.file.seekFromStart(0) ||
      !target.file.write(target.headerImage, target.headerImageLength) ||
      !target.file.write(record, bytes)) {
    for (uint32_t i = 0; i < channels; ++i) {
      header.Channel[i].MinValue = previousMin[i];
      header.Channel[i].MaxValue = previousMax[i];
    }
    header.NoRecords = previousCount;
    if (target.compactNoRecords != nullptr) *target.compactNoRecords = previousCompactCount;
    return fileLayerFailure(target);
  }
  for (uint32_t i = 0; i < channels; ++i) addToSums(target, i, record[i]);
  target.position = static_cast<int64_t>(target.headerImageLength) + bytes;
  return library::setLastError(KDRVX_OK);
}

}  // namespace

uint32_t appendRecord(const RecordTarget& target, const float* record) {
  if (record == nullptr) {
    trace::failure(KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
    return library::setLastError(KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  }
  format::RVX_HEADER& header = target.header;
  const uint32_t channels = std::min<uint32_t>(header.NoChannels, format::kMaxChannels);
  const uint32_t count = header.NoRecords + 1;
  const bool details = trace::enabled(trace::kDetails);
  if (details) {
    trace::Line<trace::kInfoLineCapacity>()
        .format("Record: %ld:", static_cast<long>(static_cast<int32_t>(count)))
        .emit();
  }
  if (count == 1) return appendFirstRecord(target, record, channels);

  const uint32_t bytes = format::recordSize(channels);
  if (!target.file.write(record, bytes)) return fileLayerFailure(target);

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

}  // namespace kdrvx::write
