// The summary file (.RVI): a plain 8-bit text beside a compact-layout RVX file
// that carries what that layout has no room for (company, instrument,
// serial number, measurement name, trigger setting, the channels' texts),
// one labelled line each, with the labels of the chosen language.
//
// The text is rendered into memory; the create context writes it to the
// file. Every line is assembled in a buffer of 300 bytes and appended with
// its exact length, without a terminating zero. Header text fields become
// one byte per UTF-16 unit (the unit's low 8 bits), up to the field's
// terminating zero.
//
// Answers to what the format itself leaves open:
// - A line that would not fit its 300 bytes is cut before its CR LF, so the
//   line structure of the file survives. With the field capacities of the
//   header and the 24 channels of the compact layout no line reaches it;
//   only the channel list of a header with more channels could. At most the
//   48 channel records that a header holds are read, whatever NoChannels
//   says.
// - A storing time whose fixed-point text would not fit its 20-byte buffer
//   (19 characters) is written in exponent notation with three decimals and
//   the same unit ("1.000e+11 sec"), which always fits: the magnitude stays
//   right instead of being cut to a misleading prefix.
#include "format/summary_writer.h"

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "format/text.h"

namespace kdrvx::format {
namespace {

constexpr size_t kLineCapacity = 300;
constexpr size_t kStoringTimeCapacity = 20;
constexpr int kHeaderLabelWidth = 16;
constexpr int kChannelLabelWidth = 25;

// The longest run of comment characters before a line is broken.
constexpr size_t kCommentWrapLength = 73;

// Label indexes.
enum Label : int {
  kLabelInstrument = 0,
  kLabelSerialNumber = 1,
  kLabelNameMeasurement = 2,
  kLabelDirectory = 3,
  kLabelFileName = 4,
  kLabelDateTime = 5,
  kLabelScanRate = 6,
  kLabelStoringTime = 7,
  kLabelRecords = 8,
  kLabelChannels = 9,
  kLabelComment = 10,
  kLabelVariable = 11,
  kLabelUnit = 12,
  kLabelChannelName = 13,
  kLabelChannelNumber = 14,
  kLabelIsds = 15,
  kLabelIndividualRate = 16,
  kLabelSignalType = 17,
  kLabelCalParameter = 18,
  kLabelZeroPoint = 19,
  kLabelFilter = 20,
  kLabelLinearisation = 21,
  kLabelCompany = 23,
  kLabelNo = 24,
  kLabelYes = 25,
  kLabelCreatedWith = 28,
  kLabelTrigger = 29,
};

constexpr char kCreator[] = "KDRVXLibrary V2.7";

// The 8-bit character a UTF-16 unit becomes in the file: its low byte.
char lowByte(char16_t unit) { return static_cast<char>(unit & 0xFF); }

// Directory separators of the file-name split, in the 8-bit text that the
// file shows: '\\' and ':' everywhere, and '/' where it is the system's own
// separator. U+015C or U+013A therefore split like '\\' or ':'.
bool separatesDirectory(char16_t unit) {
  const char byte = lowByte(unit);
#if defined(_WIN32)
  return byte == '\\' || byte == ':';
#else
  return byte == '\\' || byte == ':' || byte == '/';
#endif
}

// A label as bytes: up to its terminating zero, at most the whole entry.
struct Text {
  const char* bytes;
  size_t length;
};

Text label(const LabelTable& labels, int index) {
  const char* entry = labels.entry[index];
  size_t length = 0;
  while (length < static_cast<size_t>(kLabelSize) && entry[length] != 0) ++length;
  return {entry, length};
}

// One line of the file in its fixed buffer. Content that does not fit is
// dropped; room for the closing CR LF is always kept.
class Line {
 public:
  Line& append(const char* bytes, size_t length) {
    for (size_t i = 0; i < length && length_ < kLineCapacity - 2; ++i)
      buffer_[length_++] = bytes[i];
    return *this;
  }
  Line& append(Text text) { return append(text.bytes, text.length); }
  Line& append(const char* text) {
    for (; *text != 0 && length_ < kLineCapacity - 2; ++text) buffer_[length_++] = *text;
    return *this;
  }
  Line& appendByte(char16_t unit) {
    if (length_ < kLineCapacity - 2) buffer_[length_++] = lowByte(unit);
    return *this;
  }
  // A UTF-16 header field, one byte per unit up to its terminating zero.
  template <size_t N>
  Line& appendField(const char16_t (&field)[N]) {
    const size_t length = fieldLength(field);
    for (size_t i = 0; i < length; ++i) appendByte(field[i]);
    return *this;
  }
  Line& appendNumber(int32_t value) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%d", static_cast<int>(value));
    return append(digits);
  }
  // The label padded with blanks to `width` (a longer one is not cut),
  // then a colon and two blanks.
  Line& appendLabel(Text text, int width) {
    append(text);
    for (size_t n = text.length; n < static_cast<size_t>(width); ++n) append(" ", 1);
    return append(":  ", 3);
  }
  Line& end() {
    buffer_[length_++] = '\r';
    buffer_[length_++] = '\n';
    return *this;
  }

