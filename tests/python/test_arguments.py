"""The argument rules shared by every function: counts, keywords and conversions, with their
exact messages, exercised through real module functions."""

import numpy
import pytest

import vardoln_cn0 as v


class FakeNumpyBool:
    """Looks like a numpy boolean scalar by name and module, but has no truth conversion."""


FakeNumpyBool.__name__ = FakeNumpyBool.__qualname__ = "bool_"
FakeNumpyBool.__module__ = "numpy"


class Number:
    def __float__(self):
        return 7.5


class FailingIndex:
    def __index__(self):
        raise ZeroDivisionError("index exploded")


TYPE_ERRORS = {
    # counts and keywords
    "missing one": (lambda: v.read_rinex_obs(), "read_rinex_obs() missing 1 required positional argument: 'path'"),
    "missing two": (
        lambda: v.read_rinex_obs_bytes(),
        "read_rinex_obs_bytes() missing 2 required positional arguments: 'data' and 'filename'",
    ),
    "missing the second": (
        lambda: v.parse_rinex(b""),
        "parse_rinex() missing 1 required positional argument: 'filename'",
    ),
    "missing after keyword": (
        lambda: v.parse_rinex(filename="x"),
        "parse_rinex() missing 1 required positional argument: 'data'",
    ),
    "one too many": (lambda: v.read_navigation("a", "b"), "read_navigation() takes 1 positional arguments but 2 were given"),
    "from-to": (
        lambda: v.AnalysisConfig(*range(17)),
        "AnalysisConfig() takes from 0 to 16 positional arguments but 17 were given",
    ),
    "unexpected keyword": (
        lambda: v.read_rinex_obs(path="a", mode="r"),
        "read_rinex_obs() got an unexpected keyword argument 'mode'",
    ),
    "multiple values": (
        lambda: v.read_rinex_obs_bytes(b"", "x", data=b""),
        "read_rinex_obs_bytes() got multiple values for argument 'data'",
    ),
    "constructor multiple values": (
        lambda: v.AnalysisConfig(1.0, min_elevation=2.0),
        "AnalysisConfig() got multiple values for argument 'min_elevation'",
    ),
    "constructor unexpected": (
        lambda: v.AnalysisConfig(time_bins=3),
        "AnalysisConfig() got an unexpected keyword argument 'time_bins'",
    ),
    # str
    "str from int": (lambda: v.read_rinex_obs(3), "argument 'path': 'int' object cannot be converted to 'PyString'"),
    "str from bytes": (
        lambda: v.read_rinex_obs_bytes(b"", b"x"),
        "argument 'filename': 'bytes' object cannot be converted to 'PyString'",
    ),
    "str from None": (
        lambda: v.parse_tle_content(None),
        "argument 'content': 'NoneType' object cannot be converted to 'PyString'",
    ),
    # bytes
    "bytes from bytearray": (
        lambda: v.read_rinex_obs_bytes(bytearray(b"x"), "f"),
        "argument 'data': 'bytearray' object cannot be converted to 'PyBytes'",
    ),
    "bytes from memoryview": (
        lambda: v.read_navigation_bytes(memoryview(b"x")),
        "argument 'data': 'memoryview' object cannot be converted to 'PyBytes'",
    ),
    "bytes from str": (
        lambda: v.read_navigation_bytes("x"),
        "argument 'data': 'str' object cannot be converted to 'PyBytes'",
    ),
    # sequence of str
    "bare str": (lambda: v.AnalysisConfig(systems="G"), "argument 'systems': Can't extract `str` to `Vec`"),
    "not a sequence": (
        lambda: v.AnalysisConfig(systems={"G"}),
        "argument 'systems': 'set' object cannot be converted to 'Sequence'",
    ),
    "non-str item": (
        lambda: v.AnalysisConfig(systems=["G", 1]),
        "argument 'systems': 'int' object cannot be converted to 'PyString'",
    ),
    # bool
    "bool from int": (
        lambda: v.AnalysisConfig(verbose=1),
        "argument 'verbose': 'int' object cannot be converted to 'PyBool'",
    ),
    "bool from None": (
        lambda: v.AnalysisConfig(detect_anomalies=None),
        "argument 'detect_anomalies': 'NoneType' object cannot be converted to 'PyBool'",
    ),
    "numpy-like bool without __bool__": (
        lambda: v.AnalysisConfig(verbose=FakeNumpyBool()),
        "argument 'verbose': object of type 'bool_' does not define a '__bool__' conversion",
    ),
    # float
    "float from str": (lambda: v.AnalysisConfig(min_cn0="1"), "argument 'min_cn0': must be real number, not str"),
    "float from None": (
        lambda: v.AnalysisConfig(min_elevation=None),
        "argument 'min_elevation': must be real number, not NoneType",
    ),
    # unsigned
    "unsigned from float": (
        lambda: v.AnalysisConfig(time_bin=1.5),
        "argument 'time_bin': 'float' object cannot be interpreted as an integer",
    ),
    "unsigned from str": (
        lambda: v.AnalysisConfig(time_bin_seconds="60"),
        "argument 'time_bin_seconds': 'str' object cannot be interpreted as an integer",
    ),
}


