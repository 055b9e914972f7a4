// rvx repair: the library repairs a current-layout file whose recording
// stopped before its final header (KDRVX_Repair): the header gets the count
// of the whole records its data holds and their statistics; every other
// byte stays. The repaired copy is written to the output's temporary name
// and put in place by the rules of every output.
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>

#include "commands/commands.h"
#include "commands/subcommand.h"
#include "files/output_file.h"
#include "inputs/findings.h"
#include "shared/number_text.h"
#include "shared/system_reason.h"
#include "shared/terminal.h"
#include "shared/tool_error.h"
#include "shared/utf.h"

namespace rvx {

namespace {

struct RepairOptions {
  std::string file, output;
  bool force = false;
};

void showProgress(uint64_t done, uint64_t, void* progress) {
  static_cast<Progress*>(progress)->update(done);
}

// What the repair would do, or why it refuses the file: other layouts, and
// headers that cannot be true; repair recounts records, it does not guess a
// header.
KDRVX_RepairReport plannedRepair(const std::string& file) {
  KDRVX_RepairReport report{};
  report.size = sizeof report;
  const uint32_t status = KDRVX_Repair(chars(widePath(file)), nullptr, &report, nullptr, nullptr);
  if (status == 0) return report;
  if (report.refusal == KDRVX_FINDING_NOT_OPENED) {
    const Reader opened(file);  // throws with the library's and the system's reason
  }
  for (uint32_t bit = 1; bit != 0; bit <<= 1) {
    if ((report.refusal & bit) != 0) {
      throw ToolError(file + ": " + findingText(nullptr, bit) + "; repair does not guess a header");
    }
  }
  if (status == KDRVX_ERR_RVX_MODIFY_NOT_POSSIBLE && report.layout != KDRVX_LAYOUT_CURRENT) {
    throw ToolError(file + ": the layout is " + layoutName(report.layout) +
                    "; repair mends current-layout files (rvx convert reads the others)");
  }
  require(status, file);
  return report;
}

// The repaired recording into `out`, which takes the place of its target.
void writeRepaired(const std::string& source, OutputFile& out, uint64_t records) {
  const std::string path = out.handOver();
  // The library writes a new file only.
  std::error_code ignored;
  std::filesystem::remove(toPath(path), ignored);
  KDRVX_RepairReport report{};
  report.size = sizeof report;
  Progress progress("repair", records);
  const uint32_t status = KDRVX_Repair(chars(widePath(source)), chars(widePath(path)), &report,
                                       showProgress, &progress);
  if (status != 0 && report.systemError != 0) {
    throw ToolError(out.name() + ": " + statusText(status) + ": " +
                    windowsErrorReason(report.systemError, path));
  }
  require(status, out.name());
  progress.finish();
}

void reportRecount(const std::string& name, const KDRVX_RepairReport& report) {
  std::cout << name << ": " << counted(report.newRecords, "whole record");
  if (report.oldRecords != report.newRecords)
    std::cout << " (the header said " << report.oldRecords << ")";
  std::cout << '\n';
  if (report.trailingBytes) {
    std::cout << name << ": a partial record of " << counted(report.trailingBytes, "byte")
              << " at the end is left out of the count (its bytes are kept)\n";
  }
}

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ignored;
  return std::filesystem::equivalent(toPath(a), toPath(b), ignored);
}

int runRepair(const RepairOptions& options) {
  const KDRVX_RepairReport report = plannedRepair(options.file);
  const bool elsewhere = !options.output.empty() && !sameFile(options.file, options.output);
  std::unique_ptr<OutputFile> out;
  if (elsewhere) out = std::make_unique<OutputFile>(options.output, existingFrom(options.force));
  // The library's open fails while a recording still holds the file, and
  // while it is open for reading here no recording starts on it.
  std::optional<Reader> held(std::in_place, options.file);
  reportRecount(options.file, report);

  if (elsewhere) {
    writeRepaired(options.file, *out, report.newRecords);
    held.reset();
    out->commit();
    std::cout << options.output << ": written with "
              << (report.changed ? "the repaired" : "the unchanged") << " header\n";
  } else if (!report.changed) {
    std::cout << options.file << ": count and statistics are right; nothing to repair\n";
  } else {
    // In place is what was asked for; a symbolic link's file is repaired.
    OutputFile inPlace(options.file, Existing::Replace);
    writeRepaired(options.file, inPlace, report.newRecords);
    held.reset();
    inPlace.commit();
    std::cout << options.file << ": repaired in place\n";
  }
  return kExitOk;
}

Run addRepairOptions(CLI::App& command) {
  auto options = std::make_shared<RepairOptions>();
  command.add_option("FILE", options->file, "RVX file of the current layout")->required();
  command.add_option("-o,--output", options->output,
                     "Write the repaired file here instead of in place");
  command.add_flag("-f,--force", options->force, "Replace an existing output file");
  return [options] { return runRepair(*options); };
}

}  // namespace

extern const Subcommand kRepairSubcommand{
    "repair", "Recount records and statistics of a recording that stopped before its final header",
    addRepairOptions};

}  // namespace rvx
