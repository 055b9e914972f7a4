// The check of a planned recording. The plan's values go, one after the
// other, through the create context's own storing functions (headers.h) into
// headers of the check's own; the header image that closing would write,
// and for the compact layout the RVI text, are then read back with the
// reading side's pure format code, as an open reads them, and described as
// a reader describes them. A second run of the same setters, on fresh
// headers, reports every value in the order of the fields: refused by its
// setter, or compared with what reads back. Nothing here touches a disk,
// the module state, the traces or the last error.
#include "write/plan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "format/header_values.h"
#include "format/import.h"
#include "format/labels.h"
#include "format/layouts.h"
#include "format/limits.h"
#include "format/summary_names.h"
#include "format/summary_parser.h"
#include "format/summary_writer.h"
#include "format/text.h"
#include "format/variable.h"
#include "library/sized.h"
#include "library/text.h"
#include "platform/platform.h"
#include "write/headers.h"

namespace kdrvx::write {
namespace {

using format::RVX_HEADER;
using library::entryAt;
using library::sizeOf;

constexpr uint32_t kNoChannel = UINT32_MAX;

static_assert(KDRVX_PATH_CAPACITY == format::kCreatePathCapacity,
              "the header's path capacity is the create's");

// The longest excerpt of a text that a problem quotes.
constexpr size_t kQuotedLength = 60;

std::u16string_view given(const KDRVX_CHAR* text) {
  return text != nullptr ? std::u16string_view(fromCaller(text)) : std::u16string_view();
}

// ---- The words of a problem --------------------------------------------------

class Words {
 public:
  Words& add(std::u16string_view text) {
    for (char16_t unit : text)
      if (length_ < kLongest) buffer_[length_++] = unit;
    return *this;
  }
  Words& ascii(std::string_view text) {
    for (char c : text)
      if (length_ < kLongest) buffer_[length_++] = static_cast<unsigned char>(c);
    return *this;
  }
  Words& number(int64_t value) { return ascii(std::to_string(value)); }
  // The text in single quotes; a long one cut, at its end or, for a path,
  // at its start.
  Words& quoted(std::u16string_view text, bool keepEnd = false) {
    add(u"'");
    if (text.size() <= kQuotedLength) return add(text).add(u"'");
    if (keepEnd) return add(u"...").add(text.substr(text.size() - kQuotedLength)).add(u"'");
    return add(text.substr(0, kQuotedLength)).add(u"...'");
  }
  // The character at unit `at` of `text`, quoted, and where it stands,
  // counted in characters from 1.
  Words& character(std::u16string_view text, size_t at) {
    const auto isLead = [](char16_t u) { return u >= 0xD800 && u <= 0xDBFF; };
    const auto isTrail = [](char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
    size_t characters = 1;
    for (size_t i = 0; i < at; ++i)
      if (!(isTrail(text[i]) && i > 0 && isLead(text[i - 1]))) ++characters;
    const bool pair = isLead(text[at]) && at + 1 < text.size() && isTrail(text[at + 1]);
    if (pair) {
      quoted(text.substr(at, 2));
    } else if (isLead(text[at]) || isTrail(text[at])) {
      char code[8];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(text[at]));
      ascii(code);
    } else {
      quoted(text.substr(at, 1));
    }
    return add(u" at character ").number(static_cast<int64_t>(characters));
  }
  std::u16string_view text() const { return {buffer_, length_}; }

 private:
  static constexpr size_t kLongest = KDRVX_PLAN_TEXT_CAPACITY - 1;
  char16_t buffer_[KDRVX_PLAN_TEXT_CAPACITY]{};
  size_t length_ = 0;
};

// The first unit of `text` that 8-bit text cannot hold, or npos: 8-bit text
// keeps each unit's low byte, so a unit beyond Latin-1 becomes another
// character, or ends the text where its low byte is 0.
size_t firstBeyondLatin1(std::u16string_view text) {
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] > 0xFF) return i;
  return std::u16string_view::npos;
}

// ---- The problems found --------------------------------------------------------

struct Problem {
  uint32_t kind = KDRVX_PLAN_REFUSED;
  uint32_t field = 0;
  int32_t channel = -1;
  uint32_t status = 0;
  int32_t position = -1;
  Words words;
};

// Hands the problems to the caller's array as they are found and keeps
// the verdict.
class Problems {
 public:
  Problems(KDRVX_PlanProblem* out, uint32_t capacity)
      : out_(out), capacity_(out != nullptr ? capacity : 0), stride_(sizeOf(out)) {}

