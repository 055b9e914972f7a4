"""RVX files of every header layout, written byte by byte at the offsets of the
layouts (independently of the library), with their data records and RVI files."""

from __future__ import annotations

import struct
from dataclasses import dataclass, field
from pathlib import Path
from typing import List, Sequence, Tuple


class Image:
    """A file image under construction; fields are little-endian."""

    def __init__(self, size: int = 0):
        self.data = bytearray(size)

    def _room(self, end: int) -> None:
        if len(self.data) < end:
            self.data.extend(bytes(end - len(self.data)))

    def put(self, at: int, fmt: str, value) -> "Image":
        raw = struct.pack("<" + fmt, value)
        self._room(at + len(raw))
        self.data[at:at + len(raw)] = raw
        return self

    def u8(self, at, value):
        return self.put(at, "B", value)

    def u16(self, at, value):
        return self.put(at, "H", value)

    def u32(self, at, value):
        return self.put(at, "I", value)

    def f32(self, at, value):
        return self.put(at, "f", value)

    def text8(self, at: int, text: str) -> "Image":
        raw = text.encode("latin-1")
        self._room(at + len(raw))
        self.data[at:at + len(raw)] = raw
        return self

    def text16(self, at: int, text: str) -> "Image":
        raw = text.encode("utf-16-le")
        self._room(at + len(raw))
        self.data[at:at + len(raw)] = raw
        return self

    def bytes(self) -> bytes:
        return bytes(self.data)


@dataclass
class TestChannel:
    __test__ = False  # a test file's description, not a test class

    letter: str = "p"
    prefix: str = ""
    index: int = 1
    code: int = 0x01  # variable code byte of the older layouts
    unit: str = ""
    ind_rate: int = 1
    minimum: float = 0.0
    maximum: float = 0.0
    mean: float = 0.0
    rms: float = 0.0
    multichannel: int = 0
    isds: int = 0
    linearisation: int = 0
    name: str = ""
    number: str = ""
    signal_type: str = ""
    zero_point: str = ""
    cal_parameter: str = ""
    filter: str = ""
    lintab: str = ""


@dataclass
class TestRecording:
    __test__ = False

    version: int = ord("s")
    original_flag: int = ord("W")
    year: int = 2004
    month: int = 7
    day: int = 3
    hour: int = 9
    minute: int = 5
    second: int = 255
    records: int = 0
    trigger_record: int = 0
    scan_rate: int = 10
    flags: int = 0
    flag_statistics: int = 0
    comment: str = ""
    company: str = ""
    instrument: str = ""
    snr_instrument: str = ""
    name_measurement: str = ""
    trigger_setting: str = ""
    channels: List[TestChannel] = field(default_factory=list)


def current_header(r: TestRecording) -> bytes:
    n = len(r.channels)
    image = Image(1500 + 1400 * n)
    image.u8(4, r.version).u8(5, r.original_flag).u16(8, (1500 + 1400 * n) % 65536)
    image.u16(10, r.year).u8(12, r.month).u8(13, r.day).u8(14, r.hour).u8(15, r.minute)
    image.u8(16, r.second).u16(18, 0xFFFF).u32(20, r.records).u32(24, r.trigger_record)
    image.u32(32, r.scan_rate).u8(36, n).u8(37, r.flag_statistics).u8(38, r.flags)
    image.text16(48, r.comment).text16(632, r.company).text16(760, r.instrument)
    image.text16(888, r.snr_instrument).text16(920, r.name_measurement).text16(968, r.trigger_setting)
    for k, c in enumerate(r.channels):
        at = 1500 + 1400 * k
        image.u32(at, c.ind_rate).u16(at + 6, ord(c.letter)).u16(at + 8, ord(c.prefix) if c.prefix else 0)
        image.u8(at + 10, c.index).u8(at + 12, c.multichannel)
        image.text16(at + 14, c.unit).text16(at + 38, c.name).text16(at + 86, c.number)
        image.text16(at + 94, c.signal_type).text16(at + 158, c.zero_point)
        image.text16(at + 190, c.cal_parameter).text16(at + 446, c.filter)
        image.u8(at + 510, c.isds).u8(at + 511, c.linearisation).text16(at + 514, c.lintab)
        image.f32(at + 1380, c.minimum).f32(at + 1384, c.maximum)
        image.f32(at + 1388, c.mean).f32(at + 1392, c.rms)
    return image.bytes()


