// `rvx import`: a recording made from a CSV file through the library's
// create path, which keeps the statistics and, for the compact layout,
// writes the RVI file. Nothing of a recording that fails is left behind.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include "commands/commands.h"
#include "commands/subcommand.h"
#include "inputs/csv.h"
#include "inputs/csv_input.h"
#include "inputs/csv_metadata.h"
#include "inputs/csv_records.h"
#include "outputs/fit.h"
#include "outputs/recording_copy.h"
#include "shared/arguments.h"
#include "shared/library.h"
#include "shared/number_text.h"
#include "shared/system_reason.h"
#include "shared/terminal.h"
#include "shared/tool_error.h"
#include "shared/utf.h"
#include "shared/wall_time.h"

namespace rvx {

namespace {

// The CSV named on the command line, or standard input for "-", as UTF-8
// in its dialect.
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
    std::istream& raw = file_.is_open() ? static_cast<std::istream&>(file_) : std::cin;
    input_.emplace(raw, file_.is_open(), options.dialect, options.input);
  }
  std::istream& stream() { return input_->stream(); }
  const CsvDialect& dialect() const { return input_->dialect(); }

 private:
  std::ifstream file_;
  std::optional<CsvInput> input_;
};

// "cp1252, ';', decimal comma" for a dialect that is not the plain one.
std::string dialectText(const CsvDialect& dialect) {
  if (dialect.plain()) return "";
  return " (" + encodingName(dialect.encoding) + ", " + delimiterName(dialect.delimiter) +
         (dialect.decimalComma ? ", decimal comma" : "") + ")";
}

ToolError csvFailure(const std::string& input, const CsvError& error) {
  return ToolError(input + " line " + std::to_string(error.line()) + ": " + error.what());
}

// The label language of the RVI file for --legacy.
int32_t summaryLanguage(const FromCsvOptions& options) {
  if (!options.legacy) return kNoSummaryLanguage;
  const auto parsed = parseLanguage(options.language);
  if (!parsed) throw usageError("--language: expected de, en or fr, not " + options.language);
  // The RVI file takes the name of the RVX file with .RVI for .RVX.
  if (options.output.find(".RVX") == std::string::npos &&
      options.output.find(".rvx") == std::string::npos) {
    throw usageError(
        "--legacy: the output name must end in .rvx or .RVX so that its RVI file can be named");
  }
  return *parsed;
}

std::vector<MultiChannelDeclaration> multiChannelDeclarations(const FromCsvOptions& options) {
  std::vector<MultiChannelDeclaration> declarations;
  for (const std::string& text : options.multiChannels) {
    const auto declaration = parseMultiChannelDeclaration(text);
    if (!declaration)
      throw usageError("--multichannel: expected VARIABLE:BITS with 1 to 32 bits, not " + text);
    declarations.push_back(*declaration);
  }
  return declarations;
}

// The start of the recording as the command line, or else the metadata,
// gives it: a date and a time that the setters take, "unknown", or none
// (the moment of import).
struct Start {
  std::optional<std::string> date, time;
  bool dateUnknown() const { return date == kUnknownStart; }
  // Without a date, no time is known either.
  bool timeUnknown() const { return time == kUnknownStart || (dateUnknown() && !time); }
  bool known() const { return !dateUnknown() && !timeUnknown(); }
};

// A time column of timestamps gives the start, to the whole second the
// header holds; --date and --time, when given, replace what they name (a
// clock that was set wrong), which is warned about. The rest of the second
// is warned about too: export then shows the first record at the start.
Start startOf(const FromCsvOptions& options, const std::optional<CsvMetadata>& metadata,
              const std::optional<WallStart>& wall) {
  Start start{options.date, options.time};
  if (wall) {
    const std::string date = dateText(wall->wallSeconds), time = timeText(wall->wallSeconds);
    const std::string replaced = options.date && options.time ? "--date and --time replace"
                                 : options.date               ? "--date replaces"
                                 : options.time               ? "--time replaces"
                                                              : "";
    if (!replaced.empty()) {
      std::cerr << "rvx: " << options.input << ": warning: the time column starts at " << date
                << " " << time << "; " << replaced << " it\n";
    }
    if (!start.date) start.date = date;
    if (!start.time) {
      start.time = time;
      if (wall->nanoseconds != 0) {
        char rest[32];
        std::snprintf(rest, sizeof rest, "%.9g", wall->nanoseconds / 1e9);
        std::cerr << "rvx: " << options.input << ": warning: the first record lies " << rest
                  << " s after the start time " << time << " (the header holds whole seconds)\n";
      }
    }
  }
  if (!start.date && metadata && metadata->hasDate) start.date = metadata->info.date;
  if (!start.time && metadata && metadata->hasTime) start.time = metadata->info.time;
  if (start.timeUnknown() && !start.date) {
    throw usageError("--time unknown needs a date: give --date DD.MM.YYYY, or --date unknown");
  }
  if (!start.known() && options.legacy) {
    throw usageError("--legacy: the compact layout takes a known date and time only");
  }
  return start;
}

