"""The vardoln-cn0 command: subcommands on the bundled sample and on small files, help, error exits."""

import importlib
import json
import shutil
import subprocess
import sys
import tomllib
from pathlib import Path

import pytest

import vardoln_cn0 as v
from conftest import REPO_ROOT
from rinex_text import obs_epoch, obs_header
from vardoln_tools import commands

SAMPLE_OBS = REPO_ROOT / "samples" / "SEPT265G.21O"
SAMPLE_NAV = REPO_ROOT / "samples" / "SEPT2650.21P"
# Two GPS satellites fall from 45 to 25 dB-Hz at one epoch: one multi-satellite drop.
FADE = [45.0] * 10 + [25.0] + [45.0] * 9


def run(capsys, *argv):
    """Runs the command in-process: (exit code, stdout, stderr)."""
    code = commands.main([str(arg) for arg in argv])
    out, err = capsys.readouterr()
    return code, out, err


def fade_recording(write_rinex):
    lines = obs_header({"G": ["C1C", "S1C"]}, marker="FADE", interval=30)
    for i, level in enumerate(FADE):
        lines += obs_epoch((2024, 1, 15, 6, i // 2, 30.0 * (i % 2)),
                              {"G05": [2.0e7, level], "G07": [2.1e7, level]})
    return write_rinex(lines, "fade.24o")


@pytest.mark.parametrize("command", [[], ["analyze"], ["info"], ["nav"]])
def test_help(capsys, command):
    with pytest.raises(SystemExit) as stop:
        commands.main([*command, "--help"])
    assert stop.value.code == 0
    out = capsys.readouterr().out
    assert out.startswith("usage: vardoln-cn0")
    if command == ["analyze"]:
        for option in ("--nav", "--systems", "--min-elevation", "--json", "--pretty", "--plots", "--html"):
            assert option in out


def test_analyze_sample(capsys):
    code, out, err = run(capsys, "analyze", SAMPLE_OBS, "--nav", SAMPLE_NAV)
    assert (code, err) == (0, "")
    for expected in ("Station        SEPT", "Receiver       SEPT MOSAIC-X5", "Epochs         360",
                     "Satellites     20", "Events         none", "  jamming        not detected",
                     "  spoofing       not detected", "Quality        Grade A: Every assessed criterion passes.",
                     "Visibility     BRDC Navigation (41 satellites)",
                     "  confirmation   86.8 % of the predicted satellites observed"):
        assert expected in out.splitlines(), expected
    gps = next(line for line in out.splitlines() if line.strip().startswith("GPS "))
    assert gps.split() == ["GPS", "8/9", "11770", "40.8", "17.8", "54.2", "8.66", "0", "10"]


@pytest.mark.parametrize("pretty", [False, True])
def test_analyze_json_equals_export(capsys, tmp_path, pretty):
    path = tmp_path / "out.json"
    code, _, _ = run(capsys, "analyze", SAMPLE_OBS, "--systems", "g,E", "--min-elevation", "10",
                     "--json", path, *(["--pretty"] if pretty else []))
    result = v.analyze_cn0(str(SAMPLE_OBS), None, 10.0, ["G", "E"])
    assert code == 0
    assert path.read_text(encoding="utf-8") == (result.to_json_pretty() if pretty else result.to_json())


def test_analysis_drop_anomalies_stay_out_of_the_summary(capsys, tmp_path, write_rinex):
    """A fade that the analysis's drop rule flags (its JSON export keeps it) is no verdict and no line
    of the summary; the detector's events decide the verdicts."""
    export = tmp_path / "fade.json"
    code, out, _ = run(capsys, "analyze", fade_recording(write_rinex), "--json", export)
    assert code == 0
    assert [a["severity"] for a in json.loads(export.read_text())["anomalies"]] == ["critical"]
    assert "Anomalies" not in out and "critical" not in out
    assert "  jamming        not detected" in out.splitlines() and "Visibility" not in out


def test_info_and_nav(capsys, write_rinex):
    code, out, _ = run(capsys, "info", fade_recording(write_rinex))
    assert code == 0
    assert "Marker         FADE" in out and "Epochs         20" in out
    assert any(line.split() == ["G", "2", "yes", "C1C", "S1C"] for line in out.splitlines())
    assert any(line.split() == ["G05", "20", "20", "44.0"] for line in out.splitlines())
    code, out, _ = run(capsys, "nav", SAMPLE_NAV)
    assert code == 0
    nav = v.read_navigation(str(SAMPLE_NAV))
    counts = [nav.gps_count, nav.glonass_count, nav.galileo_count, nav.beidou_count, nav.satellite_count]
    assert [int(line.split()[-1]) for line in out.splitlines()[-5:]] == counts
    assert counts[-1] == 41


ERRORS = {
    "missing": (["analyze", "{tmp}/none.24o"], "{tmp}/none.24o: Cannot read obs file: No such file or directory"),
    "directory": (["analyze", "{tmp}"], "{tmp}: Cannot read obs file: Is a directory"),
    "invalid obs": (["analyze", "{tmp}/bad.24o"],
                    "{tmp}/bad.24o: not a RINEX file, expected a RINEX observation file (or compact RINEX)"),
    "invalid nav": (["analyze", str(SAMPLE_OBS), "--nav", "{tmp}/bad.24o"],
                    "{tmp}/bad.24o: not a RINEX file, expected a RINEX navigation file"),
    "missing nav": (["analyze", str(SAMPLE_OBS), "--nav", "{tmp}/none.24n"], "{tmp}/none.24n: Cannot read nav file"),
    "info invalid": (["info", "{tmp}/bad.24o"], "{tmp}/bad.24o: not a RINEX file, expected a RINEX observation file"),
    "nav directory": (["nav", "{tmp}"], "{tmp}: Cannot read nav file: Is a directory"),
    "unwritable json": (["analyze", str(SAMPLE_OBS), "--json", "{tmp}/no/such/dir.json"], "cannot write {tmp}/no"),
}


@pytest.mark.parametrize("name", ERRORS)
def test_error_exit(capsys, tmp_path, name):
    (tmp_path / "bad.24o").write_text("not a RINEX file\n")
    argv, message = ERRORS[name]
    code, _, err = run(capsys, *(arg.format(tmp=tmp_path) for arg in argv))
    assert code == 1
    assert err.count("\n") == 1 and "Traceback" not in err
    assert err.startswith("vardoln-cn0: error: " + message.format(tmp=tmp_path))


@pytest.mark.parametrize("option", [["--systems", "G,X"], ["--systems", ","], ["--min-elevation", "high"],
                                    ["--min-elevation", "91"], ["--threshold-low", "-1"],
                                    ["--threshold-critical", "nan"]])
def test_bad_option_is_a_usage_error(capsys, option):
    """Every command that analyses checks its settings alike: the same usage error after its name."""
    errors = []
    for command in ("analyze", "batch"):
        with pytest.raises(SystemExit) as stop:
            commands.main([command, str(SAMPLE_OBS), *option])
        assert stop.value.code == 2
        err = capsys.readouterr().err
        assert err.startswith(f"usage: vardoln-cn0 {command} ")
        errors.append(err.splitlines()[-1].removeprefix(f"vardoln-cn0 {command}: "))
    assert errors[0] == errors[1] and errors[0].startswith("error: argument")


@pytest.mark.parametrize("options, message", [
    (["--workers", "0"], "argument --workers: expected a whole number of 1 or more, got '0'"),
    (["--parquet", "rows.parquet"], "--parquet needs --jsonl: the Parquet file is made from its rows"),
    (["--resume"], "--resume needs the --jsonl or --csv output or the --store to continue"),
])
def test_batch_option_checks_are_usage_errors(capsys, options, message):
    with pytest.raises(SystemExit) as stop:
        commands.main(["batch", str(SAMPLE_OBS), "--no-progress", *options])
    assert stop.value.code == 2
    err = capsys.readouterr().err
    assert err.startswith("usage: vardoln-cn0 batch ") and err.endswith(f"vardoln-cn0 batch: error: {message}\n")


def test_without_matplotlib(capsys, tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    monkeypatch.delitem(sys.modules, "vardoln_tools.render.plots", raising=False)
    code, _, err = run(capsys, "analyze", SAMPLE_OBS, "--plots", tmp_path / "plots")
    assert code == 1 and err.count("\n") == 1 and "matplotlib" in err
    assert not (tmp_path / "plots").exists()
    code, _, _ = run(capsys, "analyze", SAMPLE_OBS, "--html", tmp_path / "report.html")
    page = (tmp_path / "report.html").read_text(encoding="utf-8")
    assert code == 0 and "<img" not in page and "matplotlib" in page


def test_installed_console_script(tmp_path):
    entry = tomllib.loads((REPO_ROOT / "pyproject.toml").read_text())["project"]["scripts"]["vardoln-cn0"]
    module, function = entry.split(":")
    assert getattr(importlib.import_module(module), function) is commands.main
    script = shutil.which("vardoln-cn0", path=str(Path(sys.executable).parent))
    if script is None:
        pytest.skip("console script not installed in this environment")
    if f"from {module} import {function}" not in Path(script).read_text():
        pytest.skip(f"{script} was installed from an earlier entry point; reinstall the package")
    done = subprocess.run([script, "analyze", str(SAMPLE_OBS), "--json", str(tmp_path / "a.json")],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert "Station        SEPT" in done.stdout
    assert json.loads((tmp_path / "a.json").read_text())["summary"]["total_epochs"] == 360
    done = subprocess.run([script, "info", str(tmp_path)], capture_output=True, text=True, timeout=120)
    assert done.returncode == 1 and done.stderr.startswith("vardoln-cn0: error: ")
