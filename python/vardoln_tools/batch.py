"""Batch analysis of many recordings: worker processes (or threads) on one machine, or a Dask cluster.

Every recording becomes one flat row (a dict of plain values), so a station-day archive loads into one
table. Each recording is judged as `vardoln-cn0 analyze` judges it (the same settings, the same
assessment); a recording that cannot be read gives a row with its error and never stops the batch, and
one without signal-strength samples a row with that reason and no score. A recording whose worker
process dies (a native fault, the out-of-memory killer) gets an error row and the batch goes on; one
larger than the memory budget is refused before it is read.
"""

from __future__ import annotations

import argparse
import csv
import datetime
import functools
import json
import math
import os
import re
import signal
import stat
import sys
import time
from collections.abc import Callable, Iterable, Iterator, Mapping, Sequence
from concurrent.futures import FIRST_COMPLETED, Future, ThreadPoolExecutor, wait
from dataclasses import dataclass
from pathlib import Path
from types import FrameType
from typing import TYPE_CHECKING, Any, Protocol

from . import navfiles, roles, rowfiles, settings, workers
from .assessment import Assessment, NothingToJudge, RecordingError, assess

if TYPE_CHECKING:
    import pandas as pd
    import vardoln_cn0

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
# The constellations whose satellites broadcast ephemerides give positions for: those with coverage columns.
PREDICTABLE_CONSTELLATIONS = ("GPS", "GLONASS", "Galileo", "BeiDou", "QZSS")

ANALYSED = "analysed"
NOTHING_TO_JUDGE = "nothing to judge"
FAILED = "failed"

# ---------------------------------------------------------------------------------------------------
# Finding each recording's navigation file by its name

# RINEX 3 long names: SSSSMRCCC_K_YYYYDDDHHMM_PPU[_FFU]_DT.rnx, DT = constellation + O/N/M.
_LONG_NAME = re.compile(
    r"(?P<station>[A-Z0-9]{4})[0-9]{2}[A-Z]{3}_[A-Z]_(?P<year>\d{4})(?P<doy>\d{3})\d{4}"
    r"_\d{2}[A-Z](?:_\d{2}[A-Z])?_(?P<system>[A-Z])(?P<type>[A-Z])\.(?:rnx|crx)(?:\.gz|\.z)?", re.IGNORECASE)
# RINEX 2 (and RINEX 3 short) names: ssssdddf[mm].yyt; hourly files add two minute digits.
_SHORT_NAME = re.compile(
    r"(?P<station>[A-Z0-9]{4})(?P<doy>\d{3})[A-X0-9](?:\d{2})?\.(?P<yy>\d{2})(?P<type>[A-Z])(?:\.gz|\.z)?",
    re.IGNORECASE)
# Short-name file types: observation (d = Hatanaka) and the broadcast navigation kinds ("M" = mixed).
_SHORT_OBS_TYPES = "od"
_SHORT_NAV_SYSTEM = {"p": "M", "n": "G", "g": "R", "l": "E", "e": "E", "f": "C", "q": "J", "i": "I", "h": "S"}
# Among the files of one day: mixed first, then one constellation, GPS before the others.
_SYSTEM_RANK = {"M": 0, "G": 1, "R": 2, "E": 3, "C": 4, "J": 5}
_COMBINED_STATIONS = ("brdc", "brdm")


def _name_facts(name: str) -> tuple[str, int, int, str, str] | None:
    """(station in lower case, year, day of year, kind "obs"/"nav", system letter or "M") of a
    standard RINEX file name, or None."""
    long = _LONG_NAME.fullmatch(name)
    if long:
        kind = {"O": "obs", "N": "nav"}.get(long["type"].upper())
        if kind is None:
            return None
        return long["station"].lower(), int(long["year"]), int(long["doy"]), kind, long["system"].upper()
    short = _SHORT_NAME.fullmatch(name)
    if short:
        # RINEX 2 years have two digits: 80-99 are 1980-1999, the rest 2000-2079
        two_digits = int(short["yy"])
        year = two_digits + (1900 if two_digits >= 80 else 2000)
        file_type = short["type"].lower()
        if file_type in _SHORT_OBS_TYPES:
            return short["station"].lower(), year, int(short["doy"]), "obs", "M"
        system = _SHORT_NAV_SYSTEM.get(file_type)
        if system is not None:
            return short["station"].lower(), year, int(short["doy"]), "nav", system
    return None


def is_observation_name(name: str) -> bool:
    """True for standard RINEX observation file names, and for names ending in .obs."""
    facts = _name_facts(name)
    return (facts is not None and facts[3] == "obs") or name.lower().endswith(".obs")


