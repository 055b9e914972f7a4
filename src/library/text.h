// Texts crossing the interface: the caller's UTF-16 units, and handing a
// text to a caller's buffer of fixed capacity (format/text.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/text.h"
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

}  // namespace kdrvx
