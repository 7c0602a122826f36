"""Which station a recording belongs to: one rule for every file naming and stream, so that the
short names, the long names and a station's live windows all land in one series."""

from __future__ import annotations

import os
import re
from dataclasses import dataclass

# A long file name starts with the nine-character identifier: station, monument and receiver
# digits, country code (NYA100NOR_S_20241240000_01D_30S_MO.crx.gz).
_LONG_NAME = re.compile(r"^([A-Za-z0-9]{4}[0-9]{2}[A-Za-z]{3})_")


@dataclass(frozen=True)
class Identity:
    station: str  # four characters, upper case: the key of the station's series
    identifier: str | None  # NYA100NOR, where the file name carries one
    marker_name: str  # as the header (or the stream) gives it


def _four(text: str) -> str | None:
    head = text[:4].upper()
    return head if len(head) == 4 and head.isascii() and head.isalnum() else None


def station_identity(marker_name: str, source: str, override: str | None = None) -> Identity:
    """The station of a recording: `override` when given (upper-cased); else the first four
    characters of MARKER NAME, upper-cased, when they are four letters or digits; else the first
    four characters of the file name (of `source`, a path or a stream's name)."""
    name = os.path.basename(source)
    long_name = _LONG_NAME.match(name)
    identifier = long_name.group(1).upper() if long_name else None
    marker = marker_name.strip()
    if override:
        station = override.strip().upper()
    else:
        station = _four(marker) or name[:4].upper() or "----"
    return Identity(station, identifier, marker)
