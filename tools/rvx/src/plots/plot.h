// The plot: every channel reduced to the smallest and largest value per
// pixel column, so that a recording of millions of records draws as a few
// thousand points; the drawing made of them (panels, ticks, bit lanes,
// marks), and that drawing as SVG. plot_png.h renders the same drawing.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace rvx {

// Values that cannot be drawn as a point, as marks of a column.
enum NonFiniteMark : uint8_t { kNaNMark = 1, kPlusInfMark = 2, kMinusInfMark = 4 };

// Minimum and maximum of one channel per pixel column. Record i of
// `records` falls into column i * columns / records, so every column
// covers the same number of records (give or take one); with fewer records
// than pixels every record is a column of its own. NaN and infinities are
// marked in their column instead. A multichannel's bit fields are kept as
// the bits set and the bits clear somewhere in the column.
class ColumnEnvelope {
 public:
  ColumnEnvelope(uint64_t records, uint32_t pixels);

  uint32_t columns() const { return static_cast<uint32_t>(min_.size()); }
  uint64_t records() const { return records_; }
  void add(uint64_t record, float value);
  void addBits(uint64_t record, uint32_t bits);

  // Whether a finite value or a bit field fell into the column.
  bool filled(uint32_t column) const { return first_[column] != kEmpty; }
  float minimum(uint32_t column) const { return min_[column]; }
  float maximum(uint32_t column) const { return max_[column]; }
  // Whether the column's minimum came before its maximum in time, which is
  // the order in which a line through the column passes them.
  bool minimumFirst(uint32_t column) const { return minAt_[column] <= maxAt_[column]; }
  uint8_t marks(uint32_t column) const { return marks_[column]; }
  // Records of the whole channel that hold the value of `mark`.
  uint64_t markedRecords(NonFiniteMark mark) const;
  uint32_t bitsSet(uint32_t column) const { return set_[column]; }
  uint32_t bitsClear(uint32_t column) const { return clear_[column]; }
  // Records covered by the column: [firstRecord, endRecord).
  uint64_t firstRecord(uint32_t column) const;
  uint64_t endRecord(uint32_t column) const { return firstRecord(column + 1); }

 private:
  static constexpr uint64_t kEmpty = UINT64_MAX;
  size_t columnOf(uint64_t record) const;

  uint64_t records_;
  std::vector<float> min_, max_;
  std::vector<uint64_t> minAt_, maxAt_, first_;
  std::vector<uint8_t> marks_;
  std::vector<uint32_t> set_, clear_;
  uint64_t nan_ = 0, plusInf_ = 0, minusInf_ = 0;
};

struct PlotChannel {
  std::string label;  // "variable [unit]"
  int lanes = 0;      // a multichannel's bits, drawn as lanes; 0 for a measured value
  ColumnEnvelope envelope;
};

// Where the plotted records lie in time.
struct PlotTime {
  uint64_t firstRecord = 0;         // index of the envelope's record 0 in the recording
  double interval = 0;              // seconds between records; 0: the axis counts records
  std::optional<uint64_t> trigger;  // record index of the trigger
};

struct PlotLayout {
  uint32_t plotWidth = 900;    // pixels of the data area, one column each
  uint32_t panelHeight = 150;  // pixels per panel
  bool overlay = false;        // all measured channels in one panel
};

// What a plot is made of, for SVG and PNG alike. `role` names the part
// (the class attribute of the SVG).
struct Point {
  double x = 0, y = 0;
};
inline constexpr uint32_t kNoColour = 0xFFFFFFFFu;
enum class Anchor { Start, Middle, End };
struct Shape {
  enum class Kind { Path, Rect, Text };
  Kind kind = Kind::Path;
  std::string role;
  uint32_t stroke = kNoColour, fill = kNoColour;  // 0xRRGGBB
  double strokeWidth = 1, opacity = 1;
  std::vector<double> dashes;             // lengths of dash, gap, dash, ...; none: a solid stroke
  std::vector<std::vector<Point>> lines;  // Path: polylines
  double x = 0, y = 0, width = 0, height = 0;  // Rect; Text: x, y
  std::string text;
  Anchor anchor = Anchor::Start;
  double fontSize = 11;
  bool bold = false;
};
struct Drawing {
  double width = 0, height = 0;
  std::string title;
  std::vector<Shape> shapes;
};

// The plot: a title, then a panel per channel (measured channels share one
// with `layout.overlay`, with a legend, each in a colour and stroke of its
// own), each with its label and value ticks; multichannels as one lane per
// bit; NaN and infinities marked; a value with no drawn neighbour as a
// point; the trigger as a dashed line; the time ticks and label once, at
// the bottom. A single record lies in the middle of the time axis.
Drawing drawPlot(const std::string& title, const PlotTime& time,
                 const std::vector<PlotChannel>& channels, const PlotLayout& layout);

// The drawing as a standalone SVG document.
void writeSvg(std::ostream& out, const Drawing& drawing);

// Axis ticks at 1, 2 or 5 times a power of ten, about `wanted` of them
// between `low` and `high`.
std::vector<double> niceTicks(double low, double high, int wanted);
// Labels of evenly spaced ticks with as many digits as their step needs,
// so that neighbours differ (101324.8, 101325, 101325.2 and not 101325
// thrice).
std::vector<std::string> tickLabels(const std::vector<double>& ticks);

// Text for SVG content and attributes: & < > " ' escaped.
std::string xmlEscape(const std::string& text);

}  // namespace rvx
