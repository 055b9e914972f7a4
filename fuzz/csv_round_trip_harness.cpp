// A recording through rvx export's CSV and back through rvx import: every
// recording the input describes is made through the library, read as export
// reads it, written by export's CSV writer in the shape the input picks
// (delimiter, decimal comma, encoding, metadata block, time column in
// seconds, in milliseconds, as timestamps or none), and read by import's
// code as a user would import it: without options, or, where the dialect
// of the bytes is ambiguous, with the ones the export was given; the
// scan interval and the multichannel columns given on the command line
// where no metadata block and no time column tell them; and the columns
// checked as the command checks them before it creates the recording.
//
// What comes back is the recording, bit for bit: the channels' labels,
// units and bit fields, the scan interval, the start, the values (NaN
// payloads, infinities, signed zeros and denormals included), and with the
// metadata block every header and channel property. Or export or import
// refuses it with a message. Anything else is a broken promise.
//
// Input (little-endian; missing bytes read as 0):
//   u8 shape: bits 0-1 delimiter (',', ';', tab, ','), bit 2 decimal comma
//      (with ';' and tab), bits 3-4 encoding (utf-8, utf-8-bom, cp1252,
//      utf-16), bit 5 metadata block, bits 6-7 time column (s, ms,
//      timestamps, none)
//   u8 layout: bit 0 compact, bits 1-2 its RVI language (de, fr, en),
//      bit 3 not original
//   u8 channels (1 + n % 8), i64 scan interval in microseconds, u32 trigger
//   u8 start: bit 0 sets the date, bit 1 the time; then u8 day, u8 month,
//      u16 year, u8 hour, u8 minute, u8 second
//   six header texts: comment, company, instrument, serial number, name,
//      trigger setting (u8 length, UTF-8 bytes)
//   per channel: u8 variable (below 0x80: a letter and the index 1 + u8 %
//      99; else a text), u8 multichannel (bit 7: 1 + n % 32 bits), texts
//      unit and name
//   u8 records, then their floats, 4 bytes each.
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "files/output_file.h"
#include "harness.h"
#include "input.h"
#include "inputs/csv.h"
#include "inputs/csv_input.h"
#include "inputs/csv_metadata.h"
#include "inputs/csv_records.h"
#include "outputs/export_format.h"
#include "outputs/fit.h"
#include "rvx_harness.h"
#include "shared/library.h"
#include "shared/number_text.h"
#include "shared/tool_error.h"

namespace rvx::fuzz {

using kdrvx::fuzz::check;

namespace {

// The fields of an input, with the texts and values a recording is made of.
class Fields : public kdrvx::fuzz::Input {
 public:
  using Input::Input;
  std::string text() { return bytes(u8()); }
  float value() { return std::bit_cast<float>(u32()); }
};

// The export's options as the input picks them.
ExportOptions exportOptions(uint8_t shape) {
  ExportOptions options;
  const char* const delimiters[] = {",", ";", "tab", ","};
  const char* const encodings[] = {"utf-8", "utf-8-bom", "cp1252", "utf-16"};
  options.dialect.delimiter = delimiters[shape & 3];
  options.dialect.decimalComma = (shape & 4) != 0 && (shape & 3) != 0 && (shape & 3) != 3;
  options.dialect.encoding = encodings[(shape >> 3) & 3];
  options.withMetadata = (shape & 0x20) != 0;
  const int time = shape >> 6;
  options.timeUnit = time == 1 ? "ms" : "s";
  options.timeMode = time == 2 ? "absolute" : "relative";
  options.noTime = time == 3;
  return options;
}

// The CSV text that export's options ask for, as rvx export makes it of
// them (the dialect by export's own rule).
CsvShape shapeOf(const ExportOptions& options) {
  CsvShape shape;
  shape.dialect = exportDialect(options.dialect);
  shape.milliseconds = options.timeUnit == "ms";
  shape.time = !options.noTime;
  shape.wallClock = options.timeMode == "absolute";
  shape.metadata = options.withMetadata;
  shape.target = "standard output";
  return shape;
}

// Every channel and every record.
ExportPlan wholeRecording(const RecordingInfo& info) {
  ExportPlan plan;
  plan.source = "fuzz.rvx";
  plan.info = info;
  for (size_t c = 0; c < info.channels.size(); ++c) plan.channels.push_back(static_cast<int>(c));
  plan.span = {0, info.records};
  return plan;
}

// The library's create context for one recording; closed without a final
// header when the harness gives up on it.
class Creation {
 public:
  explicit Creation(bool open) : open_(open) {}
  ~Creation() {
    if (open_) KDRVX_CloseCreateSimple();
  }
  bool close() {
    open_ = false;
    return KDRVX_CloseCreate() == 0;
  }

