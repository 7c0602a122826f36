"""Reading files without analysing them: what a recording and a navigation file hold.

    python examples/read_files.py [OBS [NAV]]   (default: the sample in samples/)
"""

import sys
from pathlib import Path

import vardoln_cn0

SAMPLES = Path(__file__).resolve().parents[1] / "samples"


def main(argv: list[str]) -> None:
    obs_path = argv[1] if len(argv) > 1 else str(SAMPLES / "SEPT265G.21O")
    nav_path = argv[2] if len(argv) > 2 else str(SAMPLES / "SEPT2650.21P")

    obs = vardoln_cn0.read_rinex_obs(obs_path)
    print(obs, obs.satellites_by_system(), obs.snr_availability())
    for satellite, stats in sorted(obs.snr_stats_by_satellite().items())[:3]:
        print(satellite, f"{stats['mean_snr']:.1f} dB-Hz over {stats['valid_count']:.0f} values")
    nav = vardoln_cn0.read_navigation(nav_path)
    print(nav)


if __name__ == "__main__":
    main(sys.argv)
