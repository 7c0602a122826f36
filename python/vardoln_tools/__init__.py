"""Command line, plots, reports and batch runs on top of the vardoln_cn0 extension module, and
observation arrays, satellite geometry and per-signal tables from its companion extension.

The package is built in layers, each importing only from itself and the layers below: `tables`
(a recording as tables), `judge` (settings, the assessment, quality control), `render`
(summaries, plots, the HTML report), `batch` (many recordings into rows) and `commands` (the
`vardoln-cn0` command line). The table functions are imported on first use, so that the command
line and the plots do not load pandas and the companion extension unless they need them.
"""

from __future__ import annotations

import importlib
from typing import TYPE_CHECKING

from ._version import __version__

if TYPE_CHECKING:
    from .judge.quality_control import Multipath, QcReport, multipath, phase_slips, qc
    from .tables.observations import load_observations, satellite_geometry
    from .tables.signals import SignalStats, cn0_elevation_profile, completeness, navigation_coverage, signal_stats
    from .tables.visibility import visibility_timeline

__all__ = ["SignalStats", "__version__", "cn0_elevation_profile", "completeness", "load_observations",
           "navigation_coverage", "satellite_geometry", "signal_stats", "visibility_timeline"]
__all__ += ["Multipath", "QcReport", "multipath", "phase_slips", "qc"]

# Public name -> module of this package that defines it.
_TABLE_FUNCTIONS = {
    "load_observations": ".tables.observations",
    "satellite_geometry": ".tables.observations",
    "navigation_coverage": ".tables.signals",
    "signal_stats": ".tables.signals",
    "SignalStats": ".tables.signals",
    "cn0_elevation_profile": ".tables.signals",
    "completeness": ".tables.signals",
    "visibility_timeline": ".tables.visibility",
    "multipath": ".judge.quality_control",
    "phase_slips": ".judge.quality_control",
    "qc": ".judge.quality_control",
    "Multipath": ".judge.quality_control",
    "QcReport": ".judge.quality_control",
}


def __getattr__(name: str) -> object:
    if name in _TABLE_FUNCTIONS:
        value = getattr(importlib.import_module(_TABLE_FUNCTIONS[name], __name__), name)
        globals()[name] = value
        return value
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
