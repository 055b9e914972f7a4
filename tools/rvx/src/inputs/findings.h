// What a reading command makes of a file's claims: the library measures
// them against what the file holds (KDRVX_ReaderFindings), and every
// command decides from those findings alone, in the library's words. A
// finding that makes the values wrong refuses the file; the others are
// warned about, the same way by every command.
#pragma once

#include <cstdint>
#include <iostream>
#include <string>

#include "shared/library.h"

namespace rvx {

struct RecordCount {
  uint64_t counted = 0;  // the header's count
  uint64_t held = 0;     // whole records the data holds
  uint64_t toRead = 0;   // what to read: those of the count the data holds, or all it holds
};

// Throws ToolError "FILE: <finding>; the values would be wrong" for a
// finding of KDRVX_FINDINGS_VALUES_WRONG. What a follower checks while the
// recording runs, when the others are no news (the header's count lags).
void refuseWrongValues(const Reader& reader);

// Refuses as refuseWrongValues does; writes "rvx: FILE: warning:
// <finding>" on `warnings` for every other. Returns the records to read:
// with `allRecords` every whole record the data holds.
RecordCount requireReadable(const Reader& reader, bool allRecords,
                            std::ostream& warnings = std::cerr);

// The library's text of one finding, with the file's figures where given.
std::string findingText(const KDRVX_Findings* findings, uint32_t finding);
// The library's name of a layout: "current", "WIN 3.x/4.x (compact)".
std::string layoutName(uint32_t layout);

// The help text of --all-records.
inline constexpr const char* kAllRecordsHelp =
    "Read every whole record the data holds, also those beyond the header's count";

}  // namespace rvx
