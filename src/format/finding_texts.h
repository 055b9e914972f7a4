// The words of the findings and the names of the layouts: one table for
// every host of the library (KDRVX_GetFindingText, KDRVX_GetLayoutName).
#pragma once

#include <cstdint>
#include <string>

#include "format/claims.h"

namespace kdrvx::format {

// The text of one finding (a single KDRVX_FINDING_ bit): with `claims`, with
// the figures that stand behind it ("the header counts 10 records, the data
// holds 8 whole records"); without, the same in general. Empty for anything
// but a single known bit. Plain ASCII.
std::string findingText(uint32_t finding, const Claims* claims);

// The name of a KDRVX_LAYOUT_ code for people ("current", "WIN 3.x/4.x
// (compact)", "DOS 5.0/5.1 (kind Q)"); empty for an unknown code.
std::string layoutName(uint32_t code);

}  // namespace kdrvx::format
