// libFuzzer entry point; KDRVX_FUZZ_RUN names the harness of the target,
// with its namespace.
#include <cstddef>
#include <cstdint>

#include "harness.h"
#include "rvx_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  KDRVX_FUZZ_RUN(data, size);
  return 0;
}