class NavigationIndex:
    """Navigation files by day, built once from a list of names (typically one directory)."""

    def __init__(self, nav_paths: Iterable[str | os.PathLike[str]]):
        self._by_day: dict[tuple[int, int], list[tuple[str, str, str]]] = {}
        for path in nav_paths:
            text = os.fspath(path)
            facts = _name_facts(os.path.basename(text))
            if facts is None or facts[3] != "nav":
                continue
            station, year, doy, _, system = facts
            self._by_day.setdefault((year, doy), []).append((station, system, text))
        # Major versions of the files met so far: a compressed file is expanded to learn its version,
        # once per batch rather than once per recording of its day.
        self._versions: dict[str, int | None] = {}

    def _mergeable_version(self, path: str) -> int | None:
        if path not in self._versions:
            self._versions[path] = navfiles.mergeable_version(path)
        return self._versions[path]

    @classmethod
    def from_directory(cls, nav_dir: str | os.PathLike[str]) -> NavigationIndex:
        with os.scandir(nav_dir) as entries:
            return cls(entry.path for entry in entries if entry.is_file())

    def find(self, obs_path: str | os.PathLike[str]) -> str | None:
        """The navigation file for a recording: of its station and day first, then any broadcast file
        of that day (combined BRDC files before other stations'); mixed before single-constellation
        files within each. None when the name is not standard or no file of that day exists."""
        facts = _name_facts(os.path.basename(os.fspath(obs_path)))
        if facts is None or facts[3] != "obs":
            return None
        station, year, doy = facts[:3]
        candidates = self._by_day.get((year, doy))
        if not candidates:
            return None

        def rank(candidate: tuple[str, str, str]) -> tuple[int, int, str, str]:
            nav_station, system, path = candidate
            station_rank = 0 if nav_station == station else 1 if nav_station in _COMBINED_STATIONS else 2
            return station_rank, _SYSTEM_RANK.get(system, len(_SYSTEM_RANK)), os.path.basename(path), path

        return min(candidates, key=rank)[2]

    def candidates(self, obs_path: str | os.PathLike[str]) -> list[navfiles.Candidate]:
        """The navigation data of a recording's day to choose from: every file of that day alone, and
        each station's per-constellation RINEX 3 (or 4) files of that day, of one version, together
        (merged)."""
        facts = _name_facts(os.path.basename(os.fspath(obs_path)))
        if facts is None or facts[3] != "obs":
            return []
        day = sorted(self._by_day.get(facts[1:3], []), key=lambda entry: entry[2])
        chosen = [navfiles.Candidate((path,), system == "M") for _, system, path in day]
        by_station: dict[tuple[str, int], list[str]] = {}
        for station, system, path in day:
            major = None if system == "M" else self._mergeable_version(path)
            if major is not None:
                by_station.setdefault((station, major), []).append(path)
        chosen += [navfiles.Candidate(tuple(paths), False) for paths in by_station.values() if len(paths) > 1]
        return chosen


def match_navigation(obs_path: str | os.PathLike[str], nav_paths: Iterable[str | os.PathLike[str]]) -> str | None:
    """The best navigation file among nav_paths for one recording (see NavigationIndex.find)."""
    return NavigationIndex(nav_paths).find(obs_path)


# ---------------------------------------------------------------------------------------------------
# Configuration as plain values, for workers in other processes

def config_to_dict(config: vardoln_cn0.AnalysisConfig) -> dict[str, Any]:
    """The stored attributes of an AnalysisConfig (settings.config_fields), thresholds already scaled."""
    fields = {name: getattr(config, name) for name in settings.config_fields()}
    if fields["systems"] is not None:
        fields["systems"] = list(fields["systems"])
    return fields


def config_from_dict(fields: Mapping[str, Any]) -> vardoln_cn0.AnalysisConfig:
    """An AnalysisConfig whose attributes equal the stored ones of config_to_dict.

    The constructor scales the low and high thresholds by 1 - 0.5 x sensitivity and stores
    interference_threshold_db as the critical threshold, so the stored values go back in unscaled form;
    when no given value scales exactly to the stored one, sensitivity 0 carries the thresholds over
    unchanged (the analysis settings stay equal; only the shown sensitivity differs)."""
    import vardoln_cn0

    keywords = {name: fields[name] for name in settings.config_fields()}
    low, high = keywords["anomaly_threshold_low"], keywords["anomaly_threshold_high"]
    sensitivity = keywords["anomaly_sensitivity"]
    factor = 1.0 - 0.5 * sensitivity
    given_low, given_high = (low / factor, high / factor) if factor != 0.0 else (low, high)
    if given_low * factor != low or given_high * factor != high:
        sensitivity, given_low, given_high = 0.0, low, high
    critical = keywords["anomaly_threshold_critical"]
    keywords.update(anomaly_threshold_low=given_low, anomaly_threshold_high=given_high,
                    anomaly_sensitivity=sensitivity, interference_threshold_db=critical)
    return vardoln_cn0.AnalysisConfig(**keywords)


# ---------------------------------------------------------------------------------------------------
# One recording, one row

def _nav_text(nav_paths: Sequence[str] | None) -> str | None:
    """The navigation files of a row: one path, or several (merged) joined by " + "."""
    return " + ".join(nav_paths) if nav_paths else None


def _empty_row(obs_path: str, nav_paths: Sequence[str] | None, status: str) -> Row:
    row: Row = dict.fromkeys(HEAD_COLUMNS + TAIL_COLUMNS)
    row.update(path=obs_path, nav=_nav_text(nav_paths), status=status)
    return row


def result_row(judged: Assessment) -> Row:
    """The row of one analysed recording: the verdicts, grade and coverage as `analyze` shows them."""
    result = judged.result
    row = _empty_row(judged.obs_path, judged.nav_paths, ANALYSED)
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
    row = _empty_row(obs_path, nav_paths, NOTHING_TO_JUDGE)
    row["reason"] = reason
    return row


def error_row(obs_path: str, nav_path: str | Sequence[str] | None, error: BaseException) -> Row:
    """The row of a recording that could not be analysed: every value None but the error."""
    nav_paths = [nav_path] if isinstance(nav_path, str) else nav_path
    row = _empty_row(obs_path, nav_paths, FAILED)
    if isinstance(error, (roles.WrongRole, RecordingError)):
        # The line every command gives for the file; the file is named only when it is not the
        # recording of the row.
        text = str(error)
        row["error"] = text[len(obs_path) + 2:] if text.startswith(f"{obs_path}: ") else text
    else:
        row["error"] = f"{type(error).__name__}: {error}"
    return row


