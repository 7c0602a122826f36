"""Batch analysis of many recordings: worker processes (or threads) on one machine, or a Dask cluster.

Every recording becomes one flat row (a dict of plain values), so a station-day archive loads into one
table. Each recording is judged as `vardoln-cn0 analyze` judges it (the same settings, the same
assessment); a recording that cannot be read gives a row with its error and never stops the batch, and
one without signal-strength samples a row with that reason and no score. A recording whose worker
process dies (a native fault, the out-of-memory killer) gets an error row and the batch goes on; one
larger than the memory budget is refused before it is read.
"""

from __future__ import annotations

import os
import sys
import time
from collections.abc import Callable, Iterable, Iterator, Mapping, Sequence
from concurrent.futures import FIRST_COMPLETED, Future, ThreadPoolExecutor, wait
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Protocol

from ..history.keeping import Keeping
from ..judge import settings
from . import workers
from .config import config_from_dict, config_to_dict
from .memory import default_memory_budget
from .navigation import Candidate, NavigationIndex, missing_navigation_note
from .recording import analyze_recording, judge_recording
from .rows import ColumnGroup, Row, error_row, failed_row, with_warning

if TYPE_CHECKING:
    import vardoln_cn0


class _Progress(Protocol):
    def update(self, count: int = 1) -> object: ...

    def close(self) -> None: ...


class _NoProgress:
    def update(self, count: int = 1) -> None:
        pass

    def close(self) -> None:
        pass


def _progress(total: int, enabled: bool) -> _Progress:
    if enabled:
        try:
            from tqdm import tqdm
        except ImportError:
            pass
        else:
            bar: _Progress = tqdm(total=total, unit=" files", file=sys.stderr, smoothing=0.1, dynamic_ncols=True)
            return bar
    return _NoProgress()


# (observation path, navigation paths or None, candidates to choose from)
Work = tuple[str, list[str] | None, list[Candidate]]


def _paths_of(value: object) -> list[str] | None:
    if value is None:
        return None
    if isinstance(value, (str, os.PathLike)):
        return [os.fspath(value)]
    return [os.fspath(item) for item in value]  # type: ignore[attr-defined]


def _nav_lookup(nav: Any, nav_dir: str | os.PathLike[str] | None) -> Callable[[str], tuple[Work, str | None]]:
    """A function from observation path to its work item and, when the navigation directory holds
    nothing for it, the note its row carries."""
    if nav is not None and not isinstance(nav, Mapping):
        shared = _paths_of(nav)
        return lambda obs_path: ((obs_path, shared, []), None)
    explicit = {os.fspath(key): _paths_of(value) for key, value in (nav or {}).items()}
    index = NavigationIndex.from_directory(nav_dir) if nav_dir is not None else None

    def lookup(obs_path: str) -> tuple[Work, str | None]:
        if obs_path in explicit:
            return (obs_path, explicit[obs_path], []), None
        candidates = index.candidates(obs_path) if index is not None else []
        note = None if nav_dir is None or candidates else missing_navigation_note(obs_path, nav_dir)
        return (obs_path, None, candidates), note

    return lookup


