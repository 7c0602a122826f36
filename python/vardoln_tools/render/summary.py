"""Readable text summaries of analysis results, observation files and navigation files."""

from __future__ import annotations

import math
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

from ..judge.assessment import CRITERION_GROUPS

if TYPE_CHECKING:
    import vardoln_cn0

    from ..judge.assessment import Assessment, Coverage, Event, Health

SEVERITIES = ("critical", "high", "low")
# "C/N0 jumps": the module's cycle_slips, steps of over 10 dB-Hz between sorted C/N0 values; not
# the phase slips of the quality control.
CONSTELLATION_HEADER = ["system", "seen/expected", "obs", "mean", "min", "max", "std", "C/N0 jumps", "gaps"]


def _number(value: object, decimals: int = 1) -> str:
    if value is None or (isinstance(value, float) and not math.isfinite(value)):
        return "-"
    return f"{value:.{decimals}f}"


def table(rows: list[list[Any]], header: list[str], indent: str = "  ") -> list[str]:
    """Left-aligned first column, right-aligned numbers; widths from the content."""
    widths = [max(len(str(cell)) for cell in column) for column in zip(header, *rows)]
    lines = []
    for row in [list(header), *rows]:
        cells = [str(row[0]).ljust(widths[0])]
        cells += [str(cell).rjust(width) for cell, width in zip(row[1:], widths[1:])]
        lines.append(indent + "  ".join(cells).rstrip())
    return lines


def constellation_rows(result: vardoln_cn0.AnalysisResult) -> list[list[str]]:
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


VERDICT_LABELS = {"jamming": "jamming", "interference": "interference", "spoofing": "spoofing",
                  "missing_satellites": "missing sats", "confirmation": "confirmation"}
COVERAGE_HEADER = ["system", "sat-epochs", "coverage", "without ephemeris"]
# Satellites without ephemeris listed per constellation before the rest is counted.
UNCOVERED_SHOWN = 8
CRITERIA_HEADER = ["criterion", "subject", "figure", "status"]


def settings_text(shown: dict[str, Any]) -> str:
    events = (f", events {shown['event_satellites']} satellites {shown['event_drop']:g} dB down"
              if "event_drop" in shown else "")
    return f"elevation mask {shown['min_elevation']:g}°, constellations {','.join(shown['systems']) or 'none'}{events}"


def criteria_rows(health: Health, statuses: tuple[str, ...] = ("pass", "warn", "fail", "not assessed")) -> list[list[str]]:
    """The criteria of these statuses as table rows, in the grade's order."""
    return [[CRITERION_GROUPS.get(c.group, c.group), c.subject or "-", c.figure_text(), c.status]
            for c in health.criteria if c.status in statuses]


def criteria_counts(health: Health) -> str:
    """"31 pass, 4 warn, 0 fail, 2 not assessed"."""
    counts = {status: sum(1 for c in health.criteria if c.status == status)
              for status in ("pass", "warn", "fail", "not assessed")}
    return ", ".join(f"{count} {status}" for status, count in counts.items())


def event_lines(events: Sequence[Event]) -> list[str]:
    """The detector's events, one line each."""
    if not events:
        return ["Events         none"]
    return ["Events", *(f"  {event.text()}" for event in events)]


def coverage_rows(coverage: Coverage) -> list[list[str]]:
    rows = []
    for entry in coverage.systems:
        uncovered = list(entry.uncovered_satellites)
        listed = " ".join(uncovered[:UNCOVERED_SHOWN]) + (f" +{len(uncovered) - UNCOVERED_SHOWN}"
                                                          if len(uncovered) > UNCOVERED_SHOWN else "")
        percent = f"{entry.percent:.1f}%" if entry.predictable else "never predicted"
        rows.append([entry.system, str(entry.observed), percent, listed or "-"])
    return rows


