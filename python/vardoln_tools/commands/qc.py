"""The `vardoln-cn0 qc` subcommand: multipath, phase slips, completeness and C/N0 per constellation
beside the C/N0 verdicts, in one pass over a recording."""

from __future__ import annotations

import argparse
import json
import math
from typing import TYPE_CHECKING, Any

from ..judge import settings
from ..render.summary import quality_lines, table
from .support import (EXIT_DONE, EXIT_MEANINGS, EXIT_NOTHING_TO_JUDGE, CommandError, NothingToJudgeExit,
                      add_recording_arguments, add_store_arguments, check_plotting, exit_statuses_text, store_of,
                      write, write_plots)

if TYPE_CHECKING:
    from ..history import Store
    from ..judge.quality_control import QcReport

# The statuses of support, with what a recording needs for QC to have nothing to show.
QC_EXIT_MEANINGS = {**EXIT_MEANINGS,
                    EXIT_NOTHING_TO_JUDGE: "nothing to judge: the recording has no signal-strength (C/N0) samples "
                                           "and no\nsignal pair for multipath"}
PAIR_HEADER = ["pair", "codes", "sats", "samples", "MP first (m)", "MP second (m)", "phase slips", "LLI", "obs/slip"]
# Satellites named per reason before the rest is counted.
SATELLITES_SHOWN = 8


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers the `qc` subcommand on the CLI's subparsers."""
    qc = commands.add_parser(
        "qc", help="station quality control: multipath, phase slips, completeness, C/N0",
        epilog=exit_statuses_text(QC_EXIT_MEANINGS),
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Quality control of one RINEX observation file, per constellation: signals, completeness,\n"
                    "mean C/N0, code multipath RMS per signal pair, phase slips and observations per slip,\n"
                    "then the C/N0 verdicts and grade of the analysis with the same elevation mask. Phase\n"
                    "slips are carrier-phase discontinuities, not the C/N0 jumps of `analyze`.")
    add_recording_arguments(qc, "elevations (mask, multipath per elevation, completeness) and the visibility check")
    # The one mask of the QC figures and of the C/N0 analysis beside them.
    settings.add_arguments(qc, only=["min_elevation"])
    output = qc.add_argument_group("output")
    output.add_argument("--json", metavar="FILE", help="write the QC report as JSON to FILE")
    output.add_argument("--plots", metavar="DIR", help="write multipath plots (against elevation and time) as PNG "
                                                       "into DIR (needs matplotlib)")
    output.add_argument("--html", metavar="FILE", help="write the HTML report of the analysis with a QC section "
                                                       "to FILE")
    add_store_arguments(qc)
    qc.set_defaults(run=command_qc)


def _number(value: Any, decimals: int = 1, suffix: str = "") -> str:
    if value is None or (isinstance(value, float) and not math.isfinite(value)):
        return "-"
    return f"{value:.{decimals}f}{suffix}"


def _satellites(names: list[str]) -> str:
    shown = " ".join(names[:SATELLITES_SHOWN])
    return shown + (f" +{len(names) - SATELLITES_SHOWN}" if len(names) > SATELLITES_SHOWN else "")


def constellation_block(report: QcReport, system: str) -> list[str]:
    """Signals with C/N0 and completeness, then one line per signal pair, of one constellation."""
    stats = report.cn0.by_constellation
    stats = stats[(stats.system == system) & (stats.samples > 0)]
    pairs = report.pairs[report.pairs.system == system]
    signals = report.cn0.by_signal
    satellites = signals[(signals.system == system) & (signals.samples > 0)].satellite.nunique()
    head = [f"{satellites} satellites with C/N0" if satellites else "no C/N0 samples"]
    completeness = report.completeness_percent(system)
    if completeness is not None:
        head.append(f"completeness {completeness:.1f} %")
    mean = report.mean_cn0(system)
    if mean is not None:
        head.append(f"mean C/N0 {mean:.1f} dB-Hz")
    lines = [f"{system} ({', '.join(head)})"]
    if len(stats):
        percent: dict[str, Any] = {}
        if report.completeness is not None:
            complete = report.completeness[report.completeness.system == system]
            percent = dict(zip(complete.code, complete.percent))
        cells = [[code, _number(mean_cn0), _number(percent.get(code), 1, "%") if percent else "-"]
                 for code, mean_cn0 in zip(stats.code, stats["mean"])]
        transposed = [list(column) for column in zip(*cells)]
        shown = [["C/N0", *transposed[1]]]
        if any(cell != "-" for cell in transposed[2]):
            shown.append(["complete", *transposed[2]])
        lines += table(shown, ["signal", *transposed[0]])
    rows = []
    for row in pairs.itertuples(index=False):
        rows.append([row.pair, row.codes_used, row.satellites, row.samples,
                     f"{row.first} {_number(row.mp_first_rms, 3)}", f"{row.second} {_number(row.mp_second_rms, 3)}",
                     row.slips, row.lli_slips, _number(row.obs_per_slip, 0)])
    if rows:
        lines += table(rows, PAIR_HEADER)
    missing = report.missing[report.missing.system == system]
    for row in missing[missing.satellite.isna()].itertuples(index=False):
        lines.append(f"  {row.pair:<6} no rows: {row.text}")
    by_reason: dict[tuple[str, str], list[str]] = {}
    for row in missing[missing.satellite.notna()].itertuples(index=False):
        by_reason.setdefault((str(row.pair), str(row.text)), []).append(str(row.satellite))
    for (pair, text), names in by_reason.items():
        lines.append(f"  {pair:<6} no rows for {_satellites(names)}: {text}")
    return lines