  void add(const Problem& problem) {
    if (found_ < capacity_) {
      KDRVX_PlanProblem whole{};
      whole.size = sizeof whole;
      whole.kind = problem.kind;
      whole.field = problem.field;
      whole.channel = problem.channel;
      whole.status = problem.status;
      whole.position = problem.position;
      const std::u16string_view text = problem.words.text();
      std::copy(text.begin(), text.end(), fromCaller(whole.text));
      library::deliver(whole, entryAt(out_, stride_, found_), KDRVX_OK);
    }
    ++found_;
    if (problem.kind == KDRVX_PLAN_DROPPED) dropped_ = true;
    if (problem.kind == KDRVX_PLAN_REFUSED && firstRefusal_ == KDRVX_OK)
      firstRefusal_ =
          problem.status != KDRVX_OK ? problem.status : KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  }
  uint32_t found() const { return found_; }
  uint32_t verdict() const {
    if (firstRefusal_ != KDRVX_OK) return firstRefusal_;
    return dropped_ ? KDRVX_ERR_RVX_CHANNEL_ADD : KDRVX_OK;
  }

 private:
  KDRVX_PlanProblem* out_;
  uint32_t capacity_;
  uint32_t stride_;
  uint32_t found_ = 0;
  uint32_t firstRefusal_ = KDRVX_OK;
  bool dropped_ = false;
};

// ---- The plan -------------------------------------------------------------------

struct PlanView {
  KDRVX_Plan plan;
  const KDRVX_PlannedChannel* channels;
  uint32_t stride;

  bool legacy() const { return plan.legacyLayout != 0; }
  KDRVX_PlannedChannel channel(uint32_t k) const {
    return library::taken(entryAt(channels, stride, k));
  }
};

struct HeaderText {
  uint32_t field;
  const KDRVX_CHAR* KDRVX_Plan::*planned;
  uint32_t (*store)(Headers, const char16_t*);
  size_t limit;
  const KDRVX_CHAR* (*readBack)(const KDRVX_RecordingInfo&);
};

const HeaderText kHeaderTexts[] = {
    {KDRVX_FIELD_COMMENT, &KDRVX_Plan::comment, storeComment, format::kCommentLimit,
     [](const KDRVX_RecordingInfo& i) -> const KDRVX_CHAR* { return i.comment; }},
    {KDRVX_FIELD_COMPANY, &KDRVX_Plan::company, storeCompany, format::kCompanyLimit,
     [](const KDRVX_RecordingInfo& i) -> const KDRVX_CHAR* { return i.company; }},
    {KDRVX_FIELD_INSTRUMENT, &KDRVX_Plan::instrument, storeInstrument, format::kInstrumentLimit,
     [](const KDRVX_RecordingInfo& i) -> const KDRVX_CHAR* { return i.instrument; }},
    {KDRVX_FIELD_SNR_INSTRUMENT, &KDRVX_Plan::snrInstrument, storeSnrInstrument,
     format::kSnrInstrumentLimit,
     [](const KDRVX_RecordingInfo& i) -> const KDRVX_CHAR* { return i.snrInstrument; }},
    {KDRVX_FIELD_NAME_MEASUREMENT, &KDRVX_Plan::nameMeasurement, storeNameMeasurement,
     format::kNameMeasurementLimit,
     [](const KDRVX_RecordingInfo& i) -> const KDRVX_CHAR* { return i.nameMeasurement; }},
    {KDRVX_FIELD_TRIGGER_SETTING, &KDRVX_Plan::triggerSetting, storeTriggerSetting,
     format::kTriggerSettingLimit,
     [](const KDRVX_RecordingInfo& i) -> const KDRVX_CHAR* { return i.triggerSetting; }},
};

struct ChannelText {
  uint32_t field;
  const KDRVX_CHAR* KDRVX_PlannedChannel::*planned;
  ChannelTextStore store;
  size_t limit;
  const KDRVX_CHAR* (*readBack)(const KDRVX_ChannelInfo&);
};

