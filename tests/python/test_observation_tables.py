"""Observations as arrays and the satellite geometry, checked against the module itself: the
frames against RinexObsData queries of the same file, the geometry against the analysis's own
per-sample elevations, compressed twins against their plain files, the three forms against
each other, and bad input against the module's exception types."""

import gzip
import json
import math
import re
import shutil
from collections import defaultdict

import numpy as np
import pandas as pd
import pytest

import vardoln_cn0
import vardoln_tools
from conftest import real_file
from vardoln_tools import load_observations, satellite_geometry

# A RINEX 3 day with six constellations, a RINEX 3.02 excerpt, a 1 Hz QZSS file and a RINEX 2 day.
OBSERVATION_FILES = ["crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx", "obs3/pdel0010.21o", "obs3/SEPT265G.21O",
                     "crinex/york0440.15d"]
# Compressed originals and the plain files expanded from them or published beside them.
TWINS = {
    "crinex/ACOR00ESP_R_20213550000_01D_30S_MO.crx": "obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx",
    "crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx": "obs3/ESBC00DNK_R_20201770000_01D_30S_MO.rnx",
    "crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx": "obs3/NYA100NOR_S_20241240000_01D_30S_MO.rnx",
    "crinex/KMS300DNK_R_20221591000_01H_30S_MO.crx": "edge/KMS300DNK_R_20221591000_01H_30S_MO.rnx",
    "crinex/pdel0010.21d": "obs3/pdel0010.21o",
    "crinex/AJAC3550.21D": "obs2/AJAC3550.21O",
    "crinex/delf0010.21d": "obs2/delf0010.21o",
    "crinex/eijs0010.21d": "obs2/eijs0010.21o",
    "crinex/york0440.15d": "obs2/york0440.15o",
    "crinex/zegv0010.21d": "obs2/zegv0010.21o",
}


@pytest.mark.parametrize("name", OBSERVATION_FILES)
def test_frame_agrees_with_the_record_queries(shared_file, name):
    path = shared_file(name)
    frame = load_observations(path)
    record = vardoln_cn0.read_rinex_obs(str(path))
    assert list(frame.columns) == ["time", "satellite", "system", "code", "value", "lli", "ssi"]
    assert str(frame.time.dtype) == "datetime64[ns]" and str(frame.lli.dtype) == "UInt8"
    assert frame.time.nunique() == record.num_epochs == frame.attrs["epochs"]
    assert not (frame.value == 0).any()

    # Satellites per constellation letter, and codes within each letter's header list.
    letters = frame.satellite.astype(str).str[0]
    assert {letter: sorted(group.unique()) for letter, group in frame.satellite.astype(str).groupby(letters)} == \
        {letter: sorted(satellites) for letter, satellites in record.satellites_by_system().items()}
    header = record.obs_types_by_system()
    for letter, codes in frame.code.astype(str).groupby(letters):
        assert set(codes) <= set(header.get(letter) or header["G"])

    # Rows sorted by constellation letter, satellite and code, each signal in time order.
    keys = list(zip(letters, frame.satellite.astype(str), frame.code.astype(str)))
    assert keys == sorted(keys)
    assert (frame.groupby(["satellite", "code"], observed=True).time.diff().dropna() > pd.Timedelta(0)).all()

    # Per-satellite S statistics of the module: every S value counted, those in (0, 100) averaged.
    strength = frame[frame.code.astype(str).str.startswith("S")]
    expected = record.snr_stats_by_satellite()
    assert set(strength.satellite.astype(str)) == set(expected)
    for satellite, values in strength.groupby("satellite", observed=True).value:
        stats = expected[satellite]
        valid = values[(values > 0) & (values < 100)]
        assert len(values) == stats["obs_count"] and len(valid) == stats["valid_count"]
        assert math.isclose(valid.mean() if len(valid) else 0.0, stats["mean_snr"], rel_tol=1e-12)


