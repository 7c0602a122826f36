"""What a file is, read from its header rather than its name: observation or navigation data.

Plain files are judged by their first header line ("RINEX VERSION / TYPE" or the compact-RINEX
line). A gzip or Unix-compress archive is opened through the module's own readers, which expand
every archive layer, so that nothing here reads an archive format itself.
"""

from __future__ import annotations

import os
from dataclasses import dataclass
from typing import Literal

Kind = Literal["observation", "navigation", "other", "archive", "unreadable"]

# Enough for the first header lines; a header line is 80 characters.
SNIFF_BYTES = 4096
HEADER_LINES_SEARCHED = 40
GZIP_MAGIC = b"\x1f\x8b"
COMPRESS_MAGIC = b"\x1f\x9d"
# File types of the version line (column 20) that are broadcast navigation data: RINEX 3 and 4
# write N for every constellation; RINEX 2 uses one letter per constellation.
NAVIGATION_TYPES = "NGHELJQ"
OTHER_TYPES = {"M": "meteorological data", "C": "clock data"}


@dataclass(frozen=True)
class FileKind:
    """What a file holds: `kind`, and a phrase naming it for messages ("a RINEX 3.04 navigation file")."""

    kind: Kind
    text: str
    version: str = ""  # the RINEX version as the header writes it ("3.05"); empty when unknown


def _version_line(line: str) -> FileKind | None:
    label = line[60:].strip()
    if label.startswith("CRINEX VERS"):
        return FileKind("observation", "a compact RINEX (Hatanaka) observation file")
    if "RINEX VERSION" not in label:
        return None
    written = line[:9].strip()
    version = written or "?"
    file_type = line[20:21].upper()
    if file_type == "O":
        return FileKind("observation", f"a RINEX {version} observation file", written)
    if file_type in NAVIGATION_TYPES or "NAV" in line[20:60].upper():
        return FileKind("navigation", f"a RINEX {version} navigation file", written)
    what = OTHER_TYPES.get(file_type, f"file type {file_type!r}" if file_type.strip() else "no file type")
    return FileKind("other", f"a RINEX {version} file of {what}", written)


def sniff(path: str | os.PathLike[str]) -> FileKind:
    """The kind of a file from its first bytes; archives come back as kind "archive" (see resolve)."""
    try:
        with open(path, "rb") as source:
            head = source.read(SNIFF_BYTES)
    except OSError as error:
        return FileKind("unreadable", error.strerror or str(error))
    return sniff_bytes(head)


def sniff_bytes(head: bytes) -> FileKind:
    """The kind of a file from its first bytes (read already); archives come back as kind "archive"."""
    head = head[:SNIFF_BYTES]
    if head.startswith(GZIP_MAGIC):
        return FileKind("archive", "a gzip archive")
    if head.startswith(COMPRESS_MAGIC):
        return FileKind("archive", "a Unix-compress archive")
    return sniff_text(head.decode("latin-1"))


def sniff_text(head: str) -> FileKind:
    """The kind of a plain (not archived) file from its first lines."""
    for line in head.splitlines()[:HEADER_LINES_SEARCHED]:
        found = _version_line(line)
        if found is not None:
            return found
        if line[60:].strip().startswith("END OF HEADER"):
            break
    if not head:
        return FileKind("other", "an empty file")
    return FileKind("other", "not a RINEX file")


def is_archived_bytes(head: bytes) -> bool:
    """Whether a file's bytes start with a layer that the readers expand: gzip, Unix compress or
    compact RINEX."""
    first_line = head[:SNIFF_BYTES].split(b"\n", 1)[0].decode("latin-1")
    return head.startswith((GZIP_MAGIC, COMPRESS_MAGIC)) or first_line[60:].strip().startswith("CRINEX VERS")


