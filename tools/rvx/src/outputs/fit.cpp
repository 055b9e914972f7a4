#include "outputs/fit.h"

#include <filesystem>
#include <random>
#include <set>

#include "files/output_file.h"
#include "format/layout.h"
#include "format/limits.h"
#include "shared/fields.h"
#include "shared/number_text.h"
#include "shared/tool_error.h"
#include "shared/utf.h"
#include "shared/variable_name.h"

namespace rvx {

namespace {

namespace format = kdrvx::format;

// Whether the RVI file of the compact layout carries a channel text.
bool inSummary(const ChannelField& field) {
  return field.field != KDRVX_FIELD_CHANNEL_NAME && field.field != KDRVX_FIELD_CHANNEL_FILTER &&
         field.field != KDRVX_FIELD_CHANNEL_LINTAB;
}

// ---- Dates and times --------------------------------------------------------

struct Date {
  int day = 0, month = 0, year = 0;
  bool operator==(const Date&) const = default;
};

struct Time {
  int hour = 0, minute = 0;
  std::optional<int> second;
  bool operator==(const Time&) const = default;
};

std::optional<int> digits(std::string_view text, size_t fewest, size_t most) {
  uint64_t value = 0;
  if (text.size() < fewest || text.size() > most ||
      text.find_first_not_of("0123456789") != text.npos || !parseUnsigned(text, value)) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (size_t start = 0;;) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == text.npos ? text.npos : at - start));
    if (at == text.npos) return parts;
    start = at + 1;
  }
}

int daysInMonth(int month, int year) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

std::optional<Date> parseDate(std::string_view text) {
  const auto parts = split(text, '.');
  if (parts.size() != 3) return std::nullopt;
  const auto day = digits(parts[0], 1, 2), month = digits(parts[1], 1, 2);
  const auto year = digits(parts[2], 4, 4);
  if (!day || !month || !year || *month < 1 || *month > 12 || *year < 1 || *day < 1 ||
      *day > daysInMonth(*month, *year)) {
    return std::nullopt;
  }
  return Date{*day, *month, *year};
}

std::optional<Time> parseTime(std::string_view text) {
  const auto parts = split(text, ':');
  if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
  const auto hour = digits(parts[0], 1, 2), minute = digits(parts[1], 2, 2);
  if (!hour || !minute || *hour > 23 || *minute > 59) return std::nullopt;
  Time time{*hour, *minute, std::nullopt};
  if (parts.size() == 3) {
    time.second = digits(parts[2], 2, 2);
    if (!time.second || *time.second > 59) return std::nullopt;
  }
  return time;
}

// ---- What any layout holds --------------------------------------------------

void requireLength(const std::string& text, size_t limit, const std::string& what,
                   const std::string& output) {
  const size_t length = wideLength(text);
  if (length > limit) {
    throw usageError(output + ": the " + what + " has " + std::to_string(length) +
                     " characters; at most " + std::to_string(limit) + " fit");
  }
}

void checkHeader(const PlannedRecording& plan, const std::string& output) {
  for (const HeaderField& text : headerFields()) {
    requireLength(plan.info.*text.text, text.limit, text.what, output);
  }
  if (!plan.info.date.empty() && !isDate(plan.info.date)) {
    throw usageError(output + ": the date " + plan.info.date +
                     " does not exist; give it as DD.MM.YYYY, such as 29.02.2024");
  }
  if (!plan.info.time.empty() && !isTime(plan.info.time)) {
    throw usageError(output + ": the time " + plan.info.time +
                     " does not exist; give it as HH:MM or HH:MM:SS, such as 23:59:59");
  }
  if (!format::scanIntervalFits(plan.info.scanInterval)) {
    throw usageError(output + ": a scan interval of " + std::to_string(plan.info.scanInterval) +
                     " µs does not fit the header, which holds 1 to 4294967295 µs, or whole "
                     "milliseconds up to 4294967295 ms");
  }
}

void checkChannels(const PlannedRecording& plan, const std::string& output) {
  const uint32_t most = plan.compact ? format::kCompactMaxChannels : format::kMaxChannels;
  if (plan.info.channels.empty() || plan.info.channels.size() > most) {
    throw usageError(output + ": " + std::to_string(plan.info.channels.size()) + " channels; the " +
                     (plan.compact ? "compact" : "current") + " layout holds 1 to " +
                     std::to_string(most));
  }
  std::set<std::string> variables;
  for (const ChannelInfo& channel : plan.info.channels) {
    if (!isVariableName(channel.variable)) {
      throw usageError(output + ": '" + channel.variable + "' is not a variable; a variable is " +
                       std::string(kVariableRule));
    }
    if (!variables.insert(channel.variable).second) {
      throw usageError(output + ": two channels have the variable " + channel.variable);
    }
    for (const ChannelField& text : channelFields()) {
      if (!text.setter) continue;
      requireLength(channel.*text.text, text.limit, "channel " + channel.variable + " " + text.what,
                    output);
    }
  }
}

