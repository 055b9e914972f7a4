// The CSV writer of rvx export. Values are formatted straight into one large
// buffer that is written in big chunks; nothing is allocated per record or
// per value.
#include <algorithm>
#include <bit>
#include <charconv>
#include <iostream>
#include <limits>
#include <optional>

#include "files/output_file.h"
#include "inputs/csv.h"
#include "inputs/csv_metadata.h"
#include "outputs/export_format.h"
#include "outputs/recording_copy.h"
#include "shared/number_text.h"
#include "shared/tool_error.h"
#include "shared/wall_time.h"

namespace rvx {

namespace {

constexpr size_t kTextBuffer = 4 << 20;

// Seconds of record `index`; exact from whole microseconds, and as a double
// only where the product would not fit 64 bits.
char* writeTime(char* out, uint64_t index, int64_t interval) {
  if (interval >= 0 &&
      (interval == 0 ||
       index <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / interval))) {
    return writeSeconds(out, static_cast<int64_t>(index) * interval);
  }
  const double seconds = static_cast<double>(index) * static_cast<double>(interval) / 1e6;
  return std::to_chars(out, out + kMaxNumberText, seconds).ptr;
}

// Milliseconds of record `index`, exact as writeTime's seconds are.
char* writeMillisecondTime(char* out, uint64_t index, int64_t interval) {
  constexpr int64_t kLimit = std::numeric_limits<int64_t>::max() / 1000;
  if (interval >= 0 && (interval == 0 || index <= static_cast<uint64_t>(kLimit / interval))) {
    return writeSeconds(out, static_cast<int64_t>(index) * interval * 1000);
  }
  const double milliseconds = static_cast<double>(index) * static_cast<double>(interval) / 1e3;
  return std::to_chars(out, out + kMaxNumberText, milliseconds).ptr;
}

// The metadata of the records exported: the start time moves to the first
// of them as cut moves it (by the whole seconds the header holds, with a
// warning about the rest), and the trigger record counts from it (and is
// left at 0, with a warning, when it lies outside).
RecordingInfo describedSpan(const ExportPlan& plan) {
  RecordingInfo described = plan.info;
  const RecordSpan span = plan.span;
  if (span.first == 0 && span.end >= plan.info.records) return described;
  const WindowStart start = windowStart(plan.info, span.first);
  described.date = start.date;
  described.time = start.time;
  if (start.restMicroseconds != 0) {
    std::cerr << "rvx: " << plan.source << ": warning: " << start.restWarning() << '\n';
  }
  const uint32_t trigger = plan.info.triggerRecord;
  const bool inside = trigger >= span.first && trigger < span.end;
  if (!inside && trigger != 0) {
    std::cerr << "rvx: " << plan.source << ": warning: the trigger record " << trigger
              << " lies outside the records exported; the metadata gives 0\n";
  }
  described.triggerRecord = inside ? static_cast<uint32_t>(trigger - span.first) : 0;
  return described;
}

// The times of the records as wall-clock timestamps: the recording's start
// moved on by the record's time, with as many decimals as the scan interval
// needs; with a zone, the start is an instant of it and each row gets the
// zone's offset at its own instant (which changes where summer time begins
// or ends).
class WallClockColumn {
 public:
  explicit WallClockColumn(const ExportPlan& plan)
      : interval_(plan.info.scanInterval), decimals_(timestampDecimals(interval_)) {
    requireStart(plan, "--time absolute");
    zone_ = plan.zone;
    start_ = zone_ ? startInstant(plan) : plan.info.startSeconds;
    // Every timestamp within the years 1 to 9999, which keeps the
    // arithmetic below within 64 bits.
    const double first =
        static_cast<double>(plan.span.first) * static_cast<double>(interval_) / 1e6;
    const double last = static_cast<double>(plan.span.end) * static_cast<double>(interval_) / 1e6;
    const double earliest = static_cast<double>(daysFromCivil(1, 1, 2) * kSecondsPerDay);
    const double latest = static_cast<double>(daysFromCivil(9999, 12, 30) * kSecondsPerDay);
    const auto start = static_cast<double>(plan.info.startSeconds);
    if (std::min(first, last) + start < earliest || std::max(first, last) + start > latest) {
      throw ToolError(plan.source + ": its records' timestamps would leave the years 1 to 9999");
    }
  }

