// Exported entry points of the library as a whole.
#include "kdrvx/kdrvx.h"
#include "library/errors.h"
#include "library/module.h"
#include "library/text.h"

using namespace kdrvx;

extern "C" {

KDRVX_API uint32_t KDRVX_SetDebugMask(int16_t mask) { return library::setDebugMask(mask); }

KDRVX_API uint32_t KDRVX_GetLastError(void) { return library::lastError(); }

KDRVX_API uint32_t KDRVX_LibVersion(KDRVX_CHAR* text, uint16_t capacity) {
  return library::libVersion(fromCaller(text), capacity);
}

KDRVX_API uint32_t KDRVX_GetErrorString(KDRVX_CHAR* text, uint16_t capacity, uint32_t code) {
  return library::getErrorString(fromCaller(text), capacity, code);
}

KDRVX_API void KDRVX_DeleteFile(const KDRVX_CHAR* path) { library::deleteFile(fromCaller(path)); }

KDRVX_API void KDRVX_SetTraceSink(KDRVX_TraceSink sink, void* context) {
  library::setTraceSink(sink, context);
}

}  // extern "C"
