#include "plots/plot.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace rvx {

ColumnEnvelope::ColumnEnvelope(uint64_t records, uint32_t pixels) : records_(records) {
  const uint64_t columns = std::max<uint64_t>(1, std::min<uint64_t>(records, pixels));
  min_.assign(columns, 0);
  max_.assign(columns, 0);
  minAt_.assign(columns, 0);
  maxAt_.assign(columns, 0);
  first_.assign(columns, kEmpty);
  marks_.assign(columns, 0);
  set_.assign(columns, 0);
  clear_.assign(columns, 0);
}

uint64_t ColumnEnvelope::firstRecord(uint32_t column) const {
  // The smallest i with i * columns / records >= column.
  const uint64_t columns = min_.size();
  if (records_ == 0) return 0;
  return (uint64_t{column} * records_ + columns - 1) / columns;
}

size_t ColumnEnvelope::columnOf(uint64_t record) const {
  // Record counts are 32-bit and columns a few thousand: no overflow.
  return static_cast<size_t>(record * min_.size() / records_);
}

void ColumnEnvelope::add(uint64_t record, float value) {
  if (record >= records_) return;
  const size_t column = columnOf(record);
  if (!std::isfinite(value)) {
    const NonFiniteMark mark = std::isnan(value) ? kNaNMark
                               : value > 0       ? kPlusInfMark
                                                 : kMinusInfMark;
    marks_[column] |= mark;
    ++(mark == kNaNMark ? nan_ : mark == kPlusInfMark ? plusInf_ : minusInf_);
    return;
  }
  if (first_[column] == kEmpty) {
    first_[column] = record;
    min_[column] = max_[column] = value;
    minAt_[column] = maxAt_[column] = record;
  } else if (value < min_[column]) {
    min_[column] = value;
    minAt_[column] = record;
  } else if (value > max_[column]) {
    max_[column] = value;
    maxAt_[column] = record;
  }
}

void ColumnEnvelope::addBits(uint64_t record, uint32_t bits) {
  if (record >= records_) return;
  const size_t column = columnOf(record);
  if (first_[column] == kEmpty) first_[column] = record;
  set_[column] |= bits;
  clear_[column] |= ~bits;
}

uint64_t ColumnEnvelope::markedRecords(NonFiniteMark mark) const {
  return mark == kNaNMark ? nan_ : mark == kPlusInfMark ? plusInf_ : minusInf_;
}

std::vector<double> niceTicks(double low, double high, int wanted) {
  std::vector<double> ticks;
  if (!(high > low) || wanted < 1) return ticks;
  const double rough = (high - low) / wanted;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = power;
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    step = factor * power;
    if (step >= rough) break;
  }
  const double first = std::ceil(low / step - 1e-9);
  for (double k = first; k * step <= high + step * 1e-9; k += 1) {
    const double tick = k * step;
    ticks.push_back(std::fabs(tick) < step * 1e-9 ? 0.0 : tick);
  }
  return ticks;
}

std::vector<std::string> tickLabels(const std::vector<double>& ticks) {
  std::vector<std::string> labels;
  if (ticks.empty()) return labels;
  double largest = 0;
  for (double tick : ticks) largest = std::max(largest, std::fabs(tick));
  const double step = ticks.size() > 1 ? std::fabs(ticks[1] - ticks[0]) : largest;
  // The decimal place of the step's leading digit: labels need digits down to it.
  const int place = step > 0 ? static_cast<int>(std::floor(std::log10(step) + 1e-9)) : 0;
  const bool fixed = largest < 1e9 && place >= -9 && (largest >= 1e-4 || largest == 0);
  char buffer[64];
  for (double tick : ticks) {
    std::to_chars_result result;
    if (fixed) {
      result = std::to_chars(buffer, buffer + sizeof buffer, tick, std::chars_format::fixed,
                             std::max(0, -place));
    } else {
      const int magnitude = largest > 0 ? static_cast<int>(std::floor(std::log10(largest))) : 0;
      const int digits = std::clamp(magnitude - place + 1, 1, 17);
      result =
          std::to_chars(buffer, buffer + sizeof buffer, tick, std::chars_format::general, digits);
    }
    labels.emplace_back(buffer, result.ptr);
  }
  return labels;
}

std::string xmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        // Control characters are not allowed in XML 1.0.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          out += ' ';
        } else {
          out += c;
        }
    }
  }
  return out;
}

