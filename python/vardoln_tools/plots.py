"""PNG plots of an analysis result (needs matplotlib: pip install 'vardoln_cn0[plots]').

Every function here takes the parsed JSON export of a result (a dict), so that a report that
draws all plots parses the export once.
"""

from __future__ import annotations

import io
import math
import os
import sys
from datetime import datetime, timedelta
from typing import TYPE_CHECKING, Any, TextIO, cast

try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import numpy as np
    from matplotlib import dates as mdates
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure
    from matplotlib.projections.polar import PolarAxes
except ImportError as error:  # pragma: no cover - depends on the installation
    raise ImportError("plots need matplotlib: pip install 'vardoln_cn0[plots]'") from error

if TYPE_CHECKING:
    import pandas as pd

    from .assessment import Assessment

CMAP = "viridis"
DPI = 90
# C/N0 colour scale shared by the skyplot and the heatmap, so that one colour means one level.
CN0_RANGE = (20.0, 55.0)
SEVERITY_COLOURS = {"critical": "tab:red", "high": "tab:orange", "low": "gold"}
# Without a satellite position the analysis places a sample at azimuth 0, elevation 45.
NO_POSITION = (0.0, 45.0)
# A 1 Hz day holds 86400 points per satellite; a few hundred per trace draw the same picture.
MAX_POINTS_PER_TRACE = 720
# Beyond this many satellites the names cover the tracks.
MAX_LABELLED_TRACES = 60


class Progress:
    """A one-line counter on stderr, shown only when stderr is a terminal."""

    def __init__(self, total: int, label: str, stream: TextIO | None = None):
        self.stream = stream or sys.stderr
        self.total, self.label, self.done = total, label, 0
        self.active = total > 0 and self.stream.isatty()

    def step(self, what: str = "", count: int = 1) -> None:
        self.done += count
        if self.active:
            self.stream.write(f"\r\033[K{self.label}: {self.done}/{self.total} {what}")
            self.stream.flush()

    def close(self) -> None:
        if self.active:
            self.stream.write("\r\033[K")
            self.stream.flush()


def parse_time(text: str) -> datetime | None:
    """A timestamp text as a datetime; seconds of 60 and more roll over. None if not a date."""
    try:
        day, clock = text.rstrip("Z").split("T")
        year, month, mday = (int(part) for part in day.split("-"))
        hour, minute, second = clock.split(":")
        return datetime(year, month, mday) + timedelta(hours=int(hour), minutes=int(minute), seconds=float(second))
    except (ValueError, OverflowError):
        return None


def _series(stamps: list[str], values: list[Any]) -> tuple[list[datetime], list[float]]:
    """(times, values) for the stamps that are real dates; None values become NaN."""
    times: list[datetime] = []
    numbers: list[float] = []
    for stamp, value in zip(stamps, values):
        when = parse_time(stamp)
        if when is not None:
            times.append(when)
            numbers.append(float("nan") if value is None else value)
    return times, numbers


def has_geometry(data: dict[str, Any]) -> bool:
    """Whether any sample carries a computed satellite direction (needs navigation data and a
    receiver position in the header)."""
    if not data.get("visibility"):
        return False
    return any((point["azimuth"], point["elevation"]) != NO_POSITION
               for trace in data["skyplot"]["traces"] for point in trace["points"])


def _time_axis(ax: Axes) -> None:
    locator = mdates.AutoDateLocator()  # type: ignore[no-untyped-call]
    ax.xaxis.set_major_locator(locator)
    ax.xaxis.set_major_formatter(mdates.ConciseDateFormatter(locator))  # type: ignore[no-untyped-call]
    ax.set_xlabel("time (epoch time as written in the file)")
    ax.grid(alpha=0.3)


def _station(data: dict[str, Any]) -> str:
    info = data["file_info"]
    return info["marker_name"] or "unnamed station"


