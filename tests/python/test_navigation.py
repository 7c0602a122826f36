"""NavigationData: reading functions, counts, has_data and the text form."""

import re

import pytest

import vardoln_cn0 as v
from rinex_text import glonass_record, kepler_record, nav_text


def kepler_record_v3(satellite, year=2024):
    return kepler_record(satellite, f"{year} 01 15 06 00 00", orbit=[[0.5] * 4] * 7, clock=[1.0e-5] * 3)


def glonass_record_v3(satellite, channel):
    state = [[1.0e3] * 4, [1.0e3] * 3 + [float(channel)], [1.0e3] * 4]
    return glonass_record(satellite, "2024 01 15 06 15 00", state=state, clock=[1.0e-5] * 3)


def nav_from(records):
    return v.read_navigation_bytes(nav_text(records).encode())


def counts(nav):
    return {
        "gps": nav.gps_count,
        "glonass": nav.glonass_count,
        "galileo": nav.galileo_count,
        "beidou": nav.beidou_count,
        "total": nav.satellite_count,
    }


def test_header_only_file():
    nav = nav_from([])
    assert counts(nav) == {"gps": 0, "glonass": 0, "galileo": 0, "beidou": 0, "total": 0}
    assert nav.has_data() is False
    assert repr(nav) == "NavigationData(GPS=0, GLONASS=0, Galileo=0, BeiDou=0)"


def test_counts_are_satellites_not_records():
    nav = nav_from(
        [
            kepler_record_v3("G05"),
            kepler_record_v3("G05"),  # a second record of the same satellite
            kepler_record_v3("J01"),  # QZSS counts with GPS
            kepler_record_v3("E11"),
            kepler_record_v3("C12"),
            kepler_record_v3("C19"),
            glonass_record_v3("R07", -7),
        ]
    )
    assert counts(nav) == {"gps": 2, "glonass": 1, "galileo": 1, "beidou": 2, "total": 6}
    assert nav.has_data() is True
    assert repr(nav) == "NavigationData(GPS=2, GLONASS=1, Galileo=1, BeiDou=2)"


def test_attributes_are_read_only_ints():
    nav = nav_from([kepler_record_v3("G01")])
    for name in ["gps_count", "glonass_count", "galileo_count", "beidou_count", "satellite_count"]:
        assert type(getattr(nav, name)) is int
        with pytest.raises(AttributeError):
            setattr(nav, name, 3)


@pytest.mark.parametrize("text", [b"", b"     3.04           N: GNSS NAV DATA\n"])
def test_missing_end_of_header(text):
    with pytest.raises(ValueError) as caught:
        v.read_navigation_bytes(text)
    assert caught.value.args == ("No END OF HEADER found",)


def test_missing_file(tmp_path):
    with pytest.raises(OSError) as caught:
        v.read_navigation(str(tmp_path / "brdc.nav"))
    assert len(caught.value.args) == 1
    assert caught.value.args[0].endswith(" (os error 2)")


V3_FIRST_LINE = re.compile(r"^([GECJR])([ \d]\d) \d{4} ")
V2_FIRST_LINE = re.compile(r"^([ \d]\d) [ \d]\d [ \d]\d [ \d]\d ")


def independent_counts(path, version3):
    """Satellite keys counted straight from the record first lines of a well-formed file."""
    lines = path.read_text(errors="replace").splitlines()
    body = lines[next(i for i, line in enumerate(lines) if "END OF HEADER" in line[60:]) + 1 :]
    keys = {"gps": set(), "glonass": set(), "galileo": set(), "beidou": set()}
    for line in body:
        if version3:
            match = V3_FIRST_LINE.match(line)
            if match:
                letter = match.group(1)
                group = {"G": "gps", "J": "gps", "R": "glonass", "E": "galileo", "C": "beidou"}[letter]
                keys[group].add(f"{letter}{int(match.group(2)):02d}")
        else:
            match = V2_FIRST_LINE.match(line)
            if match:
                keys["gps"].add(int(match.group(1)))
    found = {group: len(members) for group, members in keys.items()}
    found["total"] = sum(found.values())
    return found


REAL_NAV = {
    "nav/CBW100NLD_R_20210010000_01D_MN.rnx": True,
    "nav/AMEL00NLD_R_20210010000_01D_MN.rnx": True,
    "nav/SEPT2650.21P": True,
    "nav/reach-m2-01_raw_202306291111.nav": True,
    "nav/16dBatt_no_interference_coldstart.nav": True,
    "nav/NYA100NOR_S_20241240000_01D_GN.rnx": True,
    "nav/cbw10010.21n": False,
    "nav/arlm200a.15n": False,
}


@pytest.mark.parametrize("relative", REAL_NAV)
def test_real_navigation_files(shared_file, relative):
    path = shared_file(relative)
    nav = v.read_navigation(str(path))
    expected = independent_counts(path, REAL_NAV[relative])
    assert counts(nav) == expected
    assert nav.has_data() is (expected["total"] > 0)
    assert v.read_navigation_bytes(path.read_bytes()).satellite_count == nav.satellite_count


def test_qzss_file_counts_as_gps(shared_file):
    nav = v.read_navigation(str(shared_file("nav/30340780.21q")))
    assert nav.gps_count > 0
    assert nav.satellite_count == nav.gps_count
