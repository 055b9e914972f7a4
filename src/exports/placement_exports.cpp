// Exported entry points that put a host's finished files in their places.
// Neither traces or touches the module state.
#include "kdrvx/kdrvx.h"
#include "library/placement.h"
#include "library/text.h"
#include "write/headers.h"

using namespace kdrvx;

extern "C" {

KDRVX_API uint32_t KDRVX_GetStagingName(KDRVX_CHAR* target, uint32_t flags, KDRVX_CHAR* name,
                                        uint16_t capacity) {
  // A recording's name is the one the create makes of it.
  if ((flags & KDRVX_PLACE_CREATE) != 0 && target != nullptr) {
    if (!write::pathFits(fromCaller(target))) return KDRVX_ERR_RVX_CREATE;
    write::cleanPath(fromCaller(target));
  }
  return library::stagingName(fromCaller(target), flags, fromCaller(name), capacity);
}

KDRVX_API uint32_t KDRVX_PlaceFile(const KDRVX_CHAR* staged, const KDRVX_CHAR* target,
                                   uint32_t flags, KDRVX_Placement* placement) {
  return library::placeFile(fromCaller(staged), fromCaller(target), flags, placement);
}

}  // extern "C"
