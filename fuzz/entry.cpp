// libFuzzer entry point; KDRVX_FUZZ_RUN names the harness of the target.
#include <cstddef>
#include <cstdint>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kdrvx::fuzz::KDRVX_FUZZ_RUN(data, size);
  return 0;
}
