#!/usr/bin/env python3
"""Rebuilds the seed corpora under fuzz/seeds/ from the real recordings in ../shared/data.

Each seed is a real file cut to its header (comment lines dropped) and the first few records,
so that the fuzzers start from every dialect the readers meet without carrying megabytes. The
seeds are committed; run this again only when the set of recordings changes:

    python3 fuzz/make_seeds.py [path/to/shared/data]
"""

import gzip
import shutil
import subprocess
import sys
from pathlib import Path

FUZZ = Path(__file__).resolve().parent
DATA = Path(sys.argv[1]) if len(sys.argv) > 1 else FUZZ.parents[1] / "shared" / "data"
SEEDS = FUZZ / "seeds"
MAX_SEED_BYTES = 6000

OBS = [
    "obs2/AJAC3550.21O", "obs2/ab430140.18o", "obs2/kerg1700.16o", "obs2/nklg170b00.16o",
    "obs2/delf0010.21o", "obs2/york0440.15o",
    "obs3/ALAC00ESP_R_20220090000_01D_30S_MO.rnx", "obs3/pdel0010.21o", "obs3/sptu0150.16o",
    "obs3/z_tracking.rnx", "obs3/nrmg0150.16o", "obs3/16dBatt_no_interference_coldstart.obs",
    "obs3/reach-m2-01_raw_202306291111.23O", "obs3/SEPT265G.21O",
    "edge/blank3.10o", "edge/demo3.10o", "edge/junk_time_obs3.10o", "edge/mixed211.05o",
    "edge/rinex_obs_mixed_types.20o", "edge/test_input_rinex2_obs_BadEpochFlag.06o",
    "edge/test_input_rinex2_obs_RinexContData.06o", "edge/test_input_rinex3_obs_InvalidTimeFormat.15o",
    "edge/faa1170b00.16o", "edge/INS_1581.19O", "edge/UCAL00CAN_S_20161700100_15M_01S_MO",
    "edge/Spirent_RINEX_MO.obs", "edge/SkydelRINEX_S_20230080959_04H_02Z_MO.rnx",
    "edge/GEOP092I.24o", "edge/3034265G.21O", "edge/07590920.05o", "edge/flrs0010.12o",
]
NAV = [
    "nav/16dBatt_no_interference_coldstart.nav", "nav/30340780.21q",
    "nav/AMEL00NLD_R_20210010000_01D_MN.rnx", "nav/BRDC00GOP_R_20210010000_01D_MN.rnx",
    "nav/CBW100NLD_R_20210010000_01D_MN.rnx", "nav/CEDA00USA_R_20182100000_01D_MN.rnx",
    "nav/NYA100NOR_S_20241240000_01D_CN.rnx", "nav/NYA100NOR_S_20241240000_01D_EN.rnx",
    "nav/SEPT078M.21P", "nav/ab422100.18n", "nav/amel0010.21g", "nav/brdc3050.12g",
    "nav/brdc3050.12q", "nav/cbw10010.21n", "nav/ceda2100.18e", "nav/p1462100.18g",
    "nav/reach-m2-01_raw_202306291111.nav", "edge/07590920.05n", "edge/BRDM00DLR_S_20230730000_01D_MN.rnx",
    "edge/INS_1581.19N", "edge/INS_1581.19P", "edge/SkydelRINEX_S_20238959_120S_SN.rnx",
    "edge/SkydelRINEX_S_20238959_1800S_RN.rnx", "edge/SkydelRINEX_S_20238959_3600S_CN.rnx",
    "edge/SkydelRINEX_S_20238959_3600S_JN.rnx", "edge/SkydelRINEX_S_20238959_4800S_IN.rnx",
    "edge/SkydelRINEX_S_20238959_7200S_GN.rnx",
]
# RINEX 4 navigation: every record starts with a "> KIND SAT MESSAGE" marker line. Each seed holds
# the first record of each listed type, so that the reader meets every kind in a few KB.
RINEX4 = "nav/BRD400DLR_S_20230710000_01D_MN.rnx"
RINEX4_SEEDS = {
    "rinex4_legacy.rnx": ["EPH G LNAV", "EPH J LNAV", "EPH E INAV", "EPH E FNAV", "EPH C D1", "EPH C D2", "EPH R FDMA"],
    "rinex4_modern.rnx": ["EPH G CNAV", "EPH J CNV2", "EPH C CNV1", "EPH C CNV2", "EPH G LNAV"],
    "rinex4_other.rnx": ["EPH S SBAS", "EPH I LNAV", "STO G LNAV", "EOP G CNVX", "ION E IFNV", "ION C D1D2", "EPH E INAV"],
}
TLE = ["tle/TLE_GNSS_20121101.txt", "tle/celestrak_gnss_20210514.txt", "tle/celestrak_gnss_20220115.txt"]
CRINEX = [
    "crinex/ACOR00ESP_R_20213550000_01D_30S_MO.crx", "crinex/AJAC3550.21D",
    "crinex/KMS300DNK_R_20221591000_01H_30S_MO.crx", "crinex/delf0010.21d", "crinex/zegv0010.21d",
    "edge/KUNZ00CZE.crx",
]
# Observation and navigation files of the same day, so that positions and visibility run.
PAIRS = [
    ("obs3/pdel0010.21o", "nav/AMEL00NLD_R_20210010000_01D_MN.rnx"),
    ("obs2/delf0010.21o", "nav/cbw10010.21n"),
    ("obs3/ALAC00ESP_R_20220090000_01D_30S_MO.rnx", None),
    ("edge/07590920.05o", "edge/07590920.05n"),
    ("obs2/AJAC3550.21O", None),
    ("edge/INS_1581.19O", "edge/INS_1581.19P"),
]

