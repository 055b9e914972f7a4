// What a recording's header claims, measured against what its file holds:
// the geometry rules of every layout (how long its header is for its
// channels, whether the data would be read from inside it, how many whole
// records its data holds by the kind of its records) and the rules that
// judge single values (a multichannel's bits, the date, the statistics).
// The reader's findings, KDRVX_Check and KDRVX_Repair all ask here, so that
// each rule has one home. Pure: no state, no I/O.
#pragma once

#include <cstdint>

#include "format/layout.h"
#include "format/layouts.h"
#include "kdrvx/kdrvx.h"

namespace kdrvx::format {

// ---- Layouts as the interface names them ------------------------------------

// The KDRVX_LAYOUT_ code of a recognised layout: the WIN 3.x/4.x layout of
// version 64 is the compact layout this library writes.
uint32_t layoutCode(const Layout& layout, uint32_t sourceVersion);

// Whether the layout stores the length of its header (the WIN layouts and
// the current one), which must then be the length its channels take.
bool storesHeaderLength(LayoutId id);

// Whether a file of the layout with records is expected to store their
// statistics: the current layout's writers always do; the older layouts
// store them where their writer chose to (the DOS layouts and the compact
// layout of this library never), so only statistics they do store are
// judged.
bool statisticsExpected(LayoutId id);

// Whether the layout stores a variable for every channel (kind Q stores no
// channel entries at all).
bool storesVariables(LayoutId id);

// The bytes the layout's header takes for `channels` channels: its fixed
// part and one entry per channel; for the DOS layouts, whose length is not
// stored beside a channel count, the offset of their first record.
uint64_t headerLengthOf(const Layout& layout, uint32_t channels, uint64_t dataOffset);

// ---- The sparse WIN 2.x kind ----------------------------------------------

// Channel k is stored in record m (counted from 1) when its individual rate
// is 1 or m modulo the rate is 1. A rate of 0 has no divisor and counts as
// 1: the channel is stored in every record. Record 1 stores every channel.
constexpr uint32_t sparseRate(uint32_t indRate) { return indRate == 0 ? 1 : indRate; }

constexpr bool sparseHolds(uint32_t indRate, uint64_t m) {
  const uint32_t rate = sparseRate(indRate);
  return rate == 1 || m % rate == 1;
}

// How many of the records 1 .. m store a channel of this rate.
constexpr uint64_t sparseStoredUpTo(uint32_t indRate, uint64_t m) {
  const uint32_t rate = sparseRate(indRate);
  if (rate == 1) return m;
  return m == 0 ? 0 : (m - 1) / rate + 1;
}

// ---- Whole records --------------------------------------------------------

struct HeldRecords {
  uint64_t whole = 0;          // whole records in the data
  uint64_t trailingBytes = 0;  // of a partial record after them
};

// The whole records that `dataBytes` bytes of data hold, by the kind of
// the records of the converted header: records of NoChannels values (floats
// or DOS entries of 4 bytes each), or sparse WIN 2.x records, whose size
// follows from the channels' individual rates. Sparse records that store
// no channel take no bytes: those after the last one that does are counted
// as far as `counted` (the header's count) goes, since the data cannot tell
// how many there are. A header of no channels holds no records.
HeldRecords heldRecords(const RVX_HEADER& converted, uint64_t dataBytes, uint64_t counted);

// ---- The claims of an opened recording ------------------------------------

// What an open learned of a file beyond its converted header.
struct OpenFacts {
  uint64_t fileLength = 0;
  uint64_t dataOffset = 0;      // where the reader takes the first record from
  bool summaryMissing = false;  // a layout with a summary file whose file was not read
  bool dateReplaced = false;    // the date was implausible and was replaced
  bool countDerived = false;    // the record count was derived from the file's length
};

// What a recording claims and what it holds: the interface's own struct,
// so that a reader hands it over as it stands.
using Claims = KDRVX_Findings;

// Measures the header of an opened file (converted into the current layout)
// against its file: the findings of the open (KDRVX_FINDING_ENDS_IN_HEADER
// to _DATE_REPLACED) and the figures behind them. The record counts are
// compared only where no finding of KDRVX_FINDINGS_VALUES_WRONG already
// says that they mean nothing.
Claims measureClaims(const Layout& layout, uint32_t sourceVersion, const RVX_HEADER& converted,
                     const OpenFacts& facts);

// Whether the trigger record the claims hold (counted from 1; 0 is none)
// lies beyond the whole records the data holds.
bool triggerBeyond(const Claims& claims);

// Whether the header counts exactly the whole records the data holds, with
// nothing after them: what a recording shows once its writer has closed it,
// and what one whose writer stopped before its final header does not.
bool countsWhatItHolds(const Claims& claims);

// ---- Single values --------------------------------------------------------

// The bits a multichannel of `bits` bits may set: its low `bits` bits; all
// of them for an ordinary channel (0) and for 32 bits or more.
constexpr uint32_t multichannelMask(uint32_t bits) {
  return bits == 0 || bits >= 32 ? ~0u : (1u << bits) - 1;
}

// The bit field of a multichannel value, as KDRVX_ConvertMultiChannelValue
// gives it, and the bits it sets beyond a channel of `bits` bits.
uint32_t strayBits(float value, uint32_t bits);

// Whether the stored date or time lies outside the calendar and the clock
// (255 marks an unknown hour, minute or second).
bool dateImplausible(const RVX_HEADER& header);

// A stored statistic against the one recomputed from the records: minimum
// and maximum bit for bit (a NaN matches a NaN, 0 matches -0), mean and RMS
// to a relative 1e-5, by which other writers' order of summation may move
// them.
bool sameExtreme(float stored, float computed);
bool closeAverage(float stored, float computed);

}  // namespace kdrvx::format
