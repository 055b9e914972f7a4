#include "inputs/csv_records.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <deque>
#include <iostream>
#include <limits>

#include "shared/number_text.h"
#include "shared/tool_error.h"

namespace rvx {

// The rows after the heading, with the first ones held back while the scan
// interval is taken from the time column.
class CsvRows {
 public:
  CsvRows(CsvReader& reader, std::string name) : reader_(reader), name_(std::move(name)) {}

  // The fields stay valid until the next call of next(), peek() or consume().
  bool next(std::vector<std::string_view>& fields) {
    if (!held_.empty()) {
      current_ = std::move(held_.front());
      line_ = heldLines_.front();
      held_.pop_front();
      heldLines_.pop_front();
      fields.assign(current_.begin(), current_.end());
      return true;
    }
    if (!reader_.next(fields)) return false;
    line_ = reader_.line();
    return true;
  }
  // Reads ahead without consuming.
  const std::vector<std::string>* peek(size_t ahead) {
    while (held_.size() <= ahead) {
      std::vector<std::string_view> fields;
      if (!reader_.next(fields)) return nullptr;
      held_.emplace_back(fields.begin(), fields.end());
      heldLines_.push_back(reader_.line());
    }
    return &held_[ahead];
  }
  // Line of a row read ahead with peek().
  size_t peekedLine(size_t ahead) const { return heldLines_.at(ahead); }

  // The unread bytes where the next row begins, for parsing it in place;
  // none while rows are held back.
  std::string_view pending() const { return held_.empty() ? reader_.pending() : ""; }
  // Consumes a row of pending() parsed in place.
  void consume(size_t bytes, size_t lineFeeds) {
    reader_.consume(bytes, lineFeeds);
    line_ = reader_.line();
  }

  std::string where() const { return name_ + " line " + std::to_string(line_); }
  size_t line() const { return line_; }
  const std::string& name() const { return name_; }
  std::string where(size_t column) const {
    return where() + ", column " + std::to_string(column + 1);
  }

 private:
  CsvReader& reader_;
  std::string name_;
  std::deque<std::vector<std::string>> held_;
  std::deque<size_t> heldLines_;
  std::vector<std::string> current_;
  size_t line_ = 0;
};

namespace {

void markMultiChannels(const std::vector<MultiChannelDeclaration>& declarations,
                       const std::string& input, std::vector<CsvColumn>& columns) {
  for (const MultiChannelDeclaration& declaration : declarations) {
    bool found = false;
    for (CsvColumn& column : columns) {
      if (column.parts.variable == declaration.variable)
        column.bits = declaration.bits, found = true;
    }
    if (!found)
      throw usageError("--multichannel: no column " + declaration.variable + " in " + input);
  }
}

// How the time column writes its times.
struct TimeFormat {
  TimeUnit unit = TimeUnit::Seconds;
  bool decimalComma = false;
};

ToolError notTime(const std::string& where, std::string_view text, TimeFormat format) {
  return ToolError(where + ": the time " + quotedField(text) + " is not a number of " +
                   (format.unit == TimeUnit::Milliseconds ? "milliseconds" : "seconds") +
                   (format.decimalComma ? " with a decimal comma" : ""));
}

// A number with a decimal comma as parseFloat and parseSeconds take it,
// in `scratch`; empty for one that holds a point, which would be a
// thousands separator or a mistake.
std::string_view decimalPointText(std::string_view text, std::string& scratch) {
  if (text.find('.') != text.npos) return {};
  scratch.assign(text);
  std::replace(scratch.begin(), scratch.end(), ',', '.');
  return scratch;
}

// A time as whole (or nearly whole) microseconds, in the column's format.
std::optional<Seconds> parseTime(std::string_view text, TimeFormat format) {
  if (format.unit == TimeUnit::Seconds && !format.decimalComma) return parseSeconds(text);
  std::string scratch;
  if (format.decimalComma) text = decimalPointText(text, scratch);
  auto time = parseSeconds(text);
  if (!time || format.unit == TimeUnit::Seconds) return time;
  // Milliseconds read as seconds are a thousand times their microseconds.
  const int64_t thousandths = time->microseconds;
  int64_t microseconds = thousandths / 1000;
  const int64_t rest = thousandths % 1000;
  if (rest >= 500) ++microseconds;
  if (rest <= -500) --microseconds;
  return Seconds{microseconds, time->whole && rest == 0};
}

int64_t intervalOption(const std::string& text) {
  int64_t microseconds = 0;
  if (parseSigned(text, microseconds)) return microseconds;  // checkFit judges its size
  float number = 0;
  if (parseFloat(text, number)) {
    throw usageError("--scan-interval-us " + text + ": the header holds whole microseconds only");
  }
  throw usageError("--scan-interval-us: expected a whole number of microseconds, not " + text);
}

// Follows the time column. Without an interval given, its times must step
// by the scan interval exactly, as the recording will have them; with one
// given, the recording keeps only that, and a column that strays by more
// than half of it is warned about once. A column that does not start at 0
// is reported: the recording's times count from its first record.
class TimeColumn {
 public:
  TimeColumn(int64_t interval, bool intervalGiven, TimeFormat format)
      : interval_(interval), intervalGiven_(intervalGiven), format_(format) {}

