"""Navigation files for an analysis: several version 3 files merged into one, and the choice,
among the candidate files of a day, of the navigation data that cover a recording best.

Stations publish one navigation file per constellation and day (`_GN`, `_EN`, `_CN`); the
analysis reads one file, so such a set is handed to it as one merged version 3 file: the header
of the first, then the records of all, written to a temporary file.
"""

from __future__ import annotations

import contextlib
import math
import os
import tempfile
from collections.abc import Iterator, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING

from . import roles

if TYPE_CHECKING:
    import pandas as pd

END_OF_HEADER = "END OF HEADER"
# Column 40 of a version 3 navigation file's first line names its constellation; M is mixed.
SYSTEM_COLUMN = 40


def is_mergeable(path: str) -> bool:
    """Whether a file is a plain-text RINEX 3 or 4 navigation file, whose records the readers take
    under any header of those versions (archives are read by the module only)."""
    found = roles.sniff(path)
    return found.kind == "navigation" and found.text.startswith(("a RINEX 3", "a RINEX 4"))


def _split(path: str) -> tuple[list[str], list[str]]:
    with open(path, encoding="latin-1", newline="") as source:
        lines = source.read().splitlines()
    for index, line in enumerate(lines):
        if line[60:].strip().startswith(END_OF_HEADER):
            return lines[:index + 1], lines[index + 1:]
    raise ValueError(f"{path}: No END OF HEADER found")


def merged_text(paths: Sequence[str]) -> str:
    """One version 3 navigation file of several: the first file's header marked as mixed, then
    the records of every file in the order given."""
    header, body = _split(paths[0])
    version = header[0]
    if len(version) > SYSTEM_COLUMN:
        header[0] = version[:SYSTEM_COLUMN] + "M: MIXED".ljust(20) + version[SYSTEM_COLUMN + 20:]
    records = [*body]
    for path in paths[1:]:
        records += _split(path)[1]
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


# ---------------------------------------------------------------------------------------------------
# The best navigation data of a day for one recording

@dataclass(frozen=True)
class Candidate:
    """One choice of navigation data: a single file, or a station's per-system files together."""

    paths: tuple[str, ...]
    mixed: bool  # a mixed-constellation file (RINEX 3 `_MN`, RINEX 2 `.yyp`)

    @property
    def size(self) -> int:
        total = 0
        for path in self.paths:
            with contextlib.suppress(OSError):
                total += os.path.getsize(path)
        return total


@dataclass(frozen=True)
class Choice:
    """The chosen navigation data, with the coverage table that decided it."""

    paths: tuple[str, ...]
    coverage: pd.DataFrame


def overall_percent(coverage: pd.DataFrame) -> float:
    """The coverage of the predictable constellations together (NaN when none was observed)."""
    row = coverage[coverage.system == "all"]
    return float(row.percent.iloc[0]) if len(row) else math.nan


def choose(obs_path: str, candidates: Sequence[Candidate]) -> Choice | None:
    """The candidate with the highest overall coverage of the recording's observed satellite-epochs;
    ties go to a mixed file, then to the larger. Candidates that cannot be read are passed over."""
    from .signals import navigation_coverage

    best: tuple[tuple[float, bool, int], Choice] | None = None
    for candidate in candidates:
        try:
            coverage = navigation_coverage(obs_path, list(candidate.paths))
        except (OSError, ValueError):
            continue
        percent = overall_percent(coverage)
        key = (-1.0 if math.isnan(percent) else percent, candidate.mixed, candidate.size)
        if best is None or key > best[0]:
            best = key, Choice(candidate.paths, coverage)
    return None if best is None else best[1]
