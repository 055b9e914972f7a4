// The subcommands of rvx. Each returns its exit status or throws ToolError.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "library.h"

namespace rvx {

struct InfoOptions {
  std::string file;
  bool json = false;
};
int runInfo(const InfoOptions& options);

struct ExportOptions {
  std::string file;
  std::string output;  // "" or "-": stdout
  std::vector<std::string> channels;
  std::string records;
  bool noTime = false;
};
int runExport(const ExportOptions& options);

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
int runImport(const ImportOptions& options);

struct ConvertOptions {
  std::string input, output;
  bool force = false;
};
int runConvert(const ConvertOptions& options);

struct ModifyOptions {
  std::string file;
  std::optional<std::string> comment, nameMeasurement;
};
int runModify(const ModifyOptions& options);

struct CheckOptions {
  std::string file;
};
int runCheck(const CheckOptions& options);

struct RepairOptions {
  std::string file, output;
};
int runRepair(const RepairOptions& options);

struct PlotOptions {
  std::string file, output;
  std::vector<std::string> channels;
  uint32_t width = 900;
  uint32_t panelHeight = 150;
};
int runPlot(const PlotOptions& options);

struct DemoOptions {
  std::string directory = "rvx-demo";
};
int runDemo(const DemoOptions& options);

// Shared by info and demo: the report of `rvx info`.
void printInfo(std::ostream& out, const std::string& file, const RecordingInfo& info,
               const std::string& layout);
std::string infoJson(const std::string& file, const RecordingInfo& info, const std::string& layout);
// Layout name of a file from its first bytes ("" when it cannot be read).
std::string fileLayoutName(const std::string& file);

// Indexes of the channels named on the command line (all when none are
// named); an unknown name is a usage error that lists the known ones.
std::vector<int> selectChannels(const RecordingInfo& info, const std::vector<std::string>& names);

}  // namespace rvx
