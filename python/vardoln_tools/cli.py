"""The vardoln-cn0 command: analyse, inspect and report on GNSS recordings."""

from __future__ import annotations

import argparse
import json
import math
import os
import sys
from collections.abc import Callable
from types import ModuleType
from typing import TYPE_CHECKING, TypeVar

from . import __version__
from . import summary

if TYPE_CHECKING:
    from vardoln_cn0 import AnalysisResult

Parsed = TypeVar("Parsed")

# Constellation letters of RINEX; the analysis keys its systems on the first letter.
SYSTEM_LETTERS = "GRECJIS"


class CommandError(Exception):
    """A failure reported to the user as one line on stderr."""


def _systems(text: str) -> list[str]:
    letters = [part.strip().upper() for part in text.split(",") if part.strip()]
    unknown = [letter for letter in letters if len(letter) != 1 or letter not in SYSTEM_LETTERS]
    if not letters or unknown:
        raise argparse.ArgumentTypeError(
            f"expected comma-separated constellation letters from {','.join(SYSTEM_LETTERS)}, got {text!r}")
    return letters


def _elevation(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not -90.0 <= value <= 90.0:
        raise argparse.ArgumentTypeError(f"expected degrees between -90 and 90, got {text!r}")
    return value


def _extension() -> ModuleType:
    """The compiled module, imported late so that --help works without it."""
    try:
        import vardoln_cn0
    except ImportError as error:
        raise CommandError(f"the vardoln_cn0 extension module is not installed ({error})") from None
    return vardoln_cn0


def _read(function: Callable[[str], Parsed], path: str, what: str) -> Parsed:
    """Runs a reader and turns its exceptions into one line naming the file."""
    try:
        return function(path)
    except OSError as error:
        raise CommandError(f"{path}: {error}") from None
    except ValueError as error:
        raise CommandError(f"{path}: not a readable {what} ({error})") from None


def _analyze(args: argparse.Namespace) -> AnalysisResult:
    module = _extension()
    try:
        result: AnalysisResult = module.analyze_cn0(args.obs, args.nav, args.min_elevation, args.systems)
        return result
    except OSError as error:
        # The message already says which file ("Cannot read obs file: ..."); add the path.
        path = args.nav if str(error).startswith("Cannot read nav") else args.obs
        raise CommandError(f"{path}: {error}") from None
    except ValueError as error:
        # Both readers raise ValueError; on this rare path, reading the navigation file alone tells which.
        if args.nav is not None:
            _read(module.read_navigation, args.nav, "RINEX navigation file")
        raise CommandError(f"{args.obs}: not a readable RINEX observation file ({error})") from None


def _check_plotting() -> str | None:
    """None when matplotlib is importable, else the reason."""
    try:
        from . import plots  # noqa: F401
    except ImportError as error:
        return str(error)
    return None


def command_analyze(args: argparse.Namespace) -> int:
    # Fail before the analysis rather than after it when the plots cannot be drawn.
    plot_problem = _check_plotting() if (args.plots or args.html) else None
    if args.plots and plot_problem:
        raise CommandError(plot_problem)
    result = _analyze(args)
    export = result.to_json()
    print(summary.analysis_summary(result, args.obs, summary.stored_quality(result, export)))
    written = []
    if args.json:
        _write(args.json, result.to_json_pretty() if args.pretty else export)
        written.append(f"JSON export    {args.json}")
    if args.plots or args.html:
        data = json.loads(export)
        del export
        images = []
        if not plot_problem:
            from . import plots

            images = plots.render_all(data)
        if args.plots:
            _make_directory(args.plots)
            for stem, _, png in images:
                _write(os.path.join(args.plots, f"{stem}.png"), png)
            names = ", ".join(f"{stem}.png" for stem, _, _ in images) or "none (no data to plot)"
            written.append(f"Plots          {args.plots}: {names}")
        if args.html:
            from . import report

            _write(args.html, report.html_report(result, data, args.obs, args.nav, images, plot_problem))
            written.append(f"HTML report    {args.html}")
    if written:
        print("", *written, sep="\n")
    return 0


def command_info(args: argparse.Namespace) -> int:
    obs = _read(_extension().read_rinex_obs, args.obs, "RINEX observation file")
    print(summary.observation_summary(obs, args.obs))
    return 0


def command_nav(args: argparse.Namespace) -> int:
    nav = _read(_extension().read_navigation, args.nav, "RINEX navigation file")
    print(summary.navigation_summary(nav, args.nav))
    return 0


def _make_directory(path: str) -> None:
    try:
        os.makedirs(path, exist_ok=True)
    except OSError as error:
        raise CommandError(f"cannot create directory {path}: {error.strerror or error}") from None


def _write(path: str, content: str | bytes) -> None:
    try:
        if isinstance(content, bytes):
            with open(path, "wb") as out:
                out.write(content)
        else:
            with open(path, "w", encoding="utf-8") as out:
                out.write(content)
    except OSError as error:
        raise CommandError(f"cannot write {path}: {error.strerror or error}") from None


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="vardoln-cn0", description="C/N0 signal-quality analysis of GNSS receiver recordings (RINEX 2 and 3).")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    analyze = commands.add_parser(
        "analyze", help="analyse a recording and print a summary",
        description="Analyse the C/N0 quality of one RINEX observation file and print a summary: "
                    "statistics per constellation, anomalies, jamming/interference/spoofing verdicts, "
                    "quality grade and, with --nav, predicted versus observed satellites.")
    analyze.add_argument("obs", metavar="OBS", help="RINEX observation file (version 2 or 3)")
    analyze.add_argument("--nav", metavar="NAV", help="RINEX navigation file of the same day, for satellite "
                                                      "positions and the visibility check")
    analyze.add_argument("--systems", metavar="G,R,E,C", type=_systems,
                         help="constellations to analyse, comma-separated letters (default G,R,E,C)")
    analyze.add_argument("--min-elevation", metavar="DEG", type=_elevation, default=5.0,
                         help="elevation mask in degrees (default 5)")
    analyze.add_argument("--json", metavar="FILE", help="write the JSON export to FILE")
    analyze.add_argument("--pretty", action="store_true", help="indent the JSON export")
    analyze.add_argument("--plots", metavar="DIR", help="write PNG plots into DIR (needs matplotlib)")
    analyze.add_argument("--html", metavar="FILE", help="write a self-contained HTML report to FILE "
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
    return parser


def main(argv: list[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        status: int = args.run(args)
        return status
    except CommandError as error:
        print(f"vardoln-cn0: error: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("vardoln-cn0: interrupted", file=sys.stderr)
        return 130
    except BrokenPipeError:
        # The reader of our output went away (`| head`); keep the interpreter's final flush quiet.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1


if __name__ == "__main__":
    sys.exit(main())
