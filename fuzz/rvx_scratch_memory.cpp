// The round trip's recordings in the library's memory platform layer, where
// the fuzz targets run: every input starts from an empty file system.
#include "platform/memory_control.h"
#include "rvx_harness.h"

namespace rvx::fuzz {

namespace memory = kdrvx::platform::memory;

std::string scratchRecording() { return "/rvx-fuzz/round-trip.rvx"; }

void clearScratch() {
  memory::reset();
  memory::makeDirectory(u"/rvx-fuzz");
}

}  // namespace rvx::fuzz
