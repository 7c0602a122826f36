"""Broken and hostile inputs through every entry point. Each case names its outcome: the documented
exception, or the tolerant result the readers give. Every analysis that succeeds must export
strict JSON (non-finite numbers written as null)."""

import json
import os
import subprocess
import sys
import textwrap

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import vardoln_cn0 as v
from rinex_text import (GLONASS_STATE, KEPLER_ORBIT, glonass_record, header_line, kepler_record, nav_fields, nav_text,
                        site_epoch, site_header, site_text)

SMALL_OBS = "obs3/ALAC00ESP_R_20220090000_01D_30S_MO.rnx"
SMALL_NAV = "nav/AMEL00NLD_R_20210010000_01D_MN.rnx"
NO_HEADER_END = "No END OF HEADER found"


# ---------------------------------------------------------------- synthetic files


# ---------------------------------------------------------------- running every entry point


def strict_json(text):
    def refuse(constant):
        raise AssertionError(f"non-finite number {constant} in JSON")

    return json.loads(text, parse_constant=refuse)


def check_result(result):
    """Every accessor of a result works and its exports are strict JSON."""
    strict_json(result.to_json())
    strict_json(result.to_json_pretty())
    for name in RESULT_PROPERTIES:
        getattr(result, name)
    for name in RESULT_METHODS:
        getattr(result, name)()
    for system in result.get_systems():
        result.get_constellation_summary(system)
    score = result.score
    repr(score), str(score), [getattr(score, name) for name in dir(score) if not name.startswith("_")]
    return result


RESULT_PROPERTIES = [name for name in dir(v.AnalysisResult) if type(getattr(v.AnalysisResult, name)).__name__ == "getset_descriptor"]
RESULT_METHODS = [
    name
    for name in dir(v.AnalysisResult)
    if not name.startswith("_") and getattr(getattr(v.AnalysisResult, name), "__text_signature__", None) == "($self)"
]


def obs_outcome(tmp_path, data, nav=None):
    """Reads data through every observation entry point; returns ("error", type, message) when
    all of them fail alike, or ("ok", num_epochs) when all succeed."""
    path = tmp_path / "input.rnx"
    path.write_bytes(data)
    outcomes = []
    readers = [
        lambda: v.read_rinex_obs_bytes(data, "input.rnx"),
        lambda: v.parse_rinex(data, "input.rnx"),
        lambda: v.read_rinex_obs(str(path)),
    ]
    for read in readers:
        try:
            outcomes.append(("ok", read().num_epochs))
        except (ValueError, OSError) as error:
            outcomes.append(("error", type(error), str(error)))
    analyses = [lambda: v.analyze_cn0(str(path), nav), lambda: v.CN0Analyzer(v.AnalysisConfig(nav_file=nav)).analyze_file(str(path))]
    for analyse in analyses:
        try:
            result = check_result(analyse())
            outcomes.append(("ok", result.total_epochs))
        except (ValueError, OSError) as error:
            outcomes.append(("error", type(error), str(error).removeprefix("Cannot read obs file: ")))
    if outcomes[0][0] == "ok":
        check_result(v.CN0Analyzer.from_obs(v.read_rinex_obs_bytes(data, "x")).analyze())
    assert len(set(outcomes)) == 1, outcomes
    return outcomes[0]


