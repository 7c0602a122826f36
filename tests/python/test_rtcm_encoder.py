"""Recordings written as RTCM 3 streams, checked with another decoder (pyrtcm): every cell the
encoder writes against the recording it came from, the C/N0 of the real streams against the
native reader, and the `vardoln-cn0 rtcm` command."""

import gzip
import io
import math
from collections import Counter

import numpy as np
import pandas as pd
import pytest

from conftest import REPO_ROOT, full_data_directories, real_file, require_real_file
from vardoln_tools import _native, commands
from vardoln_tools.tables import observations, recording, rtcm

pyrtcm = pytest.importorskip("pyrtcm")

C = 299_792_458.0
RINEX3 = "obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx"
WITH_DOPPLER = "obs3/pdel0010.21o"  # GPS and GLONASS with D codes
# Carriers in MHz by constellation and band digit, as the messages name the bands (BeiDou band
# 1 is B1C); GLONASS G1 and G2 by channel below.
CARRIERS_MHZ = {
    "G": {"1": 1575.42, "2": 1227.60, "5": 1176.45},
    "E": {"1": 1575.42, "5": 1176.45, "7": 1207.14, "8": 1191.795, "6": 1278.75},
    "C": {"1": 1575.42, "2": 1561.098, "5": 1176.45, "7": 1207.14, "6": 1268.52},
    "J": {"1": 1575.42, "2": 1227.60, "5": 1176.45, "6": 1278.75},
    "S": {"1": 1575.42, "5": 1176.45},
    "I": {"5": 1176.45, "9": 2492.028},
}
LETTERS = {"GPS": "G", "GLONASS": "R", "GALILEO": "E", "SBAS": "S", "QZSS": "J", "BEIDOU": "C", "NAVIC": "I"}


def wavelength(letter, band, channel):
    if letter == "R":
        if channel is None:
            return None
        mhz = {"1": 1602.0 + 0.5625 * channel, "2": 1246.0 + 0.4375 * channel}.get(band)
    else:
        mhz = CARRIERS_MHZ.get(letter, {}).get(band)
    return None if mhz is None else C / (mhz * 1e6)


def lock_range_ms(indicator, level):
    """[low, high) of the lock time an indicator stands for (high None: no bound)."""
    if level <= 5:
        if indicator == 0:
            return 0, 32
        return (2 ** (indicator + 4), None) if indicator >= 15 else (2 ** (indicator + 4), 2 ** (indicator + 5))
    if indicator < 64:
        return indicator, indicator + 1
    if indicator >= 704:
        return 2 ** 26, None
    k = indicator // 32 - 1
    return (indicator - 32 * k) << k, ((indicator - 32 * k) << k) + (1 << k)


