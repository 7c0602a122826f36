"""vardoln_tools.qc of a day file with its navigation file against vardoln_cn0.analyze_cn0 on the
same files: time (interleaved rounds in one interpreter, best of each) and peak memory (each in a
fresh interpreter). Targets: at most 2x the time and 1.2x the peak memory of analyze_cn0.

Peak memory is the high-water mark of the resident size above the size after the imports (the
call's own memory); the absolute peaks, which include pandas for qc, are printed beside it.
Run: .venv/bin/python bench/bench_qc_python.py [--rounds N] [OBS NAV]
"""

from __future__ import annotations

import argparse
import json
import subprocess
import sys
from pathlib import Path

SHARED = Path(__file__).resolve().parents[1].parent / "shared" / "data"
DEFAULT = (SHARED / "crinex" / "ESBC00DNK_R_20201770000_01D_30S_MO.crx",
           SHARED / "nav" / "ESBC00DNK_R_20201770000_01D_MN.rnx")

TIMING = r"""
import json, sys, time
import vardoln_cn0
import vardoln_tools as vt
from vardoln_tools.judge import quality_control  # noqa: F401  (imports outside the timed calls)
obs, nav, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
best = {"analyze_cn0": float("inf"), "qc": float("inf")}
cpu = dict(best)
report = None
for _ in range(rounds):
    for name in ("analyze_cn0", "qc"):
        wall, used = time.perf_counter(), time.process_time()
        if name == "qc":
            report = vt.qc(obs, nav)
        else:
            vardoln_cn0.analyze_cn0(obs, nav)
        best[name] = min(best[name], time.perf_counter() - wall)
        cpu[name] = min(cpu[name], time.process_time() - used)
pairs = report.pairs
print(json.dumps({"wall": best, "cpu": cpu, "pairs": len(pairs), "samples": int(pairs.samples.sum()),
                  "grade": report.assessment.quality.grade}))
"""

MEMORY = r"""
import json, resource, sys
obs, nav, mode = sys.argv[1], sys.argv[2], sys.argv[3]
import vardoln_cn0
if mode == "qc":
    import vardoln_tools as vt
    from vardoln_tools.judge import assessment, quality_control  # noqa: F401
    from vardoln_tools.tables import signals  # noqa: F401
def resident_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
before = resident_kib()
result = vt.qc(obs, nav) if mode == "qc" else vardoln_cn0.analyze_cn0(obs, nav)
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps({"before_kib": before, "peak_kib": peak}))
"""


def run(code: str, *args: str) -> dict:
    output = subprocess.run([sys.executable, "-c", code, *args], check=True, capture_output=True, text=True).stdout
    result: dict = json.loads(output)
    return result


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("files", nargs="*", help="OBS NAV (default: the ESBC00DNK day of the shared data)")
    args = parser.parse_args()
    obs, nav = (Path(args.files[0]), Path(args.files[1])) if len(args.files) == 2 else DEFAULT
    if not obs.is_file() or not nav.is_file():
        print("no input files (the shared data directory is missing)")
        return 0
    timing = run(TIMING, str(obs), str(nav), str(args.rounds))
    memory = {mode: run(MEMORY, str(obs), str(nav), mode) for mode in ("analyze_cn0", "qc")}
    wall, cpu = timing["wall"], timing["cpu"]
    print(f"{obs.name} with {nav.name}: {timing['pairs']} constellation pairs, {timing['samples']} multipath "
          f"samples, grade {timing['grade']}")
    print(f"  analyze_cn0      {wall['analyze_cn0'] * 1e3:8.1f} ms wall  {cpu['analyze_cn0'] * 1e3:8.1f} ms CPU")
    print(f"  qc               {wall['qc'] * 1e3:8.1f} ms wall  {cpu['qc'] * 1e3:8.1f} ms CPU")
    time_ratio = wall["qc"] / wall["analyze_cn0"]
    print(f"  time ratio       {time_ratio:.2f} wall, {cpu['qc'] / cpu['analyze_cn0']:.2f} CPU (target <= 2, wall)")
    peaks = {mode: (entry["peak_kib"] - entry["before_kib"]) / 1024 for mode, entry in memory.items()}
    absolute = {mode: entry["peak_kib"] / 1024 for mode, entry in memory.items()}
    memory_ratio = peaks["qc"] / peaks["analyze_cn0"]
    print(f"  peak memory      analyze_cn0 {peaks['analyze_cn0']:.1f} MB, qc {peaks['qc']:.1f} MB above the imports: "
          f"ratio {memory_ratio:.2f} (target <= 1.2)")
    print(f"  absolute peaks   analyze_cn0 {absolute['analyze_cn0']:.1f} MB, qc {absolute['qc']:.1f} MB "
          f"(ratio {absolute['qc'] / absolute['analyze_cn0']:.2f}; qc's interpreter holds numpy and pandas)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