// ---- What the compact layout holds ------------------------------------------

// Whether the library can make a compact recording and its RVI file below
// `base`: the RVI file's name must stay in the recording's directory, and
// the library refuses a colon past a drive's.
bool holdsTrials(const std::filesystem::path& base) {
  const std::string text = pathText(base);
  const size_t pastDrive = text.size() > 1 && text[1] == ':' ? 2 : 0;
  return summaryNamedBeside(base / "rvx-0" / "trial.rvx") && text.find(':', pastDrive) == text.npos;
}

// A directory of the tool's own, removed with what it holds: in the
// temporary directory, or beside `output` where the temporary directory's
// path would trouble the library (the output meets the same rules anyway).
class ScratchDirectory {
 public:
  explicit ScratchDirectory(const std::string& output) {
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error || !holdsTrials(base)) {
      error.clear();
      base = toPath(output).parent_path();
      if (base.empty()) base = ".";
    }
    std::random_device random;
    for (int attempt = 0; !error && attempt < 100; ++attempt) {
      path_ = base / ("rvx-" + std::to_string(random()));
      if (std::filesystem::create_directory(path_, error)) return;
    }
    const std::string reason = error ? error.message() : "every name tried is taken";
    throw ToolError(
        "cannot make a directory in the temporary directory to try the compact layout: " + reason);
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The name of the trial: the output's own where it names its RVI file, as
// the name is one of the RVI file's lines.
std::string trialName(const std::string& output) {
  const std::string name = pathText(toPath(output).filename());
  const bool namesSummary = name.find(".rvx") != name.npos || name.find(".RVX") != name.npos;
  return namesSummary ? name : "recording.rvx";
}

// The recording made without records, as the library reads it back.
RecordingInfo readBackWithoutRecords(const PlannedRecording& plan, const std::string& output) {
  const ScratchDirectory scratch(output);
  try {
    std::string file;
    {
      CreateSession session(pathText(scratch.path() / toPath(trialName(output))), Existing::Refuse,
                            plan.info.original, true, plan.language);
      file = session.file();
      applyPlan(session, plan);
      session.close();
    }
    return Reader(file).info();
  } catch (const ToolError& error) {
    throw ToolError(output + ": the compact layout could not be tried: " + error.what());
  }
}

// Why a text read back differently.
std::string whyNotKept(const std::string& planned, const std::string& back) {
  if (planned.empty()) {
    // An empty comment, for one: the reader takes the lines after its label.
    return "left empty, it reads back from the RVI file as '" + back +
           "', which the file's reader takes from another line";
  }
  const std::u16string units = toUtf16(planned);
  for (size_t i = 0; i < units.size(); ++i) {
    if (units[i] <= 0xFF) continue;
    const size_t length = units[i] >= 0xD800 && units[i] <= 0xDBFF ? 2 : 1;
    return "'" + toUtf8(units.substr(i, length)) +
           "' is not a Latin-1 character, and the compact layout and its RVI file hold Latin-1 "
           "text only";
  }
  if (planned.find_first_of("\r\n") != std::string::npos) {
    return "its RVI file does not keep line breaks (give it as one line)";
  }
  if (!back.empty() && planned.starts_with(back)) {
    return "its RVI file gives back only the first " + std::to_string(wideLength(back)) +
           " characters";
  }
  return "it reads back from the RVI file as '" + back +
         "' (a text that holds one of the RVI file's labels, such as Trigger or Variable, "
         "misleads its reader)";
}

[[noreturn]] void refuseCompact(const std::string& output, const std::string& what) {
  throw usageError(output + ": the compact layout cannot hold " + what);
}

void compareText(const std::string& planned, const std::string& back, const std::string& what,
                 const std::string& output) {
  if (planned != back) {
    const std::string shown = planned.empty() ? "" : " '" + fromCrLf(planned) + "'";
    // The reader of the RVI file takes the lines after the comment's label.
    const std::string hint = planned.empty() && what == "comment" ? "; give a comment" : "";
    refuseCompact(output, "the " + what + shown + ": " + whyNotKept(planned, back) + hint);
  }
}

void compareHeader(const PlannedRecording& plan, const RecordingInfo& back,
                   const std::string& output) {
  for (const HeaderField& text : headerFields()) {
    compareText(plan.info.*text.text, back.*text.text, text.what, output);
  }
  if (!plan.info.original && back.original) {
    refuseCompact(output,
                  "the mark 'not an original recording': it marks every recording as "
                  "original");
  }
  if (!plan.info.date.empty() && parseDate(plan.info.date) != parseDate(back.date)) {
    refuseCompact(output, "the date " + plan.info.date + ": it reads back as " + back.date);
  }
  if (!plan.info.time.empty() && parseTime(plan.info.time) != parseTime(back.time)) {
    refuseCompact(output, "the time " + plan.info.time + ": it reads back as " + back.time +
                              (parseTime(plan.info.time)->second ? " (it keeps no seconds)" : ""));
  }
  if (plan.info.scanInterval != back.scanInterval) {
    refuseCompact(output, "a scan interval of " + std::to_string(plan.info.scanInterval) +
                              " µs: it reads back as " + std::to_string(back.scanInterval) + " µs");
  }
  if (plan.triggerRecord && *plan.triggerRecord != back.triggerRecord) {
    refuseCompact(output, "the trigger record " + std::to_string(*plan.triggerRecord));
  }
}

// Returns the variables of the channels whose name or filter is lost.
std::vector<std::string> compareChannels(const PlannedRecording& plan, const RecordingInfo& back,
                                         const std::string& output) {
  std::vector<std::string> lost;
  if (back.channels.size() != plan.info.channels.size()) {
    refuseCompact(output, std::to_string(plan.info.channels.size()) + " channels: it reads back " +
                              std::to_string(back.channels.size()));
  }
  for (size_t k = 0; k < plan.info.channels.size(); ++k) {
    const ChannelInfo& planned = plan.info.channels[k];
    const ChannelInfo& read = back.channels[k];
    if (planned.multiChannelBits != read.multiChannelBits) {
      refuseCompact(output, "the multichannel " + planned.variable + " (" +
                                std::to_string(planned.multiChannelBits) +
                                " bits): it has no mark for a multichannel, so its bit fields "
                                "would read back as floats; record it in the current layout, or "
                                "as plain numbers without the multichannel mark");
    }
    if (read.variable != planned.variable) {
      refuseCompact(output,
                    "the variable " + planned.variable + ": it reads back as " + read.variable);
    }
    bool dropped = false;
    for (const ChannelField& text : channelFields()) {
      if (!text.setter) continue;
      const std::string& value = planned.*text.text;
      if (!inSummary(text)) {
        dropped = dropped || (!value.empty() && value != read.*text.text);
      } else {
        compareText(value, read.*text.text, "channel " + planned.variable + " " + text.what,
                    output);
      }
    }
    if (dropped) lost.push_back(planned.variable);
  }
  return lost;
}

std::string joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
  return text;
}

}  // namespace

