// rvx convert: a recording of any layout, read through the library (which
// brings old headers into the current layout and completes them from their
// RVI file), written anew in the current layout through the create path.
#include <cstddef>
#include <filesystem>
#include <iostream>
#include <limits>

#include "claims.h"
#include "commands.h"
#include "format/layout.h"
#include "format/layouts.h"
#include "format/limits.h"
#include "number_text.h"
#include "subcommand.h"
#include "terminal.h"
#include "tool_error.h"
#include "utf.h"
#include "variable_name.h"

namespace rvx {

namespace {

struct ConvertOptions {
  std::string input, output;
  bool force = false;
  bool cutTexts = false;
  bool allRecords = false;
};

// What the conversion reports about the file it reads.
struct Warnings {
  std::string input;
  bool cutTexts = false;  // cut a text that the current layout cannot hold, rather than refuse
  std::vector<std::string> lines;
  void add(std::string line) { lines.push_back(std::move(line)); }
};

namespace format = kdrvx::format;

// The highest number of a variable: VariableIndex is a signed byte.
constexpr int kMaxVariableIndex = std::numeric_limits<decltype(format::MGR_DEF::VariableIndex)>::max();

std::string cut(const std::string& text, size_t limit) {
  std::u16string units = wide(text);
  if (units.size() <= limit) return text;
  units.resize(limit);
  // Do not leave half of a surrogate pair at the end.
  if (!units.empty() && units.back() >= 0xD800 && units.back() <= 0xDBFF) units.pop_back();
  return toUtf8(units);
}

// A text that an old file may hold longer than the current layout takes:
// refused, or cut to fit with a warning when the command line asks for it.
std::string fitting(const std::string& text, size_t limit, const std::string& what,
                    Warnings& warnings) {
  const std::string fitted = cut(text, limit);
  if (fitted == text) return text;
  if (!warnings.cutTexts) {
    throw usageError(warnings.input + ": the " + what + " has " + std::to_string(wideLength(text)) +
                     " characters; the current layout takes at most " + std::to_string(limit) +
                     " (--cut-texts cuts it)");
  }
  warnings.add(what + " cut to " + std::to_string(limit) + " characters");
  return fitted;
}

struct HeaderText {
  const char* what;
  std::string RecordingInfo::*text;
  size_t limit;
  CreateSession::HeaderSetter setter;
};
const HeaderText kHeaderTexts[] = {
    {"comment", &RecordingInfo::comment, format::kCommentLimit, KDRVX_SetComment},
    {"company", &RecordingInfo::company, format::kCompanyLimit, KDRVX_SetCompany},
    {"instrument", &RecordingInfo::instrument, format::kInstrumentLimit, KDRVX_SetInstrument},
    {"serial number", &RecordingInfo::serialNumber, format::kSnrInstrumentLimit,
     KDRVX_SetSnrInstrument},
    {"measurement name", &RecordingInfo::nameMeasurement, format::kNameMeasurementLimit,
     KDRVX_SetNameMeasurement},
    {"trigger setting", &RecordingInfo::triggerSetting, format::kTriggerSettingLimit,
     KDRVX_SetTriggerSetting},
};

struct ChannelText {
  const char* what;
  std::string ChannelInfo::*text;
  size_t limit;
  CreateSession::ChannelSetter setter;
};
const ChannelText kChannelTexts[] = {
    {"unit", &ChannelInfo::unit, format::kChannelUnitLimit, KDRVX_SetChannelUnit},
    {"name", &ChannelInfo::name, format::kChannelNameLimit, KDRVX_SetChannelName},
    {"number", &ChannelInfo::number, format::kChannelNumberLimit, KDRVX_SetChannelNumber},
    {"signal type", &ChannelInfo::signalType, format::kChannelSignalTypeLimit,
     KDRVX_SetChannelSignalType},
    {"zero point", &ChannelInfo::zeroPoint, format::kChannelZeroPointLimit,
     KDRVX_SetChannelZeroPoint},
    {"range", &ChannelInfo::calParameter, format::kChannelCalParameterLimit,
     KDRVX_SetChannelCalParameter},
    {"filter", &ChannelInfo::filter, format::kChannelFilterLimit, KDRVX_SetChannelFilter},
    {"linearisation table", &ChannelInfo::lintab, format::kChannelLintabLimit,
     KDRVX_SetChannelLintab},
};

// Every text as the current layout takes it, before anything is written.
void fitTexts(RecordingInfo& info, Warnings& warnings) {
  for (const HeaderText& field : kHeaderTexts) {
    info.*field.text = fitting(info.*field.text, field.limit, field.what, warnings);
  }
  for (ChannelInfo& channel : info.channels) {
    for (const ChannelText& field : kChannelTexts) {
      const std::string what = "channel " + channel.variable + " " + field.what;
      channel.*field.text = fitting(channel.*field.text, field.limit, what, warnings);
    }
  }
}

int addChannel(CreateSession& session, const ChannelInfo& channel, Warnings& warnings) {
  if (isVariableName(channel.variable)) {
    const uint32_t result = KDRVX_AddChannel(chars(wide(channel.variable)));
    if (result < 0xE1000000u) return static_cast<int>(result);
    if (result != KDRVX_ERR_RVX_CHN_VAR && result != KDRVX_ERR_RVX_CHN_VAR_EXISTS) {
      session.check(result, "channel " + channel.variable);
    }
  }
  // A variable that the current layout cannot hold as it is (none at all
  // in some DOS files, or one taken twice) gets a stand-in name.
  for (const char* letter : {"X", "Y", "Z"}) {
    for (int number = channel.index + 1; number <= kMaxVariableIndex; ++number) {
      const std::string name = letter + std::to_string(number);
      const uint32_t result = KDRVX_AddChannel(chars(wide(name)));
      if (result < 0xE1000000u) {
        warnings.add("channel " + std::to_string(channel.index) + " '" + channel.variable +
                     "' is written as " + name);
        return static_cast<int>(result);
      }
      if (result != KDRVX_ERR_RVX_CHN_VAR_EXISTS) session.check(result, "channel " + name);
    }
  }
  throw ToolError(session.file() + ": no free variable name for channel " + std::to_string(channel.index));
}

// Day, month and year from "DD.MM.YYYY"; hour, minute and second from
// "HH:MM" or "HH:MM:SS". The header marks an hour, minute or second it does
// not know as it marks missing seconds.
constexpr int64_t kUnknownTime = format::kNoSeconds;

struct DateTime {
  int64_t day = 0, month = 0, year = 0, hour = kUnknownTime, minute = kUnknownTime, second = kUnknownTime;

