// Storing texts into the fixed-capacity fields of the headers: the field is
// zero from the end of the text on, as every field the library writes.
#pragma once

#include <algorithm>
#include <cstddef>

#include "format/text.h"

namespace kdrvx::write {

template <size_t N>
void clearText(char16_t (&field)[N]) {
  std::fill(field, field + N, char16_t{0});
}

// Length of `text` when it has at most `limit` units, else limit + 1: the
// text is never read further than needed to tell.
inline size_t measuredLength(const char16_t* text, size_t limit) {
  return boundedLength(text, limit + 1);
}

// Stores `length` units of `text` (length < N) and zeros behind them.
template <size_t N>
void storeText(char16_t (&field)[N], const char16_t* text, size_t length) {
  clearText(field);
  std::copy(text, text + std::min(length, N - 1), field);
}

// The 8-bit copy of a text in the compact layout: the low byte of each
// unit, zeros behind it.
template <size_t N>
void storeLowBytes(char (&field)[N], const char16_t* text, size_t length) {
  std::fill(field, field + N, char{0});
  const size_t count = std::min(length, N);
  for (size_t i = 0; i < count; ++i) field[i] = static_cast<char>(text[i] & 0xFF);
}

}  // namespace kdrvx::write
