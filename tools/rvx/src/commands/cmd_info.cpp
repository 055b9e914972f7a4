// rvx info: what a recording holds, as a report or as one JSON document.
#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "commands/commands.h"
#include "commands/json_documents.h"
#include "commands/subcommand.h"
#include "files/many_files.h"
#include "outputs/recording_copy.h"
#include "shared/arguments.h"
#include "shared/fields.h"
#include "shared/number_text.h"
#include "shared/text_table.h"
#include "shared/tool_error.h"
#include "shared/utf.h"

namespace rvx {

namespace {

struct InfoOptions {
  std::vector<std::string> files;
  bool json = false;
  bool allRecords = false;
  unsigned jobs = defaultJobs();
};

std::string intervalText(int64_t microseconds) {
  std::string text;
  if (microseconds != 0 && microseconds % 1000000 == 0) {
    text = std::to_string(microseconds / 1000000) + " s";
  } else if (microseconds != 0 && microseconds % 1000 == 0) {
    text = std::to_string(microseconds / 1000) + " ms";
  } else {
    text = std::to_string(microseconds) + " µs";
  }
  if (microseconds > 0) {
    char rate[32];
    std::snprintf(rate, sizeof rate, " (%g Hz)", 1e6 / static_cast<double>(microseconds));
    text += rate;
  }
  return text;
}

std::string statisticsText(uint32_t flag) {
  switch (flag) {
    case 0:
      return "none stored";
    case 1:
      return "minimum and maximum";
    case 3:
      return "minimum, maximum, mean and RMS";
    default:
      return "unknown flag " + std::to_string(flag);
  }
}

std::string flagsText(const ChannelInfo& channel) {
  std::string flags;
  auto add = [&](const std::string& flag) { flags += (flags.empty() ? "" : ",") + flag; };
  if (channel.isds) add("ISDS");
  if (channel.linearisation) add("lin");
  if (channel.multiChannelBits) add("multi:" + std::to_string(channel.multiChannelBits));
  return flags.empty() ? "-" : flags;
}

// A text that may hold CR LF line breaks, its lines indented under the first.
std::string indented(const std::string& text, size_t indent) {
  std::string out;
  for (char c : fromCrLf(text)) {
    out += c;
    if (c == '\n') out.append(indent, ' ');
  }
  return out;
}

// The version code as the library reports it, shown as its letter where it
// is printable: "s (115)", "64 ('@')", "0".
std::string versionText(uint32_t version) {
  std::string text = std::to_string(version);
  if (version >= 'a' && version <= 'z')
    return std::string(1, static_cast<char>(version)) + " (" + text + ")";
  if (version > 32 && version < 127) return text + " ('" + static_cast<char>(version) + "')";
  return text;
}

// The start as the report shows it: "04.12.2023 14:05:09", with "date
// unknown" or "time unknown" for what the header does not know (day, month
// or year 0; no hour), "unknown" when it knows neither.
std::string recordedText(const RecordingInfo& info) {
  const DateTime when = parseDateTime(info);
  if (!when.dateKnown() && !when.timeKnown()) return "unknown";
  if (!when.dateKnown()) return "date unknown, " + info.time;
  if (!when.timeKnown()) return info.date + ", time unknown";
  return info.date + " " + info.time;
}

nlohmann::ordered_json number(float value) {
  if (!std::isfinite(value)) return nullptr;
  return shortestDouble(value);
}

// A multichannel's stored minimum and maximum come from float comparisons of
// its bit patterns. They are its smallest and largest bit field where every
// pattern it can hold is a positive finite float, which orders as the
// unsigned number does: up to 30 bits.
constexpr int32_t kBitsThatOrderAsFloats = 30;

std::optional<uint32_t> bitFieldExtreme(const ChannelInfo& channel, float stored) {
  if (channel.multiChannelBits > kBitsThatOrderAsFloats) return std::nullopt;
  return std::bit_cast<uint32_t>(stored);
}

std::string bitFieldText(const ChannelInfo& channel, float stored) {
  const auto bits = bitFieldExtreme(channel, stored);
  return bits ? std::to_string(*bits) : "-";
}

nlohmann::ordered_json bitFieldJson(const ChannelInfo& channel, float stored) {
  const auto bits = bitFieldExtreme(channel, stored);
  return bits ? nlohmann::ordered_json(*bits) : nlohmann::ordered_json(nullptr);
}

}  // namespace

void printInfo(std::ostream& out, const std::string& file, const RecordingInfo& info,
               const RecordCount& count, const std::string& layout) {
  constexpr size_t kIndent = 17;
  auto line = [&](const char* label, const std::string& value) {
    std::string padded = label;
    padded.resize(kIndent, ' ');
    out << padded << indented(value, kIndent) << '\n';
  };
  line("File", file);
  line("Layout", layout + ", version " + versionText(info.version));
  line("Recorded", recordedText(info));
  line("Original", info.original ? "yes" : "no");
  line("Scan interval", intervalText(info.scanInterval));
  char duration[48];
  std::snprintf(duration, sizeof duration, ", %.6g s", info.durationSeconds());
  const bool beyondCount = info.records != count.counted;
  line("Records",
       std::to_string(info.records) + duration +
           (beyondCount ? " (the header counts " + std::to_string(count.counted) + ")" : ""));
  line("Trigger record", std::to_string(info.triggerRecord));
  line("Statistics", statisticsText(info.flagStatistics) +
                         (beyondCount && info.flagStatistics != 0
                              ? " (of the header's " + std::to_string(count.counted) + " records)"
                              : ""));
  for (const HeaderField& field : headerFields()) {
    std::string label = field.what;
    label[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(label[0])));
    line(label.c_str(), info.*field.text);
  }
  out << "Channels         " << info.channels.size() << '\n';

