// Reading the fields of a fuzz input: shared by the library's harnesses
// and rvx's, so it includes nothing of the library.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kdrvx::fuzz {

// Reads little-endian fields from the front of an input; beyond its end
// every byte reads as 0 and every byte run as empty.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint64_t integer(size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) {
      if (at_ < size_) value |= static_cast<uint64_t>(data_[at_++]) << (8 * i);
    }
    return value;
  }
  uint8_t u8() { return static_cast<uint8_t>(integer(1)); }
  uint16_t u16() { return static_cast<uint16_t>(integer(2)); }
  uint32_t u32() { return static_cast<uint32_t>(integer(4)); }
  uint64_t u64() { return integer(8); }

  // The next `count` bytes, or as many as are left.
  std::string bytes(size_t count) {
    const size_t n = std::min(count, size_ - at_);
    std::string run(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return run;
  }
  std::string rest() { return bytes(size_ - at_); }
  bool empty() const { return at_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace kdrvx::fuzz
