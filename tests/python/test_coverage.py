"""Navigation coverage on real recordings: complete, incomplete, wrong-day and split navigation
data, checked against the analysis's own count of observed satellites."""

import math

import pandas as pd
import pytest

import vardoln_cn0
from vardoln_tools import navigation_coverage

ESBC_OBS = "crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx"
ESBC_NAV = "nav/ESBC00DNK_R_20201770000_01D_MN.rnx"
NYA1_OBS = "crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx"
NYA1_NAV = {system: f"nav/NYA100NOR_S_20241240000_01D_{system}.rnx" for system in ("GN", "EN", "CN")}


def rows(frame):
    return {row.system: row for row in frame.itertuples(index=False)}


def test_complete_navigation_covers_every_predictable_constellation(shared_file):
    obs, nav = shared_file(ESBC_OBS), shared_file(ESBC_NAV)
    frame = navigation_coverage(obs, nav)
    assert list(frame.columns) == ["system", "observed", "covered", "percent", "uncovered_satellites", "predictable"]
    assert list(frame.system) == ["BeiDou", "Galileo", "GPS", "QZSS", "GLONASS", "SBAS", "all"]
    by_system = rows(frame)
    for name in ("BeiDou", "Galileo", "GPS", "QZSS", "GLONASS", "all"):
        assert by_system[name].predictable and by_system[name].covered == by_system[name].observed > 0
        assert by_system[name].percent == 100.0 and by_system[name].uncovered_satellites == []
    sbas = by_system["SBAS"]
    assert not sbas.predictable and sbas.covered is pd.NA and math.isnan(sbas.percent) and sbas.observed > 0
    assert by_system["all"].observed == sum(r.observed for r in by_system.values() if r.predictable and r.system != "all")

    # The analysis counts the same satellite-epochs as observed (its mean over all epochs).
    mean_observed = vardoln_cn0.analyze_cn0(str(obs), str(nav)).visibility_mean_observed
    epochs = frame.attrs["epochs"]
    assert sum(r.observed for r in by_system.values() if r.system != "all") == round(mean_observed * epochs)

    assert frame.attrs["obs_start"] == pd.Timestamp("2020-06-25 00:00:00")
    assert frame.attrs["obs_end"] == pd.Timestamp("2020-06-25 23:59:30")
    assert frame.attrs["nav_start"] <= frame.attrs["obs_start"] and frame.attrs["nav_spans"]["GPS"][1] >= frame.attrs["obs_end"]
    assert frame.attrs["nav_paths"] == [str(nav)] and frame.attrs["marker_name"] == "ESBC00DNK"


def test_split_navigation_files_merge_and_missing_ones_show(shared_file):
    obs = shared_file(NYA1_OBS)
    gps, galileo, beidou = (shared_file(NYA1_NAV[s]) for s in ("GN", "EN", "CN"))
    without_beidou = rows(navigation_coverage(obs, [gps, galileo]))
    assert without_beidou["BeiDou"].covered == 0 and len(without_beidou["BeiDou"].uncovered_satellites) == 18
    assert without_beidou["GPS"].percent == without_beidou["Galileo"].percent == 100.0

    merged = navigation_coverage(obs, [gps, galileo, beidou])
    by_system = rows(merged)
    # The station publishes no GLONASS file: every GLONASS satellite is uncovered.
    assert by_system["GLONASS"].covered == 0 and by_system["GLONASS"].uncovered_satellites[0] == "R01"
    assert by_system["BeiDou"].percent > 99.9 and by_system["BeiDou"].uncovered_satellites == ["C16"]
    assert by_system["all"].uncovered_satellites == ["C16", *by_system["GLONASS"].uncovered_satellites]

    # The order of the files does not matter, nor does a str against a Path.
    reordered = navigation_coverage(str(obs), (str(beidou), galileo, gps))
    pd.testing.assert_frame_equal(merged.drop(columns="uncovered_satellites"),
                                  reordered.drop(columns="uncovered_satellites"))
    assert list(merged.uncovered_satellites) == list(reordered.uncovered_satellites)


def test_navigation_file_of_another_day_covers_nothing(shared_file):
    frame = navigation_coverage(shared_file(ESBC_OBS), [shared_file(NYA1_NAV[s]) for s in NYA1_NAV])
    predictable = frame[frame.predictable]
    assert (predictable.covered == 0).all() and (predictable.percent == 0.0).all()
    assert frame.attrs["nav_start"].year == 2024 and frame.attrs["obs_start"].year == 2020


@pytest.mark.parametrize("nav_path, error, text", [
    ([], ValueError, "no navigation file given"),
    (b"nav.rnx", TypeError, "nav_path must be a path or a list of paths"),
    ([3], TypeError, "nav_path must be a path"),
])
def test_navigation_argument_is_checked(shared_file, nav_path, error, text):
    with pytest.raises(error, match=text):
        navigation_coverage(shared_file(ESBC_OBS), nav_path)
