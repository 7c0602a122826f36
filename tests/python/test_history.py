"""The station history: the store written by the commands on real recordings, station-days that
pool any split of a day alike, trends whose answer is known by construction, and a store that
survives interruption, two writers, an upgrade and files that are not stores."""

import json
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import time
import urllib.parse
from pathlib import Path

import numpy as np
import pytest

from conftest import REPO_ROOT, browser_environment, real_file
from history_data import synthetic_entry
from test_dashboard import Links
from vardoln_tools import _native, history
from vardoln_tools.history.entry import entry_for
from vardoln_tools.history.identity import station_identity
from vardoln_tools.history.store import SCHEMA_VERSION, Store, StoreError
from vardoln_tools.judge import assessment
from vardoln_tools.tables import recording

CLI = [sys.executable, "-c", "import sys; from vardoln_tools.commands import main; sys.exit(main())"]
MULTIDAY = real_file("multiday/zimm0010.21o.gz")
FIRST_VERSION_STORE = REPO_ROOT / "tests" / "data" / "history" / "store-v1.sqlite"


def cli(*arguments, check=True):
    done = subprocess.run([*CLI, *map(str, arguments)], capture_output=True, text=True, timeout=600)
    if check:
        assert done.returncode == 0, done.stderr
    return done


def test_one_station_rule_for_every_naming():
    cases = [
        (("NYA1", "NYA100NOR_S_20241240000_01D_30S_MO.crx.gz"), ("NYA1", "NYA100NOR")),
        (("nya1 Ny-Alesund", "nya11240.24o"), ("NYA1", None)),
        (("", "zimm0010.21o.gz"), ("ZIMM", None)),
        (("0", "SEPT"), ("SEPT", None)),  # an RTCM stream's station ID: the mountpoint names it
        (("AB-1", "/data/ajac3550.21d"), ("AJAC", None)),
    ]
    for (marker, source), (station, identifier) in cases:
        found = station_identity(marker, source)
        assert (found.station, found.identifier) == (station, identifier), (marker, source)
    assert station_identity("NYA1", "x.rnx", override="ny-a").station == "NY-A"


@pytest.mark.skipif(MULTIDAY is None, reason="the multi-day recordings are not here")
def test_multiday_recordings_through_batch_trends_and_export(tmp_path):
    days = MULTIDAY.parent
    store = tmp_path / "history.sqlite"
    files = sorted(str(path) for path in days.glob("*_MO.crx.gz")) + sorted(str(path) for path in days.glob("zimm*"))
    done = cli("batch", *files, "--nav-dir", days, "--store", store, "--report-dir", tmp_path / "reports",
               "--no-progress", "--workers", "2")
    assert done.stdout.splitlines()[-1].startswith("9 analysed")
    with history.open_store(store) as opened:
        per_day = opened.station_days.groupby("station").day.nunique().to_dict()
        assert per_day == {"AJAC": 2, "NYA1": 3, "ZIMM": 4}
        recordings = opened.recordings
        assert dict(zip(recordings.station, recordings.identifier.fillna("-"))) == {
            "AJAC": "AJAC00FRA", "NYA1": "NYA100NOR", "ZIMM": "-"}
        assert set(recordings.receiver_type) == {"LEICA GR50", "TRIMBLE NETR9"}
        assert all(Path(report).is_file() for report in recordings.report)

    trends = json.loads(cli("trends", store, "--json", "-").stdout)
    metrics = {entry["station"]: {series["metric"] for series in entry["series"]} for entry in trends["stations"]}
    # Completeness and coverage need navigation data: none for ZIMM, Galileo only for AJAC.
    assert not any(name.startswith(("completeness_", "nav_coverage")) for name in metrics["ZIMM"])
    assert {name for name in metrics["AJAC"] if name.startswith("completeness_")} == {"completeness_Galileo"}
    assert {"completeness_GPS", "completeness_Galileo"} <= metrics["NYA1"]
    assert {"mp_L1_L2_GPS", "obs_per_slip_GPS", "cn0_GPS_S1C", "grade", "events"} <= metrics["ZIMM"]
    zimm = next(entry for entry in trends["stations"] if entry["station"] == "ZIMM")
    assert (zimm["days"], zimm["first_day"], zimm["last_day"]) == (4, "2021-01-01", "2021-01-04")

    # The dashboard: every local link resolves, every series is drawn, Chromium shows no console message.
    site = tmp_path / "site"
    assert "3 station pages drawn, 0 kept" in cli("dashboard", store, "-o", site).stdout
    series_count = {entry["station"]: len(entry["series"]) for entry in trends["stations"]}
    for page in [site / "index.html", *(site / "stations").glob("*.html")]:
        text = page.read_text()
        found = Links(text)
        for link in found.links:
            target, _, anchor = link.partition("#")
            if target:
                assert (page.parent / urllib.parse.unquote(target)).resolve().is_file(), (page, link)
            else:
                assert anchor in found.ids, (page, link)
        if page.parent.name == "stations":
            assert text.count("<svg") >= series_count[page.stem] >= 10
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    for page in (site / "index.html", site / "stations" / "NYA1.html") if browser else ():
        run = subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--enable-logging=stderr",
                              "--v=0", f"--user-data-dir={tmp_path / 'profile'}", "--dump-dom", page.as_uri()],
                             capture_output=True, text=True, timeout=120, check=True,
                             env=browser_environment())
        assert ":CONSOLE" not in run.stderr, run.stderr
        assert "<table" in run.stdout or "<svg" in run.stdout
    assert "0 station pages drawn, 3 kept" in cli("dashboard", store, "-o", site).stdout

    # The same day analysed again replaces its rows; the export holds what the store holds.
    cli("analyze", files[-1], "--store", store)
    assert cli("trends", store, "--station", "zimm", "--json", "-").stdout.count('"days": 4') == 1
    pytest.importorskip("pyarrow")
    cli("history", "export", store, "--parquet", tmp_path / "parquet")
    import pandas as pd

    exported = pd.read_parquet(tmp_path / "parquet" / "station_days")
    assert len(exported) == len(history.open_store(store).station_days)
    assert sorted(exported.station.unique()) == ["AJAC", "NYA1", "ZIMM"]


