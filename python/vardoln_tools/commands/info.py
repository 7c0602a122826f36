"""The `vardoln-cn0 info` subcommand: the header and contents of an observation file."""

from __future__ import annotations

import argparse

from ..render import summary
from .support import EXIT_DONE, extension, read_checked


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers the `info` subcommand on the CLI's subparsers."""
    info = commands.add_parser("info", help="show the header and contents of an observation file",
                               description="Header facts, systems, observation codes and per-satellite "
                                           "S (C/N0) statistics of a RINEX observation file.")
    info.add_argument("obs", metavar="OBS", help="RINEX observation file")
    info.set_defaults(run=command_info)


def command_info(args: argparse.Namespace) -> int:
    from ..judge.selection import cut_epoch_warning, recording_facts

    obs = read_checked(extension().read_rinex_obs, args.obs, "observation")
    print(summary.observation_summary(obs, args.obs))
    # The module's reader keeps no note of a cut file; the companion's reads the file once more.
    cut = cut_epoch_warning(recording_facts(args.obs))
    if cut is not None:
        print(f"\nWarning        {cut}")
    return EXIT_DONE
