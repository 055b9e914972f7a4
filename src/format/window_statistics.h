// The statistics of a window of records, as every host reports them:
// minimum, maximum, mean, RMS and standard deviation per channel in double
// precision over the values that are numbers, the NaN and infinite values
// counted apart, and the bits a multichannel sets counted one by one.
//
// The sums are taken block by block and each block's sums added to the
// totals, which keeps the rounding of long recordings near that of a
// pairwise sum. The variance comes from the sums of the values less the
// channel's first finite value, so that a signal far from zero keeps its
// small spread (the sum of squares alone would cancel it away).
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "format/claims.h"
#include "format/layout.h"
#include "kdrvx/kdrvx.h"

namespace kdrvx::format::window {

inline constexpr uint32_t kMaxBits = 32;

// What is followed of one channel.
struct Channel {
  uint32_t bits = 0;  // multichannel bits, 0 for another channel
  uint64_t finite = 0, nan = 0, infinite = 0;
  double minimum = 0, maximum = 0;
  double shift = 0;  // the first finite value
  double sumShifted = 0, sumShiftedSquares = 0, sumSquares = 0;
  uint64_t bitsSet[kMaxBits] = {};
};

struct Window {
  uint64_t records = 0;
  Channel channels[kMaxChannels];
};

// Multichannel bits of a channel as its statistics count them: 0 for a
// channel that is none, at most 32.
inline uint32_t countedBits(uint32_t stored) { return stored > kMaxBits ? kMaxBits : stored; }

// One channel of `count` records `stride` floats apart.
inline void followChannel(Channel& channel, const float* values, uint32_t count, uint32_t stride) {
  double sum = 0, squares = 0, shiftedSquares = 0;
  for (uint32_t r = 0; r < count; ++r) {
    const float value = values[static_cast<size_t>(r) * stride];
    if (std::isnan(value)) {
      ++channel.nan;
      continue;
    }
    if (std::isinf(value)) {
      ++channel.infinite;
      continue;
    }
    const double x = value;
    if (channel.finite++ == 0) {
      channel.minimum = channel.maximum = channel.shift = x;
    } else {
      channel.minimum = x < channel.minimum ? x : channel.minimum;
      channel.maximum = x > channel.maximum ? x : channel.maximum;
    }
    const double shifted = x - channel.shift;
    sum += shifted;
    shiftedSquares += shifted * shifted;
    squares += x * x;
  }
  channel.sumShifted += sum;
  channel.sumShiftedSquares += shiftedSquares;
  channel.sumSquares += squares;
}

// The bit fields of a multichannel's `count` values, bit by bit.
inline void countBits(Channel& channel, const float* values, uint32_t count, uint32_t stride) {
  const uint32_t mask = multichannelMask(channel.bits);
  for (uint32_t r = 0; r < count; ++r) {
    const uint32_t field = std::bit_cast<uint32_t>(values[static_cast<size_t>(r) * stride]) & mask;
    for (uint32_t k = 0; k < channel.bits; ++k) channel.bitsSet[k] += (field >> k) & 1u;
  }
}

// `count` records of `channels` floats each.
inline void follow(Window& window, const float* records, uint32_t count, uint32_t channels) {
  for (uint32_t k = 0; k < channels; ++k) {
    Channel& channel = window.channels[k];
    followChannel(channel, records + k, count, channels);
    if (channel.bits != 0) countBits(channel, records + k, count, channels);
  }
  window.records += count;
}

// What the interface reports of one channel.
inline KDRVX_WindowStatistics report(const Window& window, uint32_t k) {
  const Channel& channel = window.channels[k];
  KDRVX_WindowStatistics whole{};
  whole.size = sizeof whole;
  whole.multiChannelBits = channel.bits;
  whole.records = window.records;
  whole.finiteValues = channel.finite;
  whole.nanValues = channel.nan;
  whole.infiniteValues = channel.infinite;
  for (uint32_t b = 0; b < channel.bits; ++b) whole.bitsSet[b] = channel.bitsSet[b];
  constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  if (channel.finite == 0) {
    whole.minValue = whole.maxValue = whole.meanValue = whole.rmsValue = whole.sdevValue = kNone;
    return whole;
  }
  const auto n = static_cast<double>(channel.finite);
  const double meanShift = channel.sumShifted / n;
  const double variance = channel.sumShiftedSquares / n - meanShift * meanShift;
  whole.minValue = channel.minimum;
  whole.maxValue = channel.maximum;
  whole.meanValue = channel.shift + meanShift;
  whole.rmsValue = std::sqrt(channel.sumSquares / n);
  whole.sdevValue = std::sqrt(variance > 0 ? variance : 0);
  return whole;
}

}  // namespace kdrvx::format::window
