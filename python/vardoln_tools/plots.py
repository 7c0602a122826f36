"""PNG plots of an analysis (needs matplotlib: pip install 'vardoln_cn0[plots]').

The plots draw from `PlotData`, a compact extract of an assessment: the epoch series and the
anomalies from the result's accessors, and the recording's views (`recording_views`): the skyplot
tracks, the heatmap grid and the per-constellation series that the companion extension makes from
the files by the analysis's own steps, and the per-epoch visibility counts. Nothing is read back
from the JSON export, which for a day of 30 s data runs to some 80 MB. Skyplot tracks are line
collections of short pieces, the heatmap is the analysis's grid, and every time series keeps at
most a few thousand points: the lowest and the highest value of each time bin, so that a dip
stays as deep as it is.
"""

from __future__ import annotations

import io
import os
import sys
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field, replace
from datetime import datetime, timedelta
from typing import TYPE_CHECKING, Any, TextIO, cast

import numpy as np
import numpy.typing as npt

try:
    from matplotlib import dates as mdates
    from matplotlib.axes import Axes
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.collections import LineCollection
    from matplotlib.colors import to_rgba_array
    from matplotlib.figure import Figure
    from matplotlib.projections.polar import PolarAxes
    from PIL import Image
except ImportError as error:  # pragma: no cover - depends on the installation
    raise ImportError("plots need matplotlib: pip install 'vardoln_cn0[plots]'") from error

if TYPE_CHECKING:
    from .assessment import Assessment

Floats = npt.NDArray[np.float64]
Times = npt.NDArray[np.datetime64]

CMAP = "viridis"
DPI = 90
# C/N0 colour scale shared by the skyplot and the heatmap, so that one colour means one level.
CN0_RANGE = (20.0, 55.0)
# Skyplot tracks are drawn in colour levels of this many dB-Hz.
CN0_STEP = 0.25
SEVERITY_COLOURS = {"critical": "tab:red", "high": "tab:orange", "low": "gold"}
# Without a satellite position the analysis places a sample at azimuth 0, elevation 45.
NO_POSITION = (0.0, 45.0)
# A skyplot track is drawn as segments of about this much sky, each coloured by the mean C/N0 of
# its samples: about 3 pixels at the plot's size, so the colours run as smoothly as the samples.
TRACK_STEP_DEG = 1.0
# Consecutive positions of one satellite further apart than this belong to separate passes.
TRACK_BREAK_DEG = 8.0
# A time series longer than this many bins keeps each bin's lowest and highest value.
TIME_BINS = 1500
# zlib level of the PNG images: 3 compresses twice as fast as the usual 6 for 5 % more bytes.
PNG_COMPRESSION = 3
# Margin around the cropped figure, as savefig's default for bbox_inches="tight".
PAD_INCHES = 0.1
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


# ---------------------------------------------------------------------------------------------------
# The extract

def parse_time(text: str) -> datetime | None:
    """A timestamp text as a datetime; seconds of 60 and more roll over. None if not a date."""
    try:
        day, clock = text.rstrip("Z").split("T")
        year, month, mday = (int(part) for part in day.split("-"))
        hour, minute, second = clock.split(":")
        return datetime(year, month, mday) + timedelta(hours=int(hour), minutes=int(minute), seconds=float(second))
    except (ValueError, OverflowError):
        return None


def timestamp_array(stamps: list[str]) -> Times:
    """Timestamp texts ("2024-01-15T06:30:00.000Z") as datetime64[ns]; NaT where a text names no
    date. Seconds of 60 and more roll over, as in `parse_time`."""
    try:
        return np.array([stamp.rstrip("Z") for stamp in stamps], dtype="datetime64[ms]").astype("datetime64[ns]")
    except ValueError:  # a leap second, a year beyond four digits, a damaged text: one by one
        parsed = (parse_time(stamp) for stamp in stamps)
        return np.array([np.datetime64("NaT") if when is None else np.datetime64(when, "us") for when in parsed],
                        dtype="datetime64[us]").astype("datetime64[ns]")


