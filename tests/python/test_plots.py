"""The plots' data: the recording views equal the analysis, a day file is drawn without its JSON
export, and the reduced time series keep every dip."""

import json
import sys

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import vardoln_cn0 as v
from vardoln_tools import commands
from vardoln_tools.judge import assessment
from vardoln_tools.judge import settings as tool_settings
from vardoln_tools.render import _plot_worker, plot_data

from test_cli import SAMPLE_NAV, SAMPLE_OBS

plots = pytest.importorskip("vardoln_tools.render.plots")
image = pytest.importorskip("matplotlib.image")

DAY = "crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx"
DAY_NAV = "nav/ESBC00DNK_R_20201770000_01D_MN.rnx"
ALL_PLOTS = ["constellations", "heatmap", "skyplot", "timeseries", "visibility"]


def numbers(text):
    return [float(item) for item in text.split(",")]


# (observation, navigation files, settings): merged version 3 navigation files, settings other than
# the defaults, and a RINEX 2 file without navigation data.
VIEW_CASES = {
    "merged navigation": ("obs3/pdel0010.21o", ["nav/AMEL00NLD_R_20210010000_01D_MN.rnx",
                                                 "nav/CBW100NLD_R_20210010000_01D_MN.rnx",
                                                 "nav/BRDC00GOP_R_20210010000_01D_MN.rnx"], {}),
    "settings": ("obs3/SEPT265G.21O", ["nav/SEPT2650.21P"], {"systems": ["G", "E", "J"], "min_elevation": 12.5}),
    "no navigation": ("obs2/delf0010.21o", [], {}),
}


@pytest.mark.parametrize("case", VIEW_CASES)
def test_recording_views_equal_the_analysis(shared_file, case):
    obs_name, nav_names, changed = VIEW_CASES[case]
    obs, navs = str(shared_file(obs_name)), [str(shared_file(name)) for name in nav_names]
    config = tool_settings.analysis_config(**changed)
    judged = assessment.assess(obs, navs, config)
    export = json.loads(judged.result.to_json())
    views = plot_data.recording_views(obs, navs, judged.settings)

    traces = judged.result.get_skyplot_data()
    sky = views.sky
    assert sky.satellites == [trace["satellite"] for trace in traces]
    for index, trace in enumerate(traces):
        span = slice(sky.starts[index], sky.starts[index + 1])
        assert sky.azimuth[span].tolist() == numbers(trace["azimuths"])
        assert sky.elevation[span].tolist() == numbers(trace["elevations"])
        assert sky.cn0[span].tolist() == numbers(trace["cn0_values"])

    grid = export["heatmap"]
    assert views.grid_count.tolist() == grid["count_matrix"]
    assert np.array_equal(views.grid_cn0, np.where(views.grid_count > 0, grid["cn0_matrix"], np.nan), equal_nan=True)

    expected = export["timeseries"]["constellation_timeseries"]
    assert sorted(views.constellations) == sorted(expected)
    for name, points in expected.items():
        series = views.constellations[name]
        assert series.value.tolist() == [point["cn0"] for point in points]
        assert series.time.tolist() == plot_data.timestamp_array([point["timestamp"] for point in points]).tolist()
    assert bool(views.visibility) == bool(navs)
    result = judged.result
    assert (views.station, views.visibility_source, views.has_prediction) == (
        plot_data.station_name(result.station_name), result.visibility_prediction_source,
        result.has_visibility_prediction)


@pytest.fixture
def refuse_export(monkeypatch):
    """json.loads fails on the analysis's JSON export: the plots must never parse it."""
    parse = json.loads

    def refuse(text, *args, **kwargs):
        assert not str(text).startswith('{"file_info"'), "the plots parsed the JSON export"
        return parse(text, *args, **kwargs)

    monkeypatch.setattr(json, "loads", refuse)


