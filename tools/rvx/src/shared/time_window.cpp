#include "shared/time_window.h"

#include <algorithm>

#include "shared/arguments.h"
#include "shared/number_text.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

int64_t parseTime(const std::string& option, const std::string& text) {
  const auto seconds = parseSeconds(text);
  if (!seconds) throw usageError(option + ": expected seconds such as 1.5, not " + text);
  if (seconds->microseconds < 0) throw usageError(option + " " + text + ": times are not negative");
  return seconds->microseconds;
}

std::string holdsText(uint64_t records, int64_t scanInterval) {
  if (records == 0) return "the recording holds no records";
  std::string text = "the recording holds " + std::to_string(records) + " records (0 to " +
                     std::to_string(records - 1);
  if (scanInterval > 0 && records - 1 <= static_cast<uint64_t>(INT64_MAX / scanInterval)) {
    text += ", 0 s to " + secondsText(static_cast<int64_t>(records - 1) * scanInterval) + " s";
  }
  return text + ")";
}

RecordSpan spanOfRecords(const std::string& text, uint64_t records, int64_t scanInterval) {
  const auto range = parseRecordRange(text);
  if (!range) throw usageError("--records: expected FIRST:LAST, FIRST: or :LAST, not " + text);
  if (range->first >= records || range->last.value_or(0) >= records) {
    throw usageError("--records " + text + " is out of range: " + holdsText(records, scanInterval));
  }
  return {range->first, range->last ? *range->last + 1 : records};
}

RecordSpan spanOfTimes(const TimeWindow& window, int64_t scanInterval, uint64_t records) {
  const int64_t from = window.from.empty() ? 0 : parseTime("--from", window.from);
  const bool hasTo = !window.to.empty();
  const int64_t to = hasTo ? parseTime("--to", window.to) : 0;
  if (hasTo && from > to) {
    throw usageError("--from " + window.from + " lies after --to " + window.to);
  }
  if (scanInterval <= 0) {
    throw usageError("the scan interval is " + std::to_string(scanInterval) +
                     " us, so records have no times: choose them with --records");
  }
  // The first record at or after `from`, the last at or before `to`.
  const uint64_t interval = static_cast<uint64_t>(scanInterval);
  RecordSpan span{(static_cast<uint64_t>(from) + interval - 1) / interval, records};
  if (hasTo) span.end = std::min(records, static_cast<uint64_t>(to) / interval + 1);
  if (span.first >= records) {
    throw usageError("--from " + window.from +
                     " lies past the end: " + holdsText(records, scanInterval));
  }
  if (span.first >= span.end) {
    throw usageError("no record lies between " + secondsText(from) + " s and " + secondsText(to) +
                     " s: records are " + secondsText(scanInterval) + " s apart");
  }
  return span;
}

}  // namespace

RecordSpan recordSpan(const TimeWindow& window, int64_t scanInterval, uint64_t records) {
  if (!window.records.empty()) {
    if (!window.from.empty() || !window.to.empty()) {
      throw usageError("--records and --from/--to choose the same thing: give one of them");
    }
    return spanOfRecords(window.records, records, scanInterval);
  }
  if (window.from.empty() && window.to.empty()) return {0, records};
  return spanOfTimes(window, scanInterval, records);
}

void addTimeWindowOptions(CLI::App& command, TimeWindow& window) {
  command.add_option("--from", window.from, "Start of the window in seconds (record 0 is at 0 s)");
  command.add_option("--to", window.to, "End of the window in seconds, included");
  command.add_option("--records", window.records,
                     "Records FIRST:LAST, counted from 0, both included; FIRST: or :LAST");
}

}  // namespace rvx
