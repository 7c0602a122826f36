"""PNG plots of an analysis result (needs matplotlib: pip install 'vardoln_cn0[plots]')."""

from __future__ import annotations

import json
import math
import os
import sys
from datetime import datetime, timedelta

try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib import dates as mdates
except ImportError as error:  # pragma: no cover - depends on the installation
    raise ImportError("plots need matplotlib: pip install matplotlib") from error

CMAP = "viridis"


def _time(text: str) -> datetime | None:
    """A timestamp text as a datetime; seconds of 60 and more roll over. None if not a date."""
    try:
        day, clock = text.rstrip("Z").split("T")
        year, month, mday = (int(part) for part in day.split("-"))
        hour, minute, second = clock.split(":")
        return datetime(year, month, mday) + timedelta(hours=int(hour), minutes=int(minute), seconds=float(second))
    except (ValueError, OverflowError):
        return None


def _series(points: list, value) -> tuple[list, list]:
    """(times, values) of points whose timestamp is a real date; None values become NaN."""
    times, values = [], []
    for point, stamp in points:
        when = _time(stamp)
        if when is not None:
            times.append(when)
            number = value(point)
            values.append(float("nan") if number is None else number)
    return times, values


class Progress:
    """A one-line counter on stderr, shown only when stderr is a terminal."""

    def __init__(self, total: int, label: str):
        self.total, self.label, self.done = total, label, 0
        self.active = sys.stderr.isatty() and total > 0

    def step(self, count: int = 1) -> None:
        self.done += count
        if self.active:
            sys.stderr.write(f"\r{self.label}: {self.done}/{self.total}")
            sys.stderr.flush()

    def close(self) -> None:
        if self.active:
            sys.stderr.write("\n")


def skyplot(data: dict, path: str) -> None:
    traces = data["skyplot"]["traces"]
    fig = plt.figure(figsize=(7, 7))
    ax = fig.add_subplot(projection="polar")
    ax.set_theta_zero_location("N")
    ax.set_theta_direction(-1)
    ax.set_rlim(90, 0)
    ax.set_rticks([0, 15, 30, 45, 60, 75])
    ax.set_yticklabels(["0°", "15°", "30°", "45°", "60°", "75°"])
    progress = Progress(len(traces), "skyplot traces")
    scatter = None
    values = [p["cn0"] for t in traces for p in t["points"] if p["cn0"] is not None]
    vmin, vmax = (min(values), max(values)) if values else (0, 60)
    for trace in traces:
        points = trace["points"]
        azimuth = [math.radians(p["azimuth"] or 0.0) for p in points]
        elevation = [p["elevation"] or 0.0 for p in points]
        cn0 = [p["cn0"] if p["cn0"] is not None else float("nan") for p in points]
        scatter = ax.scatter(azimuth, elevation, c=cn0, s=6, cmap=CMAP, vmin=vmin, vmax=vmax)
        if points:
            ax.annotate(trace["satellite"], (azimuth[-1], elevation[-1]), fontsize=7)
        progress.step()
    progress.close()
    ax.set_title("Skyplot: satellite tracks coloured by C/N0\n(azimuth clockwise from north, elevation in degrees)")
    if scatter is not None:
        fig.colorbar(scatter, ax=ax, shrink=0.7, pad=0.1, label="C/N0 (dB-Hz)")
    fig.savefig(path, dpi=110, bbox_inches="tight")
    plt.close(fig)


def heatmap(data: dict, path: str) -> None:
    grid = data["heatmap"]
    fig, ax = plt.subplots(figsize=(10, 5))
    if grid["cn0_matrix"]:
        matrix = [[value if count else float("nan") for value, count in zip(row, counts)]
                  for row, counts in zip(grid["cn0_matrix"], grid["count_matrix"])]
        image = ax.imshow(matrix, origin="lower", aspect="auto", cmap=CMAP, extent=[0, 360, 0, 90])
        fig.colorbar(image, ax=ax, label="mean C/N0 (dB-Hz)")
    else:
        ax.text(0.5, 0.5, "no samples", ha="center", va="center", transform=ax.transAxes)
    ax.set_xlabel("azimuth (degrees)")
    ax.set_ylabel("elevation (degrees)")
    ax.set_title("Mean C/N0 per sky cell (10° azimuth x 5° elevation)")
    fig.savefig(path, dpi=110, bbox_inches="tight")
    plt.close(fig)