def test_a_day_in_parts_rolls_up_as_the_whole_day(shared_file, tmp_path):
    """Pooled station-day figures do not depend on how the day was split into recordings."""
    loaded = recording.load(shared_file("crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx.gz"),
                            [shared_file("nav/NYA100NOR_S_20241240000_01D_GN.rnx"),
                             shared_file("nav/NYA100NOR_S_20241240000_01D_EN.rnx.gz")])
    day_start = 1714694400 * 10**9
    hour = 3600 * 10**9
    parts = [loaded.between(day_start + 6 * k * hour, day_start + 6 * (k + 1) * hour) for k in range(4)]

    def station_day(pieces, path):
        with Store(path) as store:
            for piece in pieces:
                judged = assessment.assess(piece)
                store.write(entry_for(piece, judged, judged.settings), "now")
            frame = store.station_days
        return dict(zip(frame.metric, frame.value)), set(frame.epochs)

    whole, whole_epochs = station_day([loaded], tmp_path / "day.sqlite")
    split, split_epochs = station_day(parts, tmp_path / "parts.sqlite")
    assert whole_epochs == split_epochs == {2880}
    assert set(whole) == set(split)
    for metric, value in whole.items():
        if metric.startswith("cn0_"):
            assert split[metric] == pytest.approx(value, rel=1e-12), metric
        elif metric.startswith("completeness_"):
            # A satellite that never tracks a code is not expected on it: a part sees fewer such.
            assert split[metric] == pytest.approx(value, abs=1.0), metric
        elif metric.startswith("mp_"):
            # Arcs cut at the part boundaries lose their shortest ends: the same level, not the same digits.
            assert split[metric] == pytest.approx(value, rel=0.1), metric


def write_history(path, step_m, seed, days=120, change_day=80):
    rng = np.random.default_rng(seed)
    with Store(path) as store:
        for day in range(days):
            mp1 = rng.normal(0.30, 0.02) + (step_m if day >= change_day else 0.0)
            receiver = "SEPT POLARX5" if day >= change_day else "TRIMBLE NETR9"
            store.write(synthetic_entry("SYNT", 19000 + day, mp1, receiver=receiver), "now")


