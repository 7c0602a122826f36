"""Batch analysis of many recordings: a thread pool on one machine, or a Dask cluster.

Every recording becomes one flat row (a dict of plain values), so a station-day archive loads into one
table. A recording that cannot be read gives a row with its error and never stops the batch.
"""

from __future__ import annotations

import argparse
import csv
import json
import math
import os
import re
import sys
from collections.abc import Callable, Iterable, Mapping, Sequence
from concurrent.futures import ThreadPoolExecutor, as_completed
from pathlib import Path
from typing import TYPE_CHECKING, Any, Protocol

if TYPE_CHECKING:
    import pandas

    from vardoln_cn0 import AnalysisConfig, AnalysisResult, CN0Analyzer

# One recording's row: column name -> plain value (str, int, float, bool or None).
Row = dict[str, Any]
StrPath = str | os.PathLike[str]
# Navigation files for analyze_many: one for all recordings, or observation path -> navigation path.
NavChoice = StrPath | Mapping[StrPath, StrPath | None] | None

MEAN_PREFIX = "mean_cn0_"
HEAD_COLUMNS = ("path", "nav", "station", "start", "end", "epochs", "satellites", "mean_cn0")
TAIL_COLUMNS = ("anomalies", "anomalies_low", "anomalies_high", "anomalies_critical",
                "jamming", "interference", "spoofing", "grade", "rating", "confirmation_rate", "error")
# Constellation mean columns follow the overall mean in this order; names outside it go after, sorted.
CONSTELLATION_ORDER = ("GPS", "GLONASS", "Galileo", "BeiDou", "QZSS", "IRNSS", "NavIC", "SBAS")

# The fifteen AnalysisConfig attributes, in declaration order.
CONFIG_FIELDS = ("systems", "nav_file", "min_elevation", "min_cn0", "max_cn0", "anomaly_threshold_low",
                 "anomaly_threshold_high", "anomaly_threshold_critical", "anomaly_sensitivity",
                 "interference_threshold_db", "spoofing_unexpected_threshold", "spoofing_min_unexpected_count",
                 "time_bin_seconds", "detect_anomalies", "verbose")

# The stored grade and the interpretation sentence are cut at the same score bounds, so the sentence
# (an accessor) names the grade without exporting the whole result to JSON, which holds the GIL.
_GRADE_BY_SENTENCE = (
    ("Excellent GNSS signal quality", "A"),
    ("Good GNSS signal quality", "B"),
    ("Fair GNSS signal quality with some issues", "C"),
    ("Poor GNSS signal quality", "D"),
    ("Very poor GNSS signal quality", "F"),
    ("No data", "N/A"),
)


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

    def __init__(self, nav_paths: Iterable[StrPath]):
        self._by_day: dict[tuple[int, int], list[tuple[str, str, str]]] = {}
        for path in nav_paths:
            text = os.fspath(path)
            facts = _name_facts(os.path.basename(text))
            if facts is None or facts[3] != "nav":
                continue
            station, year, doy, _, system = facts
            self._by_day.setdefault((year, doy), []).append((station, system, text))

    @classmethod
    def from_directory(cls, nav_dir: StrPath) -> NavigationIndex:
        with os.scandir(nav_dir) as entries:
            return cls(entry.path for entry in entries if entry.is_file())

    def find(self, obs_path: StrPath) -> str | None:
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


def match_navigation(obs_path: StrPath, nav_paths: Iterable[StrPath]) -> str | None:
    """The best navigation file among nav_paths for one recording (see NavigationIndex.find)."""
    return NavigationIndex(nav_paths).find(obs_path)


# ---------------------------------------------------------------------------------------------------
# Configuration as plain values, for workers in other processes

def config_to_dict(config: AnalysisConfig) -> dict[str, Any]:
    """The fifteen attributes of an AnalysisConfig as stored (thresholds already scaled)."""
    fields = {name: getattr(config, name) for name in CONFIG_FIELDS}
    if fields["systems"] is not None:
        fields["systems"] = list(fields["systems"])
    return fields


def config_from_dict(fields: Mapping[str, Any]) -> AnalysisConfig:
    """An AnalysisConfig whose attributes equal the stored ones of config_to_dict.

    The constructor scales the low and high thresholds by 1 - 0.5 x sensitivity and stores
    interference_threshold_db as the critical threshold, so the stored values go back in unscaled form;
    when no given value scales exactly to the stored one, sensitivity 0 carries the thresholds over
    unchanged (the analysis settings stay equal; only the shown sensitivity differs)."""
    import vardoln_cn0

    keywords = {name: fields[name] for name in CONFIG_FIELDS}
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

