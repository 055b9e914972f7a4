// rvx convert: a recording of any layout, read through the library (which
// brings old headers into the current layout and completes them from their
// RVI file), written anew in the current layout through the create path.
#include <cstddef>
#include <iostream>

#include "commands/commands.h"
#include "commands/subcommand.h"
#include "inputs/findings.h"
#include "outputs/recording_copy.h"
#include "shared/terminal.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {


struct ConvertOptions {
  std::string input, output;
  bool force = false;
  bool cutTexts = false;
  bool allRecords = false;
};

int runConvert(const ConvertOptions& options) {
  refuseSameFile(options.input, options.output);
  Warnings warnings{options.input, options.cutTexts, {}};
  Reader reader(options.input);
  const RecordCount count = requireReadable(reader, options.allRecords);
  RecordingInfo info = reader.info();
  info.records = count.toRead;
  fitTexts(info, warnings);

  CreateSession session(options.output, existingFrom(options.force), info.original, false,
                        kNoSummaryLanguage);
  const DateTime when = parseDateTime(info);
  startCopy(session, info, when, warnings);
  const uint64_t records = copyRecords(session, reader, info.records, {0, info.records},
                                       allChannels(info), "convert", warnings);
  closeKeepingUnknownDate(session, when, info, warnings);

  std::cout << options.input << " -> " << session.file() << ": " << info.channels.size()
            << " channels, " << records << " records, " << layoutName(KDRVX_LAYOUT_CURRENT)
            << " layout\n";
  warnings.print();
  return kExitOk;
}

Run addConvertOptions(CLI::App& command) {
  auto options = std::make_shared<ConvertOptions>();
  command.add_option("IN", options->input, "RVX file of any layout")->required();
  command.add_option("-o,--output", options->output, "RVX file to create")->required();
  command.add_flag("-f,--force", options->force, "Replace an existing output file");
  command.add_flag("--cut-texts", options->cutTexts, kCutTextsHelp);
  command.add_flag("--all-records", options->allRecords, kAllRecordsHelp);
  return [options] { return runConvert(*options); };
}

}  // namespace

extern const Subcommand kConvertSubcommand{"convert", "Any layout to the current layout",
                                           addConvertOptions};

}  // namespace rvx
