// What the subcommands of rvx share with each other (and with the
// benchmarks): export and plot, which the demo runs, import, and the report
// of `rvx info` (its JSON form is in json_documents.h, which only the
// commands that write JSON include). Each of these returns its exit status
// or throws ToolError.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "inputs/csv_dialect.h"
#include "inputs/findings.h"
#include "outputs/export_format.h"
#include "shared/library.h"
#include "shared/time_window.h"

namespace rvx {

struct ExportOptions {
  std::string file;
  std::string output;  // "" or "-": stdout
  std::vector<std::string> channels;
  TimeWindow window;  // --from/--to or --records
  bool noTime = false;
  bool allRecords = false;  // also the records beyond the header's count
  bool force = false;       // replace an existing output
  std::string format;       // csv, mat or hdf5; "" for the output's extension
  DialectOptions dialect;
  std::string timeUnit = "s";           // "s" or "ms"
  bool withMetadata = false;            // the header and channel properties before the heading
  std::string timeMode = "relative";    // --time: "relative" or "absolute"
  std::optional<std::string> timeZone;  // --tz
};
int runExport(const ExportOptions& options);
// What export's options make of the CSV text (rvx follow takes the
// defaults, so that it writes what export writes).
CsvShape csvShape(const ExportOptions& options);
// The plan of an export of `source`: the channels named (all when none are
// named) and the records of `window` among info.records.
ExportPlan exportPlan(const std::string& source, const RecordingInfo& info,
                      const std::vector<std::string>& channels, const TimeWindow& window);

// rvx import: a recording made from a CSV file.
struct FromCsvOptions {
  std::string input, output;
  std::optional<std::string> scanInterval;  // microseconds
  bool legacy = false;
  std::string language = "en";
  std::optional<std::string> comment, company, instrument, serialNumber, nameMeasurement,
      triggerSetting, date, time;  // date and time: also "unknown"
  std::optional<std::string> triggerRecord;
  std::optional<std::string> timeZone;     // --tz: the zone of timestamps with a UTC offset
  std::vector<std::string> multiChannels;  // VAR:BITS
  bool notOriginal = false;
  bool force = false;
  DialectOptions dialect;  // what is not given is detected
};
int runFromCsv(const FromCsvOptions& options);

struct PlotOptions {
  std::string file, output;
  std::string format;  // svg or png; "" from the output's extension
  std::vector<std::string> channels;
  TimeWindow window;
  bool overlay = false;  // measured channels in one panel
  uint32_t width = 900;
  uint32_t panelHeight = 150;
  bool allRecords = false;  // also the records beyond the header's count
  bool force = false;       // replace an existing output
};
int runPlot(const PlotOptions& options);

// Shared by info and demo: the report of `rvx info`. `info.records` is the
// number of records reported; `count` tells the header's count and what the
// data holds.
void printInfo(std::ostream& out, const std::string& file, const RecordingInfo& info,
               const RecordCount& count, const std::string& layout);
// Indexes of the channels named on the command line (all when none are
// named); an unknown name is a usage error that lists the known ones.
std::vector<int> selectChannels(const RecordingInfo& info, const std::vector<std::string>& names);

}  // namespace rvx
