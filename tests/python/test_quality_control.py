"""Station quality control from Python and the command line: multipath known by construction,
phase slips, pairs a file cannot give, the QC report against the per-signal tables, and the
qc and batch --qc commands on real recordings."""

import json
import math
import subprocess
import sys

import numpy as np
import pandas as pd
import pandas.testing as pdt
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vardoln_tools as vt
from rinex_text import obs_epoch, obs_header, rinex_text

C = 299792458.0
F1, F2 = 1575.42e6, 1227.60e6
INTERVAL = 30.0
MP_RMS = 0.3  # metres on C1C: a sine of period 20 epochs, so RMS 0.3 over every whole period
SLIP_EPOCH = 300  # a 5-cycle jump on L1C of G07 from this epoch on (a whole number of periods)
EPOCHS = 600

ESBC = "crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx"
ESBC_NAV = "nav/ESBC00DNK_R_20201770000_01D_MN.rnx"
YORK = "crinex/york0440.15d"


def _satellite_values(number, k, mp_rms=MP_RMS, slip_epoch=SLIP_EPOCH, slip_cycles=5.0):
    """C1C L1C C2W L2W of one satellite at epoch k: smooth range and ionosphere, multipath on C1C,
    and on G07 a jump of whole cycles on L1C from `slip_epoch` on."""
    t = k * INTERVAL
    phase = number * 0.7
    distance = 22.0e6 + 3.0e6 * math.sin(2 * math.pi * t / 43200.0 + phase)
    iono_l1 = 5.0 + 3.0 * math.sin(2 * math.pi * t / 20000.0 + phase)
    multipath = mp_rms * math.sqrt(2.0) * math.sin(2 * math.pi * k / 20.0)
    values = []
    for frequency, offset, code_multipath in ((F1, 1000.0, multipath), (F2, 2000.0, 0.0)):
        iono = iono_l1 * (F1 / frequency) ** 2
        cycles = (distance - iono) / (C / frequency) + offset
        if number == 7 and frequency == F1 and k >= slip_epoch:
            cycles += slip_cycles
        values += [distance + iono + code_multipath, cycles]
    return values


def synthetic_recording(path, **signal):
    """Three GPS satellites over 600 epochs of 30 s, RINEX 3.04, L1 and L2 only (see _satellite_values
    for the keywords)."""
    lines = obs_header({"G": ["C1C", "L1C", "C2W", "L2W"]}, marker="SYNTHETIC", interval=INTERVAL)
    for k in range(EPOCHS):
        hour, rest = divmod(k * INTERVAL, 3600)
        minute, second = divmod(rest, 60)
        lines += obs_epoch((2024, 1, 1, int(hour), int(minute), second),
                           {f"G{number:02d}": _satellite_values(number, k, **signal) for number in (3, 5, 7)})
    path.write_text("\n".join(lines) + "\n")
    return path


def test_known_multipath_and_one_phase_slip_come_back_and_the_missing_pair_says_why(tmp_path):
    obs = synthetic_recording(tmp_path / "synt0010.24o")
    mp = vt.multipath(obs)
    l1 = mp.by_satellite[mp.by_satellite.code == "C1C"].set_index("satellite")
    assert set(mp.by_satellite.pair) == {"L1/L2"}
    assert list(mp.by_satellite.codes_used.unique()) == ["C1C L1C C2W L2W"]
    for satellite in ("G03", "G05", "G07"):
        assert l1.loc[satellite, "rms"] == pytest.approx(MP_RMS, rel=0.02)
        assert l1.loc[satellite, "samples"] == EPOCHS
    # the slip splits G07's arc in two and leaves the RMS as it was (whole periods in both arcs)
    assert l1.loc["G07", "arcs"] == 2 and l1.loc["G03", "arcs"] == 1
    assert l1.loc["G07", "rms"] == pytest.approx(l1.loc["G03", "rms"], abs=1e-3)
    l2 = mp.by_satellite[mp.by_satellite.code == "C2W"]
    assert (l2.rms < 0.01).all()  # MP2 carries no multipath of its own
    assert mp.mp_by_elevation is None

    slips = vt.phase_slips(obs).set_index("satellite")
    assert slips.loc["G07", "slips"] == 1 and slips.loc["G03", "slips"] == 0
    assert slips.loc["G07", "obs_per_slip"] == EPOCHS and math.isnan(slips.loc["G03", "obs_per_slip"])
    report = vt.qc(obs)
    event = report.slip_events.iloc[0]
    assert len(report.slip_events) == 1 and event.satellite == "G07"
    assert event.time == pd.Timestamp("2024-01-01") + pd.Timedelta(seconds=SLIP_EPOCH * INTERVAL)

    # no L5 in the file: GPS L1/L5 has no rows, a reason, and no zeros anywhere
    missing = mp.missing.set_index("pair")
    assert missing.loc["L1/L5", "reason"] == "no_signal"
    assert missing.loc["L1/L5", "text"] == "no L5 code with a phase of the same tracking mode"
    frame = report.to_frame().set_index("pair")
    assert frame.loc["L1/L5", "reason"] == missing.loc["L1/L5", "text"]
    assert frame.loc[["L1/L5"], ["mp_first_rms", "mp_second_rms", "obs_per_slip"]].isna().all(axis=None)
    assert pd.isna(frame.loc["L1/L5", "slips"]) and frame.loc["L1/L2", "slips"] == 1
    # no S observables: the QC stands, the C/N0 analysis says why it has nothing to judge
    assert report.assessment is None and "signal-strength" in report.assessment_note
    assert report.verdicts() is None and report.completeness is None


