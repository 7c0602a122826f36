"""read_rinex_obs of one day file in its four forms: plain RINEX, gzip, compact RINEX and compact RINEX in
gzip, as ratios to the plain read measured in the same run (targets: .rnx.gz <= 1.7, .crx <= 1.3,
.crx.gz <= 1.6). The gzip twins are written by Python's gzip (level 6, as gzip itself) into a temporary
directory. Thread CPU time, the best of interleaved rounds; every form must give the same epochs.
Run: .venv/bin/python bench/bench_read_archives.py [ROUNDS]
"""

import gzip
import sys
import tempfile
import time
from pathlib import Path

import vardoln_cn0

SHARED = Path(__file__).resolve().parents[1].parent / "shared" / "data"
PLAIN = SHARED / "obs3" / "ESBC00DNK_R_20201770000_01D_30S_MO.rnx"
COMPACT = SHARED / "crinex" / "ESBC00DNK_R_20201770000_01D_30S_MO.crx"
TARGETS = {".rnx": None, ".rnx.gz": 1.7, ".crx": 1.3, ".crx.gz": 1.6}


def main() -> int:
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 7
    if not PLAIN.is_file() or not COMPACT.is_file():
        print("the ESBC00DNK day files are missing (no shared data)")
        return 0
    with tempfile.TemporaryDirectory() as scratch:
        forms = {".rnx": PLAIN, ".crx": COMPACT}
        for suffix, source in ((".rnx.gz", PLAIN), (".crx.gz", COMPACT)):
            twin = Path(scratch) / ("ESBC" + suffix)
            twin.write_bytes(gzip.compress(source.read_bytes(), compresslevel=6))
            forms[suffix] = twin
        sizes = {suffix: path.stat().st_size / 1e6 for suffix, path in forms.items()}
        best = {suffix: float("inf") for suffix in TARGETS}
        epochs = {}
        for _ in range(rounds):
            for suffix in TARGETS:
                start = time.thread_time()
                data = vardoln_cn0.read_rinex_obs(str(forms[suffix]))
                best[suffix] = min(best[suffix], time.thread_time() - start)
                epochs[suffix] = (data.num_epochs, data.num_satellites)
                del data
    if len(set(epochs.values())) != 1:
        print(f"FORMS DISAGREE: {epochs}")
        return 1
    print(f"{'form':<9} {'MB':>6} {'ms':>8} {'ratio':>6}  target")
    for suffix, target in TARGETS.items():
        ratio = best[suffix] / best[".rnx"]
        mark = "" if target is None else f"<= {target}" + ("" if ratio <= target else "  MISSED")
        print(f"{suffix:<9} {sizes[suffix]:6.1f} {best[suffix] * 1e3:8.1f} {ratio:6.2f}  {mark}")
    print(f"{epochs['.rnx'][0]} epochs, {epochs['.rnx'][1]} satellites in every form")
    return 0


if __name__ == "__main__":
    sys.exit(main())