def test_a_step_is_found_on_its_day_beside_the_receiver_change(tmp_path):
    store = tmp_path / "synthetic.sqlite"
    write_history(store, 0.15, seed=7)
    found = json.loads(cli("trends", store, "--json", "-").stdout)["stations"][0]
    series = {entry["metric"]: entry for entry in found["series"]}
    points = series["mp_L1_L2_GPS"]["change_points"]
    assert len(points) == 1 and points[0]["confidence"] >= 0.95
    day = (np.datetime64(points[0]["day"]) - np.datetime64("2022-01-08")).astype(int)  # day 0 is 2022-01-08
    assert abs(day - 80) <= 1
    assert points[0]["causes"] == ["receiver TRIMBLE NETR9 -> SEPT POLARX5"]
    assert points[0]["mean_after"] - points[0]["mean_before"] == pytest.approx(0.15, abs=0.02)
    assert [change["text"] for change in found["changes"]] == ["receiver TRIMBLE NETR9 -> SEPT POLARX5"]
    assert not series["completeness_GPS"]["change_points"]  # a figure that never moved

    # Without the step, the same test on 200 seeds: false change points in at most 5 % of them.
    days = np.arange(120, dtype=np.int64)
    false = sum(bool(_native.trend(days, np.random.default_rng(seed).normal(0.30, 0.02, 120))["change_points"])
                for seed in range(200))
    assert false <= 10


def test_the_last_day_is_flagged_past_two_sigma_of_its_45_days(tmp_path):
    store = tmp_path / "flag.sqlite"
    rng = np.random.default_rng(1)
    values = list(rng.normal(45.0, 0.5, 60))
    with Store(store) as opened:
        for day, value in enumerate(values):
            opened.write(synthetic_entry("FLAG", 19000 + day, 0.3, cn0=value), "now")
        opened.write(synthetic_entry("FLAG", 19060, 0.3, cn0=40.0), "now")
    series = {entry["metric"]: entry for entry in json.loads(
        cli("trends", store, "--since", "2022-01-01", "--json", "-").stdout)["stations"][0]["series"]}
    band = series["cn0_GPS_S1C"]["band"]
    assert band["days"] == 45
    assert band["mean"] == pytest.approx(np.mean(values[-45:]))
    assert band["sigma"] == pytest.approx(np.std(values[-45:], ddof=1))
    assert series["cn0_GPS_S1C"]["flagged"] and not series["mp_L1_L2_GPS"]["flagged"]


def renamed_copies(source: Path, folder: Path, count: int) -> list[str]:
    """Copies of a recording, each under a station name of its own (MARKER NAME S000, S001, ...)."""
    folder.mkdir()
    text = source.read_text()
    marker = next(line for line in text.splitlines() if line.endswith("MARKER NAME"))
    paths = []
    for index in range(count):
        path = folder / f"s{index:03d}.rnx"
        path.write_text(text.replace(marker, f"S{index:03d}".ljust(60) + "MARKER NAME", 1))
        paths.append(str(path))
    return paths


def test_interrupted_batch_keeps_each_finished_recording_once_and_resume_completes(shared_file, tmp_path):
    paths = renamed_copies(shared_file("obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx"), tmp_path / "obs", 40)
    store = tmp_path / "history.sqlite"
    command = [*CLI, "batch", *paths, "--workers", "1", "--no-progress", "--store", str(store)]
    first = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and first.poll() is None:
        if store.exists():
            with Store(store) as opened:
                if opened.query("SELECT COUNT(*) FROM recordings")[0][0] >= 2:
                    break
        time.sleep(0.05)
    first.send_signal(signal.SIGTERM)
    _, err = first.communicate(timeout=120)
    assert first.returncode == 143, err
    with history.open_store(store) as opened:
        assert opened.query("PRAGMA integrity_check") == [("ok",)]
        kept = list(opened.recordings.source)
    assert 2 <= len(kept) < len(paths) and len(set(kept)) == len(kept)

    # Meanwhile a second writer adds rows of its own: both writers' rows stay.
    writer = subprocess.Popen([sys.executable, "-c", (
        "import sys; sys.path.insert(0, sys.argv[2]); from history_data import synthetic_entry; "
        "from vardoln_tools.history import Store; store = Store(sys.argv[1]); "
        "[store.write(synthetic_entry('WRIT', 19000 + day, 0.3), 'now') for day in range(150)]"),
        str(store), str(Path(__file__).parent)])
    done = subprocess.run([*command, "--resume"], capture_output=True, text=True, timeout=600)
    assert writer.wait(timeout=300) == 0
    assert done.returncode == 0, done.stderr
    assert f"resuming: {len(kept)} of {len(paths)}" in done.stderr
    with history.open_store(store) as opened:
        sources = list(opened.recordings[opened.recordings.station != "WRIT"].source)
        assert sorted(sources) == sorted(os.path.abspath(path) for path in paths)
        assert (opened.recordings.station == "WRIT").sum() == 150
        assert opened.station_days.groupby("station").day.nunique()["WRIT"] == 150


