// How many characters each text field takes, derived from the field's size:
// its capacity less the terminating zero; and which scan intervals the header
// holds. The create-side setters refuse longer texts; the tool and the tests
// ask here rather than counting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "format/layout.h"
#include "kdrvx/kdrvx.h"

namespace kdrvx::format {

template <typename Record, size_t N>
constexpr size_t limitOf(char16_t (Record::*)[N]) {
  return N - 1;
}
template <typename Record, size_t N>
constexpr size_t limitOf(char (Record::*)[N]) {
  return N - 1;
}

inline constexpr size_t kCommentLimit = limitOf(&RVX_HEADER::Comment);  // 291
inline constexpr size_t kCompanyLimit = limitOf(&RVX_HEADER::Company);  // 63
// One character less than the field holds, as files have always had it.
inline constexpr size_t kInstrumentLimit = limitOf(&RVX_HEADER::Instrument) - 1;        // 62
inline constexpr size_t kSnrInstrumentLimit = limitOf(&RVX_HEADER::SnrInstrument);      // 15
inline constexpr size_t kNameMeasurementLimit = limitOf(&RVX_HEADER::NameMeasurement);  // 23
inline constexpr size_t kTriggerSettingLimit = limitOf(&RVX_HEADER::TriggerSetting);    // 63

// A unit must also fit the compact layout's 8-bit unit field.
inline constexpr size_t kChannelUnitLimit = limitOf(&MGR_DEF_W3::ChannelUnit);               // 10
inline constexpr size_t kChannelNameLimit = limitOf(&MGR_DEF::ChannelName);                  // 23
inline constexpr size_t kChannelNumberLimit = limitOf(&MGR_DEF::ChannelNumber);              // 3
inline constexpr size_t kChannelSignalTypeLimit = limitOf(&MGR_DEF::ChannelSignalType);      // 31
inline constexpr size_t kChannelZeroPointLimit = limitOf(&MGR_DEF::ChannelZeroPoint);        // 15
inline constexpr size_t kChannelCalParameterLimit = limitOf(&MGR_DEF::ChannelCalParameter);  // 127
inline constexpr size_t kChannelFilterLimit = limitOf(&MGR_DEF::ChannelFilter);              // 31
inline constexpr size_t kChannelLintabLimit = limitOf(&MGR_DEF::ChannelLintab);              // 199

// The interface publishes the same limits and where the start is kept.
static_assert(kCommentLimit == KDRVX_COMMENT_LIMIT && kCompanyLimit == KDRVX_COMPANY_LIMIT &&
              kInstrumentLimit == KDRVX_INSTRUMENT_LIMIT &&
              kSnrInstrumentLimit == KDRVX_SNR_INSTRUMENT_LIMIT &&
              kNameMeasurementLimit == KDRVX_NAME_MEASUREMENT_LIMIT &&
              kTriggerSettingLimit == KDRVX_TRIGGER_SETTING_LIMIT);
static_assert(kChannelUnitLimit == KDRVX_CHANNEL_UNIT_LIMIT &&
              kChannelNameLimit == KDRVX_CHANNEL_NAME_LIMIT &&
              kChannelNumberLimit == KDRVX_CHANNEL_NUMBER_LIMIT &&
              kChannelSignalTypeLimit == KDRVX_CHANNEL_SIGNAL_TYPE_LIMIT &&
              kChannelZeroPointLimit == KDRVX_CHANNEL_ZERO_POINT_LIMIT &&
              kChannelCalParameterLimit == KDRVX_CHANNEL_CAL_PARAMETER_LIMIT &&
              kChannelFilterLimit == KDRVX_CHANNEL_FILTER_LIMIT &&
              kChannelLintabLimit == KDRVX_CHANNEL_LINTAB_LIMIT);
static_assert(offsetof(RVX_HEADER, Year) == KDRVX_HEADER_YEAR_OFFSET &&
              offsetof(RVX_HEADER, Hour) == KDRVX_HEADER_HOUR_OFFSET &&
              offsetof(RVX_HEADER, Second) == KDRVX_HEADER_HOUR_OFFSET + 2 &&
              kNoSeconds == KDRVX_UNKNOWN_TIME);

// Whether a header can hold a scan interval of `microseconds`: a whole
// number of milliseconds is stored in milliseconds, any other interval in
// microseconds, either in the 32 bits of ScanRate; an interval of 0 or less
// means nothing.
constexpr bool scanIntervalFits(int64_t microseconds) {
  constexpr int64_t kMicrosecondsPerMillisecond = 1000;
  constexpr int64_t kLargest = std::numeric_limits<decltype(RVX_HEADER::ScanRate)>::max();
  if (microseconds <= 0) return false;
  if (microseconds % kMicrosecondsPerMillisecond == 0) {
    return microseconds / kMicrosecondsPerMillisecond <= kLargest;
  }
  return microseconds <= kLargest;
}

}  // namespace kdrvx::format
