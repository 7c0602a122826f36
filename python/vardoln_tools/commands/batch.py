"""The `vardoln-cn0 batch` subcommand: many recordings analysed into one table, the rows written
as they finish, a stopped batch continued with --resume."""

from __future__ import annotations

import argparse
import os
import re
import signal
import sys
from collections.abc import Mapping, Sequence
from pathlib import Path
from types import FrameType
from typing import TYPE_CHECKING, Any

from ..judge import settings
from .support import (EXIT_BY_SIGNAL, EXIT_DONE, EXIT_ERROR, EXIT_NOTHING_TO_JUDGE, EXIT_USAGE, CommandError,
                      add_store_arguments, exit_statuses_text, store_of)

if TYPE_CHECKING:
    import vardoln_cn0

    from ..batch.rows import ColumnGroup

    from ..history import Store

# The statuses of support, worded for a batch of many recordings.
BATCH_EXIT_MEANINGS = {
    EXIT_DONE: "at least one file analysed and none failed",
    EXIT_ERROR: "a file failed (an error row), or no recording found",
    EXIT_USAGE: "usage error (bad options), or a --resume refused",
    EXIT_NOTHING_TO_JUDGE: "nothing to judge: no file had signal-strength (C/N0) samples",
    EXIT_BY_SIGNAL + signal.SIGINT: f"stopped by SIGINT (Ctrl-C), {EXIT_BY_SIGNAL + signal.SIGTERM} stopped by "
                                    "SIGTERM: the finished rows are in the\noutput files, which --resume continues",
}


def exit_status(rows: Sequence[Mapping[str, Any]]) -> int:
    """EXIT_DONE when a file was analysed and none failed, EXIT_ERROR when any failed (or there was
    none), EXIT_NOTHING_TO_JUDGE when every file had nothing to judge."""
    from ..batch.rows import FAILED, NOTHING_TO_JUDGE

    statuses = [row["status"] for row in rows]
    if FAILED in statuses or not statuses:
        return EXIT_ERROR
    if all(status == NOTHING_TO_JUDGE for status in statuses):
        return EXIT_NOTHING_TO_JUDGE
    return EXIT_DONE


def parse_size(text: str) -> int:
    """A byte count from the command line: 1000, 64K, 512M, 2G, 1.5GiB (powers of 1024)."""
    match = re.fullmatch(r"\s*(\d+(?:\.\d*)?)\s*([KMGT]?)(?:i?B)?\s*", text, re.IGNORECASE)
    if match is None or float(match[1]) <= 0:
        raise argparse.ArgumentTypeError(f"not a size: {text!r} (examples: 500M, 2G, 1000000)")
    return int(float(match[1]) * 1024 ** " KMGT".index(match[2].upper() or " "))


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers the `batch` subcommand on the CLI's subparsers."""
    batch = commands.add_parser(
        "batch", help="analyse many recordings into one table",
        description="Analyse many RINEX observation files on all cores or on a Dask cluster; one row per\n"
                    "file, judged as `analyze` judges it.",
        epilog=exit_statuses_text(BATCH_EXIT_MEANINGS),
        formatter_class=argparse.RawDescriptionHelpFormatter)
    batch.add_argument("paths", nargs="+", metavar="PATHS",
                       help="observation files, or directories whose recordings are taken (by name, or by a "
                            "RINEX observation or compact RINEX header, also inside an archive)")
    batch.add_argument("--nav-dir", metavar="DIR",
                       help="directory of navigation files: each recording gets, among the files of its day, the "
                            "data that cover its observed satellites best")
    batch.add_argument("--workers", metavar="N", type=settings.count,
                       help="worker processes (default: number of cores)")
    batch.add_argument("--threads", action="store_true",
                       help="analyse in threads of this process instead of worker processes (a native fault "
                            "then ends the batch)")
    batch.add_argument("--scheduler", metavar="ADDRESS", help="run on the Dask cluster at ADDRESS")
    batch.add_argument("--csv", metavar="FILE", help="write the rows as CSV to FILE")
    batch.add_argument("--jsonl", metavar="FILE", help="write the rows as JSON lines to FILE")
    batch.add_argument("--parquet", metavar="FILE",
                       help="also write the rows as Parquet to FILE at the end (needs --jsonl and pyarrow)")
    batch.add_argument("--resume", action="store_true",
                       help="keep the rows already in the --jsonl/--csv output and analyse only the recordings "
                            "without one; refused when the output was written with other settings. With --store: "
                            "also skip the recordings the store holds with the same settings")
    batch.add_argument("--memory-budget", metavar="SIZE", type=parse_size,
                       help="refuse a recording whose file is larger, or whose archive expands past SIZE "
                            "(e.g. 2G; default: a quarter of the machine's memory)")
    batch.add_argument("--no-progress", action="store_true", help="no progress bar on stderr")
    batch.add_argument("--qc", action="store_true",
                       help="add the station quality control per constellation to every row: multipath RMS per "
                            "signal pair (mp_L1_L2_GPS, ...), completeness_<system>, phase_slips_<system> and "
                            "obs_per_slip_<system>")
    settings.add_arguments(batch)
    add_store_arguments(batch, "every recording")
    batch.add_argument("--report-dir", metavar="DIR",
                       help="write one HTML report per recording into DIR, named by station and day "
                            "(NYA1_2024-05-03.html); the dashboard links to them")
    # The parser goes along so that checks across options end as argparse's own usage errors.
    batch.set_defaults(run=command_batch, parser=batch)


