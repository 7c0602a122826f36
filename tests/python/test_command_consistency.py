"""The commands behave alike: the constellation selection governs everything shown, a cut file
says where it ends, a batch row says when its day has no navigation file, every command words a
missing file or a file in the wrong role the same way, and every command that analyses takes the
same analysis options with the same defaults."""

import json
import shutil

import pytest

from conftest import REPO_ROOT
from vardoln_tools import batch, commands
from vardoln_tools.judge import settings

SAMPLE_OBS = REPO_ROOT / "samples" / "SEPT265G.21O"
SAMPLE_NAV = REPO_ROOT / "samples" / "SEPT2650.21P"
NYA1_OBS = "crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx"
NYA1_NAV = [f"nav/NYA100NOR_S_20241240000_01D_{system}.rnx" for system in ("GN", "EN", "CN")]
UNSELECTED = ("GLONASS", "QZSS", "SBAS")


def run(capsys, *argv):
    code = commands.main([str(arg) for arg in argv])
    out, err = capsys.readouterr()
    return code, out, err


def test_nya1_without_glonass_is_fully_covered_and_shows_no_unselected_constellation(shared_file, tmp_path, capsys):
    """NYA1 has no GLONASS navigation file: analysed without GLONASS its three files cover every
    observed satellite-epoch, so the visibility verdicts are assessed, and neither a table nor the
    visibility lines name a GLONASS, QZSS or SBAS satellite."""
    navs = [arg for name in NYA1_NAV for arg in ("--nav", shared_file(name))]
    summary = tmp_path / "summary.json"
    code, out, _ = run(capsys, "analyze", shared_file(NYA1_OBS), *navs, "--systems", "G,E,C",
                       "--summary-json", summary)
    shown = json.loads(summary.read_text())
    assert code == 0 and shown["coverage"]["complete"] and shown["coverage"]["percent"] > 99.9  # C16 now and then
    assert [entry["system"] for entry in shown["coverage"]["systems"]] == ["BeiDou", "Galileo", "GPS"]
    assert shown["warnings"] == [] and "Warning" not in out
    assert not any(verdict.startswith("not assessable") for verdict in shown["verdicts"].values())
    lines = out.splitlines()
    assert not [line for line in lines if line.strip().split(" ")[0] in UNSELECTED]
    often_unexpected = next(line for line in lines if line.startswith("  often unexpected"))
    assert not any(satellite.startswith(("R", "J", "S")) for satellite in often_unexpected.split()[2:])
    # The same recording with GLONASS selected: its satellites count, uncovered.
    code, out, _ = run(capsys, "analyze", shared_file(NYA1_OBS), *navs, "--systems", "G,R,E,C")
    assert "Coverage       74.3 % of the observed satellite-epochs have an ephemeris" in out.splitlines()


@pytest.mark.parametrize("command", ["analyze", "batch", "qc", "signals"])
def test_every_command_that_analyses_has_the_one_elevation_mask(command):
    assert commands.build_parser().parse_args([command, "x"]).min_elevation == settings.DEFAULT_MIN_ELEVATION


def test_qc_and_batch_qc_give_the_same_multipath(shared_file, tmp_path, capsys):
    """`qc` and `batch --qc` of one recording with its navigation data, both with their defaults:
    the same mask, hence the same figures (this recording's multipath differs between 5 and 10
    degrees)."""
    obs, nav = shared_file("obs2/delf0010.21o"), shared_file("nav/cbw10010.21n")
    nav_dir = tmp_path / "nav"
    nav_dir.mkdir()
    shutil.copy(nav, nav_dir)
    assert run(capsys, "qc", obs, "--nav", nav, "--json", tmp_path / "qc.json")[0] == 0
    assert run(capsys, "batch", obs, "--nav-dir", nav_dir, "--qc", "--no-progress",
               "--jsonl", tmp_path / "rows.jsonl")[0] == 0
    report = json.loads((tmp_path / "qc.json").read_text())
    [row] = batch.read_jsonl(tmp_path / "rows.jsonl")
    pairs = [pair for pair in report["constellations"] if pair["reason"] is None]
    assert report["settings"]["min_elevation"] == settings.DEFAULT_MIN_ELEVATION and pairs
    for pair in pairs:
        assert row[f"mp_{pair['first']}_{pair['second']}_{pair['system']}"] == pair["mp_first_rms"]
        assert row[f"mp_{pair['second']}_{pair['first']}_{pair['system']}"] == pair["mp_second_rms"]


def cut_copy(source, target, lines_dropped):
    """The file without its last lines: a recording cut inside its last epoch."""
    lines = source.read_text(encoding="latin-1").splitlines(keepends=True)
    target.write_text("".join(lines[:-lines_dropped]), encoding="latin-1")
    return target


