// rvx convert: a recording of any layout, read through the library (which
// brings old headers into the current layout and completes them from their
// RVI file), written anew in the current layout through the create path.
#include <cstddef>
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

int runConvert(const CopyOptions& options) {
  CopySource source(options);
  RecordingInfo& info = source.info;
  fitTexts(info, source.warnings);
  const CopyResult copy = writeCopy(options, source, parseDateTime(info), {0, info.records},
                                    allChannels(info), "convert");
  std::cout << options.input << " -> " << copy.file << ": "
            << counted(info.channels.size(), "channel") << ", " << counted(copy.records, "record")
            << ", " << layoutName(KDRVX_LAYOUT_CURRENT) << " layout\n";
  source.warnings.print();
  return kExitOk;
}

Run addConvertOptions(CLI::App& command) {
  auto options = std::make_shared<CopyOptions>();
  addCopyFiles(command, *options);
  addCopyFlags(command, *options);
  return [options] { return runConvert(*options); };
}

}  // namespace

extern const Subcommand kConvertSubcommand{"convert", "Any layout to the current layout",
                                           addConvertOptions};

}  // namespace rvx