  const char* data() const { return buffer_; }
  size_t length() const { return length_; }

 private:
  char buffer_[kLineCapacity];
  size_t length_ = 0;
};

// Collects the lines of the file.
class Output {
 public:
  explicit Output(std::string& text) : text_(text) {}
  void write(const Line& line) { text_.append(line.data(), line.length()); }
  void emptyLine() { write(Line().end()); }

 private:
  std::string& text_;
};

// Line 8 and 9 texts, and what channel line g needs again.
struct ScanRateTexts {
  char scanRate[32];
  char storingTime[kStoringTimeCapacity];
  const char* unit;
  int32_t reducedScanRate;
};

// Writes the storing time `value` with `unit` into the 20-byte buffer; a
// fixed-point text too long for it is replaced by exponent notation.
void formatStoringTime(char (&buffer)[kStoringTimeCapacity], float value, const char* unit) {
  const double printed = static_cast<double>(value);
  const int length = std::snprintf(buffer, sizeof buffer, "%1.3f %s", printed, unit);
  if (length < 0 || static_cast<size_t>(length) >= sizeof buffer)
    std::snprintf(buffer, sizeof buffer, "%1.3e %s", printed, unit);
}

ScanRateTexts scanRateTexts(const RVX_HEADER& header) {
  ScanRateTexts texts{};
  const int32_t scanRate = static_cast<int32_t>(header.ScanRate);
  // The storing time covers the intervals between the records, in single
  // precision: (records - 1) * scan rate / 1000.
  float records = static_cast<float>(header.NoRecords);
  if (records != 0.0f) records -= 1.0f;
  const float storing = static_cast<float>(scanRate) * records / 1000.0f;

  if ((header.Flags & kScanRateInMicroseconds) != 0) {
    std::snprintf(texts.scanRate, sizeof texts.scanRate, "%d \xB5sec", static_cast<int>(scanRate));
    formatStoringTime(texts.storingTime, storing, "ms");
    texts.unit = "\xB5sec";
    texts.reducedScanRate = scanRate;
  } else if (scanRate % 1000 != 0) {
    std::snprintf(texts.scanRate, sizeof texts.scanRate, "%d ms", static_cast<int>(scanRate));
    formatStoringTime(texts.storingTime, storing, "sec");
    texts.unit = "ms";
    texts.reducedScanRate = scanRate;
  } else if (scanRate / 1000 % 60 != 0) {
    const int32_t seconds = scanRate / 1000;
    std::snprintf(texts.scanRate, sizeof texts.scanRate, "%d sec", static_cast<int>(seconds));
    formatStoringTime(texts.storingTime, storing / 60.0f, "min");
    texts.unit = "sec";
    texts.reducedScanRate = seconds;
  } else {
    const int32_t minutes = scanRate / 1000 / 60;
    std::snprintf(texts.scanRate, sizeof texts.scanRate, "%d min", static_cast<int>(minutes));
    formatStoringTime(texts.storingTime, storing / 60.0f / 60.0f, "h");
    texts.unit = "min";
    texts.reducedScanRate = minutes;
  }
  return texts;
}

// A channel's identifier as in the channel list: prefix (if any), letter,
// index and a blank, e.g. "dp2 ".
Line& appendIdentifier(Line& line, const MGR_DEF& channel) {
  if (channel.VariablePrefix != 0) line.appendByte(channel.VariablePrefix);
  line.appendByte(channel.VariableLetter);
  line.appendNumber(channel.VariableIndex);
  return line.append(" ", 1);
}

void writeHeaderLines(Output& out, const char16_t* path, const RVX_HEADER& header,
                      const LabelTable& labels, const ScanRateTexts& rate) {
  const auto heading = [&](int index) {
    Line line;
    line.appendLabel(label(labels, index), kHeaderLabelWidth);
    return line;
  };

  out.write(heading(kLabelCompany).appendField(header.Company).end());
  out.write(heading(kLabelInstrument).appendField(header.Instrument).end());
  out.write(heading(kLabelSerialNumber).appendField(header.SnrInstrument).end());
  out.emptyLine();
  out.write(heading(kLabelNameMeasurement).appendField(header.NameMeasurement).end());

  // Directory and file name of the summary file itself, split at the last
  // separator, which belongs to neither.
  const size_t length = boundedLength(path, kCreatePathCapacity);
  const size_t nameStart = summaryFileNameStart({path, length});
  Line directory = heading(kLabelDirectory);
  for (size_t i = 0; i + 1 < nameStart; ++i) directory.appendByte(path[i]);
  out.write(directory.end());
  Line name = heading(kLabelFileName);
  for (size_t i = nameStart; i < length; ++i) name.appendByte(path[i]);
  out.write(name.end());

  char date[48];
  std::snprintf(date, sizeof date, "%d.%d.%d %d:%02d", header.Day, header.Month, header.Year,
                header.Hour, header.Minute);
  out.write(heading(kLabelDateTime).append(date).end());
  out.write(heading(kLabelScanRate).append(rate.scanRate).end());
  out.write(heading(kLabelStoringTime).append(rate.storingTime).end());
  out.write(heading(kLabelRecords).appendNumber(static_cast<int32_t>(header.NoRecords)).end());

  Line channels = heading(kLabelChannels);
  const uint32_t count = header.NoChannels < kMaxChannels ? header.NoChannels : kMaxChannels;
  for (uint32_t k = 0; k < count; ++k) appendIdentifier(channels, header.Channel[k]);
  out.write(channels.end());

  out.write(heading(kLabelTrigger).appendField(header.TriggerSetting).end());
  out.write(heading(kLabelComment).end());
}

// The comment in lines of at most 73 characters, or 74 when the line is
// broken after a blank, comma or full stop; a CR LF in the comment ends a
// line. Every test looks at the 8-bit text the file gets, so a unit whose
// low byte is 13 (U+010D, say) ends a line like a CR.
void writeCommentLines(Output& out, const RVX_HEADER& header) {
  const size_t length = fieldLength(header.Comment);
  const char16_t* text = header.Comment;
  size_t position = 0;
  while (position < length) {
    const size_t rest = length - position;
    size_t k = 0;
    while (k < kCommentWrapLength && k < rest && lowByte(text[position + k]) != '\r') ++k;

    size_t take = k;
    if (k == kCommentWrapLength) {
      // Break after the last blank, comma or full stop among the next 74
      // characters, not counting the first.
      for (size_t j = kCommentWrapLength; j >= 1; --j) {
        if (j >= rest) continue;
        const char byte = lowByte(text[position + j]);
        if (byte == ' ' || byte == ',' || byte == '.') {
          take = j + 1;
          break;
        }
      }
    }

    Line line;
    for (size_t i = 0; i < take; ++i) line.appendByte(text[position + i]);
    out.write(line.end());

    position += take;
    // Step over the line break: the CR and the unit after it.
    if (position < length && lowByte(text[position]) == '\r') position += 2;
  }
}

void writeChannelBlock(Output& out, const MGR_DEF& channel, const LabelTable& labels,
                       const ScanRateTexts& rate) {
  const auto heading = [&](int index) {
    Line line;
    line.appendLabel(label(labels, index), kChannelLabelWidth);
    return line;
  };
  const Text yes = label(labels, kLabelYes);
  const Text no = label(labels, kLabelNo);

  out.emptyLine();
  Line variable = heading(kLabelVariable);
  appendIdentifier(variable, channel);
  out.write(variable.end());
  out.write(heading(kLabelUnit).appendField(channel.ChannelUnit).end());
  out.write(heading(kLabelChannelName).end());
  out.write(heading(kLabelChannelNumber).appendField(channel.ChannelNumber).end());
  out.write(heading(kLabelIsds).append(channel.ISDS != 0 ? yes : no).end());

  Line individual = heading(kLabelIndividualRate);
  const int32_t divisor = static_cast<int32_t>(channel.ChannelIndRate);
  if (divisor > 1) {
    // The product wraps in 32 bits like the numbers it is made of.
    const int32_t interval = static_cast<int32_t>(static_cast<uint32_t>(divisor) *
                                                  static_cast<uint32_t>(rate.reducedScanRate));
    individual.append(yes).append(" (", 2).appendNumber(interval).append(" ", 1);
    individual.append(rate.unit).append(")", 1);
  } else {
    individual.append(no);
  }
  out.write(individual.end());

  out.write(heading(kLabelSignalType).appendField(channel.ChannelSignalType).end());
  out.write(heading(kLabelCalParameter).appendField(channel.ChannelCalParameter).end());
  out.write(heading(kLabelZeroPoint).appendField(channel.ChannelZeroPoint).end());
  out.write(heading(kLabelFilter).end());

  Line linearisation = heading(kLabelLinearisation);
  if (channel.Linearisation != 0)
    linearisation.append(yes).append("  ", 2).appendField(channel.ChannelLintab);
  else
    linearisation.append(no);
  out.write(linearisation.end());
}

}  // namespace