def analyze_many(obs_paths: Iterable[str | os.PathLike[str]], *, nav: Any = None,
                 nav_dir: str | os.PathLike[str] | None = None, config: vardoln_cn0.AnalysisConfig | None = None,
                 workers: int | None = None, scheduler: Any = None, progress: bool = True, threads: bool = False,
                 memory_budget: int | None = None, groups: Sequence[ColumnGroup] = (),
                 detector: settings.DetectorSettings | None = None, keeping: Keeping | None = None) -> list[Row]:
    """Analyses every recording and returns one row per path, in the order given.

    nav: one navigation path (or a list of paths, merged) for all recordings, or a mapping from
    observation path to navigation path(s) (None for none); recordings not in the mapping get, among
    the navigation files of their day in nav_dir, the data that cover their observed satellites
    best (see NavigationIndex.candidates). config: the analysis settings (default
    settings.analysis_config(), the fixed thresholds of `analyze`). workers: processes, or threads with
    `threads` (default os.cpu_count()). Worker processes are started afresh (the "spawn" method), so
    a script that calls this needs the usual `if __name__ == "__main__":` guard. scheduler: a Dask
    scheduler address or a dask.distributed Client; each recording then runs as one task on the
    cluster, whose workers must see the same paths. memory_budget: bytes one recording may take
    (default default_memory_budget()); see budget_refusal. groups: optional columns (ColumnGroup).
    detector: the band detector's settings (default settings.DetectorSettings()). keeping: what the
    station history keeps of each recording (history.keeping.Keeping): its rows come back in each
    row under history.keeping.ENTRY_KEY.
    """
    paths = [os.fspath(path) for path in obs_paths]
    rows: list[Row] = [{} for _ in paths]
    for index, row in _analyze_indexed(paths, nav=nav, nav_dir=nav_dir, config=config, workers=workers,
                                       scheduler=scheduler, progress=progress, threads=threads,
                                       memory_budget=memory_budget, groups=groups, detector=detector,
                                       keeping=keeping):
        rows[index] = row
    return rows


def analyze_iter(obs_paths: Iterable[str | os.PathLike[str]], *, nav: Any = None,
                 nav_dir: str | os.PathLike[str] | None = None, config: vardoln_cn0.AnalysisConfig | None = None,
                 workers: int | None = None, scheduler: Any = None, progress: bool = True, threads: bool = False,
                 memory_budget: int | None = None, groups: Sequence[ColumnGroup] = (),
                 stop: Callable[[], bool] | None = None, detector: settings.DetectorSettings | None = None,
                 keeping: Keeping | None = None) -> Iterator[Row]:
    """The rows of analyze_many as each recording finishes, in the order of finishing, so that each can
    be written away at once. When `stop()` becomes true (it is looked at several times a second)
    the recordings in progress are abandoned, their workers ended, and workers.Stopped is raised."""
    paths = [os.fspath(path) for path in obs_paths]
    for _, row in _analyze_indexed(paths, nav=nav, nav_dir=nav_dir, config=config, workers=workers,
                                   scheduler=scheduler, progress=progress, threads=threads,
                                   memory_budget=memory_budget, groups=groups, stop=stop, detector=detector,
                                   keeping=keeping):
        yield row


@dataclass(frozen=True)
class _Setup:
    """What every recording of a batch shares, as plain values for worker processes."""

    config_fields: dict[str, Any]
    memory_budget: int
    groups: tuple[ColumnGroup, ...]
    detector: settings.DetectorSettings
    keeping: Keeping | None = None


def _analyze_indexed(paths: list[str], *, nav: Any, nav_dir: str | os.PathLike[str] | None,
                     config: vardoln_cn0.AnalysisConfig | None, workers: int | None, scheduler: Any, progress: bool,
                     threads: bool, memory_budget: int | None, groups: Sequence[ColumnGroup],
                     stop: Callable[[], bool] | None = None, detector: settings.DetectorSettings | None = None,
                     keeping: Keeping | None = None) -> Iterator[tuple[int, Row]]:
    lookup = _nav_lookup(nav, nav_dir)
    looked_up = [lookup(path) for path in paths]
    jobs = [job for job, _ in looked_up]
    notes = [note for _, note in looked_up]
    config = settings.analysis_config() if config is None else config
    budget = default_memory_budget() if memory_budget is None else memory_budget
    setup = _Setup(config_to_dict(config), budget, tuple(groups), detector or settings.DetectorSettings(), keeping)
    stop = stop or (lambda: False)
    count = workers or os.cpu_count() or 1
    bar = _progress(len(jobs), progress)
    try:
        if scheduler is not None:
            results = _run_on_cluster(jobs, setup, scheduler, stop)
        elif threads:
            results = _run_on_threads(jobs, config, setup, count, stop)
        else:
            results = _run_in_processes(jobs, setup, count, stop)
        for index, row in results:
            bar.update()
            note = notes[index]
            yield index, (row if note is None else with_warning(row, note))
    finally:
        bar.close()


