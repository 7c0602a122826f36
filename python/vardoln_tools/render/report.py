"""A self-contained HTML report: summary tables, verdicts and embedded plots, no network."""

from __future__ import annotations

import base64
import html
import os
from typing import TYPE_CHECKING, Any

from .._version import __version__
from ..judge import selection
from ..judge.assessment import DETECTED, NOT_DETECTED, created_now, grade_rules
from ..judge.settings import setting_lines
from . import summary

if TYPE_CHECKING:
    import vardoln_cn0

    from ..judge.assessment import Assessment
    from ..judge.quality_control import QcReport

STYLE = """
body { font-family: system-ui, -apple-system, "Segoe UI", sans-serif; margin: 2em auto; max-width: 1100px;
       padding: 0 1em; color: #222; line-height: 1.4; }
h1 { font-size: 1.6em; margin-bottom: 0.2em; } h2 { font-size: 1.2em; margin-top: 1.8em;
     border-bottom: 1px solid #ccc; } code { font-size: 0.95em; }
table { border-collapse: collapse; margin: 0.5em 0; } td, th { padding: 0.25em 0.7em; border: 1px solid #ddd; }
th { background: #f3f3f3; text-align: left; } td.num { text-align: right; font-variant-numeric: tabular-nums; }
.verdict { display: inline-block; padding: 0.35em 0.9em; margin: 0 0.6em 0.4em 0; border-radius: 4px; }
.ok { background: #d9f2d9; } .alarm { background: #f8d0d0; font-weight: bold; } .na { background: #e8e8e8; }
.grade { font-size: 2.4em; font-weight: bold; margin-right: 0.3em; vertical-align: middle; }
figure { margin: 1.2em 0; } figcaption { font-weight: bold; margin-bottom: 0.3em; }
img { max-width: 100%; display: block; } .note { color: #666; }
"""


def _cell(value: object, numeric: bool) -> str:
    css = ' class="num"' if numeric else ""
    return f"<td{css}>{html.escape(str(value))}</td>"


def table(header: list[str], rows: list[list[Any]], text_columns: int = 1) -> str:
    """An HTML table; columns from `text_columns` on are right-aligned numbers."""
    head = "".join(f"<th>{html.escape(str(cell))}</th>" for cell in header)
    body = "".join("<tr>" + "".join(_cell(cell, index >= text_columns) for index, cell in enumerate(row)) + "</tr>"
                   for row in rows)
    return f"<table><thead><tr>{head}</tr></thead><tbody>{body}</tbody></table>"


def _verdict(name: str, text: str) -> str:
    css = "alarm" if text.startswith(DETECTED) else "ok" if text == NOT_DETECTED else "na"
    return f'<span class="verdict {css}">{html.escape(name)}: {html.escape(text)}</span>'


def _recording_table(result: vardoln_cn0.AnalysisResult) -> str:
    return table(["item", "value"], [
        ["Station", result.station_name or "-"], ["Receiver", result.receiver_type or "-"],
        ["Antenna", result.antenna_type or "-"], ["Start", result.start_time or "-"],
        ["End", result.end_time or "-"], ["Duration (h)", f"{result.duration_hours:.2f}"],
        ["Interval (s)", f"{result.interval:g}"], ["Epochs", result.total_epochs],
        ["Satellites", result.total_satellites], ["C/N0 samples", result.total_observations],
        ["Mean C/N0 (dB-Hz)", f"{result.mean_cn0:.1f}" if result.total_observations else "-"]], text_columns=2)


# The analysis's own drop anomalies, named for what they are: no verdict rests on them.
ANOMALY_APPENDIX = "epochs where two or more satellites fall more than 10 dB below their mean over all their signals"


def _anomalies(result: vardoln_cn0.AnalysisResult) -> list[str]:
    anomalies = result.get_anomalies()
    intro = ("<p class='note'>The analysis's drop anomalies (its JSON export's <code>anomalies</code>), set by "
             "--threshold-low/high/critical. They compare every sample with its satellite's mean over all its "
             "signals, so a weak signal or a fade near the horizon counts as a drop; the verdicts come from the "
             "event detector instead.</p>")
    if not anomalies:
        return [intro, "<p>None.</p>"]
    counts = ", ".join(f"{sum(1 for a in anomalies if a['severity'] == s)} {s}" for s in summary.SEVERITIES)
    rows = [[a["start_time"], a["severity"], a["anomaly_type"], a["description"], a["affected_satellites"]]
            for a in anomalies]
    return [intro, f"<p>{html.escape(counts)}</p>",
            table(["time", "severity", "type", "description", "satellites"], rows, text_columns=5)]


