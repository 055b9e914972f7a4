#include "inputs/csv_metadata.h"

#include "inputs/csv.h"
#include "outputs/recording_copy.h"
#include "shared/arguments.h"
#include "shared/fields.h"
#include "shared/number_text.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

// Version 2 marks texts with appendCsvText; version 1 wrote them as they
// are, and is read so.
constexpr std::string_view kMetadataVersion = "2";
constexpr std::string_view kPlainTextsVersion = "1";
constexpr std::string_view kChannelPropertiesKey = "#channel properties";
constexpr std::string_view kChannelKey = "#channel";

// The header's texts, then its date and time.
struct HeaderTextKey {
  std::string_view key;
  std::string RecordingInfo::*text;
};
// Made on first use: the field tables of another file may not be
// initialised before this file's statics are.
const std::vector<HeaderTextKey>& headerTextKeys() {
  static const std::vector<HeaderTextKey> all = [] {
    std::vector<HeaderTextKey> keys;
    for (const HeaderField& field : headerFields()) keys.push_back({field.metadataKey, field.text});
    keys.push_back({"#date", &RecordingInfo::date});
    keys.push_back({"#time", &RecordingInfo::time});
    return keys;
  }();
  return all;
}
constexpr std::string_view kIntervalKey = "#scan interval [us]";
constexpr std::string_view kTriggerKey = "#trigger record";
constexpr std::string_view kOriginalKey = "#original";

// A channel property: a text, or a number that is kept as its text.
struct ChannelProperty {
  std::string_view name;
  std::string ChannelInfo::*text = nullptr;
  std::string (*write)(const ChannelInfo&) = nullptr;
  // Takes the text; false when it is not a value of the property.
  bool (*read)(std::string_view, ChannelInfo&) = nullptr;
};

bool readFlag(std::string_view text, bool& flag) {
  if (text != "0" && text != "1") return false;
  flag = text == "1";
  return true;
}

// The channel's texts, then its numbers.
const std::vector<ChannelProperty>& channelProperties() {
  static const std::vector<ChannelProperty> all = [] {
    std::vector<ChannelProperty> properties;
    for (const ChannelField& field : channelFields())
      properties.push_back({field.what, field.text});
    const ChannelProperty kNumbers[] = {
        {"individual rate", nullptr, [](const ChannelInfo& c) { return std::to_string(c.indRate); },
         [](std::string_view text, ChannelInfo& c) {
           uint64_t value = 0;
           if (!parseUnsigned(text, value) || value > 0xFFFFFFFFu) return false;
           c.indRate = static_cast<uint32_t>(value);
           return true;
         }},
        {"isds", nullptr, [](const ChannelInfo& c) { return std::string(c.isds ? "1" : "0"); },
         [](std::string_view text, ChannelInfo& c) { return readFlag(text, c.isds); }},
        {"linearisation", nullptr,
         [](const ChannelInfo& c) { return std::string(c.linearisation ? "1" : "0"); },
         [](std::string_view text, ChannelInfo& c) { return readFlag(text, c.linearisation); }},
        {"multichannel bits", nullptr,
         [](const ChannelInfo& c) { return std::to_string(c.multiChannelBits); },
         [](std::string_view text, ChannelInfo& c) {
           uint64_t value = 0;
           if (!parseUnsigned(text, value) || value > 32) return false;
           c.multiChannelBits = static_cast<int32_t>(value);
           return true;
         }},
    };
    properties.insert(properties.end(), std::begin(kNumbers), std::end(kNumbers));
    return properties;
  }();
  return all;
}

// A row of a key and its text.
void appendTextRow(std::string& out, std::string_view key, std::string_view text, char delimiter) {
  out += key;
  out += delimiter;
  appendCsvText(out, text, delimiter);
  out += kCsvLineEnd;
}

// A row of a key and its values, which are numbers or the key's own words.
void appendRow(std::string& out, std::initializer_list<std::string_view> fields, char delimiter) {
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) out += delimiter;
    first = false;
    appendCsvField(out, field, delimiter);
  }
  out += kCsvLineEnd;
}

// The date and time as the library gives them, or "unknown" where the
// header does not know them.
RecordingInfo withUnknownStart(const RecordingInfo& info) {
  RecordingInfo shown = info;
  const DateTime when = parseDateTime(info);
  if (!when.dateKnown()) shown.date = kUnknownStart;
  if (!when.timeKnown()) shown.time = kUnknownStart;
  return shown;
}

ToolError badValue(const std::string& where, std::string_view key, std::string_view value) {
  return ToolError(where + ": " + quotedField(value) + " is no value of " +
                   std::string(key.substr(1)));
}

}  // namespace

std::string metadataBlock(const RecordingInfo& info, const std::vector<int>& selected,
                          char delimiter) {
  std::string out;
  appendRow(out, {kMetadataMark, kMetadataVersion}, delimiter);
  const RecordingInfo shown = withUnknownStart(info);
  for (const HeaderTextKey& key : headerTextKeys())
    appendTextRow(out, key.key, shown.*key.text, delimiter);
  appendRow(out, {kIntervalKey, std::to_string(info.scanInterval)}, delimiter);
  appendRow(out, {kTriggerKey, std::to_string(info.triggerRecord)}, delimiter);
  appendRow(out, {kOriginalKey, info.original ? "1" : "0"}, delimiter);
  out += kChannelPropertiesKey;
  for (const ChannelProperty& property : channelProperties()) {
    out += delimiter;
    appendCsvField(out, property.name, delimiter);
  }
  out += kCsvLineEnd;
  for (int index : selected) {
    const ChannelInfo& channel = info.channels[index];
    out += kChannelKey;
    for (const ChannelProperty& property : channelProperties()) {
      out += delimiter;
      if (!property.text) {
        appendCsvField(out, property.write(channel), delimiter);
        continue;
      }
      // The variable as the heading row names it: the label, "ch_k" for channel k
      // without one.
      appendCsvText(out,
                    property.text == &ChannelInfo::variable
                        ? splitHeading(channel.heading()).variable
                        : channel.*property.text,
                    delimiter);
    }
    out += kCsvLineEnd;
  }
  return out;
}

