// rvx follow: a recording that another program is making (KDRVX_CreateLive),
// printed as its records arrive - as the CSV of rvx export, through export's
// own writer, or as lines of the library's statistics of the records that
// arrived - until the writer closes it. What
// "arrived", "finished" and "interrupted" mean is the library's answer
// (KDRVX_ReaderWait, which also does the waiting); the follower waits in
// slices, so that it keeps its own timeout and the interval of its
// statistics.
#include <algorithm>
#include <chrono>
#include <iostream>
#include <limits>
#include <optional>

#include "commands/commands.h"
#include "commands/subcommand.h"
#include "files/output_file.h"
#include "inputs/findings.h"
#include "outputs/export_format.h"
#include "shared/number_text.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

using Clock = std::chrono::steady_clock;

// The longest the follower leaves the library waiting at once.
constexpr std::chrono::milliseconds kSlice{200};

struct FollowOptions {
  std::string file;
  std::vector<std::string> channels;
  std::string from;     // seconds
  std::string stats;    // seconds between the lines of statistics; "" for CSV
  std::string timeout;  // seconds without a record; "" waits for ever
};

// A duration option: positive seconds such as 0.5.
std::optional<Clock::duration> seconds(const std::string& option, const std::string& text) {
  if (text.empty()) return std::nullopt;
  const auto parsed = parseSeconds(text);
  if (!parsed || parsed->microseconds <= 0) {
    throw usageError(option + ": expected seconds above 0 such as 0.5 or 30, not " + text);
  }
  return std::chrono::microseconds(parsed->microseconds);
}

// The lines of --stats: the minimum, maximum and mean of every ordinary
// channel exported, one line at a time:
//   1200 records: p1 min -0.5 max 2.25 mean 0.873; T2 min 20 max 25.5 mean 22.1
// An interval's line covers the records that arrived since the previous
// line, the last line the whole recording from the first record followed.
// The figures are the library's (KDRVX_ReaderStatistics) over just those
// records, so that a long recording is not read again for every line.
// Channels by label (as the CSV heading names them); NaN and infinite
// values are left out, a channel without another value shows "-";
// multichannels, whose values are bit patterns, are not listed.
class StatisticsLines {
 public:
  StatisticsLines(Reader& reader, const ExportPlan& plan, Output& out)
      : reader_(reader), out_(out), first_(plan.span.first), next_(plan.span.first) {
    for (int index : plan.channels) {
      const ChannelInfo& channel = plan.info.channels[index];
      if (channel.multiChannelBits == 0) channels_.push_back({index, channel.label});
    }
  }

  // The records from the previous line's end up to `end`.
  void printSince(uint64_t end) {
    printLine(next_, end);
    next_ = std::max(next_, end);
  }
  // The records from the first one followed up to `end`.
  void printWhole(uint64_t end) { printLine(first_, end); }

 private:
  struct Channel {
    int index;
    std::string label;
  };

  void printLine(uint64_t first, uint64_t end) {
    const uint64_t count = end > first ? end - first : 0;
    const std::vector<KDRVX_WindowStatistics> found = reader_.statistics(first, count);
    std::string line = counted(found.empty() ? count : found.front().records, "record");
    char separator = ':';
    for (const Channel& channel : channels_) {
      const KDRVX_WindowStatistics& figures = found[channel.index];
      line += separator;
      line += ' ' + channel.label;
      separator = ';';
      if (figures.finiteValues == 0) {
        line += " min - max - mean -";
        continue;
      }
      line += " min " + floatText(static_cast<float>(figures.minValue)) + " max " +
              floatText(static_cast<float>(figures.maxValue)) + " mean " +
              floatText(static_cast<float>(figures.meanValue));
    }
    line += '\n';
    out_.write(line);
    out_.flush();
  }

  Reader& reader_;
  Output& out_;
  std::vector<Channel> channels_;
  uint64_t first_;  // the first record followed
  uint64_t next_;   // the first record of the next interval's line
};