  void follow(std::string_view text, const CsvRows& rows, uint64_t record) {
    const auto seconds = parseTime(text, format_);
    if (!seconds) throw notTime(rows.where(0), text, format_);
    const Seconds time = *seconds;
    const int64_t t = time.microseconds;
    if (record == 0) {
      expected_ = t;
      if (t != 0) {
        std::cerr << "rvx: " << rows.where(0) << ": warning: the time column starts at "
                  << secondsText(t)
                  << " s; the recording counts its time from the first record, which export shows "
                     "at 0 s\n";
      }
    }
    const bool onTime = time.whole && t == expected_ && !beyond_;
    if (intervalGiven_) {
      if (!warned_ && (std::llabs(t - expected_) > interval_ / 2 || beyond_)) {
        std::cerr << "rvx: " << rows.where(0) << ": warning: the time column is not spaced "
                  << secondsText(interval_) << " s apart; the recording keeps only the interval\n";
        warned_ = true;
      }
    } else if (!onTime) {
      // A time between two microseconds is named as written: rounded, it
      // may read as the very time expected.
      const std::string shown =
          time.whole ? secondsText(t) + " s"
                     : std::string(text) + (format_.unit == TimeUnit::Milliseconds ? " ms" : " s");
      throw ToolError(rows.where(0) + ": the time " + shown + " breaks the even spacing of " +
                      secondsText(interval_) + " s (expected " + secondsText(expected_) +
                      " s); give --scan-interval-us to record the rows evenly spaced all the same");
    }
    beyond_ = beyond_ || expected_ > std::numeric_limits<int64_t>::max() - interval_;
    if (!beyond_) expected_ += interval_;
  }

 private:
  int64_t interval_;
  bool intervalGiven_;
  TimeFormat format_;
  int64_t expected_ = 0;
  bool beyond_ = false;  // the next time would not fit 64 bits
  bool warned_ = false;
};

// A timestamp of the time column as wall-clock time: as written, or, with
// a UTC offset, converted into the wall-clock time of the zone of --tz.
// `where()` names the row in a refusal (and costs nothing otherwise).
template <typename Where>
WallStart wallTime(std::string_view text, TimeZone* zone, const Where& where) {
  const auto stamp = parseTimestamp(text);
  if (!stamp) {
    throw ToolError(where() + ": " + quotedField(text) +
                    " is not a timestamp such as 2026-12-07T10:15:30.125, "
                    "07.12.2026 10:15:30,125 or 07/12/2026 10:15:30,125");
  }
  WallStart wall{stamp->wallSeconds, stamp->nanoseconds};
  if (!stamp->offset) return wall;
  if (!zone) {
    throw ToolError(where() + ": the timestamp " + quotedField(text) +
                    " gives a UTC offset, and the recording keeps wall-clock time without a "
                    "zone: give --tz ZONE, the zone whose wall-clock time it is to keep");
  }
  const int64_t instant = stamp->wallSeconds - *stamp->offset;
  wall.wallSeconds = instant + zone->offsetAt(instant);
  return wall;
}

// "0.0015 s" for a step in nanoseconds.
std::string stepText(int64_t nanoseconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%.9g s", static_cast<double>(nanoseconds) / 1e9);
  return text;
}

std::string percentText(double fraction) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g%%", fraction * 100);
  return text;
}

// Timestamps farther apart than a century are refused: their distance in
// nanoseconds, which the steps are measured in, fits 64 bits for 292 years.
constexpr int64_t kFarthestSeconds = 100LL * 366 * kSecondsPerDay;

// The nanoseconds from `first` to the timestamp `text`, read as `wall`.
// Throws ToolError naming the row (`where()`) for one a century away.
template <typename Where>
int64_t nanosecondsFrom(WallStart first, WallStart wall, std::string_view text,
                        const Where& where) {
  const int64_t seconds = wall.wallSeconds - first.wallSeconds;
  if (seconds > kFarthestSeconds || seconds < -kFarthestSeconds) {
    throw ToolError(where() + ": the timestamp " + quotedField(text) +
                    " lies centuries from the first");
  }
  return seconds * kNanosecondsPerSecond + (wall.nanoseconds - first.nanoseconds);
}

}  // namespace