def timeseries(data: dict, path: str) -> None:
    series = data["timeseries"]
    rows = list(zip(zip(series["mean_cn0"], series["satellite_count"]), series["timestamps"]))
    times, cn0 = _series(rows, lambda row: row[0])
    _, counts = _series(rows, lambda row: row[1])
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(11, 6), sharex=True)
    top.plot(times, cn0, lw=1, color="tab:blue")
    top.set_ylabel("mean C/N0 (dB-Hz)")
    top.set_title("Mean C/N0 and satellites per epoch (red: anomaly epochs)")
    bottom.step(times, counts, where="mid", lw=1, color="tab:green")
    bottom.set_ylabel("satellites")
    bottom.set_xlabel("time (UTC as written in the file)")
    for anomaly in data["anomalies"]:
        when = _time(anomaly["timestamp"])
        if when is None:
            continue
        for ax in (top, bottom):
            ax.axvline(when, color="tab:red", alpha=0.4, lw=1)
    bottom.xaxis.set_major_formatter(mdates.DateFormatter("%H:%M"))
    fig.savefig(path, dpi=110, bbox_inches="tight")
    plt.close(fig)


def constellations(data: dict, path: str) -> None:
    fig, ax = plt.subplots(figsize=(11, 5))
    for name, points in sorted(data["timeseries"]["constellation_timeseries"].items()):
        times, cn0 = _series([(p, p["timestamp"]) for p in points], lambda p: p["cn0"])
        ax.plot(times, cn0, lw=1, label=name)
    ax.set_ylabel("mean C/N0 (dB-Hz)")
    ax.set_xlabel("time (UTC as written in the file)")
    ax.set_title("C/N0 per constellation over time")
    ax.xaxis.set_major_formatter(mdates.DateFormatter("%H:%M"))
    if data["timeseries"]["constellation_timeseries"]:
        ax.legend()
    fig.savefig(path, dpi=110, bbox_inches="tight")
    plt.close(fig)


def visibility(data: dict, path: str) -> bool:
    summary = data.get("visibility")
    if not summary or not summary["by_system"]:
        return False
    names = sorted(summary["by_system"])
    predicted = [summary["by_system"][n]["predicted_satellites"] for n in names]
    observed = [summary["by_system"][n]["observed_satellites"] for n in names]
    fig, ax = plt.subplots(figsize=(8, 5))
    positions = range(len(names))
    ax.bar([p - 0.2 for p in positions], predicted, width=0.4, label="predicted (mean per epoch, rounded up)")
    ax.bar([p + 0.2 for p in positions], observed, width=0.4, label="observed (distinct satellites)")
    ax.set_xticks(list(positions), names)
    ax.set_ylabel("satellites")
    ax.set_title(f"Predicted versus observed satellites\n{summary['prediction_source']}, "
                 f"confirmation {summary['confirmation_rate']:.1f}%")
    ax.legend()
    fig.savefig(path, dpi=110, bbox_inches="tight")
    plt.close(fig)
    return True


def write_all(result, directory: str) -> list[str]:
    """Writes every plot that the result has data for; returns the paths written."""
    os.makedirs(directory, exist_ok=True)
    data = json.loads(result.to_json())
    written = []
    for name, draw in (("skyplot", skyplot), ("heatmap", heatmap), ("timeseries", timeseries),
                       ("constellations", constellations), ("visibility", visibility)):
        path = os.path.join(directory, f"{name}.png")
        if draw(data, path) is not False:
            written.append(path)
    return written
