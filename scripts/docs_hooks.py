"""Build-time parts of the documentation site (mkdocs.yml names this file as its hooks).

- The Python API section gets one page per public module of vardoln_tools, found on disk, so a new
  module appears without editing anything.
- Plots of the bundled sample recording are drawn at build time, as the current code draws them.
- Markers in the pages are replaced by what they name, so that nothing is copied by hand:
  `<!-- readme: Heading -->` by that section of README.md, `<!-- file: path -->` by the file as a
  code block, `<!-- command: vardoln-cn0 ... -->` by the command and what it prints, and
  `<!-- text: name -->` by a text of the package (TEXTS).
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
MARKER = re.compile(r"^<!-- (readme|file|command|text): (.+?) -->$", re.MULTILINE)
LANGUAGES = {".py": "python", ".toml": "toml", ".sh": "sh"}


def tool_modules() -> list[str]:
    """The public modules of vardoln_tools: its .py files and subpackages not starting with "_"."""
    names = []
    for path in sorted(TOOLS.iterdir()):
        if path.name.startswith("_"):
            continue
        if path.suffix == ".py" or (path / "__init__.py").is_file():
            names.append(path.stem)
    return names


def api_pages() -> dict[str, str]:
    """Page path -> page text of the generated reference pages."""
    pages = {"reference/vardoln_tools.md": "::: vardoln_tools\n"}
    for name in tool_modules():
        pages[f"reference/vardoln_tools.{name}.md"] = f"::: vardoln_tools.{name}\n"
    return pages


@functools.cache
def sample_plots() -> list[tuple[str, bytes]]:
    """(file stem, PNG) of every plot that `vardoln-cn0 analyze --plots` draws for the sample
    recording with its navigation file: the command's own route, so the pages show what it makes."""
    import contextlib
    import io
    import tempfile

    from vardoln_tools import cli

    with tempfile.TemporaryDirectory() as directory, contextlib.redirect_stdout(io.StringIO()):
        status = cli.main(["analyze", str(ROOT / SAMPLE_OBS), "--nav", str(ROOT / SAMPLE_NAV), "--plots", directory])
        if status != 0:
            raise RuntimeError(f"vardoln-cn0 analyze of the sample ended with status {status}")
        return [(png.stem, png.read_bytes()) for png in sorted(Path(directory).glob("*.png"))]


def readme_section(heading: str) -> str:
    """The body of the README section "## heading", up to the next section."""
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    match = re.search(rf"^## {re.escape(heading)}\n(.*?)(?=^## |\Z)", text, re.MULTILINE | re.DOTALL)
    if match is None:
        raise ValueError(f"README.md has no section '## {heading}'")
    return match.group(1).strip() + "\n"


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
    from vardoln_tools import assessment

    texts = {"grade bands": assessment.grade_bands_text}
    return texts[name]() + "\n"


def expand(kind: str, argument: str) -> str:
    if kind == "text":
        return package_text(argument)
    if kind == "readme":
        return readme_section(argument)
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
    return MARKER.sub(lambda match: expand(match.group(1), match.group(2)), markdown)