@settings(max_examples=12, deadline=None)
@given(mp_rms=st.floats(0.05, 1.5), period=st.integers(2, 28), cycles=st.sampled_from([-40.0, -3.0, 2.0, 7.0, 120.0]))
def test_any_multipath_level_and_slip_come_back(tmp_path_factory, mp_rms, period, cycles):
    slip_epoch = 20 * period  # whole multipath periods on both sides of the slip
    obs = synthetic_recording(tmp_path_factory.mktemp("synthetic") / "synt0010.24o", mp_rms=mp_rms,
                              slip_epoch=slip_epoch, slip_cycles=cycles)
    l1 = vt.multipath(obs).by_satellite.query("code == 'C1C'").set_index("satellite")
    assert np.allclose(l1.rms, mp_rms, rtol=0.02)
    assert list(l1.arcs) == [1, 1, 2]
    events = vt.qc(obs).slip_events
    assert list(events.satellite) == ["G07"]
    assert events.time.iloc[0] == pd.Timestamp("2024-01-01") + pd.Timedelta(seconds=slip_epoch * INTERVAL)


def test_threads_and_a_header_without_position(tmp_path, shared_file):
    # the native pass runs without the interpreter lock: concurrent calls give the single answer
    from concurrent.futures import ThreadPoolExecutor

    obs = synthetic_recording(tmp_path / "synt0010.24o")
    nav = shared_file("nav/SEPT2650.21P")
    expected = vt.qc(obs, nav)
    with ThreadPoolExecutor(4) as pool:
        reports = list(pool.map(lambda _: vt.qc(obs, nav), range(6)))
    for report in reports:
        pdt.assert_frame_equal(report.multipath.samples, expected.multipath.samples, check_exact=True)
        pdt.assert_frame_equal(report.pairs, expected.pairs, check_exact=True)
    # navigation data but no APPROX POSITION XYZ: nothing masked, completeness says why
    assert not expected.has_elevations and expected.multipath.mp_by_elevation is None
    assert expected.completeness is None and "no APPROX POSITION XYZ" in expected.completeness_note
    assert expected.coverage is not None


@pytest.fixture(scope="module")
def esbc_report():
    from conftest import require_real_file

    obs, nav = require_real_file(ESBC), require_real_file(ESBC_NAV)
    return obs, nav, vt.qc(obs, nav)


def test_real_day_multipath_lies_in_the_geodetic_range_and_grows_towards_the_horizon(esbc_report):
    obs, nav, report = esbc_report
    gps = report.pairs.set_index("pair").loc["L1/L2"]
    assert 0.1 < gps.mp_first_rms < 1.0 and 0.1 < gps.mp_second_rms < 1.0
    bins = report.multipath.mp_by_elevation
    gps_bins = bins[(bins.system == "GPS") & (bins.pair == "L1/L2")]
    for signal in ("L1", "L2"):
        rows = gps_bins[gps_bins.signal == signal]
        low = rows[rows.elevation_low < report.min_elevation + 10]
        high = rows[rows.elevation_low >= 45]
        rms = {name: math.sqrt((part.rms ** 2 * part.samples).sum() / part.samples.sum())
               for name, part in (("low", low), ("high", high))}
        assert rms["low"] > rms["high"]
    # the report's C/N0 verdicts are the assessment's, with the same mask
    from vardoln_tools.judge import assessment, settings

    judged = assessment.assess(str(obs), [str(nav)], settings.analysis_config(min_elevation=10.0))
    assert report.verdicts() == judged.verdicts() and report.assessment.quality == judged.quality
    # QZSS is seen only below 10 degrees on that day: said so, not zeroed
    qzss = report.to_frame().set_index("system").loc["QZSS"]
    assert "below the elevation mask" in qzss.reason and math.isnan(qzss.mp_first_rms)


