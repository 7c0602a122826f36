"""Batch analysis of many recordings: a thread pool on one machine, or a Dask cluster."""

from __future__ import annotations

import argparse


def add_command(commands) -> None:
    """Registers the `batch` subcommand on the CLI's subparsers."""
    batch = commands.add_parser("batch", help="analyse many recordings (not yet available)")
    batch.set_defaults(run=_not_available)


def _not_available(args: argparse.Namespace) -> int:
    raise NotImplementedError("batch analysis is being built")
