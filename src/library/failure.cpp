#include "library/failure.h"

#include "library/state.h"
#include "library/trace.h"

namespace kdrvx::library {

uint32_t fail(uint32_t status) {
  trace::failure(status);
  return setLastError(status);
}

uint32_t failWithSystemError(uint32_t status, uint32_t systemError) {
  trace::systemError(systemError);
  return setLastError(status);
}

}  // namespace kdrvx::library
