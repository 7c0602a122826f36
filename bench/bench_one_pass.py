"""One recording read once: what the plots, the report, QC and batch QC add to a run.

1. `vardoln-cn0 analyze OBS --nav NAV` (summary only) against the same with `--plots DIR --html
   FILE`, in fresh processes, alternating: wall time, processor time (user + system of the child)
   and peak memory (max RSS). Target: report run at most 1.6x the summary run's wall time.
2. In one interpreter, interleaved rounds, best of each: `vardoln_tools.qc` against
   `vardoln_cn0.analyze_cn0` on the same files (target at most 1.6x), and against the sum of its
   parts run on one loaded recording: the analysis, the judge (detector, health criteria) and the
   QC pass with its tables (target at most 1.1x).
3. `vardoln-cn0 batch --qc` against `batch` without it over the same recordings, one worker
   process, fresh processes, alternating: seconds per file. Target: at most 1.3x.

The ESBC00DNK day with its navigation file by default (shared data, else the bundled copies).
Run: .venv/bin/python bench/bench_one_pass.py [--runs N] [--only report|qc|batch]
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
DATA = ROOT.parent / "shared" / "data"
BUNDLED = ROOT / "tests" / "data" / "real"
DAY = "crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx"
DAY_NAV = "nav/ESBC00DNK_R_20201770000_01D_MN.rnx"
BATCH_FILES = ["crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx", "obs3/SEPT265G.21O", "obs3/SEPT078M.21O",
               "obs2/delf0010.21o", "obs3/pdel0010.21o", "obs2/arlm200a.15o"]
BATCH_NAV = ["nav/ESBC00DNK_R_20201770000_01D_MN.rnx", "nav/SEPT2650.21P", "nav/SEPT078M.21P",
             "nav/cbw10010.21n", "nav/dlf10010.21g", "nav/arlm2000.15n"]


def located(relative: str) -> Path:
    for folder in (DATA, BUNDLED):
        for candidate in (folder / relative, folder / (relative + ".gz")):
            if candidate.is_file():
                return candidate
    raise SystemExit(f"{relative}: not in {DATA} nor {BUNDLED}")


def command() -> list[str]:
    script = shutil.which("vardoln-cn0", path=str(Path(sys.executable).parent))
    return [script] if script else [sys.executable, "-m", "vardoln_tools"]


def run_child(arguments: list[str]) -> tuple[float, float, float]:
    """(wall seconds, processor seconds, peak MB) of one fresh process."""
    start = time.perf_counter()
    child = subprocess.Popen(arguments, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    assert child.stderr is not None
    errors = child.stderr.read()
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    wall = time.perf_counter() - start
    if child.returncode not in (0, 3):
        raise SystemExit(f"{' '.join(arguments)} failed ({child.returncode}): {errors.strip()}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def alternate(runs: int, variants: dict[str, list[str]],
              outputs: tuple[Path, ...] = ()) -> dict[str, list[tuple[float, float, float]]]:
    """Each variant `runs` times, in turns; `outputs` are removed before every run."""
    measured: dict[str, list[tuple[float, float, float]]] = {name: [] for name in variants}
    for _ in range(runs):
        for name, arguments in variants.items():
            for output in outputs:
                output.unlink(missing_ok=True)
            measured[name].append(run_child(arguments))
    return measured


def median(values: list[tuple[float, float, float]], index: int) -> float:
    return statistics.median(value[index] for value in values)


def report(runs: int) -> None:
    obs, nav = located(DAY), located(DAY_NAV)
    with tempfile.TemporaryDirectory() as scratch:
        base = [*command(), "analyze", str(obs), "--nav", str(nav)]
        measured = alternate(runs, {
            "summary": base,
            "plots and report": [*base, "--plots", os.path.join(scratch, "plots"),
                                 "--html", os.path.join(scratch, "report.html")],
        })
    summary, full = measured["summary"], measured["plots and report"]
    print(f"analyze {obs.name} with {nav.name}, {runs} runs each, medians")
    for name, values in measured.items():
        print(f"  {name:17s} wall {median(values, 0):6.2f} s  cpu {median(values, 1):6.2f} s  "
              f"peak {median(values, 2):7.0f} MB")
    print(f"  ratio: wall {median(full, 0) / median(summary, 0):.2f}x (target <= 1.6x), "
          f"cpu {median(full, 1) / median(summary, 1):.2f}x, extra cpu {median(full, 1) - median(summary, 1):.2f} s, "
          f"peak memory {median(full, 2) / median(summary, 2):.2f}x")


QC_TIMING = r"""
import json, sys, time
import vardoln_cn0
import vardoln_tools as vt
from vardoln_tools import _native, settings
obs, nav, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
config = settings.analysis_config()

