// Reading the text metadata of an older file back from its summary file.
#pragma once

#include <cstdint>
#include <string_view>

#include "format/layout.h"

namespace kdrvx::format {

// Fills the text fields (and, where the header lacks them, date, time and
// record count) of `header` and its channel records from the labelled lines
// of `text`, UTF-16 in any of the label languages, which ends at its first
// zero or at the end of the view. Every scan stays inside the text.
void readSummaryMetadata(std::u16string_view text, RVX_HEADER& header);

}  // namespace kdrvx::format
