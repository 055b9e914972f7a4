#include "inputs/csv_metadata.h"

#include "inputs/csv.h"
#include "shared/arguments.h"
#include "shared/fields.h"
#include "shared/number_text.h"
#include "shared/tool_error.h"

namespace rvx {

namespace {

constexpr std::string_view kMetadataVersion = "1";
constexpr std::string_view kChannelPropertiesKey = "#channel properties";
constexpr std::string_view kChannelKey = "#channel";

// The header's texts, then its date and time.
struct HeaderTextKey {
  std::string_view key;
  std::string RecordingInfo::*text;
};
std::vector<HeaderTextKey> headerTextKeys() {
  std::vector<HeaderTextKey> keys;
  for (const HeaderField& field : headerFields()) keys.push_back({field.metadataKey, field.text});
  keys.push_back({"#date", &RecordingInfo::date});
  keys.push_back({"#time", &RecordingInfo::time});
  return keys;
}
const std::vector<HeaderTextKey> kHeaderTextKeys = headerTextKeys();
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
std::vector<ChannelProperty> channelProperties() {
  std::vector<ChannelProperty> properties;
  for (const ChannelField& field : channelFields()) properties.push_back({field.what, field.text});
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
}
const std::vector<ChannelProperty> kChannelProperties = channelProperties();

void appendRow(std::string& out, std::initializer_list<std::string_view> fields, char delimiter) {
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) out += delimiter;
    first = false;
    appendCsvField(out, field, delimiter);
  }
  out += kCsvLineEnd;
}

ToolError badValue(const std::string& where, std::string_view key, std::string_view value) {
  return ToolError(where + ": '" + std::string(value) + "' is no value of " +
                   std::string(key.substr(1)));
}

}  // namespace

std::string metadataBlock(const RecordingInfo& info, const std::vector<int>& selected,
                          char delimiter) {
  std::string out;
  appendRow(out, {kMetadataMark, kMetadataVersion}, delimiter);
  for (const HeaderTextKey& key : kHeaderTextKeys)
    appendRow(out, {key.key, info.*key.text}, delimiter);
  appendRow(out, {kIntervalKey, std::to_string(info.scanInterval)}, delimiter);
  appendRow(out, {kTriggerKey, std::to_string(info.triggerRecord)}, delimiter);
  appendRow(out, {kOriginalKey, info.original ? "1" : "0"}, delimiter);
  out += kChannelPropertiesKey;
  for (const ChannelProperty& property : kChannelProperties) {
    out += delimiter;
    appendCsvField(out, property.name, delimiter);
  }
  out += kCsvLineEnd;
  for (int index : selected) {
    const ChannelInfo& channel = info.channels[index];
    out += kChannelKey;
    for (const ChannelProperty& property : kChannelProperties) {
      out += delimiter;
      std::string value = property.text ? channel.*property.text : property.write(channel);
      // As the heading row names it: "#k" for a channel without a variable.
      if (property.text == &ChannelInfo::variable) value = splitHeading(channel.heading()).variable;
      appendCsvField(out, value, delimiter);
    }
    out += kCsvLineEnd;
  }
  return out;
}

void MetadataReader::begin(const std::vector<std::string_view>& fields, const std::string& where) {
  if (fields.size() < 2 || fields[1] != kMetadataVersion) {
    throw ToolError(where + ": a metadata block of a kind this rvx does not know (" +
                    std::string(kMetadataMark) + " " + std::string(kMetadataVersion) +
                    " expected)");
  }
  metadata_.info.original = true;
}

bool MetadataReader::add(const std::vector<std::string_view>& fields, const std::string& where) {
  const std::string_view key = fields.front();
  if (key == kChannelPropertiesKey) {
    properties_.assign(fields.begin() + 1, fields.end());
    return true;
  }
  if (key == kChannelKey) {
    addChannel(fields, where);
    return true;
  }
  const bool known = key == kIntervalKey || key == kTriggerKey || key == kOriginalKey ||
                     std::any_of(std::begin(kHeaderTextKeys), std::end(kHeaderTextKeys),
                                 [&](const HeaderTextKey& k) { return k.key == key; });
  if (!known) {
    // A heading row, even one whose first heading starts with '#'.
    if (!metadata_.info.channels.empty()) return false;
    throw ToolError(where + ": '" + std::string(key) + "' is no metadata key of rvx");
  }
  if (fields.size() != 2) {
    throw ToolError(where + ": " + std::string(key.substr(1)) + " takes one value, not " +
                    std::to_string(fields.size() - 1));
  }
  const std::string_view value = fields[1];
  RecordingInfo& info = metadata_.info;
  for (const HeaderTextKey& k : kHeaderTextKeys) {
    if (k.key != key) continue;
    info.*k.text = std::string(value);
    metadata_.hasDate = metadata_.hasDate || k.text == &RecordingInfo::date;
    metadata_.hasTime = metadata_.hasTime || k.text == &RecordingInfo::time;
  }
  if (key == kIntervalKey) {
    if (!parseSigned(value, info.scanInterval)) throw badValue(where, key, value);
    metadata_.hasInterval = true;
  } else if (key == kTriggerKey) {
    uint64_t record = 0;
    if (!parseUnsigned(value, record) || record > 0xFFFFFFFFu) throw badValue(where, key, value);
    info.triggerRecord = static_cast<uint32_t>(record);
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
  if (fields.size() != properties_.size() + 1) {
    throw ToolError(where + ": " + std::to_string(fields.size() - 1) +
                    " channel properties where their names row has " +
                    std::to_string(properties_.size()));
  }
  ChannelInfo channel;
  channel.index = static_cast<int>(metadata_.info.channels.size());
  channel.indRate = 1;
  for (size_t i = 0; i < properties_.size(); ++i) {
    const std::string_view value = fields[i + 1];
    const auto property =
        std::find_if(std::begin(kChannelProperties), std::end(kChannelProperties),
                     [&](const ChannelProperty& p) { return p.name == properties_[i]; });
    if (property == std::end(kChannelProperties)) {
      throw ToolError(where + ": '" + properties_[i] + "' is no channel property of rvx");
    }
    if (property->text) {
      channel.*property->text = std::string(value);
    } else if (!property->read(value, channel)) {
      throw ToolError(where + ": '" + std::string(value) + "' is no value of the " +
                      properties_[i]);
    }
  }
  metadata_.info.channels.push_back(std::move(channel));
}

}  // namespace rvx