  std::vector<std::string> headings = {"#",      "Variable",    "Unit",  "Name",
                                       "Number", "Signal type", "Range", "Zero point",
                                       "Filter", "Rate",        "Flags"};
  if (info.minMaxValid()) headings.insert(headings.end(), {"Minimum", "Maximum"});
  if (info.meanRmsValid()) headings.insert(headings.end(), {"Mean", "RMS"});
  TextTable table(headings);
  for (const ChannelInfo& c : info.channels) {
    std::vector<std::string> row = {std::to_string(c.index),
                                    c.variable,
                                    c.unit,
                                    c.name,
                                    c.number,
                                    c.signalType,
                                    c.calParameter,
                                    c.zeroPoint,
                                    c.filter,
                                    std::to_string(c.indRate),
                                    flagsText(c)};
    if (c.multiChannelBits) {
      // Bit fields: their extremes as the unsigned numbers that export
      // writes; a mean of bit patterns means nothing.
      if (info.minMaxValid()) {
        row.insert(row.end(), {bitFieldText(c, c.minimum), bitFieldText(c, c.maximum)});
      }
      if (info.meanRmsValid()) row.insert(row.end(), {"-", "-"});
    } else {
      if (info.minMaxValid()) row.insert(row.end(), {floatText(c.minimum), floatText(c.maximum)});
      if (info.meanRmsValid()) row.insert(row.end(), {floatText(c.mean), floatText(c.rms)});
    }
    table.add(std::move(row));
  }
  table.print(out);
}

nlohmann::ordered_json infoDocument(const std::string& file, const RecordingInfo& info,
                                    const RecordCount& count, const std::string& layout) {
  using nlohmann::ordered_json;
  ordered_json document;
  document["file"] = file;
  document["layout"] = layout;
  document["version"] = info.version;
  // null for what the header does not know.
  const DateTime when = parseDateTime(info);
  document["date"] = when.dateKnown() ? nlohmann::ordered_json(info.date) : nullptr;
  document["time"] = when.timeKnown() ? nlohmann::ordered_json(info.time) : nullptr;
  document["original"] = info.original;
  document["scan_interval_us"] = info.scanInterval;
  document["records"] = info.records;
  document["records_in_data"] = count.held;
  document["duration_s"] = info.durationSeconds();
  document["trigger_record"] = info.triggerRecord;
  document["statistics_flag"] = info.flagStatistics;
  for (const HeaderField& field : headerFields()) document[field.jsonKey] = info.*field.text;
  ordered_json channels = ordered_json::array();
  for (const ChannelInfo& c : info.channels) {
    ordered_json channel;
    channel["index"] = c.index;
    channel["label"] = c.label;
    for (const ChannelField& field : channelFields()) channel[field.key] = c.*field.text;
    channel["individual_rate"] = c.indRate;
    channel["isds"] = c.isds;
    channel["linearisation"] = c.linearisation;
    channel["multichannel_bits"] = c.multiChannelBits;
    // A multichannel's values are bit fields: its extremes are unsigned
    // numbers, and a mean or RMS of them means nothing.
    const bool bits = c.multiChannelBits != 0;
    if (info.minMaxValid()) {
      channel["minimum"] = bits ? bitFieldJson(c, c.minimum) : number(c.minimum);
      channel["maximum"] = bits ? bitFieldJson(c, c.maximum) : number(c.maximum);
    }
    if (info.meanRmsValid()) {
      channel["mean"] = bits ? nullptr : number(c.mean);
      channel["rms"] = bits ? nullptr : number(c.rms);
    }
    channels.push_back(std::move(channel));
  }
  document["channels"] = std::move(channels);
  return document;
}

