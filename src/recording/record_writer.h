// The record writer: appends one data record to a file and keeps the
// statistics of its header. The create context and the modify context each
// hand it their own target; it knows nothing else of either, and neither
// knows the other.
#pragma once

#include <cstdint>

#include "format/layout.h"
#include "platform/platform.h"

namespace kdrvx::recording {

// What the create context keeps beside its header and the modify context
// does not: the compact header's count, the flag that freezes the channel
// layout, and the running sums of mean and RMS.
struct CreateExtras {
  uint32_t& compactNoRecords;
  bool& recordAdded;
  double* sumValues;  // one per channel
  double* sumSquares;
};

struct RecordTarget {
  platform::File& file;
  format::RVX_HEADER& header;  // NoRecords, MinValue and MaxValue follow the records
  const void* headerImage;     // written at offset 0 with the first record
  uint32_t headerImageLength;
  int64_t& position;      // where the record goes, the file position stands there
  uint32_t writeFailure;  // the status for a failure of the file layer
  CreateExtras* create;   // the create context's part; null for the modify context
};

// Appends `record` (NoChannels floats) at `position`; the first record of
// the header also writes the header image at offset 0 and follows it
// directly. One write per record (two for the first), one pass over the
// channels, no allocation. A record that the file layer refuses is not
// counted and does not enter the statistics, and the position is put back
// where the record began, so that the next record takes its place.
uint32_t appendRecord(const RecordTarget& target, const float* record);

}  // namespace kdrvx::recording
