"""The verdicts and the health grade on real recordings: no false alarm on any of them, episodes
written into copies of real days found and named, and the grade's criteria against their
thresholds."""

import datetime
import runpy
from pathlib import Path

import pytest

import injection
from conftest import BUNDLED_DATA, REPO_ROOT, full_data_directories, real_file
from vardoln_tools import _native
from vardoln_tools.judge.assessment import DETECTED, NothingToJudge, assess, grade_rules
from vardoln_tools.commands import main

ESBC = "crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx"
ESBC_NAV = ["nav/ESBC00DNK_R_20201770000_01D_MN.rnx"]
NYA1 = "crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx"
NYA1_NAV = [f"nav/NYA100NOR_S_20241240000_01D_{kind}.rnx" for kind in ("GN", "EN", "CN")]
YORK = "crinex/york0440.15d"
SEPT078 = "obs3/SEPT078M.21O"
SEPT078_NAV = ["nav/SEPT078M.21P", "nav/30340780.21q"]


def data_directory() -> Path:
    return next((d for d in full_data_directories() if (d / "README.md").is_file()), BUNDLED_DATA)


def recordings():
    """Every recording of obs2/, obs3/, crinex/ and multiday/ present, with the navigation file the
    data README names for it (multiday: the files of the same station and day)."""
    data = data_directory()
    listed = runpy.run_path(str(REPO_ROOT / "scripts" / "analysis_digests.py"))["recordings_with_nav"]
    for relative, nav in sorted(listed(data, lambda name: real_file(name) is not None)):
        if relative.split("/")[0] in ("obs2", "obs3", "crinex"):
            yield real_file(relative), [real_file(nav)] if nav else []
    for path in sorted((data / "multiday").glob("*")):
        if "_MO." in path.name or path.name.startswith("zimm"):
            station, day = path.name[:11], path.name[12:23]
            nav_station = "GRAS00FRA_R" if station == "AJAC00FRA_R" else station
            yield path, sorted((data / "multiday").glob(f"{nav_station}_{day}_01D_?N.rnx.gz"))


def test_real_recordings_raise_no_false_alarm():
    runs = 0
    for path, navs in recordings():
        for nav in [[], navs] if navs else [[]]:
            try:
                judged = assess(path, nav)
            except NothingToJudge:
                continue
            runs += 1
            verdicts = judged.verdicts()
            assert not verdicts["jamming"].startswith(DETECTED), (path, nav, judged.events)
            assert not verdicts["interference"].startswith(DETECTED), (path, nav, judged.events)
            if judged.visibility_checked:
                assert not verdicts["spoofing"].startswith(DETECTED), (path, nav)
    assert runs >= 20


def _first_epoch_step(touched):
    return (touched[1] - touched[0]).total_seconds()


@pytest.mark.parametrize("recording, navs, bands, drop, minutes, part, expected", [
    (ESBC, ESBC_NAV, ("L1",), 6.0, 3, None, "jamming"),
    (ESBC, [], ("L1",), 8.0, 5, "GPS", "interference"),
    (NYA1, NYA1_NAV, ("L1", "L2"), 10.0, 3, None, "jamming"),
    (NYA1, [], ("L1",), 6.0, 10, None, "jamming"),
    (YORK, [], ("L1",), 6.0, 3, None, "jamming"),
    (YORK, [], ("L1",), 8.0, 5, "G05 G13 G15 G18", "interference"),
], ids=["esbc-nav-full", "esbc-gps-part", "nya1-nav-two-bands", "nya1-full", "york-full", "york-part"])
def test_injected_episodes_are_found_and_named(shared_file, tmp_path, recording, navs, bands, drop, minutes, part,
                                               expected):
    """An episode of at least 6 dB over at least 3 minutes is found from within one epoch of its start:
    jamming when it takes every satellite of the band or several bands, interference when a part."""
    source = shared_file(recording)
    start = datetime.datetime(*((2020, 6, 25) if "ESBC" in recording else (2024, 5, 3) if "NYA1" in recording
                                else (2015, 2, 13)), 14, 20)
    if part == "GPS":
        satellites = {f"G{number:02d}" for number in range(1, 33)}
    else:
        satellites = None if part is None else set(part.split())
    target = tmp_path / "episode.rnx"
    episode = injection.Episode(start, start + datetime.timedelta(minutes=minutes), bands, drop,
                                satellites=satellites)
    touched = injection.inject(source, target, episode)
    judged = assess(target, [shared_file(nav) for nav in navs])
    assert len(judged.events) == 1, judged.events
    event = judged.events[0]
    step = datetime.timedelta(seconds=_first_epoch_step(touched))
    found = datetime.datetime.fromisoformat(event.start.rstrip("Z"))
    assert abs(found - touched[0]) <= step and event.type == expected
    assert set(event.bands) == set(bands)
    assert judged.verdicts()[expected].startswith(DETECTED)
    assert judged.quality.grade in ("D", "F") and expected in judged.quality.sentence.lower()


