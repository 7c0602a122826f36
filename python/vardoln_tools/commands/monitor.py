"""vardoln-cn0 monitor: live RTCM 3 streams judged as they arrive."""

from __future__ import annotations

import argparse
import datetime
import json
import signal
import subprocess
import sys
from typing import IO, TYPE_CHECKING, Any

from ..judge import settings
if TYPE_CHECKING:
    from ..history import Store
    from ..monitor import StreamSpec

from .support import EXIT_DONE, CommandError, add_store_arguments, exit_statuses_text, store_of

MONITOR_MEANINGS = {
    0: "done: every stream ended (files and standard input) or the monitor was stopped",
    1: "error: a bad source, a sources file that cannot be read, or an output that cannot be written",
    2: "usage error (bad options)",
}


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    monitor = commands.add_parser(
        "monitor", help="judge live RTCM 3 streams as they arrive", epilog=exit_statuses_text(MONITOR_MEANINGS),
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Watch one or many RTCM 3 streams (NTRIP casters, TCP servers, files, standard input) and\n"
                    "judge them as the data arrive: an alarm when the band detector sees an event start and\n"
                    "one when it ends, an outage alarm when no epoch arrives, and per window the analysis,\n"
                    "events, verdicts and grade that `analyze --from --to` gives for the same epochs.")
    monitor.add_argument("source", metavar="SOURCE", nargs="*",
                         help="ntrip://[user[:password]@]host[:port]/MOUNTPOINT, tcp://host:port, a file, or - "
                              "for standard input")
    monitor.add_argument("--sources", metavar="FILE", help="streams one per line: NAME SOURCE")
    monitor.add_argument("--nav", metavar="NAV", action="append",
                         help="RINEX navigation file for the window analyses (repeatable)")
    monitor.add_argument("--date", metavar="YYYY-MM-DD", type=datetime.date.fromisoformat,
                         help="the day of the streams (the messages carry only the time of week); default: "
                              "the receiving clock")
    monitor.add_argument("--rate", choices=("realtime", "max"), default="max",
                         help="a file replayed at its recorded pace or as fast as it reads (default max)")
    monitor.add_argument("--window", metavar="MINUTES", type=float, default=15.0,
                         help="window length in minutes, aligned to GPS time (default 15)")
    monitor.add_argument("--outage", metavar="SECONDS", type=float, default=60.0,
                         help="an outage alarm after this many seconds without an epoch (default 60)")
    monitor.add_argument("--gga", metavar="LAT,LON,HEIGHT",
                         help="position sent to the caster as a GGA sentence")
    monitor.add_argument("--events", metavar="FILE", help="append every event to FILE as JSON lines")
    monitor.add_argument("--on-event", metavar="COMMAND",
                         help="run COMMAND (through the shell) for each alarm and outage, the event as JSON "
                              "on its standard input")
    monitor.add_argument("--rinex", metavar="DIR",
                         help="write each stream as hourly RINEX 3 observation files and the day's navigation file "
                              "into DIR")
    settings.add_arguments(monitor, only=("min_elevation", "systems", "event_drop", "event_satellites"))
    add_store_arguments(monitor, "every window")
    monitor.set_defaults(run=command_monitor)


def _gga(text: str | None) -> str | None:
    if text is None:
        return None
    from ..sources import ntrip

    try:
        latitude, longitude, height = (float(part) for part in text.split(","))
    except ValueError:
        raise CommandError(f"--gga: expected LAT,LON,HEIGHT, got {text!r}") from None
    return ntrip.gga_sentence(latitude, longitude, height, datetime.datetime.now(datetime.timezone.utc))


def event_line(event: dict[str, Any]) -> str:
    """One line for a person: "STATION alarm start jamming at 2024-..., L1, 8 satellites, 10.0 dB down"."""
    stream, kind = event["stream"], event["kind"]
    if kind == "alarm":
        what = "spoofing" if event["type"] == "spoofing" else event["type"]
        size = f"{event['drop_db']:.1f} dB {'up' if event['type'] == 'spoofing' else 'down'}"
        return (f"{stream}  ALARM {event['state']:<5} {what} at {event['epoch']}  {','.join(event['bands'])}  "
                f"{len(event['satellites'])} satellites ({' '.join(event['satellites'])})  {size}")
    if kind == "outage":
        extra = f" after {event['gap_s']:.0f} s" if event["state"] == "end" else " (no epoch since)"
        return f"{stream}  OUTAGE {event['state']:<5} at {event['epoch']}{extra}"
    if kind == "window":
        part = " (partial)" if event["partial"] else ""
        if event.get("verdicts") is None:
            return f"{stream}  window {event['start']} .. {event['end']}{part}: {event.get('note', 'nothing to judge')}"
        verdicts = event["verdicts"]
        return (f"{stream}  window {event['start']} .. {event['end']}{part}: {event['epochs']} epochs, "
                f"grade {event['grade']}, jamming {verdicts['jamming'].split(':')[0]}, "
                f"interference {verdicts['interference'].split(':')[0]}, "
                f"spoofing {verdicts['spoofing'].split(':')[0]}")
    if kind == "rinex":
        return f"{stream}  RINEX written: {', '.join(event['paths'])}"
    if kind == "connection":
        return f"{stream}  connection lost ({event['reason']}), again in {event['retry_s']:.0f} s"
    return f"{stream}  error: {event.get('message', '')}"


