"""What every subcommand of vardoln-cn0 shares: the exit statuses (each defined once, here, with
the text --help shows), the one-line errors, the checks of the files given (role and readability,
worded alike everywhere), the recording arguments and the writing of outputs. The command modules
and the parser (`cli`) import it; it imports none of them."""

from __future__ import annotations

import argparse
import contextlib
import importlib.util
import os
import signal
from collections.abc import Callable, Iterable, Iterator, Mapping
from types import ModuleType
from typing import TYPE_CHECKING, TypeVar

from ..tables import roles

if TYPE_CHECKING:
    from ..history import Store

T = TypeVar("T")

# Exit statuses, as documented in --help and docs/cli.md.
EXIT_DONE = 0
EXIT_ERROR = 1
EXIT_USAGE = 2  # argparse's own
EXIT_NOTHING_TO_JUDGE = 3
EXIT_BY_SIGNAL = 128  # plus the signal's number: 130 for SIGINT, 143 for SIGTERM
EXIT_INTERRUPTED = EXIT_BY_SIGNAL + signal.SIGINT

# What each status means for a command that judges one recording; a command whose statuses mean
# more (or other) things gives its own wording of the same statuses to exit_statuses_text.
EXIT_MEANINGS: Mapping[int, str] = {
    EXIT_DONE: "done",
    EXIT_ERROR: "error: a file that cannot be read, or a file in the wrong role (an observation file where a\n"
                "navigation file belongs, or the other way round)",
    EXIT_USAGE: "usage error (bad options)",
    EXIT_NOTHING_TO_JUDGE: "nothing to judge: the recording has no signal-strength (C/N0) samples",
}


def exit_statuses_text(meanings: Mapping[int, str] = EXIT_MEANINGS) -> str:
    """The "exit status:" epilog of --help: one status a line (a meaning's own line breaks go on
    under its text), the statuses in one column."""
    width = max(len(str(status)) for status in meanings)
    lines = ["exit status:"]
    for status, meaning in meanings.items():
        first, *more = meaning.split("\n")
        lines.append(f"  {status:<{width}}  {first}")
        lines += [" " * (width + 4) + line for line in more]
    return "\n".join(lines)


OBS_HELP = "RINEX observation file (version 2, 3 or 4, also compact RINEX and gzip or Unix-compress archives)"


class CommandError(Exception):
    """A failure reported to the user as one line on stderr."""


class NothingToJudgeExit(Exception):
    """A recording without samples: one line on stderr, exit status EXIT_NOTHING_TO_JUDGE."""


def extension() -> ModuleType:
    """The compiled module, imported late so that --help works without it."""
    try:
        import vardoln_cn0
    except ImportError as error:
        raise CommandError(f"the vardoln_cn0 extension module is not installed ({error})") from None
    module: ModuleType = vardoln_cn0
    return module


# ---------------------------------------------------------------------------------------------------
# The files given

def check_files(obs_path: str | None = None, nav_paths: Iterable[str] = ()) -> None:
    """Refuses, as one CommandError line, a file in the wrong role ("PATH: a RINEX 3.05 navigation
    file, expected a RINEX observation file (or compact RINEX)") and a file that cannot be opened
    ("PATH: Cannot read obs file: No such file or directory"), the observation file first. An
    archived recording is looked into only by its reader (see roles.check_observation)."""
    checks: list[tuple[str, str]] = [] if obs_path is None else [(obs_path, "observation")]
    checks += [(path, "navigation") for path in nav_paths]
    for path, role in checks:
        try:
            found = (roles.check_observation(path, resolve_archives=False) if role == "observation"
                     else roles.check_navigation(path))
        except roles.WrongRole as error:
            raise CommandError(str(error)) from None
        if found.kind == "unreadable":
            raise CommandError(roles.cannot_read_text(path, role, found.text))