// The time a follower still waits: the timeout runs from the start and
// from every record that arrives.
class Patience {
 public:
  explicit Patience(std::optional<Clock::duration> timeout) : timeout_(timeout) {}
  void arrived() { last_ = Clock::now(); }
  bool exhausted() const { return timeout_ && Clock::now() - last_ >= *timeout_; }
  // The next slice to wait: kSlice, or less where the timeout or `until`
  // comes sooner; at least one poll of the library's.
  uint32_t slice(std::optional<Clock::time_point> until = std::nullopt) const {
    Clock::duration wait = kSlice;
    const Clock::time_point now = Clock::now();
    if (timeout_) wait = std::min(wait, last_ + *timeout_ - now);
    if (until) wait = std::min(wait, *until - now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wait).count();
    return static_cast<uint32_t>(std::max<int64_t>(ms, KDRVX_LIVE_POLL_MILLISECONDS));
  }
  std::string text() const {
    const auto micro = std::chrono::duration_cast<std::chrono::microseconds>(*timeout_);
    return secondsText(micro.count()) + " s";
  }

 private:
  std::optional<Clock::duration> timeout_;
  Clock::time_point last_ = Clock::now();
};

ToolError timedOut(const std::string& file, const Patience& patience, const std::string& why) {
  return ToolError(file + ": no record arrived for " + patience.text() + " (" + why + ")",
                   kExitTimeout);
}

// Where a recording that sends no more records stands, for the timeout.
const char* standing(uint32_t state) {
  switch (state) {
    case KDRVX_LIVE_RECORDING:
      return "the writer still holds the file";
    case KDRVX_LIVE_INTERRUPTED:
      return "the writer stopped without closing the recording";
    case KDRVX_LIVE_HELD:
      return "a writer holds the file without sharing it";
    default:
      return "the file is gone";
  }
}

// The reader once the file can be followed; waits for it to appear, for
// its writer and for its first record, as long as the library says that
// they may still come.
std::unique_ptr<Reader> openWhenThere(const std::string& file, const Patience& patience) {
  for (;;) {
    std::string waitingFor;
    if (auto reader = Reader::openLive(file, patience.slice(), waitingFor)) return reader;
    if (patience.exhausted()) throw timedOut(file, patience, waitingFor);
  }
}

class Follower {
 public:
  Follower(Reader& reader, const ExportPlan& plan, ExportWriter& writer)
      : reader_(reader),
        plan_(plan),
        writer_(writer),
        next_(plan.span.first),
        block_(RecordReader::blockRecords(plan.info.channels.size())),
        records_(block_ * std::max<size_t>(1, plan.info.channels.size())) {}

  // The records of the plan's span from the last one written up to `end`,
  // block by block, then handed on at once.
  void deliver(uint64_t end) {
    const size_t channels = plan_.info.channels.size();
    while (channels != 0 && next_ < end) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(block_, end - next_));
      const size_t got = reader_.read(next_, want, records_.data());
      if (got == 0) break;
      writer_.write({next_, got, channels, records_.data()});
      next_ += got;
    }
    writer_.flush();
  }

 private:
  Reader& reader_;
  const ExportPlan& plan_;
  ExportWriter& writer_;
  uint64_t next_;
  size_t block_;
  std::vector<float> records_;
};

