"""PNG plots of the station quality control (needs matplotlib: pip install 'vardoln_cn0[plots]'):
code multipath against elevation and against time, one panel per constellation and signal pair,
drawn from the per-sample arrays of the QC pass."""

from __future__ import annotations

import math
from typing import TYPE_CHECKING

import numpy as np
import pandas as pd

# The figures are drawn on canvases of their own and cropped as the analysis's plots are (no
# pyplot: no global figure manager, nothing to close, the backend of the calling program left as it is).
from .plots import _figure, png

try:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure
    from matplotlib.lines import Line2D
except ImportError as error:  # pragma: no cover - depends on the installation
    raise ImportError("plots need matplotlib: pip install 'vardoln_cn0[plots]'") from error

if TYPE_CHECKING:
    from ..judge.quality_control import QcReport

# A day of 30 s data holds some 30,000 samples per pair and signal; this many dots draw the same cloud.
MAX_POINTS_PER_SIGNAL = 6000
# The scale of the multipath axis: geodetic stations stay well inside +-2 m.
MP_LIMIT_M = 2.0
SIGNAL_COLOURS = ("tab:blue", "tab:orange")


def _thinned(samples: pd.DataFrame) -> pd.DataFrame:
    """Every n-th sample, so that a trace holds at most MAX_POINTS_PER_SIGNAL (deterministic)."""
    step = max(1, math.ceil(len(samples) / MAX_POINTS_PER_SIGNAL))
    return samples.iloc[::step]


def _panels(report: QcReport) -> tuple[Figure, list[tuple[Axes, str, str, pd.DataFrame]]] | None:
    """A grid with one panel per constellation and pair that has samples."""
    samples = report.multipath.samples
    groups = [(str(system), str(pair), group) for (system, pair), group in
              samples.groupby(["system", "pair"], observed=True, sort=False) if len(group)]
    if not groups:
        return None
    columns = min(2, len(groups))
    rows = math.ceil(len(groups) / columns)
    figure = _figure(6.4 * columns, 3.6 * rows)
    axes = figure.subplots(rows, columns, squeeze=False)
    for ax in list(axes.flat)[len(groups):]:
        ax.set_visible(False)
    return figure, [(ax, system, pair, group) for ax, (system, pair, group) in zip(axes.flat, groups)]


def _signals(group: pd.DataFrame) -> list[tuple[str, str, pd.DataFrame]]:
    return [(str(signal), SIGNAL_COLOURS[index % 2], part)
            for index, (signal, part) in enumerate(group.groupby("signal", observed=True, sort=False))]


def _station(report: QcReport) -> str:
    return report.station or "unnamed station"


def multipath_elevation(report: QcReport) -> bytes | None:
    """Multipath samples against elevation with the RMS per 5-degree bin, per constellation and
    pair; None without elevations (no navigation data or no receiver position)."""
    by_elevation = report.multipath.mp_by_elevation
    if not report.has_elevations or by_elevation is None:
        return None
    laid_out = _panels(report)
    if laid_out is None:
        return None
    figure, panels = laid_out
    for ax, system, pair, group in panels:
        for signal, colour, part in _signals(group):
            shown = _thinned(part[np.isfinite(part.elevation)])
            ax.scatter(shown.elevation, shown.mp, s=1.5, color=colour, alpha=0.25, linewidths=0, rasterized=True)
            bins = by_elevation[(by_elevation.system == system) & (by_elevation.pair == pair)
                                & (by_elevation.signal == signal)]
            centre = (bins.elevation_low + bins.elevation_high) / 2
            ax.plot(centre, bins.rms, color=colour, marker=".", label=f"MP {signal} RMS")
            ax.plot(centre, -bins.rms, color=colour, linewidth=0.8, alpha=0.6)
        ax.set_title(f"{system} {pair}", fontsize=11)
        ax.set_xlim(0, 90)
        ax.set_ylim(-MP_LIMIT_M, MP_LIMIT_M)
        ax.axvline(report.min_elevation, color="grey", linewidth=0.8, linestyle=":")
        ax.set_xlabel("elevation (degrees)")
        ax.set_ylabel("multipath (m)")
        ax.grid(alpha=0.3)
        ax.legend(fontsize=8, loc="upper right", markerscale=1)
    figure.suptitle(f"Code multipath against elevation, {_station(report)}: samples and RMS per 5-degree bin "
                    f"(mask {report.min_elevation:g} degrees)", fontsize=12)
    figure.tight_layout()
    return png(figure)


def multipath_time(report: QcReport) -> bytes | None:
    """Multipath samples over time per constellation and pair, with the phase slips marked."""
    laid_out = _panels(report)
    if laid_out is None:
        return None
    figure, panels = laid_out
    events = report.slip_events
    for ax, system, pair, group in panels:
        handles = []
        for signal, colour, part in _signals(group):
            shown = _thinned(part)
            ax.scatter(shown.time, shown.mp, s=1.5, color=colour, alpha=0.3, linewidths=0, rasterized=True)
            handles.append(Line2D([], [], marker="o", linestyle="", markersize=4, color=colour, label=f"MP {signal}"))
        slips = events[(events.system == system) & (events.pair == pair)]
        if len(slips):
            ax.plot(slips.time, np.full(len(slips), -0.92 * MP_LIMIT_M), "|", color="tab:red", markersize=8)
            handles.append(Line2D([], [], marker="|", linestyle="", markersize=8, color="tab:red",
                                  label=f"{len(slips)} phase slips"))
        ax.set_title(f"{system} {pair}", fontsize=11)
        ax.set_ylim(-MP_LIMIT_M, MP_LIMIT_M)
        ax.set_ylabel("multipath (m)")
        ax.grid(alpha=0.3)
        ax.legend(handles=handles, fontsize=8, loc="upper right")
        for label in ax.get_xticklabels():
            label.set_rotation(20)
    figure.suptitle(f"Code multipath over time, {_station(report)} (UTC), phase slips marked", fontsize=12)
    figure.tight_layout()
    return png(figure)


def render(report: QcReport) -> list[tuple[str, str, bytes]]:
    """(file stem, title, PNG bytes) of each plot that has data."""
    charts = [("multipath-elevation", "Code multipath against elevation", multipath_elevation(report)),
              ("multipath-time", "Code multipath over time", multipath_time(report))]
    return [(stem, title, png) for stem, title, png in charts if png is not None]
