"""A monitored stream kept as RINEX 3 files: hourly observation files made of the windows' own
frames (read by the stream reader, written by the core's writer) and the day's navigation file
of the ephemerides the stream carried, which the offline commands read like any other."""

from __future__ import annotations

import datetime
import os
import re
from dataclasses import dataclass, field
from typing import Any

from .. import _native
from ..tables.rtcm import GPS_EPOCH, WEEK_MS, gps_ms_of

HOUR_MS = 3_600_000
UNIX_MS_AT_GPS_EPOCH = gps_ms_of(datetime.datetime(1970, 1, 1)) * -1


def _file_stem(name: str) -> str:
    return re.sub(r"[^A-Za-z0-9_-]", "_", name) or "stream"


def _day_text(gps_ms: int, with_hour: bool) -> str:
    when = GPS_EPOCH + datetime.timedelta(milliseconds=gps_ms)
    return when.strftime("%Y%j%H00" if with_hour else "%Y%j0000")


@dataclass
class RinexFiles:
    """The hourly files of one stream: windows are kept until their hour is over."""

    directory: str
    name: str
    windows: list[dict[str, Any]] = field(default_factory=list)
    written: list[str] = field(default_factory=list)

    def add(self, window: dict[str, Any], navigation: Any) -> list[str]:
        """Takes a window's frames; writes the hours that ended before it. The paths written."""
        hour = window["first_ms"] // HOUR_MS
        done = [kept for kept in self.windows if kept["last_ms"] // HOUR_MS < hour]
        paths = self._write(done, navigation) if done else []
        self.windows = [kept for kept in self.windows if kept not in done] + [window]
        return paths

    def finish(self, navigation: Any) -> list[str]:
        paths = self._write(self.windows, navigation)
        self.windows = []
        return paths

    def _write(self, windows: list[dict[str, Any]], navigation: Any) -> list[str]:
        if not windows:
            return []
        data = b"".join(window["bytes"] for window in windows)
        recording = _native.read_rtcm(data, windows[0]["first_ms"] // WEEK_MS)
        first = windows[0]["first_ms"] // HOUR_MS
        last = windows[-1]["last_ms"] // HOUR_MS
        stem = _file_stem(self.name)
        os.makedirs(self.directory, exist_ok=True)
        paths = []
        for hour in range(first, last + 1):
            # The epochs are GPS time: nanoseconds since 1970 on that scale.
            part = recording.between((hour * HOUR_MS + UNIX_MS_AT_GPS_EPOCH) * 1_000_000,
                                     ((hour + 1) * HOUR_MS + UNIX_MS_AT_GPS_EPOCH) * 1_000_000)
            if part.obs.num_epochs == 0:
                continue
            path = os.path.join(self.directory, f"{stem}_{_day_text(hour * HOUR_MS, True)}_01H_MO.rnx")
            with open(path, "w", encoding="ascii") as out:
                out.write(_native.write_rinex_obs(part, time_system="GPS"))
            paths.append(path)
        if navigation is not None:
            path = os.path.join(self.directory, f"{stem}_{_day_text(last * HOUR_MS, False)}_01D_MN.rnx")
            with open(path, "w", encoding="ascii") as out:
                out.write(_native.write_rinex_nav(navigation))
            paths.append(path)
        self.written += [path for path in paths if path not in self.written]
        return paths
