// Exported entry points of the modify context.
#include "kdrvx/kdrvx.h"
#include "library/text.h"
#include "modify/modify_context.h"

using namespace kdrvx;

extern "C" {

KDRVX_API uint32_t KDRVX_OpenModify(const KDRVX_CHAR* path) {
  return modify::openModify(fromCaller(path));
}

KDRVX_API uint32_t KDRVX_ModifyComment(KDRVX_CHAR* current, const KDRVX_CHAR* comment) {
  return modify::modifyComment(fromCaller(current), fromCaller(comment));
}

KDRVX_API uint32_t KDRVX_ModifyNameMeasurement(KDRVX_CHAR* current, const KDRVX_CHAR* name) {
  return modify::modifyNameMeasurement(fromCaller(current), fromCaller(name));
}

KDRVX_API uint32_t KDRVX_CloseModify(void) { return modify::closeModify(); }

}  // extern "C"
