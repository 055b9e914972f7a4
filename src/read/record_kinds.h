// The stored forms of the two older record kinds, shared by the one-by-one
// readers of the read context and the block reader of the readers.
#pragma once

#include <cstdint>

#include "format/claims.h"
#include "format/layout.h"

namespace kdrvx::read {

// DOS record kind: per channel a signed 16-bit mantissa and an unsigned
// 16-bit count of decimals, little-endian. The first channel's count also
// marks the end of the data (0xFFFF) or a record that is not delivered
// (above 10, compared as a signed number).
inline constexpr uint32_t kDosEntrySize = 4;
inline constexpr uint16_t kDosEndOfData = 0xFFFF;
inline constexpr int16_t kDosMaxDecimals = 10;

inline uint16_t u16At(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

inline uint16_t dosDecimals(const uint8_t* entry) { return u16At(entry + 2); }

inline bool dosRecordRefused(const uint8_t* firstEntry) {
  return static_cast<int16_t>(dosDecimals(firstEntry)) > kDosMaxDecimals;
}

// The value of a DOS entry: the mantissa divided by 10 once per decimal, in
// single precision, one division at a time so that results match bit for
// bit. Once the value is 0 further divisions cannot change it.
inline float dosValue(const uint8_t* entry) {
  float value = static_cast<float>(static_cast<int16_t>(u16At(entry)));
  const uint16_t decimals = dosDecimals(entry);
  for (uint32_t d = 0; d < decimals && value != 0.0f; ++d) value /= 10.0f;
  return value;
}

// Sparse WIN 2.x kind: which channels record n stores is the format's rule
// (format::sparseHolds in format/claims.h), shared with the count of the
// records a file holds.

}  // namespace kdrvx::read
