// The bytes of an RVX file as they are on disk, for the subcommands that
// judge and mend what the library would take at face value (`check` and
// `repair`) and for naming a file's layout (`info`). The layout is the one
// the format recognises in the first bytes, by the same tests as the
// library's open.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "format/import.h"
#include "format/layout.h"
#include "format/layouts.h"

namespace rvx {

struct RawFile {
  std::string name;
  uint64_t length = 0;
  // The first bytes of the file (up to the size of the largest header),
  // zero beyond the end of a shorter file.
  std::unique_ptr<kdrvx::format::RVX_HEADER> header;
  size_t headerBytes = 0;
  // What the format's import makes of those bytes: the layout (null when
  // the file is too short for a header or its version is refused), the
  // version found and where the records begin; and the header converted
  // into the current layout.
  kdrvx::format::ImportResult recognised;
  std::unique_ptr<kdrvx::format::RVX_HEADER> converted;

  bool tooShort() const;
  bool hasLayout(kdrvx::format::LayoutId id) const {
    return recognised.layout != nullptr && recognised.layout->id == id;
  }
};

// Throws ToolError when the file cannot be read.
RawFile readRawFile(const std::string& name);

// "current", "WIN 3.x/4.x (compact)", "DOS 5.0/5.1 (kind Q)", "newer than
// this library", ...
std::string layoutName(const RawFile& file);

// Geometry of the data area of a current-layout header.
struct DataArea {
  uint64_t offset = 0;  // first record
  uint32_t recordSize = 0;
  uint64_t wholeRecords = 0;   // in the file after the header
  uint64_t trailingBytes = 0;  // of a partial record after them
};
DataArea dataArea(const RawFile& file);

// Whole records in the data area of a file of any layout, by the kind of
// its records, and the bytes of a partial record after them. Sparse WIN 2.x
// records differ in size by their channels' individual rates; records that
// hold no channel at all are counted up to `counted` (the header's count).
// Empty when the rates give no rule (a rate of 0) or the file has no data
// area (it ends inside its header).
struct DataRecords {
  uint64_t whole = 0;
  uint64_t trailingBytes = 0;
};
std::optional<DataRecords> dataRecords(const RawFile& file, uint64_t counted);

// Minimum, maximum, mean and RMS of each channel over the records, by the
// format's statistics arithmetic, so that a recount gives the values a
// properly closed file holds.
struct ChannelStatistics {
  float minimum = 0, maximum = 0, mean = 0, rms = 0;
};
// Records of a multichannel that set bits beyond its declared number.
struct StrayBits {
  uint64_t records = 0;
  uint64_t first = 0;      // the first such record, counted from 0
  uint32_t firstBits = 0;  // its bit field
};
struct Recount {
  uint64_t records = 0;                     // whole records read
  std::vector<ChannelStatistics> channels;  // all zero when no record was read
  std::vector<StrayBits> strayBits;         // per channel
};

// Recounts the first `count` records of the data area of a current-layout
// file; `progress` hears the number of records read so far.
Recount recountRecords(const RawFile& file, uint64_t count,
                       const std::function<void(uint64_t)>& progress = {});

}  // namespace rvx
