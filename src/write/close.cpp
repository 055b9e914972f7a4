// Finishing a file under creation.
#include <string>

#include "format/summary_writer.h"
#include "kdrvx/kdrvx.h"
#include "library/state.h"
#include "library/trace.h"
#include "platform/platform.h"
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

// Writes the summary file beside the file just closed: the context's path
// becomes the summary name (it stays so), the file is created where that
// name pointed when the RVX file was created, and the text goes to it in one
// write. A failed write leaves what reached the file; the status says the
// summary could not be made.
uint32_t writeSummaryFile(CreateContext& context) {
  if (!format::makeSummaryName(context.path)) return KDRVX_ERR_RVI_FILE_NAME;
  const char16_t* location =
      context.summaryPath.empty() ? context.path : context.summaryPath.c_str();
  platform::File file;
  if (!file.open(location, platform::OpenMode::CreateReadWrite)) return KDRVX_ERR_RVI_CREATE;
  const std::string text = format::renderSummary(context.path, context.header, context.labels);
  return file.write(text.data(), static_cast<uint32_t>(text.size())) ? KDRVX_OK
                                                                     : KDRVX_ERR_RVI_CREATE;
}

}  // namespace

uint32_t closeCreate() {
  trace::call(u"KDrvxLibrary: KDRVX_CloseCreate()");
  if (uint32_t status = requireCreateOpen()) return status;
  CreateContext& context = createContext();
  const uint32_t updated = setLastError(update());
  // A live recording keeps its file until the summary file is there too,
  // so that a follower who sees the writer gone finds the whole recording.
  if (!context.live) endCreateContext(context);

  uint32_t status = updated;
  // Language 255 at creation left the labels empty: no summary file.
  if (context.legacyLayout && updated == KDRVX_OK && context.labels.entry[0][0] != 0)
    status = setLastError(writeSummaryFile(context));
  if (context.live) endCreateContext(context);
  return status;
}

uint32_t closeCreateSimple() {
  trace::call(u"KDrvxLibrary: KDRVX_CloseCreateSimple()");
  if (uint32_t status = requireCreateOpen()) return status;
  setLastError(KDRVX_OK);
  endCreateContext(createContext());
  return KDRVX_OK;
}

}  // namespace kdrvx::write
