"""PNG charts of the per-signal tables (needs matplotlib: pip install 'vardoln_cn0[plots]'):
C/N0 against elevation per signal, and completeness per signal."""

from __future__ import annotations

import io
import math

import pandas as pd

try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.figure import Figure
except ImportError as error:  # pragma: no cover - depends on the installation
    raise ImportError("plots need matplotlib: pip install 'vardoln_cn0[plots]'") from error

DPI = 90
# A bin with fewer samples than this draws no point: its percentiles say little.
MIN_BIN_SAMPLES = 20


def _png(figure: "Figure") -> bytes:
    buffer = io.BytesIO()
    figure.savefig(buffer, format="png", dpi=DPI, bbox_inches="tight")
    plt.close(figure)
    return buffer.getvalue()


def cn0_elevation(profile: pd.DataFrame) -> bytes | None:
    """One panel per constellation: the median C/N0 of each S code against elevation, with the
    10th to 90th percentile band."""
    strength = profile[profile.code.str.startswith("S") & (profile.samples >= MIN_BIN_SAMPLES)]
    systems = list(dict.fromkeys(strength.system))
    if not systems:
        return None
    columns = min(3, len(systems))
    rows = math.ceil(len(systems) / columns)
    figure, axes = plt.subplots(rows, columns, figsize=(5.2 * columns, 3.8 * rows), squeeze=False, sharey=True)
    for ax, system in zip(axes.flat, systems):
        for code, curve in strength[strength.system == system].groupby("code", sort=True):
            centre = (curve.elevation_low + curve.elevation_high) / 2
            line, = ax.plot(centre, curve.p50, marker=".", label=str(code))
            ax.fill_between(centre, curve.p10, curve.p90, color=line.get_color(), alpha=0.15, linewidth=0)
        ax.set_title(str(system), fontsize=11)
        ax.set_xlim(0, 90)
        ax.set_xlabel("elevation (degrees)")
        ax.grid(alpha=0.3)
        ax.legend(fontsize=8, loc="lower right")
    for ax in axes[:, 0]:
        ax.set_ylabel("C/N0 (dB-Hz)")
    for ax in list(axes.flat)[len(systems):]:
        ax.set_visible(False)
    station = profile.attrs.get("marker_name") or "unnamed station"
    figure.suptitle(f"C/N0 against elevation per signal, {station}: median and 10-90 % band "
                    f"({profile.attrs.get('bin_deg', 5):g} degree bins)", fontsize=12)
    figure.tight_layout()
    return _png(figure)


def completeness_chart(complete: pd.DataFrame) -> bytes | None:
    """Percent of the expected observations present, per constellation and S code."""
    rows = complete[complete.predictable & complete.code.str.startswith("S") & (complete.expected.fillna(0) > 0)]
    if rows.empty:
        return None
    labels = [f"{system} {code}" for system, code in zip(rows.system, rows.code)]
    figure, ax = plt.subplots(figsize=(8, 0.32 * len(labels) + 1.4))
    colours = ["tab:green" if p >= 95 else "tab:orange" if p >= 80 else "tab:red" for p in rows.percent]
    ax.barh(range(len(labels)), rows.percent, color=colours)
    ax.set_yticks(range(len(labels)), labels, fontsize=8)
    ax.invert_yaxis()
    ax.set_xlim(0, 100)
    ax.set_xlabel("observations present, % of expected above the mask")
    ax.grid(axis="x", alpha=0.3)
    for index, (percent, expected) in enumerate(zip(rows.percent, rows.expected)):
        ax.text(min(percent, 100) + 0.5, index, f"{percent:.1f}% of {expected}", va="center", fontsize=7)
    station = complete.attrs.get("marker_name") or "unnamed station"
    ax.set_title(f"Completeness per signal, {station}, mask {complete.attrs.get('min_elevation', 10):g} degrees, "
                 f"{complete.attrs.get('missing_epochs', 0)} epochs missing", fontsize=11)
    figure.tight_layout()
    return _png(figure)


def render(profile: pd.DataFrame, complete: pd.DataFrame) -> list[tuple[str, bytes]]:
    """(file stem, PNG bytes) of each chart that has data."""
    charts = [("cn0-elevation", cn0_elevation(profile)), ("completeness", completeness_chart(complete))]
    return [(stem, png) for stem, png in charts if png is not None]
