"""The module object: attributes, registration order, classes, function objects, exports."""

import importlib
import shutil
import subprocess
import sys

import pytest

import vardoln_cn0

ATTRIBUTE_ORDER = [
    "VERSION",
    "__version__",
    "RinexObsData",
    "NavigationData",
    "AnalysisConfig",
    "CN0Analyzer",
    "AnalysisResult",
    "QualityScore",
    "read_rinex_obs",
    "read_rinex_obs_bytes",
    "parse_rinex",
    "read_navigation",
    "read_navigation_bytes",
    "analyze_cn0",
    "version",
    "download_tle",
    "parse_tle_content",
]

CLASS_DOCS = {
    "RinexObsData": ("Python wrapper for RinexObsData", None),
    "NavigationData": ("Python wrapper for NavigationData", None),
    "AnalysisConfig": (
        "Python wrapper for AnalysisConfig",
        "(min_elevation=5.0, min_cn0=0.0, max_cn0=60.0, time_bin_seconds=None, time_bin=None, systems=None, "
        "anomaly_threshold_low=3.0, anomaly_threshold_high=6.0, anomaly_threshold_critical=10.0, "
        "detect_anomalies=True, anomaly_sensitivity=0.5, interference_threshold_db=6.0, verbose=False, "
        "nav_file=None, spoofing_unexpected_threshold=0.40, spoofing_min_unexpected_count=8.0)",
    ),
    "CN0Analyzer": ("Python wrapper for CN0Analyzer - supports both config-based and direct API", "(config)"),
    "AnalysisResult": ("Python wrapper for AnalysisResult", None),
    "QualityScore": ("Python wrapper for QualityScore with notebook-compatible attributes", None),
}

FUNCTION_DOCS = {
    "read_rinex_obs": ("(path)", "Read RINEX observation file from path"),
    "read_rinex_obs_bytes": ("(data, filename)", "Read RINEX observation file from bytes"),
    "parse_rinex": ("(data, filename)", "Alias for read_rinex_obs_bytes - parse RINEX from bytes"),
    "read_navigation": ("(path)", "Read navigation file from path"),
    "read_navigation_bytes": ("(data)", "Read navigation file from bytes"),
    "analyze_cn0": ("(obs_path, nav_path=None, min_elevation=5.0, systems=None)", "Quick analysis function"),
    "version": ("()", "Get library version"),
    "download_tle": ("()", "Download GNSS TLE from CelesTrak"),
    "parse_tle_content": ("(content)", "Parse TLE content and return satellite count"),
}


def test_versions():
    assert vardoln_cn0.VERSION == "0.4.2"
    assert vardoln_cn0.__version__ == "0.4.2"
    assert vardoln_cn0.version() == "0.4.2"


def test_module_doc_and_all_order():
    assert vardoln_cn0.__doc__ == "Python module"
    assert vardoln_cn0.__all__ == ATTRIBUTE_ORDER
    for name in ATTRIBUTE_ORDER:
        assert hasattr(vardoln_cn0, name)


def test_reimport_yields_the_same_module():
    original = sys.modules.pop("vardoln_cn0")
    try:
        again = importlib.import_module("vardoln_cn0")
        assert again is original
    finally:
        sys.modules["vardoln_cn0"] = original


@pytest.mark.parametrize("name", CLASS_DOCS)
def test_class_identity_and_docs(name):
    cls = getattr(vardoln_cn0, name)
    doc, text_signature = CLASS_DOCS[name]
    assert cls.__name__ == name
    assert cls.__module__ == "builtins"
    assert cls.__doc__ == doc
    assert cls.__text_signature__ == text_signature


@pytest.mark.parametrize("name", ["RinexObsData", "NavigationData", "AnalysisResult", "QualityScore"])
def test_classes_without_constructor_refuse(name):
    cls = getattr(vardoln_cn0, name)
    with pytest.raises(TypeError) as caught:
        cls()
    assert caught.value.args == (f"No constructor defined for {name}",)


@pytest.mark.parametrize("name", FUNCTION_DOCS)
def test_function_objects(name):
    function = getattr(vardoln_cn0, name)
    text_signature, doc = FUNCTION_DOCS[name]
    assert function.__name__ == name
    assert function.__module__ == "vardoln_cn0"
    assert function.__self__ is vardoln_cn0
    assert function.__text_signature__ == text_signature
    assert function.__doc__ == doc


def test_internal_fault_type_is_not_exported():
    assert not any("Fault" in name or "Error" in name for name in dir(vardoln_cn0))


def test_only_the_entry_point_is_exported():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm not available")
    listing = subprocess.run([nm, "-D", "--defined-only", vardoln_cn0.__file__], capture_output=True, text=True, check=True)
    symbols = [line.split()[-1] for line in listing.stdout.splitlines() if line.strip()]
    assert symbols == ["PyInit_vardoln_cn0"]
