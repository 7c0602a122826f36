#!/usr/bin/env python3
"""Rebuilds tests/data/real/: the real recordings that every clone carries, copied from ../shared/data.

Each file keeps its path under the shared data folder; large ones are stored gzip-compressed with ".gz"
added (the readers recognise archives by content). The README there gets the provenance rows of the
shared data's README for every file. Usage: scripts/bundle_real_data.py [path/to/shared/data]
"""

from __future__ import annotations

import gzip
import shutil
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
TARGET = ROOT / "tests" / "data" / "real"
LIMIT_BYTES = 15 * 1000 * 1000
# Files above this size are stored compressed.
COMPRESS_FROM_BYTES = 400_000

# Chosen to cover RINEX 2, 3 and 4, CRINEX 1 and 3, navigation of every constellation, a day file for
# the slow path, and the smaller files that the tests name.
FILES = [
    # full days with their navigation: CRINEX 3, RINEX 3.05
    "crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx",
    "nav/ESBC00DNK_R_20201770000_01D_MN.rnx",
    "crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx",
    "nav/NYA100NOR_S_20241240000_01D_GN.rnx",
    "nav/NYA100NOR_S_20241240000_01D_EN.rnx",
    "nav/NYA100NOR_S_20241240000_01D_CN.rnx",
    # RINEX 2 day file, compact and plain, with event records
    "crinex/york0440.15d",
    "obs2/york0440.15o",
    # the demo recording and other RINEX 3 files
    "obs3/SEPT265G.21O",
    "nav/SEPT2650.21P",
    "nav/SEPT078M.21P",
    # a quarter hour at 1 Hz, and a low-cost receiver whose C/N0 falls by 20 dB for good
    "obs3/SEPT078M.21O",
    "obs3/16dBatt_no_interference_coldstart.obs",
    "obs3/pdel0010.21o",
    "crinex/pdel0010.21d",
    "nav/cbw10010.21n",
    "obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx",
    "crinex/ACOR00ESP_R_20213550000_01D_30S_MO.crx",
    "obs3/ALAC00ESP_R_20220090000_01D_30S_MO.rnx",
    "obs3/z_tracking.rnx",
    "obs3/sptu0150.16o",
    # RINEX 4 observation (no S codes) and navigation
    "crinex/KMS300DNK_R_20221591000_01H_30S_MO.crx",
    "edge/KMS300DNK_R_20221591000_01H_30S_MO.rnx",
    "nav/KMS300DNK_R_20221591000_01H_MN.rnx",
    "nav/BRD400DLR_S_20230710000_01D_MN.rnx",
    "edge/INS_1581.19N",
    "edge/INS_1581.19P",
    # RINEX 2 observation files and their compact twins
    "obs2/delf0010.21o",
    "crinex/delf0010.21d",
    "obs2/AJAC3550.21O",
    "crinex/AJAC3550.21D",
    "obs2/eijs0010.21o",
    "crinex/eijs0010.21d",
    "obs2/zegv0010.21o",
    "crinex/zegv0010.21d",
    "obs2/arlm200b.15o",
    "edge/KUNZ00CZE.crx",
    # odd observation files
    "edge/test_input_rinex2_obs_BadEpochFlag.06o",
    "edge/blank3.10o",
    "edge/junk_time_obs3.10o",
    "edge/demo3.10o",
    # navigation of every constellation and version
    "nav/ceda2100.18e",
    "nav/30340780.21q",
    "nav/dlf10010.21g",
    "nav/amel0010.21g",
    "nav/arlm200a.15n",
    "nav/arlm2000.15n",
    "nav/AMEL00NLD_R_20210010000_01D_MN.rnx",
    "nav/CBW100NLD_R_20210010000_01D_MN.rnx",
    "nav/BRDC00GOP_R_20210010000_01D_MN.rnx",
    "edge/BRDM00DLR_S_20230730000_01D_MN.rnx",
    "nav/reach-m2-01_raw_202306291111.nav",
    "nav/16dBatt_no_interference_coldstart.nav",
    # element sets
    "tle/celestrak_gnss_20220115.txt",
    "tle/TLE_GNSS_20121101.txt",
    # RTCM 3 (binary, always stored compressed): MSM6 and MSM7 of all seven constellations, MSM4/5/7
    # with legacy 1004/1012, and legacy GLONASS with 1005
    "rtcm/pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log",
    "rtcm/ntripstreams/AgPartner_2.rtcm3",
    "rtcm/rtklib/testglo.rtcm3",
]

