#include "shared/arguments.h"

#include <algorithm>
#include <cctype>

#include "shared/number_text.h"

namespace rvx {

namespace {

bool parseCount(std::string_view text, uint64_t& value) {
  text = trimBlanks(text);
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
         parseUnsigned(text, value);
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::optional<RecordRange> parseRecordRange(std::string_view text) {
  RecordRange range;
  const size_t colon = text.find(':');
  if (colon == text.npos) {
    uint64_t single = 0;
    if (!parseCount(text, single)) return std::nullopt;
    range.first = single;
    range.last = single;
    return range;
  }
  const std::string_view first = trimBlanks(text.substr(0, colon));
  const std::string_view last = trimBlanks(text.substr(colon + 1));
  if (first.empty() && last.empty()) return std::nullopt;
  if (!first.empty() && !parseCount(first, range.first)) return std::nullopt;
  if (!last.empty()) {
    uint64_t value = 0;
    if (!parseCount(last, value) || value < range.first) return std::nullopt;
    range.last = value;
  }
  return range;
}

CLI::Validator countFromOne() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        uint64_t count = 0;
        if (parseCount(text, count) && count >= 1 && count <= UINT32_MAX) return "";
        return "expected a whole number from 1 to " + std::to_string(UINT32_MAX) + ", not " +
               (text.size() <= 20 ? text : text.substr(0, 20) + "...");
      },
      "N");
}

std::optional<int32_t> parseLanguage(std::string_view text) {
  const std::string name = lower(trimBlanks(text));
  if (name == "de") return 0;
  if (name == "fr") return 2;
  if (name == "en") return 4;
  return std::nullopt;
}

std::optional<MultiChannelDeclaration> parseMultiChannelDeclaration(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == text.npos) return std::nullopt;
  MultiChannelDeclaration declaration;
  declaration.variable = std::string(trimBlanks(text.substr(0, colon)));
  uint64_t bits = 0;
  if (declaration.variable.empty() || !parseCount(text.substr(colon + 1), bits) || bits < 1 ||
      bits > 32) {
    return std::nullopt;
  }
  declaration.bits = static_cast<uint16_t>(bits);
  return declaration;
}

ColumnHeading splitHeading(std::string_view heading) {
  heading = trimBlanks(heading);
  ColumnHeading result;
  // The unit's bracket follows the variable, which may begin with one of
  // its own ("[2", as other programs name channels).
  const size_t open = heading.find('[', 1);
  if (open != heading.npos && heading.back() == ']') {
    result.variable = std::string(trimBlanks(heading.substr(0, open)));
    result.unit = std::string(trimBlanks(heading.substr(open + 1, heading.size() - open - 2)));
  } else {
    result.variable = std::string(heading);
  }
  return result;
}

std::optional<TimeUnit> timeHeading(std::string_view heading) {
  const ColumnHeading parts = splitHeading(heading);
  const std::string name = lower(parts.variable);
  constexpr std::string_view kNames[] = {"time",          "t",        "zeit", "timestamp",
                                         "datum/uhrzeit", "date/time"};
  if (std::find(std::begin(kNames), std::end(kNames), name) == std::end(kNames))
    return std::nullopt;
  if (parts.unit.empty() || parts.unit == "s") return TimeUnit::Seconds;
  if (parts.unit == "ms") return TimeUnit::Milliseconds;
  return std::nullopt;
}

}  // namespace rvx
