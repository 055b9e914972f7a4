"""Properties of create -> append -> close -> read, over recordings that
Hypothesis makes up: channel sets with any texts, values of every kind of
float32 (NaN payloads, infinities, signed zeros, denormals), blocks of any
size, both layouts, any scan interval, start and trigger record.

Each recording reads back exactly as given - every text and number of the
header and the channels, and every value bit for bit - or is refused with
ValueError, after which no file is left. A recording that reads back
different from what was given, or a refusal of another kind, fails.

The examples are fixed (derandomized, no example database) and few, so that
the suite stays quick and repeatable; KDRVX_PROPERTY_EXAMPLES=N runs N
random examples instead, for a longer search (see docs/reliability.md).
"""

import datetime
import os
import tempfile
import warnings
from typing import Any, Dict, List, Set

import numpy as np
from hypothesis import HealthCheck, event, example, given, settings
from hypothesis import strategies as st
from hypothesis.configuration import set_hypothesis_home_dir

import kdrvx
from kdrvx.errors import RvxWarning

# Hypothesis keeps caches in a folder of its own, which is not to land in
# the source tree.
set_hypothesis_home_dir(os.path.join(tempfile.gettempdir(), "kdrvx-hypothesis"))
_CAMPAIGN = int(os.environ.get("KDRVX_PROPERTY_EXAMPLES", "0"))
PROFILE = settings(
    max_examples=_CAMPAIGN or 100,
    derandomize=not _CAMPAIGN,
    database=None,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)

# Float32 bit patterns that a recording must keep as they are.
SPECIAL_BITS = [
    0x7FC00000, 0xFFC00000, 0x7FC00123, 0x7F800001, 0xFFBFFFFF, 0x7FFFFFFF,  # NaNs
    0x7F800000, 0xFF800000,  # infinities
    0x00000000, 0x80000000,  # zeros
    0x00000001, 0x807FFFFF, 0x00400000,  # denormals
    0x7F7FFFFF, 0xFF7FFFFF, 0x00800000,  # extremes
]


def mostly(usual: Any, rare: Any) -> Any:
    """`usual` seven times in eight, else `rare`: most examples reach the
    file, some probe what is refused."""
    return st.integers(0, 7).flatmap(lambda pick: rare if pick == 0 else usual)


bit_patterns = st.one_of(st.sampled_from(SPECIAL_BITS), st.integers(0, 2**32 - 1))

# Any Unicode, lone surrogates and controls included: most such texts are
# refused.
any_text = st.text(st.characters(blacklist_categories=()), max_size=40)
# Texts that fit their fields: Latin-1 for the compact layout, any character
# of the Basic Multilingual Plane for the current one.
LIMITS = {"unit": 10, "name": 23, "number": 3, "signal_type": 31, "zero_point": 15, "range": 127,
          "filter": 31, "linearisation_table": 199, "comment": 291, "company": 63,
          "instrument": 62, "serial_number": 15, "measurement_name": 23, "trigger_setting": 63}
LATIN_1 = st.characters(min_codepoint=32, max_codepoint=255, blacklist_categories=("Cc",))
BMP = st.characters(min_codepoint=32, max_codepoint=0xFFFF, blacklist_categories=("Cs", "Cc"))


# The compact layout's comment is shorter.
LEGACY_COMMENT_LIMIT = 219


def fitting_text(key: str, legacy: bool) -> Any:
    limit = LEGACY_COMMENT_LIMIT if legacy and key == "comment" else LIMITS[key]
    return st.text(LATIN_1 if legacy else BMP, max_size=limit)




def fitting_variables(legacy: bool) -> Any:
    """One or two letters and a number from 1 to 127; the compact layout
    keeps Latin-1 letters and numbers up to 63."""
    letters = ["p", "T", "dp", "F", "n", "U", "dT", "\u00b5"] + ([] if legacy else ["\u03a9x"])
    return st.builds("{}{}".format, st.sampled_from(letters), st.integers(1, 63 if legacy else 127))


@st.composite
def channel_sets(draw: Any, legacy: bool, wild: bool) -> List[Dict[str, Any]]:
    count = draw(st.integers(1, 6))
    names = draw(st.lists(any_text if wild else fitting_variables(legacy), min_size=count,
                          max_size=count, unique=not wild))
    channels = []
    for variable in names:
        channel: Dict[str, Any] = {"variable": variable}
        for key in ("unit", "name", "number", "signal_type", "range", "zero_point", "filter",
                    "linearisation_table"):
            if draw(st.integers(0, 2)) == 0:
                channel[key] = draw(any_text if wild else fitting_text(key, legacy))
        if not legacy and draw(st.integers(0, 4)) == 0:
            channel["multichannel_bits"] = draw(st.integers(1, 32))
        channels.append(channel)
    return channels


def fitting_bits(bits: int, draw: Any) -> int:
    """A bit field of `bits` bits, now and then one that sets a bit beyond."""
    if draw(st.integers(0, 49)) == 0:
        return draw(st.integers(0, 2**32 - 1))
    return draw(st.integers(0, 2**bits - 1))


