// The record writer: appends data records to a file and keeps the
// statistics of its header. The create context and the modify context each
// hand it their own target; it knows nothing else of either, and neither
// knows the other.
#pragma once

#include <cstdint>

#include "format/layout.h"
#include "format/statistics.h"
#include "platform/platform.h"

namespace kdrvx::recording {

// What the create context keeps beside its header and the modify context
// does not: the compact header's count and the flag that freezes the
// channel layout.
struct CreateExtras {
  uint32_t& compactNoRecords;
  bool& recordAdded;
};

struct RecordTarget {
  platform::File& file;
  format::RVX_HEADER& header;  // NoRecords follows the records
  const void* headerImage;     // written at offset 0 with the first record
  uint32_t headerImageLength;
  int64_t& position;      // where the records go, the file position stands there
  uint32_t writeFailure;  // the status for a failure of the file layer
  // Extremes and sums while records are added; the header's channel records
  // get the extremes whenever the header is written (storeExtremes).
  format::statistics::Running& statistics;
  CreateExtras* create;  // the create context's part; null for the modify context
};

// Appends `count` records (NoChannels floats each, record after record) at
// `position` in one write; the first record of the header also writes the
// header image at offset 0, behind which the records follow directly.
// Statistics, NoRecords, last error and detail traces come out as `count`
// appends of one record each would leave them. A block is all or nothing:
// when the file layer refuses it, no record is counted or enters a
// statistic, what reached the file is cut off and the position is put back
// where the block began, so that the next records take its place. No
// allocation; count 0 writes nothing and succeeds.
uint32_t appendRecords(const RecordTarget& target, const float* records, uint32_t count);

// Takes the extremes of a header that already holds records (a file opened
// to append to it).
void loadExtremes(format::statistics::Running& statistics, const format::RVX_HEADER& header);

// Puts the running extremes into the header's channel records before the
// header is written; a header of no records keeps its own.
void storeExtremes(const format::statistics::Running& statistics, format::RVX_HEADER& header);

}  // namespace kdrvx::recording