def test_raised_and_aligned_c_n0_is_spoofing(shared_file, tmp_path):
    source = shared_file(ESBC)
    start = datetime.datetime(2020, 6, 25, 9, 0)
    target = tmp_path / "spoofed.rnx"
    injection.inject(source, target, injection.Episode(start, start + datetime.timedelta(minutes=5), ("L1",),
                                                       spoof_level_db=53.0))
    judged = assess(target, [shared_file(nav) for nav in ESBC_NAV])
    assert [(event.type, event.start) for event in judged.events] == [("spoofing", "2020-06-25T09:00:00.000Z")]
    assert judged.verdicts()["spoofing"].startswith(DETECTED) and judged.quality.grade == "F"


def test_a_drop_that_lasts_to_the_end_is_left_open(shared_file):
    """The low-cost receiver's C/N0 falls by some 20 dB and never comes back: neither jamming nor
    interference can be told from an antenna or cable fault, and the grade says so."""
    judged = assess(shared_file("obs3/16dBatt_no_interference_coldstart.obs"),
                    [shared_file("nav/16dBatt_no_interference_coldstart.nav")])
    assert [event.type for event in judged.events] == ["lasting_drop"]
    verdicts = judged.verdicts()
    assert verdicts["jamming"] == verdicts["interference"]
    assert verdicts["jamming"].startswith("not assessable: C/N0 fell by") and "antenna" in verdicts["jamming"]
    assert judged.quality.grade == "F" and "had not recovered" in judged.quality.sentence


def _judged_by_threshold(criterion, thresholds):
    name = {"completeness": "completeness_percent", "multipath": "multipath_metres",
            "slips": "observations_per_slip", "navigation": "navigation_coverage_percent"}.get(criterion.group)
    if criterion.group == "cn0":
        if criterion.subject == "all signals":
            name, figure = "cn0_median_shortfall_db", criterion.figure
        else:
            name, figure = "cn0_shortfall_db", criterion.second_figure - criterion.figure
    elif criterion.group == "multipath":
        figure = max(criterion.figure, criterion.second_figure)
    else:
        figure = criterion.figure
    if name is None:
        return None
    limit = thresholds[name]
    better = (lambda a, b: a >= b) if limit["higher_is_better"] else (lambda a, b: a <= b)
    return "pass" if better(figure, limit["pass"]) else "warn" if better(figure, limit["warn"]) else "fail"


@pytest.mark.parametrize("recording, navs, grade", [
    (ESBC, ESBC_NAV, "B"), (NYA1, NYA1_NAV, "B"), (YORK, [], "B"), (SEPT078, SEPT078_NAV, "B")])
def test_health_grade_follows_its_criteria(shared_file, recording, navs, grade):
    """Each criterion's status is its figure against the documented threshold, the letter the first
    grade rule that matches, and the sentence names what warns without contradicting a verdict."""
    judged = assess(shared_file(recording), [shared_file(nav) for nav in navs])
    thresholds = _native.health_rules()["thresholds"]
    health = judged.quality
    for criterion in health.criteria:
        expected = None if criterion.status == "not assessed" else _judged_by_threshold(criterion, thresholds)
        if expected is not None:
            assert criterion.status == expected, criterion
    groups = {c.group for c in health.criteria if c.status == "warn"}
    # warnings and no failure: the rule of grade B
    assert health.grade == grade and dict(grade_rules())["B"] == "warnings, and no criterion fails"
    assert groups and not any(c.status == "fail" for c in health.criteria)
    for group in groups:
        shown = {"cn0": "C/N0", "navigation": "navigation coverage"}.get(group, group)
        assert shown.lower() in health.sentence.lower()
    for word in ("jamming", "interference", "spoofing"):
        assert word not in health.sentence.lower() and not judged.verdicts()[word].startswith(DETECTED)
    if not navs:
        assert {c.group for c in health.criteria if c.status == "not assessed"} >= {"completeness", "cn0", "navigation"}


def test_resume_refuses_rows_with_the_columns_of_the_stored_score(shared_file, tmp_path, capsys):
    rows = tmp_path / "rows.csv"
    obs = str(shared_file(YORK))
    assert main(["batch", obs, "--csv", str(rows), "--no-progress", "--workers", "1"]) == 0
    # The header an output of the stored score had: "score" where "module_score" is now.
    rows.write_bytes(rows.read_bytes().replace(b"module_score", b"score", 1))
    capsys.readouterr()
    assert main(["batch", obs, "--csv", str(rows), "--resume", "--no-progress"]) == 2
    assert "written with the columns of an earlier version (score)" in capsys.readouterr().err
