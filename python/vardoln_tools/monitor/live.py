"""The monitor: a reader thread per source, one native LiveStream per source fed in the main
thread, and the window analyses on a pool of threads (the native analysis releases the
interpreter lock), so that a long analysis never holds up an alarm."""

from __future__ import annotations

import datetime
import gzip
import os
import queue
import threading
import time
from collections.abc import Callable, Iterator, Sequence
from concurrent.futures import Future, ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import Any

from .. import _native
from ..history.keeping import ENTRY_KEY, Keeping
from ..judge import settings as judge_settings
from ..sources import ntrip
from ..tables.rtcm import WEEK_MS, clock_gps_ms, gps_ms_of, gps_ms_text
from .rinex_files import RinexFiles

__all__ = ["Monitor", "StreamSpec", "WEEK_MS", "gps_ms_of", "gps_ms_text", "judge_window", "read_sources_file"]

READ_BYTES = 64 * 1024  # a file at --rate max is read in large pieces; a network source gives what arrived
PACED_READ_BYTES = 512
# How much of a file is searched for broadcast ephemerides that date it.
DATING_BYTES = 4 * 1024 * 1024


@dataclass(frozen=True)
class StreamSpec:
    """One stream: a station name and its source text (ntrip://, tcp://, a file, or -)."""

    name: str
    source: str


