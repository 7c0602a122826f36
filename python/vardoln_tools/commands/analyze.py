"""The `vardoln-cn0 analyze` subcommand: one recording judged, its summary printed, and the JSON
export, the summary JSON, the plots and the HTML report written when asked for."""

from __future__ import annotations

import argparse
import contextlib
import datetime
import json
from typing import TYPE_CHECKING

from ..judge import settings
from ..render import summary
from .support import (EXIT_DONE, CommandError, NothingToJudgeExit, add_recording_arguments, add_store_arguments,
                      check_plotting, exit_statuses_text, store_of, write, write_plots)

if TYPE_CHECKING:
    import vardoln_cn0

    from ..history import Store
    from ..judge.assessment import Assessment
    from ..render._plot_worker import PlotWorker


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers the `analyze` subcommand on the CLI's subparsers."""
    analyze = commands.add_parser(
        "analyze", help="analyse a recording and print a summary", epilog=exit_statuses_text(),
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Analyse the C/N0 quality of one RINEX observation file and print a summary: statistics\n"
                    "per constellation, anomalies, jamming/interference/spoofing verdicts, the quality grade\n"
                    "and, with --nav, the navigation coverage and predicted versus observed satellites.")
    add_recording_arguments(analyze, "satellite positions and the visibility check")
    settings.add_arguments(analyze)
    span = analyze.add_argument_group("epochs")
    span.add_argument("--from", dest="from_time", metavar="TIME", type=epoch_time,
                      help="judge only the epochs at or after TIME (2024-05-03T12:00:00, the file's time scale)")
    span.add_argument("--to", dest="to_time", metavar="TIME", type=epoch_time,
                      help="judge only the epochs before TIME")
    output = analyze.add_argument_group("output")
    output.add_argument("--json", metavar="FILE", help="write the module's JSON export of the analysis to FILE")
    output.add_argument("--pretty", action="store_true", help="indent the JSON export")
    output.add_argument("--summary-json", metavar="FILE",
                        help="write what this summary shows to FILE as JSON: tool version, time, files, settings, "
                             "navigation coverage, warnings, verdicts and grade")
    output.add_argument("--plots", metavar="DIR", help="write PNG plots into DIR (needs matplotlib)")
    output.add_argument("--html", metavar="FILE", help="write a self-contained HTML report to FILE "
                                                       "(plots included when matplotlib is installed)")
    add_store_arguments(analyze, "the analysis (of the epochs judged)")
    analyze.set_defaults(run=command_analyze)


def epoch_time(text: str) -> int:
    """An ISO date and time ("2024-05-03T12:00:00", "2024-05-03 12:00", a trailing Z allowed) as
    nanoseconds since 1970 on the recording's own time scale."""
    try:
        when = datetime.datetime.fromisoformat(text.strip().removesuffix("Z").removesuffix("z"))
    except ValueError:
        raise argparse.ArgumentTypeError(f"expected a date and time such as 2024-05-03T12:00:00, got {text!r}") from None
    when = when.replace(tzinfo=datetime.timezone.utc) if when.tzinfo is None else when
    return (when - datetime.datetime(1970, 1, 1, tzinfo=datetime.timezone.utc)) // datetime.timedelta(microseconds=1) * 1000


def _assess(args: argparse.Namespace, worker: PlotWorker | None) -> Assessment:
    """The recording read once (each file's role checked on its loaded bytes) and judged; with a
    plot worker, the recording's views go to it as soon as the analysis's result is there."""
    from ..judge import assessment
    from ..tables import recording, roles

    config = settings.from_arguments(args)
    detector = settings.detector_from_arguments(args)
    try:
        loaded = recording.load(args.obs, args.nav or [])
        if args.from_time is not None or args.to_time is not None:
            loaded = loaded.between(args.from_time, args.to_time)
        on_result = None
        if worker is not None:
            from ..render.plot_data import recording_views

            shown = settings.describe(config)

            def on_result(result: vardoln_cn0.AnalysisResult) -> None:
                worker.send_views(recording_views(loaded, [], shown, result))

        return assessment.assess(loaded, config=config, detector=detector, on_result=on_result)
    except (roles.WrongRole, assessment.RecordingError) as error:
        raise CommandError(str(error)) from None
    except assessment.NothingToJudge as error:
        raise NothingToJudgeExit(str(error)) from None


def command_analyze(args: argparse.Namespace) -> int:
    with store_of(args) as store:
        return _run(args, store)


def _run(args: argparse.Namespace, store: Store | None) -> int:
    plot_problem = None
    worker = None
    if args.plots or args.html:
        plot_problem = check_plotting()
        if args.plots and plot_problem:
            raise CommandError(plot_problem)
        if plot_problem is None:
            from ..render._plot_worker import PlotWorker

            worker = PlotWorker()
    with worker or contextlib.nullcontext():
        return _analyze(args, worker, plot_problem, store)


def _analyze(args: argparse.Namespace, worker: PlotWorker | None, plot_problem: str | None,
             store: Store | None) -> int:
    from ..judge.assessment import created_now

    judged = _assess(args, worker)
    created = created_now()
    print(summary.analysis_summary(judged))
    if store is not None:
        store_assessment(store, args, judged, created)
    result = judged.result
    written = []
    if args.json:
        write(args.json, result.to_json_pretty() if args.pretty else result.to_json())
        written.append(f"JSON export    {args.json}")
    if args.summary_json:
        write(args.summary_json, json.dumps(judged.as_record(created), indent=2, ensure_ascii=False) + "\n")
        written.append(f"Summary JSON   {args.summary_json}")
    if args.plots or args.html:
        images: list[tuple[str, str, bytes]] = []
        if worker is not None:
            images, plot_problem = worker.render(judged)
        if args.plots and plot_problem:
            raise CommandError(plot_problem)
        if args.plots:
            written.append(write_plots(args.plots, images, "none (no data to plot)"))
        if args.html:
            from ..render import report

            write(args.html, report.html_report(judged, images, plot_problem, created))
            written.append(f"HTML report    {args.html}")
    if written:
        print("", *written, sep="\n")
    return EXIT_DONE


def store_assessment(store: Store, args: argparse.Namespace, judged: Assessment, created: str) -> None:
    """The analysis kept in the station history (with the QC figures of the same epochs)."""
    from ..history.entry import entry_for

    assert judged.recording is not None
    entry = entry_for(judged.recording, judged, judged.settings, station=args.station)
    if entry is None:
        print(f"Store          not kept: {args.obs} has no dated epoch")
        return
    store.write(entry, created)
    print(f"Store          {args.store}: {entry.recording['station']} {judged.result.start_time} kept")
