// The read context: the one file open for reading, its header converted into
// the current layout, and the position of the record readers. One instance
// for the whole module, zero at load.
//
// The header is what the last open read and converted. Closing does not
// clear its 68700 bytes: it only stops showing them, and the queries read
// visibleHeader(), which is all zero after a close and before the first open.
#pragma once

#include <algorithm>
#include <cstdint>

#include "format/layout.h"
#include "platform/platform.h"

namespace kdrvx::read {

struct ReadContext {
  bool open = false;            // a file is open for reading
  platform::File file;          // opened for reading, sharing read and write
  format::RVX_HEADER header{};  // valid while headerShown
  bool headerShown = false;     // set by the header read of an open, cleared by the close
  int32_t recordSize = 0;       // bytes per record, set by a successful open
  uint64_t dataOffset = 0;      // file offset of the first record, set with it
  uint32_t recordCounter = 0;   // number of the record last read, from 1
};

ReadContext& context();

// The header the queries see: the context's while it is shown, otherwise an
// all-zero one.
const format::RVX_HEADER& visibleHeader();

// Channel records of `header` that may be addressed: NoChannels, but never
// more than the 48 records the header holds (a refused header can claim
// more).
inline uint32_t channelCount(const format::RVX_HEADER& header) {
  return std::min<uint32_t>(header.NoChannels, format::kMaxChannels);
}

}  // namespace kdrvx::read
