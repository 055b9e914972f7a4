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

// Turns the first `count` bytes of a summary file into a zero-terminated
// UTF-16 text in `units` (room for count + 1) and returns its length in
// units: UTF-16 little-endian when they start with the byte-order mark FF FE
// (which stays in the text) or when the second byte is 0; otherwise 8-bit
// text, each byte widened to one unit.
uint32_t decodeSummaryText(const unsigned char* bytes, uint32_t count, char16_t* units);

// Without a summary file the fields that only it supplies are empty.
void emptySummaryFields(RVX_HEADER& header);

}  // namespace kdrvx::format