def judge_recording(obs_path: str, nav_paths: Sequence[str] | None, candidates: Sequence[navfiles.Candidate],
                    config: vardoln_cn0.AnalysisConfig, analyzer: vardoln_cn0.CN0Analyzer,
                    memory_budget: int | None = None, groups: Sequence[ColumnGroup] = (),
                    detector: settings.DetectorSettings | None = None) -> Row:
    """One row: the navigation data chosen among the candidates when none is given, then the
    assessment and the groups' columns (also for a recording with nothing to judge); every failure becomes the row's error. With a memory budget
    (bytes), a recording whose observation or navigation file is larger, or expands past it from an
    archive, is refused unread (see budget_refusal); candidates with such a file are passed over."""
    try:
        if memory_budget is not None:
            for path in [obs_path, *(nav_paths or ())]:
                refusal = budget_refusal(path, memory_budget)
                if refusal is not None:
                    return _failed_row(obs_path, nav_paths, refusal if path == obs_path else f"{path}: {refusal}")
            candidates = [candidate for candidate in candidates
                          if all(budget_refusal(path, memory_budget) is None for path in candidate.paths)]
        unusable = None
        if nav_paths is None and candidates:
            choice = navfiles.choose(obs_path, candidates, settings.describe(config)["systems"])
            if choice is not None:
                nav_paths = list(choice.paths)
            else:
                unusable = ("no navigation file of the recording's day could be read: "
                            + ", ".join(path for candidate in candidates for path in candidate.paths))
        try:
            judged = assess(obs_path, nav_paths or [], config, analyzer, detector)
        except NothingToJudge as nothing:
            # A recording without C/N0 can still have the groups' figures (multipath needs none).
            row = with_groups(nothing_row(obs_path, nav_paths, nothing.reason), groups, nav_paths)
        else:
            row = with_groups(result_row(judged), groups, nav_paths)
        return row if unusable is None else with_warning(row, unusable)
    except Exception as error:
        return error_row(obs_path, nav_paths, error)
    except BaseException as error:
        if not is_internal_fault(error):
            raise
        return error_row(obs_path, nav_paths, error)


def is_internal_fault(error: BaseException) -> bool:
    """Whether an exception is the extensions' internal fault: a broken invariant of one call, which
    derives from BaseException alone so that ordinary handlers let it escape, and which the modules
    do not export (so it is known by name). The batch makes it one recording's error row; every
    other BaseException (KeyboardInterrupt, SystemExit, ...) goes on."""
    kind = type(error)
    return kind.__name__ == "InternalFault" and kind.__module__ == "vardoln_cn0"


def _failed_row(obs_path: str, nav_paths: Sequence[str] | None, error: str) -> Row:
    row = _empty_row(obs_path, nav_paths, FAILED)
    row["error"] = error
    return row


def format_bytes(count: int) -> str:
    """A byte count for people: "512 bytes", "1.5 KiB", "3.0 GiB"."""
    value = float(count)
    for unit in ("bytes", "KiB", "MiB", "GiB"):
        if value < 1024 or unit == "GiB":
            return f"{count} bytes" if unit == "bytes" else f"{value:.1f} {unit}"
        value /= 1024
    raise AssertionError("unreachable")


def default_memory_budget() -> int:
    """The memory budget of one recording when none is given: a quarter of the machine's memory."""
    try:
        return os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") // 4
    except (ValueError, OSError):
        return 4 << 30


def budget_refusal(path: str, budget: int) -> str | None:
    """Why reading the file would break the memory budget (bytes), or None. A regular file larger
    than the budget is refused before it is read; an archive (gzip, Unix compress, compact RINEX)
    is expanded up to the budget, no further, whenever its expansion could pass it. Files that
    cannot be read, and files that are not regular (pipes), are left to the readers."""
    from . import _native

    try:
        info = os.stat(path)
    except OSError:
        return None
    if not stat.S_ISREG(info.st_mode):
        return None
    if info.st_size > budget:
        return (f"over the memory budget: the file has {format_bytes(info.st_size)}, "
                f"the budget is {format_bytes(budget)}")
    if roles.is_archived(path) and _native.budget_fit(path, budget) == "expansion":
        return f"over the memory budget: its archive expands past {format_bytes(budget)}"
    return None


def analyze_recording(obs_path: str, nav_path: str | Sequence[str] | None, config: Mapping[str, Any] | None = None,
                      candidates: Sequence[tuple[Sequence[str], bool]] = (), memory_budget: int | None = None,
                      groups: Sequence[ColumnGroup] = (), detector: settings.DetectorSettings | None = None) -> Row:
    """The task run on a Dask worker: plain, picklable arguments in, one row out. `nav_path` is a
    path, several paths (merged) or None; `candidates` are (paths, mixed) to choose from when None."""
    import vardoln_cn0

    nav_paths = [nav_path] if isinstance(nav_path, str) else None if nav_path is None else list(nav_path)
    try:
        built = settings.analysis_config() if config is None else config_from_dict(config)
        analyzer = vardoln_cn0.CN0Analyzer(built)
    except Exception as error:
        return error_row(obs_path, nav_paths, error)
    chosen = [navfiles.Candidate(tuple(paths), mixed) for paths, mixed in candidates]
    return judge_recording(obs_path, nav_paths, chosen, built, analyzer, memory_budget, groups, detector)


# ---------------------------------------------------------------------------------------------------
# Optional column groups

@dataclass(frozen=True)
class ColumnGroup:
    """Optional columns of a batch, declared before the first row so that a CSV file can carry them.

    `name` identifies the group in messages and in the settings file of an output; `columns` are its
    column names in order; `compute(obs_path, nav_paths)` gives their values for one analysed
    recording (a mapping from some of those names to plain values). `compute` must be a module-level
    function: worker processes receive it by reference. A failure of `compute` leaves the group's
    values empty and is named in the row's warning.
    """

    name: str
    columns: tuple[str, ...]
    compute: Callable[[str, list[str] | None], Mapping[str, Any]]


