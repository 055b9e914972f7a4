#include "plot.h"

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
}

uint64_t ColumnEnvelope::firstRecord(uint32_t column) const {
  // The smallest i with i * columns / records >= column.
  const uint64_t columns = min_.size();
  if (records_ == 0) return 0;
  return (uint64_t{column} * records_ + columns - 1) / columns;
}

void ColumnEnvelope::add(uint64_t record, float value) {
  if (!std::isfinite(value) || record >= records_) return;
  // Record counts are 32-bit and columns a few thousand: no overflow.
  const auto column = static_cast<size_t>(record * min_.size() / records_);
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

std::string xmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
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

constexpr double kLeft = 80;     // room for the value labels
constexpr double kRight = 20;
constexpr double kTitle = 34;    // title line above the first panel
constexpr double kLabel = 20;    // channel label above each panel
constexpr double kBelow = 34;    // time labels below each panel

// Coordinates with one decimal: enough for a pixel grid, small files.
std::string coordinate(double value) {
  char buffer[32];
  char* end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1).ptr;
  if (end - buffer > 2 && end[-2] == '.' && end[-1] == '0') end -= 2;
  const char* begin = buffer;
  if (end - buffer == 2 && buffer[0] == '-' && buffer[1] == '0') ++begin;
  return std::string(begin, static_cast<size_t>(end - begin));
}

// Tick labels as printf's %g would show them.
std::string tickText(double value) {
  char buffer[32];
  auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6).ptr;
  return std::string(buffer, end);
}

void writePanel(std::ostream& out, const PlotChannel& channel, double top, double interval,
                const PlotLayout& layout) {
  const ColumnEnvelope& envelope = channel.envelope;
  const double width = layout.plotWidth;
  const double height = layout.panelHeight;
  const double bottom = top + height;

  double low = INFINITY, high = -INFINITY;
  for (uint32_t c = 0; c < envelope.columns(); ++c) {
    if (!envelope.filled(c)) continue;
    low = std::min(low, static_cast<double>(envelope.minimum(c)));
    high = std::max(high, static_cast<double>(envelope.maximum(c)));
  }
  const bool empty = !(low <= high);
  if (empty) low = 0, high = 1;
  if (high == low) {
    const double pad = low == 0 ? 1.0 : std::fabs(low) * 0.1;
    low -= pad, high += pad;
  } else {
    const double pad = (high - low) * 0.05;
    low -= pad, high += pad;
  }
  auto y = [&](double value) { return bottom - (value - low) / (high - low) * height; };

  const uint64_t records = envelope.records();
  const double span = records > 1 ? static_cast<double>(records - 1) : 1.0;
  auto x = [&](double record) { return kLeft + record / span * width; };

  out << "<g>\n<text x=\"" << coordinate(kLeft) << "\" y=\"" << coordinate(top - 6)
      << "\" font-weight=\"bold\">" << xmlEscape(channel.label) << "</text>\n";
  out << "<rect x=\"" << coordinate(kLeft) << "\" y=\"" << coordinate(top) << "\" width=\""
      << coordinate(width) << "\" height=\"" << coordinate(height)
      << "\" fill=\"none\" stroke=\"#888\"/>\n";

  // Value axis.
  for (double tick : niceTicks(low, high, 4)) {
    const std::string ty = coordinate(y(tick));
    out << "<line x1=\"" << coordinate(kLeft) << "\" x2=\"" << coordinate(kLeft + width)
        << "\" y1=\"" << ty << "\" y2=\"" << ty << "\" stroke=\"#ddd\"/>"
        << "<text x=\"" << coordinate(kLeft - 6) << "\" y=\"" << coordinate(y(tick) + 4)
        << "\" text-anchor=\"end\">" << tickText(tick) << "</text>\n";
  }
  // Time axis in seconds.
  const double duration = span * interval;
  if (duration > 0) {
    for (double tick : niceTicks(0, duration, 8)) {
      const std::string tx = coordinate(x(tick / interval));
      out << "<line x1=\"" << tx << "\" x2=\"" << tx << "\" y1=\"" << coordinate(bottom)
          << "\" y2=\"" << coordinate(bottom + 4) << "\" stroke=\"#888\"/>"
          << "<text x=\"" << tx << "\" y=\"" << coordinate(bottom + 16)
          << "\" text-anchor=\"middle\">" << tickText(tick) << "</text>\n";
    }
  }
  out << "<text x=\"" << coordinate(kLeft + width) << "\" y=\"" << coordinate(bottom + 30)
      << "\" text-anchor=\"end\">time [s]</text>\n";

  if (!empty) {
    out << "<path fill=\"none\" stroke=\"#1f5fa8\" stroke-width=\"1\" d=\"";
    bool open = false;
    for (uint32_t c = 0; c < envelope.columns(); ++c) {
      if (!envelope.filled(c)) {
        open = false;
        continue;
      }
      const double first = static_cast<double>(envelope.firstRecord(c));
      const double last = static_cast<double>(envelope.endRecord(c) - 1);
      const std::string cx = coordinate(x((first + last) / 2));
      float a = envelope.minimum(c), b = envelope.maximum(c);
      if (!envelope.minimumFirst(c)) std::swap(a, b);
      out << (open ? 'L' : 'M') << cx << ',' << coordinate(y(a));
      if (b != a) out << 'L' << cx << ',' << coordinate(y(b));
      open = true;
    }
    out << "\"/>\n";
  } else {
    out << "<text x=\"" << coordinate(kLeft + width / 2) << "\" y=\""
        << coordinate(top + height / 2) << "\" text-anchor=\"middle\" fill=\"#888\">no values</text>\n";
  }
  out << "</g>\n";
}

}  // namespace

void writePlotSvg(std::ostream& out, const std::string& title, double interval,
                  const std::vector<PlotChannel>& channels, const PlotLayout& layout) {
  const double panel = kLabel + layout.panelHeight + kBelow;
  const double width = kLeft + layout.plotWidth + kRight;
  const double height = kTitle + panel * static_cast<double>(channels.size()) + 6;
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << coordinate(width)
      << "\" height=\"" << coordinate(height) << "\" viewBox=\"0 0 " << coordinate(width) << ' '
      << coordinate(height) << "\" font-family=\"sans-serif\" font-size=\"11\">\n"
      << "<title>" << xmlEscape(title) << "</title>\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"" << coordinate(kLeft) << "\" y=\"22\" font-size=\"14\">" << xmlEscape(title)
      << "</text>\n";
  double top = kTitle + kLabel;
  for (const PlotChannel& channel : channels) {
    writePanel(out, channel, top, interval, layout);
    top += panel;
  }
  out << "</svg>\n";
}

}  // namespace rvx
