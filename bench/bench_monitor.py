"""Live monitoring: the RTCM reader against pyrtcm, the monitor's epochs per second on one core,
memory per stream, and the latency from an epoch's last byte to its judgement with 500 streams
replayed in real time.

1. Decoding: `_native.read_rtcm` (frames, MSM decoded, epochs assembled into a record) against
   pyrtcm's RTCMReader parsing every frame of the same stream, in the same run, best of rounds.
   Targets: at least 100x pyrtcm, at least 100 MB/s of MSM7 (bench_rtcm measures the decoder
   alone in C++).
2. Throughput: `Monitor` over several file streams at --rate max (decoding, epoch assembly, the
   trailing detector and the window analyses), the process pinned to one core with one analysis
   worker: stream epochs per second of wall time, on streams of whole 15-minute windows (SEPT078M
   encoded as MSM7) and on the two real MSM7 streams. Target: at least 5,000.
3. Memory: 100 native LiveStreams each fed 15 minutes of a 1 Hz MSM7 stream, the growth of the
   peak resident set divided by 100. Target: at most 8 MB per stream.
4. Latency: 500 streams fed one epoch each per second as a real-time replay would (each from
   another point of the stream, so that their windows close at different seconds), the window
   analyses on a pool of threads as the monitor runs them: the time from the second's bytes to
   the end of each stream's judgement of its epoch (where an alarm would come out). --window 60
   makes every stream close a window each minute, fifteen times the analyses of the default.

The MSM7 streams of ../shared/data/rtcm/gnss-converters (absent: nothing measured).
Run: .venv/bin/python bench/bench_monitor.py [--streams 500] [--seconds 60]
"""

from __future__ import annotations

import argparse
import io
import os
import resource
import statistics
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
DATA = ROOT.parent / "shared" / "data" / "rtcm" / "gnss-converters"
MSM7 = DATA / "missing-beidou-STR17.rtcm3"  # 2018-07-18, 502 epochs at 1 Hz
LONG_MSM7 = DATA / "week-rollover-STR17.rtcm3"  # 2018-07-14/15, 1125 epochs
WEEK = 2010
WINDOW_OBS = ROOT.parent / "shared" / "data" / "obs3" / "SEPT078M.21O"  # 900 epochs at 1 Hz
WINDOW_NAV = ROOT.parent / "shared" / "data" / "nav" / "SEPT078M.21P"


def epochs_of(data: bytes) -> list[bytes]:
    """The stream cut after each message whose "more messages follow" bit is clear: one piece per
    epoch, as a live source delivers them."""
    pieces, start, at = [], 0, 0
    while at + 6 <= len(data):
        if data[at] != 0xD3:
            at += 1
            continue
        length = int.from_bytes(data[at + 1:at + 3]) & 0x3FF
        head = int.from_bytes(data[at + 3:at + 10])
        at += length + 6
        if 1071 <= head >> 44 <= 1137 and not (head >> 1) & 1:
            pieces.append(data[start:at])
            start = at
    return pieces


def decoding() -> None:
    from pyrtcm import RTCMReader

    from vardoln_tools import _native

    data = MSM7.read_bytes()
    native = min(timed(lambda: _native.read_rtcm(data, WEEK)) for _ in range(10))
    part = data[:200_000]  # pyrtcm is slow: a quarter of the stream, scaled
    start = time.perf_counter()
    frames = sum(1 for _ in RTCMReader(io.BytesIO(part), quitonerror=0))
    python = (time.perf_counter() - start) * len(data) / len(part)
    print(f"decoding {MSM7.name} ({len(data) / 1e6:.2f} MB): read_rtcm {native * 1e3:.1f} ms = "
          f"{len(data) / native / 1e6:.1f} MB/s; pyrtcm {python:.2f} s ({frames} frames of {len(part)} bytes, scaled); "
          f"ratio {python / native:.0f}x")


def timed(work) -> float:
    start = time.perf_counter()
    work()
    return time.perf_counter() - start