// Follows a time column of timestamps: the steps from row to row, of which
// it keeps the rows where a new smallest or largest step appears, so that
// once the scan interval is known (at the end, when it is taken from the
// column) the first row that strays from it is found without keeping every
// step.
class WallTimes {
 public:
  WallTimes(WallStart first, TimeZone* zone) : first_(first), zone_(zone) {}

  void follow(std::string_view text, const CsvRows& rows, uint64_t record) {
    const auto where = [&] { return rows.where(0); };
    const int64_t time = nanosecondsFrom(first_, wallTime(text, zone_, where), text, where);
    if (record > 0) {
      const int64_t step = time - last_;
      if (lows_.empty() || step < lows_.back().step) lows_.push_back({rows.line(), step});
      if (highs_.empty() || step > highs_.back().step) highs_.push_back({rows.line(), step});
    }
    last_ = time;
    steps_ = record;
  }

  // The scan interval from the first to the last timestamp, to the nearest
  // microsecond; 0 for fewer than two rows.
  int64_t interval() const {
    if (steps_ == 0 || last_ <= 0) return 0;
    const auto divisor = static_cast<int64_t>(steps_) * 1000;
    return (last_ + divisor / 2) / divisor;
  }

  // The first row whose step strays by more than 1% from `interval`, and
  // the words that describe it; none when no row does.
  struct Stray {
    size_t line = 0;
    std::string what;
  };
  std::optional<Stray> stray(int64_t interval) const {
    if (steps_ == 0) return std::nullopt;
    const int64_t expected = interval * 1000;
    const int64_t tolerance = expected / 100;
    const Step* first = nullptr;
    for (const Step& low : lows_) {
      if (low.step < expected - tolerance) {
        first = &low;
        break;
      }
    }
    for (const Step& high : highs_) {
      if (high.step > expected + tolerance) {
        if (!first || high.line < first->line) first = &high;
        break;
      }
    }
    if (!first) return std::nullopt;
    const Step& largest =
        expected - lows_.back().step > highs_.back().step - expected ? lows_.back() : highs_.back();
    const auto deviation = [&](const Step& s) {
      return expected > 0
                 ? std::fabs(static_cast<double>(s.step - expected)) / static_cast<double>(expected)
                 : 1.0;
    };
    return Stray{first->line, "the step of " + stepText(first->step) + " from the row before is " +
                                  percentText(deviation(*first)) +
                                  " away from the scan interval of " + secondsText(interval) +
                                  " s, more than the 1% allowed (the largest deviation is " +
                                  percentText(deviation(largest)) + ", at line " +
                                  std::to_string(largest.line) + ")"};
  }

 private:
  struct Step {
    size_t line = 0;
    int64_t step = 0;
  };

  WallStart first_;
  TimeZone* zone_;
  int64_t last_ = 0;
  uint64_t steps_ = 0;
  std::vector<Step> lows_, highs_;
};