// The trigger record as the command line, or else the metadata, gives it,
// and where it was given, for messages.
struct Trigger {
  std::optional<uint32_t> record;
  std::string where;
};

Trigger triggerOf(const FromCsvOptions& options, const std::optional<CsvMetadata>& metadata) {
  if (options.triggerRecord) {
    try {
      return {parseTriggerRecord(*options.triggerRecord, "--trigger-record"), "--trigger-record"};
    } catch (const ToolError& error) {
      throw usageError(error.what());
    }
  }
  if (metadata && metadata->hasTrigger)
    return {metadata->info.triggerRecord, metadata->triggerWhere};
  return {};
}

// A trigger record must lie among the records imported (0, the default,
// always does).
void requireTriggerInside(const Trigger& trigger, uint64_t records) {
  if (!trigger.record || *trigger.record == 0 || *trigger.record < records) return;
  throw ToolError(trigger.where + ": the trigger record " + std::to_string(*trigger.record) +
                  " lies beyond the " + counted(records, "record") + " imported" +
                  (records > 0 ? " (0 to " + std::to_string(records - 1) + ")" : ""));
}

// The recording as the command line and the heading row describe it.
PlannedRecording plannedRecording(const FromCsvOptions& options, int32_t language,
                                  const CsvRecords& csv) {
  PlannedRecording plan;
  plan.compact = options.legacy;
  plan.language = language;
  plan.info.original = !options.notOriginal;
  plan.info.comment = toCrLf(options.comment.value_or(""));
  plan.info.company = options.company.value_or("");
  plan.info.instrument = options.instrument.value_or("");
  plan.info.serialNumber = options.serialNumber.value_or("");
  plan.info.nameMeasurement = options.nameMeasurement.value_or("");
  plan.info.triggerSetting = options.triggerSetting.value_or("");
  plan.info.scanInterval = csv.interval();
  plan.intervalOfSource = !options.scanInterval && csv.metadata() && csv.metadata()->hasInterval;
  plan.info.channels = channelsOfColumns(csv.columns());
  return plan;
}

// The channel number N of a heading "ch_N", the name an export gives a
// channel without a variable; -1 for any other heading.
int unnamedChannel(const std::string& heading) {
  constexpr std::string_view kPrefix = "ch_";
  if (!heading.starts_with(kPrefix) || heading.size() == kPrefix.size() ||
      heading.size() > kPrefix.size() + 2)
    return -1;
  int number = 0;
  for (const char digit : heading.substr(kPrefix.size())) {
    if (digit < '0' || digit > '9') return -1;
    number = number * 10 + (digit - '0');
  }
  return number;
}

// A channel exported without a variable comes back under the stand-in
// name that convert gives it, since a new recording needs one. Returns the
// warnings that say so.
std::vector<std::string> nameUnnamedChannels(std::vector<ChannelInfo>& channels) {
  std::vector<std::string> warnings;
  const auto taken = [&](const std::string& name) {
    return std::any_of(channels.begin(), channels.end(),
                       [&](const ChannelInfo& c) { return c.variable == name; });
  };
  for (ChannelInfo& channel : channels) {
    const int number = unnamedChannel(channel.variable);
    if (number < 0) continue;
    for (const std::string& name : standInNames(number, channels.size())) {
      if (taken(name)) continue;
      warnings.push_back("the column " + channel.variable +
                         ", a channel without a variable, is written as " + name);
      channel.variable = name;
      break;
    }
  }
  return warnings;
}

