// The stretch of a recording a subcommand works on: --from/--to in seconds
// or --records FIRST:LAST, turned into a span of record indexes. Record i
// lies at i times the scan interval; the window takes every record whose
// time lies within [from, to].
#pragma once

#include <cstdint>
#include <string>

// Declared here rather than included: the parser's header is costly to
// compile, and most users of the window never add its options.
namespace CLI {
class App;
}

namespace rvx {

// The options as given; empty strings are options left out.
struct TimeWindow {
  std::string from, to;  // seconds, e.g. "1.5"
  std::string records;   // FIRST:LAST, FIRST:, :LAST or one record
  bool given() const { return !from.empty() || !to.empty() || !records.empty(); }
};

// Records [first, end) of a recording.
struct RecordSpan {
  uint64_t first = 0;
  uint64_t end = 0;
  uint64_t count() const { return end - first; }
};

// The span of `records` records, spaced `scanInterval` microseconds apart,
// that the window selects; all of them when no option is given. A --to past
// the last record ends the span at the last record. Throws a usage error
// for a window that is malformed (negative times, from after to, --records
// together with --from/--to), that lies past the end, that holds no record,
// or that is given in seconds when the scan interval is not positive.
RecordSpan recordSpan(const TimeWindow& window, int64_t scanInterval, uint64_t records);

// Adds --from, --to and --records to a subcommand.
void addTimeWindowOptions(CLI::App& command, TimeWindow& window);

}  // namespace rvx
