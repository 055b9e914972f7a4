// rvx import: a CSV file becomes a recording through the library's create
// path, which keeps the statistics and, for the compact layout, writes the
// RVI file.
#include <bit>
#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "arguments.h"
#include "commands.h"
#include "csv.h"
#include "format/limits.h"
#include "number_text.h"
#include "subcommand.h"
#include "terminal.h"
#include "tool_error.h"
#include "utf.h"

namespace rvx {

namespace {

struct ImportOptions {
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
  std::string where(size_t column) const {
    return name_ + " line " + std::to_string(line_) + ", column " + std::to_string(column + 1);
  }

 private:
  CsvReader& reader_;
  std::string name_;
  std::deque<std::vector<std::string>> held_;
  std::deque<size_t> heldLines_;
  size_t line_ = 0;
};

int64_t timeField(const std::vector<std::string>& row, const std::string& where) {
  int64_t microseconds = 0;
  if (row.empty() || !parseSeconds(row[0], microseconds)) {
    throw ToolError(where + ": the time '" + (row.empty() ? "" : row[0]) + "' is not a number of seconds");
  }
  return microseconds;
}

void setHeader(CreateSession& session, CreateSession::HeaderSetter setter,
               const std::optional<std::string>& text, const std::string& option) {
  if (text) session.check(session.set(setter, *text), option + " '" + *text + "'");
}

int runImport(const ImportOptions& options) {
  int32_t language = 255;
  if (options.legacy) {
    const auto parsed = parseLanguage(options.language);
    if (!parsed) throw usageError("--language: expected de, en or fr, not " + options.language);
    language = *parsed;
    // The RVI file takes the name of the RVX file with .RVI for .RVX.
    if (options.output.find(".RVX") == std::string::npos &&
        options.output.find(".rvx") == std::string::npos) {
      throw usageError("--legacy: the output name must end in .rvx or .RVX so that its RVI file can be named");
    }
  }
  std::vector<MultiChannelDeclaration> multiChannels;
  for (const std::string& text : options.multiChannels) {
    const auto declaration = parseMultiChannelDeclaration(text);
    if (!declaration) throw usageError("--multichannel: expected VARIABLE:BITS with 1 to 32 bits, not " + text);
    multiChannels.push_back(*declaration);
  }

  std::ifstream file;
  std::istream* in = &std::cin;
  if (options.input != "-") {
    refuseSameFile(options.input, options.output);
    file.open(toPath(options.input), std::ios::binary);
    if (!file) throw ToolError(options.input + ": cannot open the file");
    in = &file;
  }
  CsvReader reader(*in);
  Rows rows(reader, options.input);

  // The heading row: an optional time column, then one column per channel.
  std::vector<std::string> fields;
  try {
    if (!rows.next(fields)) throw ToolError(options.input + ": the file is empty");
  } catch (const CsvError& error) {
    throw ToolError(options.input + " line " + std::to_string(error.line()) + ": " + error.what());
  }
  const bool timeColumn = !fields.empty() && isTimeHeading(fields[0]);
  std::vector<Column> columns;
  for (size_t i = timeColumn ? 1 : 0; i < fields.size(); ++i) {
    Column column{fields[i], splitHeading(fields[i]), 0};
    if (column.parts.variable.empty()) throw ToolError(rows.where(i) + ": the heading is empty");
    columns.push_back(std::move(column));
  }
  if (columns.empty()) throw ToolError(options.input + ": the heading row names no channel");
  for (const MultiChannelDeclaration& declaration : multiChannels) {
    bool found = false;
    for (Column& column : columns) {
      if (column.parts.variable == declaration.variable) column.bits = declaration.bits, found = true;
    }
    if (!found) throw usageError("--multichannel: no column " + declaration.variable + " in " + options.input);
  }
  const size_t width = fields.size();

  int64_t interval = 0;
  int64_t firstTime = 0;
  try {
    if (options.scanInterval) {
      interval = *options.scanInterval;
    } else if (timeColumn) {
      const auto* row0 = rows.peek(0);
      const auto* row1 = rows.peek(1);
      if (!row0 || !row1) {
        throw usageError(options.input + ": fewer than two records to take the scan interval from; give --scan-interval-us");
      }
      const int64_t t0 = timeField(*row0, options.input + " line 2");
      const int64_t t1 = timeField(*rows.peek(1), options.input + " line 3");
      interval = t1 - t0;
      if (interval <= 0) {
        throw ToolError(options.input + ": the time column does not increase; give --scan-interval-us");
      }
    } else {
      throw usageError(options.input + " has no time column: give --scan-interval-us");
    }
  } catch (const CsvError& error) {
    throw ToolError(options.input + " line " + std::to_string(error.line()) + ": " + error.what());
  }
  if (interval <= 0) throw usageError("--scan-interval-us must be above 0");

  auto session = std::make_unique<CreateSession>(options.output, options.force, !options.notOriginal,
                                                 options.legacy, language);
  const std::string output = session->file();
  uint64_t records = 0;
  try {
    setHeader(*session, KDRVX_SetComment,
              options.comment ? std::optional<std::string>(toCrLf(*options.comment)) : std::nullopt,
              "--comment");
    setHeader(*session, KDRVX_SetCompany, options.company, "--company");
    setHeader(*session, KDRVX_SetInstrument, options.instrument, "--instrument");
    setHeader(*session, KDRVX_SetSnrInstrument, options.serialNumber, "--serial-number");
    setHeader(*session, KDRVX_SetNameMeasurement, options.nameMeasurement, "--name");
    setHeader(*session, KDRVX_SetTriggerSetting, options.triggerSetting, "--trigger-setting");
    setHeader(*session, KDRVX_SetDate, options.date, "--date");
    setHeader(*session, KDRVX_SetTime, options.time, "--time");
    if (options.triggerRecord) session->check(KDRVX_SetNoTriggerRecord(*options.triggerRecord), "--trigger-record");
    session->check(KDRVX_SetScanRate(interval), "scan interval");

    for (size_t i = 0; i < columns.size(); ++i) {
      const Column& column = columns[i];
      const std::string what = "column '" + column.heading + "'";
      const int channel = session->addChannel(column.parts.variable);
      session->check(session->set(KDRVX_SetChannelUnit, channel, column.parts.unit),
                     what + ": unit '" + column.parts.unit + "' (at most " +
                         std::to_string(kdrvx::format::kChannelUnitLimit) + " characters)");
      if (column.bits) session->check(KDRVX_SetChannelMultiChannel(static_cast<int16_t>(channel), column.bits), what);
    }

    const size_t first = timeColumn ? 1 : 0;
    std::vector<float> record(columns.size());
    uint64_t inputSize = 0;
    if (options.input != "-") {
      std::error_code ignored;
      inputSize = std::filesystem::file_size(toPath(options.input), ignored);
    }
    Progress progress("import", inputSize);
    bool unevenReported = false;
    while (rows.next(fields)) {
      if (fields.size() != width) {
        throw ToolError(options.input + " line " + std::to_string(rows.line()) + ": " +
                        std::to_string(fields.size()) + " fields where the heading has " +
                        std::to_string(width));
      }
      if (timeColumn && !unevenReported) {
        const int64_t t = timeField(fields, rows.where(0));
        if (records == 0) firstTime = t;
        const int64_t expected = firstTime + static_cast<int64_t>(records) * interval;
        if (std::llabs(t - expected) * 2 > interval) {
          std::cerr << "rvx: " << rows.where(0) << ": warning: the time column is not spaced "
                    << secondsText(interval) << " s apart; the recording keeps only the interval\n";
          unevenReported = true;
        }
      }
      for (size_t c = 0; c < columns.size(); ++c) {
        const std::string& field = fields[first + c];
        if (columns[c].bits) {
          uint64_t bits = 0;
          if (!parseUnsigned(field, bits) || bits > 0xFFFFFFFFu) {
            throw ToolError(rows.where(first + c) + ": '" + field + "' is not a 32-bit unsigned bit field");
          }
          record[c] = std::bit_cast<float>(static_cast<uint32_t>(bits));
        } else if (!parseFloat(field, record[c])) {
          throw ToolError(rows.where(first + c) + ": '" + field + "' is not a number");
        }
      }
      session->addRecord(record.data());
      ++records;
      progress.update(reader.consumed());
    }
    progress.finish();
    session->close();
  } catch (const CsvError& error) {
    session.reset();
    std::filesystem::remove(toPath(output));
    throw ToolError(options.input + " line " + std::to_string(error.line()) + ": " + error.what());
  } catch (const ToolError&) {
    // Leave no half-made recording behind.
    session.reset();
    std::error_code ignored;
    std::filesystem::remove(toPath(output), ignored);
    throw;
  }
  std::cout << output << ": " << records << " records of " << columns.size() << " channels, every "
            << secondsText(interval) << " s" << (options.legacy ? ", compact layout with RVI file" : "")
            << '\n';
  if (output != options.output) std::cout << "(the library named the file " << output << ")\n";
  return kExitOk;
}

Run addImportOptions(CLI::App& command) {
  auto options = std::make_shared<ImportOptions>();
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
  command.add_flag("-f,--force", options->force, "Overwrite an existing output file");
  return [options] { return runImport(*options); };
}

}  // namespace

extern const Subcommand kImportSubcommand{
    "import", "A CSV file (heading row 'variable [unit]') as a recording", addImportOptions};

}  // namespace rvx
