"""The `vardoln-cn0 history` subcommand: the station history store's tables for other tools."""

from __future__ import annotations

import argparse

from .support import EXIT_DONE, CommandError, existing_store


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers the `history` subcommand on the CLI's subparsers."""
    history = commands.add_parser("history", help="a station history store's tables for other tools",
                                  description="What a station history store (written by --store) holds, for "
                                              "other tools.")
    actions = history.add_subparsers(dest="action", metavar="ACTION", required=True)
    export = actions.add_parser(
        "export", help="write the store's tables as Parquet, partitioned by station and year",
        description="Writes every table of the store as a Parquet dataset under DIR/<table>/, partitioned by "
                    "station and year (hive style: station=NYA1/year=2024/), for Dask or DuckDB. Needs pyarrow "
                    "(pip install 'vardoln-cn0[parquet]').")
    export.add_argument("store", metavar="STORE", help="station history store (SQLite)")
    export.add_argument("--parquet", metavar="DIR", required=True, help="directory of the Parquet datasets")
    export.set_defaults(run=command_export)


def command_export(args: argparse.Namespace) -> int:
    from ..history.export import MissingPyarrow, export_parquet

    with existing_store(args.store) as store:
        try:
            written = export_parquet(store, args.parquet)
        except MissingPyarrow as error:
            raise CommandError(str(error)) from None
        except OSError as error:
            raise CommandError(f"{args.parquet}: {error.strerror or error}") from None
    for table, rows in written.items():
        print(f"{table:<14} {rows:>9} rows   {args.parquet}/{table}/")
    return EXIT_DONE
