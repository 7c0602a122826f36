"""Analyses from several threads: the file methods run without the interpreter lock, share the
analyzer through a read borrow, and give the same results as single-threaded calls."""

import threading
from concurrent.futures import ThreadPoolExecutor

import pytest

import vardoln_cn0 as v
from conftest import require_real_file

JOBS = [
    ("obs3/SEPT265G.21O", "nav/SEPT2650.21P"),
    ("obs2/delf0010.21o", "nav/cbw10010.21n"),
    ("obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx", None),
    ("obs2/delf0010.21o", None),
]
SLOW_OBS = "crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx"  # a day of compact RINEX
SMALL_NAV = "nav/amel0010.21g"
THREADS = 8


def resolve(relative):
    return str(require_real_file(relative))


@pytest.fixture(scope="module")
def jobs():
    return [(resolve(obs), resolve(nav) if nav else None) for obs, nav in JOBS]


def run(analyzer, job):
    obs, nav = job
    result = analyzer.analyze_with_nav(obs, nav) if nav else analyzer.analyze_file(obs)
    return result.to_json()


def test_one_analyzer_shared_by_threads(jobs):
    analyzer = v.CN0Analyzer(v.AnalysisConfig())
    expected = {job: run(analyzer, job) for job in jobs}
    tasks = [jobs[i % len(jobs)] for i in range(4 * THREADS)]
    with ThreadPoolExecutor(THREADS) as pool:
        outputs = list(pool.map(lambda job: run(analyzer, job), tasks))
    assert outputs == [expected[job] for job in tasks]


def test_one_analyzer_per_thread(jobs):
    config = v.AnalysisConfig(systems=["G", "E"], min_elevation=10.0)
    expected = {job: run(v.CN0Analyzer(config), job) for job in jobs}
    tasks = [jobs[i % len(jobs)] for i in range(4 * THREADS)]
    with ThreadPoolExecutor(THREADS) as pool:
        outputs = list(pool.map(lambda job: run(v.CN0Analyzer(config), job), tasks))
    assert outputs == [expected[job] for job in tasks]


def test_object_style_from_threads(jobs):
    obs, nav = jobs[1]
    analyzer = v.CN0Analyzer.from_obs(v.read_rinex_obs(obs))
    analyzer.set_navigation(v.read_navigation(nav))
    expected = analyzer.analyze().to_json()
    with ThreadPoolExecutor(THREADS) as pool:
        outputs = list(pool.map(lambda _: analyzer.analyze().to_json(), range(2 * THREADS)))
    assert outputs == [expected] * (2 * THREADS)


def test_set_navigation_fails_while_an_analysis_runs():
    slow_obs = resolve(SLOW_OBS)
    nav = v.read_navigation(resolve(SMALL_NAV))
    analyzer = v.CN0Analyzer(v.AnalysisConfig())

    # The worker holds a read borrow for the whole call; the lock is released meanwhile, so this
    # thread can try to write. An analysis may finish before the first attempt: retry a few times.
    for _ in range(5):
        started = threading.Event()
        outcome = {}

        def analyse():
            started.set()
            outcome["result"] = analyzer.analyze_file(slow_obs)

        worker = threading.Thread(target=analyse)
        worker.start()
        started.wait()
        refusals = []
        while worker.is_alive():
            try:
                analyzer.set_navigation(nav)
            except RuntimeError as error:
                refusals.append(error.args)
        worker.join()
        assert outcome["result"].total_epochs == 2880
        if refusals:
            break
    assert refusals and set(refusals) == {("Already borrowed",)}
    # The borrow is gone once the analysis has returned.
    assert analyzer.set_navigation(nav) is None


def test_results_read_while_analyses_run(jobs):
    analyzer = v.CN0Analyzer(v.AnalysisConfig())
    result = analyzer.analyze_with_nav(*jobs[0])
    reference = (result.to_json(), result.get_anomalies(), result.visibility_debug(), result.score)

    def read(_):
        return (result.to_json(), result.get_anomalies(), result.visibility_debug(), result.score)

    def analyse(job):
        return run(analyzer, job)

    with ThreadPoolExecutor(THREADS) as pool:
        analyses = [pool.submit(analyse, jobs[i % len(jobs)]) for i in range(THREADS)]
        reads = list(pool.map(read, range(4 * THREADS)))
        for future in analyses:
            future.result()
    assert reads == [reference] * (4 * THREADS)