# Quality control needs one satellite over many epochs (arcs of 10 and more): a few satellites
# of a recording over 15 epochs, with the navigation records of those satellites.
QC = [
    ("obs3/pdel0010.21o", ["G07", "G08", "R09", "R24"], "nav/cbw10010.21n"),
    ("obs3/SEPT265G.21O", ["G13", "E07", "J02"], "nav/SEPT2650.21P"),
    ("obs2/delf0010.21o", ["G07", "G08", "R09"], None),
]
QC_EPOCHS = 15

# RTCM 3 streams: the first frames of each (MSM4 to MSM7 of every constellation, legacy
# observations, station messages, UBX between frames), and the cut frame that ends GMSD7.
RTCM = [
    "rtcm/pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", "rtcm/ntripstreams/AgPartner_2.rtcm3",
    "rtcm/rtklib/testglo.rtcm3", "rtcm/gnss-converters/week-rollover-STR17.rtcm3",
    "rtcm/gnss-converters/dropped-packets-STR24.rtcm3", "rtcm/pygnssutils/pygpsdata-rtcm3.log",
]
RTCM_TAIL = "rtcm/rtklib/GMSD7_20121014.rtcm3"


def cut(path, body_lines):
    """The header without comments, and the first body_lines lines after it, within MAX_SEED_BYTES."""
    lines = path.read_bytes().splitlines(keepends=True)
    out, body = [], None
    for line in lines:
        if body is None:
            if b"COMMENT" in line[60:]:
                continue
            out.append(line)
            if b"END OF HEADER" in line[60:]:
                body = 0
        else:
            if body >= body_lines:
                break
            out.append(line)
            body += 1
    data = b"".join(out)
    while len(data) > MAX_SEED_BYTES and len(out) > 1:
        out.pop()
        data = b"".join(out)
    return data


