"""The header's and the channels' fields as the binding names them: the
keyword of create() and the attribute of Header and Channel, the setter of
the library that stores the field, and its member in the library's structs
(KDRVX_Plan and KDRVX_RecordingInfo for the header, KDRVX_PlannedChannel and
KDRVX_ChannelInfo for a channel). Writing and reading both go by these
tables."""

from typing import Dict, Tuple

# Header texts: keyword -> (setter, member).
HEADER_TEXTS: Dict[str, Tuple[str, str]] = {
    "comment": ("KDRVX_SetComment", "comment"),
    "company": ("KDRVX_SetCompany", "company"),
    "instrument": ("KDRVX_SetInstrument", "instrument"),
    "serial_number": ("KDRVX_SetSnrInstrument", "snrInstrument"),
    "measurement_name": ("KDRVX_SetNameMeasurement", "nameMeasurement"),
    "trigger_setting": ("KDRVX_SetTriggerSetting", "triggerSetting"),
}

# Channel texts that a channel description may give: key -> (setter, member).
CHANNEL_TEXTS: Dict[str, Tuple[str, str]] = {
    "unit": ("KDRVX_SetChannelUnit", "unit"),
    "name": ("KDRVX_SetChannelName", "name"),
    "number": ("KDRVX_SetChannelNumber", "number"),
    "signal_type": ("KDRVX_SetChannelSignalType", "signalType"),
    "range": ("KDRVX_SetChannelCalParameter", "calParameter"),
    "zero_point": ("KDRVX_SetChannelZeroPoint", "zeroPoint"),
    "filter": ("KDRVX_SetChannelFilter", "filter"),
    "linearisation_table": ("KDRVX_SetChannelLintab", "lintab"),
}

# Channel values that a channel description may give: key -> (setter, member).
CHANNEL_VALUES: Dict[str, Tuple[str, str]] = {
    "individual_rate": ("KDRVX_SetChannelIndRate", "indRate"),
    "isds": ("KDRVX_SetChannelISDS", "isds"),
    "linearisation": ("KDRVX_SetChannelLinearisation", "linearisation"),
}
