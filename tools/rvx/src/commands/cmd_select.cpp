// rvx select: some of a recording's channels, in the order given, as a new
// current-layout recording with the texts of the original and the
// statistics of the channels kept.
#include <iostream>

#include "commands/commands.h"
#include "commands/copy_command.h"
#include "commands/subcommand.h"
#include "inputs/findings.h"
#include "outputs/recording_copy.h"
#include "shared/number_text.h"
#include "shared/terminal.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

struct SelectOptions : CopyOptions {
  std::vector<std::string> channels;
};

int runSelect(const SelectOptions& options) {
  CopySource source(options);
  RecordingInfo& info = source.info;
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
  fitTexts(info, source.warnings);

  const CopyResult copy =
      writeCopy(options, source, parseDateTime(info), {0, info.records}, keep, "select");
  std::cout << options.input << " -> " << copy.file << ": " << keep.size() << " of "
            << counted(channels, "channel") << ", " << counted(copy.records, "record") << '\n';
  source.warnings.print();
  return kExitOk;
}

Run addSelectOptions(CLI::App& command) {
  auto options = std::make_shared<SelectOptions>();
  addCopyFiles(command, *options);
  command.add_option("--channels", options->channels, "Channels by variable, in the new order")
      ->delimiter(',')
      ->required();
  addCopyFlags(command, *options);
  command.footer("Example: rvx select run.rvx -o pressures.rvx --channels p2,p1");
  return [options] { return runSelect(*options); };
}

}  // namespace

extern const Subcommand kSelectSubcommand{"select", "Some channels as a new recording",
                                          addSelectOptions};

}  // namespace rvx
