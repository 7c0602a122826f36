"""Mistakes that the stubs must make a type checker report.

mypy --strict runs over this file with warn_unused_ignores: every line below carries an ignore for
the error it must produce, so a stub that stops catching one fails the check ("unused ignore").
Never run; the paths are placeholders.
"""

from pathlib import Path

import vardoln_cn0
from vardoln_tools import batch


def misuse(path: Path) -> None:
    vardoln_cn0.read_rinex_obs(path)  # type: ignore[arg-type]  # str only, no Path
    vardoln_cn0.read_rinex_obs_bytes(bytearray(b"x"), "x.obs")  # type: ignore[arg-type]  # bytes only
    vardoln_cn0.analyze_cn0("a.obs", min_elevaton=5.0)  # type: ignore[call-arg]  # misspelt keyword
    vardoln_cn0.CN0Analyzer(None)  # type: ignore[arg-type]  # an AnalysisConfig is required
    vardoln_cn0.CN0Analyzer.from_obs(vardoln_cn0.read_navigation("b.nav"))  # type: ignore[arg-type]

    result = vardoln_cn0.analyze_cn0("a.obs", "b.nav")
    result.mean_cn0 = 40.0  # type: ignore[misc]  # read-only property
    result.score()  # type: ignore[operator]  # a float, not a method
    label: str = result.station_name  # type: ignore[assignment]  # None without a marker name
    summary = result.get_constellation_summary("GPS")
    summary["mean_cn0"]  # type: ignore[index]  # None for an unknown constellation
    if summary is not None:
        mean: float = summary["mean_cn0"]  # type: ignore[assignment]  # text, not a number
        summary["mean"]  # type: ignore[typeddict-item]  # no such key
    for anomaly in result.get_anomalies():
        anomaly["cn0_drop"] + 1.0  # type: ignore[operator]  # text
    grade: int = result.quality_grade  # type: ignore[assignment]
    counts: list[str] = result.get_satellite_count_series()  # type: ignore[assignment]
    result.quality_score.rating = "A - Excellent"  # type: ignore[misc]

    class Mine(vardoln_cn0.AnalysisResult):  # type: ignore[misc]  # the classes are final
        pass

    batch.analyze_many(["a.obs"], workers="2")  # type: ignore[arg-type]
    del label, mean, grade, counts
