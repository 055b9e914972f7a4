#include "library/trace.h"

#include "library/errors.h"
#include "library/state.h"
#include "library/text.h"
#include "platform/platform.h"

namespace kdrvx::trace {

bool enabled(uint32_t bit) { return (library::state().debugMask & bit) != 0; }

void emit(const char16_t* line) {
  const library::ModuleState& module = library::state();
  if (module.traceSink != nullptr) {
    module.traceSink(toCaller(line), module.traceContext);
  } else {
    platform::writeDefaultTrace(line);
  }
}

void failure(uint32_t status) {
  if (!enabled(kErrors)) return;
  Line<kErrorLineCapacity>().append(u"KDrvxLibrary: ").appendBytes(library::errorName(status)).emit();
}

void systemError(uint32_t error) {
  if (!enabled(kErrors)) return;
  Line<kErrorLineCapacity>().format("KDrvxLibrary: Error 0x%08X", error).emit();
}

}  // namespace kdrvx::trace
