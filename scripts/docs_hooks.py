"""Build-time parts of the documentation site (mkdocs.yml names this file as its hooks).

- The Python API section gets one page per public subpackage of vardoln_tools (with its public
  modules), found on disk, so a new one appears without editing anything.
- Plots of the bundled sample recording are drawn at build time, as the current code draws them.
- Markers in the pages are replaced by what they name, so that nothing is copied by hand:
  `<!-- file: path -->` by the file as a code block, `<!-- command: vardoln-cn0 ... -->` by the
  command and what it prints, and `<!-- text: name -->` by a text of the package (package_text).
"""

from __future__ import annotations

import functools
import re
import shlex
import subprocess
import sys
from pathlib import Path
from typing import Any

from mkdocs.config.defaults import MkDocsConfig
from mkdocs.structure.files import File, Files
from mkdocs.structure.pages import Page

ROOT = Path(__file__).resolve().parents[1]
TOOLS = ROOT / "python" / "vardoln_tools"
SAMPLE_OBS = "samples/SEPT265G.21O"
SAMPLE_NAV = "samples/SEPT2650.21P"
MARKER = re.compile(r"^<!-- (file|command|text): (.+?) -->$", re.MULTILINE)
# Anything shaped like a marker, so that one of an unknown kind fails the build instead of vanishing.
MARKER_SHAPE = re.compile(r"^<!-- ([a-z]+): .+ -->$", re.MULTILINE)
LANGUAGES = {".py": "python", ".toml": "toml", ".sh": "sh"}


def tool_modules() -> list[str]:
    """The public subpackages of vardoln_tools: its folders with an __init__.py not starting with
    "_". Its top-level modules are the former paths of moved modules and get no page."""
    return [path.name for path in sorted(TOOLS.iterdir())
            if not path.name.startswith("_") and (path / "__init__.py").is_file()]


def api_pages() -> dict[str, str]:
    """Page path -> page text of the generated reference pages: one per subpackage, with its
    public modules."""
    pages = {"reference/vardoln_tools.md": "::: vardoln_tools\n"}
    for name in tool_modules():
        pages[f"reference/vardoln_tools.{name}.md"] = (f"::: vardoln_tools.{name}\n"
                                                        "    options:\n      show_submodules: true\n")
    return pages


@functools.cache
def sample_plots() -> list[tuple[str, bytes]]:
    """(file stem, PNG) of every plot that `vardoln-cn0 analyze --plots` draws for the sample
    recording with its navigation file: the command's own route, so the pages show what it makes."""
    import contextlib
    import io
    import tempfile

    from vardoln_tools import commands

    with tempfile.TemporaryDirectory() as directory, contextlib.redirect_stdout(io.StringIO()):
        status = commands.main(["analyze", str(ROOT / SAMPLE_OBS), "--nav", str(ROOT / SAMPLE_NAV), "--plots", directory])
        if status != 0:
            raise RuntimeError(f"vardoln-cn0 analyze of the sample ended with status {status}")
        return [(png.stem, png.read_bytes()) for png in sorted(Path(directory).glob("*.png"))]


def file_block(relative: str) -> str:
    path = ROOT / relative
    language = LANGUAGES.get(path.suffix, "text")
    return f"```{language}\n{path.read_text(encoding='utf-8').rstrip()}\n```\n"


def command_block(command: str) -> str:
    """The command run from the repository root with the installed vardoln-cn0, and its output."""
    words = shlex.split(command)
    program = Path(sys.executable).with_name(words[0])
    done = subprocess.run([str(program), *words[1:]], cwd=ROOT, capture_output=True, text=True, timeout=600)
    if done.returncode != 0:
        raise RuntimeError(f"{command} failed: {done.stderr}")
    return f"```text\n$ {command}\n{done.stdout.rstrip()}\n```\n"


def package_text(name: str) -> str:
    """A text that the package itself writes, so that the pages and the tools say the same."""
    from vardoln_tools.judge import assessment

    texts = {"grade bands": assessment.grade_bands_text, "grade rules": grade_rules_table,
             "criteria thresholds": thresholds_table, "nominal cn0": nominal_table}
    return texts[name]() + "\n"


def grade_rules_table() -> str:
    """The grade rules as the core applies them, first match wins."""
    from vardoln_tools.judge import assessment

    rows = [f"| {grade} | {rule} |" for grade, rule in assessment.grade_rules()]
    return "\n".join(["| grade | when (the first rule that matches) |", "|---|---|", *rows])


THRESHOLD_NAMES = {
    "completeness_percent": ("completeness", "per constellation: present of the expected observations above the "
                             "mask, %"),
    "multipath_metres": ("multipath", "per constellation and signal pair: the larger RMS of the two signals, m"),
    "observations_per_slip": ("slips", "per constellation and signal pair: observations per phase slip"),
    "cn0_shortfall_db": ("C/N0 at 30-60°", "per signal: nominal level minus the mean at 30 to 60°, dB"),
    "cn0_median_shortfall_db": ("C/N0 at 30-60°", "all signals: the median of those shortfalls, dB"),
    "navigation_coverage_percent": ("navigation coverage", "observed satellite-epochs that the records position, "
                                    "over the constellations the records hold, %"),
}


def thresholds_table() -> str:
    """The criteria thresholds of the core."""
    from vardoln_tools import _native

    rows = []
    for key, limit in _native.health_rules()["thresholds"].items():
        group, figure = THRESHOLD_NAMES[key]
        sign = "≥" if limit["higher_is_better"] else "≤"
        rows.append(f"| {group} | {figure} | {sign} {limit['pass']:g} | {sign} {limit['warn']:g} |")
    rows.append("| events | the event detector's episodes | none | (any event fails) |")
    return "\n".join(["| criterion | figure | pass | warn (else fail) |", "|---|---|---|---|", *rows])


def nominal_table() -> str:
    """The nominal C/N0 levels of the core, by signal type."""
    from vardoln_tools import _native

    names = {"G": "GPS", "R": "GLONASS", "E": "Galileo", "C": "BeiDou", "J": "QZSS"}
    rows = [f"| {names.get(system, system)} | {band} | {', '.join(modes) if modes else 'any'} | {level:g} |"
            for system, band, modes, level in _native.health_rules()["nominal_cn0"]]
    return "\n".join(["| constellation | band digit | tracking modes | nominal dB-Hz |", "|---|---|---|---|", *rows])


def expand(kind: str, argument: str) -> str:
    if kind == "text":
        return package_text(argument)
    if kind == "file":
        return file_block(argument)
    return command_block(argument)


def on_config(config: MkDocsConfig) -> MkDocsConfig:
    """Adds the generated reference pages to the Python API section of the navigation."""
    for entry in config.nav or []:
        if isinstance(entry, dict) and "Python API" in entry:
            section: list[Any] = entry["Python API"]
            section += [{Path(page).stem: page} for page in api_pages()]
            return config
    raise ValueError("mkdocs.yml has no 'Python API' section in its nav")


def on_files(files: Files, config: MkDocsConfig) -> Files:
    for page, text in api_pages().items():
        files.append(File.generated(config, page, content=text))
    for stem, png in sample_plots():
        files.append(File.generated(config, f"plots/sample-{stem}.png", content=png))
    return files


def on_page_markdown(markdown: str, page: Page, config: MkDocsConfig, files: Files) -> str:
    for match in MARKER_SHAPE.finditer(markdown):
        if not MARKER.fullmatch(match.group(0)):
            raise ValueError(f"{page.file.src_path}: unknown marker {match.group(0)}")
    return MARKER.sub(lambda match: expand(match.group(1), match.group(2)), markdown)