README_HEAD = """# Real recordings carried by every clone

A small selection of `../shared/data` (the team's collection of public test recordings), so that the
real-data tests run on any clone. Each file keeps its path under that folder; files above
{threshold} kB are stored gzip-compressed with `.gz` added to the name (the readers recognise gzip by
content, and the test helpers find `NAME.gz` when asked for `NAME`). The tests look for a file in
`$VARDOLN_TEST_DATA`, then `../shared/data`, then here; set `VARDOLN_NO_SHARED_DATA=1` to pass over
`../shared/data` and test as a fresh clone would.

Rebuilt by `scripts/bundle_real_data.py` (which also writes this file); {count} files, {total:.2f} MB
on disk. Nobody on this team wrote any of these files. The rows below are copied from the shared data's
README: source repository and commit, path there, licence of that repository, and what the file holds.
The RINEX data themselves come from the station operators (mostly IGS, EUREF and national networks).

"""


def provenance_rows(readme: str) -> dict[str, tuple[str, str]]:
    """File path -> (table header lines, row) from the shared README's tables."""
    rows: dict[str, tuple[str, str]] = {}
    header = ""
    source = ""  # the source cell of the row above
    lines = readme.splitlines()
    for index, line in enumerate(lines):
        if line.startswith("| file |"):
            header = line + "\n" + lines[index + 1]
        elif line.startswith("| ") and header:
            # "same folder" names the source of the row above in the shared README, not here
            cells = line.split("|")
            if cells[2].strip() == "same folder" and source:
                cells[2] = f" {source} "
                line = "|".join(cells)
            source = cells[2].strip()
            # a row may list several files of one folder: "folder/a.rtcm, b.rtcm"
            names = [name.strip() for name in line.split("|")[1].split(",")]
            folder = names[0].rpartition("/")[0]
            for name in names:
                if folder and "/" not in name:
                    name = folder + "/" + name
                rows.setdefault(name, (header, line))
    return rows


def main() -> int:
    shared = Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT.parent / "shared" / "data"
    rows = provenance_rows((shared / "README.md").read_text(encoding="utf-8"))
    if TARGET.exists():
        shutil.rmtree(TARGET)
    total = 0
    tables: dict[str, list[str]] = {}
    for relative in FILES:
        data = (shared / relative).read_bytes()
        target = TARGET / relative
        target.parent.mkdir(parents=True, exist_ok=True)
        if len(data) > COMPRESS_FROM_BYTES or relative.startswith("rtcm/"):
            # mtime 0: the same input gives the same bytes
            data = gzip.compress(data, compresslevel=9, mtime=0)
            target = target.with_name(target.name + ".gz")
        target.write_bytes(data)
        total += len(data)
        # the RTCM rows name a file by its path below rtcm/
        header, row = rows[relative] if relative in rows else rows[relative.split("/", 1)[1]]
        # one row per bundled file, named by its path here (a shared row may name several files)
        row = f"| {relative} |" + row.split("|", 2)[2]
        tables.setdefault(header, []).append(row)
    if total > LIMIT_BYTES:
        print(f"bundle is {total} bytes, over the limit of {LIMIT_BYTES}", file=sys.stderr)
        return 1
    text = README_HEAD.format(threshold=COMPRESS_FROM_BYTES // 1000, count=len(FILES), total=total / 1e6)
    text += "\n\n".join(header + "\n" + "\n".join(body) for header, body in tables.items()) + "\n"
    (TARGET / "README.md").write_text(text, encoding="utf-8")
    print(f"{len(FILES)} files, {total} bytes in {TARGET}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