const ChannelText kChannelTexts[] = {
    {KDRVX_FIELD_CHANNEL_UNIT, &KDRVX_PlannedChannel::unit, storeChannelUnit,
     format::kChannelUnitLimit,
     [](const KDRVX_ChannelInfo& i) -> const KDRVX_CHAR* { return i.unit; }},
    {KDRVX_FIELD_CHANNEL_NAME, &KDRVX_PlannedChannel::name, storeChannelName,
     format::kChannelNameLimit,
     [](const KDRVX_ChannelInfo& i) -> const KDRVX_CHAR* { return i.name; }},
    {KDRVX_FIELD_CHANNEL_NUMBER, &KDRVX_PlannedChannel::number, storeChannelNumber,
     format::kChannelNumberLimit,
     [](const KDRVX_ChannelInfo& i) -> const KDRVX_CHAR* { return i.number; }},
    {KDRVX_FIELD_CHANNEL_SIGNAL_TYPE, &KDRVX_PlannedChannel::signalType, storeChannelSignalType,
     format::kChannelSignalTypeLimit,
     [](const KDRVX_ChannelInfo& i) -> const KDRVX_CHAR* { return i.signalType; }},
    {KDRVX_FIELD_CHANNEL_ZERO_POINT, &KDRVX_PlannedChannel::zeroPoint, storeChannelZeroPoint,
     format::kChannelZeroPointLimit,
     [](const KDRVX_ChannelInfo& i) -> const KDRVX_CHAR* { return i.zeroPoint; }},
    {KDRVX_FIELD_CHANNEL_CAL_PARAMETER, &KDRVX_PlannedChannel::calParameter,
     storeChannelCalParameter, format::kChannelCalParameterLimit,
     [](const KDRVX_ChannelInfo& i) -> const KDRVX_CHAR* { return i.calParameter; }},
    {KDRVX_FIELD_CHANNEL_FILTER, &KDRVX_PlannedChannel::filter, storeChannelFilter,
     format::kChannelFilterLimit,
     [](const KDRVX_ChannelInfo& i) -> const KDRVX_CHAR* { return i.filter; }},
    {KDRVX_FIELD_CHANNEL_LINTAB, &KDRVX_PlannedChannel::lintab, storeChannelLintab,
     format::kChannelLintabLimit,
     [](const KDRVX_ChannelInfo& i) -> const KDRVX_CHAR* { return i.lintab; }},
};

template <typename Table, size_t N>
const Table& entryFor(const Table (&table)[N], uint32_t field) {
  return *std::find_if(table, table + N, [&](const Table& t) { return t.field == field; });
}

// A channel divisor of 0 in the plan leaves the divisor at which every
// record holds the channel.
uint32_t plannedIndRate(const KDRVX_PlannedChannel& channel) {
  return channel.indRate != 0 ? channel.indRate : 1;
}

// One value judged by its setter: the field, the plan's channel (-1 for
// the header), the setter's status, and the channel entry it went to.
struct Judged {
  uint32_t field;
  int32_t channel;
  uint32_t status;
  uint32_t entry;
};

// Runs the create context's setters on `headers` in the order of the fields
// and tells `visit` what each answered. A null text is not set: the field
// keeps the context's default.
template <typename Visit>
void runSetters(const PlanView& view, Headers headers, Visit&& visit) {
  const KDRVX_Plan& plan = view.plan;
  resetHeaders(headers);
  storeOriginalFlag(headers, plan.original != 0);
  const auto set = [&](auto store, const KDRVX_CHAR* text, auto... before) -> uint32_t {
    return text != nullptr ? store(headers, before..., fromCaller(text)) : KDRVX_OK;
  };
  for (const HeaderText& text : kHeaderTexts)
    visit(Judged{text.field, -1, set(text.store, plan.*text.planned), kNoChannel});
  visit(Judged{KDRVX_FIELD_DATE, -1, set(storeDate, plan.date), kNoChannel});
  visit(Judged{KDRVX_FIELD_TIME, -1, set(storeTime, plan.time), kNoChannel});
  storeScanRate(headers, plan.scanRate);
  visit(Judged{KDRVX_FIELD_SCAN_RATE, -1, KDRVX_OK, kNoChannel});
  storeTriggerRecord(headers, plan.noTriggerRecord);
  visit(Judged{KDRVX_FIELD_TRIGGER_RECORD, -1, KDRVX_OK, kNoChannel});
  visit(Judged{KDRVX_FIELD_ORIGINAL, -1, KDRVX_OK, kNoChannel});
  visit(Judged{KDRVX_FIELD_CHANNELS, -1, KDRVX_OK, kNoChannel});

  for (uint32_t k = 0; k < plan.noChannels; ++k) {
    const KDRVX_PlannedChannel channel = view.channel(k);
    const auto index = static_cast<int32_t>(k);
    const uint32_t added = addChannelEntry(headers, fromCaller(channel.variable));
    if (added == KDRVX_ERR_RVX_NUMBER_OF_CHANNELS) {
      visit(Judged{KDRVX_FIELD_CHANNELS, index, added, kNoChannel});
      return;
    }
    if (added != KDRVX_OK) {
      visit(Judged{KDRVX_FIELD_CHANNEL_VARIABLE, index, added, kNoChannel});
      continue;
    }
    const uint32_t entry = headers.header.NoChannels - 1u;
    visit(Judged{KDRVX_FIELD_CHANNEL_VARIABLE, index, KDRVX_OK, entry});
    for (const ChannelText& text : kChannelTexts)
      visit(Judged{text.field, index, set(text.store, channel.*text.planned, entry), entry});
    storeChannelIndRate(headers, entry, plannedIndRate(channel));
    visit(Judged{KDRVX_FIELD_CHANNEL_IND_RATE, index, KDRVX_OK, entry});
    storeChannelISDS(headers, entry, channel.isds);
    visit(Judged{KDRVX_FIELD_CHANNEL_ISDS, index, KDRVX_OK, entry});
    storeChannelLinearisation(headers, entry, channel.linearisation);
    visit(Judged{KDRVX_FIELD_CHANNEL_LINEARISATION, index, KDRVX_OK, entry});
    const uint32_t bits = channel.multiChannelBits != 0
                              ? storeChannelMultiChannel(headers, entry, channel.multiChannelBits)
                              : KDRVX_OK;
    visit(Judged{KDRVX_FIELD_CHANNEL_MULTICHANNEL, index, bits, entry});
  }
}

