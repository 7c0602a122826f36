"""AnalysisResult and QualityScore accessors: values, defaults, text forms and class surface."""

import json
import statistics

import pytest

import vardoln_cn0 as v
from conftest import require_real_file
from rinex_text import obs_epoch, obs_header

SEPT_OBS = "obs3/SEPT265G.21O"
SEPT_NAV = "nav/SEPT2650.21P"
DELF_OBS = "obs2/delf0010.21o"
DELF_NAV = "nav/cbw10010.21n"


def recording(cn0_by_satellite, marker="TEST", interval=30, step_seconds=None):
    """RINEX 3 text: one S1C value per satellite and epoch, epochs `step_seconds` apart
    (the header INTERVAL unless given)."""
    letters = sorted({satellite[0] for satellite in cn0_by_satellite})
    lines = obs_header({letter: ["S1C"] for letter in letters}, marker=marker, interval=interval)
    epochs = len(next(iter(cn0_by_satellite.values())))
    step = interval if step_seconds is None else step_seconds
    for i in range(epochs):
        second = i * step
        time = (2024, 1, 15, 6 + second // 3600, second // 60 % 60, float(second % 60))
        lines += obs_epoch(time, {sat: [values[i]] for sat, values in cn0_by_satellite.items()})
    return "\n".join(lines) + "\n"


def analyse_text(text, name="test.24o", **from_obs):
    obs = v.read_rinex_obs_bytes(text.encode("latin-1"), name)
    return v.CN0Analyzer.from_obs(obs, **from_obs).analyze()


# Two GPS satellites fall from 45 to 25 dB-Hz at epoch 10 of 20: baseline mean 44.0, drop 19.0.
FADE = [45.0] * 10 + [25.0] + [45.0] * 9
FADE_RECORDING = {"G05": FADE, "G07": FADE, "E03": [43.0] * 20}


@pytest.fixture(scope="module")
def fade_result():
    return analyse_text(recording(FADE_RECORDING))


@pytest.fixture(scope="module")
def sept_with_nav():
    return v.analyze_cn0(str(require_real_file(SEPT_OBS)), str(require_real_file(SEPT_NAV)))


# ---------------------------------------------------------------------------------------------
# Class surface


@pytest.mark.parametrize("cls", [v.AnalysisResult, v.QualityScore])
def test_classes_cannot_be_constructed(cls):
    with pytest.raises(TypeError) as raised:
        cls()
    assert raised.value.args == (f"No constructor defined for {cls.__name__}",)


def test_class_docs():
    assert v.AnalysisResult.__doc__ == "Python wrapper for AnalysisResult"
    assert v.QualityScore.__doc__ == "Python wrapper for QualityScore with notebook-compatible attributes"
    assert v.AnalysisResult.mean_cn0.__doc__ == "Get mean CN0 (alias: avg_cn0)"
    assert v.AnalysisResult.jamming_detected.__doc__.splitlines() == [
        "Check if jamming detected",
        "Real jamming causes: severe CN0 drops (>10dB) across MULTIPLE satellites simultaneously",
        "AND low average CN0 (<35 dB-Hz) or high percentage of critical anomalies",
    ]
    assert v.AnalysisResult.get_constellation_summary.__text_signature__ == "($self, name)"
    assert v.AnalysisResult.visibility_debug.__doc__ == "Get detailed visibility debug info per system"


def test_quality_score_attributes_in_order(fade_result):
    names = [name for name, value in vars(v.QualityScore).items() if type(value).__name__ == "getset_descriptor"]
    assert names == ["overall", "cn0_quality", "availability", "continuity", "stability", "diversity",
                     "post_processing_suitable", "rating"]
    score = fade_result.quality_score
    for name in names:
        with pytest.raises(AttributeError):
            setattr(score, name, 1)
    with pytest.raises(AttributeError):
        fade_result.mean_cn0 = 1.0


# ---------------------------------------------------------------------------------------------
# Values


def test_synthetic_fade(fade_result):
    result = fade_result
    assert (result.total_epochs, result.epoch_count, result.total_satellites, result.total_observations) == (20, 20, 3, 60)
    assert result.station_name == "TEST"
    assert result.rinex_version == "3.05"
    assert result.mean_cn0 == result.avg_cn0
    assert (result.min_cn0, result.max_cn0) == (25.0, 45.0)
    assert sorted(result.constellations) == sorted(result.get_systems()) == ["GPS", "Galileo"]
    assert sorted(result.get_satellite_ids()) == ["E03", "G05", "G07"]
    assert result.get_anomalies() == [{
        "start_time": "2024-01-15T06:05:00.000Z",
        "end_time": "2024-01-15T06:05:00.000Z",
        "severity": "critical",
        "anomaly_type": "Multi-satellite CN0 drop",
        "description": "19.0 dB-Hz drop affecting 2 satellite(s)",
        "cn0_drop": "19",
        "affected_satellites": "G05,G07",
        "affected_systems": "GPS",
    }]
    assert result.get_anomaly_timestamps() == ["2024-01-15T06:05:00.000Z"]
    assert result.get_anomaly_severities() == ["critical"]
    assert result.get_anomaly_cn0_drops() == [19.0]
    assert (result.anomaly_count, result.critical_count) == (1, 1)
    assert repr(result) == "AnalysisResult(observations=60, satellites=3, epochs=20, mean_cn0=43.7, anomalies=1)"


def test_constellation_summary(fade_result):
    summary = fade_result.get_constellation_summary("GPS")
    assert summary == {
        "system": "GPS", "constellation": "GPS",
        "satellite_count": "2", "satellites_observed": "2", "satellites_expected": "12",
        "observation_count": "40",
        "mean_cn0": "44.0", "cn0_mean": "44.0", "min_cn0": "25.0", "max_cn0": "45.0",
        "std_cn0": "4.36", "cn0_std": "4.36",
        "availability_ratio": "0.167",
        # Sorted values 25, 45, ...: one jump over 10 dB per satellite.
        "cycle_slips": "2", "data_gaps": "0",
    }
    for name in ("gps", "G", "Unknown", ""):
        assert fade_result.get_constellation_summary(name=name) is None
    with pytest.raises(TypeError) as raised:
        fade_result.get_constellation_summary()
    assert raised.value.args == ("AnalysisResult.get_constellation_summary() missing 1 required positional argument: 'name'",)
    with pytest.raises(TypeError) as raised:
        fade_result.get_constellation_summary(1)
    assert raised.value.args == ("argument 'name': 'int' object cannot be converted to 'PyString'",)


def test_without_navigation_the_visibility_accessors_give_defaults(fade_result):
    result = fade_result
    assert result.has_visibility_prediction is False
    assert result.visibility_prediction_source == "None"
    for name in ("visibility_confirmation_rate", "visibility_mean_predicted", "visibility_mean_observed",
                 "visibility_mean_missing", "visibility_mean_unexpected"):
        value = getattr(result, name)
        assert type(value) is float and value == 0.0, name
    assert result.visibility_anomaly_count == 0
    assert result.get_frequently_missing_satellites() == []
    assert result.get_frequently_unexpected_satellites() == []
    assert result.get_visibility_anomaly_types() == []
    assert result.get_visibility_anomaly_descriptions() == []
    assert result.visibility_debug() == {}
    assert result.spoofing_detected is False


def test_result_without_samples():
    result = analyse_text(recording(FADE_RECORDING), systems=[])
    assert (result.quality_grade, result.summary) == ("N/A", "No data")
    assert (result.jamming_detected, result.interference_detected, result.spoofing_detected) == (False, False, False)
    assert result.cn0_std_dev == 0.0
    assert result.get_timeseries_data() == {"hours": [], "mean_cn0": [], "satellite_count": []}
    assert result.get_anomalies() == [] and result.get_skyplot_data() == []
    assert result.skyplot_trace_count == 0


@pytest.mark.parametrize(
    "epochs, interval, step, last_hour",
    [
        (10, 30, None, 0.075),
        (10, 30, 60, 0.075),  # counted from the nominal interval, not the epoch times
        (4, 1, None, 3 / 3600),
        (1, 30, None, 0.0),
    ],
)
def test_timeseries_hours_count_points_times_interval(epochs, interval, step, last_hour):
    text = recording({"G01": [40.0 + i for i in range(epochs)]}, interval=interval, step_seconds=step)
    data = analyse_text(text).get_timeseries_data()
    assert len(data["hours"]) == epochs
    assert data["hours"][-1] == pytest.approx(last_hour, abs=1e-15)
    assert data["mean_cn0"] == [40.0 + i for i in range(epochs)]
    assert data["satellite_count"] == [1.0] * epochs and all(type(n) is float for n in data["satellite_count"])


@pytest.mark.parametrize("values", [[42.0], [40.0, 44.0], [30.0, 40.0, 50.0, 47.5]])
def test_cn0_std_dev_is_the_population_spread_of_the_series(values):
    result = analyse_text(recording({"G01": values}))
    assert result.get_timeseries_cn0() == result.get_mean_cn0_series() == values
    assert result.cn0_std_dev == pytest.approx(statistics.pstdev(values), rel=1e-12)


def test_empty_marker_name_gives_no_station_name():
    result = analyse_text(recording({"G01": [40.0, 41.0]}, marker=None), name="")
    assert result.station_name is None
    assert json.loads(result.to_json())["file_info"]["marker_name"] == ""


# ---------------------------------------------------------------------------------------------
# Scores


def test_quality_score_is_a_fresh_snapshot(fade_result):
    first, second = fade_result.quality_score, fade_result.quality_score
    assert first is not second
    assert fade_result.score == first.overall
    weighted = (0.3 * first.cn0_quality + 0.25 * first.availability + 0.2 * first.continuity
                + 0.15 * first.stability + 0.1 * first.diversity)
    assert first.overall == pytest.approx(weighted)
    assert fade_result.quality_grade == first.rating[0]
    assert first.rating in ("A - Excellent", "B - Good", "C - Fair", "D - Poor", "F - Very Poor")
    assert repr(first) == f"QualityScore(overall={first.overall:.0f}, rating='{first.rating}')"
    # Two constellations: diversity 50; no stored grade letter is consulted.
    assert first.diversity == 50.0


def test_summary_is_the_stored_interpretation(sept_with_nav):
    stored = json.loads(sept_with_nav.to_json())["quality_score"]
    assert sept_with_nav.summary == stored["interpretation"]
    assert sept_with_nav.quality_score.cn0_quality == stored["cn0_score"]


# ---------------------------------------------------------------------------------------------
# With navigation


def test_visibility_accessors_with_navigation(sept_with_nav):
    result = sept_with_nav
    visibility = json.loads(result.to_json())["visibility"]
    assert result.has_visibility_prediction is True
    assert result.visibility_prediction_source == visibility["prediction_source"]
    assert result.visibility_confirmation_rate == visibility["confirmation_rate"]
    assert result.visibility_mean_unexpected == visibility["mean_unexpected"]
    assert result.visibility_anomaly_count == len(visibility["anomalies"])
    assert result.get_frequently_missing_satellites() == visibility["frequently_missing"]
    assert result.get_visibility_anomaly_types() == [a["anomaly_type"] for a in visibility["anomalies"]]

    debug = result.visibility_debug()
    assert set(debug) == set(visibility["by_system"]) | {"_overall"}
    for key, system in visibility["by_system"].items():
        assert debug[key] == {
            "predicted": str(system["predicted_satellites"]),
            "observed": str(system["observed_satellites"]),
            "confirmation_rate": f"{system['confirmation_rate']:.1f}%",
            "missing_count": str(len(system["missing_satellites"])),
            "unexpected_count": str(len(system["unexpected_satellites"])),
            "missing_sats": ", ".join(system["missing_satellites"]),
            "unexpected_sats": ", ".join(system["unexpected_satellites"]),
        }
    assert debug["_overall"] == {
        "source": visibility["prediction_source"],
        **{name: f"{visibility[name]:.1f}" for name in
           ("mean_predicted", "mean_observed", "mean_missing", "mean_unexpected")},
        "confirmation_rate": f"{visibility['confirmation_rate']:.1f}%",
    }


def test_rinex2_recording_reports_version_305(shared_file):
    result = v.analyze_cn0(str(shared_file(DELF_OBS)), str(shared_file(DELF_NAV)))
    assert result.rinex_version == "3.05"
    assert result.station_name == "DELFT-16"
    anomaly = result.get_anomalies()[0]
    # Affected satellites join without a space; visibility lists join with one.
    assert " " not in anomaly["affected_satellites"] and "," in anomaly["affected_satellites"]