// The metadata's channel of each column (null for a column it does not
// describe); a channel of the metadata that no column holds is refused.
std::vector<const ChannelInfo*> describedColumns(const CsvRecords& csv, const std::string& input) {
  std::vector<const ChannelInfo*> described(csv.columns().size(), nullptr);
  for (const ChannelInfo& channel : csv.metadata()->info.channels) {
    bool found = false;
    for (size_t c = 0; c < described.size(); ++c) {
      if (csv.columns()[c].parts.variable != channel.variable) continue;
      described[c] = &channel;
      found = true;
    }
    if (!found) {
      throw ToolError(input + ": the metadata describes the channel " + channel.variable +
                      ", which no column holds");
    }
  }
  return described;
}

// The plan completed by the metadata block: what the command line leaves
// out, the metadata gives.
void addMetadata(PlannedRecording& plan, const FromCsvOptions& options, const CsvMetadata& metadata,
                 const std::vector<const ChannelInfo*>& described) {
  const RecordingInfo& info = metadata.info;
  const std::pair<const std::optional<std::string>*, std::string RecordingInfo::*> texts[] = {
      {&options.comment, &RecordingInfo::comment},
      {&options.company, &RecordingInfo::company},
      {&options.instrument, &RecordingInfo::instrument},
      {&options.serialNumber, &RecordingInfo::serialNumber},
      {&options.nameMeasurement, &RecordingInfo::nameMeasurement},
      {&options.triggerSetting, &RecordingInfo::triggerSetting}};
  for (const auto& [given, text] : texts) {
    if (!given->has_value()) plan.info.*text = info.*text;
  }
  plan.info.original = info.original && !options.notOriginal;
  for (size_t c = 0; c < described.size(); ++c) {
    const ChannelInfo* channel = described[c];
    if (!channel) continue;
    ChannelInfo& planned = plan.info.channels[c];
    planned.name = channel->name;
    planned.number = channel->number;
    planned.signalType = channel->signalType;
    planned.calParameter = channel->calParameter;
    planned.zeroPoint = channel->zeroPoint;
    planned.filter = channel->filter;
  }
}

// The channel properties that a plan does not carry, from the metadata.
void applyChannelFlags(CreateSession& session, const std::vector<const ChannelInfo*>& described) {
  for (size_t c = 0; c < described.size(); ++c) {
    const ChannelInfo* channel = described[c];
    if (!channel) continue;
    const auto index = static_cast<int16_t>(c);
    const std::string what = "channel " + channel->variable;
    session.check(KDRVX_SetChannelIndRate(index, channel->indRate), what + " individual rate");
    session.check(KDRVX_SetChannelISDS(index, channel->isds ? 1 : 0), what + " ISDS");
    session.check(KDRVX_SetChannelLinearisation(index, channel->linearisation ? 1 : 0),
                  what + " linearisation");
    if (!channel->lintab.empty()) {
      session.check(session.set(KDRVX_SetChannelLintab, static_cast<int>(c), channel->lintab),
                    what + " linearisation table");
    }
  }
}

uint64_t inputSize(const std::string& input) {
  if (input == "-") return 0;
  std::error_code ignored;
  return std::filesystem::file_size(toPath(input), ignored);
}

// Closes the recording; a start that is not known goes into the header
// bytes as the header marks it.
void closeRecording(CreateSession& session, const Start& start) {
  if (start.known()) {
    session.close();
    return;
  }
  RecordingInfo given;
  if (!start.dateUnknown()) given.date = *start.date;
  if (!start.timeUnknown()) given.time = *start.time;
  Warnings unused;  // the report tells the start
  closeKeepingUnknownDate(session, parseDateTime(given), given, unused);
}

// "dated 04.12.2023 14:05:09", "date unknown, time 14:05:09", "date and time unknown".
std::string startText(const RecordingInfo& info) {
  const DateTime when = parseDateTime(info);
  if (!when.dateKnown() && !when.timeKnown()) return "date and time unknown";
  if (!when.dateKnown()) return "date unknown, time " + info.time;
  if (!when.timeKnown()) return "dated " + info.date + ", time unknown";
  return "dated " + info.date + " " + info.time;
}

