"""Batch analysis: navigation matching by file name, rows, tables, the Dask path and the batch command."""

import csv
import json

import pytest

import vardoln_cn0 as v
from vardoln_tools.history.entry import Entry
from vardoln_tools.history.keeping import ENTRY_KEY, Keeping
from vardoln_tools import batch, commands
from vardoln_tools.batch import recording
from vardoln_tools.tables.visibility import visibility_summary

NAV_NAMES = [
    "nav/SEPT2650.21P", "nav/cbw10010.21n", "nav/dlf10010.21g", "nav/brdc0010.21n",
    "nav/BRDC00WRD_S_20210010000_01D_MN.rnx",
    "nav/ESBC00DNK_R_20201770000_01D_MN.rnx.gz", "nav/NYA100NOR_S_20241240000_01D_EN.rnx",
    "nav/NYA100NOR_S_20241240000_01D_GN.rnx", "nav/york0440.15g", "nav/york0440.15n", "nav/KERG1700.16N",
    "nav/ESBC00DNK_R_20201770000_01D_30S_MO.rnx", "nav/zzzz0441.15o",
]
NAV_MATCHES = {
    "SEPT265G.21O": "nav/SEPT2650.21P",  # same station and day, mixed (RINEX 3 short name)
    "cbw10010.21o": "nav/cbw10010.21n",  # same station before the day's broadcast files
    "delf0010.21d": "nav/BRDC00WRD_S_20210010000_01D_MN.rnx",  # no own file: combined mixed file of the day
    "ESBC00DNK_R_20201770000_01D_30S_MO.crx.gz": "nav/ESBC00DNK_R_20201770000_01D_MN.rnx.gz",
    "NYA100NOR_S_20241240000_01D_30S_MO.rnx": "nav/NYA100NOR_S_20241240000_01D_GN.rnx",  # GPS before Galileo
    "YORK0440.15O": "nav/york0440.15n",  # station case-insensitive; GPS before GLONASS
    "kerg170b00.16o": "nav/KERG1700.16N",  # hourly name with minutes
    "york0450.15o": None,  # no file of that day (observation names in the list are not navigation)
    "reach-m2-01_raw_202306291111.23O": None,  # not a standard name
    "kerg1700.16n": None,  # a navigation file is not a recording
}

SMALL_JOBS = {  # observation -> navigation, small files so the cluster test stays quick
    "obs3/SEPT265G.21O": "nav/SEPT2650.21P",
    "obs2/delf0010.21o": "nav/cbw10010.21n",
    "obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx": None,
    "obs2/arlm200b.15o": "nav/arlm2000.15n",
}


@pytest.mark.parametrize("obs_name", NAV_MATCHES)
def test_navigation_matched_by_station_and_day(obs_name):
    assert batch.match_navigation(f"/data/{obs_name}", NAV_NAMES) == NAV_MATCHES[obs_name]


@pytest.fixture
def small_jobs(shared_file):
    return {str(shared_file(obs)): None if nav is None else str(shared_file(nav))
            for obs, nav in SMALL_JOBS.items()}


@pytest.fixture
def bad_files(tmp_path):
    text = tmp_path / "notes.21o"
    text.write_text("not a RINEX file\n")
    return [str(tmp_path / "missing.21o"), str(text)]


def test_rows_follow_direct_analysis(shared_file):
    obs, nav = str(shared_file("obs3/SEPT265G.21O")), str(shared_file("nav/SEPT2650.21P"))
    config = v.AnalysisConfig(min_elevation=10.0)
    nav_dir = shared_file("nav/SEPT2650.21P").parent
    [row] = batch.analyze_many([obs], nav_dir=nav_dir, config=config, progress=False)
    result = v.CN0Analyzer(config).analyze_with_nav(obs, nav)
    exported = json.loads(result.to_json())
    assert row["nav"] == nav and row["error"] is None
    assert (row["station"], row["start"], row["epochs"]) == ("SEPT", "2021-09-22T06:30:00.000Z", 360)
    assert (row["module_grade"], row["module_score"]) == (exported["quality_score"]["grade"],
                                                          pytest.approx(exported["quality_score"]["overall"]))
    assert row["grade"] in "ABCDF" and row["criteria_warned"] >= 0 and row["events"] == 0
    assert [row[f"anomalies_{level}"] for level in ("low", "high", "critical")] == [
        exported["summary"][f"{level}_count"] for level in ("low", "high", "critical")]
    assert row["mean_cn0_GPS"] == pytest.approx(exported["constellation_stats"]["GPS"]["mean_cn0"], abs=0.05)
    assert "mean_cn0_QZSS" not in row  # observed, but outside the default selection G, R, E, C
    # The visibility figures are those of the selected constellations (QZSS left out).
    shown = visibility_summary(obs, nav, ["G", "R", "E", "C"], 10.0)
    assert (row["spoofing"], row["confirmation_rate"]) == (shown.spoofing, shown.confirmation_rate)
    assert shown.confirmation_rate != exported["visibility"]["confirmation_rate"]


def test_unreadable_recordings_give_error_rows(small_jobs, bad_files):
    paths = [*bad_files, *small_jobs]
    rows = batch.analyze_many(paths, nav=small_jobs, workers=2, progress=False)
    assert [row["path"] for row in rows] == paths
    assert rows[0]["error"] == "Cannot read obs file: No such file or directory"
    assert rows[1]["error"] == "not a RINEX file, expected a RINEX observation file (or compact RINEX)"
    assert rows[1]["station"] is None
    assert all(row["error"] is None for row in rows[2:])


# The extensions' internal fault as they raise it: named, not exported, derived from BaseException alone.
InternalFault = type("InternalFault", (BaseException,), {"__module__": "vardoln_cn0"})


