"""Files per second of batch analysis: threads, worker processes and a two-worker Dask LocalCluster.

Run: .venv/bin/python bench/bench_batch.py [--copies N] [--runs N]
Copies mid-size recordings of ../shared/data into a temporary directory, analyses them all in each mode
(best of a few runs; cluster start-up is not timed), checks that every mode gives the same rows and no
errors, and prints the speed-up over one thread.
"""

from __future__ import annotations

import argparse
import hashlib
import shutil
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

from vardoln_tools import batch

DATA = Path(__file__).resolve().parents[2] / "shared" / "data"
RECORDINGS = {  # observation -> navigation
    "obs3/SEPT265G.21O": "nav/SEPT2650.21P",
    "obs3/SEPT078M.21O": "nav/SEPT078M.21P",
    "obs3/16dBatt_no_interference_coldstart.obs": "nav/16dBatt_no_interference_coldstart.nav",
    "obs3/reach-m2-01_raw_202306291111.23O": "nav/reach-m2-01_raw_202306291111.nav",
    "obs2/delf0010.21o": "nav/cbw10010.21n",
    "obs2/arlm200a.15o": "nav/arlm2000.15n",
}


def prepare(folder: Path, copies: int) -> dict[str, str]:
    """Copies of the recordings (round robin) mapped to their navigation files."""
    jobs = {}
    sources = list(RECORDINGS.items())
    for i in range(copies):
        obs, nav = sources[i % len(sources)]
        target = folder / f"{i:03d}_{Path(obs).name}"
        shutil.copyfile(DATA / obs, target)
        jobs[str(target)] = str(DATA / nav)
    return jobs


def best_rate(jobs: dict[str, str], runs: int, **mode) -> tuple[float, list[dict]]:
    best, rows = 0.0, []
    for _ in range(runs):
        start = time.perf_counter()
        rows = batch.analyze_many(list(jobs), nav=jobs, progress=False, **mode)
        best = max(best, len(jobs) / (time.perf_counter() - start))
    return best, rows


def spare_cores(runs: int) -> float:
    """Speed-up of two hashing threads over one (hashlib runs without the GIL): the parallelism the
    shared machine offers right now, the ceiling for the figures above."""
    block = bytes(20_000_000)
    rates = []
    for threads in (1, 2):
        best = 0.0
        for _ in range(runs):
            start = time.perf_counter()
            with ThreadPoolExecutor(threads) as pool:
                list(pool.map(lambda _: hashlib.sha256(block).digest(), range(8)))
            best = max(best, 8 / (time.perf_counter() - start))
        rates.append(best)
    return rates[1] / rates[0]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--copies", type=int, default=24)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    if not DATA.is_dir():
        print(f"no shared data at {DATA}", file=sys.stderr)
        return 1

    with tempfile.TemporaryDirectory() as folder:
        jobs = prepare(Path(folder), args.copies)
        rates = {}
        rates["1 thread"], expected = best_rate(jobs, args.runs, workers=1, threads=True)
        if any(row["error"] for row in expected):
            print("analysis failed:", next(row["error"] for row in expected if row["error"]), file=sys.stderr)
            return 1
        rates["2 threads"], rows = best_rate(jobs, args.runs, workers=2, threads=True)
        assert rows == expected, "two threads gave other rows"
        # Worker processes (the default): start-up of the fresh interpreters is timed too.
        for count in (1, 2):
            rates[f"{count} worker process{'es' if count > 1 else ''}"], rows = best_rate(jobs, args.runs,
                                                                                         workers=count)
            assert rows == expected, "worker processes gave other rows"

        from dask.distributed import Client, LocalCluster

        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                          host="127.0.0.1") as cluster, Client(cluster) as client:
            rates["2-worker LocalCluster"], rows = best_rate(jobs, args.runs, scheduler=client)
        assert rows == expected, "the cluster gave other rows"

    size_mb = sum(Path(DATA / obs).stat().st_size for obs in RECORDINGS) / len(RECORDINGS) / 1e6
    print(f"{args.copies} recordings (mean {size_mb:.2f} MB, with navigation), best of {args.runs} runs")
    for mode, rate in rates.items():
        print(f"  {mode:<22} {rate:7.1f} files/s   x{rate / rates['1 thread']:.2f}")
    print(f"  (machine check: two hashing threads x{spare_cores(args.runs):.2f} over one)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