class _SignalStop:
    """While entered, SIGINT and SIGTERM ask the batch to stop instead of ending the process; the
    instance is true once one came (its number in `signal_number`)."""

    def __init__(self) -> None:
        self.signal_number: int | None = None
        self._previous: dict[int, Any] = {}

    def _record(self, number: int, frame: FrameType | None) -> None:
        if self.signal_number is None:
            self.signal_number = number

    def __call__(self) -> bool:
        return self.signal_number is not None

    def __enter__(self) -> _SignalStop:
        for number in (signal.SIGINT, signal.SIGTERM):
            self._previous[number] = signal.signal(number, self._record)
        return self

    def __exit__(self, *exc: object) -> None:
        for number, handler in self._previous.items():
            signal.signal(number, handler)


def _batch_settings(args: argparse.Namespace, config: vardoln_cn0.AnalysisConfig, budget: int,
                    groups: Sequence[ColumnGroup], detector: settings.DetectorSettings) -> dict[str, Any]:
    """What shapes a row, as recorded beside the outputs and compared by --resume."""
    from ..batch.config import config_to_dict
    from ..batch.rows import fixed_columns

    return {"analysis": config_to_dict(config), "detector": detector.as_dict(), "memory_budget": budget,
            "nav_dir": None if args.nav_dir is None else os.path.abspath(args.nav_dir),
            "column_groups": [group.name for group in groups], "columns": fixed_columns(groups)}


def command_batch(args: argparse.Namespace) -> int:
    """The batch subcommand: failures to start or to write end as the command line's one-line errors
    (CommandError), option conflicts as its usage errors."""
    # The batch machinery (pandas among it) is loaded only when a batch runs: `vardoln-cn0 --help`
    # and the other subcommands start without it.
    from ..batch.names import expand_paths

    paths, skipped = expand_paths(args.paths)
    if not paths:
        raise CommandError(f"no recordings found ({skipped} files skipped: not recordings)")
    if args.parquet and not args.jsonl:
        args.parser.error("--parquet needs --jsonl: the Parquet file is made from its rows")
    if args.resume and not (args.jsonl or args.csv or args.store):
        args.parser.error("--resume needs the --jsonl or --csv output or the --store to continue")
    with store_of(args) as store:
        return _batch(args, paths, skipped, store)