def test_plots_drawn_in_a_worker_process_equal_those_drawn_here(tmp_path, monkeypatch, capsys, refuse_export):
    """The command draws in a second process (which imports matplotlib lightly and must not fall back
    on drawing in the command's); without one (no interpreter to start) it draws in its own, and the
    images are the same bytes."""
    def plots_of(folder):
        assert commands.main(["analyze", str(SAMPLE_OBS), "--nav", str(SAMPLE_NAV), "--plots", str(folder)]) == 0
        return {path.name: path.read_bytes() for path in folder.iterdir()}

    def not_here(judged):
        raise AssertionError("the worker process failed and the command drew the plots itself")

    with monkeypatch.context() as patched:
        patched.setattr(_plot_worker, "_render_here", not_here)
        drawn_apart = plots_of(tmp_path / "worker")
    monkeypatch.setattr(sys, "executable", "")
    drawn_here = plots_of(tmp_path / "here")
    capsys.readouterr()
    assert sorted(drawn_apart) == [f"{stem}.png" for stem in ALL_PLOTS] and drawn_apart == drawn_here


def test_day_file_plots_and_report_without_the_export(shared_file, tmp_path, capsys, refuse_export):
    """The whole day through the command, with json.loads refusing the export (79 MB for this day)."""
    report = tmp_path / "report.html"
    code = commands.main(["analyze", str(shared_file(DAY)), "--nav", str(shared_file(DAY_NAV)), "--plots",
                     str(tmp_path / "plots"), "--html", str(report)])
    assert code == 0, capsys.readouterr().err
    assert sorted(path.stem for path in (tmp_path / "plots").iterdir()) == ALL_PLOTS
    for path in (tmp_path / "plots").iterdir():
        pixels = image.imread(path)
        assert pixels.shape[0] > 300 and pixels.shape[1] > 500 and pixels.std() > 0.05, path.name
    assert report.read_text(encoding="utf-8").count('src="data:image/png;base64,') == len(ALL_PLOTS)


def test_reduced_series_keep_every_anomaly_dip(shared_file):
    """Every anomaly epoch of the day keeps a point of the line, within one time bin, at least as low."""
    result = v.CN0Analyzer(v.AnalysisConfig()).analyze_with_nav(str(shared_file(DAY)), str(shared_file(DAY_NAV)))
    times = plot_data.timestamp_array(result.get_timestamps())
    values = np.asarray(result.get_timeseries_cn0())
    anomalies = plot_data.timestamp_array(result.get_anomaly_timestamps())
    assert len(anomalies) > 100
    bins = 60  # 48 epochs of 30 s per bin
    line = plot_data.decimate(times, values, bins)
    assert len(line.time) <= 2 * bins
    width = (times[-1] - times[0]) / bins
    for when in anomalies:
        level = values[times == when][0]
        near = np.abs(line.time - when) <= width
        assert (line.value[near] <= level).any(), when


@settings(max_examples=200, deadline=None)
@given(st.lists(st.tuples(st.integers(0, 10_000), st.one_of(st.floats(-100, 100), st.just(float("nan")))),
                min_size=1, max_size=300),
       st.integers(1, 40))
def test_reduction_reaches_every_dip_and_peak(points, bins):
    """The reduced line is a subset of the points in their order, at most two per bin, and passes
    within one bin width of every point at least as low and at least as high."""
    points.sort(key=lambda point: point[0])
    times = np.array([second * 1_000_000_000 for second, _ in points]).view("datetime64[ns]")
    values = np.array([value for _, value in points])
    line = plot_data.decimate(times, values, bins)
    key = lambda t, x: (int(t), np.inf if np.isnan(x) else float(x))  # noqa: E731
    remaining = iter(key(t, x) for t, x in zip(times.view(np.int64), values))
    assert all(any(point == wanted for point in remaining)
               for wanted in (key(t, x) for t, x in zip(line.time.view(np.int64), line.value)))
    if len(points) <= 2 * bins:
        assert len(line.time) == len(points)
        return
    assert len(line.time) <= 2 * bins
    width = (int(times[-1].view(np.int64)) - int(times[0].view(np.int64))) / bins
    distance = np.abs(line.time.view(np.int64)[:, None] - times.view(np.int64)[None, :])
    near = distance <= width
    finite = ~np.isnan(values)
    reached_low = (near & (line.value[:, None] <= values[None, :])).any(axis=0)
    reached_high = (near & (line.value[:, None] >= values[None, :])).any(axis=0)
    assert reached_low[finite].all() and reached_high[finite].all()