def test_report_tables_equal_the_per_signal_functions_and_to_dict_round_trips(esbc_report):
    obs, nav, report = esbc_report
    stats = vt.signal_stats(obs, nav, min_elevation=10.0)
    pdt.assert_frame_equal(report.cn0.by_signal, stats.by_signal, check_exact=True)
    pdt.assert_frame_equal(report.cn0.by_constellation, stats.by_constellation, check_exact=True)
    pdt.assert_frame_equal(report.completeness, vt.completeness(obs, nav, 10.0), check_exact=True)
    # coverage of the constellations that the C/N0 analysis judges
    pdt.assert_frame_equal(report.coverage, vt.navigation_coverage(obs, nav, ["G", "R", "E", "C"]), check_exact=True)
    # the QC pass with the tables' positions equals the pass on its own
    alone = vt.multipath(obs, nav)
    pdt.assert_frame_equal(report.multipath.by_satellite, alone.by_satellite, check_exact=True)
    pdt.assert_frame_equal(report.multipath.samples, alone.samples, check_exact=True)

    document = report.to_dict()
    text = json.dumps(document, allow_nan=False)
    assert json.loads(text) == document
    by_pair = {(row["system"], row["pair"]): row for row in document["constellations"]}
    for row in report.pairs.itertuples():
        entry = by_pair[(row.system, row.pair)]
        assert entry["mp_first_rms"] == row.mp_first_rms and entry["slips"] == row.slips
        assert entry["obs_per_slip"] == (None if math.isnan(row.obs_per_slip) else row.obs_per_slip)
    assert document["verdicts"] == report.verdicts()
    assert len(document["multipath"]["by_satellite"]) == 2 * len(report.phase_slips)


COMMAND = "import sys; from vardoln_tools.commands import main; sys.exit(main(sys.argv[1:]))"


def _command(*args):
    """vardoln-cn0 ARGS in a fresh interpreter, as a shell would run it."""
    return subprocess.run([sys.executable, "-c", COMMAND, *map(str, args)], capture_output=True, text=True,
                          timeout=600)


def test_qc_command_on_real_files_with_and_without_navigation(tmp_path, shared_file):
    obs, nav = shared_file(ESBC), shared_file(ESBC_NAV)
    done = _command("qc", obs, "--nav", nav, "--json", tmp_path / "qc.json", "--plots", tmp_path / "plots",
                    "--html", tmp_path / "qc.html")
    assert done.returncode == 0, done.stderr
    out = done.stdout
    for block in ("\nBeiDou (", "\nGalileo (", "\nGPS (", "\nGLONASS (", "\nQZSS ("):
        assert block in out
    # the mask of every command that analyses, 5 degrees: QZSS, seen only below 10 degrees that day, has rows
    assert "  L1/L2  C1C L1C C2W L2W    31    30483" in out and "L1 0.267" in out and "L2 0.297" in out
    assert "  L1/L2  C1C L1C C2L L2L     3     1105" in out and "below the elevation mask" not in out
    assert "Verdicts (C/N0 analysis, elevation mask 5°)" in out and "Quality        Grade " in out
    document = json.loads((tmp_path / "qc.json").read_text())
    assert document["files"]["navigation"] == [str(nav)] and document["epochs"] == 2880
    assert sorted(path.name for path in (tmp_path / "plots").iterdir()) == ["multipath-elevation.png",
                                                                           "multipath-time.png"]
    page = (tmp_path / "qc.html").read_text()
    assert "<h2>Station quality control</h2>" in page and "C/N0 jumps" in page and 'id="multipath-time"' in page

    york = _command("qc", shared_file(YORK))
    assert york.returncode == 0, york.stderr
    assert "no elevation mask" in york.stdout and "Completeness   not computed" in york.stdout
    assert "L1/L5  no rows: no L5 code with a phase of the same tracking mode" in york.stdout

    wrong = _command("qc", nav)
    assert wrong.returncode == 1 and "expected a RINEX observation file" in wrong.stderr
    empty = tmp_path / "empty0010.24o"
    empty.write_text(rinex_text(obs_header({"G": ["C1C", "S1C"]}), []))
    nothing = _command("qc", empty)
    assert nothing.returncode == 3 and "nothing to judge" in nothing.stderr


def test_batch_qc_adds_the_constellation_columns(tmp_path, shared_file):
    york, kms = shared_file(YORK), shared_file("crinex/KMS300DNK_R_20221591000_01H_30S_MO.crx")
    folder = tmp_path / "obs"
    folder.mkdir()
    for source in (york, kms):
        (folder / source.name).write_bytes(source.read_bytes())
    done = _command("batch", folder, "--qc", "--no-progress", "--jsonl", tmp_path / "rows.jsonl")
    assert done.returncode == 0, done.stderr
    lines = (tmp_path / "rows.jsonl").read_text().splitlines()
    rows = {row["path"].rsplit("/", 1)[-1]: row for row in map(json.loads, lines)}
    york_row = rows[york.name]
    report = vt.qc(york)
    gps = report.pairs.set_index("pair").loc["L1/L2"]
    assert york_row["mp_L1_L2_GPS"] == pytest.approx(gps.mp_first_rms, rel=1e-12)
    assert york_row["mp_L2_L1_GPS"] == pytest.approx(gps.mp_second_rms, rel=1e-12)
    assert york_row["obs_per_slip_GPS"] == pytest.approx(gps.observations / gps.slips)
    assert york_row["phase_slips_GPS"] == gps.slips and york_row["completeness_GPS"] is None
    assert york_row["mp_L1_L5_GPS"] is None  # a column of the other row; york has no L5
    # a recording without C/N0 has nothing to judge, and its QC figures all the same
    kms_row = rows[kms.name]
    assert kms_row["status"] == "nothing to judge" and 0.1 < kms_row["mp_L1_L2_GPS"] < 1.0
    assert np.isfinite(kms_row["mp_E1_E5a_Galileo"])