def _table(monitor: Any) -> str:
    rows = ["station        last epoch                satellites  mean C/N0 (dB-Hz)             alarms  last window"]
    for name, status, feed in monitor.statuses():
        last = status.get("last_ms")
        from ..monitor import gps_ms_text

        means = " ".join(f"{letter} {value:4.1f}" for letter, value in sorted(status.get("mean_cn0", {}).items()))
        window = feed.last_window
        shown = "-" if window is None else f"grade {window.get('grade')}"
        state = " OUTAGE" if status.get("in_outage") else ""
        rows.append(f"{name:<14} {gps_ms_text(last) if last is not None else '-':<25} "
                    f"{status.get('satellites', 0):>10}  {means:<29} {feed.alarms:>6}  {shown}{state}")
    return "\n".join(rows)


def command_monitor(args: argparse.Namespace) -> int:
    from ..monitor import Monitor, StreamSpec, read_sources_file
    from ..sources import ntrip

    streams: list[StreamSpec] = []
    try:
        for number, text in enumerate(args.source, 1):
            source = ntrip.parse_source(text)
            name = source.ntrip.mountpoint if source.ntrip else text.rsplit("/", 1)[-1] or f"stream{number}"
            streams.append(StreamSpec(name, text))
        if args.sources:
            streams += read_sources_file(args.sources)
    except OSError as error:
        raise CommandError(f"{args.sources}: {error.strerror or error}") from None
    except ValueError as error:
        raise CommandError(str(error)) from None
    if not streams:
        raise CommandError("no stream given: name a SOURCE or --sources FILE")
    if not args.window > 0 or not args.outage > 0:
        raise CommandError("--window and --outage must be above 0")
    with store_of(args) as store:
        return _monitor(args, streams, store)


def _monitor(args: argparse.Namespace, streams: list[StreamSpec], store: Store | None) -> int:
    from ..history.keeping import ENTRY_KEY, Keeping
    from ..judge.assessment import created_now
    from ..monitor import Monitor

    keeping = None
    if store is not None:
        config = settings.analysis_config(args.min_elevation, args.systems)
        keeping = Keeping(settings.judged_settings(config, settings.detector_from_arguments(args)), args.station)
    try:
        monitor = Monitor(streams, window_s=args.window * 60.0, outage_s=args.outage,
                          detector=settings.detector_from_arguments(args), min_elevation=args.min_elevation,
                          systems=args.systems, nav_paths=args.nav or [], date=args.date, rate=args.rate,
                          gga=_gga(args.gga), rinex_dir=args.rinex, keeping=keeping)
    except (OSError, ValueError) as error:
        raise CommandError(str(error)) from None
    events_out: IO[str] | None = None
    if args.events:
        try:
            events_out = open(args.events, "a", encoding="utf-8")
        except OSError as error:
            raise CommandError(f"cannot write {args.events}: {error.strerror or error}") from None
    live_table = sys.stdout.isatty()
    # Ctrl-C or a TERM signal stops the monitor the orderly way: every stream's open epoch, open
    # event and last window are judged and written before the command ends.
    stopping = {number: signal.signal(number, lambda *_: monitor.stop()) for number in (signal.SIGINT, signal.SIGTERM)}
    try:
        for event in monitor.events():
            entry = event.pop(ENTRY_KEY, None)
            if store is not None and entry is not None:
                store.write(entry, created_now())
            if events_out is not None:
                events_out.write(json.dumps(event, ensure_ascii=False) + "\n")
                events_out.flush()
            if args.on_event and event["kind"] in ("alarm", "outage"):
                subprocess.run(args.on_event, shell=True, input=json.dumps(event), text=True, check=False)
            if live_table:
                print("\x1b[H\x1b[2J" + _table(monitor) + "\n\n" + event_line(event), flush=True)
            else:
                print(event_line(event), flush=True)
    finally:
        for number, handler in stopping.items():
            signal.signal(number, handler)
        if events_out is not None:
            events_out.close()
    return EXIT_DONE
