"""One recording, one row: the row of an analysed recording, of one with nothing to judge and of
one that failed, their columns in a stable order, and optional column groups declared before the
first row."""

from __future__ import annotations

import math
from collections.abc import Callable, Iterable, Mapping, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

from .. import _native
from ..judge.assessment import RecordingError
from ..tables import recording, roles

if TYPE_CHECKING:
    from ..judge.assessment import Assessment

Row = dict[str, Any]

MEAN_PREFIX = "mean_cn0_"
COVERAGE_PREFIX = "nav_coverage_"
HEAD_COLUMNS = ("path", "nav", "station", "start", "end", "epochs", "satellites", "mean_cn0")
TAIL_COLUMNS = ("anomalies", "anomalies_low", "anomalies_high", "anomalies_critical", "events",
                "jamming", "interference", "spoofing", "missing_satellites", "confirmation_rate", "nav_coverage",
                "grade", "criteria_warned", "criteria_failed", "module_grade", "module_score",
                "status", "reason", "warning", "error")
# Constellation mean columns follow the overall mean in this order; names outside it go after, sorted.
CONSTELLATION_ORDER = ("GPS", "GLONASS", "Galileo", "BeiDou", "QZSS", "IRNSS", "NavIC", "SBAS")
# The constellations whose satellites broadcast ephemerides give positions for (the core's rule):
# those with coverage columns.
PREDICTABLE_CONSTELLATIONS = tuple(_native.predictable_systems())

ANALYSED = "analysed"
NOTHING_TO_JUDGE = "nothing to judge"
FAILED = "failed"


def _nav_text(nav_paths: Sequence[str] | None) -> str | None:
    """The navigation files of a row: one path, or several (merged) joined by " + "."""
    return " + ".join(nav_paths) if nav_paths else None


def empty_row(obs_path: str, nav_paths: Sequence[str] | None, status: str) -> Row:
    row: Row = dict.fromkeys(HEAD_COLUMNS + TAIL_COLUMNS)
    row.update(path=obs_path, nav=_nav_text(nav_paths), status=status)
    return row


def result_row(judged: Assessment) -> Row:
    """The row of one analysed recording: the verdicts, grade and coverage as `analyze` shows them."""
    result = judged.result
    row = empty_row(judged.obs_path, judged.nav_paths, ANALYSED)
    row.update(station=result.station_name, start=result.start_time, end=result.end_time,
               epochs=result.total_epochs, satellites=result.total_satellites, mean_cn0=result.mean_cn0)
    for name in result.constellations:
        stats = result.get_constellation_summary(name)
        if stats is not None:
            # a constellation seen in the file but outside the selection has no samples, hence no mean
            row[MEAN_PREFIX + name] = float(stats["mean_cn0"]) if stats["observation_count"] != "0" else None
    if judged.coverage is not None:
        row["nav_coverage"] = None if math.isnan(judged.coverage.percent) else judged.coverage.percent
        for entry in judged.coverage.systems:
            if entry.predictable:
                row[COVERAGE_PREFIX + entry.system] = entry.percent
    severities = result.get_anomaly_severities()
    missing = judged.frequently_missing
    row.update(
        anomalies=len(severities),
        anomalies_low=severities.count("low"),
        anomalies_high=severities.count("high"),
        anomalies_critical=severities.count("critical"),
        events=len(judged.events),
        jamming=judged.jamming,
        interference=judged.interference,
        spoofing=judged.spoofing,
        missing_satellites=None if missing is None else ",".join(missing),
        confirmation_rate=judged.confirmation_rate,
        grade=judged.quality.grade,
        criteria_warned=judged.quality.warned,
        criteria_failed=judged.quality.failed,
        module_grade=judged.module_score.grade,
        module_score=judged.module_score.overall,
        warning="; ".join(judged.warnings) or None,
    )
    return row


def nothing_row(obs_path: str, nav_paths: Sequence[str] | None, reason: str) -> Row:
    """The row of a recording without signal-strength samples: the reason, and no score."""
    row = empty_row(obs_path, nav_paths, NOTHING_TO_JUDGE)
    row["reason"] = reason
    return row


def error_row(obs_path: str, nav_path: str | Sequence[str] | None, error: BaseException) -> Row:
    """The row of a recording that could not be analysed: every value None but the error."""
    nav_paths = [nav_path] if isinstance(nav_path, str) else nav_path
    row = empty_row(obs_path, nav_paths, FAILED)
    if isinstance(error, (roles.WrongRole, RecordingError)):
        # The line every command gives for the file; the file is named only when it is not the
        # recording of the row.
        text = str(error)
        row["error"] = text[len(obs_path) + 2:] if text.startswith(f"{obs_path}: ") else text
    else:
        row["error"] = f"{type(error).__name__}: {error}"
    return row


