// Small argument languages of the subcommands, parsed apart from the
// command line so that they can be tested alone.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rvx {

// --records FIRST:LAST, records counted from 0, both ends included; either
// end may be left out ("100:", ":99"), and a single number selects one
// record.
struct RecordRange {
  uint64_t first = 0;
  std::optional<uint64_t> last;
};
std::optional<RecordRange> parseRecordRange(std::string_view text);

// The check of a count option such as --jobs: a whole number from 1 up,
// refused in a few words otherwise.
CLI::Validator countFromOne();

// The label language of an RVI file as the library numbers it.
std::optional<int32_t> parseLanguage(std::string_view text);

// --multichannel VAR:BITS
struct MultiChannelDeclaration {
  std::string variable;
  uint16_t bits = 0;
};
std::optional<MultiChannelDeclaration> parseMultiChannelDeclaration(std::string_view text);

// A CSV column heading "variable [unit]" or "variable".
struct ColumnHeading {
  std::string variable;
  std::string unit;
};
ColumnHeading splitHeading(std::string_view heading);

// The unit of a time column: "time", "t", "Zeit", "timestamp",
// "Datum/Uhrzeit" or "date/time" in any case, with no unit or [s] (seconds)
// or [ms] (milliseconds); empty for any other heading. Its values tell
// whether it holds seconds from the start or timestamps.
enum class TimeUnit { Seconds, Milliseconds };
std::optional<TimeUnit> timeHeading(std::string_view heading);

}  // namespace rvx
