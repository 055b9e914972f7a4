// The statistics arithmetic of a recording, the one piece of code that the
// record writer and every recount of a file's statistics use, so that a
// recount gives the very bytes a properly closed file holds.
//
// Per channel over the values x1..xn: minimum and maximum start at x1 and
// follow strict comparisons (a NaN moves neither); the sum of the values
// and the sum of their squares, each square taken in single precision,
// accumulate in double; the mean is sum / n and the RMS the square root of
// sumSquares / n, that quotient rounded to float before the root, both
// results rounded to float. A NaN value makes both sums that NaN (quiet),
// whatever NaN they held: the last NaN of a channel is the one its mean
// and RMS carry.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "format/layout.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define KDRVX_STATISTICS_AVX2 1
#else
#define KDRVX_STATISTICS_AVX2 0
#endif

namespace kdrvx::format::statistics {

// `ifTrue` when `condition` holds, else `ifFalse`, chosen by a bit mask
// rather than a branch, so that a loop over channels that uses it
// vectorises (the compiler turns a conditional choice of floats into a
// conditional store, which it cannot vectorise).
inline float choose(bool condition, float ifTrue, float ifFalse) {
  const uint32_t mask = 0u - static_cast<uint32_t>(condition);
  return std::bit_cast<float>((std::bit_cast<uint32_t>(ifTrue) & mask) |
                              (std::bit_cast<uint32_t>(ifFalse) & ~mask));
}

// A value below the minimum becomes the minimum; otherwise one above the
// maximum becomes the maximum (never both, even when a file's header holds
// a minimum above its maximum).
inline void followExtremes(float value, float& minimum, float& maximum) {
  const bool below = value < minimum;
  const bool above = (value > maximum) & !below;
  minimum = choose(below, value, minimum);
  maximum = choose(above, value, maximum);
}

inline double choose(bool condition, double ifTrue, double ifFalse) {
  const uint64_t mask = 0u - static_cast<uint64_t>(condition);
  return std::bit_cast<double>((std::bit_cast<uint64_t>(ifTrue) & mask) |
                               (std::bit_cast<uint64_t>(ifFalse) & ~mask));
}

// The additions alone. Of two NaN operands the processor returns the one
// it was given first, and the compiler orders the operands of an addition
// as it likes (differently in the loops for one record and for many), so
// which NaN these leave is settled by takeNaN. One NaN operand comes out
// as it is (a NaN sum plus a number keeps the sum's NaN), and a NaN
// value's square is that NaN.
inline void add(float value, double& sum, double& sumSquares) {
  const float square = value * value;
  sum += static_cast<double>(value);
  sumSquares += static_cast<double>(square);
}

// A NaN value makes both sums that NaN, quiet (the conversion to double
// quiets a signalling one), whatever they held.
inline void takeNaN(float value, double& sum, double& sumSquares) {
  const bool isNaN = value != value;
  sum = choose(isNaN, static_cast<double>(value), sum);
  sumSquares = choose(isNaN, static_cast<double>(value), sumSquares);
}

inline void accumulate(float value, double& sum, double& sumSquares) {
  add(value, sum, sumSquares);
  takeNaN(value, sum, sumSquares);
}

inline float mean(double sum, double count) { return static_cast<float>(sum / count); }

inline float rms(double sumSquares, double count) {
  const float meanSquare = static_cast<float>(sumSquares / count);
  return static_cast<float>(std::sqrt(static_cast<double>(meanSquare)));
}

// The loops over records add without takeNaN, which would lengthen the
// chain of additions in the vector loops, and settle the NaN once they are
// done: the last NaN value among the `count` values `stride` floats apart
// that they added, looked for from the end, is what accumulating value
// after value leaves; without one, the sums hold the NaN they came in with
// (or the one an infinity minus an infinity made), as accumulating leaves
// it. Only a sum of squares that is NaN calls for the search (squares of
// numbers never make one): a channel that never saw a NaN costs one
// comparison, one that did has its values looked through once more.
inline void settleNaN(const float* values, uint32_t count, uint32_t stride, double& sum,
                      double& sumSquares) {
  if (sumSquares == sumSquares) return;
  for (uint32_t r = count; r-- > 0;) {
    const float value = values[static_cast<size_t>(r) * stride];
    if (value != value) return takeNaN(value, sum, sumSquares);
  }
}

// Where no minimum is above its maximum (a NaN in either counts as not
// above), a value below the minimum is never above the maximum, and
// followExtremes comes down to two independent choices, which compile to
// the processor's minimum and maximum instructions. Following values keeps
// the extremes so ordered.
inline void followOrderedExtremes(float value, float& minimum, float& maximum) {
  minimum = value < minimum ? value : minimum;
  maximum = value > maximum ? value : maximum;
}

inline bool extremesOrdered(const float* minimum, const float* maximum, uint32_t channels) {
  bool ordered = true;
  for (uint32_t i = 0; i < channels; ++i) ordered &= !(minimum[i] > maximum[i]);
  return ordered;
}

// The running statistics of every channel of a recording, each quantity in
// a dense array of its own, so that following records runs in vector
// instructions over the channels.
struct Running {
  float minimum[kMaxChannels];
  float maximum[kMaxChannels];
  double sumValues[kMaxChannels];
  double sumSquares[kMaxChannels];
  // No minimum is above its maximum: true from a first record on, and for a
  // file's header that holds them so (one that does not takes the slower
  // loop that keeps to followExtremes).
  bool ordered;
};

// The first record: the extremes start at its values, the sums with them.
inline void start(Running& running, const float* record, uint32_t channels) {
  for (uint32_t i = 0; i < channels; ++i) {
    running.minimum[i] = record[i];
    running.maximum[i] = record[i];
    running.sumValues[i] = 0;
    running.sumSquares[i] = 0;
    accumulate(record[i], running.sumValues[i], running.sumSquares[i]);
  }
  running.ordered = true;
}

// Channels followed together, as many floats as a vector register holds,
// their running values kept in registers from record to record.
inline constexpr uint32_t kLanes = 4;
// Records followed in one pass over the channel groups: a few kilobytes,
// which stay in the processor's first-level cache for the next group.
inline constexpr uint32_t kTileRecords = 64;

// Channels [first, first + kLanes) of `count` records `stride` floats apart.
inline void followLanes(Running& running, const float* records, uint32_t count, uint32_t stride,
                        uint32_t first) {
  float minimum[kLanes], maximum[kLanes];
  double sums[kLanes], squares[kLanes];
  for (uint32_t i = 0; i < kLanes; ++i) {
    minimum[i] = running.minimum[first + i];
    maximum[i] = running.maximum[first + i];
    sums[i] = running.sumValues[first + i];
    squares[i] = running.sumSquares[first + i];
  }
  for (uint32_t r = 0; r < count; ++r) {
    const float* values = records + static_cast<size_t>(r) * stride + first;
    for (uint32_t i = 0; i < kLanes; ++i) {
      followOrderedExtremes(values[i], minimum[i], maximum[i]);
      add(values[i], sums[i], squares[i]);
    }
  }
  for (uint32_t i = 0; i < kLanes; ++i) {
    running.minimum[first + i] = minimum[i];
    running.maximum[first + i] = maximum[i];
    running.sumValues[first + i] = sums[i];
    running.sumSquares[first + i] = squares[i];
  }
}

// One channel of `count` records `stride` floats apart.
inline void followChannel(Running& running, const float* records, uint32_t count, uint32_t stride,
                          uint32_t channel) {
  float minimum = running.minimum[channel], maximum = running.maximum[channel];
  double sum = running.sumValues[channel], squares = running.sumSquares[channel];
  for (uint32_t r = 0; r < count; ++r) {
    const float value = records[static_cast<size_t>(r) * stride + channel];
    followOrderedExtremes(value, minimum, maximum);
    add(value, sum, squares);
  }
  running.minimum[channel] = minimum;
  running.maximum[channel] = maximum;
  running.sumValues[channel] = sum;
  running.sumSquares[channel] = squares;
}

// Records one by one, each in one loop over its channels.
template <bool kOrdered>
void followOneByOne(Running& running, const float* records, uint32_t count, uint32_t channels) {
  for (uint32_t r = 0; r < count; ++r) {
    const float* record = records + static_cast<size_t>(r) * channels;
    for (uint32_t i = 0; i < channels; ++i) {
      if constexpr (kOrdered)
        followOrderedExtremes(record[i], running.minimum[i], running.maximum[i]);
      else
        followExtremes(record[i], running.minimum[i], running.maximum[i]);
      add(record[i], running.sumValues[i], running.sumSquares[i]);
    }
  }
}

inline void settleNaNs(Running& running, const float* records, uint32_t count,
                       uint32_t channels) {
  for (uint32_t i = 0; i < channels; ++i)
    settleNaN(records + i, count, channels, running.sumValues[i], running.sumSquares[i]);
}

// Whether any of `count` values is a NaN, in integer vector instructions
// (exponent all ones, fraction not zero).
inline bool anyNaN(const float* values, size_t count) {
  int32_t found = 0;
  for (size_t i = 0; i < count; ++i)
    found |= static_cast<int32_t>(std::bit_cast<uint32_t>(values[i]) & 0x7FFFFFFFu) > 0x7F800000;
  return found != 0;
}

// Tiles of records, the channels in groups of kLanes (the rest one by
// one).
inline void followTiles(Running& running, const float* records, uint32_t count,
                        uint32_t channels) {
  const uint32_t grouped = channels - channels % kLanes;
  // `done` grows by no more than what is left, so it never wraps past the
  // largest count.
  for (uint32_t done = 0, tile = 0; done < count; done += tile) {
    tile = count - done < kTileRecords ? count - done : kTileRecords;
    const float* first = records + static_cast<size_t>(done) * channels;
    for (uint32_t k = 0; k < grouped; k += kLanes) followLanes(running, first, tile, channels, k);
    for (uint32_t k = grouped; k < channels; ++k) followChannel(running, first, tile, channels, k);
  }
}

// The vector instructions the tiles run in: those every x86-64 processor
// has (SSE2, four channels at a time), or AVX2 (eight), chosen by the
// processor the library runs on. Both add the same values in the same order
// and take the same minimum and maximum instructions, so that they give the
// very same bytes; the choice is only one of speed.
enum class Vectors { baseline, avx2 };

inline bool hasAvx2() {
#if KDRVX_STATISTICS_AVX2
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

inline Vectors fastestVectors() { return hasAvx2() ? Vectors::avx2 : Vectors::baseline; }

#if KDRVX_STATISTICS_AVX2
// Channels [first, first + 8 * kGroups) of `count` records `stride`
// floats apart, in 256-bit registers, eight channels to a group: the
// extremes by `vminps` and `vmaxps` with the value first (`value < minimum
// ? value : minimum`, as followOrderedExtremes), each square in single
// precision, value and square converted to double and added to the sums,
// the sum first, as `add` does. No multiply-add is formed (the square is
// rounded to float before the conversion). Two groups side by side keep
// twice the additions in flight, whose latency bounds one group. The
// running values are loaded from and stored to the arrays directly, so
// that no 256-bit value need go to the stack (whose alignment the Windows
// compiler cannot promise for them).
struct LanesAvx2 {
  __m256 minimum, maximum;
  __m256d sumLow, sumHigh, squaresLow, squaresHigh;
};

__attribute__((target("avx2"))) inline LanesAvx2 loadLanesAvx2(const Running& running,
                                                               uint32_t first) {
  return {_mm256_loadu_ps(running.minimum + first),  _mm256_loadu_ps(running.maximum + first),
          _mm256_loadu_pd(running.sumValues + first), _mm256_loadu_pd(running.sumValues + first + 4),
          _mm256_loadu_pd(running.sumSquares + first),
          _mm256_loadu_pd(running.sumSquares + first + 4)};
}

__attribute__((target("avx2"))) inline void storeLanesAvx2(Running& running, uint32_t first,
                                                           const LanesAvx2& lanes) {
  _mm256_storeu_ps(running.minimum + first, lanes.minimum);
  _mm256_storeu_ps(running.maximum + first, lanes.maximum);
  _mm256_storeu_pd(running.sumValues + first, lanes.sumLow);
  _mm256_storeu_pd(running.sumValues + first + 4, lanes.sumHigh);
  _mm256_storeu_pd(running.sumSquares + first, lanes.squaresLow);
  _mm256_storeu_pd(running.sumSquares + first + 4, lanes.squaresHigh);
}

__attribute__((target("avx2"))) inline void followValuesAvx2(LanesAvx2& lanes,
                                                             const float* values) {
  const __m256 value = _mm256_loadu_ps(values);
  lanes.minimum = _mm256_min_ps(value, lanes.minimum);
  lanes.maximum = _mm256_max_ps(value, lanes.maximum);
  const __m256 square = _mm256_mul_ps(value, value);
  lanes.sumLow = _mm256_add_pd(lanes.sumLow, _mm256_cvtps_pd(_mm256_castps256_ps128(value)));
  lanes.sumHigh = _mm256_add_pd(lanes.sumHigh, _mm256_cvtps_pd(_mm256_extractf128_ps(value, 1)));
  lanes.squaresLow =
      _mm256_add_pd(lanes.squaresLow, _mm256_cvtps_pd(_mm256_castps256_ps128(square)));
  lanes.squaresHigh =
      _mm256_add_pd(lanes.squaresHigh, _mm256_cvtps_pd(_mm256_extractf128_ps(square, 1)));
}

template <uint32_t kGroups>
__attribute__((target("avx2"))) inline void followLanesAvx2(Running& running,
                                                             const float* records,
                                                             uint32_t count, uint32_t stride,
                                                             uint32_t first) {
  LanesAvx2 a = loadLanesAvx2(running, first);
  LanesAvx2 b;
  if constexpr (kGroups == 2) b = loadLanesAvx2(running, first + 8);
  const float* values = records + first;
  for (uint32_t r = 0; r < count; ++r, values += stride) {
    followValuesAvx2(a, values);
    if constexpr (kGroups == 2) followValuesAvx2(b, values + 8);
  }
  storeLanesAvx2(running, first, a);
  if constexpr (kGroups == 2) storeLanesAvx2(running, first + 8, b);
}

inline constexpr uint32_t kLanesAvx2 = 8;

// followTiles with the channels in pairs of groups of eight, then one
// group of eight, then one of four, then one by one.
__attribute__((target("avx2"))) inline void followTilesAvx2(Running& running,
                                                             const float* records,
                                                             uint32_t count, uint32_t channels) {
  const uint32_t paired = channels - channels % (2 * kLanesAvx2);
  const uint32_t wide = channels - channels % kLanesAvx2;
  const uint32_t grouped = channels - channels % kLanes;
  for (uint32_t done = 0, tile = 0; done < count; done += tile) {
    tile = count - done < kTileRecords ? count - done : kTileRecords;
    const float* first = records + static_cast<size_t>(done) * channels;
    for (uint32_t k = 0; k < paired; k += 2 * kLanesAvx2)
      followLanesAvx2<2>(running, first, tile, channels, k);
    if (paired < wide) followLanesAvx2<1>(running, first, tile, channels, paired);
    if (wide < grouped) followLanes(running, first, tile, channels, wide);
    for (uint32_t k = grouped; k < channels; ++k) followChannel(running, first, tile, channels, k);
  }
}
#endif

inline void followTiles(Running& running, const float* records, uint32_t count,
                        uint32_t channels, Vectors vectors) {
#if KDRVX_STATISTICS_AVX2
  if (vectors == Vectors::avx2) return followTilesAvx2(running, records, count, channels);
#endif
  (void)vectors;
  followTiles(running, records, count, channels);
}

// Every record after the first, `count` of them one after the other. A few
// records go one by one; more go in tiles, in the `vectors` given (by
// default the fastest the processor has). Each channel sees its values in
// record order either way, so the sums come out as adding record after
// record gives them, and their NaN is settled at the end. Records of no
// channels hold nothing to follow, however many there are.
inline void followRecords(Running& running, const float* records, uint32_t count,
                          uint32_t channels, Vectors vectors = fastestVectors()) {
  if (channels == 0) return;
  if (running.ordered && count >= kLanes) {
    followTiles(running, records, count, channels, vectors);
    return settleNaNs(running, records, count, channels);
  }
  if (running.ordered)
    followOneByOne<true>(running, records, count, channels);
  else
    followOneByOne<false>(running, records, count, channels);
  // One by one (a few records, or extremes out of order), a NaN among the
  // values calls for the settling.
  if (anyNaN(records, static_cast<size_t>(count) * channels))
    settleNaNs(running, records, count, channels);
}

// A recount: the records of a file followed block after block from its
// first record on, as the record writer follows them when they are added,
// so that its results are the bytes a properly closed file holds (the
// check and the repair of a recording).
struct Recount {
  Running running;
  uint64_t records = 0;
};

inline void follow(Recount& recount, const float* records, uint32_t count, uint32_t channels) {
  if (count == 0) return;
  uint32_t from = 0;
  if (recount.records == 0) {
    start(recount.running, records, channels);
    from = 1;
  }
  followRecords(recount.running, records + static_cast<size_t>(from) * channels, count - from,
                channels);
  recount.records += count;
}

// Mean and RMS of a channel of a recount of at least one record.
inline float meanOf(const Recount& recount, uint32_t channel) {
  return mean(recount.running.sumValues[channel], static_cast<double>(recount.records));
}
inline float rmsOf(const Recount& recount, uint32_t channel) {
  return rms(recount.running.sumSquares[channel], static_cast<double>(recount.records));
}

}  // namespace kdrvx::format::statistics
