// The import of a CSV file, from its bytes to the records that rvx import
// hands the library: the dialect told from the bytes and the decoding
// (CsvInput), the metadata block, the heading row, the time column and the
// rows (CsvRecords), the code of the command itself. Nothing is written.
//
// Checked on any input: the import takes it or refuses it with a message
// (a ToolError or a CsvError; any other exception, a crash or a hang is a
// defect); the records come in blocks of 1 to kCsvBlockRecords, as many as
// read() reports, with one float per column; and a file (read again from
// its start) and standard input (read once) end alike: the same columns,
// interval, start and records bit for bit, or the same refusal.
#include <bit>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "inputs/csv.h"
#include "inputs/csv_input.h"
#include "inputs/csv_records.h"
#include "rvx_harness.h"
#include "shared/tool_error.h"
#include "shared/wall_time.h"

namespace rvx::fuzz {

using kdrvx::fuzz::check;

namespace {

const std::string kName = "fuzz.csv";

struct Outcome {
  std::string refusal;  // empty when the import took the input
  std::vector<std::string> headings;
  std::vector<uint16_t> bits;
  int64_t interval = 0;
  bool wallClock = false;
  int64_t wallSeconds = 0;
  int32_t nanoseconds = 0;
  std::vector<uint32_t> values;  // the records' floats as bit patterns

  bool operator==(const Outcome&) const = default;
};

DialectOptions dialectOptions(uint8_t options) {
  DialectOptions dialect;
  const char* const delimiters[] = {nullptr, ",", ";", "tab"};
  const char* const encodings[] = {nullptr, "utf-8", "cp1252", "utf-16"};
  if (const char* delimiter = delimiters[options & 3]) dialect.delimiter = delimiter;
  if (const char* encoding = encodings[(options >> 2) & 3]) dialect.encoding = encoding;
  dialect.decimalComma = (options & 0x10) != 0;
  return dialect;
}

void readRecords(CsvRecords& csv, Outcome& outcome) {
  const size_t channels = csv.columns().size();
  uint64_t handed = 0;
  const uint64_t records = csv.read([&](const float* block, size_t count) {
    check(count > 0 && count <= kCsvBlockRecords, "a block of records is empty or too long");
    for (size_t i = 0; i < count * channels; ++i)
      outcome.values.push_back(std::bit_cast<uint32_t>(block[i]));
    handed += count;
  });
  check(records == handed, "read() counts other records than it handed on");
  outcome.interval = csv.interval();
  if (const auto& wall = csv.wallStart()) {
    outcome.wallClock = true;
    outcome.wallSeconds = wall->wallSeconds;
    outcome.nanoseconds = wall->nanoseconds;
  }
}

Outcome importOnce(const std::string& bytes, uint8_t options, bool rewindable) {
  Outcome outcome;
  std::istringstream raw(bytes);
  try {
    CsvInput input(raw, rewindable, dialectOptions(options), kName);
    std::unique_ptr<TimeZone> zone;
    if (options & 0x40) zone = std::make_unique<TimeZone>("+01:00");
    std::vector<MultiChannelDeclaration> declarations;
    if (options & 0x80) declarations.push_back({"M1", 8});
    std::optional<std::string> interval;
    if (options & 0x20) interval = "1500";
    CsvRecords csv(input.stream(), kName, declarations, interval, input.dialect(), zone.get());
    for (const CsvColumn& column : csv.columns()) {
      check(!column.parts.variable.empty(), "a column without a variable was taken");
      outcome.headings.push_back(column.heading);
      outcome.bits.push_back(column.bits);
    }
    readRecords(csv, outcome);
    return outcome;
  } catch (const CsvError& error) {
    check(*error.what() != '\0', "a refusal without a message");
    outcome.refusal = "line " + std::to_string(error.line()) + ": " + error.what();
  } catch (const ToolError& error) {
    check(*error.what() != '\0', "a refusal without a message");
    outcome.refusal = error.what();
  }
  return outcome;
}

}  // namespace

void runCsvImport(const uint8_t* data, size_t size) {
  if (size == 0) return;
  const uint8_t options = data[0];
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const MutedWarnings muted;
  const Outcome file = importOnce(bytes, options, true);
  const Outcome piped = importOnce(bytes, options, false);
  check(file == piped, "a file and standard input with the same bytes import differently");
}

}  // namespace rvx::fuzz
