// Parsing of the texts that the create-side setters take: date, time and
// the variable name of a channel. Numbers are read the way the platform's
// wide-to-integer conversion reads them: optional leading white space and
// sign, then decimal digits, 0 when there are none, saturated at the limits
// of a 32-bit integer.
#pragma once

#include <cstdint>

namespace kdrvx::write {

inline bool isDecimalDigit(char16_t unit) { return unit >= u'0' && unit <= u'9'; }

int32_t wideToInt(const char16_t* text);

struct ParsedDate {
  uint8_t day = 0;
  uint8_t month = 0;
  uint16_t year = 0;
};
// Day, month and year separated by full stops. Accepts any three non-zero
// numbers; there is no calendar check. False when one of them is 0 or
// missing.
bool parseDate(const char16_t* text, ParsedDate& out);

struct ParsedTime {
  uint8_t hour = 0;
  uint8_t minute = 0;
  uint8_t second = 255;  // 255: no seconds given
};
// Hours, optionally ":" minutes, optionally ":" seconds.
bool parseTime(const char16_t* text, ParsedTime& out);

struct ParsedVariable {
  char16_t letter = 0;
  char16_t prefix = 0;
  int8_t index = 0;
  uint8_t compactLetter = 0;  // the entry of the compact layout
  uint8_t compactCode = 0;
  bool valid = false;
};
// One or two letters followed by a number other than 0 (modulo 256), such
// as p1, T2 or dp12. The fields are filled also for an invalid name.
ParsedVariable parseVariable(const char16_t* name);

}  // namespace kdrvx::write
