// The text capacities that the public header promises are the sizes of the
// fields the queries read: a field that changes size must change its
// capacity with it.
#include <cstdint>
#include <limits>
#include <type_traits>

#include "format/layout.h"
#include "kdrvx/kdrvx.h"

namespace kdrvx::read {
namespace {

using format::MGR_DEF;
using format::RVX_HEADER;

#define KDRVX_CAPACITY_OF(type, field, capacity)                    \
  static_assert(std::extent_v<decltype(type::field)> == (capacity), \
                #capacity " is not the size of " #type "::" #field)

KDRVX_CAPACITY_OF(RVX_HEADER, Comment, KDRVX_COMMENT_CAPACITY);
KDRVX_CAPACITY_OF(RVX_HEADER, Company, KDRVX_COMPANY_CAPACITY);
KDRVX_CAPACITY_OF(RVX_HEADER, Instrument, KDRVX_INSTRUMENT_CAPACITY);
KDRVX_CAPACITY_OF(RVX_HEADER, SnrInstrument, KDRVX_SNR_INSTRUMENT_CAPACITY);
KDRVX_CAPACITY_OF(RVX_HEADER, NameMeasurement, KDRVX_NAME_MEASUREMENT_CAPACITY);
KDRVX_CAPACITY_OF(RVX_HEADER, TriggerSetting, KDRVX_TRIGGER_SETTING_CAPACITY);
KDRVX_CAPACITY_OF(MGR_DEF, ChannelUnit, KDRVX_CHANNEL_UNIT_CAPACITY);
KDRVX_CAPACITY_OF(MGR_DEF, ChannelName, KDRVX_CHANNEL_NAME_CAPACITY);
KDRVX_CAPACITY_OF(MGR_DEF, ChannelNumber, KDRVX_CHANNEL_NUMBER_CAPACITY);
KDRVX_CAPACITY_OF(MGR_DEF, ChannelSignalType, KDRVX_CHANNEL_SIGNAL_TYPE_CAPACITY);
KDRVX_CAPACITY_OF(MGR_DEF, ChannelZeroPoint, KDRVX_CHANNEL_ZERO_POINT_CAPACITY);
KDRVX_CAPACITY_OF(MGR_DEF, ChannelCalParameter, KDRVX_CHANNEL_CAL_PARAMETER_CAPACITY);
KDRVX_CAPACITY_OF(MGR_DEF, ChannelFilter, KDRVX_CHANNEL_FILTER_CAPACITY);
KDRVX_CAPACITY_OF(MGR_DEF, ChannelLintab, KDRVX_CHANNEL_LINTAB_CAPACITY);

#undef KDRVX_CAPACITY_OF

// A variable is its prefix and letter, one unit each, and its index as a
// signed decimal number; the query adds no terminator, the capacity counts
// one.
using VariableIndex = decltype(MGR_DEF::VariableIndex);
constexpr size_t kLongestIndex = 1 + std::numeric_limits<VariableIndex>::digits10 + 1;  // "-128"
static_assert(sizeof MGR_DEF::VariablePrefix == sizeof(char16_t) &&
              sizeof MGR_DEF::VariableLetter == sizeof(char16_t));
static_assert(KDRVX_CHANNEL_VARIABLE_CAPACITY == 2 + kLongestIndex + 1,
              "KDRVX_CHANNEL_VARIABLE_CAPACITY does not hold the longest variable");

}  // namespace
}  // namespace kdrvx::read
