// What the queries deliver, taken from a header: the read context's queries
// hand them the header they show, the readers their own. These functions
// trace nothing and touch no module state.
#pragma once

#include <cstdint>

#include "format/layout.h"

namespace kdrvx::read {

// 1 unless the file is marked as not an original recording.
uint8_t originalFlagOf(const format::RVX_HEADER& header);
// "DD.MM.YYYY" into room for KDRVX_DATE_CAPACITY units.
void writeDate(const format::RVX_HEADER& header, char16_t* text);
// "HH:MM:SS", or "HH:MM" without seconds, into room for KDRVX_TIME_CAPACITY.
void writeTime(const format::RVX_HEADER& header, char16_t* text);
// The variable, without a terminator, cut to `capacity` units.
void writeVariable(const format::MGR_DEF& channel, char16_t* text, uint16_t capacity);
// The unit with the degree rule: KDRVX_ERR_RVX_UNIT_LENGTH (nothing written)
// when the stored unit is longer than `capacity`, else 0.
uint32_t writeUnit(const format::MGR_DEF& channel, char16_t* text, uint16_t capacity);
// The linearisation table with the degree rule.
void writeLintab(const format::MGR_DEF& channel, char16_t* text, uint16_t capacity);
int64_t scanRateOf(const format::RVX_HEADER& header);        // microseconds
uint32_t triggerRecordOf(const format::RVX_HEADER& header);  // 0 for an implausible record
int32_t multiChannelBitsOf(const format::MGR_DEF& channel);
bool anyMultiChannel(const format::RVX_HEADER& header);

}  // namespace kdrvx::read