void reportRecording(const FromCsvOptions& options, const std::string& output, uint64_t records,
                     size_t channels, int64_t interval, const std::string& dialect,
                     const Start& start) {
  // The start as the file holds it, which the library set to the moment
  // of creation where none was given.
  const RecordingInfo made = Reader(output).info();
  std::cout << output << ": " << counted(records, "record") << " of "
            << counted(channels, "channel") << ", every " << secondsText(interval) << " s, "
            << startText(made) << (options.legacy ? ", compact layout with RVI file" : "")
            << dialect << '\n';
  if (output != options.output) std::cout << "(the library named the file " << output << ")\n";
  if (!start.date) {
    std::cerr << "rvx: " << output << ": warning: no date given: the recording is dated "
              << made.date << " " << made.time
              << ", the moment of import (--date and --time set another; --date unknown "
                 "leaves it unknown)\n";
  } else if (!start.time && !start.dateUnknown()) {
    std::cerr << "rvx: " << output << ": warning: no time given: the recording's time is "
              << made.time
              << ", that of the import (--time sets another; --time unknown leaves it unknown)\n";
  }
}

}  // namespace

int runFromCsv(const FromCsvOptions& options) {
  const int32_t language = summaryLanguage(options);
  const std::vector<MultiChannelDeclaration> declarations = multiChannelDeclarations(options);
  std::unique_ptr<TimeZone> zone;
  if (options.timeZone) zone = std::make_unique<TimeZone>(*options.timeZone);
  CsvSource source(options);
  try {
    CsvRecords csv(source.stream(), options.input, declarations, options.scanInterval,
                   source.dialect(), zone.get());
    PlannedRecording plan = plannedRecording(options, language, csv);
    std::vector<const ChannelInfo*> described;
    if (csv.metadata()) {
      described = describedColumns(csv, options.input);
      addMetadata(plan, options, *csv.metadata(), described);
    }
    const Start start = startOf(options, csv.metadata(), csv.wallStart());
    if (start.date && !start.dateUnknown()) plan.info.date = *start.date;
    if (start.time && !start.timeUnknown()) plan.info.time = *start.time;
    const Trigger trigger = triggerOf(options, csv.metadata());
    plan.triggerRecord = trigger.record;
    for (const std::string& warning : nameUnnamedChannels(plan.info.channels)) {
      std::cerr << "rvx: " << options.output << ": warning: " << warning << '\n';
    }
    for (const std::string& warning : checkFit(plan, options.output)) {
      std::cerr << "rvx: " << options.output << ": warning: " << warning << '\n';
    }
    CreateSession session(options.output, existingFrom(options.force), plan.info.original,
                          plan.compact, plan.language);
    applyPlan(session, plan);
    applyChannelFlags(session, described);
    const LibraryPlan checked(plan, options.output);
    Progress progress("import", inputSize(options.input));
    uint64_t added = 0;
    const uint64_t records = csv.read([&](const float* block, size_t count) {
      requireBitFields(checked, block, static_cast<uint32_t>(count), added, options.output);
      session.addRecords(block, static_cast<uint32_t>(count));
      added += count;
      progress.update(csv.consumed());
    });
    progress.finish();
    // Timestamps give their interval once the last is read.
    if (csv.interval() != plan.info.scanInterval)
      session.check(KDRVX_SetScanRate(csv.interval()), "scan interval");
    requireTriggerInside(trigger, records);
    closeRecording(session, start);
    reportRecording(options, session.file(), records, csv.columns().size(), csv.interval(),
                    dialectText(source.dialect()), start);
  } catch (const CsvError& error) {
    throw csvFailure(options.input, error);
  }
  return kExitOk;
}

