// The record writer: appends data records to a file and keeps the
// statistics of its header. The create context and the modify context each
// hand it their own target; it knows nothing else of either, and neither
// knows the other.
//
// The rules it keeps, whatever the file layer refuses and wherever the
// process stops. The code marks each where it keeps it, the fault and crash
// tests name the rule they check.
//
// W1 A block is all or nothing: when the file layer refuses any part of
//    it, no record of it is counted or enters a statistic, and what reached
//    the file of it is cut back to where the block began.
// W2 A cut takes only what the failed write itself added: the file is cut
//    only when it now ends inside the bytes of that write, so that a write
//    into the middle of the data (after a raw block moved the position
//    back) never takes existing bytes with it.
// W3 The file never claims a record it does not hold: with the header's
//    first record the records go behind the header first and the header
//    over it second; later records only grow the data behind the count
//    that the header on disk holds.
// W4 A refused first record leaves the target as it found it: the count,
//    the compact count, the flag that freezes the channels and the extremes
//    in memory, and on disk the header as it was (written back, best
//    effort).
// W5 The position is where the next record goes: a block that was written
//    moves it behind the block, a refused one puts it back where the block
//    began, so that the next record takes the refused one's place.
// W6 A block leaves what as many single appends would: NoRecords, the
//    statistics (to the payload of a NaN and the sign of a zero), the last
//    error and the detail trace lines.
// W7 The failure reported is the file layer's own: its system error is
//    taken before the clean-up calls can change it, and the status is the
//    target's status for a failure of the file layer.
// W8 Appending allocates nothing; a block reaches the file layer in one
//    write, in pieces only beyond a gigabyte and where W10 places it so.
// W9 A header without records keeps the extremes it has: the running ones
//    reach it only once it counts a record.
// W10 A block places its records where single appends would. The record
//    counted as the header's first goes directly behind the header, which
//    is rewritten with it; the records after it follow it there, or, for
//    the modify target, go at the end of the file. Where that first is not
//    the block's first (a count that wraps within the block) or the end of
//    the file lies beyond it (a modified file that holds records its header
//    does not count, as when the stored count is 0), the block is written
//    in pieces: the records before the first at the position, the first
//    behind the header, those after it where they go; the header last (W3).
// W11 The count runs modulo 2^32 and nothing loops on it: a block of any
//    count, up to the largest, passes its records once, and a count that
//    wraps past 2^32 counts the record that makes it 1 as the header's
//    first (W10).
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
  // Where the records after the header's first go: directly behind it (the
  // create context, whose position follows its writes), or at the end of
  // the file (the modify context, which appends every call's records there).
  bool appendsAtEnd;
  uint32_t writeFailure;  // the status for a failure of the file layer
  // Extremes and sums while records are added; the header's channel records
  // get the extremes whenever the header is written (storeExtremes).
  format::statistics::Running& statistics;
  CreateExtras* create;  // the create context's part; null for the modify context
};

// Appends `count` records (NoChannels floats each, record after record) at
// `position` in one write; the first record of the header also writes the
// header image at offset 0, behind which the records follow directly (W3),
// in pieces where single appends would place them apart (W10).
// Statistics, NoRecords, last error and detail traces come out as `count`
// appends of one record each would leave them (W6). A block is all or
// nothing (W1, W5). No allocation (W8); count 0 writes nothing and
// succeeds.
uint32_t appendRecords(const RecordTarget& target, const float* records, uint32_t count);

// Takes the extremes of a header that already holds records (a file opened
// to append to it).
void loadExtremes(format::statistics::Running& statistics, const format::RVX_HEADER& header);

// Puts the running extremes into the header's channel records before the
// header is written; a header of no records keeps its own (W9).
void storeExtremes(const format::statistics::Running& statistics, format::RVX_HEADER& header);

}  // namespace kdrvx::recording
