"""What a batch keeps of each recording for the station history: the store's rows, made where the
recording was judged (a worker process or a Dask worker) and handed back with its row to the one
process that writes the store; and, when asked, the recording's HTML report, named by station and
day."""

from __future__ import annotations

import datetime
import os
from collections.abc import Mapping
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any

from .entry import Entry, entry_for

if TYPE_CHECKING:
    from ..judge.assessment import Assessment
    from ..tables import recording

# The key of a row that carries its recording's store rows from the worker; taken off before the
# row is written anywhere.
ENTRY_KEY = "_history_entry"


def report_name(station: str, start_ns: int) -> str:
    """The file name of a recording's report: station and UTC day, and the start time when the
    recording does not start at midnight (hourly files, windows)."""
    start = datetime.datetime.fromtimestamp(start_ns / 1e9, tz=datetime.timezone.utc)
    safe = "".join(character if character.isalnum() else "_" for character in station) or "station"
    clock = "" if (start.hour, start.minute, start.second) == (0, 0, 0) else start.strftime("_%H%M%S")
    return f"{safe}_{start:%Y-%m-%d}{clock}.html"


@dataclass(frozen=True)
class Keeping:
    """How a batch keeps its recordings: the settings they are judged with (as stored), the
    --station override and the directory of the reports (None: no reports)."""

    settings: Mapping[str, Any] = field(default_factory=dict)
    station: str | None = None
    report_dir: str | None = None

    def entry(self, loaded: recording.Loaded, judged: Assessment | None, stream: str | None = None) -> Entry | None:
        """The store's rows of a recording file, or with `stream` of a live stream's window."""
        entry = entry_for(loaded, judged, self.settings, station=self.station, stream=stream)
        if entry is not None and self.report_dir is not None and judged is not None:
            entry.recording["report"] = self._write_report(entry, judged)
        return entry

    def _write_report(self, entry: Entry, judged: Assessment) -> str:
        from ..judge.assessment import created_now
        from ..render import report

        images: list[tuple[str, str, bytes]] = []
        problem = None
        try:
            from ..render import plots

            images = plots.render_all(judged)
        except ImportError as missing:
            problem = f"no plots: {missing}"
        assert self.report_dir is not None
        os.makedirs(self.report_dir, exist_ok=True)
        path = os.path.join(self.report_dir, report_name(entry.recording["station"], entry.recording["start_ns"]))
        temporary = f"{path}.{os.getpid()}.tmp"
        with open(temporary, "w", encoding="utf-8") as file:
            file.write(report.html_report(judged, images, problem, created_now()))
        os.replace(temporary, path)
        return os.path.abspath(path)