def test_a_file_cut_inside_its_last_epoch_names_the_last_complete_one(tmp_path, capsys):
    cut = cut_copy(SAMPLE_OBS, tmp_path / "SEPT265G.21O", 3)  # 3 of the last epoch's 19 satellites
    expected = ("the file ends inside the epoch 2021-09-22T06:35:59.000Z (it holds less than that epoch "
                "announces); the last complete epoch is 2021-09-22T06:35:58.000Z")
    summary = tmp_path / "summary.json"
    code, out, _ = run(capsys, "analyze", cut, "--nav", SAMPLE_NAV, "--summary-json", summary)
    assert code == 0 and f"Warning        {expected}" in out.splitlines()
    assert expected in json.loads(summary.read_text())["warnings"]
    code, out, _ = run(capsys, "batch", cut, "--no-progress", "--jsonl", tmp_path / "rows.jsonl")
    [row] = batch.read_jsonl(tmp_path / "rows.jsonl")
    assert code == 0 and row["warning"] == expected and f"SEPT265G.21O: {expected}" in out.splitlines()
    for command in ("info", "signals", "qc"):
        code, out, _ = run(capsys, command, cut)
        assert code == 0 and f"Warning        {expected}" in out.splitlines(), command
    # The whole file says nothing of the kind.
    code, out, _ = run(capsys, "analyze", SAMPLE_OBS, "--nav", SAMPLE_NAV)
    assert code == 0 and "ends inside" not in out


def test_batch_row_says_when_the_navigation_directory_lacks_its_day(shared_file, tmp_path, capsys):
    nav_dir = tmp_path / "nav"
    nav_dir.mkdir()
    shutil.copy(SAMPLE_NAV, nav_dir)
    pdel = shared_file("obs3/pdel0010.21o")
    rows_file = tmp_path / "rows.jsonl"
    code, out, _ = run(capsys, "batch", SAMPLE_OBS, pdel, "--nav-dir", nav_dir, "--no-progress", "--jsonl", rows_file)
    sept, pdel_row = batch.read_jsonl(rows_file)
    assert code == 0 and sept["nav"] == str(nav_dir / SAMPLE_NAV.name) and sept["warning"] is None
    note = f"no navigation file of the recording's day (2021-01-01, day 001) in {nav_dir}"
    assert (pdel_row["nav"], pdel_row["warning"]) == (None, note)
    assert f"pdel0010.21o: {note}" in out.splitlines()


# Each command with the files it takes: "{obs}" and "{nav}" stand for the files given.
COMMANDS = {
    "analyze": ["analyze", "{obs}", "--nav", "{nav}"],
    "info": ["info", "{obs}"],
    "nav": ["nav", "{nav}"],
    "signals": ["signals", "{obs}", "--nav", "{nav}"],
    "qc": ["qc", "{obs}", "--nav", "{nav}"],
    "batch": ["batch", "{obs}", "--no-progress", "--jsonl", "{rows}"],
}
# What goes wrong: the files given in its place, and the one line it gives.
FAULTS = {
    "missing obs": ({"obs": "{tmp}/none.21o"}, "{tmp}/none.21o: Cannot read obs file: No such file or directory"),
    "missing nav": ({"nav": "{tmp}/none.21p"}, "{tmp}/none.21p: Cannot read nav file: No such file or directory"),
    "nav as obs": ({"obs": str(SAMPLE_NAV)},
                   f"{SAMPLE_NAV}: a RINEX 3.04 navigation file, expected a RINEX observation file (or compact RINEX)"),
    "obs as nav": ({"nav": str(SAMPLE_OBS)},
                   f"{SAMPLE_OBS}: a RINEX 3.04 observation file, expected a RINEX navigation file"),
}


@pytest.mark.parametrize(("command", "fault"), [(command, fault) for command, argv in COMMANDS.items()
                                                  for fault, (files, _) in FAULTS.items()
                                                  if any("{" + place + "}" in argv for place in files)])
def test_every_command_words_a_file_fault_alike(tmp_path, capsys, command, fault):
    files, message = FAULTS[fault]
    argv = COMMANDS[command]
    given = {"obs": str(SAMPLE_OBS), "nav": str(SAMPLE_NAV), "rows": str(tmp_path / "rows.jsonl"), **files}
    code, _, err = run(capsys, *(arg.format(**given).format(tmp=tmp_path) for arg in argv))
    message = message.format(tmp=tmp_path)
    assert code == 1
    if command == "batch":  # a row per recording: the line without the row's own path
        [row] = batch.read_jsonl(tmp_path / "rows.jsonl")
        assert row["error"] == message.removeprefix(f"{row['path']}: ")
    else:
        assert err == f"vardoln-cn0: error: {message}\n"