def _events(judged: Assessment) -> list[str]:
    intro = ("<p class='note'>Episodes of the event detector: epochs where several satellites of one frequency band "
             "fall together below the C/N0 they are expected to show (" + html.escape(
                 f"{judged.settings['event_satellites']} satellites, {judged.settings['event_drop']:g} dB")
             + "), or rise together above it with their spread collapsing (spoofing).</p>")
    if not judged.events:
        return [intro, "<p>No event.</p>"]
    rows = [[e.type.replace("_", " "), e.start, e.end, "+".join(e.bands), ", ".join(e.systems), len(e.satellites),
             "-" if e.drop_db != e.drop_db else f"{e.drop_db:.1f}", f"{e.largest_db:.1f}", f"{100 * e.share:.0f}"]
            for e in judged.events]
    return [intro, table(["type", "start", "end", "bands", "constellations", "satellites", "median dB",
                          "largest dB", "share of band (%)"], rows, text_columns=5)]


def _coverage(judged: Assessment) -> list[str]:
    coverage = judged.coverage
    if coverage is None:
        return ["<p class='note'>No navigation file given: no coverage, no visibility check.</p>"]
    records = "none" if coverage.nav_span is None else f"{coverage.nav_span[0]} .. {coverage.nav_span[1]}"
    return [f"<p>{html.escape(coverage.percent_text())} of the observed satellite-epochs (satellites with a C/N0 "
            "sample, counted per epoch) have an ephemeris in the navigation data. Navigation records "
            f"{html.escape(records)}; recording {html.escape(coverage.obs_span[0])} .. "
            f"{html.escape(coverage.obs_span[1])}.</p>",
            table(["system", "satellite-epochs", "coverage", "satellites without ephemeris"],
                  summary.coverage_rows(coverage), text_columns=1)]


def _visibility(judged: Assessment) -> list[str]:
    result = judged.result
    if not result.has_visibility_prediction:
        return ["<p class='note'>No navigation file given: no visibility prediction.</p>"]
    parts = [f"<p>{html.escape(result.visibility_prediction_source or 'No receiver position in the header')}: "
             f"per epoch {result.visibility_mean_predicted:.1f} predicted, {result.visibility_mean_observed:.1f} "
             f"observed, {result.visibility_mean_missing:.1f} missing, {result.visibility_mean_unexpected:.1f} "
             f"unexpected; confirmation {result.visibility_confirmation_rate:.1f}%</p>"]
    unexpected = summary.unexpected_text(judged)
    if unexpected is not None:
        parts.append(f"<p>Unexpected satellites: {html.escape(unexpected)}.</p>")
    parts.append(table(["list", "satellites"], [
        ["frequently missing", summary.satellite_list(result.get_frequently_missing_satellites())],
        ["frequently unexpected", summary.satellite_list(result.get_frequently_unexpected_satellites())]]))
    parts += [f"<p>{html.escape(text)}</p>" for text in result.get_visibility_anomaly_descriptions()]
    return parts


def grade_explanation(judged: Assessment) -> list[str]:
    """How the health grade is made, and every criterion of this recording with its status."""
    rules = "; ".join(f"{grade}: {rule}" for grade, rule in grade_rules())
    general = ("The grade comes from named criteria, each judged pass, warn or fail against its threshold (the "
               "guide lists them); a criterion that cannot be computed is not assessed and counts for nothing. "
               f"The first rule that matches gives the letter: {rules}.")
    return [f"<p>{html.escape(general)}</p>",
            table(summary.CRITERIA_HEADER, summary.criteria_rows(judged.quality), text_columns=4)]


def _figure(name: str, title: str, png: bytes) -> str:
    encoded = base64.b64encode(png).decode("ascii")
    return (f'<figure id="{html.escape(name)}"><figcaption>{html.escape(title)}</figcaption>'
            f'<img alt="{html.escape(title)}" src="data:image/png;base64,{encoded}"></figure>')