namespace {

// The values of one row: numbers as floats, multichannel fields as the bit
// patterns of unsigned integers.
void parseValues(const std::vector<std::string_view>& fields, size_t first,
                 const std::vector<CsvColumn>& columns, const CsvRows& rows, bool decimalComma,
                 float* record) {
  std::string scratch;
  for (size_t c = 0; c < columns.size(); ++c) {
    const std::string_view field = fields[first + c];
    if (columns[c].bits) {
      uint64_t bits = 0;
      if (!parseUnsigned(field, bits) || bits > 0xFFFFFFFFu) {
        throw ToolError(rows.where(first + c) + ": " + quotedField(field) +
                        " is not a 32-bit unsigned bit field");
      }
      record[c] = std::bit_cast<float>(static_cast<uint32_t>(bits));
      continue;
    }
    const std::string_view number = decimalComma ? decimalPointText(field, scratch) : field;
    if (parseFloat(number, record[c])) continue;
    if (beyondFloat(number)) {
      throw ToolError(rows.where(first + c) + ": " + quotedField(field) +
                      " is beyond the range of a 32-bit float (at most " +
                      floatText(std::numeric_limits<float>::max()) + " either way)");
    }
    const bool comma = !decimalComma && field.find(',') != field.npos;
    throw ToolError(rows.where(first + c) + ": " + quotedField(field) + " is not a number" +
                    (decimalComma ? " with a decimal comma"
                     : comma      ? " (a decimal comma? give --decimal-comma)"
                                  : ""));
  }
}

// A row parsed in place: its time field and whether its line end holds a
// line feed.
struct PlainRow {
  std::string_view time;
  bool lineFeed = false;
};

template <char Delimiter>
bool endsPlainField(char c) {
  return c == Delimiter || c == '\r' || c == '\n' || c == '"';
}

// A number that parseFloat reads exactly as from_chars does: it starts
// with a digit, a point or a minus sign that is not that of "-nan(...)"
// (blanks, '+' and the bits of a NaN are parseFloat's own). Returns the
// end of the number, or null.
const char* plainFloat(const char* p, const char* end, float& value) {
  const bool plain =
      (*p >= '0' && *p <= '9') || *p == '.' || (*p == '-' && end - p > 1 && (p[1] | 0x20) != 'n');
  if (!plain) return nullptr;
  const auto [next, error] = std::from_chars(p, end, value, std::chars_format::general);
  return error == std::errc() ? next : nullptr;
}

// plainFloat for a number with a decimal comma, which ends at a delimiter,
// a line end or a quote; none that holds a point.
template <char Delimiter>
const char* plainCommaFloat(const char* p, const char* end, float& value) {
  char text[kMaxNumberText];
  size_t n = 0;
  for (; p + n != end && !endsPlainField<Delimiter>(p[n]); ++n) {
    if (n == sizeof text || p[n] == '.') return nullptr;
    text[n] = p[n] == ',' ? '.' : p[n];
  }
  if (n == 0) return nullptr;
  return plainFloat(text, text + n, value) == text + n ? p + n : nullptr;
}

// A bit field of 32 bits in decimal digits.
const char* plainBitField(const char* p, const char* end, float& value) {
  if (*p < '0' || *p > '9') return nullptr;
  uint32_t bits = 0;
  const auto [next, error] = std::from_chars(p, end, bits);
  if (error != std::errc()) return nullptr;
  value = std::bit_cast<float>(bits);
  return next;
}

// Parses the row at the start of `text` when it is plain: as many fields
// as the heading, none quoted, values as plainFloat and plainBitField take
// them, empty fields after them at the most, and its line end within
// `text`. Returns the length of the row with
// its line end, or 0 for a row that is to be read field by field (which
// then gives the same values, or refuses it).
template <char Delimiter, bool DecimalComma>
size_t parsePlainRow(std::string_view text, bool timeColumn, const std::vector<CsvColumn>& columns,
                     float* record, PlainRow& row) {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin;
  if (timeColumn) {
    while (p != end && !endsPlainField<Delimiter>(*p)) ++p;
    if (p == end || *p != Delimiter) return 0;
    row.time = std::string_view(begin, static_cast<size_t>(p - begin));
    ++p;
  }
  const size_t last = columns.size() - 1;
  for (size_t c = 0;; ++c) {
    if (p == end) return 0;
    if (columns[c].bits) {
      p = plainBitField(p, end, record[c]);
    } else if constexpr (DecimalComma) {
      p = plainCommaFloat<Delimiter>(p, end, record[c]);
    } else {
      p = plainFloat(p, end, record[c]);
    }
    if (p == nullptr || p == end) return 0;
    if (c < last) {
      if (*p++ != Delimiter) return 0;
      continue;
    }
    // Empty fields after the last column, as a spreadsheet pads rows.
    while (*p == Delimiter) {
      if (++p == end) return 0;
    }
    const char lineEnd = *p++;
    if (lineEnd == '\n') {
      row.lineFeed = true;
    } else if (lineEnd == '\r') {
      if (p == end) return 0;  // a line feed may follow
      if (*p == '\n') ++p, row.lineFeed = true;
    } else {
      return 0;
    }
    return static_cast<size_t>(p - begin);
  }
}

}  // namespace

