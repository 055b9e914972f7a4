// KDRVX_Check: a recording's claims, its records and its header judged, as
// a reader reads them.
#pragma once

#include <cstdint>

#include "kdrvx/kdrvx.h"

namespace kdrvx::read {

uint32_t check(const char16_t* path, KDRVX_CheckReport* report, KDRVX_CheckChannel* channels,
               uint32_t channelCapacity, KDRVX_Progress progress, void* context);

}  // namespace kdrvx::read
