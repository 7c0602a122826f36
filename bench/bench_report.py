"""Cost of the plots and the HTML report: `vardoln-cn0 analyze` of a day file with its navigation
file, summary only against `--plots DIR --html FILE`, in fresh processes.

Run: .venv/bin/python bench/bench_report.py [--runs N] [--obs PATH --nav PATH]
The two commands alternate, so that both meet the same load on a shared machine; the figures are
the medians of wall time and of the process's peak memory (max RSS), and their ratios. The run
checks that every plot was written and that the report embeds them.
"""

from __future__ import annotations

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

DATA = Path(__file__).resolve().parents[2] / "shared" / "data"
BUNDLED = Path(__file__).resolve().parents[1] / "tests" / "data" / "real"
DAY = "crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx"
DAY_NAV = "nav/ESBC00DNK_R_20201770000_01D_MN.rnx"
PLOTS = ("skyplot", "heatmap", "timeseries", "constellations", "visibility")


def located(relative: str) -> Path:
    for folder in (DATA, BUNDLED):
        if (folder / relative).is_file():
            return folder / relative
    raise SystemExit(f"{relative}: not in {DATA} nor {BUNDLED}")


def command() -> list[str]:
    script = shutil.which("vardoln-cn0", path=str(Path(sys.executable).parent))
    return [script] if script else [sys.executable, "-m", "vardoln_tools"]


def _resident_mb(pid: int) -> float:
    """Resident memory of a process and of its children, MB (0 once it is gone)."""
    total = 0.0
    try:
        with open(f"/proc/{pid}/status", encoding="ascii") as status:
            total = next((int(line.split()[1]) for line in status if line.startswith("VmRSS:")), 0) / 1024
        with open(f"/proc/{pid}/task/{pid}/children", encoding="ascii") as children:
            total += sum(_resident_mb(int(child)) for child in children.read().split())
    except (OSError, ValueError):
        pass
    return total


def run(argv: list[str]) -> tuple[float, float, float]:
    """(wall seconds, processor seconds, peak memory in MB) of one fresh process. The command may
    start a process of its own (the plots' worker): its processor time counts, and the memory
    figure is the peak of the two processes' resident memory added up, sampled every 10 ms."""
    start = time.perf_counter()
    process = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    peak = 0.0
    while True:
        finished, status, usage = os.wait4(process.pid, os.WNOHANG)
        if finished:
            break
        peak = max(peak, _resident_mb(process.pid))
        time.sleep(0.01)
    seconds = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    error = process.stderr.read().decode() if process.stderr else ""
    if process.returncode != 0:
        raise SystemExit(f"{' '.join(argv)} failed ({process.returncode}): {error}")
    return seconds, usage.ru_utime + usage.ru_stime, max(peak, usage.ru_maxrss / 1024)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--obs", type=Path, default=None)
    parser.add_argument("--nav", type=Path, default=None)
    args = parser.parse_args()
    obs = args.obs or located(DAY)
    nav = args.nav or located(DAY_NAV)

    with tempfile.TemporaryDirectory() as folder:
        plots, html = Path(folder) / "plots", Path(folder) / "report.html"
        summary_only = [*command(), "analyze", str(obs), "--nav", str(nav)]
        with_report = [*summary_only, "--plots", str(plots), "--html", str(html)]
        run(with_report)  # warm the page cache and the compiled modules
        written = sorted(path.stem for path in plots.iterdir())
        if written != sorted(PLOTS) or html.read_text(encoding="utf-8").count("data:image/png;base64,") != len(PLOTS):
            raise SystemExit(f"plots written: {written}; the report must embed all {len(PLOTS)}")
        figures: dict[str, list[tuple[float, float, float]]] = {"summary": [], "report": []}
        for _ in range(args.runs):
            figures["summary"].append(run(summary_only))
            figures["report"].append(run(with_report))

    print(f"vardoln-cn0 analyze {obs.name} --nav {nav.name}, median of {args.runs} fresh processes each "
          f"(load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores)")
    medians = {name: [statistics.median(run[i] for run in runs) for i in range(3)] for name, runs in figures.items()}
    for name, label in (("summary", "summary only"), ("report", "--plots DIR --html FILE")):
        seconds, processor, memory = medians[name]
        print(f"  {label:<24} {seconds:6.2f} s  {processor:6.2f} s of processor  {memory:6.0f} MB peak")
    wall, processor, memory = (medians["report"][i] / medians["summary"][i] for i in range(3))
    print(f"  plots and report: {wall:.2f}x the time (target 2.5x), {memory:.2f}x the peak memory (target 2x); "
          f"{processor:.2f}x the processor time")
    return 0


if __name__ == "__main__":
    sys.exit(main())
