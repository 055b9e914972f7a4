// KDRVX_Repair: the record count and statistics of a current-layout
// recording recounted from its data, into a new file.
#pragma once

#include <cstdint>

#include "kdrvx/kdrvx.h"

namespace kdrvx::modify {

uint32_t repair(const char16_t* source, const char16_t* target, KDRVX_RepairReport* report,
                KDRVX_Progress progress, void* context);

}  // namespace kdrvx::modify
