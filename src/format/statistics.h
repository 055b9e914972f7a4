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

#include <cmath>
#include <cstdint>

namespace kdrvx::format::statistics {

inline void followExtremes(float value, float& minimum, float& maximum) {
  if (value < minimum)
    minimum = value;
  else if (value > maximum)
    maximum = value;
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

}  // namespace kdrvx::format::statistics