@dataclass(frozen=True)
class SkyTracks:
    """The samples of the skyplot's tracks, track after track, in sample order."""

    satellites: list[str]
    starts: npt.NDArray[np.int64]  # track i holds samples starts[i] .. starts[i + 1]
    azimuth: Floats  # degrees clockwise from north
    elevation: Floats  # degrees
    cn0: Floats  # dB-Hz

    @property
    def positioned(self) -> npt.NDArray[np.bool_]:
        """Samples with a computed direction (the others sit at the stand-in azimuth 0, elevation 45)."""
        positioned: npt.NDArray[np.bool_] = (self.azimuth != NO_POSITION[0]) | (self.elevation != NO_POSITION[1])
        return positioned


NO_TRACKS = SkyTracks([], np.zeros(1, dtype=np.int64), np.empty(0), np.empty(0), np.empty(0))


@dataclass(frozen=True)
class Series:
    """Values over time, in time order."""

    time: Times
    value: Floats


@dataclass(frozen=True)
class VisibilityCounts:
    """Satellites predicted above the mask and observed, per epoch, for one constellation."""

    time: Times
    predicted: npt.NDArray[np.int64]
    observed: npt.NDArray[np.int64]


@dataclass(frozen=True)
class RecordingViews:
    """What the plots take from the recording: the skyplot's tracks, the heatmap grid and the
    per-constellation series as the analysis makes them, and the per-epoch visibility counts."""

    sky: SkyTracks = NO_TRACKS
    grid_cn0: Floats = field(default_factory=lambda: np.empty((0, 0)))  # 18 x 36, mean dB-Hz; NaN: no sample
    grid_count: npt.NDArray[np.int64] = field(default_factory=lambda: np.zeros((0, 0), dtype=np.int64))
    constellations: dict[str, Series] = field(default_factory=dict)  # mean C/N0 per epoch, by name
    visibility: dict[str, VisibilityCounts] = field(default_factory=dict)  # by name; empty without a prediction


@dataclass(frozen=True)
class PlotData:
    """What the plots of one assessment draw, as arrays (see `plot_data`)."""

    station: str
    has_prediction: bool  # the analysis had navigation data
    mean_cn0: Series  # per epoch with samples
    satellites: Series  # distinct satellites per epoch with samples
    anomaly_times: Times
    anomaly_severities: list[str]
    visibility_source: str
    min_elevation: float  # degrees
    recording: RecordingViews = RecordingViews()

    @property
    def geometry(self) -> bool:
        """Whether the samples carry computed directions (navigation data and a receiver position)."""
        return self.has_prediction and bool(self.recording.sky.positioned.any())


def result_plot_data(judged: Assessment) -> PlotData:
    """The part of `plot_data` that comes from the result's accessors (no recording views)."""
    result = judged.result
    epochs = timestamp_array(result.get_timestamps())
    return PlotData(
        station=result.station_name or "unnamed station",
        has_prediction=result.has_visibility_prediction,
        mean_cn0=Series(epochs, np.asarray(result.get_timeseries_cn0(), dtype=np.float64)),
        satellites=Series(epochs, np.asarray(result.get_satellite_count_series(), dtype=np.float64)),
        anomaly_times=timestamp_array(result.get_anomaly_timestamps()),
        anomaly_severities=list(result.get_anomaly_severities()),
        visibility_source=result.visibility_prediction_source,
        min_elevation=float(judged.settings["min_elevation"]),
    )


def _times(buffer: Any) -> Times:
    times: Times = np.frombuffer(buffer, dtype=np.int64).view("datetime64[ns]")
    return times


def _floats(buffer: Any) -> Floats:
    values: Floats = np.frombuffer(buffer, dtype=np.float64)
    return values