def nav_outcome(tmp_path, data, obs_data=None):
    """Reads data through every navigation entry point and analyses with it; returns
    ("error", type, message) or ("ok", satellite_count)."""
    obs_path = tmp_path / "obs.rnx"
    obs_path.write_bytes(obs_data or site_text().encode())
    path = tmp_path / "input.nav"
    path.write_bytes(data)
    outcomes = []
    for read in [lambda: v.read_navigation_bytes(data), lambda: v.read_navigation(str(path))]:
        try:
            nav = read()
            outcomes.append(("ok", nav.satellite_count))
        except (ValueError, OSError) as error:
            outcomes.append(("error", type(error), str(error)))
    analyses = [
        lambda: v.analyze_cn0(str(obs_path), str(path)),
        lambda: v.CN0Analyzer(v.AnalysisConfig()).analyze_with_nav(str(obs_path), str(path)),
    ]
    for analyse in analyses:
        try:
            check_result(analyse())
            outcomes.append(outcomes[0])
        except (ValueError, OSError) as error:
            outcomes.append(("error", type(error), str(error).removeprefix("Cannot read nav file: ")))
    if outcomes[0][0] == "ok":
        analyzer = v.CN0Analyzer.from_obs(v.read_rinex_obs(str(obs_path)))
        analyzer.set_navigation(nav)
        assert check_result(analyzer.analyze()).has_visibility_prediction
    assert len(set(outcomes)) == 1, outcomes
    return outcomes[0]


# ---------------------------------------------------------------- observation files

LONG = 100_000