// Reads the rows of a metadata block; `fields` is its first row and ends
// as the heading row.
void CsvRecords::readMetadata(std::vector<std::string_view>& fields) {
  MetadataReader reader;
  reader.begin(fields, rows_->where());
  for (;;) {
    if (!rows_->next(fields))
      throw ToolError(rows_->where() + ": no heading row after the metadata");
    if (fields.empty() || !fields[0].starts_with('#') || !reader.add(fields, rows_->where())) break;
  }
  metadata_ = reader.metadata();
}

CsvRecords::CsvRecords(std::istream& in, const std::string& name,
                       const std::vector<MultiChannelDeclaration>& declarations,
                       const std::optional<std::string>& scanInterval, const CsvDialect& dialect,
                       TimeZone* zone)
    : reader_(in, dialect.delimiter),
      rows_(std::make_unique<CsvRows>(reader_, name)),
      dialect_(dialect),
      zone_(zone) {
  // The metadata block, if any, and the heading row.
  std::vector<std::string_view> fields;
  if (!rows_->next(fields)) throw ToolError(name + ": the file is empty");
  if (fields[0] == kMetadataMark) readMetadata(fields);
  const auto unit = timeHeading(fields[0]);
  timeColumn_ = unit.has_value();
  timeUnit_ = unit.value_or(TimeUnit::Seconds);
  width_ = unpaddedWidth(fields, 1);
  for (size_t i = timeColumn_ ? 1 : 0; i < width_; ++i) {
    const std::string_view heading = csvText(fields[i]);
    CsvColumn column{std::string(heading), splitHeading(heading), 0};
    if (column.parts.variable.empty()) throw ToolError(rows_->where(i) + ": the heading is empty");
    columns_.push_back(std::move(column));
  }
  if (columns_.empty()) throw ToolError(name + ": the heading row names no channel");
  if (metadata_) {
    for (const ChannelInfo& channel : metadata_->info.channels) {
      for (CsvColumn& column : columns_) {
        if (column.parts.variable != channel.variable) continue;
        if (channel.multiChannelBits != 0)
          column.bits = static_cast<uint16_t>(channel.multiChannelBits);
        // A heading's unit is read without the blanks around it; the
        // metadata keeps the unit exactly ("V " stays "V ").
        if (trimBlanks(channel.unit) == column.parts.unit) column.parts.unit = channel.unit;
      }
    }
  }
  markMultiChannels(declarations, name, columns_);
  const auto peekedWhere = [&](size_t ahead) {
    return name + " line " + std::to_string(rows_->peekedLine(ahead));
  };
  // Its first value tells whether the time column holds timestamps.
  const std::vector<std::string>* firstRow = timeColumn_ ? rows_->peek(0) : nullptr;
  if (firstRow && parseTimestamp(firstRow->front()))
    wallStart_ = wallTime(firstRow->front(), zone_, [&] { return peekedWhere(0); });

  // The option, the metadata, or the distance of the first two times of
  // the time column, which must be a whole number of microseconds.
  intervalGiven_ = scanInterval.has_value();
  intervalKnown_ = intervalGiven_ || (metadata_ && metadata_->hasInterval);
  if (scanInterval) {
    interval_ = intervalOption(*scanInterval);
    return;
  }
  if (metadata_ && metadata_->hasInterval) {
    interval_ = metadata_->info.scanInterval;
    return;
  }
  if (!timeColumn_) throw usageError(name + " has no time column: give --scan-interval-us");
  const std::vector<std::string>* firstRows[] = {rows_->peek(0), rows_->peek(1)};
  if (!firstRows[0] || !firstRows[1]) {
    throw usageError(
        name + ": fewer than two records to take the scan interval from; give --scan-interval-us");
  }
  if (wallStart_) {
    // Until read() has seen the last timestamp: the first step.
    const std::string& text = firstRows[1]->front();
    const auto where = [&] { return peekedWhere(1); };
    const int64_t step = nanosecondsFrom(*wallStart_, wallTime(text, zone_, where), text, where);
    if (step <= 0) {
      throw ToolError(peekedWhere(1) + ": the time column does not increase" +
                      (zone_ ? " in the wall-clock time of " + zone_->name() : std::string()) +
                      "; give --scan-interval-us");
    }
    interval_ = std::max<int64_t>(1, (step + 500) / 1000);
    return;
  }
  const TimeFormat format{timeUnit_, dialect_.decimalComma};
  int64_t times[2] = {0, 0};
  for (size_t i = 0; i < 2; ++i) {
    const std::string where = name + " line " + std::to_string(rows_->peekedLine(i));
    const std::string& text = firstRows[i]->front();
    const auto seconds = parseTime(text, format);
    if (!seconds) throw notTime(where, text, format);
    const Seconds time = *seconds;
    if (!time.whole) {
      throw ToolError(where + ": the time " + text +
                      (timeUnit_ == TimeUnit::Milliseconds ? " ms" : " s") +
                      " is not a whole number of microseconds, which the scan interval must be; "
                      "give --scan-interval-us");
    }
    times[i] = time.microseconds;
  }
  if (times[1] <= times[0]) {
    throw ToolError(name + " line " + std::to_string(rows_->peekedLine(1)) +
                    ": the time column does not increase; give --scan-interval-us");
  }
  // A distance beyond 64 bits is as far beyond the header as any.
  const uint64_t distance = static_cast<uint64_t>(times[1]) - static_cast<uint64_t>(times[0]);
  interval_ =
      static_cast<int64_t>(std::min<uint64_t>(distance, std::numeric_limits<int64_t>::max()));
}

