// `rvx import`: a recording made from a CSV file through the library's
// create path, which keeps the statistics and, for the compact layout,
// writes the RVI file. Nothing of a recording that fails is left behind.
#include <algorithm>
#include <bit>
#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>

#include "arguments.h"
#include "csv.h"
#include "fit.h"
#include "format/layout.h"
#include "format/limits.h"
#include "library.h"
#include "number_text.h"
#include "subcommand.h"
#include "system_reason.h"
#include "terminal.h"
#include "tool_error.h"
#include "utf.h"
#include "variable_name.h"

namespace rvx {

namespace {

struct FromCsvOptions {
  std::string input, output;
  std::optional<std::string> scanInterval;  // microseconds
  bool legacy = false;
  std::string language = "en";
  std::optional<std::string> comment, company, instrument, serialNumber, nameMeasurement,
      triggerSetting, date, time;
  std::optional<uint32_t> triggerRecord;
  std::vector<std::string> multiChannels;  // VAR:BITS
  bool notOriginal = false;
  bool force = false;
};

struct Column {
  std::string heading;
  ColumnHeading parts;
  uint16_t bits = 0;  // multichannel: the field is an unsigned integer
};

// The heading row: an optional time column, then one column per channel.
struct Headings {
  bool timeColumn = false;
  std::vector<Column> columns;
  size_t width = 0;  // fields per row
  size_t firstChannel() const { return timeColumn ? 1 : 0; }
};

// The rows of the CSV after its heading, with the first ones held back
// while the scan interval is taken from the time column.
class Rows {
 public:
  Rows(CsvReader& reader, std::string name) : reader_(reader), name_(std::move(name)) {}

  bool next(std::vector<std::string>& fields) {
    if (!held_.empty()) {
      fields = std::move(held_.front());
      line_ = heldLines_.front();
      held_.pop_front();
      heldLines_.pop_front();
      return true;
    }
    if (!reader_.next(fields)) return false;
    line_ = reader_.line();
    return true;
  }
  // Reads ahead without consuming.
  const std::vector<std::string>* peek(size_t ahead) {
    while (held_.size() <= ahead) {
      std::vector<std::string> fields;
      if (!reader_.next(fields)) return nullptr;
      held_.push_back(std::move(fields));
      heldLines_.push_back(reader_.line());
    }
    return &held_[ahead];
  }
  // Line of a row read ahead with peek().
  size_t peekedLine(size_t ahead) const { return heldLines_.at(ahead); }
  size_t line() const { return line_; }
  uint64_t consumed() const { return reader_.consumed(); }
  std::string where() const { return name_ + " line " + std::to_string(line_); }
  std::string where(size_t column) const { return where() + ", column " + std::to_string(column + 1); }

 private:
  CsvReader& reader_;
  std::string name_;
  std::deque<std::vector<std::string>> held_;
  std::deque<size_t> heldLines_;
  size_t line_ = 0;
};

// The CSV named on the command line, or standard input for "-".
class CsvSource {
 public:
  explicit CsvSource(const FromCsvOptions& options) {
    if (options.input != "-") {
      refuseSameFile(options.input, options.output);
      file_.open(toPath(options.input), std::ios::binary);
      if (!file_) {
        throw ToolError(options.input +
                        ": cannot open the file: " + unreadableReason(options.input));
      }
    }
  }
  std::istream& stream() { return file_.is_open() ? file_ : std::cin; }