def qc_summary(report: QcReport) -> str:
    """The QC report as a page of text: one block per constellation, then the verdicts."""
    lines = [f"Recording      {report.obs_path}"]
    lines += [f"Navigation     {path}" for path in report.nav_paths]
    lines.append(f"Station        {report.station or '-'}")
    lines.append(f"Receiver       {report.receiver or '-'}")
    if report.start is not None and report.end is not None:
        lines.append(f"Time span      {report.start.isoformat()} .. {report.end.isoformat()} ({report.epochs} epochs, "
                     f"interval {report.interval:g} s)")
    rules = report.rules
    mask = (f"elevation mask {report.min_elevation:g}°" if report.has_elevations
            else "no elevation mask (needs navigation data and a receiver position)")
    lines.append(f"Settings       {mask}; an arc ends at a gap over {rules['gap_limit']:g} s; a phase slip is a "
                 f"geometry-free jump over {rules['geometry_free_threshold']:.3f} m or a Melbourne-Wubbena jump over "
                 f"{rules['wide_lane_threshold']:g} wide-lane cycles")
    judged = report.assessment
    if judged is not None and judged.coverage is not None:
        lines.append(f"Coverage       {judged.coverage.percent_text()} of the observed satellite-epochs have an "
                     "ephemeris")
    if report.completeness is not None:
        attrs = report.completeness.attrs
        lines.append(f"Epochs         {attrs['epochs_on_grid']} of {attrs['grid_epochs']} on the "
                     f"{attrs['interval']:g} s grid ({attrs['missing_epochs']} missing)")
    elif report.completeness_note:
        lines.append(f"Completeness   not computed: {report.completeness_note}")
    for system in report.constellations():
        lines += ["", *constellation_block(report, system)]
    lines += ["", "MP first/second: RMS of the code multipath of the pair's first and second signal, arc means "
                  "removed; phase slips: carrier-phase jumps (LLI: loss-of-lock flags, counted apart)"]
    if judged is None:
        lines += ["", f"Verdicts       no C/N0 analysis: {report.assessment_note}"]
        return "\n".join(lines)
    from ..render.summary import VERDICT_LABELS

    lines += [f"Warning        {warning}" for warning in judged.warnings]
    lines += ["", f"Verdicts (C/N0 analysis, elevation mask {judged.settings['min_elevation']:g}°)"]
    lines += [f"  {VERDICT_LABELS[name]:<14} {text}" for name, text in judged.verdicts().items()]
    lines += ["", *quality_lines(judged.quality)]
    return "\n".join(lines)


def _nothing_at_all(report: QcReport) -> bool:
    return report.assessment is None and report.pairs.empty


def command_qc(args: argparse.Namespace) -> int:
    """Runs `vardoln-cn0 qc`: the summary on stdout, then the files asked for; the exit status."""
    with store_of(args) as store:
        return _qc(args, store)


def _qc(args: argparse.Namespace, store: Store | None) -> int:
    plot_problem = check_plotting() if (args.plots or args.html) else None
    if args.plots and plot_problem:
        raise CommandError(plot_problem)
    from ..judge.quality_control import build_report
    from ..tables import recording, roles

    try:
        # Every file read once; the analysis, the native pass and the QC pass share the recording.
        loaded = recording.load(args.obs, args.nav or [])
        report = build_report(loaded, None, args.min_elevation, judge=True)
    except (ValueError, roles.WrongRole, recording.RecordingError) as error:
        raise CommandError(str(error)) from None
    if _nothing_at_all(report):
        raise NothingToJudgeExit(f"{args.obs}: nothing to judge: {report.assessment_note}; and no signal pair "
                                 "for multipath")
    print(qc_summary(report))
    written = []
    if store is not None:
        from ..history.entry import entry_for
        from ..judge.assessment import created_now

        kept = settings.judged_settings(settings.analysis_config(min_elevation=args.min_elevation),
                                        settings.DetectorSettings())
        entry = entry_for(loaded, report.assessment, kept, report=report, station=args.station)
        if entry is not None:
            store.write(entry, created_now())
            written.append(f"Store          {args.store}: {entry.recording['station']} {report.start} kept")
    if args.json:
        write(args.json, json.dumps(report.to_dict(), indent=1, ensure_ascii=False) + "\n")
        written.append(f"JSON           {args.json}")
    images: list[tuple[str, str, bytes]] = []
    if (args.plots or args.html) and not plot_problem:
        from ..render import qc_plots

        images = qc_plots.render(report)
    if args.plots:
        written.append(write_plots(args.plots, images, "none (no multipath samples)"))
    if args.html:
        if report.assessment is None:
            raise CommandError(f"{args.obs}: no HTML report: the report is built on the C/N0 analysis, and "
                               f"{report.assessment_note}")
        from ..judge.assessment import created_now
        from ..render import report as html_report

        analysis_images = []
        if not plot_problem:
            from ..render import plots

            analysis_images = plots.render_all(report.assessment)
        write(args.html, html_report.html_report(report.assessment, analysis_images, plot_problem,
                                                  created_now(), qc=report, qc_images=images))
        written.append(f"HTML report    {args.html}")
    if written:
        print("", *written, sep="\n")
    return EXIT_DONE
