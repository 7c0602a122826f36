"""Verdicts a station operator can trust, through the vardoln-cn0 command on real recordings: one
grade everywhere, the same analysis in `analyze` and `batch`, navigation coverage behind the
visibility verdicts, files in the right role, every scanned file accounted for."""

import gzip
import json
import shutil

import pytest

import vardoln_cn0 as v
from vardoln_tools import batch, commands, visibility_timeline
from vardoln_tools.judge import assessment, selection, settings

ESBC_OBS = "crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx"
ESBC_NAV = "nav/ESBC00DNK_R_20201770000_01D_MN.rnx"
NYA1_OBS = "crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx"
NYA1_NAV = [f"nav/NYA100NOR_S_20241240000_01D_{system}.rnx" for system in ("GN", "EN", "CN")]
SEPT_OBS, SEPT_NAV, SEPT_WRONG_DAY = "obs3/SEPT265G.21O", "nav/SEPT2650.21P", "nav/SEPT078M.21P"
PDEL_OBS, PDEL_NAV = "obs3/pdel0010.21o", "nav/cbw10010.21n"
KMS3_OBS, KMS3_NAV = "crinex/KMS300DNK_R_20221591000_01H_30S_MO.crx", "nav/KMS300DNK_R_20221591000_01H_MN.rnx"
YORK_OBS = "crinex/york0440.15d"


def run(capsys, *argv):
    code = commands.main([str(arg) for arg in argv])
    out, err = capsys.readouterr()
    return code, out, err


def line(out, label):
    return next(text for text in out.splitlines() if text.startswith(label))


def test_default_settings_give_the_analysis_of_analyze_cn0(shared_file, tmp_path, capsys):
    """The settings of the command line, through CN0Analyzer, reproduce analyze_cn0 byte for byte."""
    for obs, nav in [(ESBC_OBS, ESBC_NAV), (YORK_OBS, None), (PDEL_OBS, PDEL_NAV)]:
        obs_path = str(shared_file(obs))
        nav_path = None if nav is None else str(shared_file(nav))
        export = tmp_path / "export.json"
        code, _, _ = run(capsys, "analyze", obs_path, *(["--nav", nav_path] if nav else []), "--json", export)
        assert code == 0
        assert export.read_text(encoding="utf-8") == v.analyze_cn0(obs_path, nav_path).to_json(), obs
    config = settings.analysis_config()
    stored = (config.anomaly_threshold_low, config.anomaly_threshold_high, config.anomaly_threshold_critical)
    assert stored == (3.0, 6.0, 10.0)


