// The bytes of an RVX file as they are on disk, for the two subcommands that
// judge and mend what the library would take at face value: `check` and
// `repair`.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "format/layout.h"
#include "layouts.h"

namespace rvx {

struct RawFile {
  std::string name;
  uint64_t length = 0;
  LayoutInfo layout;
  // The first bytes of the file (up to the size of the largest header),
  // zero beyond the end of a shorter file.
  std::unique_ptr<kdrvx::format::RVX_HEADER> header;
  size_t headerBytes = 0;

  const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(header.get()); }
  uint32_t u16At(size_t offset) const { return bytes()[offset] | bytes()[offset + 1] << 8; }
};

// Throws ToolError when the file cannot be read.
RawFile readRawFile(const std::string& name);

// Geometry of the data area of a current-layout header.
struct DataArea {
  uint64_t offset = 0;        // first record
  uint32_t recordSize = 0;
  uint64_t wholeRecords = 0;  // in the file after the header
  uint64_t trailingBytes = 0; // of a partial record after them
};
DataArea dataArea(const RawFile& file);

// Streams `count` records of `channels` floats from `offset`, in blocks;
// returns the number of whole records read.
uint64_t readRecords(const std::string& name, uint64_t offset, uint64_t count, size_t channels,
                     const std::function<void(const float*, size_t)>& block);

}  // namespace rvx
