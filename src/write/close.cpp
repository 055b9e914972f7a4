// Finishing a file under creation.
#include "format/summary_writer.h"
#include "kdrvx/kdrvx.h"
#include "library/state.h"
#include "library/trace.h"
#include "write/create.h"
#include "write/create_context.h"

namespace kdrvx::write {

using library::setLastError;

namespace {

void endCreateContext(CreateContext& context) {
  context.file.close();
  context.recordAdded = false;
  context.open = false;
}

}  // namespace

uint32_t closeCreate() {
  trace::call(u"KDrvxLibrary: KDRVX_CloseCreate()");
  if (uint32_t status = requireCreateOpen()) return status;
  CreateContext& context = createContext();
  const uint32_t updated = setLastError(update());
  endCreateContext(context);

  if (!context.legacyLayout || updated != KDRVX_OK) return updated;
  // Language 255 at creation left the labels empty: no summary file.
  if (context.labels.entry[0][0] == 0) return updated;
  return setLastError(format::writeSummaryFile(context.path, context.summaryPath.c_str(),
                                               context.header, context.labels));
}

uint32_t closeCreateSimple() {
  trace::call(u"KDrvxLibrary: KDRVX_CloseCreateSimple()");
  if (uint32_t status = requireCreateOpen()) return status;
  setLastError(KDRVX_OK);
  endCreateContext(createContext());
  return KDRVX_OK;
}

}  // namespace kdrvx::write
