"""The network dashboard: synthetic stations whose pictures are known by construction, the
incremental redraw, escaping of hostile names, and the pages in a real browser."""

import datetime
import math
import os
import re
import shutil
import subprocess
import urllib.parse
from dataclasses import replace
from html.parser import HTMLParser
from pathlib import Path

import pytest

from conftest import browser_environment

from vardoln_tools.render import dashboard
from vardoln_tools.render.dashboard import ChangeMark, Series, StationView, write_dashboard

START = datetime.date(2024, 1, 1)
DAYS = tuple(START + datetime.timedelta(days=i) for i in range(100))
STEP_DAY = 50  # first day on the lower level
FLAGGED = (50, 51, 52, 99)
HOSTILE_MARKER = "<script>alert('marker')</script>"


def step_series():
    """C/N0 at 45 dB-Hz for 50 days, then 40; the band (45 +/- 0.5) from day 10 on; the first
    three days after the step and the last day flagged; one change mark at the step."""
    values = tuple(45.0 if i < STEP_DAY else 40.0 for i in range(100))
    band_mean = tuple(math.nan if i < 10 else 45.0 for i in range(100))
    band_sigma = tuple(math.nan if i < 10 else 0.5 for i in range(100))
    mark = ChangeMark(DAYS[STEP_DAY], 0.97, 45.0, 40.0, ("receiver TRIMBLE NETR9 -> SEPT POLARX5",))
    return Series("cn0_GPS_S1C", "GPS S1C C/N0", "dB-Hz", DAYS, values, band_mean, band_sigma,
                  tuple(i in FLAGGED for i in range(100)), (mark,), True)


def gappy_series():
    """Completeness with no data on days 20-24, 60 and 62: three stretches of line and day 61 alone."""
    values = tuple(math.nan if 20 <= i < 25 or i in (60, 62) else 99.0 for i in range(100))
    nothing = (math.nan,) * 100
    return Series("completeness_GPS", "GPS completeness (%)", "%", DAYS, values, nothing, nothing,
                  (False,) * 100, (), True)


def station(name, series, **fields):
    view = StationView(station=name, identifier=f"{name}00NOR", marker_name=f"{name} marker", last_day=DAYS[-1],
                       series=series, equipment_changes=(), event_days=(), reports=(), fingerprint=f"{name}-1")
    return replace(view, **fields)


def network(tmp_path):
    """Three stations: one with the step, its equipment change, a jamming day and two reports (one
    path absolute, one relative to the output dir); one with gaps; one with a hostile name."""
    reports = tmp_path / "out" / "reports"
    reports.mkdir(parents=True)
    for day in (DAYS[STEP_DAY], DAYS[-1]):
        (reports / f"STEP {day}.html").write_text("report")
    return [
        station("STEP", (step_series(),),
                equipment_changes=((DAYS[STEP_DAY], "receiver TRIMBLE NETR9 -> SEPT POLARX5"),),
                event_days=((DAYS[20], "jamming"),),
                reports=((DAYS[STEP_DAY], str(reports / f"STEP {DAYS[STEP_DAY]}.html")),
                         (DAYS[-1], f"reports/STEP {DAYS[-1]}.html"))),
        station("GAPS", (gappy_series(),)),
        station("<b>../x", (gappy_series(),), identifier="\"'&", marker_name=HOSTILE_MARKER),
    ]


class Links(HTMLParser):
    """The links, ids, script elements and table rows of a page."""

    def __init__(self, text):
        super().__init__()
        self.links, self.ids, self.scripts, self.rows = [], set(), 0, 0
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        attributes = dict(attrs)
        self.links += [attributes[key] for key in ("href", "src") if key in attributes]
        if "id" in attributes:
            self.ids.add(attributes["id"])
        self.scripts += tag == "script"
        self.rows += tag == "tr"


def all_files(directory):
    return {path.relative_to(directory): path.read_bytes() for path in sorted(directory.rglob("*")) if path.is_file()}


def value_points(svg):
    """(x, y) in pixels of every point of the value line and its lone days, and the number of
    stretches of line and of lone days: the paths are in relative whole-number steps under one
    translate/scale transform."""
    tx, ty, sx, sy = map(float, re.search(r'transform="translate\(([-\d.]+) ([-\d.]+)\) scale\(([-\d.e]+) '
                                          r'([-\d.e]+)\)"', svg).groups())
    line = re.search(r'<path class="val" d="([^"]*)"', svg).group(1)
    dots = re.search(r'<path class="dot" d="([^"]*)"', svg)
    dots = dots.group(1) if dots else ""
    assert "h0" not in line and dots.count("h0") == dots.count("M")
    points = {}
    for stretch in (line + dots).split("M")[1:]:
        head, _, rest = stretch.removesuffix("h0").partition("l")
        x, y = map(int, head.split(","))
        points[x] = y
        numbers = list(map(int, re.findall(r"-?\d+", rest)))
        for dx, dy in zip(numbers[::2], numbers[1::2]):
            x, y = x + dx, y + dy
            points[x] = y
    return {x: (tx + sx * x, ty + sy * y) for x, y in points.items()}, (line.count("M"), dots.count("M"))


