"""Trends of a station's daily figures against the station's own past: per station and metric
the last day's value beside the mean and spread of the 45 days with data before it (flagged
past 2 sigma), the change points of the rank cumulative sum (1,000 random orders, reported at
95 % confidence or more), and the changes of equipment, tool version and settings, each named
beside a change point that falls on its day. The numbers come from the companion extension."""

from __future__ import annotations

import datetime
import json
import math
import os
import sqlite3
import struct
from collections.abc import Sequence
from concurrent.futures import ThreadPoolExecutor
from dataclasses import asdict, dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from .. import _native
from .store import Store

EPOCH = datetime.date(1970, 1, 1)
# A change of equipment, tool or settings within this many days of a change point is named beside it:
# the change point is the first day of the new level, and a receiver swapped in the evening
# shows on the next day.
CAUSE_DAYS = 1
# Fewer days with data before a day give it no flag (the core's rule); the dashboard does not
# colour by such a band either.
MIN_BAND_DAYS = 10
SYSTEM_ORDER = ("GPS", "GLONASS", "Galileo", "BeiDou", "QZSS", "IRNSS", "NavIC", "SBAS")


def date_of(day: int) -> datetime.date:
    return EPOCH + datetime.timedelta(days=int(day))


def describe_metric(metric: str) -> tuple[str, str, bool | None]:
    """The label, unit and direction (higher is better, lower is, or either way) of a metric."""
    parts = metric.split("_")
    if metric == "grade":
        return "health grade (A=4 ... F=0)", "grade", True
    if metric == "events":
        return "detector events", "events", False
    if metric == "nav_coverage":
        return "navigation coverage (%)", "%", True
    if metric == "confirmation":
        return "predicted satellites observed (%)", "%", True
    if parts[0] == "completeness":
        return f"{parts[1]} completeness (%)", "%", True
    if parts[0] == "mp" and len(parts) == 4:
        return f"{parts[3]} multipath {parts[1]} against {parts[2]} (m)", "m", False
    if metric.startswith("obs_per_slip_"):
        return f"{metric[len('obs_per_slip_'):]} observations per slip", "obs/slip", True
    if parts[0] == "cn0" and len(parts) == 3:
        return f"{parts[1]} mean C/N0 {parts[2]} (dB-Hz)", "dB-Hz", True
    return metric, "", None


def metric_order(metric: str) -> tuple[int, int, str]:
    """Overall figures first, then per constellation in the usual order, each by kind."""
    kinds = ("grade", "events", "nav_coverage", "confirmation", "completeness_", "mp_", "obs_per_slip_", "cn0_")
    kind = next((i for i, prefix in enumerate(kinds) if metric.startswith(prefix)), len(kinds))
    system = next((i for i, name in enumerate(SYSTEM_ORDER) if f"_{name}" in metric), -1)
    return (0 if kind < 4 else 1 + max(system, 0), kind, metric)


@dataclass(frozen=True)
class ChangePoint:
    day: datetime.date
    confidence: float
    mean_before: float
    mean_after: float
    causes: tuple[str, ...] = ()


@dataclass(frozen=True)
class Change:
    """A change of what made the recordings: equipment, tool version or settings."""

    day: datetime.date
    kind: str  # "receiver", "firmware", "antenna", "radome", "tool version", "settings"
    text: str


@dataclass(frozen=True)
class Series:
    """One metric of one station, day by day, against its own past."""

    metric: str
    days: tuple[datetime.date, ...]
    values: tuple[float, ...]  # NaN: no data that day
    band_mean: tuple[float, ...]
    band_sigma: tuple[float, ...]
    band_days: tuple[int, ...]
    flagged: tuple[bool, ...]
    change_points: tuple[ChangePoint, ...]

    @property
    def label(self) -> str:
        return describe_metric(self.metric)[0]

    def last(self) -> int | None:
        """The index of the last day with data."""
        for index in range(len(self.values) - 1, -1, -1):
            if math.isfinite(self.values[index]):
                return index
        return None


@dataclass(frozen=True)
class StationTrends:
    station: str
    identifier: str | None
    marker_name: str
    days: int
    first_day: datetime.date | None
    last_day: datetime.date | None
    series: tuple[Series, ...]
    changes: tuple[Change, ...]
    event_days: tuple[tuple[datetime.date, str], ...] = field(default=())
    revision: int = 0


