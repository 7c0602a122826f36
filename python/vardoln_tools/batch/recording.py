"""One recording of a batch judged into its row: the memory budget checked, the navigation data
chosen, the assessment made and the column groups computed; every failure becomes the row's error."""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any

from ..history.keeping import ENTRY_KEY, Keeping
from ..judge import settings
from ..judge.assessment import NothingToJudge, assess
from ..tables import recording
from . import navigation
from .config import config_from_dict
from .rows import (ColumnGroup, Row, error_row, failed_row, is_internal_fault, nothing_row, result_row, with_groups,
                   with_warning)

if TYPE_CHECKING:
    import vardoln_cn0


def judge_recording(obs_path: str, nav_paths: Sequence[str] | None, candidates: Sequence[navigation.Candidate],
                    config: vardoln_cn0.AnalysisConfig, memory_budget: int | None = None,
                    groups: Sequence[ColumnGroup] = (), detector: settings.DetectorSettings | None = None,
                    keeping: Keeping | None = None) -> Row:
    """One row: the recording loaded once, the navigation data chosen among the candidates when
    none is given (each candidate's files read once, the observations not again), then the
    assessment and the groups' columns on that same recording (also for a recording with nothing
    to judge); every failure becomes the row's error. With a memory budget (bytes), a recording
    whose observation or navigation file is larger, or expands past it from an archive, is
    refused unread; candidates with such a file are passed over. With `keeping`, the row also
    carries the recording's store rows under ENTRY_KEY (a failure there is the row's warning)."""
    try:
        try:
            loaded = recording.load(obs_path, nav_paths or [], memory_budget)
        except recording.OverBudget as refused:
            return failed_row(obs_path, nav_paths, refused.refusal if refused.path == obs_path else str(refused))
        unusable = None
        if nav_paths is None and candidates:
            choice = navigation.choose(loaded, candidates, settings.describe(config)["systems"], memory_budget)
            if choice is not None:
                nav_paths, loaded = list(choice.paths), choice.loaded
            else:
                unusable = ("no navigation file of the recording's day could be read: "
                            + ", ".join(path for candidate in candidates for path in candidate.paths))
        judged = None
        try:
            judged = assess(loaded, config=config, detector=detector)
        except NothingToJudge as nothing:
            # A recording without C/N0 can still have the groups' figures (multipath needs none).
            row = with_groups(nothing_row(obs_path, nav_paths, nothing.reason), groups, loaded)
        else:
            row = with_groups(result_row(judged), groups, loaded)
        if keeping is not None:
            try:
                row[ENTRY_KEY] = keeping.entry(loaded, judged)
            except (OSError, ValueError, recording.RecordingError) as error:
                row = with_warning(row, f"not kept in the station history: {error}")
        return row if unusable is None else with_warning(row, unusable)
    except Exception as error:
        return error_row(obs_path, nav_paths, error)
    except BaseException as error:
        if not is_internal_fault(error):
            raise
        return error_row(obs_path, nav_paths, error)


def analyze_recording(obs_path: str, nav_path: str | Sequence[str] | None, config: Mapping[str, Any] | None = None,
                      candidates: Sequence[tuple[Sequence[str], bool, str]] = (), memory_budget: int | None = None,
                      groups: Sequence[ColumnGroup] = (), detector: settings.DetectorSettings | None = None,
                      keeping: Keeping | None = None) -> Row:
    """The task run on a Dask worker: plain, picklable arguments in, one row out. `nav_path` is a
    path, several paths (merged) or None; `candidates` are (paths, mixed, constellation letter) to
    choose from when None."""
    nav_paths = [nav_path] if isinstance(nav_path, str) else None if nav_path is None else list(nav_path)
    try:
        built = settings.analysis_config() if config is None else config_from_dict(config)
    except Exception as error:
        return error_row(obs_path, nav_paths, error)
    chosen = [navigation.Candidate(tuple(paths), mixed, system) for paths, mixed, system in candidates]
    return judge_recording(obs_path, nav_paths, chosen, built, memory_budget, groups, detector, keeping)
