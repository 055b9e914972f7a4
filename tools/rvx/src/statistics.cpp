#include "statistics.h"

#include <cmath>

namespace rvx {

RecordStatistics::RecordStatistics(size_t channels)
    : minimum_(channels), maximum_(channels), sum_(channels), sumSquares_(channels) {}

void RecordStatistics::add(const float* record) {
  const size_t n = minimum_.size();
  if (count_ == 0) {
    for (size_t k = 0; k < n; ++k) minimum_[k] = maximum_[k] = record[k];
  } else {
    for (size_t k = 0; k < n; ++k) {
      const float value = record[k];
      if (value < minimum_[k]) {
        minimum_[k] = value;
      } else if (value > maximum_[k]) {
        maximum_[k] = value;
      }
    }
  }
  for (size_t k = 0; k < n; ++k) {
    const float value = record[k];
    const float square = value * value;
    sum_[k] += static_cast<double>(value);
    sumSquares_[k] += static_cast<double>(square);
  }
  ++count_;
}

void RecordStatistics::add(const float* records, size_t count) {
  for (size_t i = 0; i < count; ++i) add(records + i * minimum_.size());
}

float RecordStatistics::mean(size_t channel) const {
  return static_cast<float>(sum_[channel] / static_cast<double>(count_));
}

float RecordStatistics::rms(size_t channel) const {
  const float meanSquare = static_cast<float>(sumSquares_[channel] / static_cast<double>(count_));
  return static_cast<float>(std::sqrt(static_cast<double>(meanSquare)));
}

}  // namespace rvx
