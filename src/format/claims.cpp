#include "format/claims.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "format/header_values.h"
#include "kdrvx/kdrvx.h"

namespace kdrvx::format {
namespace {

uint32_t channelsOf(const RVX_HEADER& header) {
  return std::min<uint32_t>(header.NoChannels, kMaxChannels);
}

// Sparse records: the values that records 1 .. m store together.
struct SparseRates {
  uint32_t count = 0;
  uint32_t rate[kMaxChannels] = {};
  uint32_t largest = 1;

  uint64_t valuesUpTo(uint64_t m) const {
    uint64_t values = 0;
    for (uint32_t k = 0; k < count; ++k) values += sparseStoredUpTo(rate[k], m);
    return values;
  }
};

// No file holds this many records; it keeps the sums below from overflowing.
constexpr uint64_t kRecordBound = uint64_t{1} << 56;

HeldRecords sparseHeld(const RVX_HEADER& h, uint64_t dataBytes, uint64_t counted) {
  SparseRates rates;
  rates.count = channelsOf(h);
  if (rates.count == 0) return {};
  for (uint32_t k = 0; k < rates.count; ++k) {
    rates.rate[k] = sparseRate(h.Channel[k].ChannelIndRate);
    rates.largest = std::max(rates.largest, rates.rate[k]);
  }
  // The values stored up to record m grow with m, by one at least every
  // `largest` records: the last record whose values all lie in the data is
  // found by bisection.
  const uint64_t available = dataBytes / kBytesPerValue;
  uint64_t low = 0;                                             // fits
  uint64_t high = available + 1 < kRecordBound / rates.largest  // does not fit
                      ? (available + 1) * rates.largest + 1
                      : kRecordBound;
  while (high - low > 1) {
    const uint64_t middle = low + (high - low) / 2;
    (rates.valuesUpTo(middle) <= available ? low : high) = middle;
  }
  const uint64_t fitting = low;
  const uint64_t values = rates.valuesUpTo(fitting);
  // The last record that stores anything: records after it up to `fitting`
  // store nothing, and count only as far as the header counts.
  uint64_t first = 0;  // values(first) < values, or 0
  uint64_t last = fitting;
  while (last - first > 1) {
    const uint64_t middle = first + (last - first) / 2;
    (rates.valuesUpTo(middle) < values ? first : last) = middle;
  }
  const uint64_t storing = values == 0 ? 0 : last;
  HeldRecords held;
  held.whole = std::max(storing, std::min(fitting, counted));
  held.trailingBytes = dataBytes - values * kBytesPerValue;
  return held;
}

}  // namespace

uint32_t layoutCode(const Layout& layout, uint32_t sourceVersion) {
  switch (layout.id) {
    case LayoutId::DosBefore50:
      return KDRVX_LAYOUT_DOS_BEFORE_50;
    case LayoutId::DosKindQ:
      return KDRVX_LAYOUT_DOS_KIND_Q;
    case LayoutId::DosKindP:
      return KDRVX_LAYOUT_DOS_KIND_P;
    case LayoutId::Win2:
      return KDRVX_LAYOUT_WIN2;
    case LayoutId::Win3:
      return sourceVersion == kCompactVersion ? KDRVX_LAYOUT_COMPACT : KDRVX_LAYOUT_WIN3;
    case LayoutId::Win6:
      return KDRVX_LAYOUT_WIN6;
    case LayoutId::Current:
      break;
  }
  return KDRVX_LAYOUT_CURRENT;
}

bool storesHeaderLength(LayoutId id) {
  return id == LayoutId::Win2 || id == LayoutId::Win3 || id == LayoutId::Win6 ||
         id == LayoutId::Current;
}

bool statisticsExpected(LayoutId id) { return id == LayoutId::Current; }

bool storesVariables(LayoutId id) { return id != LayoutId::DosKindQ; }

uint64_t headerLengthOf(const Layout& layout, uint32_t channels, uint64_t dataOffset) {
  if (layout.id == LayoutId::Current) return headerLength(channels);
  if (!storesHeaderLength(layout.id)) return dataOffset;
  return layout.fixedSize + uint64_t{layout.entrySize} * channels;
}

HeldRecords heldRecords(const RVX_HEADER& converted, uint64_t dataBytes, uint64_t counted) {
  if (recordKindOf(converted) == RecordKind::Sparse)
    return sparseHeld(converted, dataBytes, counted);
  const uint64_t size = recordSize(channelsOf(converted));
  if (size == 0) return {};
  return {dataBytes / size, dataBytes % size};
}

Claims measureClaims(const Layout& layout, uint32_t sourceVersion, const RVX_HEADER& converted,
                     const OpenFacts& facts) {
  Claims claims{};
  claims.size = sizeof claims;
  claims.layout = layoutCode(layout, sourceVersion);
  claims.fileLength = facts.fileLength;
  claims.dataOffset = facts.dataOffset;
  claims.headerLength = headerLengthOf(layout, converted.NoChannels, facts.dataOffset);
  claims.headerRecords = converted.NoRecords;
  claims.triggerRecord = triggerRecordOf(converted);

  uint32_t& found = claims.findings;
  if (facts.fileLength < claims.headerLength) found |= KDRVX_FINDING_ENDS_IN_HEADER;
  if (storesHeaderLength(layout.id) && facts.dataOffset != claims.headerLength)
    found |= KDRVX_FINDING_DATA_IN_HEADER;
  if (facts.countDerived && static_cast<int32_t>(converted.NoRecords) < 0)
    found |= KDRVX_FINDING_NEGATIVE_COUNT;
  if (facts.summaryMissing) found |= KDRVX_FINDING_NO_SUMMARY_FILE;
  if (facts.dateReplaced) found |= KDRVX_FINDING_DATE_REPLACED;

  const uint64_t data =
      facts.fileLength > facts.dataOffset ? facts.fileLength - facts.dataOffset : 0;
  const HeldRecords held = heldRecords(converted, data, claims.headerRecords);
  claims.heldRecords = held.whole;
  claims.trailingBytes = held.trailingBytes;
  if ((found & KDRVX_FINDINGS_VALUES_WRONG) == 0) {
    if (held.whole < claims.headerRecords) found |= KDRVX_FINDING_FEWER_RECORDS;
    if (held.whole > claims.headerRecords) found |= KDRVX_FINDING_MORE_RECORDS;
    if (held.trailingBytes != 0) found |= KDRVX_FINDING_PARTIAL_RECORD;
  }
  return claims;
}

bool triggerBeyond(const Claims& claims) { return claims.triggerRecord > claims.heldRecords; }

bool countsWhatItHolds(const Claims& claims) {
  constexpr uint32_t kCountDisagrees = KDRVX_FINDINGS_VALUES_WRONG | KDRVX_FINDING_FEWER_RECORDS |
                                       KDRVX_FINDING_MORE_RECORDS | KDRVX_FINDING_PARTIAL_RECORD;
  return (claims.findings & kCountDisagrees) == 0 &&
         claims.headerRecords == claims.heldRecords && claims.trailingBytes == 0;
}

uint32_t strayBits(float value, uint32_t bits) {
  return std::bit_cast<uint32_t>(value) & ~multichannelMask(bits);
}

bool dateImplausible(const RVX_HEADER& h) {
  constexpr uint8_t kUnknown = kNoSeconds;  // also marks an unknown hour or minute
  return h.Month > 12 || h.Day > 31 || (h.Hour > 23 && h.Hour != kUnknown) ||
         (h.Minute > 59 && h.Minute != kUnknown) || (h.Second > 59 && h.Second != kUnknown);
}

bool sameExtreme(float stored, float computed) {
  return std::bit_cast<uint32_t>(stored) == std::bit_cast<uint32_t>(computed) ||
         (std::isnan(stored) && std::isnan(computed)) || stored == computed;
}

bool closeAverage(float stored, float computed) {
  if (sameExtreme(stored, computed)) return true;
  if (!std::isfinite(stored) || !std::isfinite(computed)) return false;
  const double scale =
      std::max(std::fabs(static_cast<double>(stored)), std::fabs(static_cast<double>(computed)));
  return std::fabs(static_cast<double>(stored) - static_cast<double>(computed)) <= scale * 1e-5;
}

}  // namespace kdrvx::format