@pytest.mark.parametrize("raised, escapes", [
    (InternalFault("broken invariant"), False), (RuntimeError("bug"), False),
    (KeyboardInterrupt(), True), (SystemExit(3), True), (GeneratorExit(), True),
])
def test_a_fault_of_one_recording_is_its_row_and_interrupts_go_through(small_jobs, monkeypatch, raised, escapes):
    """In the analysis and in a column group alike: an internal fault or an ordinary exception becomes
    that recording's error (or warning); an interrupt or exit is never swallowed."""
    obs = next(iter(small_jobs))

    def fail(*args, **kwargs):
        raise raised

    group = batch.ColumnGroup("failing", ("x",), fail)
    config = v.AnalysisConfig()
    judge = lambda: batch.judge_recording(obs, None, [], config, groups=[group])  # noqa: E731
    if escapes:
        with pytest.raises(type(raised)):
            judge()
    else:
        row = judge()
        assert row["error"] is None and row["warning"] == f"failing: {type(raised).__name__}: {raised}"
    monkeypatch.setattr(recording, "assess", fail)
    if escapes:
        with pytest.raises(type(raised)):
            judge()
    else:
        assert judge()["error"] == f"{type(raised).__name__}: {raised}"


def test_tables_round_trip(small_jobs, bad_files, tmp_path):
    rows = batch.analyze_many([*small_jobs, *bad_files], nav=small_jobs, progress=False)
    names = batch.columns(rows)
    assert names[:8] == list(batch.HEAD_COLUMNS) and names[-1] == "error"
    assert names.index("mean_cn0_GPS") < names.index("mean_cn0_GLONASS") < names.index("mean_cn0_Galileo")

    batch.write_jsonl(rows, tmp_path / "rows.jsonl")
    assert batch.read_jsonl(tmp_path / "rows.jsonl") == [{name: row.get(name) for name in names} for row in rows]

    batch.write_csv(rows, tmp_path / "rows.csv")
    with open(tmp_path / "rows.csv", newline="") as source:
        read = list(csv.DictReader(source))
    as_text = [{name: "" if row.get(name) is None else str(row[name]) for name in names} for row in rows]
    assert read == as_text

    pandas = pytest.importorskip("pandas")
    frame = batch.to_dataframe(rows)
    assert list(frame.columns) == names and len(frame) == len(rows)
    from_csv = pandas.read_csv(tmp_path / "rows.csv")
    assert list(from_csv.columns) == names
    assert from_csv["epochs"].tolist()[:len(small_jobs)] == frame["epochs"].tolist()[:len(small_jobs)]


@pytest.mark.parametrize("keywords", [{}, {"anomaly_sensitivity": 0.3, "anomaly_threshold_low": 2.7},
                                      {"anomaly_sensitivity": 2.0, "interference_threshold_db": 9.0},
                                      {"systems": ["G", "E"], "time_bin": 30, "nav_file": "x.21n", "verbose": True}])
def test_config_rebuilt_from_its_attributes(keywords):
    fields = batch.config_to_dict(v.AnalysisConfig(**keywords))
    assert batch.config_to_dict(batch.config_from_dict(fields)) == fields
    # The parameter list read from the class's text signature is every stored attribute.
    assert sorted(fields) == [name for name in dir(v.AnalysisConfig) if not name.startswith("_")]


@pytest.mark.filterwarnings("ignore")
def test_cluster_rows_equal_thread_rows(small_jobs, bad_files):
    distributed = pytest.importorskip("dask.distributed")
    config = v.AnalysisConfig(systems=["G", "R"], anomaly_sensitivity=0.8, min_elevation=7.5)
    paths = [*small_jobs, *bad_files]
    # What the station history keeps of each recording comes back with its row, from the cluster too.
    keeping = Keeping({"min_elevation": 7.5})
    local = batch.analyze_many(paths, nav=small_jobs, config=config, progress=False, keeping=keeping)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  host="127.0.0.1") as cluster, distributed.Client(cluster) as client:
        fields = batch.config_to_dict(config)
        rebuild = lambda f: batch.config_to_dict(batch.config_from_dict(f))  # noqa: E731
        on_worker = client.submit(rebuild, fields).result()
        remote = batch.analyze_many(paths, nav=small_jobs, config=config, scheduler=cluster.scheduler_address,
                                    progress=False, keeping=keeping)
    assert on_worker == fields
    assert remote == local
    assert [isinstance(row.get(ENTRY_KEY), Entry) for row in remote] == [True] * len(small_jobs) + [False] * len(bad_files)
    assert [row["error"] is None for row in remote] == [True] * len(small_jobs) + [False] * len(bad_files)


def test_batch_command(shared_file, bad_files, tmp_path, capsys):
    nav_dir = shared_file("nav/SEPT2650.21P").parent
    out = tmp_path / "rows.jsonl"
    status = commands.main(["batch", str(shared_file("obs3/SEPT265G.21O")), str(shared_file("obs3/pdel0010.21o")), bad_files[1],
                       "--nav-dir", str(nav_dir), "--workers", "2", "--systems", "G,E", "--jsonl", str(out),
                       "--no-progress"])
    printed = capsys.readouterr()
    assert status == 1  # one file failed
    lines = printed.out.splitlines()
    assert lines[-1] == "2 analysed, 0 nothing to judge, 1 failed, 0 skipped (not recordings)"
    assert lines[0].startswith("FILE") and lines[1].startswith("SEPT265G.21O") and "expected a RINEX observation file" in lines[3]
    assert [row["station"] for row in batch.read_jsonl(out)] == ["SEPT", "PDEL", None]

    assert commands.main(["batch", *bad_files, "--no-progress"]) == 1
