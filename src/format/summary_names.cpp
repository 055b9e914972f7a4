#include "format/summary_names.h"

#include <cstring>
#include <iterator>

#include "format/text.h"

namespace kdrvx::format {

bool makeSummaryName(char16_t (&path)[kCreatePathCapacity]) {
  // The last unit is kept for the terminator, so ".RVI" and its zero always
  // fit behind a match.
  const size_t length = boundedLength(path, kCreatePathCapacity - 1);
  auto find = [&](const char16_t* pattern) -> size_t {
    for (size_t at = 0; at + 4 <= length; ++at) {
      size_t i = 0;
      while (i < 4 && path[at + i] == pattern[i]) ++i;
      if (i == 4) return at;
    }
    return length;
  };
  size_t at = find(u".RVX");
  if (at == length) at = find(u".rvx");
  if (at == length) return false;
  const char16_t summary[] = u".RVI";
  for (size_t i = 0; i < 4; ++i) path[at + i] = summary[i];
  path[at + 4] = 0;
  return true;
}

bool readingSummaryName(const char16_t* path, char16_t (&name)[kSummaryNameCapacity]) {
  constexpr char16_t kExtension[] = u"RVI";
  constexpr size_t kReplaced = std::size(kExtension) - 1;
  const size_t length = boundedLength(path, kSummaryNameCapacity);
  if (length < kReplaced || length >= kSummaryNameCapacity) return false;
  const size_t kept = length - kReplaced;
  std::memcpy(name, path, kept * sizeof(char16_t));
  std::memcpy(name + kept, kExtension, sizeof kExtension);
  return true;
}

}  // namespace kdrvx::format
