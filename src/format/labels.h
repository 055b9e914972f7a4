// The label tables of the summary file (.RVI): 52 entries of 46 bytes, each a
// zero-terminated Windows-1252 text, in German, French and English.
#pragma once

#include <cstdint>

namespace kdrvx::format {

inline constexpr int kLabelCount = 52;
inline constexpr int kLabelSize = 46;

struct LabelTable {
  char entry[kLabelCount][kLabelSize];
};
static_assert(sizeof(LabelTable) == 2392);

// The label table that a language code selects: 0 German, 2 French, 4 the
// English copy, any other value English. (255, no summary at all, is the
// caller's business: it clears its table instead.)
const LabelTable& labelTableForLanguage(int32_t language);

}  // namespace kdrvx::format
