"""The navigation data of each recording of a batch, chosen in two steps of one chooser.

By name: the navigation files are indexed by the day their standard names give, and a recording's
candidates are every file of its day alone and each station's per-constellation RINEX 3 (or 4)
files of that day together (merged for the analysis). By content: among those candidates the one
that positions the most of the recording's observed satellite-epochs is taken (`choose`). The
first step runs where the batch starts, the second in the worker that analyses the recording.
"""

from __future__ import annotations

import contextlib
import datetime
import math
import os
from collections.abc import Iterable, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING

from ..tables import recording, roles
from ..tables._common import SYSTEM_NAMES
from .names import name_facts

if TYPE_CHECKING:
    import pandas as pd
    import vardoln_cn0

# Among the files of one day: mixed first, then one constellation, GPS before the others.
_SYSTEM_RANK = {"M": 0, "G": 1, "R": 2, "E": 3, "C": 4, "J": 5}
_COMBINED_STATIONS = ("brdc", "brdm")


@dataclass(frozen=True)
class Candidate:
    """One choice of navigation data: a single file, or a station's per-system files together."""

    paths: tuple[str, ...]
    mixed: bool  # a mixed-constellation file (RINEX 3 `_MN`, RINEX 2 `.yyp`)
    # The constellation letter of a single-constellation file by its name ("G" for `.21n`, `_GN`);
    # empty for a mixed file and for several files.
    system: str = ""

    @property
    def size(self) -> int:
        total = 0
        for path in self.paths:
            with contextlib.suppress(OSError):
                total += os.path.getsize(path)
        return total


@dataclass(frozen=True)
class Choice:
    """The chosen navigation data, with the coverage table that decided it and the recording
    loaded with it."""

    paths: tuple[str, ...]
    coverage: pd.DataFrame
    loaded: recording.Loaded


class NavigationIndex:
    """Navigation files by day, built once from a list of names (typically one directory)."""

    def __init__(self, nav_paths: Iterable[str | os.PathLike[str]]):
        self._by_day: dict[tuple[int, int], list[tuple[str, str, str]]] = {}
        for path in nav_paths:
            text = os.fspath(path)
            facts = name_facts(os.path.basename(text))
            if facts is None or facts.kind != "nav":
                continue
            self._by_day.setdefault((facts.year, facts.doy), []).append((facts.station, facts.system, text))

    @classmethod
    def from_directory(cls, nav_dir: str | os.PathLike[str]) -> NavigationIndex:
        with os.scandir(nav_dir) as entries:
            return cls(entry.path for entry in entries if entry.is_file())

    def find(self, obs_path: str | os.PathLike[str]) -> str | None:
        """The navigation file for a recording by its name alone: of its station and day first, then
        any broadcast file of that day (combined BRDC files before other stations'); mixed before
        single-constellation files within each. None when the name is not standard or no file of
        that day exists."""
        facts = name_facts(os.path.basename(os.fspath(obs_path)))
        if facts is None or facts.kind != "obs":
            return None
        day = self._by_day.get((facts.year, facts.doy))
        if not day:
            return None

        def rank(entry: tuple[str, str, str]) -> tuple[int, int, str, str]:
            nav_station, system, path = entry
            station_rank = 0 if nav_station == facts.station else 1 if nav_station in _COMBINED_STATIONS else 2
            return station_rank, _SYSTEM_RANK.get(system, len(_SYSTEM_RANK)), os.path.basename(path), path

        return min(day, key=rank)[2]

    def candidates(self, obs_path: str | os.PathLike[str]) -> list[Candidate]:
        """The navigation data of a recording's day to choose from: every file of that day alone, and
        each station's per-constellation files of that day together (files of any version merge);
        `choose` adds the best file of each constellation together."""
        facts = name_facts(os.path.basename(os.fspath(obs_path)))
        if facts is None or facts.kind != "obs":
            return []
        day = sorted(self._by_day.get((facts.year, facts.doy), []), key=lambda entry: entry[2])
        chosen = [Candidate((path,), system == "M", "" if system == "M" else system) for _, system, path in day]
        by_station: dict[str, list[str]] = {}
        for station, system, path in day:
            if system != "M":
                by_station.setdefault(station, []).append(path)
        return chosen + [Candidate(tuple(paths), False) for paths in by_station.values() if len(paths) > 1]


