"""Analyse one recording with its navigation file: grade, verdicts, a constellation, the JSON export.

    python examples/quickstart.py [OBS [NAV [JSON_OUT]]]

Without arguments it analyses the sample recording in samples/.
"""

import sys
from pathlib import Path

import vardoln_cn0

SAMPLES = Path(__file__).resolve().parents[1] / "samples"


def main(argv: list[str]) -> None:
    obs = argv[1] if len(argv) > 1 else str(SAMPLES / "SEPT265G.21O")
    nav = argv[2] if len(argv) > 2 else str(SAMPLES / "SEPT2650.21P")

    result = vardoln_cn0.analyze_cn0(obs, nav, min_elevation=10.0, systems=["G", "E"])
    print(result.quality_grade, result.summary)
    print(result.mean_cn0, result.anomaly_count, result.jamming_detected, result.spoofing_detected)
    gps = result.get_constellation_summary("GPS")
    if gps is not None:
        print(f"GPS: {gps['satellite_count']} satellites, mean C/N0 {gps['mean_cn0']} dB-Hz")
    if len(argv) > 3:
        Path(argv[3]).write_text(result.to_json_pretty(), encoding="utf-8")


if __name__ == "__main__":
    main(sys.argv)