def with_groups(row: Row, groups: Sequence[ColumnGroup], nav_paths: Sequence[str] | None) -> Row:
    """The row of a recording that was read with every group's columns."""
    for group in groups:
        row.update(dict.fromkeys(group.columns))
        try:
            values = group.compute(row["path"], None if nav_paths is None else list(nav_paths))
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


# ---------------------------------------------------------------------------------------------------
# Many recordings

class _Progress(Protocol):
    def update(self, count: int = 1) -> object: ...

    def close(self) -> None: ...


class _NoProgress:
    def update(self, count: int = 1) -> None:
        pass

    def close(self) -> None:
        pass


def _progress(total: int, enabled: bool) -> _Progress:
    if enabled:
        try:
            from tqdm import tqdm
        except ImportError:
            pass
        else:
            bar: _Progress = tqdm(total=total, unit=" files", file=sys.stderr, smoothing=0.1, dynamic_ncols=True)
            return bar
    return _NoProgress()


# (observation path, navigation paths or None, candidates to choose from)
Work = tuple[str, list[str] | None, list[navfiles.Candidate]]


def _paths_of(value: object) -> list[str] | None:
    if value is None:
        return None
    if isinstance(value, (str, os.PathLike)):
        return [os.fspath(value)]
    return [os.fspath(item) for item in value]  # type: ignore[attr-defined]


def _nav_lookup(nav: Any, nav_dir: str | os.PathLike[str] | None) -> Callable[[str], tuple[Work, str | None]]:
    """A function from observation path to its work item and, when the navigation directory holds
    nothing for it, the note its row carries."""
    if nav is not None and not isinstance(nav, Mapping):
        shared = _paths_of(nav)
        return lambda obs_path: ((obs_path, shared, []), None)
    explicit = {os.fspath(key): _paths_of(value) for key, value in (nav or {}).items()}
    index = NavigationIndex.from_directory(nav_dir) if nav_dir is not None else None

    def lookup(obs_path: str) -> tuple[Work, str | None]:
        if obs_path in explicit:
            return (obs_path, explicit[obs_path], []), None
        candidates = index.candidates(obs_path) if index is not None else []
        note = None if nav_dir is None or candidates else missing_navigation_note(obs_path, nav_dir)
        return (obs_path, None, candidates), note

    return lookup


def missing_navigation_note(obs_path: str, nav_dir: str | os.PathLike[str]) -> str:
    """The note of a recording for which the navigation directory holds no file of its day (by
    the standard file names), or whose own name gives no day."""
    facts = _name_facts(os.path.basename(obs_path))
    if facts is None or facts[3] != "obs":
        return (f"no navigation file looked for in {os.fspath(nav_dir)}: the file name does not give the "
                "recording's day")
    _, year, doy, _, _ = facts
    day = datetime.date(year, 1, 1) + datetime.timedelta(days=doy - 1)
    return f"no navigation file of the recording's day ({day.isoformat()}, day {doy:03d}) in {os.fspath(nav_dir)}"


def with_warning(row: Row, text: str) -> Row:
    """The row with one more warning after those it has."""
    row["warning"] = text if not row.get("warning") else f"{row['warning']}; {text}"
    return row


def analyze_many(obs_paths: Iterable[str | os.PathLike[str]], *, nav: Any = None,
                 nav_dir: str | os.PathLike[str] | None = None, config: vardoln_cn0.AnalysisConfig | None = None,
                 workers: int | None = None, scheduler: Any = None, progress: bool = True, threads: bool = False,
                 memory_budget: int | None = None, groups: Sequence[ColumnGroup] = (),
                 detector: settings.DetectorSettings | None = None) -> list[Row]:
    """Analyses every recording and returns one row per path, in the order given.

    nav: one navigation path (or a list of paths, merged) for all recordings, or a mapping from
    observation path to navigation path(s) (None for none); recordings not in the mapping get, among
    the navigation files of their day in nav_dir, the data that cover their observed satellites
    best (see NavigationIndex.candidates). config: the analysis settings (default
    settings.analysis_config(), the fixed thresholds of `analyze`). workers: processes, or threads with
    `threads` (default os.cpu_count()). Worker processes are started afresh (the "spawn" method), so
    a script that calls this needs the usual `if __name__ == "__main__":` guard. scheduler: a Dask
    scheduler address or a dask.distributed Client; each recording then runs as one task on the
    cluster, whose workers must see the same paths. memory_budget: bytes one recording may take
    (default default_memory_budget()); see budget_refusal. groups: optional columns (ColumnGroup).
    detector: the band detector's settings (default settings.DetectorSettings()).
    """
    paths = [os.fspath(path) for path in obs_paths]
    rows: list[Row] = [{} for _ in paths]
    for index, row in _analyze_indexed(paths, nav=nav, nav_dir=nav_dir, config=config, workers=workers,
                                       scheduler=scheduler, progress=progress, threads=threads,
                                       memory_budget=memory_budget, groups=groups, detector=detector):
        rows[index] = row
    return rows


