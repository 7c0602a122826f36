"""Station quality control from code and carrier: multipath per satellite and signal pair, phase
slips, and one QC report that puts them beside completeness, C/N0 per signal, navigation coverage
and the C/N0 verdicts of the analysis.

Multipath for frequencies f_i, f_j (alpha = (f_i/f_j)^2, phases in metres):
MP_i = P_i - (1 + 2/(alpha-1)) Phi_i + (2/(alpha-1)) Phi_j, and the symmetric MP_j, with the arc
mean (the carrier ambiguity) removed within every arc of at least 10 epochs. A phase slip is a
jump of the geometry-free phase combination above 0.05 m + 1 mm/s x the epoch step (0.08 m at
30 s), or of the Melbourne-Wubbena combination above 4 wide-lane cycles. These are not the
"C/N0 jumps" that the module's `cycle_slips` counts (steps of over 10 dB-Hz between sorted C/N0
values). A pair that a file cannot give has no rows and a reason in `missing`, never zeros.
"""

from __future__ import annotations

import json
import functools
import math
import weakref
from collections.abc import Callable, Mapping
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt
import pandas as pd

from .. import _native
from .._version import __version__
from ..tables import recording
from ..tables._common import (NavArg, RecordingArg, array, attrs, frame, nav_argument, navigation_attrs, path_argument,
                              source, system_name)
from ..tables.signals import SignalStats, completeness_frame, coverage_frame, signal_stats_of

if TYPE_CHECKING:
    import vardoln_cn0

    from .assessment import Assessment

__all__ = ["Multipath", "QcReport", "multipath", "phase_slips", "qc"]


@dataclass(frozen=True, eq=False)
class Multipath:
    """Code multipath of a recording, in metres.

    ``by_satellite``: one row per satellite, signal pair and code (the two signals of a pair give
    a row each: MP_i on the first signal's code, MP_j on the second's), with ``system``,
    ``satellite``, ``pair`` ("L1/L2"), ``signal`` ("L1"), ``code`` ("C1C"), ``codes_used`` (code
    and phase of both signals, "C1C L1C C2W L2W"), ``samples``, ``arcs`` (of at least 10 epochs)
    and ``rms`` (NaN without samples). ``mp_by_elevation``: with navigation data, the RMS per
    constellation, pair and signal in 5-degree bins (``elevation_low``, ``elevation_high``,
    ``samples``, ``rms``), only bins with samples; None without navigation data. ``missing``: the
    pairs without rows and why (``satellite`` <NA> when the whole constellation has none).
    ``samples``: every multipath value (``time``, ``satellite``, ``system``, ``pair``,
    ``signal``, ``mp``, ``elevation``, NaN where unknown), for plots; made on first use (a day
    of 1 s data holds millions).
    """

    by_satellite: pd.DataFrame
    mp_by_elevation: pd.DataFrame | None
    missing: pd.DataFrame
    make_samples: Callable[[], pd.DataFrame] = field(repr=False)

    @functools.cached_property
    def samples(self) -> pd.DataFrame:
        """Every multipath value in long form (see the class)."""
        return self.make_samples()


def _strings(values: list[str]) -> pd.api.extensions.ExtensionArray:
    return pd.array(values, dtype="string")


def _category(values: list[str] | npt.NDArray[Any]) -> pd.Categorical[str]:
    return pd.Categorical(values)