def coverage_lines(assessment: Assessment) -> list[str]:
    coverage = assessment.coverage
    if coverage is None:
        return []
    records = "none" if coverage.nav_span is None else f"{coverage.nav_span[0]} .. {coverage.nav_span[1]}"
    return [f"Coverage       {coverage.percent_text()} of the observed satellite-epochs have an ephemeris",
            *table(coverage_rows(coverage), COVERAGE_HEADER),
            f"  records      {records} (recording {coverage.obs_span[0]} .. {coverage.obs_span[1]})"]


def unexpected_text(assessment: Assessment) -> str | None:
    """The unexpected satellites per epoch split by cause; None without a visibility check."""
    parts = assessment.unexpected_breakdown()
    if parts is None:
        return None
    never, without, below = parts
    return (f"{assessment.result.visibility_mean_unexpected:.1f} per epoch: {never:.1f} SBAS/IRNSS (never "
            f"predicted), {without:.1f} without ephemeris, {below:.1f} tracked below the "
            f"{assessment.settings['min_elevation']:g}° mask")


def satellite_list(keys: list[str]) -> str:
    return ", ".join(sorted(keys)) or "-"


def visibility_lines(assessment: Assessment) -> list[str]:
    result = assessment.result
    if not result.has_visibility_prediction:
        return []
    lines = ["", f"Visibility     {result.visibility_prediction_source or 'no receiver position in the header'}",
             f"  per epoch    predicted {result.visibility_mean_predicted:.1f}, observed "
             f"{result.visibility_mean_observed:.1f}, missing {result.visibility_mean_missing:.1f}, "
             f"unexpected {result.visibility_mean_unexpected:.1f}"]
    unexpected = unexpected_text(assessment)
    if unexpected is not None:
        lines.append(f"  unexpected   {unexpected}")
    lines += [f"  often missing     {satellite_list(result.get_frequently_missing_satellites())}",
              f"  often unexpected  {satellite_list(result.get_frequently_unexpected_satellites())}"]
    lines += [f"  anomaly      {text}" for text in result.get_visibility_anomaly_descriptions()]
    return lines


def analysis_summary(assessment: Assessment) -> str:
    """The assessment of one recording as a page of text."""
    result = assessment.result
    lines = [f"Recording      {assessment.obs_path}"]
    for path in assessment.nav_paths:
        lines.append(f"Navigation     {path}")
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
    lines.append(f"C/N0 (dB-Hz)   mean {_number(result.mean_cn0)}  min {_number(result.min_cn0)}  "
                 f"max {_number(result.max_cn0)}")
    lines.append(f"Settings       {settings_text(assessment.settings)}")
    rows = constellation_rows(result)
    if rows:
        lines += ["", "Constellations (C/N0 in dB-Hz)", *table(rows, CONSTELLATION_HEADER)]
    lines += ["", *event_lines(assessment.events)]
    if assessment.coverage is not None:
        lines += ["", *coverage_lines(assessment)]
    lines += [f"Warning        {warning}" for warning in assessment.warnings]
    lines += ["", "Verdicts"]
    lines += [f"  {VERDICT_LABELS[name]:<14} {text}" for name, text in assessment.verdicts().items()]
    lines += ["", *quality_lines(assessment.quality)]
    lines += visibility_lines(assessment)
    return "\n".join(lines)


def quality_lines(health: Health) -> list[str]:
    """The health grade's sentence, the criteria counts and the criteria that warn or fail."""
    lines = [f"Quality        {health.sentence}", f"  criteria     {criteria_counts(health)}"]
    rows = criteria_rows(health, ("warn", "fail"))
    return lines + (table(rows, CRITERIA_HEADER) if rows else [])


def observation_summary(obs: vardoln_cn0.RinexObsData, source: str) -> str:
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


def navigation_summary(nav: vardoln_cn0.NavigationData, source: str) -> str:
    rows = [["GPS (incl. QZSS)", nav.gps_count], ["GLONASS", nav.glonass_count],
            ["Galileo", nav.galileo_count], ["BeiDou", nav.beidou_count], ["total", nav.satellite_count]]
    return "\n".join([f"File           {source}", "", *table(rows, ["constellation", "satellites"])])
