"""Live monitoring from Python: a copy of the sample recording with a jamming episode written into
it (every L1-band C/N0 10 dB down for two minutes) and 70 s of silence before it, encoded as an
RTCM 3 stream and watched by a Monitor epoch by epoch, as if the stream arrived from a caster.

Run: python examples/monitor_stream.py [OBS NAV STREAM]   (default: the bundled sample, and the
stream written to a temporary file; give STREAM to keep it for `vardoln-cn0 monitor STREAM`)
"""

from __future__ import annotations

import datetime
import sys
import tempfile
from pathlib import Path

from vardoln_tools.monitor import Monitor, StreamSpec
from vardoln_tools.tables import recording, rtcm

SAMPLES = Path(__file__).resolve().parents[1] / "samples"
SILENCE = (datetime.datetime(2021, 9, 22, 6, 30, 40), datetime.datetime(2021, 9, 22, 6, 31, 50))
EPISODE = datetime.datetime(2021, 9, 22, 6, 33)  # two minutes from here, 10 dB down in L1


def with_episode(text: str) -> str:
    """RINEX 3 observation text with the episode and the silence written in: the C/N0 ("S") values
    of band 1 lowered, the epochs of the silence left out."""
    lines = text.splitlines(keepends=True)
    end = next(i for i, line in enumerate(lines) if line[60:].startswith("END OF HEADER"))
    codes: dict[str, list[str]] = {}
    system = ""
    for line in lines[:end]:
        if line[60:].startswith("SYS / # / OBS TYPES"):
            system = line[0] if line[0] != " " else system
            codes.setdefault(system, []).extend(line[7:58].split())
    out = lines[:end + 1]
    epoch = None
    for line in lines[end + 1:]:
        if line.startswith(">"):
            year, month, day, hour, minute = (int(part) for part in line[2:19].split())
            epoch = datetime.datetime(year, month, day, hour, minute, int(float(line[19:29])))
        if epoch is not None and SILENCE[0] <= epoch < SILENCE[1]:
            continue
        if not line.startswith(">") and epoch is not None and EPISODE <= epoch < EPISODE + datetime.timedelta(minutes=2):
            body = line.rstrip("\n")
            for index, code in enumerate(codes.get(line[0], [])):
                start = 3 + 16 * index
                if code.startswith("S1") and body[start:start + 14].strip():
                    body = body[:start] + f"{float(body[start:start + 14]) - 10.0:14.3f}" + body[start + 14:]
            line = body + "\n"
        out.append(line)
    return "".join(out)


def main(obs: Path, nav: Path, stream: Path) -> None:
    jammed = stream.with_suffix(".rnx")
    jammed.write_text(with_episode(obs.read_text()))
    stream.write_bytes(rtcm.write(recording.load(jammed, [nav]), msm=7))
    monitor = Monitor([StreamSpec("SEPT", str(stream))], window_s=360.0, nav_paths=[str(nav)],
                      date=datetime.date(2021, 9, 22))
    for event in monitor.events():
        if event["kind"] == "alarm":
            print(f"{event['state']:5} {event['type']} at {event['epoch']}: {','.join(event['bands'])}, "
                  f"{len(event['satellites'])} satellites, {event['drop_db']:.1f} dB down")
        elif event["kind"] == "outage":
            print(f"{event['state']:5} outage at {event['epoch']}")
        elif event["kind"] == "window":
            print(f"window {event['start']}: {event['epochs']} epochs, grade {event['grade']}, "
                  f"jamming {event['verdicts']['jamming']}")


if __name__ == "__main__":
    if len(sys.argv) == 4:
        main(Path(sys.argv[1]), Path(sys.argv[2]), Path(sys.argv[3]))
    else:
        with tempfile.TemporaryDirectory() as folder:
            main(SAMPLES / "SEPT265G.21O", SAMPLES / "SEPT2650.21P", Path(folder) / "jammed.rtcm3")
