#include "inputs/findings.h"

#include <algorithm>

#include "shared/tool_error.h"
#include "shared/utf.h"

namespace rvx {

namespace {

constexpr uint16_t kTextCapacity = 400;

std::string textOf(const std::u16string& buffer) {
  return toUtf8(std::u16string_view(buffer.c_str()));
}

}  // namespace

std::string findingText(const KDRVX_Findings* findings, uint32_t finding) {
  std::u16string text(kTextCapacity, u'\0');
  const uint32_t status = KDRVX_GetFindingText(findings, finding, chars(text), kTextCapacity);
  return status == 0 ? textOf(text) : statusText(status);
}

std::string layoutName(uint32_t layout) {
  std::u16string text(kTextCapacity, u'\0');
  const uint32_t status = KDRVX_GetLayoutName(layout, chars(text), kTextCapacity);
  return status == 0 ? textOf(text) : "unknown";
}

namespace {

void refuseWrongValues(const Reader& reader, const KDRVX_Findings& found) {
  for (uint32_t bit = 1; bit != 0; bit <<= 1) {
    if ((found.findings & bit & KDRVX_FINDINGS_VALUES_WRONG) != 0) {
      throw ToolError(reader.file() + ": " + findingText(&found, bit) +
                      "; the values would be wrong");
    }
  }
}

}  // namespace

void refuseWrongValues(const Reader& reader) { refuseWrongValues(reader, reader.findings()); }

RecordCount requireReadable(const Reader& reader, bool allRecords, std::ostream& warnings) {
  const KDRVX_Findings found = reader.findings();
  refuseWrongValues(reader, found);
  // Records beyond the count are no news to one who asks for them.
  const uint32_t warned = found.findings & ~(allRecords ? KDRVX_FINDING_MORE_RECORDS : 0u);
  for (uint32_t bit = 1; bit != 0; bit <<= 1) {
    if ((warned & bit) != 0) {
      warnings << "rvx: " << reader.file() << ": warning: " << findingText(&found, bit) << '\n';
    }
  }
  RecordCount count;
  count.counted = found.headerRecords;
  count.held = found.heldRecords;
  count.toRead = allRecords ? count.held : std::min(count.counted, count.held);
  return count;
}

}  // namespace rvx
