// The quick-look plot: every channel reduced to the smallest and largest
// value per pixel column, so that a recording of millions of records draws
// as a few thousand points, and the SVG that shows them.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace rvx {

// Minimum and maximum of one channel per pixel column. Record i of
// `records` falls into column i * columns / records, so every column
// covers the same number of records (give or take one); with fewer records
// than pixels every record is a column of its own. NaN values are left out.
class ColumnEnvelope {
 public:
  ColumnEnvelope(uint64_t records, uint32_t pixels);

  uint32_t columns() const { return static_cast<uint32_t>(min_.size()); }
  uint64_t records() const { return records_; }
  void add(uint64_t record, float value);

  bool filled(uint32_t column) const { return first_[column] != kEmpty; }
  float minimum(uint32_t column) const { return min_[column]; }
  float maximum(uint32_t column) const { return max_[column]; }
  // Whether the column's minimum came before its maximum in time, which is
  // the order in which a line through the column passes them.
  bool minimumFirst(uint32_t column) const { return minAt_[column] <= maxAt_[column]; }
  // Records covered by the column: [firstRecord, endRecord).
  uint64_t firstRecord(uint32_t column) const;
  uint64_t endRecord(uint32_t column) const { return firstRecord(column + 1); }

 private:
  static constexpr uint64_t kEmpty = UINT64_MAX;
  uint64_t records_;
  std::vector<float> min_, max_;
  std::vector<uint64_t> minAt_, maxAt_, first_;
};

struct PlotChannel {
  std::string label;  // "variable [unit]"
  ColumnEnvelope envelope;
};

struct PlotLayout {
  uint32_t plotWidth = 900;    // pixels of the data area, one column each
  uint32_t panelHeight = 150;  // pixels per channel
};

// Writes a standalone SVG document: a title, then one panel per channel
// with its label, a value axis and a time axis in seconds. `interval` is
// the time between two records in seconds.
void writePlotSvg(std::ostream& out, const std::string& title, double interval,
                  const std::vector<PlotChannel>& channels, const PlotLayout& layout);

// Axis ticks at 1, 2 or 5 times a power of ten, about `wanted` of them
// between `low` and `high`.
std::vector<double> niceTicks(double low, double high, int wanted);

// Text for SVG content and attributes: & < > " ' escaped.
std::string xmlEscape(const std::string& text);

}  // namespace rvx