def test_pages_links_plots_and_escaping(tmp_path):
    out = tmp_path / "out"
    result = write_dashboard(network(tmp_path), out, title="Arctic <network>")
    assert (result.pages_written, result.pages_kept, result.index) == (3, 0, str(out / "index.html"))
    pages = sorted((out / "stations").iterdir())
    assert [page.name for page in pages][:2] == ["GAPS.html", "STEP.html"]
    assert re.fullmatch(r"b_x-[0-9a-f]{10}\.html", pages[2].name)

    # Every local link reaches a file (and every fragment an element of the page).
    for page in [out / "index.html", *pages]:
        parsed = Links(page.read_text(encoding="utf-8"))
        for link in parsed.links:
            path, _, fragment = urllib.parse.unquote(link).partition("#")
            assert path == "" or (page.parent / path).is_file(), (page.name, link)
            assert path != "" or fragment in parsed.ids, (page.name, link)
        # Hostile text shows as text: the one script is the sorting script of the network page.
        text = page.read_text(encoding="utf-8")
        assert "<script>alert" not in text and "<b>" not in text and "<network>" not in text
        assert parsed.scripts == (page.name == "index.html")

    index = (out / "index.html").read_text(encoding="utf-8")
    assert Links(index).rows == 1 + 3
    assert html_escaped(HOSTILE_MARKER) in index and "&quot;&#x27;&amp;" in index
    assert "GPS S1C C/N0" in index and "GPS completeness (%)" in index
    # STEP's latest value, 40 against a band of 45 +/- 0.5 with higher better: far worse, flagged.
    step_row = next(row for row in index.split("<tr>") if 'href="stations/STEP.html"' in row)
    assert re.search(r'<td class="num b3" data-v="40.0" title="2024-04-09[^"]*">40<span class="fl">', step_row)
    assert 'href="reports/STEP%202024-04-09.html"' in step_row

    step = (out / "stations" / "STEP.html").read_text(encoding="utf-8")
    points, stretches = value_points(step)
    assert stretches == (1, 0) and len(points) == 100
    assert points[60][1] > points[40][1]  # 40 dB-Hz is drawn below 45
    slot = (dashboard.PLOT_RIGHT - dashboard.PLOT_LEFT) / 100
    assert points[0][0] == pytest.approx(dashboard.PLOT_LEFT + slot / 2, abs=0.01)
    # The change line stands between the last day on the old level and the first on the new one.
    change_x = float(re.search(r'<g class="cp"><title>2024-02-20: change, confidence 0.97, mean 45 -&gt; 40 dB-Hz; '
                               r'receiver TRIMBLE NETR9 -&gt; SEPT POLARX5</title><path d="M([\d.]+),', step).group(1))
    assert change_x == pytest.approx((points[49][0] + points[50][0]) / 2, abs=0.06)
    assert change_x == pytest.approx(dashboard.PLOT_LEFT + STEP_DAY * slot, abs=0.06)
    equipment_x = float(re.search(r'<g class="eq"><title>[^<]*</title><path d="M([\d.]+),', step).group(1))
    assert equipment_x == change_x
    circles = [(float(x), float(y)) for x, y in re.findall(r'<circle class="flag" cx="([\d.]+)" cy="([\d.]+)"', step)]
    assert circles == [pytest.approx(points[day], abs=0.06) for day in FLAGGED]
    jamming = re.search(r'<rect class="ej" x="([\d.]+)" y="\d+" width="([\d.]+)"', step)
    assert float(jamming.group(1)) + float(jamming.group(2)) / 2 == pytest.approx(points[20][0], abs=0.06)
    assert step.count('class="band"') == 1 and step.count('<path class="mean"') == 1

    # No data on days 20-24, 60 and 62 breaks the line into three stretches and a dot; no band, no circles.
    gaps = (out / "stations" / "GAPS.html").read_text(encoding="utf-8")
    points, stretches = value_points(gaps)
    assert stretches == (3, 1) and sorted(points) == [i for i in range(100) if not (20 <= i < 25 or i in (60, 62))]
    assert points[61][1] == points[0][1]
    assert 'class="band"' not in gaps and "<circle" not in gaps


