"""RTCM 3 streams read as recordings: the bundled USCL stream (MSM6/7 and legacy messages)."""

import pytest
import vardoln_cn0

from vardoln_tools.tables import rtcm, signals

USCL = "rtcm/pyrtcm/pygpsdata-NTRIP-USCL00CHL0.log"
USCL_WEEK = 2305  # 2024-03-13


@pytest.fixture(scope="module")
def uscl_bytes():
    import gzip

    from conftest import real_file

    path = real_file(USCL)
    if path is None:
        pytest.skip("the USCL stream is absent")
    data = path.read_bytes()
    return gzip.decompress(data) if path.suffix == ".gz" else data


def test_signal_stats_show_the_streams_cn0(uscl_bytes):
    loaded = rtcm.read(uscl_bytes, gps_week=USCL_WEEK)
    stats = signals.signal_stats(loaded).by_signal
    row = stats[(stats["satellite"] == "G21") & (stats["code"] == "S1W")]
    assert row["mean"].tolist() == [19.375]
    g31 = stats[(stats["satellite"] == "G31") & (stats["code"] == "S2W")]
    assert g31["mean"].tolist() == [37.0]  # from the 1004, in 0.25 dB-Hz steps
    assert set(stats["system"]) >= {"GPS", "GLONASS", "Galileo", "BeiDou", "SBAS"}


def test_analysis_runs_on_the_stream(uscl_bytes, tmp_path):
    path = tmp_path / "uscl.rtcm3"
    path.write_bytes(uscl_bytes)
    loaded = rtcm.read(path, gps_week=USCL_WEEK)
    assert loaded.native.obs.version == pytest.approx(3.04)
    result = loaded.native.analyze(vardoln_cn0.AnalysisConfig())
    assert result is not None


def test_a_week_is_needed(uscl_bytes):
    with pytest.raises(ValueError, match="GPS week"):
        rtcm.read(uscl_bytes)