nlohmann::ordered_json unreadDocument(const std::string& file, const std::string& reason) {
  const std::string prefix = file + ": ";
  nlohmann::ordered_json document;
  document["file"] = file;
  document["error"] = reason.starts_with(prefix) ? reason.substr(prefix.size()) : reason;
  return document;
}

std::string documentsJson(std::vector<nlohmann::ordered_json> documents) {
  // Texts from old files may hold bytes that are not UTF-8; they are
  // converted from UTF-16, so replace rather than fail.
  const nlohmann::ordered_json all = documents.size() == 1
                                         ? std::move(documents.front())
                                         : nlohmann::ordered_json(std::move(documents));
  return all.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::vector<int> selectChannels(const RecordingInfo& info, const std::vector<std::string>& names) {
  std::vector<int> selected;
  if (names.empty()) {
    for (const ChannelInfo& channel : info.channels) selected.push_back(channel.index);
    return selected;
  }
  for (const std::string& name : names) {
    const int index = info.findChannel(name);
    if (index < 0) {
      std::string known;
      for (const ChannelInfo& channel : info.channels) {
        known += " " + channel.label;
      }
      throw usageError("no channel " + name + " in the file; it has:" + known);
    }
    selected.push_back(index);
  }
  return selected;
}

namespace {

// The file's report on `out`, or its JSON document into `document`; its
// warnings on `err`. Reads through a reader of its own, so that several
// files are reported at once.
void reportFile(const InfoOptions& options, const std::string& file, std::ostream& out,
                std::ostream& err, nlohmann::ordered_json* document) {
  const Reader reader(file);
  const RecordCount count = requireReadable(reader, options.allRecords, err);
  const std::string layout = layoutName(reader.findings().layout);
  RecordingInfo info = reader.info();
  info.records = count.toRead;
  if (document) {
    *document = infoDocument(file, info, count, layout);
  } else {
    printInfo(out, file, info, count, layout);
  }
}

int runInfo(const InfoOptions& options) {
  if (options.files.size() == 1 && !options.json) {
    reportFile(options, options.files.front(), std::cout, std::cerr, nullptr);
    return kExitOk;
  }
  // One document per file, filled by the thread that reads it; a file that
  // cannot be read gets one that says why.
  std::vector<nlohmann::ordered_json> documents(options.files.size());
  const auto each = [&](size_t index, std::ostream& out, std::ostream& err) {
    if (!options.json && index > 0) out << '\n';
    const std::string& file = options.files[index];
    try {
      reportFile(options, file, out, err, options.json ? &documents[index] : nullptr);
    } catch (const ToolError& error) {
      documents[index] = unreadDocument(file, error.what());
      throw;
    }
    return FileOutcome::Clean;
  };
  const FileTally tally = forEachFile(options.files, options.jobs, each);
  if (options.json) std::cout << documentsJson(std::move(documents));
  // With JSON on stdout the summary goes to stderr, so that stdout parses.
  if (options.files.size() > 1) {
    (options.json ? std::cerr : std::cout) << "rvx info: " << tally.summary("read", "") << '\n';
  }
  return tally.exitStatus();
}

Run addInfoOptions(CLI::App& command) {
  auto options = std::make_shared<InfoOptions>();
  command.add_option("FILE", options->files, "RVX files")->required();
  command.add_flag("--json", options->json,
                   "One JSON document instead of the report; one array of them for several files, "
                   "one entry per file in their order ({\"file\", \"error\"} for a file not read)");
  command.add_flag(
      "--all-records", options->allRecords,
      "Report every whole record the data holds, also those beyond the header's count");
  command.add_option("-j,--jobs", options->jobs, kJobsHelp)
      ->check(countFromOne())
      ->type_name("N");
  command.footer(
      "Several files are read at once (-j), reported in the order given, with one summary line at "
      "the end; the exit status is 1 when any file cannot be read.\n"
      "Example: rvx info *.rvx --json > recordings.json");
  return [options] { return runInfo(*options); };
}

}  // namespace

extern const Subcommand kInfoSubcommand{
    "info", "Layout, header texts, record count and the table of channels", addInfoOptions};

}  // namespace rvx