def _win3_prefix(image: Image, r: TestRecording, header_size: int) -> None:
    image.u8(4, r.version).u8(5, r.original_flag).u16(8, header_size).u16(10, r.year)
    image.u8(12, r.month).u8(13, r.day).u8(14, r.hour).u8(15, r.minute).u32(16, r.records)
    image.u32(20, r.trigger_record).u32(28, r.scan_rate).u8(32, len(r.channels))
    image.u8(33, r.flag_statistics).u8(34, r.flags)


def win3_header(r: TestRecording) -> bytes:
    """WIN 3.x/4.x, also the compact layout (version 64): 8-bit texts."""
    size = 328 + 28 * len(r.channels)
    image = Image(size)
    _win3_prefix(image, r, size)
    image.text8(36, r.comment)
    for k, c in enumerate(r.channels):
        at = 328 + 28 * k
        image.u16(at, c.ind_rate).u8(at + 4, ord(c.letter)).u8(at + 5, c.code).text8(at + 6, c.unit)
        image.f32(at + 20, c.minimum).f32(at + 24, c.maximum)
    return image.bytes()


def win6_header(r: TestRecording) -> bytes:
    size = 620 + 40 * len(r.channels)
    image = Image(size)
    _win3_prefix(image, r, size)
    image.text16(36, r.comment)
    for k, c in enumerate(r.channels):
        at = 620 + 40 * k
        image.u16(at, c.ind_rate).u16(at + 4, ord(c.letter)).u8(at + 6, c.code).text16(at + 8, c.unit)
        image.f32(at + 32, c.minimum).f32(at + 36, c.maximum)
    return image.bytes()


def win2_header(r: TestRecording, comment_lines: Sequence[str] = ("", "", "", "")) -> bytes:
    size = 320 + 24 * len(r.channels)
    image = Image(size)
    image.u8(4, r.version).u8(5, r.original_flag).u16(6, size).u16(8, r.year)
    image.u8(10, r.month).u8(11, r.day).u8(12, r.hour).u8(13, r.minute).u32(14, r.records)
    image.u32(20, r.scan_rate).u8(24, len(r.channels)).u8(25, r.flag_statistics).u8(26, r.flags)
    for line, text in enumerate(comment_lines):
        image.text8(28 + 73 * line, text)
    for k, c in enumerate(r.channels):
        at = 320 + 24 * k
        image.u16(at, c.ind_rate).u8(at + 4, ord(c.letter)).u8(at + 5, c.code).text8(at + 6, c.unit)
        image.f32(at + 16, c.minimum).f32(at + 20, c.maximum)
    return image.bytes()


def dos_before_50_header(scan_rate_ms: int, channels: Sequence[Tuple[str, int]]) -> bytes:
    """Oldest DOS layout: scan rate, (letter, code) per channel, '.' ends the list."""
    image = Image()
    image.u32(0, scan_rate_ms)
    for k, (letter, code) in enumerate(channels):
        image.u8(4 + 4 * k, ord(letter)).u8(5 + 4 * k, code).u16(6 + 4 * k, 0)
    n = len(channels)
    return image.u8(4 + 4 * n, ord(".")).u8(5 + 4 * n, 0).bytes()


def dos_kind_q_header(data_offset: int, records: int, channels: int) -> bytes:
    return Image(data_offset).u8(4, ord("Q")).u16(6, data_offset).u32(14, records).u8(24, channels).bytes()


def dos_kind_p_header(data_offset: int, records: int, scan_rate_ms: int,
                      channels: Sequence[Tuple[str, int]]) -> bytes:
    image = Image(data_offset)
    image.u8(4, ord("P")).u16(5, data_offset).u32(13, records).u32(19, scan_rate_ms).u8(23, len(channels))
    for k, (letter, index) in enumerate(channels):
        image.u8(323 + 8 * k, ord(letter)).u8(324 + 8 * k, index)
    return image.bytes()


def float_records(records) -> bytes:
    import numpy as np
    return np.asarray(records, dtype="<f4").tobytes()


def dos_records(records: Sequence[Sequence[Tuple[int, int]]]) -> bytes:
    """Records of (mantissa, decimal count) entries."""
    return b"".join(struct.pack("<hH", mantissa, decimals) for record in records
                    for mantissa, decimals in record)


def rvi_path(rvx: Path) -> Path:
    """The RVI file the library looks for: the last three characters become RVI."""
    return rvx.with_name(rvx.name[:-3] + "RVI")


def write(path: Path, *parts: bytes) -> Path:
    path.write_bytes(b"".join(parts))
    return path
