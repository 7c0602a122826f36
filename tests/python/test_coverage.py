"""Navigation coverage on real recordings: complete, incomplete, wrong-day and split navigation
data, checked against the analysis's own count of observed satellites."""

import json
import math
import re

import pandas as pd
import pytest

import vardoln_cn0
from vardoln_tools import navigation_coverage

ESBC_OBS = "crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx"
ESBC_NAV = "nav/ESBC00DNK_R_20201770000_01D_MN.rnx"
NYA1_OBS = "crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx"
NYA1_NAV = {system: f"nav/NYA100NOR_S_20241240000_01D_{system}.rnx" for system in ("GN", "EN", "CN")}
ARLM_OBS = "obs2/arlm200b.15o"
ARLM_NAV = "nav/arlm2000.15n"


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


def zero_padded_rinex2(text):
    """A RINEX 2 observation text (epoch flags 0 and 1 only) with every satellite field of its epoch
    lines that has a blank-written number ("G 2") written zero-padded ("G02"). The fields take 3
    columns each from column 32, 12 to a line, continuation lines alike; each satellite's values
    take one line per 5 observation types."""
    lines = text.splitlines(keepends=True)
    start = next(i for i, line in enumerate(lines) if line[60:].startswith("END OF HEADER")) + 1
    types = int(next(line for line in lines if line[60:].startswith("# / TYPES OF OBSERV"))[:6])
    value_lines = -(-types // 5)
    i = start
    while i < len(lines):
        assert lines[i][28] in "01", lines[i]
        count = int(lines[i][29:32])
        for k in range(-(-count // 12)):
            line = lines[i + k]
            end = 32 + 3 * min(12, count - 12 * k)
            fields = [re.sub(r"^([A-Z]) (\d)$", r"\g<1>0\2", line[c:c + 3]) for c in range(32, end, 3)]
            lines[i + k] = line[:32] + "".join(fields) + line[end:]
        i += -(-count // 12) + count * value_lines
    return "".join(lines)


def test_arlm200b_blank_written_satellites_meet_their_navigation_records(shared_file, tmp_path):
    # arlm200b writes GPS numbers below 10 with a blank ("G 2"); the navigation file keys G02.
    obs, nav = shared_file(ARLM_OBS), shared_file(ARLM_NAV)
    padded = tmp_path / "arlm200b.15o"
    padded.write_bytes(zero_padded_rinex2(obs.read_bytes().decode("latin-1")).encode("latin-1"))
    as_written = vardoln_cn0.read_rinex_obs(str(obs)).satellites_by_system()["G"]
    assert {"G 2", "G 5", "G 6"} <= set(as_written)
    assert sorted(vardoln_cn0.read_rinex_obs(str(padded)).satellites_by_system()["G"]) == sorted(
        re.sub(r" (\d)$", r"0\1", satellite) for satellite in as_written)

    # Coverage is that of the zero-padded file: every satellite but the two whose first records
    # lie hours after the recording (G06 from 20:00, G10 from 14:00; it runs from 01:00 to 02:00).
    coverage, padded_coverage = navigation_coverage(obs, nav), navigation_coverage(padded, nav)
    pd.testing.assert_frame_equal(coverage, padded_coverage)
    every = rows(coverage)["all"]
    assert every.percent > 97.0 and every.uncovered_satellites == ["G06", "G10"]

    # The visibility check matches them too and lists them by navigation key; the satellite
    # statistics keep the identifier as written, with the same values.
    result, padded_result = (json.loads(vardoln_cn0.analyze_cn0(str(path), str(nav)).to_json())
                             for path in (obs, padded))
    assert result["visibility"] == padded_result["visibility"]
    visibility = result["visibility"]
    assert visibility["confirmation_rate"] > 99.0
    assert visibility["frequently_missing"] == visibility["frequently_unexpected"] == []
    assert visibility["by_system"]["GPS"]["observed_satellites"] == len(as_written)
    stats, padded_stats = result["satellite_stats"], padded_result["satellite_stats"]
    assert "G 2" in stats and "G02" not in stats
    assert stats["G 2"] == {**padded_stats["G02"], "satellite": "G 2"}
