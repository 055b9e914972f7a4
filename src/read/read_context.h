// The read context: the one recording open for reading through the
// module-wide exports, and the position of the record readers. One instance
// for the whole module, zero at load.
//
// The header is what the last open read and converted. Closing does not
// clear its 68700 bytes: it only stops showing them, and the queries read
// visibleHeader(), which is all zero after a close and before the first open.
#pragma once

#include <cstdint>

#include "format/layout.h"
#include "read/recording.h"

namespace kdrvx::read {

struct ReadContext {
  bool open = false;           // a file is open for reading
  bool headerShown = false;    // set by the header read of an open, cleared by the close
  uint32_t recordCounter = 0;  // number of the record last read, from 1
  Recording recording;
};

ReadContext& context();

// The header the queries see: the context's while it is shown, otherwise an
// all-zero one.
const format::RVX_HEADER& visibleHeader();

}  // namespace kdrvx::read