class _Table:
    """The native QC table of one recording, with the pair names at hand."""

    def __init__(self, table: dict[str, Any], obs: str, navs: list[str] | None, min_elevation: float):
        self.table, self.obs, self.navs, self.min_elevation = table, obs, navs, min_elevation
        pairs = table["pairs"]
        self.pair_system: list[str] = pairs["system"]
        self.pair_name: list[str] = pairs["name"]
        self.first: list[str] = pairs["first"]
        self.second: list[str] = pairs["second"]
        self.rows: dict[str, Any] = table["rows"]
        self.row_pair = array(self.rows["pair"]).astype(np.intp)
        self.attrs = attrs(table["facts"], obs, navs) | {
            "min_elevation": min_elevation if table["has_elevations"] else None,
            "qc_interval": table["interval"], "rules": dict(table["rules"]),
            "has_elevations": table["has_elevations"]}
        if navs:
            self.attrs |= navigation_attrs(table["navigation_spans"])

    def row_systems(self) -> list[str]:
        return [system_name(satellite) for satellite in self.rows["satellite"]]

    def row_pairs(self) -> list[str]:
        return [self.pair_name[index] for index in self.row_pair]

    def by_satellite(self) -> pd.DataFrame:
        """Two rows per native row: MP_i on the first signal, MP_j on the second."""
        rows = self.rows
        count = len(rows["satellite"])
        twice = np.repeat(np.arange(count), 2)
        first_side = np.tile([True, False], count)
        signal = [self.first[self.row_pair[i]] if side else self.second[self.row_pair[i]]
                  for i, side in zip(twice, first_side)]
        code = [rows["code_i"][i] if side else rows["code_j"][i] for i, side in zip(twice, first_side)]
        rms = np.where(first_side, array(rows["rms_i"])[twice], array(rows["rms_j"])[twice])
        systems = self.row_systems()
        return frame({
            "system": _category([systems[i] for i in twice]),
            "satellite": _category([rows["satellite"][i] for i in twice]),
            "pair": _category([self.pair_name[self.row_pair[i]] for i in twice]),
            "signal": _category(signal),
            "code": _strings(code),
            "codes_used": _strings([rows["codes_used"][i] for i in twice]),
            "samples": array(rows["samples"]).astype(np.int64)[twice],
            "arcs": array(rows["arcs"]).astype(np.int64)[twice],
            "rms": rms,
        }, dict(self.attrs))

    def by_elevation(self) -> pd.DataFrame | None:
        if not self.table["has_elevations"]:
            return None
        records = []
        for summary in self.table["summaries"]:
            index = summary["pair"]
            for lower, samples, rms_i, rms_j in summary["by_elevation"]:
                for signal, rms in ((self.first[index], rms_i), (self.second[index], rms_j)):
                    records.append((self.pair_system[index], self.pair_name[index], signal, lower,
                                    min(lower + 5.0, 90.0), samples, rms))
        columns: list[tuple[Any, ...]] = list(zip(*records)) if records else [() for _ in range(7)]
        return frame({
            "system": _category(list(columns[0])), "pair": _category(list(columns[1])),
            "signal": _category(list(columns[2])),
            "elevation_low": np.array(columns[3], dtype=np.float64),
            "elevation_high": np.array(columns[4], dtype=np.float64),
            "samples": np.array(columns[5], dtype=np.int64), "rms": np.array(columns[6], dtype=np.float64),
        }, dict(self.attrs))

    def missing(self) -> pd.DataFrame:
        entries = self.table["missing"]
        return frame({
            "system": _strings([self.pair_system[entry["pair"]] for entry in entries]),
            "pair": _strings([self.pair_name[entry["pair"]] for entry in entries]),
            "satellite": pd.array([entry["satellite"] or None for entry in entries], dtype="string"),
            "reason": _strings([entry["reason"] for entry in entries]),
            "text": _strings([entry["text"] for entry in entries]),
        }, dict(self.attrs))

    def samples(self) -> pd.DataFrame:
        """Long form: each native sample gives MP_i on the first signal and MP_j on the second."""
        native = self.table["samples"]
        satellites: list[str] = self.rows["satellites"]
        time = array(native["time"]).view("datetime64[ns]")
        satellite = array(native["satellite"]).astype(np.intp)
        pair = array(native["pair"]).astype(np.intp)
        count = len(time)
        pair_category = pd.Categorical(self.pair_name)
        signal_names = list(dict.fromkeys(self.first + self.second))
        first_code = np.array([signal_names.index(name) for name in self.first], dtype=np.int16)
        second_code = np.array([signal_names.index(name) for name in self.second], dtype=np.int16)
        systems = [system_name(name) for name in satellites]
        system_names = list(dict.fromkeys(systems))
        system_code = np.array([system_names.index(name) for name in systems], dtype=np.int16)
        pair_codes = pair_category.codes
        return frame({
            "time": np.concatenate([time, time]),
            "satellite": pd.Categorical.from_codes(np.concatenate([satellite, satellite]),
                                                   categories=pd.Index(satellites)),
            "system": pd.Categorical.from_codes(np.tile(system_code[satellite] if count else [], 2).astype(np.int16),
                                                categories=pd.Index(system_names)),
            "pair": pd.Categorical.from_codes(np.tile(pair_codes[pair] if count else [], 2).astype(np.int16),
                                              categories=pair_category.categories),
            "signal": pd.Categorical.from_codes(np.concatenate([first_code[pair], second_code[pair]]),
                                                categories=pd.Index(signal_names)),
            "mp": np.concatenate([array(native["mp_i"]), array(native["mp_j"])]).astype(np.float64),
            "elevation": np.tile(array(native["elevation"]), 2).astype(np.float64),
        }, dict(self.attrs))

    def multipath(self) -> Multipath:
        return Multipath(self.by_satellite(), self.by_elevation(), self.missing(), self.samples)

    def phase_slips(self) -> pd.DataFrame:
        rows = self.rows
        return frame({
            "system": _category(self.row_systems()),
            "satellite": _category(rows["satellite"]),
            "pair": _category(self.row_pairs()),
            "codes_used": _strings(rows["codes_used"]),
            "slips": array(rows["slips"]).astype(np.int64),
            "lli_slips": array(rows["lli_slips"]).astype(np.int64),
            "observations": array(rows["observations"]).astype(np.int64),
            "obs_per_slip": array(rows["obs_per_slip"]),
        }, dict(self.attrs))

    def slip_events(self) -> pd.DataFrame:
        native = self.table["slips"]
        satellites: list[str] = self.rows["satellites"]
        satellite = array(native["satellite"]).astype(np.intp)
        pair = array(native["pair"]).astype(np.intp)
        return frame({
            "time": array(native["time"]).view("datetime64[ns]"),
            "system": _category([system_name(satellites[i]) for i in satellite]),
            "satellite": _category([satellites[i] for i in satellite]),
            "pair": _category([self.pair_name[i] for i in pair]),
            "geometry_free": array(native["geometry_free"]).copy(),
            "wide_lane": array(native["wide_lane"]).copy(),
            "lost_lock": array(native["lost_lock"]).copy(),
        }, dict(self.attrs))

    def pairs(self) -> pd.DataFrame:
        """One row per constellation and pair with rows, in the fixed pair order."""
        summaries = self.table["summaries"]
        indices = [summary["pair"] for summary in summaries]

        def column(key: str) -> list[Any]:
            return [summary[key] for summary in summaries]

        def numbers(key: str) -> npt.NDArray[np.float64]:
            return np.array([math.nan if value is None else value for value in column(key)], dtype=np.float64)

        return frame({
            "system": _strings([self.pair_system[i] for i in indices]),
            "pair": _strings([self.pair_name[i] for i in indices]),
            "first": _strings([self.first[i] for i in indices]),
            "second": _strings([self.second[i] for i in indices]),
            "codes_used": _strings(["; ".join(codes) for codes in column("codes_used")]),
            **{key: np.array(column(key), dtype=np.int64)
               for key in ("satellites", "observations", "samples", "arcs", "short_arcs")},
            "mp_first_rms": numbers("rms_i"),
            "mp_second_rms": numbers("rms_j"),
            "slips": np.array(column("slips"), dtype=np.int64),
            "lli_slips": np.array(column("lli_slips"), dtype=np.int64),
            "obs_per_slip": numbers("obs_per_slip"),
        }, dict(self.attrs))


