#include "library/text.h"

namespace kdrvx {

void copyToCaller(char16_t* buffer, uint16_t capacity, const char16_t* text, size_t limit) {
  if (buffer == nullptr || capacity == 0) return;
  size_t length = 0;
  while (text != nullptr && length < limit && text[length] != 0) ++length;
  if (length > static_cast<size_t>(capacity) - 1) length = static_cast<size_t>(capacity) - 1;
  for (size_t i = 0; i < length; ++i) buffer[i] = text[i];
  buffer[length] = 0;
}

}  // namespace kdrvx
