#include "write/create_context.h"

#include "kdrvx/kdrvx.h"
#include "library/failure.h"
#include "library/state.h"
#include "library/trace.h"

namespace kdrvx::write {

CreateContext& createContext() {
  static CreateContext context;
  return context;
}

void resetCreateHeader() {
  CreateContext& context = createContext();
  resetHeaders(headersOf(context));
  context.statistics = {};
  context.recordAdded = false;
}

uint32_t requireCreateOpen() {
  if (createContext().open) return KDRVX_OK;
  return library::fail(KDRVX_ERR_RVX_NOT_OPEN_WRITE);
}

uint32_t requireChannel(int16_t channel) {
  if (uint32_t status = requireCreateOpen()) return status;
  if (channel >= 0 && channel < createContext().header.NoChannels) return KDRVX_OK;
  return library::fail(KDRVX_ERR_RVX_CHN_UNKNOWN);
}

const void* headerImage(CreateContext& context) { return write::headerImage(headersOf(context)); }

uint32_t headerImageLength(CreateContext& context) {
  return write::headerImageLength(headersOf(context));
}

bool writeHeaderImage(CreateContext& context) {
  const uint32_t length = headerImageLength(context);
  if (!context.file.seekFromStart(0)) return false;
  context.position = 0;
  if (!context.file.write(headerImage(context), length)) return false;
  context.position = length;
  return true;
}

}  // namespace kdrvx::write