uint32_t parseTriggerRecord(std::string_view text, const std::string& where) {
  const std::string_view number = trimBlanks(text);
  const bool negative = number.starts_with('-');
  const std::string_view digits = number.substr(negative || number.starts_with('+') ? 1 : 0);
  if (digits.empty() || digits.find_first_not_of("0123456789") != digits.npos) {
    throw ToolError(where + ": the trigger record " + quotedField(text) +
                    " is not a record number");
  }
  uint64_t record = 0;
  if (!parseUnsigned(digits, record) || record > UINT32_MAX || (negative && record != 0)) {
    throw ToolError(where + ": the trigger record " + quotedField(number) +
                    " is none the header can hold: it holds 0 to " + std::to_string(UINT32_MAX));
  }
  return static_cast<uint32_t>(record);
}

void MetadataReader::begin(const std::vector<std::string_view>& fields, const std::string& where) {
  if (fields.size() < 2 || (fields[1] != kMetadataVersion && fields[1] != kPlainTextsVersion)) {
    throw ToolError(where + ": a metadata block of a kind this rvx does not know (" +
                    std::string(kMetadataMark) + " " + std::string(kMetadataVersion) + " or " +
                    std::string(kPlainTextsVersion) + " expected)");
  }
  markedTexts_ = fields[1] == kMetadataVersion;
  metadata_.info.original = true;
}

bool MetadataReader::add(const std::vector<std::string_view>& fields, const std::string& where) {
  const std::string_view key = fields.front();
  if (key == kChannelPropertiesKey) {
    properties_.assign(fields.begin() + 1, fields.begin() + unpaddedWidth(fields, 1));
    return true;
  }
  if (key == kChannelKey) {
    addChannel(fields, where);
    return true;
  }
  const bool known = key == kIntervalKey || key == kTriggerKey || key == kOriginalKey ||
                     std::any_of(std::begin(headerTextKeys()), std::end(headerTextKeys()),
                                 [&](const HeaderTextKey& k) { return k.key == key; });
  if (!known) {
    // A heading row, even one whose first heading starts with '#'.
    if (!metadata_.info.channels.empty()) return false;
    throw ToolError(where + ": " + quotedField(key) + " is no metadata key of rvx");
  }
  const size_t width = unpaddedWidth(fields, 2);
  if (width != 2) {
    throw ToolError(where + ": " + std::string(key.substr(1)) + " takes one value, not " +
                    std::to_string(width - 1));
  }
  const std::string_view value = fields[1];
  RecordingInfo& info = metadata_.info;
  for (const HeaderTextKey& k : headerTextKeys()) {
    if (k.key != key) continue;
    info.*k.text = std::string(text(value));
    metadata_.hasDate = metadata_.hasDate || k.text == &RecordingInfo::date;
    metadata_.hasTime = metadata_.hasTime || k.text == &RecordingInfo::time;
  }
  if (key == kIntervalKey) {
    if (!parseSigned(value, info.scanInterval)) throw badValue(where, key, value);
    metadata_.hasInterval = true;
  } else if (key == kTriggerKey) {
    info.triggerRecord = parseTriggerRecord(value, where);
    metadata_.triggerWhere = where;
    metadata_.hasTrigger = true;
  } else if (key == kOriginalKey && !readFlag(value, info.original)) {
    throw badValue(where, key, value);
  }
  return true;
}

void MetadataReader::addChannel(const std::vector<std::string_view>& fields,
                                const std::string& where) {
  if (properties_.empty()) {
    throw ToolError(where + ": a channel row before the row of " +
                    std::string(kChannelPropertiesKey.substr(1)));
  }
  const size_t width = unpaddedWidth(fields, properties_.size() + 1);
  if (width != properties_.size() + 1) {
    throw ToolError(where + ": " + counted(width - 1, "channel property", "channel properties") +
                    " where their names row has " + std::to_string(properties_.size()));
  }
  ChannelInfo channel;
  channel.index = static_cast<int>(metadata_.info.channels.size());
  channel.indRate = 1;
  for (size_t i = 0; i < properties_.size(); ++i) {
    const std::string_view value = fields[i + 1];
    const auto property =
        std::find_if(std::begin(channelProperties()), std::end(channelProperties()),
                     [&](const ChannelProperty& p) { return p.name == properties_[i]; });
    if (property == std::end(channelProperties())) {
      throw ToolError(where + ": " + quotedField(properties_[i]) +
                      " is no channel property of rvx");
    }
    if (property->text) {
      channel.*property->text = std::string(text(value));
    } else if (!property->read(value, channel)) {
      throw ToolError(where + ": " + quotedField(value) + " is no value of the " + properties_[i]);
    }
  }
  metadata_.info.channels.push_back(std::move(channel));
}

}  // namespace rvx
