"""What the history keeps of one recording or live window: its identity, span and equipment, the
figures per constellation and signal, the detector's events, the health criteria and grade, and
the navigation coverage, as plain values that cross process boundaries (a batch's workers and a
Dask cluster hand them to the one process that writes the store)."""

from __future__ import annotations

import hashlib
import json
import math
import os
from collections.abc import Mapping
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any

import pandas as pd

from .._version import __version__
from ..tables import recording
from .identity import station_identity

if TYPE_CHECKING:
    from ..judge.assessment import Assessment
    from ..judge.quality_control import QcReport

# The grade as a number, for trends: A=4 ... F=0.
GRADE_VALUES = {"A": 4.0, "B": 3.0, "C": 2.0, "D": 1.0, "F": 0.0}
FILE, WINDOW = "file", "window"


@dataclass
class Entry:
    """One recording's rows for the store: `recording` (one row) and a list of rows per table."""

    recording: dict[str, Any]
    cn0: list[dict[str, Any]] = field(default_factory=list)
    completeness: list[dict[str, Any]] = field(default_factory=list)
    pairs: list[dict[str, Any]] = field(default_factory=list)
    events: list[dict[str, Any]] = field(default_factory=list)
    criteria: list[dict[str, Any]] = field(default_factory=list)
    coverage: list[dict[str, Any]] = field(default_factory=list)


def settings_key(settings: Mapping[str, Any]) -> str:
    """A short digest of the settings a recording was judged with: `batch --resume` skips a
    recording stored with the same key."""
    text = json.dumps(settings, sort_keys=True, separators=(",", ":"), default=str)
    return hashlib.sha256(text.encode()).hexdigest()[:16]


def _number(value: Any) -> float | None:
    if value is None or value is pd.NA:
        return None
    number = float(value)
    return number if math.isfinite(number) else None


def _nanoseconds(value: pd.Timestamp | None) -> int | None:
    return None if value is None or pd.isna(value) else int(value.value)


def _text(value: Any) -> str:
    return "" if value is None else str(value).strip()


def entry_of(report: QcReport, judged: Assessment | None, settings: Mapping[str, Any], *, stream: str | None = None,
             station: str | None = None) -> Entry | None:
    """The store's rows for a recording: its QC report (read with the recording's navigation data)
    and, when it had something to judge, its assessment. A recording file is named by its absolute
    path (what `batch --resume` compares); a live stream's window by the stream's name. `station`
    overrides the identity rule. None for a recording without a single dated epoch: it has no span
    to key it by."""
    start, end = _nanoseconds(report.start), _nanoseconds(report.end)
    if start is None or end is None:
        return None
    facts = report.facts
    named = os.path.abspath(report.obs_path) if stream is None else stream
    identity = station_identity(_text(report.station), named, station)
    antenna = _text(report.antenna)
    position = facts.get("receiver_position")
    x, y, z = position if position else (None, None, None)
    quality = None if judged is None else judged.quality
    recording: dict[str, Any] = {
        "station": identity.station, "start_ns": start, "end_ns": end, "interval_s": float(report.interval),
        "epochs": int(report.epochs), "kind": FILE if stream is None else WINDOW, "source": named, "identifier": identity.identifier,
        "marker_name": identity.marker_name, "marker_number": _text(facts.get("marker_number")),
        "receiver_type": _text(report.receiver),
        "receiver_version": _text(facts.get("receiver_version")),
        # The header's antenna field holds the type in 16 columns and the radome in the last 4.
        "antenna_type": antenna[:16].strip(), "antenna_radome": antenna[16:20].strip(),
        "position_x": x, "position_y": y, "position_z": z,
        "navigation": " + ".join(report.nav_paths) or None,
        "tool_version": __version__, "settings": json.dumps(dict(settings), sort_keys=True, default=str),
        "settings_key": settings_key(settings),
        "grade": None if quality is None else quality.grade,
        "grade_value": None if quality is None else GRADE_VALUES.get(quality.grade),
        "criteria_warned": None if quality is None else quality.warned,
        "criteria_failed": None if quality is None else quality.failed,
        "events": None if judged is None else len(judged.events),
        "jamming": None if judged is None else judged.jamming,
        "interference": None if judged is None else judged.interference,
        "spoofing": None if judged is None else judged.spoofing,
        "nav_coverage": None if judged is None or judged.coverage is None else _number(judged.coverage.percent),
        "confirmation": None if judged is None else _number(judged.confirmation_rate),
        "mean_cn0": None if judged is None else _number(judged.result.mean_cn0),
        "note": None if judged is not None else report.assessment_note,
    }
    entry = Entry(recording)
    by_code = report.cn0.by_constellation
    for system, code, samples, mean in zip(by_code.system, by_code.code, by_code.samples, by_code["mean"]):
        if int(samples) > 0:
            entry.cn0.append({"system": str(system), "code": str(code), "samples": int(samples), "mean": _number(mean)})
    if report.completeness is not None:
        table = report.completeness[report.completeness.predictable]
        for system, code, expected, observed in zip(table.system, table.code, table.expected, table.observed):
            if system != "all" and expected is not pd.NA:
                entry.completeness.append({"system": str(system), "code": str(code), "expected": int(expected),
                                           "observed": int(observed)})
    pairs = report.pairs
    row: Any
    for row in pairs.itertuples(index=False):
        entry.pairs.append({"system": str(row.system), "first": str(row.first), "second": str(row.second),
                            "samples": int(row.samples), "observations": int(row.observations),
                            "mp_first_rms": _number(row.mp_first_rms), "mp_second_rms": _number(row.mp_second_rms),
                            "slips": int(row.slips)})
    if judged is not None:
        for event in judged.events:
            entry.events.append({"type": event.type, "start": event.start, "end": event.end,
                                 "bands": "+".join(event.bands), "satellites": len(event.satellites),
                                 "drop_db": _number(event.drop_db)})
        for criterion in judged.quality.criteria:
            entry.criteria.append({"group_name": criterion.group, "subject": criterion.subject,
                                   "figure": _number(criterion.figure), "status": criterion.status,
                                   "reason": criterion.reason or None})
        if judged.coverage is not None:
            for system in judged.coverage.systems:
                entry.coverage.append({"system": system.system, "percent": _number(system.percent)})
    return entry


def entry_for(loaded: recording.Loaded, judged: Assessment | None, settings: Mapping[str, Any], *,
              report: QcReport | None = None, station: str | None = None, stream: str | None = None
              ) -> Entry | None:
    """The store's rows for a recording loaded with its navigation data and judged (or None with
    nothing to judge): its QC report is made here, with the settings' elevation mask, unless the
    command made one already."""
    from ..judge.quality_control import build_report

    if report is None:
        report = build_report(loaded, None, float(settings.get("min_elevation", 10.0)), judge=False)
    return entry_of(report, judged, settings, stream=stream, station=station)
