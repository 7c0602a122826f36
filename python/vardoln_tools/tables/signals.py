"""Per-constellation and per-signal views of a recording: navigation coverage, C/N0 statistics
per signal, the C/N0-elevation profile and completeness against the nominal epoch grid.

A C/N0 sample is an S-code value above 0 (receivers write 0 for a signal they do not track);
NaN, blank and 0 are not samples. Positions and look angles are those of the analysis
(`vardoln_cn0.analyze_cn0`), from the header's approximate receiver position. SBAS and IRNSS
satellites are never predicted: the tables list them as not predictable rather than as missing.
"""

from __future__ import annotations

from collections.abc import Iterable, Mapping
from dataclasses import dataclass
from typing import Any

import numpy as np
import numpy.typing as npt
import pandas as pd

from .. import _native
from ._common import NavArg, RecordingArg, array, attrs, frame, navigation_attrs, source

__all__ = ["SignalStats", "cn0_elevation_profile", "completeness", "navigation_coverage", "signal_stats"]


def navigation_coverage(obs_path: RecordingArg, nav_path: NavArg | None = None, systems: Iterable[str] | None = None) -> pd.DataFrame:
    """How much of what was observed the navigation data can position, per constellation.

    One row per constellation of the observation file (rows in constellation-letter order) and a
    last row ``system == "all"`` over the predictable constellations (GPS, GLONASS, Galileo,
    BeiDou, QZSS). ``systems``: constellation letters to keep (``["G", "E", "C"]``), in the rows
    and in the "all" row alike; every constellation of the file when None. Columns: ``system``; ``observed``, the satellite-epochs with a C/N0 sample;
    ``covered``, those of them for which the navigation data give a position by the analysis's
    record choice (<NA> where the constellation is not predictable); ``percent`` (covered /
    observed * 100, NaN when nothing was observed or nothing is predictable);
    ``uncovered_satellites``, the satellites observed at some epoch without a position, named as
    the navigation data name them (a RINEX 2 "G 2" is G02) and sorted; ``predictable``.

    ``attrs`` holds the files, the receiver position, the observation span (``obs_start``,
    ``obs_end``) and the span of the navigation records' clock epochs (``nav_start``,
    ``nav_end``, per constellation in ``nav_spans``): a navigation file of the wrong day shows
    there. ``nav_path`` is a path or a list of paths (one file per constellation, say), merged.
    """
    native_obs, native_navs, obs, navs = source(obs_path, nav_path)
    return coverage_frame(_native.coverage(native_obs, native_navs, _letters(systems)), obs, navs or [])


def coverage_frame(table: Mapping[str, Any], obs: str, navs: list[str]) -> pd.DataFrame:
    """The navigation_coverage frame of a native coverage table."""
    observed = array(table["observed"]).astype(np.int64)
    covered = array(table["covered"]).astype(np.int64)
    predictable = array(table["predictable"])
    result = frame({
        "system": pd.array(table["system"], dtype="string"),
        "observed": observed,
        "covered": pd.arrays.IntegerArray(covered, ~predictable),
        "percent": array(table["percent"]).copy(),
        "uncovered_satellites": pd.Series(table["uncovered_satellites"], dtype=object),
        "predictable": predictable.copy(),
    }, attrs(table["facts"], obs, navs) | navigation_attrs(table["navigation_spans"]))
    return result


@dataclass(frozen=True)
class SignalStats:
    """C/N0 statistics per signal (`by_signal`, one row per satellite and code) and per
    constellation and code (`by_constellation`)."""

    by_signal: pd.DataFrame
    by_constellation: pd.DataFrame


def _letters(systems: object) -> str | None:
    if systems is None:
        return None
    if isinstance(systems, str) or not isinstance(systems, Iterable):
        raise TypeError("systems must be a list of constellation letters such as ['G', 'E'], or None")
    letters = list(systems)
    for letter in letters:
        if not isinstance(letter, str) or len(letter) != 1:
            raise ValueError(f"systems: expected one-letter constellation codes (G, R, E, C, J, I, S), got {letter!r}")
    return "".join(letters)