  // The setters take a known date and time only; an unknown one (day,
  // month or year 0, or no hour) goes into the header bytes as it is.
  bool dateKnown() const { return day > 0 && month > 0 && year > 0; }
  bool timeKnown() const {
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 &&
           (second == kUnknownTime || (second >= 0 && second <= 59));
  }
};

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == text.npos ? text.npos : at - start));
    if (at == text.npos) return parts;
    start = at + 1;
  }
}

DateTime parseDateTime(const RecordingInfo& info) {
  DateTime result;
  const auto date = split(info.date, '.');
  if (date.size() == 3) {
    parseSigned(date[0], result.day);
    parseSigned(date[1], result.month);
    parseSigned(date[2], result.year);
  }
  const auto time = split(info.time, ':');
  if (time.size() >= 2 && parseSigned(time[0], result.hour) && parseSigned(time[1], result.minute)) {
    if (time.size() == 3 && !parseSigned(time[2], result.second)) result.second = kUnknownTime;
  } else {
    result.hour = result.minute = result.second = kUnknownTime;
  }
  return result;
}

void copyHeaderValues(CreateSession& session, const RecordingInfo& info) {
  for (const HeaderText& field : kHeaderTexts) {
    session.check(session.set(field.setter, info.*field.text), field.what);
  }
  session.check(KDRVX_SetScanRate(info.scanInterval), "scan interval");
  session.check(KDRVX_SetNoTriggerRecord(info.triggerRecord), "trigger record");
}

void setKnownDateAndTime(CreateSession& session, const DateTime& when) {
  if (when.dateKnown()) {
    const std::string date = std::to_string(when.day) + "." + std::to_string(when.month) + "." +
                             std::to_string(when.year);
    session.check(session.set(KDRVX_SetDate, date), "date " + date);
  }
  if (when.timeKnown()) {
    std::string time = std::to_string(when.hour) + ":" + std::to_string(when.minute);
    if (when.second != kUnknownTime) time += ":" + std::to_string(when.second);
    session.check(session.set(KDRVX_SetTime, time), "time " + time);
  }
}

void copyChannelTexts(CreateSession& session, int k, const ChannelInfo& channel,
                      const std::string& what) {
  for (const ChannelText& field : kChannelTexts) {
    session.check(session.set(field.setter, k, channel.*field.text), what + " " + field.what);
  }
}

void copyChannelFlags(CreateSession& session, int k, const ChannelInfo& channel, const std::string& what,
                      Warnings& warnings) {
  const auto index = static_cast<int16_t>(k);
  session.check(KDRVX_SetChannelIndRate(index, channel.indRate), what + " individual rate");
  session.check(KDRVX_SetChannelISDS(index, channel.isds ? 1 : 0), what + " ISDS");
  session.check(KDRVX_SetChannelLinearisation(index, channel.linearisation ? 1 : 0), what + " linearisation");
  if (channel.multiChannelBits >= 1 && channel.multiChannelBits <= 32) {
    session.check(KDRVX_SetChannelMultiChannel(index, static_cast<uint16_t>(channel.multiChannelBits)),
                  what + " multichannel");
  } else if (channel.multiChannelBits != 0) {
    warnings.add(what + ": a multichannel of " + std::to_string(channel.multiChannelBits) +
                 " bits cannot be written; it becomes an ordinary channel");
  }
}

