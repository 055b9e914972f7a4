// What a reader reports, taken from a header converted into the current
// layout: the values the read context's queries deliver one by one, and the
// same values gathered into the public info structs that the independent
// readers and the planned-recording check fill. Pure: no state, no traces.
#pragma once

#include <algorithm>
#include <cstdint>

#include "format/layout.h"
#include "kdrvx/kdrvx.h"

namespace kdrvx::format {

// Channel records of `header` that may be addressed: NoChannels, but never
// more than the 48 records the header holds (a refused header can claim
// more).
inline uint32_t channelCount(const RVX_HEADER& header) {
  return std::min<uint32_t>(header.NoChannels, kMaxChannels);
}

// Whether the stored date and time can be a moment: an older layout's open
// replaces any other by the file's modification time.
inline bool datePlausible(const RVX_HEADER& header) {
  return header.Day <= 31 && header.Month <= 12 && header.Year <= 2100 && header.Hour <= 23 &&
         header.Minute <= 59;
}

// 1 unless the file is marked as not an original recording.
uint8_t originalFlagOf(const RVX_HEADER& header);
// "DD.MM.YYYY" into room for KDRVX_DATE_CAPACITY units.
void writeDate(const RVX_HEADER& header, char16_t* text);
// "HH:MM:SS", or "HH:MM" without seconds, into room for KDRVX_TIME_CAPACITY.
void writeTime(const RVX_HEADER& header, char16_t* text);

// The start of a recording as a number: which of date, time and seconds
// the header knows (KDRVX_START_... bits), and the wall-clock seconds from
// 1970-01-01 00:00:00 when it knows date and time (0 otherwise).
struct RecordingStart {
  uint32_t known = 0;
  int64_t seconds = 0;
};
RecordingStart startOf(const RVX_HEADER& header);
// The variable, without a terminator, cut to `capacity` units.
void writeVariable(const MGR_DEF& channel, char16_t* text, uint16_t capacity);
// The unit with the degree rule: KDRVX_ERR_RVX_UNIT_LENGTH (nothing written)
// when the stored unit is longer than `capacity`, else 0.
uint32_t writeUnit(const MGR_DEF& channel, char16_t* text, uint16_t capacity);
// The linearisation table with the degree rule.
void writeLintab(const MGR_DEF& channel, char16_t* text, uint16_t capacity);
int64_t scanRateOf(const RVX_HEADER& header);        // microseconds
uint32_t triggerRecordOf(const RVX_HEADER& header);  // 0 for an implausible record
int32_t multiChannelBitsOf(const MGR_DEF& channel);
bool anyMultiChannel(const RVX_HEADER& header);

// Where and how the records of a recording lie: what the open found beside
// the header.
struct StoredData {
  uint32_t sourceVersion = 0;  // the version code found in the file
  uint64_t dataOffset = 0;
  uint32_t recordSize = 0;
};

// The whole structs, every field as the query of the same name reports it;
// `size` is set to the library's own struct size.
KDRVX_RecordingInfo describeRecording(const RVX_HEADER& header, const StoredData& data);
KDRVX_ChannelInfo describeChannel(const MGR_DEF& channel);
// The same for channel `index` of `header`, with its label.
KDRVX_ChannelInfo describeChannel(const RVX_HEADER& header, uint32_t index);

// The name that channel `index` of `header` goes by in exported data, into
// room for KDRVX_CHANNEL_LABEL_CAPACITY units, zero-terminated: its
// variable, or "ch_N" for channel N without one; a name that an earlier
// channel already goes by gets "_N" appended until it is unique.
void writeChannelLabel(const RVX_HEADER& header, uint32_t index, char16_t* text);

}  // namespace kdrvx::format
