// Opening a file for reading into the read context and closing it again.
// The open itself is the recording's (recording.cpp); the context traces its
// outcome, records the version found and the last error, and shows the
// header to the queries.
#include "kdrvx/kdrvx.h"
#include "library/failure.h"
#include "library/state.h"
#include "library/trace.h"
#include "read/read.h"
#include "read/read_context.h"

namespace kdrvx::read {

ReadContext& context() {
  static ReadContext read;
  return read;
}

const format::RVX_HEADER& visibleHeader() {
  static const format::RVX_HEADER kNoHeader{};
  const ReadContext& read = context();
  return read.headerShown ? read.recording.header : kNoHeader;
}

uint32_t openRead(const char16_t* path) {
  trace::call(u"KDrvxLibrary: KDRVX_OpenRead()");
  ReadContext& read = context();
  if (read.open) {
    return library::fail(KDRVX_ERR_RVX_STILL_OPEN_READ);
  }
  const OpenOutcome outcome = openRecording(read.recording, path, RetryLine::Traced);
  // A refused header stays visible to the queries, as it was read.
  if (outcome.header != HeaderOutcome::Untouched)
    read.headerShown = outcome.header == HeaderOutcome::Read;
  if (outcome.imported) {
    library::state().sourceVersion = read.recording.sourceVersion;
    if (outcome.layout != nullptr) trace::lineIf(trace::kCalls, outcome.layout->traceLine);
  }
  if (outcome.refusedBySystem)
    return library::failWithSystemError(outcome.status, outcome.systemError);
  if (outcome.status != KDRVX_OK) return library::setLastError(outcome.status);

  read.open = true;
  read.recordCounter = 0;
  return library::setLastError(KDRVX_OK);
}

uint32_t closeRead() {
  trace::call(u"KDrvxLibrary: KDRVX_CloseRead()");
  ReadContext& read = context();
  if (!read.open) {
    // Hosts match on this line as it has always been spelled: keep it verbatim.
    trace::lineIf(trace::kErrors, u"KDrvxLibrary: ERR_RVX_NOT_OPEN");
    return library::setLastError(KDRVX_ERR_RVX_NOT_OPEN_READ);
  }
  read.recording.file.close();
  read.open = false;
  read.headerShown = false;
  return library::setLastError(KDRVX_OK);
}

}  // namespace kdrvx::read
