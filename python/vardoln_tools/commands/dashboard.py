"""The `vardoln-cn0 dashboard` subcommand: the network dashboard of a station history."""

from __future__ import annotations

import argparse

from .support import EXIT_DONE, CommandError, existing_store


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers the `dashboard` subcommand on the CLI's subparsers."""
    dashboard = commands.add_parser(
        "dashboard", help="the network dashboard of a history store, as a static site",
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Writes a static site that opens from disk: a network page with one row per station (the\n"
                    "latest day, each metric coloured by its deviation from the station's 45-day band, flags,\n"
                    "sortable) and a page per station with a time series per metric (daily values, the band,\n"
                    "change points, equipment changes, days with jamming or interference, links to each day's\n"
                    "report). A second run redraws only the stations whose history changed.")
    dashboard.add_argument("store", metavar="STORE", help="station history store (SQLite)")
    dashboard.add_argument("-o", "--output", metavar="DIR", required=True, help="directory of the site")
    dashboard.add_argument("--title", default="Station network", help="the network page's title")
    dashboard.set_defaults(run=command_dashboard)


def command_dashboard(args: argparse.Namespace) -> int:
    from ..history.site import write_site

    with existing_store(args.store) as store:
        try:
            result = write_site(store, args.output, args.title)
        except OSError as error:
            raise CommandError(f"{args.output}: {error.strerror or error}") from None
    print(f"{result.index}: {result.pages_written} station pages drawn, {result.pages_kept} kept")
    return EXIT_DONE
