// rvx demo: the whole round on a made-up test bench. Records ten seconds at
// 1 kHz of eight channels through the library, once in the current layout
// and once in the compact layout with a German RVI file, reads both back,
// shows them, and exports the CSV and the plot. The compact file holds what
// that layout can: not the digital inputs, whose bit fields it cannot mark,
// nor seconds, channel names and filters.
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <numbers>

#include "commands/commands.h"
#include "commands/subcommand.h"
#include "files/output_file.h"
#include "outputs/fit.h"
#include "shared/system_reason.h"
#include "shared/tool_error.h"
#include "shared/utf.h"

namespace rvx {

namespace {

struct DemoOptions {
  std::string directory = "rvx-demo";
  bool force = false;
};

constexpr int64_t kInterval = 1000;   // microseconds: 1 kHz
constexpr uint32_t kRecords = 10000;  // 10 s
constexpr uint32_t kTriggerRecord = 2000;

struct DemoChannel {
  const char* variable;
  const char* unit;
  const char* name;
  const char* signalType;
  const char* range;
  const char* filter;
  uint16_t bits;
};

constexpr DemoChannel kChannels[] = {
    {"p1", "bar", "Pressure inlet", "4-20 mA", "0..16 bar", "100 Hz", 0},
    {"p2", "bar", "Pressure outlet", "4-20 mA", "0..16 bar", "100 Hz", 0},
    {"p3", "bar", "Pressure tank", "0-10 V", "0..10 bar", "10 Hz", 0},
    {"T1", "°C", "Temperature oil", "PT100", "-50..250 °C", "1 Hz", 0},
    {"T2", "°C", "Temperature water", "PT100", "-50..250 °C", "1 Hz", 0},
    {"T3", "°C", "Temperature ambient", "Type K", "-200..1200 °C", "1 Hz", 0},
    {"dp1", "mbar", "Diff. pressure filter", "0-10 V", "0..100 mbar", "50 Hz", 0},
    {"M1", "", "Digital inputs", "24 V DC", "8 inputs", "", 8},
};
constexpr size_t kChannelCount = std::size(kChannels);

// Small deterministic noise, the same on every machine.
class Noise {
 public:
  float next(float amplitude) {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    const double unit = static_cast<double>(state_ >> 11) / 9007199254740992.0;  // [0, 1)
    return static_cast<float>((unit * 2 - 1) * amplitude);
  }

