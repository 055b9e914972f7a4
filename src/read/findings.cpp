// Findings and layouts in words, and the summary file an open reads. The
// words themselves are the format's (format/finding_texts.h), so that every
// host says the same.
#include "read/findings.h"

#include <string>

#include "format/claims.h"
#include "format/finding_texts.h"
#include "format/summary_names.h"
#include "format/text.h"
#include "library/sized.h"
#include "library/text.h"

namespace kdrvx::read {
namespace {

// An ASCII text of the format into the caller's buffer.
void copyAscii(const std::string& text, KDRVX_CHAR* buffer, uint16_t capacity) {
  const std::u16string wide(text.begin(), text.end());
  copyToCaller(fromCaller(buffer), capacity, wide.c_str());
}

}  // namespace

uint32_t findingText(const KDRVX_Findings* findings, uint32_t finding, KDRVX_CHAR* text,
                     uint16_t capacity) {
  format::Claims claims{};
  const bool figures = library::sizeOf(findings) >= library::kSmallestSized;
  if (figures) claims = library::taken(findings);
  const std::string words = format::findingText(finding, figures ? &claims : nullptr);
  if (words.empty()) return KDRVX_ERR_RVX_INVALID_ERROR_CODE;
  copyAscii(words, text, capacity);
  return KDRVX_OK;
}

uint32_t layoutName(uint32_t layout, KDRVX_CHAR* text, uint16_t capacity) {
  const std::string name = format::layoutName(layout);
  if (name.empty()) return KDRVX_ERR_RVX_INVALID_ERROR_CODE;
  copyAscii(name, text, capacity);
  return KDRVX_OK;
}

uint32_t summaryFileName(const char16_t* path, KDRVX_CHAR* name, uint16_t capacity) {
  if (path == nullptr) return KDRVX_ERR_RVI_FILE_NAME;
  char16_t reading[format::kSummaryNameCapacity];
  if (!format::readingSummaryName(path, reading)) return KDRVX_ERR_RVI_FILE_NAME;
  if (name == nullptr || boundedLength(reading, capacity) >= capacity)
    return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  copyToCaller(fromCaller(name), capacity, reading);
  return KDRVX_OK;
}

}  // namespace kdrvx::read