@pytest.mark.parametrize("case", TYPE_ERRORS)
def test_type_error_texts(case):
    call, message = TYPE_ERRORS[case]
    with pytest.raises(TypeError) as caught:
        call()
    assert type(caught.value) is TypeError
    assert caught.value.args == (message,)


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (lambda: v.AnalysisConfig(time_bin_seconds=2**32), OverflowError, "out of range integral type conversion attempted"),
        (lambda: v.AnalysisConfig(time_bin=2**64), OverflowError, None),
        (lambda: v.AnalysisConfig(time_bin=-1), OverflowError, None),
        (lambda: v.AnalysisConfig(min_elevation=10**400), OverflowError, None),
        (lambda: v.AnalysisConfig(time_bin=FailingIndex()), ZeroDivisionError, "index exploded"),
    ],
    ids=["over 32 bits", "over 64 bits", "negative", "huge int to float", "foreign error"],
)
def test_errors_other_than_type_errors_pass_unchanged(call, error, message):
    with pytest.raises(error) as caught:
        call()
    assert type(caught.value) is error
    assert "argument '" not in str(caught.value)
    if message is not None:
        assert caught.value.args == (message,)


@pytest.mark.parametrize(
    ("value", "expected"),
    [(True, True), (False, False), (numpy.bool_(True), True), (numpy.bool_(False), False)],
)
def test_bool_accepts_bool_and_numpy_bool(value, expected):
    assert v.AnalysisConfig(verbose=value).verbose is expected


@pytest.mark.parametrize(
    ("value", "expected"),
    [(3, 3.0), (numpy.float32(0.5), 0.5), (numpy.int64(4), 4.0), (Number(), 7.5), (True, 1.0)],
)
def test_float_accepts_anything_float_converts(value, expected):
    assert v.AnalysisConfig(min_cn0=value).min_cn0 == expected


@pytest.mark.parametrize("value", [("G", "E"), ["G", "E"]])
def test_sequences_of_str(value):
    assert v.AnalysisConfig(systems=value).systems == ["G", "E"]


def test_str_subclass_and_bytes_subclass_are_accepted(tmp_path):
    class Text(str):
        pass

    class Data(bytes):
        pass

    with pytest.raises(ValueError):
        v.read_rinex_obs_bytes(Data(b""), Text("x"))
    assert v.AnalysisConfig(nav_file=Text("nav.rnx")).nav_file == "nav.rnx"


def test_explicit_none_means_absent_for_none_defaults():
    config = v.AnalysisConfig(time_bin_seconds=None, time_bin=None, systems=None, nav_file=None)
    assert (config.time_bin_seconds, config.systems, config.nav_file) == (60, None, None)


def test_noargs_functions_refuse_arguments():
    with pytest.raises(TypeError):
        v.version(1)