bool isDate(std::string_view text) { return parseDate(text).has_value(); }
bool isTime(std::string_view text) { return parseTime(text).has_value(); }

std::vector<std::string> checkFit(const PlannedRecording& plan, const std::string& output) {
  checkHeader(plan, output);
  checkChannels(plan, output);
  if (!plan.compact) return {};
  const RecordingInfo back = readBackWithoutRecords(plan, output);
  compareHeader(plan, back, output);
  const std::vector<std::string> lost = compareChannels(plan, back, output);
  if (lost.empty()) return {};
  return {"the compact layout and its RVI file keep no channel names and filters; those of " +
          joined(lost) + " are not recorded"};
}

void applyPlan(CreateSession& session, const PlannedRecording& plan) {
  for (const HeaderField& text : headerFields()) {
    const std::string& value = plan.info.*text.text;
    if (!value.empty()) session.check(session.set(text.setter, value), text.what);
  }
  if (!plan.info.date.empty()) session.check(session.set(KDRVX_SetDate, plan.info.date), "date");
  if (!plan.info.time.empty()) session.check(session.set(KDRVX_SetTime, plan.info.time), "time");
  if (plan.triggerRecord) {
    session.check(KDRVX_SetNoTriggerRecord(*plan.triggerRecord), "trigger record");
  }
  session.check(KDRVX_SetScanRate(plan.info.scanInterval), "scan interval");
  for (const ChannelInfo& channel : plan.info.channels) {
    const int k = session.addChannel(channel.variable);
    const auto index = static_cast<int16_t>(k);
    const std::string what = "channel " + channel.variable;
    for (const ChannelField& text : channelFields()) {
      if (!text.setter) continue;
      const std::string& value = channel.*text.text;
      if (!value.empty()) session.check(session.set(text.setter, k, value), what + " " + text.what);
    }
    // Every record holds every channel.
    session.check(KDRVX_SetChannelIndRate(index, 1), what);
    if (channel.multiChannelBits != 0) {
      session.check(
          KDRVX_SetChannelMultiChannel(index, static_cast<uint16_t>(channel.multiChannelBits)),
          what);
    }
  }
}

}  // namespace rvx