OBS_CASES = {
    "empty": (b"", ("error", ValueError, NO_HEADER_END)),
    "lone header": ("\n".join(site_header()), ("ok", 0)),
    "header without its end": ("\n".join(site_header()[:-1]), ("error", ValueError, NO_HEADER_END)),
    "NUL bytes": ("\n".join(site_header()).encode() + b"\n" + b"\0" * 5000, ("ok", 0)),
    "CRLF line ends": (site_text().replace("\n", "\r\n"), ("ok", 10)),
    # Without line feeds the file is one line; its label area holds "RINEX VERSION" first.
    "CR-only line ends": (site_text().replace("\n", "\r"), ("error", ValueError, NO_HEADER_END)),
    "only line feeds": (b"\n" * 100_000, ("error", ValueError, NO_HEADER_END)),
    "long comment line": (site_text(site_header(extra=["x" * LONG + "COMMENT"])), ("ok", 10)),
    "long label line": (site_text(site_header(extra=[" " * 60 + "y" * LONG])), ("ok", 10)),
    "end label far out": ("\n".join(site_header()[:-1] + [" " * LONG + "END OF HEADER"]), ("ok", 0)),
    "long types line": (site_text(site_header(extra=[header_line("J  999" + " S1C" * (LONG // 4), "SYS / # / OBS TYPES")])), ("ok", 10)),
    "long satellite line": (site_text(epochs=[site_epoch(satellites={"G01": ["45.000"] * (LONG // 16)})]), ("ok", 1)),
    "long epoch line": (site_text(epochs=[site_epoch(time="2024 01 15 06 30  0.0" + "0" * LONG)]), ("ok", 1)),
    "long digit runs in the epoch": (site_text(epochs=[site_epoch(time="9" * LONG + " 01 15 06 30  0.0")]), ("ok", 0)),
    "count 4294967295": (site_text(epochs=[site_epoch(count=" 4294967295")]), ("ok", 1)),
    # The count is a 32-bit number: anything wider does not read, and no satellite lines follow.
    "count 2**64-1": (site_text(epochs=[site_epoch(count=" 18446744073709551615")]), ("ok", 0)),
    "count beyond 64 bits": (site_text(epochs=[site_epoch(count=" 99999999999999999999999")]), ("ok", 0)),
    "count larger than the file": (site_text(epochs=[site_epoch(count=" 999")] * 3), ("ok", 3)),
    "types count 4294967295": (site_text(site_header(extra=[header_line("C4294967295 S2I", "SYS / # / OBS TYPES")])), ("ok", 10)),
    "GLONASS slot counts": (
        site_text(site_header(extra=[header_line(" 99 R4294967295  1 R4294967296 -1 R01 2147483648 R02 -7", "GLONASS SLOT / FRQ #")])),
        ("ok", 10),
    ),
    "year -1": (site_text(epochs=[site_epoch("-1 01 15 06 30  0.0000000"), site_epoch()]), ("ok", 2)),
    "year 99999": (site_text(epochs=[site_epoch(), site_epoch("99999 01 15 06 30  0.0000000")]), ("ok", 2)),
    "years at the 32-bit limits": (
        site_text(epochs=[site_epoch("-2147483648 01 01 00 00  0.0"), site_epoch("2147483647 12 31 23 59 59.0")]),
        ("ok", 2),
    ),
    "month, day and time out of range": (
        site_text(epochs=[site_epoch("2024 13 32 25 61 61.0000000"), site_epoch("2024 00 00 00 00  0.0"), site_epoch("2024 4294967295 4294967295 4294967295 4294967295 -1e308")]),
        ("ok", 3),
    ),
    "epochs going backwards": (site_text(epochs=[site_epoch("2024 01 15 06 30  0.0"), site_epoch("1980 01 06 00 00  0.0"), site_epoch("2024 01 15 06 29  0.0")]), ("ok", 3)),
    "one epoch repeated": (site_text(epochs=[site_epoch()] * 50), ("ok", 50)),
    # 999 announced satellites make the list run on over every later line: nothing is left.
    "RINEX 2 with huge counts": (
        "\n".join([
            header_line("     2.11           OBSERVATION DATA    G (GPS)", "RINEX VERSION / TYPE"),
            header_line("4294967295    C1    S1", "# / TYPES OF OBSERV"),
            header_line("", "END OF HEADER"),
            " 24  1 15  6 30  0.0000000  0999G01G02",
            "  20000000.000      45.000",
            " 24  1 15  6 30 30.0000000  0  2G01G02",
            "  20000000.000      45.000",
        ]),
        ("ok", 0),
    ),
}

NON_FINITE = ["nan", "NaN", "inf", "-inf", "infinity", "1e308", "-1e308", "1e309", "4e-324", "1e-400"]


def numeric_cases():
    """Every numeric field of the observation header and records, one at a time."""
    for value in NON_FINITE:
        yield f"version {value}", site_text(site_header(version=value)), ("ok", None)
        yield f"interval {value}", site_text(site_header(interval=value)), ("ok", 10)
        yield f"position {value}", site_text(site_header(position=f"{value} {value} {value}")), ("ok", 10)
        yield f"position x {value}", site_text(site_header(position=f"{value} 307045.0 4919475.0")), ("ok", 10)
        yield f"seconds {value}", site_text(epochs=[site_epoch(f"2024 01 15 06 30 {value}"), site_epoch()]), ("ok", None)
        for column in range(3):
            values = ["20000000.000", "45.250", "38.000"]
            values[column] = value
            yield f"value {column} {value}", site_text(epochs=[site_epoch(satellites={"G01": values}), site_epoch()]), ("ok", None)
        yield f"clock offset {value}", site_text(epochs=[site_epoch(count=f"  1 {value}", satellites={"G01": ["1.0", "45.0"]})]), ("ok", 1)


NUMERIC = {name: (text, expected) for name, text, expected in numeric_cases()}


@pytest.mark.parametrize("case", list(OBS_CASES) + list(NUMERIC))
def test_observation_input(tmp_path, case):
    data, expected = OBS_CASES[case] if case in OBS_CASES else NUMERIC[case]
    check_outcome(obs_outcome(tmp_path, as_bytes(data)), expected)


def as_bytes(data):
    return data if isinstance(data, bytes) else data.encode("latin-1")


def check_outcome(outcome, expected):
    """An outcome against the expected one; a None count or message means any."""
    if expected[-1] is None:
        assert outcome[0] == expected[0], outcome
    else:
        assert outcome == expected


@pytest.mark.parametrize("case", ["header", "epochs"])
def test_high_bytes_read_as_question_marks(tmp_path, case):
    text = site_text().encode("latin-1")
    if case == "header":
        data = text.replace(b"SITE", "S\u00cfT\u00c9".encode())
        assert v.read_rinex_obs_bytes(data, "x").marker_name == "S??T??"
    else:
        data = text.replace(b"45.250", b"4\xff.250")
        assert obs_outcome(tmp_path, data) == ("ok", 10)


def truncations(data):
    """The text cut after every line, and in the middle of every line."""
    lines = data.splitlines(keepends=True)
    end = 0
    for line in lines:
        yield data[: end + len(line) // 2]
        end += len(line)
        yield data[:end]


def check_truncations(data):
    full = v.read_rinex_obs_bytes(data, "x").num_epochs
    header_end = data.index(b"END OF HEADER")
    previous = 0
    for index, cut in enumerate(truncations(data)):
        if len(cut) < header_end + len("END OF HEADER"):
            with pytest.raises(ValueError, match=NO_HEADER_END):
                v.read_rinex_obs_bytes(cut, "x")
            continue
        obs = v.read_rinex_obs_bytes(cut, "x")
        # A cut epoch loses at most its own last values, never an earlier epoch.
        assert previous - 1 <= obs.num_epochs <= full
        previous = obs.num_epochs
        if index % 7 == 0:
            check_result(v.CN0Analyzer.from_obs(obs).analyze())
    assert previous == full


def test_truncated_synthetic_observation_file():
    check_truncations(site_text().encode())


def test_truncated_real_observation_file(shared_file):
    check_truncations(shared_file(SMALL_OBS).read_bytes())


# ---------------------------------------------------------------- navigation files

NAV_CASES = {
    "empty": (b"", ("error", ValueError, NO_HEADER_END)),
    "lone header": (nav_text([]), ("ok", 0)),
    "CRLF line ends": (nav_text().replace("\n", "\r\n"), ("ok", 3)),
    "CR-only line ends": (nav_text().replace("\n", "\r"), ("error", ValueError, NO_HEADER_END)),
    "long line before the header end": (" " * 60 + "z" * LONG + "\n" + nav_text(), ("ok", 3)),
    "long record lines": (nav_text([[line + "9" * LONG for line in kepler_record()]]), ("ok", 1)),
    "record cut short": (nav_text([kepler_record()[:5]]), ("ok", 0)),
    "GLONASS cut short": (nav_text([glonass_record()[:2]]), ("ok", 0)),
    "satellite 4294967295": (nav_text([kepler_record("G4294967295"), glonass_record("R4294967295")]), ("ok", None)),
    "year -1": (nav_text([kepler_record(toc="  -1 01 15 06 00 00"), kepler_record("G02")]), ("ok", None)),
    "year 99999": (nav_text([kepler_record(toc="99999 1 15 06 00 00"), kepler_record("G02", toc="9999 01 15 06 00 00")]), ("ok", None)),
    "week 4294967295": (nav_text([kepler_record(orbit=[["0"] * 4] * 4 + [["0", "0", "4294967295", "0"]] + [["0"] * 4] * 2)]), ("ok", 1)),
    "all fields zero": (nav_text([kepler_record(orbit=[["0"] * 4] * 7), glonass_record(state=[["0"] * 4] * 3)]), ("ok", 2)),
    "version 2 layout": (
        nav_text([[" 1 24  1 15  6  0  0.0" + "".join(f"{x:>19}" for x in ["1.0D-04", "0.0D+00", "0.0D+00"])] + [nav_fields("1.0D+01", "5.153D+03", "1.0D-02", "2.0D+00", indent=3)] * 7], version="2.11"),
        ("ok", 1),
    ),
}


# Number texts for a D19.12 field: the awkward ones by name, any float as written, and number-like text.
NUMBER_TEXTS = st.one_of(
    st.sampled_from(["nan", "inf", "-inf", "1e308", "-1e308", "1D+999", "1.5", "-1.0", "", "4294967295"]),
    st.floats().map(lambda value: f"{value:.12E}"),
    st.from_regex(r"[-+]?[0-9]{0,6}\.?[0-9]{0,6}([EeDd][-+]?[0-9]{1,4})?", fullmatch=True),
)


@pytest.mark.parametrize("case", NAV_CASES)
def test_navigation_input(tmp_path, case):
    data, expected = NAV_CASES[case]
    check_outcome(nav_outcome(tmp_path, as_bytes(data)), expected)


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(glonass=st.booleans(), line=st.integers(0, 6), field=st.integers(0, 3), value=NUMBER_TEXTS)
def test_any_number_in_any_navigation_field(tmp_path, glonass, line, field, value):
    """Through reading, positions and the analysis, every entry point alike."""
    if glonass:
        state = [list(fields) for fields in GLONASS_STATE]
        state[line % 3][field] = value
        text = nav_text([glonass_record(state=state)])
    else:
        orbit = [list(fields) for fields in KEPLER_ORBIT]
        orbit[line][field] = value
        text = nav_text([kepler_record(orbit=orbit), kepler_record("C05", orbit=orbit)])
    assert nav_outcome(tmp_path, text.encode())[0] == "ok"


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(noise=st.binary(max_size=8192))
def test_noise_after_a_header_reads(tmp_path, noise):
    """Whatever follows a header, every reader gives the same record and the analyses agree."""
    assert obs_outcome(tmp_path, "\n".join(site_header()).encode() + b"\n" + noise)[0] == "ok"
    assert nav_outcome(tmp_path, nav_text([]).encode() + noise)[0] == "ok"


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(noise=st.binary(max_size=8192).filter(
    lambda data: b"END OF HEADER" not in data and not data.startswith((b"\x1f\x8b", b"\x1f\x9d"))))
def test_noise_without_a_header_is_refused(tmp_path, noise):
    """Bytes that are neither a header nor an archive are refused alike by every reader."""
    assert obs_outcome(tmp_path, noise) == ("error", ValueError, NO_HEADER_END)
    assert nav_outcome(tmp_path, noise) == ("error", ValueError, NO_HEADER_END)


def check_nav_truncations(data, obs_data=None):
    full = v.read_navigation_bytes(data).satellite_count
    header_end = data.index(b"END OF HEADER")
    nav = None
    for index, cut in enumerate(truncations(data)):
        if len(cut) < header_end + len("END OF HEADER"):
            with pytest.raises(ValueError, match=NO_HEADER_END):
                v.read_navigation_bytes(cut)
            continue
        nav = v.read_navigation_bytes(cut)
        assert nav.satellite_count <= full
        if index % 5 == 0:
            analyzer = v.CN0Analyzer.from_obs(v.read_rinex_obs_bytes(obs_data or site_text().encode(), "x"))
            analyzer.set_navigation(nav)
            check_result(analyzer.analyze())
    assert nav.satellite_count == full


def test_truncated_synthetic_navigation_file():
    check_nav_truncations(nav_text().encode())


def test_truncated_real_navigation_file(shared_file):
    check_nav_truncations(shared_file(SMALL_NAV).read_bytes())


# ---------------------------------------------------------------- TLE text


@pytest.mark.parametrize(
    ("content", "count"),
    [
        ("", 0),
        ("\n" * 1000, 0),
        ("GPS (PRN 01)\n1\n2\n", 0),
        ("GPS (PRN 4294967295)\n1 x\n2 " + "9" * 100 + "\n", 0),
        ("GPS (PRN 4294967296)\n" + "1" * LONG + "\n" + "2" * LONG + "\n", 0),
        ("GSAT" + "9" * 30 + "\n1 " + "x" * 60 + "\n2" + " " * 51 + "        nan\n", 0),
        ("GPS (PRN 07)\n1 " + "x" * 60 + "\n2" + " " * 51 + "        inf\n", 1),
        ("QZS\u0130\u00df\ufb03 (PRN 1)\n1 " + "x" * 60 + "\n2" + " " * 51 + "      1e308\n", 1),
        ("GPS (PRN 07)\r1 a\r2 b\r", 0),
    ],
    ids=["empty", "blank lines", "short lines", "PRN 2**32-1", "long lines", "long GSAT number", "mean motion inf",
         "case mapping grows", "CR only"],
)
def test_tle_content(content, count):
    assert v.parse_tle_content(content) == count


@given(st.text(max_size=4096))
def test_any_tle_text_counts_at_most_one_satellite_per_three_lines(content):
    assert 0 <= v.parse_tle_content(content) <= (content.count("\n") + content.count("\r") + 1) // 3 + 1


# ---------------------------------------------------------------- paths

PATH_FUNCTIONS = {
    "read_rinex_obs": (lambda path: v.read_rinex_obs(path), ""),
    "read_navigation": (lambda path: v.read_navigation(path), ""),
    "analyze_cn0 obs": (lambda path: v.analyze_cn0(path), "Cannot read obs file: "),
    "analyze_file": (lambda path: v.CN0Analyzer(v.AnalysisConfig()).analyze_file(path), ""),
    "analyze_with_nav obs": (lambda path: v.CN0Analyzer(v.AnalysisConfig()).analyze_with_nav(path, path), ""),
}


def nav_path_functions(obs_path):
    return {
        "analyze_cn0 nav": (lambda path: v.analyze_cn0(obs_path, path), "Cannot read nav file: "),
        "analyze_with_nav nav": (lambda path: v.CN0Analyzer(v.AnalysisConfig()).analyze_with_nav(obs_path, path), ""),
        "nav_file": (lambda path: v.CN0Analyzer(v.AnalysisConfig(nav_file=path)).analyze_file(obs_path), ""),
    }


def all_path_functions(tmp_path):
    obs_path = tmp_path / "good.rnx"
    obs_path.write_text(site_text())
    return {**PATH_FUNCTIONS, **nav_path_functions(str(obs_path))}


@pytest.mark.parametrize(
    ("kind", "code"),
    [("missing", 2), ("directory", 21), ("long name", 36), ("long path", 36), ("empty", 2), ("unreadable", 13)],
)
def test_unreadable_paths(tmp_path, kind, code):
    if kind == "unreadable":
        if os.geteuid() == 0:
            pytest.skip("root reads any file")
        target = tmp_path / "locked.rnx"
        target.write_text(site_text())
        target.chmod(0)
        path = str(target)
    else:
        path = {
            "missing": str(tmp_path / "missing.rnx"),
            "directory": str(tmp_path),
            "long name": str(tmp_path / ("n" * 300)),
            "long path": "/" + "d/" * 3000 + "x.rnx",
            "empty": "",
        }[kind]
    for name, (call, prefix) in all_path_functions(tmp_path).items():
        with pytest.raises(OSError) as caught:
            call(path)
        assert type(caught.value) is OSError, name
        assert len(caught.value.args) == 1
        message = caught.value.args[0]
        assert message.startswith(prefix) and message.endswith(f" (os error {code})"), (name, message)


def test_path_with_nul_byte(tmp_path):
    for name, (call, _) in all_path_functions(tmp_path).items():
        with pytest.raises(OSError):
            call(str(tmp_path / "a\0b"))


def test_path_not_encodable_as_utf8(tmp_path):
    # A lone surrogate (a non-UTF-8 byte decoded with surrogateescape) has no UTF-8 form.
    for name, (call, _) in all_path_functions(tmp_path).items():
        with pytest.raises(UnicodeEncodeError):
            call(str(tmp_path / "caf\udce9.rnx"))


def test_non_ascii_path_and_name(tmp_path):
    path = tmp_path / "\u00e9t\u00e9 \u6e2c\u7ad9" / "s\u00eete.24o"
    path.parent.mkdir()
    path.write_text(site_text(site_header()[:1] + site_header()[2:]))
    assert v.read_rinex_obs(str(path)).marker_name == "s\u00eete.24o"
    assert check_result(v.analyze_cn0(str(path))).total_epochs == 10


FIFO_SCRIPT = textwrap.dedent(
    """
    import os, sys
    import vardoln_cn0 as v
    path, mode = sys.argv[1], sys.argv[2]
    calls = {
        "obs": lambda: v.read_rinex_obs(path).num_epochs,
        "nav": lambda: v.read_navigation(path).satellite_count,
        "analyze_cn0": lambda: v.analyze_cn0(path).total_epochs,
        "analyze_file": lambda: v.CN0Analyzer(v.AnalysisConfig()).analyze_file(path).total_epochs,
    }
    for name, call in calls.items():
        if mode == "written":
            # Data left in the pipe by a writer that has gone; our own read end keeps it there.
            keep = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
            writer = os.open(path, os.O_WRONLY)
            os.write(writer, open(sys.argv[3], "rb").read())
            os.close(writer)
        try:
            print(name, call())
        except ValueError as error:
            print(name, error)
        if mode == "written":
            os.close(keep)
    """
)


def run_fifo_script(tmp_path, *arguments):
    fifo = tmp_path / "pipe.rnx"
    os.mkfifo(fifo)
    # A separate interpreter, so that a reader blocking on the FIFO fails this test by timeout
    # instead of hanging the whole run.
    completed = subprocess.run(
        [sys.executable, "-c", FIFO_SCRIPT, str(fifo), *arguments], capture_output=True, text=True, timeout=60
    )
    assert completed.returncode == 0, completed.stderr
    return completed.stdout


def test_fifo_without_writer_reads_as_empty(tmp_path):
    output = run_fifo_script(tmp_path, "alone")
    assert output.splitlines() == [f"{name} {NO_HEADER_END}" for name in ["obs", "nav", "analyze_cn0", "analyze_file"]]


def test_fifo_holding_data(tmp_path):
    source = tmp_path / "source.rnx"
    source.write_text(site_text())
    output = run_fifo_script(tmp_path, "written", str(source))
    assert output.splitlines() == ["obs 10", "nav 0", "analyze_cn0 10", "analyze_file 10"]


# ---------------------------------------------------------------- argument values and types


@pytest.mark.parametrize("value", [float("nan"), float("inf"), float("-inf"), 1e308, -1e308, 90.0, -90.0, 5e-324])
def test_extreme_analysis_settings(tmp_path, value):
    path = tmp_path / "obs.rnx"
    path.write_text(site_text())
    nav = tmp_path / "nav.rnx"
    nav.write_text(nav_text())
    check_result(v.analyze_cn0(str(path), str(nav), min_elevation=value))
    obs = v.read_rinex_obs(str(path))
    check_result(v.CN0Analyzer.from_obs(obs, min_elevation=value, time_bin_seconds=0).analyze())
    check_result(v.CN0Analyzer.from_obs(obs, time_bin_seconds=2**64 - 1).analyze())
    for name in ["min_elevation", "min_cn0", "max_cn0", "anomaly_threshold_low", "anomaly_threshold_high",
                 "anomaly_threshold_critical", "anomaly_sensitivity", "interference_threshold_db",
                 "spoofing_unexpected_threshold", "spoofing_min_unexpected_count"]:
        analyzer = v.CN0Analyzer(v.AnalysisConfig(**{name: value}, time_bin_seconds=1))
        check_result(analyzer.analyze_with_nav(str(path), str(nav)))


class Opaque:
    pass


def argument_cases():
    """One wrong value for every parameter of every entry point; each must fail with TypeError
    naming that parameter (or, for the objects a method works on, the class wanted)."""
    config = v.AnalysisConfig()
    obs = v.read_rinex_obs_bytes(site_text().encode(), "x")
    analyzer = v.CN0Analyzer(config)
    yield "read_rinex_obs path", lambda: v.read_rinex_obs(b"/tmp/x"), "path"
    yield "read_rinex_obs_bytes data", lambda: v.read_rinex_obs_bytes("text", "x"), "data"
    yield "read_rinex_obs_bytes filename", lambda: v.read_rinex_obs_bytes(b"", None), "filename"
    yield "parse_rinex data", lambda: v.parse_rinex([1, 2], "x"), "data"
    yield "parse_rinex filename", lambda: v.parse_rinex(b"", 7), "filename"
    yield "read_navigation path", lambda: v.read_navigation(Opaque()), "path"
    yield "read_navigation_bytes data", lambda: v.read_navigation_bytes(bytearray()), "data"
    yield "analyze_cn0 obs_path", lambda: v.analyze_cn0(None), "obs_path"
    yield "analyze_cn0 nav_path", lambda: v.analyze_cn0("x", nav_path=1), "nav_path"
    yield "analyze_cn0 min_elevation", lambda: v.analyze_cn0("x", min_elevation="5"), "min_elevation"
    yield "analyze_cn0 systems", lambda: v.analyze_cn0("x", systems=5), "systems"
    yield "analyze_cn0 systems item", lambda: v.analyze_cn0("x", systems=[b"G"]), "systems"
    yield "parse_tle_content content", lambda: v.parse_tle_content(b"GPS"), "content"
    for name in ["min_elevation", "min_cn0", "max_cn0", "anomaly_threshold_low", "anomaly_threshold_high",
                 "anomaly_threshold_critical", "anomaly_sensitivity", "interference_threshold_db",
                 "spoofing_unexpected_threshold", "spoofing_min_unexpected_count"]:
        yield f"AnalysisConfig {name}", lambda name=name: v.AnalysisConfig(**{name: Opaque()}), name
    for name, value in [("time_bin_seconds", "60"), ("time_bin", 1.0), ("systems", "GRE"), ("detect_anomalies", "yes"),
                        ("verbose", 0), ("nav_file", 3)]:
        yield f"AnalysisConfig {name}", lambda name=name, value=value: v.AnalysisConfig(**{name: value}), name
    yield "from_obs min_elevation", lambda: v.CN0Analyzer.from_obs(obs, min_elevation=None), "min_elevation"
    yield "from_obs time_bin_seconds", lambda: v.CN0Analyzer.from_obs(obs, time_bin_seconds=1.5), "time_bin_seconds"
    yield "from_obs systems", lambda: v.CN0Analyzer.from_obs(obs, systems=("G", None)), "systems"
    yield "analyze_file obs_path", lambda: analyzer.analyze_file(3), "obs_path"
    yield "analyze_with_nav obs_path", lambda: analyzer.analyze_with_nav(3, "x"), "obs_path"
    yield "analyze_with_nav nav_path", lambda: analyzer.analyze_with_nav("x", None), "nav_path"
    yield "CN0Analyzer config", lambda: v.CN0Analyzer(obs), "AnalysisConfig"
    yield "from_obs obs_data", lambda: v.CN0Analyzer.from_obs(config), "RinexObsData"
    yield "set_navigation nav_data", lambda: analyzer.set_navigation(obs), "NavigationData"
    yield "method on a foreign object", lambda: v.CN0Analyzer.analyze(config), "CN0Analyzer"
    yield "accessor on a foreign object", lambda: v.RinexObsData.snr_availability(analyzer), "RinexObsData"
    yield "getter on a foreign object", lambda: v.AnalysisResult.score.__get__(obs), "AnalysisResult"


ARGUMENTS = {name: (call, word) for name, call, word in argument_cases()}


@pytest.mark.parametrize("case", ARGUMENTS)
def test_wrong_argument_types(case):
    call, word = ARGUMENTS[case]
    with pytest.raises(TypeError) as caught:
        call()
    message = str(caught.value)
    # CPython itself refuses a method or getter called on an object of another class.
    assert f"argument '{word}'" in message or f"'{word}'" in message or f"'builtins.{word}'" in message, message


@pytest.mark.parametrize("cls", [v.RinexObsData, v.NavigationData, v.AnalysisResult, v.QualityScore])
def test_classes_without_constructor(cls):
    with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
        cls()
    with pytest.raises(TypeError):
        cls.__new__(cls)