def stored_grade(result: AnalysisResult) -> str:
    """The grade of the result's stored quality score (the JSON export's quality_score.grade)."""
    sentence = result.summary
    for start, grade in _GRADE_BY_SENTENCE:
        if sentence.startswith(start):
            return grade
    stored: str = json.loads(result.to_json())["quality_score"]["grade"]
    return stored


def result_row(result: AnalysisResult, obs_path: str, nav_path: str | None) -> Row:
    """The row of one analysed recording."""
    row: Row = {"path": obs_path, "nav": nav_path, "station": result.station_name, "start": result.start_time,
           "end": result.end_time, "epochs": result.total_epochs, "satellites": result.total_satellites,
           "mean_cn0": result.mean_cn0}
    for name in result.constellations:
        stats = result.get_constellation_summary(name)
        if stats is not None:
            # a constellation seen in the file but outside the selection has no samples, hence no mean
            row[MEAN_PREFIX + name] = float(stats["mean_cn0"]) if stats["observation_count"] != "0" else None
    severities = result.get_anomaly_severities()
    grade = stored_grade(result)
    if grade == "N/A":  # no usable sample: the summary's 0 is no mean
        row["mean_cn0"] = None
    row.update(
        anomalies=len(severities),
        anomalies_low=severities.count("low"),
        anomalies_high=severities.count("high"),
        anomalies_critical=severities.count("critical"),
        jamming=result.jamming_detected,
        interference=result.interference_detected,
        spoofing=result.spoofing_detected,
        grade=grade,
        rating=result.quality_score.rating,
        confirmation_rate=result.visibility_confirmation_rate if result.has_visibility_prediction else None,
        error=None,
    )
    return row


def error_row(obs_path: str, nav_path: str | None, error: BaseException) -> Row:
    """The row of a recording that could not be analysed: every value None but the error."""
    row = dict.fromkeys(HEAD_COLUMNS + TAIL_COLUMNS)
    row.update(path=obs_path, nav=nav_path, error=f"{type(error).__name__}: {error}")
    return row


def _analyze(analyzer: CN0Analyzer, obs_path: str, nav_path: str | None) -> Row:
    try:
        if nav_path is None:
            result = analyzer.analyze_file(obs_path)
        else:
            result = analyzer.analyze_with_nav(obs_path, nav_path)
        return result_row(result, obs_path, nav_path)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:  # the module's internal fault derives from BaseException
        return error_row(obs_path, nav_path, error)


def analyze_recording(obs_path: str, nav_path: str | None, config: Mapping[str, Any] | None = None) -> Row:
    """The task run on a Dask worker: plain, picklable arguments in, one row out."""
    import vardoln_cn0

    try:
        analyzer = vardoln_cn0.CN0Analyzer(vardoln_cn0.AnalysisConfig() if config is None
                                           else config_from_dict(config))
    except Exception as error:
        return error_row(obs_path, nav_path, error)
    return _analyze(analyzer, obs_path, nav_path)


# ---------------------------------------------------------------------------------------------------
# Many recordings

class _ProgressBar(Protocol):
    def update(self, count: int = 1) -> object: ...

    def close(self) -> None: ...


class _NoProgress:
    def update(self, count: int = 1) -> None:
        pass

    def close(self) -> None:
        pass


def _progress(total: int, enabled: bool) -> _ProgressBar:
    if enabled:
        try:
            from tqdm import tqdm
        except ImportError:
            pass
        else:
            return tqdm(total=total, unit=" files", file=sys.stderr, smoothing=0.1, dynamic_ncols=True)
    return _NoProgress()


def _nav_lookup(nav: NavChoice, nav_dir: StrPath | None) -> Callable[[str], str | None]:
    """A function from observation path to navigation path (or None)."""
    if nav is not None and not isinstance(nav, Mapping):
        shared = os.fspath(nav)
        return lambda obs_path: shared
    explicit = {os.fspath(key): None if value is None else os.fspath(value) for key, value in (nav or {}).items()}
    index = NavigationIndex.from_directory(nav_dir) if nav_dir is not None else None

    def lookup(obs_path: str) -> str | None:
        if obs_path in explicit:
            return explicit[obs_path]
        return index.find(obs_path) if index is not None else None

    return lookup


