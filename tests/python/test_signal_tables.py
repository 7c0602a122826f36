"""Per-signal C/N0 statistics, the elevation profile and completeness: a synthetic recording
whose answers are known by construction, and real recordings against the analysis and NumPy."""

import json
import math
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest

import vardoln_cn0
from vardoln_tools import cn0_elevation_profile, completeness, load_observations, satellite_geometry, signal_stats

from rinex_text import header_line, obs_epoch, obs_header

SEPT_OBS, SEPT_NAV = "obs3/SEPT265G.21O", "nav/SEPT2650.21P"
ESBC_OBS, ESBC_NAV = "crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx", "nav/ESBC00DNK_R_20201770000_01D_MN.rnx"
SEPT_POSITION = (-3962108.2258, 3381309.0271, 3668678.5241)
MISSING_EPOCH = 7


@pytest.fixture
def synthetic(write_rinex, shared_file):
    """Ten 30 s epochs at the SEPT receiver (epoch 7 absent from the file): G05 (about 50 deg up)
    tracks S1C throughout and S2W in epochs 0-4 only; G15 (66 deg) tracks S1C and writes S2W as
    0.000; G14 (16 deg) and the SBAS satellite S20 track S1C."""
    nav = shared_file(SEPT_NAV)
    lines = obs_header({"G": ["S1C", "S2W"], "S": ["S1C"]}, marker="SYNT", interval=30.0)
    lines.insert(-1, header_line("".join(f"{v:14.4f}" for v in SEPT_POSITION), "APPROX POSITION XYZ"))
    for k in range(10):
        if k == MISSING_EPOCH:
            continue
        lines += obs_epoch((2021, 9, 22, 6, 30 + k // 2, 30.0 * (k % 2)), {
            "G05": [40.0 + k, 30.0 + k if k < 5 else None],
            "G14": [35.0, None],
            "G15": [45.0, 0.0],
            "S20": [38.0],
        })
    return write_rinex(lines, "synt2650.21o"), nav


def by_key(frame, *columns):
    return {tuple(getattr(row, c) for c in columns): row for row in frame.itertuples(index=False)}


def test_completeness_of_a_recording_known_by_construction(synthetic):
    obs, nav = synthetic
    frame = completeness(obs, nav, min_elevation=20.0)
    assert list(frame.columns) == ["system", "code", "expected", "observed", "percent", "below_mask", "no_ephemeris",
                                   "satellites_without_code", "predictable"]
    rows = by_key(frame, "system", "code")
    assert list(rows) == [("GPS", "S1C"), ("GPS", "S2W"), ("SBAS", "S1C")]
    # G05 and G15 are up at all ten grid epochs; each has a value at the nine in the file.
    # G14 stays below the mask: its nine values are counted apart, not expected.
    s1c = rows["GPS", "S1C"]
    assert (s1c.expected, s1c.observed, s1c.percent, s1c.below_mask, s1c.no_ephemeris) == (20, 18, 90.0, 9, 0)
    assert s1c.satellites_without_code == []
    # Only G05 carries S2W (a written 0.000 is no observation): half of its ten epochs.
    s2w = rows["GPS", "S2W"]
    assert (s2w.expected, s2w.observed, s2w.percent, s2w.below_mask) == (10, 5, 50.0, 0)
    assert s2w.satellites_without_code == ["G14", "G15"]
    sbas = rows["SBAS", "S1C"]
    assert not sbas.predictable and sbas.expected is pd.NA and sbas.observed == 9 and math.isnan(sbas.percent)
    assert {key: frame.attrs[key] for key in ("interval", "interval_source", "grid_epochs", "epochs_on_grid",
                                              "missing_epochs")} == {
        "interval": 30.0, "interval_source": "header", "grid_epochs": 10, "epochs_on_grid": 9, "missing_epochs": 1}


def test_signal_stats_of_a_recording_known_by_construction(synthetic):
    obs, nav = synthetic
    present = [k for k in range(10) if k != MISSING_EPOCH]
    stats = signal_stats(obs, nav, min_elevation=20.0)
    signals = by_key(stats.by_signal, "satellite", "code")
    assert list(signals) == [("G05", "S1C"), ("G05", "S2W"), ("G14", "S1C"), ("G15", "S1C"), ("S20", "S1C")]
    g05 = signals["G05", "S1C"]
    values = np.array([40.0 + k for k in present])
    assert (g05.samples, g05.mean, g05.min, g05.max, g05.below_mask, g05.no_position) == (9, values.mean(), 40.0, 49.0, 0, 0)
    assert g05.std == pytest.approx(values.std(), rel=1e-15) and 48 < g05.mean_elevation < 52
    assert signals["G05", "S2W"].samples == 5 and signals["G05", "S2W"].mean == 32.0
    g14 = signals["G14", "S1C"]
    assert g14.samples == 0 and g14.below_mask == 9 and math.isnan(g14.mean)
    s20 = signals["S20", "S1C"]
    assert s20.samples == s20.no_position == 9 and math.isnan(s20.mean_elevation)
    constellations = by_key(stats.by_constellation, "system", "code")
    assert constellations["GPS", "S1C"].samples == 18 and constellations["GPS", "S1C"].below_mask == 9

    # Without navigation data nothing is masked: every sample counts, the geometry columns are <NA>.
    plain = signal_stats(obs, systems=["G"])
    assert set(plain.by_signal.satellite) == {"G05", "G14", "G15"}
    assert by_key(plain.by_constellation, "system", "code")["GPS", "S1C"].samples == 27
    assert plain.by_signal.below_mask.isna().all() and plain.by_signal.no_position.isna().all()


