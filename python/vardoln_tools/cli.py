"""The vardoln-cn0 command: analyse, inspect and report on GNSS recordings."""

from __future__ import annotations

import argparse
import sys

from . import __version__
from . import summary


class CommandError(Exception):
    """A failure reported to the user as one line on stderr."""


def _systems(text: str | None) -> list[str] | None:
    if text is None:
        return None
    return [part.strip() for part in text.split(",") if part.strip()]


def _call(function, *args, **kwargs):
    import vardoln_cn0  # noqa: F401  (imported here so --help works without the extension)

    try:
        return function(*args, **kwargs)
    except OSError as error:
        raise CommandError(str(error)) from None
    except ValueError as error:
        raise CommandError(f"invalid input: {error}") from None


def command_analyze(args: argparse.Namespace) -> int:
    import vardoln_cn0

    result = _call(vardoln_cn0.analyze_cn0, args.obs, args.nav, args.min_elevation, _systems(args.systems))
    print(summary.analysis_summary(result, args.obs))
    if args.json:
        text = result.to_json_pretty() if args.pretty else result.to_json()
        _write_text(args.json, text)
        print(f"\nJSON export    {args.json}")
    if args.plots:
        from . import plots

        written = plots.write_all(result, args.plots)
        print(f"Plots          {len(written)} PNG files in {args.plots}")
    if args.html:
        from . import report

        _write_text(args.html, report.html_report(result, args.obs, args.nav))
        print(f"HTML report    {args.html}")
    return 0


def command_info(args: argparse.Namespace) -> int:
    import vardoln_cn0

    obs = _call(vardoln_cn0.read_rinex_obs, args.obs)
    print(summary.observation_summary(obs, args.obs))
    return 0


def command_nav(args: argparse.Namespace) -> int:
    import vardoln_cn0

    nav = _call(vardoln_cn0.read_navigation, args.nav)
    print(summary.navigation_summary(nav, args.nav))
    return 0


def _write_text(path: str, text: str) -> None:
    try:
        with open(path, "w", encoding="utf-8") as out:
            out.write(text)
    except OSError as error:
        raise CommandError(f"cannot write {path}: {error.strerror or error}") from None


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="vardoln-cn0", description="C/N0 signal-quality analysis of GNSS receiver recordings (RINEX 2 and 3).")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    analyze = commands.add_parser("analyze", help="analyse a recording and print a summary",
                                  description="Analyse the C/N0 quality of one RINEX observation file.")
    analyze.add_argument("obs", metavar="OBS", help="RINEX observation file")
    analyze.add_argument("--nav", metavar="NAV", help="RINEX navigation file for the visibility check")
    analyze.add_argument("--systems", metavar="G,R,E,C", help="constellations to analyse (default G,R,E,C)")
    analyze.add_argument("--min-elevation", metavar="DEG", type=float, default=5.0,
                         help="elevation mask in degrees (default 5)")
    analyze.add_argument("--json", metavar="FILE", help="write the JSON export to FILE")
    analyze.add_argument("--pretty", action="store_true", help="indent the JSON export")
    analyze.add_argument("--plots", metavar="DIR", help="write PNG plots into DIR (needs matplotlib)")
    analyze.add_argument("--html", metavar="FILE", help="write a self-contained HTML report to FILE")
    analyze.set_defaults(run=command_analyze)

    info = commands.add_parser("info", help="show the header and contents of an observation file",
                               description="Header facts, systems, codes and S statistics of an observation file.")
    info.add_argument("obs", metavar="OBS", help="RINEX observation file")
    info.set_defaults(run=command_info)

    nav = commands.add_parser("nav", help="count the satellites of a navigation file",
                              description="Satellites with broadcast ephemerides per constellation.")
    nav.add_argument("nav", metavar="NAV", help="RINEX navigation file")
    nav.set_defaults(run=command_nav)

    from . import batch

    batch.add_command(commands)
    return parser


def main(argv: list[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        return args.run(args)
    except CommandError as error:
        print(f"vardoln-cn0: error: {error}", file=sys.stderr)
        return 1
    except ImportError as error:
        print(f"vardoln-cn0: error: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