def rinex4_records(path, types):
    """The header without comments, then the first record of each type ("EPH G LNAV") in file order."""
    lines = path.read_bytes().splitlines(keepends=True)
    first = next(i for i, line in enumerate(lines) if b"END OF HEADER" in line[60:]) + 1
    records, current, wanted = [], None, set(types)
    for line in lines[first:]:
        if line.startswith(b">"):
            kind, satellite, message = (line[1:].split() + [b"", b"", b""])[:3]
            key = f"{kind.decode()} {satellite[:1].decode()} {message.decode()}"
            current = [line] if key in wanted else None
            if current is not None:
                wanted.discard(key)
                records.append(current)
        elif current is not None:
            current.append(line)
    return cut(path, 0) + b"".join(b"".join(record) for record in records)


def header_lines(lines):
    """The header without comments, and the index of the first line after it."""
    out = []
    for index, line in enumerate(lines):
        if b"COMMENT" in line[60:]:
            continue
        out.append(line)
        if b"END OF HEADER" in line[60:]:
            return out, index + 1
    return out, len(lines)


def thin_rinex3(lines, keep):
    out, i = header_lines(lines)
    epochs = 0
    while i < len(lines) and epochs < QC_EPOCHS:
        line = lines[i]
        i += 1
        if not line.startswith(b">"):
            continue
        count = int(line[32:35])
        block = [l for l in lines[i:i + count] if l[:3].decode() in keep]
        i += count
        out.append(line[:32] + b"%3d" % len(block) + line[35:])
        out.extend(block)
        epochs += 1
    return b"".join(out)


def thin_rinex2(lines, keep):
    out, i = header_lines(lines)
    types = next(int(l[:6]) for l in out if b"# / TYPES OF OBSERV" in l)
    per_satellite = (types + 4) // 5
    epochs = 0
    while i < len(lines) and epochs < QC_EPOCHS:
        line = lines[i]
        count = int(line[29:32])
        id_lines = (count + 11) // 12
        ids = b"".join(l.rstrip(b"\r\n")[32:68] for l in lines[i:i + id_lines])
        satellites = [ids[3 * k:3 * k + 3].decode() for k in range(count)]
        i += id_lines
        kept = [(s, lines[i + n * per_satellite:i + (n + 1) * per_satellite]) for n, s in enumerate(satellites)
                if s in keep]
        i += count * per_satellite
        out.append(line[:29] + b"%3d" % len(kept) + "".join(s for s, _ in kept).encode() + b"\n")
        for _, block in kept:
            out.extend(block)
        epochs += 1
    return b"".join(out)


def nav_records(path, keep):
    """The header and the first record of each kept satellite (RINEX 2 GPS or RINEX 3)."""
    lines = path.read_bytes().splitlines(keepends=True)
    out, i = header_lines(lines)
    rinex3 = b"3." in out[0][:9]
    done = set()
    while i < len(lines):
        line = lines[i]
        key = line[:3].decode() if rinex3 else "G%02d" % int(line[:2])
        length = 1
        while i + length < len(lines) and lines[i + length][:1] == b" " and (rinex3 or length < 8):
            length += 1
        if key in keep and key not in done:
            out.extend(lines[i:i + length])
            done.add(key)
        i += length
    return b"".join(out)


def event_window(path, body_lines):
    """The header without comments, then body_lines lines from the first fresh event epoch (flag 4)."""
    lines = path.read_bytes().splitlines(keepends=True)
    header = cut(path, 0)
    start = next(i for i, line in enumerate(lines) if line.startswith(b"&") and line[28:29] == b"4")
    return header + b"".join(lines[start:start + body_lines])


def rtcm_frame_ends(data):
    """The offsets where the good RTCM 3 frames of a stream end (preamble, length, CRC-24Q)."""

    def crc24q(block):
        crc = 0
        for byte in block:
            crc ^= byte << 16
            for _ in range(8):
                crc <<= 1
                if crc & 0x1000000:
                    crc ^= 0x1864CFB
        return crc & 0xFFFFFF

    ends, at = [], 0
    while at + 6 <= len(data):
        size = 6 + (((data[at + 1] & 3) << 8) | data[at + 2])
        if data[at] == 0xD3 and at + size <= len(data) and crc24q(data[at:at + size - 3]) == int.from_bytes(
                data[at + size - 3:at + size], "big"):
            ends.append(at + size)
            at += size
        else:
            at += 1
    return ends