def _plain(value: Any) -> Any:
    """A table cell as a JSON value, every digit kept: NaN, <NA> and NaT become None."""
    if isinstance(value, (list, tuple, np.ndarray)):
        return [_plain(item) for item in value]
    if value is None or value is pd.NA or value is pd.NaT:
        return None
    if isinstance(value, pd.Timestamp):
        return value.isoformat()
    if isinstance(value, np.generic):
        value = value.item()
    if isinstance(value, float) and not math.isfinite(value):
        return None
    return value


def _native_table(obs_path: RecordingArg, nav_path: NavArg | None, min_elevation: float, with_tables: bool,
                  coverage_systems: str | None = None) -> _Table:
    native_obs, native_navs, obs, navs = source(obs_path, nav_path, nav_required=False)
    elevation = float(min_elevation)
    return _Table(_native.qc(native_obs, native_navs, elevation, with_tables, coverage_systems), obs, navs, elevation)


def multipath(obs_path: RecordingArg, nav_path: NavArg | None = None) -> Multipath:
    """Code multipath per satellite and signal pair (see `Multipath`), in metres.

    Pairs: GPS L1/L2 and L1/L5, GLONASS G1/G2, Galileo E1/E5a and E1/E5b, BeiDou B1I/B3I and
    B1I/B2I, QZSS L1/L2; per band the code and phase of one tracking mode, by the fixed priority
    of docs/qc.md. With navigation data (a path or a list of paths, merged) epochs below 10
    degrees are left out and the RMS per 5-degree elevation bin is given; without them nothing
    is masked. A recording that cannot give a pair says so in ``missing``.
    """
    return _native_table(obs_path, nav_path, 10.0, False).multipath()


