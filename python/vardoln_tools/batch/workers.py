"""Work in worker processes that survives a worker's death.

Each worker holds one task at a time, so a worker that dies (a native fault, the out-of-memory
killer, a `kill`) is known to have died on that task: the task comes back as a WorkerDied value, a
fresh worker takes the dead one's place, and the other tasks go on undisturbed. A plain
ProcessPoolExecutor cannot do this: one dead worker breaks every task in flight.
"""

from __future__ import annotations

import multiprocessing
import signal
from collections import deque
from collections.abc import Callable, Iterable, Iterator, Sequence
from dataclasses import dataclass
from multiprocessing.connection import Connection, wait
from typing import Any

# How often a waiting pool looks at its stop condition, in seconds.
POLL_SECONDS = 0.2
# How long a worker asked to finish may take before it is killed.
JOIN_SECONDS = 5.0


@dataclass(frozen=True)
class WorkerDied:
    """The result of a task whose worker process ended before answering."""

    exitcode: int | None

    def __str__(self) -> str:
        code = self.exitcode
        if code is not None and code < 0:
            try:
                name = signal.Signals(-code).name
            except ValueError:
                name = f"signal {-code}"
            return f"the worker process died of {name}"
        return f"the worker process ended with status {code}"


class Stopped(Exception):
    """Raised by ProcessPool.run when its stop condition became true; the tasks in flight were
    abandoned and their workers ended."""


def _serve(connection: Connection, function: Callable[[Any], Any], initializer: Callable[..., None] | None,
           initargs: tuple[Any, ...]) -> None:
    # The parent decides when the work stops: Ctrl-C reaches the whole process group, and a
    # worker that died of it would turn its task into an error row.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    if initializer is not None:
        initializer(*initargs)
    while True:
        try:
            task = connection.recv()
        except (EOFError, OSError):
            return  # the parent is gone
        if task is None:
            return
        index, argument = task
        try:
            connection.send((index, function(argument)))
        except (BrokenPipeError, OSError):
            return


class _Worker:
    def __init__(self, context: Any, function: Callable[[Any], Any], initializer: Callable[..., None] | None,
                 initargs: tuple[Any, ...]):
        self.connection, child = context.Pipe()
        self.process = context.Process(target=_serve, args=(child, function, initializer, initargs), daemon=True)
        self.process.start()
        child.close()

    def end(self, kill: bool) -> None:
        if kill:
            self.process.kill()
        else:
            try:
                self.connection.send(None)
            except OSError:
                pass
        self.process.join(JOIN_SECONDS)
        if self.process.is_alive():
            self.process.kill()
            self.process.join()
        self.connection.close()


class ProcessPool:
    """`workers` processes running `function(argument)`, each started by `initializer(*initargs)`.

    Workers are forked from a server process that was started afresh and imported the `preload`
    modules once ("forkserver": safe in a process that runs threads, and a new worker costs a fork
    rather than an interpreter start and its imports). The function, initializer and arguments
    travel pickled, so they must be importable module-level objects and picklable values.
    """

    def __init__(self, workers: int, function: Callable[[Any], Any], initializer: Callable[..., None] | None = None,
                 initargs: tuple[Any, ...] = (), preload: Sequence[str] = ()):
        self._size = max(1, workers)
        self._function, self._initializer, self._initargs = function, initializer, initargs
        self._context = multiprocessing.get_context("forkserver")
        # Takes effect when the server starts, at the first pool of the process.
        self._context.set_forkserver_preload(list(preload))

    def _start(self) -> _Worker:
        return _Worker(self._context, self._function, self._initializer, self._initargs)

    def run(self, tasks: Iterable[tuple[int, Any]],
            stop: Callable[[], bool] = lambda: False) -> Iterator[tuple[int, Any]]:
        """Yields (index, result) for every (index, argument) task as it finishes, in the order of
        finishing; a task whose worker died yields a WorkerDied. Raises Stopped as soon as `stop()`
        is true (looked at every POLL_SECONDS); the workers are ended on every way out."""
        pending = deque(tasks)
        idle: list[_Worker] = []
        busy: dict[Connection, tuple[_Worker, int]] = {}
        try:
            while pending or busy:
                if stop():
                    raise Stopped
                while pending and len(busy) < self._size:
                    worker = idle.pop() if idle else self._start()
                    index, argument = pending.popleft()
                    try:
                        worker.connection.send((index, argument))
                    except OSError:  # died while idle: its successor takes the task
                        pending.appendleft((index, argument))
                        worker.end(kill=True)
                        continue
                    busy[worker.connection] = (worker, index)
                sentinels: dict[int, Connection] = {
                    worker.process.sentinel: connection for connection, (worker, _) in busy.items()}
                ready = wait([*busy, *sentinels], timeout=POLL_SECONDS)
                answered = {item if isinstance(item, Connection) else sentinels[item] for item in ready}  # type: ignore[index]
                for connection in answered:
                    worker, index = busy.pop(connection)
                    try:
                        got_index, result = connection.recv()
                    except (EOFError, OSError):
                        worker.process.join(JOIN_SECONDS)
                        worker.end(kill=True)
                        if stop():  # a worker caught by the same Ctrl-C is no fault of its task
                            raise Stopped from None
                        yield index, WorkerDied(worker.process.exitcode)
                        continue
                    idle.append(worker)
                    yield got_index, result
        finally:
            for worker, _ in busy.values():
                worker.end(kill=True)
            for worker in idle:
                worker.end(kill=False)