def cell_satellites(message, letter):
    """The satellite key of each cell of an MSM, from its masks (satellite IDs count from the
    mask's first bit; SBAS ID 1 is PRN 120, key S20)."""
    ids = [i + 1 for i in range(64) if message.DF394 >> (63 - i) & 1]
    cells = message.NSat * message.NSig
    keys = []
    for n in range(cells):
        if message.DF396 >> (cells - 1 - n) & 1:
            number = ids[n // message.NSig] + (19 if letter == "S" else 0)
            keys.append(f"{letter}{number:02d}")
    return keys


def msm_epochs(stream):
    """pyrtcm's cells of the stream's MSM messages, one dict per epoch (closed by a message
    without the multiple-message bit): (satellite, signal) -> values."""
    epochs, cells = [], {}
    for _, message in pyrtcm.RTCMReader(io.BytesIO(stream), quitonerror=0):
        if message is None or not getattr(message, "ismsm", False):
            continue
        level = int(message.identity[3])
        meta, satellites, message_cells = pyrtcm.parse_msm(message)
        letter = LETTERS[meta["gnss"]]
        by_prn = {s["PRN"]: s for s in satellites}
        for key, cell in zip(cell_satellites(message, letter), message_cells):
            satellite = by_prn[cell["CELLPRN"]]
            rough = satellite["DF397"] + satellite["DF398"] if satellite["DF397"] != 255 else None
            fine_range = cell.get("DF400", cell.get("DF405"))
            fine_phase = cell.get("DF401", cell.get("DF406"))
            invalid_range, invalid_phase = (-(2 ** -10), -(2 ** -8))
            info = satellite.get("DF419", satellite.get("ExtSatInfo"))
            cells[(key, cell["CELLSIG"])] = {
                "level": level,
                "range_m": None if rough is None or fine_range == invalid_range else (rough + fine_range) * C / 1000,
                "phase_m": None if rough is None or fine_phase == invalid_phase else (rough + fine_phase) * C / 1000,
                "lock": cell.get("DF402", cell.get("DF407")),
                "half": cell["DF420"],
                "cn0": cell.get("DF403", cell.get("DF408")),
                "channel": info - 7 if letter == "R" and info is not None and info <= 13 else None,
                "rate_m_s": None if satellite.get("DF399", -8192) == -8192 or cell.get("DF404") in (None, -1.6384)
                else satellite["DF399"] + cell["DF404"],
            }
        if not message.DF393:
            epochs.append(cells)
            cells = {}
    return epochs


def record_epochs(loaded):
    """The recording's values by epoch: [(ms of the epoch, {(satellite, band+attribute): {C, L, S, lli}})]."""
    frame = observations.load_observations(loaded)
    frame = frame[frame["code"].str.len() == 3]
    epochs = {}
    for time, satellite, code, value, lli in zip(frame["time"].astype("int64") // 1_000_000, frame["satellite"],
                                                  frame["code"], frame["value"], frame["lli"]):
        cell = epochs.setdefault(int(time), {}).setdefault((satellite, code[1:]), {})
        cell[code[0]] = float(value)
        if code[0] == "L":
            cell["lli"] = 0 if pd.isna(lli) else int(lli)
    return sorted(epochs.items())


@pytest.mark.parametrize("msm", [4, 5, 6, 7])
@pytest.mark.parametrize("relative", [RINEX3, WITH_DOPPLER])
def test_pyrtcm_reads_what_the_encoder_wrote_cell_by_cell(relative, msm):
    loaded = recording.load(require_real_file(relative))
    stream = rtcm.write(loaded, msm=msm, station=7)
    decoded = msm_epochs(stream)
    source = record_epochs(loaded)
    cn0_step = 1.0 if msm <= 5 else 1 / 16
    range_tolerance_m = 0.02
    starts, offsets, previous = {}, {}, set()
    checked = Counter()
    # Every epoch with cells became one epoch of messages, in order.
    carried = set().union(*decoded)
    with_cells = [(ms, cells) for ms, cells in source if not carried.isdisjoint(cells)]
    assert len(decoded) == len(with_cells)
    for (ms, cells), got in zip(with_cells, decoded):
        for key, cell in got.items():
            assert key in cells, key
            want = cells[key]
            assert cell["level"] == msm
            # halves away from zero, as the encoder rounds (Python's round() would go to even)
            expected_cn0 = min(math.floor(want["S"] / cn0_step + 0.5) * cn0_step, 63 if msm <= 5 else 1023 / 16) \
                if "S" in want else 0
            assert cell["cn0"] == expected_cn0, (key, ms)
            if "C" in want:
                assert abs(cell["range_m"] - want["C"]) <= range_tolerance_m, (key, ms)
                checked["range"] += 1
            lam = wavelength(key[0][0], key[1][0], cell["channel"])
            restart = key not in previous or want.get("lli", 0) & 1
            if "L" in want and lam is not None:
                assert cell["phase_m"] is not None, (key, ms)
                cycles = round(want["L"] - cell["phase_m"] / lam)
                assert abs((want["L"] - cycles) * lam - cell["phase_m"]) <= 1e-3, (key, ms)
                restart = restart or offsets.get(key, cycles) != cycles
                offsets[key] = cycles
                checked["phase"] += 1
            if "D" in want and lam is not None and msm in (5, 7):
                # phase-range rate: minus the Doppler shift in wavelengths per second, 0.1 mm/s steps
                assert abs(cell["rate_m_s"] + want["D"] * lam) <= 0.6e-4, (key, ms)
                checked["rate"] += 1
            if restart:
                starts[key] = ms
            low, high = lock_range_ms(cell["lock"], msm)
            assert low <= ms - starts[key] and (high is None or ms - starts[key] < high), (key, ms, cell["lock"])
            assert cell["half"] == (want.get("lli", 0) >> 1) & 1
        previous = set(got)
    assert checked["range"] > 2000 and checked["phase"] > 1000, checked  # MSM4/6: no GLONASS channel, no phase
    with_doppler = any("D" in cell for _, cells in source for cell in cells.values())
    assert checked["rate"] > 1000 or msm in (4, 6) or not with_doppler, checked


def legacy_cn0(message):
    """{satellite: {code: C/N0}} of a legacy observation message (1002/1004 GPS, 1010/1012
    GLONASS), the codes as the native reader names the code indicators."""
    gps = message.identity in ("1002", "1004")
    letter, count, satellite_field = ("G", message.DF006, "DF009") if gps else ("R", message.DF035, "DF038")
    l2_codes = ("2X", "2P", "2D", "2W") if gps else ("2C", "2P")
    bands = {"1002": [("DF010", "DF015")], "1004": [("DF010", "DF015"), ("DF016", "DF020")],
             "1010": [("DF039", "DF045")], "1012": [("DF039", "DF045"), ("DF046", "DF050")]}[message.identity]
    satellites = {}
    for i in range(1, count + 1):
        number = getattr(message, f"{satellite_field}_{i:02d}")
        key = f"S{number - 20:02d}" if 40 <= number <= 58 else f"{letter}{number:02d}"
        values = satellites.setdefault(key, {})
        for band, (indicator_field, cn0_field) in enumerate(bands):
            indicator = getattr(message, f"{indicator_field}_{i:02d}")
            value = getattr(message, f"{cn0_field}_{i:02d}")
            if value:
                values[("1C", "1P")[indicator] if band == 0 else l2_codes[indicator]] = float(value)
    return satellites


def pyrtcm_cn0(data):
    """The C/N0 values pyrtcm reads, as the native record keeps them: one entry per satellite and
    epoch, a later message's entry of the satellite replacing an earlier one of the same epoch
    (an epoch ends with a message whose more-messages bit is clear, or at a new time); GLONASS
    legacy messages (time of day only) and MSMs without a day wait for a message that dates them."""
    entries = {}
    closed = 0  # epochs closed by the more-messages bit
    timed = False
    for _, message in pyrtcm.RTCMReader(io.BytesIO(data), quitonerror=0):
        if message is None:
            continue
        if getattr(message, "ismsm", False) and int(message.identity[3]) >= 4:
            meta, _, cells = pyrtcm.parse_msm(message)
            letter = LETTERS[meta["gnss"]]
            timed = timed or letter != "R" or message.DF416 <= 6
            satellites, more = {}, message.DF393
            for key, cell in zip(cell_satellites(message, letter), cells):
                value = cell.get("DF403", cell.get("DF408"))
                named = len(cell["CELLSIG"]) == 2 and cell["CELLSIG"].isalnum()
                satellites.setdefault(key, {}).update({cell["CELLSIG"]: float(value)} if value and named else {})
        elif message.identity in ("1002", "1004", "1010", "1012"):
            timed = timed or message.identity in ("1002", "1004")
            satellites, more, meta = legacy_cn0(message), message.DF005, {"epoch": message.DF004 if
                                                                           message.identity < "1009" else message.DF034}
        else:
            continue
        if timed:
            for key, values in satellites.items():
                entries[(key, meta["epoch"], closed)] = values
        closed += 0 if more else 1
    return Counter((key[0], value) for key, values in entries.items() for value in values.values())


def real_streams():
    names = {"rtcm/pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log", "rtcm/ntripstreams/AgPartner_2.rtcm3",
             "rtcm/rtklib/testglo.rtcm3"}
    for directory in full_data_directories():
        if (directory / "rtcm").is_dir():
            names |= {str(path.relative_to(directory)) for path in (directory / "rtcm").rglob("*") if path.is_file()}
    return sorted(names)


@pytest.mark.parametrize("relative", real_streams())
def test_pyrtcm_and_the_native_reader_read_the_same_cn0(relative):
    path = real_file(relative) or real_file(relative.removesuffix(".gz"))
    if path is None:
        pytest.skip(f"{relative} not present")
    data = path.read_bytes()
    if path.suffix == ".gz" and not relative.endswith(".gz"):
        data = gzip.decompress(data)
    expected = pyrtcm_cn0(data)
    native = rtcm.read(data, gps_week=2000)  # C/N0 does not depend on the date
    frame = observations.load_observations(native)
    frame = frame[frame["code"].str.startswith("S")]
    got = Counter(zip(frame["satellite"].astype(str), frame["value"].astype(float)))
    assert got == expected


def test_rtcm_command_writes_a_stream_read_back_alike(capsys, tmp_path):
    obs = require_real_file(RINEX3)
    out = tmp_path / "acor.rtcm3"
    code = commands.main(["rtcm", str(obs), "--msm", "4", "--station", "12", "-o", str(out)])
    printed, err = capsys.readouterr()
    assert code == 0 and err == ""
    stream = out.read_bytes()
    contents = rtcm.contents(stream)
    assert printed == (f"{out}: {contents.epochs} epochs, {sum(contents.messages.values())} messages ("
                       + ", ".join(f"{n} x {t}" for t, n in sorted(contents.messages.items()))
                       + f"), {len(stream)} bytes\n")
    assert {1005, 1033, 1074, 1084, 1094, 1124} <= set(contents.messages)
    # Read back by the native reader: the same epochs, and C/N0 in whole dB-Hz.
    loaded = recording.load(obs)
    source = observations.load_observations(loaded)
    first_time = source["time"].min()
    back = rtcm.read(stream, gps_week=(first_time - pd.Timestamp("1980-01-06")).days // 7)
    read = observations.load_observations(back)
    assert read["time"].nunique() == contents.epochs == source["time"].nunique()
    assert read["time"].min() == first_time
    assert set(read["satellite"].astype(str)) <= set(source["satellite"].astype(str))
    s_read = read[read["code"] == "S1C"]["value"].to_numpy()
    assert len(s_read) > 0 and np.all(s_read == np.round(s_read))
    first = stream[:6 + (((stream[1] & 3) << 8) | stream[2])]
    assert first[3] << 4 | first[4] >> 4 == 1005


@pytest.mark.parametrize("argv, message", [
    (["rtcm", "{obs}", "--station", "5000", "-o", "{tmp}/x"], "--station 5000: expected a reference station ID"),
    (["rtcm", "{tmp}/none.rnx", "-o", "{tmp}/x"], "{tmp}/none.rnx: Cannot read obs file"),
    (["rtcm", "{obs}", "-o", "{tmp}/no/such/x"], "cannot write {tmp}/no/such/x"),
])
def test_rtcm_command_errors(capsys, tmp_path, argv, message):
    obs = require_real_file(RINEX3)
    code = commands.main([a.format(obs=obs, tmp=tmp_path) for a in argv])
    err = capsys.readouterr().err
    assert code == 1 and err.count("\n") == 1
    assert err.startswith("vardoln-cn0: error: " + message.format(tmp=tmp_path))


def test_rtcm_command_refuses_another_level(capsys):
    with pytest.raises(SystemExit) as stop:
        commands.main(["rtcm", str(REPO_ROOT / "samples" / "SEPT265G.21O"), "--msm", "3", "-o", "x"])
    assert stop.value.code == 2


def test_write_rtcm_takes_what_load_takes():
    obs = str(REPO_ROOT / "samples" / "SEPT265G.21O")
    assert _native.write_rtcm(obs, 6) == _native.write_rtcm(_native.load(obs), msm=6)
    with pytest.raises(ValueError, match="msm"):
        _native.write_rtcm(obs, msm=8)
    assert rtcm.contents(_native.write_rtcm(obs)).messages[1077] > 0
