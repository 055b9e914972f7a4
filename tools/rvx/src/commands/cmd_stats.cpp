// rvx stats: minimum, maximum, mean, RMS and standard deviation of each
// channel over a window of records, the NaN and infinite values counted
// apart and a multichannel's set bits counted bit by bit, for one file or
// several, as one table or one JSON array. Every figure is the library's
// (KDRVX_ReaderStatistics); rvx only chooses the window and prints.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "commands/commands.h"
#include "commands/json_documents.h"
#include "commands/subcommand.h"
#include "files/many_files.h"
#include "inputs/findings.h"
#include "shared/arguments.h"
#include "shared/terminal.h"
#include "shared/text_table.h"
#include "shared/time_window.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

struct StatsOptions {
  std::vector<std::string> files;
  std::vector<std::string> channels;
  TimeWindow window;
  bool json = false;
  bool allRecords = false;
  unsigned jobs = defaultJobs();
};

// One channel's figures as the library found them.
struct ChannelFigures {
  std::string label, unit;
  KDRVX_WindowStatistics found{};
};

// What one file came to: its window and the channels chosen, or why it was
// not read.
struct FileFigures {
  RecordSpan span;
  uint64_t records = 0;  // the records the library took
  std::vector<ChannelFigures> channels;
  std::string error;  // "" for a file read
};

void hearProgress(uint64_t done, uint64_t, void* context) {
  static_cast<Progress*>(context)->update(done);
}

// The file's figures over the window; its findings warned about on `err`.
// `showProgress`: a progress bar while the records are read (one file only,
// as the bar takes the terminal's last line).
FileFigures figuresOf(const StatsOptions& options, const std::string& file, std::ostream& err,
                      bool showProgress) {
  Reader reader(file);
  const RecordCount count = requireReadable(reader, options.allRecords, err);
  RecordingInfo info = reader.info();
  info.records = count.toRead;
  FileFigures figures;
  figures.span = recordSpan(options.window, info.scanInterval, info.records);
  const std::vector<int> chosen = selectChannels(info, options.channels);

  Progress progress("stats", showProgress ? figures.span.count() : 0);
  const std::vector<KDRVX_WindowStatistics> found = reader.statistics(
      figures.span.first, figures.span.count(), showProgress ? hearProgress : nullptr, &progress);
  progress.finish();
  figures.records = found.empty() ? figures.span.count() : found.front().records;
  for (int index : chosen) {
    const ChannelInfo& channel = info.channels[index];
    figures.channels.push_back({channel.label, channel.unit, found[index]});
  }
  return figures;
}

// ---- the table ----

// A figure with as many digits as a float holds; "-" for none.
std::string figureText(double value) {
  if (std::isnan(value)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.7g", value);
  return text;
}

// The window as --records takes it: "0:999"; "-" for none.
std::string windowText(const FileFigures& figures) {
  if (figures.records == 0) return "-";
  return std::to_string(figures.span.first) + ":" +
         std::to_string(figures.span.first + figures.records - 1);
}

// A multichannel's records with each bit set: "bit0 12, bit1 0, ...".
std::string bitsText(const KDRVX_WindowStatistics& found) {
  std::string text;
  for (uint32_t k = 0; k < found.multiChannelBits; ++k) {
    if (k > 0) text += ", ";
    text += "bit" + std::to_string(k) + " " + std::to_string(found.bitsSet[k]);
  }
  return text;
}

void printTable(const std::vector<std::string>& files, const std::vector<FileFigures>& all) {
  bool anyRead = false, anyBits = false;
  for (const FileFigures& figures : all) {
    anyRead = anyRead || figures.error.empty();
    for (const ChannelFigures& channel : figures.channels)
      anyBits = anyBits || channel.found.multiChannelBits != 0;
  }
  if (!anyRead) return;
  const bool several = files.size() > 1;
  std::vector<std::string> headings = {"Records", "Channel", "Unit", "Min", "Max",
                                       "Mean",    "RMS",     "SD",   "NaN", "Inf"};
  if (several) headings.insert(headings.begin(), "File");
  if (anyBits) headings.push_back("Bits set");
  TextTable table(headings);
  for (size_t i = 0; i < all.size(); ++i) {
    const FileFigures& figures = all[i];
    for (const ChannelFigures& channel : figures.channels) {
      const KDRVX_WindowStatistics& f = channel.found;
      std::vector<std::string> row = {windowText(figures), channel.label, channel.unit};
      if (several) row.insert(row.begin(), files[i]);
      if (f.multiChannelBits != 0) {
        // Bit fields: what counts is which bits they set, not their
        // patterns read as numbers.
        row.insert(row.end(), {"-", "-", "-", "-", "-", "-", "-", bitsText(f)});
      } else {
        row.insert(row.end(),
                   {figureText(f.minValue), figureText(f.maxValue), figureText(f.meanValue),
                    figureText(f.rmsValue), figureText(f.sdevValue), std::to_string(f.nanValues),
                    std::to_string(f.infiniteValues)});
        if (anyBits) row.emplace_back();
      }
      table.add(std::move(row));
    }
  }
  table.print(std::cout);
}

// ---- JSON ----

std::string jsonText(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The shortest text that reads back to the same double; null for none.
std::string jsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, value);
  return std::string(text, written.ptr);
}

