"""Shared fixtures: the real recordings beside the repository, and RINEX text builders."""

from pathlib import Path

import pytest

REPO_ROOT = Path(__file__).resolve().parents[2]
SHARED_DATA = REPO_ROOT.parent / "shared" / "data"


@pytest.fixture(scope="session")
def shared_data():
    """The directory of real recordings; tests using it skip in a clone without ../shared."""
    if not SHARED_DATA.is_dir():
        pytest.skip("shared test data not present")
    return SHARED_DATA


@pytest.fixture
def shared_file(shared_data):
    """A named file of the shared data, skipping when that one file is missing."""

    def get(relative):
        path = shared_data / relative
        if not path.is_file():
            pytest.skip(f"{relative} not present")
        return path

    return get


def header_line(content, label):
    """A header line: content in columns 0-59, the label from column 60."""
    return f"{content:<60}{label}"


def rinex3_header(obs_types, marker=None, version="3.04", receiver="RX", interval=None):
    """A RINEX 3 observation header; obs_types maps a letter to its codes (at most 13 each)."""
    lines = [header_line(f"{version:>9}           OBSERVATION DATA    M", "RINEX VERSION / TYPE")]
    if marker is not None:
        lines.append(header_line(marker, "MARKER NAME"))
    lines.append(header_line(f"{'':20}{receiver:<20}{'':20}", "REC # / TYPE / VERS"))
    for letter, codes in obs_types.items():
        lines.append(header_line(f"{letter}  {len(codes):3d}" + "".join(f" {code}" for code in codes), "SYS / # / OBS TYPES"))
    if interval is not None:
        lines.append(header_line(f"{interval:10.3f}", "INTERVAL"))
    lines.append(header_line("", "END OF HEADER"))
    return lines


def rinex3_epoch(time, satellites):
    """One RINEX 3 epoch block; time is (y, m, d, h, mi, s), satellites maps an id to its values
    (None for a blank field)."""
    year, month, day, hour, minute, second = time
    lines = [f"> {year:4d} {month:02d} {day:02d} {hour:02d} {minute:02d}{second:11.7f}  0{len(satellites):3d}"]
    for satellite, values in satellites.items():
        fields = "".join(" " * 16 if value is None else f"{value:14.3f}  " for value in values)
        lines.append(f"{satellite:<3}{fields}")
    return lines


@pytest.fixture
def write_rinex(tmp_path):
    """Writes lines (or text) to tmp_path/<name> and returns the path."""

    def write(lines, name="test.rnx"):
        path = tmp_path / name
        text = lines if isinstance(lines, str) else "\n".join(lines) + "\n"
        path.write_bytes(text.encode("latin-1"))
        return path

    return write