def _stats_frame(table: Mapping[str, Any], geometry: bool, table_attrs: dict[str, Any]) -> pd.DataFrame:
    counts = {name: array(table[name]).astype(np.int64) for name in ("samples", "below_mask", "no_position")}
    columns: dict[str, Any] = {"system": pd.array(table["system"], dtype="string")}
    if "satellite" in table:
        columns["satellite"] = pd.array(table["satellite"], dtype="string")
    columns |= {
        "code": pd.array(table["code"], dtype="string"),
        "samples": counts["samples"],
        "mean": array(table["mean"]),
        "min": array(table["min"]),
        "max": array(table["max"]),
        "std": array(table["std"]),
        "mean_elevation": array(table["mean_elevation"]),
        # Without navigation data nothing is masked or positioned: <NA>, not 0.
        "below_mask": pd.arrays.IntegerArray(counts["below_mask"], np.full(len(counts["samples"]), not geometry)),
        "no_position": pd.arrays.IntegerArray(counts["no_position"], np.full(len(counts["samples"]), not geometry)),
    }
    return frame(columns, table_attrs)


def signal_stats(obs_path: RecordingArg, nav_path: NavArg | None = None, min_elevation: float = 5.0,
                 systems: Iterable[str] | None = None) -> SignalStats:
    """C/N0 statistics (dB-Hz) per signal, that is per satellite and S code, and per
    constellation and code.

    ``by_signal`` columns: ``system``, ``satellite``, ``code``, ``samples``, ``mean``, ``min``,
    ``max``, ``std`` (population), ``mean_elevation`` (degrees), ``below_mask``,
    ``no_position``; ``by_constellation`` the same without ``satellite``. Rows by constellation
    letter, satellite and code.

    With navigation data (``nav_path``, a path or a list of paths, merged) samples below
    ``min_elevation`` degrees are left out and counted in ``below_mask``; samples whose
    satellite has no position are kept, with no elevation, and counted in ``no_position``, so
    nothing disappears silently. Without navigation data every sample is kept and those two
    columns are <NA>. ``systems``: constellation letters to keep (``["G", "E"]``), every
    constellation of the file when None. ValueError when navigation data are given and the
    header has no approximate position.
    """
    native_obs, native_navs, obs, navs = source(obs_path, nav_path, nav_required=False)
    return signal_stats_of(_native.signal_stats(native_obs, native_navs, float(min_elevation), _letters(systems)), obs,
                           navs, float(min_elevation))


def signal_stats_of(tables: Mapping[str, Any], obs: str, navs: list[str] | None, min_elevation: float) -> SignalStats:
    """The SignalStats of native signal_stats tables."""
    table_attrs = attrs(tables["facts"], obs, navs) | {"min_elevation": float(min_elevation) if navs else None}
    if navs:
        table_attrs |= navigation_attrs(tables["navigation_spans"])
    return SignalStats(by_signal=_stats_frame(tables["by_signal"], navs is not None, table_attrs),
                       by_constellation=_stats_frame(tables["by_constellation"], navs is not None, dict(table_attrs)))