def test_analyze_and_batch_give_the_same_verdicts_and_grade(shared_file, tmp_path, capsys):
    """The found cases: ESBC with 3 critical drop anomalies of the analysis and no jamming in both
    (not 637 in batch), the incomplete pdel navigation not assessable in both; the health grade the
    same in both, the analysis's stored grade and score beside it equal to the JSON export's."""
    recordings = [shared_file(name) for name in (ESBC_OBS, PDEL_OBS, SEPT_OBS)]
    nav_dir = shared_file(ESBC_NAV).parent
    flags = ["--threshold-high", "8"]  # every drop event is critical (above 10 dB): counts stay those of the defaults
    rows_file = tmp_path / "rows.jsonl"
    code, _, _ = run(capsys, "batch", *recordings, "--nav-dir", nav_dir, "--jsonl", rows_file, "--no-progress",
                     "--workers", "2", *flags)
    assert code == 0
    rows = batch.read_jsonl(rows_file)
    assert [row["status"] for row in rows] == ["analysed"] * 3
    esbc = rows[0]
    assert (esbc["anomalies_critical"], esbc["jamming"], esbc["nav"]) == (3, False, str(shared_file(ESBC_NAV)))

    for obs, row in zip(recordings, rows):
        summary_file, export_file = tmp_path / "summary.json", tmp_path / "export.json"
        code, out, _ = run(capsys, "analyze", obs, *(arg for nav in row["nav"].split(" + ") for arg in ("--nav", nav)),
                           "--summary-json", summary_file, "--json", export_file, *flags)
        assert code == 0
        shown = json.loads(summary_file.read_text())
        stored = json.loads(export_file.read_text())["quality_score"]
        verdicts = shown["verdicts"]
        assert verdicts["jamming"] == "not detected" and row["jamming"] is False
        assert verdicts["interference"] == "not detected" and row["interference"] is False
        if row["spoofing"] is None:
            assert verdicts["spoofing"].startswith("not assessable: navigation data cover")
            assert row["confirmation_rate"] is None and row["missing_satellites"] is None
        else:
            assert verdicts["spoofing"] == ("DETECTED" if row["spoofing"] else "not detected")
            assert verdicts["confirmation"] == f"{row['confirmation_rate']:.1f} % of the predicted satellites observed"
        assert (row["module_grade"], row["module_score"]) == (stored["grade"], stored["overall"])
        assert shown["module_score"] == stored
        health = shown["quality"]
        assert (row["grade"], row["criteria_warned"], row["criteria_failed"]) == (
            health["grade"], health["criteria_warned"], health["criteria_failed"])
        assert line(out, "Quality ") == f"Quality        {health['sentence']}"
        assert "Notebook" not in out
        assert shown["settings"]["threshold_high"] == 8.0
        assert row["anomalies_critical"] == json.loads(export_file.read_text())["summary"]["critical_count"]
        assert shown["coverage"]["percent"] == row["nav_coverage"]
    assert rows[1]["spoofing"] is None and rows[2]["spoofing"] is False


def test_navigation_coverage_decides_what_can_be_judged(shared_file, tmp_path, capsys):
    """Same-day navigation covers the recording; a wrong-day file covers nothing, the visibility
    verdicts become not assessable, and the grade's navigation criterion fails."""
    obs = shared_file(SEPT_OBS)
    summary_file = tmp_path / "summary.json"
    code, out, _ = run(capsys, "analyze", obs, "--nav", shared_file(SEPT_NAV), "--summary-json", summary_file)
    assert code == 0 and json.loads(summary_file.read_text())["coverage"]["percent"] >= 99.0
    assert "Warning" not in out and line(out, "  spoofing ") == "  spoofing       not detected"

    code, out, _ = run(capsys, "analyze", obs, "--nav", shared_file(SEPT_WRONG_DAY), "--summary-json", summary_file)
    shown = json.loads(summary_file.read_text())
    assert code == 0 and shown["coverage"]["percent"] == 0.0 and not shown["coverage"]["spans_overlap"]
    assert line(out, "Warning ").endswith("do not overlap the recording (2021-09-22T06:30:00 .. 2021-09-22T06:35:59):"
                                          " visibility verdicts are not assessable")
    not_assessable = "not assessable: navigation data cover 0.0 % of the observed satellites"
    assert shown["verdicts"]["spoofing"] == shown["verdicts"]["confirmation"] == not_assessable
    assert "DETECTED" not in out
    navigation = [c for c in shown["quality"]["criteria"] if c["group"] == "navigation"]
    assert [(c["figure"], c["status"]) for c in navigation] == [(0.0, "fail")]
    assert shown["quality"]["sentence"] == "Grade C: Navigation coverage (0.0 %) fails."

    # Few records in the first hours: 15.2 % covered.
    code, out, _ = run(capsys, "analyze", shared_file(PDEL_OBS), "--nav", shared_file(PDEL_NAV))
    assert line(out, "Warning ") == ("Warning        navigation data cover 15.2 % of the observed satellite-epochs "
                                     "(GPS 25.3 %, GLONASS 0.0 %), below 95 %: visibility verdicts are not assessable")

    # ESBC with every constellation selected: SBAS makes 4.3 of the 7.4 unexpected satellites per
    # epoch, satellites below the mask the rest.
    code, out, _ = run(capsys, "analyze", shared_file(ESBC_OBS), "--nav", shared_file(ESBC_NAV),
                       "--systems", "G,R,E,C,J,S")
    assert line(out, "  unexpected ") == ("  unexpected   7.4 per epoch: 4.3 SBAS/IRNSS (never predicted), "
                                          "0.0 without ephemeris, 3.1 tracked below the 5° mask")
    assert line(out, "Coverage ") == "Coverage       100.0 % of the observed satellite-epochs have an ephemeris"