def html_escaped(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace("'", "&#x27;")


def test_incremental_redraw(tmp_path):
    out = tmp_path / "out"
    views = network(tmp_path)
    # Only the report given relative to the output dir: the copy in another folder below links the same.
    views[0] = replace(views[0], reports=views[0].reports[1:])
    write_dashboard(views, out)
    first = all_files(out)
    old = 1_000_000_000
    for page in (out / "stations").iterdir():
        os.utime(page, (old, old))

    # One station's data change: its page alone is drawn again, the others are left untouched.
    changed = replace(views[1], series=(replace(gappy_series(), values=(97.0,) * 100),), fingerprint="GAPS-2")
    result = write_dashboard([views[0], changed, views[2]], out)
    assert (result.pages_written, result.pages_kept) == (1, 2)
    second = all_files(out)
    for name, data in first.items():
        if name.parts[0] == "stations":
            assert (data == second[name]) == (name.name != "GAPS.html"), name
            assert ((out / name).stat().st_mtime == old) == (name.name != "GAPS.html"), name
    assert first[Path("index.html")] != second[Path("index.html")]

    # A new fingerprint with the same data: drawn again, but the file is left as it was.
    result = write_dashboard([views[0], changed, replace(views[2], fingerprint="new")], out)
    assert (result.pages_written, result.pages_kept) == (1, 2)
    hostile_page = out / "stations" / f"{dashboard.page_name('<b>../x')}.html"
    assert hostile_page.read_bytes() == second[hostile_page.relative_to(out)] and hostile_page.stat().st_mtime == old

    # A missing page is drawn again even though its fingerprint is unchanged; a station no longer
    # given loses its page; the same views in a new folder give byte-identical files.
    (out / "stations" / "STEP.html").unlink()
    result = write_dashboard([changed, views[0]], out)
    assert (result.pages_written, result.pages_kept) == (1, 1)
    assert sorted(page.name for page in (out / "stations").iterdir()) == ["GAPS.html", "STEP.html"]
    fresh = tmp_path / "fresh"
    shutil.copytree(out / "reports", fresh / "reports")
    write_dashboard([views[0], changed], fresh)
    assert all_files(fresh) == all_files(out)


def test_pages_render_in_chromium(tmp_path):
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if browser is None:
        pytest.skip("chromium not installed")
    out = tmp_path / "out"
    write_dashboard(network(tmp_path), out)

    def dump(url):
        run = subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--enable-logging=stderr",
                              "--v=0", f"--user-data-dir={tmp_path / 'profile'}", "--dump-dom", url],
                             capture_output=True, text=True, timeout=120, check=True,
                             env=browser_environment())
        # Every console message, errors of the page's script among them, is logged as CONSOLE.
        assert ":CONSOLE" not in run.stderr, run.stderr
        return run.stdout

    # Sorted by the second metric column (completeness), highest first: GAPS and the hostile station
    # (99 %) before STEP, which has no completeness and so comes last.
    dom = dump((out / "index.html").as_uri() + "#sort=-4")
    assert 'data-sort-ready="1"' in dom and 'aria-sort="descending"' in dom
    order = re.findall(r'<a href="stations/([^"]+)\.html"', dom)
    hostile = urllib.parse.quote(dashboard.page_name("<b>../x"))
    assert order[2] == "STEP" and sorted(order[:2]) == sorted(["GAPS", hostile])
    dom = dump((out / "index.html").as_uri() + "#sort=-0")
    assert re.findall(r'<a href="stations/([^"]+)\.html"', dom)[:2] == ["STEP", "GAPS"]

    dom = dump((out / "stations" / "STEP.html").as_uri())
    assert '<path class="val" d="M0,' in dom and '<g class="cp">' in dom and dom.count('<circle class="flag"') == 4


ODD_SERIES = {  # name: (days, values, band mean, band sigma); flagged everywhere
    "no days": ([], [], [], []),
    "one day": ([START], [5.0], [5.0], [0.0]),
    "first and last date": ([datetime.date.min, datetime.date.max], [1.0, 2.0], [], []),
    "beyond float range": (DAYS[:3], [1.7e308, -1.7e308, math.inf], [1e308] * 3, [1e308] * 3),
    "subnormal": (DAYS[:2], [5e-324, 0.0], [0.0, 0.0], [5e-324, -1.0]),
    "lengths differ": (DAYS[:3], [1.0], [2.0], []),
    "days backwards": (DAYS[2::-1], [1.0, 2.0, 3.0], [], []),
    "no values": (DAYS[:2], [math.nan, math.nan], [1.0, 1.0], [0.1, 0.1]),
}


def test_odd_input_draws_finite_pages(tmp_path):
    mark = ChangeMark(datetime.date.max, math.nan, math.inf, -math.inf, ("\x00\ud800<b>",))
    views = [station(name, (Series("m", "m", "u", tuple(days), tuple(values), tuple(mean), tuple(sigma), (True,) * 4,
                                   (mark,), None),), equipment_changes=((datetime.date.min, "\ud800"),),
                     reports=((START, "javascript:alert(1)"),), station=name)
             for name, (days, values, mean, sigma) in ODD_SERIES.items()]
    views += [replace(views[0], fingerprint="again"), replace(views[0], station="NUL"), replace(views[0], station="")]
    result = write_dashboard(views, tmp_path)
    assert result.pages_written == len(views) == len(list((tmp_path / "stations").iterdir()))
    for page in [tmp_path / "index.html", *(tmp_path / "stations").iterdir()]:
        text = page.read_text(encoding="utf-8")
        assert not re.search(r'="[^"]*(nan|inf)', text, re.IGNORECASE), page.name
        assert 'href="javascript' not in text and "<b>" not in text
