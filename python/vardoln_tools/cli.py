"""The vardoln-cn0 command: analyse, inspect and report on GNSS recordings."""

from __future__ import annotations

import argparse
import contextlib
import json
import os
import sys
from collections.abc import Callable
from types import ModuleType
from typing import TYPE_CHECKING, TypeVar

from . import __version__, settings, summary
from .command_support import (EXIT_DONE, EXIT_ERROR, EXIT_NOTHING_TO_JUDGE, EXIT_STATUSES, CommandError,
                              NothingToJudgeExit, add_recording_arguments, check_files, check_plotting, read_failure,
                              write, write_plots)

if TYPE_CHECKING:
    from ._plot_worker import PlotWorker
    from .assessment import Assessment

T = TypeVar("T")


def _extension() -> ModuleType:
    """The compiled module, imported late so that --help works without it."""
    try:
        import vardoln_cn0
    except ImportError as error:
        raise CommandError(f"the vardoln_cn0 extension module is not installed ({error})") from None
    module: ModuleType = vardoln_cn0
    return module


def _read(function: Callable[[str], T], path: str, role: str) -> T:
    """Runs a reader on a file of a role after the checks that every command makes, and turns its
    exceptions into the same one line naming the file."""
    if role == "observation":
        check_files(path)
    else:
        check_files(None, [path])
    try:
        return function(path)
    except (OSError, ValueError) as error:
        raise read_failure(error, path, role) from None


def _assess(args: argparse.Namespace) -> Assessment:
    from . import assessment, roles

    try:
        return assessment.assess(args.obs, args.nav or [], settings.from_arguments(args))
    except (roles.WrongRole, assessment.RecordingError) as error:
        raise CommandError(str(error)) from None
    except assessment.NothingToJudge as error:
        raise NothingToJudgeExit(str(error)) from None


def command_analyze(args: argparse.Namespace) -> int:
    check_files(args.obs, args.nav or [])
    plot_problem = None
    worker = None
    if args.plots or args.html:
        plot_problem = check_plotting()
        if args.plots and plot_problem:
            raise CommandError(plot_problem)
        if plot_problem is None:
            from ._plot_worker import PlotWorker

            worker = PlotWorker(args.obs, args.nav or [], settings.describe(settings.from_arguments(args)))
    with worker or contextlib.nullcontext():
        return _analyze(args, worker, plot_problem)


def _analyze(args: argparse.Namespace, worker: PlotWorker | None, plot_problem: str | None) -> int:
    from .assessment import created_now

    judged = _assess(args)
    created = created_now()
    print(summary.analysis_summary(judged))
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
            from . import report

            write(args.html, report.html_report(judged, images, plot_problem, created))
            written.append(f"HTML report    {args.html}")
    if written:
        print("", *written, sep="\n")
    return EXIT_DONE


def command_info(args: argparse.Namespace) -> int:
    from .selection import cut_epoch_warning, recording_facts

    obs = _read(_extension().read_rinex_obs, args.obs, "observation")
    print(summary.observation_summary(obs, args.obs))
    # The module's reader keeps no note of a cut file; the companion's reads the file once more.
    cut = cut_epoch_warning(recording_facts(args.obs))
    if cut is not None:
        print(f"\nWarning        {cut}")
    return EXIT_DONE


def command_nav(args: argparse.Namespace) -> int:
    nav = _read(_extension().read_navigation, args.nav, "navigation")
    print(summary.navigation_summary(nav, args.nav))
    return EXIT_DONE


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="vardoln-cn0", description="C/N0 signal-quality analysis of GNSS receiver recordings (RINEX 2, 3 and 4, "
                                    "compact RINEX, gzip and Unix-compress archives).",
        epilog=EXIT_STATUSES, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    analyze = commands.add_parser(
        "analyze", help="analyse a recording and print a summary", epilog=EXIT_STATUSES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Analyse the C/N0 quality of one RINEX observation file and print a summary: statistics\n"
                    "per constellation, anomalies, jamming/interference/spoofing verdicts, the quality grade\n"
                    "and, with --nav, the navigation coverage and predicted versus observed satellites.")
    add_recording_arguments(analyze, "satellite positions and the visibility check")
    settings.add_arguments(analyze)
    output = analyze.add_argument_group("output")
    output.add_argument("--json", metavar="FILE", help="write the module's JSON export of the analysis to FILE")
    output.add_argument("--pretty", action="store_true", help="indent the JSON export")
    output.add_argument("--summary-json", metavar="FILE",
                        help="write what this summary shows to FILE as JSON: tool version, time, files, settings, "
                             "navigation coverage, warnings, verdicts and grade")
    output.add_argument("--plots", metavar="DIR", help="write PNG plots into DIR (needs matplotlib)")
    output.add_argument("--html", metavar="FILE", help="write a self-contained HTML report to FILE "
                                                       "(plots included when matplotlib is installed)")
    analyze.set_defaults(run=command_analyze)

    info = commands.add_parser("info", help="show the header and contents of an observation file",
                               description="Header facts, systems, observation codes and per-satellite "
                                           "S (C/N0) statistics of a RINEX observation file.")
    info.add_argument("obs", metavar="OBS", help="RINEX observation file")
    info.set_defaults(run=command_info)

    nav = commands.add_parser("nav", help="count the satellites of a navigation file",
                              description="Satellites with broadcast ephemerides per constellation.")
    nav.add_argument("nav", metavar="NAV", help="RINEX navigation file")
    nav.set_defaults(run=command_nav)

    from . import batch

    batch.add_command(commands)

    from . import signals_command

    signals_command.add_command(commands)

    from . import qc_command

    qc_command.add_command(commands)
    return parser


def main(argv: list[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        status: int = args.run(args)
        return status
    except CommandError as error:
        print(f"vardoln-cn0: error: {error}", file=sys.stderr)
        return EXIT_ERROR
    except NothingToJudgeExit as error:
        print(f"vardoln-cn0: {error}", file=sys.stderr)
        return EXIT_NOTHING_TO_JUDGE
    except KeyboardInterrupt:
        print("vardoln-cn0: interrupted", file=sys.stderr)
        return 130
    except BrokenPipeError:
        # The reader of our output went away (`| head`); keep the interpreter's final flush quiet.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1


if __name__ == "__main__":
    sys.exit(main())