def _finite(value: float) -> float | None:
    return value if math.isfinite(value) else None


def equipment_changes(store: Store, station: str) -> list[Change]:
    """The days on which the receiver, its firmware, the antenna, its radome, the tool version or
    the settings of a station's recordings changed, from one recording to the next in time."""
    rows = store.query("SELECT day, receiver_type, receiver_version, antenna_type, antenna_radome, tool_version, "
                       "settings_key, settings FROM recordings WHERE station = ? ORDER BY start_ns, id", (station,))
    kinds = ("receiver", "firmware", "antenna", "radome", "tool version")
    changes: list[Change] = []
    previous: tuple[Any, ...] | None = None
    for row in rows:
        if previous is not None:
            for index, kind in enumerate(kinds, start=1):
                if row[index] != previous[index] and (row[index] or previous[index]):
                    changes.append(Change(date_of(row[0]), kind, f"{kind} {previous[index] or '-'} -> {row[index] or '-'}"))
            if row[6] != previous[6]:
                changes.append(Change(date_of(row[0]), "settings", "settings " + _settings_difference(previous[7], row[7])))
        previous = row
    return changes


def _settings_difference(before: str, after: str) -> str:
    old, new = json.loads(before), json.loads(after)
    changed = [f"{key} {old.get(key)} -> {new.get(key)}" for key in sorted(set(old) | set(new))
               if old.get(key) != new.get(key)]
    return ", ".join(changed) or "changed"


def _pack(found: dict[str, Any]) -> bytes:
    """A series' numbers as the cache keeps them: the day count, the band means, sigmas, days used
    and flags as arrays, then the change points as JSON."""
    mean = np.asarray(found["band_mean"], dtype=np.float64)
    return b"".join([struct.pack("<I", len(mean)), mean.tobytes(),
                     np.asarray(found["band_sigma"], dtype=np.float64).tobytes(),
                     np.asarray(found["band_days"], dtype=np.uint32).tobytes(),
                     np.asarray(found["flagged"], dtype=np.uint8).tobytes(),
                     json.dumps(found["change_points"]).encode()])


def _unpack(packed: bytes) -> dict[str, Any]:
    (count,) = struct.unpack_from("<I", packed)
    at = 4
    parts: dict[str, Any] = {}
    for name, kind in (("band_mean", np.float64), ("band_sigma", np.float64), ("band_days", np.uint32),
                       ("flagged", np.uint8)):
        array = np.frombuffer(packed, dtype=kind, count=count, offset=at)
        at += array.nbytes
        parts[name] = array
    parts["change_points"] = json.loads(packed[at:])
    return parts


def _series(metric: str, days: tuple[datetime.date, ...], values: npt.NDArray[np.float64], changes: Sequence[Change],
            numbers: dict[str, Any]) -> Series:
    points = []
    for point in numbers["change_points"]:
        day = date_of(point["day"])
        causes = tuple(change.text for change in changes if abs((change.day - day).days) <= CAUSE_DAYS)
        points.append(ChangePoint(day, point["confidence"], point["mean_before"], point["mean_after"], causes))
    return Series(metric, days, tuple(values.tolist()), tuple(numbers["band_mean"].tolist()),
                  tuple(numbers["band_sigma"].tolist()), tuple(numbers["band_days"].tolist()),
                  tuple(numbers["flagged"].astype(bool).tolist()), tuple(points))


_pool: ThreadPoolExecutor | None = None


def _trend_of(series: tuple[npt.NDArray[np.int64], npt.NDArray[np.float64]]) -> bytes:
    return _pack(_native.trend(*series))


def _trends_of(many: list[tuple[npt.NDArray[np.int64], npt.NDArray[np.float64]]]) -> list[bytes]:
    """The native trends of many series, on every core: the core runs without the interpreter lock."""
    global _pool
    if len(many) < 2:
        return [_trend_of(series) for series in many]
    if _pool is None:
        _pool = ThreadPoolExecutor(max_workers=os.cpu_count() or 1, thread_name_prefix="trends")
    return list(_pool.map(_trend_of, many))


