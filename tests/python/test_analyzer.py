"""CN0Analyzer in both styles (files, parsed objects) and the one-call analyze_cn0."""

import pytest

import vardoln_cn0 as v
from rinex_text import obs_epoch, obs_header

SEPT_OBS = "obs3/SEPT265G.21O"
SEPT_NAV = "nav/SEPT2650.21P"
DELF_OBS = "obs2/delf0010.21o"
DELF_NAV = "nav/cbw10010.21n"
ACOR_OBS = "obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx"

# One satellite of each of five constellations; the names are those the analysis prints.
LETTER_NAMES = {"G": "GPS", "R": "GLONASS", "E": "Galileo", "C": "BeiDou", "J": "QZSS"}
SATELLITES = {"G01": 45.0, "R02": 41.0, "E03": 43.0, "C04": 39.0, "J05": 44.0}


def five_system_lines(marker="FIVE", epochs=10, interval=30):
    """A RINEX 3 file with one S1C-carrying satellite per constellation over `epochs` epochs."""
    lines = obs_header({letter: ["C1C", "S1C"] for letter in LETTER_NAMES}, marker=marker, interval=interval)
    for i in range(epochs):
        second = i * interval
        time = (2024, 1, 15, 6, second // 60, float(second % 60))
        lines += obs_epoch(time, {sat: [2.2e7, cn0 + 0.1 * i] for sat, cn0 in SATELLITES.items()})
    return lines


@pytest.fixture
def five_systems(write_rinex):
    return write_rinex(five_system_lines(), name="five0150.24o")


def analysed_letters(result):
    """Letters of the satellites that gave samples (constellations present but not selected
    still appear in `constellations`)."""
    return "".join(sorted({satellite[0] for satellite in result.get_satellite_ids()}))


def sorted_letters(letters):
    return "".join(sorted(letters))


def same_settings_as_from_obs(**keywords):
    """A config whose derived settings equal those of from_obs and analyze_cn0 (3, 6, 10)."""
    return v.AnalysisConfig(anomaly_sensitivity=0.0, interference_threshold_db=10.0, **keywords)


# ---------------------------------------------------------------------------------------------
# The class surface


def test_class_docs_and_signatures():
    assert v.CN0Analyzer.__doc__ == "Python wrapper for CN0Analyzer - supports both config-based and direct API"
    assert v.CN0Analyzer.__text_signature__ == "(config)"
    expected = {
        "from_obs": ("(obs_data, min_elevation=5.0, time_bin_seconds=60, systems=None)",
                     "Alternative constructor from observation data (legacy API)"),
        "set_navigation": ("($self, nav_data)", "Set navigation data for satellite position computation (old API)"),
        "analyze": ("($self)", "Run CN0 analysis (old API - requires obs_data set via from_obs)"),
        "analyze_file": ("($self, obs_path)", "Analyze RINEX observation file from path (new API)"),
        "analyze_with_nav": ("($self, obs_path, nav_path)", "Analyze with separate navigation file (new API)"),
    }
    for name, (text_signature, doc) in expected.items():
        method = getattr(v.CN0Analyzer, name)
        assert (method.__text_signature__, method.__doc__) == (text_signature, doc), name
    assert v.analyze_cn0.__text_signature__ == "(obs_path, nav_path=None, min_elevation=5.0, systems=None)"
    assert v.analyze_cn0.__doc__ == "Quick analysis function"


def test_analyzer_exposes_no_attributes():
    analyzer = v.CN0Analyzer(v.AnalysisConfig())
    for name in ("config", "obs_data", "nav_data", "systems"):
        assert not hasattr(analyzer, name)


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: v.CN0Analyzer(), TypeError, "CN0Analyzer() missing 1 required positional argument: 'config'"),
        (lambda: v.CN0Analyzer(5), TypeError, "argument 'config': 'int' object cannot be converted to 'AnalysisConfig'"),
        (lambda: v.CN0Analyzer(v.AnalysisConfig()).analyze_file(b"x.obs"), TypeError,
         "argument 'obs_path': 'bytes' object cannot be converted to 'PyString'"),
        (lambda: v.CN0Analyzer(v.AnalysisConfig()).analyze_with_nav("x.obs"), TypeError,
         "CN0Analyzer.analyze_with_nav() missing 1 required positional argument: 'nav_path'"),
        (lambda: v.CN0Analyzer(v.AnalysisConfig()).set_navigation(v.AnalysisConfig()), TypeError,
         "argument 'nav_data': 'AnalysisConfig' object cannot be converted to 'NavigationData'"),
        (lambda: v.CN0Analyzer.from_obs(None), TypeError,
         "argument 'obs_data': 'NoneType' object cannot be converted to 'RinexObsData'"),
        (lambda: v.CN0Analyzer(v.AnalysisConfig()).analyze(), ValueError,
         "No observation data. Use analyze_file() or CN0Analyzer.from_obs()"),
    ],
)
def test_argument_and_state_errors(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert raised.value.args == (message,)


# ---------------------------------------------------------------------------------------------
# System letters


@pytest.mark.parametrize(
    "systems, letters",
    [
        (None, "GREC"),
        ([], ""),
        (["GPS", "", "E"], "GE"),
        (("J",), "J"),
        (["G01", "GLONASS"], "G"),
        (["", ""], ""),
    ],
)
def test_from_obs_system_selection(five_systems, systems, letters):
    obs = v.read_rinex_obs(str(five_systems))
    result = v.CN0Analyzer.from_obs(obs, systems=systems).analyze()
    assert analysed_letters(result) == sorted_letters(letters)
    # Present constellations are listed whatever the selection, unless no sample was taken.
    assert sorted(result.constellations) == (sorted(LETTER_NAMES.values()) if letters else [])
    if not letters:
        assert (result.total_observations, result.quality_grade, result.summary) == (0, "N/A", "No data")


@pytest.mark.parametrize("systems, letters", [(None, "GREC"), (["GPS", "", "E"], "GE"), (["R"], "R")])
def test_config_and_quick_function_select_the_same_systems(five_systems, systems, letters):
    by_config = v.CN0Analyzer(v.AnalysisConfig(systems=systems)).analyze_file(str(five_systems))
    quick = v.analyze_cn0(str(five_systems), systems=systems)
    assert analysed_letters(by_config) == analysed_letters(quick) == sorted_letters(letters)


def test_from_obs_argument_conversion(five_systems):
    obs = v.read_rinex_obs(str(five_systems))
    # An int elevation converts; a time bin over 32 bits keeps its low bits (it is carried only).
    assert v.CN0Analyzer.from_obs(obs, 10, 2**32 + 30, ["G"]).analyze().total_epochs == 10
    with pytest.raises(OverflowError):
        v.CN0Analyzer.from_obs(obs, time_bin_seconds=-1)
    with pytest.raises(TypeError, match="^argument 'time_bin_seconds': "):
        v.CN0Analyzer.from_obs(obs, time_bin_seconds=1.5)
    with pytest.raises(TypeError, match="^argument 'min_elevation': "):
        v.CN0Analyzer.from_obs(obs, min_elevation=None)
    with pytest.raises(TypeError) as raised:
        v.CN0Analyzer.from_obs(obs, systems="G")
    assert raised.value.args == ("argument 'systems': Can't extract `str` to `Vec`",)


def test_analyzer_copies_its_inputs(five_systems):
    obs = v.read_rinex_obs(str(five_systems))
    analyzer = v.CN0Analyzer.from_obs(obs)
    first = analyzer.analyze().to_json()
    del obs
    assert analyzer.analyze().to_json() == first


# ---------------------------------------------------------------------------------------------
# Navigation: which call uses which


def test_set_navigation_affects_analyze_only(shared_file):
    obs_path, nav_path = str(shared_file(DELF_OBS)), str(shared_file(DELF_NAV))
    analyzer = v.CN0Analyzer.from_obs(v.read_rinex_obs(obs_path))
    assert not analyzer.analyze().has_visibility_prediction
    assert analyzer.set_navigation(v.read_navigation(nav_path)) is None
    assert analyzer.analyze().has_visibility_prediction
    assert analyzer.analyze_file(obs_path).visibility_prediction_source == "None"
    assert analyzer.analyze_with_nav(obs_path, nav_path).has_visibility_prediction


def test_analyze_file_reads_the_configured_nav_file(shared_file):
    obs_path, nav_path = str(shared_file(DELF_OBS)), str(shared_file(DELF_NAV))
    result = v.CN0Analyzer(v.AnalysisConfig(nav_file=nav_path)).analyze_file(obs_path)
    assert result.visibility_prediction_source.startswith("BRDC Navigation (")
    # A configured nav file that is missing fails the call.
    with pytest.raises(OSError):
        v.CN0Analyzer(v.AnalysisConfig(nav_file=nav_path + ".missing")).analyze_file(obs_path)


@pytest.mark.parametrize("obs, nav", [(SEPT_OBS, SEPT_NAV), (DELF_OBS, DELF_NAV), (ACOR_OBS, None)])
def test_every_entry_point_gives_the_same_result(shared_file, obs, nav):
    obs_path = str(shared_file(obs))
    nav_path = str(shared_file(nav)) if nav else None
    by_file = v.CN0Analyzer(same_settings_as_from_obs(nav_file=nav_path)).analyze_file(obs_path)
    by_object = v.CN0Analyzer.from_obs(v.read_rinex_obs(obs_path))
    if nav_path:
        by_object.set_navigation(v.read_navigation(nav_path))
        with_nav = v.CN0Analyzer(same_settings_as_from_obs()).analyze_with_nav(obs_path, nav_path)
        assert with_nav.to_json() == by_file.to_json()
    quick = v.analyze_cn0(obs_path, nav_path)
    assert by_object.analyze().to_json() == by_file.to_json() == quick.to_json()
    assert by_file.has_visibility_prediction == (nav is not None)


# ---------------------------------------------------------------------------------------------
# File failures


def test_file_failures(tmp_path, five_systems):
    analyzer = v.CN0Analyzer(v.AnalysisConfig())
    not_rinex = tmp_path / "notes.txt"
    not_rinex.write_text("just some text\nwithout a header end\n")
    missing = tmp_path / "missing.24o"

    with pytest.raises(OSError) as raised:
        analyzer.analyze_file(str(missing))
    (message,) = raised.value.args
    assert message.endswith(" (os error 2)") and not message.startswith("Cannot")

    with pytest.raises(ValueError) as raised:
        analyzer.analyze_file(str(not_rinex))
    assert raised.value.args == ("No END OF HEADER found",)

    with pytest.raises(OSError) as raised:
        analyzer.analyze_with_nav(str(five_systems), str(missing))
    assert raised.value.args[0].endswith(" (os error 2)")

    with pytest.raises(ValueError) as raised:
        analyzer.analyze_with_nav(str(five_systems), str(not_rinex))
    assert raised.value.args == ("No END OF HEADER found",)

    # A failed call leaves the analyzer usable.
    assert analyzer.analyze_file(str(five_systems)).total_epochs == 10


def test_reader_gets_the_last_path_component(tmp_path, write_rinex):
    lines = five_system_lines(marker=None, epochs=2)
    (tmp_path / "dir").mkdir()
    path = write_rinex(lines, name="dir/site.24o")
    analyzer = v.CN0Analyzer(v.AnalysisConfig())
    for given in (str(path), str(tmp_path) + "/dir/../dir/site.24o"):
        result = analyzer.analyze_file(given)
        assert (result.station_name, result.filename) == ("site.24o", "")
    assert v.analyze_cn0(str(path)).station_name == "site.24o"


# ---------------------------------------------------------------------------------------------
# analyze_cn0: order of the checks


def test_analyze_cn0_converts_every_argument_before_reading(tmp_path):
    missing = str(tmp_path / "missing.obs")
    cases = [
        ({"systems": "G"}, "argument 'systems': Can't extract `str` to `Vec`"),
        ({"systems": 5}, None),
        ({"systems": ["G", 1]}, None),
        ({"min_elevation": None}, None),
        ({"min_elevation": "high"}, None),
        ({"nav_path": 3}, "argument 'nav_path': 'int' object cannot be converted to 'PyString'"),
    ]
    for keywords, message in cases:
        with pytest.raises(TypeError) as raised:
            v.analyze_cn0(missing, **keywords)
        if message is not None:
            assert raised.value.args == (message,), keywords


def test_analyze_cn0_reports_failures_in_step_order(tmp_path, five_systems):
    broken = tmp_path / "broken.obs"
    broken.write_text("no header end here\n")
    broken_nav = tmp_path / "broken.nav"
    broken_nav.write_text("no header end here either\n")
    missing_obs = str(tmp_path / "missing.obs")
    missing_nav = str(tmp_path / "missing.nav")
    cases = [
        (missing_obs, missing_nav, OSError, "Cannot read obs file: "),
        (str(broken), missing_nav, ValueError, "No END OF HEADER found"),
        (str(five_systems), missing_nav, OSError, "Cannot read nav file: "),
        (str(five_systems), str(broken_nav), ValueError, "No END OF HEADER found"),
    ]
    for obs, nav, error, start in cases:
        with pytest.raises(error) as raised:
            v.analyze_cn0(obs, nav)
        assert raised.value.args[0].startswith(start), (obs, nav)


def test_analyze_cn0_defaults(five_systems):
    result = v.analyze_cn0(str(five_systems), None, 5)
    assert result.filename == ""
    assert result.station_name == "FIVE"
    assert not result.has_visibility_prediction
    assert analysed_letters(result) == "CEGR"
