"""The band detector on the real recordings: false alarms, detection of injected episodes, and
what the detector and the grade's QC figures add to an analysis.

1. False alarms: every recording of obs2/, obs3/, crinex/ and multiday/, with its navigation file
   where the data README names one and without; a run counts when it reports jamming or
   interference (a lasting drop is counted apart), or spoofing with complete navigation data.
   Target: 0.
2. Detection: L1 episodes written into copies of day files of several stations (every satellite,
   or a part of them; 3, 5 or 10 minutes; 3 to 15 dB; values below 25 dB-Hz blanked), with and
   without navigation data. An episode is found when an event starts within one epoch of its
   first epoch; its type is right when a part of the satellites gives interference and all of
   them jamming. Target: 95 % or more found at 6 dB and above, over 50 cases or more.
3. Time: the assessment as `analyze` makes it (`assessment.assess`: the module's analysis and,
   beside it on a second thread, one native pass for the detector, QC, completeness, coverage
   and the visibility check) against the module's analysis followed by the coverage table, all
   that `analyze` computed before the detector; interleaved rounds, best of each, wall and CPU
   time. Target: at most 1.4x the wall time.

Run: .venv/bin/python bench/bench_detector.py [--cases N] [--rounds N]
"""

from __future__ import annotations

import argparse
import datetime
import os
import random
import runpy
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

ROOT = Path(__file__).resolve().parents[1]
SHARED = Path(os.environ.get("VARDOLN_TEST_DATA") or ROOT.parent / "shared" / "data")
sys.path.insert(0, str(ROOT / "tests" / "python"))

import injection  # noqa: E402  (the tests' episode writer)
import vardoln_cn0  # noqa: E402
from vardoln_tools import _native, load_observations  # noqa: E402

MULTIDAY_NAV = {"NYA100NOR_S": ("NYA100NOR_S", ("GN", "EN", "CN")), "AJAC00FRA_R": ("GRAS00FRA_R", ("EN",))}
STATIONS = [  # (recording, navigation files), relative to the shared data
    ("obs3/ESBC00DNK_R_20201770000_01D_30S_MO.rnx", ["nav/ESBC00DNK_R_20201770000_01D_MN.rnx"]),
    ("crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx", ["nav/NYA100NOR_S_20241240000_01D_GN.rnx",
                                                       "nav/NYA100NOR_S_20241240000_01D_EN.rnx",
                                                       "nav/NYA100NOR_S_20241240000_01D_CN.rnx"]),
    ("crinex/CEBR00ESP_R_20182000000_01D_30S_MO.crx", []),
    ("obs2/york0440.15o", []),
    ("multiday/zimm0010.21o.gz", []),
    ("multiday/AJAC00FRA_R_20242090000_01D_30S_MO.crx.gz", ["multiday/GRAS00FRA_R_20242090000_01D_EN.rnx.gz"]),
]
DROPS = (3.0, 4.0, 5.0, 6.0, 8.0, 10.0, 15.0)


def recordings() -> list[tuple[Path, list[Path]]]:
    """Every recording of the four folders with the navigation files the data README names."""
    digests = runpy.run_path(str(ROOT / "scripts" / "analysis_digests.py"))
    named = dict(digests["recordings_with_nav"](SHARED))
    runs = []
    for folder in ("obs2", "obs3", "crinex"):
        for path in sorted((SHARED / folder).iterdir()):
            nav = named.get(f"{folder}/{path.name}")
            runs.append((path, [SHARED / nav] if nav else []))
    for path in sorted((SHARED / "multiday").glob("*")):
        if "_MO." not in path.name and not path.name.startswith("zimm"):
            continue
        navs: list[Path] = []
        for prefix, (nav_prefix, kinds) in MULTIDAY_NAV.items():
            if path.name.startswith(prefix):
                day = path.name[len(prefix) + 1:len(prefix) + 12]
                navs = [p for kind in kinds
                        if (p := SHARED / "multiday" / f"{nav_prefix}_{day}_01D_{kind}.rnx.gz").exists()]
        runs.append((path, navs))
    return runs


def false_alarms() -> None:
    runs = alarms = lasting = 0
    for path, navs in recordings():
        for nav in ([None, [str(p) for p in navs]] if navs else [None]):
            try:
                judged = _native.judge(str(path), nav)
            except (OSError, ValueError):
                continue
            runs += 1
            types = [event["type"] for event in judged["detector"]["events"]]
            complete = nav is not None and _complete(judged)
            flagged = [t for t in types if t in ("jamming", "interference") or (t == "spoofing" and complete)]
            lasting += "lasting_drop" in types
            if flagged:
                alarms += 1
                print(f"  false alarm: {path.relative_to(SHARED)} {'with' if nav else 'without'} navigation: {flagged}")
    print(f"false alarms: {alarms} of {runs} runs (lasting drops, not counted: {lasting})")