def recording_views(obs_path: str, nav_paths: list[str], settings: dict[str, Any]) -> RecordingViews:
    """The skyplot tracks, the heatmap grid and the per-constellation series that an analysis of
    the files with these settings (`Assessment.settings`) makes, computed natively by the
    analysis's own steps (equal, value for value, to what its accessors and export hold), and the
    per-epoch visibility counts behind its visibility means. Needs no result, and runs without
    the interpreter lock."""
    from . import _native

    views = _native.plot_views(obs_path, list(nav_paths) or None, list(settings["systems"]),
                               float(settings["min_elevation"]), float(settings["min_cn0"]),
                               float(settings["max_cn0"]))
    sky = views["sky"]
    lengths = np.frombuffer(sky["lengths"], dtype=np.uint64).astype(np.int64)
    tracks = SkyTracks(list(sky["satellites"]), np.concatenate(([0], np.cumsum(lengths))), _floats(sky["azimuth"]),
                       _floats(sky["elevation"]), _floats(sky["cn0"]))
    grid = views["heatmap"]
    counts = np.frombuffer(grid["count"], dtype=np.uint64).astype(np.int64)
    rows = len(counts) // 36
    means = np.where(counts > 0, _floats(grid["cn0"]), np.nan).reshape(rows, 36)
    constellations = {name: Series(_times(columns["time"]), _floats(columns["cn0"]))
                      for name, columns in views["constellations"].items()}
    visibility = {}
    if views["visibility"] is not None:
        table = views["visibility"]
        systems = list(table["systems"])
        when = _times(table["time"])
        shape = (len(when), len(systems))
        predicted = np.frombuffer(table["predicted"], dtype=np.uint32).reshape(shape).astype(np.int64)
        observed = np.frombuffer(table["observed"], dtype=np.uint32).reshape(shape).astype(np.int64)
        visibility = {name: VisibilityCounts(when, predicted[:, column], observed[:, column])
                      for column, name in enumerate(systems)}
    return RecordingViews(tracks, means, counts.reshape(rows, 36), constellations, visibility)


def _views_of(judged: Assessment) -> RecordingViews:
    return recording_views(judged.obs_path, judged.nav_paths, judged.settings)


def plot_data(judged: Assessment) -> PlotData:
    """The extract the plots of an assessment draw: the epoch series and anomalies from the result's
    accessors and the views of `recording_views`; no JSON export is made or read."""
    return replace(result_plot_data(judged), recording=_views_of(judged))


# ---------------------------------------------------------------------------------------------------
# Reduction

def decimate(time: Times, value: Floats, bins: int = TIME_BINS) -> Series:
    """At most 2 x `bins` points of a series, in its order: the lowest and the highest value of each
    of `bins` equal spans of time, so that the line reaches every dip and every peak of the full
    series. Points whose time is NaT are left out; a series of at most 2 x `bins` points is kept
    whole."""
    known = ~np.isnat(time)
    time, value = time[known], value[known]
    if len(time) <= 2 * bins:
        return Series(time, value)
    ticks = time.astype(np.int64)
    start, span = int(ticks.min()), int(ticks.max()) - int(ticks.min())
    # Bin by time, not by count, so that a gap in the recording stays a gap.
    slot = ((ticks - start) * (bins / max(span, 1))).astype(np.int64).clip(0, bins - 1)
    order = np.lexsort((value, slot))  # by bin, then by value; NaN sorts last within its bin
    first = np.flatnonzero(np.r_[True, slot[order][1:] != slot[order][:-1]])
    last = np.r_[first[1:], len(order)] - 1
    finite = ~np.isnan(value[order])
    # The highest value is the last one of the bin that is not NaN (when the bin has one).
    highest = np.maximum.accumulate(np.where(finite, np.arange(len(order)), -1))[last]
    highest = np.where(highest >= first, highest, last)
    keep = np.unique(np.concatenate((order[first], order[highest])))
    return Series(time[keep], value[keep])


def _sky_angle(az1: Floats, el1: Floats, az2: Floats, el2: Floats) -> Floats:
    """Angles between directions on the sky, degrees."""
    a1, e1, a2, e2 = (np.radians(x) for x in (az1, el1, az2, el2))
    cosine = np.sin(e1) * np.sin(e2) + np.cos(e1) * np.cos(e2) * np.cos(a2 - a1)
    angles: Floats = np.degrees(np.arccos(np.clip(cosine, -1.0, 1.0)))
    return angles


@dataclass(frozen=True)
class TrackSegments:
    """Skyplot tracks as straight pieces: ends in (azimuth, elevation) degrees and a C/N0 each."""

    start: npt.NDArray[np.float64]  # (n, 2)
    end: npt.NDArray[np.float64]  # (n, 2)
    cn0: Floats  # mean of the samples the piece covers, dB-Hz


