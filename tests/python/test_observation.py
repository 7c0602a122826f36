"""RinexObsData: reading functions, file-name derivation and the queries, on small synthetic
files and on real recordings."""

import pytest

import vardoln_cn0 as v
from rinex_text import header_line, obs_epoch, obs_header

T0 = (2024, 1, 15, 6, 30, 0.0)
T1 = (2024, 1, 15, 6, 30, 30.0)
T2 = (2024, 1, 15, 6, 31, 0.0)


def read_lines(write_rinex, lines, name="test.rnx"):
    return v.read_rinex_obs(str(write_rinex(lines, name)))


def test_file_without_epochs(write_rinex):
    data = read_lines(write_rinex, obs_header({"G": ["C1C", "S1C"]}, marker="SITE"))
    assert (data.num_epochs, data.num_satellites) == (0, 0)
    assert data.satellites_by_system() == {}
    assert data.snr_stats_by_satellite() == {}
    assert repr(data) == "RinexObsData(version=3.04, epochs=0, satellites=0)"


def test_header_attributes(write_rinex):
    lines = obs_header({"G": ["S1C"]}, marker="ABCD", version="3.05", receiver="SEPT POLARX5", interval=30.0)
    data = read_lines(write_rinex, lines)
    assert data.version == 3.05
    assert data.marker_name == "ABCD"
    assert data.receiver_type == "SEPT POLARX5"
    assert data.interval == 30.0


def test_attributes_are_read_only(write_rinex):
    data = read_lines(write_rinex, obs_header({"G": ["S1C"]}))
    for name in ["num_epochs", "num_satellites", "version", "marker_name", "receiver_type", "interval"]:
        with pytest.raises(AttributeError):
            setattr(data, name, 1)


SNR_FILE = obs_header({"G": ["C1C", "S1C", "S2W"], "E": ["C1C", "L1C"]}, marker="SNR") + [
    *obs_epoch(T0, {"G01": [2.0e7, 0.5, None], "G02": [2.0e7, 100.0, None], "E11": [2.0e7, 1.0]}),
    *obs_epoch(T1, {"G01": [2.0e7, 120.0, None], "G03": [2.0e7, 40.0, 30.0]}),
    *obs_epoch(T2, {"G01": [2.0e7, 45.0, None]}),
]


def test_snr_stats_by_satellite(write_rinex):
    stats = read_lines(write_rinex, SNR_FILE).snr_stats_by_satellite()
    assert stats == {
        # 120.0 lies outside (0, 100): counted, not valid
        "G01": {"obs_count": 3.0, "valid_count": 2.0, "mean_snr": 22.75},
        "G02": {"obs_count": 1.0, "valid_count": 0.0, "mean_snr": 0.0},
        # two S codes at one epoch are two observations
        "G03": {"obs_count": 2.0, "valid_count": 2.0, "mean_snr": 35.0},
    }
    assert all(type(value) is float for entry in stats.values() for value in entry.values())


def test_queries_on_synthetic_file(write_rinex):
    data = read_lines(write_rinex, SNR_FILE)
    assert data.num_epochs == 3
    assert data.num_satellites == 4
    assert data.satellites_by_system() == {"G": ["G01", "G02", "G03"], "E": ["E11"]}
    assert data.obs_types_by_system() == {"G": ["C1C", "S1C", "S2W"], "E": ["C1C", "L1C"]}
    assert data.snr_availability() == {"G": True, "E": False}
    assert repr(data) == "RinexObsData(version=3.04, epochs=3, satellites=4)"


def test_epoch_of_132_satellites(write_rinex):
    # From 100 satellites on, the one-digit flag and the three-digit count run together ("  0132").
    per_system = {"G": 32, "R": 24, "E": 36, "C": 40}
    satellites = {f"{letter}{n:02d}": [30.0 + n] for letter, count in per_system.items() for n in range(1, count + 1)}
    lines = obs_header({letter: ["S1C"] for letter in per_system}) + obs_epoch(T0, satellites)
    lines += obs_epoch(T1, {"G01": [45.0]})
    assert lines[-(len(satellites) + 3)].endswith("  0132")
    data = read_lines(write_rinex, lines)
    assert data.num_epochs == 2
    assert data.num_satellites == 132
    assert {letter: len(ids) for letter, ids in data.satellites_by_system().items()} == per_system
    assert data.snr_stats_by_satellite()["C40"]["obs_count"] == 1.0


def test_debug_info(write_rinex):
    assert read_lines(write_rinex, SNR_FILE).debug_info() == {
        "version": "3.04",
        "num_epochs": "3",
        "num_satellites": "4",
        "G_satellites": "3",
        "G_sat_list": "G01,G02,G03",
        "E_satellites": "1",
        "E_sat_list": "E11",
        "G_obs_types_count": "3",
        "G_obs_types": "C1C,S1C,S2W",
        "G_snr_types": "S1C,S2W",
        "E_obs_types_count": "2",
        "E_obs_types": "C1C,L1C",
        "E_snr_types": "",
    }


