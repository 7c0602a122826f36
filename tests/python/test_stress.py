"""Eight threads hammering the module for a few seconds: analyses on shared and private
analyzers, set_navigation racing them, objects handed between threads and read while analyses
run. Every output must equal its single-threaded twin; the only failure allowed is the
documented "Already borrowed" refusal. test_threading.py checks the single behaviours; this file
mixes them, and runs on synthetic files too so that it does not need ../shared."""

import random
import threading

import pytest

import vardoln_cn0 as v
from conftest import real_file
from rinex_text import nav_text, site_epoch, site_header, site_text

THREADS = 8
SECONDS = 3.0
REAL_JOBS = [
    ("obs3/ALAC00ESP_R_20220090000_01D_30S_MO.rnx", None),
    ("obs2/delf0010.21o", "nav/cbw10010.21n"),
    ("obs3/pdel0010.21o", "nav/AMEL00NLD_R_20210010000_01D_MN.rnx"),
]


def synthetic_files(tmp_path):
    """A few observation files of different shapes and one navigation file."""
    jobs = []
    nav = tmp_path / "synthetic.nav"
    nav.write_text(nav_text())
    for index, minutes in enumerate([5, 60, 240]):
        epochs = [
            site_epoch(f"2024 01 15 {6 + minute // 60:02d} {minute % 60:02d}  0.0000000", satellites={
                "G01": ["20000000.000", f"{30 + (minute * 7 + index) % 20}.250", "38.000"],
                "G07": ["21000000.000", f"{25 + (minute * 3) % 25}.000", ""],
                "E11": ["21000000.000", f"{20 + minute % 30}.500"],
            })
            for minute in range(minutes)
        ]
        path = tmp_path / f"synthetic{index}.rnx"
        path.write_text(site_text(site_header(), epochs))
        jobs.append((str(path), str(nav) if index != 1 else None))
    return jobs


@pytest.fixture
def jobs(tmp_path):
    found = synthetic_files(tmp_path)
    for obs, nav in REAL_JOBS:
        obs_path, nav_path = real_file(obs), real_file(nav) if nav else None
        if obs_path is not None and (nav is None or nav_path is not None):
            found.append((str(obs_path), str(nav_path) if nav_path else None))
    return found


def analyse(analyzer, job):
    obs, nav = job
    return analyzer.analyze_with_nav(obs, nav) if nav else analyzer.analyze_file(obs)


def run_for(seconds, workers):
    """Runs each worker(rng, stop) in its own thread until the time is up; re-raises the first
    failure of any of them."""
    stop = threading.Event()
    failures = []

    def body(worker, seed):
        rng = random.Random(seed)
        try:
            while not stop.is_set():
                worker(rng)
        except BaseException as error:  # noqa: BLE001 - handed to the main thread
            failures.append(error)
            stop.set()

    threads = [threading.Thread(target=body, args=(worker, seed)) for seed, worker in enumerate(workers)]
    for thread in threads:
        thread.start()
    stop.wait(seconds)
    stop.set()
    for thread in threads:
        thread.join()
    if failures:
        raise failures[0]


def test_mixed_load_matches_single_threaded(jobs):
    config = v.AnalysisConfig(systems=["G", "E", "R"], time_bin_seconds=120)
    shared = v.CN0Analyzer(config)
    expected = {job: analyse(v.CN0Analyzer(config), job).to_json() for job in jobs}
    navs = [v.read_navigation(nav) for _, nav in jobs if nav]
    object_style = v.CN0Analyzer.from_obs(v.read_rinex_obs(jobs[0][0]), time_bin_seconds=120, systems=["G", "E", "R"])
    object_expected = {None: object_style.analyze().to_json()}
    for nav in navs:
        object_style.set_navigation(nav)
        object_expected[repr(nav)] = object_style.analyze().to_json()
    results = [analyse(shared, job) for job in jobs]
    result_expected = [(result.to_json(), result.get_anomalies(), result.summary, result.score) for result in results]
    counts = {"analyses": 0, "refusals": 0, "navigations": 0, "reads": 0}
    lock = threading.Lock()

    def count(name):
        with lock:
            counts[name] += 1

    def shared_analyses(rng):
        job = rng.choice(jobs)
        assert analyse(shared, job).to_json() == expected[job]
        count("analyses")

    def private_analyses(rng):
        job = rng.choice(jobs)
        assert analyse(v.CN0Analyzer(config), job).to_json() == expected[job]
        count("analyses")

    def navigation_writer(rng):
        # Writing to an analyzer that analyses run on: refused only while one holds it.
        try:
            shared.set_navigation(rng.choice(navs))
            count("navigations")
        except RuntimeError as error:
            assert error.args == ("Already borrowed",)
            count("refusals")

    def object_style_user(rng):
        # set_navigation and analyze() on one analyzer from several threads: each analyze sees
        # the data of one complete set_navigation (no torn state), or is refused cleanly.
        nav = rng.choice(navs)
        try:
            object_style.set_navigation(nav)
        except RuntimeError as error:
            assert error.args == ("Already borrowed",)
            count("refusals")
        assert object_style.analyze().to_json() in object_expected.values()
        count("analyses")

    def reader(rng):
        index = rng.randrange(len(results))
        result = results[index]
        assert (result.to_json(), result.get_anomalies(), result.summary, result.score) == result_expected[index]
        count("reads")

    workers = [shared_analyses, shared_analyses, private_analyses, private_analyses, navigation_writer,
               object_style_user, reader, reader]
    assert len(workers) == THREADS
    run_for(SECONDS, workers)
    assert counts["analyses"] >= THREADS and counts["reads"] > 0
    assert counts["navigations"] + counts["refusals"] > 0


def test_objects_handed_between_threads(jobs):
    """Parsed objects made in one thread and used, then dropped, in others."""
    config = v.AnalysisConfig()
    obs_path, nav_path = next(job for job in jobs if job[1])
    reference = v.CN0Analyzer.from_obs(v.read_rinex_obs(obs_path))
    reference.set_navigation(v.read_navigation(nav_path))
    expected = reference.analyze().to_json()
    handoff = []
    handoff_lock = threading.Lock()

    def producer(rng):
        obs, nav = v.read_rinex_obs(obs_path), v.read_navigation(nav_path)
        with handoff_lock:
            handoff.append((obs, nav))
            del handoff[:-16]

    file_expected = v.CN0Analyzer(config).analyze_with_nav(obs_path, nav_path).to_json()

    def consumer(rng):
        with handoff_lock:
            if not handoff:
                return
            obs, nav = handoff[rng.randrange(len(handoff))]
        analyzer = v.CN0Analyzer.from_obs(obs)
        analyzer.set_navigation(nav)
        assert analyzer.analyze().to_json() == expected
        assert v.CN0Analyzer(config).analyze_with_nav(obs_path, nav_path).to_json() == file_expected

    run_for(SECONDS / 2, [producer, producer] + [consumer] * (THREADS - 2))