def _batch(args: argparse.Namespace, paths: list[str], skipped: int, store: Store | None) -> int:
    from ..batch import rowfiles, workers
    from ..batch.memory import default_memory_budget
    from ..batch.qc_columns import qc_group
    from ..batch.rows import fixed_columns
    from ..batch.runners import analyze_iter
    from ..batch.table import counts_line, format_table
    from ..history.keeping import ENTRY_KEY, Keeping
    from ..judge.assessment import created_now

    config = settings.from_arguments(args)
    detector = settings.detector_from_arguments(args)
    budget = default_memory_budget() if args.memory_budget is None else args.memory_budget
    groups = [qc_group(args.min_elevation)] if args.qc else []
    names = fixed_columns(groups)
    try:
        files = rowfiles.BatchFiles(args.jsonl, args.csv, names, _batch_settings(args, config, budget, groups, detector),
                                    args.resume)
    except rowfiles.ResumeRefused as refused:
        print(f"vardoln-cn0: error: {refused}", file=sys.stderr)
        return EXIT_USAGE
    except OSError as error:
        raise CommandError(str(error)) from None
    done = {os.path.abspath(row["path"]): row for row in files.rows}
    kept_settings = settings.judged_settings(config, detector)
    keeping = None if store is None and args.report_dir is None else Keeping(kept_settings, args.station,
                                                                              args.report_dir)
    stored: set[str] = set()
    if store is not None and args.resume:
        from ..history.entry import settings_key

        stored = store.stored_sources(settings_key(kept_settings))

    def finished(path: str) -> bool:
        full = os.path.abspath(path)
        return (not (args.jsonl or args.csv) or full in done) and (store is None or full in stored)

    todo = [path for path in paths if not finished(path)] if args.resume else \
        [path for path in paths if os.path.abspath(path) not in done]
    if args.resume and len(todo) < len(paths):
        print(f"vardoln-cn0: resuming: {len(paths) - len(todo)} of {len(paths)} recordings already done",
              file=sys.stderr)
    try:
        with _SignalStop() as stop:
            try:
                for row in analyze_iter(todo, nav_dir=args.nav_dir, config=config, workers=args.workers,
                                        scheduler=args.scheduler, progress=not args.no_progress, threads=args.threads,
                                        memory_budget=budget, groups=groups, stop=stop, detector=detector,
                                        keeping=keeping):
                    entry = row.pop(ENTRY_KEY, None)
                    if store is not None and entry is not None:
                        store.write(entry, created_now())
                    files.write(row)
                    done[os.path.abspath(row["path"])] = row
            except workers.Stopped:
                files.close()
                number = stop.signal_number or signal.SIGINT
                left = sum(os.path.abspath(path) not in done for path in paths)
                kept = f"; the finished rows are in {args.jsonl or args.csv}, and --resume analyses the rest" \
                    if args.jsonl or args.csv else ""
                print(f"\nvardoln-cn0: stopped by {signal.Signals(number).name}: {left} of {len(paths)} recordings "
                      f"left{kept}", file=sys.stderr)
                return EXIT_BY_SIGNAL + number
        files.close()
        # Complete: the outputs are put in the order of the recordings given (rows of other
        # recordings, kept from an earlier run, first).
        rows = [done[os.path.abspath(path)] for path in paths if os.path.abspath(path) in done]
        given = {os.path.abspath(path) for path in paths}
        files.rewrite([row for row in files.rows if os.path.abspath(row["path"]) not in given] + rows)
        if args.parquet:
            rowfiles.write_parquet(rowfiles.read_jsonl_rows(Path(args.jsonl)), names, args.parquet)
    except (OSError, ImportError) as error:
        files.close()
        raise CommandError(str(error)) from None
    if not rows:
        print("vardoln-cn0: nothing left to analyse", file=sys.stderr)
        return EXIT_DONE
    print(format_table(rows))
    print(counts_line(rows, skipped))
    return exit_status(rows)
