"""Predicted against observed satellites over time: the per-epoch counts that the analysis's
visibility check condenses into its means, and that summary over chosen constellations."""

from __future__ import annotations

from collections.abc import Iterable, Mapping
from dataclasses import dataclass
from typing import Any

import numpy as np
import pandas as pd

from .. import _native
from ._common import NavArg, RecordingArg, array, attrs, frame, source, times
from .signals import _letters

__all__ = ["VisibilitySummary", "visibility_summary", "visibility_timeline"]


def visibility_timeline(obs_path: RecordingArg, nav_path: NavArg | None, min_elevation: float = 5.0,
                        systems: Iterable[str] | None = None) -> pd.DataFrame:
    """Satellites predicted above the elevation mask and satellites observed, per epoch and
    constellation, by the analysis's own rules (`vardoln_cn0.analyze_cn0` with the same mask).

    One row per epoch and constellation (constellations of every navigation record and every
    observed satellite, epochs in file order). Columns: ``time`` (datetime64, the epoch as
    written), ``system``, ``predicted`` (satellites whose broadcast position lies above the
    mask), ``observed`` (satellites with a C/N0 sample above 0), ``confirmed`` (both). SBAS and
    IRNSS satellites are never predicted. ``nav_path`` is a path or a list of paths, merged.
    ``systems``: constellation letters to keep (``["G", "E"]``), every constellation when None.
    ValueError when the observation header has no receiver position.
    """
    native_obs, native_navs, obs, given = source(obs_path, nav_path)
    navs = given or []
    table = _native.visibility_timeline(native_obs, native_navs, float(min_elevation), _letters(systems))
    systems_shown = list(table["systems"])
    epochs = times(table["time"])
    count = len(systems_shown)
    return frame({
        "time": np.repeat(epochs, count),
        "system": pd.Categorical(np.tile(np.array(systems_shown, dtype=object), len(epochs)),
                                 categories=systems_shown),
        "predicted": array(table["predicted"]).astype(np.int64),
        "observed": array(table["observed"]).astype(np.int64),
        "confirmed": array(table["confirmed"]).astype(np.int64),
    }, attrs(table["facts"], obs, navs) | {"min_elevation": float(min_elevation)})


@dataclass(frozen=True)
class VisibilitySummary:
    """The analysis's visibility summary over some constellations only: the figures of
    `vardoln_cn0.AnalysisResult` (visibility_confirmation_rate, visibility_mean_*,
    get_frequently_*_satellites, get_visibility_anomaly_*) and its spoofing rule, computed by the
    analysis's own steps as if the files held no satellite of the other constellations."""

    confirmation_rate: float  # percent of the predicted satellites observed
    mean_predicted: float  # satellites per epoch
    mean_observed: float
    mean_missing: float
    mean_unexpected: float
    frequently_missing: list[str]
    frequently_unexpected: list[str]
    anomaly_types: list[str]
    anomaly_descriptions: list[str]
    spoofing: bool
    attrs: dict[str, Any]  # the recording's facts, as the tables' DataFrame.attrs


def visibility_summary(obs_path: RecordingArg, nav_path: NavArg | None, systems: Iterable[str], min_elevation: float = 5.0,
                       spoofing_unexpected_threshold: float = 0.4,
                       spoofing_min_unexpected_count: float = 8.0) -> VisibilitySummary:
    """The visibility check of the analysis (`vardoln_cn0.analyze_cn0` with the same mask and
    spoofing thresholds) over the constellations ``systems`` only (``["G", "E", "C"]``): their
    predicted and observed satellites, nothing of the others. Without a receiver position in the
    header every figure is 0, as in the analysis."""
    native_obs, native_navs, obs, given = source(obs_path, nav_path)
    navs = given or []
    table = _native.visibility_summary(native_obs, native_navs, float(min_elevation), _letters(systems) or "",
                                       float(spoofing_unexpected_threshold), float(spoofing_min_unexpected_count))
    return summary_of(table, obs, navs)


def summary_of(table: Mapping[str, Any], obs: str, navs: list[str]) -> VisibilitySummary:
    """The VisibilitySummary of a native visibility summary of the recording `obs`."""
    return VisibilitySummary(
        confirmation_rate=float(table["confirmation_rate"]), mean_predicted=float(table["mean_predicted"]),
        mean_observed=float(table["mean_observed"]), mean_missing=float(table["mean_missing"]),
        mean_unexpected=float(table["mean_unexpected"]), frequently_missing=list(table["frequently_missing"]),
        frequently_unexpected=list(table["frequently_unexpected"]), anomaly_types=list(table["anomaly_types"]),
        anomaly_descriptions=list(table["anomaly_descriptions"]), spoofing=bool(table["spoofing"]),
        attrs=attrs(table["facts"], obs, navs))
