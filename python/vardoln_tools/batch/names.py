"""Standard RINEX file names (the station, day and kind they give) and the recordings among the
paths given to a batch."""

from __future__ import annotations

import os
import re
from collections.abc import Sequence
from pathlib import Path
from typing import NamedTuple

from ..tables import roles

# RINEX 3 long names: SSSSMRCCC_K_YYYYDDDHHMM_PPU[_FFU]_DT.rnx, DT = constellation + O/N/M.
_LONG_NAME = re.compile(
    r"(?P<station>[A-Z0-9]{4})[0-9]{2}[A-Z]{3}_[A-Z]_(?P<year>\d{4})(?P<doy>\d{3})\d{4}"
    r"_\d{2}[A-Z](?:_\d{2}[A-Z])?_(?P<system>[A-Z])(?P<type>[A-Z])\.(?:rnx|crx)(?:\.gz|\.z)?", re.IGNORECASE)
# RINEX 2 (and RINEX 3 short) names: ssssdddf[mm].yyt; hourly files add two minute digits.
_SHORT_NAME = re.compile(
    r"(?P<station>[A-Z0-9]{4})(?P<doy>\d{3})[A-X0-9](?:\d{2})?\.(?P<yy>\d{2})(?P<type>[A-Z])(?:\.gz|\.z)?",
    re.IGNORECASE)
# Short-name file types: observation (d = Hatanaka) and the broadcast navigation kinds ("M" = mixed).
_SHORT_OBS_TYPES = "od"
_SHORT_NAV_SYSTEM = {"p": "M", "n": "G", "g": "R", "l": "E", "e": "E", "f": "C", "q": "J", "i": "I", "h": "S"}


class NameFacts(NamedTuple):
    """What a standard RINEX file name says."""

    station: str  # lower case
    year: int
    doy: int  # day of year
    kind: str  # "obs" or "nav"
    system: str  # constellation letter, "M" for mixed


def name_facts(name: str) -> NameFacts | None:
    """The facts of a standard RINEX file name, or None."""
    long = _LONG_NAME.fullmatch(name)
    if long:
        kind = {"O": "obs", "N": "nav"}.get(long["type"].upper())
        if kind is None:
            return None
        return NameFacts(long["station"].lower(), int(long["year"]), int(long["doy"]), kind, long["system"].upper())
    short = _SHORT_NAME.fullmatch(name)
    if short:
        # RINEX 2 years have two digits: 80-99 are 1980-1999, the rest 2000-2079
        two_digits = int(short["yy"])
        year = two_digits + (1900 if two_digits >= 80 else 2000)
        file_type = short["type"].lower()
        if file_type in _SHORT_OBS_TYPES:
            return NameFacts(short["station"].lower(), year, int(short["doy"]), "obs", "M")
        system = _SHORT_NAV_SYSTEM.get(file_type)
        if system is not None:
            return NameFacts(short["station"].lower(), year, int(short["doy"]), "nav", system)
    return None


def is_observation_name(name: str) -> bool:
    """True for standard RINEX observation file names, and for names ending in .obs."""
    facts = name_facts(name)
    return (facts is not None and facts.kind == "obs") or name.lower().endswith(".obs")


def is_recording(path: Path) -> bool:
    """Whether a directory entry looks like a recording, by its name or its first bytes (an archive
    is looked into; one that cannot be read counts, so that it gets an error row)."""
    if is_observation_name(path.name):
        return True
    found = roles.sniff(path)
    if found.kind == "archive":
        found = roles.resolve(path, found)
    return found.kind in ("observation", "unreadable")


def expand_paths(paths: Sequence[str]) -> tuple[list[str], int]:
    """The recordings of the given paths (directories scanned, files taken as they are) and the
    number of directory entries skipped as no recording."""
    expanded: list[str] = []
    skipped = 0
    for path in paths:
        if not os.path.isdir(path):
            expanded.append(path)
            continue
        for entry in sorted(Path(path).iterdir()):
            if not entry.is_file():
                continue
            if is_recording(entry):
                expanded.append(str(entry))
            else:
                skipped += 1
    return expanded, skipped
