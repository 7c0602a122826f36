"""The vardoln-cn0 command: the parser that registers every subcommand, and the dispatch that
turns their failures into one line on stderr and an exit status."""

from __future__ import annotations

import argparse
import os
import sys

from .._version import __version__
from . import analyze, batch, dashboard, history, info, monitor, nav, qc, rtcm, signals, trends
from .support import (EXIT_ERROR, EXIT_INTERRUPTED, EXIT_NOTHING_TO_JUDGE, CommandError, NothingToJudgeExit,
                      exit_statuses_text)

# The subcommands in the order --help lists them.
SUBCOMMANDS = (analyze, info, nav, batch, signals, qc, rtcm, monitor, trends, dashboard, history)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="vardoln-cn0", description="C/N0 signal-quality analysis of GNSS receiver recordings (RINEX 2, 3 and 4, "
                                    "compact RINEX, gzip and Unix-compress archives).",
        epilog=exit_statuses_text(), formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    for module in SUBCOMMANDS:
        module.add_command(commands)
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
        return EXIT_INTERRUPTED
    except BrokenPipeError:
        # The reader of our output went away (`| head`); keep the interpreter's final flush quiet.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_ERROR

