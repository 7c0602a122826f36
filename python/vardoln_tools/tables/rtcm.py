"""An RTCM 3 stream as a loaded recording: its observation epochs (C/N0 and pseudorange per
signal, MSM4 to MSM7 and the legacy 1002/1004/1010/1012 messages) read by the native reader, so
every table, the analysis and the judge take it like an observation file."""

from __future__ import annotations

import os

from .. import _native
from . import roles
from .recording import Loaded


def read(path_or_bytes: str | os.PathLike[str] | bytes, gps_week: int | None = None) -> Loaded:
    """The recording of an RTCM 3 stream, given as a path or as its bytes.

    ``gps_week`` is the GPS week of the stream's first epoch: the messages carry only the time of
    week, so without it the epochs have no date and ValueError is raised. The week counts on
    when the time of week wraps. No navigation data come with it.
    """
    if isinstance(path_or_bytes, bytes):
        native = _native.read_rtcm(path_or_bytes, gps_week)
        name = "<RTCM 3 bytes>"
    else:
        name = os.fsdecode(os.fspath(path_or_bytes))
        native = _native.read_rtcm(name, gps_week)
    return Loaded(obs_path=name, nav_paths=[], obs_kind=roles.FileKind("observation", "an RTCM 3 stream"),
                  native=native, obs_bytes=b"")