def track_segments(sky: SkyTracks) -> TrackSegments:
    """The positioned samples of every track as pieces of about TRACK_STEP_DEG of sky.

    Samples of several signals at one epoch share a position and are one point with their mean
    C/N0. A track breaks where two consecutive points lie more than TRACK_BREAK_DEG apart (the
    satellite set and rose again, or had no position in between); a run of points within one
    step (a geostationary satellite) is one short piece from its first to its last point.
    """
    trace = np.repeat(np.arange(len(sky.satellites)), np.diff(sky.starts))
    used = sky.positioned & ~np.isnan(sky.cn0) & np.isfinite(sky.azimuth) & np.isfinite(sky.elevation)
    trace, az, el, cn0 = trace[used], sky.azimuth[used], sky.elevation[used], sky.cn0[used]
    if len(az) == 0:
        empty = np.empty((0, 2))
        return TrackSegments(empty, empty, np.empty(0))
    # One point per position: consecutive samples of one trace at the same place.
    new_point = np.r_[True, (trace[1:] != trace[:-1]) | (az[1:] != az[:-1]) | (el[1:] != el[:-1])]
    point = np.cumsum(new_point) - 1
    count = np.bincount(point)
    cn0 = np.bincount(point, weights=cn0) / count
    trace, az, el = trace[new_point], az[new_point], el[new_point]
    # Runs of a track between breaks; distance along the run in degrees of sky.
    step = np.r_[0.0, _sky_angle(az[:-1], el[:-1], az[1:], el[1:])]
    new_run = np.r_[True, (trace[1:] != trace[:-1]) | (step[1:] > TRACK_BREAK_DEG)]
    step[new_run] = 0.0
    run = np.cumsum(new_run) - 1
    along = np.cumsum(step)
    along -= along[np.flatnonzero(new_run)][run]
    # Pieces: each run cut every TRACK_STEP_DEG; a piece runs from its first point to the first
    # point of the next piece of the run, or to the run's last point.
    piece_key = run * (1 << 32) + (along // TRACK_STEP_DEG).astype(np.int64)
    new_piece = np.r_[True, piece_key[1:] != piece_key[:-1]]
    piece = np.cumsum(new_piece) - 1
    first = np.flatnonzero(new_piece)
    run_last = np.r_[np.flatnonzero(new_run)[1:], len(az)] - 1
    next_first = np.r_[first[1:], len(az)]
    same_run = np.r_[run[first[1:]] == run[first[:-1]], False]
    end = np.where(same_run, next_first, run_last[run[first]])
    colour = np.bincount(piece, weights=cn0) / np.bincount(piece)
    return TrackSegments(np.column_stack((az[first], el[first])), np.column_stack((az[end], el[end])), colour)


# ---------------------------------------------------------------------------------------------------
# Figures

def _figure(width: float, height: float) -> Figure:
    # Drawn at the resolution it is saved at (png() crops the drawn pixels), on a canvas of its
    # own rather than through pyplot's figure manager: nothing to close, no global state.
    figure = Figure(figsize=(width, height), dpi=DPI)
    FigureCanvasAgg(figure)
    return figure


def _time_axis(ax: Axes) -> None:
    locator = mdates.AutoDateLocator()  # type: ignore[no-untyped-call]
    ax.xaxis.set_major_locator(locator)
    ax.xaxis.set_major_formatter(mdates.ConciseDateFormatter(locator))  # type: ignore[no-untyped-call]
    ax.set_xlabel("time (epoch time as written in the file)")
    ax.grid(alpha=0.3)


def skyplot(data: PlotData) -> Figure | None:
    """Satellite tracks over the sky, coloured by C/N0; None without satellite directions."""
    if not data.geometry:
        return None
    fig = _figure(7.5, 7)
    ax = cast(PolarAxes, fig.add_subplot(projection="polar"))
    ax.set_theta_zero_location("N")
    ax.set_theta_direction(-1)
    ax.set_rlim(90, 0)
    ax.set_rticks([0, 15, 30, 45, 60, 75])
    ax.set_yticklabels(["0°", "15°", "30°", "45°", "60°", "75°"], fontsize=8, color="0.35")
    ax.set_xticks(np.radians(range(0, 360, 45)), ["N", "NE", "E", "SE", "S", "SW", "W", "NW"])
    pieces = track_segments(data.recording.sky)
    # The polar projection is applied here, to every end at once, rather than per path at drawing
    # time; the collection then needs only the axes' affine part.
    polar: Any = ax  # the projection's transforms are not in matplotlib's type stubs
    project = polar.transScale + polar.transShift + polar.transProjection
    ends = np.vstack((pieces.start, pieces.end))
    ends = project.transform(np.column_stack((np.radians(ends[:, 0]), ends[:, 1])))
    start, end = ends[:len(pieces.cn0)], ends[len(pieces.cn0):]
    # One path per colour level, its pieces parted by NaN rows: some hundred paths to draw instead
    # of one per piece; levels of CN0_STEP dB-Hz are finer than the eye parts the colours. The
    # strongest level is drawn first, so that a weak signal never hides under a strong one.
    level = np.floor((np.clip(pieces.cn0, CN0_RANGE[0] - CN0_STEP, CN0_RANGE[1] + CN0_STEP) - CN0_RANGE[0]) /
                     CN0_STEP).astype(np.int64)
    order = np.argsort(-level, kind="stable")
    first = np.flatnonzero(np.r_[True, np.diff(level[order]) != 0])
    levels = level[order][first]
    triples = np.stack((start[order], end[order], np.full((len(order), 2), np.nan)), axis=1)
    paths = [rows.reshape(-1, 2) for rows in np.split(triples, first[1:])]
    tracks = LineCollection(paths, array=CN0_RANGE[0] + (levels + 0.5) * CN0_STEP, cmap=CMAP, linewidths=1.8,
                            capstyle="round",
                            transform=polar.transProjectionAffine + polar.transWedge + polar.transAxes)
    tracks.set_clim(*CN0_RANGE)
    ax.add_collection(tracks, autolim=False)
    sky = data.recording.sky
    if len(sky.satellites) <= MAX_LABELLED_TRACES:
        for index, satellite in enumerate(sky.satellites):
            span = slice(sky.starts[index], sky.starts[index + 1])
            where = sky.positioned[span] & ~np.isnan(sky.cn0[span])
            if not where.any():
                continue
            # At the culmination, where tracks are furthest apart, rather than at the horizon.
            top = int(np.argmax(np.where(where, sky.elevation[span], -np.inf)))
            ax.annotate(satellite, (np.radians(sky.azimuth[span][top]), sky.elevation[span][top]),
                        fontsize=7, xytext=(3, 3), textcoords="offset points")
    fig.colorbar(tracks, ax=ax, shrink=0.7, pad=0.08, label="C/N0 (dB-Hz)", extend="both")
    ax.set_title(f"Skyplot of {data.station}: satellite tracks coloured by C/N0\n"
                 "azimuth clockwise from north, elevation in degrees (centre 90°)", fontsize=11)
    return fig


def heatmap(data: PlotData) -> Figure | None:
    """Mean C/N0 per sky cell; None without satellite directions."""
    if not data.geometry:
        return None
    means, counts = data.recording.grid_cn0, data.recording.grid_count
    if not counts.any():
        return None
    fig = _figure(10, 4.6)
    ax = fig.add_subplot()
    image = ax.imshow(means, origin="lower", aspect="auto", cmap=CMAP, extent=(0, 360, 0, 90),
                      vmin=CN0_RANGE[0], vmax=CN0_RANGE[1], interpolation="nearest")
    ax.set_facecolor("0.92")
    fig.colorbar(image, ax=ax, label="mean C/N0 (dB-Hz)", extend="both")
    ax.set_xticks(range(0, 361, 45))
    ax.set_yticks(range(0, 91, 15))
    ax.set_xlabel("azimuth (degrees clockwise from north)")
    ax.set_ylabel("elevation (degrees)")
    ax.set_title(f"Mean C/N0 per sky cell (10° azimuth × 5° elevation), {data.station}; grey: no samples",
                 fontsize=11)
    return fig


def _mark_anomalies(data: PlotData, axes: list[Axes]) -> bool:
    """One vertical line per anomaly epoch, coloured by severity; True when there was one."""
    severities = np.array(data.anomaly_severities, dtype=object)
    marked = False
    for severity in dict.fromkeys(data.anomaly_severities):
        when = data.anomaly_times[(severities == severity) & ~np.isnat(data.anomaly_times)]
        if len(when) == 0:
            continue
        colour = SEVERITY_COLOURS.get(severity, "tab:red")
        for index, ax in enumerate(axes):
            marks = ax.vlines(when, 0, 1, transform=ax.get_xaxis_transform(), colors=colour, alpha=0.6,
                              linewidths=1.2)
            if index == 0:
                marks.set_label(f"{severity} anomaly")
        marked = True
    return marked


def timeseries(data: PlotData) -> Figure | None:
    """Mean C/N0 and tracked satellites per epoch, with the anomaly epochs marked."""
    cn0 = decimate(data.mean_cn0.time, data.mean_cn0.value)
    counts = decimate(data.satellites.time, data.satellites.value)
    if len(cn0.time) == 0:
        return None
    fig = _figure(11, 5.5)
    top, bottom = fig.subplots(2, 1, sharex=True, height_ratios=(3, 2))
    top.plot(cn0.time, cn0.value, lw=0.9, color="tab:blue", label="mean C/N0")
    top.set_ylabel("mean C/N0 (dB-Hz)")
    bottom.step(counts.time, counts.value, where="mid", lw=0.9, color="tab:green")
    bottom.set_ylabel("satellites")
    bottom.yaxis.get_major_locator().set_params(integer=True)
    bottom.set_ylim(0, float(np.nanmax(counts.value, initial=1.0)) * 1.15 + 0.5)
    bottom.grid(alpha=0.3)
    if _mark_anomalies(data, [top, bottom]):
        top.legend(loc="lower left", fontsize=8)
    top.grid(alpha=0.3)
    _time_axis(bottom)
    count = len(data.anomaly_times)
    title = "no anomalies" if count == 0 else f"{count} anomaly epochs marked"
    top.set_title(f"Mean C/N0 and tracked satellites per epoch, {data.station} ({title})", fontsize=11)
    return fig


def constellations(data: PlotData) -> Figure | None:
    """Mean C/N0 per constellation over time."""
    if not data.recording.constellations:
        return None
    fig = _figure(11, 4.6)
    ax = fig.add_subplot()
    for name, series in sorted(data.recording.constellations.items()):
        line = decimate(series.time, series.value)
        ax.plot(line.time, line.value, lw=0.9, label=name)
    ax.set_ylabel("mean C/N0 (dB-Hz)")
    _time_axis(ax)
    ax.set_title(f"Mean C/N0 per constellation over time, {data.station}", fontsize=11)
    ax.legend(fontsize=8, ncols=min(len(data.recording.constellations), 6), loc="lower left")
    return fig


def visibility(data: PlotData) -> Figure | None:
    """Predicted and observed satellites per epoch over time, one panel per constellation."""
    shown = [name for name, counts in data.recording.visibility.items()
             if counts.predicted.any() or counts.observed.any()]
    if not shown:
        return None
    fig = _figure(11, 1.2 + 1.5 * len(shown))
    axes = fig.subplots(len(shown), 1, sharex=True, squeeze=False)
    for ax, name in zip(axes[:, 0], shown):
        counts = data.recording.visibility[name]
        predicted = decimate(counts.time, counts.predicted.astype(np.float64))
        observed = decimate(counts.time, counts.observed.astype(np.float64))
        ax.step(predicted.time, predicted.value, where="post", lw=1.2, color="tab:gray", label="predicted above mask")
        ax.step(observed.time, observed.value, where="post", lw=0.9, color="tab:blue", label="observed (C/N0 sample)")
        ax.set_ylabel(name, rotation=0, ha="right", va="center")
        ax.yaxis.get_major_locator().set_params(integer=True)
        # headroom above the highest count, so that neither line hides under the frame or the legend
        ax.set_ylim(0, max(int(counts.predicted.max()), int(counts.observed.max())) * 1.35 + 1)
        ax.grid(alpha=0.3)
    axes[0, 0].legend(fontsize=8, loc="upper left", ncols=2)
    _time_axis(axes[-1, 0])
    axes[0, 0].set_title(f"Satellites per epoch, predicted from the navigation data (above {data.min_elevation:g}°) "
                         f"and observed, {data.station}\n{data.visibility_source}; SBAS and IRNSS are never "
                         "predicted", fontsize=11)
    return fig


def png(figure: Figure) -> bytes:
    """The figure as PNG bytes, cropped to its content with a margin of PAD_INCHES, as
    bbox_inches="tight" crops it.

    The figure is drawn once and the crop found in its pixels, where bbox_inches="tight" lays
    the figure out twice more to measure it. Content that reaches the edge of the figure (a very
    long title) may lie beyond it: then the figure is saved the usual way, which widens it.
    """
    canvas: Any = figure.canvas  # an Agg canvas (see _figure); its drawing methods are untyped
    canvas.draw()
    pixels = np.asarray(canvas.buffer_rgba())
    background = np.array(to_rgba_array(figure.get_facecolor())[0] * 255, dtype=np.uint8)
    content = (pixels != background).any(axis=2)
    rows, columns = np.flatnonzero(content.any(axis=1)), np.flatnonzero(content.any(axis=0))
    buffer = io.BytesIO()
    if len(rows) == 0 or rows[0] == 0 or columns[0] == 0 or rows[-1] == pixels.shape[0] - 1 or \
            columns[-1] == pixels.shape[1] - 1:
        # No Software text, as in the images made below: no web address, a few bytes fewer.
        figure.savefig(buffer, format="png", dpi=DPI, bbox_inches="tight", pad_inches=PAD_INCHES,
                       metadata={"Software": None})
        return buffer.getvalue()
    pad = round(PAD_INCHES * DPI)
    # Opaque figures need no alpha channel: a tenth smaller and quicker to compress.
    channels = 4 if background[3] < 255 or (pixels[..., 3] < 255).any() else 3
    framed = np.empty((rows[-1] - rows[0] + 1 + 2 * pad, columns[-1] - columns[0] + 1 + 2 * pad, channels),
                      dtype=np.uint8)
    framed[...] = background[:channels]
    framed[pad:-pad, pad:-pad] = pixels[rows[0]:rows[-1] + 1, columns[0]:columns[-1] + 1, :channels]
    Image.fromarray(framed).save(buffer, format="png", compress_level=PNG_COMPRESSION, dpi=(DPI, DPI))
    return buffer.getvalue()


# (file stem, title) in the order plots are shown.
PLOTS = (("skyplot", "Skyplot"), ("heatmap", "Sky heatmap"), ("timeseries", "C/N0 and satellites over time"),
         ("constellations", "C/N0 per constellation"), ("visibility", "Predicted and observed satellites over time"))
DRAWERS = {"skyplot": skyplot, "heatmap": heatmap, "timeseries": timeseries, "constellations": constellations,
           "visibility": visibility}


def render_all(judged: Assessment | PlotData, recording: RecordingViews | None = None) -> list[tuple[str, str, bytes]]:
    """Every plot that the assessment has data for, as (file stem, title, PNG bytes).

    `recording` are the assessment's `recording_views` when already made; otherwise they are made
    on a second thread (natively, without the interpreter lock) while the plot drawn from the
    result's accessors alone is made.
    """
    progress = Progress(len(PLOTS), "plotting")
    images: dict[str, bytes] = {}

    def draw(stems: tuple[str, ...], data: PlotData) -> None:
        for stem in stems:
            figure = DRAWERS[stem](data)
            progress.step(stem)
            if figure is not None:
                images[stem] = png(figure)

    try:
        if isinstance(judged, PlotData):
            draw(tuple(DRAWERS), judged)
        elif recording is not None:
            draw(tuple(DRAWERS), replace(result_plot_data(judged), recording=recording))
        else:
            with ThreadPoolExecutor(max_workers=1, thread_name_prefix="plot data") as pool:
                pending = pool.submit(_views_of, judged)
                data = result_plot_data(judged)
                draw(("timeseries",), data)
                draw(("skyplot", "heatmap", "constellations", "visibility"), replace(data, recording=pending.result()))
    finally:
        progress.close()
    return [(stem, title, images[stem]) for stem, title in PLOTS if stem in images]


def write_all(judged: Assessment | PlotData, directory: str) -> list[str]:
    """Writes every plot that the assessment has data for as DIR/<name>.png; returns the paths."""
    os.makedirs(directory, exist_ok=True)
    written = []
    for stem, _, image in render_all(judged):
        path = os.path.join(directory, f"{stem}.png")
        with open(path, "wb") as out:
            out.write(image)
        written.append(path)
    return written
