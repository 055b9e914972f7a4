// What a planned recording's file and its summary file will hold beyond the
// header: the records its channels can store as given, and the name of the
// summary file a create of its path writes.
#pragma once

#include <cstdint>

#include "kdrvx/kdrvx.h"

namespace kdrvx::write {

// Whether `count` records of the plan's channels keep every multichannel
// value within its bits; the first value that does not is named.
uint32_t checkPlanRecords(const KDRVX_Plan* plan, const float* records, uint32_t count,
                          uint64_t* record, int16_t* channel);

// The summary file a create of `path` writes beside a compact recording.
uint32_t summaryFileName(const char16_t* path, KDRVX_CHAR* name, uint16_t capacity);

}  // namespace kdrvx::write