 private:
  uint64_t state_ = 0x5eed;
};

void fillRecord(uint32_t i, Noise& noise, float* record) {
  const double t = static_cast<double>(i) * static_cast<double>(kInterval) / 1e6;
  const double pi = std::numbers::pi;
  const double wave = std::sin(2 * pi * 0.5 * t);
  record[0] = static_cast<float>(1.2 + 0.6 * wave) + noise.next(0.01f);
  record[1] = static_cast<float>(1.0 + 0.5 * std::sin(2 * pi * 0.5 * t - 0.6)) + noise.next(0.01f);
  record[2] = static_cast<float>(5.0 - 0.15 * t) + noise.next(0.005f);
  record[3] = static_cast<float>(40.0 + 12.0 * (1 - std::exp(-t / 4)));
  record[4] = static_cast<float>(18.0 + 0.3 * t + 0.2 * std::sin(2 * pi * 0.2 * t));
  record[5] = 21.5f + noise.next(0.05f);
  record[6] =
      static_cast<float>(t < 6 ? 35.0 : 35.0 + 25.0 * (1 - std::exp(-(t - 6)))) + noise.next(0.3f);
  // Digital inputs: pump running, valve open, pressure alarm, trigger seen.
  uint32_t bits = 0;
  if (t >= 0.5) bits |= 1u;
  if (wave > 0) bits |= 2u;
  if (record[0] > 1.7f) bits |= 4u;
  if (i >= kTriggerRecord) bits |= 8u;
  record[7] = std::bit_cast<float>(bits);
}

PlannedRecording demoPlan(bool compact) {
  PlannedRecording plan;
  plan.compact = compact;
  plan.language = compact ? 0 : kNoSummaryLanguage;  // German labels in the RVI file
  plan.info.company = "KD Messtechnik GmbH";
  plan.info.instrument = "KD-Logger 8";
  plan.info.serialNumber = "DL-0042";
  plan.info.nameMeasurement = "Pumpenprüfstand 3";
  plan.info.triggerSetting = "p1 > 1.5 bar, rising";
  // One line: the RVI file wraps it at blanks and reads it back whole.
  plan.info.comment =
      "Synthetic recording made by rvx demo: 10 s at 1 kHz of three pressures, three "
      "temperatures, the differential pressure across a filter and eight digital inputs.";
  plan.info.date = "1.3.2024";
  plan.info.time = compact ? "10:15" : "10:15:30";  // the compact layout keeps no seconds
  plan.info.scanInterval = kInterval;
  plan.triggerRecord = kTriggerRecord;
  for (size_t k = 0; k < kChannelCount; ++k) {
    const DemoChannel& c = kChannels[k];
    if (compact && c.bits != 0) continue;
    ChannelInfo channel;
    channel.variable = c.variable;
    channel.unit = c.unit;
    channel.name = c.name;
    channel.number = std::to_string(k + 1);
    channel.signalType = c.signalType;
    channel.calParameter = c.range;
    channel.zeroPoint = "0";
    channel.filter = c.filter;
    channel.multiChannelBits = c.bits;
    plan.info.channels.push_back(std::move(channel));
  }
  return plan;
}

// Indexes in kChannels of the channels a plan records.
std::vector<size_t> recordedChannels(const PlannedRecording& plan) {
  std::vector<size_t> indexes;
  for (size_t k = 0; k < kChannelCount; ++k) {
    for (const ChannelInfo& channel : plan.info.channels) {
      if (channel.variable == kChannels[k].variable) indexes.push_back(k);
    }
  }
  return indexes;
}

void record(const std::string& file, const PlannedRecording& plan, Existing existing) {
  for (const std::string& warning : checkFit(plan, file)) {
    std::cerr << "rvx: " << file << ": warning: " << warning << '\n';
  }
  CreateSession session(file, existing, plan.info.original, plan.compact, plan.language);
  applyPlan(session, plan);
  const std::vector<size_t> recorded = recordedChannels(plan);
  Noise noise;
  float values[kChannelCount];
  std::vector<float> kept(recorded.size());
  for (uint32_t i = 0; i < kRecords; ++i) {
    fillRecord(i, noise, values);
    for (size_t j = 0; j < recorded.size(); ++j) kept[j] = values[recorded[j]];
    session.addRecord(kept.data());
  }
  session.close();
}

// Whether the records of `part` are those of `whole` in the channels that
// `part` records.
bool sameRecords(const std::vector<float>& whole, const std::vector<float>& part,
                 const std::vector<size_t>& recorded) {
  if (whole.size() / kChannelCount != part.size() / recorded.size()) return false;
  for (size_t i = 0; i < part.size() / recorded.size(); ++i) {
    for (size_t j = 0; j < recorded.size(); ++j) {
      const float a = whole[i * kChannelCount + recorded[j]], b = part[i * recorded.size() + j];
      if (std::memcmp(&a, &b, sizeof a) != 0) return false;
    }
  }
  return true;
}

// A demo file as `rvx info` reports it, with all its records.
struct ReadBack {
  RecordingInfo info;
  RecordCount count;
  std::string layout;
  std::vector<float> records;
};

ReadBack readAll(const std::string& file) {
  Reader source(file);
  ReadBack back;
  back.count = requireReadable(source, false);
  back.layout = layoutName(source.findings().layout);
  back.info = source.info();
  const uint64_t records = back.info.records;
  const size_t channels = back.info.channels.size();
  back.records.resize(static_cast<size_t>(records) * channels);
  RecordReader reader(source, records);
  size_t at = 0;
  while (const size_t got = reader.read(back.records.data() + at * channels, records - at)) {
    at += got;
  }
  if (at != records) throw ToolError(file + ": " + shortfallText(reader, records));
  return back;
}

int runDemo(const DemoOptions& options) {
  const std::filesystem::path directory = toPath(options.directory);
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (std::filesystem::exists(directory) && !std::filesystem::is_directory(directory)) {
    throw ToolError(options.directory + ": not a directory");
  }
  if (error) {
    throw ToolError(options.directory + ": cannot create the directory: " + errorCodeReason(error));
  }
  auto inside = [&](const char* name) { return pathText(directory / name); };
  const std::string current = inside("demo.rvx");
  const std::string compact = inside("demo-compact.rvx");
  const std::string rvi = inside("demo-compact.RVI");
  const std::string csv = inside("demo.csv");
  const std::string svg = inside("demo.svg");
  // Every file is refused before the first is written.
  const Existing existing = existingFrom(options.force);
  for (const std::string& file : {current, compact, rvi, csv, svg}) resolveOutput(file, existing);

  std::cout << "Recording " << kRecords << " records of " << kChannelCount
            << " channels at 1 kHz through the library...\n";
  const PlannedRecording compactPlan = demoPlan(true);
  record(current, demoPlan(false), existing);
  record(compact, compactPlan, existing);

  const ReadBack currentBack = readAll(current);
  const ReadBack compactBack = readAll(compact);
  std::cout << '\n';
  printInfo(std::cout, current, currentBack.info, currentBack.count, currentBack.layout);
  std::cout << '\n';
  printInfo(std::cout, compact, compactBack.info, compactBack.count, compactBack.layout);
  std::cout << '\n';

  const std::vector<size_t> recorded = recordedChannels(compactPlan);
  if (!sameRecords(currentBack.records, compactBack.records, recorded)) {
    throw ToolError(compact + ": its records read back differently from " + current);
  }
  std::cout << "Both files read back with the same " << currentBack.info.records
            << " records, bit for bit, in the " << recorded.size()
            << " channels they share; the compact one takes its texts from " << rvi
            << " and leaves out the digital inputs, whose bit fields it cannot mark.\n";

  ExportOptions exportOptions;
  exportOptions.file = current;
  exportOptions.output = csv;
  exportOptions.force = options.force;
  runExport(exportOptions);
  PlotOptions plotOptions;
  plotOptions.file = current;
  plotOptions.output = svg;
  plotOptions.force = options.force;
  runPlot(plotOptions);

  std::cout << "\nWritten to " << options.directory << ":\n"
            << "  " << current << "  current layout\n"
            << "  " << compact << "  compact layout, with " << rvi << " (German)\n"
            << "  " << csv << "  rvx export\n"
            << "  " << svg << "  rvx plot\n"
            << "\nNext: rvx check " << current << ", rvx export " << compact
            << " --channels p1,T1 --records 0:9, rvx convert " << compact << " -o converted.rvx\n";
  return kExitOk;
}

Run addDemoOptions(CLI::App& command) {
  auto options = std::make_shared<DemoOptions>();
  command.add_option("DIR", options->directory, "Directory for the files (default ./rvx-demo)");
  command.add_flag("-f,--force", options->force, "Replace the files of an earlier demo");
  return [options] { return runDemo(*options); };
}

}  // namespace

extern const Subcommand kDemoSubcommand{
    "demo", "Record a synthetic 10 s, 1 kHz, 8-channel recording and show what rvx does with it",
    addDemoOptions};

}  // namespace rvx
