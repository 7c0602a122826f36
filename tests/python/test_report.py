"""Plots and the HTML report of `vardoln-cn0 analyze`: valid PNGs, a self-contained page, a browser render."""

import json
import re
import shutil
import subprocess
from html.parser import HTMLParser

import pytest

import vardoln_cn0 as v
from vardoln_tools import __version__
from vardoln_tools.judge.assessment import CRITERION_GROUPS, assess

from test_cli import SAMPLE_NAV, SAMPLE_OBS, fade_recording
from vardoln_tools import commands

image = pytest.importorskip("matplotlib.image")

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
ALL_PLOTS = ["constellations.png", "heatmap.png", "skyplot.png", "timeseries.png", "visibility.png"]


class Page(HTMLParser):
    """Collects what the tests look at: elements by tag, attribute values, table cells and text."""

    def __init__(self, text):
        super().__init__()
        self.tags, self.attributes, self.cells, self.text = [], [], [], []
        self._in_cell = False
        self.feed(text)
        self.close()

    def handle_starttag(self, tag, attrs):
        self.tags.append((tag, dict(attrs)))
        self.attributes += [value or "" for _, value in attrs]
        self._in_cell = tag in ("td", "th")

    def handle_endtag(self, tag):
        self._in_cell = False

    def handle_data(self, data):
        self.text.append(data)
        if self._in_cell:
            self.cells.append(data)


@pytest.fixture(scope="module")
def sample_outputs(tmp_path_factory):
    """One analysis of the bundled sample with plots and report (plotting is the slow part)."""
    out = tmp_path_factory.mktemp("report")
    code = commands.main(["analyze", str(SAMPLE_OBS), "--nav", str(SAMPLE_NAV), "--plots", str(out / "plots"),
                     "--html", str(out / "report.html")])
    assert code == 0
    return out


def test_plots_are_valid_pngs(sample_outputs):
    plots = sample_outputs / "plots"
    assert sorted(path.name for path in plots.iterdir()) == ALL_PLOTS
    for path in plots.iterdir():
        assert path.read_bytes().startswith(PNG_SIGNATURE)
        pixels = image.imread(path)
        assert pixels.shape[0] > 200 and pixels.shape[1] > 200 and pixels.std() > 0.05


def test_report_is_self_contained(sample_outputs):
    page = Page((sample_outputs / "report.html").read_text(encoding="utf-8"))
    sources = [attrs["src"] for tag, attrs in page.tags if tag == "img"]
    assert len(sources) == len(ALL_PLOTS)
    assert all(src.startswith("data:image/png;base64,") for src in sources)
    assert not [value for value in page.attributes if "http:" in value or "https:" in value]
    assert not [tag for tag, attrs in page.tags if tag in ("script", "link", "iframe")]


def test_report_contents(sample_outputs):
    page = Page((sample_outputs / "report.html").read_text(encoding="utf-8"))
    text = " ".join(page.text)
    for verdict in ("Jamming: not detected", "Interference: not detected", "Spoofing: not detected"):
        assert verdict in text
    assert "BRDC Navigation (41 satellites)" in text
    # files, criteria, settings, recording, constellations, navigation coverage, visibility lists
    assert [tag for tag, _ in page.tags].count("table") == 7
    gps = next(i for i, cell in enumerate(page.cells) if cell == "GPS" and page.cells[i + 1] == "8/9")
    assert page.cells[gps:gps + 9] == ["GPS", "8/9", "11770", "40.8", "17.8", "54.2", "8.66", "0", "10"]
    # The health grade and its sentence head the page; every criterion is listed with its status, and
    # the analysis's own stored grade is not shown.
    assert page.text[page.text.index("A") + 1] == "Grade A: Every assessed criterion passes."
    judged = assess(SAMPLE_OBS, [SAMPLE_NAV])
    statuses = [page.cells[index + 3] for index, cell in enumerate(page.cells) if cell in CRITERION_GROUPS.values()]
    assert statuses == [criterion.status for criterion in judged.quality.criteria]
    stored = json.loads(v.analyze_cn0(str(SAMPLE_OBS), str(SAMPLE_NAV)).to_json())["quality_score"]
    assert stored["interpretation"] not in text and "Notebook" not in text
    assert "No event." in text and "Appendix: epochs where two or more satellites fall" in text
    made = page.cells[page.cells.index("Made") + 1]
    assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", made)
    for cell in ("Tool", f"vardoln-cn0 {__version__}", str(SAMPLE_OBS), str(SAMPLE_NAV), "elevation mask", "5°",
                 "constellations", "G,R,E,C", "100.0%"):
        assert cell in page.cells, cell
    assert "The first rule that matches gives the letter" in text and "2021-09-22T06:30:00" in text


def test_report_without_navigation_lists_anomalies_in_its_appendix(tmp_path, write_rinex, capsys):
    report = tmp_path / "fade.html"
    assert commands.main(["analyze", str(fade_recording(write_rinex)), "--html", str(report)]) == 0
    page = Page(report.read_text(encoding="utf-8"))
    alts = [attrs["alt"] for tag, attrs in page.tags if tag == "img"]
    # No satellite positions without navigation data: no skyplot, heatmap or visibility plot.
    assert alts == ["C/N0 and satellites over time", "C/N0 per constellation"]
    assert "2024-01-15T06:05:00.000Z" in page.cells and "G05,G07" in page.cells
    assert "No navigation file given: no visibility prediction." in page.text


def test_report_renders_in_chromium(sample_outputs, tmp_path):
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if browser is None:
        pytest.skip("chromium not installed")
    shot = tmp_path / "shot.png"
    subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", f"--user-data-dir={tmp_path / 'profile'}",
                    f"--screenshot={shot}", "--window-size=1200,2000",
                    (sample_outputs / "report.html").as_uri()], capture_output=True, timeout=120, check=True)
    pixels = image.imread(shot)
    assert pixels.shape[:2] == (2000, 1200)
    # A blank page is one colour; text, tables and plots spread the pixel values.
    assert pixels[..., :3].std() > 0.05