@st.composite
def recordings(draw: Any) -> Dict[str, Any]:
    legacy = draw(st.integers(0, 2)) == 0
    wild = draw(st.integers(0, 7)) == 0
    channels = draw(channel_sets(legacy, wild))
    count = draw(st.integers(0, 40))
    values = np.zeros((count, len(channels)), dtype=np.uint32)
    for row in range(count):
        for column, channel in enumerate(channels):
            bits = channel.get("multichannel_bits", 0)
            values[row, column] = fitting_bits(bits, draw) if bits else draw(bit_patterns)
    cuts = sorted(draw(st.lists(st.integers(0, count), max_size=4)))
    start = draw(mostly(
        st.one_of(st.none(), st.datetimes(datetime.datetime(1980, 1, 1),
                                          datetime.datetime(2100, 12, 31)).map(
            lambda moment: moment.replace(microsecond=0))),
        st.datetimes(datetime.datetime(1, 1, 1), datetime.datetime(9999, 12, 31))))
    if start is not None and legacy and draw(st.booleans()):
        start = start.replace(second=0)  # the compact layout keeps whole minutes
    return {
        "legacy": legacy,
        "language": draw(st.sampled_from(["de", "en", "fr", None])) if legacy else "en",
        "channels": channels,
        "values": values.view(np.float32),
        "blocks": [b - a for a, b in zip([0] + cuts, cuts + [count])],
        "one_by_one": draw(st.booleans()),
        "scan_interval_us": draw(mostly(st.integers(1, 10**6 if legacy else 2**32 - 1),
                                        st.integers(-2**63, 2**63 - 1))),
        "start": start,
        "trigger_record": draw(mostly(st.one_of(st.none(), st.integers(0, count)),
                                      st.integers(-2**40, 2**40))),
        "original": legacy or draw(st.booleans()),  # the compact layout has no mark
        "texts": {key: draw(any_text if wild else fitting_text(key, legacy))
                  for key in draw(st.sets(st.sampled_from(
                      ["comment", "company", "instrument", "serial_number", "measurement_name",
                       "trigger_setting"])))},
    }


def dropped_fields(heard: List[Any]) -> Set[str]:
    """The fields that create said the layout keeps nowhere ("company;
    channel p1: name, filter"), as "company" and "channel p1: name"."""
    dropped: Set[str] = set()
    for warning in heard:
        if not issubclass(warning.category, RvxWarning):
            continue
        for part in str(warning.message).split("without them: ", 1)[-1].split("; "):
            owner, _, fields = part.rpartition(": ")
            dropped.update((owner + ": " if owner else "") + field for field in fields.split(", "))
    return dropped


def left_in(directory: str) -> List[str]:
    return sorted(os.listdir(directory))


def append_all(writer: Any, made: Dict[str, Any]) -> None:
    values, at = made["values"], 0
    for size in made["blocks"]:
        block = values[at:at + size]
        if made["one_by_one"]:
            for record in block:
                writer.append(record)
        else:
            writer.append(block)
        at += size


def check_read_back(path: str, made: Dict[str, Any], dropped: Set[str]) -> None:
    # A compact recording without a summary file is read with a warning that
    # says which texts it lacks.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RvxWarning)
        with kdrvx.open(path) as recording:
            header, channels = recording.header, recording.channels
            values = recording.read()
    assert header.record_count == len(made["values"])
    assert header.scan_interval_us == made["scan_interval_us"]
    assert header.original == made["original"]
    assert header.trigger_record == (made["trigger_record"] or 0)
    if made["start"] is not None:
        assert header.start == made["start"]
    assert len(channels) == len(made["channels"])
    for channel, given in zip(channels, made["channels"]):
        assert channel.variable == given["variable"]
        assert channel.multichannel_bits == given.get("multichannel_bits", 0)
        for key, text in given.items():
            if isinstance(text, str) and "channel %s: %s" % (given["variable"], key) not in dropped:
                assert getattr(channel, key) == text, key
    for key, text in made["texts"].items():
        if key not in dropped:
            assert getattr(header, key) == text, key
    assert values.shape == made["values"].shape
    assert values.view(np.uint32).tobytes() == made["values"].view(np.uint32).tobytes()


def made_by_hand(**given: Any) -> Dict[str, Any]:
    """A recording of one channel and two records, with `given` changed."""
    made = {"legacy": False, "language": "en", "channels": [{"variable": "p1"}],
            "values": np.array([[1.5], [-0.0]], dtype=np.float32), "blocks": [2],
            "one_by_one": False, "scan_interval_us": 1000, "start": None, "trigger_record": None,
            "original": True, "texts": {}}
    made.update(given)
    return made


@PROFILE
@given(recordings())
# The compact layout keeps whole minutes: a start on the minute was refused.
@example(made_by_hand(legacy=True, start=datetime.datetime(2024, 3, 7, 9, 5)))
def test_a_recording_reads_back_exactly_or_is_refused_before_it_is_written(
        made: Dict[str, Any]) -> None:
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "r.rvx")
        with warnings.catch_warnings(record=True) as heard:
            warnings.simplefilter("always", RvxWarning)
            try:
                writer = kdrvx.create(
                    path, made["channels"], made["scan_interval_us"], legacy=made["legacy"],
                    language=made["language"], original=made["original"], start=made["start"],
                    trigger_record=made["trigger_record"], **made["texts"])
            except ValueError as refusal:
                event("refused by create: %s" % str(refusal).split(" ")[0])
                assert left_in(directory) == []
                return
        dropped = dropped_fields(heard)
        try:
            append_all(writer, made)
        except ValueError:
            event("refused by append")
            writer.discard()
            assert left_in(directory) == []
            return
        writer.close()
        event("read back, %s layout" % ("compact" if made["legacy"] else "current"))
        check_read_back(path, made, dropped)
