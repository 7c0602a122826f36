"""Readable text summaries of analysis results and observation files."""

from __future__ import annotations

import math
SEVERITIES = ("critical", "high", "low")


def _number(value: float, decimals: int = 1) -> str:
    if value is None or (isinstance(value, float) and not math.isfinite(value)):
        return "-"
    return f"{value:.{decimals}f}"


def table(rows: list[list[str]], header: list[str], indent: str = "  ") -> list[str]:
    """Left-aligned first column, right-aligned numbers; widths from the content."""
    widths = [max(len(str(cell)) for cell in column) for column in zip(header, *rows)]
    lines = []
    for row in [header, *rows]:
        cells = [str(row[0]).ljust(widths[0])]
        cells += [str(cell).rjust(width) for cell, width in zip(row[1:], widths[1:])]
        lines.append(indent + "  ".join(cells).rstrip())
    return lines


def constellation_rows(result) -> list[list[str]]:
    rows = []
    for name in sorted(result.constellations):
        entry = result.get_constellation_summary(name)
        if entry is None:
            continue
        rows.append([
            name,
            f"{entry['satellite_count']}/{entry['satellites_expected']}",
            entry["observation_count"],
            entry["mean_cn0"],
            entry["min_cn0"],
            entry["max_cn0"],
            entry["std_cn0"],
            entry["cycle_slips"],
            entry["data_gaps"],
        ])
    return rows


def analysis_summary(result, source: str) -> str:
    """The analysis of one recording as a few lines of text."""
    lines = [f"Recording      {source}"]
    lines.append(f"Station        {result.station_name or '-'}")
    lines.append(f"Receiver       {result.receiver_type or '-'}")
    lines.append(f"Antenna        {result.antenna_type or '-'}")
    if result.start_time:
        lines.append(f"Time span      {result.start_time} .. {result.end_time} ({result.duration_hours:.2f} h)")
    else:
        lines.append("Time span      -")
    lines.append(f"Epochs         {result.total_epochs}")
    lines.append(f"Satellites     {result.total_satellites}")
    lines.append(f"C/N0 samples   {result.total_observations}")
    lines.append(
        f"C/N0 (dB-Hz)   mean {_number(result.mean_cn0)}  min {_number(result.min_cn0)}  "
        f"max {_number(result.max_cn0)}")
    rows = constellation_rows(result)
    if rows:
        lines.append("")
        lines.append("Constellations")
        lines += table(rows, ["system", "seen/expected", "obs", "mean", "min", "max", "std", "slips", "gaps"])
    lines.append("")
    anomalies = result.get_anomalies()
    counts = {severity: sum(1 for a in anomalies if a["severity"] == severity) for severity in SEVERITIES}
    lines.append("Anomalies      " + (", ".join(f"{counts[s]} {s}" for s in SEVERITIES) if anomalies else "none"))
    for severity in SEVERITIES:
        times = [a["start_time"] for a in anomalies if a["severity"] == severity]
        if times:
            shown = ", ".join(times[:5]) + (f", ... ({len(times) - 5} more)" if len(times) > 5 else "")
            lines.append(f"  {severity:<12} {shown}")
    lines.append("")
    lines.append("Verdicts")
    lines.append(f"  jamming        {'DETECTED' if result.jamming_detected else 'not detected'}")
    lines.append(f"  interference   {'DETECTED' if result.interference_detected else 'not detected'}")
    lines.append(f"  spoofing       {'DETECTED' if result.spoofing_detected else 'not detected'}")
    lines.append("")
    record = _stored_quality(result)
    lines.append(f"Quality        grade {record.get('grade', '-')}: {result.summary}")
    notebook = result.quality_score
    lines.append(
        f"Rating         {notebook.rating} (score {notebook.overall:.1f}; C/N0 {notebook.cn0_quality:.0f}, "
        f"availability {notebook.availability:.0f}, continuity {notebook.continuity:.0f}, "
        f"stability {notebook.stability:.0f}, diversity {notebook.diversity:.0f})")
    if result.has_visibility_prediction:
        lines.append("")
        lines.append(f"Visibility     {result.visibility_prediction_source or 'no receiver position'}")
        lines.append(
            f"  per epoch    predicted {result.visibility_mean_predicted:.1f}, observed "
            f"{result.visibility_mean_observed:.1f}, missing {result.visibility_mean_missing:.1f}, "
            f"unexpected {result.visibility_mean_unexpected:.1f}")
        lines.append(f"  confirmed    {result.visibility_confirmation_rate:.1f}%")
        debug = result.visibility_debug()
        vis_rows = [[name, entry["predicted"], entry["observed"], entry["confirmation_rate"],
                     entry["missing_count"], entry["unexpected_count"]]
                    for name, entry in sorted(debug.items()) if name != "_overall"]
        if vis_rows:
            lines += table(vis_rows, ["system", "predicted", "observed", "rate", "missing", "unexpected"])
        for description in result.get_visibility_anomaly_descriptions():
            lines.append(f"  anomaly      {description}")
    return "\n".join(lines)


def _stored_quality(result) -> dict:
    import json

    return json.loads(result.to_json()).get("quality_score", {})


def observation_summary(obs, source: str) -> str:
    """Header facts and the queries of a RinexObsData object."""
    lines = [f"File           {source}"]
    lines.append(f"RINEX version  {obs.version:.2f}")
    lines.append(f"Marker         {obs.marker_name or '-'}")
    lines.append(f"Receiver       {obs.receiver_type or '-'}")
    lines.append(f"Interval       {obs.interval:g} s")
    lines.append(f"Epochs         {obs.num_epochs}")
    lines.append(f"Satellites     {obs.num_satellites}")
    by_system = obs.satellites_by_system()
    codes = obs.obs_types_by_system()
    snr = obs.snr_availability()
    lines.append("")
    rows = []
    for letter in sorted(set(by_system) | set(codes)):
        rows.append([letter, len(by_system.get(letter, [])), "yes" if snr.get(letter) else "no",
                     " ".join(codes.get(letter, []))])
    lines += table(rows, ["sys", "sats", "S codes", "observation codes"])
    stats = obs.snr_stats_by_satellite()
    if stats:
        lines.append("")
        lines.append("S observations per satellite")
        rows = [[sat, int(s["obs_count"]), int(s["valid_count"]), f"{s['mean_snr']:.1f}"]
                for sat, s in sorted(stats.items())]
        lines += table(rows, ["satellite", "obs", "valid", "mean"])
    return "\n".join(lines)


def navigation_summary(nav, source: str) -> str:
    rows = [["GPS (incl. QZSS)", nav.gps_count], ["GLONASS", nav.glonass_count],
            ["Galileo", nav.galileo_count], ["BeiDou", nav.beidou_count], ["total", nav.satellite_count]]
    return "\n".join([f"File           {source}", *table(rows, ["constellation", "satellites"])])