int runFollow(const FollowOptions& options) {
  const std::optional<Clock::duration> interval = seconds("--stats", options.stats);
  Patience patience(seconds("--timeout", options.timeout));
  TimeWindow window;
  window.from = options.from;
  // A malformed --from is a usage error before anything is waited for.
  recordSpan(window, 1, std::numeric_limits<uint64_t>::max());

  const std::unique_ptr<Reader> reader = openWhenThere(options.file, patience);
  // While the writer records, the header's count lags behind the data:
  // only what makes the values wrong counts now, the rest once it closed.
  refuseWrongValues(*reader);
  RecordingInfo info = reader->info();
  info.records = std::numeric_limits<uint64_t>::max();  // more may come
  const ExportPlan plan = exportPlan(options.file, info, options.channels, window);

  Output out("-", Existing::Refuse);
  // Either the CSV of the records, written as they arrive, or lines of
  // statistics, which leave the records to the library.
  std::unique_ptr<ExportWriter> csv;
  std::unique_ptr<Follower> follower;
  std::unique_ptr<StatisticsLines> statistics;
  if (interval) {
    statistics = std::make_unique<StatisticsLines>(*reader, plan, out);
  } else {
    csv = csvWriter(out, csvShape(ExportOptions{}));
    csv->begin(plan);
    csv->flush();
    follower = std::make_unique<Follower>(*reader, plan, *csv);
  }
  // The end of the output: the CSV complete, or the line of all records
  // up to `end`.
  const auto finish = [&](uint64_t end) {
    if (follower) {
      follower->deliver(end);
      csv->finish();
    } else {
      statistics->printWhole(end);
    }
    out.commit();
  };

  std::optional<Clock::time_point> nextLine;
  if (interval) nextLine = Clock::now() + *interval;
  uint64_t held = 0;
  bool warned = false;
  for (;;) {
    const KDRVX_LiveState state = reader->wait(held, patience.slice(nextLine));
    const bool more = state.records > held;
    if (more) {
      held = state.records;
      patience.arrived();
    }
    if (state.state == KDRVX_LIVE_CLOSED) {
      // The finished file, as export reads it: its findings warned about,
      // the records its header counts.
      finish(requireReadable(*reader, false).toRead);
      return kExitOk;
    }
    if (follower) follower->deliver(held);
    if (state.state == KDRVX_LIVE_INTERRUPTED && !warned) {
      std::cerr << "rvx: " << options.file
                << ": warning: the writer stopped without closing the recording; rvx repair "
                << options.file << " completes it\n";
      warned = true;
    }
    if (nextLine && Clock::now() >= *nextLine) {
      statistics->printSince(held);
      *nextLine = std::max(*nextLine + *interval, Clock::now());
    }
    if (patience.exhausted()) {
      finish(held);
      throw timedOut(options.file, patience, standing(state.state));
    }
  }
}

Run addFollowOptions(CLI::App& command) {
  auto options = std::make_shared<FollowOptions>();
  command.add_option("FILE", options->file, "RVX file that is being recorded, or will be")
      ->required();
  command
      .add_option("--channels", options->channels,
                  "Channels by variable, e.g. p1,T2 (default: all)")
      ->delimiter(',');
  command.add_option("--from", options->from, "Start at this time in seconds (record 0 is at 0 s)");
  command
      .add_option("--stats", options->stats,
                  "Instead of the records, every SECONDS one line: the records that arrived "
                  "since the previous line (N records: LABEL min X max Y mean Z; ...), each "
                  "channel's min, max and mean over them; at the end a last line over all "
                  "records followed")
      ->type_name("SECONDS");
  command
      .add_option("--timeout", options->timeout,
                  "Exit with status 3 when no record has arrived for SECONDS (default: wait "
                  "for ever)")
      ->type_name("SECONDS");
  command.footer(
      "Prints the records as they arrive, as rvx export writes them (the same heading and "
      "numbers: once the writer has closed the file, the output is byte for byte that of rvx "
      "export FILE), and exits 0 when the writer closes it. Waits for a file that is not there "
      "yet. A writer that stops without closing the file is warned about once; rvx repair "
      "completes such a file.\n"
      "Example: rvx follow run.rvx\n"
      "Example: rvx follow run.rvx --channels p1,T2 > run.csv\n"
      "Example (statistics every second, give up after 30 s without a record): rvx follow "
      "run.rvx --stats 1 --timeout 30");
  return [options] { return runFollow(*options); };
}

}  // namespace

extern const Subcommand kFollowSubcommand{
    "follow", "Records of a recording as they are recorded, until the writer closes it",
    addFollowOptions};

}  // namespace rvx
