"""The examples of the guide (examples/*.py) run on the bundled sample and print what the module
computes; the README stays a short front page whose examples print what it shows."""

import json
import re
import shlex
import subprocess
import sys

import pytest

import vardoln_cn0 as v
from conftest import REPO_ROOT
from vardoln_tools import commands

EXAMPLES = REPO_ROOT / "examples"
README = REPO_ROOT / "README.md"
README_LIMIT_BYTES = 16 * 1024
SAMPLE_OBS = str(REPO_ROOT / "samples" / "SEPT265G.21O")
SAMPLE_NAV = str(REPO_ROOT / "samples" / "SEPT2650.21P")


def run_example(name, *args):
    done = subprocess.run([sys.executable, str(EXAMPLES / name), *map(str, args)], capture_output=True, text=True,
                          timeout=300)
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines()


def test_every_example_is_run_here():
    assert sorted(path.name for path in EXAMPLES.glob("*.py")) == [
        "batch_table.py", "configured_analyses.py", "monitor_stream.py", "quickstart.py", "read_files.py"]


def test_quickstart_prints_the_analysis_and_writes_its_export(tmp_path):
    out = tmp_path / "analysis.json"
    lines = run_example("quickstart.py", SAMPLE_OBS, SAMPLE_NAV, out)
    result = v.analyze_cn0(SAMPLE_OBS, SAMPLE_NAV, min_elevation=10.0, systems=["G", "E"])
    gps = result.get_constellation_summary("GPS")
    assert lines == [
        f"{result.quality_grade} {result.summary}",
        f"{result.mean_cn0} {result.anomaly_count} {result.jamming_detected} {result.spoofing_detected}",
        f"GPS: {gps['satellite_count']} satellites, mean C/N0 {gps['mean_cn0']} dB-Hz",
    ]
    exported = json.loads(out.read_text())
    assert exported["summary"]["total_epochs"] == 360 == result.total_epochs
    assert run_example("quickstart.py") == lines  # the defaults are the bundled sample


@pytest.mark.parametrize("name", ["configured_analyses.py", "read_files.py", "batch_table.py"])
def test_examples_analyse_the_sample(name):
    lines = run_example(name)
    result = v.CN0Analyzer(v.AnalysisConfig()).analyze_with_nav(SAMPLE_OBS, SAMPLE_NAV)
    expected = {
        "configured_analyses.py": f"SEPT265G.21O: {result.quality_score.rating}, score {result.score:.1f}",
        "read_files.py": "RinexObsData(version=3.04, epochs=360, satellites=20)",
        "batch_table.py": "SEPT265G.21O",
    }[name]
    assert any(line.startswith(expected) for line in lines), lines


def readme_blocks(language):
    """The fenced blocks of one language in README.md, in order, without their fences."""
    text = README.read_text(encoding="utf-8")
    return re.findall(rf"^```{language}\n(.*?)^```$", text, re.MULTILINE | re.DOTALL)


def test_readme_is_a_short_front_page_that_starts_with_the_two_commands():
    text = README.read_text(encoding="utf-8")
    assert text.splitlines()[:4] == [
        "```sh",
        "./scripts/demo   # set up (CPython 3.12 venv, packages, build) and analyse the bundled sample recording",
        "./scripts/test   # set up and run every test (C++ core with GoogleTest, Python surface with pytest)",
        "```",
    ]
    assert len(README.read_bytes()) <= README_LIMIT_BYTES
    # Every relative link and picture points at a file of the repository.
    targets = [target for target in re.findall(r"\]\(([^)#\s]+)", text) if "://" not in target]
    assert any(target.startswith("docs/images/") for target in targets)
    for target in targets:
        assert (REPO_ROOT / target).is_file(), target


def test_readme_python_example_prints_what_the_readme_shows():
    (example,) = readme_blocks("python")
    shown = readme_blocks("text")[0]
    done = subprocess.run([sys.executable, "-c", example], cwd=REPO_ROOT, capture_output=True, text=True,
                          timeout=300)
    assert done.returncode == 0, done.stderr
    assert done.stdout == shown


def test_readme_command_line_example_prints_what_the_readme_shows(capsys, monkeypatch):
    command, shown = readme_blocks("text")[1].split("\n", 1)
    words = shlex.split(command.removeprefix("$ "))
    assert words[0] == "vardoln-cn0"
    monkeypatch.chdir(REPO_ROOT)  # the summary names the files as given
    assert commands.main(words[1:]) == 0
    assert capsys.readouterr().out == shown


def test_monitor_stream_raises_the_alarms_of_the_episode_it_writes(tmp_path):
    stream = tmp_path / "jammed.rtcm3"
    lines = run_example("monitor_stream.py", SAMPLE_OBS, SAMPLE_NAV, stream)
    assert lines[:4] == [
        "start outage at 2021-09-22T06:30:39.000Z",
        "end   outage at 2021-09-22T06:31:50.000Z",
        "start jamming at 2021-09-22T06:33:00.000Z: L1,L2, 15 satellites, 10.1 dB down",
        "end   jamming at 2021-09-22T06:34:59.000Z: L1,L2, 15 satellites, 10.2 dB down"]
    assert lines[4].startswith("window 2021-09-22T06:30:00.000Z: 290 epochs, grade F, jamming DETECTED: 1 event")
    # The stream it kept is what the command monitors.
    code = commands.main(["monitor", str(stream), "--nav", SAMPLE_NAV, "--window", "6", "--date", "2021-09-22"])
    assert code == 0
