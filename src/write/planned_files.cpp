// The records a planned recording's channels can hold, and the summary file
// its create writes, by the same rules as the record check and the create.
#include "write/planned_files.h"

#include <algorithm>
#include <cstddef>

#include "format/claims.h"
#include "format/summary_names.h"
#include "format/text.h"
#include "library/text.h"

namespace kdrvx::write {
namespace {

// The multichannel bits of a planned channel: 0 (an ordinary channel) where
// the entry's size does not reach them.
uint32_t plannedBits(const KDRVX_PlannedChannel& channel) {
  constexpr size_t kEnd = offsetof(KDRVX_PlannedChannel, multiChannelBits) +
                          sizeof(KDRVX_PlannedChannel::multiChannelBits);
  return channel.size >= kEnd ? channel.multiChannelBits : 0;
}

}  // namespace

uint32_t checkPlanRecords(const KDRVX_Plan* plan, const float* records, uint32_t count,
                          uint64_t* record, int16_t* channel) {
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

uint32_t summaryFileName(const char16_t* path, KDRVX_CHAR* name, uint16_t capacity) {
  if (path == nullptr) return KDRVX_ERR_RVI_FILE_NAME;
  // The create refuses a path of 260 units or more.
  char16_t created[format::kCreatePathCapacity] = {};
  const size_t length = boundedLength(path, format::kCreatePathCapacity);
  if (length >= format::kCreatePathCapacity) return KDRVX_ERR_RVI_FILE_NAME;
  std::copy(path, path + length, created);
  if (!format::makeSummaryName(created)) return KDRVX_ERR_RVI_FILE_NAME;
  if (name == nullptr || boundedLength(created, capacity) >= capacity)
    return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  copyToCaller(fromCaller(name), capacity, created);
  return KDRVX_OK;
}

}  // namespace kdrvx::write