def analyze_iter(obs_paths: Iterable[str | os.PathLike[str]], *, nav: Any = None,
                 nav_dir: str | os.PathLike[str] | None = None, config: vardoln_cn0.AnalysisConfig | None = None,
                 workers: int | None = None, scheduler: Any = None, progress: bool = True, threads: bool = False,
                 memory_budget: int | None = None, groups: Sequence[ColumnGroup] = (),
                 stop: Callable[[], bool] | None = None, detector: settings.DetectorSettings | None = None
                 ) -> Iterator[Row]:
    """The rows of analyze_many as each recording finishes, in the order of finishing, so that each can
    be written away at once. When `stop()` becomes true (it is looked at several times a second)
    the recordings in progress are abandoned, their workers ended, and workers.Stopped is raised."""
    paths = [os.fspath(path) for path in obs_paths]
    for _, row in _analyze_indexed(paths, nav=nav, nav_dir=nav_dir, config=config, workers=workers,
                                   scheduler=scheduler, progress=progress, threads=threads,
                                   memory_budget=memory_budget, groups=groups, stop=stop, detector=detector):
        yield row


@dataclass(frozen=True)
class _Setup:
    """What every recording of a batch shares, as plain values for worker processes."""

    config_fields: dict[str, Any]
    memory_budget: int
    groups: tuple[ColumnGroup, ...]
    detector: settings.DetectorSettings


def _analyze_indexed(paths: list[str], *, nav: Any, nav_dir: str | os.PathLike[str] | None,
                     config: vardoln_cn0.AnalysisConfig | None, workers: int | None, scheduler: Any, progress: bool,
                     threads: bool, memory_budget: int | None, groups: Sequence[ColumnGroup],
                     stop: Callable[[], bool] | None = None, detector: settings.DetectorSettings | None = None
                     ) -> Iterator[tuple[int, Row]]:
    lookup = _nav_lookup(nav, nav_dir)
    looked_up = [lookup(path) for path in paths]
    jobs = [job for job, _ in looked_up]
    notes = [note for _, note in looked_up]
    config = settings.analysis_config() if config is None else config
    budget = default_memory_budget() if memory_budget is None else memory_budget
    setup = _Setup(config_to_dict(config), budget, tuple(groups), detector or settings.DetectorSettings())
    stop = stop or (lambda: False)
    count = workers or os.cpu_count() or 1
    bar = _progress(len(jobs), progress)
    try:
        if scheduler is not None:
            results = _run_on_cluster(jobs, setup, scheduler, stop)
        elif threads:
            results = _run_on_threads(jobs, config, setup, count, stop)
        else:
            results = _run_in_processes(jobs, setup, count, stop)
        for index, row in results:
            bar.update()
            note = notes[index]
            yield index, (row if note is None else with_warning(row, note))
    finally:
        bar.close()


def _run_on_threads(jobs: list[Work], config: vardoln_cn0.AnalysisConfig, setup: _Setup, count: int,
                    stop: Callable[[], bool]) -> Iterator[tuple[int, Row]]:
    import vardoln_cn0

    # One analyzer serves every thread: its file methods take a shared borrow and run without the GIL.
    analyzer = vardoln_cn0.CN0Analyzer(config)
    pool = ThreadPoolExecutor(max_workers=max(1, count))
    try:
        futures: dict[Future[Row], int] = {
            pool.submit(judge_recording, obs, navs, candidates, config, analyzer, setup.memory_budget,
                        setup.groups, setup.detector): i for i, (obs, navs, candidates) in enumerate(jobs)}
        waiting = set(futures)
        while waiting:
            if stop():
                raise workers.Stopped
            done, waiting = wait(waiting, timeout=workers.POLL_SECONDS, return_when=FIRST_COMPLETED)
            for future in done:
                yield futures[future], future.result()
    finally:
        # Threads cannot be ended: those in progress finish unseen, the others never start.
        pool.shutdown(wait=False, cancel_futures=True)


# What every worker process imports: loaded once by the server that forks the workers.
WORKER_MODULES = ("vardoln_cn0", "vardoln_tools.batch", "vardoln_tools.assessment", "vardoln_tools.signals")

# The analysis state of a worker process, made once by _start_worker.
_worker_state: tuple[vardoln_cn0.AnalysisConfig, vardoln_cn0.CN0Analyzer, _Setup] | None = None


def _start_worker(setup: _Setup) -> None:
    import vardoln_cn0

    global _worker_state
    config = config_from_dict(setup.config_fields)
    _worker_state = config, vardoln_cn0.CN0Analyzer(config), setup


def _work_in_worker(job: Work) -> Row:
    assert _worker_state is not None
    config, analyzer, setup = _worker_state
    obs, navs, candidates = job
    return judge_recording(obs, navs, candidates, config, analyzer, setup.memory_budget, setup.groups,
                           setup.detector)


def _run_in_processes(jobs: list[Work], setup: _Setup, count: int,
                      stop: Callable[[], bool]) -> Iterator[tuple[int, Row]]:
    pool = workers.ProcessPool(min(count, max(1, len(jobs))), _work_in_worker, _start_worker, (setup,),
                               preload=WORKER_MODULES)
    for index, result in pool.run(enumerate(jobs), stop):
        if isinstance(result, workers.WorkerDied):
            obs, navs, _ = jobs[index]
            yield index, _failed_row(obs, navs, f"{result} while analysing this recording")
        else:
            yield index, result


