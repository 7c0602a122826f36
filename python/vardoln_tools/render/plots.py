"""PNG plots of an analysis (needs matplotlib: pip install 'vardoln_cn0[plots]').

The plots draw from the arrays of `plot_data`, never from the JSON export: the plot over time from
the result's series (`timeseries`), the others from the recording's views (`skyplot`, `heatmap`,
`constellations`, `visibility`), which need no result and so can be drawn while the analysis runs.
Skyplot tracks are line collections of short pieces, the heatmap is the analysis's grid, and every
time series keeps at most a few thousand points (the lowest and the highest value of each time bin).
Images are cropped from one drawing (`png`).
"""

from __future__ import annotations

import io
import os
import sys
from concurrent.futures import ThreadPoolExecutor
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any, TextIO, cast

import numpy as np

from .plot_data import (NEEDS_MATPLOTLIB, PLOT_TITLES, PlotData, RecordingViews, ResultSeries, decimate, result_series,
                        track_segments, views_of)

try:
    from matplotlib import dates as mdates
    from matplotlib.axes import Axes
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.collections import LineCollection
    from matplotlib.colors import to_rgba_array
    from matplotlib.figure import Figure
    from matplotlib.projections.polar import PolarAxes
    from matplotlib.ticker import FixedLocator
    from PIL import Image
except ImportError as error:  # pragma: no cover - depends on the installation
    raise ImportError(NEEDS_MATPLOTLIB) from error

if TYPE_CHECKING:
    from ..judge.assessment import Assessment

CMAP = "viridis"
DPI = 90
# C/N0 colour scale shared by the skyplot and the heatmap, so that one colour means one level.
CN0_RANGE = (20.0, 55.0)
# Skyplot tracks are drawn in colour levels of this many dB-Hz.
CN0_STEP = 0.25
EVENT_COLOURS = {"jamming": "tab:red", "interference": "tab:orange", "spoofing": "tab:purple",
                 "lasting_drop": "tab:brown"}
# zlib level of the PNG images: 1 compresses twice as fast as the usual 6 for 4 to 9 % more bytes.
PNG_COMPRESSION = 1
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
# Figures

def _figure(width: float, height: float) -> Figure:
    # Drawn at the resolution it is saved at (png() crops the drawn pixels), on a canvas of its
    # own rather than through pyplot's figure manager: nothing to close, no global state.
    figure = Figure(figsize=(width, height), dpi=DPI)
    FigureCanvasAgg(figure)
    return figure


def _time_axis(ax: Axes) -> None:
    """Date ticks on the x axis of `ax` (and of the axes that share it), called once the data are in.

    The date locator (calendar rules) would run again for every axis sharing it at every drawing;
    it runs once here, for the limits the data give, and its ticks are fixed.
    """
    locator = mdates.AutoDateLocator()  # type: ignore[no-untyped-call]
    ax.xaxis.set_major_locator(locator)
    fixed = FixedLocator(locator())
    ax.xaxis.set_major_locator(fixed)
    ax.xaxis.set_major_formatter(mdates.ConciseDateFormatter(fixed))  # type: ignore[no-untyped-call]
    ax.set_xlabel("time (epoch time as written in the file)")
    ax.grid(alpha=0.3)


def skyplot(views: RecordingViews) -> Figure | None:
    """Satellite tracks over the sky, coloured by C/N0; None without satellite directions."""
    if not views.geometry:
        return None
    fig = _figure(7.5, 7)
    ax = cast(PolarAxes, fig.add_subplot(projection="polar"))
    ax.set_theta_zero_location("N")
    ax.set_theta_direction(-1)
    ax.set_rlim(90, 0)
    ax.set_rticks([0, 15, 30, 45, 60, 75])
    ax.set_yticklabels(["0°", "15°", "30°", "45°", "60°", "75°"], fontsize=8, color="0.35")
    ax.set_xticks(np.radians(range(0, 360, 45)), ["N", "NE", "E", "SE", "S", "SW", "W", "NW"])
    pieces = track_segments(views.sky)
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
    sky = views.sky
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
    ax.set_title(f"Skyplot of {views.station}: satellite tracks coloured by C/N0\n"
                 "azimuth clockwise from north, elevation in degrees (centre 90°)", fontsize=11)
    return fig


def heatmap(views: RecordingViews) -> Figure | None:
    """Mean C/N0 per sky cell; None without satellite directions."""
    if not views.geometry:
        return None
    means, counts = views.grid_cn0, views.grid_count
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
    ax.set_title(f"Mean C/N0 per sky cell (10° azimuth × 5° elevation), {views.station}; grey: no samples",
                 fontsize=11)
    return fig


