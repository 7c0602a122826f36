"""The network dashboard: a static site drawn from the station history, opened straight from disk.

`write_dashboard` takes one `StationView` per station (the history command builds them from its
store) and writes `index.html`, one table row per station with each metric's latest value coloured
by how far it lies from the station's own 45-day band, and `stations/<NAME>.html`, one inline SVG
time series per metric with its band, flagged days, change points, equipment changes and the days
of jamming or interference. Everything is inline: no server, no network, no external files.

Redrawing is incremental: `dashboard.json` beside the pages keeps each station's fingerprint, and a
station page is drawn again only when its fingerprint changed or the page is not as it was left.
Output depends on the input alone (no clock, sorted stations, fixed number formats), so the same
views give byte-identical files.
"""

from __future__ import annotations

import contextlib
import datetime
import hashlib
import html
import json
import math
import os
import re
import urllib.parse
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any

import numpy as np
import numpy.typing as npt

from .._version import __version__


@dataclass(frozen=True)
class ChangeMark:
    """A lasting shift of a series' level, found by the history's trend rules."""

    day: datetime.date  # first day on the new level
    confidence: float  # 0..1
    mean_before: float  # in the series' unit
    mean_after: float
    causes: tuple[str, ...]  # e.g. ("receiver TRIMBLE NETR9 -> SEPT POLARX5",); may be empty


@dataclass(frozen=True)
class Series:
    """One daily metric of one station, with the band each day is judged against."""

    metric: str  # key, e.g. "completeness_GPS", "cn0_GPS_S1C", "grade"; the network page's column
    label: str  # shown, e.g. "GPS completeness (%)"
    unit: str  # "%", "m", "dB-Hz", "obs/slip", "events", "grade"
    days: tuple[datetime.date, ...]  # rising strictly
    values: tuple[float, ...]  # NaN: no data that day
    band_mean: tuple[float, ...]  # the 45-day band before each day; NaN where none
    band_sigma: tuple[float, ...]  # NaN where none
    flagged: tuple[bool, ...]  # value beyond 2 sigma of its band
    change_points: tuple[ChangeMark, ...]
    higher_is_better: bool | None  # colouring direction; None: any deviation is bad


@dataclass(frozen=True)
class StationView:
    """Everything the dashboard shows of one station."""

    station: str  # four characters, e.g. "NYA1"; untrusted text
    identifier: str | None  # nine-character name when known, e.g. "NYA100NOR"
    marker_name: str
    last_day: datetime.date | None
    series: tuple[Series, ...]
    equipment_changes: tuple[tuple[datetime.date, str], ...]  # (day, "receiver X -> Y")
    event_days: tuple[tuple[datetime.date, str], ...]  # (day, "jamming" | "interference" | ...)
    reports: tuple[tuple[datetime.date, str], ...]  # (day, HTML report path, absolute or relative to the output dir)
    fingerprint: str  # changes whenever the station's data change


@dataclass(frozen=True)
class DashboardResult:
    pages_written: int  # station pages (re)drawn this time
    pages_kept: int  # station pages left as they were
    index: str  # path of the network page


# Raised whenever the drawing of a station page changes, so that pages of an earlier layout are
# not kept merely because their stations' data did not change.
_LAYOUT = 1
MANIFEST = "dashboard.json"
STATION_FOLDER = "stations"

# Geometry of one series' plot, in SVG user units (pixels at 100 %).
SVG_WIDTH = 960
SVG_HEIGHT = 210
PLOT_LEFT = 70
PLOT_RIGHT = SVG_WIDTH - 36  # room for half the last date label
PLOT_TOP = 14
PLOT_BOTTOM = SVG_HEIGHT - 30
_EVENT_STRIP = 7  # height of the strip along the plot's top where jamming and interference days show

# Values beyond this are drawn at it: keeps every difference of two drawn values finite.
_DRAW_LIMIT = 1e300

# C0 controls other than tab/newline and lone surrogates: not valid in an HTML document or UTF-8.
_UNPRINTABLE = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\x7f\ud800-\udfff]")
# Station names used as file names as they are; all others get a cleaned name and a digest.
_PLAIN_NAME = re.compile(r"[A-Z0-9]{1,32}\Z")
_RESERVED_NAMES = {"CON", "PRN", "AUX", "NUL"} | {f"{port}{n}" for port in ("COM", "LPT") for n in range(10)}


# ---------------------------------------------------------------------------------------------------
# Text

def _esc(text: str) -> str:
    return html.escape(_UNPRINTABLE.sub("\ufffd", text), quote=True)


def format_value(value: float) -> str:
    """A metric's value as the pages show it: whole numbers without decimals, others with 3 or 4
    significant digits; "" for no value."""
    if not math.isfinite(value):
        return ""
    magnitude = abs(value)
    if magnitude >= 1e9:
        text = f"{value:.3e}"
    elif value == math.floor(value):
        text = f"{value:.0f}"
    elif magnitude >= 1000:
        text = f"{value:.0f}"
    elif magnitude >= 100:
        text = f"{value:.1f}"
    elif magnitude >= 1:
        text = f"{value:.2f}"
    else:
        text = f"{value:.3f}"
    return text[1:] if text.startswith("-") and float(text) == 0 else text