def _run_on_cluster(jobs: list[Work], setup: _Setup, scheduler: Any,
                    stop: Callable[[], bool]) -> Iterator[tuple[int, Row]]:
    from dask.distributed import Client
    from dask.distributed import as_completed as cluster_completed

    client = scheduler if hasattr(scheduler, "submit") else Client(scheduler)  # type: ignore[no-untyped-call]
    futures = []
    try:
        futures = [client.submit(analyze_recording, obs, navs, setup.config_fields,
                                 [(candidate.paths, candidate.mixed) for candidate in candidates],
                                 setup.memory_budget, setup.groups, setup.detector, pure=False)
                   for obs, navs, candidates in jobs]
        position = {future.key: i for i, future in enumerate(futures)}
        finished = cluster_completed(futures)  # type: ignore[no-untyped-call]
        while not finished.is_empty():  # type: ignore[no-untyped-call]
            if stop():
                raise workers.Stopped
            if not finished.has_ready():  # type: ignore[no-untyped-call]
                time.sleep(workers.POLL_SECONDS)
                continue
            future = next(finished)
            i = position[future.key]
            try:
                row = future.result()
            except Exception as error:  # a lost worker or a worker without the module
                row = error_row(jobs[i][0], jobs[i][1], error)
            future.release()
            yield i, row
    except workers.Stopped:
        client.cancel(futures)
        raise
    finally:
        if client is not scheduler:
            client.close()


# ---------------------------------------------------------------------------------------------------
# Tables

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


def to_dataframe(rows: Sequence[Mapping[str, Any]]) -> pd.DataFrame:
    """The rows as a pandas DataFrame (pandas is imported only here)."""
    try:
        import pandas
    except ImportError:
        raise ImportError("to_dataframe needs pandas (pip install pandas)") from None
    return pandas.DataFrame([dict(row) for row in rows], columns=columns(rows))


def write_csv(rows: Sequence[Mapping[str, Any]], path: str | os.PathLike[str]) -> None:
    """Writes the rows as CSV with a header line; absent and None values are empty cells."""
    with open(path, "w", encoding="utf-8", newline="") as out:
        writer = csv.DictWriter(out, fieldnames=columns(rows), restval="")
        writer.writeheader()
        writer.writerows(rows)


def write_jsonl(rows: Sequence[Mapping[str, Any]], path: str | os.PathLike[str]) -> None:
    """Writes one JSON object per line, every object with all columns in the same order."""
    names = columns(rows)
    with open(path, "w", encoding="utf-8") as out:
        for row in rows:
            out.write(rowfiles.json_line(row, names))


def read_jsonl(path: str | os.PathLike[str]) -> list[Row]:
    """Reads rows written by write_jsonl."""
    with open(path, encoding="utf-8") as source:
        return [json.loads(line) for line in source if line.strip()]


def format_table(rows: Sequence[Mapping[str, Any]]) -> str:
    """A compact fixed-width table of the rows, one line each."""
    lines = [f"{'FILE':<34} {'STATION':<9} {'START':<20} {'EPOCHS':>6} {'SATS':>4} {'C/N0':>5} "
             f"{'EVENTS':>6}  JIS {'GRADE':<5} {'W/F':>5} {'NAV COV':>7} {'CONFIRMED':>9}"]
    for row in rows:
        name = os.path.basename(row["path"])
        name = name if len(name) <= 34 else name[:33] + "~"
        if row["status"] == FAILED:
            lines.append(f"{name:<34} error: {row['error']}")
            continue
        if row["status"] == NOTHING_TO_JUDGE:
            lines.append(f"{name:<34} nothing to judge: {row['reason']}")
            continue
        criteria = f"{row['criteria_warned']}/{row['criteria_failed']}"
        flags = "".join("?" if row[key] is None else letter if row[key] else "-" for letter, key in
                        (("J", "jamming"), ("I", "interference"), ("S", "spoofing")))
        confirmed = "-" if row["confirmation_rate"] is None else f"{row['confirmation_rate']:.1f}%"
        coverage = "-" if row["nav_coverage"] is None else f"{row['nav_coverage']:.1f}%"
        mean = "-" if row["mean_cn0"] is None else f"{row['mean_cn0']:.1f}"
        start = (row["start"] or "")[:19]
        lines.append(f"{name:<34} {(row['station'] or '-')[:9]:<9} {start:<20} {row['epochs']:>6} "
                     f"{row['satellites']:>4} {mean:>5} {row['events']:>6}  {flags} {row['grade']:<5} "
                     f"{criteria:>5} {coverage:>7} {confirmed:>9}")
    warned = [row for row in rows if row.get("warning")]
    if warned:
        lines.append("")
        lines += [f"{os.path.basename(row['path'])}: {row['warning']}" for row in warned]
    lines.append("")
    lines.append("EVENTS: episodes of the event detector; J/I/S: jamming, interference, spoofing detected (-: not "
                 "detected, ?: not assessable); GRADE: the health grade, W/F: its criteria that warn and fail; "
                 "NAV COV: observed satellite-epochs with an ephemeris")
    return "\n".join(lines)


def counts_line(rows: Sequence[Mapping[str, Any]], skipped: int) -> str:
    """The closing line: analysed, nothing-to-judge, failed and skipped files."""
    def count(status: str) -> int:
        return sum(row["status"] == status for row in rows)

    return (f"{count(ANALYSED)} analysed, {count(NOTHING_TO_JUDGE)} nothing to judge, {count(FAILED)} failed, "
            f"{skipped} skipped (not recordings)")


def exit_status(rows: Sequence[Mapping[str, Any]]) -> int:
    """0 when a file was analysed and none failed, 1 when any failed, 3 when every file had nothing
    to judge."""
    statuses = [row["status"] for row in rows]
    if FAILED in statuses or not statuses:
        return 1
    if all(status == NOTHING_TO_JUDGE for status in statuses):
        return 3
    return 0


# ---------------------------------------------------------------------------------------------------
# Station quality control columns

# The signal pairs of the QC pass per constellation, as (system, first, second).
QC_PAIRS = (("GPS", "L1", "L2"), ("GPS", "L1", "L5"), ("GLONASS", "G1", "G2"), ("Galileo", "E1", "E5a"),
            ("Galileo", "E1", "E5b"), ("BeiDou", "B1I", "B3I"), ("BeiDou", "B1I", "B2I"), ("QZSS", "L1", "L2"))


