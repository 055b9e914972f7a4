// Texts crossing the interface: the caller's UTF-16 units, and handing a
// text to a caller's buffer of fixed capacity.
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

// Hands a text to a caller's buffer of `capacity` units: cut to capacity - 1
// units and always terminated. A null buffer or a capacity of 0 receives
// nothing. `limit` bounds how far the source is read (the capacity of the
// field it comes from).
void copyToCaller(char16_t* buffer, uint16_t capacity, const char16_t* text,
                  size_t limit = SIZE_MAX);

}  // namespace kdrvx
