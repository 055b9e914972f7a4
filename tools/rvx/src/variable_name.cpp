#include "variable_name.h"

#include <cstdint>
#include <limits>
#include <string>

#include "format/layout.h"
#include "utf.h"

namespace rvx {

namespace {

// The number is a signed byte in the channel record.
constexpr int kLargestIndex =
    std::numeric_limits<decltype(kdrvx::format::MGR_DEF::VariableIndex)>::max();

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// ASCII letters, and any character beyond ASCII that fills one UTF-16 unit
// (µ, Ω, ä): the variable's letters are single units in the header.
bool isLetter(char16_t c) {
  const bool ascii = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
  const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
  return ascii || (c >= 0xA0 && !surrogate && c != 0xFFFD);
}

}  // namespace

bool isVariableName(std::string_view utf8) {
  const std::u16string name = toUtf16(utf8);
  size_t letters = 0;
  while (letters < name.size() && isLetter(name[letters])) ++letters;
  if (letters < 1 || letters > 2 || letters == name.size() || name[letters] == u'0') return false;
  int index = 0;
  for (size_t i = letters; i < name.size(); ++i) {
    if (!isDigit(name[i])) return false;
    index = index * 10 + (name[i] - u'0');
    if (index > kLargestIndex) return false;
  }
  return true;
}

}  // namespace rvx
