#include "modify/modify_context.h"

#include <algorithm>
#include <memory>
#include <new>

#include "format/import.h"
#include "format/layout.h"
#include "format/statistics.h"
#include "format/text.h"
#include "kdrvx/kdrvx.h"
#include "library/failure.h"
#include "library/state.h"
#include "library/text.h"
#include "library/trace.h"
#include "platform/platform.h"
#include "recording/record_writer.h"

namespace kdrvx::modify {
namespace {

using format::RVX_HEADER;
using library::setLastError;

struct ModifyContext {
  bool open = false;          // ModifyOpen
  platform::File file;        // ModifyFile, read and write, not shared
  RVX_HEADER header{};        // the file's header in the current layout
  // The end of the file, where appended records go. Nobody else can write
  // to the file while this context holds it, so it is kept here instead of
  // being asked for at every record.
  int64_t end = 0;
  // Extremes and sums of appended records; the header gets the extremes
  // when it is written.
  format::statistics::Running statistics{};
};

ModifyContext& context() {
  static ModifyContext instance;
  return instance;
}

uint32_t requireModifyOpen() {
  if (context().open) return KDRVX_OK;
  return library::fail(KDRVX_ERR_RVX_NOT_OPEN_MODIFY);
}

// The header as long as it is on disk: HeaderSize, or the computed length
// where the 16-bit field has wrapped (46 to 48 channels).
uint32_t headerLengthOnDisk(const RVX_HEADER& header) { return format::dataOffset(header); }

template <size_t N>
uint32_t exchangeText(char16_t* current, char16_t (&field)[N], const char16_t* text) {
  if (uint32_t status = requireModifyOpen()) return status;
  copyToCaller(current, static_cast<uint16_t>(N), field, N);
  if (text != nullptr) {
    const size_t length = boundedLength(text, N);
    if (length > N - 1) {
      return library::fail(KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
    }
    std::fill(field, field + N, char16_t{0});
    std::copy(text, text + length, field);
  }
  return setLastError(KDRVX_OK);
}

}  // namespace

uint32_t openModify(const char16_t* path) {
  trace::call(u"KDrvxLibrary: KDRVX_OpenModify()");
  ModifyContext& modify = context();
  if (modify.open) {
    return library::fail(KDRVX_ERR_RVX_STILL_OPEN_MODIFY);
  }
  if (!modify.file.open(path, platform::OpenMode::OpenReadWrite)) {
    return library::failWithSystemError(KDRVX_ERR_RVX_OPEN_MODIFY, platform::lastError());
  }

  // The working buffer lives for this call only; beyond the end of a short
  // file it holds zeros.
  std::unique_ptr<RVX_HEADER> buffer(new (std::nothrow) RVX_HEADER());
  const int64_t length = modify.file.length();
  if (buffer == nullptr || length < 0) {
    const uint32_t status =
        library::failWithSystemError(KDRVX_ERR_RVX_OPEN_MODIFY, platform::lastError());
    modify.file.close();
    return status;
  }
  // A read that ends before the file does failed: the header it leaves
  // would go back to the file at the close with zeros in its place.
  const uint32_t wanted = static_cast<uint32_t>(std::min<int64_t>(length, sizeof(RVX_HEADER)));
  if (modify.file.read(buffer.get(), wanted) != wanted) {
    const uint32_t status =
        library::failWithSystemError(KDRVX_ERR_RVX_OPEN_MODIFY, platform::lastError());
    modify.file.close();
    return status;
  }
  const format::ImportResult imported =
      format::importHeader(*buffer, static_cast<uint64_t>(length));
  library::state().sourceVersion = imported.sourceVersion;
  if (imported.layout != nullptr) trace::lineIf(trace::kCalls, imported.layout->traceLine);
  if (imported.status != KDRVX_OK) {
    modify.file.close();
    return setLastError(imported.status);
  }
  modify.header = *buffer;
  recording::loadExtremes(modify.statistics, modify.header);
  if (!format::hasSummaryFile(modify.header.Version)) {
    modify.end = length;
    modify.open = true;
    return setLastError(KDRVX_OK);
  }
  modify.file.close();
  return library::fail(KDRVX_ERR_RVX_MODIFY_NOT_POSSIBLE);
}

uint32_t modifyComment(char16_t* current, const char16_t* comment) {
  trace::call(u"KDrvxLibrary: KDRVX_ModifyComment()");
  return exchangeText(current, context().header.Comment, comment);
}

uint32_t modifyNameMeasurement(char16_t* current, const char16_t* name) {
  trace::call(u"KDrvxLibrary: KDRVX_ModifyNameMeasurement()");
  return exchangeText(current, context().header.NameMeasurement, name);
}

uint32_t closeModify() {
  trace::call(u"KDrvxLibrary: KDRVX_CloseModify()");
  if (uint32_t status = requireModifyOpen()) return status;
  ModifyContext& modify = context();
  uint32_t status = KDRVX_OK;
  recording::storeExtremes(modify.statistics, modify.header);
  if (!modify.file.seekFromStart(0) ||
      !modify.file.write(&modify.header, headerLengthOnDisk(modify.header)))
    status = library::failWithSystemError(KDRVX_ERR_RVX_OPEN_MODIFY, platform::lastError());
  // The context ends closed whatever the write did.
  modify.file.close();
  modify.open = false;
  return setLastError(status);
}

uint32_t addRecords(const float* records, uint32_t count) {
  if (uint32_t status = requireModifyOpen()) return status;
  ModifyContext& modify = context();
  if (!modify.file.seekFromStart(modify.end))
    return library::failWithSystemError(KDRVX_ERR_RVX_OPEN_MODIFY, platform::lastError());
  int64_t position = modify.end;
  const recording::RecordTarget target{.file = modify.file,
                                       .header = modify.header,
                                       .headerImage = &modify.header,
                                       .headerImageLength = headerLengthOnDisk(modify.header),
                                       .position = position,
                                       .appendsAtEnd = true,
                                       .writeFailure = KDRVX_ERR_RVX_OPEN_MODIFY,
                                       .statistics = modify.statistics,
                                       .create = nullptr};
  const uint32_t status = recording::appendRecords(target, records, count);
  modify.end = std::max(modify.end, position);
  return status;
}

}  // namespace kdrvx::modify