def match_navigation(obs_path: str | os.PathLike[str], nav_paths: Iterable[str | os.PathLike[str]]) -> str | None:
    """The best navigation file among nav_paths for one recording by name (see NavigationIndex.find)."""
    return NavigationIndex(nav_paths).find(obs_path)


def missing_navigation_note(obs_path: str, nav_dir: str | os.PathLike[str]) -> str:
    """The note of a recording for which the navigation directory holds no file of its day (by
    the standard file names), or whose own name gives no day."""
    facts = name_facts(os.path.basename(obs_path))
    if facts is None or facts.kind != "obs":
        return (f"no navigation file looked for in {os.fspath(nav_dir)}: the file name does not give the "
                "recording's day")
    day = datetime.date(facts.year, 1, 1) + datetime.timedelta(days=facts.doy - 1)
    return (f"no navigation file of the recording's day ({day.isoformat()}, day {facts.doy:03d}) in "
            f"{os.fspath(nav_dir)}")


def overall_percent(coverage: pd.DataFrame) -> float:
    """The coverage of the predictable constellations together (NaN when none was observed)."""
    row = coverage[coverage.system == "all"]
    return float(row.percent.iloc[0]) if len(row) else math.nan


def choose(obs: str | recording.Loaded, candidates: Sequence[Candidate], systems: Sequence[str] | None = None,
           budget: int | None = None) -> Choice | None:
    """The candidate with the highest overall coverage of the recording's observed satellite-epochs
    (of the constellations `systems` only, when given); ties go to a mixed file, then to the larger.
    The observations are read once (or given loaded), each candidate's files once; candidates that
    cannot be read, or that the memory budget refuses, are passed over."""
    from ..tables.signals import navigation_coverage  # pandas, only once there is a choice to make

    loaded = obs if isinstance(obs, recording.Loaded) else recording.load(obs, budget=budget)
    parsed: dict[str, vardoln_cn0.NavigationData | None] = {}  # each file read and parsed once

    def navigation_data(path: str) -> vardoln_cn0.NavigationData | None:
        if path not in parsed:
            try:
                parsed[path] = recording.navigation_data(path, budget)
            except (recording.RecordingError, roles.WrongRole):
                parsed[path] = None
        return parsed[path]

    best: tuple[tuple[float, bool, int], Choice] | None = None
    # Per constellation letter, the single-constellation file that covers its own constellation best.
    best_of_system: dict[str, tuple[float, str]] = {}

    def weigh(candidate: Candidate) -> None:
        nonlocal best
        navs = [navigation_data(path) for path in candidate.paths]
        if any(nav is None for nav in navs):
            return
        with_candidate = recording.with_navigation_data(loaded, candidate.paths, [nav for nav in navs if nav])
        coverage = navigation_coverage(with_candidate, None, systems)
        percent = overall_percent(coverage)
        key = (-1.0 if math.isnan(percent) else percent, candidate.mixed, candidate.size)
        if best is None or key > best[0]:
            best = key, Choice(candidate.paths, coverage, with_candidate)
        if candidate.system:
            own = coverage[coverage.system == SYSTEM_NAMES.get(candidate.system, candidate.system)]
            share = float(own.percent.iloc[0]) if len(own) else math.nan
            score = -1.0 if math.isnan(share) else share
            if candidate.system not in best_of_system or score > best_of_system[candidate.system][0]:
                best_of_system[candidate.system] = score, candidate.paths[0]

    for candidate in candidates:
        weigh(candidate)
    # The day's per-constellation files of several stations (RINEX 2 `.n` and `.g` files, say):
    # the best of each constellation together.
    together = tuple(path for _, path in best_of_system.values())
    if len(together) > 1 and not any(set(together) == set(candidate.paths) for candidate in candidates):
        weigh(Candidate(together, False))
    return None if best is None else best[1]