namespace {

constexpr double kMinLeft = 60;  // room for the value labels, at least
constexpr double kRight = 20;
constexpr double kTitle = 34;                   // title line above the first panel
constexpr double kLabel = 20;                   // a line of channel label or legend above a panel
constexpr double kGap = 10;                     // between a panel and the next one's label
constexpr double kBelow = 40;                   // time ticks and label below the last panel
constexpr double kCharWidth = 6.6;              // of the 11-pixel font, generously
constexpr double kLaneMin = 14, kLaneMax = 30;  // pixels per bit lane
constexpr double kMarkStrip = 5;                // height of an infinity mark
constexpr int kPixelsPerValueTick = 25, kPixelsPerTimeTick = 90;

constexpr uint32_t kPalette[] = {0x1f5fa8, 0xd62728, 0x2ca02c, 0xff7f0e,
                                 0x9467bd, 0x8c564b, 0xe377c2, 0x17becf};
// The strokes of an overlay: the palette once solid, then once in each
// pattern, so that 8 x 6 = 48 channels (as many as a recording holds) each
// have a colour and stroke of their own.
const std::vector<double> kStrokes[] = {{}, {6, 3}, {2, 2}, {8, 3, 2, 3}, {12, 4}, {2, 2, 2, 6}};
const std::vector<double> kTriggerDashes = {4, 3};
constexpr double kPoint = 3;          // side of the square that draws a lone value
constexpr double kLegendStroke = 30;  // a legend entry's stroke and the room after it
constexpr uint32_t kFrame = 0x888888, kGrid = 0xdddddd, kText = 0x000000, kMuted = 0x888888;
constexpr uint32_t kTrigger = 0xe07b00, kNonFinite = 0xd62728;

double textWidth(const std::string& text) {
  size_t characters = 0;  // UTF-8: count the bytes that start a character
  for (char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return static_cast<double>(characters) * kCharWidth;
}

Shape text(std::string role, double x, double y, std::string content,
           Anchor anchor = Anchor::Start) {
  Shape shape;
  shape.kind = Shape::Kind::Text;
  shape.role = std::move(role);
  shape.x = x, shape.y = y;
  shape.text = std::move(content);
  shape.anchor = anchor;
  shape.fill = kText;
  return shape;
}

Shape path(std::string role, uint32_t colour, std::vector<std::vector<Point>> lines) {
  Shape shape;
  shape.role = std::move(role);
  shape.stroke = colour;
  shape.lines = std::move(lines);
  return shape;
}

Shape rect(std::string role, double x, double y, double width, double height) {
  Shape shape;
  shape.kind = Shape::Kind::Rect;
  shape.role = std::move(role);
  shape.x = x, shape.y = y, shape.width = width, shape.height = height;
  return shape;
}

// " (3 NaN, 1 +inf)" for a channel with values that cannot be drawn.
std::string nonFiniteNote(const ColumnEnvelope& envelope) {
  std::string note;
  for (auto [mark, name] : {std::pair{kNaNMark, " NaN"}, std::pair{kPlusInfMark, " +inf"},
                            std::pair{kMinusInfMark, " -inf"}}) {
    const uint64_t count = envelope.markedRecords(mark);
    if (count == 0) continue;
    note += (note.empty() ? " (" : ", ") + std::to_string(count) + name;
  }
  return note.empty() ? note : note + ")";
}

struct Panel {
  std::vector<size_t> channels;      // indexes into the channel list
  int lanes = 0;                     // a multichannel's panel: its bits
  std::vector<std::string> heading;  // one line, or the legend's lines
  std::vector<std::vector<size_t>> legendRows;
  double top = 0, height = 0;
  double low = 0, high = 1;
  bool empty = true;
  std::vector<double> ticks;
  std::vector<std::string> tickText;
};

// Where channel `k` lies among the channels of its panel.
size_t placeIn(const Panel& panel, size_t k) {
  return static_cast<size_t>(std::find(panel.channels.begin(), panel.channels.end(), k) -
                             panel.channels.begin());
}

// Value range and ticks of a panel of measured values.
void scaleValues(Panel& panel, const std::vector<PlotChannel>& channels, double height) {
  double low = INFINITY, high = -INFINITY;
  for (size_t k : panel.channels) {
    const ColumnEnvelope& envelope = channels[k].envelope;
    for (uint32_t c = 0; c < envelope.columns(); ++c) {
      if (!envelope.filled(c)) continue;
      low = std::min(low, static_cast<double>(envelope.minimum(c)));
      high = std::max(high, static_cast<double>(envelope.maximum(c)));
    }
  }
  panel.empty = !(low <= high);
  if (panel.empty) low = 0, high = 1;
  if (high == low) {
    // A constant: a narrow range around it, so that its ticks read near it.
    const double pad = low == 0 ? 1.0 : std::fabs(low) * 1e-3;
    low -= pad, high += pad;
  } else {
    const double pad = (high - low) * 0.05;
    low -= pad, high += pad;
  }
  panel.low = low, panel.high = high;
  panel.ticks = niceTicks(low, high, std::max(3, static_cast<int>(height) / kPixelsPerValueTick));
  panel.tickText = tickLabels(panel.ticks);
}

// Legend entries (a stroke and the label) in rows as wide as the plot.
std::vector<std::vector<size_t>> legendRows(const Panel& panel,
                                            const std::vector<std::string>& labels, double width) {
  std::vector<std::vector<size_t>> rows(1);
  double used = 0;
  for (size_t k : panel.channels) {
    const double entry = kLegendStroke + textWidth(labels[k]) + 16;
    if (used > 0 && used + entry > width) rows.emplace_back(), used = 0;
    rows.back().push_back(k);
    used += entry;
  }
  return rows;
}

struct Frame {
  double left, width, top, bottom;
  uint64_t records;
  // A single record lies in the middle, its column across the whole width.
  double x(double record) const {
    if (records <= 1) return left + (record + 0.5) * width;
    return left + record / static_cast<double>(records - 1) * width;
  }
  // The pixel span of a column's records, at least three pixels wide.
  std::pair<double, double> columnSpan(const ColumnEnvelope& envelope, uint32_t c) const {
    double from = std::max(left, x(static_cast<double>(envelope.firstRecord(c)) - 0.5));
    double to = std::min(left + width, x(static_cast<double>(envelope.endRecord(c)) - 0.5));
    if (to - from < 3) from = std::max(left, (from + to) / 2 - 1.5), to = from + 3;
    return {from, to};
  }
};

// A channel's colour and stroke: its place among the channels of its panel.
struct Stroke {
  uint32_t colour;
  const std::vector<double>* dashes;
};
Stroke strokeOf(size_t place) {
  const size_t colours = std::size(kPalette);
  return {kPalette[place % colours], &kStrokes[place / colours % std::size(kStrokes)]};
}

void drawValues(Drawing& drawing, const Frame& frame, const ColumnEnvelope& envelope, double low,
                double high, const Stroke& stroke) {
  const double height = frame.bottom - frame.top;
  auto y = [&](double value) { return frame.bottom - (value - low) / (high - low) * height; };
  std::vector<std::vector<Point>> lines;
  bool open = false;
  for (uint32_t c = 0; c < envelope.columns(); ++c) {
    if (!envelope.filled(c)) {
      open = false;
      continue;
    }
    if (!open) lines.emplace_back();
    open = true;
    const double first = static_cast<double>(envelope.firstRecord(c));
    const double last = static_cast<double>(envelope.endRecord(c) - 1);
    const double cx = frame.x((first + last) / 2);
    float a = envelope.minimum(c), b = envelope.maximum(c);
    if (!envelope.minimumFirst(c)) std::swap(a, b);
    lines.back().push_back({cx, y(a)});
    if (b != a) lines.back().push_back({cx, y(b)});
  }
  // A value with no drawn neighbour (alone between NaN, or the only
  // record) makes no line: a square shows it.
  std::erase_if(lines, [&](const std::vector<Point>& line) {
    if (line.size() != 1) return false;
    Shape point = rect("point", line[0].x - kPoint / 2, line[0].y - kPoint / 2, kPoint, kPoint);
    point.fill = stroke.colour;
    drawing.shapes.push_back(std::move(point));
    return true;
  });
  drawing.shapes.push_back(path("data", stroke.colour, std::move(lines)));
  drawing.shapes.back().dashes = *stroke.dashes;
}

// NaN shades the columns that hold one; +inf and -inf are strips along the
// top and the bottom edge. Neighbouring columns make one mark.
void drawNonFinite(Drawing& drawing, const Frame& frame, const ColumnEnvelope& envelope) {
  struct Kind {
    NonFiniteMark mark;
    const char* role;
    double top, height, opacity;
  };
  const double height = frame.bottom - frame.top;
  for (const Kind& kind :
       {Kind{kNaNMark, "nan", frame.top, height, 0.2},
        Kind{kPlusInfMark, "plus-inf", frame.top, kMarkStrip, 1},
        Kind{kMinusInfMark, "minus-inf", frame.bottom - kMarkStrip, kMarkStrip, 1}}) {
    for (uint32_t c = 0; c < envelope.columns(); ++c) {
      if (!(envelope.marks(c) & kind.mark)) continue;
      uint32_t end = c + 1;
      while (end < envelope.columns() && (envelope.marks(end) & kind.mark)) ++end;
      const double from = frame.columnSpan(envelope, c).first;
      const double to = frame.columnSpan(envelope, end - 1).second;
      Shape mark = rect(kind.role, from, kind.top, to - from, kind.height);
      mark.fill = kNonFinite;
      mark.opacity = kind.opacity;
      drawing.shapes.push_back(std::move(mark));
      c = end;
    }
  }
}

// One lane per bit, bit 0 on top: high where the bit is set, low where it
// is clear, and a vertical stroke across a column where it changes.
void drawLanes(Drawing& drawing, const Frame& frame, const ColumnEnvelope& envelope, int lanes) {
  const double lane = (frame.bottom - frame.top) / lanes;
  for (int bit = 0; bit < lanes; ++bit) {
    const double top = frame.top + bit * lane;
    const double high = top + lane * 0.2, low = top + lane * 0.8;
    if (bit > 0) {
      drawing.shapes.push_back(
          path("lane-border", kGrid, {{{frame.left, top}, {frame.left + frame.width, top}}}));
    }
    drawing.shapes.push_back(text("lane-label", frame.left - 6, top + lane / 2 + 4,
                                  "bit " + std::to_string(bit), Anchor::End));
    const uint32_t mask = uint32_t{1} << bit;
    std::vector<std::vector<Point>> lines;
    bool open = false;
    for (uint32_t c = 0; c < envelope.columns(); ++c) {
      if (!envelope.filled(c)) {
        open = false;
        continue;
      }
      if (!open) lines.emplace_back();
      open = true;
      const bool set = envelope.bitsSet(c) & mask, clear = envelope.bitsClear(c) & mask;
      const auto [from, to] = frame.columnSpan(envelope, c);
      if (set && clear) {
        const double cx = (from + to) / 2;
        lines.back().push_back({cx, low});
        lines.back().push_back({cx, high});
      } else {
        lines.back().push_back({from, set ? high : low});
        lines.back().push_back({to, set ? high : low});
      }
    }
    drawing.shapes.push_back(path("lane", kPalette[0], std::move(lines)));
  }
}

// Time ticks: seconds when records have times, else record numbers.
struct TimeAxis {
  std::vector<double> positions;  // record offsets from the first record plotted
  std::vector<std::string> labels;
  std::string title;
};

TimeAxis timeAxis(const PlotTime& time, uint64_t records, uint32_t width) {
  TimeAxis axis;
  const int wanted = std::max(2, static_cast<int>(width) / kPixelsPerTimeTick);
  const double first = static_cast<double>(time.firstRecord);
  const double last = first + static_cast<double>(records > 0 ? records - 1 : 0);
  const double unit = time.interval > 0 ? time.interval : 1.0;
  // A single record: one tick, at its time.
  const std::vector<double> ticks = records == 1 ? std::vector<double>{first * unit}
                                                 : niceTicks(first * unit, last * unit, wanted);
  for (double tick : ticks) axis.positions.push_back(tick / unit - first);
  axis.labels = tickLabels(ticks);
  axis.title = time.interval > 0 ? "time [s]" : "record";
  return axis;
}

}  // namespace

Drawing drawPlot(const std::string& title, const PlotTime& time,
                 const std::vector<PlotChannel>& channels, const PlotLayout& layout) {
  Drawing drawing;
  drawing.title = title;
  std::vector<std::string> labels;
  for (const PlotChannel& channel : channels)
    labels.push_back(channel.label + nonFiniteNote(channel.envelope));

  // The panels: one per channel, or the measured ones together.
  std::vector<Panel> panels;
  for (size_t k = 0; k < channels.size(); ++k) {
    const bool shared = layout.overlay && channels[k].lanes == 0;
    auto together =
        std::find_if(panels.begin(), panels.end(), [](const Panel& p) { return p.lanes == 0; });
    if (shared && together != panels.end()) {
      together->channels.push_back(k);
      continue;
    }
    Panel panel;
    panel.channels = {k};
    panel.lanes = std::clamp(channels[k].lanes, 0, 32);
    panels.push_back(panel);
  }
  double left = kMinLeft;
  for (Panel& panel : panels) {
    if (panel.lanes > 0) {
      const double lane = std::clamp(layout.panelHeight / double(panel.lanes), kLaneMin, kLaneMax);
      panel.height = lane * panel.lanes;
      left = std::max(left, textWidth("bit 31") + 12);
      continue;
    }
    panel.height = layout.panelHeight;
    scaleValues(panel, channels, panel.height);
    for (const std::string& label : panel.tickText) left = std::max(left, textWidth(label) + 12);
  }
  const double width = layout.plotWidth;
  drawing.width = std::ceil(left + width + kRight);

  drawing.shapes.push_back(text("title", left, 22, title));
  drawing.shapes.back().fontSize = 14;
  uint64_t records = channels.empty() ? 0 : channels.front().envelope.records();
  const TimeAxis axis = timeAxis(time, records, layout.plotWidth);
  const bool trigger = time.trigger && *time.trigger >= time.firstRecord &&
                       *time.trigger - time.firstRecord < records;
  double y = kTitle;
  for (size_t p = 0; p < panels.size(); ++p) {
    Panel& panel = panels[p];
    const bool legend = panel.lanes == 0 && panel.channels.size() > 1;
    // The label, or the legend: a stroke of each channel's colour and its label.
    if (legend) {
      for (const auto& row : legendRows(panel, labels, width)) {
        y += kLabel;
        double x = left;
        for (size_t k : row) {
          const Stroke stroke = strokeOf(placeIn(panel, k));
          drawing.shapes.push_back(path("legend-stroke", stroke.colour,
                                        {{{x, y - 10}, {x + kLegendStroke - 6, y - 10}}}));
          drawing.shapes.back().strokeWidth = 2;
          drawing.shapes.back().dashes = *stroke.dashes;
          drawing.shapes.push_back(text("legend", x + kLegendStroke, y - 6, labels[k]));
          x += kLegendStroke + textWidth(labels[k]) + 16;
        }
      }
    } else {
      y += kLabel;
      drawing.shapes.push_back(text("label", left, y - 6, labels[panel.channels.front()]));
      drawing.shapes.back().bold = true;
    }
    panel.top = y;
    const Frame frame{left, width, panel.top, panel.top + panel.height, records};
    y = frame.bottom + kGap;

    Shape border = rect("frame", left, frame.top, width, panel.height);
    border.stroke = kFrame;
    drawing.shapes.push_back(border);
    for (double position : axis.positions) {
      const double x = frame.x(position);
      drawing.shapes.push_back(path("time-grid", kGrid, {{{x, frame.top}, {x, frame.bottom}}}));
    }
    if (panel.lanes > 0) {
      drawLanes(drawing, frame, channels[panel.channels.front()].envelope, panel.lanes);
    } else {
      auto valueY = [&](double value) {
        return frame.bottom - (value - panel.low) / (panel.high - panel.low) * panel.height;
      };
      for (size_t t = 0; t < panel.ticks.size(); ++t) {
        const double ty = valueY(panel.ticks[t]);
        drawing.shapes.push_back(path("value-grid", kGrid, {{{left, ty}, {left + width, ty}}}));
        drawing.shapes.push_back(text("y-tick", left - 6, ty + 4, panel.tickText[t], Anchor::End));
      }
      for (size_t k : panel.channels) {
        drawNonFinite(drawing, frame, channels[k].envelope);
        if (!panel.empty) {
          drawValues(drawing, frame, channels[k].envelope, panel.low, panel.high,
                     strokeOf(legend ? placeIn(panel, k) : 0));
        }
      }
      if (panel.empty) {
        drawing.shapes.push_back(text("no-values", left + width / 2, frame.top + panel.height / 2,
                                      "no values", Anchor::Middle));
        drawing.shapes.back().fill = kMuted;
      }
    }
    if (trigger) {
      const double x = frame.x(static_cast<double>(*time.trigger - time.firstRecord));
      drawing.shapes.push_back(path("trigger", kTrigger, {{{x, frame.top}, {x, frame.bottom}}}));
      drawing.shapes.back().dashes = kTriggerDashes;
      drawing.shapes.back().strokeWidth = 1.5;
      if (p == 0) {
        drawing.shapes.push_back(text("trigger-label", x + 3, frame.top + 11, "trigger"));
        drawing.shapes.back().fill = kTrigger;
      }
    }
    if (p + 1 == panels.size()) {
      // The one time axis, under the last panel.
      for (size_t t = 0; t < axis.positions.size(); ++t) {
        const double x = frame.x(axis.positions[t]);
        drawing.shapes.push_back(
            path("time-tick", kFrame, {{{x, frame.bottom}, {x, frame.bottom + 4}}}));
        drawing.shapes.push_back(
            text("x-tick", x, frame.bottom + 16, axis.labels[t], Anchor::Middle));
      }
      drawing.shapes.push_back(
          text("time-label", left + width / 2, frame.bottom + 32, axis.title, Anchor::Middle));
    }
  }
  drawing.height = std::ceil((panels.empty() ? kTitle : y - kGap) + kBelow);
  return drawing;
}

namespace {

// Coordinates with one decimal: enough for a pixel grid, small files.
std::string coordinate(double value) {
  char buffer[32];
  char* end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1).ptr;
  if (end - buffer > 2 && end[-2] == '.' && end[-1] == '0') end -= 2;
  const char* begin = buffer;
  if (end - buffer == 2 && buffer[0] == '-' && buffer[1] == '0') ++begin;
  return std::string(begin, static_cast<size_t>(end - begin));
}

std::string colour(uint32_t rgb) {
  static const char digits[] = "0123456789abcdef";
  std::string text = "#";
  for (int shift = 20; shift >= 0; shift -= 4) text += digits[(rgb >> shift) & 0xF];
  return text;
}

void writeShape(std::ostream& out, const Shape& shape) {
  const std::string role = " class=\"" + shape.role + "\"";
  std::string paint;
  paint += " fill=\"" + (shape.fill == kNoColour ? std::string("none") : colour(shape.fill)) + "\"";
  if (shape.opacity < 1) {
    char buffer[32];
    paint += " fill-opacity=\"" +
             std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, shape.opacity).ptr) +
             "\"";
  }
  if (shape.stroke != kNoColour) {
    paint += " stroke=\"" + colour(shape.stroke) + "\"";
    if (shape.strokeWidth != 1) paint += " stroke-width=\"" + coordinate(shape.strokeWidth) + "\"";
    if (!shape.dashes.empty()) {
      paint += " stroke-dasharray=\"";
      for (size_t i = 0; i < shape.dashes.size(); ++i)
        paint += (i == 0 ? "" : " ") + coordinate(shape.dashes[i]);
      paint += '"';
    }
  }
  switch (shape.kind) {
    case Shape::Kind::Path: {
      if (shape.lines.empty()) return;
      out << "<path" << role << " d=\"";
      for (const auto& line : shape.lines) {
        for (size_t i = 0; i < line.size(); ++i) {
          out << (i == 0 ? 'M' : 'L') << coordinate(line[i].x) << ',' << coordinate(line[i].y);
        }
      }
      out << '"' << paint << "/>\n";
      break;
    }
    case Shape::Kind::Rect:
      out << "<rect" << role << " x=\"" << coordinate(shape.x) << "\" y=\"" << coordinate(shape.y)
          << "\" width=\"" << coordinate(shape.width) << "\" height=\"" << coordinate(shape.height)
          << '"' << paint << "/>\n";
      break;
    case Shape::Kind::Text:
      out << "<text" << role << " x=\"" << coordinate(shape.x) << "\" y=\"" << coordinate(shape.y)
          << '"';
      if (shape.anchor != Anchor::Start) {
        out << " text-anchor=\"" << (shape.anchor == Anchor::Middle ? "middle" : "end") << '"';
      }
      if (shape.fontSize != 11) out << " font-size=\"" << coordinate(shape.fontSize) << '"';
      if (shape.bold) out << " font-weight=\"bold\"";
      if (shape.fill != kText) out << " fill=\"" << colour(shape.fill) << '"';
      out << '>' << xmlEscape(shape.text) << "</text>\n";
      break;
  }
}

}  // namespace

void writeSvg(std::ostream& out, const Drawing& drawing) {
  const std::string width = coordinate(drawing.width), height = coordinate(drawing.height);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << ' ' << height
      << "\" font-family=\"sans-serif\" font-size=\"11\">\n"
      << "<title>" << xmlEscape(drawing.title) << "</title>\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  for (const Shape& shape : drawing.shapes) writeShape(out, shape);
  out << "</svg>\n";
}

}  // namespace rvx
