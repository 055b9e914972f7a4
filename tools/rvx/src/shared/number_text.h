// Numbers as text and back, without locale and without allocation: the
// export formats millions of values with these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rvx {

// Room that any of the writers below needs.
inline constexpr size_t kMaxNumberText = 32;

// The shortest decimal text that reads back to exactly `value` ("0.1",
// "-0", "1e-45", "3.4028235e+38"); infinities are "inf" and "-inf". A NaN
// keeps its bits: the usual quiet NaN is "nan", its negative "-nan", and
// any other NaN "nan(0x7fc00123)" with all 32 bits. Returns the end of the
// text.
char* writeFloat(char* out, float value);
char* writeUnsigned(char* out, uint64_t value);
char* writeSigned(char* out, int64_t value);
// A whole number of microseconds as exact decimal seconds with no trailing
// zeros: 1500 gives "0.0015", 2000000 gives "2", -250 gives "-0.00025".
char* writeSeconds(char* out, int64_t microseconds);

std::string floatText(float value);
std::string secondsText(int64_t microseconds);

// The number as the nearest double that prints as the shortest float text,
// so that a JSON writer shows 0.1 for 0.1f and not 0.10000000149011612.
double shortestDouble(float value);

// Reads a whole field (blanks around it are ignored) as a float. Accepts
// what writeFloat writes (the NaN bits included), a leading '+', "nan",
// "inf" and "infinity" in any case. A magnitude below the smallest float
// becomes a zero of its sign; one above the largest float is refused, and so
// is a "nan(...)" that does not give the bits of a NaN.
bool parseFloat(std::string_view text, float& value);
// Whether `text` is a number that parseFloat refuses only for its size:
// beyond the largest float, as 1e39 is.
bool beyondFloat(std::string_view text);
bool parseUnsigned(std::string_view text, uint64_t& value);
bool parseSigned(std::string_view text, int64_t& value);
// Decimal seconds ("0.0015", "2", "1e-3"), read exactly as decimals: the
// nearest whole number of microseconds, and whether the text is one (to
// within a thousandth of a microsecond, which other programs' printing of
// doubles may add). Empty for a text that is not a number or whose
// microseconds do not fit 64 bits.
struct Seconds {
  int64_t microseconds = 0;
  bool whole = true;
};
std::optional<Seconds> parseSeconds(std::string_view text);

std::string_view trimBlanks(std::string_view text);

// A count with its noun, in the plural unless it is 1: "1 record", "2 records";
// `plural` for a noun that does not just take an s.
std::string counted(uint64_t count, std::string_view noun, std::string_view plural = {});

}  // namespace rvx
