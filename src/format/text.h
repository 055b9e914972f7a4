// Lengths of the fixed-capacity UTF-16 texts of the header fields, which
// may fill their field without a terminator, and handing a text to a
// caller's buffer of fixed capacity.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Hands a text to a caller's buffer of `capacity` units: cut to capacity - 1
// units and always terminated. A null buffer or a capacity of 0 receives
// nothing. `limit` bounds how far the source is read (the capacity of the
// field it comes from).
inline void copyToCaller(char16_t* buffer, uint16_t capacity, const char16_t* text,
                         size_t limit = SIZE_MAX) {
  if (buffer == nullptr || capacity == 0) return;
  size_t length = text != nullptr ? boundedLength(text, limit) : 0;
  if (length > static_cast<size_t>(capacity) - 1) length = static_cast<size_t>(capacity) - 1;
  for (size_t i = 0; i < length; ++i) buffer[i] = text[i];
  buffer[length] = 0;
}

}  // namespace kdrvx
