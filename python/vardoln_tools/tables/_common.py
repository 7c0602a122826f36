"""What the table functions share: argument checks, native arrays as NumPy arrays without a copy,
and the recording's facts as DataFrame.attrs."""

from __future__ import annotations

import os
from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any, TypeAlias

import numpy as np
import numpy.typing as npt
import pandas as pd

from .. import _native

if TYPE_CHECKING:
    from .recording import Loaded

PathArg: TypeAlias = "str | os.PathLike[str]"
NavArg: TypeAlias = "str | os.PathLike[str] | Sequence[str | os.PathLike[str]]"
# A recording: its observation file, or the recording loaded already (recording.load), whose
# navigation files come with it.
RecordingArg: TypeAlias = "str | os.PathLike[str] | Loaded"


def path_argument(path: object, name: str) -> str:
    """A path given as str or os.PathLike, as the str the readers take."""
    if isinstance(path, (str, os.PathLike)):
        return os.fsdecode(os.fspath(path))
    raise TypeError(f"{name} must be a path (str or os.PathLike), not {type(path).__name__}")


def source(obs_path: object, nav_path: object, nav_required: bool = True,
           name: str = "obs_path") -> tuple[str | _native.Recording, list[str] | None, str, list[str] | None]:
    """What a table reads, as (the native functions' obs and nav arguments, the observation path
    and the navigation paths its attrs name). A loaded recording is taken as it is, with its own
    navigation files (`nav_path` must then be None); paths are read by the native function."""
    from .recording import Loaded

    if isinstance(obs_path, Loaded):
        if nav_path is not None:
            raise ValueError(f"{name} is a loaded recording, which carries its navigation files: give no nav_path")
        if nav_required and not obs_path.nav_paths:
            raise ValueError(f"{name} is a loaded recording without navigation files, which this table needs")
        return obs_path.native, None, obs_path.obs_path, list(obs_path.nav_paths) or None
    obs = path_argument(obs_path, name)
    navs = nav_argument(nav_path) if nav_required or nav_path is not None else None
    return obs, navs, obs, navs


def nav_argument(nav_path: object, name: str = "nav_path") -> list[str]:
    """One navigation path or a list of them (merged as one), as a non-empty list of str."""
    if isinstance(nav_path, (str, os.PathLike)):
        return [path_argument(nav_path, name)]
    if isinstance(nav_path, Sequence) and not isinstance(nav_path, (bytes, bytearray)):
        paths = [path_argument(item, name) for item in nav_path]
        if not paths:
            raise ValueError(f"{name}: no navigation file given")
        return paths
    raise TypeError(f"{name} must be a path or a list of paths, not {type(nav_path).__name__}")


def array(buffer: object) -> npt.NDArray[Any]:
    """The NumPy view of a native buffer (no copy; the array keeps the buffer alive)."""
    return np.asarray(buffer)


def times(buffer: object) -> npt.NDArray[np.datetime64]:
    """Nanoseconds since 1970 (NaT for an epoch that names no instant) as datetime64[ns]."""
    return array(buffer).view("datetime64[ns]")


def nullable(values: object, missing: object) -> pd.arrays.IntegerArray:
    """A nullable integer array over native values and a native mask (True where missing)."""
    return pd.arrays.IntegerArray(array(values), array(missing), copy=False)


# Constellation names by the first letter of a satellite identifier; other letters name
# themselves, and an empty identifier belongs to GPS.
SYSTEM_NAMES = {"G": "GPS", "R": "GLONASS", "E": "Galileo", "C": "BeiDou", "J": "QZSS", "I": "IRNSS", "S": "SBAS"}


def system_name(satellite: str) -> str:
    letter = satellite[:1] or "G"
    return SYSTEM_NAMES.get(letter, letter)


def system_names(satellites: list[str]) -> list[str]:
    return [system_name(satellite) for satellite in satellites]


def categorical(codes: npt.NDArray[Any], satellites: list[str]) -> tuple["pd.Categorical[str]", "pd.Categorical[str]"]:
    """Satellite and constellation columns from satellite indices into a table-ordered list.

    The constellations keep the order of the satellites (constellation letter order).
    """
    satellite = pd.Categorical.from_codes(codes, categories=pd.Index(satellites), validate=False)
    names = system_names(satellites)
    systems = list(dict.fromkeys(names))
    per_satellite = np.array([systems.index(name) for name in names], dtype=np.int8 if len(systems) < 128 else np.int32)
    system = pd.Categorical.from_codes(per_satellite[codes] if len(codes) else codes, categories=pd.Index(systems), validate=False)
    return satellite, system


def timestamp(nanoseconds: int | None) -> pd.Timestamp | None:
    return None if nanoseconds is None else pd.Timestamp(nanoseconds, unit="ns")


def attrs(facts: Mapping[str, Any], obs_path: str, nav_paths: list[str] | None) -> dict[str, Any]:
    """DataFrame.attrs of every table: the files used, the receiver and the time span."""
    return {
        "obs_path": obs_path,
        "nav_paths": list(nav_paths or []),
        "marker_name": facts["marker_name"],
        "receiver_type": facts["receiver_type"],
        "antenna_type": facts["antenna_type"],
        "rinex_version": facts["version"],
        "interval": facts["interval"],
        "receiver_position": facts["receiver_position"],
        "epochs": facts["epochs"],
        "obs_start": timestamp(facts["first_epoch"]),
        "obs_end": timestamp(facts["last_epoch"]),
        # A text that ends inside its last epoch: that epoch and the last whole one before it, as
        # the reader's timestamp texts; None otherwise.
        "cut_epoch": facts["cut_epoch"],
        "last_complete_epoch": facts["last_complete_epoch"],
    }


def navigation_attrs(spans: Mapping[str, tuple[int, int]]) -> dict[str, Any]:
    """The time span of the navigation records' clock epochs, overall and per constellation."""
    every = spans.get("all")
    return {
        "nav_start": timestamp(every[0]) if every else None,
        "nav_end": timestamp(every[1]) if every else None,
        "nav_spans": {name: (timestamp(first), timestamp(last))
                      for name, (first, last) in spans.items() if name != "all"},
    }


def frame(columns: Mapping[str, Any], table_attrs: dict[str, Any]) -> pd.DataFrame:
    result = pd.DataFrame(dict(columns), copy=False)
    result.attrs.update(table_attrs)
    return result
