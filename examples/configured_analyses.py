"""Configured analyses, several at once: the file methods run without the interpreter lock, so one
analyzer serves a thread pool.

    python examples/configured_analyses.py [OBS NAV ...]   (pairs; default: the sample in samples/)
"""

import sys
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import vardoln_cn0

SAMPLES = Path(__file__).resolve().parents[1] / "samples"


def main(argv: list[str]) -> None:
    paths = argv[1:] or [str(SAMPLES / "SEPT265G.21O"), str(SAMPLES / "SEPT2650.21P")]
    pairs = list(zip(paths[0::2], paths[1::2]))

    config = vardoln_cn0.AnalysisConfig(min_elevation=5.0, systems=["G", "R", "E", "C"])
    analyzer = vardoln_cn0.CN0Analyzer(config)
    with ThreadPoolExecutor() as pool:
        results = list(pool.map(lambda pair: analyzer.analyze_with_nav(*pair), pairs))
    for (obs, _), result in zip(pairs, results):
        score = result.quality_score
        print(f"{Path(obs).name}: {score.rating}, score {score.overall:.1f}, "
              f"confirmed {result.visibility_confirmation_rate:.1f}%")
        for anomaly in result.get_anomalies():
            print(f"  {anomaly['start_time']} {anomaly['severity']}: {anomaly['description']}")


if __name__ == "__main__":
    main(sys.argv)