// ---- Reading back ---------------------------------------------------------------

// The RVI file of the compact layout: whether closing writes one, under
// which name, and whether an open of the recording finds it there.
struct Summary {
  bool written = false;
  bool found = false;
  char16_t name[format::kCreatePathCapacity] = u"recording.RVI";
};

// Everything the check works on, too large for a thread's stack.
struct Work {
  RVX_HEADER header;  // as the setters leave it
  format::RVX_HEADER_W3 compact;
  RVX_HEADER repeated;  // the second run of the setters
  format::RVX_HEADER_W3 repeatedCompact;
  RVX_HEADER readBack;  // as an open reads the recording
  char16_t summaryUnits[format::kSummaryReadLimit + 1];
  format::StoredData data;
  uint32_t opened = KDRVX_OK;             // what an open of the recording answers
  bool dateReplaced = false;              // the open replaced the date by the file's time
  uint32_t planOf[format::kMaxChannels];  // the plan's channel of each entry
};

// Reads the header image back as an open does: the import, and for a layout
// with a summary file its metadata, the date check and the record count.
// Returns the import's refusal, or 0.
uint32_t readBack(Work& work, const PlanView& view, const Summary& summary) {
  const Headers planned{work.header, work.compact, view.legacy()};
  const uint32_t length = headerImageLength(planned);
  std::memset(&work.readBack, 0, sizeof work.readBack);
  std::memcpy(&work.readBack, headerImage(planned), length);
  RVX_HEADER& back = work.readBack;
  const format::ImportResult imported = format::importHeader(back, length);
  if (imported.status != KDRVX_OK) return imported.status;
  work.data = {imported.sourceVersion, static_cast<uint64_t>(imported.dataOffset),
               format::recordSize(back.NoChannels)};
  if (!format::hasSummaryFile(back.Version)) return KDRVX_OK;

  if (summary.found) {
    const std::string text = format::renderSummary(
        summary.name, work.header, format::labelTableForLanguage(view.plan.language));
    // An open reads no more than the beginning of the file.
    const auto count =
        static_cast<uint32_t>(std::min<size_t>(text.size(), format::kSummaryReadLimit));
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const uint32_t units = format::decodeSummaryText(bytes, count, work.summaryUnits);
    format::readSummaryMetadata({work.summaryUnits, units}, back);
  } else {
    format::emptySummaryFields(back);
  }
  if (!format::datePlausible(back)) {
    // The open shows the time the file was last written: now.
    work.dateReplaced = true;
    platform::LocalTime now;
    if (platform::localTimeNow(now)) {
      back.Day = static_cast<uint8_t>(now.day);
      back.Month = static_cast<uint8_t>(now.month);
      back.Year = static_cast<uint16_t>(now.year);
      back.Hour = static_cast<uint8_t>(now.hour);
      back.Minute = static_cast<uint8_t>(now.minute);
    }
  }
  if (back.NoRecords == 0)
    back.NoRecords = format::recordsInFile(length, imported.dataOffset,
                                           static_cast<int32_t>(work.data.recordSize));
  return KDRVX_OK;
}

// ---- Judging ---------------------------------------------------------------------

class Judge {
 public:
  Judge(const PlanView& view, const Work& work, const KDRVX_RecordingInfo& info, Problems& problems)
      : view_(view), work_(work), info_(info), problems_(problems) {}