std::string channelJson(const ChannelFigures& channel) {
  const KDRVX_WindowStatistics& f = channel.found;
  std::string json =
      "{\"channel\": " + jsonText(channel.label) + ", \"unit\": " + jsonText(channel.unit) +
      ", \"finite\": " + std::to_string(f.finiteValues) +
      ", \"nan\": " + std::to_string(f.nanValues) +
      ", \"inf\": " + std::to_string(f.infiniteValues) + ", \"min\": " + jsonNumber(f.minValue) +
      ", \"max\": " + jsonNumber(f.maxValue) + ", \"mean\": " + jsonNumber(f.meanValue) +
      ", \"rms\": " + jsonNumber(f.rmsValue) + ", \"sd\": " + jsonNumber(f.sdevValue);
  if (f.multiChannelBits != 0) {
    json += ", \"bits\": [";
    for (uint32_t k = 0; k < f.multiChannelBits; ++k)
      json += (k > 0 ? ", " : "") + std::to_string(f.bitsSet[k]);
    json += "]";
  }
  return json + "}";
}

// One JSON array, one object per file in their order.
void printJson(const std::vector<std::string>& files, const std::vector<FileFigures>& all) {
  std::string json = "[";
  for (size_t i = 0; i < all.size(); ++i) {
    const FileFigures& figures = all[i];
    json += i > 0 ? ",\n  " : "\n  ";
    if (!figures.error.empty()) {
      const std::string why = unreadDocument(files[i], figures.error)["error"];
      json += "{\"file\": " + jsonText(files[i]) + ", \"error\": " + jsonText(why) + "}";
      continue;
    }
    json += "{\"file\": " + jsonText(files[i]) +
            ", \"first_record\": " + std::to_string(figures.span.first) +
            ", \"records\": " + std::to_string(figures.records) + ", \"channels\": [";
    for (size_t k = 0; k < figures.channels.size(); ++k)
      json += (k > 0 ? ",\n    " : "\n    ") + channelJson(figures.channels[k]);
    json += figures.channels.empty() ? "]}" : "\n  ]}";
  }
  std::cout << json << (all.empty() ? "]\n" : "\n]\n");
}

int runStats(const StatsOptions& options) {
  // A malformed window is a usage error before any file is opened.
  recordSpan(options.window, 1, UINT64_MAX);
  std::vector<FileFigures> all(options.files.size());
  const bool one = options.files.size() == 1;
  if (one && !options.json) {
    all.front() = figuresOf(options, options.files.front(), std::cerr, true);
    printTable(options.files, all);
    return kExitOk;
  }
  // Each file's figures, filled by the thread that reads it; a file that
  // cannot be read is named on stderr and keeps its reason for JSON.
  const auto each = [&](size_t index, std::ostream&, std::ostream& err) {
    const std::string& file = options.files[index];
    try {
      all[index] = figuresOf(options, file, err, one);
    } catch (const ToolError& error) {
      all[index].error = error.what();
      throw;
    }
    return FileOutcome::Clean;
  };
  const FileTally tally = forEachFile(options.files, options.jobs, each);
  if (options.json) {
    printJson(options.files, all);
  } else {
    printTable(options.files, all);
  }
  return tally.exitStatus();
}

Run addStatsOptions(CLI::App& command) {
  auto options = std::make_shared<StatsOptions>();
  command.add_option("FILE", options->files, "RVX files")->required();
  command
      .add_option("--channels", options->channels,
                  "Channels by variable, label or #index, e.g. p1,T2 (default: all)")
      ->delimiter(',');
  addTimeWindowOptions(command, options->window);
  command.add_flag("--json", options->json,
                   "One JSON array, one entry per file in their order ({\"file\", \"error\"} for "
                   "a file not read); figures as the shortest text that reads back to the same "
                   "double, null where a channel has no finite value");
  command.add_flag("--all-records", options->allRecords, kAllRecordsHelp);
  command.add_option("-j,--jobs", options->jobs, kJobsHelp)->check(countFromOne())->type_name("N");
  command.footer(
      "Per channel over the window: the minimum, maximum, mean, RMS and standard deviation "
      "(population, divided by the values' count) of its finite values, in double precision, "
      "and how many values are NaN and how many infinite. A multichannel shows instead, for "
      "each bit, the records that set it. The library computes every figure. With several "
      "files the window applies to each and one table (or JSON array) holds them all; the "
      "exit status is 1 when any file cannot be read.\n"
      "Example: rvx stats run.rvx --channels p1,T2 --from 2 --to 2.5\n"
      "Example: rvx stats day1.rvx day2.rvx --records 0:999 --json");
  return [options] { return runStats(*options); };
}

}  // namespace

extern const Subcommand kStatsSubcommand{
    "stats", "Minimum, maximum, mean, RMS and SD of each channel over a window of records",
    addStatsOptions};

}  // namespace rvx
