// The statistics arithmetic of a recording, the one piece of code that the
// record writer and every recount of a file's statistics use, so that a
// recount gives the very bytes a properly closed file holds.
//
// Per channel over the values x1..xn: minimum and maximum start at x1 and
// follow strict comparisons (a NaN moves neither); the sum of the values
// and the sum of their squares, each square taken in single precision,
// accumulate in double; the mean is sum / n and the RMS the square root of
// sumSquares / n, that quotient rounded to float before the root, both
// results rounded to float.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "format/layout.h"

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

inline void accumulate(float value, double& sum, double& sumSquares) {
  const float square = value * value;
  sum += static_cast<double>(value);
  sumSquares += static_cast<double>(square);
}

inline float mean(double sum, double count) { return static_cast<float>(sum / count); }

inline float rms(double sumSquares, double count) {
  const float meanSquare = static_cast<float>(sumSquares / count);
  return static_cast<float>(std::sqrt(static_cast<double>(meanSquare)));
}

// The running statistics of every channel of a recording, each quantity in
// a dense array of its own, so that following a record is one loop of
// vector instructions over the channels.
struct Running {
  float minimum[kMaxChannels];
  float maximum[kMaxChannels];
  double sumValues[kMaxChannels];
  double sumSquares[kMaxChannels];
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
}

// Every later record: nothing in the loop but the arithmetic.
inline void follow(Running& running, const float* record, uint32_t channels) {
  float* const minimum = running.minimum;
  float* const maximum = running.maximum;
  double* const sums = running.sumValues;
  double* const squares = running.sumSquares;
  for (uint32_t i = 0; i < channels; ++i) {
    followExtremes(record[i], minimum[i], maximum[i]);
    accumulate(record[i], sums[i], squares[i]);
  }
}

}  // namespace kdrvx::format::statistics
