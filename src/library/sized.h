// Structs of the interface that begin with their size, set by the caller, so
// that they can grow: the library reads and fills no more of them than that
// size says, and an array of them lies as far apart as its first entry's
// size says.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace kdrvx::library {

// The caller's struct holds at least its size field.
inline constexpr uint32_t kSmallestSized = sizeof(uint32_t);

// The size the caller gave `sized` (null: 0).
template <typename Sized>
uint32_t sizeOf(const Sized* sized) {
  uint32_t size = 0;
  if (sized != nullptr) std::memcpy(&size, sized, sizeof size);
  return size;
}

// Entry `index` of an array of caller structs of `stride` bytes each.
template <typename Sized>
Sized* entryAt(Sized* first, uint32_t stride, size_t index) {
  using Byte = std::conditional_t<std::is_const_v<Sized>, const unsigned char, unsigned char>;
  return reinterpret_cast<Sized*>(reinterpret_cast<Byte*>(first) + index * stride);
}

// The caller's struct as the library's: what the caller's size covers, the
// rest zero.
template <typename Sized>
Sized taken(const Sized* given) {
  Sized whole{};
  std::memcpy(&whole, given, std::min<size_t>(sizeOf(given), sizeof whole));
  return whole;
}

// Hands `whole` to the caller's struct: as many bytes as the caller's size
// says, never more than the library's struct, the size field left alone.
// KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH for a null struct or a size below
// that of the size field.
template <typename Sized>
uint32_t deliver(const Sized& whole, Sized* target, uint32_t refusal) {
  const uint32_t size = sizeOf(target);
  if (size < kSmallestSized) return refusal;
  const size_t bytes = std::min<size_t>(size, sizeof whole);
  std::memcpy(reinterpret_cast<unsigned char*>(target) + kSmallestSized,
              reinterpret_cast<const unsigned char*>(&whole) + kSmallestSized,
              bytes - kSmallestSized);
  return 0;
}

}  // namespace kdrvx::library
