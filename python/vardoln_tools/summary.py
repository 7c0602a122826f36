"""Readable text summaries of analysis results, observation files and navigation files."""

from __future__ import annotations

import json
import math
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from vardoln_cn0 import AnalysisResult, AnomalyDict, NavigationData, RinexObsData

SEVERITIES = ("critical", "high", "low")
CONSTELLATION_HEADER = ["system", "seen/expected", "obs", "mean", "min", "max", "std", "slips", "gaps"]
VISIBILITY_HEADER = ["system", "predicted", "observed", "confirmed", "missing", "unexpected"]
# Anomaly times listed per severity before the rest is counted.
TIMES_SHOWN = 5


def _number(value: float | None, decimals: int = 1) -> str:
    if value is None or (isinstance(value, float) and not math.isfinite(value)):
        return "-"
    return f"{value:.{decimals}f}"


def table(rows: Sequence[Sequence[object]], header: Sequence[str], indent: str = "  ") -> list[str]:
    """Left-aligned first column, right-aligned numbers; widths from the content."""
    widths = [max(len(str(cell)) for cell in column) for column in zip(header, *rows)]
    lines = []
    for row in [header, *rows]:
        cells = [str(row[0]).ljust(widths[0])]
        cells += [str(cell).rjust(width) for cell, width in zip(row[1:], widths[1:])]
        lines.append(indent + "  ".join(cells).rstrip())
    return lines


def stored_quality(result: AnalysisResult, export: str | None = None) -> dict[str, Any]:
    """The quality record stored by the analysis (grade, interpretation, scores).

    Only the JSON export carries it. Decoding just that object keeps a day of 1 Hz data from
    paying for a full parse: a key text cannot occur unescaped inside a JSON string, so the first
    match is the record's own key.
    """
    text = export if export is not None else result.to_json()
    key = '"quality_score":'
    start = text.find(key)
    if start < 0:
        return {}
    value: dict[str, Any]
    value, _ = json.JSONDecoder().raw_decode(text, start + len(key))
    return value


def constellation_rows(result: AnalysisResult) -> list[list[str]]:
    """One row per constellation; statistics of a constellation without samples show as "-"."""
    rows = []
    for name in sorted(result.constellations):
        entry = result.get_constellation_summary(name)
        if entry is None:
            continue
        seen = entry["observation_count"] != "0"
        rows.append([
            name,
            f"{entry['satellite_count']}/{entry['satellites_expected']}",
            entry["observation_count"],
            *(entry[key] if seen else "-" for key in ("mean_cn0", "min_cn0", "max_cn0", "std_cn0")),
            entry["cycle_slips"],
            entry["data_gaps"],
        ])
    return rows


def anomaly_lines(anomalies: list[AnomalyDict]) -> list[str]:
    """The anomaly count by severity, then the first times of each severity."""
    counts = {severity: sum(1 for a in anomalies if a["severity"] == severity) for severity in SEVERITIES}
    lines = ["Anomalies      " + (", ".join(f"{counts[s]} {s}" for s in SEVERITIES) if anomalies else "none")]
    for severity in SEVERITIES:
        events = [a for a in anomalies if a["severity"] == severity]
        for event in events[:TIMES_SHOWN]:
            lines.append(f"  {severity:<10} {event['start_time']}  {event['description']} "
                         f"({event['affected_satellites']})")
        if len(events) > TIMES_SHOWN:
            lines.append(f"  {severity:<10} ... {len(events) - TIMES_SHOWN} more")
    return lines


def visibility_rows(result: AnalysisResult) -> list[list[str]]:
    return [[name, entry["predicted"], entry["observed"], entry["confirmation_rate"],
             entry["missing_sats"] or "-", entry["unexpected_sats"] or "-"]
            for name, entry in sorted(result.visibility_debug().items()) if name != "_overall"]


def verdict_text(detected: bool) -> str:
    return "DETECTED" if detected else "not detected"


