// rvx merge: recordings with the same channels and scan interval, one after
// the other, as a new current-layout recording. The header (texts, date and
// time, trigger record) is that of the first file; the library computes the
// statistics of the whole. All inputs are open at once, each in a reader of
// its own, and checked against each other before anything is written.
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

int runMerge(const MergeOptions& options) {
  std::vector<Input> inputs;
  for (const std::string& file : options.inputs) {
    refuseSameFile(file, options.output);
    inputs.push_back(openInput(file, options.allRecords));
    const std::string why = difference(inputs.front(), inputs.back());
    if (!why.empty()) throw ToolError("cannot merge " + file + ": " + why);
  }
  Warnings warnings{options.inputs.front(), options.cutTexts, {}};
  RecordingInfo info = inputs.front().info;
  fitTexts(info, warnings);

  CreateSession session(options.output, existingFrom(options.force), info.original, false,
                        kNoSummaryLanguage);
  const DateTime when = parseDateTime(info);
  startCopy(session, info, when, warnings);
  uint64_t records = 0;
  std::vector<Warnings> later;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const Input& input = inputs[i];
    Warnings& heard = i == 0 ? warnings : later.emplace_back(Warnings{input.file, false, {}});
    RecordReader reader(*input.reader, input.info.records);
    records +=
        copyRecords(session, reader, {0, input.info.records}, allChannels(info), "merge", heard);
  }
  closeKeepingUnknownDate(session, when, info, warnings);

  std::cout << inputs.size() << " files -> " << session.file() << ": " << info.channels.size()
            << " channels, " << records << " records\n";
  warnings.print();
  for (const Warnings& heard : later) heard.print();
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
      "scan interval; the header texts, date and time and trigger record are the first file's.\n\n"
      "Example: rvx merge day1.rvx day2.rvx -o both.rvx");
  return [options] { return runMerge(*options); };
}

}  // namespace

extern const Subcommand kMergeSubcommand{"merge", "Recordings one after the other",
                                         addMergeOptions};

}  // namespace rvx
