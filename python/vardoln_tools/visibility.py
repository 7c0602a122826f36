"""Predicted against observed satellites over time: the per-epoch counts that the analysis's
visibility check condenses into its means."""

from __future__ import annotations

import numpy as np
import pandas as pd

from . import _native
from ._tables import NavArg, PathArg, array, attrs, frame, nav_argument, path_argument, times

__all__ = ["visibility_timeline"]


def visibility_timeline(obs_path: PathArg, nav_path: NavArg, min_elevation: float = 5.0) -> pd.DataFrame:
    """Satellites predicted above the elevation mask and satellites observed, per epoch and
    constellation, by the analysis's own rules (`vardoln_cn0.analyze_cn0` with the same mask).

    One row per epoch and constellation (constellations of every navigation record and every
    observed satellite, epochs in file order). Columns: ``time`` (datetime64, the epoch as
    written), ``system``, ``predicted`` (satellites whose broadcast position lies above the
    mask), ``observed`` (satellites with a C/N0 sample above 0), ``confirmed`` (both). SBAS and
    IRNSS satellites are never predicted. ``nav_path`` is a path or a list of paths, merged.
    ValueError when the observation header has no receiver position.
    """
    obs = path_argument(obs_path, "obs_path")
    navs = nav_argument(nav_path)
    table = _native.visibility_timeline(obs, navs, float(min_elevation))
    systems = list(table["systems"])
    epochs = times(table["time"])
    count = len(systems)
    return frame({
        "time": np.repeat(epochs, count),
        "system": pd.Categorical(np.tile(np.array(systems, dtype=object), len(epochs)), categories=systems),
        "predicted": array(table["predicted"]).astype(np.int64),
        "observed": array(table["observed"]).astype(np.int64),
        "confirmed": array(table["confirmed"]).astype(np.int64),
    }, attrs(table["facts"], obs, navs) | {"min_elevation": float(min_elevation)})