def analysis_summary(result: AnalysisResult, source: str, quality: dict[str, Any] | None = None) -> str:
    """The analysis of one recording as a page of text; `quality` is the stored quality record
    when the caller already has it."""
    quality = stored_quality(result) if quality is None else quality
    lines = [f"Recording      {source}"]
    lines.append(f"Station        {result.station_name or '-'}")
    lines.append(f"Receiver       {result.receiver_type or '-'}")
    lines.append(f"Antenna        {result.antenna_type or '-'}")
    if result.start_time:
        lines.append(f"Time span      {result.start_time} .. {result.end_time} ({result.duration_hours:.2f} h, "
                     f"interval {result.interval:g} s)")
    else:
        lines.append("Time span      -")
    lines.append(f"Epochs         {result.total_epochs}")
    lines.append(f"Satellites     {result.total_satellites}")
    lines.append(f"C/N0 samples   {result.total_observations}")
    if result.total_observations:
        lines.append(f"C/N0 (dB-Hz)   mean {_number(result.mean_cn0)}  min {_number(result.min_cn0)}  "
                     f"max {_number(result.max_cn0)}")
    rows = constellation_rows(result)
    if rows:
        lines += ["", "Constellations (C/N0 in dB-Hz)", *table(rows, CONSTELLATION_HEADER)]
    lines += ["", *anomaly_lines(result.get_anomalies())]
    lines += ["", "Verdicts",
              f"  jamming        {verdict_text(result.jamming_detected)}",
              f"  interference   {verdict_text(result.interference_detected)}",
              f"  spoofing       {verdict_text(result.spoofing_detected)}", ""]
    lines.append(f"Quality        grade {quality.get('grade', '-')}: {quality.get('interpretation', result.summary)}")
    notebook = result.quality_score
    lines.append(
        f"Rating         {notebook.rating} (score {notebook.overall:.1f}; C/N0 {notebook.cn0_quality:.0f}, "
        f"availability {notebook.availability:.0f}, continuity {notebook.continuity:.0f}, "
        f"stability {notebook.stability:.0f}, diversity {notebook.diversity:.0f})")
    if result.has_visibility_prediction:
        lines += ["", f"Visibility     {result.visibility_prediction_source}",
                  f"  per epoch    predicted {result.visibility_mean_predicted:.1f}, observed "
                  f"{result.visibility_mean_observed:.1f}, missing {result.visibility_mean_missing:.1f}, "
                  f"unexpected {result.visibility_mean_unexpected:.1f}",
                  f"  confirmed    {result.visibility_confirmation_rate:.1f}%"]
        vis_rows = visibility_rows(result)
        if vis_rows:
            lines += table(vis_rows, VISIBILITY_HEADER)
        for description in result.get_visibility_anomaly_descriptions():
            lines.append(f"  anomaly      {description}")
    return "\n".join(lines)


def observation_summary(obs: RinexObsData, source: str) -> str:
    """Header facts and the queries of a RinexObsData object."""
    lines = [f"File           {source}",
             f"RINEX version  {obs.version:.2f}",
             f"Marker         {obs.marker_name or '-'}",
             f"Receiver       {obs.receiver_type or '-'}",
             f"Interval       {obs.interval:g} s",
             f"Epochs         {obs.num_epochs}",
             f"Satellites     {obs.num_satellites}", ""]
    by_system = obs.satellites_by_system()
    codes = obs.obs_types_by_system()
    snr = obs.snr_availability()
    rows = [[letter, len(by_system.get(letter, [])), "yes" if snr.get(letter) else "no",
             " ".join(codes.get(letter, []))]
            for letter in sorted(set(by_system) | set(codes))]
    lines += table(rows, ["system", "satellites", "S codes", "observation codes"])
    stats = obs.snr_stats_by_satellite()
    if stats:
        lines += ["", "S observations per satellite (mean in dB-Hz)"]
        rows = [[sat, int(s["obs_count"]), int(s["valid_count"]), _number(s["mean_snr"])]
                for sat, s in sorted(stats.items())]
        lines += table(rows, ["satellite", "values", "valid", "mean"])
    return "\n".join(lines)


def navigation_summary(nav: NavigationData, source: str) -> str:
    rows = [["GPS (incl. QZSS)", nav.gps_count], ["GLONASS", nav.glonass_count],
            ["Galileo", nav.galileo_count], ["BeiDou", nav.beidou_count], ["total", nav.satellite_count]]
    return "\n".join([f"File           {source}", "", *table(rows, ["constellation", "satellites"])])
