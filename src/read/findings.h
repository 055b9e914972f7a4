// What the interface says about findings and layouts in words, and the name
// of the summary file an open looks for: the read side's answers that need
// no open recording.
#pragma once

#include <cstdint>

#include "kdrvx/kdrvx.h"

namespace kdrvx::read {

// The words of one finding, with the figures of `findings` when given.
uint32_t findingText(const KDRVX_Findings* findings, uint32_t finding, KDRVX_CHAR* text,
                     uint16_t capacity);

// The name of a layout for people.
uint32_t layoutName(uint32_t layout, KDRVX_CHAR* text, uint16_t capacity);

// The summary file an open of `path` reads.
uint32_t summaryFileName(const char16_t* path, KDRVX_CHAR* name, uint16_t capacity);

}  // namespace kdrvx::read
