// The table of the seven header layouts an RVX file can have, in the order
// in which a file's first bytes are tested for them, and what each means for
// reading the file: its converter into the current header, its sizes, how
// its records are stored, and whether a summary file belongs to it.
//
// Adding a layout: write its converter in import.cpp, add its row here in
// its place of the recognition order (layouts.cpp), and give the test
// recordings a writer for it.
#pragma once

#include <cstdint>
#include <span>

#include "format/layout.h"

namespace kdrvx::format {

enum class LayoutId {
  DosBefore50,  // a channel list and the scan interval
  DosKindQ,     // DOS 5.0/5.1 without channel entries
  DosKindP,     // DOS 5.0/5.1 with 8-byte channel entries
  Win2,         // WIN 2.x, 24-byte entries and a four-line comment
  Win3,         // WIN 3.x/4.x, also the compact layout the library writes
  Win6,         // WIN 6.x, UTF-16 comment and units
  Current,      // versions 'a' to 's'
};

// How the data records are stored; the values are those of the interface.
enum class RecordKind : uint32_t {
  Floats = 0,    // one little-endian f32 per channel
  Decimals = 1,  // DOS: i16 mantissa and u16 count of decimals per channel
  Sparse = 2,    // WIN 2.x: only the channels due in a record, as f32
};

// Version letters that decide the layout.
inline constexpr uint8_t kVersionDosRecords = 0;
inline constexpr uint8_t kVersionKindQ = 'Q';
inline constexpr uint8_t kVersionKindP = 'P';
inline constexpr uint8_t kVersionSparseWin2 = 'R';
inline constexpr uint8_t kFirstWin3Version = '0';  // 48
inline constexpr uint8_t kVersionWin6 = 96;
inline constexpr uint8_t kDeveloperVersions[] = {'p', 'q'};

struct ImportResult;

struct Layout {
  LayoutId id;
  const char* name;           // "WIN 3.x/4.x", for people
  const char16_t* traceLine;  // the informational line a file of it is traced with
  uint32_t fixedSize;         // bytes before the first channel entry
  uint32_t entrySize;         // bytes per channel entry (0: none)
  uint32_t maxChannels;       // entries the layout holds
  bool summaryFile;           // a summary file beside it carries its texts
  // Records of a converted header of this layout; WIN 2.x files hold
  // either kind, decided by their version byte.
  RecordKind (*records)(const RVX_HEADER& converted);
  // Whether a header whose lead word is 0 and whose version byte (after a
  // kind-P header that looks like kind Q has become one) and original flag
  // are these has this layout; null for the oldest layout, which is told by
  // a non-zero lead word. Tested in the order of the table.
  bool (*recognises)(uint8_t version, uint8_t originalFlag);
  // Converts the header in place into the current layout. `fileLength`
  // matters to the oldest layout only, which stores no record count.
  ImportResult (*convert)(RVX_HEADER& header, uint64_t fileLength);
};

// The seven layouts in the order of recognition.
std::span<const Layout> layouts();
const Layout& layoutOf(LayoutId id);

// How the records of a converted header are stored: version 0 is the DOS
// decimal kind, version 'R' without an original flag the sparse WIN 2.x
// kind, everything else floats.
RecordKind recordKindOf(const RVX_HEADER& converted);

// Files of a version below 'a' keep part of their texts in a summary file.
inline constexpr uint8_t kLastVersionWithSummary = 96;
inline bool hasSummaryFile(uint32_t version) { return version <= kLastVersionWithSummary; }

}  // namespace kdrvx::format
