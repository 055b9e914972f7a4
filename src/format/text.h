// Lengths of the fixed-capacity UTF-16 texts of the header fields, which
// may fill their field without a terminator.
#pragma once

#include <cstddef>

namespace kdrvx {

// Length of a zero-terminated text, looking at no more than `limit` units:
// a field without a terminator counts as `limit` long.
inline size_t boundedLength(const char16_t* text, size_t limit) {
  size_t n = 0;
  while (n < limit && text[n] != 0) ++n;
  return n;
}

template <size_t N>
size_t fieldLength(const char16_t (&field)[N]) {
  return boundedLength(field, N);
}

}  // namespace kdrvx
