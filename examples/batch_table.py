"""Many recordings into one table, navigation files matched by station and day.

    python examples/batch_table.py [OBS_DIR [NAV_DIR]]   (default: samples/ for both)
"""

import sys
from pathlib import Path

import vardoln_cn0
from vardoln_tools import batch

SAMPLES = Path(__file__).resolve().parents[1] / "samples"


def main(argv: list[str]) -> None:
    obs_dir = Path(argv[1]) if len(argv) > 1 else SAMPLES
    nav_dir = Path(argv[2]) if len(argv) > 2 else SAMPLES
    paths = sorted(path for path in obs_dir.iterdir() if batch.is_observation_name(path.name))

    config = vardoln_cn0.AnalysisConfig(min_elevation=10.0)
    rows = batch.analyze_many(paths, nav_dir=nav_dir, config=config, progress=False)
    print(batch.format_table(rows))
    frame = batch.to_dataframe(rows)  # needs pandas
    print(frame[["station", "epochs", "mean_cn0", "grade"]].to_string(index=False))


if __name__ == "__main__":
    main(sys.argv)
