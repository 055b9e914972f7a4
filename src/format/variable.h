// The variable that names a channel (p1, T12, dp3): what every layout can
// store and read back unchanged. The library's own parser takes any text and
// keeps what it understands of it (p1.2 becomes p1), so hosts that take
// names from users check them against this rule first.
#pragma once

#include <limits>
#include <string_view>

#include "format/layout.h"

namespace kdrvx::format {

// The rule, for help texts and for the messages that refuse a name.
inline constexpr std::string_view kVariableRule =
    "one or two letters followed by a number from 1 to 127 without a leading zero, such as p1, "
    "T12 or dp3";

// The number is a signed byte in the channel record.
inline constexpr int kLargestVariableIndex =
    std::numeric_limits<decltype(MGR_DEF::VariableIndex)>::max();

// ASCII letters, and any character beyond ASCII that fills one UTF-16 unit
// (µ, Ω, ä): the variable's letters are single units in the header.
constexpr bool isVariableLetter(char16_t c) {
  const bool ascii = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
  const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
  return ascii || (c >= 0xA0 && !surrogate && c != 0xFFFD);
}

constexpr bool isVariableName(std::u16string_view name) {
  size_t letters = 0;
  while (letters < name.size() && isVariableLetter(name[letters])) ++letters;
  if (letters < 1 || letters > 2 || letters == name.size() || name[letters] == u'0') return false;
  int index = 0;
  for (size_t i = letters; i < name.size(); ++i) {
    if (name[i] < u'0' || name[i] > u'9') return false;
    index = index * 10 + (name[i] - u'0');
    if (index > kLargestVariableIndex) return false;
  }
  return true;
}

}  // namespace kdrvx::format
