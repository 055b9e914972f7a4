#include "platform/utf8_path.h"

namespace kdrvx::platform {

bool utf16ToUtf8Path(const char16_t* path, std::string& out) {
  // At most three bytes per unit (a surrogate pair is two units and four
  // bytes): the whole path is written into one allocation, which is cut to
  // the bytes written at the end.
  size_t units = 0;
  while (path[units] != 0) ++units;
  out.resize(3 * units);
  char* q = out.data();
  const auto put = [&q](char32_t byte) { *q++ = static_cast<char>(byte); };
  for (const char16_t* p = path; *p != 0; ++p) {
    char32_t c = *p;
    if (c >= 0xD800 && c <= 0xDBFF) {
      const char32_t low = p[1];
      if (low < 0xDC00 || low > 0xDFFF) {
        out.clear();
        return false;
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++p;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      out.clear();
      return false;
    }
    if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | (c >> 6));
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | (c >> 12));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | (c >> 18));
      put(0x80 | ((c >> 12) & 0x3F));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
  out.resize(static_cast<size_t>(q - out.data()));
  return true;
}

}  // namespace kdrvx::platform

namespace kdrvx::platform {
namespace {

// Length of the UTF-8 sequence that `lead` begins, 0 for a byte that begins
// none, and the bits of the code point it carries.
int sequenceLength(unsigned char lead, char32_t& bits) {
  if (lead < 0x80) {
    bits = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    bits = lead & 0x1F;
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    bits = lead & 0x0F;
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    bits = lead & 0x07;
    return 4;
  }
  return 0;
}

}  // namespace

bool utf8ToUtf16Path(const std::string& path, std::u16string& out) {
  out.clear();
  out.reserve(path.size());
  for (size_t i = 0; i < path.size();) {
    char32_t c = 0;
    const int length = sequenceLength(static_cast<unsigned char>(path[i]), c);
    if (length == 0 || i + static_cast<size_t>(length) > path.size()) return false;
    for (int k = 1; k < length; ++k) {
      const auto byte = static_cast<unsigned char>(path[i + static_cast<size_t>(k)]);
      if ((byte & 0xC0) != 0x80) return false;
      c = (c << 6) | (byte & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF name nothing.
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return false;
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += static_cast<size_t>(length);
  }
  return true;
}

}  // namespace kdrvx::platform
