// rvx check: a validator. It reads the header bytes itself and measures
// them against the file, and asks the library, through a reader, whether it
// opens the file. Several files are checked on threads at once.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "commands/commands.h"
#include "commands/subcommand.h"
#include "files/many_files.h"
#include "inputs/raw_file.h"
#include "shared/number_text.h"
#include "shared/tool_error.h"
#include "shared/utf.h"

namespace rvx {

namespace {

struct CheckOptions {
  std::vector<std::string> files;
  bool json = false;
  unsigned jobs = defaultJobs();
};

using kdrvx::format::Layout;
using kdrvx::format::LayoutId;
using kdrvx::format::MGR_DEF;
using kdrvx::format::RecordKind;
using kdrvx::format::RVX_HEADER;

struct Findings {
  std::vector<std::string> lines;
  void add(std::string line) { lines.push_back(std::move(line)); }
};

std::string plural(uint64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

template <size_t N>
bool terminated(const char16_t (&field)[N]) {
  for (char16_t c : field) {
    if (c == 0) return true;
  }
  return false;
}

bool sameValue(float stored, float computed) {
  return std::bit_cast<uint32_t>(stored) == std::bit_cast<uint32_t>(computed) ||
         (std::isnan(stored) && std::isnan(computed)) || stored == computed;
}

// Mean and RMS of files from other writers may differ in the last places
// by the order of summation; an infinite or NaN value is the same or wrong.
bool closeValue(float stored, float computed) {
  if (sameValue(stored, computed)) return true;
  if (!std::isfinite(stored) || !std::isfinite(computed)) return false;
  const double scale =
      std::max(std::fabs(static_cast<double>(stored)), std::fabs(static_cast<double>(computed)));
  return std::fabs(static_cast<double>(stored) - computed) <= scale * 1e-5;
}

std::string variableOf(const MGR_DEF& channel) {
  std::u16string text;
  if (channel.VariablePrefix) text += channel.VariablePrefix;
  text += channel.VariableLetter;
  return toUtf8(text) + std::to_string(channel.VariableIndex);
}

void checkRecordCount(uint64_t stored, uint64_t whole, uint64_t trailing, Findings& findings) {
  if (stored < whole) {
    findings.add("stale record count: the header says " + plural(stored, "record") +
                 ", the data area holds " + std::to_string(whole) + " whole records (" +
                 std::to_string(whole - stored) +
                 " beyond the count; a recording that stopped before its final header?"
                 " rvx repair recounts)");
  } else if (stored > whole) {
    findings.add("the header says " + plural(stored, "record") + " but the file holds only " +
                 std::to_string(whole) + " (truncated?)");
  }
  if (trailing) {
    findings.add("partial trailing record: " + plural(trailing, "byte") +
                 " after the last whole record");
  }
}

// Channel count, header size and header length against the file; false
// when the header does not describe itself and nothing else can be judged.
bool checkHeaderGeometry(const RawFile& file, Findings& findings) {
  const RVX_HEADER& h = *file.header;
  const uint32_t n = h.NoChannels;
  if (n < 1 || n > kdrvx::format::kMaxChannels) {
    findings.add("the channel count " + std::to_string(n) + " is outside 1 to " +
                 std::to_string(kdrvx::format::kMaxChannels));
    return false;
  }
  const uint32_t length = kdrvx::format::headerLength(n);
  if (h.HeaderSize != kdrvx::format::headerSizeField(n)) {
    findings.add("the header size field says " + std::to_string(h.HeaderSize) + " bytes; " +
                 plural(n, "channel") + " need " +
                 std::to_string(kdrvx::format::headerSizeField(n)));
    return false;
  }
  if (file.length < length) {
    findings.add("the file ends inside its header (" + std::to_string(file.length) + " of " +
                 std::to_string(length) + " bytes)");
    return false;
  }
  return true;
}

void checkDateAndTexts(const RVX_HEADER& h, Findings& findings) {
  constexpr uint8_t kUnknown = kdrvx::format::kNoSeconds;  // also marks an unknown hour or minute
  if (h.Month > 12 || h.Day > 31 || (h.Hour > 23 && h.Hour != kUnknown) ||
      (h.Minute > 59 && h.Minute != kUnknown) || (h.Second > 59 && h.Second != kUnknown)) {
    findings.add("implausible date or time in the header");
  }
  const std::pair<const char*, bool> texts[] = {{"comment", terminated(h.Comment)},
                                                {"company", terminated(h.Company)},
                                                {"instrument", terminated(h.Instrument)},
                                                {"serial number", terminated(h.SnrInstrument)},
                                                {"measurement name", terminated(h.NameMeasurement)},
                                                {"trigger setting", terminated(h.TriggerSetting)}};
  for (const auto& [name, ok] : texts) {
    if (!ok) findings.add(std::string("the ") + name + " has no terminating zero");
  }
}

bool textsTerminated(const MGR_DEF& c) {
  return terminated(c.ChannelUnit) && terminated(c.ChannelName) && terminated(c.ChannelNumber) &&
         terminated(c.ChannelSignalType) && terminated(c.ChannelZeroPoint) &&
         terminated(c.ChannelCalParameter) && terminated(c.ChannelFilter) &&
         terminated(c.ChannelLintab);
}

void checkChannels(const RVX_HEADER& h, Findings& findings) {
  for (uint32_t k = 0; k < h.NoChannels; ++k) {
    const MGR_DEF& c = h.Channel[k];
    const std::string label = "channel " + std::to_string(k);
    if (c.VariableLetter == 0 || c.VariableIndex <= 0)
      findings.add(label + " has no valid variable");
    for (uint32_t j = 0; j < k; ++j) {
      const MGR_DEF& o = h.Channel[j];
      if (c.VariableLetter && o.VariableLetter == c.VariableLetter &&
          o.VariablePrefix == c.VariablePrefix && o.VariableIndex == c.VariableIndex) {
        findings.add(label + " has the variable " + variableOf(c) + " of channel " +
                     std::to_string(j));
      }
    }
    if (c.MultiChannel > 32)
      findings.add(label + " is a multichannel of " + std::to_string(c.MultiChannel) + " bits");
    if (!textsTerminated(c)) findings.add(label + " has a text without a terminating zero");
  }
}

// The stored statistics against those of the counted records.
void checkStatistics(const RVX_HEADER& h, const Recount& recount, Findings& findings) {
  if (h.FlagStatistics != 0 && h.FlagStatistics != 1 && h.FlagStatistics != 3) {
    findings.add("the statistics flag is " + std::to_string(h.FlagStatistics) + ", not 0, 1 or 3");
    return;
  }
  const uint64_t counted = recount.records;
  if (counted == 0) return;
  if (h.FlagStatistics == 0) {
    findings.add("no statistics stored (flag 0) for a file with records");
    return;
  }
  for (uint32_t k = 0; k < h.NoChannels; ++k) {
    const MGR_DEF& c = h.Channel[k];
    const ChannelStatistics& computed = recount.channels[k];
    std::string wrong;
    if (!sameValue(c.MinValue, computed.minimum)) wrong += " minimum";
    if (!sameValue(c.MaxValue, computed.maximum)) wrong += " maximum";
    if (h.FlagStatistics == 3 && !closeValue(c.MeanValue, computed.mean)) wrong += " mean";
    if (h.FlagStatistics == 3 && !closeValue(c.RMSValue, computed.rms)) wrong += " RMS";
    if (!wrong.empty()) {
      findings.add("channel " + std::to_string(k) + " (" + variableOf(c) + "): stored" + wrong +
                   " differ from the " + plural(counted, "counted record"));
    }
  }
}

// A multichannel of n bits sets none of the bits above them.
void checkBitFields(const RVX_HEADER& h, const Recount& recount, Findings& findings) {
  for (uint32_t k = 0; k < h.NoChannels; ++k) {
    const StrayBits& stray = recount.strayBits[k];
    if (stray.records == 0) continue;
    char bits[16];
    std::snprintf(bits, sizeof bits, "0x%08X", stray.firstBits);
    findings.add("channel " + std::to_string(k) + " (" + variableOf(h.Channel[k]) +
                 "): " + plural(stray.records, "record") + " set bits beyond its " +
                 std::to_string(h.Channel[k].MultiChannel) + " bits (the first is record " +
                 std::to_string(stray.first) + ", " + bits + ")");
  }
}

void checkCurrent(const RawFile& file, Findings& findings) {
  if (!checkHeaderGeometry(file, findings)) return;
  const RVX_HEADER& h = *file.header;
  checkDateAndTexts(h, findings);
  checkChannels(h, findings);
  const DataArea area = dataArea(file);
  checkRecordCount(h.NoRecords, area.wholeRecords, area.trailingBytes, findings);
  const Recount recount = recountRecords(file, std::min<uint64_t>(h.NoRecords, area.wholeRecords));
  checkStatistics(h, recount, findings);
  checkBitFields(h, recount, findings);
}

// The WIN layouts store the length of their header, which their fixed part
// and channel entries fill; the DOS layouts store none that could be
// compared.
bool storesHeaderLength(LayoutId id) {
  return id == LayoutId::Win2 || id == LayoutId::Win3 || id == LayoutId::Win6;
}

void checkHeaderLength(const RawFile& file, const Layout& layout, uint32_t n, Findings& findings) {
  const uint32_t stored = file.converted->HeaderSize;
  const uint64_t needed = layout.fixedSize + uint64_t{layout.entrySize} * n;
  if (stored != needed) {
    findings.add("the header size field says " + std::to_string(stored) + " bytes; " +
                 plural(n, "channel") + " of this layout need " + std::to_string(needed));
  }
}

// Older layouts, measured from where the library reads their first record.
void checkLegacy(const RawFile& file, const Reader& reader, Findings& findings) {
  const Layout& layout = *file.recognised.layout;
  const uint32_t n = reader.channelCount();
  const auto offset = static_cast<uint64_t>(file.recognised.dataOffset);
  if (storesHeaderLength(layout.id)) checkHeaderLength(file, layout, n, findings);
  if (file.length < offset) {
    findings.add("the file ends inside its header (" + std::to_string(file.length) + " of " +
                 std::to_string(offset) + " bytes)");
    return;
  }
  const uint64_t stored = reader.headerRecords();
  const auto records = dataRecords(file, stored);
  if (!records) {
    findings.add("a channel has the individual rate 0, which gives no sampling rule");
    return;
  }
  if (n == 0) return;
  checkRecordCount(stored, records->whole, records->trailingBytes, findings);
}

std::filesystem::path rviCompanion(const std::string& file) {
  // The library drops the last three characters, whatever they are.
  std::u16string name = widePath(file);
  if (name.size() >= 3) name.resize(name.size() - 3);
  return std::filesystem::path(name + u"RVI");
}

// What check found in one file.
struct CheckReport {
  std::string file, layout;
  uint64_t bytes = 0;
  Findings findings;
};

CheckReport checkFile(const std::string& name) {
  const RawFile file = readRawFile(name);
  CheckReport report{name, layoutName(file), file.length, {}};
  Findings& findings = report.findings;

  const Layout* layout = file.recognised.layout;
  const bool current = file.hasLayout(LayoutId::Current);
  if (current) checkCurrent(file, findings);

  // What the library makes of it.
  std::string why;
  const std::unique_ptr<Reader> reader = Reader::tryOpen(name, why);
  if (!reader) {
    findings.add("the library does not open it: " + why);
  } else {
    if (layout != nullptr && !current) checkLegacy(file, *reader, findings);
    if (layout != nullptr && layout->summaryFile) {
      std::error_code error;
      const auto rvi = rviCompanion(name);
      if (!std::filesystem::is_regular_file(rvi, error)) {
        findings.add(
            "no RVI file " + pathText(rvi) +
            " beside it: company, instrument, measurement name and channel texts are unknown");
      }
    }
  }
  return report;
}

void printReport(std::ostream& out, const CheckReport& report) {
  out << report.file << ": " << report.layout << " layout, " << plural(report.bytes, "byte")
      << '\n';
  const std::vector<std::string>& lines = report.findings.lines;
  for (const std::string& line : lines) out << "  finding: " << line << '\n';
  out << report.file << ": " << (lines.empty() ? "no findings" : plural(lines.size(), "finding"))
      << '\n';
}

nlohmann::ordered_json reportJson(const CheckReport& report) {
  nlohmann::ordered_json document;
  document["file"] = report.file;
  document["layout"] = report.layout;
  document["bytes"] = report.bytes;
  document["findings"] = report.findings.lines;
  return document;
}

std::string jsonText(const nlohmann::ordered_json& document) {
  return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

int runCheck(const CheckOptions& options) {
  if (options.files.size() == 1) {
    const CheckReport report = checkFile(options.files.front());
    if (options.json) {
      std::cout << jsonText(reportJson(report));
    } else {
      printReport(std::cout, report);
    }
    return report.findings.lines.empty() ? kExitOk : kExitFailure;
  }
  // One slot per file, filled by the thread that checks it.
  std::vector<std::optional<nlohmann::ordered_json>> documents(options.files.size());
  const auto each = [&](size_t index, std::ostream& out, std::ostream&) {
    const CheckReport report = checkFile(options.files[index]);
    if (options.json) {
      documents[index] = reportJson(report);
    } else {
      printReport(out, report);
    }
    return report.findings.lines.empty() ? FileOutcome::Clean : FileOutcome::Findings;
  };
  const FileTally tally = forEachFile(options.files, options.jobs, each);
  if (options.json) {
    auto all = nlohmann::ordered_json::array();
    for (auto& document : documents)
      if (document) all.push_back(std::move(*document));
    std::cout << jsonText(all);
  }
  // With JSON on stdout the summary goes to stderr, so that stdout parses.
  (options.json ? std::cerr : std::cout)
      << "rvx check: " << tally.summary("without findings", "with findings") << '\n';
  return tally.exitStatus();
}

Run addCheckOptions(CLI::App& command) {
  auto options = std::make_shared<CheckOptions>();
  command.add_option("FILE", options->files, "RVX files")->required();
  command.add_flag("--json", options->json,
                   "The findings as JSON: one object, or one array of them for several files");
  command.add_option("-j,--jobs", options->jobs, kJobsHelp)
      ->check(CLI::PositiveNumber)
      ->type_name("N");
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
