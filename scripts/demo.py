"""Analyse one recording and print a short, readable verdict; optionally write the JSON export."""

import argparse
import sys

import vardoln_cn0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("obs", help="RINEX observation file")
    parser.add_argument("nav", nargs="?", help="RINEX navigation file of the same day")
    parser.add_argument("--json", help="write the JSON export to this file")
    args = parser.parse_args()

    result = vardoln_cn0.analyze_cn0(args.obs, args.nav)
    print(f"vardoln_cn0 {vardoln_cn0.version()}: {args.obs}")
    print(f"  station        {result.station_name or '-'}   receiver {result.receiver_type or '-'}")
    print(f"  span           {result.start_time} .. {result.end_time} ({result.duration_hours:.2f} h)")
    print(f"  epochs         {result.total_epochs}, satellites {result.total_satellites}, "
          f"C/N0 samples {result.total_observations}")
    print(f"  C/N0           mean {result.mean_cn0:.1f}  min {result.min_cn0:.1f}  max {result.max_cn0:.1f} dB-Hz")
    print("  constellation   sats/expected   obs     mean   std  slips  gaps")
    for name in sorted(result.constellations):
        row = result.get_constellation_summary(name)
        if row is None:
            continue
        print(f"    {name:<12} {row['satellite_count']:>5}/{row['satellites_expected']:<8} "
              f"{row['observation_count']:>7} {row['mean_cn0']:>6} {row['std_cn0']:>5} "
              f"{row['cycle_slips']:>6} {row['data_gaps']:>5}")
    print(f"  anomalies      {result.anomaly_count} (critical {result.critical_count})")
    print(f"  verdicts       jamming {result.jamming_detected}, interference {result.interference_detected}, "
          f"spoofing {result.spoofing_detected}")
    if result.has_visibility_prediction:
        print(f"  visibility     {result.visibility_prediction_source}: predicted "
              f"{result.visibility_mean_predicted:.1f}, observed {result.visibility_mean_observed:.1f}, "
              f"confirmed {result.visibility_confirmation_rate:.1f}%")
    score = result.quality_score
    print(f"  quality        grade {result.quality_grade}, score {result.score:.1f} ({score.rating}); "
          f"{result.summary}")
    if args.json:
        with open(args.json, "w", encoding="utf-8") as out:
            out.write(result.to_json_pretty())
        print(f"  JSON export    {args.json}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
