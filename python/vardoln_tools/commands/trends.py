"""The `vardoln-cn0 trends` subcommand: each station's daily figures against its own past."""

from __future__ import annotations

import argparse
import datetime
import json
import math

from .support import EXIT_DONE, CommandError, existing_store, write


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers the `trends` subcommand on the CLI's subparsers."""
    trends = commands.add_parser(
        "trends", help="each station's daily figures against its own past, from a history store",
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Per station and metric of a history store (written by --store): the last day's value, the\n"
                    "mean and spread of the 45 days with data before it, a flag past 2 sigma, the change points\n"
                    "of the rank cumulative sum (1,000 random orders, 95 % confidence or more) and the changes\n"
                    "of receiver, firmware, antenna, radome, tool version and settings, each named beside a\n"
                    "change point on its day.")
    trends.add_argument("store", metavar="STORE", help="station history store (SQLite)")
    trends.add_argument("--station", metavar="S", action="append", help="only this station (repeatable)")
    trends.add_argument("--since", metavar="DATE", type=_date,
                        help="only series with data on or after DATE (YYYY-MM-DD), and their change points "
                             "and changes from DATE on")
    trends.add_argument("--json", metavar="FILE", help="write the trends as JSON to FILE ('-': standard output)")
    trends.set_defaults(run=command_trends)


def _date(text: str) -> datetime.date:
    try:
        return datetime.date.fromisoformat(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a date (YYYY-MM-DD): {text!r}") from None


def _value(value: float | None, unit: str) -> str:
    if value is None or not math.isfinite(value):
        return "-"
    return f"{value:.0f}" if unit == "obs/slip" else f"{value:.3f}" if unit == "m" else f"{value:.2f}"


def lines_of(record: dict[str, object]) -> list[str]:
    """The text of one station's trends (a record of history.trends.as_dict)."""
    head = f"{record['station']}" + (f" ({record['identifier']})" if record["identifier"] else "")
    lines = [f"{head}: {record['days']} days, {record['first_day']} .. {record['last_day']}"]
    series = record["series"]
    assert isinstance(series, list)
    lines.append(f"  {'metric':<44} {'last day':<10} {'last':>8}  {'45-day mean ± sigma (days)':<28} flag")
    for entry in series:
        band = entry["band"]
        unit = entry["unit"]
        shown_band = "-" if not band or band["mean"] is None else (
            f"{_value(band['mean'], unit)} ± {_value(band['sigma'], unit)} ({band['days']})")
        flag = "FLAG" if entry["flagged"] else "-"
        lines.append(f"  {entry['label']:<44} {entry['last_day'] or '-':<10} {_value(entry['last_value'], unit):>8}  "
                     f"{shown_band:<28} {flag}")
        for point in entry["change_points"]:
            causes = f"  [{'; '.join(point['causes'])}]" if point["causes"] else ""
            lines.append(f"    change point {point['day']} ({point['confidence'] * 100:.1f} %): "
                         f"{_value(point['mean_before'], unit)} -> {_value(point['mean_after'], unit)}{causes}")
    changes = record["changes"]
    assert isinstance(changes, list)
    for change in changes:
        lines.append(f"  change {change['day']}: {change['text']}")
    return lines


def command_trends(args: argparse.Namespace) -> int:
    from ..history.trends import as_dict, station_trends

    with existing_store(args.store) as store:
        stations = store.stations()
        if args.station:
            wanted = [name.upper() for name in args.station]
            unknown = [name for name in wanted if name not in stations]
            if unknown:
                raise CommandError(f"{args.store}: no station {', '.join(unknown)} in the store "
                                   f"(it holds {', '.join(stations) or 'none'})")
            stations = wanted
        records = []
        for station in stations:
            record = as_dict(station_trends(store, station), args.since)
            if args.since is not None:
                record["series"] = [entry for entry in record["series"]
                                    if entry["last_day"] is not None and entry["last_day"] >= args.since.isoformat()]
            records.append(record)
    document = {"tool": "vardoln-cn0", "store": args.store, "since": None if args.since is None else args.since.isoformat(),
                "stations": records}
    if args.json == "-":
        print(json.dumps(document, indent=2, allow_nan=False))
        return EXIT_DONE
    for index, record in enumerate(records):
        if index:
            print()
        print("\n".join(lines_of(record)))
    if args.json:
        write(args.json, json.dumps(document, indent=2, allow_nan=False))
    return EXIT_DONE