def is_archived(path: str | os.PathLike[str]) -> bool:
    """Whether a file starts with a layer that the readers expand: gzip, Unix compress or compact RINEX."""
    try:
        with open(path, "rb") as source:
            head = source.read(SNIFF_BYTES)
    except OSError:
        return False
    first_line = head.split(b"\n", 1)[0].decode("latin-1")
    return head.startswith((GZIP_MAGIC, COMPRESS_MAGIC)) or first_line[60:].strip().startswith("CRINEX VERS")


def resolve(path: str | os.PathLike[str], sniffed: FileKind | None = None) -> FileKind:
    """The kind of a file, looking into archives through the module's readers: an observation
    header declares observation types, a navigation file does not and reads as navigation."""
    sniffed = sniff(path) if sniffed is None else sniffed
    if sniffed.kind != "archive":
        return sniffed
    import vardoln_cn0

    text = os.fspath(path)
    try:
        obs = vardoln_cn0.read_rinex_obs(text)
    except (OSError, ValueError) as error:
        return FileKind("unreadable", f"{sniffed.text} that cannot be read ({error})")
    if obs.obs_types_by_system():
        return FileKind("observation", f"{sniffed.text} of a RINEX {obs.version:.2f} observation file")
    try:
        vardoln_cn0.read_navigation(text)
    except (OSError, ValueError):
        return FileKind("other", f"{sniffed.text} of a RINEX file without observation types")
    return FileKind("navigation", f"{sniffed.text} of a RINEX {obs.version:.2f} navigation file")


# The word for each role in the one line about a file that cannot be read, as the analysis writes it.
ROLE_WORDS = {"observation": "obs", "navigation": "nav"}


def cannot_read_text(path: str, role: str, reason: str) -> str:
    """The one line about a file of a role ("observation" or "navigation") that cannot be read:
    "PATH: Cannot read obs file: No such file or directory"."""
    return f"{path}: Cannot read {ROLE_WORDS[role]} file: {reason}"


def not_readable_text(path: str, role: str, error: object) -> str:
    """The one line about a file that opens but does not read as a file of its role:
    "PATH: not a readable RINEX observation file (No END OF HEADER found)"."""
    return f"{path}: not a readable RINEX {role} file ({error})"


class WrongRole(Exception):
    """A file given where a file of another kind was expected; the message names both."""

    def __init__(self, path: str, found: FileKind, expected: str):
        super().__init__(f"{path}: {found.text}, expected {expected}")
        self.path, self.found, self.expected = path, found, expected


OBSERVATION_EXPECTED = "a RINEX observation file (or compact RINEX)"
NAVIGATION_EXPECTED = "a RINEX navigation file"


def check_observation(path: str, resolve_archives: bool = True) -> FileKind:
    """Raises WrongRole unless the file is an observation file. An unreadable file passes, so that
    the reader reports its own error; an archive passes unopened when resolve_archives is False."""
    found = sniff(path)
    if found.kind == "archive" and resolve_archives:
        found = resolve(path, found)
    if found.kind in ("navigation", "other"):
        raise WrongRole(path, found, OBSERVATION_EXPECTED)
    return found


def kind_of_bytes(data: bytes, look_into_archives: bool) -> FileKind:
    """The kind of a file from its bytes (read already), looking into gzip and Unix-compress
    archives by expanding them in memory when asked (an unexpandable archive is "unreadable")."""
    found = sniff_bytes(data)
    if found.kind != "archive" or not look_into_archives:
        return found
    from .. import _native

    try:
        text = _native.navigation_text(data)
    except (OSError, ValueError) as error:
        return FileKind("unreadable", f"{found.text} that cannot be read ({error})")
    inner = sniff_text(text[:SNIFF_BYTES].decode("latin-1"))
    return FileKind(inner.kind, f"{found.text} of {inner.text}", inner.version)


def check_navigation(path: str) -> FileKind:
    """Raises WrongRole unless the file is a navigation file (archives are looked into). An
    unreadable file passes, so that the reader reports its own error."""
    found = resolve(path)
    if found.kind in ("observation", "other"):
        raise WrongRole(path, found, NAVIGATION_EXPECTED)
    return found
