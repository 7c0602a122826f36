"""The tables of vardoln_tools against the module calls they build on, on a day file.

Each figure is the best of several runs in a fresh interpreter, as a ratio to a baseline measured
in the same run: load_observations against vardoln_cn0.read_rinex_obs (and against georinex, the
pure-Python RINEX reader, when it is installed); satellite_geometry, signal_stats and completeness
against vardoln_cn0.analyze_cn0 with the same files; the resident-memory increase of
load_observations(form="numpy") against the file size.
Run: .venv/bin/python bench/bench_tables.py [--rounds N] [--georinex]
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
from pathlib import Path

SHARED = Path(__file__).resolve().parents[1].parent / "shared" / "data"
OBS = SHARED / "obs3" / "ESBC00DNK_R_20201770000_01D_30S_MO.rnx"
NAV = SHARED / "nav" / "ESBC00DNK_R_20201770000_01D_MN.rnx"

PROBE = r"""
import json, resource, sys, time
obs, nav, what, rounds = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
import vardoln_cn0, vardoln_tools
import numpy, pandas
calls = {
    "read_rinex_obs": lambda: vardoln_cn0.read_rinex_obs(obs).num_epochs,
    "load_observations": lambda: len(vardoln_tools.load_observations(obs)),
    "load_observations_numpy": lambda: len(vardoln_tools.load_observations(obs, form="numpy")["value"]),
    "analyze_cn0": lambda: vardoln_cn0.analyze_cn0(obs, nav).total_epochs,
    "satellite_geometry": lambda: len(vardoln_tools.satellite_geometry(obs, nav)),
    "signal_stats": lambda: len(vardoln_tools.signal_stats(obs, nav).by_signal),
    "completeness": lambda: len(vardoln_tools.completeness(obs, nav)),
}
if what == "memory":
    def resident():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * resource.getpagesize()
    vardoln_tools.load_observations  # the lazy import, before the baseline
    before, peak_before = resident(), resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    arrays = vardoln_tools.load_observations(obs, form="numpy")
    after, peak_after = resident(), resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    print(json.dumps({"kept": after - before, "peak": peak_after - max(peak_before, before)}))
elif what == "georinex":
    import georinex
    start = time.perf_counter()
    georinex.load(obs)
    print(json.dumps({"seconds": time.perf_counter() - start}))
else:
    calls[what]()  # warm the page cache and the lazy imports
    best = float("inf")
    for _ in range(rounds):
        start = time.perf_counter()
        calls[what]()
        best = min(best, time.perf_counter() - start)
    print(json.dumps({"seconds": best}))
"""


def probe(what: str, rounds: int) -> dict[str, float]:
    done = subprocess.run([sys.executable, "-c", PROBE, str(OBS), str(NAV), what, str(rounds)], check=True,
                          capture_output=True, text=True)
    result: dict[str, float] = json.loads(done.stdout)
    return result


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--georinex", action="store_true", help="also time georinex (minutes)")
    args = parser.parse_args()
    if not OBS.is_file() or not NAV.is_file():
        print("no input files (the shared data directory is missing)")
        return 0
    size = os.path.getsize(OBS)
    print(f"{OBS.name}: {size / 1e6:.1f} MB, navigation {NAV.name}; best of {args.rounds} runs")
    seconds = {what: probe(what, args.rounds)["seconds"] for what in (
        "read_rinex_obs", "load_observations", "load_observations_numpy", "analyze_cn0", "satellite_geometry",
        "signal_stats", "completeness")}
    rows = [("load_observations (pandas)", "load_observations", "read_rinex_obs", 2.0),
            ("load_observations (numpy)", "load_observations_numpy", "read_rinex_obs", 2.0),
            ("satellite_geometry", "satellite_geometry", "analyze_cn0", 1.5),
            ("signal_stats", "signal_stats", "analyze_cn0", 1.5),
            ("completeness", "completeness", "analyze_cn0", 1.5)]
    print(f"{'call':<28} {'ms':>8} {'baseline':<16} {'ms':>8} {'ratio':>6} {'target':>7}")
    for label, what, baseline, target in rows:
        ratio = seconds[what] / seconds[baseline]
        print(f"{label:<28} {seconds[what] * 1e3:8.1f} {baseline:<16} {seconds[baseline] * 1e3:8.1f} {ratio:6.2f} "
              f"{'<= ' + format(target, 'g'):>7}{'' if ratio <= target else '  MISSED'}")
    memory = probe("memory", 1)
    print(f"load_observations(form='numpy') resident increase: {memory['kept'] / size:.2f} x the file kept after "
          f"the call, {memory['peak'] / size:.2f} x at the peak (target <= 3)")
    if args.georinex:
        try:
            georinex = probe("georinex", 1)["seconds"]
        except subprocess.CalledProcessError as error:
            print(f"georinex: not measured ({error.stderr.strip().splitlines()[-1] if error.stderr else error})")
        else:
            print(f"georinex.load {georinex:.1f} s: load_observations is "
                  f"{georinex / seconds['load_observations']:.0f} x faster")
    return 0


if __name__ == "__main__":
    sys.exit(main())
