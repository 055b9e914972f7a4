// Reading the text metadata of an older file back from its summary file.
#pragma once

#include <cstdint>

#include "format/layout.h"

namespace kdrvx::format {

// Fills the text fields (and, where the header lacks them, date, time and
// record count) of `header` and its channel records from the labelled lines
// of `text`, a zero-terminated UTF-16 string in any of the label languages.
// `bytesRead` is the size of the file the text came from (not used). Every
// scan stays inside the text.
void readSummaryMetadata(const char16_t* text, uint32_t bytesRead, RVX_HEADER& header);

}  // namespace kdrvx::format