def _mark_events(data: ResultSeries, axes: list[Axes]) -> bool:
    """One shaded span per event, coloured by its type; True when there was one."""
    labelled: set[str] = set()
    for start, end, kind in zip(data.event_starts, data.event_ends, data.event_types):
        if np.isnat(start) or np.isnat(end):
            continue
        colour = EVENT_COLOURS.get(kind, "tab:red")
        for index, ax in enumerate(axes):
            span = ax.axvspan(start, max(end, start + np.timedelta64(1, "s")), color=colour, alpha=0.25, lw=0)
            if index == 0 and kind not in labelled:
                span.set_label(kind.replace("_", " "))
                labelled.add(kind)
    return bool(labelled)


def timeseries(data: ResultSeries) -> Figure | None:
    """Mean C/N0 and tracked satellites per epoch, with the detector's events shaded."""
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
    if _mark_events(data, [top, bottom]):
        top.legend(loc="lower left", fontsize=8)
    top.grid(alpha=0.3)
    _time_axis(bottom)
    count = len(data.event_types)
    title = "no events" if count == 0 else f"{count} event{'s' if count > 1 else ''} shaded"
    top.set_title(f"Mean C/N0 and tracked satellites per epoch, {data.station} ({title})", fontsize=11)
    return fig


def constellations(views: RecordingViews) -> Figure | None:
    """Mean C/N0 per constellation over time."""
    if not views.constellations:
        return None
    fig = _figure(11, 4.6)
    ax = fig.add_subplot()
    for name, series in sorted(views.constellations.items()):
        line = decimate(series.time, series.value)
        ax.plot(line.time, line.value, lw=0.9, label=name)
    ax.set_ylabel("mean C/N0 (dB-Hz)")
    _time_axis(ax)
    ax.set_title(f"Mean C/N0 per constellation over time, {views.station}", fontsize=11)
    ax.legend(fontsize=8, ncols=min(len(views.constellations), 6), loc="lower left")
    return fig


def visibility(views: RecordingViews) -> Figure | None:
    """Predicted and observed satellites per epoch over time, one panel per constellation."""
    shown = [name for name, counts in views.visibility.items()
             if counts.predicted.any() or counts.observed.any()]
    if not shown:
        return None
    fig = _figure(11, 1.2 + 1.5 * len(shown))
    axes = fig.subplots(len(shown), 1, sharex=True, squeeze=False)
    for ax, name in zip(axes[:, 0], shown):
        counts = views.visibility[name]
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
    axes[0, 0].set_title(f"Satellites per epoch, predicted from the navigation data (above {views.min_elevation:g}°) "
                         f"and observed, {views.station}\n{views.visibility_source}; SBAS and IRNSS are never "
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


PLOTS = PLOT_TITLES
# The plots of the recording's views, and the one of the result's series.
VIEW_PLOTS = {"skyplot": skyplot, "heatmap": heatmap, "constellations": constellations, "visibility": visibility}
Images = list[tuple[str, str, bytes]]


def draw_views(views: RecordingViews, progress: Progress | None = None,
               stems: Sequence[str] | None = None) -> dict[str, bytes]:
    """The PNG images of the plots drawn from the recording's views (those of `stems` only, when
    given), by file stem."""
    images = {}
    for stem, draw in VIEW_PLOTS.items():
        if stems is not None and stem not in stems:
            continue
        figure = draw(views)
        if progress is not None:
            progress.step(stem)
        if figure is not None:
            images[stem] = png(figure)
    return images


def draw_series(series: ResultSeries) -> dict[str, bytes]:
    """The PNG image of the plot drawn from the result's series, by file stem."""
    figure = timeseries(series)
    return {} if figure is None else {"timeseries": png(figure)}


def in_order(images: dict[str, bytes]) -> Images:
    """(file stem, title, PNG bytes) of the images, in the order plots are shown."""
    return [(stem, title, images[stem]) for stem, title in PLOTS if stem in images]


def render_all(judged: Assessment | PlotData, views: RecordingViews | None = None) -> Images:
    """Every plot that the assessment has data for, as (file stem, title, PNG bytes).

    `views` are the assessment's `recording_views` when already made; otherwise they are made on a
    second thread (natively, without the interpreter lock) while the plot of the result's series
    is drawn.
    """
    progress = Progress(len(PLOTS), "plotting")
    try:
        if isinstance(judged, PlotData):
            series, views = judged.series, judged.views
        else:
            series = result_series(judged)
        if views is not None:
            images = draw_series(series)
        else:
            with ThreadPoolExecutor(max_workers=1, thread_name_prefix="plot views") as pool:
                pending = pool.submit(views_of, cast("Assessment", judged))
                images = draw_series(series)
                views = pending.result()
        progress.step("timeseries")
        images.update(draw_views(views, progress))
    finally:
        progress.close()
    return in_order(images)


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