def test_results_are_fresh_objects(write_rinex):
    data = read_lines(write_rinex, SNR_FILE)
    first = data.satellites_by_system()
    first["G"].append("X99")
    assert data.satellites_by_system()["G"] == ["G01", "G02", "G03"]


MARKERLESS = obs_header({"G": ["S1C"]})


@pytest.mark.parametrize(
    ("relative", "marker"),
    [
        ("site0010.24o", "site0010.24o"),
        ("deep/dir/site0010.24o", "site0010.24o"),
        ("deep/dir/../dir/site0010.24o", "site0010.24o"),
        ("deep/./site0010.24o", "site0010.24o"),
        # a backslash separates components too, even where the system takes it as a letter
        ("deep/back\\slash.24o", "slash.24o"),
    ],
)
def test_marker_name_falls_back_to_the_file_name(tmp_path, relative, marker):
    path = tmp_path / relative
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("\n".join(MARKERLESS) + "\n")
    assert v.read_rinex_obs(f"{tmp_path}/{relative}").marker_name == marker


def test_bytes_readers_pass_the_name_through():
    text = ("\n".join(MARKERLESS) + "\n").encode()
    for read in (v.read_rinex_obs_bytes, v.parse_rinex):
        assert read(text, "dir/name.obs").marker_name == "dir/name.obs"
        assert read(data=text, filename="").marker_name == ""


def test_missing_file_raises_os_error_with_system_text(tmp_path):
    with pytest.raises(OSError) as caught:
        v.read_rinex_obs(str(tmp_path / "absent.obs"))
    error = caught.value
    assert type(error) is OSError
    assert len(error.args) == 1
    assert error.args[0].endswith(" (os error 2)")
    assert error.errno is None


def test_directory_raises_os_error(tmp_path):
    with pytest.raises(OSError) as caught:
        v.read_rinex_obs(str(tmp_path))
    assert caught.value.args[0].endswith(" (os error 21)")


@pytest.mark.parametrize("text", [b"", b"not rinex\n", header_line("", "END OF HEADR").encode()])
def test_missing_end_of_header_is_a_value_error(text):
    with pytest.raises(ValueError) as caught:
        v.read_rinex_obs_bytes(text, "x.obs")
    assert caught.value.args == ("No END OF HEADER found",)


# Real recordings: figures counted from the data records (see the data README).
REAL_FILES = {
    "obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx": {"version": 3.04, "marker": "ACOR", "epochs": 25},
    "obs3/z_tracking.rnx": {"version": 3.04, "marker": "TWTF", "epochs": 2},
    "obs3/sptu0150.16o": {"version": 3.00, "marker": "SPTU", "epochs": 5},
    "obs3/pdel0010.21o": {"version": 3.02, "marker": "PDEL", "epochs": 67},
}


@pytest.mark.parametrize("relative", REAL_FILES)
def test_real_observation_files(shared_file, relative):
    expected = REAL_FILES[relative]
    path = shared_file(relative)
    data = v.read_rinex_obs(str(path))
    assert data.version == expected["version"]
    assert data.marker_name == expected["marker"]
    assert data.num_epochs == expected["epochs"]
    by_system = data.satellites_by_system()
    assert sum(len(ids) for ids in by_system.values()) == data.num_satellites
    assert repr(data) == f"RinexObsData(version={expected['version']:.2f}, epochs={expected['epochs']}, satellites={data.num_satellites})"
    # the bytes readers see the same record
    again = v.read_rinex_obs_bytes(path.read_bytes(), path.name)
    assert again.debug_info() == data.debug_info()
    stats = data.snr_stats_by_satellite()
    assert stats
    assert all(0.0 < entry["mean_snr"] < 100.0 for entry in stats.values() if entry["valid_count"])


def test_rinex2_debug_info_lists_four_systems(shared_file):
    data = v.read_rinex_obs(str(shared_file("obs2/delf0010.21o")))
    info = data.debug_info()
    assert data.version < 3
    type_lists = {key: value for key, value in info.items() if key.endswith("_obs_types")}
    assert sorted(type_lists) == ["C_obs_types", "E_obs_types", "G_obs_types", "R_obs_types"]
    assert len(set(type_lists.values())) == 1
    assert set(data.snr_availability()) == {"G", "R", "E", "C"}


def test_markerless_real_file_takes_its_name(shared_file):
    path = shared_file("edge/blank3.10o")
    assert v.read_rinex_obs(str(path)).marker_name == "blank3.10o"
