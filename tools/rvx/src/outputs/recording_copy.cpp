#include "outputs/recording_copy.h"

#include <cstddef>
#include <iostream>
#include <limits>
#include <numeric>

#include "shared/fields.h"
#include "shared/number_text.h"
#include "shared/terminal.h"
#include "shared/tool_error.h"
#include "shared/utf.h"
#include "shared/wall_time.h"

namespace rvx {

namespace {

constexpr int64_t kUnknownTime = DateTime::kUnknownTime;

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

}  // namespace

std::vector<std::string> standInNames(int channel, size_t channels) {
  std::vector<std::string> names;
  for (const char* letter : {"X", "Y", "Z"}) {
    for (size_t number = channel + 1; number <= channel + channels; ++number)
      names.push_back(letter + std::to_string(number));
  }
  return names;
}

namespace {

int addChannel(CreateSession& session, const ChannelInfo& channel, size_t channels,
               Warnings& warnings) {
  const uint32_t result = KDRVX_AddChannel(chars(wide(channel.variable)));
  if (result < 0xE1000000u) return static_cast<int>(result);
  if (result != KDRVX_ERR_RVX_CHN_VAR && result != KDRVX_ERR_RVX_CHN_VAR_EXISTS) {
    session.check(result, "channel " + channel.variable);
  }
  for (const std::string& name : standInNames(channel.index, channels)) {
    const uint32_t added = KDRVX_AddChannel(chars(wide(name)));
    if (added < 0xE1000000u) {
      warnings.add("channel " + std::to_string(channel.index) + " '" + channel.variable +
                   "' is written as " + name);
      return static_cast<int>(added);
    }
    if (added != KDRVX_ERR_RVX_CHN_VAR_EXISTS) session.check(added, "channel " + name);
  }
  throw ToolError(session.file() + ": no free variable name for channel " +
                  std::to_string(channel.index));
}

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

void copyHeaderValues(CreateSession& session, const RecordingInfo& info) {
  for (const HeaderField& field : headerFields()) {
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
  for (const ChannelField& field : channelFields()) {
    if (!field.setter) continue;
    session.check(session.set(field.setter, k, channel.*field.text), what + " " + field.what);
  }
}

void copyChannelFlags(CreateSession& session, int k, const ChannelInfo& channel,
                      const std::string& what, Warnings& warnings) {
  const auto index = static_cast<int16_t>(k);
  session.check(KDRVX_SetChannelIndRate(index, channel.indRate), what + " individual rate");
  session.check(KDRVX_SetChannelISDS(index, channel.isds ? 1 : 0), what + " ISDS");
  session.check(KDRVX_SetChannelLinearisation(index, channel.linearisation ? 1 : 0),
                what + " linearisation");
  if (channel.multiChannelBits >= 1 && channel.multiChannelBits <= 32) {
    session.check(
        KDRVX_SetChannelMultiChannel(index, static_cast<uint16_t>(channel.multiChannelBits)),
        what + " multichannel");
  } else if (channel.multiChannelBits != 0) {
    warnings.add(what + ": a multichannel of " + std::to_string(channel.multiChannelBits) +
                 " bits cannot be written; it becomes an ordinary channel");
  }
}

}  // namespace

void Warnings::print() const {
  for (const std::string& line : lines) {
    std::cerr << "rvx: " << input << ": warning: " << line << '\n';
  }
}

void fitTexts(RecordingInfo& info, Warnings& warnings) {
  for (const HeaderField& field : headerFields()) {
    info.*field.text = fitting(info.*field.text, field.limit, field.what, warnings);
  }
  for (ChannelInfo& channel : info.channels) {
    for (const ChannelField& field : channelFields()) {
      if (!field.setter) continue;
      const std::string what = "channel " + channel.variable + " " + field.what;
      channel.*field.text = fitting(channel.*field.text, field.limit, what, warnings);
    }
  }
}

bool DateTime::dateKnown() const { return day > 0 && month > 0 && year > 0; }

bool DateTime::timeKnown() const { return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59; }

DateTime parseDateTime(const RecordingInfo& info) {
  DateTime result;
  const auto date = split(info.date, '.');
  if (date.size() == 3) {
    parseSigned(date[0], result.day);
    parseSigned(date[1], result.month);
    parseSigned(date[2], result.year);
  }
  const auto time = split(info.time, ':');
  if (time.size() >= 2 && parseSigned(time[0], result.hour) &&
      parseSigned(time[1], result.minute)) {
    const bool second = time.size() == 3 && parseSigned(time[2], result.second) &&
                        result.second >= 0 && result.second <= 59;
    if (!second) result.second = kUnknownTime;
  } else {
    result.hour = result.minute = result.second = kUnknownTime;
  }
  return result;
}

DateTime advance(const DateTime& when, int64_t seconds) {
  constexpr int64_t kDay = 86400;
  DateTime result = when;
  const bool withSeconds = when.second != kUnknownTime;
  const int64_t step = withSeconds ? seconds : seconds / 60 * 60;
  const int64_t clock =
      when.hour * 3600 + when.minute * 60 + (withSeconds ? when.second : 0) + step;
  result.hour = clock / 3600 % 24;
  result.minute = clock / 60 % 60;
  if (withSeconds) result.second = clock % 60;
  if (when.dateKnown()) {
    const int64_t days = daysFromCivil(when.year, when.month, when.day) + clock / kDay;
    const CivilDate date = civilFromDays(days);
    result.year = date.year, result.month = date.month, result.day = date.day;
  }
  return result;
}

namespace {

constexpr int64_t kMicrosecondsPerSecond = 1000000;

std::string twoDigits(int64_t value) {
  std::string text = std::to_string(value);
  return value >= 0 && value < 10 ? "0" + text : text;
}

// The time as KDRVX_GetTime shows it: "HH:MM:SS", or "HH:MM" without seconds.
std::string timeText(const DateTime& when) {
  std::string text = twoDigits(when.hour) + ":" + twoDigits(when.minute);
  if (when.second != kUnknownTime) text += ":" + twoDigits(when.second);
  return text;
}

// The date as KDRVX_GetDate shows a known one: "DD.MM.YYYY".
std::string dateText(const DateTime& when) {
  std::string year = std::to_string(when.year);
  if (year.size() < 4) year.insert(0, 4 - year.size(), ' ');
  return twoDigits(when.day) + "." + twoDigits(when.month) + "." + year;
}

}  // namespace

std::string WindowStart::restWarning() const {
  if (restMicroseconds == 0) return "";
  return "the window's first record lies " + secondsText(restMicroseconds) +
         " s after the new start time " + time + " (the header holds whole " +
         (when.second == kUnknownTime ? "minutes" : "seconds") + ")";
}

WindowStart windowStart(const RecordingInfo& info, uint64_t firstRecord) {
  WindowStart start{parseDateTime(info), info.date, info.time, 0};
  if (!start.when.timeKnown() || firstRecord == 0 || info.scanInterval <= 0) return start;
  // Whole seconds of the interval and its fraction apart, so that the
  // product stays within 64 bits for any count of records a file can hold.
  const auto interval = static_cast<uint64_t>(info.scanInterval);
  const uint64_t fraction = firstRecord * (interval % kMicrosecondsPerSecond);
  const auto seconds = static_cast<int64_t>(firstRecord * (interval / kMicrosecondsPerSecond) +
                                            fraction / kMicrosecondsPerSecond);
  start.when = advance(start.when, seconds);
  const int64_t dropped = start.when.second == kUnknownTime ? seconds % 60 : 0;
  start.restMicroseconds =
      dropped * kMicrosecondsPerSecond + static_cast<int64_t>(fraction % kMicrosecondsPerSecond);
  start.time = timeText(start.when);
  if (start.when.dateKnown()) start.date = dateText(start.when);
  return start;
}

void startCopy(CreateSession& session, const RecordingInfo& info, const DateTime& when,
               Warnings& warnings) {
  copyHeaderValues(session, info);
  setKnownDateAndTime(session, when);
  for (const ChannelInfo& channel : info.channels) {
    const std::string what = "channel " + channel.variable;
    const int k = addChannel(session, channel, info.channels.size(), warnings);
    copyChannelTexts(session, k, channel, what);
    copyChannelFlags(session, k, channel, what, warnings);
  }
}

uint64_t copyRecords(CreateSession& session, Reader& reader, uint64_t limit, RecordSpan span,
                     const std::vector<int>& keep, const char* activity, Warnings& warnings) {
  RecordReader records(reader, span.first, std::min(limit, span.end));
  return copyRecords(session, records, span, keep, activity, warnings);
}

uint64_t copyRecords(CreateSession& session, RecordReader& records, RecordSpan span,
                     const std::vector<int>& keep, const char* activity, Warnings& warnings) {
  const size_t channels = records.channels();
  bool all = keep.size() == channels;
  for (size_t c = 0; all && c < channels; ++c) all = keep[c] == static_cast<int>(c);
  const size_t block = RecordReader::blockRecords(channels);
  std::vector<float> buffer(block * std::max<size_t>(1, channels));
  std::vector<float> kept(all ? 0 : block * keep.size());
  Progress progress(activity, span.end);
  uint64_t added = 0;
  // The reader starts at the span's first record: every block is copied whole.
  while (const size_t got = records.read(buffer.data(), block)) {
    const float* from = buffer.data();
    if (!all) {
      for (size_t r = 0; r < got; ++r) {
        for (size_t c = 0; c < keep.size(); ++c)
          kept[r * keep.size() + c] = from[r * channels + keep[c]];
      }
      from = kept.data();
    }
    session.addRecords(from, static_cast<uint32_t>(got));
    added += got;
    progress.update(records.delivered());
  }
  progress.finish();
  const std::string shortfall = shortfallText(records, records.limit());
  if (!shortfall.empty()) warnings.add(shortfall + "; the new file holds those that were read");
  return added;
}

void closeKeepingUnknownDate(CreateSession& session, const DateTime& when,
                             const RecordingInfo& info, Warnings& warnings) {
  if (when.dateKnown() && when.timeKnown()) {
    session.close();
    return;
  }
  const auto byte = [](int64_t value) { return static_cast<uint8_t>(value); };
  const uint16_t year = static_cast<uint16_t>(when.year);
  std::vector<uint8_t> date = {byte(year), byte(year >> 8), byte(when.month), byte(when.day)};
  const uint8_t unknown = byte(kUnknownTime);
  std::vector<uint8_t> time =
      when.timeKnown() ? std::vector<uint8_t>{byte(when.hour), byte(when.minute), byte(when.second)}
                       : std::vector<uint8_t>{unknown, unknown, unknown};
  static_assert(KDRVX_HEADER_HOUR_OFFSET == KDRVX_HEADER_YEAR_OFFSET + 4);
  if (!when.dateKnown())
    warnings.add("the recording date is unknown (" + info.date + ") and stays so");
  if (!when.timeKnown()) warnings.add("the recording time is unknown and stays so");
  if (when.dateKnown()) {
    // Only the time bytes: the date is already set.
    session.closeWithPatch(KDRVX_HEADER_HOUR_OFFSET, time);
  } else {
    date.insert(date.end(), time.begin(), time.end());
    session.closeWithPatch(KDRVX_HEADER_YEAR_OFFSET, date);
  }
}

std::vector<int> allChannels(const RecordingInfo& info) {
  std::vector<int> indexes(info.channels.size());
  std::iota(indexes.begin(), indexes.end(), 0);
  return indexes;
}

}  // namespace rvx
