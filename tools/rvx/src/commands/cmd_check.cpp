// rvx check: a validator. The library checks each file (KDRVX_Check): it
// measures the header's claims against the bytes, reads every record and
// recomputes what a properly closed file holds; rvx reports its findings in
// the library's words. Several files are checked on threads at once.
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "commands/commands.h"
#include "commands/json_documents.h"
#include "commands/subcommand.h"
#include "files/many_files.h"
#include "inputs/findings.h"
#include "shared/arguments.h"
#include "shared/library.h"
#include "shared/system_reason.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

struct CheckOptions {
  std::vector<std::string> files;
  bool json = false;
  unsigned jobs = defaultJobs();
};

std::string plural(uint64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// What the library found in one channel for `finding`, in figures.
std::string channelFigures(uint32_t finding, const KDRVX_CheckChannel& channel) {
  if (finding == KDRVX_FINDING_STRAY_BITS) {
    char bits[16];
    std::snprintf(bits, sizeof bits, "0x%08X", channel.firstStrayBits);
    return " (" + plural(channel.strayRecords, "record") + ", the first is record " +
           std::to_string(channel.firstStrayRecord) + ", " + bits + ")";
  }
  if (finding == KDRVX_FINDING_STATISTICS_DIFFER) {
    std::vector<std::string> which;
    const std::pair<uint32_t, const char*> names[] = {{KDRVX_STATISTIC_MIN, "minimum"},
                                                      {KDRVX_STATISTIC_MAX, "maximum"},
                                                      {KDRVX_STATISTIC_MEAN, "mean"},
                                                      {KDRVX_STATISTIC_RMS, "RMS"}};
    for (const auto& [bit, name] : names) {
      if (channel.statisticsDiffer & bit) which.push_back(name);
    }
    // "(stored minimum, mean and RMS)"
    std::string list;
    for (size_t i = 0; i < which.size(); ++i) {
      list += (i == 0 ? "" : i + 1 == which.size() ? " and " : ", ") + which[i];
    }
    return " (stored " + list + ")";
  }
  if (finding == KDRVX_FINDING_VARIABLE && channel.duplicateOf >= 0) {
    return " (that of channel " + std::to_string(channel.duplicateOf) + ")";
  }
  return "";
}

// What check found in one file.
struct CheckReport {
  std::string file, layout;
  uint64_t bytes = 0;
  std::vector<std::string> findings;
  std::string error;  // why the library does not open the file, or ""
};

CheckReport checkFile(const std::string& name) {
  // Room for the channels that the header names, and why the library does
  // not open the file, with the system's reason.
  std::string why;
  size_t count = 0;
  if (const std::unique_ptr<Reader> reader = Reader::tryOpen(name, why)) {
    count = reader->channelCount();
  }
  std::vector<KDRVX_CheckChannel> channels(count);
  for (KDRVX_CheckChannel& channel : channels) channel.size = sizeof channel;
  KDRVX_CheckReport found{};
  found.size = sizeof found;
  const uint32_t status =
      KDRVX_Check(chars(widePath(name)), &found, channels.empty() ? nullptr : channels.data(),
                  static_cast<uint32_t>(channels.size()), nullptr, nullptr);
  // The records could not all be read: the check says nothing of them.
  if (status == KDRVX_ERR_RVX_OPEN_READ && found.systemError != 0)
    throw ToolError(name + ": reading the records failed after " +
                    std::to_string(found.recordsRead) + " records: " + statusText(status) + ": " +
                    windowsErrorReason(found.systemError, name));
  require(status, name);

  const KDRVX_Findings& claims = found.claims;
  CheckReport report{name, layoutName(claims.layout), claims.fileLength, {}, {}};
  for (uint32_t bit = 1; bit != 0; bit <<= 1) {
    if ((claims.findings & bit) == 0) continue;
    const std::string text = findingText(&claims, bit);
    bool perChannel = false;
    for (size_t k = 0; k < channels.size() && k < found.noChannels; ++k) {
      if ((channels[k].findings & bit) == 0) continue;
      perChannel = true;
      report.findings.push_back("channel " + std::to_string(k) + ": " + text +
                                channelFigures(bit, channels[k]));
    }
    if (perChannel) continue;
    if (bit == KDRVX_FINDING_NOT_OPENED) {
      report.error = why.empty() ? statusText(found.openStatus) : why;
      report.findings.push_back(text + ": " + report.error);
    } else {
      report.findings.push_back(text);
    }
  }
  return report;
}

void printReport(std::ostream& out, const CheckReport& report) {
  out << report.file << ": " << report.layout << " layout, " << plural(report.bytes, "byte")
      << '\n';
  const std::vector<std::string>& lines = report.findings;
  for (const std::string& line : lines) out << "  finding: " << line << '\n';
  out << report.file << ": " << (lines.empty() ? "no findings" : plural(lines.size(), "finding"))
      << '\n';
}

nlohmann::ordered_json reportJson(const CheckReport& report) {
  nlohmann::ordered_json document;
  document["file"] = report.file;
  document["layout"] = report.layout;
  document["bytes"] = report.bytes;
  document["findings"] = report.findings;
  if (!report.error.empty()) document["error"] = report.error;
  return document;
}

int runCheck(const CheckOptions& options) {
  if (options.files.size() == 1 && !options.json) {
    const CheckReport report = checkFile(options.files.front());
    printReport(std::cout, report);
    return report.findings.empty() ? kExitOk : kExitFailure;
  }
  // One document per file, filled by the thread that checks it; a file that
  // cannot be checked gets one that says why.
  std::vector<nlohmann::ordered_json> documents(options.files.size());
  const auto each = [&](size_t index, std::ostream& out, std::ostream&) {
    const std::string& file = options.files[index];
    try {
      const CheckReport report = checkFile(file);
      if (options.json) {
        documents[index] = reportJson(report);
      } else {
        printReport(out, report);
      }
      return report.findings.empty() ? FileOutcome::Clean : FileOutcome::Findings;
    } catch (const ToolError& error) {
      documents[index] = unreadDocument(file, error.what());
      throw;
    }
  };
  const FileTally tally = forEachFile(options.files, options.jobs, each);
  if (options.json) std::cout << documentsJson(std::move(documents));
  // With JSON on stdout the summary goes to stderr, so that stdout parses.
  if (options.files.size() > 1) {
    (options.json ? std::cerr : std::cout)
        << "rvx check: " << tally.summary("without findings", "with findings") << '\n';
  }
  return tally.exitStatus();
}

Run addCheckOptions(CLI::App& command) {
  auto options = std::make_shared<CheckOptions>();
  command.add_option("FILE", options->files, "RVX files")->required();
  command.add_flag("--json", options->json,
                   "The findings as JSON: one object, or one array of them for several files");
  command.add_option("-j,--jobs", options->jobs, kJobsHelp)->check(countFromOne())->type_name("N");
  command.footer(
      "Several files are checked at once (-j), reported in the order given, with one summary line "
      "at the end; the exit status is 1 when any file has findings or cannot be read.\n"
      "Example: rvx check *.rvx --json -j 4 > findings.json");
  return [options] { return runCheck(*options); };
}

}  // namespace

extern const Subcommand kCheckSubcommand{
    "check", "Validate layout, header, record count and statistics (exit 0 clean, 1 findings)",
    addCheckOptions};

}  // namespace rvx
