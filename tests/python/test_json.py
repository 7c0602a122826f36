"""JSON export: round trips against the accessors, the two layouts, number and text forms."""

import json
import math
import re

import pytest

import vardoln_cn0 as v
from conftest import require_real_file
from rinex_text import obs_epoch, obs_header

TOP_LEVEL_KEYS = ["file_info", "quality_score", "summary", "constellation_stats", "satellite_stats", "timeseries",
                  "skyplot", "heatmap", "anomalies", "visibility", "spoofing_unexpected_threshold",
                  "spoofing_min_unexpected_count"]

REAL_CASES = [
    ("obs3/SEPT265G.21O", "nav/SEPT2650.21P"),
    ("obs2/delf0010.21o", "nav/cbw10010.21n"),
    ("obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx", None),
]


def small_recording(marker="JSON", epochs=3):
    lines = obs_header({"G": ["S1C", "S2W"]}, marker=marker, interval=30)
    for i in range(epochs):
        lines += obs_epoch((2024, 1, 15, 6, 0, 30.0 * i), {"G01": [45.25, 40.0 + i], "G02": [38.5, None]})
    return ("\n".join(lines) + "\n").encode("latin-1")


def analyse_bytes(data, name="json0150.24o"):
    return v.CN0Analyzer.from_obs(v.read_rinex_obs_bytes(data, name)).analyze()


@pytest.fixture(scope="module", params=REAL_CASES, ids=lambda case: case[0].split("/")[-1])
def real_result(request):
    obs, nav = request.param
    return v.analyze_cn0(str(require_real_file(obs)), str(require_real_file(nav)) if nav else None)


def same_number(text, value):
    """A plain-decimal text of the accessors against a JSON number (null for NaN and inf)."""
    if value is None:
        return text in ("NaN", "inf", "-inf")
    return float(text) == value and "e" not in text


def test_round_trip_against_accessors(real_result):
    result = real_result
    data = json.loads(result.to_json())
    assert list(data) == TOP_LEVEL_KEYS

    info = data["file_info"]
    assert info["filename"] == result.filename == ""
    assert info["marker_name"] == result.station_name
    for name in ("receiver_type", "antenna_type", "start_time", "end_time", "duration_hours", "interval",
                 "position_lat", "position_lon"):
        assert info[name] == getattr(result, name), name

    summary = data["summary"]
    for name in ("total_observations", "total_satellites", "total_epochs", "mean_cn0", "min_cn0", "max_cn0",
                 "anomaly_count", "critical_count"):
        assert summary[name] == getattr(result, name), name
    assert summary["systems_observed"] == result.constellations == result.get_systems()
    assert data["quality_score"]["interpretation"] == result.summary

    series = data["timeseries"]
    assert series["timestamps"] == result.get_timestamps()
    assert series["mean_cn0"] == result.get_timeseries_cn0()
    assert series["satellite_count"] == result.get_satellite_count_series()
    assert list(data["satellite_stats"]) == result.get_satellite_ids()

    for name, stats in data["constellation_stats"].items():
        summary_dict = result.get_constellation_summary(name)
        assert summary_dict["mean_cn0"] == f"{stats['mean_cn0']:.1f}"
        assert summary_dict["std_cn0"] == f"{stats['std_cn0']:.2f}"
        assert summary_dict["availability_ratio"] == f"{stats['availability_ratio']:.3f}"
        assert summary_dict["data_gaps"] == str(stats["data_gaps"])

    assert data["skyplot"]["coverage_percent"] == result.skyplot_coverage
    traces = result.get_skyplot_data()
    assert len(traces) == len(data["skyplot"]["traces"]) == result.skyplot_trace_count
    for trace, exported in zip(traces, data["skyplot"]["traces"]):
        assert (trace["satellite"], trace["system"]) == (exported["satellite"], exported["system"])
        for key, member in (("azimuths", "azimuth"), ("elevations", "elevation"), ("cn0_values", "cn0")):
            texts = trace[key].split(",") if trace[key] else []
            assert len(texts) == len(exported["points"])
            assert all(same_number(t, p[member]) for t, p in zip(texts, exported["points"])), key

    anomalies = result.get_anomalies()
    assert len(anomalies) == len(data["anomalies"])
    for anomaly, exported in zip(anomalies, data["anomalies"]):
        assert anomaly["start_time"] == anomaly["end_time"] == exported["timestamp"]
        assert anomaly["anomaly_type"] == exported["event_type"]
        assert same_number(anomaly["cn0_drop"], exported["cn0_drop"])
        assert anomaly["affected_systems"] == ",".join(exported["affected_systems"])

    assert (data["visibility"] is None) == (not result.has_visibility_prediction)


def test_layouts(real_result):
    compact = real_result.to_json()
    pretty = real_result.to_json_pretty()
    assert compact == real_result.to_json() and pretty == real_result.to_json_pretty()
    assert json.loads(pretty) == json.loads(compact)
    assert compact.startswith('{"file_info":{"filename":""') and compact.endswith("}")
    # Outside string literals the compact form holds no white space at all.
    assert not re.search(r"\s", re.sub(r'"(?:[^"\\]|\\.)*"', '""', compact))
    assert pretty.startswith('{\n  "file_info": {\n    "filename": "",\n')
    assert pretty.endswith("\n}")
    if not real_result.has_visibility_prediction:
        assert '"visibility":null' in compact and '\n  "visibility": null,\n' in pretty


def test_number_forms():
    result = analyse_bytes(small_recording())
    compact = result.to_json()
    # An integral double keeps ".0"; a count never gets a point.
    assert '"interval":30.0' in compact
    assert '"total_epochs":3,' in compact
    assert '"max_cn0":45.25' in compact
    assert '"anomalies":[]' in compact
    assert '\n  "anomalies": [],\n' in result.to_json_pretty()


def test_empty_collections():
    result = v.CN0Analyzer.from_obs(v.read_rinex_obs_bytes(small_recording(), "x"), systems=[]).analyze()
    series = json.loads(result.to_json())["timeseries"]
    assert series == {"timestamps": [], "mean_cn0": [], "satellite_count": [], "satellite_timeseries": {},
                      "constellation_timeseries": {}}
    assert '"satellite_timeseries": {}' in result.to_json_pretty()


def test_marker_name_escapes():
    marker = 'A"B\tC\\D'
    result = analyse_bytes(small_recording(marker=marker))
    assert result.station_name == marker
    assert '"marker_name":"A\\"B\\tC\\\\D"' in result.to_json()
    assert json.loads(result.to_json())["file_info"]["marker_name"] == marker


def test_no_nan_in_export(real_result):
    # Non-finite statistics are written null; json.loads would otherwise accept NaN silently.
    def reject(constant):
        raise AssertionError(f"non-finite number {constant} in export")

    json.loads(real_result.to_json(), parse_constant=reject)
    heatmap = json.loads(real_result.to_json())["heatmap"]
    for row in heatmap["cn0_matrix"]:
        assert all(value is None or math.isfinite(value) for value in row)