  // The path: whether the create takes it, and for the compact layout
  // whether its RVI file is named, found again by an open, and can hold the
  // path in its directory and file-name lines.
  void judgePath(Summary& summary) const {
    summary.written = view_.legacy() && view_.plan.language != kNoSummary;
    summary.found = summary.written;
    if (view_.plan.path == nullptr) return;
    const char16_t* path = fromCaller(view_.plan.path);
    const std::u16string_view text = given(view_.plan.path);
    if (!pathFits(path)) {
      Problem problem = refusal(KDRVX_FIELD_PATH, -1, KDRVX_ERR_RVX_CREATE);
      tooLong(problem, text.size(), format::kCreatePathCapacity - 1);
      return;
    }
    char16_t cleaned[format::kCreatePathCapacity]{};
    std::copy(text.begin(), text.end(), cleaned);
    cleanPath(cleaned);
    if (!summary.written) return;
    std::memcpy(summary.name, cleaned, sizeof cleaned);
    if (!format::makeSummaryName(summary.name)) {
      summary.found = false;
      Problem problem = refusal(KDRVX_FIELD_PATH, -1, KDRVX_ERR_RVI_FILE_NAME);
      problem.words.add(
          u"names no RVI file: the compact layout names it after the first .rvx or .RVX of the "
          u"path");
      return problems_.add(problem);
    }
    char16_t reading[format::kSummaryNameCapacity];
    const bool named = format::readingSummaryName(cleaned, reading);
    if (!named || std::u16string_view(reading) != std::u16string_view(summary.name)) {
      summary.found = false;
      Problem problem = refusal(KDRVX_FIELD_PATH, -1, KDRVX_OK);
      problem.words.add(u"its RVI file is written as ").quoted(summary.name, true);
      if (named)
        problem.words.add(u" but looked for as ").quoted(reading, true);
      else
        problem.words.add(u" but an open looks for none");
      problems_.add(problem);
    }
    judgeSummaryLines(summary.name);
  }

  // The RVI file shows its own name in two lines, the directory and the
  // file name, as 8-bit text: each unit's low byte. A unit beyond Latin-1
  // shows as another character there, or ends the text where its low byte
  // is 0, and the lines after it read back empty. The separator between the
  // two lines is judged with the directory: a unit beyond Latin-1 whose low
  // byte is a separator splits the lines where the path has none. The
  // summary name shares its units with the path up to the extension, so a
  // unit's place in one is its place in the other.
  void judgeSummaryLines(std::u16string_view name) const {
    const size_t nameStart = format::summaryFileNameStart(name);
    const std::u16string_view directory = name.substr(0, nameStart);
    const std::u16string_view shown = name.substr(0, nameStart > 0 ? nameStart - 1 : 0);
    judgeSummaryLine(u"directory", directory,
                     firstBeyondLatin1(directory) < shown.size() ? shown : directory, 0);
    const std::u16string_view fileName = name.substr(nameStart);
    judgeSummaryLine(u"file-name", fileName, fileName, nameStart);
  }

  // `judged` is the part of the name that goes to the line, `shown` what
  // the problem quotes of it.
  void judgeSummaryLine(std::u16string_view line, std::u16string_view judged,
                        std::u16string_view shown, size_t from) const {
    const size_t at = firstBeyondLatin1(judged);
    if (at == std::u16string_view::npos) return;
    Problem problem = refusal(KDRVX_FIELD_PATH, -1, KDRVX_OK);
    problem.position = static_cast<int32_t>(from + at);
    problem.words.add(u"the RVI file's ")
        .add(line)
        .add(u" line holds 8-bit text (Latin-1) only: ")
        .character(judged, at)
        .add(u" of ")
        .quoted(shown, true);
    problems_.add(problem);
  }

