#include "inputs/claims.h"

#include <iostream>

#include "shared/tool_error.h"

namespace rvx {

RawFile requireWholeHeader(const std::string& file) {
  RawFile raw = readRawFile(file);
  const auto needed = static_cast<uint64_t>(raw.recognised.dataOffset);
  const bool judged = raw.recognised.layout != nullptr && raw.recognised.status == 0;
  if (raw.tooShort() || (judged && raw.length < needed)) {
    std::string extent = std::to_string(raw.length);
    if (!raw.tooShort()) extent += " of " + std::to_string(needed);
    throw ToolError(file + ": the file ends inside its header (" + extent +
                    " bytes); it holds no recording");
  }
  return raw;
}

RecordCount countRecords(const std::string& file, uint64_t counted, bool allRecords,
                         std::ostream& warnings) {
  const RawFile raw = requireWholeHeader(file);
  RecordCount count;
  count.counted = count.toRead = counted;
  const auto records = dataRecords(raw, counted);
  if (records) count.held = records->whole;
  if (!count.held || *count.held <= counted) return count;
  if (allRecords) {
    count.toRead = *count.held;
  } else {
    // repair recounts files of the current layout only.
    const bool repairable = raw.hasLayout(kdrvx::format::LayoutId::Current);
    warnings << "rvx: " << file << ": warning: the data holds " << *count.held << " whole records, "
             << *count.held - counted << " beyond the header's count of " << counted
             << " (a recording that stopped before its final header?); "
             << "--all-records reads them" << (repairable ? ", rvx repair recounts the header" : "")
             << "\n";
  }
  return count;
}

}  // namespace rvx
