// Exported entry points of what a file claims against what it holds: the
// readers' findings and their words, the check and the repair of a
// recording, the planned records' bits and the name of the RVI file. None
// of them traces or touches the module state.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "format/claims.h"
#include "format/finding_texts.h"
#include "format/summary_names.h"
#include "format/text.h"
#include "kdrvx/kdrvx.h"
#include "library/text.h"
#include "modify/repair.h"
#include "read/check.h"
#include "read/reader.h"

using namespace kdrvx;

namespace {

// An ASCII text of the format into the caller's buffer.
void copyAscii(const std::string& text, KDRVX_CHAR* buffer, uint16_t capacity) {
  const std::u16string wide(text.begin(), text.end());
  copyToCaller(fromCaller(buffer), capacity, wide.c_str());
}

format::Claims claimsOf(const KDRVX_Findings& findings) {
  // Only the fields the caller's size covers are read.
  KDRVX_Findings whole{};
  std::memcpy(&whole, &findings, std::min<size_t>(findings.size, sizeof whole));
  format::Claims claims;
  claims.findings = whole.findings;
  claims.layout = whole.layout;
  claims.fileLength = whole.fileLength;
  claims.headerLength = whole.headerLength;
  claims.dataOffset = whole.dataOffset;
  claims.headerRecords = whole.headerRecords;
  claims.heldRecords = whole.heldRecords;
  claims.trailingBytes = whole.trailingBytes;
  return claims;
}

// The multichannel bits of planned channel k: 0 (an ordinary channel) where
// the entry's size does not reach them.
uint32_t plannedBits(const KDRVX_PlannedChannel& channel) {
  constexpr size_t kEnd = offsetof(KDRVX_PlannedChannel, multiChannelBits) +
                          sizeof(KDRVX_PlannedChannel::multiChannelBits);
  return channel.size >= kEnd ? channel.multiChannelBits : 0;
}

}  // namespace

extern "C" {

KDRVX_API uint32_t KDRVX_ReaderFindings(const KDRVX_Reader* reader, KDRVX_Findings* findings) {
  return read::readerFindings(reader, findings);
}

KDRVX_API uint32_t KDRVX_GetFindingText(const KDRVX_Findings* findings, uint32_t finding,
                                        KDRVX_CHAR* text, uint16_t capacity) {
  format::Claims claims;
  const bool figures = findings != nullptr && findings->size >= sizeof(uint32_t);
  if (figures) claims = claimsOf(*findings);
  const std::string words = format::findingText(finding, figures ? &claims : nullptr);
  if (words.empty()) return KDRVX_ERR_RVX_INVALID_ERROR_CODE;
  copyAscii(words, text, capacity);
  return KDRVX_OK;
}

KDRVX_API uint32_t KDRVX_GetLayoutName(uint32_t layout, KDRVX_CHAR* text, uint16_t capacity) {
  const std::string name = format::layoutName(layout);
  if (name.empty()) return KDRVX_ERR_RVX_INVALID_ERROR_CODE;
  copyAscii(name, text, capacity);
  return KDRVX_OK;
}

KDRVX_API uint32_t KDRVX_Check(const KDRVX_CHAR* path, KDRVX_CheckReport* report,
                               KDRVX_CheckChannel* channels, uint32_t channelCapacity,
                               KDRVX_Progress progress, void* context) {
  return read::check(fromCaller(path), report, channels, channelCapacity, progress, context);
}

KDRVX_API uint32_t KDRVX_Repair(const KDRVX_CHAR* source, const KDRVX_CHAR* target,
                                KDRVX_RepairReport* report, KDRVX_Progress progress,
                                void* context) {
  return modify::repair(fromCaller(source), fromCaller(target), report, progress, context);
}

KDRVX_API uint32_t KDRVX_CheckPlanRecords(const KDRVX_Plan* plan, const float* records,
                                          uint32_t count, uint64_t* record, int16_t* channel) {
  constexpr size_t kPlanEnd = offsetof(KDRVX_Plan, channels) + sizeof(KDRVX_Plan::channels);
  if (plan == nullptr || plan->size < kPlanEnd) return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  const uint32_t channels = plan->noChannels;
  if (channels > 0 && plan->channels == nullptr) return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  if (channels > 0 && count > 0 && records == nullptr) return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  bool anyMultichannel = false;
  for (uint32_t k = 0; k < channels; ++k)
    anyMultichannel |= format::multichannelMask(plannedBits(plan->channels[k])) != ~0u;
  if (!anyMultichannel) return KDRVX_OK;
  // Record after record, so that the first value found is the first one
  // recorded.
  for (uint32_t r = 0; r < count; ++r) {
    for (uint32_t k = 0; k < channels; ++k) {
      const float value = records[size_t{r} * channels + k];
      if (format::strayBits(value, plannedBits(plan->channels[k])) == 0) continue;
      if (record != nullptr) *record = r;
      if (channel != nullptr) *channel = static_cast<int16_t>(k);
      return KDRVX_ERR_RVX_MULTICHANNEL_BITS;
    }
  }
  return KDRVX_OK;
}

KDRVX_API uint32_t KDRVX_GetSummaryFileName(const KDRVX_CHAR* path, uint8_t created,
                                            KDRVX_CHAR* name, uint16_t capacity) {
  if (path == nullptr) return KDRVX_ERR_RVI_FILE_NAME;
  const char16_t* given = fromCaller(path);
  std::u16string found;
  if (created != 0) {
    // KDRVX_CreateExt refuses a path of 260 units or more.
    char16_t copy[format::kCreatePathCapacity] = {};
    const size_t length = boundedLength(given, format::kCreatePathCapacity);
    if (length >= format::kCreatePathCapacity) return KDRVX_ERR_RVI_FILE_NAME;
    std::copy(given, given + length, copy);
    if (!format::makeSummaryName(copy)) return KDRVX_ERR_RVI_FILE_NAME;
    found = copy;
  } else {
    char16_t reading[format::kSummaryNameCapacity];
    if (!format::readingSummaryName(given, reading)) return KDRVX_ERR_RVI_FILE_NAME;
    found = reading;
  }
  if (name == nullptr || found.size() >= capacity) return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  copyToCaller(fromCaller(name), capacity, found.c_str());
  return KDRVX_OK;
}

}  // extern "C"
