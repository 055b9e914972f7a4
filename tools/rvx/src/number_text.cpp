#include "number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace rvx {

char* writeFloat(char* out, float value) {
  if (std::isnan(value)) {
    std::memcpy(out, "nan", 3);
    return out + 3;
  }
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
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), wide,
                                      std::chars_format::general);
  if (error == std::errc()) return std::fabs(wide) < 1.0;
  const size_t exponent = text.find_first_of("eE");
  return exponent != text.npos && exponent + 1 < text.size() && text[exponent + 1] == '-';
}

}  // namespace

bool parseFloat(std::string_view text, float& value) {
  text = trimBlanks(text);
  if (!stripPlus(text) || text.empty()) return false;
  float result = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result,
                                      std::chars_format::general);
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

bool parseSeconds(std::string_view text, int64_t& microseconds) {
  text = trimBlanks(text);
  if (!stripPlus(text) || text.empty()) return false;
  double seconds = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds,
                                      std::chars_format::general);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(seconds)) {
    return false;
  }
  const double scaled = std::round(seconds * 1e6);
  if (std::fabs(scaled) > 9.0e18) return false;
  microseconds = static_cast<int64_t>(scaled);
  return true;
}

}  // namespace rvx
