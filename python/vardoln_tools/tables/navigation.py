"""Navigation files for an analysis: several RINEX 3 (or 4) files merged into one.

Stations publish one navigation file per constellation and day (`_GN`, `_EN`, `_CN`), often
gzip-compressed; the analysis reads one file, so such a set is handed to it as one merged file:
the header of the first, then the records of all, written to a temporary file. Archive layers
are removed by the package's native reader, within the readers' own bounds. Only files of one
major version are merged: version 4 records (each behind a `>` marker line, with message types
of their own) are read with another layout than version 3 records.
"""

from __future__ import annotations

import contextlib
import os
import tempfile
from collections.abc import Iterator, Sequence

from .. import _native
from . import roles

END_OF_HEADER = "END OF HEADER"
# Column 40 of a version 3 or 4 navigation file's first line names its constellation; M is mixed.
SYSTEM_COLUMN = 40
MERGED_MAJOR_VERSIONS = (3, 4)


def _text(path: str) -> str:
    """The whole text of a navigation file, archive layers removed (OSError, ValueError)."""
    return _native.navigation_text(path).decode("latin-1")


def file_kind(path: str) -> roles.FileKind:
    """What a file is, looking into archives by expanding them (an unexpandable archive is
    "unreadable")."""
    found = roles.sniff(path)
    if found.kind != "archive":
        return found
    try:
        head = _text(path)[:roles.SNIFF_BYTES]
    except (OSError, ValueError) as error:
        return roles.FileKind("unreadable", f"{found.text} that cannot be read ({error})")
    inner = roles.sniff_text(head)
    return roles.FileKind(inner.kind, f"{found.text} of {inner.text}", inner.version)


def major_version(found: roles.FileKind) -> int | None:
    """The major version of a navigation file that is merged with others (3 or 4), else None."""
    if found.kind != "navigation":
        return None
    try:
        major = int(float(found.version))
    except ValueError:
        return None
    return major if major in MERGED_MAJOR_VERSIONS else None


def mergeable_version(path: str) -> int | None:
    """The major version of a RINEX 3 or 4 navigation file, plain or archived, whose records the
    readers take under any header of that version; None for any other file."""
    return major_version(file_kind(path))


def merge_refusal(paths: Sequence[str], kinds: Sequence[roles.FileKind] | None = None) -> str | None:
    """Why these navigation files (of these kinds, when known) cannot be merged into one, naming
    the file(s); None when they can. Unreadable files pass: their reader reports them."""
    first: tuple[str, roles.FileKind] | None = None
    for path, found in zip(paths, [file_kind(path) for path in paths] if kinds is None else kinds):
        if found.kind == "unreadable":
            continue
        if major_version(found) is None:
            return f"{path}: {found.text}; only RINEX 3 or 4 navigation files are merged, give this one alone"
        if first is None:
            first = path, found
        elif major_version(first[1]) != major_version(found):
            return (f"{first[0]}: {first[1].text}, and {path}: {found.text}; navigation files of RINEX 3 and "
                    "RINEX 4 lay out their records differently and are not merged, give files of one version")
    return None


def split(path: str, text: str) -> tuple[list[str], list[str]]:
    """The header lines (END OF HEADER included) and the record lines of a file's text."""
    lines = text.splitlines()
    for index, line in enumerate(lines):
        if line[60:].strip().startswith(END_OF_HEADER):
            return lines[:index + 1], lines[index + 1:]
    raise ValueError(f"{path}: No END OF HEADER found")


def merged_text(paths: Sequence[str]) -> str:
    """One navigation file of several of the same major version: the first file's header marked
    as mixed, then the records of every file in the order given. ValueError for a set that
    merge_refusal refuses, OSError or ValueError for a file that cannot be read."""
    texts = [_text(path) for path in paths]
    refusal = merge_refusal(paths, [roles.sniff_text(text[:roles.SNIFF_BYTES]) for text in texts])
    if refusal is not None:
        raise ValueError(refusal)
    header, body = split(paths[0], texts[0])
    version = header[0]
    if len(version) > SYSTEM_COLUMN:
        header[0] = version[:SYSTEM_COLUMN] + "M: MIXED".ljust(20) + version[SYSTEM_COLUMN + 20:]
    records = [*body]
    for path, text in zip(paths[1:], texts[1:]):
        records += split(path, text)[1]
    return "\n".join([*header, *records]) + "\n"


@contextlib.contextmanager
def navigation_file(paths: Sequence[str]) -> Iterator[str | None]:
    """The one navigation path an analysis reads: None for none, the file itself for one, a
    temporary merged file for several (removed on exit)."""
    if not paths:
        yield None
        return
    if len(paths) == 1:
        yield paths[0]
        return
    handle, merged = tempfile.mkstemp(prefix="vardoln-nav-", suffix=".rnx")
    try:
        with os.fdopen(handle, "w", encoding="latin-1", newline="\n") as out:
            out.write(merged_text(paths))
        yield merged
    finally:
        os.unlink(merged)
