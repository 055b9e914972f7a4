// The statistics of a window of records, as every host reports them:
// minimum, maximum, mean, RMS and standard deviation per channel in double
// precision over the values that are numbers, the NaN and infinite values
// counted apart, and the bits a multichannel sets counted one by one.
//
// Records come in blocks, each followed in one pass while it is in the
// cache: counts, extremes, the sum of squares, and the sums of the values
// less a shift near them (the window's mean so far), which keep a small
// spread of a signal far from zero that a sum of squares alone would
// cancel away. The blocks are joined by the pairwise rule for means and
// deviations, so that a long recording rounds as little as a pairwise sum.
// The pass runs over the channels of one record at a time without a
// branch, so that it runs in vector instructions.
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

// One block's figures, channel by channel in dense arrays.
struct Block {
  uint32_t finite[kMaxChannels];
  uint32_t nan[kMaxChannels];
  float minimum[kMaxChannels];
  float maximum[kMaxChannels];
  double mean[kMaxChannels];
  double squares[kMaxChannels];
  double deviations[kMaxChannels];  // squared, from the block's mean
};

// The window's figures so far.
struct Window {
  uint64_t records = 0;
  uint64_t finite[kMaxChannels] = {};
  uint64_t nan[kMaxChannels] = {};
  float minimum[kMaxChannels];
  float maximum[kMaxChannels];
  double mean[kMaxChannels] = {};
  double deviations[kMaxChannels] = {};
  double squares[kMaxChannels] = {};
  uint32_t bits[kMaxChannels] = {};  // multichannel bits, 0 for another channel
  uint64_t bitsSet[kMaxChannels][kMaxBits] = {};
  Block block;

  Window() {
    for (uint32_t k = 0; k < kMaxChannels; ++k) {
      minimum[k] = std::numeric_limits<float>::infinity();
      maximum[k] = -std::numeric_limits<float>::infinity();
    }
  }
};

// Multichannel bits of a channel as its statistics count them: 0 for a
// channel that is none, at most 32.
inline uint32_t countedBits(uint32_t stored) { return stored > kMaxBits ? kMaxBits : stored; }

inline constexpr uint32_t kMagnitude = 0x7FFFFFFFu;
inline constexpr uint32_t kInfinity = 0x7F800000u;

// `value` when `condition` is 1, else `otherwise`, by a mask, so that the
// loops below keep no branch.
inline float pick(uint32_t condition, float value, float otherwise) {
  const uint32_t mask = 0u - condition;
  return std::bit_cast<float>((std::bit_cast<uint32_t>(value) & mask) |
                              (std::bit_cast<uint32_t>(otherwise) & ~mask));
}

// One pass over a block of `count` records of `channels` floats: counts,
// extremes, and the sums of the finite values less a shift per channel
// (near the values, so that their squares keep the spread), and of their
// squares. The figures are kept in arrays of the function's own, which the
// compiler knows the records cannot overlap, so that it runs the loop over
// the channels in vector instructions.
inline void sumBlock(Block& b, const double* shift, const float* records, uint32_t count,
                     uint32_t channels) {
  constexpr float kUp = std::numeric_limits<float>::infinity();
  uint32_t finiteCount[kMaxChannels] = {}, nanCount[kMaxChannels] = {};
  float minimum[kMaxChannels], maximum[kMaxChannels];
  double squares[kMaxChannels] = {}, shifted[kMaxChannels] = {},
         shiftedSquares[kMaxChannels] = {}, by[kMaxChannels] = {};
  for (uint32_t k = 0; k < kMaxChannels; ++k) minimum[k] = kUp, maximum[k] = -kUp;
  for (uint32_t k = 0; k < channels; ++k) by[k] = shift[k];
  for (uint32_t r = 0; r < count; ++r) {
    const float* record = records + static_cast<size_t>(r) * channels;
    for (uint32_t k = 0; k < channels; ++k) {
      const uint32_t magnitude = std::bit_cast<uint32_t>(record[k]) & kMagnitude;
      const uint32_t finite = magnitude < kInfinity;
      finiteCount[k] += finite;
      nanCount[k] += magnitude > kInfinity;
      const float low = pick(finite, record[k], kUp);
      const float high = pick(finite, record[k], -kUp);
      minimum[k] = low < minimum[k] ? low : minimum[k];
      maximum[k] = high > maximum[k] ? high : maximum[k];
      const double x = pick(finite, record[k], 0.0f);
      const uint64_t keep = 0u - static_cast<uint64_t>(finite);
      const double d = std::bit_cast<double>(std::bit_cast<uint64_t>(x - by[k]) & keep);
      squares[k] += x * x;
      shifted[k] += d;
      shiftedSquares[k] += d * d;
    }
  }
  for (uint32_t k = 0; k < channels; ++k) {
    b.finite[k] = finiteCount[k];
    b.nan[k] = nanCount[k];
    b.minimum[k] = minimum[k];
    b.maximum[k] = maximum[k];
    b.squares[k] = squares[k];
    // The block's mean, and its squared deviations from it, from the
    // shifted sums.
    const double n = finiteCount[k] != 0 ? finiteCount[k] : 1;
    b.mean[k] = by[k] + shifted[k] / n;
    b.deviations[k] = shiftedSquares[k] - shifted[k] * shifted[k] / n;
    if (b.deviations[k] < 0) b.deviations[k] = 0;
  }
}

