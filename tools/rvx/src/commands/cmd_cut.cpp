// rvx cut: a window of a recording, in seconds or in records, as a new
// current-layout recording. The texts are carried over, the library
// computes the statistics of the window, the trigger record moves with the
// window and the start time moves to the window's first record.
#include <iostream>

#include "commands/copy_command.h"
#include "commands/subcommand.h"
#include "inputs/findings.h"
#include "outputs/recording_copy.h"
#include "shared/number_text.h"
#include "shared/terminal.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

struct CutOptions : CopyOptions {
  TimeWindow window;
};

// The trigger record counted from the window's start. Record 0 of a file
// cannot carry a trigger (0 means there is none), so a trigger on the
// window's first record is lost as one outside the window is, with a warning.
void moveTrigger(RecordingInfo& info, RecordSpan span, Warnings& warnings) {
  const uint64_t trigger = info.triggerRecord;
  info.triggerRecord = 0;
  if (trigger == 0) return;
  if (trigger > span.first && trigger < span.end) {
    info.triggerRecord = static_cast<uint32_t>(trigger - span.first);
    return;
  }
  const char* where = trigger == span.first
                          ? " is the window's first record, which cannot carry a trigger"
                          : " lies outside the window";
  warnings.add("the trigger record " + std::to_string(trigger) + where +
               "; the new file's trigger record is 0");
}

int runCut(const CutOptions& options) {
  if (!options.window.given()) throw usageError("give the window: --from/--to or --records");
  CopySource source(options);
  RecordingInfo& info = source.info;
  const RecordSpan span = recordSpan(options.window, info.scanInterval, info.records);
  fitTexts(info, source.warnings);
  moveTrigger(info, span, source.warnings);
  const WindowStart start = windowStart(info, span.first);
  if (start.restMicroseconds != 0) source.warnings.add(start.restWarning());

  const CopyResult copy = writeCopy(options, source, start.when, span, allChannels(info), "cut");
  std::cout << options.input << " -> " << copy.file << ": records " << span.first << " to "
            << span.end - 1 << " (" << counted(copy.records, "record") << "), "
            << counted(info.channels.size(), "channel") << "\n";
  source.warnings.print();
  return kExitOk;
}

Run addCutOptions(CLI::App& command) {
  auto options = std::make_shared<CutOptions>();
  addCopyFiles(command, *options);
  addTimeWindowOptions(command, options->window);
  addCopyFlags(command, *options);
  command.footer(
      "The trigger record moves with the window (to 0, with a warning, when the window leaves it\n"
      "out or starts at it: record 0 carries no trigger), and the start time moves to the\n"
      "window's first record, to the whole second the header holds (a warning names the rest).\n\n"
      "Example: rvx cut run.rvx -o part.rvx --from 10 --to 12.5");
  return [options] { return runCut(*options); };
}

}  // namespace

extern const Subcommand kCutSubcommand{"cut", "A time window as a new recording", addCutOptions};

}  // namespace rvx