def qc_column_names() -> tuple[str, ...]:
    """The QC columns of a batch, fixed before its first row: per pair `mp_<signal>_<partner>_<system>`
    (multipath RMS in metres of one signal against the other: mp_L1_L2_GPS and mp_L2_L1_GPS for
    L1/L2), per constellation of a pair `phase_slips_<system>` and `obs_per_slip_<system>`, per
    constellation `completeness_<system>`, then `qc_error`."""
    names: list[str] = []
    for system, first, second in QC_PAIRS:
        names += [f"mp_{first}_{second}_{system}", f"mp_{second}_{first}_{system}"]
    for system in dict.fromkeys(system for system, _, _ in QC_PAIRS):
        names += [f"phase_slips_{system}", f"obs_per_slip_{system}"]
    names += [f"completeness_{system}" for system in CONSTELLATION_ORDER]
    return (*names, "qc_error")


def qc_values(obs_path: str, nav_paths: list[str] | None, min_elevation: float) -> Row:
    """The QC columns of one analysed recording (see qc_column_names): completeness is None without
    navigation data, obs_per_slip None without slips; a recording the QC pass cannot read gets
    only `qc_error`."""
    from .quality_control import _report

    try:
        report = _report(obs_path, nav_paths, min_elevation, judge=False)
    except (OSError, ValueError, roles.WrongRole) as error:
        return {"qc_error": str(error)}
    values: Row = {}
    for system in report.constellations():
        pairs = report.pairs[report.pairs.system == system]
        for first, second, mp_first, mp_second in zip(pairs["first"], pairs["second"], pairs.mp_first_rms,
                                                      pairs.mp_second_rms):
            values[f"mp_{first}_{second}_{system}"] = rowfiles.json_value(float(mp_first))
            values[f"mp_{second}_{first}_{system}"] = rowfiles.json_value(float(mp_second))
        if len(pairs):
            slips = int(pairs.slips.sum())
            values[f"phase_slips_{system}"] = slips
            values[f"obs_per_slip_{system}"] = int(pairs.observations.sum()) / slips if slips else None
        values[f"completeness_{system}"] = report.completeness_percent(system)
    return values


def qc_group(min_elevation: float) -> ColumnGroup:
    """The column group of `batch --qc`: the QC figures of every analysed recording, with the
    batch's navigation data and elevation mask."""
    return ColumnGroup("qc", qc_column_names(), functools.partial(qc_values, min_elevation=min_elevation))


# ---------------------------------------------------------------------------------------------------
# Command line

BATCH_EXIT_STATUSES = """exit status:
  0    at least one file analysed and none failed
  1    a file failed (an error row), or no recording found
  2    usage error (bad options), or a --resume refused
  3    nothing to judge: no file had signal-strength (C/N0) samples
  130  stopped by SIGINT (Ctrl-C), 143 stopped by SIGTERM: the finished rows are in the
       output files, which --resume continues"""


def parse_size(text: str) -> int:
    """A byte count from the command line: 1000, 64K, 512M, 2G, 1.5GiB (powers of 1024)."""
    match = re.fullmatch(r"\s*(\d+(?:\.\d*)?)\s*([KMGT]?)(?:i?B)?\s*", text, re.IGNORECASE)
    if match is None or float(match[1]) <= 0:
        raise argparse.ArgumentTypeError(f"not a size: {text!r} (examples: 500M, 2G, 1000000)")
    return int(float(match[1]) * 1024 ** " KMGT".index(match[2].upper() or " "))


