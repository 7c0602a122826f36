"""read_rinex_obs from a file, end to end: MB/s and peak memory against the file size.

Each measurement runs in a fresh interpreter so that the peak resident size belongs to one
read only. The baseline, measured in the same run, is Python reading the same file's bytes.
Run: .venv/bin/python bench/bench_read_obs.py [FILE ...]
"""

import json
import os
import subprocess
import sys
from pathlib import Path

SHARED = Path(__file__).resolve().parents[1].parent / "shared" / "data"
DEFAULT_FILES = [
    SHARED / "obs3" / "ESBC00DNK_R_20201770000_01D_30S_MO.rnx",
    SHARED / "obs3" / "NYA100NOR_S_20241240000_01D_30S_MO.rnx",
    SHARED / "obs2" / "york0440.15o",
]

PROBE = r"""
import json, resource, sys, time
path, mode = sys.argv[1], sys.argv[2]
import vardoln_cn0
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
best = float("inf")
for _ in range(5):
    start = time.perf_counter()
    if mode == "read":
        data = vardoln_cn0.read_rinex_obs(path)
        epochs = data.num_epochs
    else:
        data = open(path, "rb").read()
        epochs = 0
    best = min(best, time.perf_counter() - start)
    del data
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(json.dumps({"seconds": best, "peak_kib": peak - before, "epochs": epochs}))
"""


def probe(path: Path, mode: str) -> dict:
    output = subprocess.run([sys.executable, "-c", PROBE, str(path), mode], check=True,
                            capture_output=True, text=True).stdout
    return json.loads(output)


def main() -> int:
    files = [Path(p) for p in sys.argv[1:]] or [p for p in DEFAULT_FILES if p.is_file()]
    if not files:
        print("no input files (the shared data directory is missing)")
        return 0
    print(f"{'file':<42} {'MB':>7} {'read_rinex_obs MB/s':>20} {'bytes read MB/s':>16} {'ratio':>6} "
          f"{'peak/size':>9} {'epochs':>7}")
    for path in files:
        size = os.path.getsize(path)
        ours = probe(path, "read")
        baseline = probe(path, "bytes")
        mb = size / 1e6
        print(f"{path.name:<42} {mb:7.1f} {mb / ours['seconds']:20.0f} {mb / baseline['seconds']:16.0f} "
              f"{baseline['seconds'] / ours['seconds']:6.2f} {ours['peak_kib'] * 1024 / size:9.2f} "
              f"{ours['epochs']:7d}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