def phase_slips(obs_path: RecordingArg) -> pd.DataFrame:
    """Phase slips per satellite and signal pair, without an elevation mask.

    Columns: ``system``, ``satellite``, ``pair``, ``codes_used``, ``slips`` (geometry-free or
    Melbourne-Wubbena jumps within continuous tracking), ``lli_slips`` (epochs whose
    loss-of-lock indicator has bit 0 set on either phase, counted apart), ``observations``
    (epochs with both codes and both phases) and ``obs_per_slip`` (NaN without slips).
    ``attrs["rules"]`` holds the thresholds used.
    """
    if isinstance(obs_path, recording.Loaded) and obs_path.nav_paths:
        # No mask: the same observations without their navigation data (nothing is read again).
        obs_path = recording.with_navigation_data(obs_path, [], [])
    return _native_table(obs_path, None, 10.0, False).phase_slips()


@dataclass(frozen=True, eq=False)
class QcReport:
    """The quality control of one recording (see `qc`)."""

    obs_path: str
    nav_paths: tuple[str, ...]
    min_elevation: float
    station: str
    receiver: str
    antenna: str
    start: pd.Timestamp | None
    end: pd.Timestamp | None
    epochs: int
    interval: float  # seconds: the most common step between epochs
    rules: Mapping[str, float]  # gap_limit (s), geometry_free_threshold (m), wide_lane_threshold (cycles)
    has_elevations: bool
    pairs: pd.DataFrame  # one row per constellation and pair with rows
    missing: pd.DataFrame  # pairs (constellation-wide or per satellite) without rows, and why
    multipath: Multipath
    phase_slips: pd.DataFrame
    slip_events: pd.DataFrame
    cn0: SignalStats
    completeness: pd.DataFrame | None  # None without navigation data (see completeness_note)
    completeness_note: str | None
    coverage: pd.DataFrame | None  # None without navigation data
    assessment: Assessment | None  # None when the recording has no C/N0 sample (see assessment_note)
    assessment_note: str | None
    # The header's facts: marker name and number, receiver type and version, antenna type (with
    # its radome), receiver position (ECEF metres, or None).
    facts: Mapping[str, Any] = field(default_factory=dict)

    def verdicts(self) -> dict[str, str] | None:
        """The C/N0 verdicts as `vardoln-cn0 analyze` shows them with the same mask; None when
        there is nothing to judge."""
        return None if self.assessment is None else self.assessment.verdicts()

    def constellations(self) -> list[str]:
        """Constellations with QC rows or C/N0 samples, in constellation-letter order."""
        seen = list(self.cn0.by_constellation.system) + list(self.multipath.missing.system) + list(self.pairs.system)
        return list(dict.fromkeys(str(name) for name in seen))

    def completeness_percent(self, system: str) -> float | None:
        """Percent of the expected observations present over every code of a constellation;
        None without navigation data or without expected observations."""
        if self.completeness is None:
            return None
        rows = self.completeness[(self.completeness.system == system) & self.completeness.predictable]
        expected = int(rows.expected.sum())
        return None if expected == 0 else float(rows.observed.sum()) / expected * 100.0

    def mean_cn0(self, system: str) -> float | None:
        """Mean C/N0 (dB-Hz) over every S code of a constellation; None without samples."""
        rows = self.cn0.by_constellation[self.cn0.by_constellation.system == system]
        samples = int(rows.samples.sum())
        if samples == 0:
            return None
        return float((rows["mean"].fillna(0.0) * rows.samples).sum()) / samples

    def to_frame(self) -> pd.DataFrame:
        """One row per constellation and pair: the pair's multipath, phase slips and observations
        per slip beside the constellation's completeness and mean C/N0. A pair that the recording
        cannot give for a constellation it holds has a row with ``reason`` and no figures."""
        pairs = self.pairs
        records: list[dict[str, Any]] = []
        for row in pairs.itertuples(index=False):
            records.append({"system": row.system, "pair": row.pair, "first": row.first, "second": row.second,
                            "codes_used": row.codes_used, "satellites": row.satellites, "samples": row.samples,
                            "arcs": row.arcs, "mp_first_rms": row.mp_first_rms, "mp_second_rms": row.mp_second_rms,
                            "slips": row.slips, "lli_slips": row.lli_slips, "obs_per_slip": row.obs_per_slip,
                            "reason": None})
        wide = self.missing[self.missing.satellite.isna()]
        for row in wide.itertuples(index=False):
            first, second = str(row.pair).split("/")
            records.append({"system": row.system, "pair": row.pair, "first": first, "second": second,
                            "codes_used": None, "satellites": 0, "samples": 0, "arcs": 0,
                            "mp_first_rms": math.nan, "mp_second_rms": math.nan, "slips": None, "lli_slips": None,
                            "obs_per_slip": math.nan, "reason": row.text})
        order = {name: index for index, name in enumerate(self.constellations())}
        records.sort(key=lambda record: order.get(str(record["system"]), len(order)))
        for record in records:
            record["completeness"] = self.completeness_percent(str(record["system"]))
            record["mean_cn0"] = self.mean_cn0(str(record["system"]))
        result = pd.DataFrame.from_records(records, columns=[
            "system", "pair", "first", "second", "codes_used", "satellites", "samples", "arcs", "mp_first_rms",
            "mp_second_rms", "slips", "lli_slips", "obs_per_slip", "reason", "completeness", "mean_cn0"])
        for name in ("slips", "lli_slips"):
            result[name] = result[name].astype("Int64")
        for name in ("completeness", "mean_cn0", "mp_first_rms", "mp_second_rms", "obs_per_slip"):
            result[name] = result[name].astype(np.float64)
        for name in ("system", "pair", "first", "second", "codes_used", "reason"):
            result[name] = result[name].astype("string")
        result.attrs.update(self.pairs.attrs)
        return result

    def to_dict(self) -> dict[str, Any]:
        """Plain JSON-ready values (no NaN: missing numbers are None); json.dumps takes it as it is."""
        def records(table: pd.DataFrame | None) -> list[dict[str, Any]] | None:
            if table is None:
                return None
            names = [str(name) for name in table.columns]
            return [{name: _plain(value) for name, value in zip(names, row)}
                    for row in table.itertuples(index=False, name=None)]

        def time_text(value: pd.Timestamp | None) -> str | None:
            return None if value is None else value.isoformat()

        judged = self.assessment
        return {
            "tool": "vardoln-cn0",
            "version": __version__,
            "files": {"observation": self.obs_path, "navigation": list(self.nav_paths)},
            "station": self.station, "receiver": self.receiver, "antenna": self.antenna,
            "time_span": {"start": time_text(self.start), "end": time_text(self.end)},
            "epochs": self.epochs,
            "interval": self.interval,
            "settings": {"min_elevation": self.min_elevation, "elevation_mask_applied": self.has_elevations,
                         **{key: float(value) for key, value in self.rules.items()}},
            "constellations": records(self.to_frame()),
            "missing": records(self.missing),
            "multipath": {"by_satellite": records(self.multipath.by_satellite),
                          "by_elevation": records(self.multipath.mp_by_elevation)},
            "phase_slips": records(self.phase_slips),
            "completeness": records(self.completeness),
            "completeness_note": self.completeness_note,
            "cn0": {"by_constellation": records(self.cn0.by_constellation),
                    "by_signal": records(self.cn0.by_signal)},
            "coverage": records(self.coverage),
            "verdicts": self.verdicts(),
            "quality": None if judged is None else judged.quality.as_dict(),
            "warnings": [] if judged is None else list(judged.warnings),
            "assessment_note": self.assessment_note,
        }