def _complete(judged: dict) -> bool:
    table = judged.get("coverage")
    if table is None:
        return False
    rows = list(table["system"])
    index = rows.index("all") if "all" in rows else -1
    observed, covered = np.asarray(table["observed"]), np.asarray(table["covered"])
    return index >= 0 and observed[index] > 0 and covered[index] / observed[index] >= 0.95


def detection(cases_per_drop: int, seed: int, drops: tuple[float, ...] = DROPS) -> None:
    rng = random.Random(seed)
    found: dict[float, list[int]] = {drop: [0, 0, 0] for drop in drops}
    with tempfile.TemporaryDirectory() as scratch:
        target = os.path.join(scratch, "episode.rnx")
        modes = [(obs, navs, use) for obs, navs in STATIONS for use in ([True, False] if navs else [False])]
        for obs, navs, use_nav in modes:
            source = SHARED / obs
            table = load_observations(source)
            times = np.unique(table.time.values)
            step = float((times[1] - times[0]) / np.timedelta64(1, "s"))
            satellites = sorted(set(table.satellite.astype(str)))
            letters = {name[0] for name in satellites}
            for drop in drops:
                for case in range(max(1, cases_per_drop // len(modes))):
                    minutes = (3, 5, 10)[case % 3]
                    partial = case % 2 == 1
                    first = rng.randrange(len(times) // 10, len(times) - len(times) // 10 - 30)
                    start = times[first].astype("datetime64[ms]").astype(datetime.datetime)
                    chosen = None
                    if partial and len(letters) > 1:
                        chosen = {name for name in satellites if name[0] == "G"}
                    elif partial:  # one constellation: three fifths of the satellites in view
                        present = sorted(set(table.satellite.astype(str)[table.time.values == times[first]]))
                        chosen = set(present[:(3 * len(present) + 4) // 5])
                    episode = injection.Episode(start, start + datetime.timedelta(minutes=minutes), ("L1",), drop,
                                                satellites=chosen)
                    touched = injection.inject(source, target, episode)
                    nav = [str(SHARED / n) for n in navs] if use_nav else None
                    events = _native.judge(target, nav)["detector"]["events"]
                    near = {(touched[0] + datetime.timedelta(seconds=k * step)).isoformat(timespec="milliseconds") + "Z"
                            for k in (-1, 0, 1)}
                    hit = [event for event in events if event["start"] in near]
                    tally = found[drop]
                    tally[0] += 1
                    tally[1] += bool(hit)
                    right = bool(hit) and hit[0]["type"] == ("interference" if partial else "jamming")
                    tally[2] += right
                    if drop >= 6.0 and not right:
                        print(f"  missed: {obs} {'with' if use_nav else 'without'} navigation, {drop:g} dB, "
                              f"{minutes} min from {touched[0]}, {'part' if partial else 'all'}: "
                              f"{[(e['type'], e['start'], round(e['share'], 2)) for e in events]}")
    strong = [sum(found[d][i] for d in drops if d >= 6.0) for i in range(3)]
    for drop in drops:
        cases, hits, right = found[drop]
        print(f"  {drop:4.1f} dB: found {hits}/{cases} ({100 * hits / cases:.0f} %), type right {right}/{cases}")
    print(f"detection at 6 dB and more: {strong[1]}/{strong[0]} ({100 * strong[1] / strong[0]:.1f} %), "
          f"type right {strong[2]}/{strong[0]} ({100 * strong[2] / strong[0]:.1f} %)")


def timing(rounds: int) -> None:
    from vardoln_tools.judge.assessment import assess

    obs = str(SHARED / "obs3" / "ESBC00DNK_R_20201770000_01D_30S_MO.rnx")
    nav = str(SHARED / "nav" / "ESBC00DNK_R_20201770000_01D_MN.rnx")
    wall = {"before": float("inf"), "now": float("inf")}
    cpu = dict(wall)
    for _ in range(rounds):
        for name in wall:
            start, used = time.perf_counter(), time.process_time()
            if name == "before":
                vardoln_cn0.analyze_cn0(obs, nav)
                _native.coverage(obs, [nav])
            else:
                assess(obs, [nav])
            wall[name] = min(wall[name], time.perf_counter() - start)
            cpu[name] = min(cpu[name], time.process_time() - used)
    print(f"ESBC day with navigation: analysis and coverage {wall['before']:.3f} s wall ({cpu['before']:.3f} s CPU); "
          f"assessment with detector, QC figures, completeness, coverage and visibility {wall['now']:.3f} s wall "
          f"({cpu['now']:.3f} s CPU): {wall['now'] / wall['before']:.2f}x wall (target at most 1.4x), "
          f"{cpu['now'] / cpu['before']:.2f}x CPU")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cases", type=int, default=30, help="episodes per drop level (default 30)")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args()
    if not SHARED.is_dir():
        print(f"no shared data at {SHARED}", file=sys.stderr)
        return 1
    false_alarms()
    detection(args.cases, args.seed)
    timing(args.rounds)
    return 0


if __name__ == "__main__":
    sys.exit(main())
