// rvx merge: recordings with the same channels and scan interval, one after
// the other, as a new current-layout recording. Channels go by position, or
// with --by-name by label in the first file's order. Each file must start
// where the previous one ended, as far as the headers' start times tell;
// gaps are taken only when asked for. The header (texts, date and time) is
// that of the first file; the trigger record that of the first file with
// one, moved to its place among the merged records; the library computes the
// statistics of the whole. All inputs are open at once, each in a reader of
// its own, and checked against each other before anything is written.
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>

#include "commands/subcommand.h"
#include "inputs/findings.h"
#include "outputs/recording_copy.h"
#include "shared/number_text.h"
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
  bool byName = false;
  bool allowGaps = false;
  bool noTimeCheck = false;
};

struct Input {
  std::string file;
  std::unique_ptr<Reader> reader;
  RecordingInfo info;
  std::vector<int> keep;  // its channels in the order of the first file's
};

Input openInput(const std::string& file, bool allRecords) {
  Input input{file, std::make_unique<Reader>(file), {}, {}};
  const RecordCount count = requireReadable(*input.reader, allRecords);
  input.info = input.reader->info();
  input.info.records = count.toRead;
  return input;
}

int channelByLabel(const RecordingInfo& info, const std::string& label) {
  for (const ChannelInfo& channel : info.channels) {
    if (channel.label == label) return channel.index;
  }
  return -1;
}

// Whether the two recordings have the same channels, in whatever order.
bool sameChannels(const RecordingInfo& a, const RecordingInfo& b) {
  std::vector<std::string> x, y;
  for (const ChannelInfo& channel : a.channels) x.push_back(channel.label);
  for (const ChannelInfo& channel : b.channels) y.push_back(channel.label);
  std::sort(x.begin(), x.end());
  std::sort(y.begin(), y.end());
  return x == y;
}

// Matches the channels of `other` to those of `first` by label, in the
// first file's order, into other.keep; what does not match, or "".
std::string matchByName(const Input& first, Input& other) {
  for (const ChannelInfo& channel : first.info.channels) {
    const int index = channelByLabel(other.info, channel.label);
    if (index < 0) return "it has no channel " + channel.label + ", which " + first.file + " has";
    other.keep.push_back(index);
  }
  for (const ChannelInfo& channel : other.info.channels) {
    if (channelByLabel(first.info, channel.label) < 0) {
      return "its channel " + channel.label + " is not in " + first.file +
             " (rvx select copies the channels to merge)";
    }
  }
  return "";
}

