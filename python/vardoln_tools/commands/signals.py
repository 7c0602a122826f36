"""The `vardoln-cn0 signals` subcommand: C/N0 and completeness per constellation and signal."""

from __future__ import annotations

import argparse
import json
import math
import os
from typing import TYPE_CHECKING, Any

from ..judge import settings
from ..render.summary import table
from .support import (EXIT_DONE, EXIT_NOTHING_TO_JUDGE, CommandError, add_recording_arguments,
                      make_directory, read_failure, write)

if TYPE_CHECKING:
    import pandas as pd

SIGNAL_HEADER = ["system", "code", "samples", "mean C/N0", "complete"]


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers the `signals` subcommand on the CLI's subparsers."""
    signals = commands.add_parser(
        "signals", help="C/N0 and completeness per constellation and signal",
        description="Samples, mean C/N0 and completeness per constellation and S code, and how much of what was "
                    "observed the navigation data can position. Without --nav only the C/N0 columns are shown. "
                    f"Exit status {EXIT_NOTHING_TO_JUDGE} when the recording holds no C/N0 sample.")
    add_recording_arguments(signals, "the elevation mask, completeness and the navigation coverage")
    settings.add_arguments(signals, only=["min_elevation"])
    signals.add_argument("--json", metavar="FILE", help="write the tables as JSON to FILE")
    signals.add_argument("--plots", metavar="DIR", help="write C/N0-versus-elevation and completeness PNGs into DIR "
                                                        "(needs --nav and matplotlib)")
    signals.set_defaults(run=command_signals)


def _number(value: Any, decimals: int = 1, suffix: str = "") -> str:
    if value is None or value is _na() or (isinstance(value, float) and not math.isfinite(value)):
        return "-"
    return f"{value:.{decimals}f}{suffix}"


def _na() -> Any:
    import pandas as pd

    return pd.NA


def _records(frame: "pd.DataFrame") -> list[dict[str, Any]]:
    """JSON-ready rows: NaN and <NA> become null, numbers stay numbers."""
    rows = json.loads(frame.to_json(orient="records"))
    return rows if isinstance(rows, list) else []


def coverage_line(coverage: "pd.DataFrame") -> str:
    every = coverage[coverage.system == "all"].iloc[0]
    parts = [f"{row.system} {_number(row.percent, 1, '%')}" for row in coverage.itertuples()
             if row.system != "all" and row.predictable]
    line = f"Navigation     {_number(every.percent, 1, '%')} of observed satellite-epochs positioned"
    if parts:
        line += f" ({', '.join(parts)})"
    uncovered = list(every.uncovered_satellites)
    if uncovered:
        shown = ", ".join(uncovered[:12]) + (f" and {len(uncovered) - 12} more" if len(uncovered) > 12 else "")
        line += f"\n               no position at some epochs: {shown}"
    unpredictable = [str(row.system) for row in coverage.itertuples() if not row.predictable]
    if unpredictable:
        line += f"\n               not predictable from broadcast orbits: {', '.join(unpredictable)}"
    return line


def _table_failure(error: OSError | ValueError, obs: str, navs: list[str]) -> Exception:
    """A table's exception as the one line of every command: a file that cannot be read is named
    by the error when it says which, else the recording; content refused (a header without a
    receiver position) keeps the table's own words."""
    if isinstance(error, OSError):
        path = error.filename if isinstance(error.filename, str) else obs
        return read_failure(error, path, "navigation" if path in navs else "observation")
    return CommandError(str(error))


def command_signals(args: argparse.Namespace) -> int:
    if args.plots and not args.nav:
        raise CommandError("--plots needs --nav (the curves are C/N0 against elevation)")
    plot_error = None
    if args.plots:
        try:
            from ..render import signal_plots  # noqa: F401
        except ImportError as error:
            plot_error = str(error)
        if plot_error:
            raise CommandError(plot_error)
    from ..judge.selection import cut_epoch_warning
    from ..tables import signals as tables

    from ..tables import recording, roles

    try:
        # Every file read once; the tables share the recording and its satellite geometry.
        loaded = recording.load(args.obs, args.nav or [])
    except (roles.WrongRole, recording.RecordingError) as error:
        raise CommandError(str(error)) from None
    try:
        stats = tables.signal_stats(loaded, None, args.min_elevation)
        coverage = tables.navigation_coverage(loaded) if args.nav else None
        complete = tables.completeness(loaded, None, args.min_elevation) if args.nav else None
        profile = tables.cn0_elevation_profile(loaded) if args.nav and args.plots else None
    except (OSError, ValueError) as error:
        raise _table_failure(error, args.obs, args.nav or []) from None

    by_constellation = stats.by_constellation
    attrs = by_constellation.attrs
    print(f"Recording      {args.obs}")
    print(f"Station        {attrs['marker_name'] or '-'}")
    if attrs["obs_start"] is not None:
        print(f"Time span      {attrs['obs_start']} .. {attrs['obs_end']} ({attrs['epochs']} epochs)")
    cut = cut_epoch_warning(attrs)
    if cut is not None:
        print(f"Warning        {cut}")
    if coverage is not None:
        print(coverage_line(coverage))
    if complete is not None:
        missing = complete.attrs["missing_epochs"]
        print(f"Epochs         {complete.attrs['epochs_on_grid']} of {complete.attrs['grid_epochs']} on the "
              f"{_number(complete.attrs['interval'], 3).rstrip('0').rstrip('.')} s grid ({missing} missing)")
    if int(by_constellation.samples.sum()) == 0:
        print("\nNo C/N0 samples (no S observation above 0 dB-Hz"
              + (f" at or above {args.min_elevation:g} degrees" if args.nav else "") + ")")
        return EXIT_NOTHING_TO_JUDGE

    percent = {}
    if complete is not None:
        percent = {(row.system, row.code): row.percent for row in complete.itertuples()}
    rows = []
    for row in by_constellation.itertuples():
        rows.append([row.system, row.code, row.samples, _number(row.mean),
                     _number(percent.get((row.system, row.code)), 1, "%") if complete is not None else "-"])
    mask = f", mask {args.min_elevation:g} degrees" if args.nav else ""
    print(f"\nC/N0 per constellation and signal (dB-Hz{mask})")
    print("\n".join(table(rows, SIGNAL_HEADER)))

    written = []
    if args.json:
        document: dict[str, Any] = {
            "by_constellation": _records(by_constellation), "by_signal": _records(stats.by_signal),
            "coverage": _records(coverage) if coverage is not None else None,
            "completeness": _records(complete) if complete is not None else None,
        }
        write(args.json, json.dumps(document, indent=1))
        written.append(f"JSON           {args.json}")
    if args.plots and profile is not None and complete is not None:
        from ..render import signal_plots

        make_directory(args.plots)
        names = []
        for stem, png in signal_plots.render(profile, complete):
            write(os.path.join(args.plots, f"{stem}.png"), png)
            names.append(f"{stem}.png")
        written.append(f"Plots          {args.plots}: {', '.join(names) or 'none (no data to plot)'}")
    if written:
        print("", *written, sep="\n")
    return EXIT_DONE