  char* write(char* out, uint64_t index) {
    const int64_t time = static_cast<int64_t>(index) * interval_;
    int64_t seconds = time / kMicroseconds;
    int64_t microseconds = time % kMicroseconds;
    if (microseconds < 0) microseconds += kMicroseconds, --seconds;
    if (!zone_) return writeTimestamp(out, start_ + seconds, microseconds, decimals_);
    const int64_t instant = start_ + seconds;
    const int32_t offset = zone_->offsetAt(instant);
    out = writeTimestamp(out, instant + offset, microseconds, decimals_);
    return writeOffset(out, offset);
  }

 private:
  static constexpr int64_t kMicroseconds = 1000000;
  int64_t interval_;
  int decimals_;
  TimeZone* zone_ = nullptr;
  int64_t start_ = 0;  // wall-clock seconds, or with a zone an instant
};

class CsvWriter : public ExportWriter {
 public:
  CsvWriter(Output& out, const CsvShape& shape) : out_(out), shape_(shape) {}

  // The metadata block when asked for and the heading row, encoded; refused
  // before anything is written when the encoding cannot hold them.
  void begin(const ExportPlan& plan) override {
    plan_ = &plan;
    const char delimiter = shape_.dialect.delimiter;
    std::string text;
    if (shape_.metadata) text = metadataBlock(describedSpan(plan), plan.channels, delimiter);
    std::string heading;
    if (shape_.time && shape_.wallClock) {
      wallClock_.emplace(plan);
      heading = "timestamp";
    } else if (shape_.time) {
      heading = shape_.milliseconds ? "time [ms]" : "time [s]";
    }
    for (int index : plan.channels) {
      if (!heading.empty()) heading += delimiter;
      appendCsvText(heading, plan.info.channels[index].heading(), delimiter);
    }
    text += heading;
    text += kCsvLineEnd;
    const TextEncoding encoding = shape_.dialect.encoding;
    out_.write(std::string(byteOrderMark(encoding)) + encodedText(text, encoding, shape_.target));

    for (int index : plan.channels) {
      multiChannel_.push_back(plan.info.channels[index].multiChannelBits != 0);
    }
    text_.resize(kTextBuffer);
    rowRoom_ = (plan.channels.size() + 1) * (kMaxNumberText + 1) + kMaxTimestampText + 2;
    end_ = text_.data();
  }

  void write(const RecordBlock& block) override {
    const char delimiter = shape_.dialect.delimiter;
    const bool decimalComma = shape_.dialect.decimalComma;
    const int64_t interval = plan_->info.scanInterval;
    const std::vector<int>& selected = plan_->channels;
    char* p = end_;
    char* const flushAt = text_.data() + text_.size() - rowRoom_;
    for (size_t i = 0; i < block.count; ++i) {
      const uint64_t index = block.first + i;
      const float* record = block.records + i * block.stride;
      bool separator = false;
      if (shape_.time) {
        char* const time = p;
        p = wallClock_            ? wallClock_->write(p, index)
            : shape_.milliseconds ? writeMillisecondTime(p, index, interval)
                                  : writeTime(p, index, interval);
        if (decimalComma) std::replace(time, p, '.', ',');
        separator = true;
      }
      for (size_t c = 0; c < selected.size(); ++c) {
        if (separator) *p++ = delimiter;
        separator = true;
        const float value = record[selected[c]];
        char* const number = p;
        p = multiChannel_[c] ? writeUnsigned(p, std::bit_cast<uint32_t>(value))
                             : writeFloat(p, value);
        if (decimalComma) std::replace(number, p, '.', ',');
      }
      *p++ = '\r';
      *p++ = '\n';
      if (p >= flushAt) {
        end_ = p;
        writeHeld();
        p = end_;
      }
    }
    end_ = p;
  }

  void flush() override {
    writeHeld();
    out_.flush();
  }

  void finish() override { writeHeld(); }

 private:
  // Rows are ASCII: only UTF-16 changes their bytes.
  void writeHeld() {
    const auto size = static_cast<size_t>(end_ - text_.data());
    if (shape_.dialect.encoding != TextEncoding::Utf16) {
      out_.write(text_.data(), size);
    } else {
      encodeAscii(std::string_view(text_.data(), size), shape_.dialect.encoding, encoded_);
      out_.write(encoded_);
    }
    end_ = text_.data();
  }

  Output& out_;
  CsvShape shape_;
  const ExportPlan* plan_ = nullptr;
  std::optional<WallClockColumn> wallClock_;
  std::vector<bool> multiChannel_;
  std::vector<char> text_;
  size_t rowRoom_ = 0;
  char* end_ = nullptr;
  std::string encoded_;
};

}  // namespace

std::unique_ptr<ExportWriter> csvWriter(Output& out, const CsvShape& shape) {
  return std::make_unique<CsvWriter>(out, shape);
}

}  // namespace rvx
