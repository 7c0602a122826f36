#!/usr/bin/env python3
"""Checks that the layers of the code depend on each other top-down only: the folders of src/ by
their includes, and the modules of the Python package vardoln_tools by their imports.

C++: reads every `#include "folder/file"` line below src/ and fails, naming the file and line, on
an include of a folder in a higher layer, of a folder missing from the map, or on a cycle between
folders of the same layer.

Python: reads every import of every module below python/vardoln_tools with the ast module
(absolute `vardoln_tools...` and relative ones, at the top, inside functions and under
TYPE_CHECKING alike; importing a module imports the packages above it too) and fails, naming the
file and line, on an import that runs up a layer, on a module or import missing from the layer
map, and on any cycle between modules.

Plain Python, no dependencies: `python3 scripts/check_includes.py` checks both trees;
`check_includes.py SRC` checks a C++ tree alone, `check_includes.py --python PACKAGE` a Python
package alone (both may be given).
"""

from __future__ import annotations

import ast
import re
import sys
from pathlib import Path

# Lowest first. A folder may include its own layer and the layers below it.
LAYERS: tuple[tuple[str, ...], ...] = (
    ("rinex",),  # text, identifiers, time, observation files
    ("archive", "tle", "rtcm"),  # gzip, Unix compress, Hatanaka; two-line elements; RTCM 3 streams
    ("navigation",),  # broadcast records, orbits, positions, look angles, the orbit source
    ("visibility",),  # prediction against observation and its summary records
    ("cn0", "qc", "arrays", "detector", "health", "monitor", "history"),  # analysis and JSON; QC; tables; events; health grade; live streams; trends
    ("python", "tools_python"),  # the module's binding and the tools' companion extension
)

# Lowest first: the layers of the Python package, by the name right below it (a subpackage or a
# top-level module). A module may import its own subpackage and the layers below it.
PACKAGE = "vardoln_tools"
MOVED_MODULES = ("assessment", "cli", "navfiles", "observations", "plot_data", "plots", "quality_control", "report",
                 "roles", "rowfiles", "selection", "settings", "signals", "summary", "visibility", "workers")
PYTHON_LAYERS: tuple[tuple[str, ...], ...] = (
    ("_native", "_version"),  # the companion extension; the version
    ("tables", "sources"),  # a recording as tables, file roles, the loaded recording; live stream sources
    ("judge",),  # settings, selection, the assessment, quality control
    ("render",),  # summaries, plots, the HTML report, the network dashboard
    ("history",),  # the station history store, station-days, trends
    ("batch", "monitor"),  # many recordings into rows; live streams judged as they arrive
    ("commands",),  # the command line
    ("__init__", "__main__", "rtcm", *MOVED_MODULES),  # the public face, python -m, the former module paths
)

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"')
SOURCE_SUFFIXES = {".hpp", ".cpp", ".h", ".cc"}


def layer_of(layers: tuple[tuple[str, ...], ...] = LAYERS) -> dict[str, int]:
    return {name: rank for rank, names in enumerate(layers) for name in names}


def find_cycle(edges: dict[str, set[str]]) -> list[str] | None:
    """One cycle of a graph (folders, modules) as a path that ends where it starts, or None."""
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


# ---------------------------------------------------------------------------------------------------
# Python imports

def _module_names(package: Path) -> tuple[dict[str, Path], set[str]]:
    """The package's source modules (dotted name -> file) and every module name it holds, the
    compiled extension and stubs included."""
    sources: dict[str, Path] = {}
    present: set[str] = set()
    for path in sorted(package.rglob("*")):
        if not path.is_file() or "__pycache__" in path.parts:
            continue
        stem = path.name.split(".")[0]
        if path.suffix not in (".py", ".pyi", ".so") or not stem.isidentifier():
            continue
        parts = [PACKAGE, *path.relative_to(package).parent.parts]
        name = ".".join(parts if stem == "__init__" else [*parts, stem])
        present.add(name)
        if path.suffix == ".py":
            sources[name] = path
    return sources, present


def _key(module: str) -> str:
    """The name of a module's layer entry: the name below the package, "__init__" for the package."""
    parts = module.split(".")
    return "__init__" if len(parts) == 1 else parts[1]


def _imports(tree: ast.AST, module: str, is_package: bool, present: set[str]) -> list[tuple[str, int]]:
    """(module imported, line) for every import of the package in a module's syntax tree."""
    def inside(name: str) -> bool:
        return name == PACKAGE or name.startswith(f"{PACKAGE}.")

    mapped = layer_of(PYTHON_LAYERS)
    found: list[tuple[str, int]] = []
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            found += [(alias.name, node.lineno) for alias in node.names if inside(alias.name)]
        elif isinstance(node, ast.ImportFrom):
            source = node.module or ""
            if node.level:  # relative to the module's package, one package up per dot after the first
                base = module.split(".") if is_package else module.split(".")[:-1]
                source = ".".join([*base[:len(base) - node.level + 1], *([source] if source else [])])
            if not inside(source):
                continue
            for alias in node.names:
                # `from package import name` imports the module of that name when there is one
                candidate = f"{source}.{alias.name}"
                is_module = candidate in present or (source == PACKAGE and alias.name in mapped)
                found.append((candidate if alias.name != "*" and is_module else source, node.lineno))
    return found


def check_python(package: Path) -> list[str]:
    ranks = layer_of(PYTHON_LAYERS)
    problems: list[str] = []
    edges: dict[str, set[str]] = {}
    where: dict[tuple[str, str], str] = {}
    sources, present = _module_names(package)
    for module, path in sources.items():
        key = _key(module)
        if key not in ranks:
            problems.append(f"{path}: module {key!r} is missing from the layer map")
            continue
        tree = ast.parse(path.read_text(encoding="utf-8"), filename=str(path))
        own = {".".join(module.split(".")[:count]) for count in range(1, module.count(".") + 2)}
        for target, line in _imports(tree, module, path.name == "__init__.py", present):
            place = f"{path}:{line}"
            target_key = _key(target)
            if target_key not in ranks:
                problems.append(f"{place}: imports {target}, a module missing from the layer map")
                continue
            if ranks[target_key] > ranks[key]:
                problems.append(f"{place}: {module} imports {target}, a higher layer")
                continue
            # Importing a module runs the packages above it too, but for those the importer is in.
            parts = target.split(".")
            above = [".".join(parts[:count]) for count in range(2, len(parts))]
            for name in [target, *(name for name in above if name in sources and name not in own)]:
                if name != module:
                    edges.setdefault(module, set()).add(name)
                    where.setdefault((module, name), place)
    cycle = find_cycle(edges)
    if cycle:
        steps = ", ".join(f"{a} -> {b} ({where[(a, b)]})" for a, b in zip(cycle, cycle[1:]))
        problems.append(f"import cycle between modules: {steps}")
    return problems


def main(argv: list[str]) -> int:
    root = Path(__file__).resolve().parent.parent
    arguments = list(argv[1:])
    package = None
    if "--python" in arguments:
        at = arguments.index("--python")
        package = Path(arguments[at + 1])
        del arguments[at:at + 2]
    src = Path(arguments[0]) if arguments else None
    if src is None and package is None:
        src, package = root / "src", root / "python" / PACKAGE
    problems = (check(src) if src is not None else []) + (check_python(package) if package is not None else [])
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