  void operator()(const Judged& judged) const {
    // Of a recording that does not open, only the setters' refusals and the
    // count are told.
    const bool compared = judged.status == KDRVX_OK && judged.field != KDRVX_FIELD_CHANNELS;
    if (work_.opened != KDRVX_OK && compared) return;
    switch (judged.field) {
      case KDRVX_FIELD_DATE:
        return judgeDate(judged.status);
      case KDRVX_FIELD_TIME:
        return judgeTime(judged.status);
      case KDRVX_FIELD_SCAN_RATE:
        return judgeScanRate();
      case KDRVX_FIELD_TRIGGER_RECORD:
        return judgeNumber(judged, view_.plan.noTriggerRecord, info_.noTriggerRecord);
      case KDRVX_FIELD_ORIGINAL:
        return judgeOriginal();
      case KDRVX_FIELD_CHANNELS:
        return judgeChannelCount(judged);
      case KDRVX_FIELD_CHANNEL_VARIABLE:
        return judgeVariable(judged);
      case KDRVX_FIELD_CHANNEL_IND_RATE:
      case KDRVX_FIELD_CHANNEL_ISDS:
      case KDRVX_FIELD_CHANNEL_LINEARISATION:
      case KDRVX_FIELD_CHANNEL_MULTICHANNEL:
        return judgeChannelValue(judged);
      default:
        break;
    }
    // A null text gives no value: the field keeps its default, whatever
    // that reads back as.
    if (judged.channel < 0) {
      const HeaderText& text = entryFor(kHeaderTexts, judged.field);
      const KDRVX_CHAR* planned = view_.plan.*text.planned;
      if (judged.status != KDRVX_OK) return refuseText(judged, given(planned), text.limit);
      if (planned != nullptr) compareText(judged, given(planned), fromCaller(text.readBack(info_)));
      return;
    }
    const ChannelText& text = entryFor(kChannelTexts, judged.field);
    const KDRVX_CHAR* planned = plannedChannel(judged).*text.planned;
    if (judged.status != KDRVX_OK) return refuseText(judged, given(planned), text.limit);
    if (planned == nullptr) return;
    const KDRVX_ChannelInfo back = channelBack(judged);
    compareText(judged, given(planned), fromCaller(text.readBack(back)));
  }

 private:
  Problem refusal(uint32_t field, int32_t channel, uint32_t status) const {
    Problem problem;
    problem.field = field;
    problem.channel = channel;
    problem.status = status;
    return problem;
  }

  void tooLong(Problem& problem, size_t length, size_t limit) const {
    problem.words.add(u"holds at most ")
        .number(static_cast<int64_t>(limit))
        .add(u" characters; this one has ")
        .number(static_cast<int64_t>(length));
    problems_.add(problem);
  }

  KDRVX_PlannedChannel plannedChannel(const Judged& judged) const {
    return view_.channel(static_cast<uint32_t>(judged.channel));
  }

  KDRVX_ChannelInfo channelBack(const Judged& judged) const {
    return format::describeChannel(work_.readBack, judged.entry);
  }

  void refuseText(const Judged& judged, std::u16string_view planned, size_t limit) const {
    Problem problem = refusal(judged.field, judged.channel, judged.status);
    tooLong(problem, planned.size(), limit);
  }

  // A value the setter took, against what reads back.
  void compareText(const Judged& judged, std::u16string_view planned, std::u16string_view back,
                   bool quoted = true) const {
    if (planned == back) return;
    Problem problem = refusal(judged.field, judged.channel, KDRVX_OK);
    const size_t at = view_.legacy() ? firstBeyondLatin1(planned) : std::u16string_view::npos;
    if (at != std::u16string_view::npos) {
      problem.position = static_cast<int32_t>(at);
      problem.words.add(u"the compact layout holds 8-bit text (Latin-1) only: ")
          .character(planned, at);
    } else if (view_.legacy() && back.find_first_not_of(u' ') == std::u16string_view::npos) {
      problem.kind = KDRVX_PLAN_DROPPED;
      problem.words.add(u"the compact layout keeps it nowhere: it reads back ");
      if (back.empty())
        problem.words.add(u"empty");
      else
        problem.words.add(u"as ").quoted(back);
    } else if (back.empty()) {
      problem.words.add(u"reads back empty");
    } else if (quoted) {
      problem.words.add(u"reads back as ").quoted(back);
    } else {
      problem.words.add(u"reads back as ").add(back);
    }
    problems_.add(problem);
  }

  void judgeDate(uint32_t status) const {
    if (view_.plan.date == nullptr) return;
    Problem problem = refusal(KDRVX_FIELD_DATE, -1, status);
    if (status != KDRVX_OK) {
      problem.words.add(u"is not a date: give day, month and year, such as 07.03.2024");
      return problems_.add(problem);
    }
    if (work_.dateReplaced) {
      problem.words.add(
          u"the compact layout's reader takes a day above 31, a month above 12 or a year after "
          u"2100 for no date, and shows the file's own time");
      return problems_.add(problem);
    }
    const RVX_HEADER& planned = work_.header;
    const RVX_HEADER& back = work_.readBack;
    if (planned.Day == back.Day && planned.Month == back.Month && planned.Year == back.Year) return;
    problem.words.add(u"reads back as ").add(fromCaller(info_.date));
    problems_.add(problem);
  }

