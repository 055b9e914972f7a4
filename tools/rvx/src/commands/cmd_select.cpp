// rvx select: some of a recording's channels, in the order given, as a new
// current-layout recording with the texts of the original and the
// statistics of the channels kept.
#include <iostream>

#include "commands/commands.h"
#include "commands/subcommand.h"
#include "inputs/findings.h"
#include "outputs/recording_copy.h"
#include "shared/terminal.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

struct SelectOptions {
  std::string input, output;
  std::vector<std::string> channels;
  bool force = false;
  bool cutTexts = false;
  bool allRecords = false;
};

int runSelect(const SelectOptions& options) {
  refuseSameFile(options.input, options.output);
  Warnings warnings{options.input, options.cutTexts, {}};
  Reader reader(options.input);
  const RecordCount count = requireReadable(reader, options.allRecords);
  RecordingInfo info = reader.info();
  info.records = count.toRead;
  const std::vector<int> keep = selectChannels(info, options.channels);
  for (size_t i = 0; i < keep.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (keep[i] == keep[j])
        throw usageError("channel " + options.channels[i] + " is named twice");
    }
  }
  const size_t channels = info.channels.size();
  std::vector<ChannelInfo> kept;
  for (int index : keep) kept.push_back(info.channels[index]);
  info.channels = std::move(kept);
  fitTexts(info, warnings);

  CreateSession session(options.output, existingFrom(options.force), info.original, false,
                        kNoSummaryLanguage);
  const DateTime when = parseDateTime(info);
  startCopy(session, info, when, warnings);
  const uint64_t records =
      copyRecords(session, reader, info.records, {0, info.records}, keep, "select", warnings);
  closeKeepingUnknownDate(session, when, info, warnings);

  std::cout << options.input << " -> " << session.file() << ": " << keep.size() << " of "
            << channels << " channels, " << records << " records\n";
  warnings.print();
  return kExitOk;
}

Run addSelectOptions(CLI::App& command) {
  auto options = std::make_shared<SelectOptions>();
  command.add_option("IN", options->input, "RVX file of any layout")->required();
  command.add_option("-o,--output", options->output, "RVX file to create")->required();
  command.add_option("--channels", options->channels, "Channels by variable, in the new order")
      ->delimiter(',')
      ->required();
  command.add_flag("-f,--force", options->force, "Replace an existing output file");
  command.add_flag("--cut-texts", options->cutTexts, kCutTextsHelp);
  command.add_flag("--all-records", options->allRecords, kAllRecordsHelp);
  command.footer("Example: rvx select run.rvx -o pressures.rvx --channels p2,p1");
  return [options] { return runSelect(*options); };
}

}  // namespace

extern const Subcommand kSelectSubcommand{"select", "Some channels as a new recording",
                                          addSelectOptions};

}  // namespace rvx