def failed_row(obs_path: str, nav_paths: Sequence[str] | None, error: str) -> Row:
    """The row of a recording refused or lost before its analysis could fail on its own: the error text."""
    row = empty_row(obs_path, nav_paths, FAILED)
    row["error"] = error
    return row


def with_warning(row: Row, text: str) -> Row:
    """The row with one more warning after those it has."""
    row["warning"] = text if not row.get("warning") else f"{row['warning']}; {text}"
    return row


def is_internal_fault(error: BaseException) -> bool:
    """Whether an exception is the extensions' internal fault: a broken invariant of one call, which
    derives from BaseException alone so that ordinary handlers let it escape, and which the modules
    do not export (so it is known by name). The batch makes it one recording's error row; every
    other BaseException (KeyboardInterrupt, SystemExit, ...) goes on."""
    kind = type(error)
    return kind.__name__ == "InternalFault" and kind.__module__ == "vardoln_cn0"


# ---------------------------------------------------------------------------------------------------
# Columns

def _per_constellation(seen: Iterable[str], prefix: str) -> list[str]:
    order = {name: i for i, name in enumerate(CONSTELLATION_ORDER)}
    keys = [key for key in seen if key.startswith(prefix)]
    return sorted(keys, key=lambda key: (order.get(key[len(prefix):], len(order)), key))


def columns(rows: Iterable[Mapping[str, Any]]) -> list[str]:
    """The union of the rows' keys in a stable order: identity and times, overall then per-constellation
    mean C/N0, counts and verdicts, overall then per-constellation navigation coverage, grades, status
    and reasons, error last; unknown keys before the error, in order of appearance."""
    seen: dict[str, None] = {}
    for row in rows:
        seen.update(dict.fromkeys(row))
    known = set(HEAD_COLUMNS) | set(TAIL_COLUMNS)
    means = _per_constellation(seen, MEAN_PREFIX)
    coverages = _per_constellation(seen, COVERAGE_PREFIX)
    extra = [key for key in seen if key not in known and key not in means and key not in coverages]
    split = TAIL_COLUMNS.index("nav_coverage") + 1
    return [*HEAD_COLUMNS, *means, *TAIL_COLUMNS[:split], *coverages, *TAIL_COLUMNS[split:-1], *extra,
            TAIL_COLUMNS[-1]]


@dataclass(frozen=True)
class ColumnGroup:
    """Optional columns of a batch, declared before the first row so that a CSV file can carry them.

    `name` identifies the group in messages and in the settings file of an output; `columns` are its
    column names in order; `compute(loaded)` gives their values for one analysed recording, loaded
    once with its navigation data (tables.recording.Loaded), as a mapping from some of those names
    to plain values. `compute` must be a module-level
    function: worker processes receive it by reference. A failure of `compute` leaves the group's
    values empty and is named in the row's warning.
    """

    name: str
    columns: tuple[str, ...]
    compute: Callable[[recording.Loaded], Mapping[str, Any]]


def with_groups(row: Row, groups: Sequence[ColumnGroup], loaded: recording.Loaded) -> Row:
    """The row of a recording that was read with every group's columns, computed from the
    recording as loaded for the row (with the navigation data chosen for it)."""
    for group in groups:
        row.update(dict.fromkeys(group.columns))
        try:
            values = group.compute(loaded)
        except BaseException as error:
            if not isinstance(error, Exception) and not is_internal_fault(error):
                raise
            text = f"{group.name}: {type(error).__name__}: {error}"
            row["warning"] = text if row["warning"] is None else f"{row['warning']}; {text}"
            continue
        row.update((name, values[name]) for name in group.columns if name in values)
    return row


def fixed_columns(groups: Sequence[ColumnGroup] = ()) -> list[str]:
    """The columns of a batch's CSV file, known before its first row: those of `columns` with a mean
    C/N0 column for every constellation of CONSTELLATION_ORDER, a coverage column for every
    predictable one, and the groups' columns before the error."""
    every: Row = dict.fromkeys([*HEAD_COLUMNS, *TAIL_COLUMNS])
    every.update(dict.fromkeys(MEAN_PREFIX + name for name in CONSTELLATION_ORDER))
    every.update(dict.fromkeys(COVERAGE_PREFIX + name for name in PREDICTABLE_CONSTELLATIONS))
    for group in groups:
        every.update(dict.fromkeys(group.columns))
    return columns([every])
