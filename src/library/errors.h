// The status codes with their symbolic names and message texts.
#pragma once

#include <cstdint>

namespace kdrvx::library {

// Symbolic name of a status ("ERR_RVX_..."), or "" for a value that is no
// failure code.
const char* errorName(uint32_t status);

// Message text of a status, or null when the code has no text of its own.
const char16_t* errorText(uint32_t status);

// KDRVX_GetErrorString: the text of `code`, or "Invalid error code.", into
// the caller's buffer; the result is also the last error.
uint32_t getErrorString(char16_t* buffer, uint16_t capacity, uint32_t code);

}  // namespace kdrvx::library