 private:
  bool open_;
};

uint32_t setText(uint32_t (*setter)(const KDRVX_CHAR*), const std::string& text) {
  return text.empty() ? 0 : setter(chars(wide(text)));
}

std::string twoDigits(unsigned value) {
  return std::string(1, static_cast<char>('0' + value / 10 % 10)) +
         static_cast<char>('0' + value % 10);
}

// Makes the recording the input describes at `path`; false when the
// library refused to create it (which is not what this target tests).
bool makeRecording(Fields& in, const std::string& path) {
  const uint8_t layout = in.u8();
  const bool compact = (layout & 1) != 0;
  std::u16string file = widePath(path);
  const int32_t languages[] = {0, 2, 4};  // de, fr, en
  const int32_t language = compact ? languages[(layout >> 1) % 3] : kNoSummaryLanguage;
  if (KDRVX_CreateExt(chars(file), 1, (layout & 8) ? 0 : 1, compact ? 1 : 0, language) != 0)
    return false;
  Creation creation(true);
  const size_t channels = 1 + in.u8() % 8;
  KDRVX_SetScanRate(static_cast<int64_t>(in.integer(8)));
  const auto trigger = static_cast<uint32_t>(in.integer(4));
  const uint8_t start = in.u8();
  const unsigned day = in.u8(), month = in.u8(), year = static_cast<unsigned>(in.integer(2));
  const unsigned hour = in.u8(), minute = in.u8(), second = in.u8();
  if (start & 1)
    KDRVX_SetDate(chars(
        wide(std::to_string(day) + "." + std::to_string(month) + "." + std::to_string(year))));
  if (start & 2)
    KDRVX_SetTime(
        chars(wide(std::to_string(hour) + ":" + twoDigits(minute) + ":" + twoDigits(second))));
  for (const auto setter :
       {KDRVX_SetComment, KDRVX_SetCompany, KDRVX_SetInstrument, KDRVX_SetSnrInstrument,
        KDRVX_SetNameMeasurement, KDRVX_SetTriggerSetting}) {
    setText(setter, in.text());
  }
  for (size_t c = 0; c < channels; ++c) {
    const uint8_t kind = in.u8();
    std::string variable;
    if (kind < 0x80) {
      variable = std::string(1, "pTAFnUIMdps"[kind % 11]) + std::to_string(1 + in.u8() % 99);
    } else {
      variable = in.text();
    }
    // The count of channels so far, or a status (0xE1...) for a refusal.
    if (KDRVX_AddChannel(chars(wide(variable))) >= 0xE1000000u) return false;
    const auto index = static_cast<int16_t>(c);
    const uint8_t multichannel = in.u8();
    if (multichannel & 0x80) KDRVX_SetChannelMultiChannel(index, 1 + multichannel % 32);
    const std::string unit = in.text(), name = in.text();
    if (!unit.empty()) KDRVX_SetChannelUnit(index, chars(wide(unit)));
    if (!name.empty()) KDRVX_SetChannelName(index, chars(wide(name)));
  }
  const size_t records = in.u8();
  std::vector<float> values(records * channels);
  for (float& value : values) value = in.value();
  KDRVX_AddRecords(values.data(), static_cast<uint32_t>(records));
  KDRVX_SetNoTriggerRecord(trigger);
  return creation.close();
}

// Standard output, which export's Output writes to, into a string.
class CapturedOutput {
 public:
  CapturedOutput() : saved_(stdout), stream_(open_memstream(&buffer_, &size_)) {
    check(stream_ != nullptr, "open_memstream failed");
    stdout = stream_;
  }
  ~CapturedOutput() {
    stdout = saved_;
    std::fclose(stream_);
    std::free(buffer_);
  }
  std::string text() {
    std::fflush(stream_);
    return std::string(buffer_, size_);
  }

