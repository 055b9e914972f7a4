#include "shared/fields.h"

#include <utility>

#include "shared/utf.h"

namespace rvx {

namespace {


// A zero-terminated text of one of the reader's structs.
template <auto Member, typename Struct>
std::string textOf(const Struct& info) {
  const auto& field = info.*Member;
  const auto* units = reinterpret_cast<const char16_t*>(field);
  size_t length = 0;
  while (length < std::size(field) && units[length] != 0) ++length;
  return toUtf8(std::u16string_view(units, length));
}

using R = KDRVX_RecordingInfo;
using C = KDRVX_ChannelInfo;

const HeaderField kHeaderFields[] = {
    {"comment", "#comment", "comment", "comment", &RecordingInfo::comment, textOf<&R::comment, R>,
     KDRVX_SetComment, &KDRVX_Plan::comment, KDRVX_FIELD_COMMENT, KDRVX_COMMENT_LIMIT},
    {"company", "#company", "company", "company", &RecordingInfo::company, textOf<&R::company, R>,
     KDRVX_SetCompany, &KDRVX_Plan::company, KDRVX_FIELD_COMPANY, KDRVX_COMPANY_LIMIT},
    {"instrument", "#instrument", "instrument", "instrument", &RecordingInfo::instrument,
     textOf<&R::instrument, R>, KDRVX_SetInstrument, &KDRVX_Plan::instrument,
     KDRVX_FIELD_INSTRUMENT, KDRVX_INSTRUMENT_LIMIT},
    {"serial number", "#serial number", "serial_number", "serial_number",
     &RecordingInfo::serialNumber, textOf<&R::snrInstrument, R>, KDRVX_SetSnrInstrument,
     &KDRVX_Plan::snrInstrument, KDRVX_FIELD_SNR_INSTRUMENT, KDRVX_SNR_INSTRUMENT_LIMIT},
    {"measurement name", "#measurement name", "name_measurement", "measurement_name",
     &RecordingInfo::nameMeasurement, textOf<&R::nameMeasurement, R>, KDRVX_SetNameMeasurement,
     &KDRVX_Plan::nameMeasurement, KDRVX_FIELD_NAME_MEASUREMENT, KDRVX_NAME_MEASUREMENT_LIMIT},
    {"trigger setting", "#trigger setting", "trigger_setting", "trigger_setting",
     &RecordingInfo::triggerSetting, textOf<&R::triggerSetting, R>, KDRVX_SetTriggerSetting,
     &KDRVX_Plan::triggerSetting, KDRVX_FIELD_TRIGGER_SETTING, KDRVX_TRIGGER_SETTING_LIMIT},
};

const ChannelField kChannelFields[] = {
    // The variable follows rules of its own, which KDRVX_AddChannel applies.
    {"variable", "variable", &ChannelInfo::variable, textOf<&C::variable, C>, nullptr,
     &KDRVX_PlannedChannel::variable, KDRVX_FIELD_CHANNEL_VARIABLE, 0, true},
    {"unit", "unit", &ChannelInfo::unit, textOf<&C::unit, C>, KDRVX_SetChannelUnit,
     &KDRVX_PlannedChannel::unit, KDRVX_FIELD_CHANNEL_UNIT, KDRVX_CHANNEL_UNIT_LIMIT, true},
    {"name", "name", &ChannelInfo::name, textOf<&C::name, C>, KDRVX_SetChannelName,
     &KDRVX_PlannedChannel::name, KDRVX_FIELD_CHANNEL_NAME, KDRVX_CHANNEL_NAME_LIMIT, true},
    {"number", "number", &ChannelInfo::number, textOf<&C::number, C>, KDRVX_SetChannelNumber,
     &KDRVX_PlannedChannel::number, KDRVX_FIELD_CHANNEL_NUMBER, KDRVX_CHANNEL_NUMBER_LIMIT, true},
    {"signal type", "signal_type", &ChannelInfo::signalType, textOf<&C::signalType, C>,
     KDRVX_SetChannelSignalType, &KDRVX_PlannedChannel::signalType, KDRVX_FIELD_CHANNEL_SIGNAL_TYPE,
     KDRVX_CHANNEL_SIGNAL_TYPE_LIMIT, true},
    {"range", "range", &ChannelInfo::calParameter, textOf<&C::calParameter, C>,
     KDRVX_SetChannelCalParameter, &KDRVX_PlannedChannel::calParameter,
     KDRVX_FIELD_CHANNEL_CAL_PARAMETER, KDRVX_CHANNEL_CAL_PARAMETER_LIMIT, true},
    {"zero point", "zero_point", &ChannelInfo::zeroPoint, textOf<&C::zeroPoint, C>,
     KDRVX_SetChannelZeroPoint, &KDRVX_PlannedChannel::zeroPoint, KDRVX_FIELD_CHANNEL_ZERO_POINT,
     KDRVX_CHANNEL_ZERO_POINT_LIMIT, true},
    {"filter", "filter", &ChannelInfo::filter, textOf<&C::filter, C>, KDRVX_SetChannelFilter,
     &KDRVX_PlannedChannel::filter, KDRVX_FIELD_CHANNEL_FILTER, KDRVX_CHANNEL_FILTER_LIMIT, true},
    {"linearisation table", "linearisation_table", &ChannelInfo::lintab, textOf<&C::lintab, C>,
     KDRVX_SetChannelLintab, &KDRVX_PlannedChannel::lintab, KDRVX_FIELD_CHANNEL_LINTAB,
     KDRVX_CHANNEL_LINTAB_LIMIT, false},
};

// The fields of a plan that no table of texts holds.
constexpr std::pair<uint32_t, const char*> kOtherFields[] = {
    {KDRVX_FIELD_PATH, "path"},
    {KDRVX_FIELD_DATE, "date"},
    {KDRVX_FIELD_TIME, "time"},
    {KDRVX_FIELD_SCAN_RATE, "scan interval"},
    {KDRVX_FIELD_TRIGGER_RECORD, "trigger record"},
    {KDRVX_FIELD_CHANNELS, "channel count"},
    {KDRVX_FIELD_CHANNEL_IND_RATE, "individual rate"},
    {KDRVX_FIELD_CHANNEL_ISDS, "ISDS flag"},
    {KDRVX_FIELD_CHANNEL_LINEARISATION, "linearisation"},
    {KDRVX_FIELD_CHANNEL_MULTICHANNEL, "multichannel"},
    {KDRVX_FIELD_ORIGINAL, "mark 'not an original recording'"},
};

}  // namespace

std::span<const HeaderField> headerFields() { return kHeaderFields; }
std::span<const ChannelField> channelFields() { return kChannelFields; }

std::string fieldName(uint32_t field) {
  for (const HeaderField& header : kHeaderFields) {
    if (header.field == field) return header.what;
  }
  for (const ChannelField& channel : kChannelFields) {
    if (channel.field == field) return channel.what;
  }
  for (const auto& [id, what] : kOtherFields) {
    if (id == field) return what;
  }
  return "value";
}

size_t fieldLimit(std::string RecordingInfo::*text) {
  for (const HeaderField& field : kHeaderFields) {
    if (field.text == text) return field.limit;
  }
  return 0;
}

}  // namespace rvx
