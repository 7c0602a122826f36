"""A self-contained HTML report: summary tables, verdicts and embedded plots, no network."""

from __future__ import annotations

import base64
import html
import os
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

from . import summary

if TYPE_CHECKING:
    from vardoln_cn0 import AnalysisResult

STYLE = """
body { font-family: system-ui, -apple-system, "Segoe UI", sans-serif; margin: 2em auto; max-width: 1100px;
       padding: 0 1em; color: #222; line-height: 1.4; }
h1 { font-size: 1.6em; margin-bottom: 0.2em; } h2 { font-size: 1.2em; margin-top: 1.8em;
     border-bottom: 1px solid #ccc; } code { font-size: 0.95em; }
table { border-collapse: collapse; margin: 0.5em 0; } td, th { padding: 0.25em 0.7em; border: 1px solid #ddd; }
th { background: #f3f3f3; text-align: left; } td.num { text-align: right; font-variant-numeric: tabular-nums; }
.verdict { display: inline-block; padding: 0.35em 0.9em; margin: 0 0.6em 0.4em 0; border-radius: 4px; }
.ok { background: #d9f2d9; } .alarm { background: #f8d0d0; font-weight: bold; }
.grade { font-size: 2.4em; font-weight: bold; margin-right: 0.3em; vertical-align: middle; }
figure { margin: 1.2em 0; } figcaption { font-weight: bold; margin-bottom: 0.3em; }
img { max-width: 100%; display: block; } .note { color: #666; }
"""


def _cell(value: object, numeric: bool) -> str:
    css = ' class="num"' if numeric else ""
    return f"<td{css}>{html.escape(str(value))}</td>"


def table(header: Sequence[str], rows: Sequence[Sequence[object]], text_columns: int = 1) -> str:
    """An HTML table; columns from `text_columns` on are right-aligned numbers."""
    head = "".join(f"<th>{html.escape(str(cell))}</th>" for cell in header)
    body = "".join("<tr>" + "".join(_cell(cell, index >= text_columns) for index, cell in enumerate(row)) + "</tr>"
                   for row in rows)
    return f"<table><thead><tr>{head}</tr></thead><tbody>{body}</tbody></table>"


def _verdict(name: str, detected: bool) -> str:
    css = "alarm" if detected else "ok"
    return f'<span class="verdict {css}">{html.escape(name)}: {summary.verdict_text(detected)}</span>'


def _recording_table(result: AnalysisResult, data: dict[str, Any]) -> str:
    info = data["file_info"]
    return table(["item", "value"], [
        ["Station", result.station_name or "-"], ["Receiver", info["receiver_type"] or "-"],
        ["Antenna", info["antenna_type"] or "-"], ["Start", info["start_time"] or "-"],
        ["End", info["end_time"] or "-"], ["Duration (h)", f"{info['duration_hours']:.2f}"],
        ["Interval (s)", f"{info['interval']:g}"], ["Epochs", result.total_epochs],
        ["Satellites", result.total_satellites], ["C/N0 samples", result.total_observations],
        ["Mean C/N0 (dB-Hz)", f"{result.mean_cn0:.1f}" if result.total_observations else "-"]], text_columns=2)


def _anomalies(result: AnalysisResult) -> list[str]:
    anomalies = result.get_anomalies()
    if not anomalies:
        return ["<p>No multi-satellite C/N0 drops.</p>"]
    counts = ", ".join(f"{sum(1 for a in anomalies if a['severity'] == s)} {s}" for s in summary.SEVERITIES)
    rows = [[a["start_time"], a["severity"], a["anomaly_type"], a["description"], a["affected_satellites"]]
            for a in anomalies]
    return [f"<p>{html.escape(counts)}</p>",
            table(["time", "severity", "type", "description", "satellites"], rows, text_columns=5)]


def _visibility(result: AnalysisResult) -> list[str]:
    if not result.has_visibility_prediction:
        return ["<p class='note'>No navigation file given: no visibility prediction.</p>"]
    parts = [f"<p>{html.escape(result.visibility_prediction_source)}: per epoch "
             f"{result.visibility_mean_predicted:.1f} predicted, {result.visibility_mean_observed:.1f} observed, "
             f"{result.visibility_mean_missing:.1f} missing, {result.visibility_mean_unexpected:.1f} unexpected; "
             f"confirmation {result.visibility_confirmation_rate:.1f}%</p>"]
    rows = summary.visibility_rows(result)
    if rows:
        parts.append(table(summary.VISIBILITY_HEADER, rows, text_columns=1))
    parts += [f"<p>{html.escape(text)}</p>" for text in result.get_visibility_anomaly_descriptions()]
    return parts


def html_report(result: AnalysisResult, data: dict[str, Any], obs_path: str, nav_path: str | None = None,
                images: list[tuple[str, str, bytes]] | None = None, plot_note: str | None = None) -> str:
    """The report page. `data` is the parsed JSON export of `result`; `images` are (name, title,
    PNG bytes) embedded as data: URIs; `plot_note` says why there are none."""
    quality = data["quality_score"]
    notebook = result.quality_score
    station = result.station_name or os.path.basename(obs_path)
    sources = f"Recording <code>{html.escape(obs_path)}</code>"
    if nav_path:
        sources += f", navigation <code>{html.escape(nav_path)}</code>"
    parts = [
        "<!DOCTYPE html>",
        '<html lang="en"><head><meta charset="utf-8">',
        '<meta name="viewport" content="width=device-width, initial-scale=1">',
        f"<title>C/N0 report: {html.escape(station)}</title>",
        f"<style>{STYLE}</style></head><body>",
        f"<h1>GNSS signal-quality report: {html.escape(station)}</h1>",
        f"<p>{sources}</p>",
        f'<p><span class="grade">{html.escape(quality["grade"])}</span>{html.escape(quality["interpretation"])}'
        f"<br>Rating {html.escape(notebook.rating)} (score {notebook.overall:.1f}; C/N0 {notebook.cn0_quality:.0f}, "
        f"availability {notebook.availability:.0f}, continuity {notebook.continuity:.0f}, "
        f"stability {notebook.stability:.0f}, diversity {notebook.diversity:.0f})</p>",
        '<h2>Verdicts</h2><p class="verdicts">',
        _verdict("Jamming", result.jamming_detected),
        _verdict("Interference", result.interference_detected),
        _verdict("Spoofing", result.spoofing_detected),
        "</p><h2>Recording</h2>",
        _recording_table(result, data),
        "<h2>Constellations</h2>",
        table([*summary.CONSTELLATION_HEADER[:3], "mean C/N0 (dB-Hz)", "min", "max", "std", "cycle slips",
               "data gaps"], summary.constellation_rows(result)),
        "<h2>Anomalies</h2>",
        *_anomalies(result),
        "<h2>Visibility</h2>",
        *_visibility(result),
        "<h2>Plots</h2>",
    ]
    if images:
        for name, title, png in images:
            encoded = base64.b64encode(png).decode("ascii")
            parts.append(f'<figure id="{html.escape(name)}"><figcaption>{html.escape(title)}</figcaption>'
                         f'<img alt="{html.escape(title)}" src="data:image/png;base64,{encoded}"></figure>')
    else:
        parts.append(f"<p class='note'>{html.escape(plot_note or 'No plots.')}</p>")
    parts.append("</body></html>")
    return "\n".join(parts) + "\n"
