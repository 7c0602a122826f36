"""Per-constellation and per-signal views of a recording: navigation coverage, C/N0 statistics
per signal, the C/N0-elevation profile and completeness against the nominal epoch grid.

A C/N0 sample is an S-code value above 0 (receivers write 0 for a signal they do not track);
NaN, blank and 0 are not samples. Positions and look angles are those of the analysis
(`vardoln_cn0.analyze_cn0`), from the header's approximate receiver position. SBAS and IRNSS
satellites are never predicted: the tables list them as not predictable rather than as missing.
"""

from __future__ import annotations

import numpy as np
import pandas as pd

from . import _native
from ._tables import NavArg, PathArg, array, attrs, frame, nav_argument, navigation_attrs, path_argument

__all__ = ["navigation_coverage"]


def _percent(part: "np.ndarray", whole: "np.ndarray") -> "np.ndarray":
    with np.errstate(divide="ignore", invalid="ignore"):
        return np.where(whole > 0, part / np.where(whole > 0, whole, 1) * 100.0, np.nan)


def navigation_coverage(obs_path: PathArg, nav_path: NavArg) -> pd.DataFrame:
    """How much of what was observed the navigation data can position, per constellation.

    One row per constellation of the observation file (rows in constellation-letter order) and a
    last row ``system == "all"`` over the predictable constellations (GPS, GLONASS, Galileo,
    BeiDou, QZSS). Columns: ``system``; ``observed``, the satellite-epochs with a C/N0 sample;
    ``covered``, those of them for which the navigation data give a position by the analysis's
    record choice (<NA> where the constellation is not predictable); ``percent`` (covered /
    observed * 100, NaN when nothing was observed or nothing is predictable);
    ``uncovered_satellites``, the satellites observed at some epoch without a position;
    ``predictable``.

    ``attrs`` holds the files, the receiver position, the observation span (``obs_start``,
    ``obs_end``) and the span of the navigation records' clock epochs (``nav_start``,
    ``nav_end``, per constellation in ``nav_spans``): a navigation file of the wrong day shows
    there. ``nav_path`` is a path or a list of paths (one file per constellation, say), merged.
    """
    obs = path_argument(obs_path, "obs_path")
    navs = nav_argument(nav_path)
    table = _native.coverage(obs, navs)
    observed = array(table["observed"]).astype(np.int64)
    covered = array(table["covered"]).astype(np.int64)
    predictable = array(table["predictable"])
    result = frame({
        "system": pd.array(table["system"], dtype="string"),
        "observed": observed,
        "covered": pd.arrays.IntegerArray(covered, ~predictable),
        "percent": np.where(predictable, _percent(covered, observed), np.nan),
        "uncovered_satellites": pd.Series(table["uncovered_satellites"], dtype=object),
        "predictable": predictable.copy(),
    }, attrs(table["facts"], obs, navs) | navigation_attrs(table["navigation_spans"]))
    return result
