// `rvx import`: a recording made from a CSV file through the library's
// create path, which keeps the statistics and, for the compact layout,
// writes the RVI file. Nothing of a recording that fails is left behind.
#include <bit>
#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "arguments.h"
#include "csv.h"
#include "format/layout.h"
#include "format/limits.h"
#include "library.h"
#include "number_text.h"
#include "subcommand.h"
#include "system_reason.h"
#include "terminal.h"
#include "tool_error.h"
#include "utf.h"

namespace rvx {

namespace {

struct FromCsvOptions {
  std::string input, output;
  std::optional<int64_t> scanInterval;  // microseconds
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

// Microseconds since the first record, from the time column.
int64_t timeField(const std::vector<std::string>& row, const std::string& where) {
  int64_t microseconds = 0;
  if (row.empty() || !parseSeconds(row[0], microseconds)) {
    throw ToolError(where + ": the time '" + (row.empty() ? "" : row[0]) + "' is not a number of seconds");
  }
  return microseconds;
}

// The option, or the distance of the first two times of the time column.
int64_t scanInterval(const FromCsvOptions& options, const Headings& headings, Rows& rows) {
  int64_t interval = 0;
  if (options.scanInterval) {
    interval = *options.scanInterval;
  } else if (headings.timeColumn) {
    const auto* row0 = rows.peek(0);
    const auto* row1 = rows.peek(1);
    if (!row0 || !row1) {
      throw usageError(options.input +
                       ": fewer than two records to take the scan interval from; give --scan-interval-us");
    }
    const int64_t t0 = timeField(*row0, options.input + " line 2");
    interval = timeField(*row1, options.input + " line 3") - t0;
    if (interval <= 0) {
      throw ToolError(options.input + ": the time column does not increase; give --scan-interval-us");
    }
  } else {
    throw usageError(options.input + " has no time column: give --scan-interval-us");
  }
  if (interval <= 0) throw usageError("--scan-interval-us must be above 0");
  return interval;
}

void setHeader(CreateSession& session, CreateSession::HeaderSetter setter,
               const std::optional<std::string>& text, const std::string& option) {
  if (text) session.check(session.set(setter, *text), option + " '" + *text + "'");
}

void setHeaderValues(CreateSession& session, const FromCsvOptions& options, int64_t interval) {
  setHeader(session, KDRVX_SetComment,
            options.comment ? std::optional<std::string>(toCrLf(*options.comment)) : std::nullopt, "--comment");
  setHeader(session, KDRVX_SetCompany, options.company, "--company");
  setHeader(session, KDRVX_SetInstrument, options.instrument, "--instrument");
  setHeader(session, KDRVX_SetSnrInstrument, options.serialNumber, "--serial-number");
  setHeader(session, KDRVX_SetNameMeasurement, options.nameMeasurement, "--name");
  setHeader(session, KDRVX_SetTriggerSetting, options.triggerSetting, "--trigger-setting");
  setHeader(session, KDRVX_SetDate, options.date, "--date");
  setHeader(session, KDRVX_SetTime, options.time, "--time");
  if (options.triggerRecord) session.check(KDRVX_SetNoTriggerRecord(*options.triggerRecord), "--trigger-record");
  session.check(KDRVX_SetScanRate(interval), "scan interval");
}

void addChannels(CreateSession& session, const std::vector<Column>& columns) {
  for (const Column& column : columns) {
    const std::string what = "column '" + column.heading + "'";
    const int channel = session.addChannel(column.parts.variable);
    session.check(session.set(KDRVX_SetChannelUnit, channel, column.parts.unit),
                  what + ": unit '" + column.parts.unit + "' (at most " +
                      std::to_string(kdrvx::format::kChannelUnitLimit) + " characters)");
    if (column.bits) session.check(KDRVX_SetChannelMultiChannel(static_cast<int16_t>(channel), column.bits), what);
  }
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

// Warns once when the time column strays from the scan interval by more
// than half of it: the recording keeps only the interval.
class TimeColumnWatch {
 public:
  explicit TimeColumnWatch(int64_t interval) : interval_(interval) {}

  void follow(const std::vector<std::string>& fields, const Rows& rows, uint64_t record) {
    if (warned_) return;
    const int64_t t = timeField(fields, rows.where(0));
    if (record == 0) firstTime_ = t;
    const int64_t expected = firstTime_ + static_cast<int64_t>(record) * interval_;
    if (std::llabs(t - expected) * 2 > interval_) {
      std::cerr << "rvx: " << rows.where(0) << ": warning: the time column is not spaced "
                << secondsText(interval_) << " s apart; the recording keeps only the interval\n";
      warned_ = true;
    }
  }

 private:
  int64_t interval_;
  int64_t firstTime_ = 0;
  bool warned_ = false;
};

uint64_t inputSize(const std::string& input) {
  if (input == "-") return 0;
  std::error_code ignored;
  return std::filesystem::file_size(toPath(input), ignored);
}

// Every row after the heading as a record; returns their number.
uint64_t addRecords(CreateSession& session, Rows& rows, const Headings& headings, int64_t interval,
                    const std::string& input) {
  std::vector<float> record(headings.columns.size());
  std::vector<std::string> fields;
  TimeColumnWatch watch(interval);
  Progress progress("import", inputSize(input));
  uint64_t records = 0;
  while (rows.next(fields)) {
    requireWidth(fields, headings, rows);
    if (headings.timeColumn) watch.follow(fields, rows, records);
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
    CreateSession session(options.output, existingFrom(options.force), !options.notOriginal,
                          options.legacy, language);
    setHeaderValues(session, options, interval);
    addChannels(session, headings.columns);
    const uint64_t records = addRecords(session, rows, headings, interval, options.input);
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
                 "Microseconds between records (default: from the time column)");
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
  return [options] { return runFromCsv(*options); };
}

}  // namespace

// The subcommand keeps the name it is documented by, the partner of export.
extern const Subcommand kFromCsvSubcommand{
    "import", "A CSV file (heading row 'variable [unit]') as a recording", addFromCsvOptions};

}  // namespace rvx