def qc_section(qc: QcReport, images: list[tuple[str, str, bytes]]) -> list[str]:
    """The station quality control of the recording: per constellation and signal pair the
    multipath, phase slips and observations per slip beside completeness and mean C/N0, the pairs
    the file cannot give, and the multipath plots."""
    frame = qc.to_frame()
    # <NA> and NaN as None, so that every absent figure shows as "-"
    records = frame.astype(object).where(frame.notna(), None).to_dict("records")

    def shown(value: Any, form: str = "") -> str:
        return "-" if value is None else format(value, form)

    rows = [[row["system"], row["pair"], shown(row["codes_used"]), row["satellites"],
             f"{row['first']} {shown(row['mp_first_rms'], '.3f')}", f"{row['second']} {shown(row['mp_second_rms'], '.3f')}",
             shown(row["slips"]), shown(row["obs_per_slip"], ".0f"), shown(row["completeness"], ".1f"),
             shown(row["mean_cn0"], ".1f")]
            for row in records if row["reason"] is None]
    rules = qc.rules
    parts = [f"<p>Code multipath (RMS in metres, arc means removed, arcs of at least 10 epochs) and phase slips "
             f"per constellation and signal pair. A phase slip is a jump of the geometry-free phase combination "
             f"over {rules['geometry_free_threshold']:.3f} m or of the Melbourne-Wubbena combination over "
             f"{rules['wide_lane_threshold']:g} wide-lane cycles; loss-of-lock flags are counted apart. Phase "
             f"slips are not the C/N0 jumps of the constellation table. "
             + html.escape(f"Elevation mask {qc.min_elevation:g}°." if qc.has_elevations
                           else "No elevation mask (no navigation data or receiver position).") + "</p>",
             table(["system", "pair", "codes", "satellites", "MP first (m)", "MP second (m)", "phase slips",
                    "obs/slip", "completeness (%)", "mean C/N0 (dB-Hz)"], rows, text_columns=3)]
    parts += [f"<p>No rows for {html.escape(row['system'])} {html.escape(row['pair'])}: {html.escape(row['reason'])}.</p>"
              for row in records if row["reason"] is not None]
    parts += [_figure(name, title, png) for name, title, png in images]
    return parts


def html_report(judged: Assessment, images: list[tuple[str, str, bytes]] | None = None,
                plot_note: str | None = None, created: str | None = None, qc: QcReport | None = None,
                qc_images: list[tuple[str, str, bytes]] | None = None) -> str:
    """The report page, from the assessment and its result's accessors. `images` are (name, title,
    PNG bytes) embedded as data: URIs; `plot_note` says why there are none; `qc`
    adds the station quality control section with its plots `qc_images`."""
    result = judged.result
    station = result.station_name or os.path.basename(judged.obs_path)
    files = [["Recording", judged.obs_path], *(["Navigation", path] for path in judged.nav_paths)]
    made = [["Tool", f"vardoln-cn0 {__version__}"], ["Made", created or created_now()]]
    shown_settings = [[label, value] for label, value in setting_lines(judged.settings)]
    parts = [
        "<!DOCTYPE html>",
        '<html lang="en"><head><meta charset="utf-8">',
        '<meta name="viewport" content="width=device-width, initial-scale=1">',
        f"<title>C/N0 report: {html.escape(station)}</title>",
        f"<style>{STYLE}</style></head><body>",
        f"<h1>GNSS signal-quality report: {html.escape(station)}</h1>",
        table(["item", "value"], files + made, text_columns=2),
        f'<p><span class="grade">{html.escape(judged.quality.grade)}</span>'
        f"{html.escape(judged.quality.sentence)}</p>",
        *(f"<p class='alarm'>Warning: {html.escape(warning)}</p>" for warning in judged.warnings),
        '<h2>Verdicts</h2><p class="verdicts">',
        *(_verdict(summary.VERDICT_LABELS[name].capitalize(), text) for name, text in judged.verdicts().items()),
        "</p><h2>Grade</h2>",
        *grade_explanation(judged),
        "<h2>Settings</h2>",
        table(["setting", "value"], shown_settings, text_columns=2),
        "<h2>Recording</h2>",
        _recording_table(result),
        "<h2>Constellations</h2>",
        table([*summary.CONSTELLATION_HEADER[:3], "mean C/N0 (dB-Hz)", "min", "max", "std", "C/N0 jumps",
               "data gaps"], summary.constellation_rows(result)),
        "<h2>Events</h2>",
        *_events(judged),
        "<h2>Navigation coverage</h2>",
        *_coverage(judged),
        "<h2>Visibility</h2>",
        *_visibility(judged),
        *(["<h2>Station quality control</h2>", *qc_section(qc, qc_images or [])] if qc is not None else []),
        "<h2>Plots</h2>",
    ]
    if images:
        parts += [_figure(name, title, png) for name, title, png in images]
    else:
        parts.append(f"<p class='note'>{html.escape(plot_note or 'No plots.')}</p>")
    parts += [f"<h2>Appendix: {html.escape(ANOMALY_APPENDIX)}</h2>", *_anomalies(result)]
    parts.append("</body></html>")
    return "\n".join(parts) + "\n"