@pytest.mark.parametrize("argv, status, message", [
    (["analyze", SEPT_NAV], 1, f"{SEPT_NAV}: a RINEX 3.04 navigation file, expected a RINEX observation file"),
    (["analyze", SEPT_OBS, "--nav", SEPT_OBS], 1,
     f"{SEPT_OBS}: a RINEX 3.04 observation file, expected a RINEX navigation file"),
    (["analyze", SEPT_OBS, "--nav", YORK_OBS], 1,
     f"{YORK_OBS}: a compact RINEX (Hatanaka) observation file, expected a RINEX navigation file"),
    (["nav", SEPT_OBS], 1, f"{SEPT_OBS}: a RINEX 3.04 observation file, expected a RINEX navigation file"),
    (["info", PDEL_NAV], 1, f"{PDEL_NAV}: a RINEX 2.11 navigation file, expected a RINEX observation file"),
    (["analyze", KMS3_OBS, "--nav", KMS3_NAV], 3,
     f"{KMS3_OBS}: nothing to judge: the recording has no signal-strength (S) observables"),
])
def test_files_in_the_wrong_role_and_nothing_to_judge(plain_file, capsys, argv, status, message):
    code, out, err = run(capsys, *(str(plain_file(arg)) if "/" in arg else arg for arg in argv))
    assert code == status
    assert err.count("\n") == 1 and err.startswith("vardoln-cn0: ") and message in err
    assert "grade" not in out and "Rating" not in out and "score" not in out