def analyze_many(obs_paths: Iterable[StrPath], *, nav: NavChoice = None, nav_dir: StrPath | None = None,
                 config: AnalysisConfig | None = None, workers: int | None = None, scheduler: Any = None,
                 progress: bool = True) -> list[Row]:
    """Analyses every recording and returns one row per path, in the order given.

    nav: one navigation path for all recordings, or a mapping from observation path to navigation path
    (None for none); recordings not in the mapping are matched in nav_dir by station and day. A
    recording without navigation file is analysed by analyze_file (which reads config.nav_file if set).
    workers: threads of the local pool (default os.cpu_count()). scheduler: a Dask scheduler address or
    a dask.distributed Client; each recording then runs as one task on the cluster, whose workers must
    see the same paths.
    """
    import vardoln_cn0

    paths = [os.fspath(path) for path in obs_paths]
    lookup = _nav_lookup(nav, nav_dir)
    jobs = [(path, lookup(path)) for path in paths]
    config = vardoln_cn0.AnalysisConfig() if config is None else config
    bar = _progress(len(jobs), progress)
    try:
        if scheduler is not None:
            return _run_on_cluster(jobs, config_to_dict(config), scheduler, bar)
        return _run_on_threads(jobs, vardoln_cn0.CN0Analyzer(config), workers or os.cpu_count() or 1, bar)
    finally:
        bar.close()


def _run_on_threads(jobs: Sequence[tuple[str, str | None]], analyzer: CN0Analyzer, workers: int,
                    bar: _ProgressBar) -> list[Row]:
    # One analyzer serves every thread: its file methods take a shared borrow and run without the GIL.
    rows: list[Row] = [{} for _ in jobs]
    with ThreadPoolExecutor(max_workers=max(1, workers)) as pool:
        futures = {pool.submit(_analyze, analyzer, obs, nav): i for i, (obs, nav) in enumerate(jobs)}
        for future in as_completed(futures):
            rows[futures[future]] = future.result()
            bar.update()
    return rows


def _run_on_cluster(jobs: Sequence[tuple[str, str | None]], config_fields: dict[str, Any], scheduler: Any,
                    bar: _ProgressBar) -> list[Row]:
    from dask.distributed import Client
    from dask.distributed import as_completed as cluster_completed

    # dask.distributed leaves these two unannotated
    client = scheduler if hasattr(scheduler, "submit") else Client(scheduler)  # type: ignore[no-untyped-call]
    try:
        futures = [client.submit(analyze_recording, obs, nav, config_fields, pure=False) for obs, nav in jobs]
        position = {future.key: i for i, future in enumerate(futures)}
        rows: list[Row] = [{} for _ in jobs]
        for future in cluster_completed(futures):  # type: ignore[no-untyped-call]
            i = position[future.key]
            try:
                rows[i] = future.result()
            except Exception as error:  # a lost worker or a worker without the module
                rows[i] = error_row(*jobs[i], error)
            future.release()
            bar.update()
        return rows
    finally:
        if client is not scheduler:
            client.close()


# ---------------------------------------------------------------------------------------------------
# Tables

def columns(rows: Iterable[Mapping[str, Any]]) -> list[str]:
    """The union of the rows' keys in a stable order: identity and times, overall then per-constellation
    mean C/N0, counts and verdicts, error last; unknown keys before the error, in order of appearance."""
    seen: dict[str, None] = {}
    for row in rows:
        seen.update(dict.fromkeys(row))
    known = set(HEAD_COLUMNS) | set(TAIL_COLUMNS)
    means = [key for key in seen if key.startswith(MEAN_PREFIX)]
    order = {name: i for i, name in enumerate(CONSTELLATION_ORDER)}
    means.sort(key=lambda key: (order.get(key[len(MEAN_PREFIX):], len(order)), key))
    extra = [key for key in seen if key not in known and not key.startswith(MEAN_PREFIX)]
    return [*HEAD_COLUMNS, *means, *TAIL_COLUMNS[:-1], *extra, TAIL_COLUMNS[-1]]


def to_dataframe(rows: Sequence[Mapping[str, Any]]) -> pandas.DataFrame:
    """The rows as a pandas DataFrame (pandas is imported only here)."""
    try:
        import pandas
    except ImportError:
        raise ImportError("to_dataframe needs pandas (pip install pandas)") from None
    return pandas.DataFrame([dict(row) for row in rows], columns=columns(rows))


def write_csv(rows: Sequence[Mapping[str, Any]], path: StrPath) -> None:
    """Writes the rows as CSV with a header line; absent and None values are empty cells."""
    with open(path, "w", encoding="utf-8", newline="") as out:
        writer = csv.DictWriter(out, fieldnames=columns(rows), restval="")
        writer.writeheader()
        writer.writerows(rows)


def _json_value(value: object) -> object:
    # strict JSON has no NaN or infinity
    return None if isinstance(value, float) and not math.isfinite(value) else value


def write_jsonl(rows: Sequence[Mapping[str, Any]], path: StrPath) -> None:
    """Writes one JSON object per line, every object with all columns in the same order."""
    names = columns(rows)
    with open(path, "w", encoding="utf-8") as out:
        for row in rows:
            out.write(json.dumps({name: _json_value(row.get(name)) for name in names}, ensure_ascii=False))
            out.write("\n")