def read_failure(error: OSError | ValueError, path: str, role: str) -> CommandError:
    """A reader's exception about a file of a role ("observation" or "navigation"), worded as
    check_files words its refusals."""
    if isinstance(error, OSError):
        return CommandError(roles.cannot_read_text(path, role, error.strerror or str(error)))
    return CommandError(roles.not_readable_text(path, role, error))


def read_checked(function: Callable[[str], T], path: str, role: str) -> T:
    """Runs a reader on a file of a role ("observation" or "navigation") after the checks that every
    command makes, and turns its exceptions into the same one line naming the file."""
    if role == "observation":
        check_files(path)
    else:
        check_files(None, [path])
    try:
        return function(path)
    except (OSError, ValueError) as error:
        raise read_failure(error, path, role) from None


def add_recording_arguments(parser: argparse.ArgumentParser, navigation_use: str) -> None:
    """The recording (OBS) and its navigation files (--nav, repeatable) of a command that judges one."""
    parser.add_argument("obs", metavar="OBS", help=OBS_HELP)
    parser.add_argument("--nav", metavar="NAV", action="append",
                        help=f"RINEX navigation file of the same day, for {navigation_use}; repeat it for one file "
                             "per constellation (RINEX 3 or 4 files of one version, merged as one)")


# ---------------------------------------------------------------------------------------------------
# Outputs

def check_plotting() -> str | None:
    """None when matplotlib can be imported, else why plots cannot be drawn (found without
    importing it, so that a command fails before its analysis rather than after it)."""
    from ..render.plot_data import NEEDS_MATPLOTLIB

    return NEEDS_MATPLOTLIB if importlib.util.find_spec("matplotlib") is None else None


def make_directory(path: str) -> None:
    try:
        os.makedirs(path, exist_ok=True)
    except OSError as error:
        raise CommandError(f"cannot create directory {path}: {error.strerror or error}") from None


def write(path: str, content: str | bytes) -> None:
    try:
        if isinstance(content, bytes):
            with open(path, "wb") as out:
                out.write(content)
        else:
            with open(path, "w", encoding="utf-8") as out:
                out.write(content)
    except OSError as error:
        raise CommandError(f"cannot write {path}: {error.strerror or error}") from None


def write_plots(directory: str, images: list[tuple[str, str, bytes]], when_none: str) -> str:
    """Writes (stem, title, PNG) images as DIRECTORY/stem.png; the summary line naming them."""
    make_directory(directory)
    for stem, _, png in images:
        write(os.path.join(directory, f"{stem}.png"), png)
    names = ", ".join(f"{stem}.png" for stem, _, _ in images) or when_none
    return f"Plots          {directory}: {names}"


# ---------------------------------------------------------------------------------------------------
# The station history

def add_store_arguments(parser: argparse.ArgumentParser, what: str = "the recording") -> None:
    """--store and --station of a command whose results the station history keeps."""
    group = parser.add_argument_group("station history")
    group.add_argument("--store", metavar="FILE",
                       help=f"keep {what} in the station history store FILE (SQLite; made when missing): "
                            "equipment, figures per signal, events, grade; see `vardoln-cn0 trends`")
    group.add_argument("--station", metavar="NAME",
                       help="the station's name in the store (default: the first four characters of MARKER NAME, "
                            "or of the file name)")


@contextlib.contextmanager
def store_of(args: argparse.Namespace) -> Iterator[Store | None]:
    """The store of --store, opened (made when missing) before any work, so that a refused file
    stops the command before it starts, and closed at the end; None without --store."""
    if not getattr(args, "store", None):
        yield None
        return
    from ..history import Store, StoreError

    try:
        store = Store(args.store)
    except StoreError as error:
        raise CommandError(str(error)) from None
    with store:
        yield store


def existing_store(path: str) -> Store:
    """A store to read (trends, dashboard, export): a file that is none is the command's error."""
    from ..history import StoreError, open_store

    try:
        return open_store(path)
    except StoreError as error:
        raise CommandError(str(error)) from None