CsvRecords::~CsvRecords() = default;

uint64_t CsvRecords::read(const BlockSink& sink) {
  if (dialect_.delimiter == ';') {
    return dialect_.decimalComma ? readRows<';', true>(sink) : readRows<';', false>(sink);
  }
  if (dialect_.delimiter == '\t') {
    return dialect_.decimalComma ? readRows<'\t', true>(sink) : readRows<'\t', false>(sink);
  }
  return readRows<',', false>(sink);
}

template <char Delimiter, bool DecimalComma>
uint64_t CsvRecords::readRows(const BlockSink& sink) {
  const size_t channels = columns_.size();
  const size_t first = timeColumn_ ? 1 : 0;
  std::vector<float> block(kCsvBlockRecords * channels);
  std::vector<std::string_view> fields;
  TimeColumn times(interval_, intervalGiven_, TimeFormat{timeUnit_, DecimalComma});
  std::optional<WallTimes> wallTimes;
  if (wallStart_) wallTimes.emplace(*wallStart_, zone_);
  uint64_t records = 0;
  const auto followTime = [&](std::string_view text) {
    if (wallTimes) {
      wallTimes->follow(text, *rows_, records);
    } else {
      times.follow(text, *rows_, records);
    }
  };
  size_t filled = 0;
  for (;;) {
    float* const record = block.data() + filled * channels;
    PlainRow plain;
    if (const size_t length = parsePlainRow<Delimiter, DecimalComma>(rows_->pending(), timeColumn_,
                                                                     columns_, record, plain)) {
      rows_->consume(length, plain.lineFeed ? 1 : 0);
      if (timeColumn_) followTime(plain.time);
    } else {
      if (!rows_->next(fields)) break;
      if (unpaddedWidth(fields, width_) != width_) {
        throw ToolError(rows_->where() + ": " + counted(unpaddedWidth(fields, width_), "field") +
                        " where the heading has " + std::to_string(width_));
      }
      if (timeColumn_) followTime(fields[0]);
      parseValues(fields, first, columns_, *rows_, DecimalComma, record);
    }
    ++records;
    if (++filled == kCsvBlockRecords) {
      sink(block.data(), filled);
      filled = 0;
    }
  }
  if (wallTimes) finishWallTimes(*wallTimes);
  if (filled > 0) sink(block.data(), filled);
  return records;
}

// The scan interval from the timestamps, unless it was given or came with
// the metadata, and the steps measured against it: one that strays by more
// than 1% is refused, or, with an interval given, warned about.
void CsvRecords::finishWallTimes(const WallTimes& times) {
  if (!intervalKnown_ && times.interval() > 0) interval_ = times.interval();
  const auto stray = times.stray(interval_);
  if (!stray) return;
  const std::string where = rows_->name() + " line " + std::to_string(stray->line);
  if (intervalGiven_) {
    std::cerr << "rvx: " << where << ": warning: " << stray->what
              << "; the recording keeps only the interval given\n";
    return;
  }
  throw ToolError(where + ": " + stray->what +
                  "; give --scan-interval-us to record the rows evenly spaced all the same");
}

std::vector<ChannelInfo> channelsOfColumns(const std::vector<CsvColumn>& columns) {
  std::vector<ChannelInfo> channels;
  channels.reserve(columns.size());
  for (const CsvColumn& column : columns) {
    ChannelInfo channel;
    channel.variable = column.parts.variable;
    channel.unit = column.parts.unit;
    channel.multiChannelBits = column.bits;
    channels.push_back(std::move(channel));
  }
  return channels;
}

}  // namespace rvx