def add_command(commands: Any) -> None:
    """Registers the `batch` subcommand on the CLI's subparsers."""
    batch = commands.add_parser(
        "batch", help="analyse many recordings into one table",
        description="Analyse many RINEX observation files on all cores or on a Dask cluster; one row per\n"
                    "file, judged as `analyze` judges it.",
        epilog=BATCH_EXIT_STATUSES,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    batch.add_argument("paths", nargs="+", metavar="PATHS",
                       help="observation files, or directories whose recordings are taken (by name, or by a "
                            "RINEX observation or compact RINEX header, also inside an archive)")
    batch.add_argument("--nav-dir", metavar="DIR",
                       help="directory of navigation files: each recording gets, among the files of its day, the "
                            "data that cover its observed satellites best")
    batch.add_argument("--workers", metavar="N", type=settings.count,
                       help="worker processes (default: number of cores)")
    batch.add_argument("--threads", action="store_true",
                       help="analyse in threads of this process instead of worker processes (a native fault "
                            "then ends the batch)")
    batch.add_argument("--scheduler", metavar="ADDRESS", help="run on the Dask cluster at ADDRESS")
    batch.add_argument("--csv", metavar="FILE", help="write the rows as CSV to FILE")
    batch.add_argument("--jsonl", metavar="FILE", help="write the rows as JSON lines to FILE")
    batch.add_argument("--parquet", metavar="FILE",
                       help="also write the rows as Parquet to FILE at the end (needs --jsonl and pyarrow)")
    batch.add_argument("--resume", action="store_true",
                       help="keep the rows already in the --jsonl/--csv output and analyse only the recordings "
                            "without one; refused when the output was written with other settings")
    batch.add_argument("--memory-budget", metavar="SIZE", type=parse_size,
                       help="refuse a recording whose file is larger, or whose archive expands past SIZE "
                            "(e.g. 2G; default: a quarter of the machine's memory)")
    batch.add_argument("--no-progress", action="store_true", help="no progress bar on stderr")
    batch.add_argument("--qc", action="store_true",
                       help="add the station quality control per constellation to every row: multipath RMS per "
                            "signal pair (mp_L1_L2_GPS, ...), completeness_<system>, phase_slips_<system> and "
                            "obs_per_slip_<system>")
    settings.add_arguments(batch)
    # The parser goes along so that checks across options end as argparse's own usage errors.
    batch.set_defaults(run=command_batch, parser=batch)


def _is_recording(path: Path) -> bool:
    """Whether a directory entry looks like a recording, by its name or its first bytes (an archive
    is looked into; one that cannot be read counts, so that it gets an error row)."""
    if is_observation_name(path.name):
        return True
    found = roles.sniff(path)
    if found.kind == "archive":
        found = roles.resolve(path, found)
    return found.kind in ("observation", "unreadable")


def expand_paths(paths: Sequence[str]) -> tuple[list[str], int]:
    """The recordings of the given paths (directories scanned, files taken as they are) and the
    number of directory entries skipped as no recording."""
    expanded: list[str] = []
    skipped = 0
    for path in paths:
        if not os.path.isdir(path):
            expanded.append(path)
            continue
        for entry in sorted(Path(path).iterdir()):
            if not entry.is_file():
                continue
            if _is_recording(entry):
                expanded.append(str(entry))
            else:
                skipped += 1
    return expanded, skipped


class _SignalStop:
    """While entered, SIGINT and SIGTERM ask the batch to stop instead of ending the process; the
    instance is true once one came (its number in `signal_number`)."""

    def __init__(self) -> None:
        self.signal_number: int | None = None
        self._previous: dict[int, Any] = {}

    def _record(self, number: int, frame: FrameType | None) -> None:
        if self.signal_number is None:
            self.signal_number = number

    def __call__(self) -> bool:
        return self.signal_number is not None

    def __enter__(self) -> _SignalStop:
        for number in (signal.SIGINT, signal.SIGTERM):
            self._previous[number] = signal.signal(number, self._record)
        return self

    def __exit__(self, *exc: object) -> None:
        for number, handler in self._previous.items():
            signal.signal(number, handler)


def _batch_settings(args: argparse.Namespace, config: vardoln_cn0.AnalysisConfig, budget: int,
                    groups: Sequence[ColumnGroup], detector: settings.DetectorSettings) -> dict[str, Any]:
    """What shapes a row, as recorded beside the outputs and compared by --resume."""
    return {"analysis": config_to_dict(config), "detector": detector.as_dict(), "memory_budget": budget,
            "nav_dir": None if args.nav_dir is None else os.path.abspath(args.nav_dir),
            "column_groups": [group.name for group in groups], "columns": fixed_columns(groups)}


def command_batch(args: argparse.Namespace) -> int:
    """The batch subcommand: failures to start or to write end as the command line's one-line errors
    (CommandError), option conflicts as its usage errors."""
    from .command_support import CommandError

    paths, skipped = expand_paths(args.paths)
    if not paths:
        raise CommandError(f"no recordings found ({skipped} files skipped: not recordings)")
    if args.parquet and not args.jsonl:
        args.parser.error("--parquet needs --jsonl: the Parquet file is made from its rows")
    if args.resume and not (args.jsonl or args.csv):
        args.parser.error("--resume needs the --jsonl or --csv output to continue")
    config = settings.from_arguments(args)
    detector = settings.detector_from_arguments(args)
    budget = default_memory_budget() if args.memory_budget is None else args.memory_budget
    groups = [qc_group(args.min_elevation)] if args.qc else []
    names = fixed_columns(groups)
    try:
        files = rowfiles.BatchFiles(args.jsonl, args.csv, names, _batch_settings(args, config, budget, groups, detector),
                                    args.resume)
    except rowfiles.ResumeRefused as refused:
        print(f"vardoln-cn0: error: {refused}", file=sys.stderr)
        return 2
    except OSError as error:
        raise CommandError(str(error)) from None
    done = {os.path.abspath(row["path"]): row for row in files.rows}
    todo = [path for path in paths if os.path.abspath(path) not in done]
    if args.resume and done:
        print(f"vardoln-cn0: resuming: {len(paths) - len(todo)} of {len(paths)} recordings already have rows",
              file=sys.stderr)
    try:
        with _SignalStop() as stop:
            try:
                for row in analyze_iter(todo, nav_dir=args.nav_dir, config=config, workers=args.workers,
                                        scheduler=args.scheduler, progress=not args.no_progress, threads=args.threads,
                                        memory_budget=budget, groups=groups, stop=stop, detector=detector):
                    files.write(row)
                    done[os.path.abspath(row["path"])] = row
            except workers.Stopped:
                files.close()
                number = stop.signal_number or signal.SIGINT
                left = sum(os.path.abspath(path) not in done for path in paths)
                kept = f"; the finished rows are in {args.jsonl or args.csv}, and --resume analyses the rest" \
                    if args.jsonl or args.csv else ""
                print(f"\nvardoln-cn0: stopped by {signal.Signals(number).name}: {left} of {len(paths)} recordings "
                      f"left{kept}", file=sys.stderr)
                return 128 + number
        files.close()
        # Complete: the outputs are put in the order of the recordings given (rows of other
        # recordings, kept from an earlier run, first).
        rows = [done[os.path.abspath(path)] for path in paths]
        given = {os.path.abspath(path) for path in paths}
        files.rewrite([row for row in files.rows if os.path.abspath(row["path"]) not in given] + rows)
        if args.parquet:
            rowfiles.write_parquet(rowfiles.read_jsonl_rows(Path(args.jsonl)), names, args.parquet)
    except (OSError, ImportError) as error:
        files.close()
        raise CommandError(str(error)) from None
    print(format_table(rows))
    print(counts_line(rows, skipped))
    return exit_status(rows)