def read_sources_file(path: str) -> list[StreamSpec]:
    """Streams one per line, "NAME SOURCE" (or a source alone, named by its position); blank lines
    and lines starting with # are left out. ValueError names the line of a bad one."""
    specs: list[StreamSpec] = []
    with open(path, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            text = line.strip()
            if not text or text.startswith("#"):
                continue
            parts = text.split()
            if len(parts) > 2:
                raise ValueError(f"{path}:{number}: expected NAME SOURCE, got {text!r}")
            name, source = (parts[0], parts[1]) if len(parts) == 2 else (f"stream{len(specs) + 1}", parts[0])
            ntrip.parse_source(source)
            specs.append(StreamSpec(name, source))
    names = [spec.name for spec in specs]
    if len(set(names)) != len(names):
        raise ValueError(f"{path}: a station name is given twice")
    return specs


@dataclass
class _Feed:
    spec: StreamSpec
    source: ntrip.Source
    live: Any = None  # the native LiveStream, made when the first bytes arrive
    week: int | None = None
    first_ms: int | None = None
    last_ms: int | None = None
    arrived: float = 0.0  # the monotonic clock when the last epoch arrived
    ended: bool = False
    alarms: int = 0
    last_window: dict[str, Any] | None = None
    status: dict[str, Any] = field(default_factory=dict)


class _End:
    def __init__(self, error: str | None = None):
        self.error = error


class Monitor:
    """Monitors streams until each has ended (files, standard input) or `stop()` is called.

    `events()` yields dicts, each naming its "stream": alarms ({"kind": "alarm", "state": "start"
    or "end", "type", "epoch", "bands", "satellites", "drop_db"}), outages ({"kind": "outage",
    "state", "epoch"}), window results ({"kind": "window", "start", "end", "partial", "epochs",
    "verdicts", "grade", "events"}), connection notes ({"kind": "connection"}), stream errors
    ({"kind": "error"}) and, with `rinex_dir`, the RINEX files written ({"kind": "rinex",
    "paths"}): each stream as hourly RINEX 3 observation files and the day's navigation file.
    """

    def __init__(self, streams: Sequence[StreamSpec], *, window_s: float = 900.0, outage_s: float = 60.0,
                 detector: judge_settings.DetectorSettings | None = None, min_elevation: float | None = None,
                 systems: list[str] | None = None, nav_paths: Sequence[str] = (), date: datetime.date | None = None,
                 rate: str = "max", gga: str | None = None, workers: int | None = None,
                 rinex_dir: str | None = None, clock: Callable[[], float] = time.time,
                 keeping: Keeping | None = None):
        if rate not in ("max", "realtime"):
            raise ValueError("rate: expected realtime or max")
        self.window_s, self.outage_s, self.rate, self.gga, self.clock = window_s, outage_s, rate, gga, clock
        self.keeping = keeping
        self.detector = detector or judge_settings.DetectorSettings()
        self.config_args: dict[str, Any] = {
            "min_elevation": judge_settings.DEFAULT_MIN_ELEVATION if min_elevation is None else min_elevation,
            "systems": systems}
        self.date = date
        self.nav_paths = list(nav_paths)
        self._navs: list[Any] = []
        if self.nav_paths:
            from ..tables import recording

            self._navs = [recording.navigation_data(path) for path in self.nav_paths]
        self._feeds = [_Feed(spec, ntrip.parse_source(spec.source)) for spec in streams]
        self._rinex = [RinexFiles(rinex_dir, spec.name) for spec in streams] if rinex_dir else None
        self._queue: queue.Queue[tuple[int, bytes | ntrip.Disconnected | _End]] = queue.Queue(maxsize=1024)
        self._stop = threading.Event()
        self._pool = ThreadPoolExecutor(max_workers=workers or max(1, (os.cpu_count() or 1)))
        self._pending: list[tuple[int, Future[dict[str, Any]]]] = []

    # -- the public face ------------------------------------------------------------------------

    def stop(self) -> None:
        self._stop.set()

    def statuses(self) -> list[tuple[str, dict[str, Any], _Feed]]:
        return [(feed.spec.name, feed.status, feed) for feed in self._feeds]

    def events(self) -> Iterator[dict[str, Any]]:
        readers = [threading.Thread(target=self._read, args=(index,), daemon=True, name=f"source-{feed.spec.name}")
                   for index, feed in enumerate(self._feeds)]
        for reader in readers:
            reader.start()
        try:
            while not all(feed.ended for feed in self._feeds) and not self._stop.is_set():
                try:
                    index, item = self._queue.get(timeout=0.2)
                except queue.Empty:
                    yield from self._idle()
                    yield from self._finished(block=False)
                    continue
                yield from self._take(index, item)
                yield from self._finished(block=False)
            for index, feed in enumerate(self._feeds):
                if not feed.ended and feed.live is not None:
                    yield from self._end_stream(index)
            yield from self._finished(block=True)
        finally:
            self._stop.set()
            self._pool.shutdown(wait=False, cancel_futures=True)

    # -- reading --------------------------------------------------------------------------------

    def _read(self, index: int) -> None:
        feed = self._feeds[index]
        source = feed.source
        try:
            if source.kind in ("ntrip", "tcp"):
                for item in ntrip.stream(source, self._gga_of(feed), sleep=self._sleep):
                    if not self._put(index, item):
                        return
            else:
                handle: Any = (os.fdopen(os.dup(0), "rb") if source.kind == "stdin"
                               else gzip.open(source.text, "rb") if source.text.endswith(".gz")
                               else open(source.text, "rb"))
                # A file in real time goes in small pieces, each held back until the clock has
                # caught up with the stream time of the epochs it completes.
                paced = self.rate == "realtime" and source.kind == "file"
                clock = _native.LiveStream(self._week(feed)) if paced else None
                size = PACED_READ_BYTES if paced else READ_BYTES
                started = time.monotonic()
                first_ms: int | None = None
                with handle:
                    while not self._stop.is_set():
                        chunk = handle.read(size) if source.kind == "file" else os.read(handle.fileno(), size)
                        if not chunk:
                            break
                        if clock is not None:
                            clock.feed(chunk)
                            last_ms = clock.status()["last_ms"]
                            first_ms = last_ms if first_ms is None else first_ms
                            if last_ms is not None and first_ms is not None:
                                self._stop.wait(max(0.0, (last_ms - first_ms) / 1000.0 - (time.monotonic() - started)))
                        if not self._put(index, chunk):
                            return
            self._put(index, _End())
        except (ntrip.NtripError, OSError) as error:
            self._put(index, _End(str(error)))
        except Exception as error:  # noqa: BLE001 - any other fault ends this stream, not the monitor
            self._put(index, _End(f"{type(error).__name__}: {error}"))

    def _put(self, index: int, item: bytes | ntrip.Disconnected | _End) -> bool:
        """Hands an item to the main loop, waiting while the queue is full; False once stopped."""
        while not self._stop.is_set():
            try:
                self._queue.put((index, item), timeout=0.5)
                return True
            except queue.Full:
                continue
        return False

    def _gga_of(self, feed: _Feed) -> str | Callable[[], str | None] | None:
        """The GGA sentence of a source: --gga's; else, when the caster's source table marks the
        mountpoint as wanting one, the stream's own position once a 1005/1006 gave it, and the
        table's position until then."""
        if self.gga is not None or feed.source.ntrip is None:
            return self.gga
        try:
            entry = ntrip.mountpoint_entry(feed.source.ntrip)
        except (ntrip.StreamLost, ntrip.NtripError, OSError):
            return None
        if entry is None or not entry.needs_gga:
            return None
        known = entry

        def sentence() -> str | None:
            where = feed.status.get("geodetic")
            now = datetime.datetime.now(datetime.timezone.utc)
            if where is not None:
                return ntrip.gga_sentence(where[0], where[1], where[2], now)
            if known.latitude is not None and known.longitude is not None:
                # Source tables may give east longitudes from 0 to 360.
                longitude = known.longitude - 360.0 if known.longitude > 180.0 else known.longitude
                return ntrip.gga_sentence(known.latitude, longitude, 0.0, now)
            return None

        return sentence

    def _sleep(self, seconds: float) -> None:
        self._stop.wait(seconds)

    # -- judging --------------------------------------------------------------------------------

    def _week(self, feed: _Feed) -> int:
        """The GPS week of a stream's first epoch: from the stream's own ephemerides when a file
        carries them near its start, else from --date, else from the receiving clock (a live
        stream arrives as it is sent)."""
        if self.date is not None:
            midday = datetime.datetime.combine(self.date, datetime.time(12), tzinfo=datetime.timezone.utc)
            near = gps_ms_of(midday)
        else:
            near = clock_gps_ms(self.clock)
        if feed.source.kind == "file":
            try:
                with (gzip.open(feed.source.text, "rb") if feed.source.text.endswith(".gz")
                      else open(feed.source.text, "rb")) as handle:
                    head = handle.read(DATING_BYTES)
            except OSError:
                head = b""
            week = _native.rtcm_week(head, near) if head else None
            if week is not None:
                return week
        return near // WEEK_MS

    def _take(self, index: int, item: bytes | ntrip.Disconnected | _End) -> Iterator[dict[str, Any]]:
        feed = self._feeds[index]
        name = feed.spec.name
        if isinstance(item, ntrip.Disconnected):
            yield {"kind": "connection", "stream": name, "state": "lost", "reason": item.reason,
                   "retry_s": item.wait_s}
            return
        if isinstance(item, _End):
            if item.error is not None:
                yield {"kind": "error", "stream": name, "message": item.error}
            if feed.live is not None:
                yield from self._end_stream(index)
            feed.ended = True
            return
        if feed.live is None:
            feed.week = self._week(feed)
            feed.live = _native.LiveStream(feed.week, window_s=self.window_s, outage_s=self.outage_s,
                                           drop_db=self.detector.drop_db,
                                           event_satellites=self.detector.event_satellites,
                                           systems=self.config_args["systems"] or list(judge_settings.DEFAULT_SYSTEMS))
        yield from self._native_events(index, feed.live.feed(item))
        feed.status = feed.live.status()
        if feed.status.get("last_ms") is not None:
            if feed.status["last_ms"] != feed.last_ms:
                feed.arrived = time.monotonic()
            feed.last_ms = feed.status["last_ms"]
            if feed.first_ms is None:
                feed.first_ms = feed.last_ms

    def _end_stream(self, index: int) -> Iterator[dict[str, Any]]:
        feed = self._feeds[index]
        yield from self._native_events(index, feed.live.finish())
        feed.ended = True
        if self._rinex is not None:
            paths = self._rinex[index].finish(feed.live.navigation())
            if paths:
                yield {"kind": "rinex", "stream": feed.spec.name, "paths": paths}

    def _idle(self) -> Iterator[dict[str, Any]]:
        """Live sources only (a replayed file has no clock but its own): stream time runs on from
        the last epoch as the clock runs on from its arrival, whatever day the stream is of."""
        now = time.monotonic()
        for index, feed in enumerate(self._feeds):
            if feed.live is None or feed.ended or feed.source.kind == "file" or feed.last_ms is None:
                continue
            yield from self._native_events(index, feed.live.idle(feed.last_ms + int((now - feed.arrived) * 1000)))
            feed.status = feed.live.status()

    def _native_events(self, index: int, events: list[dict[str, Any]]) -> Iterator[dict[str, Any]]:
        feed = self._feeds[index]
        for event in events:
            if event["kind"] == "window":
                # Without navigation files, the ephemerides the stream carried so far.
                own = feed.live.navigation()
                navs = self._navs or [nav for nav in [own] if nav is not None]
                if self._rinex is not None:
                    paths = self._rinex[index].add(event, own)
                    if paths:
                        yield {"kind": "rinex", "stream": feed.spec.name, "paths": paths}
                self._pending.append((index, self._pool.submit(judge_window, feed.spec.name, event, navs,
                                                                self.nav_paths or ["<stream>"] * len(navs),
                                                                self.config_args, self.detector, self.keeping)))
                continue
            shown = {"kind": event["kind"], "stream": feed.spec.name, "state": event["state"],
                     "epoch": gps_ms_text(event["epoch_ms"])}
            if event["kind"] == "alarm":
                feed.alarms += 1
                shown.update(type=event["type"], first=gps_ms_text(event["first_ms"]),
                             last=gps_ms_text(event["last_ms"]), bands=event["bands"],
                             satellites=event["satellites"], drop_db=round(event["drop_db"], 2),
                             largest_drop_db=round(event["largest_drop_db"], 2), share=round(event["share"], 3))
            elif event["state"] == "end":
                shown["since"] = gps_ms_text(event["since_ms"])
                shown["gap_s"] = (event["epoch_ms"] - event["since_ms"]) / 1000.0
            yield shown

    def _finished(self, block: bool) -> Iterator[dict[str, Any]]:
        """Window results in each stream's order: one that is done waits for the earlier ones of
        its stream."""
        kept = []
        waiting: set[int] = set()
        for index, future in self._pending:
            if index not in waiting and (block or future.done()):
                result = future.result()
                self._feeds[index].last_window = result
                yield result
            else:
                waiting.add(index)
                kept.append((index, future))
        self._pending = kept


def judge_window(name: str, window: dict[str, Any], navs: Sequence[Any], nav_paths: Sequence[str],
                 config_args: dict[str, Any], detector: judge_settings.DetectorSettings,
                 keeping: Keeping | None = None) -> dict[str, Any]:
    """A window's frames read as a recording and judged as `analyze` judges a file; with `keeping`,
    the result carries the window's store rows under ENTRY_KEY."""
    from ..judge import assessment
    from ..tables import recording, rtcm

    shown: dict[str, Any] = {"kind": "window", "stream": name, "start": gps_ms_text(window["start_ms"]),
                             "end": gps_ms_text(window["end_ms"]), "first": gps_ms_text(window["first_ms"]),
                             "last": gps_ms_text(window["last_ms"]), "epochs": window["epochs"],
                             "partial": window["partial"]}
    try:
        loaded = rtcm.read(window["bytes"], gps_week=window["first_ms"] // WEEK_MS)
        loaded = recording.with_navigation_data(loaded, list(nav_paths), list(navs))
        config = judge_settings.analysis_config(config_args["min_elevation"], config_args["systems"])
        judged = assessment.assess(loaded, config=config, detector=detector)
    except (assessment.NothingToJudge, ValueError) as error:
        shown.update(verdicts=None, grade=None, events=[], note=str(error))
        return shown
    if keeping is not None:
        shown[ENTRY_KEY] = keeping.entry(loaded, judged, stream=name)
    shown.update(verdicts=judged.verdicts(), grade=judged.quality.grade,
                 events=[event.as_dict() for event in judged.events])
    return shown