 private:
  FILE* saved_;
  char* buffer_ = nullptr;
  size_t size_ = 0;
  FILE* stream_;
};

// The CSV text export writes, or empty when it refused the recording.
std::optional<std::string> exported(const ExportOptions& options, const RecordingInfo& info,
                                    const std::vector<float>& records) {
  CapturedOutput captured;
  try {
    const CsvShape shape = shapeOf(options);
    const ExportPlan plan = wholeRecording(info);
    Output out("-", Existing::Refuse);
    const std::unique_ptr<ExportWriter> writer = csvWriter(out, shape);
    writer->begin(plan);
    writer->write({0, static_cast<size_t>(info.records), info.channels.size(), records.data()});
    writer->finish();
  } catch (const ToolError& error) {
    check(*error.what() != '\0', "export refused without a message");
    return std::nullopt;
  }
  return captured.text();
}

struct Imported {
  std::vector<CsvColumn> columns;
  int64_t interval = 0;
  std::optional<WallStart> wallStart;
  std::optional<CsvMetadata> metadata;
  std::vector<float> records;
};

// A new recording of these channels and scan interval, as import plans it.
PlannedRecording plannedFrom(const std::vector<CsvColumn>& columns, int64_t interval) {
  PlannedRecording plan;
  plan.info.scanInterval = interval;
  plan.intervalOfSource = true;
  plan.info.channels = channelsOfColumns(columns);
  return plan;
}

// Whether import could make a recording of the channels of `info`, as
// export writes them.
bool importCouldMake(const RecordingInfo& info) {
  std::vector<CsvColumn> columns;
  for (const ChannelInfo& channel : info.channels) {
    // The heading row carries no blanks around a label (see compare()).
    columns.push_back({channel.heading(),
                       {std::string(trimBlanks(channel.label)), channel.unit},
                       static_cast<uint16_t>(channel.multiChannelBits)});
  }
  try {
    checkFit(plannedFrom(columns, info.scanInterval), "fuzz.rvx");
    return true;
  } catch (const ToolError&) {
    return false;
  }
}

Imported importOnce(const std::string& text, const DialectOptions& dialect,
                    const ExportOptions& options, const RecordingInfo& info, bool fits) {
  std::istringstream raw(text);
  CsvInput input(raw, true, dialect, "fuzz.csv");
  // What the command line must tell where the file does not.
  std::vector<MultiChannelDeclaration> declarations;
  std::optional<std::string> interval;
  if (!options.withMetadata) {
    for (const ChannelInfo& channel : info.channels) {
      if (channel.multiChannelBits != 0)
        declarations.push_back({channel.label, static_cast<uint16_t>(channel.multiChannelBits)});
    }
    if (options.noTime) interval = std::to_string(info.scanInterval);
  }
  CsvRecords csv(input.stream(), "fuzz.csv", declarations, interval, input.dialect());
  // What the columns would make, checked as the command checks it before
  // it creates the recording: a label that no new recording can take as a
  // variable ("[2" of a file from another program) is refused there. The
  // recording exported must then be one that the check refuses too.
  try {
    checkFit(plannedFrom(csv.columns(), csv.interval()), "fuzz.rvx");
  } catch (const ToolError&) {
    check(!fits, "import refuses the export of a recording that it could make");
    throw;
  }
  Imported imported;
  csv.read([&](const float* block, size_t count) {
    imported.records.insert(imported.records.end(), block, block + count * csv.columns().size());
  });
  imported.columns = csv.columns();
  imported.interval = csv.interval();
  imported.wallStart = csv.wallStart();
  imported.metadata = csv.metadata();
  return imported;
}

// The import as a user runs it: without options, and with the export's
// dialect where the bytes leave it open. Empty when import refused.
std::optional<Imported> imported(const std::string& text, const ExportOptions& options,
                                 const RecordingInfo& info) {
  const bool fits = importCouldMake(info);
  try {
    try {
      return importOnce(text, DialectOptions{}, options, info, fits);
    } catch (const ToolError& error) {
      if (error.status() != kExitUsage) throw;
      return importOnce(text, options.dialect, options, info, fits);
    }
  } catch (const CsvError& error) {
    check(*error.what() != '\0', "import refused without a message");
  } catch (const ToolError& error) {
    check(*error.what() != '\0', "import refused without a message");
  }
  return std::nullopt;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

void compareMetadata(const CsvMetadata& metadata, const RecordingInfo& info) {
  const RecordingInfo& back = metadata.info;
  check(back.comment == info.comment && back.company == info.company &&
            back.instrument == info.instrument && back.serialNumber == info.serialNumber &&
            back.nameMeasurement == info.nameMeasurement &&
            back.triggerSetting == info.triggerSetting,
        "a header text of the metadata came back changed");
  check(back.original == info.original, "the original flag came back changed");
  check(metadata.hasTrigger && back.triggerRecord == info.triggerRecord,
        "the trigger record came back changed");
  check(metadata.hasInterval && back.scanInterval == info.scanInterval,
        "the metadata's scan interval came back changed");
  // The date and time as the library reports them; one that the header
  // does not know may also come back as "unknown" (an impossible date such
  // as 30.20.1976 comes back as it is, and the import's plan check judges it).
  const bool dateKnown = (info.startKnown & KDRVX_START_DATE) != 0;
  const bool timeKnown = (info.startKnown & KDRVX_START_TIME) != 0;
  check(metadata.hasDate && (back.date == info.date || (!dateKnown && back.date == kUnknownStart)),
        "the date came back changed");
  check(metadata.hasTime && (back.time == info.time || (!timeKnown && back.time == kUnknownStart)),
        "the time came back changed");
  check(back.channels.size() == info.channels.size(), "the metadata lost channels");
  for (size_t c = 0; c < info.channels.size() && c < back.channels.size(); ++c) {
    const ChannelInfo &a = info.channels[c], &b = back.channels[c];
    check(a.variable == b.variable && a.unit == b.unit && a.name == b.name &&
              a.number == b.number && a.signalType == b.signalType &&
              a.calParameter == b.calParameter && a.zeroPoint == b.zeroPoint &&
              a.filter == b.filter && a.lintab == b.lintab && a.indRate == b.indRate &&
              a.isds == b.isds && a.linearisation == b.linearisation &&
              a.multiChannelBits == b.multiChannelBits,
          "a channel property of the metadata came back changed");
  }
}

void compare(const Imported& back, const ExportOptions& options, const RecordingInfo& info,
             const std::vector<float>& records) {
  check(back.columns.size() == info.channels.size(), "the channels came back other than exported");
  for (size_t c = 0; c < info.channels.size() && c < back.columns.size(); ++c) {
    const ChannelInfo& channel = info.channels[c];
    const CsvColumn& column = back.columns[c];
    // Nor can it carry blanks around a label (" 1", which the library keeps
    // as it is): import reads the label without them.
    check(column.parts.variable == trimBlanks(channel.label),
          "a channel's label came back changed");
    // The heading row alone cannot carry blanks around a unit: import reads
    // "p1 [ bar ]" as a unit of bar. The metadata block carries them.
    const bool exact = options.withMetadata || trimBlanks(channel.unit) == channel.unit;
    check(column.parts.unit == (exact ? channel.unit : std::string(trimBlanks(channel.unit))),
          "a channel's unit came back changed");
    check(column.bits == channel.multiChannelBits, "a channel's bit field came back changed");
  }
  check(back.interval == info.scanInterval, "the scan interval came back changed");
  check(sameBits(back.records, records), "the values came back changed");
  // The first timestamp gives the start (a recording without records has
  // none, and then only a metadata block tells it).
  if (options.timeMode == "absolute" && info.records > 0) {
    check(back.wallStart && back.wallStart->wallSeconds == info.startSeconds &&
              back.wallStart->nanoseconds == 0,
          "the start came back changed");
  }
  if (options.withMetadata) {
    check(back.metadata.has_value(), "the metadata block was not read back");
    if (back.metadata) compareMetadata(*back.metadata, info);
  }
}

void roundTrip(Fields& in, const ExportOptions& options) {
  const std::string path = scratchRecording();
  if (!makeRecording(in, path)) return;
  std::string why;
  const std::unique_ptr<Reader> reader = Reader::tryOpen(path, why);
  check(reader != nullptr, "the recording just made does not open");
  if (!reader) return;
  RecordingInfo info = reader->info();
  std::vector<float> records(info.records * info.channels.size());
  RecordReader source(*reader, info.records);
  const size_t block = RecordReader::blockRecords(info.channels.size());
  size_t got = 0;
  while (const size_t n = source.read(records.data() + got * info.channels.size(),
                                      std::min(block, static_cast<size_t>(info.records) - got))) {
    got += n;
  }
  check(got == info.records, "the recording just made reads back short");
  const std::optional<std::string> text = exported(options, info, records);
  if (!text) return;
  const std::optional<Imported> back = imported(*text, options, info);
  if (back) compare(*back, options, info, records);
}

}  // namespace

void runCsvRoundTrip(const uint8_t* data, size_t size) {
  Fields in(data, size);
  const ExportOptions options = exportOptions(in.u8());
  const MutedWarnings muted;
  clearScratch();
  roundTrip(in, options);
  clearScratch();
}

}  // namespace rvx::fuzz
