"""The `vardoln-cn0 info` subcommand: the header and contents of an observation file."""

from __future__ import annotations

import argparse

from ..render import summary
from .support import EXIT_DONE, CommandError


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers the `info` subcommand on the CLI's subparsers."""
    info = commands.add_parser("info", help="show the header and contents of an observation file",
                               description="Header facts, systems, observation codes and per-satellite "
                                           "S (C/N0) statistics of a RINEX observation file.")
    info.add_argument("obs", metavar="OBS", help="RINEX observation file")
    info.set_defaults(run=command_info)


def command_info(args: argparse.Namespace) -> int:
    from .. import _native
    from ..judge.selection import cut_epoch_warning
    from ..tables import recording, roles
    from ..tables._common import attrs

    try:
        loaded = recording.load(args.obs)
    except (roles.WrongRole, recording.RecordingError) as error:
        raise CommandError(str(error)) from None
    print(summary.observation_summary(loaded.native.obs, args.obs))
    cut = cut_epoch_warning(attrs(_native.facts(loaded.native), args.obs, None))
    if cut is not None:
        print(f"\nWarning        {cut}")
    return EXIT_DONE
