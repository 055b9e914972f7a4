// Module-wide state of the library. It is zero at load and lives until
// the library is unloaded; the host calls the library from one thread at a
// time, so nothing here is locked. The three contexts keep their own state
// in their subsystems.
#pragma once

#include <cstdint>

#include "kdrvx/kdrvx.h"

namespace kdrvx::library {

struct ModuleState {
  uint32_t debugMask = 0;      // trace bits, set only by KDRVX_SetDebugMask
  uint32_t lastError = 0;      // status of the last export that records one
  uint32_t sourceVersion = 0;  // version code of the last imported file
  KDRVX_TraceSink traceSink = nullptr;  // null: the platform's default sink
  void* traceContext = nullptr;
};

ModuleState& state();

// Stores `status` as the last error and returns it, so that an export can
// end with `return setLastError(status);`.
inline uint32_t setLastError(uint32_t status) {
  state().lastError = status;
  return status;
}

}  // namespace kdrvx::library
