"""The `vardoln-cn0 rtcm` subcommand: a recording written as an RTCM 3 stream."""

from __future__ import annotations

import argparse

from .support import EXIT_DONE, CommandError, add_recording_arguments, exit_statuses_text, write


def add_command(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    """Registers the `rtcm` subcommand on the CLI's subparsers."""
    rtcm = commands.add_parser(
        "rtcm", help="write a recording as an RTCM 3 stream", epilog=exit_statuses_text(),
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Write the observations of a recording as an RTCM 3 stream: one MSM message per\n"
                    "constellation and epoch, the station messages 1005 and 1033 first and every 30 s,\n"
                    "and with --nav the broadcast ephemerides after the first station messages.")
    add_recording_arguments(rtcm, "the ephemeris messages written after the first station messages")
    rtcm.add_argument("--msm", type=int, choices=(4, 5, 6, 7), default=7,
                      help="MSM level: 4 and 6 without Doppler, 5 and 7 with it and with the GLONASS channels; "
                           "6 and 7 with finer steps (default: 7)")
    rtcm.add_argument("--station", type=int, default=0, metavar="ID",
                      help="reference station ID written in every message, 0 to 4095 (default: 0)")
    rtcm.add_argument("-o", "--output", metavar="FILE", required=True, help="the RTCM 3 stream to write")
    rtcm.set_defaults(run=command_rtcm)


def command_rtcm(args: argparse.Namespace) -> int:
    from ..tables import recording, roles
    from ..tables import rtcm as rtcm_tables

    if not 0 <= args.station <= 4095:
        raise CommandError(f"--station {args.station}: expected a reference station ID of 0 to 4095")
    try:
        loaded = recording.load(args.obs, args.nav or [])
    except (roles.WrongRole, recording.RecordingError) as error:
        raise CommandError(str(error)) from None
    stream = rtcm_tables.write(loaded, args.msm, args.station)
    write(args.output, stream)
    written = rtcm_tables.contents(stream)
    by_type = ", ".join(f"{count} x {message_type}" for message_type, count in sorted(written.messages.items()))
    print(f"{args.output}: {written.epochs} epochs, {sum(written.messages.values())} messages "
          f"({by_type or 'none'}), {len(stream)} bytes")
    return EXIT_DONE