def test_indicators_are_kept_for_rinex_2_and_3(shared_file):
    rinex2 = load_observations(shared_file("crinex/york0440.15d"))
    rinex3 = load_observations(shared_file("obs3/SEPT265G.21O"))
    for frame in (rinex2, rinex3):
        assert frame.ssi.notna().any() and frame.ssi.dropna().between(0, 9).all()
        assert frame.lli.dropna().between(0, 9).all() and frame.ssi.isna().any()
    assert rinex2.lli.notna().any()


def test_the_three_forms_hold_the_same_values(shared_file):
    path = shared_file("obs3/pdel0010.21o")
    frame = load_observations(path)
    arrays = load_observations(path, form="numpy")
    assert np.array_equal(arrays["time"], frame.time.to_numpy())
    assert list(arrays["satellites"][arrays["satellite"]]) == list(frame.satellite.astype(str))
    assert list(arrays["systems"][arrays["satellite"]]) == list(frame.system.astype(str))
    assert list(arrays["codes"][arrays["code"]]) == list(frame.code.astype(str))
    assert np.array_equal(arrays["value"], frame.value.to_numpy())
    assert np.array_equal(np.where(arrays["ssi_missing"], 99, arrays["ssi"]), frame.ssi.fillna(99).to_numpy())

    xarray = pytest.importorskip("xarray")
    dataset = load_observations(path, form="xarray")
    assert isinstance(dataset, xarray.Dataset) and dataset.sizes["time"] == frame.time.nunique()
    assert set(dataset.data_vars) == set(frame.code.astype(str))
    assert int(sum(dataset[code].count() for code in dataset.data_vars)) == len(frame)
    row = frame.iloc[len(frame) // 2]
    assert dataset[str(row.code)].sel(time=row.time, sv=str(row.satellite)).item() == row.value


def test_compressed_twins_give_the_same_frames(tmp_path):
    compared = 0
    for compressed_name, plain_name in TWINS.items():
        compressed, plain = real_file(compressed_name), real_file(plain_name)
        if compressed is None or plain is None:
            continue
        expected = load_observations(plain)
        paths = [compressed]
        if plain.stat().st_size < 2_000_000:
            paths.append(_gzipped(plain, tmp_path))
        for path in paths:
            frame = load_observations(path)
            assert frame.equals(expected), path
            assert frame.attrs | {"obs_path": ""} == expected.attrs | {"obs_path": ""}
        compared += 1
    assert compared >= 8


def _gzipped(path, directory):
    target = directory / (path.name + ".gz")
    with open(path, "rb") as source, gzip.open(target, "wb") as out:
        shutil.copyfileobj(source, out)
    return target


@pytest.mark.parametrize("obs, nav", [
    ("obs3/SEPT265G.21O", ["nav/SEPT2650.21P"]),
    ("obs3/pdel0010.21o", ["nav/cbw10010.21n"]),
    ("obs3/pdel0010.21o", ["nav/cbw10010.21n", "nav/dlf10010.21g"]),
])
def test_geometry_equals_the_analysis_elevations(shared_file, obs, nav):
    obs_path, nav_paths = shared_file(obs), [shared_file(name) for name in nav]
    geometry = satellite_geometry(obs_path, nav_paths)
    assert list(geometry.columns) == ["time", "satellite", "azimuth", "elevation"]
    assert geometry.azimuth.between(0, 360, inclusive="left").all() and geometry.elevation.abs().le(90).all()
    looked_up = {(satellite, time): (azimuth, elevation) for satellite, time, azimuth, elevation in
                 zip(geometry.satellite.astype(str), geometry.time, geometry.azimuth, geometry.elevation)}

    # The analysis takes one navigation file: several are checked one at a time, each for the
    # satellites it positions.
    checked = 0
    for nav_path in nav_paths:
        result = vardoln_cn0.analyze_cn0(str(obs_path), str(nav_path), -90.0, list("GRECJIS"))
        series = json.loads(result.to_json())["timeseries"]["satellite_timeseries"]
        own = set(satellite_geometry(obs_path, nav_path).satellite.astype(str))
        for satellite, trace in series.items():
            for point in trace["cn0_series"]:
                key = (satellite, pd.Timestamp(point["timestamp"]).tz_localize(None))
                if satellite in own and key in looked_up:
                    assert looked_up[key] == (point["azimuth"], point["elevation"])
                    checked += 1
                else:  # no position: the analysis places the sample at azimuth 0, elevation 45
                    assert (point["azimuth"], point["elevation"]) == (0.0, 45.0)
    assert checked > 100


def test_geometry_needs_a_receiver_position():
    # A simulator's recording and a hand-made excerpt, neither with APPROX POSITION XYZ; every
    # clone carries the second.
    cases = [("edge/SkydelRINEX_S_20230080959_04H_02Z_MO.rnx", "edge/SkydelRINEX_S_20238959_7200S_GN.rnx"),
             ("edge/junk_time_obs3.10o", "nav/cbw10010.21n")]
    present = [(real_file(obs), real_file(nav)) for obs, nav in cases if real_file(obs) and real_file(nav)]
    assert present
    for obs, nav in present:
        with pytest.raises(ValueError, match="no APPROX POSITION XYZ"):
            satellite_geometry(obs, nav)


def _table_calls(obs, nav):
    return {
        "load_observations": lambda: load_observations(obs),
        "satellite_geometry": lambda: satellite_geometry(obs, nav),
        "navigation_coverage": lambda: vardoln_tools.navigation_coverage(obs, nav),
        "signal_stats": lambda: vardoln_tools.signal_stats(obs, nav),
        "cn0_elevation_profile": lambda: vardoln_tools.cn0_elevation_profile(obs, nav),
        "completeness": lambda: vardoln_tools.completeness(obs, nav),
        "multipath": lambda: vardoln_tools.multipath(obs, nav),
        "phase_slips": lambda: vardoln_tools.phase_slips(obs),
    }


@pytest.mark.parametrize("function", list(_table_calls("", "")))
def test_bad_input_raises_the_module_exceptions(shared_file, tmp_path, function):
    good_obs, good_nav = shared_file("obs3/SEPT265G.21O"), shared_file("nav/SEPT2650.21P")
    missing = tmp_path / "missing.rnx"
    binary = tmp_path / "binary.rnx"
    binary.write_bytes(bytes(range(256)) * 64)
    truncated = tmp_path / "truncated.rnx.gz"
    truncated.write_bytes(gzip.compress(good_obs.read_bytes())[:5000])

    cases = [((missing, good_nav), FileNotFoundError, re.escape(str(missing))),
             ((tmp_path, good_nav), IsADirectoryError, re.escape(str(tmp_path))),
             ((binary, good_nav), ValueError, "binary.rnx': No END OF HEADER found"),
             ((truncated, good_nav), ValueError, "truncated.rnx.gz': gzip: ")]
    if function not in ("load_observations", "phase_slips"):
        cases += [((good_obs, missing), FileNotFoundError, re.escape(str(missing))),
                  ((good_obs, binary), ValueError, "cannot read navigation file '.*binary.rnx'")]
    for (obs, nav), error, text in cases:
        with pytest.raises(error) as raised:
            _table_calls(obs, nav)[function]()
        assert re.search(text, str(raised.value)), (function, obs, nav, str(raised.value))


def test_threads_get_the_same_tables(shared_file):
    # The file work runs without the interpreter lock; concurrent calls must not disturb each other.
    from concurrent.futures import ThreadPoolExecutor

    obs, nav = shared_file("obs3/pdel0010.21o"), shared_file("nav/cbw10010.21n")
    expected = load_observations(obs), vardoln_tools.completeness(obs, nav)
    with ThreadPoolExecutor(4) as pool:
        results = list(pool.map(lambda _: (load_observations(obs), vardoln_tools.completeness(obs, nav)), range(8)))
    for frame, complete in results:
        assert frame.equals(expected[0]) and complete.drop(columns="satellites_without_code").equals(
            expected[1].drop(columns="satellites_without_code"))