  void judgeTime(uint32_t status) const {
    if (view_.plan.time == nullptr) return;
    Problem problem = refusal(KDRVX_FIELD_TIME, -1, status);
    if (status != KDRVX_OK) {
      problem.words.add(u"is not a time: give HH:MM or HH:MM:SS, such as 09:05");
      return problems_.add(problem);
    }
    const RVX_HEADER& planned = work_.header;
    const RVX_HEADER& back = work_.readBack;
    if (work_.dateReplaced || (planned.Hour == back.Hour && planned.Minute == back.Minute &&
                               planned.Second == back.Second))
      return;
    if (planned.Second != back.Second && back.Second == format::kNoSeconds)
      problem.words.add(u"the compact layout keeps no seconds: ");
    problem.words.add(u"reads back as ").add(fromCaller(info_.time));
    problems_.add(problem);
  }

  void judgeScanRate() const {
    const int64_t planned = view_.plan.scanRate;
    Problem problem = refusal(KDRVX_FIELD_SCAN_RATE, -1, KDRVX_OK);
    if (info_.scanRate != planned) {
      problem.words.add(u"reads back as ").number(info_.scanRate).add(u" \u00b5s");
    } else if (!format::scanIntervalFits(planned)) {
      problem.words.add(u"an interval of ")
          .number(planned)
          .add(u" \u00b5s is none: give 1 \u00b5s or more");
    } else {
      return;
    }
    problems_.add(problem);
  }

  void judgeNumber(const Judged& judged, int64_t planned, int64_t back) const {
    if (planned == back) return;
    Problem problem = refusal(judged.field, judged.channel, KDRVX_OK);
    problem.words.add(u"reads back as ").number(back);
    problems_.add(problem);
  }

  void judgeOriginal() const {
    const bool planned = view_.plan.original != 0;
    if (planned == (info_.original != 0)) return;
    Problem problem = refusal(KDRVX_FIELD_ORIGINAL, -1, KDRVX_OK);
    problem.words.add(info_.original != 0 ? u"reads back as an original recording"
                                          : u"reads back as not an original recording");
    problems_.add(problem);
  }

  void judgeChannelCount(const Judged& judged) const {
    Problem problem = refusal(KDRVX_FIELD_CHANNELS, judged.channel, judged.status);
    if (judged.status == KDRVX_OK) {
      // The count as a whole: the import refuses a header without channels.
      // Planned channels that were all refused have problems of their own,
      // which say why; the count then says nothing more.
      if (work_.opened == KDRVX_OK || view_.plan.noChannels > 0) return;
      problem.words.add(u"a recording without channels does not open: give at least one");
      return problems_.add(problem);
    }
    const uint32_t most = view_.legacy() ? format::kCompactMaxChannels : format::kMaxChannels;
    problem.words.add(view_.legacy() ? u"the compact layout" : u"a recording")
        .add(u" holds at most ")
        .number(most)
        .add(u" channels; this plan has ")
        .number(view_.plan.noChannels);
    problems_.add(problem);
  }

  void judgeVariable(const Judged& judged) const {
    const std::u16string_view planned = given(plannedChannel(judged).variable);
    if (judged.status == KDRVX_OK) {
      const KDRVX_ChannelInfo back = channelBack(judged);
      return compareText(judged, planned, fromCaller(back.variable), false);
    }
    Problem problem = refusal(judged.field, judged.channel, judged.status);
    if (judged.status == KDRVX_ERR_RVX_CHN_VAR_EXISTS)
      problem.words.add(u"an earlier channel has this variable already");
    else
      problem.words.add(u"is not a variable: ").ascii(format::kVariableRule);
    problems_.add(problem);
  }

  void judgeChannelValue(const Judged& judged) const {
    const KDRVX_PlannedChannel planned = plannedChannel(judged);
    if (judged.status != KDRVX_OK) {
      Problem problem = refusal(judged.field, judged.channel, judged.status);
      problem.words.add(u"a multichannel holds 1 to 32 bits; this one has ")
          .number(planned.multiChannelBits);
      return problems_.add(problem);
    }
    const KDRVX_ChannelInfo back = channelBack(judged);
    switch (judged.field) {
      case KDRVX_FIELD_CHANNEL_IND_RATE:
        return judgeNumber(judged, plannedIndRate(planned), back.indRate);
      case KDRVX_FIELD_CHANNEL_ISDS:
        return judgeFlag(judged, planned.isds != 0, back.isds != 0);
      case KDRVX_FIELD_CHANNEL_LINEARISATION:
        return judgeFlag(judged, planned.linearisation != 0, back.linearisation != 0);
      default:
        break;
    }
    if (planned.multiChannelBits == back.multiChannelBits) return;
    Problem problem = refusal(judged.field, judged.channel, KDRVX_OK);
    if (view_.legacy())
      problem.words.add(
          u"the compact layout has no multichannels: its bit fields would read back as numbers");
    else
      problem.words.add(u"reads back as ").number(back.multiChannelBits).add(u" bits");
    problems_.add(problem);
  }