def test_files_that_are_not_stores_are_refused_and_left_unchanged(shared_file, tmp_path):
    foreign = tmp_path / "other.sqlite"
    with sqlite3.connect(foreign) as db:
        db.execute("CREATE TABLE notes (text TEXT)")
    newer = tmp_path / "newer.sqlite"
    with Store(newer) as store:
        store.write(synthetic_entry("NEWR", 19000, 0.3), "now")
        with store.transaction() as db:
            db.execute("UPDATE store_info SET value = ? WHERE key = 'schema_version'", (str(SCHEMA_VERSION + 1),))
    damaged = tmp_path / "damaged.sqlite"
    shutil.copyfile(FIRST_VERSION_STORE, damaged)
    with open(damaged, "r+b") as file:
        file.seek(100)
        file.write(b"\xff" * 400)  # the first page's table of contents
    text = tmp_path / "notes.txt"
    text.write_text("not a database\n")
    expected = {
        foreign: "not a station history store (an SQLite database with other tables)",
        newer: f"written by a newer vardoln-cn0 (store schema {SCHEMA_VERSION + 1}",
        damaged: "damaged or not a station history store",
        text: "not a station history store (not an SQLite database)",
    }
    obs = shared_file("obs2/zegv0010.21o")
    for path, message in expected.items():
        before = path.read_bytes()
        with pytest.raises(StoreError, match=message.replace("(", r"\(").replace(")", r"\)")):
            Store(path)
        done = cli("analyze", obs, "--store", path, check=False)
        assert done.returncode == 1 and done.stdout == ""
        assert done.stderr.count("\n") == 1 and message in done.stderr and "left unchanged" in done.stderr
        assert path.read_bytes() == before
        assert not Path(f"{path}-wal").exists()


def test_the_first_version_store_opens_and_takes_new_rows(tmp_path):
    """The committed store of schema version 1, as the first release wrote it: a newer tool
    upgrades it in place and reads and extends its history."""
    store = tmp_path / "v1.sqlite"
    shutil.copyfile(FIRST_VERSION_STORE, store)
    with Store(store) as opened:
        assert opened.schema_version == SCHEMA_VERSION
        before = opened.station_days
        assert sorted(before.station.unique()) == ["NYA1", "V1ST"]
        opened.write(synthetic_entry("V1ST", 19100, 0.31), "now")
        assert len(opened.station_days) > len(before)
    trends = json.loads(cli("trends", store, "--station", "V1ST", "--json", "-").stdout)["stations"][0]
    assert trends["days"] == 61


def test_monitor_keeps_each_window(tmp_path):
    stream, store = tmp_path / "sept.rtcm3", tmp_path / "live.sqlite"
    samples = REPO_ROOT / "samples"
    cli("rtcm", samples / "SEPT265G.21O", "--msm", "7", "-o", stream)
    shown = cli("monitor", stream, "--nav", samples / "SEPT2650.21P", "--date", "2021-09-22", "--window", "2",
                "--store", store).stdout
    grades = [line.split("grade ")[1].split(",")[0] for line in shown.splitlines() if " window " in line]
    with history.open_store(store) as opened:
        windows = opened.recordings.sort_values("start_ns")
        assert list(windows.kind) == ["window"] * 3 and set(windows.station) == {"SEPT"}
        assert list(windows.epochs) == [120, 120, 120] and list(windows.grade) == grades
        assert set(windows.receiver_type) == {"SEPT MOSAIC-X5"}  # from the stream's 1033
        assert set(opened.station_days.epochs) == {360}
