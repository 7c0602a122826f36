"""The data the plots of an analysis draw, as arrays, and their reduction for drawing; NumPy only.

`PlotData` is a compact extract of an assessment: the epoch series and the anomalies from the
result's accessors (`result_series`), and the recording's views (`recording_views`): the skyplot
tracks, the heatmap grid and the per-constellation series that the companion extension makes from
the files by the analysis's own steps, and the per-epoch visibility counts. Nothing is read back
from the JSON export, which for a day of 30 s data runs to some 80 MB. A time series is reduced to
the lowest and the highest value of each time bin (`decimate`), so that a dip stays as deep as it
is; a skyplot track to pieces of about a degree of sky (`track_segments`).
"""

from __future__ import annotations

from dataclasses import dataclass
from datetime import datetime, timedelta
from typing import TYPE_CHECKING, Any

import numpy as np
import numpy.typing as npt

from ..tables import recording

if TYPE_CHECKING:
    import vardoln_cn0

    from ..judge.assessment import Assessment

# Why there are no plots when matplotlib is missing.
NEEDS_MATPLOTLIB = "plots need matplotlib: pip install 'vardoln_cn0[plots]'"
# (file stem, title) in the order plots are shown.
PLOT_TITLES = (("skyplot", "Skyplot"), ("heatmap", "Sky heatmap"), ("timeseries", "C/N0 and satellites over time"),
               ("constellations", "C/N0 per constellation"),
               ("visibility", "Predicted and observed satellites over time"))

Floats = npt.NDArray[np.float64]
Times = npt.NDArray[np.datetime64]

# Without a satellite position the analysis places a sample at azimuth 0, elevation 45.
NO_POSITION = (0.0, 45.0)
# A skyplot track is drawn as segments of about this much sky, each coloured by the mean C/N0 of
# its samples: about 3 pixels at the plot's size, so the colours run as smoothly as the samples.
TRACK_STEP_DEG = 1.0
# Consecutive positions of one satellite further apart than this belong to separate passes.
TRACK_BREAK_DEG = 8.0
# A time series longer than this many bins keeps each bin's lowest and highest value.
TIME_BINS = 1500


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
    """What the plots take from the recording (see `recording_views`)."""

    station: str  # as the analysis names it: the header's marker name, else the file name
    has_prediction: bool  # navigation data given: the analysis predicts satellites
    visibility_source: str  # what the prediction rests on, such as "BRDC Navigation (41 satellites)"
    min_elevation: float  # degrees
    sky: SkyTracks
    grid_cn0: Floats  # 18 x 36 (0 x 36 without samples), mean dB-Hz; NaN: no sample
    grid_count: npt.NDArray[np.int64]  # samples per cell
    constellations: dict[str, Series]  # mean C/N0 per epoch, by name
    visibility: dict[str, VisibilityCounts]  # by name; empty without a prediction

    @property
    def geometry(self) -> bool:
        """Whether the samples carry computed directions (navigation data and a receiver position)."""
        return self.has_prediction and bool(self.sky.positioned.any())


@dataclass(frozen=True)
class ResultSeries:
    """What the plots take from the result's accessors (see `result_series`)."""

    station: str
    mean_cn0: Series  # per epoch with samples
    satellites: Series  # distinct satellites per epoch with samples
    event_starts: Times  # the detector's events: first and last epoch, and type
    event_ends: Times
    event_types: list[str]


@dataclass(frozen=True)
class PlotData:
    """What the plots of one assessment draw (see `plot_data`)."""

    series: ResultSeries
    views: RecordingViews


def station_name(marker_name: str | None) -> str:
    """The station as the plots' titles name it."""
    return marker_name or "unnamed station"


def result_series(judged: Assessment) -> ResultSeries:
    """The epoch series of the assessment's result, from its accessors, and its events."""
    result = judged.result
    epochs = timestamp_array(result.get_timestamps())
    return ResultSeries(
        station=station_name(result.station_name),
        mean_cn0=Series(epochs, np.asarray(result.get_timeseries_cn0(), dtype=np.float64)),
        satellites=Series(epochs, np.asarray(result.get_satellite_count_series(), dtype=np.float64)),
        event_starts=timestamp_array([event.start for event in judged.events]),
        event_ends=timestamp_array([event.end for event in judged.events]),
        event_types=[event.type for event in judged.events],
    )


def _times(buffer: Any) -> Times:
    times: Times = np.frombuffer(buffer, dtype=np.int64).view("datetime64[ns]")
    return times


def _floats(buffer: Any) -> Floats:
    values: Floats = np.frombuffer(buffer, dtype=np.float64)
    return values


def recording_views(obs: str | recording.Loaded, nav_paths: list[str], settings: dict[str, Any],
                    result: vardoln_cn0.AnalysisResult | None = None) -> RecordingViews:
    """What an analysis of the recording with these settings (`Assessment.settings`) shows of the
    sky and of the constellations, equal, value for value, to its accessors and export: the skyplot
    tracks, the heatmap grid, the per-constellation series, the station's name and the
    prediction's source; and the per-epoch visibility counts behind its visibility means.

    `obs` is a recording loaded already (`nav_paths` then unused) or an observation file read for
    this alone. With the analysis's own `result` (of that recording, with these settings) its
    views are taken from it; without one they are made natively by the analysis's own steps. The
    visibility counts use the recording's satellite geometry. Runs without the interpreter lock."""
    from .. import _native

    native_obs = obs.native if isinstance(obs, recording.Loaded) else obs
    native_navs = None if isinstance(obs, recording.Loaded) else list(nav_paths) or None
    views = _native.plot_views(native_obs, native_navs, list(settings["systems"]), float(settings["min_elevation"]),
                               float(settings["min_cn0"]), float(settings["max_cn0"]), result)
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
    source = views["source"]
    return RecordingViews(station_name(views["marker_name"]), source is not None, source or "None",
                          float(settings["min_elevation"]), tracks, means, counts.reshape(rows, 36), constellations,
                          visibility)


def views_of(judged: Assessment) -> RecordingViews:
    """The `recording_views` of an assessment: from its loaded recording and its analysis's result
    when it has them (nothing is read or analysed again), else from its files and settings."""
    module_result = getattr(judged.result, "module_result", judged.result)
    if judged.recording is not None:
        return recording_views(judged.recording, [], judged.settings, module_result)
    return recording_views(judged.obs_path, judged.nav_paths, judged.settings)


def plot_data(judged: Assessment) -> PlotData:
    """The extract the plots of an assessment draw: `result_series` of its result and
    `recording_views` of its files and settings; no JSON export is made or read."""
    return PlotData(result_series(judged), views_of(judged))


# ---------------------------------------------------------------------------------------------------
# Reduction for drawing

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
