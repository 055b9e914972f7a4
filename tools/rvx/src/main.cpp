// rvx: look into RVX recordings, get their data out, mend and upgrade them.
#include <CLI/CLI.hpp>
#include <iostream>

#include "commands.h"
#include "format/layout.h"
#include "format/limits.h"
#include "terminal.h"
#include "tool_error.h"
#include "utf.h"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

using namespace rvx;

// The arguments as UTF-8, whatever the console's code page.
std::vector<std::string> arguments(int argc, char** argv) {
  std::vector<std::string> result;
#if defined(_WIN32)
  (void)argc, (void)argv;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; i < count; ++i) {
    result.push_back(toUtf8(std::u16string(reinterpret_cast<const char16_t*>(wide[i]))));
  }
  LocalFree(wide);
#else
  for (int i = 1; i < argc; ++i) result.emplace_back(argv[i]);
#endif
  return result;
}

template <typename T>
void optionalText(CLI::App& command, const std::string& name, std::optional<T>& target,
                  const std::string& description) {
  command.add_option_function<T>(name, [&target](const T& value) { target = value; }, description);
}

}  // namespace

int main(int argc, char** argv) {
  prepareStandardStreams();
  CLI::App app{"rvx: look into RVX recordings, export and import their data, check, repair, "
               "convert and plot them.",
               "rvx"};
  app.set_version_flag("--version", [] { return libraryVersion(); }, "Print the library's version and exit");
  app.require_subcommand(1);
  app.fallthrough(false);

  InfoOptions info;
  auto* infoCommand = app.add_subcommand("info", "Layout, header texts, record count and the table of channels");
  infoCommand->add_option("FILE", info.file, "RVX file")->required();
  infoCommand->add_flag("--json", info.json, "One JSON document instead of the report");

  ExportOptions exports;
  auto* exportCommand = app.add_subcommand("export", "Records as CSV (RFC 4180)");
  exportCommand->add_option("FILE", exports.file, "RVX file")->required();
  exportCommand->add_option("-o,--output", exports.output, "CSV file (default: standard output)");
  exportCommand->add_option("--channels", exports.channels, "Channels by variable, e.g. p1,T2 (default: all)")
      ->delimiter(',');
  exportCommand->add_option("--records", exports.records,
                            "Records FIRST:LAST, counted from 0, both included; FIRST: or :LAST");
  exportCommand->add_flag("--no-time", exports.noTime, "Leave out the time column");

  ImportOptions imports;
  auto* importCommand = app.add_subcommand("import", "A CSV file (heading row 'variable [unit]') as a recording");
  importCommand->add_option("IN", imports.input, "CSV file, or - for standard input")->required();
  importCommand->add_option("-o,--output", imports.output, "RVX file to create")->required();
  optionalText(*importCommand, "--scan-interval-us", imports.scanInterval,
               "Microseconds between records (default: from the time column)");
  auto* legacy = importCommand->add_flag("--legacy", imports.legacy,
                                         "Compact WIN 3.x/4.x layout with an RVI file (at most " +
                                             std::to_string(kdrvx::format::kCompactMaxChannels) + " channels)");
  importCommand->add_option("--language", imports.language, "Language of the RVI file: de, en or fr (default en)")
      ->needs(legacy);
  optionalText(*importCommand, "--comment", imports.comment, "Comment (line breaks allowed)");
  optionalText(*importCommand, "--company", imports.company, "Company");
  optionalText(*importCommand, "--instrument", imports.instrument, "Measuring instrument");
  optionalText(*importCommand, "--serial-number", imports.serialNumber, "Serial number of the instrument");
  optionalText(*importCommand, "--name", imports.nameMeasurement, "Name of the measurement");
  optionalText(*importCommand, "--trigger-setting", imports.triggerSetting, "Trigger condition");
  optionalText(*importCommand, "--trigger-record", imports.triggerRecord, "Record at which the trigger fired");
  optionalText(*importCommand, "--date", imports.date, "Recording date DD.MM.YYYY (default: today)");
  optionalText(*importCommand, "--time", imports.time, "Recording time HH:MM[:SS] (default: now)");
  importCommand->add_option("--multichannel", imports.multiChannels,
                            "VARIABLE:BITS: the column holds bit fields as unsigned integers");
  importCommand->add_flag("--not-original", imports.notOriginal, "Mark the file as not an original recording");
  importCommand->add_flag("-f,--force", imports.force, "Overwrite an existing output file");

  ConvertOptions convert;
  auto* convertCommand = app.add_subcommand("convert", "Any layout to the current layout");
  convertCommand->add_option("IN", convert.input, "RVX file of any layout")->required();
  convertCommand->add_option("-o,--output", convert.output, "RVX file to create")->required();
  convertCommand->add_flag("-f,--force", convert.force, "Overwrite an existing output file");

  ModifyOptions modify;
  auto* modifyCommand = app.add_subcommand("modify", "Change comment and measurement name in place");
  modifyCommand->add_option("FILE", modify.file, "RVX file of the current layout")->required();
  optionalText(*modifyCommand, "--comment", modify.comment,
               "New comment (at most " + std::to_string(kdrvx::format::kCommentLimit) + " characters)");
  optionalText(*modifyCommand, "--name", modify.nameMeasurement,
               "New measurement name (at most " + std::to_string(kdrvx::format::kNameMeasurementLimit) +
                   " characters)");

  CheckOptions check;
  auto* checkCommand = app.add_subcommand(
      "check", "Validate layout, header, record count and statistics (exit 0 clean, 1 findings)");
  checkCommand->add_option("FILE", check.file, "RVX file")->required();

  RepairOptions repair;
  auto* repairCommand = app.add_subcommand(
      "repair", "Recount records and statistics of a recording that stopped before its final header");
  repairCommand->add_option("FILE", repair.file, "RVX file of the current layout")->required();
  repairCommand->add_option("-o,--output", repair.output, "Write the repaired file here instead of in place");

  PlotOptions plot;
  auto* plotCommand = app.add_subcommand("plot", "Quick-look SVG, one panel per channel");
  plotCommand->add_option("FILE", plot.file, "RVX file")->required();
  plotCommand->add_option("-o,--output", plot.output, "SVG file")->required();
  plotCommand->add_option("--channels", plot.channels, "Channels by variable, e.g. p1,T2 (default: all)")
      ->delimiter(',');
  plotCommand->add_option("--width", plot.width, "Pixels of the time axis (default 900)");
  plotCommand->add_option("--panel-height", plot.panelHeight, "Pixels per channel (default 150)");

  DemoOptions demo;
  auto* demoCommand = app.add_subcommand(
      "demo", "Record a synthetic 10 s, 1 kHz, 8-channel recording and show what rvx does with it");
  demoCommand->add_option("DIR", demo.directory, "Directory for the files (default ./rvx-demo)");

  try {
    std::vector<std::string> args = arguments(argc, argv);
    std::reverse(args.begin(), args.end());  // CLI11 takes them from the back
    app.parse(args);
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? kExitOk : kExitUsage;
  }

  try {
    if (*infoCommand) return runInfo(info);
    if (*exportCommand) return runExport(exports);
    if (*importCommand) return runImport(imports);
    if (*convertCommand) return runConvert(convert);
    if (*modifyCommand) return runModify(modify);
    if (*checkCommand) return runCheck(check);
    if (*repairCommand) return runRepair(repair);
    if (*plotCommand) return runPlot(plot);
    if (*demoCommand) return runDemo(demo);
  } catch (const ToolError& error) {
    std::cout.flush();
    std::cerr << "rvx: " << error.what() << '\n';
    if (error.status() == kExitUsage) std::cerr << "Run with --help for more information.\n";
    return error.status();
  } catch (const std::exception& error) {
    std::cout.flush();
    std::cerr << "rvx: " << error.what() << '\n';
    return kExitFailure;
  }
  return kExitUsage;
}
