// The variable that names a channel (p1, T12, dp3): what every layout can
// store and read back unchanged. The library's own parser takes any text
// and keeps what it understands of it (p1.2 becomes p1), so the tool refuses
// or replaces what does not follow this rule before the library sees it.
#pragma once

#include <string_view>

namespace rvx {

// The rule, for help texts and for the messages that refuse a name.
inline constexpr std::string_view kVariableRule =
    "one or two letters followed by a number from 1 to 127 without a leading zero, such as p1, "
    "T12 or dp3";

bool isVariableName(std::string_view utf8);

}  // namespace rvx
