// rvx export: the records as CSV, streamed in blocks. Values are formatted
// straight into one large buffer that is written in big chunks; nothing is
// allocated per record or per value.
#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <iostream>
#include <limits>

#include "commands/commands.h"
#include "commands/subcommand.h"
#include "files/output_file.h"
#include "inputs/claims.h"
#include "inputs/csv.h"
#include "inputs/csv_dialect.h"
#include "inputs/csv_metadata.h"
#include "outputs/export_format.h"
#include "shared/arguments.h"
#include "shared/number_text.h"
#include "shared/terminal.h"
#include "shared/tool_error.h"

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

// The text before the records: the metadata block when asked for, and the
// heading row, encoded; refused before anything is written when the
// encoding cannot hold it.
std::string headText(const ExportOptions& options, const CsvDialect& dialect,
                     const RecordingInfo& info, const std::vector<int>& selected,
                     bool milliseconds) {
  std::string text;
  if (options.withMetadata) text = metadataBlock(info, selected, dialect.delimiter);
  std::string heading;
  if (!options.noTime) heading = milliseconds ? "time [ms]" : "time [s]";
  for (int index : selected) {
    if (!heading.empty()) heading += dialect.delimiter;
    appendCsvField(heading, info.channels[index].heading(), dialect.delimiter);
  }
  text += heading;
  text += kCsvLineEnd;
  const std::string target =
      options.output.empty() || options.output == "-" ? "standard output" : options.output;
  return std::string(byteOrderMark(dialect.encoding)) + encodedText(text, dialect.encoding, target);
}

bool millisecondTime(const std::string& unit) {
  if (unit != "s" && unit != "ms") throw usageError("--time-unit: expected s or ms, not " + unit);
  return unit == "ms";
}

// The options that shape CSV text have no meaning for MATLAB and HDF5.
void refuseCsvOnlyOptions(const ExportOptions& options) {
  const char* given = options.dialect.delimiter      ? "--delimiter"
                      : options.dialect.encoding     ? "--encoding"
                      : options.dialect.decimalComma ? "--decimal-comma"
                      : options.withMetadata         ? "--with-metadata"
                      : options.timeUnit != "s"      ? "--time-unit"
                      : options.noTime               ? "--no-time"
                                                     : nullptr;
  if (given)
    throw usageError(std::string(given) + " applies to CSV only, not to " + options.output);
}

}  // namespace

int runExport(const ExportOptions& options) {
  const ExportFormat format = exportFormat(options.format, options.output);
  // A malformed window is a usage error before the file is opened.
  recordSpan(options.window, 1, UINT64_MAX);
  const CsvDialect dialect = exportDialect(options.dialect);
  const bool milliseconds = millisecondTime(options.timeUnit);
  if (format != ExportFormat::Csv) {
    refuseCsvOnlyOptions(options);
    return runColumnExport(options, format);
  }
  refuseSameFile(options.file, options.output);
  ReadSession session(options.file);
  RecordingInfo info = queryRecording(session);
  info.records = countRecords(options.file, info.records, options.allRecords).toRead;
  const std::vector<int> selected = selectChannels(info, options.channels);
  const size_t channels = info.channels.size();

  const RecordSpan span = recordSpan(options.window, info.scanInterval, info.records);
  const uint64_t first = span.first, end = span.end;

  std::vector<bool> multiChannel;
  for (int index : selected) multiChannel.push_back(info.channels[index].multiChannelBits != 0);

  // The metadata of the records exported: the trigger record counts from the
  // first of them (and is left at 0, with a warning, when it lies outside).
  RecordingInfo described = info;
  if (options.withMetadata && (first > 0 || end < info.records)) {
    const bool inside = info.triggerRecord >= first && info.triggerRecord < end;
    if (!inside && info.triggerRecord != 0) {
      std::cerr << "rvx: " << options.file << ": warning: the trigger record " << info.triggerRecord
                << " lies outside the records exported; the metadata gives 0\n";
    }
    described.triggerRecord = inside ? static_cast<uint32_t>(info.triggerRecord - first) : 0;
  }
  const std::string head = headText(options, dialect, described, selected, milliseconds);
  Output out(options.output, existingFrom(options.force));
  out.write(head);
  // Rows are ASCII: only UTF-16 changes their bytes.
  const bool wide = dialect.encoding == TextEncoding::Utf16;
  std::string encoded;
  const auto write = [&](const char* data, size_t size) {
    if (!wide) return out.write(data, size);
    encodeAscii(std::string_view(data, size), dialect.encoding, encoded);
    out.write(encoded);
  };
  const char delimiter = dialect.delimiter;
  const bool decimalComma = dialect.decimalComma;

  const size_t block = RecordReader::blockRecords(channels);
  std::vector<float> records(block * std::max<size_t>(1, channels));
  std::vector<char> text(kTextBuffer);
  const size_t rowRoom = (selected.size() + 1) * (kMaxNumberText + 1) + 2;
  char* const begin = text.data();
  char* const flushAt = begin + text.size() - rowRoom;
  char* p = begin;

  RecordReader reader(channels, end);
  Progress progress("export", end);
  const int64_t interval = info.scanInterval;
  while (const size_t got = reader.read(records.data(), block)) {
    uint64_t index = reader.delivered() - got;
    for (size_t i = 0; i < got; ++i, ++index) {
      if (index < first) continue;
      const float* record = records.data() + i * channels;
      bool separator = false;
      if (!options.noTime) {
        char* const time = p;
        p = milliseconds ? writeMillisecondTime(p, index, interval) : writeTime(p, index, interval);
        if (decimalComma) std::replace(time, p, '.', ',');
        separator = true;
      }
      for (size_t c = 0; c < selected.size(); ++c) {
        if (separator) *p++ = delimiter;
        separator = true;
        const float value = record[selected[c]];
        char* const number = p;
        p = multiChannel[c] ? writeUnsigned(p, std::bit_cast<uint32_t>(value))
                            : writeFloat(p, value);
        if (decimalComma) std::replace(number, p, '.', ',');
      }
      *p++ = '\r';
      *p++ = '\n';
      if (p >= flushAt) {
        write(begin, static_cast<size_t>(p - begin));
        p = begin;
      }
    }
    progress.update(reader.delivered());
  }
  write(begin, static_cast<size_t>(p - begin));
  out.commit();
  progress.finish();

  const std::string shortfall = shortfallText(reader, end);
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
  command.footer(
      "Example: rvx export run.rvx -o run.csv --channels p1,T2 --from 2 --to 2.5\n"
      "Example (MATLAB v7.3): rvx export run.rvx -o run.mat --channels p1,T1\n"
      "Example (a German spreadsheet): rvx export run.rvx -o run.csv --delimiter ';' "
      "--decimal-comma --encoding cp1252\n"
      "Example (every property, for import): rvx export run.rvx -o run.csv --with-metadata");
  return [options] { return runExport(*options); };
}

}  // namespace

extern const Subcommand kExportSubcommand{
    "export", "Records as CSV (RFC 4180), MATLAB v7.3 or HDF5", addExportOptions};

}  // namespace rvx
