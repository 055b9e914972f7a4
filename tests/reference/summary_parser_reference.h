// The summary parser that searched the text for every wording on demand,
// the reference for the one-pass parser of src/format.
#pragma once

#include "format/layout.h"

namespace kdrvx::reference {

// Fills `header` from the zero-terminated UTF-16 `text` exactly as the
// library's readSummaryMetadata did before it indexed the labels in one pass.
void readSummaryMetadata(const char16_t* text, format::RVX_HEADER& header);

}  // namespace kdrvx::reference
