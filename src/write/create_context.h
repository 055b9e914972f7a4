// The create context: the one file under creation with its two headers (the
// current RVX_HEADER and the compact RVX_HEADER_W3, kept in step by every
// setter), the running sums of its records and what closing it needs.
#pragma once

#include <cstdint>
#include <string>

#include "format/labels.h"
#include "format/layout.h"
#include "format/statistics.h"
#include "format/summary_writer.h"
#include "platform/platform.h"
#include "write/create.h"
#include "write/headers.h"

namespace kdrvx::write {

struct CreateContext {
  bool open = false;                             // a file is under creation
  platform::File file;                           // open for reading and writing, shared only
                                                 // for reading when `live`
  format::RVX_HEADER header{};                   // the current-layout header being built
  format::RVX_HEADER_W3 compact{};               // the compact header, in step with `header`
  bool legacyLayout = false;                     // the file gets `compact` and a summary file
  // Other openers may read the file while it is recorded: KDRVX_Update
  // keeps the file open and the summary file is written before the file is
  // let go.
  bool live = false;
  bool recordAdded = false;                      // blocks adding channels
  char16_t path[format::kCreatePathCapacity]{};  // the path as the host gave it, cleaned
  // Where the file and its summary file are opened after the create: their
  // absolute paths, resolved while the create ran, so that a host that
  // changes its current directory meanwhile never reaches a namesake
  // elsewhere. The summary path is empty when `path` gives no summary name.
  std::u16string filePath;
  std::u16string summaryPath;
  format::LabelTable labels{};  // the summary labels, or all zero
  // Extremes and sums of the records so far; the header gets the extremes
  // whenever it is written.
  format::statistics::Running statistics{};
  // Where the file position stands, kept by every operation that moves it,
  // so that a failed write can put the position back and the next record
  // still lands where it belongs.
  int64_t position = 0;
};

// The module-wide create context, zero at load.
CreateContext& createContext();

// The context's two headers, as the setters' storing functions take them.
inline Headers headersOf(CreateContext& context) {
  return {context.header, context.compact, context.legacyLayout};
}

// Defaults of both headers (local date and time of now), statistics cleared,
// recordAdded false. The file, open, legacyLayout, path and labels keep
// their values.
void resetCreateHeader();

// The header image of the context's headers (headers.h).
const void* headerImage(CreateContext& context);
uint32_t headerImageLength(CreateContext& context);

// Writes the header image at offset 0; the position is then right behind
// it. False when the file layer failed.
bool writeHeaderImage(CreateContext& context);

}  // namespace kdrvx::write
