"""RINEX text for the tests: header lines with labels at column 60, observation epochs with fields at
their exact columns, and version 3 navigation records. Every synthetic file of the Python tests is
written through these."""

# ---------------------------------------------------------------- observation files


def header_line(content, label):
    """A header line: content in columns 0-59, the label from column 60."""
    return f"{content:<60}{label}"


def obs_header(obs_types, marker=None, version="3.04", receiver="RX", position=None, interval=None, extra=()):
    """A version 3 observation header. obs_types maps a constellation letter to its codes (at most
    13 each); interval is a number of seconds or the field's text as written; extra lines go just
    before END OF HEADER."""
    lines = [header_line(f"{version:>9}           OBSERVATION DATA    M", "RINEX VERSION / TYPE")]
    if marker is not None:
        lines.append(header_line(marker, "MARKER NAME"))
    lines.append(header_line(f"{'':20}{receiver:<20}{'':20}", "REC # / TYPE / VERS"))
    if position is not None:
        lines.append(header_line(position, "APPROX POSITION XYZ"))
    if interval is not None:
        text = f"{interval:10.3f}" if isinstance(interval, (int, float)) else f"{interval:>10}"
        lines.append(header_line(text, "INTERVAL"))
    for letter, codes in obs_types.items():
        lines.append(header_line(f"{letter}  {len(codes):3d}" + "".join(f" {code}" for code in codes),
                                 "SYS / # / OBS TYPES"))
    lines += extra
    lines.append(header_line("", "END OF HEADER"))
    return lines


def epoch_time(time):
    """The time of a version 3 epoch line: (y, m, d, h, mi, s) or the text as written."""
    if isinstance(time, str):
        return time
    year, month, day, hour, minute, second = time
    return f"{year:4d} {month:02d} {day:02d} {hour:02d} {minute:02d}{second:11.7f}"


def obs_field(value):
    """An F14.3 observation field and its blank LLI and SSI columns: a number, the field's text as
    written, or None (or "") for no observation."""
    if value is None:
        return " " * 16
    return f"{value:>14}  " if isinstance(value, str) else f"{value:14.3f}  "


def obs_epoch(time, satellites, flag="0", count=None):
    """One version 3 epoch block; satellites maps an id to its values (see obs_field); count is the
    satellite count as written, by default the number given."""
    count = str(len(satellites)) if count is None else count
    lines = [f"> {epoch_time(time)}  {flag}{count:>3}"]
    lines += [f"{satellite:<3}" + "".join(obs_field(value) for value in values)
              for satellite, values in satellites.items()]
    return lines


def rinex_text(header, blocks):
    """The file text of header lines and blocks of lines (epochs or records), one per line."""
    return "\n".join(header + [line for block in blocks for line in block]) + "\n"


# ---------------------------------------------------------------- navigation files


def nav_header(version="3.04"):
    return [header_line(f"{version:>9}           N: GNSS NAV DATA    M", "RINEX VERSION / TYPE"),
            header_line("", "END OF HEADER")]


def nav_field(value):
    """A D19.12 field: a number, or the field's text as written."""
    return f"{value:>19}" if isinstance(value, str) else f"{value:19.12E}"


def nav_fields(*values, indent=4):
    return " " * indent + "".join(nav_field(value) for value in values)


KEPLER_CLOCK = ["7.8e-04", "-5.9e-12", "0.0e+00"]
KEPLER_ORBIT = [
    ["1.0e+01", "-7.3e+01", "4.3e-09", "2.8e-02"],
    ["-3.7e-06", "1.0e-02", "1.0e-06", "5.153e+03"],
    ["1.98e+05", "-2.0e-08", "-8.0e-01", "1.6e-07"],
    ["9.8e-01", "3.6e+02", "8.2e-01", "-8.4e-09"],
    ["-3.0e-10", "1.0e+00", "2.297e+03", "0.0e+00"],
    ["2.0e+00", "0.0e+00", "5.1e-09", "5.2e+01"],
    ["1.9e+05", "0.0e+00", "", ""],
]
GLONASS_CLOCK = ["-1.0e-05", "0.0e+00", "2.3e+04"]
GLONASS_STATE = [
    ["1.0e+04", "-2.0e+00", "0.0e+00", "0.0e+00"],
    ["-1.5e+04", "1.0e+00", "0.0e+00", "1.0e+00"],
    ["1.5e+04", "2.5e+00", "0.0e+00", "0.0e+00"],
]


def kepler_record(sat="G01", toc="2024 01 15 06 00 00", orbit=None, clock=None):
    """A version 3 record of a Keplerian system (GPS, Galileo, BeiDou, QZSS): the clock line and
    seven orbit lines of four fields."""
    clock = KEPLER_CLOCK if clock is None else clock
    orbit = KEPLER_ORBIT if orbit is None else orbit
    return [f"{sat} {toc}" + "".join(nav_field(value) for value in clock)] + [nav_fields(*line) for line in orbit]


def glonass_record(sat="R01", toc="2024 01 15 06 15 00", state=None, clock=None):
    """A version 3 GLONASS record: the clock line and three state lines (the second ends with the
    frequency channel)."""
    clock = GLONASS_CLOCK if clock is None else clock
    state = GLONASS_STATE if state is None else state
    return [f"{sat} {toc}" + "".join(nav_field(value) for value in clock)] + [nav_fields(*line) for line in state]


def nav_text(records=None, version="3.04"):
    """A version 3 navigation file; by default a GPS, a Galileo and a GLONASS record."""
    records = [kepler_record(), kepler_record("E11"), glonass_record()] if records is None else records
    return rinex_text(nav_header(version), records)


# ---------------------------------------------------------------- the small recording of the hostile-input cases

SITE_TYPES = {"G": ["C1C", "S1C", "S2W"], "E": ["C1C", "S1C"]}
SITE_POSITION = "4027893.0  307045.0  4919475.0"
SITE_SATELLITES = {"G01": ["20000000.000", "45.250", "38.000"], "E11": ["21000000.000", "41.000"]}


def site_header(version="3.04", interval="30.000", position=SITE_POSITION, extra=()):
    """The header of station SITE: GPS and Galileo codes, a position and an interval as written."""
    return obs_header(SITE_TYPES, "SITE", version, position=position, interval=interval, extra=extra)


def site_epoch(time="2024 01 15 06 30  0.0000000", flag="0", count=None, satellites=None):
    return obs_epoch(time, SITE_SATELLITES if satellites is None else satellites, flag, count)


def site_text(header=None, epochs=None):
    """Ten epochs of station SITE (by default) under a header (by default site_header())."""
    header = site_header() if header is None else header
    if epochs is None:
        epochs = [
            site_epoch(f"2024 01 15 06 {minute:02d}  0.0000000", satellites={
                "G01": ["20000000.000", f"{40 + minute % 7}.250", "38.000"],
                "G07": ["21000000.000", f"{35 + minute % 5}.000", ""],
                "E11": ["21000000.000", "41.000"],
            })
            for minute in range(30, 40)
        ]
    return rinex_text(header, epochs)
