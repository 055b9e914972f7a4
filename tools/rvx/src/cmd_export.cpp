// rvx export: the records as CSV, streamed in blocks. Values are formatted
// straight into one large buffer that is written in big chunks; nothing is
// allocated per record or per value.
#include <bit>
#include <charconv>
#include <cstring>
#include <iostream>
#include <limits>

#include "arguments.h"
#include "claims.h"
#include "commands.h"
#include "csv.h"
#include "export_format.h"
#include "number_text.h"
#include "output_file.h"
#include "subcommand.h"
#include "terminal.h"
#include "tool_error.h"

namespace rvx {

namespace {

constexpr size_t kTextBuffer = 4 << 20;

// Seconds of record `index`; exact from whole microseconds, and as a double
// only where the product would not fit 64 bits.
char* writeTime(char* out, uint64_t index, int64_t interval) {
  if (interval >= 0 &&
      (interval == 0 || index <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / interval))) {
    return writeSeconds(out, static_cast<int64_t>(index) * interval);
  }
  const double seconds = static_cast<double>(index) * static_cast<double>(interval) / 1e6;
  return std::to_chars(out, out + kMaxNumberText, seconds).ptr;
}

}  // namespace

int runExport(const ExportOptions& options) {
  const ExportFormat format = exportFormat(options.format, options.output);
  // A malformed window is a usage error before the file is opened.
  recordSpan(options.window, 1, UINT64_MAX);
  if (format != ExportFormat::Csv) return runColumnExport(options, format);
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

  Output out(options.output, existingFrom(options.force));
  std::string heading;
  if (!options.noTime) heading = "time [s]";
  for (int index : selected) {
    if (!heading.empty()) heading += ',';
    appendCsvField(heading, info.channels[index].heading());
  }
  heading += kCsvLineEnd;
  out.write(heading);

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
        p = writeTime(p, index, interval);
        separator = true;
      }
      for (size_t c = 0; c < selected.size(); ++c) {
        if (separator) *p++ = ',';
        separator = true;
        const float value = record[selected[c]];
        p = multiChannel[c] ? writeUnsigned(p, std::bit_cast<uint32_t>(value)) : writeFloat(p, value);
      }
      *p++ = '\r';
      *p++ = '\n';
      if (p >= flushAt) {
        out.write(begin, static_cast<size_t>(p - begin));
        p = begin;
      }
    }
    progress.update(reader.delivered());
  }
  out.write(begin, static_cast<size_t>(p - begin));
  out.commit();
  progress.finish();

  const std::string shortfall = shortfallText(reader, end);
  if (!shortfall.empty()) std::cerr << "rvx: " << options.file << ": warning: " << shortfall << '\n';
  return kExitOk;
}

namespace {

Run addExportOptions(CLI::App& command) {
  auto options = std::make_shared<ExportOptions>();
  command.add_option("FILE", options->file, "RVX file")->required();
  command.add_option("-o,--output", options->output, "CSV file (default: standard output)");
  command.add_option("--channels", options->channels, "Channels by variable, e.g. p1,T2 (default: all)")
      ->delimiter(',');
  addTimeWindowOptions(command, options->window);
  command.add_flag("--no-time", options->noTime, "Leave out the time column");
  command.add_flag("--all-records", options->allRecords, kAllRecordsHelp);
  command.add_flag("-f,--force", options->force, "Replace an existing output file");
  command.add_option("--format", options->format,
                     "csv, mat (MATLAB v7.3) or hdf5 (default: from the output's extension)");
  command.footer("Example: rvx export run.rvx -o run.mat --channels p1,T1");
  return [options] { return runExport(*options); };
}

}  // namespace

extern const Subcommand kExportSubcommand{
    "export", "Records as CSV (RFC 4180), MATLAB v7.3 or HDF5", addExportOptions};

}  // namespace rvx