def cn0_elevation_profile(obs_path: RecordingArg, nav_path: NavArg | None = None, bin_deg: float = 5.0) -> pd.DataFrame:
    """C/N0 against elevation per constellation and code: the antenna and receiver health curve.

    One row per (constellation, code, elevation bin) holding samples: ``system``, ``code``,
    ``elevation_low``, ``elevation_high`` (degrees, the bin [low, high); bins start at multiples
    of ``bin_deg`` and an elevation of exactly 90 degrees joins the bin below), ``samples``,
    ``mean``, ``p10``, ``p50``, ``p90`` (dB-Hz; percentiles as numpy.percentile interpolates).
    Only samples with a satellite position count; no mask is applied. ValueError when the
    header has no approximate position or ``bin_deg`` is not a positive number.
    """
    native_obs, native_navs, obs, given = source(obs_path, nav_path)
    navs = given or []
    table = _native.elevation_profile(native_obs, native_navs, float(bin_deg))
    return frame({
        "system": pd.array(table["system"], dtype="string"),
        "code": pd.array(table["code"], dtype="string"),
        "elevation_low": array(table["elevation_low"]),
        "elevation_high": array(table["elevation_high"]),
        "samples": array(table["samples"]).astype(np.int64),
        "mean": array(table["mean"]),
        "p10": array(table["p10"]),
        "p50": array(table["p50"]),
        "p90": array(table["p90"]),
    }, attrs(table["facts"], obs, navs) | navigation_attrs(table["navigation_spans"]) | {"bin_deg": float(bin_deg)})


def completeness(obs_path: RecordingArg, nav_path: NavArg | None = None, min_elevation: float = 10.0) -> pd.DataFrame:
    """Expected observations above the mask against those present, per constellation and code.

    The nominal grid runs from the first to the last epoch at the header's INTERVAL (the most
    common epoch spacing when the header gives none); an epoch missing from the file is missing
    data, a satellite setting is not. For each code, the satellites of the constellation that
    carry it at least once are expected at every grid epoch at which they are at or above
    ``min_elevation`` degrees; the others are listed in ``satellites_without_code`` (older
    satellites do not broadcast every signal) rather than counted missing.

    Columns: ``system``, ``code``, ``expected``, ``observed`` (of the expected satellite-epochs,
    those where the code has a value; for S codes a C/N0 sample), ``percent``, ``below_mask``
    and ``no_ephemeris`` (values of the code found below the mask or where the navigation data
    give no position, left out of both counts), ``satellites_without_code``, ``predictable``.
    SBAS and IRNSS are not predictable: their ``observed`` counts every grid epoch with a value
    and the expected counts are <NA>. ``attrs`` adds ``interval``, ``interval_source``
    ("header" or "epochs"), ``grid_epochs``, ``epochs_on_grid`` and ``missing_epochs``.
    """
    native_obs, native_navs, obs, navs = source(obs_path, nav_path)
    return completeness_frame(_native.completeness(native_obs, native_navs, float(min_elevation)), obs, navs or [],
                              float(min_elevation))


def completeness_frame(table: Mapping[str, Any], obs: str, navs: list[str], min_elevation: float) -> pd.DataFrame:
    """The completeness frame of a native completeness table."""
    predictable = array(table["predictable"])
    missing = ~predictable
    expected = array(table["expected"]).astype(np.int64)
    observed = array(table["observed"]).astype(np.int64)
    grid = table["grid"]
    return frame({
        "system": pd.array(table["system"], dtype="string"),
        "code": pd.array(table["code"], dtype="string"),
        "expected": pd.arrays.IntegerArray(expected, missing.copy()),
        "observed": observed,
        "percent": array(table["percent"]).copy(),
        "below_mask": pd.arrays.IntegerArray(array(table["below_mask"]).astype(np.int64), missing.copy()),
        "no_ephemeris": pd.arrays.IntegerArray(array(table["no_ephemeris"]).astype(np.int64), missing.copy()),
        "satellites_without_code": pd.Series(table["satellites_without_code"], dtype=object),
        "predictable": predictable.copy(),
    }, attrs(table["facts"], obs, navs) | navigation_attrs(table["navigation_spans"]) | {
        "min_elevation": float(min_elevation),
        "interval": grid["interval"],
        "interval_source": "header" if grid["interval_from_header"] else "epochs",
        "grid_epochs": grid["grid_epochs"],
        "epochs_on_grid": grid["epochs_on_grid"],
        "missing_epochs": grid["grid_epochs"] - grid["epochs_on_grid"],
    })