// A block joined to the window: counts and sums added, means and
// deviations by the pairwise rule.
inline void join(Window& w, const Block& b, uint32_t channels) {
  for (uint32_t k = 0; k < channels; ++k) {
    w.nan[k] += b.nan[k];
    w.minimum[k] = b.minimum[k] < w.minimum[k] ? b.minimum[k] : w.minimum[k];
    w.maximum[k] = b.maximum[k] > w.maximum[k] ? b.maximum[k] : w.maximum[k];
    w.squares[k] += b.squares[k];
    if (b.finite[k] == 0) continue;
    const auto before = static_cast<double>(w.finite[k]);
    const auto added = static_cast<double>(b.finite[k]);
    const double together = before + added;
    const double delta = b.mean[k] - w.mean[k];
    w.mean[k] += delta * (added / together);
    w.deviations[k] += b.deviations[k] + delta * delta * (before * added / together);
    w.finite[k] += b.finite[k];
  }
}

// The bit fields of a multichannel's `count` values, bit by bit.
inline void countBits(Window& w, uint32_t k, const float* values, uint32_t count,
                      uint32_t stride) {
  const uint32_t mask = multichannelMask(w.bits[k]);
  for (uint32_t r = 0; r < count; ++r) {
    const uint32_t field = std::bit_cast<uint32_t>(values[static_cast<size_t>(r) * stride]) & mask;
    for (uint32_t b = 0; b < w.bits[k]; ++b) w.bitsSet[k][b] += (field >> b) & 1u;
  }
}

// `count` records of `channels` floats each, at most 2^32 - 1 values.
inline void follow(Window& w, const float* records, uint32_t count, uint32_t channels) {
  if (count == 0) return;
  // The shift: the window's mean so far, or before any finite value the
  // block's first value that is one.
  double shift[kMaxChannels] = {};
  for (uint32_t k = 0; k < channels; ++k) {
    shift[k] = w.mean[k];
    for (uint32_t r = 0; w.finite[k] == 0 && r < count; ++r) {
      const float value = records[static_cast<size_t>(r) * channels + k];
      if (std::isfinite(value)) {
        shift[k] = value;
        break;
      }
    }
  }
  sumBlock(w.block, shift, records, count, channels);
  join(w, w.block, channels);
  for (uint32_t k = 0; k < channels; ++k)
    if (w.bits[k] != 0) countBits(w, k, records + k, count, channels);
  w.records += count;
}

// What the interface reports of channel k.
inline KDRVX_WindowStatistics report(const Window& w, uint32_t k) {
  KDRVX_WindowStatistics whole{};
  whole.size = sizeof whole;
  whole.multiChannelBits = w.bits[k];
  whole.records = w.records;
  whole.finiteValues = w.finite[k];
  whole.nanValues = w.nan[k];
  whole.infiniteValues = w.records - w.finite[k] - w.nan[k];
  for (uint32_t b = 0; b < w.bits[k]; ++b) whole.bitsSet[b] = w.bitsSet[k][b];
  constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  if (w.finite[k] == 0) {
    whole.minValue = whole.maxValue = whole.meanValue = whole.rmsValue = whole.sdevValue = kNone;
    return whole;
  }
  const auto n = static_cast<double>(w.finite[k]);
  whole.minValue = w.minimum[k];
  whole.maxValue = w.maximum[k];
  whole.meanValue = w.mean[k];
  whole.rmsValue = std::sqrt(w.squares[k] / n);
  whole.sdevValue = std::sqrt(w.deviations[k] / n);
  return whole;
}

}  // namespace kdrvx::format::window
