// One recording open for reading: its file, its header converted into the
// current layout, and where and how its records are stored. The read context
// holds one; every independent reader holds its own. Opening is the same for
// both: only the read context traces and records its outcome in the module
// state, from what the open reports.
#pragma once

#include <algorithm>
#include <cstdint>

#include "format/claims.h"
#include "format/header_values.h"
#include "format/layout.h"
#include "format/layouts.h"
#include "platform/platform.h"

namespace kdrvx::read {

struct Recording {
  platform::File file;          // opened for reading, sharing read and write
  format::RVX_HEADER header{};  // what the last open read and converted
  int32_t recordSize = 0;       // bytes per record, set by a successful open
  uint64_t dataOffset = 0;      // file offset of the first record, set with it
  uint32_t sourceVersion = 0;   // the version code the import found
  const format::Layout* layout = nullptr;  // the layout the import recognised
  // What a successful open learned of the file beyond its header; the
  // length is the file's only where `lengthKnown` (otherwise what was read).
  format::OpenFacts facts{};
  bool lengthKnown = false;
  // The header's claims against the file: measured by the readers' open
  // (measureClaims), not by the read context's.
  format::Claims claims{};
};

// What became of the header buffer during an open.
enum class HeaderOutcome {
  Untouched,  // the file could not be opened: nothing was read
  Read,       // the header was read (and converted, if the import accepted it)
  Withdrawn,  // read, but the read failed or the length could not be had: not to be shown
};

struct OpenOutcome {
  uint32_t status = 0;           // 0, or the status the open fails with
  bool refusedBySystem = false;  // the system refused the file: systemError says why
  uint32_t systemError = 0;
  HeaderOutcome header = HeaderOutcome::Untouched;
  bool imported = false;                   // the import ran: sourceVersion and layout are known
  const format::Layout* layout = nullptr;  // the layout it recognised, or null
  uint64_t fileLength = 0;  // the file's length where the import ran
};

// Whether the open announces its retry after a sharing violation as a trace
// line: the read context does, readers trace nothing.
enum class RetryLine { Traced, Silent };

// Opens `path` into `recording` (whose file must be closed): the one retry
// after a sharing violation, the header import, and for files older than
// version 'a' the summary file beside it, the date repair and the derived
// record count. On success the file stands at the first record; on failure
// it is closed.
OpenOutcome openRecording(Recording& recording, const char16_t* path, RetryLine retryLine);

// Measures the claims of a recording that `outcome`'s open opened, asking
// the file's length where the open did not (when that fails, the length
// read stands). Moves no file position.
void measureClaims(Recording& recording, const OpenOutcome& outcome);

using format::channelCount;

inline format::RecordKind recordKind(const Recording& recording) {
  return format::recordKindOf(recording.header);
}

}  // namespace kdrvx::read
