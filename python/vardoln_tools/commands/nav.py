"""The `vardoln-cn0 nav` subcommand: the satellites of a navigation file."""

from __future__ import annotations

import argparse

from ..render import summary
from .support import EXIT_DONE, extension, read_checked


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers the `nav` subcommand on the CLI's subparsers."""
    nav = commands.add_parser("nav", help="count the satellites of a navigation file",
                              description="Satellites with broadcast ephemerides per constellation.")
    nav.add_argument("nav", metavar="NAV", help="RINEX navigation file")
    nav.set_defaults(run=command_nav)


def command_nav(args: argparse.Namespace) -> int:
    nav = read_checked(extension().read_navigation, args.nav, "navigation")
    print(summary.navigation_summary(nav, args.nav))
    return EXIT_DONE
