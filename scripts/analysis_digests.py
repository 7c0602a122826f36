"""Digests of the analysis JSON of every recording in the shared data, with and without navigation data.

Prints one line per run: the SHA-256 of the compact JSON export, the recording and the navigation
file ("-" for none). The navigation file of a recording is the first one that the data README's
"matching nav" column names (following "as <other recording>"). Run it on two commits and diff the
outputs to prove that a change leaves every analysis byte-identical:

    .venv/bin/python scripts/analysis_digests.py > before.txt
    ... change, rebuild ...
    .venv/bin/python scripts/analysis_digests.py | diff before.txt -

Options: --data DIR (default: $VARDOLN_TEST_DATA or ../shared/data); --twins also runs a gzip twin of
every recording, written to a temporary directory (its digests must equal the plain file's); --pretty
adds a second digest, of the indented export; --loaded analyses each recording loaded once by the
tools' companion extension (`vardoln_tools._native.load`, with the configuration whose thresholds
are analyze_cn0's), whose digests must equal analyze_cn0's.
"""

from __future__ import annotations

import argparse
import gzip
import hashlib
import os
import re
import sys
import tempfile
from collections.abc import Callable
from pathlib import Path

import vardoln_cn0

SECTIONS = ("obs3/", "obs2/", "crinex/", "edge/")


def default_data_dir() -> Path:
    named = os.environ.get("VARDOLN_TEST_DATA")
    if named:
        return Path(named)
    return Path(__file__).resolve().parents[1].parent / "shared" / "data"


def recordings_with_nav(data: Path, present: Callable[[str], bool] | None = None) -> list[tuple[str, str | None]]:
    """(recording, navigation file or None) for every observation row of the README whose files are
    `present` (by default: exist under `data` by their names)."""
    present = present or (lambda name: (data / name).is_file())
    rows: dict[str, str] = {}
    order: list[str] = []
    for line in (data / "README.md").read_text(encoding="utf-8").splitlines():
        cells = [cell.strip() for cell in line.split("|")]
        if len(cells) < 16 or not cells[1].startswith(SECTIONS):
            continue
        name = cells[1]
        if not present(name):
            continue
        rows[name] = cells[14]
        order.append(name)
    by_base = {Path(name).name: name for name in order}

    def nav_of(name: str, depth: int = 0) -> str | None:
        text = rows[name]
        match = re.match(r"as (\S+)", text)
        if match and depth < 3:
            other = by_base.get(match.group(1))
            return nav_of(other, depth + 1) if other else None
        for token in re.findall(r"(?:nav|edge)/[^\s,+()]+", text):
            if present(token):
                return token
        return None

    return [(name, nav_of(name)) for name in order]


# analyze_cn0's thresholds as a configuration: no sensitivity folding, a 10 dB critical level.
QUICK_CONFIG = {"anomaly_sensitivity": 0.0, "interference_threshold_db": 10.0}


def analyse(obs: Path, nav: Path | None, loaded: bool) -> vardoln_cn0.AnalysisResult:
    if not loaded:
        return vardoln_cn0.analyze_cn0(str(obs), None if nav is None else str(nav))
    from vardoln_tools import _native

    recording = _native.load(str(obs), None if nav is None else [str(nav)])
    return recording.analyze(vardoln_cn0.AnalysisConfig(**QUICK_CONFIG))  # type: ignore[arg-type]


def digest(obs: Path, nav: Path | None, pretty: bool, loaded: bool = False) -> str:
    try:
        result = analyse(obs, nav, loaded)
    except (OSError, ValueError) as error:
        return "error:" + hashlib.sha256(f"{type(error).__name__}: {error}".encode()).hexdigest()[:58]
    texts = [result.to_json()] + ([result.to_json_pretty()] if pretty else [])
    return " ".join(hashlib.sha256(text.encode()).hexdigest() for text in texts)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--data", type=Path, default=default_data_dir())
    parser.add_argument("--twins", action="store_true")
    parser.add_argument("--pretty", action="store_true")
    parser.add_argument("--loaded", action="store_true")
    args = parser.parse_args()
    if not (args.data / "README.md").is_file():
        print(f"no shared data at {args.data}", file=sys.stderr)
        return 1
    with tempfile.TemporaryDirectory() as scratch:
        for name, nav_name in recordings_with_nav(args.data):
            obs = args.data / name
            inputs = [(name, obs)]
            if args.twins:
                twin = Path(scratch) / (obs.name + ".gz")
                twin.write_bytes(gzip.compress(obs.read_bytes(), compresslevel=6))
                inputs.append((name + ".gz", twin))
            for label, path in inputs:
                for nav in (None, nav_name):
                    nav_path = None if nav is None else args.data / nav
                    print(digest(path, nav_path, args.pretty, args.loaded), label, nav or "-", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
