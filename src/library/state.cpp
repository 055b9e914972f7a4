#include "library/state.h"

namespace kdrvx::library {

ModuleState& state() {
  static ModuleState module;
  return module;
}

}  // namespace kdrvx::library