// What tells `other` apart from `first` for a merge; "" when they fit.
// Sets other.keep: its channels in the order of the first file's.
std::string difference(const Input& first, Input& other, bool byName) {
  const RecordingInfo& a = first.info;
  const RecordingInfo& b = other.info;
  const auto both = [&](const std::string& x, const std::string& y) {
    return x + " in " + first.file + ", " + y + " in " + other.file;
  };
  if (a.scanInterval != b.scanInterval) {
    return "the scan interval is " +
           both(std::to_string(a.scanInterval) + " us", std::to_string(b.scanInterval) + " us");
  }
  other.keep.clear();
  if (byName) {
    const std::string unmatched = matchByName(first, other);
    if (!unmatched.empty()) return unmatched;
  } else if (a.channels.size() != b.channels.size()) {
    return "the channel count is " +
           both(std::to_string(a.channels.size()), std::to_string(b.channels.size()));
  } else {
    other.keep = allChannels(b);
  }
  for (size_t k = 0; k < a.channels.size(); ++k) {
    const ChannelInfo& x = a.channels[k];
    const ChannelInfo& y = b.channels[other.keep[k]];
    const std::string which = "channel " + std::to_string(k);
    if (x.variable != y.variable) {
      return which + " is " + both(x.variable, y.variable) +
             (sameChannels(a, b)
                  ? " (the same channels in another order: --by-name matches them by variable)"
                  : "");
    }
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

constexpr int64_t kMicrosecondsPerSecond = 1000000;

// The microseconds from the end of `earlier` (its start and one scan
// interval for each record) to the start of `later`, negative when it
// starts before; empty beyond what 64 bits count, which no recording's
// times come near.
std::optional<int64_t> offsetAfter(const RecordingInfo& earlier, const RecordingInfo& later) {
  int64_t apart = 0, duration = 0, offset = 0;
  if (__builtin_mul_overflow(later.startSeconds - earlier.startSeconds, kMicrosecondsPerSecond,
                             &apart) ||
      __builtin_mul_overflow(earlier.records, earlier.scanInterval, &duration) ||
      __builtin_sub_overflow(apart, duration, &offset)) {
    return std::nullopt;
  }
  return offset;
}

std::string secondsOf(int64_t microseconds) { return secondsText(microseconds) + " s"; }

// "a.rvx starts 04.12.2023 14:05:09 and ends 2 s later, b.rvx starts ..."
std::string timesText(const Input& earlier, const Input& later) {
  const RecordingInfo& a = earlier.info;
  const RecordingInfo& b = later.info;
  return earlier.file + " starts " + a.date + " " + a.time + " and ends " +
         secondsOf(static_cast<int64_t>(a.records) * a.scanInterval) + " later, " + later.file +
         " starts " + b.date + " " + b.time;
}

// Each file must start where the previous one ends, to within one scan
// interval and the start's resolution in the headers (whole seconds, or
// whole minutes where a header keeps no seconds). An overlap is refused; a
// gap too, unless `allowGaps`, which warns about it.
void checkTimes(const std::vector<Input>& inputs, bool allowGaps, std::vector<Warnings>& warnings) {
  const std::string noCheck = "; --no-time-check merges the files without looking at their times";
  for (const Input& input : inputs) {
    if (!input.info.startIsKnown()) {
      throw ToolError("cannot merge " + input.file +
                      ": its start is unknown (the header holds no valid date and time), so "
                      "whether the files follow each other cannot be checked" +
                      noCheck);
    }
  }
  const int64_t interval = inputs.front().info.scanInterval;
  if (interval <= 0) {
    throw ToolError("cannot merge " + inputs.front().file + ": the scan interval is " +
                    std::to_string(interval) +
                    " us, so the records have no times and whether the files follow each other "
                    "cannot be checked" +
                    noCheck);
  }
  for (size_t i = 1; i < inputs.size(); ++i) {
    const Input& earlier = inputs[i - 1];
    const Input& later = inputs[i];
    const std::string refused = "cannot merge " + later.file + ": ";
    const std::optional<int64_t> offset = offsetAfter(earlier.info, later.info);
    if (!offset) {
      throw ToolError(refused + "its time and that of " + earlier.file +
                      " lie too far apart to compare" + noCheck);
    }
    const int64_t resolution =
        std::max(earlier.info.startResolutionSeconds(), later.info.startResolutionSeconds());
    const int64_t tolerance = interval + resolution * kMicrosecondsPerSecond;
    if (*offset < -tolerance) {
      throw ToolError(refused + "it overlaps " + earlier.file + " by " + secondsOf(-*offset) +
                      ": " + timesText(earlier, later));
    }
    if (*offset > tolerance) {
      const std::string gap = "a gap of " + secondsOf(*offset) + " lies between the end of " +
                              earlier.file + " and the start of " + later.file;
      if (!allowGaps) {
        throw ToolError(refused + gap + ": " + timesText(earlier, later) +
                        "; --allow-gaps merges across it");
      }
      warnings[i].add(gap + "; the merged records follow each other without it");
    }
  }
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
    const std::string why = difference(inputs.front(), inputs.back(), options.byName);
    if (!why.empty()) throw ToolError("cannot merge " + file + ": " + why);
  }
  // What each file gives to hear, printed in their order at the end.
  std::vector<Warnings> warnings;
  for (const Input& input : inputs) warnings.push_back(Warnings{input.file, false, {}});
  if (!options.noTimeCheck) checkTimes(inputs, options.allowGaps, warnings);
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
    records +=
        copyRecords(session, reader, {0, input.info.records}, input.keep, "merge", warnings[i]);
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
  command.add_flag("--by-name", options->byName,
                   "Match the channels by variable (label), in the first file's order, rather "
                   "than by position");
  command.add_flag("--allow-gaps", options->allowGaps,
                   "Merge across a gap between one file's end and the next file's start, with a "
                   "warning naming it; nothing is recorded in between");
  command.add_flag("--no-time-check", options->noTimeCheck,
                   "Do not compare the files' start times, for recordings without a valid date "
                   "and time");
  command.footer(
      "The files must have the same channels (variables, units, multichannel bits) and the same\n"
      "scan interval. Channels go by position; with --by-name by variable, in the order of the\n"
      "first file, which every later file must have, no more and no fewer.\n\n"
      "Each file must start where the previous one ends: its start plus one scan interval for\n"
      "each record. The header keeps the start in whole seconds (whole minutes where it keeps\n"
      "no seconds), so a start may lie up to one scan interval plus that second (or minute)\n"
      "either side of the previous end. An overlap is refused; a gap too, unless --allow-gaps.\n"
      "A file whose start is unknown needs --no-time-check.\n\n"
      "The header texts, date and time are the first file's. The trigger record is that of the\n"
      "first file with one, moved to its place among the merged records; the triggers of later\n"
      "files are left out with a warning.\n\n"
      "Example: rvx merge day1.rvx day2.rvx -o both.rvx\n"
      "Example: rvx merge part1.rvx part2.rvx --by-name --allow-gaps -o run.rvx");
  return [options] { return runMerge(*options); };
}

}  // namespace

extern const Subcommand kMergeSubcommand{"merge", "Recordings one after the other",
                                         addMergeOptions};

}  // namespace rvx
