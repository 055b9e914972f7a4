// Trace lines on the debugger output. Every line goes out through one
// routine, emit(), as one call of the sink, exactly as given: no line
// terminator, time stamp or process name is added. Each export tests the
// mask bits itself at the moment of writing.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdarg>
#include <cstdio>

#if defined(__MINGW32__)
#define KDRVX_PRINTF_FORMAT(pattern, first) __attribute__((format(gnu_printf, pattern, first)))
#else
#define KDRVX_PRINTF_FORMAT(pattern, first) __attribute__((format(printf, pattern, first)))
#endif

namespace kdrvx::trace {

inline constexpr uint32_t kErrors = 0x0004;   // one line per failure
inline constexpr uint32_t kCalls = 0x0008;    // entry lines and informational lines
inline constexpr uint32_t kDetails = 0x8000;  // detail lines

// Capacities, in UTF-16 units, of the buffers that formatted lines are built
// in; a line that does not fit is cut to capacity - 1 units.
inline constexpr size_t kErrorLineCapacity = 100;
inline constexpr size_t kInfoLineCapacity = 200;
inline constexpr size_t kPathLineCapacity = 500;

bool enabled(uint32_t bit);

// Writes one line whatever the mask.
void emit(const char16_t* line);

// Writes one line when `bit` is set in the debug mask.
inline void lineIf(uint32_t bit, const char16_t* line) {
  if (enabled(bit)) emit(line);
}

// The entry line of an export ("KDrvxLibrary: KDRVX_...()").
inline void call(const char16_t* line) { lineIf(kCalls, line); }

// "KDrvxLibrary: <name>" under the errors bit, with the symbolic name of
// `status` from the error table.
void failure(uint32_t status);

// "KDrvxLibrary: Error 0x%08X" under the errors bit, with a system error.
void systemError(uint32_t error);

// A line of fixed capacity built piece by piece; whatever does not fit is
// dropped, so the text is cut to Capacity - 1 units.
template <size_t Capacity>
class Line {
 public:
  Line() { text_[0] = 0; }

  Line& append(const char16_t* text) {
    for (; text != nullptr && *text != 0 && length_ < Capacity - 1; ++text) push(*text);
    return *this;
  }
  // ASCII or Latin-1 bytes, each widened to one unit.
  Line& appendBytes(const char* text) {
    for (; *text != 0 && length_ < Capacity - 1; ++text) push(static_cast<unsigned char>(*text));
    return *this;
  }
  // printf-style formatting of numbers into the line.
  Line& format(const char* pattern, ...) KDRVX_PRINTF_FORMAT(2, 3) {
    char bytes[Capacity];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(bytes, sizeof bytes, pattern, args);
    va_end(args);
    return appendBytes(bytes);
  }

  // A measured value with three decimals, as "%1.3f" prints a finite one.
  // NaN and infinity are spelt here, not by the C runtime, whose spellings
  // differ between the builds: "inf" and "-inf", and "nan" and "-nan" by
  // the sign bit. The sign of a NaN is kept because it tells the reader of
  // a trace where the value came from: the processor's own NaN, the result
  // of an invalid operation such as 0/0 in the host's arithmetic, has the
  // sign bit set, while a host that marks a missing value usually writes
  // the positive quiet NaN. It is also what the Linux build always printed.
  Line& appendValue(double value) {
    if (std::isnan(value)) return appendBytes(std::signbit(value) ? "-nan" : "nan");
    if (std::isinf(value)) return appendBytes(value < 0 ? "-inf" : "inf");
    return format("%1.3f", value);
  }

  const char16_t* text() const { return text_; }
  size_t length() const { return length_; }
  void emit() const { trace::emit(text_); }
  void emitIf(uint32_t bit) const { trace::lineIf(bit, text_); }

 private:
  void push(char16_t unit) {
    text_[length_++] = unit;
    text_[length_] = 0;
  }

  char16_t text_[Capacity];
  size_t length_ = 0;
};

}  // namespace kdrvx::trace
