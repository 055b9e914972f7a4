// rvx cut: a window of a recording, in seconds or in records, as a new
// current-layout recording. The texts are carried over, the library
// computes the statistics of the window, the trigger record moves with the
// window and the start time moves to the window's first record.
#include <iostream>

#include "commands/subcommand.h"
#include "inputs/findings.h"
#include "outputs/recording_copy.h"
#include "shared/terminal.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

constexpr int64_t kMicrosecondsPerSecond = 1000000;

struct CutOptions {
  std::string input, output;
  TimeWindow window;
  bool force = false;
  bool cutTexts = false;
  bool allRecords = false;
};

// The trigger record counted from the window's start; 0 when the window
// leaves it out.
void moveTrigger(RecordingInfo& info, RecordSpan span, Warnings& warnings) {
  const uint64_t trigger = info.triggerRecord;
  if (trigger >= span.first && trigger < span.end) {
    info.triggerRecord = static_cast<uint32_t>(trigger - span.first);
    return;
  }
  if (trigger != 0) {
    warnings.add("the trigger record " + std::to_string(trigger) +
                 " lies outside the window; the new file's trigger record is 0");
  }
  info.triggerRecord = 0;
}

// The start time of the window's first record, to the whole second the
// header holds (whole minutes when it holds no seconds).
DateTime windowStart(const RecordingInfo& info, RecordSpan span) {
  const DateTime when = parseDateTime(info);
  if (!when.timeKnown() || span.first == 0 || info.scanInterval <= 0) return when;
  const long double seconds = static_cast<long double>(span.first) *
                              static_cast<long double>(info.scanInterval) / kMicrosecondsPerSecond;
  return advance(when, static_cast<int64_t>(seconds));
}

int runCut(const CutOptions& options) {
  if (!options.window.given()) throw usageError("give the window: --from/--to or --records");
  refuseSameFile(options.input, options.output);
  Warnings warnings{options.input, options.cutTexts, {}};
  Reader reader(options.input);
  const RecordCount count = requireReadable(reader, options.allRecords);
  RecordingInfo info = reader.info();
  info.records = count.toRead;
  const RecordSpan span = recordSpan(options.window, info.scanInterval, info.records);
  fitTexts(info, warnings);
  moveTrigger(info, span, warnings);
  const DateTime when = windowStart(info, span);

  CreateSession session(options.output, existingFrom(options.force), info.original, false,
                        kNoSummaryLanguage);
  startCopy(session, info, when, warnings);
  const uint64_t records =
      copyRecords(session, reader, info.records, span, allChannels(info), "cut", warnings);
  closeKeepingUnknownDate(session, when, info, warnings);

  std::cout << options.input << " -> " << session.file() << ": records " << span.first << " to "
            << span.end - 1 << " (" << records << " records), " << info.channels.size()
            << " channels\n";
  warnings.print();
  return kExitOk;
}

Run addCutOptions(CLI::App& command) {
  auto options = std::make_shared<CutOptions>();
  command.add_option("IN", options->input, "RVX file of any layout")->required();
  command.add_option("-o,--output", options->output, "RVX file to create")->required();
  addTimeWindowOptions(command, options->window);
  command.add_flag("-f,--force", options->force, "Replace an existing output file");
  command.add_flag("--cut-texts", options->cutTexts, kCutTextsHelp);
  command.add_flag("--all-records", options->allRecords, kAllRecordsHelp);
  command.footer(
      "The trigger record moves with the window (to 0 when the window leaves it out), and the\n"
      "start time moves to the window's first record, to the whole second.\n\n"
      "Example: rvx cut run.rvx -o part.rvx --from 10 --to 12.5");
  return [options] { return runCut(*options); };
}

}  // namespace

extern const Subcommand kCutSubcommand{"cut", "A time window as a new recording", addCutOptions};

}  // namespace rvx
