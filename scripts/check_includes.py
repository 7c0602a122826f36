#!/usr/bin/env python3
"""Checks that the folders of src/ include each other top-down only.

Reads every `#include "folder/file"` line below src/ and fails, naming the file and line, on an
include of a folder in a higher layer, of a folder missing from the map, or on a cycle between
folders of the same layer. Plain Python, no dependencies: `python3 scripts/check_includes.py`.
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

# Lowest first. A folder may include its own layer and the layers below it.
LAYERS: tuple[tuple[str, ...], ...] = (
    ("rinex",),  # text, identifiers, time, observation files
    ("archive", "tle"),  # gzip, Unix compress, Hatanaka; two-line elements
    ("navigation",),  # broadcast records, orbits, positions, look angles, the orbit source
    ("visibility",),  # prediction against observation and its summary records
    ("cn0", "qc", "arrays", "detector", "health"),  # analysis and JSON; QC; tables; events; health grade
    ("python", "tools_python"),  # the module's binding and the tools' companion extension
)

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"')
SOURCE_SUFFIXES = {".hpp", ".cpp", ".h", ".cc"}


def layer_of() -> dict[str, int]:
    return {folder: rank for rank, folders in enumerate(LAYERS) for folder in folders}


def find_cycle(edges: dict[str, set[str]]) -> list[str] | None:
    """One cycle of the folder graph as a path that ends where it starts, or None."""
    state: dict[str, int] = {}  # 1 on the current path, 2 done
    path: list[str] = []

    def visit(node: str) -> list[str] | None:
        state[node] = 1
        path.append(node)
        for target in sorted(edges.get(node, ())):
            if state.get(target) == 1:
                return path[path.index(target) :] + [target]
            if target not in state and (cycle := visit(target)):
                return cycle
        path.pop()
        state[node] = 2
        return None

    for node in sorted(edges):
        if node not in state and (cycle := visit(node)):
            return cycle
    return None


def check(src: Path) -> list[str]:
    ranks = layer_of()
    problems: list[str] = []
    edges: dict[str, set[str]] = {}
    where: dict[tuple[str, str], str] = {}
    for path in sorted(src.rglob("*")):
        if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
            continue
        relative = path.relative_to(src)
        if len(relative.parts) < 2:
            problems.append(f"{path}: source file outside a folder of the layer map")
            continue
        folder = relative.parts[0]
        if folder not in ranks:
            problems.append(f"{path}: folder {folder!r} is missing from the layer map")
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        for number, line in enumerate(text.splitlines(), start=1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            place = f"{path}:{number}"
            if target not in ranks:
                problems.append(f"{place}: includes {target!r}, a folder missing from the layer map")
            elif ranks[target] > ranks[folder]:
                problems.append(f"{place}: {folder} includes {target}, a higher layer")
            elif target != folder:
                edges.setdefault(folder, set()).add(target)
                where.setdefault((folder, target), place)
    cycle = find_cycle(edges)
    if cycle:
        steps = ", ".join(f"{a} -> {b} ({where[(a, b)]})" for a, b in zip(cycle, cycle[1:]))
        problems.append(f"include cycle between folders: {steps}")
    return problems


def main(argv: list[str]) -> int:
    src = Path(argv[1]) if len(argv) > 1 else Path(__file__).resolve().parent.parent / "src"
    problems = check(src)
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