def parts():
    recording = _native.load(obs, [nav])
    recording.analyze(config)
    _native.judge(recording)
    _native.qc(recording, None, config.min_elevation, True)

calls = {"analyze_cn0": lambda: vardoln_cn0.analyze_cn0(obs, nav), "qc": lambda: vt.qc(obs, nav), "parts": parts}
best = {name: float("inf") for name in calls}
cpu = dict(best)
for _ in range(rounds):
    for name, call in calls.items():
        start, start_cpu = time.perf_counter(), time.process_time()
        call()
        best[name] = min(best[name], time.perf_counter() - start)
        cpu[name] = min(cpu[name], time.process_time() - start_cpu)
print(json.dumps({"wall": best, "cpu": cpu}))
"""


def qc(rounds: int) -> None:
    obs, nav = located(DAY), located(DAY_NAV)
    done = subprocess.run([sys.executable, "-c", QC_TIMING, str(obs), str(nav), str(rounds)], capture_output=True,
                          text=True, check=True)
    figures = json.loads(done.stdout)
    wall, cpu = figures["wall"], figures["cpu"]
    print(f"qc of {obs.name} with {nav.name}, {rounds} interleaved rounds, best of each")
    for name in wall:
        print(f"  {name:12s} wall {wall[name]:6.2f} s  cpu {cpu[name]:6.2f} s")
    print(f"  qc / analyze_cn0: wall {wall['qc'] / wall['analyze_cn0']:.2f}x (target <= 1.6x); "
          f"qc / its parts on one loaded recording: wall {wall['qc'] / wall['parts']:.2f}x (target <= 1.1x)")


def batch(runs: int) -> None:
    with tempfile.TemporaryDirectory() as scratch:
        folder, navs = Path(scratch) / "obs", Path(scratch) / "nav"
        folder.mkdir()
        navs.mkdir()
        for relative in BATCH_FILES:
            source = located(relative)
            shutil.copy(source, folder / source.name)
        for relative in BATCH_NAV:
            source = located(relative)
            shutil.copy(source, navs / source.name)
        rows = Path(scratch) / "rows.jsonl"
        base = [*command(), "batch", str(folder), "--nav-dir", str(navs), "--workers", "1", "--no-progress",
                "--jsonl", str(rows)]
        measured = alternate(runs, {"batch": base, "batch --qc": [*base, "--qc"]}, (rows,))
    files = len(BATCH_FILES)
    print(f"batch of {files} recordings with --nav-dir, one worker, {runs} runs each, medians")
    for name, values in measured.items():
        print(f"  {name:11s} {median(values, 0) / files:6.2f} s per file  cpu {median(values, 1):6.2f} s")
    print(f"  ratio: {median(measured['batch --qc'], 0) / median(measured['batch'], 0):.2f}x (target <= 1.3x)")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--only", choices=("report", "qc", "batch"))
    args = parser.parse_args()
    for name, bench in (("report", report), ("qc", qc), ("batch", batch)):
        if args.only in (None, name):
            bench(args.runs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
