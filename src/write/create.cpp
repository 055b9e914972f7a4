// Creating a file, resetting the create context and the header setters.
#include "write/create.h"

#include <cstring>
#include <iterator>

#include "format/labels.h"
#include "format/limits.h"
#include "format/summary_writer.h"
#include "format/text.h"
#include "kdrvx/kdrvx.h"
#include "library/failure.h"
#include "library/state.h"
#include "library/text.h"
#include "library/trace.h"
#include "platform/platform.h"
#include "write/create_context.h"
#include "write/fields.h"
#include "write/headers.h"

namespace kdrvx::write {
namespace {

using library::setLastError;

// Windows error "the file name or extension is too long".
constexpr uint32_t kErrorFilenameTooLong = 206;

// A create the system refused: its error, then the path as it was tried.
uint32_t createFailure(uint32_t systemError, const char16_t* path) {
  const uint32_t status = library::failWithSystemError(KDRVX_ERR_RVX_CREATE, systemError);
  trace::lineIf(trace::kErrors, path);
  return status;
}

// What each header text setter traces and stores, in the order of
// HeaderField, and whether its trace line of a refusal holds the refused text.
struct HeaderTextSetter {
  const char16_t* callLine;
  uint32_t (*store)(Headers, const char16_t*);
  bool traceRejectedText;
};

constexpr HeaderTextSetter kHeaderTextSetters[] = {
    {u"KDrvxLibrary: KDRVX_SetCompany()", storeCompany, false},
    {u"KDrvxLibrary: KDRVX_SetInstrument()", storeInstrument, false},
    {u"KDrvxLibrary: KDRVX_SetSnrInstrument()", storeSnrInstrument, false},
    {u"KDrvxLibrary: KDRVX_SetNameMeasurement()", storeNameMeasurement, true},
    // Hosts match on this line as it has always been spelled: keep it verbatim.
    {u"KDrvxLibrary: KDRVX_SetTriggerSettings()", storeTriggerSetting, false},
    {u"KDrvxLibrary: KDRVX_SetComment()", storeComment, false},
};
static_assert(std::size(kHeaderTextSetters) == kHeaderFieldCount);

// The course of the header setters that cannot refuse their value.
template <typename Value>
uint32_t setHeaderValue(const char16_t* callLine, void (*store)(Headers, Value), Value value) {
  trace::call(callLine);
  if (uint32_t status = requireCreateOpen()) return status;
  store(headersOf(createContext()), value);
  return setLastError(KDRVX_OK);
}

// Resolves where the file and its summary file lie now. A path that cannot be
// resolved (the directory's name is not UTF-16) stays as it was given.
void rememberAbsolutePaths(CreateContext& context) {
  if (!platform::absolutePath(context.path, context.filePath)) context.filePath = context.path;
  context.summaryPath.clear();
  char16_t summary[format::kCreatePathCapacity];
  std::memcpy(summary, context.path, sizeof summary);
  if (!format::makeSummaryName(summary)) return;
  if (!platform::absolutePath(summary, context.summaryPath)) context.summaryPath = summary;
}

// The course of the date and time setters: a null text changes nothing, not
// even the last error; what `store` refuses is traced and kept.
uint32_t setParsed(uint32_t (*store)(Headers, const char16_t*), const char16_t* text) {
  if (uint32_t status = requireCreateOpen()) return status;
  if (text == nullptr) return KDRVX_OK;
  if (uint32_t status = store(headersOf(createContext()), text)) return library::fail(status);
  return setLastError(KDRVX_OK);
}

// The already-exists refusal with its trace of the system's answer.
uint32_t alreadyExists() {
  const uint32_t status = library::fail(KDRVX_ERR_RVX_ALREADY_EXISTS);
  trace::Line<trace::kErrorLineCapacity>()
      .format("GetLastError: 0x%X", platform::lastError())
      .emitIf(trace::kErrors);
  return status;
}

// The course of both creates; `callName` is the function the trace names.
uint32_t create(const char16_t* callName, char16_t* path, bool overwrite, bool original,
                bool legacyLayout, int32_t language, bool live) {
  trace::Line<trace::kPathLineCapacity>()
      .append(u"KDrvxLibrary: ")
      .append(callName)
      .append(u"(")
      .append(path != nullptr ? path : u"(null)")
      .append(u")")
      .emitIf(trace::kCalls);
  if (path != nullptr) cleanPath(path);
  const char16_t* name = path != nullptr ? path : u"";

  CreateContext& context = createContext();
  if (context.open) {
    return library::fail(KDRVX_ERR_RVX_STILL_OPEN_WRITE);
  }
  // The create context's path holds 259 units and the terminator; a longer path would not
  // fit it (nor a Windows path without the long-path prefix), so it is
  // refused like a name the system cannot create, before anything is
  // touched on disk.
  if (!pathFits(name)) return createFailure(kErrorFilenameTooLong, name);
  const size_t length = boundedLength(name, format::kCreatePathCapacity);

  if (!overwrite) {
    platform::File probe;
    if (probe.open(name, platform::OpenMode::ReadShared)) {
      probe.close();
      return alreadyExists();
    }
  }
  // A live create without overwrite creates only where nothing is, in the
  // same step as the open, so that a file that appeared since the probe is
  // never emptied.
  const platform::OpenMode mode = !live     ? platform::OpenMode::CreateReadWrite
                                  : overwrite ? platform::OpenMode::CreateLive
                                              : platform::OpenMode::CreateNewLive;
  if (!context.file.open(name, mode)) {
    if (live && !overwrite && platform::lastError() == platform::kErrorFileExists)
      return alreadyExists();
    return createFailure(platform::lastError(), name);
  }

  resetCreateHeader();
  context.legacyLayout = legacyLayout;
  context.live = live;
  storeOriginalFlag(headersOf(context), original);
  storeText(context.path, name, length);
  rememberAbsolutePaths(context);
  context.position = 0;
  context.open = true;
  setLastError(KDRVX_OK);

  if (legacyLayout) {
    if (language == kNoSummary) {
      std::memset(&context.labels, 0, sizeof context.labels);
    } else {
      context.labels = format::labelTableForLanguage(language);
    }
  }
  return KDRVX_OK;
}

}  // namespace

uint32_t createExt(char16_t* path, bool overwrite, bool original, bool legacyLayout,
                   int32_t language) {
  return create(u"KDRVX_Create", path, overwrite, original, legacyLayout, language, false);
}

uint32_t createLive(char16_t* path, bool overwrite, bool original, bool legacyLayout,
                    int32_t language) {
  return create(u"KDRVX_CreateLive", path, overwrite, original, legacyLayout, language, true);
}

uint32_t reset() {
  resetCreateHeader();
  return setLastError(KDRVX_OK);
}

// What the store refuses is traced and kept as the last error, with the
// refused text in the trace line when the setter asks for it.
uint32_t setHeaderText(HeaderField which, const char16_t* text) {
  const HeaderTextSetter& setter = kHeaderTextSetters[static_cast<size_t>(which)];
  trace::call(setter.callLine);
  if (uint32_t status = requireCreateOpen()) return status;
  const uint32_t status = setter.store(headersOf(createContext()), text);
  if (status == KDRVX_OK) return setLastError(KDRVX_OK);
  if (!setter.traceRejectedText) return library::fail(status);
  trace::Line<trace::kErrorLineCapacity>()
      .append(u"KDrvxLibrary: ERR_RVX_PARAMETER_STRING_LENGTH\n")
      .append(text)
      .emitIf(trace::kErrors);
  return setLastError(status);
}

uint32_t setDate(const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetDate()");
  return setParsed(storeDate, text);
}

uint32_t setTime(const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetTime()");
  return setParsed(storeTime, text);
}

uint32_t setScanRate(int64_t microseconds) {
  return setHeaderValue(u"KDrvxLibrary: KDRVX_SetScanRate()", storeScanRate, microseconds);
}

uint32_t setNoTriggerRecord(uint32_t record) {
  return setHeaderValue(u"KDrvxLibrary: KDRVX_SetNoTriggerRecord()", storeTriggerRecord, record);
}

}  // namespace kdrvx::write
