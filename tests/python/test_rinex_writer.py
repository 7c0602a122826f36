"""RINEX 3.04 text written from loaded recordings: read back by the module, it gives the same
analysis as the files it came from."""

import json

import pytest
import vardoln_cn0

from vardoln_tools import _native

DATE = "20240115 063000 UTC"

# (observation file, its navigation files): RINEX 3.02 and RINEX 2.11 recordings of the same
# day, GPS and GLONASS.
RECORDINGS = [
    ("obs3/pdel0010.21o", ["nav/cbw10010.21n", "nav/dlf10010.21g"]),
    ("obs2/delf0010.21o", ["nav/cbw10010.21n", "nav/dlf10010.21g"]),
]


def analysis(recording):
    """The whole analysis JSON of a recording, as plain values."""
    return json.loads(recording.analyze(vardoln_cn0.AnalysisConfig()).to_json())


@pytest.mark.parametrize(("obs", "navs"), RECORDINGS)
def test_written_text_gives_the_same_analysis(shared_file, obs, navs):
    path = shared_file(obs)
    loaded = _native.load(str(path), [str(shared_file(nav)) for nav in navs])
    obs_text = _native.write_rinex_obs(loaded, date=DATE)
    nav_text = _native.write_rinex_nav(loaded, date=DATE)
    assert obs_text.startswith("     3.04           OBSERVATION DATA    M")
    assert "G    " in obs_text and "R    " in obs_text

    again_obs = vardoln_cn0.read_rinex_obs_bytes(obs_text.encode("ascii"), path.name)
    again_nav = vardoln_cn0.read_navigation_bytes(nav_text.encode("ascii"))
    assert again_obs.version == pytest.approx(3.04)
    assert again_obs.num_epochs == loaded.obs.num_epochs
    assert again_obs.snr_stats_by_satellite() == loaded.obs.snr_stats_by_satellite()
    assert (again_nav.gps_count, again_nav.glonass_count) == (loaded.nav.gps_count, loaded.nav.glonass_count)

    again = _native.load(again_obs, again_nav)
    assert analysis(again) == analysis(loaded)
    # The same records written twice give the same bytes.
    assert _native.write_rinex_obs(again_obs, date=DATE) == obs_text
    assert _native.write_rinex_nav(again_nav, date=DATE) == nav_text


def test_epoch_range_and_arguments(shared_file):
    obs = vardoln_cn0.read_rinex_obs(str(shared_file("obs3/pdel0010.21o")))
    part = vardoln_cn0.read_rinex_obs_bytes(
        _native.write_rinex_obs(obs, first=10, last=19, program="monitor", run_by="station", date=DATE).encode(),
        "part.rnx",
    )
    assert part.num_epochs == 10
    text = _native.write_rinex_obs(obs, first=10, last=10, date=DATE)
    assert "monitor" not in text and text.count("\n> ") == 1
    assert text.splitlines()[1] == f"{'vardoln-cn0':20}{'':20}{DATE:20}PGM / RUN BY / DATE"
    # Without a date the line carries the present moment in UTC.
    undated = _native.write_rinex_obs(obs, first=0, last=0).splitlines()[1]
    assert undated[40:60].endswith(" UTC ") and undated[40:48].isdigit()
    assert "     GPS         TIME OF FIRST OBS" in text
    assert "     GLO         TIME OF FIRST OBS" in _native.write_rinex_obs(obs, last=0, date=DATE, time_system="GLO")
    with pytest.raises(TypeError):
        _native.write_rinex_obs("pdel0010.21o")
    with pytest.raises(ValueError, match="no navigation data"):
        _native.write_rinex_nav(_native.load(obs))
