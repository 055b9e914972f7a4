#include "shared/number_text.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace rvx {

namespace {

constexpr uint32_t kQuietNan = 0x7FC00000u;
constexpr uint32_t kSignBit = 0x80000000u;
constexpr uint32_t kExponentBits = 0x7F800000u;
constexpr std::string_view kNanWithBits = "nan(0x";

char* writeText(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

bool isNanBits(uint32_t bits) {
  return (bits & kExponentBits) == kExponentBits && (bits & ~(kExponentBits | kSignBit)) != 0;
}

char* writeNan(char* out, uint32_t bits) {
  if (bits == kQuietNan) return writeText(out, "nan");
  if (bits == (kQuietNan | kSignBit)) return writeText(out, "-nan");
  out = writeText(out, kNanWithBits);
  char hex[8];
  const auto end = std::to_chars(hex, hex + sizeof hex, bits, 16).ptr;
  const auto digits = static_cast<size_t>(end - hex);
  out = writeText(out, std::string_view("00000000", sizeof hex - digits));
  out = writeText(out, std::string_view(hex, digits));
  *out++ = ')';
  return out;
}

// "nan(0x...)" in any case, with the bits of a NaN.
bool parseNanBits(std::string_view text, float& value) {
  if (text.size() <= kNanWithBits.size() + 1 || text.back() != ')') return false;
  for (size_t i = 0; i < kNanWithBits.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != kNanWithBits[i]) return false;
  }
  const std::string_view hex =
      text.substr(kNanWithBits.size(), text.size() - kNanWithBits.size() - 1);
  uint32_t bits = 0;
  const auto [end, error] = std::from_chars(hex.data(), hex.data() + hex.size(), bits, 16);
  if (error != std::errc() || end != hex.data() + hex.size() || !isNanBits(bits)) return false;
  value = std::bit_cast<float>(bits);
  return true;
}

bool startsWithNanBits(std::string_view text) {
  return text.size() >= 4 && std::tolower(static_cast<unsigned char>(text[0])) == 'n' &&
         std::tolower(static_cast<unsigned char>(text[1])) == 'a' &&
         std::tolower(static_cast<unsigned char>(text[2])) == 'n' && text[3] == '(';
}

}  // namespace

char* writeFloat(char* out, float value) {
  if (std::isnan(value)) return writeNan(out, std::bit_cast<uint32_t>(value));
  return std::to_chars(out, out + kMaxNumberText, value).ptr;
}

char* writeUnsigned(char* out, uint64_t value) {
  return std::to_chars(out, out + kMaxNumberText, value).ptr;
}

char* writeSigned(char* out, int64_t value) {
  return std::to_chars(out, out + kMaxNumberText, value).ptr;
}

char* writeSeconds(char* out, int64_t microseconds) {
  uint64_t magnitude;
  if (microseconds < 0) {
    *out++ = '-';
    magnitude = uint64_t{0} - static_cast<uint64_t>(microseconds);
  } else {
    magnitude = static_cast<uint64_t>(microseconds);
  }
  out = writeUnsigned(out, magnitude / 1000000);
  uint32_t fraction = static_cast<uint32_t>(magnitude % 1000000);
  if (fraction == 0) return out;
  *out++ = '.';
  int digits = 6;
  while (fraction % 10 == 0) fraction /= 10, --digits;
  for (int i = digits - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  return out + digits;
}

std::string floatText(float value) {
  char buffer[kMaxNumberText];
  return std::string(buffer, writeFloat(buffer, value));
}

std::string secondsText(int64_t microseconds) {
  char buffer[kMaxNumberText];
  return std::string(buffer, writeSeconds(buffer, microseconds));
}

double shortestDouble(float value) {
  if (!std::isfinite(value)) return value;
  char buffer[kMaxNumberText];
  char* end = writeFloat(buffer, value);
  double result = value;
  std::from_chars(buffer, end, result);
  return result;
}

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string counted(uint64_t count, std::string_view noun, std::string_view plural) {
  std::string text = std::to_string(count) + " ";
  if (count == 1) return text + std::string(noun);
  return text + (plural.empty() ? std::string(noun) + "s" : std::string(plural));
}

namespace {

// from_chars takes no '+'; a sign after the '+' is not a number.
bool stripPlus(std::string_view& text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    return !text.empty() && text.front() != '-' && text.front() != '+';
  }
  return true;
}

// For a number that a float cannot hold: whether it is too small rather than
// too large.
bool belowSmallestFloat(std::string_view text) {
  double wide = 0;
  auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), wide, std::chars_format::general);
  if (error == std::errc()) return std::fabs(wide) < 1.0;
  const size_t exponent = text.find_first_of("eE");
  return exponent != text.npos && exponent + 1 < text.size() && text[exponent + 1] == '-';
}

}  // namespace

