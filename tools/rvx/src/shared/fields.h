// The text fields of a recording's header and channels, once: each with
// its name for people, its key in the CSV metadata block, in `rvx info
// --json` and in the MATLAB and HDF5 exports, where the tool's RecordingInfo
// and the library's reader struct hold it, its setter on the create path,
// its member of a planned recording and its KDRVX_FIELD_ id. Every command
// that lists fields goes through these tables, in their order.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "kdrvx/kdrvx.h"
#include "shared/library.h"

namespace rvx {

struct HeaderField {
  const char* what;              // for people: "measurement name"
  std::string_view metadataKey;  // its row in the CSV metadata block
  const char* jsonKey;           // in rvx info --json
  const char* exportKey;         // in the MATLAB struct and the HDF5 attributes
  std::string RecordingInfo::*text;
  std::string (*read)(const KDRVX_RecordingInfo&);
  uint32_t (*setter)(const KDRVX_CHAR*);
  const KDRVX_CHAR* KDRVX_Plan::*planned;
  uint32_t field;  // KDRVX_FIELD_...
  size_t limit;    // UTF-16 units the current layout takes
};

struct ChannelField {
  const char* what;  // for people and in the metadata block's channel rows: "signal type"
  const char* key;   // in rvx info --json, the MATLAB struct and the HDF5 attributes
  std::string ChannelInfo::*text;
  std::string (*read)(const KDRVX_ChannelInfo&);
  // Null for the variable, which KDRVX_AddChannel gives.
  uint32_t (*setter)(int16_t, const KDRVX_CHAR*);
  const KDRVX_CHAR* KDRVX_PlannedChannel::*planned;
  uint32_t field;  // KDRVX_FIELD_CHANNEL_...
  size_t limit;    // UTF-16 units the current layout takes
  bool exported;   // a column of the MATLAB and HDF5 channel descriptions
};

// The header's texts: comment, company, instrument, serial number,
// measurement name, trigger setting.
std::span<const HeaderField> headerFields();
// The channel's texts: variable, unit, name, number, signal type, range,
// zero point, filter, linearisation table.
std::span<const ChannelField> channelFields();

// The name of a KDRVX_FIELD_ for people: "comment", "unit", "scan interval".
std::string fieldName(uint32_t field);

// The limit of the header text held in `text`.
size_t fieldLimit(std::string RecordingInfo::*text);

}  // namespace rvx