def _run_on_threads(jobs: list[Work], config: vardoln_cn0.AnalysisConfig, setup: _Setup, count: int,
                    stop: Callable[[], bool]) -> Iterator[tuple[int, Row]]:
    # Every recording's analysis and native pass run without the GIL.
    pool = ThreadPoolExecutor(max_workers=max(1, count))
    try:
        futures: dict[Future[Row], int] = {
            pool.submit(judge_recording, obs, navs, candidates, config, setup.memory_budget, setup.groups,
                        setup.detector, setup.keeping): i for i, (obs, navs, candidates) in enumerate(jobs)}
        waiting = set(futures)
        while waiting:
            if stop():
                raise workers.Stopped
            done, waiting = wait(waiting, timeout=workers.POLL_SECONDS, return_when=FIRST_COMPLETED)
            for future in done:
                yield futures[future], future.result()
    finally:
        # Threads cannot be ended: those in progress finish unseen, the others never start.
        pool.shutdown(wait=False, cancel_futures=True)


# What every worker process imports: loaded once by the server that forks the workers.
WORKER_MODULES = ("vardoln_cn0", "vardoln_tools.batch", "vardoln_tools.judge.assessment",
                  "vardoln_tools.tables.signals")

# The analysis state of a worker process, made once by _start_worker.
_worker_state: tuple[vardoln_cn0.AnalysisConfig, _Setup] | None = None


def _start_worker(setup: _Setup) -> None:
    global _worker_state
    _worker_state = config_from_dict(setup.config_fields), setup


def _work_in_worker(job: Work) -> Row:
    assert _worker_state is not None
    config, setup = _worker_state
    obs, navs, candidates = job
    return judge_recording(obs, navs, candidates, config, setup.memory_budget, setup.groups, setup.detector,
                           setup.keeping)


def _run_in_processes(jobs: list[Work], setup: _Setup, count: int,
                      stop: Callable[[], bool]) -> Iterator[tuple[int, Row]]:
    pool = workers.ProcessPool(min(count, max(1, len(jobs))), _work_in_worker, _start_worker, (setup,),
                               preload=WORKER_MODULES)
    for index, result in pool.run(enumerate(jobs), stop):
        if isinstance(result, workers.WorkerDied):
            obs, navs, _ = jobs[index]
            yield index, failed_row(obs, navs, f"{result} while analysing this recording")
        else:
            yield index, result


def _run_on_cluster(jobs: list[Work], setup: _Setup, scheduler: Any,
                    stop: Callable[[], bool]) -> Iterator[tuple[int, Row]]:
    from dask.distributed import Client
    from dask.distributed import as_completed as cluster_completed

    client = scheduler if hasattr(scheduler, "submit") else Client(scheduler)  # type: ignore[no-untyped-call]
    futures = []
    try:
        futures = [client.submit(analyze_recording, obs, navs, setup.config_fields,
                                 [(candidate.paths, candidate.mixed, candidate.system) for candidate in candidates],
                                 setup.memory_budget, setup.groups, setup.detector, setup.keeping, pure=False)
                   for obs, navs, candidates in jobs]
        position = {future.key: i for i, future in enumerate(futures)}
        finished = cluster_completed(futures)  # type: ignore[no-untyped-call]
        while not finished.is_empty():  # type: ignore[no-untyped-call]
            if stop():
                raise workers.Stopped
            if not finished.has_ready():  # type: ignore[no-untyped-call]
                time.sleep(workers.POLL_SECONDS)
                continue
            future = next(finished)
            i = position[future.key]
            try:
                row = future.result()
            except Exception as error:  # a lost worker or a worker without the module
                row = error_row(jobs[i][0], jobs[i][1], error)
            future.release()
            yield i, row
    except workers.Stopped:
        client.cancel(futures)
        raise
    finally:
        if client is not scheduler:
            client.close()
