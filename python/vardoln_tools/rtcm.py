"""RTCM 3 streams from Python: `read` gives a recorded stream's observation epochs as the tables
of `load_observations`; `Monitor` (from `vardoln_tools.monitor`) follows live streams."""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Any, Literal, overload

from .monitor import Monitor, StreamSpec
from .tables import rtcm as _rtcm
from .tables.observations import load_observations

if TYPE_CHECKING:
    import numpy.typing as npt
    import pandas as pd

__all__ = ["Monitor", "StreamSpec", "read"]


@overload
def read(path_or_bytes: str | os.PathLike[str] | bytes, gps_week: int | None = None,
         form: Literal["pandas"] = "pandas") -> pd.DataFrame: ...
@overload
def read(path_or_bytes: str | os.PathLike[str] | bytes, gps_week: int | None,
         form: Literal["numpy"]) -> dict[str, npt.NDArray[Any]]: ...
def read(path_or_bytes: str | os.PathLike[str] | bytes, gps_week: int | None = None,
         form: Literal["pandas", "numpy"] = "pandas") -> pd.DataFrame | dict[str, npt.NDArray[Any]]:
    """The observation epochs of a recorded RTCM 3 stream (a path, or its bytes) as
    `load_observations` gives a RINEX file's: pseudorange ("C"), carrier phase ("L") where the
    stream allows it, and C/N0 ("S") per signal, at the message's own resolution.

    The messages carry only the time of week: ``gps_week`` is the GPS week of the first epoch.
    Without it the week comes from the stream's own broadcast ephemerides when it carries any,
    else from this computer's clock.
    """
    loaded = _rtcm.read(path_or_bytes, gps_week)
    if form == "numpy":
        return load_observations(loaded, "numpy")
    return load_observations(loaded, "pandas")
