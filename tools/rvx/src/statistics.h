// Channel statistics computed exactly as the library computes them while it
// records, so that a recount gives the bytes that a properly closed file
// holds: minimum and maximum start at the first record and follow strict
// comparisons (a NaN moves neither), sums are doubles, the square of a value
// is taken in single precision, and mean and RMS are rounded to float.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rvx {

class RecordStatistics {
 public:
  explicit RecordStatistics(size_t channels);

  void add(const float* record);
  void add(const float* records, size_t count);

  uint64_t count() const { return count_; }
  size_t channels() const { return minimum_.size(); }
  float minimum(size_t channel) const { return minimum_[channel]; }
  float maximum(size_t channel) const { return maximum_[channel]; }
  float mean(size_t channel) const;
  float rms(size_t channel) const;

 private:
  uint64_t count_ = 0;
  std::vector<float> minimum_, maximum_;
  std::vector<double> sum_, sumSquares_;
};

}  // namespace rvx
