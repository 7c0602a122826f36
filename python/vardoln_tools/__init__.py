"""Command line, plots, reports and batch runs on top of the vardoln_cn0 extension module, and
observation arrays, satellite geometry and per-signal tables from its companion extension.

The table functions are imported on first use, so that the command line and the plots do not
load pandas and the companion extension unless they need them.
"""

from __future__ import annotations

import importlib
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from .observations import load_observations, satellite_geometry
    from .quality_control import Multipath, QcReport, multipath, phase_slips, qc
    from .signals import SignalStats, cn0_elevation_profile, completeness, navigation_coverage, signal_stats
    from .visibility import visibility_timeline

__all__ = ["SignalStats", "__version__", "cn0_elevation_profile", "completeness", "load_observations",
           "navigation_coverage", "satellite_geometry", "signal_stats", "visibility_timeline"]
__all__ += ["Multipath", "QcReport", "multipath", "phase_slips", "qc"]

__version__ = "0.4.2"

# Public name -> module of this package that defines it.
_TABLE_FUNCTIONS = {
    "load_observations": ".observations",
    "satellite_geometry": ".observations",
    "navigation_coverage": ".signals",
    "signal_stats": ".signals",
    "SignalStats": ".signals",
    "cn0_elevation_profile": ".signals",
    "completeness": ".signals",
    "visibility_timeline": ".visibility",
    "multipath": ".quality_control",
    "phase_slips": ".quality_control",
    "qc": ".quality_control",
    "Multipath": ".quality_control",
    "QcReport": ".quality_control",
}


def __getattr__(name: str) -> object:
    if name in _TABLE_FUNCTIONS:
        value = getattr(importlib.import_module(_TABLE_FUNCTIONS[name], __name__), name)
        globals()[name] = value
        return value
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