void copyChannels(CreateSession& session, const RecordingInfo& info, Warnings& warnings) {
  for (const ChannelInfo& channel : info.channels) {
    const std::string what = "channel " + channel.variable;
    const int k = addChannel(session, channel, warnings);
    copyChannelTexts(session, k, channel, what);
    copyChannelFlags(session, k, channel, what, warnings);
  }
}

// Returns the number of records copied.
uint64_t copyRecords(CreateSession& session, const RecordingInfo& info, Warnings& warnings) {
  const size_t channels = info.channels.size();
  RecordReader records(channels, info.records);
  const size_t block = RecordReader::blockRecords(channels);
  std::vector<float> buffer(block * std::max<size_t>(1, channels));
  Progress progress("convert", info.records);
  while (const size_t got = records.read(buffer.data(), block)) {
    session.addRecords(buffer.data(), static_cast<uint32_t>(got));
    progress.update(records.delivered());
  }
  progress.finish();
  const std::string shortfall = shortfallText(records, info.records);
  if (!shortfall.empty()) warnings.add(shortfall + "; the converted file holds those that were read");
  return records.delivered();
}

// Closes the file; a date or time that no setter took is written into the
// header bytes as the old file had it.
void closeKeepingUnknownDate(CreateSession& session, const DateTime& when, const RecordingInfo& info,
                             Warnings& warnings) {
  if (when.dateKnown() && when.timeKnown()) {
    session.close();
    return;
  }
  using format::RVX_HEADER;
  const auto byte = [](int64_t value) { return static_cast<uint8_t>(value); };
  const uint16_t year = static_cast<uint16_t>(when.year);
  std::vector<uint8_t> date = {byte(year), byte(year >> 8), byte(when.month), byte(when.day)};
  const uint8_t unknown = byte(kUnknownTime);
  std::vector<uint8_t> time = when.timeKnown()
      ? std::vector<uint8_t>{byte(when.hour), byte(when.minute), byte(when.second)}
      : std::vector<uint8_t>{unknown, unknown, unknown};
  static_assert(offsetof(RVX_HEADER, Hour) == offsetof(RVX_HEADER, Year) + 4 &&
                offsetof(RVX_HEADER, Second) == offsetof(RVX_HEADER, Year) + 6);
  if (!when.dateKnown()) warnings.add("the recording date is unknown (" + info.date + ") and stays so");
  if (!when.timeKnown()) warnings.add("the recording time is unknown and stays so");
  if (when.dateKnown()) {
    // Only the time bytes: the date is already set.
    session.closeWithPatch(static_cast<int32_t>(offsetof(RVX_HEADER, Hour)), time);
  } else {
    date.insert(date.end(), time.begin(), time.end());
    session.closeWithPatch(static_cast<int32_t>(offsetof(RVX_HEADER, Year)), date);
  }
}

int runConvert(const ConvertOptions& options) {
  refuseSameFile(options.input, options.output);
  Warnings warnings{options.input, options.cutTexts, {}};
  ReadSession reader(options.input);
  RecordingInfo info = queryRecording(reader);
  info.records = countRecords(options.input, info.records, options.allRecords).toRead;
  fitTexts(info, warnings);

  CreateSession session(options.output, existingFrom(options.force), info.original, false,
                        kNoSummaryLanguage);
  copyHeaderValues(session, info);
  const DateTime when = parseDateTime(info);
  setKnownDateAndTime(session, when);
  copyChannels(session, info, warnings);
  const uint64_t records = copyRecords(session, info, warnings);
  closeKeepingUnknownDate(session, when, info, warnings);

  std::cout << options.input << " -> " << session.file() << ": " << info.channels.size() << " channels, "
            << records << " records, " << format::layoutOf(format::LayoutId::Current).name << " layout\n";
  for (const std::string& line : warnings.lines) {
    std::cerr << "rvx: " << options.input << ": warning: " << line << '\n';
  }
  return kExitOk;
}

Run addConvertOptions(CLI::App& command) {
  auto options = std::make_shared<ConvertOptions>();
  command.add_option("IN", options->input, "RVX file of any layout")->required();
  command.add_option("-o,--output", options->output, "RVX file to create")->required();
  command.add_flag("-f,--force", options->force, "Replace an existing output file");
  command.add_flag("--cut-texts", options->cutTexts,
                   "Cut a text longer than the current layout takes (with a warning) instead of "
                   "refusing the file");
  command.add_flag("--all-records", options->allRecords, kAllRecordsHelp);
  return [options] { return runConvert(*options); };
}

}  // namespace

extern const Subcommand kConvertSubcommand{"convert", "Any layout to the current layout", addConvertOptions};

}  // namespace rvx
