// What a file claims, compared with what it holds, before a subcommand uses
// it. A file that ends inside its header holds no recording, not an empty
// one, and is refused; records beyond the header's count (a recording that
// stopped before its final header) are reported, and read on request.
#pragma once

#include <cstdint>
#include <iostream>
#include <optional>
#include <string>

#include "inputs/raw_file.h"

namespace rvx {

// The file's bytes; throws ToolError when the file ends inside its header.
RawFile requireWholeHeader(const std::string& file);

struct RecordCount {
  uint64_t counted = 0;          // the header's count, as the library reports it
  std::optional<uint64_t> held;  // whole records in the data area, where known
  uint64_t toRead = 0;           // what to read: the count, or all records held
};

// Refuses a file that ends inside its header, and warns on `warnings` when
// its data holds more records than `counted`, unless `allRecords` asks to
// read them all.
RecordCount countRecords(const std::string& file, uint64_t counted, bool allRecords,
                         std::ostream& warnings = std::cerr);

// The help text of --all-records.
inline constexpr const char* kAllRecordsHelp =
    "Read every whole record the data holds, also those beyond the header's count";

}  // namespace rvx
