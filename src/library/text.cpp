#include "library/text.h"

namespace kdrvx {

void copyToCaller(char16_t* buffer, uint16_t capacity, const char16_t* text, size_t limit) {
  if (buffer == nullptr || capacity == 0) return;
  size_t length = text == nullptr ? 0 : boundedLength(text, limit);
  if (length > static_cast<size_t>(capacity) - 1) length = static_cast<size_t>(capacity) - 1;
  for (size_t i = 0; i < length; ++i) buffer[i] = text[i];
  buffer[length] = 0;
}

}  // namespace kdrvx
