// rvx export: the records of one reader, read once in blocks, into the
// writer of the format asked for (CSV, MATLAB or HDF5).
#include <iostream>

#include "commands/commands.h"
#include "commands/subcommand.h"
#include "files/output_file.h"
#include "inputs/csv_dialect.h"
#include "inputs/findings.h"
#include "outputs/export_format.h"
#include "shared/terminal.h"
#include "shared/tool_error.h"
#include "shared/wall_time.h"

namespace rvx {

namespace {

bool millisecondTime(const std::string& unit) {
  if (unit != "s" && unit != "ms") throw usageError("--time-unit: expected s or ms, not " + unit);
  return unit == "ms";
}

bool wallClockTime(const ExportOptions& options) {
  if (options.timeMode != "relative" && options.timeMode != "absolute")
    throw usageError("--time: expected relative or absolute, not " + options.timeMode);
  if (options.timeMode == "relative") return false;
  if (options.noTime) throw usageError("--time absolute and --no-time contradict each other");
  if (options.timeUnit != "s")
    throw usageError("--time-unit applies to --time relative only: timestamps have no unit");
  return true;
}

}  // namespace

// The shape of the CSV text; the options are checked for every format.
CsvShape csvShape(const ExportOptions& options) {
  CsvShape shape;
  shape.dialect = exportDialect(options.dialect);
  shape.milliseconds = millisecondTime(options.timeUnit);
  shape.time = !options.noTime;
  shape.wallClock = wallClockTime(options);
  shape.metadata = options.withMetadata;
  shape.target =
      options.output.empty() || options.output == "-" ? "standard output" : options.output;
  return shape;
}

ExportPlan exportPlan(const std::string& source, const RecordingInfo& info,
                      const std::vector<std::string>& channels, const TimeWindow& window) {
  ExportPlan plan;
  plan.source = source;
  plan.info = info;
  plan.channels = selectChannels(info, channels);
  plan.span = recordSpan(window, info.scanInterval, info.records);
  std::vector<std::string> labels;
  for (int index : plan.channels) labels.push_back(info.channels[index].label);
  plan.names = fieldNames(labels, {"time", "recording"});
  return plan;
}

namespace {

// The options that shape CSV text have no meaning for MATLAB and HDF5.
void refuseCsvOnlyOptions(const ExportOptions& options) {
  const char* given = options.dialect.delimiter        ? "--delimiter"
                      : options.dialect.encoding       ? "--encoding"
                      : options.dialect.decimalComma   ? "--decimal-comma"
                      : options.withMetadata           ? "--with-metadata"
                      : options.timeUnit != "s"        ? "--time-unit"
                      : options.noTime                 ? "--no-time"
                      : options.timeMode != "relative" ? "--time absolute"
                                                       : nullptr;
  if (given)
    throw usageError(std::string(given) + " applies to CSV only, not to " + options.output);
  if (options.output.empty() || options.output == "-") {
    throw usageError("MATLAB and HDF5 exports go to a file: give -o FILE");
  }
}

ExportPlan exportPlan(const ExportOptions& options, const Reader& reader) {
  const RecordCount count = requireReadable(reader, options.allRecords);
  RecordingInfo info = reader.info();
  info.records = count.toRead;
  return exportPlan(options.file, info, options.channels, options.window);
}

// The records of the plan's span, read block by block, into the writer;
// returns the reader's shortfall ("" when every record came).
std::string exportRecords(Reader& reader, const ExportPlan& plan, ExportWriter& writer) {
  writer.begin(plan);
  const size_t channels = plan.info.channels.size();
  const size_t block = RecordReader::blockRecords(channels);
  std::vector<float> records(block * std::max<size_t>(1, channels));
  RecordReader source(reader, plan.span.first, plan.span.end);
  Progress progress("export", plan.span.end);
  while (const size_t got = source.read(records.data(), block)) {
    writer.write({source.delivered() - got, got, channels, records.data()});
    progress.update(source.delivered());
  }
  writer.finish();
  progress.finish();
  return shortfallText(source, plan.span.end);
}

// MATLAB and HDF5 libraries write their files by name: the writer gets the
// output's temporary name.
std::string exportToFile(const ExportOptions& options, ExportFormat format, Reader& reader,
                         const ExportPlan& plan) {
  OutputFile out(options.output, existingFrom(options.force));
  const std::string path = out.handOver();
  std::string shortfall;
  try {
    const std::unique_ptr<ExportWriter> writer =
        format == ExportFormat::Mat ? matWriter(path) : hdf5Writer(path);
    shortfall = exportRecords(reader, plan, *writer);
  } catch (const ToolError& error) {
    throw ToolError(options.output + ": " + error.what(), error.status());
  }
  out.commit();
  return shortfall;
}

}  // namespace

int runExport(const ExportOptions& options) {
  const ExportFormat format = exportFormat(options.format, options.output);
  // A malformed window is a usage error before the file is opened.
  recordSpan(options.window, 1, UINT64_MAX);
  const CsvShape shape = csvShape(options);
  if (format != ExportFormat::Csv) refuseCsvOnlyOptions(options);
  refuseSameFile(options.file, options.output);
  if (format == ExportFormat::Csv && options.timeZone && !shape.wallClock)
    throw usageError("--tz applies to --time absolute (and to MATLAB and HDF5 exports)");
  std::unique_ptr<TimeZone> zone;
  if (options.timeZone) zone = std::make_unique<TimeZone>(*options.timeZone);
  Reader reader(options.file);
  ExportPlan plan = exportPlan(options, reader);
  plan.zone = zone.get();
  // Refused before any output is made.
  if (shape.wallClock) requireStart(plan, "--time absolute");
  if (zone) startInstant(plan);

  std::string shortfall;
  if (format == ExportFormat::Csv) {
    Output out(options.output, existingFrom(options.force));
    shortfall = exportRecords(reader, plan, *csvWriter(out, shape));
    out.commit();
  } else {
    shortfall = exportToFile(options, format, reader, plan);
  }
  if (!shortfall.empty())
    std::cerr << "rvx: " << options.file << ": warning: " << shortfall << '\n';
  return kExitOk;
}

namespace {

Run addExportOptions(CLI::App& command) {
  auto options = std::make_shared<ExportOptions>();
  command.add_option("FILE", options->file, "RVX file")->required();
  command.add_option("-o,--output", options->output, "CSV file (default: standard output)");
  command
      .add_option("--channels", options->channels,
                  "Channels by variable, e.g. p1,T2 (default: all)")
      ->delimiter(',');
  addTimeWindowOptions(command, options->window);
  command.add_flag("--no-time", options->noTime, "Leave out the time column");
  command.add_flag("--all-records", options->allRecords, kAllRecordsHelp);
  command.add_flag("-f,--force", options->force, "Replace an existing output file");
  command.add_option("--format", options->format,
                     "csv, mat (MATLAB v7.3) or hdf5 (default: from the output's extension)");
  optionalOption(command, "--delimiter", options->dialect.delimiter,
                 "Field delimiter: ',', ';' or tab (default ',', or ';' with --decimal-comma)");
  command.add_flag("--decimal-comma", options->dialect.decimalComma,
                   "Write numbers as 1,5 (needs a delimiter other than ',')");
  optionalOption(command, "--encoding", options->dialect.encoding,
                 "utf-8 (default), utf-8-bom, cp1252 (refused for text it cannot hold) or utf-16 "
                 "(little-endian with byte-order mark)");
  command.add_option("--time-unit", options->timeUnit,
                     "Time column in s (default) or ms, headed time [s] or time [ms]");
  command.add_flag("--with-metadata", options->withMetadata,
                   "Start with a block of header and channel properties that import reads back");
  command.add_option("--time", options->timeMode,
                     "Time column: relative (default; seconds from the start, headed time [s]) "
                     "or absolute (ISO 8601 wall-clock timestamps headed timestamp, with as many "
                     "decimals as the scan interval needs; refused for a recording whose start "
                     "is unknown)");
  optionalOption(command, "--tz", options->timeZone,
                 std::string(kTimeZoneHelp) +
                     ": the recording's start is wall-clock time of this zone; --time absolute "
                     "then adds each row's UTC offset, and MATLAB and HDF5 get start_posix. A "
                     "start that the zone shows twice or never is refused (the header keeps no "
                     "offset from UTC): give the offset instead");
  command.footer(
      "Example: rvx export run.rvx -o run.csv --channels p1,T2 --from 2 --to 2.5\n"
      "Example (MATLAB v7.3): rvx export run.rvx -o run.mat --channels p1,T1\n"
      "Example (a German spreadsheet): rvx export run.rvx -o run.csv --delimiter ';' "
      "--decimal-comma --encoding cp1252\n"
      "Example (every property, for import): rvx export run.rvx -o run.csv --with-metadata\n"
      "Example (timestamps with offsets): rvx export run.rvx -o run.csv --time absolute --tz "
      "Europe/Berlin");
  return [options] { return runExport(*options); };
}

}  // namespace

extern const Subcommand kExportSubcommand{
    "export", "Records as CSV (RFC 4180), MATLAB v7.3 or HDF5", addExportOptions};

}  // namespace rvx
