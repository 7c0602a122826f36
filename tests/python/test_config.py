"""AnalysisConfig: defaults, the constructor's folding rules and the read-only attributes."""

import inspect

import numpy
import pytest

import vardoln_cn0 as v

ATTRIBUTES = [
    "systems",
    "nav_file",
    "min_elevation",
    "min_cn0",
    "max_cn0",
    "anomaly_threshold_low",
    "anomaly_threshold_high",
    "anomaly_threshold_critical",
    "anomaly_sensitivity",
    "interference_threshold_db",
    "spoofing_unexpected_threshold",
    "spoofing_min_unexpected_count",
    "time_bin_seconds",
    "detect_anomalies",
    "verbose",
]

DEFAULTS = {
    "systems": None,
    "nav_file": None,
    "min_elevation": 5.0,
    "min_cn0": 0.0,
    "max_cn0": 60.0,
    "anomaly_threshold_low": 2.25,
    "anomaly_threshold_high": 4.5,
    "anomaly_threshold_critical": 6.0,
    "anomaly_sensitivity": 0.5,
    "interference_threshold_db": 6.0,
    "spoofing_unexpected_threshold": 0.40,
    "spoofing_min_unexpected_count": 8.0,
    "time_bin_seconds": 60,
    "detect_anomalies": True,
    "verbose": False,
}


def attributes_of(config):
    return {name: getattr(config, name) for name in ATTRIBUTES}


def test_defaults():
    assert attributes_of(v.AnalysisConfig()) == DEFAULTS


def test_attribute_order_and_types():
    names = [name for name in vars(v.AnalysisConfig) if not name.startswith("__")]
    assert names == ATTRIBUTES
    config = v.AnalysisConfig(systems=["G"], nav_file="n.rnx")
    assert type(config.systems) is list
    assert type(config.time_bin_seconds) is int
    assert type(config.verbose) is bool
    assert all(type(getattr(config, name)) is float for name in ATTRIBUTES[2:12])


@pytest.mark.parametrize("name", ATTRIBUTES)
def test_attributes_are_read_only(name):
    with pytest.raises(AttributeError):
        setattr(v.AnalysisConfig(), name, getattr(v.AnalysisConfig(), name))


@pytest.mark.parametrize(
    ("sensitivity", "low", "high"),
    [(0.0, 3.0, 6.0), (0.5, 2.25, 4.5), (1.0, 1.5, 3.0), (2.0, 0.0, 0.0)],
)
def test_sensitivity_scales_low_and_high(sensitivity, low, high):
    config = v.AnalysisConfig(anomaly_sensitivity=sensitivity)
    assert (config.anomaly_threshold_low, config.anomaly_threshold_high) == (low, high)
    assert config.anomaly_sensitivity == sensitivity


def test_scaling_applies_to_given_thresholds():
    config = v.AnalysisConfig(anomaly_threshold_low=4.0, anomaly_threshold_high=8.0, anomaly_sensitivity=1.0)
    assert (config.anomaly_threshold_low, config.anomaly_threshold_high) == (2.0, 4.0)


@pytest.mark.parametrize(
    ("keywords", "critical"),
    [({"anomaly_threshold_critical": 12.0}, 6.0), ({"interference_threshold_db": 9.0}, 9.0),
     ({"anomaly_threshold_critical": 1.0, "interference_threshold_db": 7.5}, 7.5)],
)
def test_critical_threshold_comes_from_interference_threshold(keywords, critical):
    assert v.AnalysisConfig(**keywords).anomaly_threshold_critical == critical


@pytest.mark.parametrize(
    ("keywords", "seconds"),
    [
        ({}, 60),
        ({"time_bin": 30}, 30),
        ({"time_bin_seconds": 120}, 120),
        ({"time_bin_seconds": 120, "time_bin": 30}, 120),
        ({"time_bin_seconds": None, "time_bin": 30}, 30),
        ({"time_bin_seconds": 0}, 0),
        ({"time_bin": 2**32 - 1}, 2**32 - 1),
        ({"time_bin": numpy.uint64(45)}, 45),
    ],
)
def test_time_bin_precedence(keywords, seconds):
    assert v.AnalysisConfig(**keywords).time_bin_seconds == seconds


@pytest.mark.parametrize("keyword", ["time_bin_seconds", "time_bin"])
def test_time_bin_over_32_bits_is_rejected(keyword):
    with pytest.raises(OverflowError) as caught:
        v.AnalysisConfig(**{keyword: 2**32})
    assert caught.value.args == ("out of range integral type conversion attempted",)


def test_positional_arguments_follow_the_signature():
    config = v.AnalysisConfig(10.0, 20.0, 50.0, 15, 30, ["E"], 2.0, 4.0, 8.0, False, 0.0, 7.0, True, "b.nav", 0.5, 3.0)
    assert attributes_of(config) == {
        "systems": ["E"],
        "nav_file": "b.nav",
        "min_elevation": 10.0,
        "min_cn0": 20.0,
        "max_cn0": 50.0,
        "anomaly_threshold_low": 2.0,
        "anomaly_threshold_high": 4.0,
        "anomaly_threshold_critical": 7.0,
        "anomaly_sensitivity": 0.0,
        "interference_threshold_db": 7.0,
        "spoofing_unexpected_threshold": 0.5,
        "spoofing_min_unexpected_count": 3.0,
        "time_bin_seconds": 15,
        "detect_anomalies": False,
        "verbose": True,
    }


def test_systems_are_stored_as_given_and_copied():
    given = ["GPS", "", "R"]
    config = v.AnalysisConfig(systems=given)
    given.append("E")
    assert config.systems == ["GPS", "", "R"]
    config.systems.append("C")
    assert config.systems == ["GPS", "", "R"]
    assert v.AnalysisConfig(systems=[]).systems == []


def test_numpy_bools():
    config = v.AnalysisConfig(detect_anomalies=numpy.bool_(False), verbose=numpy.True_)
    assert (config.detect_anomalies, config.verbose) == (False, True)


@pytest.mark.parametrize(
    "keyword",
    ["min_elevation", "min_cn0", "max_cn0", "anomaly_threshold_low", "anomaly_threshold_high",
     "anomaly_threshold_critical", "anomaly_sensitivity", "interference_threshold_db",
     "spoofing_unexpected_threshold", "spoofing_min_unexpected_count"],
)
def test_float_conversion_error_names_the_keyword(keyword):
    with pytest.raises(TypeError) as caught:
        v.AnalysisConfig(**{keyword: "high"})
    assert caught.value.args == (f"argument '{keyword}': must be real number, not str",)


def test_first_bad_keyword_in_signature_order_is_reported():
    with pytest.raises(TypeError) as caught:
        v.AnalysisConfig(verbose="yes", min_cn0="low")
    assert caught.value.args[0].startswith("argument 'min_cn0': ")


def test_signature_defaults_are_the_constructor_defaults():
    # The text signature shows the defaults and the constructor keeps its own: passing every
    # default the signature shows builds the configuration that passing nothing builds.
    parameters = inspect.signature(v.AnalysisConfig).parameters
    given = {name: parameter.default for name, parameter in parameters.items()}
    assert len(given) == 16 and inspect.Parameter.empty not in given.values()
    explicit, implicit = v.AnalysisConfig(**given), v.AnalysisConfig()
    values = [{name: getattr(config, name) for name in ATTRIBUTES} for config in (explicit, implicit)]
    assert values[0] == values[1]
