#include "library/module.h"

#include "library/state.h"
#include "library/text.h"
#include "library/trace.h"
#include "platform/platform.h"

namespace kdrvx::library {
namespace {

constexpr const char* kBuild = "061";

// The size line prints the sizes of a header with 24 channel records and of
// one channel record as fixed numbers, as it always has.
constexpr int kTracedHeaderSize = 35100;
constexpr int kTracedChannelSize = 1400;

}  // namespace

uint32_t setDebugMask(int16_t mask) {
  trace::emit(u"KDrvxLibrary: KDRVX_SetDebugMask()");
  state().debugMask = static_cast<uint32_t>(static_cast<int32_t>(mask));
  if (state().debugMask != 0) {
    trace::Line<trace::kInfoLineCapacity>()
        .format("size RVX_HEADER: %d  size MGR_DEF: %d", kTracedHeaderSize, kTracedChannelSize)
        .emit();
  }
  return KDRVX_OK;
}

uint32_t lastError() { return state().lastError; }

uint32_t libVersion(char16_t* buffer, uint16_t capacity) {
  trace::call(u"KDrvxLibrary: KDRVX_LibVersion()");
  trace::Line<trace::kInfoLineCapacity> text;
  text.format("KDrvxLibrary version %d.%d.%d Build %s", KDRVX_VERSION_MAJOR, KDRVX_VERSION_MINOR,
              KDRVX_VERSION_PATCH, kBuild);
  copyToCaller(buffer, capacity, text.text());
  return setLastError(KDRVX_OK);
}

void setTraceSink(KDRVX_TraceSink sink, void* context) {
  state().traceSink = sink;
  state().traceContext = sink == nullptr ? nullptr : context;
}

void deleteFile(const char16_t* path) {
  trace::call(u"KDrvxLibrary: KDRVX_DeleteFile()");
  const char16_t* shown = path == nullptr ? u"" : path;
  trace::lineIf(trace::kDetails, shown);
  if (!platform::removeFile(path)) {
    trace::emit(u"throw exception ");
    trace::emit(shown);
  }
  trace::lineIf(trace::kDetails, u"end delete");
}

}  // namespace kdrvx::library
