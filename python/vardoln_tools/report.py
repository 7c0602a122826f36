"""A self-contained HTML report: summary tables, verdicts and embedded plots, no network."""

from __future__ import annotations

import base64
import html
import json
import os
import tempfile

from . import summary

STYLE = """
body { font-family: system-ui, sans-serif; margin: 2em auto; max-width: 1100px; color: #222; }
h1 { font-size: 1.6em; } h2 { font-size: 1.2em; margin-top: 1.6em; border-bottom: 1px solid #ccc; }
table { border-collapse: collapse; margin: 0.5em 0; } td, th { padding: 0.25em 0.7em; border: 1px solid #ddd; }
th { background: #f3f3f3; text-align: left; } td.num { text-align: right; font-variant-numeric: tabular-nums; }
.verdict { display: inline-block; padding: 0.3em 0.8em; margin-right: 0.6em; border-radius: 4px; }
.ok { background: #d9f2d9; } .alarm { background: #f8d0d0; font-weight: bold; }
.grade { font-size: 2.2em; font-weight: bold; } img { max-width: 100%; display: block; margin: 1em 0; }
"""


def _table(header: list[str], rows: list[list]) -> str:
    head = "".join(f"<th>{html.escape(str(cell))}</th>" for cell in header)
    body = []
    for row in rows:
        cells = []
        for index, cell in enumerate(row):
            css = ' class="num"' if index else ""
            cells.append(f"<td{css}>{html.escape(str(cell))}</td>")
        body.append("<tr>" + "".join(cells) + "</tr>")
    return f"<table><tr>{head}</tr>{''.join(body)}</table>"


def _verdict(name: str, detected: bool) -> str:
    css, word = ("alarm", "detected") if detected else ("ok", "not detected")
    return f'<span class="verdict {css}">{html.escape(name)}: {word}</span>'


def _images(result) -> list[tuple[str, str]]:
    try:
        from . import plots
    except ImportError:
        return []
    with tempfile.TemporaryDirectory() as directory:
        images = []
        for path in plots.write_all(result, directory):
            with open(path, "rb") as png:
                encoded = base64.b64encode(png.read()).decode("ascii")
            images.append((os.path.splitext(os.path.basename(path))[0], encoded))
        return images


def html_report(result, obs_path: str, nav_path: str | None = None) -> str:
    data = json.loads(result.to_json())
    info = data["file_info"]
    quality = data["quality_score"]
    notebook = result.quality_score
    parts = [
        "<!DOCTYPE html><html lang='en'><head><meta charset='utf-8'>",
        f"<title>C/N0 report: {html.escape(info['marker_name'] or os.path.basename(obs_path))}</title>",
        f"<style>{STYLE}</style></head><body>",
        f"<h1>GNSS signal-quality report: {html.escape(info['marker_name'] or '-')}</h1>",
        f"<p>Recording <code>{html.escape(obs_path)}</code>"
        + (f", navigation <code>{html.escape(nav_path)}</code>" if nav_path else "") + "</p>",
        f"<p><span class='grade'>{html.escape(quality['grade'])}</span> "
        f"{html.escape(quality['interpretation'])}<br>Rating {html.escape(notebook.rating)} "
        f"(score {notebook.overall:.1f})</p>",
        "<h2>Verdicts</h2><p>",
        _verdict("Jamming", result.jamming_detected),
        _verdict("Interference", result.interference_detected),
        _verdict("Spoofing", result.spoofing_detected),
        "</p><h2>Recording</h2>",
        _table(["item", "value"], [
            ["Receiver", info["receiver_type"] or "-"], ["Antenna", info["antenna_type"] or "-"],
            ["Start", info["start_time"] or "-"], ["End", info["end_time"] or "-"],
            ["Duration (h)", f"{info['duration_hours']:.2f}"], ["Epochs", result.total_epochs],
            ["Satellites", result.total_satellites], ["C/N0 samples", result.total_observations],
            ["Mean C/N0 (dB-Hz)", f"{result.mean_cn0:.1f}"]]),
        "<h2>Constellations</h2>",
        _table(["system", "seen/expected", "obs", "mean", "min", "max", "std", "slips", "gaps"],
               summary.constellation_rows(result)),
        "<h2>Anomalies</h2>",
    ]
    anomalies = result.get_anomalies()
    if anomalies:
        parts.append(_table(["time", "severity", "type", "description", "satellites"],
                            [[a["start_time"], a["severity"], a["anomaly_type"], a["description"],
                              a["affected_satellites"]] for a in anomalies]))
    else:
        parts.append("<p>No multi-satellite C/N0 drops.</p>")
    if result.has_visibility_prediction:
        parts.append("<h2>Visibility</h2>")
        parts.append(f"<p>{html.escape(result.visibility_prediction_source or 'no receiver position')}: "
                     f"predicted {result.visibility_mean_predicted:.1f}, observed "
                     f"{result.visibility_mean_observed:.1f} satellites per epoch, confirmation "
                     f"{result.visibility_confirmation_rate:.1f}%</p>")
        debug = result.visibility_debug()
        rows = [[name, entry["predicted"], entry["observed"], entry["confirmation_rate"],
                 entry["missing_sats"] or "-", entry["unexpected_sats"] or "-"]
                for name, entry in sorted(debug.items()) if name != "_overall"]
        if rows:
            parts.append(_table(["system", "predicted", "observed", "rate", "missing", "unexpected"], rows))
        for description in result.get_visibility_anomaly_descriptions():
            parts.append(f"<p>{html.escape(description)}</p>")
    images = _images(result)
    if images:
        parts.append("<h2>Plots</h2>")
        for name, encoded in images:
            parts.append(f"<img alt='{html.escape(name)}' src='data:image/png;base64,{encoded}'>")
    parts.append("</body></html>")
    return "\n".join(parts)