def station_trends(store: Store, station: str, *, use_cache: bool = True) -> StationTrends:
    """The trends of one station's metrics (see the module's text). Each series' numbers are cached
    in the store against the station's revision, so a second look at an unchanged station costs
    only its reading."""
    info = store.query("SELECT identifier, marker_name, revision FROM stations WHERE station = ?", (station,))
    if not info:
        raise KeyError(station)
    identifier, marker_name, revision = info[0]
    # Whole columns at once: a station of a year holds some ten thousand station-day rows.
    counts = store.query("SELECT metric, COUNT(*) FROM station_days WHERE station = ? GROUP BY metric ORDER BY metric",
                         (station,))
    rows = store.query("SELECT day, value FROM station_days WHERE station = ? ORDER BY metric, day", (station,))
    all_days = np.array([row[0] for row in rows], dtype=np.int64)
    all_values = np.array([row[1] for row in rows], dtype=np.float64)  # None (no value) becomes NaN
    arrays: dict[str, tuple[npt.NDArray[np.int64], npt.NDArray[np.float64]]] = {}
    at = 0
    for metric, count in counts:
        arrays[metric] = (all_days[at:at + count], all_values[at:at + count])
        at += count
    cache: dict[str, bytes] = {}
    if use_cache:
        for metric, cached_revision, result in store.query(
                "SELECT metric, revision, result FROM trend_cache WHERE station = ?", (station,)):
            if cached_revision == revision and isinstance(result, bytes):
                cache[metric] = result
    metrics = sorted(arrays, key=metric_order)
    missing = [metric for metric in metrics if metric not in cache]
    fresh = dict(zip(missing, _trends_of([arrays[metric] for metric in missing])))
    changes = equipment_changes(store, station)
    unique_days = np.unique(all_days).tolist()
    dates = {day: date_of(day) for day in unique_days}
    series = [_series(metric, tuple(dates[day] for day in arrays[metric][0].tolist()), arrays[metric][1], changes,
                      _unpack(cache[metric] if metric in cache else fresh[metric])) for metric in metrics]
    if fresh and use_cache:
        try:
            with store.transaction() as db:
                db.executemany("INSERT OR REPLACE INTO trend_cache VALUES (?, ?, ?, ?)",
                               [(station, metric, revision, packed) for metric, packed in fresh.items()])
        except sqlite3.OperationalError:
            pass  # a store we may read but not write: the trends stand without the cache
    event_days = [(date_of(day), kind) for day, kind in store.query(
        "SELECT DISTINCT r.day, e.type FROM events e JOIN recordings r ON r.id = e.recording_id "
        "WHERE r.station = ? ORDER BY r.day, e.type", (station,))]
    return StationTrends(station, identifier, marker_name or "", len(unique_days),
                         dates[unique_days[0]] if unique_days else None, dates[unique_days[-1]] if unique_days else None,
                         tuple(series), tuple(changes), tuple(event_days), revision)


def as_dict(trends: StationTrends, since: datetime.date | None = None) -> dict[str, Any]:
    """Plain JSON values of a station's trends; with `since`, the change points and changes from that
    day on."""
    def keep(day: datetime.date) -> bool:
        return since is None or day >= since

    series = []
    for entry in trends.series:
        last = entry.last()
        series.append({
            "metric": entry.metric, "label": entry.label, "unit": describe_metric(entry.metric)[1],
            "days_with_data": sum(1 for value in entry.values if math.isfinite(value)),
            "last_day": None if last is None else entry.days[last].isoformat(),
            "last_value": None if last is None else entry.values[last],
            "band": None if last is None else {"mean": _finite(entry.band_mean[last]),
                                                "sigma": _finite(entry.band_sigma[last]),
                                                "days": entry.band_days[last]},
            "flagged": False if last is None else entry.flagged[last],
            "change_points": [{**asdict(point), "day": point.day.isoformat(), "causes": list(point.causes)}
                              for point in entry.change_points if keep(point.day)],
        })
    return {"station": trends.station, "identifier": trends.identifier, "marker_name": trends.marker_name,
            "days": trends.days,
            "first_day": None if trends.first_day is None else trends.first_day.isoformat(),
            "last_day": None if trends.last_day is None else trends.last_day.isoformat(),
            "changes": [{"day": change.day.isoformat(), "kind": change.kind, "text": change.text}
                        for change in trends.changes if keep(change.day)],
            "event_days": [{"day": day.isoformat(), "type": kind} for day, kind in trends.event_days if keep(day)],
            "series": series}