def throughput(copies: int) -> None:
    import datetime
    import shutil
    import tempfile

    from vardoln_tools.monitor import StreamSpec

    from vardoln_tools.tables import recording, rtcm

    os.sched_setaffinity(0, {sorted(os.sched_getaffinity(0))[0]})
    # A whole 15-minute window at 1 Hz: SEPT078M (900 epochs, G E J) as MSM7 with its ephemerides.
    folder = tempfile.mkdtemp()
    full = Path(folder) / "SEPT078M.rtcm3"
    full.write_bytes(rtcm.write(recording.load(str(WINDOW_OBS), [str(WINDOW_NAV)]), msm=7))
    sources = [("full 15-minute windows", [StreamSpec(f"S{i}", str(full)) for i in range(copies)],
                datetime.date(2021, 3, 19)),
               ("the two MSM7 streams of a Septentrio PolaRx5 (partial windows)",
                [StreamSpec(f"S{i}", str(path)) for i in range(copies) for path in (MSM7, LONG_MSM7)],
                datetime.date(2018, 7, 16))]
    for what, streams, day in sources:
        run_throughput(what, streams, day)
    shutil.rmtree(folder)


def run_throughput(what, streams, day) -> None:
    from vardoln_tools.monitor import Monitor

    for state in ("cold", "warm"):  # cold: the first window imports the analysis's modules
        epochs = 0
        start = time.perf_counter()
        cpu = time.process_time()
        monitor = Monitor(streams, date=day, workers=1)
        for event in monitor.events():
            if event["kind"] == "window":
                epochs += event["epochs"]
        wall = time.perf_counter() - start
        used = time.process_time() - cpu
        print(f"throughput ({state}), {what}: {len(streams)} streams, {epochs} epochs, windows judged with the "
              f"streams' own ephemerides, one core: {wall:.2f} s wall, {used:.2f} s processor = "
              f"{epochs / wall:.0f} epochs/s")


def memory(count: int) -> None:
    from vardoln_tools import _native

    pieces = epochs_of(LONG_MSM7.read_bytes())[:900]  # 15 minutes
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    streams = [_native.LiveStream(WEEK, window_s=86_400.0) for _ in range(count)]  # one window holds them all
    for stream in streams:
        for piece in pieces:
            stream.feed(piece)
    after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(f"memory: {count} streams of {len(pieces)} epochs (15 minutes of 1 Hz MSM7) each: "
          f"{(after - before) / 1024 / count:.2f} MB per stream")


def latency(count: int, seconds: int, window_s: float) -> None:
    from vardoln_tools import _native
    from vardoln_tools.judge import settings
    from vardoln_tools.monitor.live import judge_window

    pieces = epochs_of(LONG_MSM7.read_bytes())
    streams = [_native.LiveStream(WEEK, window_s=window_s) for _ in range(count)]
    pool = ThreadPoolExecutor(max_workers=os.cpu_count() or 1)
    delays: list[float] = []
    windows = 0
    config = {"min_elevation": settings.DEFAULT_MIN_ELEVATION, "systems": None}
    start = time.perf_counter()
    for second in range(seconds):
        tick = start + second
        pause = tick - time.perf_counter()
        if pause > 0:
            time.sleep(pause)
        for index, stream in enumerate(streams):
            for event in stream.feed(pieces[(second + index) % len(pieces)] if second + index < len(pieces) else b""):
                if event["kind"] == "window":
                    windows += 1
                    pool.submit(judge_window, f"S{index}", event, [], [], config, settings.DetectorSettings())
            delays.append(time.perf_counter() - tick)
    pool.shutdown(wait=True)
    delays.sort()
    print(f"latency: {count} streams in real time for {seconds} s, {windows} windows of {window_s:.0f} s analysed beside: "
          f"median {statistics.median(delays) * 1e3:.1f} ms, 99th percentile {delays[int(len(delays) * 0.99)] * 1e3:.1f} ms, "
          f"largest {delays[-1] * 1e3:.1f} ms from a second's bytes to each stream's judgement")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--streams", type=int, default=500)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--window", type=float, default=900.0, help="window of the latency run, seconds")
    parser.add_argument("--only", choices=("decoding", "throughput", "memory", "latency"))
    args = parser.parse_args()
    if not MSM7.is_file() or not LONG_MSM7.is_file():
        print(f"{DATA}: the MSM7 streams are absent, nothing measured")
        return
    steps = {"decoding": decoding, "memory": lambda: memory(100), "latency": lambda: latency(args.streams, args.seconds, args.window),
             "throughput": lambda: throughput(5)}
    for name, step in steps.items():
        if args.only in (None, name):
            step()
            sys.stdout.flush()


if __name__ == "__main__":
    main()
