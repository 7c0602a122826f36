"""Episodes written into copies of real recordings: the C/N0 (S) values of chosen bands lowered by
some dB over a window, values that fall below what a receiver keeps blanked, or set to one raised
level as a spoofer would. Works on the plain text of RINEX 2 and 3 (archives and compact RINEX are
expanded first); the bands come from the detector's own table.
"""

from __future__ import annotations

import datetime
import math
import random
import re
from collections.abc import Collection
from dataclasses import dataclass
from pathlib import Path

from vardoln_tools import _native

FIELD = 16  # one observation: 14 value columns, loss-of-lock and signal-strength digits
BLANK = " " * FIELD
# A RINEX 2 epoch line: two-digit year, month, day, hour, minute, seconds, flag, satellite count.
EPOCH2 = re.compile(r"^ [ \d]\d [ \d]\d [ \d]\d [ \d]\d [ \d]\d[ \d]{2}\d\.\d{7}  [0-6][ \d]{2}\d")


@dataclass
class Episode:
    """What to change: `start` <= epoch < `end` (naive datetimes, as the file writes them)."""

    start: datetime.datetime
    end: datetime.datetime
    bands: Collection[str] = ("L1",)
    drop_db: float = 0.0
    floor_db: float = 25.0  # values below this after the drop are blanked, as a receiver loses them
    satellites: Collection[str] | None = None  # None: every satellite
    spoof_level_db: float | None = None  # set every value to this level (plus a little spread) instead
    spoof_spread_db: float = 0.8
    seed: int = 0


def _records_start(lines: list[str]) -> int:
    for index, line in enumerate(lines):
        if line[60:].strip() == "END OF HEADER":
            return index + 1
    raise ValueError("no END OF HEADER")


class _Editor:
    def __init__(self, version: float, episode: Episode):
        self.version, self.episode = version, episode
        self.random = random.Random(episode.seed)
        self.touched_epochs: list[datetime.datetime] = []

    def changes(self, letter: str, code: str) -> bool:
        return code.startswith("S") and _native.band(letter, code, self.version) in self.episode.bands

    def field(self, text: str) -> str:
        """One 16-column field, changed."""
        text = text.ljust(FIELD)
        try:
            value = float(text[:14])
        except ValueError:
            return text
        if value == 0.0:
            return text
        episode = self.episode
        if episode.spoof_level_db is not None:
            value = episode.spoof_level_db + self.random.uniform(-0.5, 0.5) * episode.spoof_spread_db
        else:
            value -= episode.drop_db
            if value < episode.floor_db:
                return BLANK
        return f"{value:14.3f}" + text[14:16]


def _rinex3(lines: list[str], first: int, editor: _Editor) -> None:
    codes: dict[str, list[str]] = {}
    letter = ""
    for line in lines[: first - 1]:
        if line[60:].strip() == "SYS / # / OBS TYPES":
            if line[0] != " ":
                letter = line[0]
                codes[letter] = []
            codes[letter] += line[7:60].split()
    index = first
    while index < len(lines):
        line = lines[index]
        index += 1
        if not line.startswith(">"):
            continue
        count = int(line[32:35])
        if int(line[31]) > 1:  # event records: header lines follow
            index += count
            continue
        when = datetime.datetime(int(line[2:6]), int(line[7:9]), int(line[10:12]), int(line[13:15]),
                                 int(line[16:18])) + datetime.timedelta(seconds=float(line[18:29]))
        inside = editor.episode.start <= when < editor.episode.end
        if inside:
            editor.touched_epochs.append(when)
        for row in range(index, min(index + count, len(lines))):
            sat = lines[row][:3]
            if not inside or (editor.episode.satellites is not None and sat not in editor.episode.satellites):
                continue
            text = lines[row]
            for position, code in enumerate(codes.get(sat[0], [])):
                begin = 3 + FIELD * position
                if begin >= len(text) or not editor.changes(sat[0], code):
                    continue
                text = text.ljust(begin + FIELD)
                text = text[:begin] + editor.field(text[begin:begin + FIELD]) + text[begin + FIELD:]
            lines[row] = text.rstrip()
        index += count


def _rinex2(lines: list[str], first: int, editor: _Editor) -> None:
    codes: list[str] = []
    for line in lines[: first - 1]:
        if line[60:].strip() == "# / TYPES OF OBSERV":
            codes += line[6:60].split()
    per_line = 5
    lines_per_satellite = max(1, math.ceil(len(codes) / per_line))
    index = first
    while index < len(lines):
        line = lines[index]
        index += 1
        if not EPOCH2.match(line):
            continue
        flag, count = int(line[28]), int(line[29:32])
        satellites = line[32:68]
        while len(satellites) < 3 * count and index < len(lines):  # continuation lines
            satellites += lines[index][32:68]
            index += 1
        if flag > 1:
            index += count
            continue
        year = int(line[1:3])
        when = datetime.datetime(2000 + year if year < 80 else 1900 + year, int(line[4:6]), int(line[7:9]),
                                 int(line[10:12]), int(line[13:15])) + datetime.timedelta(seconds=float(line[15:26]))
        inside = editor.episode.start <= when < editor.episode.end
        if inside:
            editor.touched_epochs.append(when)
        for number in range(count):
            field = satellites[3 * number:3 * number + 3]
            sat = (field[0] if field[0] != " " else "G") + f"{int(field[1:] or 0):02d}"
            rows = range(index, min(index + lines_per_satellite, len(lines)))
            index += lines_per_satellite
            if not inside or (editor.episode.satellites is not None and sat not in editor.episode.satellites):
                continue
            for position, code in enumerate(codes):
                row = rows.start + position // per_line
                if row >= rows.stop or not editor.changes(sat[0], code):
                    continue
                begin = FIELD * (position % per_line)
                text = lines[row]
                if begin >= len(text):
                    continue
                text = text.ljust(begin + FIELD)
                lines[row] = (text[:begin] + editor.field(text[begin:begin + FIELD]) + text[begin + FIELD:]).rstrip()


def inject(source: str | Path, target: str | Path, episode: Episode) -> list[datetime.datetime]:
    """Writes the changed copy of `source` (any form the readers take) to `target` as plain RINEX;
    the epochs inside the episode, in file order."""
    lines = _native.navigation_text(str(source)).decode("latin-1").splitlines()
    version = float(lines[0][:9])
    first = _records_start(lines)
    editor = _Editor(version, episode)
    (_rinex3 if version >= 3 else _rinex2)(lines, first, editor)
    Path(target).write_text("\n".join(lines) + "\n", encoding="latin-1")
    return editor.touched_epochs
