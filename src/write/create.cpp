// Creating a file, resetting the create context and the header setters.
#include "write/create.h"

#include <cstring>

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
#include "write/parse.h"

namespace kdrvx::write {
namespace {

using library::setLastError;

// Windows error "the file name or extension is too long".
constexpr uint32_t kErrorFilenameTooLong = 206;

// Language code that asks for no summary file at all.
constexpr int32_t kNoSummary = 255;

// On Windows '/' is one of the characters a file name cannot hold; on POSIX
// it separates directories and stays.
#if defined(_WIN32)
constexpr bool kSlashIsForbidden = true;
#else
constexpr bool kSlashIsForbidden = false;
#endif

bool isForbiddenInName(char16_t unit) {
  switch (unit) {
    case u'"':
    case u'<':
    case u'>':
    case u'?':
    case u'|':
      return true;
    case u'/':
      return kSlashIsForbidden;
    default:
      return false;
  }
}

// Replaces the characters a file name cannot hold by '_', in the caller's
// own string; a colon survives only in the first two units (a drive).
void cleanPath(char16_t* path) {
  for (char16_t* p = path; *p != 0; ++p)
    if (isForbiddenInName(*p)) *p = u'_';
  if (path[0] == 0 || path[1] == 0) return;
  for (char16_t* p = path + 2; *p != 0; ++p)
    if (*p == u':') *p = u'_';
}

// A create the system refused: its error, then the path as it was tried.
uint32_t createFailure(uint32_t systemError, const char16_t* path) {
  const uint32_t status = library::failWithSystemError(KDRVX_ERR_RVX_CREATE, systemError);
  trace::lineIf(trace::kErrors, path);
  return status;
}

// The common course of the header text setters: the field is emptied
// first, so a rejected text leaves it empty; a null text leaves it empty
// and succeeds.
template <size_t N>
uint32_t setHeaderText(char16_t (&field)[N], size_t limit, const char16_t* text,
                       bool traceRejectedText = false) {
  if (uint32_t status = requireCreateOpen()) return status;
  clearText(field);
  if (text != nullptr) {
    const size_t length = measuredLength(text, limit);
    if (length > limit) {
      if (!traceRejectedText) return library::fail(KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
      trace::Line<trace::kErrorLineCapacity>()
          .append(u"KDrvxLibrary: ERR_RVX_PARAMETER_STRING_LENGTH\n")
          .append(text)
          .emitIf(trace::kErrors);
      return setLastError(KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
    }
    storeText(field, text, length);
  }
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

// The course of the date and time setters: a null text changes nothing and
// succeeds; a text that does not parse is refused with `refusal` and
// changes nothing; a parsed value goes into both headers.
template <typename Parsed, typename Store>
uint32_t setParsed(const char16_t* text, bool (*parse)(const char16_t*, Parsed&), uint32_t refusal,
                   Store store) {
  if (uint32_t status = requireCreateOpen()) return status;
  if (text == nullptr) return KDRVX_OK;
  Parsed parsed;
  if (!parse(text, parsed)) return library::fail(refusal);
  store(createContext(), parsed);
  return setLastError(KDRVX_OK);
}

}  // namespace

uint32_t createExt(char16_t* path, bool overwrite, bool original, bool legacyLayout,
                   int32_t language) {
  trace::Line<trace::kPathLineCapacity>()
      .append(u"KDrvxLibrary: KDRVX_Create(")
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
  const size_t length = boundedLength(name, format::kCreatePathCapacity);
  if (length >= static_cast<size_t>(format::kCreatePathCapacity))
    return createFailure(kErrorFilenameTooLong, name);

  if (!overwrite) {
    platform::File probe;
    if (probe.open(name, platform::OpenMode::ReadShared)) {
      probe.close();
      const uint32_t status = library::fail(KDRVX_ERR_RVX_ALREADY_EXISTS);
      trace::Line<trace::kErrorLineCapacity>()
          .format("GetLastError: 0x%X", platform::lastError())
          .emitIf(trace::kErrors);
      return status;
    }
  }
  if (!context.file.open(name, platform::OpenMode::CreateReadWrite))
    return createFailure(platform::lastError(), name);

  resetCreateHeader();
  context.legacyLayout = legacyLayout;
  context.header.OriginalFlag =
      original ? format::kOriginalRecording : format::kNotOriginalRecording;
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

uint32_t reset() {
  resetCreateHeader();
  return setLastError(KDRVX_OK);
}

uint32_t setCompany(const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetCompany()");
  return setHeaderText(createContext().header.Company, format::kCompanyLimit, text);
}

uint32_t setInstrument(const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetInstrument()");
  return setHeaderText(createContext().header.Instrument, format::kInstrumentLimit, text);
}

uint32_t setSnrInstrument(const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetSnrInstrument()");
  return setHeaderText(createContext().header.SnrInstrument, format::kSnrInstrumentLimit, text);
}

uint32_t setNameMeasurement(const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetNameMeasurement()");
  return setHeaderText(createContext().header.NameMeasurement, format::kNameMeasurementLimit, text,
                       true);
}

uint32_t setTriggerSetting(const char16_t* text) {
  // Hosts match on this line as it has always been spelled: keep it verbatim.
  trace::call(u"KDrvxLibrary: KDRVX_SetTriggerSettings()");
  return setHeaderText(createContext().header.TriggerSetting, format::kTriggerSettingLimit, text);
}

uint32_t setComment(const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetComment()");
  CreateContext& context = createContext();
  const uint32_t status = setHeaderText(context.header.Comment, format::kCommentLimit, text);
  if (status == KDRVX_OK) {
    // The compact header keeps the comment as 8-bit text; a rejected
    // comment leaves it as it was.
    storeLowBytes(context.compact.Comment, context.header.Comment,
                  fieldLength(context.header.Comment));
  }
  return status;
}

uint32_t setDate(const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetDate()");
  return setParsed(text, parseDate, KDRVX_ERR_RVX_DATE,
                   [](CreateContext& context, const ParsedDate& date) {
                     context.header.Day = context.compact.Day = date.day;
                     context.header.Month = context.compact.Month = date.month;
                     context.header.Year = context.compact.Year = date.year;
                   });
}

uint32_t setTime(const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetTime()");
  return setParsed(text, parseTime, KDRVX_ERR_RVX_TIME,
                   [](CreateContext& context, const ParsedTime& time) {
                     context.header.Hour = context.compact.Hour = time.hour;
                     context.header.Minute = context.compact.Minute = time.minute;
                     context.header.Second = time.second;
                   });
}

uint32_t setScanRate(int64_t microseconds) {
  trace::call(u"KDrvxLibrary: KDRVX_SetScanRate()");
  if (uint32_t status = requireCreateOpen()) return status;
  CreateContext& context = createContext();
  // Whole milliseconds are stored as milliseconds, anything else as
  // microseconds with bit 0 of Flags set.
  uint32_t stored;
  if (microseconds % 1000 == 0) {
    stored = static_cast<uint32_t>(microseconds / 1000);
    context.header.Flags &= static_cast<uint8_t>(~format::kScanRateInMicroseconds);
  } else {
    stored = static_cast<uint32_t>(microseconds);
    context.header.Flags |= format::kScanRateInMicroseconds;
  }
  context.header.ScanRate = context.compact.ScanRate = stored;
  context.compact.Flags = static_cast<uint8_t>(
      (context.compact.Flags & ~format::kScanRateInMicroseconds) |
      (context.header.Flags & format::kScanRateInMicroseconds));
  return setLastError(KDRVX_OK);
}

uint32_t setNoTriggerRecord(uint32_t record) {
  trace::call(u"KDrvxLibrary: KDRVX_SetNoTriggerRecord()");
  if (uint32_t status = requireCreateOpen()) return status;
  CreateContext& context = createContext();
  context.header.NoTriggerRecord = context.compact.NoTriggerRecord = record;
  return setLastError(KDRVX_OK);
}

}  // namespace kdrvx::write