def _fraction(value: float) -> str:
    return f"{value:.2f}" if math.isfinite(value) else "?"


def page_name(station: str) -> str:
    """The file name (without .html) of a station's page: the name itself when it is upper-case
    letters and digits (so no two differ by case alone), else a cleaned name and a digest of the
    whole name, which never collides with a plain one."""
    if _PLAIN_NAME.match(station) and station not in _RESERVED_NAMES:
        return station
    cleaned = re.sub(r"[^A-Za-z0-9]+", "_", station)[:24].strip("_") or "station"
    digest = hashlib.sha256(station.encode("utf-8", "surrogatepass")).hexdigest()[:10]
    return f"{cleaned}-{digest}"


def _href(path: str, from_dir: Path, out_dir: Path, up: str) -> str:
    """A link to a file given absolute or relative to the output dir, relative to the page in
    from_dir (`up` leads from there to the output dir). Quoted, so that no path becomes a scheme,
    a query or a fragment."""
    if os.path.isabs(path):
        try:
            target = os.path.relpath(path, from_dir)
        except ValueError:  # another drive: only an absolute link reaches it
            return Path(path).as_uri()
    else:
        target = up + path
    return urllib.parse.quote(target.replace(os.sep, "/"), safe="/")


# ---------------------------------------------------------------------------------------------------
# Deviation from the band

def _deviation(series: Series, index: int) -> float | None:
    """(value - band mean) / band sigma of one day, None where the day has no band."""
    value = series.values[index]
    mean = series.band_mean[index] if index < len(series.band_mean) else math.nan
    sigma = series.band_sigma[index] if index < len(series.band_sigma) else math.nan
    if not (math.isfinite(value) and math.isfinite(mean) and math.isfinite(sigma)) or sigma <= 0:
        return None
    z = (value - mean) / sigma
    return z if math.isfinite(z) else None


def _deviation_class(z: float | None, higher_is_better: bool | None) -> str:
    """The CSS class of a cell: good (g1, g2), normal (n) or bad (b1..b3) in steps of one sigma, na
    without a band. Without a direction every deviation counts as bad."""
    if z is None:
        return "na"
    badness = abs(z) if higher_is_better is None else (-z if higher_is_better else z)
    if badness >= 3:
        return "b3"
    if badness >= 2:
        return "b2"
    if badness >= 1:
        return "b1"
    if badness <= -2:
        return "g2"
    if badness <= -1:
        return "g1"
    return "n"


def _latest(series: Series) -> int | None:
    """Index of the series' last day with a value."""
    for index in range(min(len(series.days), len(series.values)) - 1, -1, -1):
        if math.isfinite(series.values[index]):
            return index
    return None


# ---------------------------------------------------------------------------------------------------
# Plots

def _y_ticks(low: float, high: float) -> list[tuple[float, str]]:
    """About four round values between low and high, labelled with the decimals their step needs."""
    raw = high * 0.25 - low * 0.25
    if not (raw > 1e-300 and math.isfinite(raw)):
        return []
    power = 10.0 ** math.floor(math.log10(raw))
    mantissa = next((m for m in (1.0, 2.0, 2.5, 5.0) if raw <= m * power * (1 + 1e-9)), 10.0)
    step = mantissa * power
    if step <= 0 or not math.isfinite(step):
        return []
    decimals = max(0, -math.floor(math.log10(step) + 1e-9) + (1 if mantissa == 2.5 else 0))
    first = math.ceil(low / step - 1e-9)
    ticks: list[tuple[float, str]] = []
    for k in range(first, first + 12):
        value = k * step
        if value > high + step * 1e-9:
            break
        if abs(value) >= 1e7 or decimals > 8:
            label = f"{value:.3g}"
        else:
            label = f"{value:.{decimals}f}"
        if label.startswith("-") and float(label) == 0:
            label = label[1:]
        ticks.append((value, label))
    return ticks