namespace {

Run addFromCsvOptions(CLI::App& command) {
  auto options = std::make_shared<FromCsvOptions>();
  command.add_option("IN", options->input, "CSV file, or - for standard input")->required();
  command.add_option("-o,--output", options->output, "RVX file to create")->required();
  optionalOption(command, "--scan-interval-us", options->scanInterval,
                 "Whole microseconds between records (default: from the time column, which must "
                 "then step evenly: seconds exactly, timestamps within 1%); with it, the time "
                 "column is not followed");
  optionalOption(command, "--tz", options->timeZone,
                 std::string(kTimeZoneHelp) +
                     ": timestamps with a UTC offset are converted into its wall-clock time "
                     "(refused without --tz)");
  auto* legacy =
      command.add_flag("--legacy", options->legacy,
                       "Compact WIN 3.x/4.x layout with an RVI file (fewer channels and texts)");
  command
      .add_option("--language", options->language,
                  "Language of the RVI file: de, en or fr (default en)")
      ->needs(legacy);
  optionalOption(command, "--comment", options->comment, "Comment (line breaks allowed)");
  optionalOption(command, "--company", options->company, "Company");
  optionalOption(command, "--instrument", options->instrument, "Measuring instrument");
  optionalOption(command, "--serial-number", options->serialNumber,
                 "Serial number of the instrument");
  optionalOption(command, "--name", options->nameMeasurement, "Name of the measurement");
  optionalOption(command, "--trigger-setting", options->triggerSetting, "Trigger condition");
  optionalOption(command, "--trigger-record", options->triggerRecord,
                 "Record at which the trigger fired, counted from 0 (0 to the last record)");
  optionalOption(command, "--date", options->date,
                 "Recording date DD.MM.YYYY, or unknown (default: that of the first timestamp, "
                 "else today, which import reports); replaces a timestamp's, with a warning");
  optionalOption(command, "--time", options->time,
                 "Recording time HH:MM[:SS], or unknown (default: that of the first timestamp, "
                 "else now; unknown with an unknown date); replaces a timestamp's, with a "
                 "warning");
  command.add_option("--multichannel", options->multiChannels,
                     "VARIABLE:BITS: the column holds bit fields as unsigned integers");
  command.add_flag("--not-original", options->notOriginal,
                   "Mark the file as not an original recording");
  command.add_flag("-f,--force", options->force, "Replace an existing output file");
  optionalOption(command, "--delimiter", options->dialect.delimiter,
                 "Field delimiter: ',', ';' or tab (default: the one that splits every row alike)");
  command.add_flag("--decimal-comma", options->dialect.decimalComma,
                   "Numbers are written 1,5 (default: when the delimiter is not ',' and numbers "
                   "hold commas)");
  optionalOption(command, "--encoding", options->dialect.encoding,
                 "utf-8, utf-8-bom, cp1252 or utf-16 (default: by the byte-order mark, else "
                 "utf-8 when valid, else cp1252)");
  command.footer(
      std::string("The heading row names each channel by its variable, such as p1, T12 or dp3") +
      ", with its unit in brackets if it has one: p1 [bar]. A first column headed time, t, "
      "Zeit, timestamp, Datum/Uhrzeit or date/time holds the time of each row: seconds or "
      "milliseconds (with [s] or [ms] or no unit), or timestamps such as "
      "2026-12-07T10:15:30.125 (or with a space for the T), 07.12.2026 10:15:30,125 or "
      "07/12/2026 10:15:30,125, with '.' or ',' before the fraction. The first timestamp gives "
      "the start (to the whole second; a rest is warned about) and (last - first) / (rows - 1), "
      "to the nearest microsecond, the scan interval; a step more than 1% away from it is "
      "refused with its line. A timestamp with a UTC offset (Z, +01:00, +0100) is converted "
      "into the wall-clock time of --tz; a wall-clock time that a zone's summer time makes "
      "irregular is refused as an irregular step. A metadata block that export --with-metadata "
      "wrote before the heading gives "
      "the header and channel properties (options given here take precedence).\n"
      "Example: rvx import run.csv -o run.rvx --multichannel M1:8 --comment \"Pump test\"\n"
      "Example: rvx import messung.csv -o messung.rvx --delimiter ';' --decimal-comma "
      "--encoding cp1252\n"
      "Example (timestamps with offsets): rvx import log.csv -o log.rvx --tz Europe/Berlin");
  return [options] { return runFromCsv(*options); };
}

}  // namespace

// The subcommand keeps the name it is documented by, the partner of export.
extern const Subcommand kFromCsvSubcommand{
    "import", "A CSV file (heading row 'variable [unit]') as a recording", addFromCsvOptions};

}  // namespace rvx
