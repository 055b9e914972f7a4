// Putting a finished file in its place: the staging name beside a target,
// and the one rule by which a staged file takes the target's place (flush,
// owner and mode, hard links, symbolic links, the RVI file of a compact
// recording, the atomic rename). Touches no module state and traces
// nothing: callable from any thread.
#pragma once

#include <cstdint>

#include "kdrvx/kdrvx.h"

namespace kdrvx::library {

// KDRVX_GetStagingName, after the export has cleaned a create's path.
uint32_t stagingName(const char16_t* target, uint32_t flags, char16_t* name, uint16_t capacity);

// KDRVX_PlaceFile.
uint32_t placeFile(const char16_t* staged, const char16_t* target, uint32_t flags,
                   KDRVX_Placement* placement);

}  // namespace kdrvx::library
