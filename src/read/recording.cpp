// Opening a recording for reading. Opening converts the header into the
// current layout and, for files older than version 'a', completes it from the
// summary file beside it, repairs an implausible date and derives a missing
// record count. It keeps no state of its own and writes to no module state,
// so that any number of recordings can be opened, from any thread; the only
// module state it touches is the lock around the summary file's open.
#include "read/recording.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>

#include "format/import.h"
#include "format/summary_names.h"
#include "format/summary_parser.h"
#include "format/text.h"
#include "kdrvx/kdrvx.h"
#include "library/trace.h"
#include "read/shared_state.h"

namespace kdrvx::read {
namespace {

using format::RVX_HEADER;

constexpr uint32_t kSharingRetryPauseMs = 2000;

constexpr uint8_t kNoHourOrMinute = 255;

// The summary file's bytes as read, and its text as the parser takes it.
struct SummaryBuffer {
  unsigned char bytes[format::kSummaryReadLimit];
  char16_t units[format::kSummaryReadLimit + 1];
};

// Reads the summary file `name`, found as Windows finds it (whose names
// ignore case), into a new buffer, `count` bytes of it; null when there is
// none to read. The file is opened without sharing: another process that
// holds it makes it count as missing, another thread of this one only
// waits. It is closed before the lock is released.
std::unique_ptr<SummaryBuffer> readSummaryFile(const char16_t* name, uint32_t& count) {
  std::lock_guard<std::mutex> hold(summaryFileLock());
  platform::File summary;
  if (!summary.openIgnoringCase(name, platform::OpenMode::ReadExclusive)) return nullptr;
  std::unique_ptr<SummaryBuffer> buffer(new (std::nothrow) SummaryBuffer);
  if (!buffer) return nullptr;
  // As much as the open found, so that no further read has to meet the end.
  const int64_t length = summary.lengthAtOpen();
  const uint32_t wanted = length >= 0 && length < format::kSummaryReadLimit
                              ? static_cast<uint32_t>(length)
                              : format::kSummaryReadLimit;
  count = summary.read(buffer->bytes, wanted);
  return buffer;
}

// Reads the summary file beside `path` into the header's text fields, or
// empties those fields when there is none to read; whether there was one.
bool completeFromSummary(const char16_t* path, RVX_HEADER& header) {
  // Without a name (a path too short or too long) there is no summary file, and
  // the open goes on as if none existed.
  char16_t name[format::kSummaryNameCapacity];
  uint32_t count = 0;
  std::unique_ptr<SummaryBuffer> buffer;
  if (format::readingSummaryName(path, name)) buffer = readSummaryFile(name, count);
  if (!buffer) {
    format::emptySummaryFields(header);
    return false;
  }
  const uint32_t units = format::decodeSummaryText(buffer->bytes, count, buffer->units);
  format::readSummaryMetadata({buffer->units, units}, header);
  return true;
}

// Replaces an implausible recording date by the file's modification time in
// local time. When that time cannot be had (also when the file's status
// cannot be read), the date is unknown: zeros, and 255 for hour and minute.
// Whether the date was replaced.
bool repairDate(platform::File& file, RVX_HEADER& header) {
  if (format::datePlausible(header)) return false;
  platform::LocalTime time;
  if (file.modificationTime(time)) {
    header.Day = static_cast<uint8_t>(time.day);
    header.Month = static_cast<uint8_t>(time.month);
    header.Year = static_cast<uint16_t>(time.year);
    header.Hour = static_cast<uint8_t>(time.hour);
    header.Minute = static_cast<uint8_t>(time.minute);
  } else {
    header.Day = 0;
    header.Month = 0;
    header.Year = 0;
    header.Hour = kNoHourOrMinute;
    header.Minute = kNoHourOrMinute;
  }
  return true;
}

bool openShared(platform::File& file, const char16_t* path, RetryLine retryLine) {
  constexpr platform::OpenMode kMode = platform::OpenMode::ReadShared;
  if (file.open(path, kMode)) return true;
  if (platform::lastError() != platform::kErrorSharingViolation) return false;
  if (retryLine == RetryLine::Traced)
    trace::lineIf(trace::kCalls, u"KDrvxLibrary: File in use, repeat access after 2 sec");
  platform::sleepMilliseconds(kSharingRetryPauseMs);
  return file.open(path, kMode);
}

// Whether the bytes read settle what the import needs to know of the file
// without its length: a whole header buffer of any layout but the oldest,
// which counts its records by the file's length.
bool readSettlesImport(const RVX_HEADER& raw, uint32_t bytesRead) {
  return bytesRead == sizeof raw && raw.LeadWord == 0;
}

// Whether the open needs the file's length after the import: a layout with a
// summary file that stores no record count has it counted from the length
// (the summary file may supply it, but only where the header has none).
bool countNeedsLength(const RVX_HEADER& converted) {
  return format::hasSummaryFile(converted.Version) && converted.NoRecords == 0;
}

// Fails the open of a file whose read failed or whose length cannot be had;
// what was read of it is not shown.
OpenOutcome refuseUnread(Recording& recording) {
  OpenOutcome outcome;
  outcome.refusedBySystem = true;
  outcome.systemError = platform::lastError();
  outcome.status = KDRVX_ERR_RVX_OPEN_READ;
  outcome.header = HeaderOutcome::Withdrawn;
  recording.file.close();
  return outcome;
}

}  // namespace

OpenOutcome openRecording(Recording& recording, const char16_t* path, RetryLine retryLine) {
  OpenOutcome outcome;
  if (!openShared(recording.file, path, retryLine)) {
    outcome.refusedBySystem = true;
    outcome.systemError = platform::lastError();
    outcome.status = outcome.systemError == platform::kErrorSharingViolation
                         ? KDRVX_ERR_RVX_SHARING_VIOLATION
                         : KDRVX_ERR_RVX_OPEN_READ;
    return outcome;
  }

  // The header is read into the recording's header itself, in one read. Behind the
  // end of a shorter file the buffer is zero, so the import sees zeros there; the
  // bytes read are not cleared first.
  RVX_HEADER& header = recording.header;
  const uint32_t bytesRead = recording.file.read(&header, sizeof header);
  std::memset(reinterpret_cast<unsigned char*>(&header) + bytesRead, 0, sizeof header - bytesRead);
  outcome.header = HeaderOutcome::Read;

  // A read that stopped short has met the end of the file, which is as long
  // as what was read. The length of a longer file is taken only where the
  // bytes read leave it open or the import refuses them (POSIX learns it at
  // the open; Windows asks for it).
  int64_t fileLength = bytesRead;
  bool examined = false;
  // A file longer than a short read shows that the read failed rather
  // than met the end: the open fails with the read's system error.
  const auto examine = [&] {
    examined = true;
    const int64_t length = recording.file.lengthAtOpen();
    if (length < 0) return false;
    if (bytesRead < sizeof header && length > bytesRead) return false;
    fileLength = std::max<int64_t>(length, bytesRead);
    return true;
  };
  if (!readSettlesImport(header, bytesRead) && !examine()) return refuseUnread(recording);

  const format::ImportResult imported =
      format::importHeader(header, static_cast<uint64_t>(fileLength));
  if (!examined && (imported.status != 0 || countNeedsLength(header)) && !examine())
    return refuseUnread(recording);
  recording.sourceVersion = imported.sourceVersion;
  recording.layout = imported.layout;
  outcome.imported = true;
  outcome.layout = imported.layout;
  outcome.fileLength = static_cast<uint64_t>(fileLength);
  if (imported.status != 0) {
    recording.file.close();
    outcome.status = imported.status;
    return outcome;
  }

  recording.recordSize = static_cast<int32_t>(format::recordSize(header.NoChannels));
  recording.dataOffset = static_cast<uint64_t>(imported.dataOffset);
  // The read has left the file at its end or after the header's 68700
  // bytes; a file of 48 channels has its first record right there.
  if (imported.dataOffset != bytesRead) recording.file.seekFromStart(imported.dataOffset);

  format::OpenFacts& facts = recording.facts;
  facts = {};
  facts.fileLength = static_cast<uint64_t>(fileLength);
  facts.dataOffset = recording.dataOffset;
  recording.lengthKnown = examined;
  // The oldest layout stores no count: the import derives it.
  facts.countDerived = imported.layout->id == format::LayoutId::DosBefore50;
  if (format::hasSummaryFile(header.Version)) {
    facts.summaryMissing = !completeFromSummary(path, header);
    facts.dateReplaced = repairDate(recording.file, header);
    if (header.NoRecords == 0) {
      header.NoRecords = format::recordsInFile(static_cast<uint64_t>(fileLength),
                                               imported.dataOffset, recording.recordSize);
      facts.countDerived = true;
    }
  }
  return outcome;
}

void measureClaims(Recording& recording, const OpenOutcome& outcome) {
  format::OpenFacts facts = recording.facts;
  if (!recording.lengthKnown) {
    // POSIX learned it at the open; Windows asks.
    const int64_t length = recording.file.lengthAtOpen();
    if (length >= 0)
      facts.fileLength = std::max<uint64_t>(facts.fileLength, static_cast<uint64_t>(length));
  }
  recording.claims =
      format::measureClaims(*outcome.layout, recording.sourceVersion, recording.header, facts);
}

}  // namespace kdrvx::read
