// Import of every historical header layout into the current RVX_HEADER.
#pragma once

#include <cstdint>

#include "format/layout.h"
#include "format/layouts.h"

namespace kdrvx::format {

struct ImportResult {
  uint32_t status = 0;       // 0, ERR_RVX_NEWER_VERSION, _INVALID_HEADER or _DEVELOPER_VERSION
  uint32_t sourceVersion = 0;      // the version code found on disk, also when refused
  const Layout* layout = nullptr;  // the layout recognised; null when the version is refused
  int32_t recordSize = 0;    // bytes per data record; 0 where the layout gives none
  int64_t dataOffset = 0;    // file offset of the first data record
};

// Recognises the layout of `header` (the first bytes of a file, at most
// 68700, the rest of the buffer as the caller left it) and rewrites it in
// place into the current layout. `fileLength` is the length of that file.
// Returns what it found; it keeps no state, traces nothing and does no file
// access: the caller records the version and traces the layout.
ImportResult importHeader(RVX_HEADER& header, uint64_t fileLength);

// The converters of the layout table, one per layout: each rewrites the
// header in place and returns the status, record size and data offset.
ImportResult convertDosBefore50(RVX_HEADER& header, uint64_t fileLength);
ImportResult convertDosKindQ(RVX_HEADER& header, uint64_t fileLength);
ImportResult convertDosKindP(RVX_HEADER& header, uint64_t fileLength);
ImportResult convertWin2(RVX_HEADER& header, uint64_t fileLength);
ImportResult convertWin3(RVX_HEADER& header, uint64_t fileLength);
ImportResult convertWin6(RVX_HEADER& header, uint64_t fileLength);
ImportResult convertCurrent(RVX_HEADER& header, uint64_t fileLength);

// Number of whole records of `recordSize` bytes between `dataOffset` and the
// end of a file of `fileLength` bytes, for the older files that store no
// count: signed 32-bit arithmetic on the low 32 bits of the length, rounded
// toward zero, stored as it comes out: a file shorter than its data offset
// gives a negative quotient in two's complement. A record size of 0 (no
// channels) gives 0.
uint32_t recordsInFile(uint64_t fileLength, int64_t dataOffset, int32_t recordSize);

}  // namespace kdrvx::format