def qc(obs_path: RecordingArg, nav_path: NavArg | None = None, min_elevation: float = 10.0) -> QcReport:
    """Quality control of one recording in one object (`QcReport`): time span, epochs and
    interval; per constellation and signal pair the multipath RMS (metres), phase slips and
    observations per slip; completeness and C/N0 per signal; navigation coverage of the
    constellations the C/N0 analysis judges (G, R, E, C); and the C/N0
    verdicts and grade of the analysis with the same elevation mask, as `vardoln-cn0 analyze
    --min-elevation` shows them.

    ``nav_path`` is a path or a list of paths (one file per constellation, merged); without it
    nothing is masked, and completeness and coverage are None. ``obs_path`` may be a recording
    loaded already (recording.load), with its navigation files. Every file is read once. Raises
    roles.WrongRole for a file in the wrong role, recording.RecordingError for one that cannot be
    read.
    """
    return build_report(obs_path, nav_path, min_elevation, judge=True)


# The reports made without an assessment, per recording loaded, for as long as it is held.
_reports: weakref.WeakKeyDictionary[recording.Loaded, dict[tuple[float, str], QcReport]] = weakref.WeakKeyDictionary()


def build_report(obs_path: RecordingArg, nav_path: NavArg | None, min_elevation: float, judge: bool,
                 config: vardoln_cn0.AnalysisConfig | None = None) -> QcReport:
    """The QcReport of a recording (a path, or a recording loaded already); with `judge`, its
    assessment with `config` (default: the analysis settings with this elevation mask) too."""
    from . import assessment, settings

    if isinstance(obs_path, recording.Loaded):
        if nav_path is not None:
            raise ValueError("obs_path is a loaded recording, which carries its navigation files: give no nav_path")
        loaded = obs_path
    else:
        loaded = recording.load(path_argument(obs_path, "obs_path"),
                                [] if nav_path is None else nav_argument(nav_path))
    obs, navs = loaded.obs_path, loaded.nav_paths or None
    elevation = float(min_elevation)
    config = settings.analysis_config(min_elevation=elevation) if config is None else config
    # Coverage of the constellations that the C/N0 analysis judges, as its verdicts rest on it.
    systems = "".join(settings.describe(config)["systems"])
    # A batch asks twice for the same report of a recording (its QC columns and its station
    # history): the second time it is the first one's.
    if not judge and (elevation, systems) in _reports.get(loaded, {}):
        return _reports[loaded][(elevation, systems)]
    native = _native_table(loaded, None, elevation, True, systems)
    table = native.table
    coverage = None if "coverage" not in table else coverage_frame(table["coverage"], obs, navs or [])
    completeness = None
    note = None if navs else "needs navigation data (satellites expected above the mask)"
    if "completeness" in table:
        completeness = completeness_frame(table["completeness"], obs, navs or [], elevation)
    elif "completeness_refused" in table:
        note = str(table["completeness_refused"])
    judged: Assessment | None = None
    judged_note: str | None = "not analysed"
    if judge:
        try:
            judged = assessment.assess(loaded, config=config)
            judged_note = None
        except assessment.NothingToJudge as nothing:
            judged_note = nothing.reason
    facts = table["facts"]
    report = QcReport(
        obs_path=obs, nav_paths=tuple(navs or ()), min_elevation=elevation,
        station=facts["marker_name"], receiver=facts["receiver_type"], antenna=facts["antenna_type"],
        start=native.attrs["obs_start"], end=native.attrs["obs_end"], epochs=int(table["epochs"]),
        interval=float(table["interval"]), rules=dict(table["rules"]), has_elevations=bool(table["has_elevations"]),
        pairs=native.pairs(), missing=native.missing(), multipath=native.multipath(), phase_slips=native.phase_slips(),
        slip_events=native.slip_events(), cn0=signal_stats_of(table["signal_stats"], obs, navs, elevation),
        completeness=completeness, completeness_note=note, coverage=coverage, assessment=judged,
        assessment_note=judged_note, facts=dict(facts))
    if not judge:
        _reports.setdefault(loaded, {})[(elevation, systems)] = report
    return report