def test_batch_accounts_for_every_file_of_a_directory(shared_file, tmp_path, capsys):
    """Recordings by name or first bytes, a truncated gzip as an error row, navigation and other
    files skipped and counted; per-system navigation files of a day merged when they cover best."""
    folder = tmp_path / "day"
    folder.mkdir()
    shutil.copy(shared_file(PDEL_OBS), folder / "pdel0010.21o")
    shutil.copy(shared_file(KMS3_OBS), folder / "kms3-hour.crx")  # no standard name: found by its header
    shutil.copy(shared_file(SEPT_WRONG_DAY), folder / "SEPT078M.21P")
    (folder / "notes.txt").write_text("station log\n")
    whole = gzip.compress(shared_file(SEPT_OBS).read_bytes())
    (folder / "SEPT265G.21O.gz").write_bytes(whole[:len(whole) // 2])  # truncated
    (folder / "upload.bin").write_bytes(whole[:4000])  # truncated, without a telling name
    nav_dir = shared_file(PDEL_NAV).parent

    code, out, _ = run(capsys, "batch", folder, "--nav-dir", nav_dir, "--no-progress", "--jsonl", tmp_path / "r.jsonl")
    rows = {row["path"].rsplit("/", 1)[1]: row for row in batch.read_jsonl(tmp_path / "r.jsonl")}
    assert code == 1
    assert out.splitlines()[-1] == "1 analysed, 1 nothing to judge, 2 failed, 2 skipped (not recordings)"
    assert sorted(rows) == ["SEPT265G.21O.gz", "kms3-hour.crx", "pdel0010.21o", "upload.bin"]
    assert rows["SEPT265G.21O.gz"]["error"] == "not a readable RINEX observation file (gzip: truncated stream)"
    assert rows["upload.bin"]["status"] == "failed"
    kms3 = rows["kms3-hour.crx"]
    assert kms3["reason"] == "the recording has no signal-strength (S) observables" and kms3["grade"] is None
    pdel = rows["pdel0010.21o"]
    # The tiny BRDC00GOP file has no GPS records; the data chosen cover more, and still not enough.
    assert "BRDC00GOP" not in pdel["nav"] and pdel["nav_coverage"] > 15.0 and pdel["spoofing"] is None

    # Only nothing to judge: status 3.
    code, _, _ = run(capsys, "batch", folder / "kms3-hour.crx", "--no-progress")
    assert code == 3

    # NYA1 publishes one file per constellation: the three together cover best, merged as one file.
    code, _, _ = run(capsys, "batch", shared_file(NYA1_OBS), "--nav-dir", nav_dir, "--no-progress",
                     "--jsonl", tmp_path / "n.jsonl")
    [nya1] = batch.read_jsonl(tmp_path / "n.jsonl")
    assert nya1["nav"] == " + ".join(sorted(str(shared_file(name)) for name in NYA1_NAV))
    assert nya1["nav_coverage_GPS"] == 100.0 and nya1["nav_coverage_GLONASS"] == 0.0  # no GLONASS file


def test_visibility_over_time_adds_up_to_the_analysis(shared_file):
    """The plot's per-epoch counts sum to the analysis's means, also for per-system files that the
    analysis reads as one merged file and the timeline merges natively; over every constellation
    to the analysis's own, over the selected ones to those the tools show."""
    for obs, navs in [(SEPT_OBS, [SEPT_NAV]), (NYA1_OBS, NYA1_NAV)]:
        paths = [str(shared_file(nav)) for nav in navs]
        judged = assessment.assess(shared_file(obs), paths)
        everything = visibility_timeline(shared_file(obs), paths, 5.0)
        own = selection.module_result(judged.result)
        assert everything.predicted.sum() / everything.attrs["epochs"] == pytest.approx(
            own.visibility_mean_predicted, rel=1e-12)
        assert everything.observed.sum() / everything.attrs["epochs"] == pytest.approx(
            own.visibility_mean_observed, rel=1e-12)
        timeline = visibility_timeline(shared_file(obs), paths, 5.0, judged.settings["systems"])
        assert set(timeline.system) <= {"GPS", "GLONASS", "Galileo", "BeiDou"}
        epochs = timeline.attrs["epochs"]
        result = judged.result
        assert timeline.predicted.sum() / epochs == pytest.approx(result.visibility_mean_predicted, rel=1e-12)
        assert timeline.observed.sum() / epochs == pytest.approx(result.visibility_mean_observed, rel=1e-12)
        assert timeline.confirmed.sum() / timeline.predicted.sum() * 100 == pytest.approx(
            result.visibility_confirmation_rate, rel=1e-12)
        assert (timeline.confirmed <= timeline[["predicted", "observed"]].min(axis=1)).all()
        never = timeline[timeline.system.isin(["SBAS", "IRNSS"])]
        assert (never.predicted == 0).all()


def test_without_receiver_position_visibility_is_not_assessable(shared_file, write_rinex, capsys):
    """Full coverage, but no APPROX POSITION XYZ: the visibility check runs empty, and says so
    instead of "not detected" and a 0 % confirmation rate."""
    from rinex_text import obs_epoch, obs_header

    lines = obs_header({"G": ["C1C", "S1C"]}, marker="NOPOS", interval=1)
    for second in range(12):
        lines += obs_epoch((2021, 9, 22, 6, 30, float(second)), {"G05": [2.0e7, 45.0], "G13": [2.1e7, 44.0]})
    code, out, _ = run(capsys, "analyze", write_rinex(lines, "nopos.21o"), "--nav", shared_file(SEPT_NAV))
    assert code == 0
    assert line(out, "Coverage ") == "Coverage       100.0 % of the observed satellite-epochs have an ephemeris"
    assert line(out, "  spoofing ") == "  spoofing       not assessable: the observation header has no receiver position"