def skyplot(data: dict[str, Any], progress: Progress) -> Figure | None:
    if not has_geometry(data):
        return None
    traces = data["skyplot"]["traces"]
    fig = plt.figure(figsize=(7.5, 7))
    ax = cast(PolarAxes, fig.add_subplot(projection="polar"))
    ax.set_theta_zero_location("N")
    ax.set_theta_direction(-1)
    ax.set_rlim(90, 0)
    ax.set_rticks([0, 15, 30, 45, 60, 75])
    ax.set_yticklabels(["0°", "15°", "30°", "45°", "60°", "75°"], fontsize=8, color="0.35")
    ax.set_xticks(np.radians(range(0, 360, 45)), ["N", "NE", "E", "SE", "S", "SW", "W", "NW"])
    azimuths, elevations, levels = [], [], []
    for trace in traces:
        points = [p for p in trace["points"]
                  if p["cn0"] is not None and (p["azimuth"], p["elevation"]) != NO_POSITION]
        stride = max(1, math.ceil(len(points) / MAX_POINTS_PER_TRACE))
        points = points[::stride]
        if points:
            azimuths += [math.radians(p["azimuth"]) for p in points]
            elevations += [p["elevation"] for p in points]
            levels += [p["cn0"] for p in points]
            if len(traces) <= MAX_LABELLED_TRACES:
                # At the culmination, where tracks are furthest apart, rather than at the horizon.
                top = max(points, key=lambda p: p["elevation"])
                ax.annotate(trace["satellite"], (math.radians(top["azimuth"]), top["elevation"]),
                            fontsize=7, xytext=(3, 3), textcoords="offset points")
        progress.step("skyplot")
    scatter = ax.scatter(azimuths, elevations, c=levels, s=4, cmap=CMAP, vmin=CN0_RANGE[0], vmax=CN0_RANGE[1],
                         linewidths=0)
    fig.colorbar(scatter, ax=ax, shrink=0.7, pad=0.08, label="C/N0 (dB-Hz)", extend="both")
    ax.set_title(f"Skyplot of {_station(data)}: satellite tracks coloured by C/N0\n"
                 "azimuth clockwise from north, elevation in degrees (centre 90°)", fontsize=11)
    return fig


def heatmap(data: dict[str, Any]) -> Figure | None:
    if not has_geometry(data):
        return None
    grid = data["heatmap"]
    matrix = np.array(grid["cn0_matrix"], dtype=float)
    counts = np.array(grid["count_matrix"], dtype=float)
    if matrix.size == 0 or not counts.any():
        return None
    fig, ax = plt.subplots(figsize=(10, 4.6))
    image = ax.imshow(np.where(counts > 0, matrix, np.nan), origin="lower", aspect="auto", cmap=CMAP,
                      extent=(0, 360, 0, 90), vmin=CN0_RANGE[0], vmax=CN0_RANGE[1], interpolation="nearest")
    ax.set_facecolor("0.92")
    fig.colorbar(image, ax=ax, label="mean C/N0 (dB-Hz)", extend="both")
    ax.set_xticks(range(0, 361, 45))
    ax.set_yticks(range(0, 91, 15))
    ax.set_xlabel("azimuth (degrees clockwise from north)")
    ax.set_ylabel("elevation (degrees)")
    ax.set_title(f"Mean C/N0 per sky cell (10° azimuth × 5° elevation), {_station(data)}; grey: no samples",
                 fontsize=11)
    return fig


def timeseries(data: dict[str, Any]) -> Figure | None:
    series = data["timeseries"]
    times, cn0 = _series(series["timestamps"], series["mean_cn0"])
    _, counts = _series(series["timestamps"], series["satellite_count"])
    if not times:
        return None
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(11, 5.5), sharex=True, height_ratios=(3, 2))
    top.plot(times, cn0, lw=0.9, color="tab:blue", label="mean C/N0")
    top.set_ylabel("mean C/N0 (dB-Hz)")
    bottom.step(times, counts, where="mid", lw=0.9, color="tab:green")
    bottom.set_ylabel("satellites")
    bottom.yaxis.get_major_locator().set_params(integer=True)
    bottom.set_ylim(0, max((c for c in counts if c == c), default=1) * 1.15 + 0.5)
    bottom.grid(alpha=0.3)
    marked = set()
    for anomaly in data["anomalies"]:
        when = parse_time(anomaly["timestamp"])
        if when is None:
            continue
        colour = SEVERITY_COLOURS.get(anomaly["severity"], "tab:red")
        label = None if anomaly["severity"] in marked else f"{anomaly['severity']} anomaly"
        marked.add(anomaly["severity"])
        top.axvline(when, color=colour, alpha=0.6, lw=1.2, label=label)
        bottom.axvline(when, color=colour, alpha=0.6, lw=1.2)
    if marked:
        top.legend(loc="lower left", fontsize=8)
    top.grid(alpha=0.3)
    _time_axis(bottom)
    title = "no anomalies" if not data["anomalies"] else f"{len(data['anomalies'])} anomaly epochs marked"
    top.set_title(f"Mean C/N0 and tracked satellites per epoch, {_station(data)} ({title})", fontsize=11)
    return fig


def constellations(data: dict[str, Any]) -> Figure | None:
    by_system = data["timeseries"]["constellation_timeseries"]
    if not by_system:
        return None
    fig, ax = plt.subplots(figsize=(11, 4.6))
    for name, points in sorted(by_system.items()):
        times, cn0 = _series([p["timestamp"] for p in points], [p["cn0"] for p in points])
        ax.plot(np.array(times, dtype="datetime64[us]"), cn0, lw=0.9, label=name)
    ax.set_ylabel("mean C/N0 (dB-Hz)")
    _time_axis(ax)
    ax.set_title(f"Mean C/N0 per constellation over time, {_station(data)}", fontsize=11)
    ax.legend(fontsize=8, ncols=min(len(by_system), 6), loc="lower left")
    return fig


