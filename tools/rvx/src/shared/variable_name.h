// The format's rule for a channel's variable, applied to the UTF-8 text of
// the command line and of CSV headings.
#pragma once

#include <string_view>

#include "format/variable.h"

namespace rvx {

inline constexpr std::string_view kVariableRule = kdrvx::format::kVariableRule;

bool isVariableName(std::string_view utf8);

}  // namespace rvx
