#include "write/parse.h"

#include <cstdint>

namespace kdrvx::write {
namespace {

bool isWhiteSpace(char16_t unit) { return unit == u' ' || (unit >= 0x09 && unit <= 0x0D); }

const char16_t* skipDigits(const char16_t* p) {
  while (isDecimalDigit(*p)) ++p;
  return p;
}

}  // namespace

int32_t wideToInt(const char16_t* text) {
  const char16_t* p = text;
  while (isWhiteSpace(*p)) ++p;
  bool negative = false;
  if (*p == u'+' || *p == u'-') {
    negative = *p == u'-';
    ++p;
  }
  // One beyond the largest magnitude is enough to saturate either sign.
  constexpr int64_t kCap = int64_t{INT32_MAX} + 1;
  int64_t value = 0;
  for (; isDecimalDigit(*p); ++p) {
    value = value * 10 + (*p - u'0');
    if (value > kCap) value = kCap;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(value);
}

bool parseDate(const char16_t* text, ParsedDate& out) {
  const int32_t day = wideToInt(text);
  int32_t month = 0;
  int32_t year = 0;
  const char16_t* p = skipDigits(text);
  if (*p == u'.') {
    ++p;
    month = wideToInt(p);
  }
  p = skipDigits(p);
  if (*p == u'.') year = wideToInt(p + 1);
  if (day == 0 || month == 0 || year == 0) return false;
  out.day = static_cast<uint8_t>(day);
  out.month = static_cast<uint8_t>(month);
  out.year = static_cast<uint16_t>(year);
  return true;
}

bool parseTime(const char16_t* text, ParsedTime& out) {
  const int32_t hour = wideToInt(text);
  int32_t minute = 0;
  const char16_t* p = skipDigits(text);
  if (*p == u':') {
    ++p;
    minute = wideToInt(p);
  }
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return false;
  int32_t second = 255;
  p = skipDigits(p);
  if (*p == u':') {
    second = wideToInt(p + 1);
    if (second < 0 || second > 59) return false;
  }
  out.hour = static_cast<uint8_t>(hour);
  out.minute = static_cast<uint8_t>(minute);
  out.second = static_cast<uint8_t>(second);
  return true;
}

ParsedVariable parseVariable(const char16_t* name) {
  ParsedVariable out;
  // p: the first character when it is a digit, else the first digit after
  // it, else the terminator. The letters are the characters before p.
  const char16_t* p = name;
  if (!isDecimalDigit(*p)) {
    if (*p != 0) ++p;
    while (*p != 0 && !isDecimalDigit(*p)) ++p;
  }
  const auto letters = p - name;
  if (letters >= 2) {
    out.letter = name[1];
    out.prefix = name[0];
  } else {
    out.letter = name[0];
    out.prefix = 0;
  }
  const int32_t number = wideToInt(p);
  out.index = static_cast<int8_t>(static_cast<uint8_t>(number));

  out.compactLetter = static_cast<uint8_t>(out.letter);
  out.compactCode = static_cast<uint8_t>(number);
  if (letters >= 2) {
    if (name[0] == u'A') {
      out.compactCode |= 0x20;
    } else if (name[0] == u'd') {
      out.compactCode |= 0x80;
    } else {
      out.compactCode |= 0x40;
    }
  }
  out.valid = isDecimalDigit(*p) && letters >= 1 && letters <= 2 && out.index != 0;
  return out;
}

}  // namespace kdrvx::write