def visibility_timeline_of(judged: Assessment | None) -> pd.DataFrame | None:
    """The per-epoch visibility counts of an assessment with navigation data; None without them
    (or without a receiver position in the header)."""
    if judged is None or not judged.nav_paths or not judged.result.has_visibility_prediction:
        return None
    from .visibility import visibility_timeline

    try:
        return visibility_timeline(judged.obs_path, judged.nav_paths, judged.settings["min_elevation"])
    except ValueError:
        return None


def visibility(timeline: pd.DataFrame | None, station: str, source: str) -> Figure | None:
    """Predicted and observed satellites per epoch over time, one panel per constellation."""
    if timeline is None or timeline.empty:
        return None
    shown = [name for name in timeline.system.cat.categories
             if (timeline.system == name).any() and timeline.loc[timeline.system == name, ["predicted", "observed"]]
             .to_numpy().any()]
    if not shown:
        return None
    fig, axes = plt.subplots(len(shown), 1, figsize=(11, 1.2 + 1.5 * len(shown)), sharex=True, squeeze=False)
    for ax, name in zip(axes[:, 0], shown):
        rows = timeline[timeline.system == name]
        when = rows.time.to_numpy()
        ax.step(when, rows.predicted.to_numpy(), where="post", lw=1.2, color="tab:gray", label="predicted above mask")
        ax.step(when, rows.observed.to_numpy(), where="post", lw=0.9, color="tab:blue", label="observed (C/N0 sample)")
        ax.set_ylabel(name, rotation=0, ha="right", va="center")
        ax.yaxis.get_major_locator().set_params(integer=True)
        # headroom above the highest count, so that neither line hides under the frame or the legend
        ax.set_ylim(0, max(int(rows.predicted.max()), int(rows.observed.max())) * 1.35 + 1)
        ax.grid(alpha=0.3)
    axes[0, 0].legend(fontsize=8, loc="upper left", ncols=2)
    _time_axis(axes[-1, 0])
    mask = timeline.attrs.get("min_elevation", 0.0)
    axes[0, 0].set_title(f"Satellites per epoch, predicted from the navigation data (above {mask:g}°) and observed, "
                         f"{station}\n{source}; SBAS and IRNSS are never predicted", fontsize=11)
    return fig


# (file stem, title) in the order plots are shown.
PLOTS = (("skyplot", "Skyplot"), ("heatmap", "Sky heatmap"), ("timeseries", "C/N0 and satellites over time"),
         ("constellations", "C/N0 per constellation"), ("visibility", "Predicted and observed satellites over time"))


def render_all(data: dict[str, Any], judged: Assessment | None = None) -> list[tuple[str, str, bytes]]:
    """Every plot that the result has data for, as (file stem, title, PNG bytes); the visibility
    plot needs the assessment (its navigation files and elevation mask)."""
    traces = len(data["skyplot"]["traces"])
    progress = Progress(traces + len(PLOTS) - 1, "plotting")
    source = judged.result.visibility_prediction_source if judged is not None else ""
    drawers = {"skyplot": lambda: skyplot(data, progress), "heatmap": lambda: heatmap(data),
               "timeseries": lambda: timeseries(data), "constellations": lambda: constellations(data),
               "visibility": lambda: visibility(visibility_timeline_of(judged), _station(data), source)}
    rendered = []
    try:
        for stem, title in PLOTS:
            figure = drawers[stem]()
            if stem == "skyplot":
                progress.step(stem, traces - progress.done)  # a skipped skyplot draws no traces
            else:
                progress.step(stem)
            if figure is None:
                continue
            buffer = io.BytesIO()
            # No Software text: keeps the PNG free of a web address and a few bytes smaller.
            figure.savefig(buffer, format="png", dpi=DPI, bbox_inches="tight", metadata={"Software": None})
            plt.close(figure)
            rendered.append((stem, title, buffer.getvalue()))
    finally:
        progress.close()
    return rendered


def write_all(data: dict[str, Any], directory: str, judged: Assessment | None = None) -> list[str]:
    """Writes every plot that the result has data for as DIR/<name>.png; returns the paths."""
    os.makedirs(directory, exist_ok=True)
    written = []
    for stem, _, png in render_all(data, judged):
        path = os.path.join(directory, f"{stem}.png")
        with open(path, "wb") as out:
            out.write(png)
        written.append(path)
    return written
