"""The README's Python examples (examples/*.py) run on the bundled sample and print what the module
computes."""

import json
import subprocess
import sys

import pytest

import vardoln_cn0 as v
from conftest import REPO_ROOT

EXAMPLES = REPO_ROOT / "examples"
SAMPLE_OBS = str(REPO_ROOT / "samples" / "SEPT265G.21O")
SAMPLE_NAV = str(REPO_ROOT / "samples" / "SEPT2650.21P")


def run_example(name, *args):
    done = subprocess.run([sys.executable, str(EXAMPLES / name), *map(str, args)], capture_output=True, text=True,
                          timeout=300)
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines()


def test_every_example_is_run_here():
    assert sorted(path.name for path in EXAMPLES.glob("*.py")) == [
        "batch_table.py", "configured_analyses.py", "quickstart.py", "read_files.py"]


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
