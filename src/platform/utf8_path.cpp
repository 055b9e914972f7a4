#include "platform/utf8_path.h"

namespace kdrvx::platform {

bool utf16ToUtf8Path(const char16_t* path, std::string& out) {
  out.clear();
  // At most three bytes per unit: one allocation for the whole path.
  size_t units = 0;
  while (path[units] != 0) ++units;
  out.reserve(3 * units);
  for (const char16_t* p = path; *p != 0; ++p) {
    char32_t c = *p;
    if (c >= 0xD800 && c <= 0xDBFF) {
      char32_t low = p[1];
      if (low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++p;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return true;
}

}  // namespace kdrvx::platform