 private:
  std::ifstream file_;
};

ToolError csvFailure(const std::string& input, const CsvError& error) {
  return ToolError(input + " line " + std::to_string(error.line()) + ": " + error.what());
}

// The label language of the RVI file for --legacy.
int32_t summaryLanguage(const FromCsvOptions& options) {
  if (!options.legacy) return kNoSummaryLanguage;
  const auto parsed = parseLanguage(options.language);
  if (!parsed) throw usageError("--language: expected de, en or fr, not " + options.language);
  // The RVI file takes the name of the RVX file with .RVI for .RVX.
  if (options.output.find(".RVX") == std::string::npos && options.output.find(".rvx") == std::string::npos) {
    throw usageError("--legacy: the output name must end in .rvx or .RVX so that its RVI file can be named");
  }
  return *parsed;
}

std::vector<MultiChannelDeclaration> multiChannelDeclarations(const FromCsvOptions& options) {
  std::vector<MultiChannelDeclaration> declarations;
  for (const std::string& text : options.multiChannels) {
    const auto declaration = parseMultiChannelDeclaration(text);
    if (!declaration) throw usageError("--multichannel: expected VARIABLE:BITS with 1 to 32 bits, not " + text);
    declarations.push_back(*declaration);
  }
  return declarations;
}

void markMultiChannels(const std::vector<MultiChannelDeclaration>& declarations, const std::string& input,
                       std::vector<Column>& columns) {
  for (const MultiChannelDeclaration& declaration : declarations) {
    bool found = false;
    for (Column& column : columns) {
      if (column.parts.variable == declaration.variable) column.bits = declaration.bits, found = true;
    }
    if (!found) throw usageError("--multichannel: no column " + declaration.variable + " in " + input);
  }
}

Headings readHeadings(Rows& rows, const std::string& input,
                      const std::vector<MultiChannelDeclaration>& declarations) {
  std::vector<std::string> fields;
  if (!rows.next(fields)) throw ToolError(input + ": the file is empty");
  Headings headings;
  headings.timeColumn = !fields.empty() && isTimeHeading(fields[0]);
  headings.width = fields.size();
  for (size_t i = headings.firstChannel(); i < fields.size(); ++i) {
    Column column{fields[i], splitHeading(fields[i]), 0};
    if (column.parts.variable.empty()) throw ToolError(rows.where(i) + ": the heading is empty");
    headings.columns.push_back(std::move(column));
  }
  if (headings.columns.empty()) throw ToolError(input + ": the heading row names no channel");
  markMultiChannels(declarations, input, headings.columns);
  return headings;
}

// The time of a row, in seconds as written.
Seconds timeField(const std::vector<std::string>& row, const std::string& where) {
  const auto seconds = row.empty() ? std::nullopt : parseSeconds(row[0]);
  if (!seconds) {
    throw ToolError(where + ": the time '" + (row.empty() ? "" : row[0]) + "' is not a number of seconds");
  }
  return *seconds;
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

// The option, or the distance of the first two times of the time column,
// which must be a whole number of microseconds.
int64_t scanInterval(const FromCsvOptions& options, const Headings& headings, Rows& rows) {
  if (options.scanInterval) return intervalOption(*options.scanInterval);
  if (!headings.timeColumn)
    throw usageError(options.input + " has no time column: give --scan-interval-us");
  const auto* row0 = rows.peek(0);
  const auto* row1 = rows.peek(1);
  if (!row0 || !row1) {
    throw usageError(
        options.input +
        ": fewer than two records to take the scan interval from; give --scan-interval-us");
  }
  const std::vector<std::string>* firstRows[] = {row0, row1};
  int64_t times[2] = {0, 0};
  for (size_t i = 0; i < 2; ++i) {
    const std::string where = options.input + " line " + std::to_string(rows.peekedLine(i));
    const Seconds time = timeField(*firstRows[i], where);
    if (!time.whole) {
      throw ToolError(where + ": the time " + (*firstRows[i])[0] +
                      " s is not a whole number of microseconds, which the scan interval must be; "
                      "give --scan-interval-us");
    }
    times[i] = time.microseconds;
  }
  if (times[1] <= times[0]) {
    throw ToolError(options.input + " line " + std::to_string(rows.peekedLine(1)) +
                    ": the time column does not increase; give --scan-interval-us");
  }
  // A distance beyond 64 bits is as far beyond the header as any.
  const uint64_t distance = static_cast<uint64_t>(times[1]) - static_cast<uint64_t>(times[0]);
  return static_cast<int64_t>(std::min<uint64_t>(distance, std::numeric_limits<int64_t>::max()));
}

// The recording as the command line and the heading row describe it.
PlannedRecording plannedRecording(const FromCsvOptions& options, int32_t language,
                                  const Headings& headings, int64_t interval) {
  PlannedRecording plan;
  plan.compact = options.legacy;
  plan.language = language;
  plan.original = !options.notOriginal;
  plan.comment = toCrLf(options.comment.value_or(""));
  plan.company = options.company.value_or("");
  plan.instrument = options.instrument.value_or("");
  plan.serialNumber = options.serialNumber.value_or("");
  plan.nameMeasurement = options.nameMeasurement.value_or("");
  plan.triggerSetting = options.triggerSetting.value_or("");
  plan.date = options.date.value_or("");
  plan.time = options.time.value_or("");
  plan.triggerRecord = options.triggerRecord;
  plan.scanInterval = interval;
  for (const Column& column : headings.columns) {
    PlannedChannel channel;
    channel.variable = column.parts.variable;
    channel.unit = column.parts.unit;
    channel.multiChannelBits = column.bits;
    plan.channels.push_back(std::move(channel));
  }
  return plan;
}

void requireWidth(const std::vector<std::string>& fields, const Headings& headings, const Rows& rows) {
  if (fields.size() != headings.width) {
    throw ToolError(rows.where() + ": " + std::to_string(fields.size()) + " fields where the heading has " +
                    std::to_string(headings.width));
  }
}

// The values of one row: numbers as floats, multichannel fields as the bit
// patterns of unsigned integers.
void parseValues(const std::vector<std::string>& fields, const Headings& headings, const Rows& rows,
                 float* record) {
  const size_t first = headings.firstChannel();
  for (size_t c = 0; c < headings.columns.size(); ++c) {
    const std::string& field = fields[first + c];
    if (headings.columns[c].bits) {
      uint64_t bits = 0;
      if (!parseUnsigned(field, bits) || bits > 0xFFFFFFFFu) {
        throw ToolError(rows.where(first + c) + ": '" + field + "' is not a 32-bit unsigned bit field");
      }
      record[c] = std::bit_cast<float>(static_cast<uint32_t>(bits));
    } else if (!parseFloat(field, record[c])) {
      throw ToolError(rows.where(first + c) + ": '" + field + "' is not a number");
    }
  }
}

// Follows the time column. Without an interval given, its times must step
// by the scan interval exactly, as the recording will have them; with one
// given, the recording keeps only that, and a column that strays by more
// than half of it is warned about once. A column that does not start at 0
// is reported: the recording's times count from its first record.
class TimeColumn {
 public:
  TimeColumn(int64_t interval, bool intervalGiven)
      : interval_(interval), intervalGiven_(intervalGiven) {}

  void follow(const std::vector<std::string>& fields, const Rows& rows, uint64_t record) {
    const Seconds time = timeField(fields, rows.where(0));
    const int64_t t = time.microseconds;
    if (record == 0) {
      expected_ = t;
      if (t != 0) {
        std::cerr << "rvx: " << rows.where(0) << ": warning: the time column starts at "
                  << fields[0]
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
      throw ToolError(rows.where(0) + ": the time " + fields[0] + " s breaks the even spacing of " +
                      secondsText(interval_) + " s (expected " + secondsText(expected_) +
                      " s); give --scan-interval-us to record the rows evenly spaced all the same");
    }
    beyond_ = beyond_ || expected_ > std::numeric_limits<int64_t>::max() - interval_;
    if (!beyond_) expected_ += interval_;
  }

 private:
  int64_t interval_;
  bool intervalGiven_;
  int64_t expected_ = 0;
  bool beyond_ = false;  // the next time would not fit 64 bits
  bool warned_ = false;
};

uint64_t inputSize(const std::string& input) {
  if (input == "-") return 0;
  std::error_code ignored;
  return std::filesystem::file_size(toPath(input), ignored);
}

// Every row after the heading as a record; returns their number.
uint64_t addRecords(CreateSession& session, Rows& rows, const Headings& headings, int64_t interval,
                    const FromCsvOptions& options) {
  const std::string& input = options.input;
  std::vector<float> record(headings.columns.size());
  std::vector<std::string> fields;
  TimeColumn times(interval, options.scanInterval.has_value());
  Progress progress("import", inputSize(input));
  uint64_t records = 0;
  while (rows.next(fields)) {
    requireWidth(fields, headings, rows);
    if (headings.timeColumn) times.follow(fields, rows, records);
    parseValues(fields, headings, rows, record.data());
    session.addRecord(record.data());
    ++records;
    progress.update(rows.consumed());
  }
  progress.finish();
  return records;
}

void reportRecording(const FromCsvOptions& options, const std::string& output, uint64_t records,
                     size_t channels, int64_t interval) {
  std::cout << output << ": " << records << " records of " << channels << " channels, every "
            << secondsText(interval) << " s" << (options.legacy ? ", compact layout with RVI file" : "")
            << '\n';
  if (output != options.output) std::cout << "(the library named the file " << output << ")\n";
}

int runFromCsv(const FromCsvOptions& options) {
  const int32_t language = summaryLanguage(options);
  const std::vector<MultiChannelDeclaration> declarations = multiChannelDeclarations(options);
  CsvSource source(options);
  CsvReader reader(source.stream());
  Rows rows(reader, options.input);
  try {
    const Headings headings = readHeadings(rows, options.input, declarations);
    const int64_t interval = scanInterval(options, headings, rows);
    const PlannedRecording plan = plannedRecording(options, language, headings, interval);
    for (const std::string& warning : checkFit(plan, options.output)) {
      std::cerr << "rvx: " << options.output << ": warning: " << warning << '\n';
    }
    CreateSession session(options.output, existingFrom(options.force), plan.original,
                          plan.compact, plan.language);
    applyPlan(session, plan);
    const uint64_t records = addRecords(session, rows, headings, interval, options);
    session.close();
    reportRecording(options, session.file(), records, headings.columns.size(), interval);
  } catch (const CsvError& error) {
    throw csvFailure(options.input, error);
  }
  return kExitOk;
}

Run addFromCsvOptions(CLI::App& command) {
  auto options = std::make_shared<FromCsvOptions>();
  command.add_option("IN", options->input, "CSV file, or - for standard input")->required();
  command.add_option("-o,--output", options->output, "RVX file to create")->required();
  optionalOption(command, "--scan-interval-us", options->scanInterval,
                 "Whole microseconds between records (default: from the time column, which must "
                 "then step evenly); with it, the time column is not followed");
  auto* legacy = command.add_flag("--legacy", options->legacy,
                                  "Compact WIN 3.x/4.x layout with an RVI file (at most " +
                                      std::to_string(kdrvx::format::kCompactMaxChannels) + " channels)");
  command.add_option("--language", options->language, "Language of the RVI file: de, en or fr (default en)")
      ->needs(legacy);
  optionalOption(command, "--comment", options->comment, "Comment (line breaks allowed)");
  optionalOption(command, "--company", options->company, "Company");
  optionalOption(command, "--instrument", options->instrument, "Measuring instrument");
  optionalOption(command, "--serial-number", options->serialNumber, "Serial number of the instrument");
  optionalOption(command, "--name", options->nameMeasurement, "Name of the measurement");
  optionalOption(command, "--trigger-setting", options->triggerSetting, "Trigger condition");
  optionalOption(command, "--trigger-record", options->triggerRecord, "Record at which the trigger fired");
  optionalOption(command, "--date", options->date, "Recording date DD.MM.YYYY (default: today)");
  optionalOption(command, "--time", options->time, "Recording time HH:MM[:SS] (default: now)");
  command.add_option("--multichannel", options->multiChannels,
                     "VARIABLE:BITS: the column holds bit fields as unsigned integers");
  command.add_flag("--not-original", options->notOriginal, "Mark the file as not an original recording");
  command.add_flag("-f,--force", options->force, "Replace an existing output file");
  command.footer(
      "The heading row names each channel by its variable, " + std::string(kVariableRule) +
      ", with its unit in brackets if it has one: p1 [bar]. A first column headed time, t "
      "or time [s] holds the time of each row in seconds.\n"
      "Example: rvx import run.csv -o run.rvx --multichannel M1:8 --comment \"Pump test\"");
  return [options] { return runFromCsv(*options); };
}

}  // namespace

// The subcommand keeps the name it is documented by, the partner of export.
extern const Subcommand kFromCsvSubcommand{
    "import", "A CSV file (heading row 'variable [unit]') as a recording", addFromCsvOptions};

}  // namespace rvx