def _date_ticks(first: int, last: int) -> list[tuple[int, str]]:
    """At most eight labelled days (as ordinals) between first and last: every 1, 2, 7 or 14 days
    over short spans, else the first days of every 1, 2, 3, 6 months or of round numbers of years."""
    span = last - first + 1
    for step in (1, 2, 7, 14):
        if span <= 8 * step:
            return [(day, datetime.date.fromordinal(day).isoformat()) for day in range(first, last + 1, step)]
    start, end = datetime.date.fromordinal(first), datetime.date.fromordinal(last)
    first_month = start.year * 12 + start.month - 1 + (1 if start.day > 1 else 0)
    last_month = end.year * 12 + end.month - 1
    steps = [1, 2, 3, 6] + [12 * years for years in (1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 10000)]
    step = next((s for s in steps if (last_month - first_month) // s + 1 <= 8), steps[-1])
    ticks: list[tuple[int, str]] = []
    for month in range(-(-first_month // step) * step, last_month + 1, step):
        year = month // 12
        if not 1 <= year <= 9999:
            continue
        day = datetime.date(year, month % 12 + 1, 1)
        ticks.append((day.toordinal(), f"{year:04d}" if step >= 12 else f"{year:04d}-{month % 12 + 1:02d}"))
    return ticks


def _padded(values: Sequence[float], count: int) -> npt.NDArray[np.float64]:
    """The first `count` values as an array, NaN where the sequence is shorter."""
    out = np.full(count, math.nan)
    given = np.asarray(values[:count], dtype=np.float64)
    out[:given.size] = given
    return out


def _finite_clipped(values: Sequence[float], count: int) -> npt.NDArray[np.float64]:
    """The first `count` values within the drawable range, NaN where not finite (or missing)."""
    out = _padded(values, count)
    out[~np.isfinite(out)] = math.nan
    return np.clip(out, -_DRAW_LIMIT, _DRAW_LIMIT)


def _clip(value: float) -> float:
    """The value within the drawable range; NaN stays NaN."""
    return value if abs(value) <= _DRAW_LIMIT or value != value else math.copysign(_DRAW_LIMIT, value)


class _Frame:
    """The station's shared time axis: day ordinals to x. Each day owns a slot of equal width and
    is drawn at the slot's middle, so a single day sits in the middle of the plot."""

    def __init__(self, first: int, last: int) -> None:
        self.first, self.last = first, last
        self.slot = (PLOT_RIGHT - PLOT_LEFT) / (last - first + 1)

    def x(self, ordinal: int) -> float:
        return PLOT_LEFT + (ordinal - self.first + 0.5) * self.slot

    def boundary(self, ordinal: int) -> float:
        """The line between the day before and this day, where a change of level is drawn."""
        return PLOT_LEFT + (ordinal - self.first) * self.slot

    def holds(self, ordinal: int) -> bool:
        return self.first <= ordinal <= self.last


# The value lines and the band are drawn in data units, whole numbers that keep the markup short:
# x counts days from the frame's first, y runs 0..Y_UNITS over the plot's height (about 0.2 px a
# unit); one transform per plot maps them to pixels.
Y_UNITS = 1000


def _pair(dx: int, dy: int) -> str:
    return f"{dx}{dy}" if dy < 0 else f"{dx} {dy}"


def _path(xs: Sequence[int], ys: Sequence[int | None]) -> tuple[str, str]:
    """A path through the points in relative steps, broken where y is None or a day is missing, and
    a path of the points that have no neighbour (zero-length segments, shown as dots by a wide
    round line cap)."""
    parts: list[str] = []
    dots: list[str] = []
    start: int | None = None
    runs: list[tuple[int, int]] = []  # [start, end) of each run of consecutive days with a value
    for index, y in enumerate(ys):
        if y is None:
            if start is not None:
                runs.append((start, index))
                start = None
        elif start is None:
            start = index
        elif xs[index] - xs[index - 1] != 1:
            runs.append((start, index))
            start = index
    if start is not None:
        runs.append((start, len(ys)))
    for first, end in runs:
        if end - first == 1:
            dots.append(f"M{xs[first]},{ys[first]}h0")
            continue
        steps = []
        for index in range(first + 1, end):
            step = ys[index] - ys[index - 1]  # type: ignore[operator]
            steps.append(f"{xs[index] - xs[index - 1]}{step}" if step < 0 else f"{xs[index] - xs[index - 1]} {step}")
        parts.append(f"M{xs[first]},{ys[first]}l" + " ".join(steps))
    return "".join(parts), "".join(dots)


def _band_path(xs: Sequence[int], upper: Sequence[int | None], lower: Sequence[int | None]) -> str:
    """The band's area: one closed outline per run of consecutive days that have a band, along the
    upper edge and back along the lower one."""
    parts: list[str] = []
    run: list[tuple[int, int, int]] = []  # x, upper, lower

    def close() -> None:
        if len(run) > 1:
            steps = [_pair(b[0] - a[0], b[1] - a[1]) for a, b in zip(run, run[1:])]
            steps.append(_pair(0, run[-1][2] - run[-1][1]))
            steps += [_pair(a[0] - b[0], a[2] - b[2]) for a, b in zip(reversed(run[:-1]), reversed(run[1:]))]
            parts.append(f"M{run[0][0]},{run[0][1]}l" + " ".join(steps) + "z")
        run.clear()

    for x, top, bottom in zip(xs, upper, lower):
        if top is None or bottom is None:
            close()
            continue
        if run and x - run[-1][0] != 1:
            close()
        run.append((x, top, bottom))
    close()
    return "".join(parts)


def _event_class(kind: str) -> str:
    lowered = kind.lower()
    return "ej" if "jam" in lowered else "ei" if "interf" in lowered else "eo"


def _change_title(mark: ChangeMark, unit: str) -> str:
    causes = "; ".join(mark.causes) if mark.causes else "no known cause"
    return (f"{mark.day.isoformat()}: change, confidence {_fraction(mark.confidence)}, mean "
            f"{format_value(mark.mean_before) or '?'} -> {format_value(mark.mean_after) or '?'} {unit}; {causes}")


def _series_svg(series: Series, frame: _Frame, view: StationView) -> str:
    """The inline SVG of one series: band, mean, values, flagged days, change points, equipment
    changes and event days, with labelled axes."""
    count = min(len(series.days), len(series.values))
    xs = [day.toordinal() - frame.first for day in series.days[:count]]
    # Whole arrays at once: a year of days is a few hundred points per plot and hundreds of plots
    # per network. Not finite values become NaN, the others are kept within the drawable range.
    values = _finite_clipped(series.values, count)
    means = _finite_clipped(series.band_mean, count)
    sigmas = _padded(series.band_sigma, count)
    sigmas[~(np.isfinite(sigmas) & (sigmas >= 0))] = math.nan  # NaN, infinities and negative spreads draw no band
    with np.errstate(invalid="ignore", over="ignore"):
        uppers = np.clip(means + 2 * sigmas, -_DRAW_LIMIT, _DRAW_LIMIT)
        lowers = np.clip(means - 2 * sigmas, -_DRAW_LIMIT, _DRAW_LIMIT)

    drawn_values = np.concatenate([values, uppers, lowers])
    drawn_values = drawn_values[np.isfinite(drawn_values)]
    if not drawn_values.size:
        drawn_values = means[np.isfinite(means)]
    drawn = drawn_values.size > 0
    low, high = (float(drawn_values.min()), float(drawn_values.max())) if drawn else (0.0, 1.0)
    pad = (high - low) * 0.06 if high > low else max(abs(high) * 0.05, 1e-9 if high else 1.0)
    low, high = _clip(low - pad), _clip(high + pad)
    # Halves keep every difference finite, whatever the drawn values.
    half_span = high * 0.5 - low * 0.5

    def units(array: npt.NDArray[np.float64]) -> list[int | None]:
        with np.errstate(invalid="ignore", over="ignore"):
            scaled = np.rint((array * 0.5 - low * 0.5) / half_span * Y_UNITS)  # half to even, as round()
        return [int(value) if value == value else None for value in scaled.tolist()]

    height = PLOT_BOTTOM - PLOT_TOP
    out = [f'<svg class="plot" viewBox="0 0 {SVG_WIDTH} {SVG_HEIGHT}" width="{SVG_WIDTH}" height="{SVG_HEIGHT}" '
           f'role="img" aria-label="{_esc(series.label)}">']
    # Grid and axes first, so that the data lie on top.
    for value, label in _y_ticks(low, high):
        y = f"{PLOT_BOTTOM - (value * 0.5 - low * 0.5) / half_span * height:.1f}"
        out.append(f'<path class="gr" d="M{PLOT_LEFT},{y}H{PLOT_RIGHT}"/>'
                   f'<text class="yl" x="{PLOT_LEFT - 6}" y="{y}">{_esc(label)}</text>')
    for ordinal, label in _date_ticks(frame.first, frame.last):
        x = f"{frame.x(ordinal):.1f}"
        out.append(f'<path class="tk" d="M{x},{PLOT_BOTTOM}v5"/>'
                   f'<text class="xl" x="{x}" y="{PLOT_BOTTOM + 18}">{label}</text>')
    out.append(f'<path class="ax" d="M{PLOT_LEFT},{PLOT_TOP}V{PLOT_BOTTOM}H{PLOT_RIGHT}"/>')
    if not drawn:
        out.append(f'<text class="nd" x="{(PLOT_LEFT + PLOT_RIGHT) // 2}" y="{(PLOT_TOP + PLOT_BOTTOM) // 2}">'
                   'no data</text>')

    value_units = units(values)
    band = _band_path(xs, units(uppers), units(lowers))
    mean_line, mean_dots = _path(xs, units(means))
    line, dots = _path(xs, value_units)
    out.append(f'<g class="data" transform="translate({frame.x(frame.first):.3f} {PLOT_BOTTOM}) '
               f'scale({frame.slot:.6g} {-height / Y_UNITS:.6g})">')
    if band:
        out.append(f'<path class="band" d="{band}"><title>45-day band: mean +/- 2 sigma</title></path>')
    if mean_line or mean_dots:
        out.append(f'<path class="mean" d="{mean_line}{mean_dots}"/>')
    if line:
        out.append(f'<path class="val" d="{line}"/>')
    if dots:
        out.append(f'<path class="dot" d="{dots}"/>')
    out.append("</g>")

    top, bottom = PLOT_TOP, PLOT_BOTTOM
    for day, kind in view.event_days:
        ordinal = day.toordinal()
        if frame.holds(ordinal):
            width = max(frame.slot, 2.0)
            out.append(f'<rect class="{_event_class(kind)}" x="{frame.x(ordinal) - width / 2:.1f}" y="{top}" '
                       f'width="{width:.1f}" height="{_EVENT_STRIP}"><title>{day.isoformat()}: {_esc(kind)}</title>'
                       '</rect>')
    for day, text in view.equipment_changes:
        ordinal = day.toordinal()
        if frame.holds(ordinal):
            x = f"{frame.boundary(ordinal):.1f}"
            out.append(f'<g class="eq"><title>{day.isoformat()}: {_esc(text)}</title>'
                       f'<path d="M{x},{top}V{bottom}"/><path class="hit" d="M{x},{top}V{bottom}"/></g>')
    for mark in series.change_points:
        ordinal = mark.day.toordinal()
        if frame.holds(ordinal):
            x = f"{frame.boundary(ordinal):.1f}"
            out.append(f'<g class="cp"><title>{_esc(_change_title(mark, series.unit))}</title>'
                       f'<path d="M{x},{top}V{bottom}"/><path class="hit" d="M{x},{top}V{bottom}"/></g>')
    for index in range(min(count, len(series.flagged))):
        y_units = value_units[index]
        if series.flagged[index] and y_units is not None:
            out.append(f'<circle class="flag" cx="{frame.x(frame.first + xs[index]):.1f}" '
                       f'cy="{PLOT_BOTTOM - y_units * height / Y_UNITS:.1f}" r="3.5"><title>'
                       f'{series.days[index].isoformat()}: {format_value(series.values[index])} {_esc(series.unit)}, '
                       'outside the band</title></circle>')
    out.append("</svg>")
    return "".join(out)


# ---------------------------------------------------------------------------------------------------
# Pages

_STYLE = """
body { font-family: system-ui, -apple-system, "Segoe UI", sans-serif; margin: 1.5em auto; max-width: 1200px;
       padding: 0 1em; color: #222; line-height: 1.4; }
h1 { font-size: 1.5em; margin-bottom: 0.2em; } h1 small { color: #666; font-weight: normal; }
h2 { font-size: 1.15em; margin-top: 1.6em; border-bottom: 1px solid #ccc; }
table { border-collapse: collapse; margin: 0.5em 0; } td, th { padding: 0.2em 0.6em; border: 1px solid #ddd; }
th { background: #f3f3f3; text-align: left; vertical-align: bottom; } td.num { text-align: right;
     font-variant-numeric: tabular-nums; }
.note, footer { color: #666; } footer { margin-top: 2em; font-size: 0.9em; }
.na { background: #fff; } .n { background: #eef3ee; } .g1 { background: #d5ecd5; } .g2 { background: #b4dfb4; }
.b1 { background: #fbe9c8; } .b2 { background: #f6c29a; } .b3 { background: #ef8f84; }
.fl { color: #b00; font-weight: bold; margin-left: 0.2em; } .old { color: #888; font-style: italic; }
"""

_INDEX_STYLE = """
body { max-width: none; } #net td { white-space: nowrap; }
#net th { cursor: pointer; user-select: none; } #net th:focus { outline: 2px solid #68a; }
#net th[aria-sort=ascending]::after { content: " \\25B2"; } #net th[aria-sort=descending]::after { content: " \\25BC"; }
#net th small { display: block; font-weight: normal; color: #666; }
"""

_STATION_STYLE = """
svg.plot { display: block; max-width: 100%; height: auto; font-size: 12px; }
.gr { stroke: #e4e4e4; } .ax, .tk { stroke: #777; fill: none; }
.yl { text-anchor: end; dominant-baseline: middle; fill: #444; } .xl { text-anchor: middle; fill: #444; }
.nd { text-anchor: middle; fill: #999; font-size: 16px; }
.band { fill: #4a7fc1; fill-opacity: 0.16; stroke: none; }
.data path { vector-effect: non-scaling-stroke; }
.mean { fill: none; stroke: #4a7fc1; stroke-opacity: 0.55; }
.val { fill: none; stroke: #222; stroke-width: 1.3; stroke-linejoin: round; }
.dot { fill: none; stroke: #222; stroke-width: 4; stroke-linecap: round; }
.flag { fill: #d62728; stroke: #fff; stroke-width: 0.8; }
.cp path { stroke: #d62728; stroke-width: 1.6; } .eq path { stroke: #7b3fa0; stroke-width: 1.6; stroke-dasharray: 6 3; }
.cp path.hit, .eq path.hit { stroke: transparent; stroke-width: 8; stroke-dasharray: none; }
.ej { fill: #d62728; } .ei { fill: #ff9f1c; } .eo { fill: #999; }
.key span { margin-right: 1.2em; white-space: nowrap; }
.key i { display: inline-block; width: 1.4em; height: 0.7em; margin-right: 0.3em; vertical-align: middle; }
nav a { margin-right: 0.8em; white-space: nowrap; } .reports a { margin-right: 0.6em; white-space: nowrap; }
"""

# Sorts the network table by the clicked column (again: the other way); numbers by their value
# (data-v), other cells by their text, empty cells last either way. "#sort=N" or "#sort=-N" in
# the address sorts by column N on opening. data-sort-ready on <html> says the script ran.
_SORT_SCRIPT = """
(function () {
  var table = document.getElementById("net"), body = table.tBodies[0];
  var heads = table.tHead.rows[0].cells;
  function sortBy(column, descending) {
    var numeric = heads[column].getAttribute("data-type") === "num";
    var rows = Array.prototype.map.call(body.rows, function (row, index) {
      var cell = row.cells[column], key = null;
      if (cell) {
        if (numeric) { var v = cell.getAttribute("data-v"); key = v === null ? null : parseFloat(v); }
        else { key = cell.textContent.trim(); if (key === "") key = null; }
      }
      return {row: row, key: key, index: index};
    });
    rows.sort(function (a, b) {
      if (a.key === null || b.key === null) {
        return a.key === b.key ? a.index - b.index : (a.key === null ? 1 : -1);
      }
      var order = numeric ? a.key - b.key : (a.key < b.key ? -1 : a.key > b.key ? 1 : 0);
      return (descending ? -order : order) || a.index - b.index;
    });
    rows.forEach(function (item) { body.appendChild(item.row); });
    for (var i = 0; i < heads.length; i++) heads[i].removeAttribute("aria-sort");
    heads[column].setAttribute("aria-sort", descending ? "descending" : "ascending");
  }
  Array.prototype.forEach.call(heads, function (head, column) {
    function activate() { sortBy(column, head.getAttribute("aria-sort") === "ascending"); }
    head.addEventListener("click", activate);
    head.addEventListener("keydown", function (e) {
      if (e.key === "Enter" || e.key === " ") { e.preventDefault(); activate(); }
    });
  });
  var wanted = /^#sort=(-?)(\\d+)$/.exec(location.hash);
  if (wanted && +wanted[2] < heads.length) sortBy(+wanted[2], wanted[1] === "-");
  document.documentElement.setAttribute("data-sort-ready", "1");
})();
"""


def _page(title: str, style: str, body: list[str]) -> bytes:
    text = ("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            f"<title>{_esc(title)}</title>\n<style>{_STYLE}{style}</style>\n</head>\n<body>\n"
            + "\n".join(body) + f"\n<footer>vardoln-cn0 {_esc(__version__)}</footer>\n</body>\n</html>\n")
    return text.encode("utf-8", "replace")


def _table(header: list[str], rows: list[str]) -> str:
    head = "".join(f"<th>{_esc(cell)}</th>" for cell in header)
    return f"<table><thead><tr>{head}</tr></thead><tbody>\n" + "\n".join(rows) + "\n</tbody></table>"


def _frame(view: StationView) -> _Frame | None:
    ordinals = [day.toordinal() for series in view.series for day in series.days[:len(series.values)]]
    if not ordinals:
        return None
    return _Frame(min(ordinals), max(ordinals))


def station_page(view: StationView, title: str, out_dir: Path) -> bytes:
    """The HTML of one station's page (it lives in out_dir/stations)."""
    page_dir = out_dir / STATION_FOLDER
    reports = {day: _href(path, page_dir, out_dir, "../") for day, path in view.reports}

    def day_cell(day: datetime.date) -> str:
        link = reports.get(day)
        text = day.isoformat()
        return f'<td><a href="{link}">{text}</a></td>' if link else f"<td>{text}</td>"

    heading = _esc(view.station) + (f" <small>{_esc(view.identifier)}</small>" if view.identifier else "")
    facts = [f"marker {_esc(view.marker_name)}" if view.marker_name else "",
             f"latest day {view.last_day.isoformat()}" if view.last_day else "no days yet",
             f"{len(view.series)} series"]
    body = [f'<p><a href="../index.html">&larr; {_esc(title)}</a></p>', f"<h1>{heading}</h1>",
            f'<p class="note">{", ".join(fact for fact in facts if fact)}</p>',
            '<p class="key"><span><i style="background:#4a7fc1;opacity:.3"></i>45-day band, mean &plusmn; 2&sigma;'
            '</span>'
            '<span><i style="background:#d62728;border-radius:50%;width:.7em"></i>flagged day</span>'
            '<span><i style="background:#d62728;height:2px"></i>change point</span>'
            '<span><i style="border-top:2px dashed #7b3fa0;height:0"></i>equipment change</span>'
            '<span><i style="background:#d62728"></i>jamming</span>'
            '<span><i style="background:#ff9f1c"></i>interference</span>'
            '<span><i style="background:#999"></i>other event</span></p>']
    if view.series:
        body.append("<nav>" + "".join(f'<a href="#s{number}">{_esc(series.label)}</a>'
                                      for number, series in enumerate(view.series, 1)) + "</nav>")
    frame = _frame(view)
    for number, series in enumerate(view.series, 1):
        unit = f" ({_esc(series.unit)})" if series.unit and f"({series.unit})" not in series.label else ""
        body.append(f'<section id="s{number}"><h2>{_esc(series.label)}{unit}</h2>')
        body.append(_series_svg(series, frame, view) if frame else '<p class="note">No days.</p>')
        body.append("</section>")

    changes = sorted(((mark.day, series.label, mark, series.unit) for series in view.series
                      for mark in series.change_points), key=lambda item: (item[0], item[1]))
    body += _listing("Change points", ["day", "series", "confidence", "mean before", "mean after", "unit", "causes"], [
        f"<tr>{day_cell(day)}<td>{_esc(label)}</td><td class=\"num\">{_fraction(mark.confidence)}</td>"
        f"<td class=\"num\">{format_value(mark.mean_before)}</td><td class=\"num\">{format_value(mark.mean_after)}"
        f"</td><td>{_esc(unit)}</td><td>{_esc('; '.join(mark.causes))}</td></tr>"
        for day, label, mark, unit in changes])
    body += _listing("Equipment changes", ["day", "change"], [f"<tr>{day_cell(day)}<td>{_esc(text)}</td></tr>"
                                                             for day, text in sorted(view.equipment_changes)])
    body += _listing("Days with events", ["day", "event"], [f"<tr>{day_cell(day)}<td>{_esc(kind)}</td></tr>"
                                                           for day, kind in sorted(view.event_days)])
    if reports:
        body.append("<h2>Daily reports</h2>")
        body.append('<p class="reports">' + " ".join(f'<a href="{link}">{day.isoformat()}</a>'
                                                     for day, link in sorted(reports.items())) + "</p>")
    return _page(f"{view.station} - {title}", _STATION_STYLE, body)


def _listing(title: str, headers: list[str], rows: list[str]) -> list[str]:
    """A station page's section of a table, or of "None." without rows."""
    return [f"<h2>{title}</h2>", _table(headers, rows) if rows else '<p class="note">None.</p>']


def _columns(stations: Sequence[StationView],
             column_key: Callable[[str], Any] | None = None) -> list[tuple[str, str, str]]:
    """The network table's metric columns: every metric of any station, by `column_key` (default:
    the key itself); the label and unit of the first station (by name) that has it."""
    found: dict[str, tuple[str, str]] = {}
    for view in stations:
        for series in view.series:
            found.setdefault(series.metric, (series.label, series.unit))
    return [(metric, *found[metric]) for metric in sorted(found, key=column_key)]


def _metric_cell(series: Series | None, last_day: datetime.date | None) -> str:
    if series is None:
        return "<td></td>"
    index = _latest(series)
    if index is None:
        return "<td></td>"
    value = series.values[index]
    z = _deviation(series, index)
    css = _deviation_class(z, series.higher_is_better)
    day = series.days[index]
    # A value from before the station's latest day is shown, but greyed: the day itself had none.
    stale = day != last_day if last_day is not None else index != min(len(series.days), len(series.values)) - 1
    tip = f"{day.isoformat()}: {format_value(value)} {series.unit}"
    tip += f", {z:+.1f} sigma from its band" if z is not None else ", no band"
    flagged = index < len(series.flagged) and series.flagged[index]
    mark = '<span class="fl">&#9873;</span>' if flagged else ""
    text = f'<span class="old">{format_value(value)}</span>' if stale else format_value(value)
    return f'<td class="num {css}" data-v="{float(value)!r}" title="{_esc(tip)}">{text}{mark}</td>'


def network_page(stations: Sequence[StationView], names: Sequence[str], title: str, out_dir: Path,
                 column_key: Callable[[str], Any] | None = None) -> bytes:
    """The HTML of the network page: one row per station (in the order given, with page names)."""
    columns = _columns(stations, column_key)
    head = ['<th data-type="text" tabindex="0">Station</th>', '<th data-type="text" tabindex="0">Identifier</th>',
            '<th data-type="text" tabindex="0">Latest day</th>']
    head += [f'<th data-type="num" tabindex="0" title="{_esc(metric)}">{_esc(label)}<small>{_esc(unit)}</small></th>'
             for metric, label, unit in columns]
    rows = []
    flagged_stations = 0
    for view, name in zip(stations, names):
        by_metric: dict[str, Series] = {}
        for series in view.series:
            by_metric.setdefault(series.metric, series)
        flagged_stations += any((i := _latest(s)) is not None and i < len(s.flagged) and s.flagged[i]
                                for s in by_metric.values())
        link = urllib.parse.quote(f"{STATION_FOLDER}/{name}.html")
        tip = f' title="{_esc(view.marker_name)}"' if view.marker_name else ""
        cells = [f'<td><a href="{link}"{tip}>{_esc(view.station)}</a></td>', f"<td>{_esc(view.identifier or '')}</td>"]
        if view.last_day is None:
            cells.append("<td></td>")
        else:
            report = dict(view.reports).get(view.last_day)
            day = view.last_day.isoformat()
            report_link = _href(report, out_dir, out_dir, "") if report else ""
            cells.append(f'<td><a href="{report_link}">{day}</a></td>' if report_link else f"<td>{day}</td>")
        cells += [_metric_cell(by_metric.get(metric), view.last_day) for metric, _, _ in columns]
        rows.append("<tr>" + "".join(cells) + "</tr>")
    body = [f"<h1>{_esc(title)}</h1>",
            f'<p class="note">{len(stations)} stations, {flagged_stations} with a latest value outside its band '
            '(&#9873;). Each cell is the metric\'s latest value, coloured by its distance from the station\'s '
            'own 45-day band: <span class="g2">&nbsp;better by 2&sigma;&nbsp;</span> '
            '<span class="g1">&nbsp;1&sigma;&nbsp;</span> <span class="n">&nbsp;within 1&sigma;&nbsp;</span> '
            '<span class="b1">&nbsp;worse by 1&sigma;&nbsp;</span> <span class="b2">&nbsp;2&sigma;&nbsp;</span> '
            '<span class="b3">&nbsp;3&sigma;&nbsp;</span>; white: no band yet; grey italics: not from the '
            'station\'s latest day. Click a header to sort.</p>',
            '<table id="net"><thead><tr>' + "".join(head) + "</tr></thead><tbody>\n" + "\n".join(rows)
            + "\n</tbody></table>", f"<script>{_SORT_SCRIPT}</script>"]
    return _page(title, _INDEX_STYLE, body)


# ---------------------------------------------------------------------------------------------------
# Files

def _write_atomically(path: Path, data: bytes) -> None:
    """Readers see the old file or the whole new one, never part of it. The temporary file is made
    with os.open rather than mkstemp so that it gets the permissions the umask gives any new file."""
    for attempt in range(100):
        temporary = path.with_name(f".{path.name}.{os.getpid()}.{attempt}.tmp")
        try:
            handle = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
            break
        except FileExistsError:
            continue
    else:
        raise FileExistsError(f"{path}: no free name for a temporary file")
    try:
        with os.fdopen(handle, "wb") as out:
            out.write(data)
        os.replace(temporary, path)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(temporary)
        raise


def _holds(path: Path, data: bytes) -> bool:
    try:
        return path.stat().st_size == len(data) and path.read_bytes() == data
    except OSError:
        return False


def _read_manifest(path: Path, title: str) -> dict[str, tuple[str, str, int]]:
    """The pages an earlier run left, by page name: (station, fingerprint, size in bytes). Empty
    when there is no manifest, it cannot be read, or an earlier layout, version or title drew them."""
    try:
        data = json.loads(path.read_text(encoding="utf-8"))
    except (OSError, ValueError):
        return {}
    if not isinstance(data, dict) or data.get("layout") != _LAYOUT or data.get("version") != __version__ \
            or data.get("title") != title or not isinstance(data.get("pages"), dict):
        return {}
    pages: dict[str, tuple[str, str, int]] = {}
    for name, entry in data["pages"].items():
        if isinstance(entry, dict) and isinstance(entry.get("station"), str) \
                and isinstance(entry.get("fingerprint"), str) and type(entry.get("bytes")) is int:
            pages[name] = (entry["station"], entry["fingerprint"], entry["bytes"])
    return pages


def _page_names(stations: Sequence[StationView]) -> list[str]:
    """One distinct file name per station, in the order given; a repeated station name gets -2, -3 ..."""
    names: list[str] = []
    taken: set[str] = set()
    for view in stations:
        base = name = page_name(view.station)
        number = 1
        while name.upper() in taken:
            number += 1
            name = f"{base}-{number}"
        taken.add(name.upper())
        names.append(name)
    return names


def write_dashboard(stations: Sequence[StationView], out_dir: str | os.PathLike[str], *,
                    title: str = "Station network", column_key: Callable[[str], Any] | None = None
                    ) -> DashboardResult:
    """Writes the network page out_dir/index.html and a page per station in out_dir/stations/.
    `column_key` orders the network page's metric columns (default: by metric key).

    Station pages whose fingerprint and file are as the last run left them are kept; the others
    are drawn, pages of stations no longer given are removed, and index.html and dashboard.json
    are always written. Raises OSError when the directory cannot be written.
    """
    root = Path(os.path.abspath(out_dir))
    page_dir = root / STATION_FOLDER
    page_dir.mkdir(parents=True, exist_ok=True)
    ordered = sorted(stations, key=lambda v: (v.station, v.identifier or "", v.fingerprint))
    names = _page_names(ordered)
    earlier = _read_manifest(root / MANIFEST, title)

    written = kept = 0
    manifest: dict[str, dict[str, object]] = {}
    for view, name in zip(ordered, names):
        path = page_dir / f"{name}.html"
        previous = earlier.get(name)
        try:
            size = path.stat().st_size
        except OSError:
            size = -1
        if previous is not None and previous == (view.station, view.fingerprint, size):
            kept += 1
        else:
            data = station_page(view, title, root)
            # A page drawn the same as before is left alone, so that its time stamp tells when it changed.
            if not _holds(path, data):
                _write_atomically(path, data)
            size = len(data)
            written += 1
        manifest[name] = {"station": view.station, "fingerprint": view.fingerprint, "bytes": size}

    # Pages of stations no longer present, and temporary files a killed run left.
    current = {f"{name}.html" for name in names}
    for entry in os.scandir(page_dir):
        stale = entry.name.endswith(".html") and entry.name not in current
        leftover = entry.name.startswith(".") and entry.name.endswith(".tmp")
        if (stale or leftover) and entry.is_file(follow_symlinks=False):
            with contextlib.suppress(OSError):
                os.unlink(entry.path)

    index = root / "index.html"
    _write_atomically(index, network_page(ordered, names, title, root, column_key))
    _write_atomically(root / MANIFEST, (json.dumps({"layout": _LAYOUT, "version": __version__, "title": title,
                                                    "pages": manifest}, indent=1, sort_keys=True) + "\n").encode())
    return DashboardResult(pages_written=written, pages_kept=kept, index=str(index))