def rtcm_head(path):
    """The stream up to the last frame that ends within MAX_SEED_BYTES."""
    data = path.read_bytes()[:MAX_SEED_BYTES + 1100]
    return data[:max(end for end in rtcm_frame_ends(data) if end <= MAX_SEED_BYTES)]


def write(target, name, data):
    directory = SEEDS / target
    directory.mkdir(parents=True, exist_ok=True)
    (directory / name).write_bytes(data)


def main():
    if not DATA.is_dir():
        sys.exit(f"no recordings at {DATA}")
    shutil.rmtree(SEEDS, ignore_errors=True)
    for name in OBS:
        write("fuzz_obs", Path(name).name, cut(DATA / name, 40))
    for name in NAV:
        write("fuzz_nav", Path(name).name, cut(DATA / name, 24))
    write("fuzz_nav", "KMS300DNK_R_20221591000_01H_MN.rnx", cut(DATA / "nav/KMS300DNK_R_20221591000_01H_MN.rnx", 24))
    for name, types in RINEX4_SEEDS.items():
        write("fuzz_nav", name, rinex4_records(DATA / RINEX4, types))
    for name in TLE:
        lines = (DATA / name).read_bytes().splitlines(keepends=True)
        write("fuzz_tle", Path(name).name, b"".join(lines[:24]))
    for obs, nav in PAIRS:
        data = cut(DATA / obs, 60)
        if nav is not None:
            data += b"\n@@NAV@@\n" + cut(DATA / nav, 40)
        write("fuzz_analysis", Path(obs).name + ("+nav" if nav else ""), data)
    for obs, keep, nav in QC:
        lines = (DATA / obs).read_bytes().splitlines(keepends=True)
        data = thin_rinex3(lines, keep) if lines[0][5:6] == b"3" else thin_rinex2(lines, keep)
        if nav is not None:
            data += b"\n@@NAV@@\n" + nav_records(DATA / nav, keep)
        write("fuzz_qc", Path(obs).name + ("+nav" if nav else ""), data)
        write("fuzz_verdicts", Path(obs).name + ("+nav" if nav else ""), data)
    for name in CRINEX:
        write("fuzz_archive", Path(name).name, cut(DATA / name, 30))
    for name in OBS[:3] + OBS[6:8]:
        plain = cut(DATA / name, 20)
        write("fuzz_archive", Path(name).name + ".gz", gzip.compress(plain, mtime=0))
        for bits in (9, 12, 16):
            packed = subprocess.run(["compress", "-c", f"-b{bits}"], input=plain, capture_output=True).stdout
            if packed:
                write("fuzz_archive", f"{Path(name).name}.b{bits}.Z", packed)
    for name in CRINEX + ["crinex/york0440.15d"]:
        write("fuzz_crinex", Path(name).name, cut(DATA / name, 40))
    write("fuzz_crinex", "york0440.15d.event", event_window(DATA / "crinex/york0440.15d", 30))
    for name in RTCM:
        write("fuzz_rtcm", Path(name).name, rtcm_head(DATA / name))
    write("fuzz_rtcm", Path(RTCM_TAIL).name + ".tail", (DATA / RTCM_TAIL).read_bytes()[-3000:])
    crinex = cut(DATA / CRINEX[1], 30)
    write("fuzz_archive", "AJAC3550.21D.gz", gzip.compress(crinex, mtime=0))
    packed = subprocess.run(["compress", "-c"], input=crinex, capture_output=True).stdout
    write("fuzz_archive", "AJAC3550.21D.Z", packed)


if __name__ == "__main__":
    main()
