"""Observation files as arrays and tables, and the satellite geometry at their epochs.

The file work runs natively without the interpreter lock and the columns reach NumPy without a
copy; inputs are paths of any form the readers take (plain, gzip, Unix compress, Hatanaka).
Errors are the module's: OSError for a file that cannot be read (FileNotFoundError and its kin
when the system gives a reason), ValueError for content that cannot be read as RINEX.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Literal, overload

import numpy as np
import numpy.typing as npt
import pandas as pd

from .. import _native
from ._common import (NavArg, RecordingArg, array, attrs, categorical, frame, navigation_attrs, nullable, source,
                      system_names, times)

if TYPE_CHECKING:
    import xarray

__all__ = ["load_observations", "satellite_geometry"]

Form = Literal["pandas", "numpy", "xarray"]


@overload
def load_observations(path: RecordingArg, form: Literal["pandas"] = "pandas") -> pd.DataFrame: ...
@overload
def load_observations(path: RecordingArg, form: Literal["numpy"]) -> dict[str, npt.NDArray[Any]]: ...
@overload
def load_observations(path: RecordingArg, form: Literal["xarray"]) -> "xarray.Dataset": ...


def load_observations(path: RecordingArg, form: Form = "pandas") -> "pd.DataFrame | dict[str, npt.NDArray[Any]] | xarray.Dataset":
    """Every observation value of a RINEX observation file, as the readers keep it.

    A zero is "no observation" and is not kept; a satellite or code repeated within an epoch
    replaces the earlier one, as in `vardoln_cn0.read_rinex_obs`.

    ``form="pandas"``: a long DataFrame, one row per value, sorted by constellation (in letter
    order C, E, G, I, J, R, S), satellite and code, each signal's values in file order. Columns:
    ``time`` (datetime64[ns], the epoch as written, no time-scale change; NaT for an epoch whose
    date is impossible), ``satellite``, ``system`` (constellation name), ``code`` (all three
    categorical), ``value`` (float64, the file's units), ``lli`` and ``ssi`` (UInt8, <NA> where
    the file leaves the indicator blank).

    ``form="numpy"``: the arrays the frame is made of: ``time``, ``satellite`` and ``code``
    (int32 indices into ``satellites`` and ``codes``), ``value``, ``lli``/``ssi`` (uint8) with
    ``lli_missing``/``ssi_missing`` (bool), ``satellites``, ``systems`` (of each satellite) and
    ``codes``.

    ``form="xarray"`` (needs xarray): a Dataset with dimensions ``time`` and ``sv`` and one
    float64 variable per observation code, NaN where there is no value.

    ``attrs`` (DataFrame and Dataset) holds the file, the header facts (marker, receiver,
    antenna, version, interval, approximate position in ECEF metres) and the first and last epoch.
    """
    native_obs, _, obs, _ = source(path, None, nav_required=False, name="path")
    if form not in ("pandas", "numpy", "xarray"):
        raise ValueError(f"form must be 'pandas', 'numpy' or 'xarray', not {form!r}")
    table = _native.observations(native_obs)
    satellites = list(table["satellites"])
    if form == "numpy":
        return {
            "time": times(table["time"]),
            "satellite": array(table["satellite"]),
            "code": array(table["code"]),
            "value": array(table["value"]),
            "lli": array(table["lli"]),
            "lli_missing": array(table["lli_missing"]),
            "ssi": array(table["ssi"]),
            "ssi_missing": array(table["ssi_missing"]),
            "satellites": np.array(satellites, dtype=str),
            "systems": np.array(system_names(satellites), dtype=str),
            "codes": np.array(table["codes"], dtype=str),
        }
    facts = attrs(table["facts"], obs, None)
    if form == "xarray":
        return _dataset(table, satellites, facts)
    satellite_codes = array(table["satellite"])
    satellite, system = categorical(satellite_codes, satellites)
    return frame({
        "time": times(table["time"]),
        "satellite": satellite,
        "system": system,
        "code": pd.Categorical.from_codes(array(table["code"]), categories=pd.Index(list(table["codes"])), validate=False),
        "value": array(table["value"]),
        "lli": nullable(table["lli"], table["lli_missing"]),
        "ssi": nullable(table["ssi"], table["ssi_missing"]),
    }, facts)


def _dataset(table: dict[str, Any], satellites: list[str], facts: dict[str, Any]) -> "xarray.Dataset":
    try:
        import xarray
    except ImportError as error:
        raise ImportError("form='xarray' needs xarray: pip install 'vardoln_cn0[xarray]'") from error
    time = times(table["time"])
    epochs = np.unique(time[~np.isnat(time)])
    keep = ~np.isnat(time)
    row_epoch = np.searchsorted(epochs, time[keep])
    row_satellite = array(table["satellite"])[keep]
    row_code = array(table["code"])[keep]
    values = array(table["value"])[keep]
    used = np.unique(row_satellite)
    sv_index = np.full(len(satellites), -1, dtype=np.int64)
    sv_index[used] = np.arange(len(used))
    variables = {}
    for index, code in enumerate(table["codes"]):
        rows = row_code == index
        if not rows.any():
            continue
        grid = np.full((len(epochs), len(used)), np.nan)
        # Rows are in file order within each signal: a repeated epoch keeps its last value.
        grid[row_epoch[rows], sv_index[row_satellite[rows]]] = values[rows]
        variables[code] = (("time", "sv"), grid)
    dataset = xarray.Dataset(variables, coords={"time": epochs, "sv": np.array(satellites, dtype=str)[used]})
    dataset.attrs.update({key: value for key, value in facts.items() if value is not None})
    return dataset


def satellite_geometry(obs_path: RecordingArg, nav_path: NavArg | None = None) -> pd.DataFrame:
    """Azimuth and elevation (degrees) of every observed satellite at every epoch for which the
    navigation data give a position.

    Positions come from the analysis's own record choice and orbit arithmetic, and the look
    angles from the header's approximate receiver position, so they equal the elevations and
    azimuths of `vardoln_cn0.analyze_cn0` sample for sample. Columns ``time``, ``satellite``
    (categorical), ``azimuth`` ([0, 360), clockwise from north), ``elevation``; rows sorted by
    constellation and satellite, each satellite's epochs in file order. ValueError when the
    header has no approximate position. ``nav_path`` is a path or a list of paths, merged.
    """
    native_obs, native_navs, obs, given = source(obs_path, nav_path)
    navs = given or []
    table = _native.geometry(native_obs, native_navs)
    satellite, _ = categorical(array(table["satellite"]), list(table["satellites"]))
    return frame({
        "time": times(table["time"]),
        "satellite": satellite,
        "azimuth": array(table["azimuth"]),
        "elevation": array(table["elevation"]),
    }, attrs(table["facts"], obs, navs) | navigation_attrs(table["navigation_spans"]))
