// rvx merge: recordings with the same channels and scan interval, one after
// the other, as a new current-layout recording. The header (texts, date and
// time) is that of the first file; the trigger record that of the first file
// with one, moved to its place among the merged records; the library
// computes the statistics of the whole. All inputs are open at once, each in a reader of
// its own, and checked against each other before anything is written.
#include <cstdint>
#include <iostream>
#include <memory>

#include "commands/subcommand.h"
#include "inputs/findings.h"
#include "outputs/recording_copy.h"
#include "shared/terminal.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

struct MergeOptions {
  std::vector<std::string> inputs;
  std::string output;
  bool force = false;
  bool cutTexts = false;
  bool allRecords = false;
};

struct Input {
  std::string file;
  std::unique_ptr<Reader> reader;
  RecordingInfo info;
};

Input openInput(const std::string& file, bool allRecords) {
  Input input{file, std::make_unique<Reader>(file), {}};
  const RecordCount count = requireReadable(*input.reader, allRecords);
  input.info = input.reader->info();
  input.info.records = count.toRead;
  return input;
}

// What tells `other` apart from `first` for a merge; "" when they fit.
std::string difference(const Input& first, const Input& other) {
  const RecordingInfo& a = first.info;
  const RecordingInfo& b = other.info;
  const auto both = [&](const std::string& x, const std::string& y) {
    return x + " in " + first.file + ", " + y + " in " + other.file;
  };
  if (a.scanInterval != b.scanInterval) {
    return "the scan interval is " +
           both(std::to_string(a.scanInterval) + " us", std::to_string(b.scanInterval) + " us");
  }
  if (a.channels.size() != b.channels.size()) {
    return "the channel count is " +
           both(std::to_string(a.channels.size()), std::to_string(b.channels.size()));
  }
  for (size_t k = 0; k < a.channels.size(); ++k) {
    const ChannelInfo& x = a.channels[k];
    const ChannelInfo& y = b.channels[k];
    const std::string which = "channel " + std::to_string(k);
    if (x.variable != y.variable) return which + " is " + both(x.variable, y.variable);
    if (x.unit != y.unit) {
      return which + " (" + x.variable + ") has the unit '" + x.unit + "' in " + first.file +
             ", '" + y.unit + "' in " + other.file;
    }
    if (x.multiChannelBits != y.multiChannelBits) {
      return which + " (" + x.variable + ") has " +
             both(std::to_string(x.multiChannelBits) + " multichannel bits",
                  std::to_string(y.multiChannelBits));
    }
  }
  return "";
}

// The merged file's trigger record: that of the first file that has one
// (0 means none), counted from the merged file's first record. A file holds
// one trigger, so the triggers of later files are named and left out, as is
// one past its file's records, whose place among the merged ones is
// another file's.
uint32_t mergedTrigger(const std::vector<Input>& inputs, std::vector<Warnings>& warnings) {
  uint64_t before = 0;
  uint64_t kept = 0;
  std::string keptFile;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const RecordingInfo& info = inputs[i].info;
    const uint64_t trigger = info.triggerRecord;
    const uint64_t merged = before + trigger;
    before += info.records;
    if (trigger == 0) continue;
    const std::string dropped = "the trigger record " + std::to_string(trigger) + " is left out: ";
    if (kept != 0) {
      warnings[i].add(dropped +
                      "a recording holds one trigger, and the merged file keeps that of " +
                      keptFile + " (merged record " + std::to_string(kept) + ")");
    } else if (trigger >= info.records) {
      warnings[i].add(dropped + "it lies past the file's " + std::to_string(info.records) +
                      " records");
    } else if (merged > UINT32_MAX) {
      warnings[i].add(dropped + "merged record " + std::to_string(merged) +
                      " is past what the header counts");
    } else {
      kept = merged;
      keptFile = inputs[i].file;
    }
  }
  return static_cast<uint32_t>(kept);
}

int runMerge(const MergeOptions& options) {
  std::vector<Input> inputs;
  for (const std::string& file : options.inputs) {
    refuseSameFile(file, options.output);
    inputs.push_back(openInput(file, options.allRecords));
    const std::string why = difference(inputs.front(), inputs.back());
    if (!why.empty()) throw ToolError("cannot merge " + file + ": " + why);
  }
  // What each file gives to hear, printed in their order at the end.
  std::vector<Warnings> warnings;
  for (const Input& input : inputs) warnings.push_back(Warnings{input.file, false, {}});
  warnings.front().cutTexts = options.cutTexts;
  RecordingInfo info = inputs.front().info;
  fitTexts(info, warnings.front());
  info.triggerRecord = mergedTrigger(inputs, warnings);

  CreateSession session(options.output, existingFrom(options.force), info.original, false,
                        kNoSummaryLanguage);
  const DateTime when = parseDateTime(info);
  startCopy(session, info, when, warnings.front());
  uint64_t records = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const Input& input = inputs[i];
    RecordReader reader(*input.reader, input.info.records);
    records += copyRecords(session, reader, {0, input.info.records}, allChannels(info), "merge",
                           warnings[i]);
  }
  closeKeepingUnknownDate(session, when, info, warnings.front());

  std::cout << inputs.size() << " files -> " << session.file() << ": " << info.channels.size()
            << " channels, " << records << " records\n";
  for (const Warnings& heard : warnings) heard.print();
  return kExitOk;
}

Run addMergeOptions(CLI::App& command) {
  auto options = std::make_shared<MergeOptions>();
  command.add_option("IN", options->inputs, "RVX files of any layout, in the order to append")
      ->required()
      ->expected(2, -1);
  command.add_option("-o,--output", options->output, "RVX file to create")->required();
  command.add_flag("-f,--force", options->force, "Replace an existing output file");
  command.add_flag("--cut-texts", options->cutTexts, kCutTextsHelp);
  command.add_flag("--all-records", options->allRecords, kAllRecordsHelp);
  command.footer(
      "The files must have the same channels (variables, units, multichannel bits) and the same\n"
      "scan interval; the header texts, date and time are the first file's. The trigger record\n"
      "is that of the first file with one, moved to its place among the merged records; the\n"
      "triggers of later files are left out with a warning.\n\n"
      "Example: rvx merge day1.rvx day2.rvx -o both.rvx");
  return [options] { return runMerge(*options); };
}

}  // namespace

extern const Subcommand kMergeSubcommand{"merge", "Recordings one after the other",
                                         addMergeOptions};

}  // namespace rvx
