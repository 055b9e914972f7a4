// Helpers for the fixed-capacity UTF-16 texts of the interface and of the
// header fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kdrvx/kdrvx.h"

namespace kdrvx {

// The caller's UTF-16 units and the library's are the same 16-bit code
// units; on Windows the interface spells them wchar_t.
static_assert(sizeof(KDRVX_CHAR) == sizeof(char16_t));
inline const char16_t* fromCaller(const KDRVX_CHAR* text) {
  return reinterpret_cast<const char16_t*>(text);
}
inline char16_t* fromCaller(KDRVX_CHAR* text) { return reinterpret_cast<char16_t*>(text); }
inline const KDRVX_CHAR* toCaller(const char16_t* text) {
  return reinterpret_cast<const KDRVX_CHAR*>(text);
}

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
void copyToCaller(char16_t* buffer, uint16_t capacity, const char16_t* text,
                  size_t limit = SIZE_MAX);

}  // namespace kdrvx