  void judgeFlag(const Judged& judged, bool planned, bool back) const {
    if (planned == back) return;
    Problem problem = refusal(judged.field, judged.channel, KDRVX_OK);
    if (view_.legacy() && !back) {
      problem.kind = KDRVX_PLAN_DROPPED;
      problem.words.add(u"the compact layout keeps it nowhere: it reads back as no");
    } else {
      problem.words.add(back ? u"reads back as yes" : u"reads back as no");
    }
    problems_.add(problem);
  }

  const PlanView& view_;
  const Work& work_;
  const KDRVX_RecordingInfo& info_;
  Problems& problems_;
};

// Whether an array of caller structs can be used: none is needed, or its
// first entry gives a size.
template <typename Sized>
bool usableArray(const Sized* array, uint32_t count) {
  return count == 0 || (array != nullptr && sizeOf(array) >= library::kSmallestSized);
}

uint32_t check(const PlanView& view, KDRVX_RecordingInfo* info, KDRVX_ChannelInfo* channels,
               Problems& problems) {
  std::unique_ptr<Work> work(new (std::nothrow) Work);
  if (!work) return KDRVX_ERR_RVX_CREATE;
  uint32_t* planOf = work->planOf;
  runSetters(view, Headers{work->header, work->compact, view.legacy()}, [&](const Judged& judged) {
    if (judged.field == KDRVX_FIELD_CHANNEL_VARIABLE && judged.entry != kNoChannel)
      planOf[judged.entry] = static_cast<uint32_t>(judged.channel);
  });

  Summary summary;
  KDRVX_RecordingInfo whole{};
  // The path is judged before the recording is read back: it decides
  // whether the RVI file is found.
  const Judge judge(view, *work, whole, problems);
  judge.judgePath(summary);
  work->opened = readBack(*work, view, summary);
  if (work->opened == KDRVX_OK) whole = format::describeRecording(work->readBack, work->data);
  runSetters(view, Headers{work->repeated, work->repeatedCompact, view.legacy()}, judge);
  // A recording that does not open reports nothing.
  if (work->opened != KDRVX_OK) return KDRVX_OK;

  if (info != nullptr) library::deliver(whole, info, KDRVX_OK);
  if (channels != nullptr) {
    const uint32_t stride = sizeOf(channels);
    KDRVX_ChannelInfo none{};
    none.size = sizeof none;
    for (uint32_t k = 0; k < view.plan.noChannels; ++k)
      library::deliver(none, entryAt(channels, stride, k), KDRVX_OK);
    for (uint32_t entry = 0; entry < format::channelCount(work->readBack); ++entry)
      library::deliver(format::describeChannel(work->readBack, entry),
                       entryAt(channels, stride, planOf[entry]), KDRVX_OK);
  }
  return KDRVX_OK;
}

}  // namespace

uint32_t checkPlan(const KDRVX_Plan* plan, KDRVX_RecordingInfo* info, KDRVX_ChannelInfo* channels,
                   KDRVX_PlanProblem* problems, uint32_t problemCapacity, uint32_t* problemCount) {
  constexpr uint32_t kUnusable = KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  if (sizeOf(plan) < library::kSmallestSized) return kUnusable;
  const KDRVX_Plan taken = library::taken(plan);
  const PlanView view{taken, taken.channels, sizeOf(taken.channels)};
  if (info != nullptr && sizeOf(info) < library::kSmallestSized) return kUnusable;
  if (!usableArray(taken.channels, taken.noChannels) ||
      (channels != nullptr && !usableArray(channels, taken.noChannels)) ||
      !usableArray(problems, problemCapacity))
    return kUnusable;

  Problems found(problems, problemCapacity);
  uint32_t status;
  try {
    status = check(view, info, channels, found);
  } catch (const std::bad_alloc&) {
    status = KDRVX_ERR_RVX_CREATE;
  }
  if (problemCount != nullptr) *problemCount = found.found();
  return status != KDRVX_OK ? status : found.verdict();
}

}  // namespace kdrvx::write
