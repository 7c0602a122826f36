"""A recording loaded once, for every analysis, table and check of a command.

`load` reads each file's bytes from disk once, through the core's reader; checks each file's role
(observation or navigation) on those bytes; and parses them into one native `Recording`, which
holds the module's own `RinexObsData` and one `NavigationData` merged by the core from every
navigation file given (RINEX 2 per-constellation files and version 3 and 4 files alike). The
analysis, the detector, the health grade, coverage, the per-signal tables, QC and the plots take
that object, and its satellite geometry is computed once for all of them.
"""

from __future__ import annotations

import dataclasses

import os
import stat
from collections.abc import Sequence
from dataclasses import dataclass

from typing import TYPE_CHECKING

from .. import _native
from . import roles

if TYPE_CHECKING:
    import vardoln_cn0


class RecordingError(Exception):
    """A file that cannot be read or parsed; the message names the file ("PATH: Cannot read obs
    file: No such file or directory", "PATH: not a readable RINEX observation file (...)")."""


class OverBudget(RecordingError):
    """A file refused by the memory budget before it was read (or expanded) whole: `path` and
    `refusal`, the reason ("over the memory budget: the file has 3.0 GiB, ...")."""

    def __init__(self, path: str, refusal: str):
        super().__init__(f"{path}: {refusal}")
        self.path, self.refusal = path, refusal


def format_bytes(count: int) -> str:
    """A byte count for people: "512 bytes", "1.5 KiB", "3.0 GiB"."""
    value = float(count)
    for unit in ("bytes", "KiB", "MiB", "GiB"):
        if value < 1024 or unit == "GiB":
            return f"{count} bytes" if unit == "bytes" else f"{value:.1f} {unit}"
        value /= 1024
    raise AssertionError("unreachable")


def size_refusal(path: str, budget: int) -> str | None:
    """Why a regular file larger than the budget (bytes) is not read, or None (also for files that
    cannot be looked at, and for pipes: the reader deals with those)."""
    try:
        info = os.stat(path)
    except OSError:
        return None
    if stat.S_ISREG(info.st_mode) and info.st_size > budget:
        return (f"over the memory budget: the file has {format_bytes(info.st_size)}, "
                f"the budget is {format_bytes(budget)}")
    return None


def expansion_refusal(data: bytes, budget: int) -> str | None:
    """Why a file's archive layers (read already) are not expanded: they would pass the budget."""
    if roles.is_archived_bytes(data) and _native.budget_fit(data, budget) == "expansion":
        return f"over the memory budget: its archive expands past {format_bytes(budget)}"
    return None


@dataclass(frozen=True, eq=False)
class Loaded:
    """One recording loaded: its files, what each one is, and the native recording."""

    obs_path: str
    nav_paths: list[str]
    obs_kind: roles.FileKind
    native: _native.Recording
    obs_bytes: bytes  # an archived recording's bytes, kept for looking into it; empty otherwise

    def between(self, from_ns: int | None, to_ns: int | None) -> Loaded:
        """The epochs at or after `from_ns` and before `to_ns` (nanoseconds since 1970 on the
        epochs' own time scale; None: open) as a recording of their own, nothing read again."""
        return dataclasses.replace(self, native=self.native.between(from_ns, to_ns))

    def obs_inside_archive(self) -> roles.FileKind:
        """What an archived observation file holds, from its loaded bytes: raises roles.WrongRole
        when it is a navigation file or another file (as roles.check_observation does)."""
        import vardoln_cn0

        found = self.obs_kind
        if found.kind != "archive" or self.native.obs.obs_types_by_system():
            return found
        try:
            vardoln_cn0.read_navigation_bytes(self.obs_bytes)
        except (OSError, ValueError):
            inner = roles.FileKind("other", f"{found.text} of a RINEX file without observation types")
        else:
            inner = roles.FileKind("navigation", f"{found.text} of a RINEX {self.native.obs.version:.2f} "
                                                 "navigation file")
        raise roles.WrongRole(self.obs_path, inner, roles.OBSERVATION_EXPECTED)


def _read(path: str, role: str, budget: int | None) -> bytes:
    """The file's bytes, read once; with a memory budget, a file over it is refused unread and an
    archive that would expand past it is refused before it is expanded."""
    refusal = None if budget is None else size_refusal(path, budget)
    if refusal is not None:
        raise OverBudget(path, refusal)
    try:
        data = _native.read_file(path)
    except OSError as error:
        reason = os.strerror(error.errno) if error.errno else error.strerror or str(error)
        raise RecordingError(roles.cannot_read_text(path, role, reason)) from None
    refusal = None if budget is None else expansion_refusal(data, budget)
    if refusal is not None:
        raise OverBudget(path, refusal)
    return data


def _navigation_files(nav_paths: Sequence[str], budget: int | None) -> list[tuple[str, bytes]]:
    files = []
    for path in nav_paths:
        data = _read(path, "navigation", budget)
        found = roles.kind_of_bytes(data, look_into_archives=True)
        if found.kind in ("observation", "other"):
            raise roles.WrongRole(path, found, roles.NAVIGATION_EXPECTED)
        files.append((path, data))
    return files


def _parse_failure(error: ValueError, obs_path: str) -> RecordingError:
    path, role = getattr(error, "path", obs_path), getattr(error, "role", "observation")
    return RecordingError(roles.not_readable_text(path, role, getattr(error, "reason", error)))


def load(obs_path: str | os.PathLike[str], nav_paths: Sequence[str | os.PathLike[str]] = (),
         budget: int | None = None) -> Loaded:
    """The recording of an observation file and its navigation files (none, one, or several merged).

    Raises roles.WrongRole for a file in the wrong role (the observation file first; an archived
    recording is looked into only by its reader, see Loaded.obs_inside_archive), RecordingError
    for a file that cannot be read or parsed, and OverBudget for one the memory budget (bytes)
    refuses."""
    obs = os.fspath(obs_path)
    navs = [os.fspath(path) for path in nav_paths]
    obs_bytes = _read(obs, "observation", budget)
    obs_kind = roles.kind_of_bytes(obs_bytes, look_into_archives=False)
    if obs_kind.kind in ("navigation", "other"):
        raise roles.WrongRole(obs, obs_kind, roles.OBSERVATION_EXPECTED)
    nav_files = _navigation_files(navs, budget)
    try:
        native = _native.load((obs, obs_bytes), nav_files or None)
    except ValueError as error:
        raise _parse_failure(error, obs) from None
    return Loaded(obs, navs, obs_kind, native, obs_bytes if obs_kind.kind == "archive" else b"")


def navigation_data(path: str, budget: int | None = None) -> vardoln_cn0.NavigationData:
    """One navigation file read once, its role checked and parsed by the module's reader (for
    choosing among several: see with_navigation_data)."""
    import vardoln_cn0

    [(_, data)] = _navigation_files([path], budget)
    try:
        return vardoln_cn0.read_navigation_bytes(data)
    except ValueError as error:
        raise RecordingError(roles.not_readable_text(path, "navigation", error)) from None


def with_navigation_data(loaded: Loaded, nav_paths: Sequence[str],
                         navs: Sequence[vardoln_cn0.NavigationData]) -> Loaded:
    """The same observations with navigation data parsed already (several merged; none: without
    navigation data), nothing read."""
    native = _native.load(loaded.native.obs, None if not navs else navs[0] if len(navs) == 1 else list(navs))
    return Loaded(loaded.obs_path, list(nav_paths), loaded.obs_kind, native, loaded.obs_bytes)