def read_jsonl(path: StrPath) -> list[Row]:
    """Reads rows written by write_jsonl."""
    with open(path, encoding="utf-8") as source:
        return [json.loads(line) for line in source if line.strip()]


def format_table(rows: Sequence[Mapping[str, Any]]) -> str:
    """A compact fixed-width table of the rows, one line each."""
    lines = [f"{'FILE':<34} {'STATION':<9} {'START':<20} {'EPOCHS':>6} {'SATS':>4} {'C/N0':>5} "
             f"{'L/H/C':>9}  JIS {'GRADE':<5} {'RATING':<13} {'CONFIRMED':>9}"]
    for row in rows:
        name = os.path.basename(row["path"])
        name = name if len(name) <= 34 else name[:33] + "~"
        if row.get("error") is not None:
            lines.append(f"{name:<34} {row['error']}")
            continue
        counts = f"{row['anomalies_low']}/{row['anomalies_high']}/{row['anomalies_critical']}"
        flags = "".join(letter if row[key] else "-" for letter, key in
                        (("J", "jamming"), ("I", "interference"), ("S", "spoofing")))
        confirmed = "-" if row["confirmation_rate"] is None else f"{row['confirmation_rate']:.1f}%"
        mean = "-" if row["mean_cn0"] is None else f"{row['mean_cn0']:.1f}"
        start = (row["start"] or "")[:19]
        lines.append(f"{name:<34} {(row['station'] or '-')[:9]:<9} {start:<20} {row['epochs']:>6} "
                     f"{row['satellites']:>4} {mean:>5} {counts:>9}  {flags} {row['grade']:<5} "
                     f"{row['rating']:<13} {confirmed:>9}")
    return "\n".join(lines)


# ---------------------------------------------------------------------------------------------------
# Command line

def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers the `batch` subcommand on the CLI's subparsers."""
    batch = commands.add_parser(
        "batch", help="analyse many recordings into one table",
        description="Analyse many RINEX observation files on all cores or on a Dask cluster; "
                    "one row per file.")
    batch.add_argument("paths", nargs="+", metavar="PATHS",
                       help="observation files, or directories whose RINEX observation files are taken")
    batch.add_argument("--nav-dir", metavar="DIR",
                       help="directory of navigation files, matched to each recording by station and day")
    batch.add_argument("--workers", metavar="N", type=int, help="threads (default: number of cores)")
    batch.add_argument("--scheduler", metavar="ADDRESS", help="run on the Dask cluster at ADDRESS")
    batch.add_argument("--csv", metavar="FILE", help="write the rows as CSV to FILE")
    batch.add_argument("--jsonl", metavar="FILE", help="write the rows as JSON lines to FILE")
    batch.add_argument("--min-elevation", metavar="DEG", type=float, default=5.0,
                       help="elevation mask in degrees (default 5)")
    batch.add_argument("--systems", metavar="G,R,E,C", help="constellations to analyse (default G,R,E,C)")
    batch.add_argument("--no-progress", action="store_true", help="no progress bar on stderr")
    batch.set_defaults(run=command_batch)


def _expand_paths(paths: list[str]) -> list[str]:
    expanded = []
    for path in paths:
        if os.path.isdir(path):
            expanded.extend(sorted(str(entry) for entry in Path(path).iterdir()
                                   if entry.is_file() and is_observation_name(entry.name)))
        else:
            expanded.append(path)
    return expanded


def command_batch(args: argparse.Namespace) -> int:
    import vardoln_cn0

    systems = None if args.systems is None else [part.strip() for part in args.systems.split(",") if part.strip()]
    paths = _expand_paths(args.paths)
    if not paths:
        print("vardoln-cn0: error: no observation files found", file=sys.stderr)
        return 1
    config = vardoln_cn0.AnalysisConfig(min_elevation=args.min_elevation, systems=systems)
    try:
        rows = analyze_many(paths, nav_dir=args.nav_dir, config=config, workers=args.workers,
                            scheduler=args.scheduler, progress=not args.no_progress)
        if args.csv:
            write_csv(rows, args.csv)
        if args.jsonl:
            write_jsonl(rows, args.jsonl)
    except OSError as error:
        print(f"vardoln-cn0: error: {error}", file=sys.stderr)
        return 1
    print(format_table(rows))
    failed = sum(row["error"] is not None for row in rows)
    if failed:
        print(f"vardoln-cn0: {failed} of {len(rows)} files could not be analysed", file=sys.stderr)
    return 1 if failed == len(rows) else 0