@pytest.mark.parametrize("obs, nav", [(SEPT_OBS, SEPT_NAV), (ESBC_OBS, ESBC_NAV)])
def test_signal_stats_pool_to_the_analysis_satellite_statistics(shared_file, obs, nav):
    obs_path, nav_path = shared_file(obs), shared_file(nav)
    stats = signal_stats(obs_path, nav_path, min_elevation=10.0).by_signal
    result = vardoln_cn0.analyze_cn0(str(obs_path), str(nav_path), 10.0, list("GRECJ"))
    expected = {s["satellite"]: s for s in _satellite_stats(result)}
    compared = 0
    for satellite, rows in stats[stats.samples > 0].groupby("satellite"):
        if satellite[0] not in "GRECJ" or rows["max"].max() > 60.0:  # the analysis keeps 0 to 60 dB-Hz
            continue
        analysis = expected[satellite]
        samples = rows.samples.sum()
        assert samples == analysis["observation_count"]
        assert (rows["mean"] * rows.samples).sum() / samples == pytest.approx(analysis["mean_cn0"], rel=1e-12)
        assert (rows["min"].min(), rows["max"].max()) == (analysis["min_cn0"], analysis["max_cn0"])
        assert (rows.mean_elevation * rows.samples).sum() / samples == pytest.approx(analysis["mean_elevation"], rel=1e-12)
        compared += 1
    assert compared >= 15


def _satellite_stats(result):
    return json.loads(result.to_json())["satellite_stats"].values()


def test_elevation_profile_equals_numpy_over_the_same_samples(shared_file):
    obs, nav = shared_file(SEPT_OBS), shared_file(SEPT_NAV)
    profile = cn0_elevation_profile(obs, nav, bin_deg=10.0)
    values = load_observations(obs)
    samples = values[values.code.astype(str).str.startswith("S") & (values.value > 0)]
    geometry = satellite_geometry(obs, nav)
    joined = samples.merge(geometry, on=["time", "satellite"])
    assert profile.samples.sum() == len(joined)
    joined["bin"] = np.minimum(np.floor(joined.elevation / 10.0), 8.0) * 10.0
    for (system, code, low), group in joined.groupby(["system", "code", "bin"], observed=True):
        row = profile[(profile.system == system) & (profile.code == code) & (profile.elevation_low == low)].iloc[0]
        assert row.samples == len(group) and row.elevation_high == low + 10.0
        assert [row.p10, row.p50, row.p90] == list(np.percentile(group.value, [10, 50, 90]))
        assert row["mean"] == pytest.approx(group.value.mean(), rel=1e-14)


@pytest.mark.parametrize("call, error, text", [
    (lambda o, n: cn0_elevation_profile(o, n, bin_deg=0.0), ValueError, "bin_deg must be a positive"),
    (lambda o, n: completeness(o, n, min_elevation=math.nan), ValueError, "min_elevation must be a finite"),
    (lambda o, n: signal_stats(o, n, systems="GE"), TypeError, "systems must be a list"),
    (lambda o, n: signal_stats(o, n, systems=["GPS"]), ValueError, "one-letter constellation codes"),
])
def test_arguments_are_checked(shared_file, call, error, text):
    with pytest.raises(error, match=text):
        call(shared_file(SEPT_OBS), shared_file(SEPT_NAV))


def _command(*argv):
    """`python -m vardoln_tools ARGV`: the command in a fresh interpreter."""
    return subprocess.run([sys.executable, "-m", "vardoln_tools", *map(str, argv)], capture_output=True, text=True,
                          timeout=300)


def test_signals_command_on_split_navigation_files(shared_file, tmp_path):
    obs = shared_file("crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx")
    navs = [shared_file(f"nav/NYA100NOR_S_20241240000_01D_{s}.rnx") for s in ("GN", "EN", "CN")]
    done = _command("signals", obs, *[arg for nav in navs for arg in ("--nav", nav)], "--json", tmp_path / "s.json",
                    "--plots", tmp_path / "plots")
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[1] == "Station        NYA1"
    assert "Navigation     74.3% of observed satellite-epochs positioned" in done.stdout
    assert "GLONASS 0.0%" in done.stdout and "no position at some epochs: C16, R01, R02" in done.stdout
    gps_s1c = next(line.split() for line in lines if line.split()[:2] == ["GPS", "S1C"])
    document = json.loads((tmp_path / "s.json").read_text())
    row = next(r for r in document["by_constellation"] if (r["system"], r["code"]) == ("GPS", "S1C"))
    complete = next(r for r in document["completeness"] if (r["system"], r["code"]) == ("GPS", "S1C"))
    assert gps_s1c[2:] == [str(row["samples"]), f"{row['mean']:.1f}", f"{complete['percent']:.1f}%"]
    assert sorted(p.name for p in (tmp_path / "plots").iterdir()) == ["cn0-elevation.png", "completeness.png"]


def test_signals_command_exit_statuses(shared_file, tmp_path):
    plain = _command("signals", shared_file(SEPT_OBS))
    assert plain.returncode == 0 and "complete" in plain.stdout and "Navigation" not in plain.stdout
    nothing = _command("signals", shared_file("edge/blank3.10o"))
    assert nothing.returncode == 3 and "No C/N0 samples" in nothing.stdout
    missing = _command("signals", tmp_path / "none.rnx")
    assert missing.returncode == 1 and missing.stderr == (
        f"vardoln-cn0: error: {tmp_path / 'none.rnx'}: Cannot read obs file: No such file or directory\n")
    assert str(tmp_path / "none.rnx") in missing.stderr and len(missing.stderr.splitlines()) == 1