bool parseFloat(std::string_view text, float& value) {
  text = trimBlanks(text);
  if (!stripPlus(text) || text.empty()) return false;
  // The bits of a NaN, sign included, which from_chars would read as the
  // usual NaN.
  const bool negative = text.front() == '-';
  if (startsWithNanBits(text.substr(negative ? 1 : 0)))
    return !negative && parseNanBits(text, value);
  float result = 0;
  auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), result, std::chars_format::general);
  if (end != text.data() + text.size()) return false;
  if (error == std::errc::result_out_of_range) {
    if (!belowSmallestFloat(text)) return false;
    value = text.front() == '-' ? -0.0f : 0.0f;
    return true;
  }
  if (error != std::errc()) return false;
  value = result;
  return true;
}

bool beyondFloat(std::string_view text) {
  text = trimBlanks(text);
  if (!stripPlus(text) || text.empty()) return false;
  float result = 0;
  auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), result, std::chars_format::general);
  return end == text.data() + text.size() && error == std::errc::result_out_of_range &&
         !belowSmallestFloat(text);
}

bool parseUnsigned(std::string_view text, uint64_t& value) {
  text = trimBlanks(text);
  if (!stripPlus(text) || text.empty()) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

bool parseSigned(std::string_view text, int64_t& value) {
  text = trimBlanks(text);
  if (!stripPlus(text) || text.empty()) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

namespace {

// The decimal digits of a number without leading zeros, and the power of
// ten they are to be multiplied by.
constexpr size_t kMaxDigits = 40;
constexpr int kMaxExponent = 400;

struct Decimal {
  bool negative = false;
  char digits[kMaxDigits];
  size_t count = 0;
  int exponent = 0;
};

bool parseDecimal(std::string_view text, Decimal& number) {
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    number.negative = text.front() == '-';
    text.remove_prefix(1);
  }
  bool point = false, digit = false;
  size_t i = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      digit = true;
      if (point) --number.exponent;
      if (number.count == 0 && c == '0') continue;
      if (number.count == kMaxDigits) return false;
      number.digits[number.count++] = c;
    } else {
      break;
    }
  }
  if (!digit) return false;
  if (i < text.size()) {
    if (text[i] != 'e' && text[i] != 'E') return false;
    int64_t exponent = 0;
    std::string_view rest = text.substr(i + 1);
    if (!rest.empty() && rest.front() == '+') rest.remove_prefix(1);
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), exponent);
    if (error != std::errc() || end != rest.data() + rest.size() || rest.empty() ||
        exponent > kMaxExponent || exponent < -kMaxExponent) {
      return false;
    }
    number.exponent += static_cast<int>(exponent);
  }
  return true;
}

// Appends a decimal digit to `value`; false when the result exceeds 64 bits.
bool appendDigit(uint64_t& value, char digit) {
  constexpr uint64_t kLargest = std::numeric_limits<uint64_t>::max();
  const auto next = static_cast<uint64_t>(digit - '0');
  if (value > kLargest / 10 || (value == kLargest / 10 && next > kLargest % 10)) return false;
  value = value * 10 + next;
  return true;
}

constexpr int kMicrosecondsPerSecondDigits = 6;

}  // namespace

std::optional<Seconds> parseSeconds(std::string_view text) {
  Decimal decimal;
  if (!parseDecimal(trimBlanks(text), decimal)) return std::nullopt;
  Seconds result;
  if (decimal.count == 0) return result;
  // The digits of whole microseconds, and the fraction of a microsecond
  // behind them: `places` digits, the last digits of the number after
  // `zeros` leading zeros.
  const int shift = decimal.exponent + kMicrosecondsPerSecondDigits;
  const size_t places = shift >= 0 ? 0 : static_cast<size_t>(-shift);
  const size_t wholeDigits = decimal.count - std::min(places, decimal.count);
  const size_t zeros = places > decimal.count ? places - decimal.count : 0;
  uint64_t magnitude = 0;
  for (size_t i = 0; i < wholeDigits; ++i) {
    if (!appendDigit(magnitude, decimal.digits[i])) return std::nullopt;
  }
  for (int i = 0; i < shift; ++i) {
    if (!appendDigit(magnitude, '0')) return std::nullopt;
  }
  const auto fractionDigit = [&](size_t i) {
    if (i >= places || i < zeros) return '0';
    return decimal.digits[wholeDigits + i - zeros];
  };
  const char first[3] = {fractionDigit(0), fractionDigit(1), fractionDigit(2)};
  // Within a thousandth of a microsecond of a whole one: 0.000... or 0.999...
  result.whole = (first[0] == '0' && first[1] == '0' && first[2] == '0') ||
                 (first[0] == '9' && first[1] == '9' && first[2] == '9');
  if (first[0] >= '5') {
    if (magnitude == std::numeric_limits<uint64_t>::max()) return std::nullopt;
    ++magnitude;
  }
  if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
  result.microseconds = static_cast<int64_t>(magnitude);
  if (decimal.negative) result.microseconds = -result.microseconds;
  return result;
}

}  // namespace rvx
