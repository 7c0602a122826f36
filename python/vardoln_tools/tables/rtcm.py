"""An RTCM 3 stream as a loaded recording: its observation epochs (C/N0 and pseudorange per
signal, MSM4 to MSM7 and the legacy 1002/1004/1010/1012 messages) read by the native reader, so
every table, the analysis and the judge take it like an observation file."""

from __future__ import annotations

import datetime
import os
import time
from collections.abc import Callable
from dataclasses import dataclass

from .. import _native
from . import roles
from .recording import Loaded


GPS_EPOCH = datetime.datetime(1980, 1, 6, tzinfo=datetime.timezone.utc)
WEEK_MS = 604_800_000
# GPS - UTC from the start of 2017 on: only used to read this computer's clock as GPS time.
GPS_UTC_LEAP_S = 18


def gps_ms_of(when: datetime.datetime) -> int:
    """A time (GPS time; naive means UTC-labelled GPS time) as milliseconds since the GPS epoch."""
    when = when if when.tzinfo is not None else when.replace(tzinfo=datetime.timezone.utc)
    return (when - GPS_EPOCH) // datetime.timedelta(milliseconds=1)


def gps_ms_text(gps_ms: int) -> str:
    """GPS milliseconds since the GPS epoch as the outputs write epochs (GPS time, as the epochs
    of an observation file are written): "2024-05-03T12:00:00.000Z"."""
    when = GPS_EPOCH + datetime.timedelta(milliseconds=gps_ms)
    return when.strftime("%Y-%m-%dT%H:%M:%S.") + f"{when.microsecond // 1000:03d}Z"


def clock_gps_ms(clock: Callable[[], float] = time.time) -> int:
    """This computer's clock (UTC) as GPS milliseconds."""
    return int(clock() * 1000) + GPS_UTC_LEAP_S * 1000 - gps_ms_of(datetime.datetime(1970, 1, 1))


def read(path_or_bytes: str | os.PathLike[str] | bytes, gps_week: int | None = None) -> Loaded:
    """The recording of an RTCM 3 stream, given as a path or as its bytes, with the broadcast
    ephemerides it carries as its navigation data.

    ``gps_week`` is the GPS week of the stream's first epoch: the messages carry only the time of
    week. Without it the stream's own ephemerides date it (their truncated weeks read near this
    computer's clock); a stream without any raises ValueError. The week counts on when the time
    of week wraps.
    """
    near = None if gps_week is not None else clock_gps_ms()
    if isinstance(path_or_bytes, bytes):
        native = _native.read_rtcm(path_or_bytes, gps_week, near)
        name = "<RTCM 3 bytes>"
    else:
        name = os.fsdecode(os.fspath(path_or_bytes))
        native = _native.read_rtcm(name, gps_week, near)
    return Loaded(obs_path=name, nav_paths=[], obs_kind=roles.FileKind("observation", "an RTCM 3 stream"),
                  native=native, obs_bytes=b"")


def write(loaded: Loaded, msm: int = 7, station: int = 0) -> bytes:
    """The recording as an RTCM 3 stream: per epoch one MSM``msm`` message (4 to 7) per
    constellation, more when its cells pass 64; 1005 and 1033 for reference station ``station``
    first and every 30 s of stream time; the ephemerides of its navigation data, when loaded with
    some, after the first station messages. Values go in the messages' own steps (see the guide,
    ``vardoln-cn0 rtcm``)."""
    return _native.write_rtcm(loaded.native, msm, station)


@dataclass(frozen=True)
class StreamContents:
    """What a written stream holds: ``epochs``, the epochs with observation messages, and
    ``messages``, the frames by message type."""

    epochs: int
    messages: dict[int, int]


def contents(stream: bytes) -> StreamContents:
    """The epochs and messages of a stream written by :func:`write`, from the frames' headers
    (whole frames only; the CRC is not checked, the native reader does that)."""
    counts: dict[int, int] = {}
    epochs = 0
    at = 0
    while at + 6 <= len(stream):
        if stream[at] != 0xD3:  # not a frame start: look on from the next byte
            at += 1
            continue
        length = ((stream[at + 1] & 0x03) << 8) | stream[at + 2]
        if length < 7 or at + 6 + length > len(stream):
            break
        message_type = (stream[at + 3] << 4) | (stream[at + 4] >> 4)
        counts[message_type] = counts.get(message_type, 0) + 1
        # An MSM (1071 to 1137) without its multiple-message bit (payload bit 54) closes an epoch.
        if 1071 <= message_type <= 1137 and message_type % 10 in (4, 5, 6, 7) and not stream[at + 9] & 0x02:
            epochs += 1
        at += 6 + length
    return StreamContents(epochs, counts)