std::string renderSummary(const char16_t* summaryName, const RVX_HEADER& header,
                          const LabelTable& labels) {
  std::string text;
  Output out(text);
  const ScanRateTexts rate = scanRateTexts(header);
  writeHeaderLines(out, summaryName, header, labels, rate);
  writeCommentLines(out, header);
  out.emptyLine();

  const uint32_t count = header.NoChannels < kMaxChannels ? header.NoChannels : kMaxChannels;
  for (uint32_t k = 0; k < count; ++k) writeChannelBlock(out, header.Channel[k], labels, rate);

  out.emptyLine();
  out.emptyLine();
  Line closing;
  closing.append(label(labels, kLabelCreatedWith)).append("  ", 2).append(kCreator).end();
  out.write(closing);
  return text;
}

size_t summaryFileNameStart(std::u16string_view name) {
  size_t start = 0;
  for (size_t i = 0; i < name.size(); ++i)
    if (separatesDirectory(name[i])) start = i + 1;
  return start;
}

bool renameSummary(std::string& text, const char16_t* writtenAs, const char16_t* placedAs) {
  const size_t writtenLength = boundedLength(writtenAs, kCreatePathCapacity);
  const size_t placedLength = boundedLength(placedAs, kCreatePathCapacity);
  const size_t writtenName = summaryFileNameStart({writtenAs, writtenLength});
  const size_t placedName = summaryFileNameStart({placedAs, placedLength});
  if (std::u16string_view(writtenAs, writtenName) != std::u16string_view(placedAs, placedName))
    return false;
  std::string needle = ":  ";
  for (size_t i = writtenName; i < writtenLength; ++i) needle += lowByte(writtenAs[i]);
  needle += "\r\n";
  const size_t at = text.find(needle);
  if (at == std::string::npos || text.find(needle, at + 1) != std::string::npos) return false;
  const size_t lineStart = text.rfind('\n', at) == std::string::npos ? 0 : text.rfind('\n', at) + 1;
  Line line;
  line.append(text.data() + lineStart, at + 3 - lineStart);
  for (size_t i = placedName; i < placedLength; ++i) line.appendByte(placedAs[i]);
  line.end();
  text.replace(lineStart, at + needle.size() - lineStart, line.data(), line.length());
  return true;
}

}  // namespace kdrvx::format
